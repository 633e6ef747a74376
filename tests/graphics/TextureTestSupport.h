// Hand-made texture streams and bitmap files for the texture tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win/WinTypes.h"
#include "support/Bytes.h"

namespace texture_test {

using ::Bytes;

// Writes "dxt:" streams chunk by chunk; groups get their sizes when they end.
class DXTWriter {
 public:
  DXTWriter() { B.Raw({'d', 'x', 't', ':', 0}).U32(0x100); }

  DXTWriter& Chunk(std::uint32_t type, const std::vector<BYTE>& payload) {
    return ChunkWithPadding(type, payload, 0);
  }
  // A chunk whose size covers `extra` bytes more than the payload.
  DXTWriter& ChunkWithPadding(std::uint32_t type, const std::vector<BYTE>& payload,
                              std::size_t extra) {
    B.U32(type).U32(static_cast<std::uint32_t>(payload.size() + extra));
    B.Data.insert(B.Data.end(), payload.begin(), payload.end());
    B.Zeros(extra);
    return *this;
  }
  DXTWriter& BeginGroup(std::uint32_t version = 0x100) {
    B.U32(2).U32(0);
    Open.push_back(B.Data.size());
    B.U32(version);
    return *this;
  }
  DXTWriter& EndGroup() {
    B.U32(1).U32(0);
    const std::size_t start = Open.back();
    Open.pop_back();
    const auto size = static_cast<std::uint32_t>(B.Data.size() - start);
    for (int i = 0; i < 4; ++i) B.Data[start - 4 + i] = static_cast<BYTE>(size >> (8 * i));
    return *this;
  }
  DXTWriter& End() {
    B.U32(0).U32(0);
    return *this;
  }
  DXTWriter& Name(const std::string& name) {
    return Chunk(0x104, std::vector<BYTE>(name.begin(), name.end()));
  }
  DXTWriter& Transparency(bool on, std::uint32_t colour) {
    return Chunk(0x105, Bytes().U8(on ? 1 : 0).U32(colour).Data);
  }
  DXTWriter& GroupInfo(std::int32_t kind, std::int32_t id) {
    return Chunk(
        0x103,
        Bytes().U32(static_cast<std::uint32_t>(kind)).U32(static_cast<std::uint32_t>(id)).Data);
  }
  DXTWriter& RGBHeader(std::uint32_t w, std::uint32_t h, std::uint32_t bits,
                       std::uint32_t widthBytes, std::uint32_t r, std::uint32_t g, std::uint32_t b,
                       std::uint32_t a) {
    Bytes p;
    p.U8(1).U32(w).U32(h).U32(bits).U32(widthBytes).U32(r).U32(g).U32(b).U32(a);
    return Chunk(0x101, p.Data);
  }
  DXTWriter& PaletteHeader(std::uint32_t w, std::uint32_t h, std::uint32_t bits,
                           std::uint32_t widthBytes, std::uint32_t indexMask,
                           std::uint32_t alphaMask, const std::vector<PALETTEENTRY>& palette) {
    Bytes p;
    p.U8(0).U32(w).U32(h).U32(bits).U32(widthBytes).U32(indexMask).U32(alphaMask);
    for (int i = 0; i < 256; ++i) {
      const PALETTEENTRY e = i < static_cast<int>(palette.size()) ? palette[i] : PALETTEENTRY{};
      p.U8(e.peRed).U8(e.peGreen).U8(e.peBlue).U8(e.peFlags);
    }
    return Chunk(0x101, p.Data);
  }
  // A pixel chunk of 32-bit pixels, rows packed one after another.
  DXTWriter& Pixels32(const std::vector<std::uint32_t>& pixels) {
    Bytes p;
    p.U32(0);
    for (std::uint32_t v : pixels) p.U32(v);
    return Chunk(0x102, p.Data);
  }
  DXTWriter& Rows(const std::vector<std::vector<BYTE>>& rows) {
    Bytes p;
    p.U32(0);
    for (const auto& row : rows) p.Data.insert(p.Data.end(), row.begin(), row.end());
    return Chunk(0x102, p.Data);
  }
  std::vector<BYTE> Data() const { return B.Data; }

  Bytes B;
  std::vector<std::size_t> Open;
};

}  // namespace texture_test
