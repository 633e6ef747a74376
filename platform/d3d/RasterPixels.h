// The pixel arithmetic of the span drawer: target pixels read and written as A8R8G8B8 words,
// the blends on 16-bit lanes (each channel exactly as the per-pixel drawer computes it), and
// the bilinear weighing of four texels.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

namespace d3d::raster {

// Target formats: pixels read as A8R8G8B8 words (alpha 255 without an alpha channel) and
// written back with the bits no channel carries cleared.

template <bool Alpha>
struct Target32 {
  static constexpr bool HasAlpha = Alpha;
  static std::uint32_t Load(const std::uint8_t* row, int x) {
    std::uint32_t v;
    std::memcpy(&v, row + x * 4, 4);
    return HasAlpha ? v : (v | 0xFF000000u);
  }
  static void Store(std::uint8_t* row, int x, std::uint32_t argb) {
    const std::uint32_t v = HasAlpha ? argb : (argb & 0xFFFFFFu);
    std::memcpy(row + x * 4, &v, 4);
  }
};

template <int GreenBits>
struct Target16 {
  static constexpr bool HasAlpha = false;
  static constexpr int RedShift = 5 + GreenBits;
  static std::uint32_t Load(const std::uint8_t* row, int x) {
    std::uint16_t p;
    std::memcpy(&p, row + x * 2, 2);
    const std::uint32_t r = (p >> RedShift) & 31, g = (p >> 5) & ((1u << GreenBits) - 1),
                        b = p & 31;
    const std::uint32_t g8 = GreenBits == 6 ? (g << 2 | g >> 4) : (g << 3 | g >> 2);
    return 0xFF000000u | (r << 3 | r >> 2) << 16 | g8 << 8 | (b << 3 | b >> 2);
  }
  static void Store(std::uint8_t* row, int x, std::uint32_t argb) {
    const std::uint16_t p = static_cast<std::uint16_t>(
        ((argb >> 19) & 31) << RedShift |
        ((argb >> (16 - GreenBits)) & ((1u << GreenBits) - 1)) << 5 | ((argb >> 3) & 31));
    std::memcpy(row + x * 2, &p, 2);
  }
};

// ---------------------------------------------------------------------------------------------
// Blends, on A8R8G8B8 words, each channel as the per-pixel drawer computes it.

enum class Blend { Copy, Add, Sub, Alpha };

inline __m128i Widen(std::uint32_t argb) {
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(argb)), _mm_setzero_si128());
}
inline std::uint32_t Narrow(__m128i v) {
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
}
// Each 16-bit lane n (below 65535) divided by 255, rounded down.
inline __m128i Div255Lanes(__m128i n) {
  const __m128i one = _mm_set1_epi16(1);
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(n, one), _mm_srli_epi16(n, 8)), 8);
}

template <Blend B>
inline std::uint32_t BlendPixel(std::uint32_t src, std::uint32_t dst) {
  if constexpr (B == Blend::Copy) {
    return src;
  } else if constexpr (B == Blend::Add) {
    // (s * 255 + d * 255 + 127) / 255 is s + d.
    const __m128i s = _mm_cvtsi32_si128(static_cast<int>(src));
    const __m128i d = _mm_cvtsi32_si128(static_cast<int>(dst));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_adds_epu8(s, d)));
  } else if constexpr (B == Blend::Sub) {
    // Nothing of the source, what is there scaled by the source's complement.
    const __m128i s = Widen(src), d = Widen(dst);
    const __m128i n = _mm_add_epi16(_mm_mullo_epi16(d, _mm_sub_epi16(_mm_set1_epi16(255), s)),
                                    _mm_set1_epi16(127));
    return Narrow(Div255Lanes(n));
  } else {
    const __m128i s = Widen(src), d = Widen(dst);
    const __m128i a = _mm_set1_epi16(static_cast<short>(src >> 24));
    const __m128i n =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(s, a),
                                    _mm_mullo_epi16(d, _mm_sub_epi16(_mm_set1_epi16(255), a))),
                      _mm_set1_epi16(127));
    return Narrow(Div255Lanes(n));
  }
}

// ---------------------------------------------------------------------------------------------
// Bilinear weighing of four texels, weights in 1/16384 (so that a whole weight still fits a
// signed 16-bit lane); the channels come back as 16-bit lanes B, G, R, A.

// The weights of a texel pair for a fraction f of the second, as pairs of 16-bit lanes.
inline __m128i PairWeights(std::uint32_t f) {
  return _mm_set1_epi32(static_cast<int>((f << 16) | (16384 - f)));
}

inline __m128i BilinearLanes(std::uint32_t t00, std::uint32_t t01, std::uint32_t t10,
                             std::uint32_t t11, __m128i wx, __m128i wy) {
  const __m128i zero = _mm_setzero_si128();
  // Channels of a pair of texels side by side: b0 b1 g0 g1 r0 r1 a0 a1.
  const __m128i top = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(t00)),
                                                          _mm_cvtsi32_si128(static_cast<int>(t01))),
                                        zero);
  const __m128i bottom =
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(t10)),
                                          _mm_cvtsi32_si128(static_cast<int>(t11))),
                        zero);
  // Each row's channels in 1/128 (at most 255 * 128, within 16 signed bits).
  const __m128i h0 = _mm_srli_epi32(_mm_madd_epi16(top, wx), 7);
  const __m128i h1 = _mm_srli_epi32(_mm_madd_epi16(bottom, wx), 7);
  const __m128i rows = _mm_unpacklo_epi16(_mm_packs_epi32(h0, zero), _mm_packs_epi32(h1, zero));
  const __m128i v =
      _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(rows, wy), _mm_set1_epi32(1 << 20)), 21);
  return _mm_packs_epi32(v, zero);
}

}  // namespace d3d::raster
