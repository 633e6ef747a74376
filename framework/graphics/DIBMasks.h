// The colour masks of a bit-field bitmap as its file gives them. Images keep their pixels with
// red above green above blue; a file may place the same channels anywhere in the pixel, so its
// pixels are moved channel by channel into the kept layout as it is read.
#pragma once

#include "platform/win/WinTypes.h"

struct TDIBPixelFormat;

// Whether red, green and blue masks (zero ones aside) each are one run of bits, share no bit,
// and lie within a pixel of bitCount bits.
bool DIBMasksDescribeALayout(const DWORD (&masks)[3], int bitCount);

// Whether the masks are exactly those of `kept`, so that the pixels need no moving.
bool DIBMasksAre(const DWORD (&masks)[3], const TDIBPixelFormat& kept);

// Moves every pixel of a store of `rows` rows (widthBytes apart, width pixels of bitCount 16,
// 24 or 32 bits) from the file's masks into the layout of `kept`, whose channels are as wide as
// the file's. Bits no mask names come out as 0.
void MoveDIBChannels(BYTE* bits, int width, int rows, int widthBytes, int bitCount,
                     const DWORD (&masks)[3], const TDIBPixelFormat& kept);
