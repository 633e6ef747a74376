// Small helpers shared by the whole graphics framework: colour packing, integer min/max and the
// rectangle overlap test.
#pragma once

#include <cstdint>

#include "platform/win/WinTypes.h"

// A shl 24 or R shl 16 or G shl 8 or B; the components are expected in 0..255 and not masked.
DWORD MakeRGBA(int R, int G, int B, int A);
// R shl 16 or G shl 8 or B, alpha byte 0.
DWORD MakeRGB(int R, int G, int B);
// Opaque ($FF000000) with each component scaled by 255 and rounded to the nearest integer, halves
// to even. Components are expected in 0..1 and not clamped; one that is not a number, or so far
// out that its scaled value leaves the 32-bit range, raises EInvalidOp.
DWORD MakeRGBFloat(float R, float G, float B);

// The larger (smaller) of two integers; A when they are equal.
inline int IntMax(int A, int B) { return B > A ? B : A; }
inline int IntMin(int A, int B) { return B < A ? B : A; }

// True when the two half-open rectangles share at least one pixel. Rectangles that only touch do
// not overlap, and an empty rectangle (zero or negative width or height) overlaps nothing, not
// even when it lies inside the other one.
bool RectsOverlap(const TRect& A, const TRect& B);

// Masks invalid-operation and division-by-zero traps for the frame code. Doubles run on SSE here
// and the process never enables floating-point traps, so there is nothing to mask: frame code
// checks for those cases itself and raises EZeroDivide / EInvalidOp / EOverflow.
void MaskFPUExceptions();
