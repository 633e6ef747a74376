#include "framework/graphics/DXRSurface.h"

#include <bit>
#include <cstdlib>

const DXRChannelGroup DXRZeroGroup{};

DWORD LowBitIndex(DWORD A) {
  for (DWORD i = 0; i <= 30; ++i)
    if (A & (DWORD{1} << i)) return i;
  return 31;
}

DWORD HighBitIndex(DWORD A) {
  for (DWORD i = 31; i >= 1; --i)
    if (A & (DWORD{1} << i)) return i;
  return 0;
}

DWORD PopCount(DWORD A) { return static_cast<DWORD>(std::popcount(A)); }

DXRChannel DXRSetChannel(DWORD Mask, bool IsIndex) {
  DXRChannel c;
  c.Mask = Mask;
  c.BitCount = PopCount(Mask);
  if (IsIndex) {
    c.RightShift = LowBitIndex(Mask);
    c.LeftShift = 0;
    return c;
  }
  // Shift the channel so that its top bits land at the top of a byte; narrower channels keep
  // zero low bits (5-bit 0x1F decodes to 0xF8).
  const int s = static_cast<int>(LowBitIndex(Mask)) + static_cast<int>(c.BitCount) - 8;
  if (s < 0) {
    c.RightShift = 0;
    c.LeftShift = static_cast<DWORD>(-s);
  } else {
    c.RightShift = static_cast<DWORD>(s);
    c.LeftShift = 0;
  }
  return c;
}

namespace {

void SetCommon(DXRSurface& R, int Width, int Height, LONG Pitch, void* Bits, DWORD BitCount) {
  R.Width = Width;
  R.Height = Height;
  R.WidthShift = HighBitIndex(static_cast<DWORD>(Width));
  R.HeightShift = HighBitIndex(static_cast<DWORD>(Height));
  R.WrapWidth = DWORD{1} << R.WidthShift;
  R.WrapHeight = DWORD{1} << R.HeightShift;
  R.WidthMask = static_cast<DWORD>(Width) - 1;
  R.HeightMask = R.WrapHeight - 1;
  R.BitCount = BitCount;
  R.Bits = static_cast<BYTE*>(Bits);
  R.Pitch = Pitch;
  R.PitchShift = HighBitIndex(static_cast<DWORD>(std::labs(Pitch)));
}

}  // namespace

void DXRSetIndexedFormat(DXRSurface& R, int Width, int Height, DWORD IndexMask, DWORD AlphaMask,
                         LONG Pitch, void* Bits, DWORD BitCount) {
  R = DXRSurface{};
  R.ColorType = DXR_COLORTYPE_INDEXED;
  SetCommon(R, Width, Height, Pitch, Bits, BitCount);
  R.Channels[0] = DXRSetChannel(IndexMask, true);
  R.Channels[1] = DXRSetChannel(AlphaMask, false);
}

void DXRSetRGBFormat(DXRSurface& R, int Width, int Height, DWORD RMask, DWORD GMask, DWORD BMask,
                     DWORD AMask, LONG Pitch, void* Bits, DWORD BitCount) {
  R = DXRSurface{};
  R.ColorType = DXR_COLORTYPE_RGB;
  SetCommon(R, Width, Height, Pitch, Bits, BitCount);
  R.Channels[0] = DXRSetChannel(RMask, false);
  R.Channels[1] = DXRSetChannel(GMask, false);
  R.Channels[2] = DXRSetChannel(BMask, false);
  R.Channels[3] = DXRSetChannel(AMask, false);
}

bool DXRLockSurfaceDesc(IDirectDrawSurface* Surface, DDSURFACEDESC& Desc, DXRSurface& R) {
  if (!Surface) return false;
  Desc.dwSize = kDDSurfaceDescSize;
  if (Surface->Lock(nullptr, &Desc, DDLOCK_WAIT, nullptr) != DD_OK) return false;
  const DDPIXELFORMAT& pf = Desc.ddpfPixelFormat;
  constexpr DWORD kIndexed =
      DDPF_PALETTEINDEXED1 | DDPF_PALETTEINDEXED2 | DDPF_PALETTEINDEXED4 | DDPF_PALETTEINDEXED8;
  const int w = static_cast<int>(Desc.dwWidth), h = static_cast<int>(Desc.dwHeight);
  if (pf.dwFlags & kIndexed) {
    const DWORD bits = pf.dwRGBBitCount;
    const DWORD index = bits >= 32 ? 0xFFFFFFFFu : (DWORD{1} << bits) - 1;
    DXRSetIndexedFormat(R, w, h, index, 0, Desc.lPitch, Desc.lpSurface, bits);
  } else {
    const DWORD alpha = (pf.dwFlags & DDPF_ALPHAPIXELS) ? pf.dwRGBAlphaBitMask : 0;
    DXRSetRGBFormat(R, w, h, pf.dwRBitMask, pf.dwGBitMask, pf.dwBBitMask, alpha, Desc.lPitch,
                    Desc.lpSurface, pf.dwRGBBitCount);
  }
  return true;
}

bool DXRLockSurface(IDirectDrawSurface* Surface, DXRSurface& R) {
  DDSURFACEDESC desc;
  return DXRLockSurfaceDesc(Surface, desc, R);
}

void DXRUnlockSurface(IDirectDrawSurface* Surface, const DXRSurface& R) {
  if (Surface) Surface->Unlock(R.Bits);
}

bool DXRFormatsEqual(const DXRSurface& A, const DXRSurface& B) {
  if (A.ColorType != B.ColorType) return false;
  const int n = A.ColorType == DXR_COLORTYPE_INDEXED ? 2 : 4;
  if (A.ColorType != DXR_COLORTYPE_INDEXED && A.ColorType != DXR_COLORTYPE_RGB) return false;
  for (int k = 0; k < n; ++k)
    if (A.Channels[k].Mask != B.Channels[k].Mask) return false;
  return true;
}
