// What the canvas costs a frame: a full-screen fill, a 512 x 448 copy between formats, a
// picture drawn from an 8-bit DIB and the title's text, each beside memset/memcpy of the same
// bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "framework/graphics/DIB.h"
#include "platform/gdi/Canvas.h"

namespace {

constexpr int kW = 512, kH = 448;

struct Screen {
  Screen() : Memory(static_cast<std::size_t>(kW) * kH * 4, 0) {
    Buffer.Bits = Memory.data();
    Buffer.Pitch = kW * 4;
    Buffer.Width = kW;
    Buffer.Height = kH;
    Buffer.BitCount = 32;
    DC = CreateSurfaceDC(Buffer);
    Canvas.SetHandle(DC);
  }
  ~Screen() {
    Canvas.SetHandle(nullptr);
    DeleteDC(DC);
  }
  std::vector<BYTE> Memory;
  TPixelBuffer Buffer;
  HDC DC;
  TCanvas Canvas;
};

void BM_Memset(benchmark::State& state) {
  std::vector<BYTE> m(static_cast<std::size_t>(kW) * kH * 4);
  for (auto _ : state) {
    std::memset(m.data(), 0x5A, m.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(m.size()));
}
BENCHMARK(BM_Memset);

void BM_Memcpy(benchmark::State& state) {
  std::vector<BYTE> a(static_cast<std::size_t>(kW) * kH * 4, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.size()));
}
BENCHMARK(BM_Memcpy);

void BM_FillRect(benchmark::State& state) {
  Screen s;
  s.Canvas.Brush()->SetColor(0x123456);
  for (auto _ : state) {
    s.Canvas.FillRect({0, 0, kW, kH});
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_FillRect);

void BM_CopySameFormat(benchmark::State& state) {
  Screen a, b;
  for (auto _ : state) {
    b.Canvas.CopyRect({0, 0, kW, kH}, &a.Canvas, {0, 0, kW, kH});
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_CopySameFormat);

void BM_DrawIndexedDIB(benchmark::State& state) {
  Screen s;
  TDIB dib;
  dib.SetSize(kW, kH, 8);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) dib.SetPixels(x, y, static_cast<DWORD>(x ^ y));
  for (auto _ : state) {
    s.Canvas.Draw(0, 0, &dib);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_DrawIndexedDIB);

void BM_TitleText(benchmark::State& state) {
  Screen s;
  s.Canvas.Font()->SetName("Myriad Apple");
  s.Canvas.Font()->SetStyle({fsBold});
  s.Canvas.Font()->SetSize(80);
  s.Canvas.Brush()->SetColor(clWhite);
  for (auto _ : state) {
    s.Canvas.TextOut(80, 50, "iMorvane");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TitleText);

}  // namespace

BENCHMARK_MAIN();
