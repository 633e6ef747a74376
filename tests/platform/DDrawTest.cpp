#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/ddraw/DDraw.h"
#include "platform/gdi/Gdi.h"
#include "platform/win/ComPtr.h"
#include "platform/win/Libraries.h"

namespace {

using Surf = ComPtr<IDirectDrawSurface>;

class DDrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    void* p = nullptr;
    ASSERT_EQ(DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr), DD_OK);
    DD7 = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(p));
    ASSERT_EQ(DD7.As(IID_IDirectDraw, DD), S_OK);
    ASSERT_EQ(DD->SetCooperativeLevel(0, DDSCL_NORMAL), DD_OK);
  }
  void TearDown() override {
    DD.Reset();
    DD7.Reset();
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
    ddraw::ResetMachine();
  }

  // An offscreen surface of the given depth (0: the display's).
  Surf Make(int w, int h, int bits = 0, bool rgb555 = false, DWORD caps = DDSCAPS_OFFSCREENPLAIN) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddsCaps.dwCaps = caps;
    if (bits) {
      d.dwFlags |= DDSD_PIXELFORMAT;
      d.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
      d.ddpfPixelFormat.dwFlags = DDPF_RGB;
      d.ddpfPixelFormat.dwRGBBitCount = bits;
      switch (bits) {
        case 8:
          d.ddpfPixelFormat.dwFlags |= DDPF_PALETTEINDEXED8;
          break;
        case 16:
          d.ddpfPixelFormat.dwRBitMask = rgb555 ? 0x7C00 : 0xF800;
          d.ddpfPixelFormat.dwGBitMask = rgb555 ? 0x03E0 : 0x07E0;
          d.ddpfPixelFormat.dwBBitMask = 0x1F;
          break;
        default:
          d.ddpfPixelFormat.dwRBitMask = 0xFF0000;
          d.ddpfPixelFormat.dwGBitMask = 0xFF00;
          d.ddpfPixelFormat.dwBBitMask = 0xFF;
      }
    }
    IDirectDrawSurface* s = nullptr;
    EXPECT_EQ(DD->CreateSurface(&d, &s, nullptr), DD_OK);
    return Surf::Attach(s);
  }

  static DWORD Get(IDirectDrawSurface* s, int x, int y) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    const int bytes = d.ddpfPixelFormat.dwRGBBitCount / 8;
    DWORD v = 0;
    std::memcpy(&v, static_cast<std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes, bytes);
    s->Unlock(nullptr);
    return v;
  }
  static void Put(IDirectDrawSurface* s, int x, int y, DWORD v) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
    const int bytes = d.ddpfPixelFormat.dwRGBBitCount / 8;
    std::memcpy(static_cast<std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes, &v, bytes);
    s->Unlock(nullptr);
  }
  // Gives every pixel a distinct value of the surface's format.
  static void Number(IDirectDrawSurface* s, DWORD mask) {
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(s->GetSurfaceDesc(&d), DD_OK);
    for (DWORD y = 0; y < d.dwHeight; ++y)
      for (DWORD x = 0; x < d.dwWidth; ++x) Put(s, x, y, (1 + x + y * 97) & mask);
  }
  static HRESULT Fill(IDirectDrawSurface* s, DWORD color, RECT* r = nullptr) {
    DDBLTFX fx{};
    fx.dwSize = kDDBltFXSize;
    fx.dwFillColor = color;
    return s->Blt(r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  }

  ComPtr<IDirectDraw7> DD7;
  ComPtr<IDirectDraw> DD;
};

TEST_F(DDrawTest, InterfacesAreCountedAndAskingAgainGivesTheSameObject) {
  Surf s = Make(8, 8);
  ComPtr<IDirectDrawSurface4> s4;
  ASSERT_EQ(s.As(IID_IDirectDrawSurface4, s4), S_OK);
  ComPtr<IDirectDrawSurface> again;
  ASSERT_EQ(s4.As(IID_IDirectDrawSurface, again), S_OK);
  EXPECT_EQ(again.Get(), s.Get());
  ComPtr<IDirectDrawGammaControl> gamma;
  EXPECT_EQ(s.As(IID_IDirectDrawGammaControl, gamma), E_NOINTERFACE);
  // The surface lives while any interface does.
  s.Reset();
  again.Reset();
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 1);
  s4.Reset();
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);

  ComPtr<IDirectDraw4> dd4;
  ASSERT_EQ(DD.As(IID_IDirectDraw4, dd4), S_OK);
  ComPtr<IDirectDraw7> dd7;
  ASSERT_EQ(dd4.As(IID_IDirectDraw7, dd7), S_OK);
  EXPECT_EQ(dd7.Get(), DD7.Get());
}

TEST_F(DDrawTest, StructureSizesAreTheCallersNotOurs) {
  DDCAPS caps{};
  caps.dwSize = kDDCapsSize;
  DDCAPS hel{};
  hel.dwSize = kDDCapsSize;
  ASSERT_EQ(DD->GetCaps(&caps, &hel), DD_OK);
  EXPECT_EQ(caps.dwCaps2 & DDCAPS2_PRIMARYGAMMA, 0u);
  caps.dwSize = sizeof(DDCAPS);
  EXPECT_EQ(DD->GetCaps(&caps, nullptr), DDERR_INVALIDPARAMS);

  DDSURFACEDESC d{};
  d.dwSize = sizeof(DDSURFACEDESC);  // not what a caller of this interface writes
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = d.dwHeight = 4;
  IDirectDrawSurface* s = nullptr;
  EXPECT_EQ(DD->CreateSurface(&d, &s, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(s, nullptr);

  ComPtr<IDirectDraw4> dd4;
  ASSERT_EQ(DD.As(IID_IDirectDraw4, dd4), S_OK);
  DDSURFACEDESC2 d2{};
  d2.dwSize = kDDSurfaceDescSize;
  d2.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d2.dwWidth = d2.dwHeight = 4;
  IDirectDrawSurface4* s4 = nullptr;
  EXPECT_EQ(dd4->CreateSurface(&d2, &s4, nullptr), DDERR_INVALIDPARAMS);
  d2.dwSize = kDDSurfaceDesc2Size;
  ASSERT_EQ(dd4->CreateSurface(&d2, &s4, nullptr), DD_OK);
  s4->Release();

  Surf t = Make(4, 4);
  DDBLTFX fx{};
  fx.dwSize = sizeof(DDBLTFX);
  EXPECT_EQ(t->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDPARAMS);
}

TEST_F(DDrawTest, SurfacesDescribeFormatPitchAndMemory) {
  struct Case {
    int bits;
    bool rgb555;
    DWORD r, g, b;
  } cases[] = {{8, false, 0, 0, 0},
               {16, false, 0xF800, 0x07E0, 0x1F},
               {16, true, 0x7C00, 0x03E0, 0x1F},
               {24, false, 0xFF0000, 0xFF00, 0xFF},
               {32, false, 0xFF0000, 0xFF00, 0xFF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    Surf s = Make(5, 3, c.bits, c.rgb555);
    DDSURFACEDESC d{};
    d.dwSize = kDDSurfaceDescSize;
    ASSERT_EQ(s->GetSurfaceDesc(&d), DD_OK);
    EXPECT_EQ(d.dwWidth, 5u);
    EXPECT_EQ(d.dwHeight, 3u);
    EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, static_cast<DWORD>(c.bits));
    EXPECT_EQ(d.ddpfPixelFormat.dwRBitMask, c.r);
    EXPECT_EQ(d.ddpfPixelFormat.dwGBitMask, c.g);
    EXPECT_EQ(d.ddpfPixelFormat.dwBBitMask, c.b);
    EXPECT_GE(d.lPitch, 5 * c.bits / 8);
    EXPECT_EQ(d.lPitch % 4, 0);
    EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY);
    EXPECT_EQ(c.bits == 8, (d.ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8) != 0);
  }
  // Without a format a surface takes the display's, 32 bits unless the desktop says otherwise.
  Surf plain = Make(2, 2);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  plain->GetSurfaceDesc(&d);
  EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 32u);
  ddraw::SetDesktopFormat(16);
  Surf sixteen = Make(2, 2);
  sixteen->GetSurfaceDesc(&d);
  EXPECT_EQ(d.ddpfPixelFormat.dwRGBBitCount, 16u);
  EXPECT_EQ(d.ddpfPixelFormat.dwRBitMask, 0xF800u);
}

TEST_F(DDrawTest, FillWritesTheRawValueAndLeavesTheSpareByteClear) {
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    Surf s = Make(7, 5, bits);
    RECT r{2, 1, 6, 4};
    ASSERT_EQ(Fill(s.Get(), 0xFFFFFFFF, &r), DD_OK);
    const DWORD full = bits == 32 ? 0xFFFFFF : (bits == 24 ? 0xFFFFFF : (1u << bits) - 1);
    EXPECT_EQ(Get(s.Get(), 2, 1), full);
    EXPECT_EQ(Get(s.Get(), 5, 3), full);
    EXPECT_EQ(Get(s.Get(), 1, 1), 0u);
    EXPECT_EQ(Get(s.Get(), 6, 3), 0u);
    EXPECT_EQ(Get(s.Get(), 2, 4), 0u);
    // A rectangle outside the surface is refused without a clipper.
    RECT out{5, 0, 8, 2};
    EXPECT_EQ(Fill(s.Get(), 1, &out), DDERR_INVALIDRECT);
  }
  Surf five55 = Make(2, 1, 16, true);
  Fill(five55.Get(), 0xFFFF);
  EXPECT_EQ(Get(five55.Get(), 1, 0), 0x7FFFu);
}

TEST_F(DDrawTest, BltFastCopiesAtEveryDepthWithAndWithoutSourceKey) {
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const DWORD mask = bits == 32 ? 0xFFFFFF : (bits == 24 ? 0xFFFFFF : (1u << bits) - 1);
    Surf src = Make(9, 4, bits);
    Surf dst = Make(12, 6, bits);
    Number(src.Get(), mask);
    Put(src.Get(), 3, 1, 0x42 & mask);  // the key
    Fill(dst.Get(), 0x11 & mask);
    RECT sr{1, 0, 9, 3};  // 8 x 3, odd offsets exercise the row ends
    ASSERT_EQ(dst->BltFast(2, 2, src.Get(), &sr, DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(Get(dst.Get(), 2, 2), Get(src.Get(), 1, 0));
    EXPECT_EQ(Get(dst.Get(), 9, 4), Get(src.Get(), 8, 2));
    EXPECT_EQ(Get(dst.Get(), 4, 3), 0x42 & mask);
    EXPECT_EQ(Get(dst.Get(), 10, 2), 0x11 & mask);

    DDCOLORKEY key{0x42 & mask, 0x42 & mask};
    ASSERT_EQ(src->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    Fill(dst.Get(), 0x11 & mask);
    ASSERT_EQ(dst->BltFast(2, 2, src.Get(), &sr, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT), DD_OK);
    EXPECT_EQ(Get(dst.Get(), 4, 3), 0x11 & mask);  // keyed out
    EXPECT_EQ(Get(dst.Get(), 5, 3), Get(src.Get(), 4, 1));
    for (int x = 2; x < 10; ++x) {
      if (x != 4) {
        EXPECT_EQ(Get(dst.Get(), x, 3), Get(src.Get(), x - 1, 1)) << x;
      }
    }

    // Nothing is clipped: rectangles must lie inside both surfaces.
    EXPECT_EQ(dst->BltFast(5, 4, src.Get(), &sr, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
    RECT beyond{0, 0, 10, 2};
    EXPECT_EQ(dst->BltFast(0, 0, src.Get(), &beyond, DDBLTFAST_WAIT), DDERR_INVALIDRECT);
  }
}

TEST_F(DDrawTest, BlitsBetweenDifferentFormatsAreRefused) {
  Surf a = Make(4, 4, 16);
  Surf b = Make(4, 4, 32);
  EXPECT_EQ(b->BltFast(0, 0, a.Get(), nullptr, 0), DDERR_INVALIDPIXELFORMAT);
}

TEST_F(DDrawTest, KeyedCopyLeavesTheSpareByteClearEvenFromDirtySource) {
  Surf src = Make(8, 1, 32);
  Surf dst = Make(8, 1, 32);
  for (int x = 0; x < 8; ++x) Put(src.Get(), x, 0, 0xAB000000u | (x == 5 ? 0 : 0x10 + x));
  Fill(dst.Get(), 0x777777);
  DDCOLORKEY key{0, 0};
  src->SetColorKey(DDCKEY_SRCBLT, &key);
  ASSERT_EQ(dst->BltFast(0, 0, src.Get(), nullptr, DDBLTFAST_SRCCOLORKEY), DD_OK);
  for (int x = 0; x < 8; ++x)
    EXPECT_EQ(Get(dst.Get(), x, 0), x == 5 ? 0x777777u : DWORD(0x10 + x)) << x;
}

TEST_F(DDrawTest, ClipperMakesBltFastRefuseAndGetClipperReportsIt) {
  Surf s = Make(4, 4);
  Surf src = Make(2, 2);
  IDirectDrawClipper* c = nullptr;
  EXPECT_EQ(s->GetClipper(&c), DDERR_NOCLIPPERATTACHED);
  ASSERT_EQ(DD->CreateClipper(0, &c, nullptr), DD_OK);
  ComPtr<IDirectDrawClipper> clip = ComPtr<IDirectDrawClipper>::Attach(c);
  ASSERT_EQ(s->SetClipper(clip.Get()), DD_OK);
  EXPECT_EQ(s->BltFast(0, 0, src.Get(), nullptr, DDBLTFAST_WAIT), DDERR_BLTFASTCANTCLIP);
  IDirectDrawClipper* got = nullptr;
  ASSERT_EQ(s->GetClipper(&got), DD_OK);
  EXPECT_EQ(got, clip.Get());
  got->Release();
  s->SetClipper(nullptr);
  EXPECT_EQ(s->BltFast(0, 0, src.Get(), nullptr, DDBLTFAST_WAIT), DD_OK);
}

// A clip list cuts a stretched blit, whose scale still comes from the whole rectangles.
TEST_F(DDrawTest, StretchIsNearestPixelAndScaledFromTheUnclippedRectangles) {
  Surf src = Make(4, 2, 32);
  Number(src.Get(), 0xFFFFFF);
  Surf dst = Make(6, 4, 32);
  // A clipper whose list is the surface itself, as the stretched drawing sets up.
  IDirectDrawClipper* c = nullptr;
  DD->CreateClipper(0, &c, nullptr);
  ComPtr<IDirectDrawClipper> clip = ComPtr<IDirectDrawClipper>::Attach(c);
  struct {
    RGNDATAHEADER h;
    RECT r;
  } region;
  region.h.dwSize = kRgnDataHeaderSize;
  region.h.iType = RDH_RECTANGLES;
  region.h.nCount = 1;
  region.h.nRgnSize = 16;
  region.h.rcBound = region.r = {0, 0, 6, 4};
  ASSERT_EQ(clip->SetClipList(reinterpret_cast<RGNDATA*>(&region), 0), DD_OK);
  dst->SetClipper(clip.Get());
  // 4 x 2 doubled into (-2, 0, 6, 4): the left quarter falls outside.
  RECT dr{-2, 0, 6, 4};
  ASSERT_EQ(dst->Blt(&dr, src.Get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      EXPECT_EQ(Get(dst.Get(), x, y), Get(src.Get(), (x + 2) / 2, y / 2)) << x << "," << y;
  // Shrinking takes the pixel under each destination pixel's centre.
  Surf big = Make(6, 1, 32);
  Number(big.Get(), 0xFFFFFF);
  Surf small = Make(2, 1, 32);
  ASSERT_EQ(small->Blt(nullptr, big.Get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
  EXPECT_EQ(Get(small.Get(), 0, 0), Get(big.Get(), 1, 0));
  EXPECT_EQ(Get(small.Get(), 1, 0), Get(big.Get(), 4, 0));
}

// The source rectangle of a mirrored blit is read in the coordinates of the mirrored source.
TEST_F(DDrawTest, MirroredBlitReadsTheSourceRectangleMirrored) {
  Surf src = Make(64, 32, 32);
  Number(src.Get(), 0xFFFFFF);
  Surf dst = Make(32, 32, 32);
  DDBLTFX fx{};
  fx.dwSize = kDDBltFXSize;
  fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
  // Columns 32..64 of the mirrored source are columns 0..31 of the source, right to left.
  RECT sr{32, 0, 64, 32};
  ASSERT_EQ(dst->Blt(nullptr, src.Get(), &sr, DDBLT_DDFX | DDBLT_WAIT, &fx), DD_OK);
  for (int x : {0, 1, 17, 31}) EXPECT_EQ(Get(dst.Get(), x, 5), Get(src.Get(), 31 - x, 5)) << x;

  fx.dwDDFX = DDBLTFX_MIRRORUPDOWN;
  RECT top{0, 0, 32, 32};
  Surf tall = Make(32, 64, 32);
  Number(tall.Get(), 0xFFFFFF);
  RECT sr2{0, 32, 32, 64};  // rows 0..31 of the source, upside down
  ASSERT_EQ(dst->Blt(&top, tall.Get(), &sr2, DDBLT_DDFX | DDBLT_WAIT, &fx), DD_OK);
  for (int y : {0, 9, 31}) EXPECT_EQ(Get(dst.Get(), 3, y), Get(tall.Get(), 3, 31 - y)) << y;
}

TEST_F(DDrawTest, OverlappingBlitWithinOneSurfaceReadsBeforeWriting) {
  Surf s = Make(8, 1, 32);
  Number(s.Get(), 0xFFFFFF);
  std::vector<DWORD> before;
  for (int x = 0; x < 8; ++x) before.push_back(Get(s.Get(), x, 0));
  RECT sr{0, 0, 6, 1};
  ASSERT_EQ(s->BltFast(2, 0, s.Get(), &sr, 0), DD_OK);
  for (int x = 2; x < 8; ++x) EXPECT_EQ(Get(s.Get(), x, 0), before[x - 2]);
}

TEST_F(DDrawTest, LocksDoNotNestAndCarryTheSourceKey) {
  Surf s = Make(10, 10, 32);
  DDCOLORKEY key{0x123456, 0x123456};
  s->SetColorKey(DDCKEY_SRCBLT, &key);
  DDSURFACEDESC whole{};
  whole.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(s->Lock(nullptr, &whole, DDLOCK_WAIT, nullptr), DD_OK);
  DDSURFACEDESC again{};
  again.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  Surf other = Make(2, 2, 32);
  EXPECT_EQ(Fill(s.Get(), 0), DDERR_SURFACEBUSY);
  EXPECT_EQ(other->BltFast(0, 0, s.Get(), nullptr, 0), DDERR_SURFACEBUSY);
  EXPECT_EQ(s->Unlock(nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);

  RECT r{3, 2, 5, 4};
  DDSURFACEDESC part{};
  part.dwSize = kDDSurfaceDescSize;
  ASSERT_EQ(s->Lock(&r, &part, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(static_cast<std::uint8_t*>(part.lpSurface),
            static_cast<std::uint8_t*>(whole.lpSurface) + 2 * whole.lPitch + 3 * 4);
  EXPECT_TRUE(part.dwFlags & DDSD_CKSRCBLT);
  EXPECT_EQ(part.ddckCKSrcBlt.dwColorSpaceLowValue, 0x123456u);
  s->Unlock(nullptr);
  RECT outside{8, 8, 11, 9};
  EXPECT_EQ(s->Lock(&outside, &part, DDLOCK_WAIT, nullptr), DDERR_INVALIDRECT);
}

TEST_F(DDrawTest, LostSurfacesRefuseWorkAndComeBackWithJunk) {
  Surf s = Make(16, 16, 32);
  Fill(s.Get(), 0x336699);
  ddraw::MarkSurfacesLost(DD.Get());
  EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(Fill(s.Get(), 0), DDERR_SURFACELOST);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  ASSERT_EQ(s->Restore(), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  int kept = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const DWORD v = Get(s.Get(), x, y);
      kept += v == 0x336699;
      EXPECT_EQ(v >> 24, 0u);
    }
  EXPECT_LT(kept, 4);
}

TEST_F(DDrawTest, VideoMemoryRunsOutAndSystemMemoryStillServes) {
  ddraw::SetMemoryBudgets(64 * 64 * 4, 1 << 20);
  Surf a = Make(64, 64, 32);
  ASSERT_TRUE(a);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
  d.dwWidth = d.dwHeight = 8;
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  IDirectDrawSurface* s = nullptr;
  EXPECT_EQ(DD->CreateSurface(&d, &s, nullptr), DDERR_OUTOFVIDEOMEMORY);
  d.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  ASSERT_EQ(DD->CreateSurface(&d, &s, nullptr), DD_OK);
  Surf sys = Surf::Attach(s);
  sys->GetSurfaceDesc(&d);
  EXPECT_TRUE(d.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  EXPECT_FALSE(d.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY);
  // Releasing gives the memory back.
  a.Reset();
  d.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  ASSERT_EQ(DD->CreateSurface(&d, &s, nullptr), DD_OK);
  s->Release();
}

TEST_F(DDrawTest, PalettesAndDuplicates) {
  PALETTEENTRY entries[256] = {};
  entries[5] = {10, 20, 30, 0};
  IDirectDrawPalette* p = nullptr;
  EXPECT_EQ(DD->CreatePalette(DDPCAPS_8BIT | DDPCAPS_4BIT, entries, &p, nullptr),
            DDERR_INVALIDPARAMS);
  ASSERT_EQ(DD->CreatePalette(DDPCAPS_8BIT | DDPCAPS_INITIALIZE, entries, &p, nullptr), DD_OK);
  ComPtr<IDirectDrawPalette> pal = ComPtr<IDirectDrawPalette>::Attach(p);
  PALETTEENTRY e{};
  ASSERT_EQ(pal->GetEntries(0, 5, 1, &e), DD_OK);
  EXPECT_EQ(e.peGreen, 20);
  EXPECT_EQ(pal->SetEntries(0, 250, 7, entries), DDERR_INVALIDPARAMS);

  Surf eight = Make(4, 4, 8);
  Surf rgb = Make(4, 4, 32);
  EXPECT_EQ(eight->SetPalette(pal.Get()), DD_OK);
  EXPECT_EQ(rgb->SetPalette(pal.Get()), DDERR_INVALIDPIXELFORMAT);

  // A duplicate shares the pixels and the source key.
  DDCOLORKEY key{7, 7};
  rgb->SetColorKey(DDCKEY_SRCBLT, &key);
  IDirectDrawSurface* dup = nullptr;
  ASSERT_EQ(DD->DuplicateSurface(rgb.Get(), &dup), DD_OK);
  Surf d = Surf::Attach(dup);
  Fill(rgb.Get(), 0xABCDEF);
  EXPECT_EQ(Get(d.Get(), 2, 2), 0xABCDEFu);
  DDCOLORKEY got{};
  ASSERT_EQ(d->GetColorKey(DDCKEY_SRCBLT, &got), DD_OK);
  EXPECT_EQ(got.dwColorSpaceLowValue, 7u);
}

// The primary is the screen: a window clipper clips to the window's client area, and what
// lands there is shown in the window.
TEST_F(DDrawTest, PrimaryShowsInTheClipperWindow) {
  auto& hb = backend::HeadlessBackend::Instance();
  backend::WindowDesc wd;
  wd.left = 100;
  wd.top = 50;
  wd.width = 40;
  wd.height = 30;
  const backend::WindowId w = hb.CreateWindow(wd);
  ASSERT_EQ(DD->SetCooperativeLevel(w, DDSCL_NORMAL), DD_OK);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* p = nullptr;
  ASSERT_EQ(DD->CreateSurface(&d, &p, nullptr), DD_OK);
  Surf primary = Surf::Attach(p);
  IDirectDrawSurface* again = nullptr;
  EXPECT_EQ(DD->CreateSurface(&d, &again, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
  IDirectDrawClipper* c = nullptr;
  DD->CreateClipper(0, &c, nullptr);
  ComPtr<IDirectDrawClipper> clip = ComPtr<IDirectDrawClipper>::Attach(c);
  clip->SetHWnd(0, w);
  primary->SetClipper(clip.Get());

  Surf src = Make(20, 10, 32);
  Fill(src.Get(), 0x00FF00);
  // Half of it hangs off the window's left edge.
  RECT dr{90, 60, 110, 70};
  ASSERT_EQ(primary->Blt(&dr, src.Get(), nullptr, DDBLT_WAIT, nullptr), DD_OK);
  const auto* frame = hb.LastFrame(w);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->width, 40);
  ASSERT_EQ(frame->height, 30);
  EXPECT_EQ(frame->Pixel(0, 10), 0x00FF00u);
  EXPECT_EQ(frame->Pixel(9, 19), 0x00FF00u);
  EXPECT_EQ(frame->Pixel(10, 10), 0u);
  EXPECT_EQ(Get(primary.Get(), 89, 60), 0u);  // clipped away on the screen too

  // Vertical blank waits go to the backend.
  const auto before = hb.VerticalBlankCount();
  EXPECT_EQ(DD->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr), DD_OK);
  EXPECT_EQ(hb.VerticalBlankCount(), before + 1);
}

TEST_F(DDrawTest, SixteenBitScreenIsConvertedForTheWindow) {
  ddraw::SetDesktopFormat(16);
  auto& hb = backend::HeadlessBackend::Instance();
  backend::WindowDesc wd;
  wd.left = 0;
  wd.top = 0;
  wd.width = 4;
  wd.height = 4;
  const backend::WindowId w = hb.CreateWindow(wd);
  DD->SetCooperativeLevel(w, DDSCL_NORMAL);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.dwFlags = DDSD_CAPS;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  IDirectDrawSurface* p = nullptr;
  ASSERT_EQ(DD->CreateSurface(&d, &p, nullptr), DD_OK);
  Surf primary = Surf::Attach(p);
  RECT r{0, 0, 4, 4};
  ASSERT_EQ(Fill(primary.Get(), 0xF800, &r), DD_OK);
  ASSERT_NE(hb.LastFrame(w), nullptr);
  EXPECT_EQ(hb.LastFrame(w)->Pixel(1, 1), 0xFF0000u);
}

TEST_F(DDrawTest, FullScreenFlipChainSwapsFrontAndBack) {
  auto& hb = backend::HeadlessBackend::Instance();
  backend::WindowDesc wd;
  const backend::WindowId w = hb.CreateWindow(wd);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  d.dwBackBufferCount = 1;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  IDirectDrawSurface* p = nullptr;
  EXPECT_EQ(DD->CreateSurface(&d, &p, nullptr), DDERR_NOEXCLUSIVEMODE);
  ASSERT_EQ(DD->SetCooperativeLevel(w, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE), DD_OK);
  ASSERT_EQ(DD->SetDisplayMode(640, 480, 16), DD_OK);
  EXPECT_EQ(DD->SetDisplayMode(641, 480, 16), DDERR_INVALIDMODE);
  ASSERT_EQ(DD->CreateSurface(&d, &p, nullptr), DD_OK);
  Surf front = Surf::Attach(p);
  DDSCAPS caps{DDSCAPS_BACKBUFFER};
  IDirectDrawSurface* b = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &b), DD_OK);
  Surf back = Surf::Attach(b);
  DDSURFACEDESC bd{};
  bd.dwSize = kDDSurfaceDescSize;
  back->GetSurfaceDesc(&bd);
  EXPECT_EQ(bd.dwWidth, 640u);
  EXPECT_EQ(bd.ddpfPixelFormat.dwRGBBitCount, 16u);
  Fill(back.Get(), 0x001F);
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(Get(front.Get(), 10, 10), 0x001Fu);
  EXPECT_EQ(Get(back.Get(), 10, 10), 0u);
  ASSERT_NE(hb.LastFrame(w), nullptr);
  EXPECT_EQ(hb.LastFrame(w)->width, 640);
  EXPECT_EQ(hb.LastFrame(w)->Pixel(3, 3), 0x0000FFu);
  EXPECT_EQ(back->Flip(nullptr, 0), DDERR_NOTFLIPPABLE);
  // Losing the chain and restoring the front restores the back buffer too.
  ddraw::MarkSurfacesLost(DD.Get());
  front->Restore();
  EXPECT_EQ(back->IsLost(), DD_OK);
}

TEST_F(DDrawTest, DepthBuffersAttachToSurfacesOfTheirSize) {
  Surf target = Make(16, 8, 32, false, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_ZBUFFERBITDEPTH;
  d.dwWidth = 16;
  d.dwHeight = 8;
  d.dwZBufferBitDepth = 16;
  d.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
  IDirectDrawSurface* z = nullptr;
  ASSERT_EQ(DD->CreateSurface(&d, &z, nullptr), DD_OK);
  Surf zbuf = Surf::Attach(z);
  ASSERT_EQ(target->AddAttachedSurface(zbuf.Get()), DD_OK);
  EXPECT_EQ(target->AddAttachedSurface(zbuf.Get()), DDERR_SURFACEALREADYATTACHED);
  DDSCAPS caps{DDSCAPS_ZBUFFER};
  IDirectDrawSurface* found = nullptr;
  ASSERT_EQ(target->GetAttachedSurface(&caps, &found), DD_OK);
  EXPECT_EQ(found, zbuf.Get());
  found->Release();
  EXPECT_EQ(target->DeleteAttachedSurface(0, zbuf.Get()), DD_OK);
  EXPECT_EQ(target->GetAttachedSurface(&caps, &found), DDERR_NOTFOUND);
}

TEST_F(DDrawTest, EnumerationOfDriversAndModes) {
  int drivers = 0;
  GUID* seen = reinterpret_cast<GUID*>(1);
  std::pair<int*, GUID**> sink(&drivers, &seen);
  ASSERT_EQ(DirectDrawEnumerateA(
                [](GUID* g, const char*, const char*, void* ctx) -> BOOL {
                  auto* s = static_cast<std::pair<int*, GUID**>*>(ctx);
                  ++*s->first;
                  *s->second = g;
                  return TRUE_;
                },
                &sink),
            DD_OK);
  EXPECT_EQ(drivers, 1);
  EXPECT_EQ(seen, nullptr);  // the primary driver

  ddraw::SetDisplayModes({{640, 480, 16}, {800, 600, 32}});
  std::vector<std::pair<DWORD, DWORD>> modes;
  ASSERT_EQ(
      DD->EnumDisplayModes(0, nullptr, &modes,
                           [](DDSURFACEDESC* d, void* ctx) -> HRESULT {
                             EXPECT_EQ(d->dwSize, kDDSurfaceDescSize);
                             static_cast<std::vector<std::pair<DWORD, DWORD>>*>(ctx)->push_back(
                                 {d->dwWidth, d->ddpfPixelFormat.dwRGBBitCount});
                             return DDENUMRET_OK;
                           }),
      DD_OK);
  EXPECT_EQ(modes, (std::vector<std::pair<DWORD, DWORD>>{{640, 16}, {800, 32}}));
}

}  // namespace

namespace {

TEST_F(DDrawTest, DeviceContextLocksTheSurfaceAndConvertsColoursLikeEveryWriter) {
  Surf s = Make(4, 4, 16);
  HDC dc = nullptr;
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  ASSERT_NE(dc, nullptr);
  HDC second = nullptr;
  EXPECT_EQ(s->GetDC(&second), DDERR_DCALREADYCREATED);
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  EXPECT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(Fill(s.Get(), 0), DDERR_SURFACEBUSY);
  SetPixel(dc, 1, 2, RGB(255, 0, 0));
  EXPECT_EQ(s->ReleaseDC(second), DDERR_INVALIDPARAMS);
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(Get(s.Get(), 1, 2), 0xF800u);

  // An 8-bit surface draws through its palette.
  Surf eight = Make(2, 2, 8);
  PALETTEENTRY entries[256] = {};
  entries[9] = {0, 0, 255, 0};
  IDirectDrawPalette* p = nullptr;
  DD->CreatePalette(DDPCAPS_8BIT, entries, &p, nullptr);
  eight->SetPalette(p);
  p->Release();
  ASSERT_EQ(eight->GetDC(&dc), DD_OK);
  SetPixel(dc, 0, 0, RGB(0, 0, 250));
  eight->ReleaseDC(dc);
  EXPECT_EQ(Get(eight.Get(), 0, 0), 9u);
}

TEST_F(DDrawTest, EntryPointsAreBoundByNameInDDrawDll) {
  HMODULE m = LoadLibrary("ddraw.DLL");
  ASSERT_NE(m, nullptr);
  auto create =
      reinterpret_cast<decltype(&DirectDrawCreate)>(GetProcAddress(m, "DirectDrawCreate"));
  ASSERT_NE(create, nullptr);
  IDirectDraw* dd = nullptr;
  ASSERT_EQ(create(nullptr, &dd, nullptr), DD_OK);
  dd->Release();
  EXPECT_NE(GetProcAddress(m, "DirectDrawCreateEx"), nullptr);
  EXPECT_NE(GetProcAddress(m, "DirectDrawEnumerateA"), nullptr);
  FreeLibrary(m);
}

}  // namespace
