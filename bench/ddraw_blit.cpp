// Fills and blits of a 512 x 448 32-bit surface, the game's drawing surface, against memset and
// memcpy of the same number of bytes in the same run. Compare the bytes/second counters.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "framework/graphics/DXDraws.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/ddraw/DDraw.h"
#include "platform/win/ComPtr.h"

namespace {

constexpr int kW = 512, kH = 448;
constexpr std::size_t kBytes = std::size_t{kW} * kH * 4;

struct Setup {
  ComPtr<IDirectDraw> DD;
  ComPtr<IDirectDrawSurface> Dst, Src;

  Setup() {
    backend::HeadlessBackend::InstallFresh();
    IDirectDraw* dd = nullptr;
    DirectDrawCreate(nullptr, &dd, nullptr);
    DD = ComPtr<IDirectDraw>::Attach(dd);
    DD->SetCooperativeLevel(0, DDSCL_NORMAL);
    Dst = Make();
    Src = Make();
    // A sprite sheet of sorts: every third run of 8 pixels is the key colour.
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    Src->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
    for (int y = 0; y < kH; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(static_cast<char*>(d.lpSurface) + y * d.lPitch);
      for (int x = 0; x < kW; ++x) row[x] = ((x / 8 + y) % 3 == 0) ? 0 : 0x00406080 + x;
    }
    Src->Unlock(nullptr);
    DDCOLORKEY key{0, 0};
    Src->SetColorKey(DDCKEY_SRCBLT, &key);
  }
  ComPtr<IDirectDrawSurface> Make() {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.dwWidth = kW;
    d.dwHeight = kH;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
    IDirectDrawSurface* s = nullptr;
    DD->CreateSurface(&d, &s, nullptr);
    return ComPtr<IDirectDrawSurface>::Attach(s);
  }
};

Setup& S() {
  static Setup s;
  return s;
}

void BM_Memset(benchmark::State& state) {
  std::vector<char> buf(kBytes);
  for (auto _ : state) {
    std::memset(buf.data(), static_cast<int>(state.iterations() & 0x7F), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<char> a(kBytes, 1), b(kBytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), kBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_Fill(benchmark::State& state) {
  DDBLTFX fx{};
  fx.dwSize = kDDBltFXSize;
  for (auto _ : state) {
    fx.dwFillColor = static_cast<DWORD>(state.iterations());
    S().Dst->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_BltFast(benchmark::State& state) {
  for (auto _ : state) {
    S().Dst->BltFast(0, 0, S().Src.Get(), nullptr, DDBLTFAST_WAIT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

void BM_BltFastKeyed(benchmark::State& state) {
  for (auto _ : state) {
    S().Dst->BltFast(0, 0, S().Src.Get(), nullptr, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

// The framework's colour-keyed drawing of the whole sheet, as sprites are drawn.
void BM_DrawKeyed(benchmark::State& state) {
  S();
  TDirectDraw dd(nullptr);
  dd.IDraw()->SetCooperativeLevel(0, DDSCL_NORMAL);
  TDirectDrawSurface dst(&dd), src(&dd);
  dst.SetSize(kW, kH);
  src.SetIDDSurface(S().Src.Get());
  src.SetTransparentColor(0);
  for (auto _ : state) {
    dst.Draw(0, 0, src.ClientRect(), &src, true);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}

}  // namespace

BENCHMARK(BM_Memset);
BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Fill);
BENCHMARK(BM_BltFast);
BENCHMARK(BM_BltFastKeyed);
BENCHMARK(BM_DrawKeyed);

BENCHMARK_MAIN();
