#include "framework/graphics/DIBMasks.h"

#include <bit>
#include <cstdint>

#include "framework/graphics/DIB.h"

namespace {

bool OneRun(DWORD mask) {
  const DWORD run = mask >> std::countr_zero(mask);
  return (run & (run + 1)) == 0;
}

int LowBit(DWORD mask) { return mask ? std::countr_zero(mask) : 0; }

}  // namespace

bool DIBMasksDescribeALayout(const DWORD (&masks)[3], int bitCount) {
  DWORD seen = 0;
  for (DWORD m : masks) {
    if (m == 0) continue;
    if (!OneRun(m) || (seen & m) != 0) return false;
    if (bitCount < 32 && (m >> bitCount) != 0) return false;
    seen |= m;
  }
  return true;
}

bool DIBMasksAre(const DWORD (&masks)[3], const TDIBPixelFormat& kept) {
  return masks[0] == static_cast<DWORD>(kept.RBitMask) &&
         masks[1] == static_cast<DWORD>(kept.GBitMask) &&
         masks[2] == static_cast<DWORD>(kept.BBitMask);
}

void MoveDIBChannels(BYTE* bits, int width, int rows, int widthBytes, int bitCount,
                     const DWORD (&masks)[3], const TDIBPixelFormat& kept) {
  const int bytes = bitCount / 8;
  const DWORD to[3] = {static_cast<DWORD>(kept.RBitMask), static_cast<DWORD>(kept.GBitMask),
                       static_cast<DWORD>(kept.BBitMask)};
  int from[3], into[3];
  for (int c = 0; c < 3; ++c) from[c] = LowBit(masks[c]), into[c] = LowBit(to[c]);
  for (int r = 0; r < rows; ++r) {
    BYTE* p = bits + static_cast<std::ptrdiff_t>(r) * widthBytes;
    for (int x = 0; x < width; ++x, p += bytes) {
      DWORD v = 0;
      for (int i = 0; i < bytes; ++i) v |= DWORD{p[i]} << (8 * i);
      DWORD out = 0;
      for (int c = 0; c < 3; ++c) out |= (((v & masks[c]) >> from[c]) << into[c]) & to[c];
      for (int i = 0; i < bytes; ++i) p[i] = static_cast<BYTE>(out >> (8 * i));
    }
  }
}
