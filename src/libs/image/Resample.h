// SPDX-License-Identifier: AGPL-3.0-or-later
// Image scaling for the page view: area averaging on an axis that shrinks,
// bilinear interpolation on an axis that grows, in fixed-point arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ov::image {

// Scales src (8-bit R, G, B per pixel, srcStride bytes per row) to outW x outH
// pixels 0xFFRRGGBB in dst (dstStride pixels per row). Sizes must be >= 1.
void ResampleRgbToXrgb(const std::uint8_t* src, int srcW, int srcH, int srcStride, std::uint32_t* dst,
                       int outW, int outH, int dstStride);
// The same with the source given as a table of srcH row pointers (rows may repeat).
void ResampleRowsToXrgb(const std::uint8_t* const* srcRows, int srcW, int srcH, std::uint32_t* dst, int outW,
                        int outH, int dstStride);
// The same for an image still being drawn, top to bottom: makes the output
// rows from fromRow on that need only the first srcReady input rows, and
// returns the first output row not made (outH when all are). Called again with
// more rows ready and that row, it goes on where it stopped; the rows made are
// the ones that one whole pass makes.
int ResampleRowsToXrgbFrom(const std::uint8_t* const* srcRows, int srcW, int srcH, int srcReady,
                           std::uint32_t* dst, int outW, int outH, int dstStride, int fromRow);

// Shrinks an image whose rows arrive one at a time, top to bottom (as a decoder
// delivers them), without holding more than a few of them: each output row is
// made as soon as its last input row is in. Pixels are 3 bytes, and the channel
// order is kept. Area averaging on both axes; each output side must be at most
// the input side.
class RowStreamScaler {
public:
    RowStreamScaler();
    ~RowStreamScaler();
    RowStreamScaler(const RowStreamScaler&) = delete;
    RowStreamScaler& operator=(const RowStreamScaler&) = delete;

    // Prepares for srcW x srcH in, outW x outH out. Output row y goes to
    // out + y * outStride (the stride may be negative). false when the sizes
    // are out of range or memory is short.
    bool Start(int srcW, int srcH, int outW, int outH, std::uint8_t* out, std::ptrdiff_t outStride);
    // Where the next input row is to be written (srcW * 3 bytes); valid until RowDone.
    std::uint8_t* InputRow();
    // Takes the row written at InputRow() and writes every output row it completes.
    void RowDone();
    // Output rows written so far (all of them once every input row is in).
    int RowsOut() const;

private:
    struct State;
    std::unique_ptr<State> m_s;
};

// The most pixels that a page image, or a page loaded for the zoom view, holds
// (120 MB at 3 bytes a pixel): a larger one is made at a lower scale.
constexpr double kPagePixelBudget = 40.0e6;

// The factor, at most 1, by which a w x h image is scaled (each side rounded,
// at least 1 pixel) so that it holds no more than kPagePixelBudget pixels.
double PixelBudgetFactor(double w, double h);

// The fitted size of a w x h image inside boxW x boxH, aspect ratio kept, each
// side at least 1 pixel.
void FitSize(int w, int h, int boxW, int boxH, int* outW, int* outH);

}  // namespace ov::image
