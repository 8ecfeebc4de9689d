// SPDX-License-Identifier: AGPL-3.0-or-later
// Two passes per output row: a vertical pass over the full input width into a
// row of 15-bit values, then a horizontal pass. Weights are fixed point summing
// to exactly 128 (vertical) and 256 (horizontal), so the vertical sums fit
// signed 16-bit lanes and the horizontal pass runs as SSE2 multiply-adds.
#include "image/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#endif

namespace ov::image {
namespace {

// For each output index: `taps` consecutive input indices and their weights
// (padding taps have weight 0 and may run past the last input).
struct Taps {
    int taps = 0;
    std::vector<int> index;
    std::vector<int> weight;
};

// twoTap: a reduction by less than half is interpolated between the two
// nearest input pixels instead of area-averaged (which may touch three): input
// pixels lie less than two apart from output centres then, so each one still
// counts, and the horizontal pass has two taps instead of four.
Taps MakeTaps(int in, int out, bool evenTaps, int one, bool twoTap = false) {
    std::vector<std::vector<double>> w(static_cast<std::size_t>(out));
    std::vector<int> first(static_cast<std::size_t>(out));
    const double scale = static_cast<double>(in) / out;
    std::size_t most = 1;
    for (int j = 0; j < out; ++j) {
        std::vector<double>& wj = w[static_cast<std::size_t>(j)];
        if (out < in && !(twoTap && in < 2 * out)) {
            // Area average: output pixel j covers input [a, b).
            const double a = j * scale, b = (j + 1) * scale;
            first[static_cast<std::size_t>(j)] = static_cast<int>(std::floor(a));
            const int last = std::min(in, static_cast<int>(std::ceil(b)));
            for (int i = first[static_cast<std::size_t>(j)]; i < last; ++i) {
                double cover = std::min(b, i + 1.0) - std::max(a, static_cast<double>(i));
                wj.push_back(std::max(0.0, cover) / scale);
            }
        } else {
            // Bilinear between the two nearest input centres (identity when equal).
            double s = std::max(0.0, (j + 0.5) * scale - 0.5);
            int f0 = static_cast<int>(std::floor(s));
            double f = s - f0;
            if (f0 >= in - 1)
                f0 = in - 1, f = 0;
            first[static_cast<std::size_t>(j)] = f0;
            wj.push_back(1.0 - f);
            if (f > 0)
                wj.push_back(f);
        }
        most = std::max(most, wj.size());
    }
    Taps t;
    t.taps = static_cast<int>(evenTaps ? (most + 1) / 2 * 2 : most);
    t.index.resize(static_cast<std::size_t>(out) * t.taps);
    t.weight.resize(static_cast<std::size_t>(out) * t.taps);
    for (int j = 0; j < out; ++j) {
        const std::vector<double>& wj = w[static_cast<std::size_t>(j)];
        // Rounded weights that add up to exactly `one`: the rounding error goes to the largest.
        int sum = 0;
        std::size_t big = 0;
        for (int k = 0; k < t.taps; ++k) {
            const std::size_t at = static_cast<std::size_t>(j) * t.taps + k;
            const bool real = static_cast<std::size_t>(k) < wj.size();
            t.index[at] = first[static_cast<std::size_t>(j)] + k;  // padding runs on, with weight 0
            t.weight[at] = real ? static_cast<int>(std::lround(wj[static_cast<std::size_t>(k)] * one)) : 0;
            sum += t.weight[at];
            if (real && wj[static_cast<std::size_t>(k)] > wj[big])
                big = static_cast<std::size_t>(k);
        }
        t.weight[static_cast<std::size_t>(j) * t.taps + big] += one - sum;
    }
    return t;
}

[[maybe_unused]] inline std::uint32_t Pack(int r, int g, int b) {
    return 0xFF000000u | (static_cast<std::uint32_t>(std::clamp(r, 0, 255)) << 16) |
           (static_cast<std::uint32_t>(std::clamp(g, 0, 255)) << 8) |
           static_cast<std::uint32_t>(std::clamp(b, 0, 255));
}

}  // namespace

void FitSize(int w, int h, int boxW, int boxH, int* outW, int* outH) {
    // Scale by the tighter of the two sides; compare w/h with boxW/boxH exactly.
    if (static_cast<long long>(w) * boxH >= static_cast<long long>(h) * boxW) {
        *outW = boxW;
        *outH = static_cast<int>(std::max(1LL, (static_cast<long long>(h) * boxW * 2 + w) / (2LL * w)));
    } else {
        *outH = boxH;
        *outW = static_cast<int>(std::max(1LL, (static_cast<long long>(w) * boxH * 2 + h) / (2LL * h)));
    }
    *outW = std::min(*outW, boxW);
    *outH = std::min(*outH, boxH);
}

namespace {

#if defined(__SSE2__)
// A pair of 16-bit weights, repeated over the four 32-bit lanes.
struct WeightPair {
    __m128i v;
};

// One output row of the horizontal pass with n taps (n even). The taps of an
// output pixel are consecutive input pixels from off[x] (an element offset);
// pairs of them are interleaved into R0 R1 G0 G1 B0 B1 lanes and multiply-added.
template <int N>
void HorizontalRow(const std::uint16_t* m, const int* off, const WeightPair* w, int n, std::uint32_t* out,
                   int outW) {
    const int taps = N > 0 ? N : n;
    const __m128i round = _mm_set1_epi32(1 << 14);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    for (int x = 0; x < outW; ++x, w += taps / 2) {
        const std::uint16_t* p = m + off[x];
        __m128i acc = round;
        for (int k = 0; k < taps; k += 2, p += 6) {
            __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
            __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 3));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(p0, p1), w[k / 2].v));
        }
        // R, G, B, (junk) -> B, G, R, (junk): the little-endian byte order of 0xFFRRGGBB.
        acc = _mm_shuffle_epi32(_mm_srai_epi32(acc, 15), _MM_SHUFFLE(3, 0, 1, 2));
        __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
        out[x] = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_or_si128(bytes, alpha)));
    }
}

// The same, writing 3-byte pixels in the input's channel order. Each pixel is
// stored as 4 bytes whose last one the next pixel overwrites; the last pixel
// is stored as 3, so nothing is written past the row.
template <int N>
void HorizontalRow3(const std::uint16_t* m, const int* off, const WeightPair* w, int n, std::uint8_t* out,
                    int outW) {
    const int taps = N > 0 ? N : n;
    const __m128i round = _mm_set1_epi32(1 << 14);
    for (int x = 0; x < outW; ++x, w += taps / 2) {
        const std::uint16_t* p = m + off[x];
        __m128i acc = round;
        for (int k = 0; k < taps; k += 2, p += 6) {
            __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
            __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 3));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(p0, p1), w[k / 2].v));
        }
        acc = _mm_srai_epi32(acc, 15);
        __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(acc, acc), acc);
        const std::uint32_t v = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
        if (x + 1 < outW) {
            std::memcpy(out + 3 * x, &v, 4);
        } else {
            out[3 * x] = static_cast<std::uint8_t>(v);
            out[3 * x + 1] = static_cast<std::uint8_t>(v >> 8);
            out[3 * x + 2] = static_cast<std::uint8_t>(v >> 16);
        }
    }
}
// The byte shuffle that interleaves two taps' pixels, in each half of an AVX2
// register: R0 G0 B0 R1 G1 B1 (16-bit) -> R0 R1 G0 G1 B0 B1 0 0.
__attribute__((target("avx2"), always_inline)) inline __m256i PairTaps() {
    return _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1, 0, 1, 6, 7, 2, 3, 8, 9, 4,
                            5, 10, 11, -1, -1, -1, -1);
}

// HorizontalRow3 for two taps, two output pixels at a time in the two halves
// of AVX2 registers. Only for processors that have AVX2.
__attribute__((target("avx2"))) void HorizontalRow3TwoTapsAvx2(const std::uint16_t* m, const int* off,
                                                               const WeightPair* w, std::uint8_t* out,
                                                               int outW) {
    const __m256i round = _mm256_set1_epi32(1 << 14);
    const __m256i pairs = PairTaps();
    int x = 0;
    for (; x + 2 < outW; x += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + off[x]));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + off[x + 1]));
        __m256i v = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), pairs);
        const __m256i wt = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + x));
        __m256i acc = _mm256_srai_epi32(_mm256_add_epi32(round, _mm256_madd_epi16(v, wt)), 15);
        acc = _mm256_packus_epi16(_mm256_packs_epi32(acc, acc), acc);
        const std::uint32_t p0 = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(acc));
        const std::uint32_t p1 = static_cast<std::uint32_t>(_mm256_extract_epi32(acc, 4));
        std::memcpy(out + 3 * x, &p0, 4);
        std::memcpy(out + 3 * x + 3, &p1, 4);  // x + 1 is not the last pixel
    }
    HorizontalRow3<2>(m, off + x, w + x, 2, out + 3 * x, outW - x);
}

// 16 bytes from lo and 16 from hi, as the low and high halves.
__attribute__((target("avx2"), always_inline)) inline __m256i LoadHalves(const void* lo, const void* hi) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(lo))),
                                   _mm_loadu_si128(static_cast<const __m128i*>(hi)), 1);
}

// HorizontalRow for two or four taps, two output pixels at a time in the two
// halves of AVX2 registers; the sums are the same as HorizontalRow's. Only for
// processors that have AVX2.
template <int N>
__attribute__((target("avx2"))) void HorizontalRowAvx2(const std::uint16_t* m, const int* off,
                                                       const WeightPair* w, std::uint32_t* out, int outW) {
    static_assert(N == 2 || N == 4);
    const __m256i round = _mm256_set1_epi32(1 << 14);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i pairs = PairTaps();
    int x = 0;
    for (; x + 1 < outW; x += 2, w += N) {
        const std::uint16_t* p0 = m + off[x];
        const std::uint16_t* p1 = m + off[x + 1];
        __m256i acc = _mm256_add_epi32(
            round,
            _mm256_madd_epi16(_mm256_shuffle_epi8(LoadHalves(p0, p1), pairs), LoadHalves(&w[0], &w[N / 2])));
        if constexpr (N == 4)
            acc = _mm256_add_epi32(acc,
                                   _mm256_madd_epi16(_mm256_shuffle_epi8(LoadHalves(p0 + 6, p1 + 6), pairs),
                                                     LoadHalves(&w[1], &w[3])));
        // R, G, B, 0 -> B, G, R, 0: the little-endian byte order of 0xFFRRGGBB.
        acc = _mm256_shuffle_epi32(_mm256_srai_epi32(acc, 15), _MM_SHUFFLE(3, 0, 1, 2));
        acc = _mm256_or_si256(_mm256_packus_epi16(_mm256_packs_epi32(acc, acc), acc), alpha);
        out[x] = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(acc));
        out[x + 1] = static_cast<std::uint32_t>(_mm256_extract_epi32(acc, 4));
    }
    if (x < outW)
        HorizontalRow<N>(m, off + x, w, N, out + x, outW - x);
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#endif

// The vertical pass for one output row: m[k] = sum of rows[i][k] * w[i]. Up to
// four taps are fused into one sweep; more are added in further sweeps. Built
// for AVX2 as well where the processor has it.
__attribute__((target_clones("avx2", "default"))) void VerticalRow(const std::uint8_t* const* rows,
                                                                   const int* w, int taps, int len,
                                                                   std::uint16_t* __restrict m) {
    const std::uint8_t* __restrict r0 = rows[0];
    const std::uint16_t w0 = static_cast<std::uint16_t>(w[0]);
    if (taps == 1) {
        for (int k = 0; k < len; ++k) m[k] = static_cast<std::uint16_t>(r0[k] * w0);
        return;
    }
    const std::uint8_t* __restrict r1 = rows[1];
    const std::uint16_t w1 = static_cast<std::uint16_t>(w[1]);
    if (taps == 2) {
        for (int k = 0; k < len; ++k) m[k] = static_cast<std::uint16_t>(r0[k] * w0 + r1[k] * w1);
        return;
    }
    const std::uint8_t* __restrict r2 = rows[2];
    const std::uint16_t w2 = static_cast<std::uint16_t>(w[2]);
    if (taps == 3) {
        for (int k = 0; k < len; ++k) m[k] = static_cast<std::uint16_t>(r0[k] * w0 + r1[k] * w1 + r2[k] * w2);
        return;
    }
    const std::uint8_t* __restrict r3 = rows[3];
    const std::uint16_t w3 = static_cast<std::uint16_t>(w[3]);
    for (int k = 0; k < len; ++k)
        m[k] = static_cast<std::uint16_t>(r0[k] * w0 + r1[k] * w1 + r2[k] * w2 + r3[k] * w3);
    for (int i = 4; i < taps; ++i) {
        const std::uint8_t* __restrict r = rows[i];
        const std::uint16_t wi = static_cast<std::uint16_t>(w[i]);
        for (int k = 0; k < len; ++k) m[k] = static_cast<std::uint16_t>(m[k] + r[k] * wi);
    }
}

// Whether a row of len bytes is all 255. An output row made only of such rows
// is white whatever the filter, its weights adding up to exactly one: pages
// are mostly margins and gaps between lines, and their rows need no filtering.
bool IsWhiteRow(const std::uint8_t* row, int len) {
    int k = 0;
#if defined(__SSE2__)
    const __m128i white = _mm_set1_epi8(static_cast<char>(0xFF));
    for (; k + 16 <= len; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, white)) != 0xFFFF)
            return false;
    }
#endif
    for (; k < len; ++k) {
        if (row[k] != 0xFF)
            return false;
    }
    return true;
}

}  // namespace

void ResampleRgbToXrgb(const std::uint8_t* src, int srcW, int srcH, int srcStride, std::uint32_t* dst,
                       int outW, int outH, int dstStride) {
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(srcH));
    for (int y = 0; y < srcH; ++y)
        rows[static_cast<std::size_t>(y)] = src + static_cast<std::size_t>(y) * srcStride;
    ResampleRowsToXrgb(rows.data(), srcW, srcH, dst, outW, outH, dstStride);
}

void ResampleRowsToXrgb(const std::uint8_t* const* srcRows, int srcW, int srcH, std::uint32_t* dst, int outW,
                        int outH, int dstStride) {
    ResampleRowsToXrgbFrom(srcRows, srcW, srcH, srcH, dst, outW, outH, dstStride, 0);
}

int ResampleRowsToXrgbFrom(const std::uint8_t* const* srcRows, int srcW, int srcH, int srcReady,
                           std::uint32_t* dst, int outW, int outH, int dstStride, int fromRow) {
    // The taps depend only on the sizes: a page drawn again at the same size
    // (the common case) reuses them.
    struct Plan {
        int srcW = 0, srcH = 0, outW = 0, outH = 0;
        Taps tx, ty;
        std::vector<int> off;
#if defined(__SSE2__)
        std::vector<WeightPair> pairs;
#endif
    };
    thread_local Plan plan;
    if (plan.srcW != srcW || plan.srcH != srcH || plan.outW != outW || plan.outH != outH) {
        plan = Plan{};
        // Vertical weights sum to 128: a weighted sum of 8-bit samples stays within
        // 15 bits, the range of the signed 16-bit lanes of the horizontal pass.
        plan.tx = MakeTaps(srcW, outW, true, 256);
        plan.ty = MakeTaps(srcH, outH, false, 128);
        plan.off.resize(static_cast<std::size_t>(outW));
        for (int x = 0; x < outW; ++x)
            plan.off[static_cast<std::size_t>(x)] =
                3 * plan.tx.index[static_cast<std::size_t>(x) * plan.tx.taps];
#if defined(__SSE2__)
        plan.pairs.resize(plan.tx.weight.size() / 2);
        for (std::size_t k = 0; k < plan.pairs.size(); ++k)
            plan.pairs[k].v = _mm_set1_epi32(plan.tx.weight[2 * k] | (plan.tx.weight[2 * k + 1] << 16));
#endif
        plan.srcW = srcW, plan.srcH = srcH, plan.outW = outW, plan.outH = outH;
    }
    const Taps& tx = plan.tx;
    const Taps& ty = plan.ty;
    const std::vector<int>& off = plan.off;
#if defined(__SSE2__)
    const std::vector<WeightPair>& pairs = plan.pairs;
#endif
    const int rowLen = srcW * 3;
    // Spare zeros: padding taps run past the last pixel, and every load takes
    // four lanes for a three-channel pixel.
    std::vector<std::uint16_t> mid(static_cast<std::size_t>(rowLen) + 3 * tx.taps + 4, 0);

    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(ty.taps));
    std::vector<int> weights(static_cast<std::size_t>(ty.taps));
    for (int y = std::max(0, fromRow); y < outH; ++y) {
        // Vertical pass over the taps that carry weight.
        std::uint16_t* m = mid.data();
        const int* iy = &ty.index[static_cast<std::size_t>(y) * ty.taps];
        const int* wy = &ty.weight[static_cast<std::size_t>(y) * ty.taps];
        int live = 0;
        for (int i = 0; i < ty.taps; ++i) {
            if (wy[i] == 0)
                continue;
            if (iy[i] >= srcReady)
                return y;  // an input row this one needs is not there yet
            rows[static_cast<std::size_t>(live)] = srcRows[iy[i]];
            weights[static_cast<std::size_t>(live)] = wy[i];
            ++live;
        }
        std::uint32_t* out = dst + static_cast<std::size_t>(y) * dstStride;
        bool white = true;
        for (int i = 0; i < live && white; ++i) white = IsWhiteRow(rows[static_cast<std::size_t>(i)], rowLen);
        if (white) {
            std::fill(out, out + outW, 0xFFFFFFFFu);
            continue;
        }
        VerticalRow(rows.data(), weights.data(), live, rowLen, m);

        // Horizontal pass.
        const int n = tx.taps;
#if defined(__SSE2__)
        switch (n) {
            case 2:
                if (HasAvx2())
                    HorizontalRowAvx2<2>(m, off.data(), pairs.data(), out, outW);
                else
                    HorizontalRow<2>(m, off.data(), pairs.data(), n, out, outW);
                break;
            case 4:
                if (HasAvx2())
                    HorizontalRowAvx2<4>(m, off.data(), pairs.data(), out, outW);
                else
                    HorizontalRow<4>(m, off.data(), pairs.data(), n, out, outW);
                break;
            default:
                HorizontalRow<0>(m, off.data(), pairs.data(), n, out, outW);
                break;
        }
#else
        for (int x = 0; x < outW; ++x) {
            const int* wx = &tx.weight[static_cast<std::size_t>(x) * n];
            int r = 1 << 14, g = 1 << 14, b = 1 << 14;
            for (int k = 0; k < n; ++k) {
                const std::uint16_t* p = m + off[static_cast<std::size_t>(x)] + 3 * k;
                r += p[0] * wx[k];
                g += p[1] * wx[k];
                b += p[2] * wx[k];
            }
            out[x] = Pack(r >> 15, g >> 15, b >> 15);
        }
#endif
    }
    return outH;
}

struct RowStreamScaler::State {
    int srcW = 0, srcH = 0, outW = 0, outH = 0;
    std::uint8_t* out = nullptr;
    std::ptrdiff_t outStride = 0;
    Taps tx, ty;
    std::vector<int> off;
#if defined(__SSE2__)
    std::vector<WeightPair> pairs;
#endif
    std::vector<int> last;  // per output row: the last input row it needs
    int ringRows = 0;
    std::vector<std::uint8_t> ring;  // the input rows still needed, by row index modulo ringRows
    std::vector<std::uint16_t> mid;
    std::vector<const std::uint8_t*> rows;
    std::vector<int> weights;
    int rowsIn = 0, rowsOut = 0;

    std::uint8_t* Slot(int i) {
        return ring.data() + static_cast<std::size_t>(i % ringRows) * static_cast<std::size_t>(srcW) * 3;
    }
    void MakeRow(int y);
};

RowStreamScaler::RowStreamScaler() = default;
RowStreamScaler::~RowStreamScaler() = default;

bool RowStreamScaler::Start(int srcW, int srcH, int outW, int outH, std::uint8_t* out,
                            std::ptrdiff_t outStride) {
    m_s.reset();
    if (srcW < 1 || srcH < 1 || outW < 1 || outH < 1 || outW > srcW || outH > srcH || out == nullptr)
        return false;
    try {
        auto s = std::make_unique<State>();
        s->srcW = srcW, s->srcH = srcH, s->outW = outW, s->outH = outH;
        s->out = out;
        s->outStride = outStride;
        s->tx = MakeTaps(srcW, outW, true, 256, true);
        s->ty = MakeTaps(srcH, outH, false, 128, true);
        s->off.resize(static_cast<std::size_t>(outW));
        for (int x = 0; x < outW; ++x)
            s->off[static_cast<std::size_t>(x)] = 3 * s->tx.index[static_cast<std::size_t>(x) * s->tx.taps];
#if defined(__SSE2__)
        s->pairs.resize(s->tx.weight.size() / 2);
        for (std::size_t k = 0; k < s->pairs.size(); ++k)
            s->pairs[k].v = _mm_set1_epi32(s->tx.weight[2 * k] | (s->tx.weight[2 * k + 1] << 16));
#endif
        s->last.resize(static_cast<std::size_t>(outH));
        for (int y = 0; y < outH; ++y) {
            int last = 0;
            for (int i = 0; i < s->ty.taps; ++i) {
                const std::size_t at = static_cast<std::size_t>(y) * s->ty.taps + i;
                if (s->ty.weight[at] != 0)
                    last = std::max(last, s->ty.index[at]);
            }
            s->last[static_cast<std::size_t>(y)] = std::min(last, srcH - 1);
        }
        // An output row's taps span at most ty.taps input rows, and it is made as
        // soon as its last one is in: the rows before that span are no longer needed.
        s->ringRows = s->ty.taps + 1;
        s->ring.resize(static_cast<std::size_t>(s->ringRows) * srcW * 3);
        s->mid.assign(static_cast<std::size_t>(srcW) * 3 + 3 * s->tx.taps + 4, 0);
        s->rows.resize(static_cast<std::size_t>(s->ty.taps));
        s->weights.resize(static_cast<std::size_t>(s->ty.taps));
        m_s = std::move(s);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::uint8_t* RowStreamScaler::InputRow() {
    return m_s && m_s->rowsIn < m_s->srcH ? m_s->Slot(m_s->rowsIn) : nullptr;
}

void RowStreamScaler::RowDone() {
    if (!m_s || m_s->rowsIn >= m_s->srcH)
        return;
    const int i = m_s->rowsIn++;
    while (m_s->rowsOut < m_s->outH && m_s->last[static_cast<std::size_t>(m_s->rowsOut)] <= i)
        m_s->MakeRow(m_s->rowsOut++);
}

int RowStreamScaler::RowsOut() const {
    return m_s ? m_s->rowsOut : 0;
}

void RowStreamScaler::State::MakeRow(int y) {
    const int* iy = &ty.index[static_cast<std::size_t>(y) * ty.taps];
    const int* wy = &ty.weight[static_cast<std::size_t>(y) * ty.taps];
    int live = 0;
    for (int i = 0; i < ty.taps; ++i) {
        if (wy[i] == 0)
            continue;
        rows[static_cast<std::size_t>(live)] = Slot(iy[i]);
        weights[static_cast<std::size_t>(live)] = wy[i];
        ++live;
    }
    std::uint16_t* m = mid.data();
    VerticalRow(rows.data(), weights.data(), live, srcW * 3, m);
    std::uint8_t* o = out + static_cast<std::ptrdiff_t>(y) * outStride;
    const int n = tx.taps;
#if defined(__SSE2__)
    switch (n) {
        case 2:
            if (HasAvx2())
                HorizontalRow3TwoTapsAvx2(m, off.data(), pairs.data(), o, outW);
            else
                HorizontalRow3<2>(m, off.data(), pairs.data(), n, o, outW);
            break;
        case 4:
            HorizontalRow3<4>(m, off.data(), pairs.data(), n, o, outW);
            break;
        default:
            HorizontalRow3<0>(m, off.data(), pairs.data(), n, o, outW);
            break;
    }
#else
    for (int x = 0; x < outW; ++x) {
        const int* wx = &tx.weight[static_cast<std::size_t>(x) * n];
        int c[3] = {1 << 14, 1 << 14, 1 << 14};
        for (int k = 0; k < n; ++k) {
            const std::uint16_t* p = m + off[static_cast<std::size_t>(x)] + 3 * k;
            for (int j = 0; j < 3; ++j) c[j] += p[j] * wx[k];
        }
        for (int j = 0; j < 3; ++j) o[3 * x + j] = static_cast<std::uint8_t>(std::clamp(c[j] >> 15, 0, 255));
    }
#endif
}

double PixelBudgetFactor(double w, double h) {
    auto pixels = [&](double f) {
        return std::max(1.0, std::round(w * f)) * std::max(1.0, std::round(h * f));
    };
    if (!(w * h > kPagePixelBudget))
        return 1.0;
    double f = std::sqrt(kPagePixelBudget / (w * h));
    // Rounding the sides up may overshoot by a little: step down until it fits.
    while (f > 0 && pixels(f) > kPagePixelBudget)
        f *= std::min(0.9999, std::sqrt(kPagePixelBudget / pixels(f)));
    return f;
}

}  // namespace ov::image
