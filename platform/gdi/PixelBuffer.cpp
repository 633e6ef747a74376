#include "platform/gdi/PixelBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Channel {
  int Shift = 0;
  int Bits = 0;
};

struct Layout {
  Channel R, G, B;
};

Channel MaskChannel(DWORD mask) {
  Channel c;
  if (mask == 0) return c;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++c.Shift;
  }
  while (mask & 1u) {
    mask >>= 1;
    ++c.Bits;
  }
  return c;
}

Layout DirectLayout(const TPixelBuffer& fmt) {
  Layout l;
  if (fmt.BitCount == 24 || (fmt.RMask == 0 && fmt.GMask == 0 && fmt.BMask == 0)) {
    if (fmt.BitCount == 16) return {{10, 5}, {5, 5}, {0, 5}};
    return {{16, 8}, {8, 8}, {0, 8}};
  }
  l.R = MaskChannel(fmt.RMask);
  l.G = MaskChannel(fmt.GMask);
  l.B = MaskChannel(fmt.BMask);
  return l;
}

DWORD ChannelMask(const Channel& c) {
  if (c.Bits == 0) return 0;
  return static_cast<DWORD>(((std::uint64_t{1} << c.Bits) - 1) << c.Shift);
}

// An 8-bit channel value cut to the channel's width.
DWORD Narrow(DWORD v8, const Channel& c) {
  if (c.Bits == 0) return 0;
  DWORD v = c.Bits >= 8 ? v8 << (c.Bits - 8) : v8 >> (8 - c.Bits);
  return v << c.Shift;
}

// A channel widened to 8 bits by repeating its bits (5-bit 31 gives 255).
DWORD Widen(DWORD pixel, const Channel& c) {
  if (c.Bits == 0) return 0;
  DWORD v = static_cast<DWORD>((pixel >> c.Shift) & ((std::uint64_t{1} << c.Bits) - 1));
  if (c.Bits >= 8) return v >> (c.Bits - 8);
  DWORD x = v << (8 - c.Bits);
  for (int filled = c.Bits; filled < 8; filled *= 2) x |= x >> filled;
  return x & 0xFF;
}

int TableSize(const TPixelBuffer& fmt) { return std::min(fmt.ColorCount, 1 << fmt.BitCount); }

DWORD NearestIndex(DWORD r, DWORD g, DWORD b, const TPixelBuffer& fmt) {
  const int n = TableSize(fmt);
  DWORD best = 0;
  long bestDist = -1;
  for (int i = 0; i < n; ++i) {
    const RGBQUAD& q = fmt.ColorTable[i];
    const long dr = static_cast<long>(q.rgbRed) - static_cast<long>(r);
    const long dg = static_cast<long>(q.rgbGreen) - static_cast<long>(g);
    const long db = static_cast<long>(q.rgbBlue) - static_cast<long>(b);
    const long d = dr * dr + dg * dg + db * db;
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = static_cast<DWORD>(i);
      if (d == 0) break;
    }
  }
  return best;
}

DWORD EncodeRGB(DWORD r, DWORD g, DWORD b, const TPixelBuffer& fmt) {
  if (fmt.Indexed()) return NearestIndex(r, g, b, fmt);
  const Layout l = DirectLayout(fmt);
  return Narrow(r, l.R) | Narrow(g, l.G) | Narrow(b, l.B);
}

// The memory a buffer's rows span, for telling whether a blit reads what it writes.
void Span(const TPixelBuffer& b, const BYTE*& lo, const BYTE*& hi) {
  const BYTE* first = b.Row(0);
  const BYTE* last = b.Row(b.Height - 1);
  lo = std::min(first, last);
  hi = std::max(first, last) + std::abs(b.Pitch);
}

bool KnownRop(DWORD rop) {
  switch (rop) {
    case SRCCOPY:
    case SRCPAINT:
    case SRCAND:
    case SRCINVERT:
    case SRCERASE:
    case NOTSRCCOPY:
    case NOTSRCERASE:
    case MERGEPAINT:
    case DSTINVERT:
    case BLACKNESS:
    case WHITENESS:
      return true;
    default:
      return false;
  }
}

bool RopReadsSource(DWORD rop) { return rop != DSTINVERT && rop != BLACKNESS && rop != WHITENESS; }

DWORD Combine(DWORD rop, DWORD s, DWORD d, DWORD black, DWORD white) {
  switch (rop) {
    case SRCCOPY:
      return s;
    case SRCPAINT:
      return s | d;
    case SRCAND:
      return s & d;
    case SRCINVERT:
      return s ^ d;
    case SRCERASE:
      return s & ~d;
    case NOTSRCCOPY:
      return ~s;
    case NOTSRCERASE:
      return ~(s | d);
    case MERGEPAINT:
      return ~s | d;
    case DSTINVERT:
      return ~d;
    case BLACKNESS:
      return black;
    case WHITENESS:
      return white;
    default:
      return d;
  }
}

// Source pixel to destination pixel, through the colour both share.
class Converter {
 public:
  Converter(const TPixelBuffer& src, const TPixelBuffer& dst) : Src(src), Dst(dst) {
    if (src.Indexed()) {
      if (dst.Indexed() && dst.BitCount == src.BitCount && TableSize(src) == TableSize(dst) &&
          std::memcmp(src.ColorTable, dst.ColorTable, sizeof(RGBQUAD) * TableSize(src)) == 0) {
        Identity = true;
        return;
      }
      const int n = 1 << src.BitCount;
      for (int i = 0; i < n; ++i) Lut[i] = ColorToPixel(PixelToColor(i, src), dst);
      UseLut = true;
      return;
    }
    if (!dst.Indexed() && dst.BitCount == src.BitCount) {
      const Layout a = DirectLayout(src), b = DirectLayout(dst);
      Identity = a.R.Shift == b.R.Shift && a.R.Bits == b.R.Bits && a.G.Shift == b.G.Shift &&
                 a.G.Bits == b.G.Bits && a.B.Shift == b.B.Shift && a.B.Bits == b.B.Bits;
    }
    SrcLayout = DirectLayout(src);
    if (dst.Indexed()) {
      CacheKey.assign(kCacheSize, 0xFFFFFFFFu);
      CacheValue.assign(kCacheSize, 0);
    }
  }

  bool Identity = false;

  DWORD operator()(DWORD p) {
    if (Identity) return p;
    if (UseLut) return Lut[p & 0xFF];
    const DWORD r = Widen(p, SrcLayout.R), g = Widen(p, SrcLayout.G), b = Widen(p, SrcLayout.B);
    if (!Dst.Indexed()) return EncodeRGB(r, g, b, Dst);
    const DWORD key = (r << 16) | (g << 8) | b;
    const std::size_t slot = (key * 2654435761u) >> 20 & (kCacheSize - 1);
    if (CacheKey[slot] != key) {
      CacheKey[slot] = key;
      CacheValue[slot] = NearestIndex(r, g, b, Dst);
    }
    return CacheValue[slot];
  }

 private:
  static constexpr std::size_t kCacheSize = 4096;
  const TPixelBuffer& Src;
  const TPixelBuffer& Dst;
  bool UseLut = false;
  DWORD Lut[256] = {};
  Layout SrcLayout;
  std::vector<DWORD> CacheKey, CacheValue;
};

}  // namespace

bool TPixelBuffer::Usable() const {
  if (!Bits || Width <= 0 || Height <= 0) return false;
  if (!IsPixelBitCount(BitCount)) return false;
  const std::int64_t rowBytes = (static_cast<std::int64_t>(Width) * BitCount + 7) / 8;
  return std::abs(static_cast<std::int64_t>(Pitch)) >= rowBytes;
}

DWORD PixelMask(const TPixelBuffer& fmt) {
  if (fmt.Indexed()) return (1u << fmt.BitCount) - 1;
  const Layout l = DirectLayout(fmt);
  return ChannelMask(l.R) | ChannelMask(l.G) | ChannelMask(l.B);
}

DWORD ColorToPixel(TColor color, const TPixelBuffer& fmt) {
  const COLORREF c = static_cast<COLORREF>(ColorToRGB(color));
  return EncodeRGB(GetRValue(c), GetGValue(c), GetBValue(c), fmt);
}

TColor PixelToColor(DWORD pixel, const TPixelBuffer& fmt) {
  if (fmt.Indexed()) {
    const DWORD i = pixel & ((1u << fmt.BitCount) - 1);
    if (static_cast<int>(i) >= TableSize(fmt)) return 0;
    const RGBQUAD& q = fmt.ColorTable[i];
    return static_cast<TColor>(RGB(q.rgbRed, q.rgbGreen, q.rgbBlue));
  }
  const Layout l = DirectLayout(fmt);
  return static_cast<TColor>(RGB(static_cast<BYTE>(Widen(pixel, l.R)),
                                 static_cast<BYTE>(Widen(pixel, l.G)),
                                 static_cast<BYTE>(Widen(pixel, l.B))));
}

DWORD ReadPixel(const TPixelBuffer& buf, int x, int y) {
  const BYTE* row = buf.Row(y);
  switch (buf.BitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (x & 1) ? row[x >> 1] & 0x0Fu : row[x >> 1] >> 4;
    case 8:
      return row[x];
    case 16: {
      const BYTE* p = row + 2 * x;
      return static_cast<DWORD>(p[0] | (p[1] << 8));
    }
    case 24: {
      const BYTE* p = row + 3 * x;
      return static_cast<DWORD>(p[0] | (p[1] << 8) | (p[2] << 16));
    }
    case 32: {
      DWORD v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
    default:
      return 0;
  }
}

void WritePixel(const TPixelBuffer& buf, int x, int y, DWORD pixel) {
  BYTE* row = buf.Row(y);
  switch (buf.BitCount) {
    case 1: {
      const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
      if (pixel & 1u)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<BYTE>(~bit);
      break;
    }
    case 4: {
      BYTE& b = row[x >> 1];
      if (x & 1)
        b = static_cast<BYTE>((b & 0xF0) | (pixel & 0x0F));
      else
        b = static_cast<BYTE>((b & 0x0F) | ((pixel & 0x0F) << 4));
      break;
    }
    case 8:
      row[x] = static_cast<BYTE>(pixel);
      break;
    case 16:
      row[2 * x] = static_cast<BYTE>(pixel);
      row[2 * x + 1] = static_cast<BYTE>(pixel >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<BYTE>(pixel);
      row[3 * x + 1] = static_cast<BYTE>(pixel >> 8);
      row[3 * x + 2] = static_cast<BYTE>(pixel >> 16);
      break;
    case 32:
      std::memcpy(row + 4 * x, &pixel, 4);
      break;
    default:
      break;
  }
}

TRect IntersectRects(const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (RectIsEmpty(r)) return {};
  return r;
}

void FillPixels(const TPixelBuffer& buf, const TRect& clip, const TRect& rect, DWORD pixel) {
  if (!buf.Usable()) return;
  const TRect r = IntersectRects(IntersectRects(rect, clip), buf.Bounds());
  if (RectIsEmpty(r)) return;
  const int w = r.Width();
  if (buf.BitCount < 8) {
    for (int y = r.Top; y < r.Bottom; ++y)
      for (int x = r.Left; x < r.Right; ++x) WritePixel(buf, x, y, pixel);
    return;
  }
  // The first row is filled by doubling copies, the others are copies of it.
  const std::size_t bpp = static_cast<std::size_t>(buf.BitCount / 8);
  const std::size_t bytes = bpp * static_cast<std::size_t>(w);
  BYTE* first = buf.Row(r.Top) + bpp * static_cast<std::size_t>(r.Left);
  if (bpp == 1) {
    std::memset(first, static_cast<int>(pixel & 0xFF), bytes);
  } else {
    const BYTE one[4] = {static_cast<BYTE>(pixel), static_cast<BYTE>(pixel >> 8),
                         static_cast<BYTE>(pixel >> 16), static_cast<BYTE>(pixel >> 24)};
    std::memcpy(first, one, bpp);
    for (std::size_t done = bpp; done < bytes;) {
      const std::size_t n = std::min(done, bytes - done);
      std::memcpy(first + done, first, n);
      done += n;
    }
  }
  for (int y = r.Top + 1; y < r.Bottom; ++y)
    std::memcpy(buf.Row(y) + bpp * static_cast<std::size_t>(r.Left), first, bytes);
}

void BlendPixel(const TPixelBuffer& buf, const TRect& clip, int x, int y, TColor color, int alpha) {
  if (alpha <= 0) return;
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return;
  if (x < 0 || y < 0 || x >= buf.Width || y >= buf.Height) return;
  if (alpha >= 255) {
    WritePixel(buf, x, y, ColorToPixel(color, buf));
    return;
  }
  const COLORREF fg = static_cast<COLORREF>(ColorToRGB(color));
  const COLORREF bg = static_cast<COLORREF>(PixelToColor(ReadPixel(buf, x, y), buf));
  auto mix = [alpha](int f, int b) {
    return static_cast<DWORD>(b + ((f - b) * alpha + 127) / 255);
  };
  const DWORD r = mix(GetRValue(fg), GetRValue(bg));
  const DWORD g = mix(GetGValue(fg), GetGValue(bg));
  const DWORD b = mix(GetBValue(fg), GetBValue(bg));
  WritePixel(buf, x, y, EncodeRGB(r, g, b, buf));
}

bool StretchPixels(const TPixelBuffer& dst, const TRect& clip, int dx, int dy, int dw, int dh,
                   const TPixelBuffer& srcIn, int sx, int sy, int sw, int sh, DWORD rop) {
  if (!KnownRop(rop) || !dst.Usable()) return false;
  const bool readsSource = RopReadsSource(rop);
  if (readsSource && !srcIn.Usable()) return false;
  if (dw == 0 || dh == 0) return true;
  if (!readsSource) {
    sw = dw;
    sh = dh;
  }
  if (sw == 0 || sh == 0) return true;

  const bool mirrorX = (dw < 0) != (sw < 0);
  const bool mirrorY = (dh < 0) != (sh < 0);
  const std::int64_t adw = std::abs(static_cast<std::int64_t>(dw));
  const std::int64_t adh = std::abs(static_cast<std::int64_t>(dh));
  const std::int64_t asw = std::abs(static_cast<std::int64_t>(sw));
  const std::int64_t ash = std::abs(static_cast<std::int64_t>(sh));
  const std::int64_t dl = dw < 0 ? std::int64_t{dx} + dw : dx;
  const std::int64_t dt = dh < 0 ? std::int64_t{dy} + dh : dy;
  const std::int64_t sl = sw < 0 ? std::int64_t{sx} + sw : sx;
  const std::int64_t st = sh < 0 ? std::int64_t{sy} + sh : sy;

  auto clamp32 = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  };
  const TRect area = IntersectRects(
      IntersectRects({clamp32(dl), clamp32(dt), clamp32(dl + adw), clamp32(dt + adh)}, clip),
      dst.Bounds());
  if (RectIsEmpty(area)) return true;

  // Reading from the memory being written: work from a snapshot of the source.
  TPixelBuffer src = srcIn;
  std::vector<BYTE> snapshot;
  if (readsSource) {
    const BYTE *slo, *shi, *dlo, *dhi;
    Span(src, slo, shi);
    Span(dst, dlo, dhi);
    if (slo < dhi && dlo < shi) {
      snapshot.assign(slo, shi);
      src.Bits = snapshot.data() + (src.Row(0) - slo);
    }
  }

  // Source column of every destination column, -1 where it falls outside the source.
  std::vector<int> cols(area.Width());
  bool straight = !mirrorX && adw == asw;
  for (int x = area.Left; x < area.Right; ++x) {
    const std::int64_t i = x - dl;
    std::int64_t j = (2 * i + 1) * asw / (2 * adw);
    if (mirrorX) j = asw - 1 - j;
    const std::int64_t s = sl + j;
    const bool inside = !readsSource || (s >= 0 && s < src.Width);
    cols[x - area.Left] = inside ? static_cast<int>(s) : -1;
    if (!inside) straight = false;
  }

  Converter convert(readsSource ? src : dst, dst);
  const DWORD mask = PixelMask(dst);
  const DWORD black = ColorToPixel(clBlack, dst) & mask;
  const DWORD white = ColorToPixel(clWhite, dst) & mask;
  const bool rawRows =
      readsSource && straight && rop == SRCCOPY && convert.Identity && dst.BitCount >= 8;
  const int bytesPerPixel = dst.BitCount / 8;

  for (int y = area.Top; y < area.Bottom; ++y) {
    const std::int64_t i = y - dt;
    std::int64_t j = (2 * i + 1) * ash / (2 * adh);
    if (mirrorY) j = ash - 1 - j;
    const std::int64_t srow = st + j;
    if (readsSource && (srow < 0 || srow >= src.Height)) continue;
    if (rawRows) {
      BYTE* to = dst.Row(y) + area.Left * bytesPerPixel;
      const BYTE* from = src.Row(static_cast<int>(srow)) + cols[0] * bytesPerPixel;
      const int w = area.Width();
      if (bytesPerPixel == 4 && mask != 0xFFFFFFFFu) {
        // Bits of 32-bit pixels outside the channels (the spare byte) are always written as
        // zero; two pixels at a time.
        const std::uint64_t pair = (std::uint64_t{mask} << 32) | mask;
        int x = 0;
        for (; x + 2 <= w; x += 2) {
          std::uint64_t v;
          std::memcpy(&v, from + 4 * x, 8);
          v &= pair;
          std::memcpy(to + 4 * x, &v, 8);
        }
        if (x < w) {
          DWORD v;
          std::memcpy(&v, from + 4 * x, 4);
          v &= mask;
          std::memcpy(to + 4 * x, &v, 4);
        }
      } else {
        std::memcpy(to, from, static_cast<std::size_t>(w) * bytesPerPixel);
      }
      continue;
    }
    for (int x = area.Left; x < area.Right; ++x) {
      const int scol = cols[x - area.Left];
      if (scol < 0) continue;
      const DWORD s = readsSource ? convert(ReadPixel(src, scol, static_cast<int>(srow))) : 0;
      const DWORD d = rop == SRCCOPY ? 0 : ReadPixel(dst, x, y);
      WritePixel(dst, x, y, Combine(rop, s, d, black, white) & mask);
    }
  }
  return true;
}
