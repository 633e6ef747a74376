// Direct3D textures on a display: following its life cycle, the choice of texture format, sizes
// by the device's rules, pixels converted into each format, colour keys and mipmap levels.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DXDraws.h"
#include "framework/graphics/Direct3DTexture2.h"
#include "graphics/DisplayTestSupport.h"
#include "graphics/TextureTestSupport.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/d3d/D3DObjects.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/Lists.h"

namespace {

using backend::HeadlessBackend;

DDPIXELFORMAT IndexedFormat(int bits) {
  DDPIXELFORMAT f;
  ddraw::PixelFormat::Indexed(bits).ToDD(f);
  return f;
}

// An RGB texture image of the given masks whose pixels are Value(x, y).
template <class Value>
std::unique_ptr<TDXTextureImage> RgbImage(int w, int h, int bits, DWORD r, DWORD g, DWORD b,
                                          DWORD a, Value value) {
  auto image = std::make_unique<TDXTextureImage>();
  image->SetSize(ikRGB, w, h, bits, 0);
  image->RedChannel = MakeChannel(r, false);
  image->GreenChannel = MakeChannel(g, false);
  image->BlueChannel = MakeChannel(b, false);
  image->AlphaChannel = MakeChannel(a, false);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const DWORD v = value(x, y);
      for (int i = 0; i < bits / 8; ++i)
        image->ScanLine(y)[x * (bits / 8) + i] = static_cast<BYTE>(v >> (8 * i));
    }
  return image;
}

// An 8-bit palette image: pixel (x, y) is index (x + y) mod 4, entry i is grey 60 i.
std::unique_ptr<TDXTextureImage> PaletteImage(int w, int h) {
  auto image = std::make_unique<TDXTextureImage>();
  image->SetSize(ikPalette, w, h, 8, 0);
  image->IndexChannel = MakeChannel(0xFF, true);
  for (int i = 0; i < 4; ++i)
    image->Palette[i] = {static_cast<BYTE>(60 * i), static_cast<BYTE>(60 * i + 1),
                         static_cast<BYTE>(60 * i + 2), 0};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image->ScanLine(y)[x] = static_cast<BYTE>((x + y) % 4);
  return image;
}

class Direct3DTextureTest : public display_test::FreshDisplayTest {
 protected:
  // The software device with these texture capabilities and size limits.
  static void UseDevice(DWORD textureCaps, DWORD minSide = 1, DWORD maxSide = 4096) {
    d3d::DeviceInfo device = d3d::SoftwareDevice();
    device.Caps.dwTextureCaps = textureCaps;
    device.MinTextureWidth = device.MinTextureHeight = minSide;
    device.MaxTextureWidth = device.MaxTextureHeight = maxSide;
    d3d::SetDevices({device});
  }

  // A display with the editor's 3-D options, not yet initialized.
  TDXDraw* MakeDisplay() {
    Application->CreateForm(Form);
    Form->SetClientWidth(64);
    Form->SetClientHeight(48);
    auto* d = new TDXDraw(Form);
    d->AutoInitialize = false;
    d->SetParent(Form);
    d->SetBounds(0, 0, 64, 48);
    d->SetOptions({doWaitVBlank, do3D, doDirectX7Mode, doHardware});
    Form->Show();
    Application->ProcessMessages();
    return d;
  }
  TDXDraw* InitializedDisplay() {
    TDXDraw* d = MakeDisplay();
    d->Initialize();
    EXPECT_TRUE(d->D3DDevice7);
    return d;
  }

  TForm* Form = nullptr;
};

TEST_F(Direct3DTextureTest, FollowsTheDisplaysLifeCycle) {
  TDXDraw* d = MakeDisplay();
  auto image = RgbImage(4, 2, 32, 0xFF0000, 0xFF00, 0xFF, 0,
                        [](int x, int y) { return static_cast<DWORD>(0x102030 * (x + 1) + y); });
  TDirect3DTexture2 texture(d, image.get(), false);
  EXPECT_EQ(texture.DXDraw(), d);
  EXPECT_EQ(texture.Surface(), nullptr);  // no display yet, no surface

  d->Initialize();
  ASSERT_NE(texture.Surface(), nullptr);
  EXPECT_FALSE(texture.NeedLoad());
  EXPECT_EQ(texture.SurfaceDesc().dwWidth, 4u);
  EXPECT_EQ(texture.SurfaceDesc().dwHeight, 2u);
  EXPECT_TRUE(texture.SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_TEXTURE);
  // No hardware device: the texture lives in system memory.
  EXPECT_TRUE(texture.SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);
  EXPECT_EQ(texture.Surface()->Pixels(1, 1), 0x204061u);

  // Lost surfaces come back with their pixels through the display's restore.
  ddraw::MarkSurfacesLost(d->DDraw->IDDraw7());
  d->Restore();
  EXPECT_EQ(texture.Surface()->Pixels(3, 0), 0x4080C0u);

  d->Finalize();
  EXPECT_EQ(texture.Surface(), nullptr);
  d->Initialize();  // a window drag ends
  ASSERT_NE(texture.Surface(), nullptr);
  EXPECT_EQ(texture.Surface()->Pixels(0, 0), 0x102030u);

  delete d;  // the display goes first: the texture is left without one
  EXPECT_EQ(texture.DXDraw(), nullptr);
  EXPECT_EQ(texture.Surface(), nullptr);
}

TEST_F(Direct3DTextureTest, PicturesOfEveryKindBecomeTextures) {
  TDXDraw* d = InitializedDisplay();

  // A TDIB is described in place; bitmap rows are stored bottom up.
  TDIB dib;
  dib.SetSize(3, 2, 24);
  dib.SetPixels(0, 0, 0x112233);
  dib.SetPixels(2, 1, 0xAABBCC);
  {
    TDirect3DTexture2 texture(d, &dib, false);
    EXPECT_EQ(texture.Image()->ImageKind, ikRGB);
    EXPECT_EQ(texture.SurfaceDesc().ddpfPixelFormat.dwRGBBitCount, 32u);
    EXPECT_EQ(texture.SurfaceDesc().ddpfPixelFormat.dwRGBAlphaBitMask, 0u);
    // Pixels of a 24-bit TDIB read as $BBGGRR; the texture's are $RRGGBB.
    EXPECT_EQ(texture.Surface()->Pixels(0, 0), 0x332211u);
    EXPECT_EQ(texture.Surface()->Pixels(2, 1), 0xCCBBAAu);
    // A changed TDIB is read again on the next load.
    dib.SetPixels(1, 0, 0x445566);
    texture.Load();
    EXPECT_EQ(texture.Surface()->Pixels(1, 0), 0x665544u);
  }
  EXPECT_EQ(dib.Pixels(0, 0), 0x112233u);  // not freed, not changed

  // A picture is copied into a TDIB of the texture's own, and the texture frees it.
  auto* picture = new TPicture;
  picture->SetGraphic(&dib);
  {
    TDirect3DTexture2 texture(d, picture, true);
    EXPECT_TRUE(texture.AutoFreeGraphic);
    EXPECT_NE(texture.Graphic(), picture);
    EXPECT_NE(dynamic_cast<TDIB*>(texture.Graphic()), nullptr);
    EXPECT_EQ(texture.Surface()->Pixels(2, 1), 0xCCBBAAu);
  }

  // Anything else is refused.
  TStringList notAPicture;
  try {
    TDirect3DTexture2 texture(d, &notAPicture, false);
    FAIL() << "made a texture of a string list";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Can not load graphic");
  }
}

TEST_F(Direct3DTextureTest, FormatsFollowTheImage) {
  TDXDraw* d = InitializedDisplay();
  // Palette images become 8-8-8 RGB with their palette's colours.
  auto palette = PaletteImage(4, 4);
  {
    TDirect3DTexture2 texture(d, palette.get(), false);
    const DDPIXELFORMAT& pf = texture.SurfaceDesc().ddpfPixelFormat;
    EXPECT_EQ(pf.dwRGBBitCount, 32u);
    EXPECT_EQ(pf.dwRGBAlphaBitMask, 0u);
    EXPECT_EQ(texture.Surface()->Pixels(1, 2), 0xB4B5B6u);  // index 3
  }
  // An alpha channel picks a format with alpha and keeps it.
  auto argb = RgbImage(2, 1, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u,
                       [](int x, int) { return x ? 0x80FF0000u : 0x10000000u; });
  {
    TDirect3DTexture2 texture(d, argb.get(), false);
    EXPECT_EQ(texture.SurfaceDesc().ddpfPixelFormat.dwRGBAlphaBitMask, 0xFF000000u);
    EXPECT_EQ(texture.Surface()->Pixels(1, 0), 0x80FF0000u);
    EXPECT_EQ(texture.Surface()->Pixels(0, 0), 0x10000000u);
  }
  // 5-6-5 pixels go to the 5-6-5 format as they stand.
  auto r565 = RgbImage(2, 2, 16, 0xF800, 0x7E0, 0x1F, 0, [](int x, int y) {
    return static_cast<DWORD>(x == 1 && y == 1 ? 0xF81F : 0x07E0);
  });
  {
    TDirect3DTexture2 texture(d, r565.get(), false);
    EXPECT_EQ(texture.SurfaceDesc().ddpfPixelFormat.dwRGBBitCount, 16u);
    EXPECT_EQ(texture.SurfaceDesc().ddpfPixelFormat.dwRBitMask, 0xF800u);
    EXPECT_EQ(texture.Surface()->Pixels(1, 1), 0xF81Fu);
    EXPECT_EQ(texture.Surface()->Pixels(0, 1), 0x07E0u);
  }
  // 4-4-4-4 pixels are widened into the 8-bit alpha format, channel by channel.
  auto r4444 = RgbImage(1, 1, 16, 0x0F00, 0x00F0, 0x000F, 0xF000, [](int, int) { return 0x8F31u; });
  {
    TDirect3DTexture2 texture(d, r4444.get(), false);
    const DDPIXELFORMAT& pf = texture.SurfaceDesc().ddpfPixelFormat;
    EXPECT_EQ(pf.dwRGBAlphaBitMask, 0xF000u);  // nearest: the 4-4-4-4 format itself
    EXPECT_EQ(texture.Surface()->Pixels(0, 0), 0x8F31u);
  }
}

TEST_F(Direct3DTextureTest, PalettizedTexturesKeepIndexesAndPalette) {
  d3d::SetTextureFormats({IndexedFormat(8)});
  TDXDraw* d = InitializedDisplay();
  auto palette = PaletteImage(3, 2);
  {
    TDirect3DTexture2 texture(d, palette.get(), false);
    ASSERT_NE(texture.Surface(), nullptr);
    EXPECT_TRUE(texture.SurfaceDesc().ddpfPixelFormat.dwFlags & DDPF_PALETTEINDEXED8);
    EXPECT_EQ(texture.Surface()->Pixels(2, 1), 3u);
    IDirectDrawPalette* attached = nullptr;
    ASSERT_EQ(texture.Surface()->IDDSurface7()->GetPalette(&attached), DD_OK);
    PALETTEENTRY e[4];
    attached->GetEntries(0, 0, 4, e);
    attached->Release();
    EXPECT_EQ(e[2].peRed, 120);
  }
  // A 4-bit image goes through the index channel pixel by pixel.
  TDXTextureImage nibbles;
  nibbles.SetSize(ikPalette, 3, 1, 4, 0);
  nibbles.IndexChannel = MakeChannel(0xF, true);
  nibbles.HighBitFirst = true;
  nibbles.Bits[0] = 0x12;
  nibbles.Bits[1] = 0x30;
  {
    TDirect3DTexture2 texture(d, &nibbles, false);
    EXPECT_EQ(texture.Surface()->Pixels(0, 0), 1u);
    EXPECT_EQ(texture.Surface()->Pixels(2, 0), 3u);
  }
  // RGB images find no format among palettized ones.
  auto rgb = RgbImage(2, 2, 32, 0xFF0000, 0xFF00, 0xFF, 0, [](int, int) { return 0u; });
  try {
    TDirect3DTexture2 texture(d, rgb.get(), false);
    FAIL() << "an RGB image found a palettized format";
  } catch (const EDirect3DTextureError& e) {
    EXPECT_EQ(e.Message, "Texture cannot be initialized");
  }
}

TEST_F(Direct3DTextureTest, SizesFollowTheDevicesRules) {
  UseDevice(D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_TRANSPARENCY);
  TDXDraw* d = InitializedDisplay();
  auto big = RgbImage(100, 60, 32, 0xFF0000, 0xFF00, 0xFF, 0,
                      [](int x, int y) { return static_cast<DWORD>(x * 256 + y); });
  TDirect3DTexture2 pow2(d, big.get(), false);
  EXPECT_EQ(pow2.SurfaceDesc().dwWidth, 64u);
  EXPECT_EQ(pow2.SurfaceDesc().dwHeight, 32u);
  EXPECT_EQ(pow2.Surface()->Pixels(63, 31), static_cast<DWORD>(63 * 256 + 31));
  d->Finalize();

  UseDevice(D3DPTEXTURECAPS_SQUAREONLY);
  d->Initialize();
  auto wide = RgbImage(64, 32, 32, 0xFF0000, 0xFF00, 0xFF, 0, [](int, int) { return 0x123456u; });
  TDirect3DTexture2 square(d, wide.get(), false);
  EXPECT_EQ(square.SurfaceDesc().dwWidth, 64u);
  EXPECT_EQ(square.SurfaceDesc().dwHeight, 64u);
  EXPECT_EQ(square.Surface()->Pixels(5, 31), 0x123456u);
  EXPECT_EQ(square.Surface()->Pixels(5, 32), 0u);  // below the image: 0
  EXPECT_EQ(square.Surface()->Pixels(63, 63), 0u);
  d->Finalize();

  // Device limits; rows copied as they stand do not read past a smaller image.
  UseDevice(0, 8, 16);
  d->Initialize();
  auto tiny = RgbImage(2, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0, [](int, int) { return 0x0000FFu; });
  TDirect3DTexture2 raised(d, tiny.get(), false);
  EXPECT_EQ(raised.SurfaceDesc().dwWidth, 8u);
  EXPECT_EQ(raised.SurfaceDesc().dwHeight, 8u);
  EXPECT_EQ(raised.Surface()->Pixels(1, 2), 0x0000FFu);
  EXPECT_EQ(raised.Surface()->Pixels(2, 2), 0u);
  EXPECT_EQ(raised.Surface()->Pixels(1, 3), 0u);
  TDirect3DTexture2 lowered(d, big.get(), false);
  EXPECT_EQ(lowered.SurfaceDesc().dwWidth, 16u);
  EXPECT_EQ(lowered.SurfaceDesc().dwHeight, 16u);

  // An image without pixels still gets a texture.
  TDXTextureImage empty;
  empty.ImageKind = ikRGB;
  TDirect3DTexture2 none(d, &empty, false);
  EXPECT_EQ(none.SurfaceDesc().dwWidth, 8u);
}

TEST_F(Direct3DTextureTest, ColourKeys) {
  TDXDraw* d = InitializedDisplay();
  DDCOLORKEY key;

  auto rgb = RgbImage(2, 2, 16, 0xF800, 0x7E0, 0x1F, 0, [](int, int) { return 0u; });
  rgb->Transparent = true;
  rgb->TransparentColor = 0xF800;  // red
  auto palette = PaletteImage(2, 2);
  palette->Transparent = true;
  palette->TransparentColor = 2;
  {
    // An RGB image's transparent colour is a raw pixel, keyed as an RGB colour.
    TDirect3DTexture2 keyed(d, rgb.get(), false);
    EXPECT_EQ(keyed.TransparentColor(), 0x0000FF);
    EXPECT_TRUE(keyed.Transparent());
    ASSERT_EQ(keyed.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
    EXPECT_EQ(key.dwColorSpaceLowValue, 0xF800u);
    EXPECT_EQ(key.dwColorSpaceHighValue, 0xF800u);
    // A colour that is no RGB colour sets no key.
    keyed.SetTransparentColor(0x02000000);
    EXPECT_FALSE(keyed.Transparent());
    keyed.SetTransparentColor(0xFF0000);  // blue
    EXPECT_TRUE(keyed.Transparent());
    keyed.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key);
    EXPECT_EQ(key.dwColorSpaceLowValue, 0x001Fu);

    // A palette image's key is its palette entry, here in the 8-8-8 format.
    TDirect3DTexture2 indexed(d, palette.get(), false);
    EXPECT_EQ(indexed.TransparentColor(), PaletteIndex(2));
    indexed.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key);
    EXPECT_EQ(key.dwColorSpaceLowValue, 0x78797Au);
    // Turning transparency off drops the key.
    indexed.SetTransparent(false);
    EXPECT_FALSE(indexed.Transparent());
  }
  d->Finalize();

  {
    // Palettized surfaces take the index, or the nearest entry of an RGB colour.
    d3d::SetTextureFormats({IndexedFormat(8)});
    d->Initialize();
    TDirect3DTexture2 palettized(d, palette.get(), false);
    palettized.Surface();
    EXPECT_TRUE(palettized.Transparent());
    palettized.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key);
    EXPECT_EQ(key.dwColorSpaceLowValue, 2u);
    palettized.SetTransparentColor(0x3A3A3A);  // nearest to entry 1 (60, 61, 62)
    palettized.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key);
    EXPECT_EQ(key.dwColorSpaceLowValue, 1u);
  }
  d->Finalize();

  // A device that cannot key textures never gets a key.
  d3d::SetTextureFormats({});
  UseDevice(0);
  d->Initialize();
  TDirect3DTexture2 unkeyed(d, rgb.get(), false);
  EXPECT_FALSE(unkeyed.Transparent());
  EXPECT_NE(unkeyed.Surface()->IDDSurface7()->GetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
}

TEST_F(Direct3DTextureTest, MipmapLevelsComeFromSubImages) {
  TDXDraw* d = InitializedDisplay();
  auto top = RgbImage(8, 8, 32, 0xFF0000, 0xFF00, 0xFF, 0, [](int, int) { return 0x000008u; });
  for (int level = 1; level <= 2; ++level) {
    auto* sub = TDXTextureImage::CreateSub(top.get());
    sub->GroupKind = DXTextureImageGroupType_Mipmap;
    const int side = 8 >> level;
    sub->SetSize(ikRGB, side, side, 32, 0);
    sub->RedChannel = top->RedChannel;
    sub->GreenChannel = top->GreenChannel;
    sub->BlueChannel = top->BlueChannel;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) sub->ScanLine(y)[x * 4] = static_cast<BYTE>(side);
  }
  TDirect3DTexture2 texture(d, top.get(), false);
  EXPECT_TRUE(texture.Mipmap());
  EXPECT_TRUE(texture.UseMipmap());
  EXPECT_EQ(texture.SurfaceDesc().dwMipMapCount, 3u);
  IDirectDrawSurface7* level = texture.Surface()->IDDSurface7();
  level->AddRef();
  for (DWORD side : {8u, 4u, 2u}) {
    ASSERT_NE(level, nullptr);
    DDSURFACEDESC2 desc{};
    desc.dwSize = kDDSurfaceDesc2Size;
    ASSERT_EQ(level->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.dwWidth, side);
    EXPECT_EQ(static_cast<BYTE*>(desc.lpSurface)[0], side);  // each level from its own image
    level->Unlock(nullptr);
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_MIPMAP;
    IDirectDrawSurface7* next = nullptr;
    level->GetAttachedSurface(&caps, &next);
    level->Release();
    level = next;
  }
  EXPECT_EQ(level, nullptr);
}

}  // namespace
