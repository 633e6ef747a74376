#include "platform/ddraw/PixelFormat.h"

#include <bit>

namespace ddraw {

PixelFormat PixelFormat::Rgb(int bitCount, bool rgb555) {
  PixelFormat f;
  f.Flags = DDPF_RGB;
  f.BitCount = bitCount;
  switch (bitCount) {
    case 8:
      return Indexed(8);
    case 16:
      if (rgb555) {
        f.RMask = 0x7C00, f.GMask = 0x03E0, f.BMask = 0x001F;
      } else {
        f.RMask = 0xF800, f.GMask = 0x07E0, f.BMask = 0x001F;
      }
      break;
    default:
      f.BitCount = bitCount == 24 ? 24 : 32;
      f.RMask = 0xFF0000, f.GMask = 0x00FF00, f.BMask = 0x0000FF;
      break;
  }
  return f;
}

PixelFormat PixelFormat::Indexed(int bitCount) {
  PixelFormat f;
  f.BitCount = bitCount;
  f.Flags = DDPF_RGB;
  switch (bitCount) {
    case 1:
      f.Flags |= DDPF_PALETTEINDEXED1;
      break;
    case 2:
      f.Flags |= DDPF_PALETTEINDEXED2;
      break;
    case 4:
      f.Flags |= DDPF_PALETTEINDEXED4;
      break;
    default:
      f.BitCount = 8;
      f.Flags |= DDPF_PALETTEINDEXED8;
      break;
  }
  return f;
}

PixelFormat PixelFormat::Depth(int bitCount) {
  PixelFormat f;
  f.Flags = DDPF_ZBUFFER;
  f.BitCount = bitCount;
  f.GMask = bitCount >= 32 ? 0xFFFFFFFFu : ((1u << bitCount) - 1);
  return f;
}

int PixelFormat::IndexBits() const {
  if (Flags & DDPF_PALETTEINDEXED8) return 8;
  if (Flags & DDPF_PALETTEINDEXED4) return 4;
  if (Flags & DDPF_PALETTEINDEXED2) return 2;
  if (Flags & DDPF_PALETTEINDEXED1) return 1;
  return 0;
}

DWORD PixelFormat::ValueMask() const {
  if (IsIndexed()) return (1u << IndexBits()) - 1;
  if (IsDepth()) return GMask;
  return RMask | GMask | BMask | AMask;
}

bool PixelFormat::FromDD(const DDPIXELFORMAT& pf, PixelFormat& out) {
  if (pf.dwSize != kDDPixelFormatSize) return false;
  PixelFormat f;
  f.Flags = pf.dwFlags & (DDPF_ALPHAPIXELS | DDPF_PALETTEINDEXED1 | DDPF_PALETTEINDEXED2 |
                          DDPF_PALETTEINDEXED4 | DDPF_PALETTEINDEXED8 | DDPF_RGB | DDPF_ZBUFFER);
  f.BitCount = static_cast<int>(pf.dwRGBBitCount);
  if (f.IsDepth()) {
    if (f.BitCount != 16 && f.BitCount != 24 && f.BitCount != 32) return false;
    out = Depth(f.BitCount);
    if (pf.dwZBitMask != 0) out.GMask = pf.dwZBitMask;
    return true;
  }
  if (!(f.Flags & DDPF_RGB)) return false;
  if (const int index = f.IndexBits()) {
    // One index size only, and the bit count must say the same.
    if (std::popcount(f.Flags & (DDPF_PALETTEINDEXED1 | DDPF_PALETTEINDEXED2 |
                                 DDPF_PALETTEINDEXED4 | DDPF_PALETTEINDEXED8)) != 1 ||
        f.BitCount != index)
      return false;
    out = Indexed(index);
    return true;
  }
  if (f.BitCount != 16 && f.BitCount != 24 && f.BitCount != 32) return false;
  f.RMask = pf.dwRBitMask, f.GMask = pf.dwGBitMask, f.BMask = pf.dwBBitMask;
  f.AMask = (f.Flags & DDPF_ALPHAPIXELS) ? pf.dwRGBAlphaBitMask : 0;
  const std::uint64_t limit = (std::uint64_t{1} << f.BitCount) - 1;
  const DWORD masks[] = {f.RMask, f.GMask, f.BMask, f.AMask};
  DWORD seen = 0;
  for (DWORD m : masks) {
    if (m > limit || (m & seen)) return false;  // outside the pixel, or overlapping
    seen |= m;
  }
  if (f.RMask == 0 || f.GMask == 0 || f.BMask == 0) return false;
  out = f;
  return true;
}

void PixelFormat::ToDD(DDPIXELFORMAT& pf) const {
  pf = DDPIXELFORMAT{};
  pf.dwSize = kDDPixelFormatSize;
  pf.dwFlags = Flags;
  pf.dwRGBBitCount = static_cast<DWORD>(BitCount);
  if (IsDepth()) {
    pf.dwZBitMask = GMask;
    return;
  }
  pf.dwRBitMask = RMask;
  pf.dwGBitMask = GMask;
  pf.dwBBitMask = BMask;
  pf.dwRGBAlphaBitMask = AMask;
}

namespace {

// The 8-bit value of one channel, its top bits repeated into the low ones when it is narrower.
std::uint32_t Channel8(DWORD pixel, DWORD mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int width = std::popcount(mask);
  std::uint32_t v = (pixel & mask) >> shift;
  if (width >= 8) return v >> (width - 8);
  std::uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << width) | v;
    filled += width;
  }
  return out >> (filled - 8);
}

}  // namespace

std::uint32_t PixelToRgb(DWORD pixel, const PixelFormat& fmt, const PALETTEENTRY* palette) {
  if (fmt.IsIndexed()) {
    if (!palette) return 0;
    const PALETTEENTRY& e = palette[pixel & fmt.ValueMask()];
    return (std::uint32_t{e.peRed} << 16) | (std::uint32_t{e.peGreen} << 8) | e.peBlue;
  }
  if (fmt.IsDepth()) return 0;
  return (Channel8(pixel, fmt.RMask) << 16) | (Channel8(pixel, fmt.GMask) << 8) |
         Channel8(pixel, fmt.BMask);
}

}  // namespace ddraw
