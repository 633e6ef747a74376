#include "platform/rtl/SysUtils.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/backend/Backend.h"

namespace {

const char* const SInvalidFormat = "Format '%s' invalid or incompatible with argument";
const char* const SArgumentMissing = "No argument for format '%s'";
const char* const SInvalidInteger = "'%s' is not a valid integer value";
const char* const SInvalidOp = "Invalid floating point operation";

// Widths and precisions beyond this are mistakes in the program's own format texts.
constexpr std::int64_t kMaxFieldWidth = 1 << 16;

[[noreturn]] void BadFormat(const std::string& fmt) {
  throw EConvertError(Format(SInvalidFormat, {fmt}));
}

std::string Pad(std::string s, std::int64_t width, bool left) {
  if (width > static_cast<std::int64_t>(s.size())) {
    const std::size_t fill = static_cast<std::size_t>(width) - s.size();
    if (left)
      s.append(fill, ' ');
    else
      s.insert(0, fill, ' ');
  }
  return s;
}

std::string Digits(std::uint64_t v, unsigned base, std::int64_t minDigits) {
  static const char* const kDigits = "0123456789ABCDEF";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v % base]);
    v /= base;
  } while (v != 0);
  if (minDigits > static_cast<std::int64_t>(s.size()))
    s.insert(0, static_cast<std::size_t>(minDigits) - s.size(), '0');
  return s;
}

// Integers that fit in 32 bits are the program's Integer values; their bit pattern is 32 bits.
std::uint64_t UnsignedPattern(std::int64_t v) {
  if (v < 0 && v >= INT32_MIN) return static_cast<std::uint32_t>(v);
  return static_cast<std::uint64_t>(v);
}

std::string NonFinite(double v) {
  if (std::isnan(v)) return "NAN";
  return v < 0 ? "-INF" : "INF";
}

// Mantissa digits (no dot) and decimal exponent of v with `prec` significant digits.
void DecimalDigits(double v, int prec, std::string& digits, int& exponent, bool& negative) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", prec - 1, v);
  std::string s = buf;
  negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  const std::size_t e = s.find('E');
  exponent = std::atoi(s.c_str() + e + 1);
  digits.clear();
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] != '.') digits += s[i];
}

std::string FormatExponent(double v, std::int64_t prec) {
  if (!std::isfinite(v)) return NonFinite(v);
  if (prec < 1) prec = 1;
  if (prec > 18) prec = 18;
  std::string digits;
  int exponent;
  bool negative;
  DecimalDigits(v, static_cast<int>(prec), digits, exponent, negative);
  std::string r = negative ? "-" : "";
  r += digits[0];
  if (digits.size() > 1) r += "." + digits.substr(1);
  char ebuf[16];
  std::snprintf(ebuf, sizeof ebuf, "E%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return r + ebuf;
}

std::string FormatGeneral(double v, std::int64_t prec) {
  if (!std::isfinite(v)) return NonFinite(v);
  if (prec < 1 || prec > 15) prec = 15;
  if (v == 0) return "0";
  std::string digits;
  int exponent;
  bool negative;
  DecimalDigits(v, static_cast<int>(prec), digits, exponent, negative);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string r = negative ? "-" : "";
  if (exponent >= prec || exponent < -5) {
    r += digits[0];
    if (digits.size() > 1) r += "." + digits.substr(1);
    r += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    r += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const std::size_t intDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      r += digits + std::string(intDigits - digits.size(), '0');
    } else {
      r += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
  }
  return r;
}

std::string FormatFixed(double v, std::int64_t prec, bool thousands) {
  if (!std::isfinite(v)) return NonFinite(v);
  if (prec > 18) prec = 18;
  std::vector<char> buf(400);
  std::snprintf(buf.data(), buf.size(), "%.*f", static_cast<int>(prec), v);
  std::string s = buf.data();
  if (!thousands) return s;
  const std::size_t start = (s[0] == '-') ? 1 : 0;
  std::size_t dot = s.find('.');
  if (dot == std::string::npos) dot = s.size();
  for (std::size_t i = dot; i > start + 3; i -= 3) s.insert(i - 3, ",");
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args) {
  const TVarRec* argv = args.begin();
  const std::int64_t argc = static_cast<std::int64_t>(args.size());
  std::int64_t next = 0;
  std::string out;
  const std::size_t n = fmt.size();
  std::size_t i = 0;

  auto takeArg = [&]() -> const TVarRec& {
    if (next >= argc) throw EConvertError(Format(SArgumentMissing, {fmt}));
    return argv[next++];
  };
  // Digits or "*" (from the next argument); -1 when neither is there.
  auto number = [&]() -> std::int64_t {
    if (i < n && fmt[i] == '*') {
      ++i;
      const TVarRec& a = takeArg();
      if (!std::holds_alternative<std::int64_t>(a)) BadFormat(fmt);
      const std::int64_t v = std::get<std::int64_t>(a);
      if (v > kMaxFieldWidth) BadFormat(fmt);
      return v < 0 ? 0 : v;
    }
    if (i >= n || !IsDigit(fmt[i])) return -1;
    std::int64_t v = 0;
    while (i < n && IsDigit(fmt[i])) {
      v = v * 10 + (fmt[i] - '0');
      if (v > kMaxFieldWidth) BadFormat(fmt);
      ++i;
    }
    return v;
  };

  while (i < n) {
    const char c = fmt[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i < n && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // An index, then flags, width and precision.
    std::int64_t width = number();
    if (i < n && fmt[i] == ':') {
      ++i;
      if (width < 0) width = 0;
      next = width;
      width = -1;
    }
    bool left = false;
    if (i < n && fmt[i] == '-') {
      left = true;
      ++i;
    }
    if (width < 0) width = number();
    std::int64_t prec = -1;
    if (i < n && fmt[i] == '.') {
      ++i;
      prec = number();
      if (prec < 0) prec = 0;
    }
    if (i >= n) BadFormat(fmt);
    const char type = fmt[i++];
    const TVarRec& arg = takeArg();
    std::string text;
    switch (type) {
      case 'd':
      case 'D': {
        if (!std::holds_alternative<std::int64_t>(arg)) BadFormat(fmt);
        const std::int64_t v = std::get<std::int64_t>(arg);
        const std::uint64_t mag =
            v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        text = (v < 0 ? "-" : "") + Digits(mag, 10, prec);
        break;
      }
      case 'u':
      case 'U':
        if (!std::holds_alternative<std::int64_t>(arg)) BadFormat(fmt);
        text = Digits(UnsignedPattern(std::get<std::int64_t>(arg)), 10, prec);
        break;
      case 'x':
      case 'X':
        if (!std::holds_alternative<std::int64_t>(arg)) BadFormat(fmt);
        text = Digits(UnsignedPattern(std::get<std::int64_t>(arg)), 16, prec);
        break;
      case 's':
      case 'S':
        if (!std::holds_alternative<std::string>(arg)) BadFormat(fmt);
        text = std::get<std::string>(arg);
        if (prec >= 0 && prec < static_cast<std::int64_t>(text.size()))
          text.resize(static_cast<std::size_t>(prec));
        break;
      case 'f':
      case 'F':
      case 'n':
      case 'N':
        if (!std::holds_alternative<double>(arg)) BadFormat(fmt);
        text = FormatFixed(std::get<double>(arg), prec < 0 ? 2 : prec, type == 'n' || type == 'N');
        break;
      case 'e':
      case 'E':
        if (!std::holds_alternative<double>(arg)) BadFormat(fmt);
        text = FormatExponent(std::get<double>(arg), prec < 0 ? 15 : prec);
        break;
      case 'g':
      case 'G':
        if (!std::holds_alternative<double>(arg)) BadFormat(fmt);
        text = FormatGeneral(std::get<double>(arg), prec < 0 ? 15 : prec);
        break;
      default:
        BadFormat(fmt);
    }
    out += Pad(std::move(text), width, left);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Integers and text

std::string IntToStr(std::int64_t Value) { return std::to_string(Value); }

std::string IntToHex(std::int64_t Value, int Digits) {
  return ::Digits(UnsignedPattern(Value), 16, Digits < 0 ? 0 : std::min(Digits, 64));
}

bool TryStrToInt(const std::string& S, std::int32_t& Value) {
  std::size_t i = 0;
  const std::size_t n = S.size();
  while (i < n && S[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (S[i] == '+' || S[i] == '-')) {
    negative = S[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (S[i] == '$' || S[i] == 'x' || S[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;  // nothing, or a prefix without digits
  std::uint64_t v = 0;
  for (; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    unsigned d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + d;
    // Leading zeros may make the text long; the value is what must stay in range.
    if (v > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    Value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
  } else if (negative) {
    if (v > 0x80000000ull) return false;
    Value = static_cast<std::int32_t>(-static_cast<std::int64_t>(v));
  } else {
    if (v > 0x7FFFFFFFull) return false;
    Value = static_cast<std::int32_t>(v);
  }
  return true;
}

std::int32_t StrToIntDef(const std::string& S, std::int32_t Default) {
  std::int32_t v;
  return TryStrToInt(S, v) ? v : Default;
}

std::int32_t StrToInt(const std::string& S) {
  std::int32_t v;
  if (!TryStrToInt(S, v)) throw EConvertError(Format(SInvalidInteger, {S}));
  return v;
}

namespace {
char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
char UpperByte(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

template <class Fold>
int CompareBytes(const std::string& a, const std::string& b, Fold fold) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = static_cast<unsigned char>(fold(a[i]));
    const int cb = static_cast<unsigned char>(fold(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}
}  // namespace

std::string UpperCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = UpperByte(c);
  return r;
}

std::string LowerCase(const std::string& S) {
  std::string r = S;
  for (char& c : r) c = LowerByte(c);
  return r;
}

std::string AnsiUpperCase(const std::string& S) { return UpperCase(S); }
std::string AnsiLowerCase(const std::string& S) { return LowerCase(S); }

int CompareText(const std::string& S1, const std::string& S2) {
  return CompareBytes(S1, S2, LowerByte);
}
int AnsiCompareText(const std::string& S1, const std::string& S2) { return CompareText(S1, S2); }
bool SameText(const std::string& S1, const std::string& S2) { return CompareText(S1, S2) == 0; }

int CompareStr(const std::string& S1, const std::string& S2) {
  return CompareBytes(S1, S2, [](char c) { return c; });
}
int AnsiCompareStr(const std::string& S1, const std::string& S2) { return CompareStr(S1, S2); }

std::string Trim(const std::string& S) {
  std::size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

// ---------------------------------------------------------------------------------------------
// Floating point to integer

namespace {
// 2^63 exactly; every long double at or beyond it (or at or below its negative minus one) is out
// of the 64-bit range.
constexpr long double kTwo63 = 9223372036854775808.0L;

std::int64_t CheckedToInt64(long double v) {
  if (std::isnan(v) || v >= kTwo63 || v < -kTwo63) throw EInvalidOp(SInvalidOp);
  return static_cast<std::int64_t>(v);
}
}  // namespace

std::int64_t Round(long double Value) { return CheckedToInt64(std::nearbyint(Value)); }

std::int64_t Trunc(long double Value) { return CheckedToInt64(std::trunc(Value)); }

// ---------------------------------------------------------------------------------------------
// Random numbers

std::uint32_t RandSeed = 0;

namespace {
std::uint32_t NextSeed() {
  RandSeed = RandSeed * 1664525u + 1013904223u;
  return RandSeed;
}
}  // namespace

void Randomize() {
  // Whole-program tests on the headless backend run on its virtual clock, so their "random"
  // choices repeat from run to run.
  if (backend::Backend::Installed() && backend::Backend::Current().IsHeadless()) {
    RandSeed = backend::Backend::Current().Milliseconds();
    return;
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  RandSeed = static_cast<std::uint32_t>(us ^ (us >> 32));
}

std::int32_t Random(std::int32_t N) {
  if (N <= 0) return 0;
  const std::uint64_t product =
      static_cast<std::uint64_t>(NextSeed()) * static_cast<std::uint32_t>(N);
  return static_cast<std::int32_t>(product >> 32);
}

double Random() { return NextSeed() / 4294967296.0; }

// ---------------------------------------------------------------------------------------------
// File names and files

namespace {
bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t AfterLastSeparator(const std::string& s) {
  for (std::size_t i = s.size(); i > 0; --i)
    if (IsSeparator(s[i - 1])) return i;
  return 0;
}

// Position of the extension's dot in the name part, or npos.
std::size_t ExtensionDot(const std::string& s) {
  const std::size_t nameStart = AfterLastSeparator(s);
  for (std::size_t i = s.size(); i > nameStart; --i)
    if (s[i - 1] == '.') return i - 1;
  return std::string::npos;
}

}  // namespace

std::string NativePathName(const std::string& FileName) {
  std::string r = FileName;
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

std::string ExtractFilePath(const std::string& FileName) {
  return FileName.substr(0, AfterLastSeparator(FileName));
}

std::string ExtractFileDir(const std::string& FileName) {
  std::size_t end = AfterLastSeparator(FileName);
  // Keep the separator of the root folder itself.
  if (end > 1) --end;
  return FileName.substr(0, end);
}

std::string ExtractFileName(const std::string& FileName) {
  return FileName.substr(AfterLastSeparator(FileName));
}

std::string ExtractFileExt(const std::string& FileName) {
  const std::size_t dot = ExtensionDot(FileName);
  return dot == std::string::npos ? std::string() : FileName.substr(dot);
}

std::string ChangeFileExt(const std::string& FileName, const std::string& Extension) {
  const std::size_t dot = ExtensionDot(FileName);
  return (dot == std::string::npos ? FileName : FileName.substr(0, dot)) + Extension;
}

bool FileExists(const std::string& FileName) {
  struct stat st;
  return !FileName.empty() && ::stat(NativePathName(FileName).c_str(), &st) == 0 &&
         !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Name) {
  struct stat st;
  return !Name.empty() && ::stat(NativePathName(Name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& FileName) {
  return !DirectoryExists(FileName) && ::unlink(NativePathName(FileName).c_str()) == 0;
}

bool RenameFile(const std::string& OldName, const std::string& NewName) {
  // A rename never replaces a file that is already there: it fails instead, so no file is lost.
  const std::string from = NativePathName(OldName), to = NativePathName(NewName);
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string ParamStr(int Index) {
  if (Index != 0) return std::string();
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  return std::string(buf.data(), static_cast<std::size_t>(n));
}
