// Exceptions and small conversions the framework takes from its class library.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>

// One argument of Format: typed, so user text is only ever an argument, never a format.
using TVarRec = std::variant<std::int64_t, double, std::string>;

// Class-library style formatting. A directive is
//   "%" [index ":"] ["-"] [width] ["." precision] type
// with width, precision and index given as digits or "*" (taken from the next argument), and
// the types d (integer; the precision is a minimum digit count, "%.5d" of 42 gives "00042"),
// u (unsigned), x / X (hexadecimal, upper-case digits either way, the precision again a minimum
// digit count), s (string; the precision cuts it), f, e, g, n (floating point: fixed, exponent,
// shortest, fixed with thousands separators) and "%%". Integers that fit in 32 bits are taken
// as 32-bit values by u and x, so a negative HRESULT prints as its eight hex digits.
// A bad directive, a missing argument or one of the wrong kind raises EConvertError instead of
// reading garbage; user text is only ever an argument.
std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  // The class name as the class library reports it ("EFOpenError").
  virtual const char* ClassName() const { return "Exception"; }
  std::string Message;
};

#define MORVANE_DECLARE_EXCEPTION(Name, Base)                \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  };

MORVANE_DECLARE_EXCEPTION(EAbort, Exception)
MORVANE_DECLARE_EXCEPTION(EConvertError, Exception)
MORVANE_DECLARE_EXCEPTION(EListError, Exception)
MORVANE_DECLARE_EXCEPTION(EStringListError, Exception)
MORVANE_DECLARE_EXCEPTION(EOutOfMemory, Exception)
MORVANE_DECLARE_EXCEPTION(EInvalidPointer, Exception)
MORVANE_DECLARE_EXCEPTION(EInvalidOperation, Exception)
MORVANE_DECLARE_EXCEPTION(EInvalidGraphic, Exception)
MORVANE_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception)
MORVANE_DECLARE_EXCEPTION(EComponentError, Exception)
MORVANE_DECLARE_EXCEPTION(EIntfCastError, Exception)
MORVANE_DECLARE_EXCEPTION(EClassNotFound, Exception)
MORVANE_DECLARE_EXCEPTION(EMCIDeviceError, Exception)
// Arithmetic
MORVANE_DECLARE_EXCEPTION(EIntError, Exception)
MORVANE_DECLARE_EXCEPTION(EIntOverflow, EIntError)
MORVANE_DECLARE_EXCEPTION(ERangeError, EIntError)
MORVANE_DECLARE_EXCEPTION(EDivByZero, EIntError)
MORVANE_DECLARE_EXCEPTION(EMathError, Exception)
MORVANE_DECLARE_EXCEPTION(EZeroDivide, EMathError)
MORVANE_DECLARE_EXCEPTION(EInvalidOp, EMathError)
MORVANE_DECLARE_EXCEPTION(EOverflow, EMathError)
// Streams and files
MORVANE_DECLARE_EXCEPTION(EStreamError, Exception)
MORVANE_DECLARE_EXCEPTION(EFCreateError, EStreamError)
MORVANE_DECLARE_EXCEPTION(EFOpenError, EStreamError)
MORVANE_DECLARE_EXCEPTION(EFilerError, EStreamError)
MORVANE_DECLARE_EXCEPTION(EReadError, EFilerError)
MORVANE_DECLARE_EXCEPTION(EWriteError, EFilerError)
MORVANE_DECLARE_EXCEPTION(EInOutError, Exception)

// ---------------------------------------------------------------------------------------------
// Integers and text

std::string IntToStr(std::int64_t Value);
// Upper-case hexadecimal with at least Digits digits. Negative values that fit in 32 bits are
// written as their 32-bit pattern ("FFFFFFFF" for -1), wider ones as their 64-bit pattern.
std::string IntToHex(std::int64_t Value, int Digits);
// Raises EConvertError "'%s' is not a valid integer value" when S does not convert.
std::int32_t StrToInt(const std::string& S);
// A field converts when it is, after leading blanks (byte 32 only), an optional sign followed by
// decimal digits in the signed 32-bit range, or by a hexadecimal number introduced by "$", "x",
// "X", "0x" or "0X" whose value fits in 32 bits (read as a signed 32-bit pattern; a sign in
// front of it has no effect). Anything else (empty, stray or trailing characters, a prefix
// without digits, a decimal out of range) gives Default.
std::int32_t StrToIntDef(const std::string& S, std::int32_t Default);
// The same rules; false (and Value untouched) when S does not convert.
bool TryStrToInt(const std::string& S, std::int32_t& Value);

// ASCII case rules: only A..Z and a..z change; other bytes (UTF-8 included) stay as they are.
std::string UpperCase(const std::string& S);
std::string LowerCase(const std::string& S);
std::string AnsiUpperCase(const std::string& S);
std::string AnsiLowerCase(const std::string& S);
// <0, 0, >0 comparing the lower-cased bytes as unsigned values.
int CompareText(const std::string& S1, const std::string& S2);
int AnsiCompareText(const std::string& S1, const std::string& S2);
bool SameText(const std::string& S1, const std::string& S2);
// Case-sensitive comparison of the bytes as unsigned values.
int CompareStr(const std::string& S1, const std::string& S2);
int AnsiCompareStr(const std::string& S1, const std::string& S2);
std::string Trim(const std::string& S);

// ---------------------------------------------------------------------------------------------
// Floating point to integer

// Nearest integer, halves to the even neighbour (under the default rounding mode). A value that
// is not a number or lies outside the 64-bit range raises EInvalidOp.
std::int64_t Round(long double Value);
// Cut toward zero; the same range rule.
std::int64_t Trunc(long double Value);

// ---------------------------------------------------------------------------------------------
// Random numbers
//
// A 32-bit linear congruential generator: RandSeed := RandSeed * 1664525 + 1013904223 (mod 2^32)
// before every draw. Random(N) is the high 32 bits of the 64-bit product of the new seed and N,
// so it lies in 0..N-1 (0 for N <= 0); Random() is the new seed / 2^32, in [0, 1). Tests set
// RandSeed directly to get a known sequence.

extern std::uint32_t RandSeed;
// Seeds from the time of day; on the headless backend, from its virtual clock.
void Randomize();
std::int32_t Random(std::int32_t N);
double Random();

// ---------------------------------------------------------------------------------------------
// File names and files
//
// Both "\" and "/" separate folders in the names the programs build; opening a file turns
// "\" into "/".

// Everything up to and including the last separator ("" when there is none).
std::string ExtractFilePath(const std::string& FileName);
// The folder without its trailing separator.
std::string ExtractFileDir(const std::string& FileName);
// Everything after the last separator.
std::string ExtractFileName(const std::string& FileName);
// From the last "." of the name part on, dot included ("" when the name has none).
std::string ExtractFileExt(const std::string& FileName);
// Replaces the extension (from the last "." of the name part) with Extension, or appends it.
std::string ChangeFileExt(const std::string& FileName, const std::string& Extension);
// The path as this system spells it: "\\" becomes "/".
std::string NativePathName(const std::string& FileName);
// True for an existing file that is not a folder.
bool FileExists(const std::string& FileName);
bool DirectoryExists(const std::string& Name);
bool DeleteFile(const std::string& FileName);
bool RenameFile(const std::string& OldName, const std::string& NewName);
// Index 0: the full path of the running program; the programs take no other arguments, so any
// other index gives "".
std::string ParamStr(int Index);
