// The pieces the kernels are made of: pixel formats with their decode and pack built from the
// channel masks at compile time, the per-pixel operations on 8-bit channel values, and the row
// loops of each stepping. Included only by the files that instantiate the kernels.
//
// Channel values travel in one 32-bit word laid out like a 32-bit pixel with alpha: blue in bits
// 0-7, green 8-15, red 16-23, alpha 24-31. Decoding and packing follow the channel records
// exactly: a channel's value is its masked bits shifted to the top of a byte, and packing puts
// the top bits back.
#pragma once

#include <bit>
#include <cstring>
#include <type_traits>

#include "framework/graphics/DXRKernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define MORVANE_DXR_SSE2 1
#endif

namespace dxrk {

// Word k of a channel group (R, G, B, A) sits at this shift of the layout.
constexpr int kLaneShift[4] = {16, 8, 0, 24};

inline unsigned Lane(DWORD C, int K) { return (C >> kLaneShift[K]) & 0xFF; }

// The per-channel loops below are unrolled, so that every shift and mask is a constant.

// The decode and pack shifts of one colour channel, as the surface description computes them
// (a channel of fewer than 8 bits is shifted left, a wider or higher one right).
struct Shifts {
  DWORD Right, Left;
};
constexpr Shifts ChannelShifts(DWORD Mask) {
  DWORD low = 31;
  for (DWORD i = 0; i <= 30; ++i)
    if (Mask & (DWORD{1} << i)) {
      low = i;
      break;
    }
  const int s = static_cast<int>(low) + std::popcount(Mask) - 8;
  const DWORD right = s < 0 ? 0 : static_cast<DWORD>(s);
  const DWORD left = s < 0 ? static_cast<DWORD>(-s) : 0;
  return {right & 31, right != 0 ? 0 : left & 31};
}

template <DWORD Bytes>
inline DWORD Load(const BYTE* P) {
  if constexpr (Bytes == 1) {
    return P[0];
  } else if constexpr (Bytes == 2) {
    WORD w;
    std::memcpy(&w, P, 2);
    return w;
  } else if constexpr (Bytes == 3) {
    return DWORD{P[0]} | (DWORD{P[1]} << 8) | (DWORD{P[2]} << 16);
  } else {
    DWORD d;
    std::memcpy(&d, P, 4);
    return d;
  }
}

template <DWORD Bytes>
inline void Store(BYTE* P, DWORD V) {
  if constexpr (Bytes == 1) {
    P[0] = static_cast<BYTE>(V);
  } else if constexpr (Bytes == 2) {
    const WORD w = static_cast<WORD>(V);
    std::memcpy(P, &w, 2);
  } else if constexpr (Bytes == 3) {
    P[0] = static_cast<BYTE>(V);
    P[1] = static_cast<BYTE>(V >> 8);
    P[2] = static_cast<BYTE>(V >> 16);
  } else {
    std::memcpy(P, &V, 4);
  }
}

template <DWORD BitCount, DWORD RM, DWORD GM, DWORD BM, DWORD AM>
struct RGBFormat {
  static constexpr bool Indexed = false;
  static constexpr DWORD Bytes = BitCount / 8;
  static constexpr DWORD Masks[4] = {RM, GM, BM, AM};
  static constexpr Shifts S[4] = {ChannelShifts(RM), ChannelShifts(GM), ChannelShifts(BM),
                                  ChannelShifts(AM)};
  static constexpr BYTE Channels = (RM ? 1 : 0) | (GM ? 2 : 0) | (BM ? 4 : 0) | (AM ? 8 : 0);

  // The channels the pixel has; the lanes of channels it lacks are zero.
  [[gnu::always_inline]] static inline DWORD Decode(DWORD P) {
    DWORD c = 0;
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
      if (Masks[k]) c |= ((((P & Masks[k]) >> S[k].Right) << S[k].Left) & 0xFF) << kLaneShift[k];
    return c;
  }
  [[gnu::always_inline]] static inline DWORD Pack(DWORD C) {
    DWORD p = 0;
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
      if (Masks[k]) p |= ((Lane(C, k) << S[k].Right) >> S[k].Left) & Masks[k];
    return p;
  }
};

struct Indexed8Format {
  static constexpr bool Indexed = true;
  static constexpr DWORD Bytes = 1;
  static constexpr BYTE Channels = 7;
};

using XRGB8888 = RGBFormat<32, 0xFF0000, 0xFF00, 0xFF, 0>;
using ARGB8888 = RGBFormat<32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000>;
using RGB565 = RGBFormat<16, 0xF800, 0x07E0, 0x001F, 0>;
using XRGB1555 = RGBFormat<16, 0x7C00, 0x03E0, 0x001F, 0>;
using ARGB1555 = RGBFormat<16, 0x7C00, 0x03E0, 0x001F, 0x8000>;
using RGB888 = RGBFormat<24, 0xFF0000, 0xFF00, 0xFF, 0>;

// What every pixel of a row reads from the kernel, copied into the row procedure so that it
// stays in registers (the stores into the picture could alias the kernel's record).
struct PixelConstants {
  DWORD Defaults, KeyMask, ColorKey;
  const DWORD* Palette;
  explicit PixelConstants(const DXRKernel& K)
      : Defaults(K.Defaults),
        KeyMask(K.KeyMask),
        ColorKey(K.ColorKey),
        Palette(K.Scratch.Palette) {}
};

// A source texel's channel values, with the defaults for the channels the source lacks.
template <class S>
[[gnu::always_inline]] inline DWORD SourceValues(const PixelConstants& K, DWORD T) {
  if constexpr (S::Indexed)
    return K.Palette[T & 0xFF];
  else
    return S::Decode(T) | K.Defaults;
}

// The operations' channel values. Mask is the destination's channels: the alpha blend computes
// a channel whose partner of the pair (red with green, blue with alpha) is also wanted as one
// 16-bit product sum, and a lone channel as destination + difference * alpha / 256, rounded
// down; the two may differ by one.
template <DXRKernelOp Op, BYTE Mask>
[[gnu::always_inline]] inline DWORD Combine(DWORD L, DWORD R) {
  const unsigned a = Lane(L, 3);
  DWORD out = 0;
#pragma GCC unroll 4
  for (int k = 0; k < 4; ++k) {
    if (!((Mask >> k) & 1)) continue;
    const unsigned l = Lane(L, k), r = Lane(R, k);
    unsigned v = 0;
    if constexpr (Op == DXRKernelOp::Add) {
      v = l + r > 255 ? 255 : l + r;
    } else if constexpr (Op == DXRKernelOp::RevSub) {
      v = r > l ? r - l : 0;
    } else if constexpr (Op == DXRKernelOp::AlphaAdd) {
      const unsigned s = r + ((l * a) >> 8);
      v = s > 255 ? 255 : s;
    } else if constexpr (Op == DXRKernelOp::AlphaSub) {
      const unsigned s = (l * a) >> 8;
      v = r > s ? r - s : 0;
    } else if constexpr (Op == DXRKernelOp::Alpha) {
      const bool pair = (Mask >> (k ^ 1)) & 1;
      v = (l * a + r * ((pair ? 255 : 256) - a)) >> 8;
    } else {
      v = l;
    }
    out |= DWORD{v & 0xFF} << kLaneShift[k];
  }
  return out;
}

template <class S, class D, DXRKernelOp Op, bool Key>
[[gnu::always_inline]] inline void Pixel(const PixelConstants& K, DWORD T, BYTE* Dest) {
  if constexpr (Key)
    if ((T & K.KeyMask) == K.ColorKey) return;
  if constexpr (Op == DXRKernelOp::Raw) {
    Store<D::Bytes>(Dest, T);
  } else if constexpr (Op == DXRKernelOp::Convert) {
    Store<D::Bytes>(Dest, D::Pack(SourceValues<S>(K, T)));
  } else {
    const DWORD r = D::Decode(Load<D::Bytes>(Dest));
    Store<D::Bytes>(Dest, D::Pack(Combine<Op, D::Channels>(SourceValues<S>(K, T), r)));
  }
}

// Calls Line(source row, destination) for each of the rows the run covers whose source row is
// inside the picture.
template <class LineProc>
[[gnu::always_inline]] inline void ForEachRow(const DXRKernel& K, const DXRKernelRow& R,
                                              LineProc Line) {
  DWORD v = R.V;
  BYTE* d = R.Dest;
  const DWORD h = K.SrcHeight;
  for (int r = 0; r < R.Rows; ++r, v += R.RowStepV, d += R.DestPitch) {
    const DWORD sr = v >> 16;
    if (sr < h) Line(R.Src + std::ptrdiff_t(sr) * K.SrcPitch, d);
  }
}

template <class S, class D, DXRKernelOp Op, bool Key>
[[gnu::always_inline]] inline void ContiguousLine(const DXRKernel& K, const DXRKernelRow& R) {
  if constexpr (Op == DXRKernelOp::Raw && !Key && S::Bytes == D::Bytes) {
    std::memcpy(R.Dest, R.Src, static_cast<std::size_t>(R.Count) * D::Bytes);
  } else {
    const PixelConstants c(K);
    const BYTE* s = R.Src;
    BYTE* d = R.Dest;
    const int n = R.Count;
    for (int i = 0; i < n; ++i, s += S::Bytes, d += D::Bytes)
      Pixel<S, D, Op, Key>(c, Load<S::Bytes>(s), d);
  }
}

template <class S, class D, DXRKernelOp Op, bool Key>
void ContiguousRow(const DXRKernel& K, const DXRKernelRow& R) {
  ForEachRow(K, R, [&](const BYTE* Src, BYTE* Dest) {
    DXRKernelRow line = R;
    line.Src = Src;
    line.Dest = Dest;
    ContiguousLine<S, D, Op, Key>(K, line);
  });
}

template <class S, class D, DXRKernelOp Op, bool Key>
void ScaledRow(const DXRKernel& K, const DXRKernelRow& R) {
  const std::int32_t* columns = R.Columns;
  const int n = R.Count;
  const PixelConstants k(K);
  ForEachRow(K, R, [&](const BYTE* Src, BYTE* Dest) {
    BYTE* d = Dest;
    for (int i = 0; i < n; ++i, d += D::Bytes) {
      const std::int32_t c = columns[i];
      if (c >= 0) Pixel<S, D, Op, Key>(k, Load<S::Bytes>(Src + std::ptrdiff_t{c} * S::Bytes), d);
    }
  });
}

template <class S, class D, DXRKernelOp Op, bool Key>
void RotatedRow(const DXRKernel& K, const DXRKernelRow& R) {
  const PixelConstants k(K);
  BYTE* d = R.Dest;
  DWORD u = R.U, v = R.V;
  const DWORD du = R.DU, dv = R.DV, w = K.SrcWidth, h = K.SrcHeight;
  const BYTE* const bits = K.SrcBits;
  const std::ptrdiff_t pitch = K.SrcPitch;
  const int n = R.Count;
  for (int i = 0; i < n; ++i, d += D::Bytes, u += du, v += dv) {
    const DWORD c = u >> 16, r = v >> 16;
    if (c < w && r < h)
      Pixel<S, D, Op, Key>(
          k, Load<S::Bytes>(bits + std::ptrdiff_t(r) * pitch + std::ptrdiff_t(c) * S::Bytes), d);
  }
}

#if MORVANE_DXR_SSE2
// Four 32-bit pixels at once, for sources and destinations of 8-8-8 with or without alpha.
// Contiguous rows load four texels in one go; scaled and turned ones gather them one by one and
// leave the pixels whose texel lies outside the picture as they were.
template <class S, class D, DXRKernelOp Op, bool Key, DXRKernelStepping Step>
void RowSSE2(const DXRKernel& K, const DXRKernelRow& R) {
  constexpr bool srcAlpha = (S::Channels & 8) != 0;
  constexpr bool destAlpha = (D::Channels & 8) != 0;
  const PixelConstants pixel(K);
  const __m128i zero = _mm_setzero_si128();
  const __m128i present = _mm_set1_epi32(srcAlpha ? -1 : 0x00FFFFFF);
  const __m128i defaults = _mm_set1_epi32(static_cast<int>(K.Defaults));
  const __m128i destMask = _mm_set1_epi32(destAlpha ? -1 : 0x00FFFFFF);
  const __m128i keyMask = _mm_set1_epi32(static_cast<int>(K.KeyMask));
  const __m128i colorKey = _mm_set1_epi32(static_cast<int>(K.ColorKey));
  const __m128i constAlpha = _mm_set1_epi16(static_cast<short>(K.Defaults >> 24));
  // The destination's weight is 255 - alpha in a pair and 256 - alpha for a lone channel; the
  // 16-bit lanes run blue, green, red, alpha.
  const short lone = destAlpha ? 255 : 256;
  const __m128i weightBase = _mm_set_epi16(255, 255, 255, lone, 255, 255, 255, lone);

  const auto blend = [&](__m128i l, __m128i r) -> __m128i {
    if constexpr (Op == DXRKernelOp::Convert) {
      return l;
    } else if constexpr (Op == DXRKernelOp::Add) {
      return _mm_adds_epu8(l, r);
    } else if constexpr (Op == DXRKernelOp::RevSub) {
      return _mm_subs_epu8(r, l);
    } else {
      const __m128i l0 = _mm_unpacklo_epi8(l, zero), l1 = _mm_unpackhi_epi8(l, zero);
      __m128i a0 = constAlpha, a1 = constAlpha;
      if constexpr (srcAlpha) {
        a0 = _mm_shufflehi_epi16(_mm_shufflelo_epi16(l0, 0xFF), 0xFF);
        a1 = _mm_shufflehi_epi16(_mm_shufflelo_epi16(l1, 0xFF), 0xFF);
      }
      const __m128i s0 = _mm_mullo_epi16(l0, a0), s1 = _mm_mullo_epi16(l1, a1);
      if constexpr (Op == DXRKernelOp::Alpha) {
        const __m128i r0 = _mm_unpacklo_epi8(r, zero), r1 = _mm_unpackhi_epi8(r, zero);
        const __m128i w0 = _mm_sub_epi16(weightBase, a0), w1 = _mm_sub_epi16(weightBase, a1);
        const __m128i v0 = _mm_srli_epi16(_mm_add_epi16(s0, _mm_mullo_epi16(r0, w0)), 8);
        const __m128i v1 = _mm_srli_epi16(_mm_add_epi16(s1, _mm_mullo_epi16(r1, w1)), 8);
        return _mm_packus_epi16(v0, v1);
      } else {
        const __m128i scaled = _mm_packus_epi16(_mm_srli_epi16(s0, 8), _mm_srli_epi16(s1, 8));
        if constexpr (Op == DXRKernelOp::AlphaAdd)
          return _mm_adds_epu8(r, scaled);
        else
          return _mm_subs_epu8(r, scaled);
      }
    }
  };

  // The source's own alpha byte is kept when it has one; else it reads as the default, which
  // only an alpha destination stores.
  constexpr bool fillAlpha = !srcAlpha && destAlpha;
  // Four pixels from texels T; the lanes set in Skip (and keyed texels) keep their pixels.
  const auto put = [&](__m128i t, __m128i skip, bool anySkip, BYTE* d) {
    __m128i out;
    if constexpr (Op == DXRKernelOp::Raw) {
      out = t;
    } else {
      __m128i l = t;
      if constexpr (fillAlpha) l = _mm_or_si128(_mm_and_si128(t, present), defaults);
      __m128i r = zero;
      if constexpr (Op != DXRKernelOp::Convert)
        r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
      out = blend(l, r);
      if constexpr (!destAlpha) out = _mm_and_si128(out, destMask);
    }
    if constexpr (Key) {
      skip = _mm_or_si128(skip, _mm_cmpeq_epi32(_mm_and_si128(t, keyMask), colorKey));
      anySkip = true;
    }
    if (anySkip) {
      const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
      out = _mm_or_si128(_mm_andnot_si128(skip, out), _mm_and_si128(skip, old));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), out);
  };
  const auto load = [](const BYTE* s) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  };

  const int n = R.Count;
  if constexpr (Step == DXRKernelStepping::Rotated) {
    BYTE* d = R.Dest;
    DWORD u = R.U, v = R.V;
    const DWORD du = R.DU, dv = R.DV, w = K.SrcWidth, h = K.SrcHeight;
    const BYTE* const bits = K.SrcBits;
    const std::ptrdiff_t pitch = K.SrcPitch;
    int i = 0;
    for (; i + 4 <= n; i += 4, d += 16) {
      DWORD texels[4];
      int outside[4];
      bool any = false;
#pragma GCC unroll 4
      for (int j = 0; j < 4; ++j, u += du, v += dv) {
        const DWORD c = u >> 16, r = v >> 16;
        const bool in = c < w && r < h;
        texels[j] = in ? Load<4>(bits + std::ptrdiff_t(r) * pitch + std::ptrdiff_t(c) * 4) : 0;
        outside[j] = in ? 0 : -1;
        any |= !in;
      }
      put(_mm_setr_epi32(static_cast<int>(texels[0]), static_cast<int>(texels[1]),
                         static_cast<int>(texels[2]), static_cast<int>(texels[3])),
          _mm_setr_epi32(outside[0], outside[1], outside[2], outside[3]), any, d);
    }
    for (; i < n; ++i, d += 4, u += du, v += dv) {
      const DWORD c = u >> 16, r = v >> 16;
      if (c < w && r < h)
        Pixel<S, D, Op, Key>(pixel,
                             Load<4>(bits + std::ptrdiff_t(r) * pitch + std::ptrdiff_t(c) * 4), d);
    }
    return;
  }

  // The row loop is written out here rather than through ForEachRow, so that the constants
  // above stay in registers.
  DWORD v = R.V;
  BYTE* rowDest = R.Dest;
  for (int row = 0; row < R.Rows; ++row, v += R.RowStepV, rowDest += R.DestPitch) {
    if ((v >> 16) >= K.SrcHeight) continue;
    const BYTE* s = R.Src + std::ptrdiff_t(v >> 16) * K.SrcPitch;
    BYTE* d = rowDest;
    int i = 0;
    if constexpr (Step == DXRKernelStepping::Contiguous) {
      for (; i + 16 <= n; i += 16, s += 64, d += 64) {
        put(load(s), zero, false, d);
        put(load(s + 16), zero, false, d + 16);
        put(load(s + 32), zero, false, d + 32);
        put(load(s + 48), zero, false, d + 48);
      }
      if (i + 8 <= n) {
        put(load(s), zero, false, d);
        put(load(s + 16), zero, false, d + 16);
        i += 8, s += 32, d += 32;
      }
      if (i + 4 <= n) {
        put(load(s), zero, false, d);
        i += 4, s += 16, d += 16;
      }
      for (; i < n; ++i, s += 4, d += 4) Pixel<S, D, Op, Key>(pixel, Load<4>(s), d);
    } else {
      const std::int32_t* columns = R.Columns;
      for (; i + 4 <= n; i += 4, d += 16) {
        const __m128i c = load(reinterpret_cast<const BYTE*>(columns + i));
        const __m128i outside = _mm_cmplt_epi32(c, zero);
        DWORD texels[4];
#pragma GCC unroll 4
        for (int j = 0; j < 4; ++j)
          texels[j] = columns[i + j] >= 0 ? Load<4>(s + std::ptrdiff_t(columns[i + j]) * 4) : 0;
        put(_mm_setr_epi32(static_cast<int>(texels[0]), static_cast<int>(texels[1]),
                           static_cast<int>(texels[2]), static_cast<int>(texels[3])),
            outside, _mm_movemask_epi8(outside) != 0, d);
      }
      for (; i < n; ++i, d += 4)
        if (columns[i] >= 0)
          Pixel<S, D, Op, Key>(pixel, Load<4>(s + std::ptrdiff_t(columns[i]) * 4), d);
    }
  }
}
#endif

// Formats of equal channel masks, between which the plan copies texels raw whatever their
// depths.
template <class S, class D>
constexpr bool SameMasks() {
  if constexpr (std::is_same_v<S, D>) {
    return true;
  } else if constexpr (S::Indexed || D::Indexed) {
    return false;
  } else {
    for (int k = 0; k < 4; ++k)
      if (S::Masks[k] != D::Masks[k]) return false;
    return true;
  }
}

// The row procedures as types, so that one table template serves every stepping.
template <class S, class D, DXRKernelOp Op, bool Key>
struct ContiguousRows {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) { ContiguousRow<S, D, Op, Key>(K, R); }
};
template <class S, class D, DXRKernelOp Op, bool Key>
struct ScaledRows {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) { ScaledRow<S, D, Op, Key>(K, R); }
};
template <class S, class D, DXRKernelOp Op, bool Key>
struct RotatedRows {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) { RotatedRow<S, D, Op, Key>(K, R); }
};
#if MORVANE_DXR_SSE2
template <class S, class D, DXRKernelOp Op, bool Key>
struct ContiguousRowsSSE2 {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) {
    RowSSE2<S, D, Op, Key, DXRKernelStepping::Contiguous>(K, R);
  }
};
template <class S, class D, DXRKernelOp Op, bool Key>
struct ScaledRowsSSE2 {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) {
    RowSSE2<S, D, Op, Key, DXRKernelStepping::Scaled>(K, R);
  }
};
template <class S, class D, DXRKernelOp Op, bool Key>
struct RotatedRowsSSE2 {
  static void Run(const DXRKernel& K, const DXRKernelRow& R) {
    RowSSE2<S, D, Op, Key, DXRKernelStepping::Rotated>(K, R);
  }
};
#endif

// The instance tables of one stepping. Format and operation order follow the enums.
template <template <class, class, DXRKernelOp, bool> class Row>
struct Instances {
  template <class S, class D, DXRKernelOp Op>
  static DXRKernelRowProc Proc(bool Key) {
    return Key ? &Row<S, D, Op, true>::Run : &Row<S, D, Op, false>::Run;
  }
  template <class S, class D>
  static DXRKernelRowProc ForOp(DXRKernelOp Op, bool Key) {
    switch (Op) {
      case DXRKernelOp::Raw:
        if constexpr (SameMasks<S, D>())
          return Proc<S, D, DXRKernelOp::Raw>(Key);
        else
          return nullptr;
      case DXRKernelOp::Convert:
        return Proc<S, D, DXRKernelOp::Convert>(Key);
      case DXRKernelOp::Add:
        return Proc<S, D, DXRKernelOp::Add>(Key);
      case DXRKernelOp::RevSub:
        return Proc<S, D, DXRKernelOp::RevSub>(Key);
      case DXRKernelOp::AlphaAdd:
        return Proc<S, D, DXRKernelOp::AlphaAdd>(Key);
      case DXRKernelOp::AlphaSub:
        return Proc<S, D, DXRKernelOp::AlphaSub>(Key);
      case DXRKernelOp::Alpha:
        return Proc<S, D, DXRKernelOp::Alpha>(Key);
      default:
        return nullptr;
    }
  }
  template <class S>
  static DXRKernelRowProc ForDest(DXRKernelOp Op, DXRKernelFormat Dest, bool Key) {
    switch (Dest) {
      case DXRKernelFormat::XRGB8888:
        return ForOp<S, XRGB8888>(Op, Key);
      case DXRKernelFormat::ARGB8888:
        return ForOp<S, ARGB8888>(Op, Key);
      case DXRKernelFormat::RGB565:
        return ForOp<S, RGB565>(Op, Key);
      case DXRKernelFormat::XRGB1555:
        return ForOp<S, XRGB1555>(Op, Key);
      case DXRKernelFormat::ARGB1555:
        return ForOp<S, ARGB1555>(Op, Key);
      case DXRKernelFormat::RGB888:
        return ForOp<S, RGB888>(Op, Key);
      case DXRKernelFormat::Indexed8:
        // Only the raw copy packs into an indexed destination.
        if constexpr (std::is_same_v<S, Indexed8Format>)
          return Op == DXRKernelOp::Raw ? Proc<S, S, DXRKernelOp::Raw>(Key) : nullptr;
        else
          return nullptr;
      default:
        return nullptr;
    }
  }
  static DXRKernelRowProc Find(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                               bool Key) {
    switch (Src) {
      case DXRKernelFormat::XRGB8888:
        return ForDest<XRGB8888>(Op, Dest, Key);
      case DXRKernelFormat::ARGB8888:
        return ForDest<ARGB8888>(Op, Dest, Key);
      case DXRKernelFormat::RGB565:
        return ForDest<RGB565>(Op, Dest, Key);
      case DXRKernelFormat::XRGB1555:
        return ForDest<XRGB1555>(Op, Dest, Key);
      case DXRKernelFormat::ARGB1555:
        return ForDest<ARGB1555>(Op, Dest, Key);
      case DXRKernelFormat::RGB888:
        return ForDest<RGB888>(Op, Dest, Key);
      case DXRKernelFormat::Indexed8:
        return ForDest<Indexed8Format>(Op, Dest, Key);
      default:
        return nullptr;
    }
  }
};

#if MORVANE_DXR_SSE2
// The vector rows of the four pairings of 8-8-8 formats with and without alpha; null for others.
template <template <class, class, DXRKernelOp, bool> class Row>
DXRKernelRowProc FindVectorRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                               bool Key) {
  using T = Instances<Row>;
  using F = DXRKernelFormat;
  if (Src == F::XRGB8888 && Dest == F::XRGB8888)
    return T::template ForOp<XRGB8888, XRGB8888>(Op, Key);
  if (Src == F::XRGB8888 && Dest == F::ARGB8888)
    return T::template ForOp<XRGB8888, ARGB8888>(Op, Key);
  if (Src == F::ARGB8888 && Dest == F::XRGB8888)
    return T::template ForOp<ARGB8888, XRGB8888>(Op, Key);
  if (Src == F::ARGB8888 && Dest == F::ARGB8888)
    return T::template ForOp<ARGB8888, ARGB8888>(Op, Key);
  return nullptr;
}
#endif

}  // namespace dxrk
