// The renderer's blit layer: one machine shared by every drawing call, set up for a source
// surface read through one texture stage and blended onto the destination pixel, and the
// scaled and the rotated blits that drive it row by row.
#pragma once

#include <cstdint>

#include "framework/graphics/DXRMachine.h"
#include "platform/win/WinTypes.h"

// The blit layer's machine, made on first use and freed at the unit's shut-down.
TDXRMachine* DXRDefaultMachine();
void DXRFreeDefaultMachine();

// Compiles Blend(BlendOp, source texel, destination pixel) on the default machine, or takes the
// routine kept from an earlier compile of the same set-up. The source is read nearest, without
// wrapping, with Alpha shl 8 for every channel it lacks (so a source without alpha blends by
// Alpha, one with alpha by its own).
void DXRSetupBlendMachine(DXRSurface& Dest, DXRSurface& Src, DXRBlendOp BlendOp, int Alpha,
                          int StepU, int StepV, bool Transparent, DWORD ColorKey);

// A set-up equal to one compiled before runs the routine compiled then instead of compiling it
// again (the last few routines with a kernel are kept). The switch is for tests; the counts are
// of set-ups that reused a routine, and of those that had a kept one copied back into the
// machine (it held another).
void DXRSetBlendReuseEnabled(bool On);
std::uint64_t DXRBlendReuseCount();
std::uint64_t DXRBlendRestoreCount();

// Clips Rect to the destination's size; SkipX and SkipY are the columns and rows cut off at
// the left and the top. False when nothing is left.
bool DXRClipDestRect(const DXRSurface& Dest, TRect& Rect, int& SkipX, int& SkipY);

// Draws SrcRect of Src scaled onto DestRect of Dest.
void DXRBlendBlit(DXRSurface& Dest, DXRSurface& Src, const TRect& DestRect, const TRect& SrcRect,
                  DXRBlendOp BlendOp, int Alpha, bool Transparent, DWORD ColorKey);

// The destination rows and columns a rotated rectangle may cover, cut to the destination;
// false when that is empty.
bool DXRRotatedBounds(const DXRSurface& Dest, int X, int Y, int Width, int Height, double CenterX,
                      double CenterY, int Angle, TRect& Bounds);

// Draws SrcRect of Src as a Width x Height rectangle whose point (Width * CenterX,
// Height * CenterY) sits at (X, Y), turned by Angle 1/256 turns (clockwise on the screen).
void DXRBlendRotateBlit(DXRSurface& Dest, DXRSurface& Src, int X, int Y, int Width, int Height,
                        const TRect& SrcRect, double CenterX, double CenterY, int Angle,
                        DXRBlendOp BlendOp, int Alpha, bool Transparent, DWORD ColorKey);
