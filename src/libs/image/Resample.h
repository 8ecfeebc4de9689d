// SPDX-License-Identifier: AGPL-3.0-or-later
// Image scaling for the page view: area averaging on an axis that shrinks,
// bilinear interpolation on an axis that grows, in fixed-point arithmetic.
#pragma once

#include <cstdint>

namespace ov::image {

// Scales src (8-bit R, G, B per pixel, srcStride bytes per row) to outW x outH
// pixels 0xFFRRGGBB in dst (dstStride pixels per row). Sizes must be >= 1.
void ResampleRgbToXrgb(const std::uint8_t* src, int srcW, int srcH, int srcStride, std::uint32_t* dst,
                       int outW, int outH, int dstStride);
// The same with the source given as a table of srcH row pointers (rows may repeat).
void ResampleRowsToXrgb(const std::uint8_t* const* srcRows, int srcW, int srcH, std::uint32_t* dst, int outW,
                        int outH, int dstStride);

// The fitted size of a w x h image inside boxW x boxH, aspect ratio kept, each
// side at least 1 pixel.
void FitSize(int w, int h, int boxW, int boxH, int* outW, int* outH);

}  // namespace ov::image
