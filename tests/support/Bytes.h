// Little-endian byte building for hand-made files and streams in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "platform/win/WinTypes.h"

struct Bytes {
  std::vector<BYTE> Data;
  Bytes& U8(unsigned v) {
    Data.push_back(static_cast<BYTE>(v));
    return *this;
  }
  Bytes& U16(unsigned v) { return U8(v).U8(v >> 8); }
  Bytes& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& Raw(std::initializer_list<unsigned> bytes) {
    for (unsigned b : bytes) U8(b);
    return *this;
  }
  Bytes& Zeros(std::size_t n) {
    Data.insert(Data.end(), n, 0);
    return *this;
  }
  // A 40-byte bitmap info header.
  Bytes& Info(std::int32_t w, std::int32_t h, unsigned bits, unsigned compression = 0,
              std::uint32_t sizeImage = 0, std::uint32_t clrUsed = 0) {
    return U32(40)
        .U32(static_cast<std::uint32_t>(w))
        .U32(static_cast<std::uint32_t>(h))
        .U16(1)
        .U16(bits)
        .U32(compression)
        .U32(sizeImage)
        .U32(0)
        .U32(0)
        .U32(clrUsed)
        .U32(0);
  }
  // A 14-byte bitmap file header in front of `body`.
  static Bytes File(const Bytes& body, std::uint32_t offBits = 0) {
    Bytes f;
    f.Raw({'B', 'M'}).U32(14 + static_cast<std::uint32_t>(body.Data.size())).U32(0).U32(offBits);
    f.Data.insert(f.Data.end(), body.Data.begin(), body.Data.end());
    return f;
  }
};
