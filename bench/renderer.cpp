// The software renderer drawing a 256 x 256 32-bit picture at alpha 128 onto another, against a
// plain loop computing the same blend and against memcpy of the same bytes, all in the same run.
// Compare the bytes/second counters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/graphics/DXRender.h"

namespace {

constexpr int kW = 256, kH = 256;
constexpr std::size_t kBytes = std::size_t{kW} * kH * 4;

struct Pictures {
  std::vector<std::uint32_t> Src, Dst;
  DXRSurface S, D;

  Pictures() : Src(kW * kH), Dst(kW * kH) {
    for (int i = 0; i < kW * kH; ++i) {
      Src[i] = 0x00406080u + static_cast<std::uint32_t>(i * 2654435761u >> 8 & 0xFFFF);
      Dst[i] = 0x00A08060u ^ static_cast<std::uint32_t>(i);
    }
    DXRSetRGBFormat(S, kW, kH, 0xFF0000, 0xFF00, 0xFF, 0, kW * 4, Src.data(), 32);
    DXRSetRGBFormat(D, kW, kH, 0xFF0000, 0xFF00, 0xFF, 0, kW * 4, Dst.data(), 32);
  }
};

Pictures& Shared() {
  static Pictures p;
  return p;
}

void Count(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// The baseline: memory bandwidth for the same number of bytes.
void BM_Memcpy(benchmark::State& state) {
  Pictures& p = Shared();
  for (auto _ : state) {
    std::memcpy(p.Dst.data(), p.Src.data(), kBytes);
    benchmark::ClobberMemory();
  }
  Count(state);
}
BENCHMARK(BM_Memcpy);

// What a hand-written loop does for the same blend: each channel l * a + r * (255 - a), over
// 256, with no conversion and no tree.
void BM_ReferenceAlphaLoop(benchmark::State& state) {
  Pictures& p = Shared();
  const std::uint32_t a = 128, b = 255 - a;
  for (auto _ : state) {
    const std::uint32_t* s = p.Src.data();
    std::uint32_t* d = p.Dst.data();
    for (int i = 0; i < kW * kH; ++i) {
      const std::uint32_t l = s[i], r = d[i];
      const std::uint32_t red = (((l >> 16) & 255) * a + ((r >> 16) & 255) * b) >> 8;
      const std::uint32_t green = (((l >> 8) & 255) * a + ((r >> 8) & 255) * b) >> 8;
      const std::uint32_t blue = ((l & 255) * a + (r & 255) * b) >> 8;
      d[i] = (red << 16) | (green << 8) | blue;
    }
    benchmark::ClobberMemory();
  }
  Count(state);
}
BENCHMARK(BM_ReferenceAlphaLoop);

void BlendBlit(benchmark::State& state, DXRBlendOp Op, bool Words) {
  Pictures& p = Shared();
  DXRSetOption(1, Words ? 1 : 0);
  const TRect all{0, 0, kW, kH};
  for (auto _ : state) {
    DXRBlendBlit(p.D, p.S, all, all, Op, 128, false, 0);
    benchmark::ClobberMemory();
  }
  DXRSetOption(1, 1);
  Count(state);
}

void BM_RendererAlpha(benchmark::State& state) { BlendBlit(state, DXR_BLEND_ALPHA, true); }
BENCHMARK(BM_RendererAlpha);

// Saturating add, in the word and the byte arithmetic.
void BM_RendererAddWords(benchmark::State& state) { BlendBlit(state, DXR_BLEND_ADD, true); }
BENCHMARK(BM_RendererAddWords);
void BM_RendererAddBytes(benchmark::State& state) { BlendBlit(state, DXR_BLEND_ADD, false); }
BENCHMARK(BM_RendererAddBytes);

// Same formats, opaque: raw texels copied.
void BM_RendererCopy(benchmark::State& state) { BlendBlit(state, DXR_BLEND_LEFT, true); }
BENCHMARK(BM_RendererCopy);

// A turned copy at alpha 128 of the same picture, about its middle.
void BM_RendererRotateAlpha(benchmark::State& state) {
  Pictures& p = Shared();
  const TRect all{0, 0, kW, kH};
  for (auto _ : state) {
    DXRBlendRotateBlit(p.D, p.S, kW / 2, kH / 2, kW, kH, all, 0.5, 0.5, 20, DXR_BLEND_ALPHA, 128,
                       false, 0);
    benchmark::ClobberMemory();
  }
  Count(state);
}
BENCHMARK(BM_RendererRotateAlpha);

}  // namespace

BENCHMARK_MAIN();
