// What the tests of the software 3-D device's drawers stand on: a fresh headless machine with one
// DirectDraw 7 object, surfaces in system memory made on it (and at the end the proof that every
// one was freed), the vertex the drawer's quads are made of, and the device's states at creation.
#pragma once

#include <gtest/gtest.h>

#include <array>

#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDraw.h"
#include "platform/ddraw/DDrawObjects.h"
#include "platform/win/ComPtr.h"

namespace d3dtest {

using Surf7 = ComPtr<IDirectDrawSurface7>;

// A pixel format of the given depth and masks; an alpha mask marks the format as having alpha.
inline DDPIXELFORMAT RgbFormat(int Bits, DWORD R, DWORD G, DWORD B, DWORD A = 0) {
  DDPIXELFORMAT f{};
  f.dwSize = kDDPixelFormatSize;
  f.dwFlags = DDPF_RGB | (A ? DDPF_ALPHAPIXELS : 0);
  f.dwRGBBitCount = static_cast<DWORD>(Bits);
  f.dwRBitMask = R, f.dwGBitMask = G, f.dwBBitMask = B, f.dwRGBAlphaBitMask = A;
  return f;
}
inline DDPIXELFORMAT Indexed8Format() {
  DDPIXELFORMAT f{};
  f.dwSize = kDDPixelFormatSize;
  f.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED8;
  f.dwRGBBitCount = 8;
  return f;
}

class DirectDraw7Test : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    void* p = nullptr;
    ASSERT_EQ(DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr), DD_OK);
    DD7 = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(p));
    ASSERT_EQ(DD7->SetCooperativeLevel(0, DDSCL_NORMAL), DD_OK);
  }
  // A fixture that keeps surfaces of its own releases them before this runs.
  void TearDown() override {
    DD7.Reset();
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    ddraw::ResetMachine();
  }

  Surf7 MakeSurface(int W, int H, const DDPIXELFORMAT& Format, DWORD Caps) {
    DDSURFACEDESC2 d{};
    d.dwSize = kDDSurfaceDesc2Size;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = static_cast<DWORD>(W);
    d.dwHeight = static_cast<DWORD>(H);
    d.ddsCaps.dwCaps = Caps | DDSCAPS_SYSTEMMEMORY;
    d.ddpfPixelFormat = Format;
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(DD7->CreateSurface(&d, &s, nullptr), DD_OK);
    return Surf7::Attach(s);
  }
  static ddraw::PixelStore& StoreOf(const Surf7& S) {
    return ddraw::Surface::From(S.Get())->Store();
  }

  ComPtr<IDirectDraw7> DD7;
};

// A transformed and lit vertex with both colours and one pair of texture coordinates.
struct Vtx {
  float X, Y, Z, Rhw;
  DWORD Diffuse, Specular;
  float U, V;
};
constexpr DWORD kFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;

// The device's states at creation.
struct States {
  std::array<DWORD, kD3DRenderStateCount> Render{};
  std::array<DWORD, kD3DTextureStageStateCount> Stage{};
  States() {
    Render[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
    Render[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
    Stage[D3DTSS_COLOROP] = D3DTOP_MODULATE;
    Stage[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    Stage[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    Stage[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
    Stage[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    Stage[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    Stage[D3DTSS_MAGFILTER] = D3DTFG_POINT;
    Stage[D3DTSS_MINFILTER] = D3DTFN_POINT;
  }
};

}  // namespace d3dtest
