#include "editor/Arith.h"

#include <cmath>
#include <limits>

#include "platform/rtl/SysUtils.h"

namespace Tessaly {

namespace {
[[noreturn]] void Overflow() { throw EIntOverflow("Integer overflow"); }
[[noreturn]] void OutOfRange() { throw ERangeError("Range check error"); }
}  // namespace

std::int32_t CheckedAdd(std::int32_t A, std::int32_t B) {
  std::int32_t r;
  if (__builtin_add_overflow(A, B, &r)) Overflow();
  return r;
}

std::int32_t CheckedSub(std::int32_t A, std::int32_t B) {
  std::int32_t r;
  if (__builtin_sub_overflow(A, B, &r)) Overflow();
  return r;
}

std::int32_t CheckedMul(std::int32_t A, std::int32_t B) {
  std::int32_t r;
  if (__builtin_mul_overflow(A, B, &r)) Overflow();
  return r;
}

std::int32_t CheckedDiv(std::int32_t A, std::int32_t B) {
  if (B == 0) throw EDivByZero("Division by zero");
  if (A == std::numeric_limits<std::int32_t>::min() && B == -1) Overflow();
  return A / B;
}

std::int32_t TruncToInt32(long double Value) {
  if (std::isnan(Value)) OutOfRange();
  const long double t = std::trunc(Value);
  if (t < static_cast<long double>(std::numeric_limits<std::int32_t>::min()) ||
      t > static_cast<long double>(std::numeric_limits<std::int32_t>::max()))
    OutOfRange();
  return static_cast<std::int32_t>(t);
}

std::uint8_t ToByte(std::int32_t Value) {
  if (Value < 0 || Value > 255) OutOfRange();
  return static_cast<std::uint8_t>(Value);
}

}  // namespace Tessaly
