#include "framework/graphics/DXCommon.h"

#include "platform/rtl/SysUtils.h"

DWORD MakeRGBA(int R, int G, int B, int A) {
  return (static_cast<DWORD>(A) << 24) | (static_cast<DWORD>(R) << 16) |
         (static_cast<DWORD>(G) << 8) | static_cast<DWORD>(B);
}

DWORD MakeRGB(int R, int G, int B) {
  return (static_cast<DWORD>(R) << 16) | (static_cast<DWORD>(G) << 8) | static_cast<DWORD>(B);
}

namespace {
// The scaled component as the 32-bit integer the packing shifts. The product of a single and 255
// is exact in double precision, so only the rounding step decides the result.
DWORD ScaledComponent(float V) {
  const std::int64_t n = Round(static_cast<double>(V) * 255.0);
  if (n < INT32_MIN || n > INT32_MAX) throw EInvalidOp("Invalid floating point operation");
  return static_cast<DWORD>(static_cast<std::int32_t>(n));
}
}  // namespace

DWORD MakeRGBFloat(float R, float G, float B) {
  return 0xFF000000u | (ScaledComponent(R) << 16) | (ScaledComponent(G) << 8) | ScaledComponent(B);
}

bool RectsOverlap(const TRect& A, const TRect& B) {
  // The strict comparisons alone would call a zero-width rectangle lying inside another one
  // overlapping; an empty rectangle covers no pixel, so both must have positive area.
  if (A.Right <= A.Left || A.Bottom <= A.Top || B.Right <= B.Left || B.Bottom <= B.Top)
    return false;
  return A.Left < B.Right && B.Left < A.Right && A.Top < B.Bottom && B.Top < A.Bottom;
}

void MaskFPUExceptions() {}
