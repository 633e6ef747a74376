// Hand-made bitmap bodies read as whole files, as the pictures' readers meet them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/graphics/DIB.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"
#include "support/Bytes.h"

// Reads a body (no file header) into a new TDIB, with the file header put in front of it.
inline std::unique_ptr<TDIB> ReadDibBody(const Bytes& Body) {
  auto dib = std::make_unique<TDIB>();
  const Bytes file = Bytes::File(Body);
  TMemoryStream s;
  s.WriteBuffer(file.Data.data(), static_cast<std::int64_t>(file.Data.size()));
  s.SetPosition(0);
  dib->LoadFromStream(&s);
  return dib;
}

// The class and message of what reading the body raises ("no error" when nothing).
inline std::string DibErrorOf(const Bytes& Body) {
  try {
    ReadDibBody(Body);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "no error";
}
