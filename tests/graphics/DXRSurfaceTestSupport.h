// A fresh headless machine with a DirectDraw object on a 32-bit desktop, for tests that draw
// through the surfaces' blended drawing; at its end the proof that every surface was freed.
#pragma once

#include <gtest/gtest.h>

#include "framework/graphics/DXDraws.h"
#include "platform/backend/HeadlessBackend.h"

namespace dxrtest {

class DrawnSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    ddraw::SetDesktopFormat(32);
    DD = new TDirectDraw(nullptr);
    DD->IDraw()->SetCooperativeLevel(0, DDSCL_NORMAL);
  }
  void TearDown() override {
    delete DD;
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    ddraw::ResetMachine();
  }

  // A surface in system memory of the given depth: 8 indexed, 16 as 5-6-5, 32 as 8-8-8 with an
  // alpha byte when Alpha is set.
  TDirectDrawSurface* Make(int W, int H, int Bits = 32, bool Alpha = false) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = W;
    d.dwHeight = H;
    d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY;
    DDPIXELFORMAT& pf = d.ddpfPixelFormat;
    pf.dwSize = kDDPixelFormatSize;
    pf.dwFlags = DDPF_RGB;
    pf.dwRGBBitCount = Bits;
    if (Bits == 8) {
      pf.dwFlags |= DDPF_PALETTEINDEXED8;
    } else if (Bits == 16) {
      pf.dwRBitMask = 0xF800, pf.dwGBitMask = 0x07E0, pf.dwBBitMask = 0x1F;
    } else {
      pf.dwRBitMask = 0xFF0000, pf.dwGBitMask = 0xFF00, pf.dwBBitMask = 0xFF;
      if (Alpha) pf.dwFlags |= DDPF_ALPHAPIXELS, pf.dwRGBAlphaBitMask = 0xFF000000;
    }
    auto* s = new TDirectDrawSurface(DD);
    EXPECT_TRUE(s->CreateSurface(d));
    return s;
  }

  TDirectDraw* DD = nullptr;
};

}  // namespace dxrtest
