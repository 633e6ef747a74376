// The renderer's start-up state: the processor probe and the use-MMX option that picks the
// word arithmetic, the clamp tables of the byte arithmetic, the dither table, the cosine table
// of the 1/256-turn angles, and the 64-bit multiply-divide of the set-up code.
#pragma once

#include <cstdint>

#include "platform/win/WinTypes.h"

// Probes the processor and sets the use-MMX option to whether it has MMX.
void DetectCPUFeatures();
// Option 1 sets the use-MMX option to (Value <> 0 and the processor has MMX). Other options
// change nothing the renderer uses.
void DXRSetOption(int Option, int Value);
// The use-MMX option: routines compiled while it is on use the word arithmetic.
bool DXRUseMMX();
// How many times a switch that a compile reads (the use-MMX option, the kernel switches) has
// changed its value: a routine compiled at the same count was compiled under the same switches.
extern std::uint32_t DXRSwitchChanges;
void DXRNoteSwitchChange();
// What the probe found.
bool DXRProcessorHasMMX();

// Builds the clamp tables; builds the cosine table in extended precision.
void DXRBuildTables();
void DXRBuildCosTable();

// Upper clamp: entry i = min(i, 255) for i = 0 to 511.
extern BYTE DXRUpperClampTable[512];
// Lower clamp: entry i = max(i, 0) for i = -255 to 255, addressed through DXRLowerClamp so that
// index 0 is the table's 256th byte.
extern BYTE DXRLowerClampTable[511];
inline const BYTE* const DXRLowerClamp = DXRLowerClampTable + 255;

// The 2x2 ordered dither: [level][(X and 1) * 2 + (Y and 1)], 0 or 1.
extern const BYTE DXRDitherTable[4][4];

// cos(2 pi Angle / 256), and the sine as the cosine a quarter turn back.
double Cos256(BYTE Angle);
double Sin256(BYTE Angle);

// A * B div C with a 64-bit product and a division that truncates toward zero; the result is
// kept to 32 bits. C = 0 raises EDivByZero.
int MulDiv64(int A, int B, int C);

// The unit's start-up and shut-down, counted so that only the first start-up and the last
// shut-down act: probe, tables, the use-MMX option on; then the default machine is freed.
void DXRenderInitialize();
void DXRenderFinalize();
