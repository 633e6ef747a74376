#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDraw.h"
#include "platform/win/ComPtr.h"

namespace {

using Surf7 = ComPtr<IDirectDrawSurface7>;

class D3DTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    d3d::ResetMachine();
    void* p = nullptr;
    ASSERT_EQ(DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr), DD_OK);
    DD7 = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(p));
    ASSERT_EQ(DD7->SetCooperativeLevel(0, DDSCL_NORMAL), DD_OK);
    ASSERT_EQ(DD7.As(IID_IDirect3D7, D3D7), S_OK);
  }
  void TearDown() override {
    D3D7.Reset();
    DD7.Reset();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
    ddraw::ResetMachine();
    d3d::ResetMachine();
  }

  // A surface of the given depth and capabilities.
  Surf7 Make(int w, int h, int bits, DWORD caps) {
    DDSURFACEDESC2 d;
    d.dwSize = kDDSurfaceDesc2Size;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddsCaps.dwCaps = caps;
    d.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
    d.ddpfPixelFormat.dwFlags = DDPF_RGB;
    d.ddpfPixelFormat.dwRGBBitCount = bits;
    if (bits == 8) {
      d.ddpfPixelFormat.dwFlags |= DDPF_PALETTEINDEXED8;
    } else if (bits == 16) {
      d.ddpfPixelFormat.dwRBitMask = 0xF800;
      d.ddpfPixelFormat.dwGBitMask = 0x07E0;
      d.ddpfPixelFormat.dwBBitMask = 0x001F;
    } else {
      d.ddpfPixelFormat.dwRBitMask = 0xFF0000;
      d.ddpfPixelFormat.dwGBitMask = 0xFF00;
      d.ddpfPixelFormat.dwBBitMask = 0xFF;
    }
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(DD7->CreateSurface(&d, &s, nullptr), DD_OK);
    return Surf7::Attach(s);
  }
  Surf7 Target(int bits = 32, DWORD memory = 0) {
    return Make(8, 8, bits, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | memory);
  }
  ComPtr<IDirect3DDevice7> Create(const GUID& guid, IDirectDrawSurface7* target,
                                  HRESULT expect = D3D_OK) {
    IDirect3DDevice7* dev = nullptr;
    EXPECT_EQ(D3D7->CreateDevice(guid, target, &dev), expect);
    if (expect != D3D_OK) {
      EXPECT_EQ(dev, nullptr);
    }
    return ComPtr<IDirect3DDevice7>::Attach(dev);
  }

  ComPtr<IDirectDraw7> DD7;
  ComPtr<IDirect3D7> D3D7;
};

struct Seen {
  std::string Name;
  D3DDEVICEDESC7 Desc;
};

HRESULT Collect7(char* description, char* name, D3DDEVICEDESC7* desc, void* context) {
  static_cast<std::vector<Seen>*>(context)->push_back({name, *desc});
  return D3DENUMRET_OK;
}

TEST_F(D3DTest, TheMachineOffersOneSoftwareRgbDevice) {
  std::vector<Seen> seen;
  ASSERT_EQ(D3D7->EnumDevices(Collect7, &seen), D3D_OK);
  ASSERT_EQ(seen.size(), 1u);
  const D3DDEVICEDESC7& d = seen[0].Desc;
  EXPECT_EQ(d.deviceGUID, IID_IDirect3DRGBDevice);
  EXPECT_FALSE(d.deviceGUID == IID_IDirect3DRefDevice);
  EXPECT_EQ(d.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION, 0u);
  EXPECT_TRUE(d.dwDeviceRenderBitDepth & DDBD_16);
  EXPECT_TRUE(d.dwDeviceRenderBitDepth & DDBD_32);
  EXPECT_FALSE(d.dwDeviceRenderBitDepth & DDBD_8);
  EXPECT_TRUE(d.dwDeviceZBufferBitDepth & DDBD_16);
  EXPECT_TRUE(d.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_TRANSPARENCY);
  EXPECT_TRUE(d.dpcTriCaps.dwTextureFilterCaps & D3DPTFILTERCAPS_LINEAR);

  // The DirectDraw driver reports the 3-D device and the surfaces it uses.
  DDCAPS caps;
  caps.dwSize = kDDCapsSize;
  ASSERT_EQ(DD7->GetCaps(&caps, nullptr), DD_OK);
  EXPECT_TRUE(caps.dwCaps & DDCAPS_3D);
  EXPECT_TRUE(caps.ddsCaps.dwCaps & DDSCAPS_TEXTURE);
  EXPECT_TRUE(caps.ddsCaps.dwCaps & DDSCAPS_ZBUFFER);
}

TEST_F(D3DTest, EveryVersionIsTheSameObjectOfItsDirectDraw) {
  ComPtr<IDirect3D3> d3 = nullptr;
  ComPtr<IDirect3D> d1 = nullptr;
  ASSERT_EQ(DD7.As(IID_IDirect3D3, d3), S_OK);
  ASSERT_EQ(D3D7.As(IID_IDirect3D, d1), S_OK);
  EXPECT_EQ(d3d::LiveDirect3DCount(), 1);
  // Back to DirectDraw from Direct3D.
  ComPtr<IDirectDraw7> back;
  ASSERT_EQ(d3.As(IID_IDirectDraw7, back), S_OK);
  EXPECT_EQ(back.Get(), DD7.Get());
  // A second DirectDraw object has a Direct3D object of its own.
  void* p = nullptr;
  ASSERT_EQ(DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr), DD_OK);
  auto other = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(p));
  ComPtr<IDirect3D7> otherD3D;
  ASSERT_EQ(other.As(IID_IDirect3D7, otherD3D), S_OK);
  EXPECT_NE(otherD3D.Get(), D3D7.Get());
  EXPECT_EQ(d3d::LiveDirect3DCount(), 2);
}

HRESULT Collect6(GUID* guid, char* description, char* name, D3DDEVICEDESC* hw, D3DDEVICEDESC* hel,
                 void* context) {
  static_cast<std::vector<std::pair<D3DDEVICEDESC, D3DDEVICEDESC>>*>(context)->push_back(
      {*hw, *hel});
  return D3DENUMRET_OK;
}

TEST_F(D3DTest, OlderVersionsDescribeEachDeviceByTheLayerThatRunsIt) {
  d3d::SetDevices({d3d::SoftwareDevice(), d3d::HardwareDevice()});
  ComPtr<IDirect3D3> d3;
  ASSERT_EQ(DD7.As(IID_IDirect3D3, d3), S_OK);
  std::vector<std::pair<D3DDEVICEDESC, D3DDEVICEDESC>> seen;
  ASSERT_EQ(d3->EnumDevices(Collect6, &seen), D3D_OK);
  ASSERT_EQ(seen.size(), 2u);
  // Software: an empty hardware description, an emulation one in RGB.
  EXPECT_EQ(seen[0].first.dwSize, kD3DDeviceDescSize);
  EXPECT_EQ(seen[0].first.dcmColorModel, 0u);
  EXPECT_EQ(seen[0].second.dcmColorModel, D3DCOLOR_RGB);
  // Hardware: the other way round, with the hardware flag.
  EXPECT_EQ(seen[1].first.dcmColorModel, D3DCOLOR_RGB);
  EXPECT_TRUE(seen[1].first.dwDevCaps & D3DDEVCAPS_HWRASTERIZATION);
  EXPECT_EQ(seen[1].second.dcmColorModel, 0u);
}

TEST_F(D3DTest, DevicesNeedASurfaceTheyCanDrawInto) {
  // No 3-D device capability.
  Surf7 plain = Make(8, 8, 32, DDSCAPS_OFFSCREENPLAIN);
  Create(IID_IDirect3DRGBDevice, plain.Get(), DDERR_INVALIDCAPS);
  // A depth the device does not render.
  Surf7 indexed = Target(8);
  Create(IID_IDirect3DRGBDevice, indexed.Get(), DDERR_INVALIDPIXELFORMAT);
  // A device the machine does not have.
  Surf7 target = Target(16);
  Create(IID_IDirect3DRefDevice, target.Get(), D3DERR_INVALID_DEVICE);
  // Hardware draws into video memory only.
  d3d::SetDevices({d3d::SoftwareDevice(), d3d::HardwareDevice()});
  Surf7 system = Target(32, DDSCAPS_SYSTEMMEMORY);
  Create(d3d::HardwareDevice().Guid, system.Get(), DDERR_INVALIDCAPS);
  EXPECT_TRUE(Create(IID_IDirect3DRGBDevice, system.Get()));
  EXPECT_TRUE(Create(d3d::HardwareDevice().Guid, target.Get()));
  // A lost surface.
  ddraw::MarkSurfacesLost(DD7.Get());
  Create(IID_IDirect3DRGBDevice, target.Get(), DDERR_SURFACELOST);
  EXPECT_EQ(d3d::LiveDeviceCount(), 0);
}

TEST_F(D3DTest, PlannedFailuresComeOneCreationAtATime) {
  Surf7 target = Target();
  d3d::FailCreateDevice(1);
  Create(IID_IDirect3DRGBDevice, target.Get(), DDERR_GENERIC);
  EXPECT_TRUE(Create(IID_IDirect3DRGBDevice, target.Get()));
  d3d::FailCreateDevice(2);
  Create(IID_IDirect3DRGBDevice, target.Get(), DDERR_GENERIC);
  Create(IID_IDirect3DRGBDevice, target.Get(), DDERR_GENERIC);
  EXPECT_TRUE(Create(IID_IDirect3DRGBDevice, target.Get()));
}

TEST_F(D3DTest, RenderAndStageStatesStartAsDocumentedAndReadBack) {
  Surf7 target = Target();
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  ASSERT_TRUE(dev);
  DWORD v = 99;
  ASSERT_EQ(dev->GetRenderState(D3DRENDERSTATE_ZENABLE, &v), D3D_OK);
  EXPECT_EQ(v, 0u);  // no depth buffer attached
  dev->GetRenderState(D3DRENDERSTATE_SRCBLEND, &v);
  EXPECT_EQ(v, D3DBLEND_ONE);
  dev->GetRenderState(D3DRENDERSTATE_DESTBLEND, &v);
  EXPECT_EQ(v, D3DBLEND_ZERO);
  ASSERT_EQ(dev->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, 1), D3D_OK);
  dev->GetRenderState(D3DRENDERSTATE_COLORKEYENABLE, &v);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(dev->SetRenderState(0, 1), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dev->SetRenderState(kD3DRenderStateCount, 1), DDERR_INVALIDPARAMS);
  EXPECT_EQ(dev->GetRenderState(D3DRENDERSTATE_ZENABLE, nullptr), DDERR_INVALIDPARAMS);

  dev->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, D3DTOP_MODULATE);
  dev->GetTextureStageState(1, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, D3DTOP_DISABLE);
  dev->GetTextureStageState(0, D3DTSS_MAGFILTER, &v);
  EXPECT_EQ(v, D3DTFG_POINT);
  ASSERT_EQ(dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR), D3D_OK);
  dev->GetTextureStageState(0, D3DTSS_MAGFILTER, &v);
  EXPECT_EQ(v, D3DTFG_LINEAR);
  dev->GetTextureStageState(1, D3DTSS_MAGFILTER, &v);
  EXPECT_EQ(v, D3DTFG_POINT);  // stages are separate
  EXPECT_EQ(dev->SetTextureStageState(kD3DTextureStageCount, D3DTSS_MAGFILTER, 1),
            DDERR_INVALIDPARAMS);
  EXPECT_EQ(dev->SetTextureStageState(0, kD3DTextureStageStateCount, 1), DDERR_INVALIDPARAMS);

  // The other versions see the same states.
  ComPtr<IDirect3DDevice3> dev3;
  ASSERT_EQ(dev.As(IID_IDirect3DDevice3, dev3), S_OK);
  dev3->GetRenderState(D3DRENDERSTATE_COLORKEYENABLE, &v);
  EXPECT_EQ(v, 1u);
}

TEST_F(D3DTest, AnAttachedDepthBufferTurnsDepthTestingOn) {
  Surf7 target = Target();
  DDSURFACEDESC2 d;
  d.dwSize = kDDSurfaceDesc2Size;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  d.dwWidth = d.dwHeight = 8;
  d.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
  d.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
  d.ddpfPixelFormat.dwFlags = DDPF_ZBUFFER;
  d.ddpfPixelFormat.dwZBufferBitDepth = 16;
  IDirectDrawSurface7* z = nullptr;
  ASSERT_EQ(DD7->CreateSurface(&d, &z, nullptr), DD_OK);
  Surf7 zbuf = Surf7::Attach(z);
  ASSERT_EQ(target->AddAttachedSurface(zbuf.Get()), DD_OK);
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  DWORD v = 0;
  dev->GetRenderState(D3DRENDERSTATE_ZENABLE, &v);
  EXPECT_EQ(v, 1u);
  // A depth buffer is no render target.
  EXPECT_EQ(dev->SetRenderTarget(zbuf.Get(), 0), DDERR_INVALIDCAPS);
}

TEST_F(D3DTest, RenderTargetsAndTexturesAreHeldByTheDevice) {
  Surf7 target = Target();
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  Surf7 second = Target(16);
  ASSERT_EQ(dev->SetRenderTarget(second.Get(), 0), D3D_OK);
  IDirectDrawSurface7* got = nullptr;
  ASSERT_EQ(dev->GetRenderTarget(&got), D3D_OK);
  EXPECT_EQ(got, second.Get());
  got->Release();
  EXPECT_EQ(dev->SetRenderTarget(Make(8, 8, 32, DDSCAPS_OFFSCREENPLAIN).Get(), 0),
            DDERR_INVALIDCAPS);

  Surf7 texture = Make(4, 4, 16, DDSCAPS_TEXTURE);
  EXPECT_EQ(dev->SetTexture(0, target.Get()), DDERR_INVALIDPARAMS);  // not a texture
  ASSERT_EQ(dev->SetTexture(0, texture.Get()), D3D_OK);
  EXPECT_EQ(dev->SetTexture(kD3DTextureStageCount, texture.Get()), DDERR_INVALIDPARAMS);
  // The device keeps both alive after their makers let go.
  second.Reset();
  texture.Reset();
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 3);
  ASSERT_EQ(dev->GetTexture(0, &got), D3D_OK);
  ASSERT_NE(got, nullptr);
  got->Release();
  ASSERT_EQ(dev->SetTexture(0, nullptr), D3D_OK);
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 2);
  dev.Reset();
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 1);
  // The device gets back to its Direct3D object.
  dev = Create(IID_IDirect3DRGBDevice, target.Get());
  IDirect3D7* d3d = nullptr;
  ASSERT_EQ(dev->GetDirect3D(&d3d), D3D_OK);
  EXPECT_EQ(d3d, D3D7.Get());
  d3d->Release();
}

HRESULT CollectFormat(DDPIXELFORMAT* format, void* context) {
  static_cast<std::vector<DDPIXELFORMAT>*>(context)->push_back(*format);
  return D3DENUMRET_OK;
}

TEST_F(D3DTest, EveryTextureFormatEnumeratedMakesATexture) {
  Surf7 target = Target();
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  std::vector<DDPIXELFORMAT> formats;
  ASSERT_EQ(dev->EnumTextureFormats(CollectFormat, &formats), D3D_OK);
  ASSERT_GE(formats.size(), 4u);
  bool alpha = false, palettized = false;
  for (const DDPIXELFORMAT& f : formats) {
    alpha |= (f.dwFlags & DDPF_ALPHAPIXELS) != 0;
    palettized |= (f.dwFlags & DDPF_PALETTEINDEXED8) != 0;
    DDSURFACEDESC2 d;
    d.dwSize = kDDSurfaceDesc2Size;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    d.dwWidth = d.dwHeight = 4;
    d.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
    d.ddpfPixelFormat = f;
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(DD7->CreateSurface(&d, &s, nullptr), DD_OK) << f.dwRGBBitCount;
    if (s) {
      EXPECT_EQ(dev->SetTexture(0, s), D3D_OK);
      s->Release();
    }
  }
  EXPECT_TRUE(alpha);
  EXPECT_TRUE(palettized);
}

TEST_F(D3DTest, CapabilityRecordsOfTheOlderVersionsAreChecked) {
  Surf7 target = Target();
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  ComPtr<IDirect3DDevice3> dev3;
  ASSERT_EQ(dev.As(IID_IDirect3DDevice3, dev3), S_OK);
  D3DDEVICEDESC hw, hel;
  EXPECT_EQ(dev3->GetCaps(&hw, &hel), DDERR_INVALIDPARAMS);  // unsized
  hw.dwSize = hel.dwSize = kD3DDeviceDescSize;
  ASSERT_EQ(dev3->GetCaps(&hw, &hel), D3D_OK);
  EXPECT_EQ(hw.dcmColorModel, 0u);
  EXPECT_EQ(hel.dcmColorModel, D3DCOLOR_RGB);
  EXPECT_EQ(hel.dpcTriCaps.dwSize, kD3DPrimCapsSize);
  D3DDEVICEDESC7 d7;
  ASSERT_EQ(dev->GetCaps(&d7), D3D_OK);
  EXPECT_EQ(d7.deviceGUID, IID_IDirect3DRGBDevice);
}

TEST_F(D3DTest, PrimitivesWithBadArgumentsAreRefused) {
  Surf7 target = Target();
  auto dev = Create(IID_IDirect3DRGBDevice, target.Get());
  float vertices[4 * 8] = {};
  const DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1;
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, fvf, vertices, 4, D3DDP_WAIT), D3D_OK);
  EXPECT_EQ(dev->DrawPrimitive(99, fvf, vertices, 4, 0), D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, fvf, nullptr, 4, 0), DDERR_INVALIDPARAMS);
}

}  // namespace
