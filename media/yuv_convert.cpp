#include "media/yuv_convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace media {
namespace {

// The equations in 13-bit fixed point; the rounding error of the coefficients stays
// far below one step over the whole range.
constexpr int kShift = 13;
constexpr int kRound = 1 << (kShift - 1);
constexpr int kCy = 9535;    // 1.164
constexpr int kCrv = 13074;  // 1.596
constexpr int kCgu = 3203;   // 0.391
constexpr int kCgv = 6660;   // 0.813
constexpr int kCbu = 16531;  // 2.018


inline std::uint8_t Clamp(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// The chroma rows serving luma row r (the last luma row of an odd height shares the
// last chroma row); null when the picture has no chroma (a width or height of 1).
struct ChromaRows {
    const std::uint8_t* v;
    const std::uint8_t* u;
    int width;
};
ChromaRows ChromaFor(const PlanarPicture& in, int row) {
    const int cw = in.width / 2;
    const int ch = in.height / 2;
    if (cw == 0 || ch == 0) return {nullptr, nullptr, 0};
    const int cr = std::min(row / 2, ch - 1);
    return {in.v + static_cast<std::size_t>(cr) * cw, in.u + static_cast<std::size_t>(cr) * cw, cw};
}

inline void ChromaAt(const ChromaRows& c, int x, int& u, int& v) {
    if (c.width == 0) {
        u = v = 128;
        return;
    }
    const int cx = std::min(x / 2, c.width - 1);
    u = c.u[cx];
    v = c.v[cx];
}

inline void StorePixel(std::uint8_t* out, int y, int u, int v) {
    const int luma = kCy * (y - 16) + kRound;
    const int du = u - 128;
    const int dv = v - 128;
    out[0] = Clamp((luma + kCbu * du) >> kShift);
    out[1] = Clamp((luma - kCgu * du - kCgv * dv) >> kShift);
    out[2] = Clamp((luma + kCrv * dv) >> kShift);
    out[3] = 255;
}

void ConvertRowScalar(const std::uint8_t* y, const ChromaRows& c, int from, int width, std::uint8_t* out) {
    for (int x = from; x < width; ++x) {
        int u = 0;
        int v = 0;
        ChromaAt(c, x, u, v);
        StorePixel(out + static_cast<std::size_t>(x) * 4, y[x], u, v);
    }
}

#if defined(__SSE2__)
// Eight pixels: luma (minus 16) and their chroma (minus 128, already doubled up) as
// 16-bit lanes; returns B, G, R as 16-bit lanes, not yet clamped.
struct Rgb16 {
    __m128i b, g, r;
};
inline __m128i Pair(int low, int high) {
    return _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(high) << 16) | static_cast<std::uint16_t>(low)));
}
inline __m128i Finish(__m128i low4, __m128i high4) {
    const __m128i round = _mm_set1_epi32(kRound);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low4, round), kShift),
                           _mm_srai_epi32(_mm_add_epi32(high4, round), kShift));
}
inline Rgb16 Convert8(__m128i y, __m128i u, __m128i v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i yuLo = _mm_unpacklo_epi16(y, u), yuHi = _mm_unpackhi_epi16(y, u);
    const __m128i yvLo = _mm_unpacklo_epi16(y, v), yvHi = _mm_unpackhi_epi16(y, v);
    const __m128i v0Lo = _mm_unpacklo_epi16(v, zero), v0Hi = _mm_unpackhi_epi16(v, zero);
    const __m128i cB = Pair(kCy, kCbu), cR = Pair(kCy, kCrv), cG = Pair(kCy, -kCgu), cGv = Pair(-kCgv, 0);
    Rgb16 out;
    out.b = Finish(_mm_madd_epi16(yuLo, cB), _mm_madd_epi16(yuHi, cB));
    out.r = Finish(_mm_madd_epi16(yvLo, cR), _mm_madd_epi16(yvHi, cR));
    out.g = Finish(_mm_add_epi32(_mm_madd_epi16(yuLo, cG), _mm_madd_epi16(v0Lo, cGv)),
                   _mm_add_epi32(_mm_madd_epi16(yuHi, cG), _mm_madd_epi16(v0Hi, cGv)));
    return out;
}

// Packs 16 converted pixels (two halves of eight) and stores them as BGRA.
inline void StoreBgra16(const Rgb16& lo, const Rgb16& hi, std::uint8_t* out) {
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i b = _mm_packus_epi16(lo.b, hi.b);
    const __m128i g = _mm_packus_epi16(lo.g, hi.g);
    const __m128i r = _mm_packus_epi16(lo.r, hi.r);
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i raLo = _mm_unpacklo_epi8(r, opaque), raHi = _mm_unpackhi_epi8(r, opaque);
    __m128i* target = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(target + 0, _mm_unpacklo_epi16(bgLo, raLo));
    _mm_storeu_si128(target + 1, _mm_unpackhi_epi16(bgLo, raLo));
    _mm_storeu_si128(target + 2, _mm_unpacklo_epi16(bgHi, raHi));
    _mm_storeu_si128(target + 3, _mm_unpackhi_epi16(bgHi, raHi));
}

// Sixteen pixels per step while both luma and chroma last; returns where it stopped.
int ConvertRowSse2(const std::uint8_t* y, const ChromaRows& c, int width, std::uint8_t* out) {
    if (c.width == 0) return 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i sixteen = _mm_set1_epi16(16);
    const __m128i half = _mm_set1_epi16(128);
    int x = 0;
    for (; x + 16 <= 2 * c.width && x + 16 <= width; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c.u + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c.v + x / 2));
        const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(luma, zero), sixteen);
        const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(luma, zero), sixteen);
        const __m128i u16 = _mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), half);
        const __m128i v16 = _mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), half);
        const Rgb16 lo = Convert8(yLo, _mm_unpacklo_epi16(u16, u16), _mm_unpacklo_epi16(v16, v16));
        const Rgb16 hi = Convert8(yHi, _mm_unpackhi_epi16(u16, u16), _mm_unpackhi_epi16(v16, v16));
        StoreBgra16(lo, hi, out + static_cast<std::size_t>(x) * 4);
    }
    return x;
}

// The same for rows with a chroma sample per pixel (a picture resampled to its window).
int ConvertRow444Sse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width,
                      std::uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i sixteen = _mm_set1_epi16(16);
    const __m128i half = _mm_set1_epi16(128);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i u8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x));
        const __m128i v8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x));
        const __m128i yLo = _mm_sub_epi16(_mm_unpacklo_epi8(luma, zero), sixteen);
        const __m128i yHi = _mm_sub_epi16(_mm_unpackhi_epi8(luma, zero), sixteen);
        const Rgb16 lo = Convert8(yLo, _mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), half),
                                  _mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), half));
        const Rgb16 hi = Convert8(yHi, _mm_sub_epi16(_mm_unpackhi_epi8(u8, zero), half),
                                  _mm_sub_epi16(_mm_unpackhi_epi8(v8, zero), half));
        StoreBgra16(lo, hi, out + static_cast<std::size_t>(x) * 4);
    }
    return x;
}
#endif

// The source index of each of `out` samples spread over `in`: the nearest sample to
// the output sample's centre.
void NearestIndices(int in, int out, std::vector<int>& indices) {
    indices.resize(static_cast<std::size_t>(out));
    for (int i = 0; i < out; ++i)
        indices[static_cast<std::size_t>(i)] =
            std::min(in - 1, static_cast<int>((2 * static_cast<long long>(i) + 1) * in / (2 * static_cast<long long>(out))));
}

// Gathering samples one by one costs three loads and a store per pixel and was the
// bulk of a resampled conversion. Where eight neighbouring outputs fall within sixteen
// source bytes (any reduction up to about half), one unaligned load and one byte
// shuffle gather all eight. `bases` holds each group's first source byte, or -1 where
// the group must be gathered one by one (the row's end, or a wider spread).
void PlanShuffles(const std::vector<int>& indices, int rowWidth, std::vector<int>& bases,
                  std::vector<std::uint8_t>& masks) {
    const int outputs = static_cast<int>(indices.size());
    const int groups = (outputs + 7) / 8;
    bases.assign(static_cast<std::size_t>(groups), -1);
    masks.assign(static_cast<std::size_t>(groups) * 16, 0x80);
    for (int g = 0; g < groups; ++g) {
        const int first = g * 8;
        if (first + 8 > outputs) break;
        const int base = indices[static_cast<std::size_t>(first)];
        if (base + 16 > rowWidth || indices[static_cast<std::size_t>(first + 7)] - base > 15) continue;
        bases[static_cast<std::size_t>(g)] = base;
        for (int i = 0; i < 8; ++i)
            masks[static_cast<std::size_t>(g) * 16 + i] = static_cast<std::uint8_t>(indices[static_cast<std::size_t>(first + i)] - base);
    }
}

void GatherPlain(const std::uint8_t* row, const int* indices, int from, int to, std::uint8_t* out) {
    for (int x = from; x < to; ++x) out[x] = row[indices[x]];
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void GatherShuffled(const std::uint8_t* row, const int* indices, const int* bases,
                                                     const std::uint8_t* masks, int outputs, std::uint8_t* out) {
    const int groups = (outputs + 7) / 8;
    for (int g = 0; g < groups; ++g) {
        const int first = g * 8;
        if (bases[g] < 0) {
            GatherPlain(row, indices, first, std::min(first + 8, outputs), out);
            continue;
        }
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + bases[g]));
        const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks + static_cast<std::size_t>(g) * 16));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + first), _mm_shuffle_epi8(source, mask));
    }
}
bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#else
bool HasSsse3() { return false; }
#endif

void Gather(const std::uint8_t* row, const int* indices, const std::vector<int>& bases,
            const std::vector<std::uint8_t>& masks, int outputs, std::uint8_t* out) {
#if defined(__x86_64__) || defined(__i386__)
    if (HasSsse3()) return GatherShuffled(row, indices, bases.data(), masks.data(), outputs, out);
#endif
    GatherPlain(row, indices, 0, outputs, out);
}

}  // namespace

PlanarPicture PlanesOf(const std::uint8_t* picture, int width, int height) {
    const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    return {picture, picture + area, picture + area * 5 / 4, width, height};
}

void PackYuy2(const PlanarPicture& in, std::uint8_t* out, int pitch) {
    for (int row = 0; row < in.height; ++row) {
        const std::uint8_t* y = in.y + static_cast<std::size_t>(row) * in.width;
        const ChromaRows c = ChromaFor(in, row);
        std::uint8_t* target = out + static_cast<std::size_t>(row) * pitch;
        for (int x = 0; x < in.width; x += 2) {
            int u = 0;
            int v = 0;
            ChromaAt(c, x, u, v);
            target[0] = y[x];
            target[1] = static_cast<std::uint8_t>(u);
            target[2] = x + 1 < in.width ? y[x + 1] : y[x];
            target[3] = static_cast<std::uint8_t>(v);
            target += 4;
        }
    }
}

std::size_t Yv12Bytes(int height, int pitch) {
    return static_cast<std::size_t>(pitch) * height + 2 * static_cast<std::size_t>(pitch / 2) * (height / 2);
}

void CopyYv12(const PlanarPicture& in, std::uint8_t* out, int pitch) {
    for (int row = 0; row < in.height; ++row)
        std::memcpy(out + static_cast<std::size_t>(row) * pitch, in.y + static_cast<std::size_t>(row) * in.width,
                    static_cast<std::size_t>(in.width));
    const int cw = in.width / 2;
    const int ch = in.height / 2;
    const int half = pitch / 2;
    std::uint8_t* second = out + static_cast<std::size_t>(pitch) * in.height;
    std::uint8_t* third = second + static_cast<std::size_t>(half) * ch;
    for (int row = 0; row < ch; ++row) {
        std::memcpy(second + static_cast<std::size_t>(row) * half, in.v + static_cast<std::size_t>(row) * cw,
                    static_cast<std::size_t>(cw));
        std::memcpy(third + static_cast<std::size_t>(row) * half, in.u + static_cast<std::size_t>(row) * cw,
                    static_cast<std::size_t>(cw));
    }
}

void ConvertToBgrxScalar(const PlanarPicture& in, std::uint8_t* out, int pitch) {
    for (int row = 0; row < in.height; ++row)
        ConvertRowScalar(in.y + static_cast<std::size_t>(row) * in.width, ChromaFor(in, row), 0, in.width,
                         out + static_cast<std::size_t>(row) * pitch);
}

void ConvertToBgrx(const PlanarPicture& in, std::uint8_t* out, int pitch) {
    for (int row = 0; row < in.height; ++row) {
        const std::uint8_t* y = in.y + static_cast<std::size_t>(row) * in.width;
        const ChromaRows c = ChromaFor(in, row);
        std::uint8_t* target = out + static_cast<std::size_t>(row) * pitch;
        int done = 0;
#if defined(__SSE2__)
        done = ConvertRowSse2(y, c, in.width, target);
#endif
        ConvertRowScalar(y, c, done, in.width, target);
    }
}

void ConvertToBgrxScaled(const PlanarPicture& in, std::uint8_t* out, int pitch, int outWidth, int outHeight,
                         ScaleScratch& scratch) {
    if (in.width <= 0 || in.height <= 0 || outWidth <= 0 || outHeight <= 0) return;
    if (scratch.inWidth != in.width || scratch.outWidth != outWidth) {
        NearestIndices(in.width, outWidth, scratch.columns);
        scratch.chromaColumns.resize(scratch.columns.size());
        const int lastChroma = std::max(in.width / 2 - 1, 0);
        for (std::size_t x = 0; x < scratch.columns.size(); ++x)
            scratch.chromaColumns[x] = std::min(scratch.columns[x] / 2, lastChroma);
        PlanShuffles(scratch.columns, in.width, scratch.lumaBases, scratch.lumaMasks);
        PlanShuffles(scratch.chromaColumns, in.width / 2, scratch.chromaBases, scratch.chromaMasks);
        scratch.inWidth = in.width;
        scratch.outWidth = outWidth;
        scratch.y.resize(static_cast<std::size_t>(outWidth));
        scratch.u.resize(static_cast<std::size_t>(outWidth));
        scratch.v.resize(static_cast<std::size_t>(outWidth));
    }
    if (scratch.inHeight != in.height || scratch.outHeight != outHeight) {
        NearestIndices(in.height, outHeight, scratch.rows);
        scratch.inHeight = in.height;
        scratch.outHeight = outHeight;
    }
    const int* columns = scratch.columns.data();
    const int* chromaColumns = scratch.chromaColumns.data();
    std::uint8_t* ys = scratch.y.data();
    std::uint8_t* us = scratch.u.data();
    std::uint8_t* vs = scratch.v.data();
    int lastRow = -1;
    for (int row = 0; row < outHeight; ++row) {
        std::uint8_t* target = out + static_cast<std::size_t>(row) * pitch;
        const int source = scratch.rows[static_cast<std::size_t>(row)];
        if (source == lastRow) {
            // Upscaled rows repeat: copy the row just made.
            std::memcpy(target, target - pitch, static_cast<std::size_t>(outWidth) * 4);
            continue;
        }
        lastRow = source;
        const std::uint8_t* y = in.y + static_cast<std::size_t>(source) * in.width;
        const ChromaRows c = ChromaFor(in, source);
        Gather(y, columns, scratch.lumaBases, scratch.lumaMasks, outWidth, ys);
        if (c.width == 0) {
            std::memset(us, 128, static_cast<std::size_t>(outWidth));
            std::memset(vs, 128, static_cast<std::size_t>(outWidth));
        } else {
            Gather(c.u, chromaColumns, scratch.chromaBases, scratch.chromaMasks, outWidth, us);
            Gather(c.v, chromaColumns, scratch.chromaBases, scratch.chromaMasks, outWidth, vs);
        }
        int done = 0;
#if defined(__SSE2__)
        done = ConvertRow444Sse2(ys, us, vs, outWidth, target);
#endif
        for (int x = done; x < outWidth; ++x) StorePixel(target + static_cast<std::size_t>(x) * 4, ys[x], us[x], vs[x]);
    }
}

}  // namespace media
