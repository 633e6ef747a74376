// Exceptions and small conversions the framework takes from its class library.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <variant>
#include <initializer_list>

// One argument of Format: typed, so user text is only ever an argument, never a format.
using TVarRec = std::variant<std::int64_t, double, std::string>;

// Class-library style formatting: %s, %d, %x, %X, %u, %f, %g, %e, %.Nd and widths, %%.
// A mismatched or missing argument raises EConvertError rather than reading garbage.
std::string Format(const std::string& fmt, std::initializer_list<TVarRec> args);

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  // The class name as the class library reports it ("EFOpenError").
  virtual const char* ClassName() const { return "Exception"; }
  std::string Message;
};

#define MORVANE_DECLARE_EXCEPTION(Name, Base)                         \
  class Name : public Base {                                          \
   public:                                                            \
    using Base::Base;                                                 \
    const char* ClassName() const override { return #Name; }          \
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
