// The editor's arithmetic traps: a result that leaves the signed 32-bit range raises
// EIntOverflow, a value stored into a field that cannot hold it raises ERangeError, and real
// values become integers by cutting toward zero, after their range has been checked.
#pragma once

#include <cstdint>

namespace Tessaly {

std::int32_t CheckedAdd(std::int32_t A, std::int32_t B);
std::int32_t CheckedSub(std::int32_t A, std::int32_t B);
std::int32_t CheckedMul(std::int32_t A, std::int32_t B);
// Cuts toward zero; B = 0 raises EDivByZero.
std::int32_t CheckedDiv(std::int32_t A, std::int32_t B);
// Cuts toward zero; NaN and values whose integer part lies outside the signed 32-bit range raise
// ERangeError.
std::int32_t TruncToInt32(long double Value);
// A value for a byte field: 0 to 255, else ERangeError.
std::uint8_t ToByte(std::int32_t Value);

}  // namespace Tessaly
