// SPDX-License-Identifier: AGPL-3.0-or-later
// How far apart two bitmaps of a page are.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "image/PageBitmap.h"

namespace ovtest {

struct BitmapGap {
    double mean = -1;  // mean difference per channel (0 .. 255); -1 when the sizes differ
    double far = 1;    // share of pixels with a channel more than 64 apart
};

inline BitmapGap GapOf(const CPageBitmap& a, const CPageBitmap& b) {
    BitmapGap gap;
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.IsNull())
        return gap;
    double sum = 0;
    long long nFar = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            const std::uint32_t p = a.Row(y)[x], q = b.Row(y)[x];
            int most = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const int d =
                    std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((q >> shift) & 0xFF));
                sum += d;
                most = d > most ? d : most;
            }
            nFar += most > 64 ? 1 : 0;
        }
    }
    const double pixels = static_cast<double>(a.Width()) * a.Height();
    gap.mean = sum / (pixels * 3);
    gap.far = static_cast<double>(nFar) / pixels;
    return gap;
}

}  // namespace ovtest
