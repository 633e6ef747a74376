// Pixel memory described as a renderer surface, random pictures of it, and guards that restore
// the renderer's arithmetic option and its shared default machine after a test that changes
// them.
#pragma once

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <vector>

#include "framework/graphics/DXRKernel.h"
#include "framework/graphics/DXRender.h"

namespace dxrtest {

class TestPixels {
 public:
  // An RGB picture; Pitch 0 takes whole pixels rounded up to 4 bytes, a negative one stores the
  // rows bottom-up.
  static TestPixels RGB(int W, int H, int Bits, DWORD R, DWORD G, DWORD B, DWORD A = 0,
                        int Pitch = 0) {
    TestPixels p(W, H, Bits, Pitch);
    DXRSetRGBFormat(p.S, W, H, R, G, B, A, p.Pitch, p.Origin(), static_cast<DWORD>(Bits));
    return p;
  }
  static TestPixels XRGB32(int W, int H) { return RGB(W, H, 32, 0xFF0000, 0xFF00, 0xFF); }
  static TestPixels ARGB32(int W, int H) {
    return RGB(W, H, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
  }
  static TestPixels RGB565(int W, int H) { return RGB(W, H, 16, 0xF800, 0x07E0, 0x001F); }
  static TestPixels Indexed(int W, int H, int Bits) {
    TestPixels p(W, H, Bits, 0);
    DXRSetIndexedFormat(p.S, W, H, (DWORD{1} << Bits) - 1, 0, p.Pitch, p.Origin(),
                        static_cast<DWORD>(Bits));
    return p;
  }

  TestPixels(const TestPixels& o) : Mem(o.Mem), S(o.S), Pitch(o.Pitch), Rows(o.Rows) {
    S.Bits = Origin();
  }
  TestPixels& operator=(const TestPixels&) = delete;

  DWORD Get(int X, int Y) const {
    const BYTE* row = S.Bits + static_cast<std::ptrdiff_t>(Y) * Pitch;
    switch (S.BitCount) {
      case 1:
        return (row[X / 8] >> (7 - X % 8)) & 1;
      case 2:
        return (row[X / 4] >> (6 - 2 * (X % 4))) & 3;
      case 4:
        return X % 2 ? row[X / 2] & 15 : row[X / 2] >> 4;
      default: {
        DWORD v = 0;
        std::memcpy(&v, row + X * (S.BitCount / 8), S.BitCount / 8);
        return v;
      }
    }
  }
  void Set(int X, int Y, DWORD V) {
    BYTE* row = S.Bits + static_cast<std::ptrdiff_t>(Y) * Pitch;
    switch (S.BitCount) {
      case 1:
        row[X / 8] = static_cast<BYTE>((row[X / 8] & ~(0x80 >> X % 8)) | ((V & 1) << (7 - X % 8)));
        return;
      case 2:
        row[X / 4] = static_cast<BYTE>((row[X / 4] & ~(0xC0 >> 2 * (X % 4))) |
                                       ((V & 3) << (6 - 2 * (X % 4))));
        return;
      case 4:
        row[X / 2] = static_cast<BYTE>(X % 2 ? (row[X / 2] & 0xF0) | (V & 15)
                                             : (row[X / 2] & 0x0F) | ((V & 15) << 4));
        return;
      default:
        std::memcpy(row + X * (S.BitCount / 8), &V, S.BitCount / 8);
        return;
    }
  }
  void FillAll(DWORD V) {
    for (int y = 0; y < S.Height; ++y)
      for (int x = 0; x < S.Width; ++x) Set(x, y, V);
  }

  std::vector<BYTE> Mem;
  DXRSurface S;
  int Pitch;

 private:
  int Rows;

  TestPixels(int W, int H, int Bits, int P) : Rows(H) {
    const int natural = ((W * Bits + 7) / 8 + 3) & ~3;
    Pitch = P ? P : natural;
    const int stride = Pitch < 0 ? -Pitch : Pitch;
    Mem.assign(static_cast<std::size_t>(stride) * H + 8, 0);
  }
  BYTE* Origin() {
    return Pitch < 0 ? Mem.data() + static_cast<std::size_t>(-Pitch) * (Rows - 1) : Mem.data();
  }
};

// Switches the word arithmetic for the test's scope; false when the processor cannot have it.
class UseWords {
 public:
  explicit UseWords(bool On) : Saved(DXRUseMMX()) { DXRSetOption(1, On ? 1 : 0); }
  ~UseWords() { DXRSetOption(1, Saved ? 1 : 0); }
  bool Active() const { return DXRUseMMX(); }

 private:
  bool Saved;
};

// The default machine is shared by every test of the program, and its temporaries outlive
// every draw: what a test seeds there (and the kernel switches it turns) is put back when the
// guard goes, so that no later test starts from what this one left.
class KeepDefaultMachine {
 public:
  KeepDefaultMachine()
      : SavedKernels(DXRKernelsEnabled()), SavedVectors(DXRKernelVectorsEnabled()) {
    const TDXRMachine& m = *DXRDefaultMachine();
    std::copy(std::begin(m.Temporaries), std::end(m.Temporaries), std::begin(SavedTemporaries));
  }
  ~KeepDefaultMachine() {
    TDXRMachine& m = *DXRDefaultMachine();
    // The draws' surfaces are gone with the test.
    m.Reset();
    std::copy(std::begin(SavedTemporaries), std::end(SavedTemporaries), std::begin(m.Temporaries));
    DXRSetKernelsEnabled(SavedKernels);
    DXRSetKernelVectorsEnabled(SavedVectors);
  }
  KeepDefaultMachine(const KeepDefaultMachine&) = delete;
  KeepDefaultMachine& operator=(const KeepDefaultMachine&) = delete;

 private:
  DXRChannelGroup SavedTemporaries[TDXRMachine::MaxTemporaries];
  bool SavedKernels, SavedVectors;
};

// A picture of format F (anything with Indexed, Bits and the R, G, B, A masks) filled with
// random bytes, its palette too.
template <class Format>
TestPixels RandomPicture(const Format& F, int W, int H, std::mt19937& Rng) {
  TestPixels p = F.Indexed ? TestPixels::Indexed(W, H, F.Bits)
                           : TestPixels::RGB(W, H, F.Bits, F.R, F.G, F.B, F.A);
  for (BYTE& b : p.Mem) b = static_cast<BYTE>(Rng());
  for (auto& e : p.S.Palette)
    for (BYTE& b : e) b = static_cast<BYTE>(Rng());
  return p;
}

inline int Pick(std::mt19937& Rng, int Lo, int Hi) {
  return std::uniform_int_distribution<int>(Lo, Hi)(Rng);
}

inline DXRChannelGroup Group(WORD R, WORD G, WORD B, WORD A) {
  DXRChannelGroup g;
  g.W[0] = R;
  g.W[1] = G;
  g.W[2] = B;
  g.W[3] = A;
  return g;
}

// A group of plain 8-bit values (zero fractions).
inline DXRChannelGroup Bytes(unsigned R, unsigned G, unsigned B, unsigned A) {
  return Group(static_cast<WORD>(R << 8), static_cast<WORD>(G << 8), static_cast<WORD>(B << 8),
               static_cast<WORD>(A << 8));
}

}  // namespace dxrtest
