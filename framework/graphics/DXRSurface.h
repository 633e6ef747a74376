// How the software renderer sees pixels: the channel group every pixel is decoded into, the
// channel records that take a channel out of a raw pixel and put it back, and a locked surface
// described by its format, size, rows and (for indexed pictures) palette.
#pragma once

#include <cstdint>

#include "platform/ddraw/DDraw.h"
#include "platform/win/WinTypes.h"

// Four unsigned words in the order R, G, B, A. The 8-bit value of a channel is the high byte of
// its word; the low byte is a fraction below it, so a plain colour value is written as v shl 8.
struct DXRChannelGroup {
  WORD W[4] = {0, 0, 0, 0};

  friend bool operator==(const DXRChannelGroup&, const DXRChannelGroup&) = default;
};

// Channel-mask bits, and the word index of each channel in a group.
constexpr BYTE DXR_CHANNEL_R = 1, DXR_CHANNEL_G = 2, DXR_CHANNEL_B = 4, DXR_CHANNEL_A = 8;
constexpr BYTE DXR_CHANNELS_RGB = 7, DXR_CHANNELS_ALL = 15;
constexpr int DXR_WORD_R = 0, DXR_WORD_G = 1, DXR_WORD_B = 2, DXR_WORD_A = 3;

// The group of all zeros, shared by every machine (absent operands, destination defaults).
extern const DXRChannelGroup DXRZeroGroup;

// One colour or index channel of a pixel format. A channel's value is
// ((pixel and Mask) shr RightShift) shl LeftShift: a colour channel's top 8 bits aligned to the
// top of a byte, an index channel's palette index.
struct DXRChannel {
  DWORD Mask = 0;
  DWORD BitCount = 0;
  DWORD RightShift = 0;
  DWORD LeftShift = 0;
};

constexpr BYTE DXR_COLORTYPE_INDEXED = 0, DXR_COLORTYPE_RGB = 1;

// A locked surface as the renderer reads and writes it.
struct DXRSurface {
  BYTE ColorType = DXR_COLORTYPE_INDEXED;
  int Width = 0;
  int Height = 0;
  DWORD WidthShift = 0;   // HighBitIndex(Width)
  DWORD HeightShift = 0;  // HighBitIndex(Height)
  DWORD WrapWidth = 0;    // the largest power of two not above Width
  DWORD WrapHeight = 0;
  DWORD WidthMask = 0;   // Width - 1: the wrapping fetch's column mask
  DWORD HeightMask = 0;  // WrapHeight - 1: the wrapping fetch's row mask
  DWORD BitCount = 0;    // 1, 2, 4, 8, 16, 24 or 32
  BYTE* Bits = nullptr;  // pixel (0, 0)
  LONG Pitch = 0;        // bytes from one row to the next; negative for bottom-up rows
  DWORD PitchShift = 0;  // HighBitIndex(abs(Pitch))
  // RGB: R, G, B, A. Indexed: the index channel, then the alpha channel; the other two stay
  // empty.
  DXRChannel Channels[4];
  // Indexed surfaces decode through this: byte 0 red, 1 green, 2 blue (byte 3 is not read).
  BYTE Palette[256][4] = {};

  DXRChannel& IndexChannel() { return Channels[0]; }
  const DXRChannel& IndexChannel() const { return Channels[0]; }
  const DXRChannel& AlphaChannel() const {
    return ColorType == DXR_COLORTYPE_RGB ? Channels[3] : Channels[1];
  }
};

// Bit helpers of the format set-up. LowBitIndex: the lowest set bit among bits 0 to 30, or 31
// when none is. HighBitIndex: the highest set bit among bits 31 down to 1, or 0 when none is
// (so 0 and 1 both give 0). PopCount: the number of set bits.
DWORD LowBitIndex(DWORD A);
DWORD HighBitIndex(DWORD A);
DWORD PopCount(DWORD A);

// One channel record of Mask; an index channel keeps its palette index unscaled.
DXRChannel DXRSetChannel(DWORD Mask, bool IsIndex);
// Clear R and describe an indexed or RGB surface in it. The palette stays zero.
void DXRSetIndexedFormat(DXRSurface& R, int Width, int Height, DWORD IndexMask, DWORD AlphaMask,
                         LONG Pitch, void* Bits, DWORD BitCount);
void DXRSetRGBFormat(DXRSurface& R, int Width, int Height, DWORD RMask, DWORD GMask, DWORD BMask,
                     DWORD AMask, LONG Pitch, void* Bits, DWORD BitCount);

// Locks the whole surface and describes it in R. On failure R is left as it was and false comes
// back; on success R is cleared first, so an indexed surface's palette is all zero.
bool DXRLockSurfaceDesc(IDirectDrawSurface* Surface, DDSURFACEDESC& Desc, DXRSurface& R);
bool DXRLockSurface(IDirectDrawSurface* Surface, DXRSurface& R);
void DXRUnlockSurface(IDirectDrawSurface* Surface, const DXRSurface& R);

// The channels a surface has: indexed 7 with an index mask, plus 8 with an alpha mask; RGB one
// bit for every non-zero channel mask. Inline: every compile asks it several times.
inline BYTE DXRSurfaceChannels(const DXRSurface& S) {
  if (S.ColorType == DXR_COLORTYPE_INDEXED)
    return static_cast<BYTE>((S.Channels[0].Mask ? DXR_CHANNELS_RGB : 0) |
                             (S.Channels[1].Mask ? DXR_CHANNEL_A : 0));
  return static_cast<BYTE>((S.Channels[0].Mask ? 1 : 0) | (S.Channels[1].Mask ? 2 : 0) |
                           (S.Channels[2].Mask ? 4 : 0) | (S.Channels[3].Mask ? 8 : 0));
}
// Same format: both indexed with equal index and alpha masks, or both RGB with equal masks.
// Bit count and palette are not compared.
bool DXRFormatsEqual(const DXRSurface& A, const DXRSurface& B);
