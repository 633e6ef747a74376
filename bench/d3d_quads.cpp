// Textured quads of the software 3-D device covering a 512 x 448 32-bit target, with point and
// bilinear filtering, copied and alpha blended, against memcpy of the target's bytes in the same
// run; and the same quad turned by 32/256 of a turn about the target's centre (point copy, and
// bilinear alpha blended). The bytes/second counter counts the whole target for every row; the
// covered_px counter counts the pixels the drawing really writes (found once before timing, on
// a target filled with a colour no texel can give), so the turned quad, which covers only part
// of the target, is also compared per pixel written.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDraw.h"
#include "platform/win/ComPtr.h"

namespace {

constexpr int kW = 512, kH = 448, kTex = 256;
constexpr std::size_t kBytes = std::size_t{kW} * kH * 4;

struct Setup {
  ComPtr<IDirectDraw7> DD;
  ComPtr<IDirect3D7> D3D;
  ComPtr<IDirectDrawSurface7> Target, Texture;
  ComPtr<IDirect3DDevice7> Device;
  D3DTLVERTEX Quad[4];

  Setup() {
    backend::HeadlessBackend::InstallFresh();
    void* dd = nullptr;
    DirectDrawCreateEx(nullptr, &dd, IID_IDirectDraw7, nullptr);
    DD = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(dd));
    DD->SetCooperativeLevel(0, DDSCL_NORMAL);
    DD.As(IID_IDirect3D7, D3D);
    Target = Make(kW, kH, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
    Texture = Make(kTex, kTex, DDSCAPS_TEXTURE);
    DDSURFACEDESC2 d{};
    d.dwSize = kDDSurfaceDesc2Size;
    Texture->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
    for (int y = 0; y < kTex; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(static_cast<char*>(d.lpSurface) + y * d.lPitch);
      for (int x = 0; x < kTex; ++x) row[x] = 0x00406080u + static_cast<std::uint32_t>(x ^ y);
    }
    Texture->Unlock(nullptr);
    IDirect3DDevice7* device = nullptr;
    D3D->CreateDevice(IID_IDirect3DRGBDevice, Target.Get(), &device);
    Device = ComPtr<IDirect3DDevice7>::Attach(device);
    Device->SetTexture(0, Texture.Get());
    const float xs[4] = {-0.5f, kW - 0.5f, -0.5f, kW - 0.5f};
    const float ys[4] = {-0.5f, -0.5f, kH - 0.5f, kH - 0.5f};
    for (int i = 0; i < 4; ++i) {
      Quad[i].sx = xs[i], Quad[i].sy = ys[i], Quad[i].rhw = 1;
      Quad[i].color = 0x80FFFFFF;
      Quad[i].tu = (i & 1) ? 1.0f : 0.0f;
      Quad[i].tv = (i & 2) ? 1.0f : 0.0f;
    }
  }
  ComPtr<IDirectDrawSurface7> Make(int w, int h, DWORD caps) {
    DDSURFACEDESC2 d{};
    d.dwSize = kDDSurfaceDesc2Size;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = static_cast<DWORD>(w);
    d.dwHeight = static_cast<DWORD>(h);
    d.ddsCaps.dwCaps = caps | DDSCAPS_SYSTEMMEMORY;
    d.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
    d.ddpfPixelFormat.dwFlags = DDPF_RGB;
    d.ddpfPixelFormat.dwRGBBitCount = 32;
    d.ddpfPixelFormat.dwRBitMask = 0xFF0000;
    d.ddpfPixelFormat.dwGBitMask = 0xFF00;
    d.ddpfPixelFormat.dwBBitMask = 0xFF;
    IDirectDrawSurface7* s = nullptr;
    DD->CreateSurface(&d, &s, nullptr);
    return ComPtr<IDirectDrawSurface7>::Attach(s);
  }
  // The quad turned by Angle 256ths of a turn about the target's centre, as the accelerated
  // drawer turns its pictures.
  void Rotate(int angle) {
    const double theta = angle * 2 * std::numbers::pi / 256;
    const double e1x = std::cos(theta), e1y = std::sin(theta);
    const double e2x = -e1y, e2y = e1x;
    const double tlx = kW / 2.0 - kW / 2.0 * e1x - kH / 2.0 * e2x;
    const double tly = kH / 2.0 - kW / 2.0 * e1y - kH / 2.0 * e2y;
    for (int i = 0; i < 4; ++i) {
      const double w = (i & 1) ? kW : 0, h = (i & 2) ? kH : 0;
      Quad[i].sx = static_cast<float>(tlx + w * e1x + h * e2x);
      Quad[i].sy = static_cast<float>(tly + w * e1y + h * e2y);
    }
  }
  void Upright() {
    for (int i = 0; i < 4; ++i) {
      Quad[i].sx = (i & 1) ? kW - 0.5f : -0.5f;
      Quad[i].sy = (i & 2) ? kH - 0.5f : -0.5f;
    }
  }
  HRESULT DrawOnce() {
    return Device->DrawPrimitive(D3DPT_TRIANGLESTRIP,
                                 D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1,
                                 Quad, 4, D3DDP_WAIT);
  }
  // Calls Visit(pixel) for every pixel of the target, under a lock.
  template <class Visitor>
  void EachTargetPixel(Visitor Visit) {
    DDSURFACEDESC2 d{};
    d.dwSize = kDDSurfaceDesc2Size;
    Target->Lock(nullptr, &d, DDLOCK_WAIT, nullptr);
    for (int y = 0; y < kH; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(static_cast<char*>(d.lpSurface) + y * d.lPitch);
      for (int x = 0; x < kW; ++x) Visit(row[x]);
    }
    Target->Unlock(nullptr);
  }
  // The pixels one drawing writes: texels are far from white, and so is any blend of a texel
  // with white at the quad's alpha.
  std::int64_t Covered() {
    EachTargetPixel([](std::uint32_t& p) { p = 0xFFFFFFFFu; });
    DrawOnce();
    std::int64_t n = 0;
    EachTargetPixel([&n](std::uint32_t& p) { n += (p & 0xFFFFFF) != 0xFFFFFF; });
    return n;
  }
  void Draw(benchmark::State& state, bool linear, bool blend) {
    const DWORD filter = linear ? D3DTFG_LINEAR : D3DTFG_POINT;
    Device->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
    Device->SetTextureStageState(0, D3DTSS_MINFILTER, filter);
    Device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, blend ? TRUE_ : FALSE_);
    Device->SetRenderState(D3DRENDERSTATE_SRCBLEND, blend ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
    Device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    const std::int64_t covered = Covered();
    for (auto _ : state) {
      const HRESULT hr = DrawOnce();
      benchmark::DoNotOptimize(hr);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBytes));
    state.counters["covered_px"] = benchmark::Counter(
        static_cast<double>(covered), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["covered_share"] = static_cast<double>(covered) / (kW * kH);
  }
};

Setup& S() {
  static Setup s;
  return s;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<char> a(kBytes, 1), b(kBytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), kBytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kBytes));
  state.counters["covered_px"] = benchmark::Counter(static_cast<double>(kW) * kH,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Memcpy);

void BM_QuadPointCopy(benchmark::State& state) {
  S().Upright();
  S().Draw(state, false, false);
}
BENCHMARK(BM_QuadPointCopy);
void BM_QuadBilinearCopy(benchmark::State& state) {
  S().Upright();
  S().Draw(state, true, false);
}
BENCHMARK(BM_QuadBilinearCopy);
void BM_QuadBilinearAlpha(benchmark::State& state) {
  S().Upright();
  S().Draw(state, true, true);
}
BENCHMARK(BM_QuadBilinearAlpha);
void BM_QuadRotated32PointCopy(benchmark::State& state) {
  S().Rotate(32);
  S().Draw(state, false, false);
}
BENCHMARK(BM_QuadRotated32PointCopy);
void BM_QuadRotated32BilinearAlpha(benchmark::State& state) {
  S().Rotate(32);
  S().Draw(state, true, true);
}
BENCHMARK(BM_QuadRotated32BilinearAlpha);

}  // namespace

BENCHMARK_MAIN();
