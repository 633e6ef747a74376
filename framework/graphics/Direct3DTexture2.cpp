#include "framework/graphics/Direct3DTexture2.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "framework/graphics/DXConsts.h"
#include "platform/gdi/Colors.h"

namespace {

// Index size of a palettized pixel format, tested from the widest; 0 for others.
int IndexBits(DWORD Flags) {
  if (Flags & DDPF_PALETTEINDEXED8) return 8;
  if (Flags & DDPF_PALETTEINDEXED4) return 4;
  if (Flags & DDPF_PALETTEINDEXED2) return 2;
  if (Flags & DDPF_PALETTEINDEXED1) return 1;
  return 0;
}

// The highest power of two not above Value, at least 1.
DWORD PowerOfTwoBelow(DWORD Value) {
  DWORD p = 1;
  while (p <= Value / 2) p <<= 1;
  return p;
}

bool IsPaletteIndex(TColor Color) {
  return (static_cast<DWORD>(Color) & 0xFF000000u) == 0x01000000u;
}

[[noreturn]] void CannotInitialize() {
  throw EDirect3DTextureError(Format(SCannotInitialized, {STexture}));
}

// The locked pixels of one texture level.
struct TLockedLevel {
  BYTE* Bits;
  LONG Pitch;
  int Width;
  int Height;
  int BitCount;

  BYTE* Row(int Y) const { return Bits + static_cast<std::ptrdiff_t>(Y) * Pitch; }
  // Pixels of 1, 2 and 4 bits go least significant bits first.
  void SetPixel(int X, int Y, DWORD Value) const {
    BYTE* row = Row(Y);
    switch (BitCount) {
      case 1:
      case 2:
      case 4: {
        const int perByte = 8 / BitCount;
        const int shift = (X % perByte) * BitCount;
        const BYTE mask = static_cast<BYTE>(((1u << BitCount) - 1) << shift);
        BYTE& b = row[X / perByte];
        b = static_cast<BYTE>((b & ~mask) | ((Value << shift) & mask));
        break;
      }
      case 8:
        row[X] = static_cast<BYTE>(Value);
        break;
      case 16:
        row[X * 2] = static_cast<BYTE>(Value);
        row[X * 2 + 1] = static_cast<BYTE>(Value >> 8);
        break;
      case 24:
        for (int i = 0; i < 3; ++i) row[X * 3 + i] = static_cast<BYTE>(Value >> (8 * i));
        break;
      case 32:
        for (int i = 0; i < 4; ++i) row[X * 4 + i] = static_cast<BYTE>(Value >> (8 * i));
        break;
      default:
        break;
    }
  }
  // Copies the image's rows as they stand, as far as the image reaches; the rest is 0.
  void CopyRows(const TDXTextureImage* Image) const {
    const std::int64_t rowBytes = (static_cast<std::int64_t>(BitCount) * Width + 7) / 8;
    const std::int64_t have = std::min<std::int64_t>(rowBytes, std::max(Image->WidthBytes, 0));
    for (int y = 0; y < Height; ++y) {
      BYTE* dest = Row(y);
      std::int64_t copied = 0;
      if (y < Image->Height && Image->TopRow != nullptr) {
        std::memcpy(dest, Image->ScanLine(y), static_cast<std::size_t>(have));
        copied = have;
      }
      std::memset(dest + copied, 0, static_cast<std::size_t>(rowBytes - copied));
    }
  }
};

// Fills one level (Surface) from Image, converting to the level's format.
void LoadLevel(IDirectDrawSurface4* Surface, const TDXTextureImage* Image) {
  DDSURFACEDESC2 desc{};
  desc.dwSize = kDDSurfaceDesc2Size;
  if (FAILED(Surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) return;
  struct Unlocker {
    IDirectDrawSurface4* S;
    ~Unlocker() { S->Unlock(nullptr); }
  } unlocker{Surface};

  const DDPIXELFORMAT& pf = desc.ddpfPixelFormat;
  const TLockedLevel level{static_cast<BYTE*>(desc.lpSurface), desc.lPitch,
                           static_cast<int>(desc.dwWidth), static_cast<int>(desc.dwHeight),
                           static_cast<int>(pf.dwRGBBitCount)};
  const int surfaceIndex = IndexBits(pf.dwFlags);
  if (surfaceIndex != 0) {
    if (Image->ImageKind != ikPalette) return;
    if (surfaceIndex == Image->BitCount && Image->IndexChannel.BitCount == surfaceIndex &&
        Image->IndexChannel.RightShift == 0 && Image->IndexAlphaChannel.Mask == 0 &&
        !Image->HighBitFirst) {
      level.CopyRows(Image);
      return;
    }
    for (int y = 0; y < level.Height; ++y)
      for (int x = 0; x < level.Width; ++x)
        level.SetPixel(x, y, DecodeChannel(Image->IndexChannel, Image->Pixels(x, y)));
    return;
  }

  const TImageChannel red = MakeChannel(pf.dwRBitMask, false);
  const TImageChannel green = MakeChannel(pf.dwGBitMask, false);
  const TImageChannel blue = MakeChannel(pf.dwBBitMask, false);
  const TImageChannel alpha = MakeChannel(pf.dwRGBAlphaBitMask, false);
  auto encode = [&](DWORD r, DWORD g, DWORD b, DWORD a) {
    return EncodeChannel(red, r) | EncodeChannel(green, g) | EncodeChannel(blue, b) |
           EncodeChannel(alpha, a);
  };
  if (Image->ImageKind == ikPalette) {
    for (int y = 0; y < level.Height; ++y)
      for (int x = 0; x < level.Width; ++x) {
        const DWORD p = Image->Pixels(x, y);
        // The palette has 256 entries, whatever the index channel could address.
        const PALETTEENTRY& e = Image->Palette[DecodeChannel(Image->IndexChannel, p) & 0xFF];
        const DWORD a =
            Image->IndexAlphaChannel.Mask != 0 ? DecodeChannel(Image->IndexAlphaChannel, p) : 255;
        level.SetPixel(x, y, encode(e.peRed, e.peGreen, e.peBlue, a));
      }
    return;
  }
  if (Image->RedChannel.Mask == pf.dwRBitMask && Image->GreenChannel.Mask == pf.dwGBitMask &&
      Image->BlueChannel.Mask == pf.dwBBitMask &&
      Image->AlphaChannel.Mask == pf.dwRGBAlphaBitMask && Image->BitCount == level.BitCount &&
      (level.BitCount >= 8 || !Image->HighBitFirst)) {
    level.CopyRows(Image);
    return;
  }
  for (int y = 0; y < level.Height; ++y)
    for (int x = 0; x < level.Width; ++x) {
      const DWORD p = Image->Pixels(x, y);
      const DWORD a = Image->AlphaChannel.Mask != 0 ? DecodeChannel(Image->AlphaChannel, p) : 255;
      level.SetPixel(
          x, y,
          encode(DecodeChannel(Image->RedChannel, p), DecodeChannel(Image->GreenChannel, p),
                 DecodeChannel(Image->BlueChannel, p), a));
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TDirect3DTexture2::TDirect3DTexture2(TCustomDXDraw* ADXDraw, TObject* AGraphic,
                                     bool AAutoFreeGraphic)
    : AutoFreeGraphic(AAutoFreeGraphic), FGraphic(AGraphic) {
  FNeedLoad = true;
  try {
    if (auto* image = dynamic_cast<TDXTextureImage*>(AGraphic)) {
      FImage = image;
    } else if (auto* dib = dynamic_cast<TDIB*>(AGraphic)) {
      ImageFromDIB(dib);
    } else if (dynamic_cast<TGraphic*>(AGraphic) != nullptr ||
               dynamic_cast<TPicture*>(AGraphic) != nullptr) {
      auto* copy = new TDIB;
      try {
        copy->Assign(static_cast<TPersistent*>(AGraphic));
      } catch (...) {
        delete copy;
        throw;
      }
      if (AutoFreeGraphic) delete AGraphic;
      FGraphic = copy;
      AutoFreeGraphic = true;
      ImageFromDIB(copy);
    } else {
      throw Exception(SCannotLoadGraphic);
    }

    FMipmap = FImage->GroupCount(DXTextureImageGroupType_Mipmap) > 0;
    FTransparent = FImage->Transparent;
    if (FImage->ImageKind == ikPalette) {
      FTransparentColor = PaletteIndex(
          static_cast<int>(DecodeChannel(FImage->IndexChannel, FImage->TransparentColor)));
    } else {
      const DWORD c = FImage->TransparentColor;
      FTransparentColor =
          static_cast<TColor>(RGB(static_cast<BYTE>(DecodeChannel(FImage->RedChannel, c)),
                                  static_cast<BYTE>(DecodeChannel(FImage->GreenChannel, c)),
                                  static_cast<BYTE>(DecodeChannel(FImage->BlueChannel, c))));
    }
    SetDXDraw(ADXDraw);
  } catch (...) {
    // No destructor runs for a constructor that fails: undo here what it would.
    SetDXDraw(nullptr);
    FreeSurface();
    if (AutoFreeGraphic) delete FGraphic;
    delete FOwnImage;
    throw;
  }
}

TDirect3DTexture2::~TDirect3DTexture2() {
  FreeSurface();
  SetDXDraw(nullptr);
  if (AutoFreeGraphic) delete FGraphic;
  delete FOwnImage;
}

void TDirect3DTexture2::SetDXDraw(TCustomDXDraw* Value) {
  if (Value == FDXDraw) return;
  const TDXDrawNotifyEvent handler = TDXDrawNotifyEvent::Of<&TDirect3DTexture2::DXDrawNotify>(this);
  if (FDXDraw) {
    TCustomDXDraw* old = FDXDraw;
    FDXDraw = nullptr;
    old->RemoveNotifyHandler(handler);
  }
  FDXDraw = Value;
  if (FDXDraw) FDXDraw->AddNotifyHandler(handler);
}

void TDirect3DTexture2::DXDrawNotify(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType) {
  switch (NotifyType) {
    case nkDestroying:
      SetDXDraw(nullptr);
      break;
    case nkInitializeSurface:
      CreateSurface();
      break;
    case nkFinalizeSurface:
      FreeSurface();
      break;
    case nkRestore:
      Load();
      break;
    default:
      break;
  }
}

TDirectDrawSurface* TDirect3DTexture2::Surface() {
  if (FSurface && FNeedLoad) Load();
  return FSurface;
}

void TDirect3DTexture2::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  if (FSurface) SetColorKey();
}

void TDirect3DTexture2::SetTransparentColor(TColor Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  if (FSurface && FTransparent) SetColorKey();
}

void TDirect3DTexture2::DoRestoreSurface() {
  if (OnRestoreSurface) OnRestoreSurface(this);
}

void TDirect3DTexture2::FreeSurface() {
  delete FSurface;
  FSurface = nullptr;
  FUseColorKey = false;
  FUseMipmap = false;
  FNeedLoad = false;
}

bool TDirect3DTexture2::HasDevice() const {
  return FDXDraw && (FDXDraw->D3DDevice7 || FDXDraw->D3DDevice3);
}

void TDirect3DTexture2::ImageFromDIB(TDIB* DIB) {
  if (!FOwnImage) FOwnImage = new TDXTextureImage;
  const int bitCount = DIB->BitCount();
  // Asking for the rows makes the pixels this TDIB's own, so they stay where they are.
  BYTE* bits = DIB->PBits();
  BYTE* top = DIB->TopPBits();
  FOwnImage->SetImage(bitCount <= 8 ? ikPalette : ikRGB, DIB->Width(), DIB->Height(), bitCount,
                      DIB->WidthBytes(), DIB->NextLine(), bits, top, DIB->Size(), false);
  if (bitCount <= 8) {
    FOwnImage->IndexChannel = MakeChannel((DWORD{1} << bitCount) - 1, true);
    for (int i = 0; i < 256; ++i) FOwnImage->Palette[i] = RGBQuadToPaletteEntry(DIB->ColorTable[i]);
    // Bitmap rows keep the leftmost pixel in the high bits of a byte.
    FOwnImage->HighBitFirst = true;
  } else {
    const TDIBPixelFormat& f = DIB->NowPixelFormat();
    FOwnImage->RedChannel = MakeChannel(static_cast<DWORD>(f.RBitMask), false);
    FOwnImage->GreenChannel = MakeChannel(static_cast<DWORD>(f.GBitMask), false);
    FOwnImage->BlueChannel = MakeChannel(static_cast<DWORD>(f.BBitMask), false);
    const int n = FOwnImage->RedChannel.BitCount + FOwnImage->GreenChannel.BitCount +
                  FOwnImage->BlueChannel.BitCount;
    FOwnImage->AlphaChannel =
        n < bitCount
            ? MakeChannel(static_cast<DWORD>(((std::uint64_t{1} << (bitCount - n)) - 1) << n),
                          false)
            : TImageChannel{};
    FOwnImage->HighBitFirst = false;
  }
  FImage = FOwnImage;
}

HRESULT TDirect3DTexture2::EnumTextureFormatCallback(DDPIXELFORMAT* Format, void* Context) {
  static_cast<TDirect3DTexture2*>(Context)->ChooseTextureFormat(*Format);
  return D3DENUMRET_OK;
}

void TDirect3DTexture2::ChooseTextureFormat(const DDPIXELFORMAT& Format) {
  int wantIndex, wantR, wantG, wantB, wantA;
  const bool paletteImage = FImage->ImageKind == ikPalette;
  if (paletteImage) {
    wantIndex = FImage->IndexChannel.BitCount;
    wantA = FImage->IndexAlphaChannel.BitCount;
    wantR = wantG = wantB = 8;
  } else {
    wantIndex = 8;
    wantR = FImage->RedChannel.BitCount;
    wantG = FImage->GreenChannel.BitCount;
    wantB = FImage->BlueChannel.BitCount;
    wantA = FImage->AlphaChannel.BitCount;
  }
  if (!(Format.dwFlags & DDPF_RGB)) return;
  const int candidateIndex = IndexBits(Format.dwFlags);
  if (candidateIndex != 0 && (!paletteImage || candidateIndex < wantIndex)) return;

  DDPIXELFORMAT& chosen = FSurfaceDesc.ddpfPixelFormat;
  auto take = [&] {
    chosen = Format;
    FFormatFound = true;
  };
  if (!FFormatFound) {
    take();
    return;
  }
  const bool alphaWanted = wantA > 0;
  if (candidateIndex != 0) {
    const int chosenDistance = std::abs(static_cast<int>(chosen.dwRGBBitCount) - wantIndex);
    const int candidateDistance = std::abs(static_cast<int>(Format.dwRGBBitCount) - wantIndex);
    if (chosenDistance < candidateDistance || alphaWanted) return;
    take();
    return;
  }
  const bool candidateAlpha = (Format.dwFlags & DDPF_ALPHAPIXELS) != 0;
  const bool chosenAlpha = (chosen.dwFlags & DDPF_ALPHAPIXELS) != 0;
  if (alphaWanted && candidateAlpha && !chosenAlpha) {
    take();
    return;
  }
  if (alphaWanted && chosenAlpha && !candidateAlpha) return;
  if (IndexBits(chosen.dwFlags) != 0) {
    take();
    return;
  }
  auto distance = [&](const DDPIXELFORMAT& f) {
    const int d[4] = {ChannelBitCount(f.dwRBitMask) - wantR, ChannelBitCount(f.dwGBitMask) - wantG,
                      ChannelBitCount(f.dwBBitMask) - wantB,
                      ChannelBitCount(f.dwRGBAlphaBitMask) - wantA};
    return d[0] * d[0] + d[1] * d[1] + d[2] * d[2] + d[3] * d[3];
  };
  if (distance(chosen) < distance(Format)) return;
  take();
}

void TDirect3DTexture2::CreateSurface() {
  FreeSurface();
  if (!FDXDraw || !FImage || !FDXDraw->DDraw) return;
  if (!HasDevice()) CannotInitialize();

  FDeviceDesc = D3DDEVICEDESC{};
  FDeviceDesc.dwSize = kD3DDeviceDescSize;
  if (FDXDraw->D3DDevice7) {
    D3DDEVICEDESC7 caps;
    FDXDraw->D3DDevice7->GetCaps(&caps);
    FDeviceDesc.dpcLineCaps.dwTextureCaps = caps.dpcLineCaps.dwTextureCaps;
    FDeviceDesc.dpcTriCaps.dwTextureCaps = caps.dpcTriCaps.dwTextureCaps;
    FDeviceDesc.dwMinTextureWidth = caps.dwMinTextureWidth;
    FDeviceDesc.dwMaxTextureWidth = caps.dwMaxTextureWidth;
    FDeviceDesc.dwMinTextureHeight = caps.dwMinTextureHeight;
    FDeviceDesc.dwMaxTextureHeight = caps.dwMaxTextureHeight;
  } else {
    FDXDraw->D3DDevice3->GetCaps(&FDeviceDesc, nullptr);
  }

  // Size by the device's rules. An image without pixels still gets a texture of one.
  const DWORD textureCaps = FDeviceDesc.dpcTriCaps.dwTextureCaps;
  DWORD width = static_cast<DWORD>(std::max(FImage->Width, 1));
  DWORD height = static_cast<DWORD>(std::max(FImage->Height, 1));
  if (textureCaps & D3DPTEXTURECAPS_POW2) {
    width = PowerOfTwoBelow(width);
    height = PowerOfTwoBelow(height);
  }
  if (textureCaps & D3DPTEXTURECAPS_SQUAREONLY) width = height = std::max(width, height);
  if (FDeviceDesc.dwMinTextureWidth != 0) width = std::max(width, FDeviceDesc.dwMinTextureWidth);
  if (FDeviceDesc.dwMaxTextureWidth != 0) width = std::min(width, FDeviceDesc.dwMaxTextureWidth);
  if (FDeviceDesc.dwMinTextureHeight != 0)
    height = std::max(height, FDeviceDesc.dwMinTextureHeight);
  if (FDeviceDesc.dwMaxTextureHeight != 0)
    height = std::min(height, FDeviceDesc.dwMaxTextureHeight);

  FSurfaceDesc = DDSURFACEDESC2{};
  FFormatFound = false;
  if (FDXDraw->D3DDevice7)
    FDXDraw->D3DDevice7->EnumTextureFormats(&EnumTextureFormatCallback, this);
  else
    FDXDraw->D3DDevice3->EnumTextureFormats(&EnumTextureFormatCallback, this);
  if (!FFormatFound) CannotInitialize();

  const int mipmaps = FImage->GroupCount(DXTextureImageGroupType_Mipmap);
  FUseMipmap = FMipmap && FSurfaceDesc.ddpfPixelFormat.dwRGBBitCount > 8 && mipmaps > 0 &&
               (FDXDraw->DDraw->DriverCaps.ddsCaps.dwCaps & DDSCAPS_MIPMAP) != 0;

  FSurfaceDesc.dwSize = kDDSurfaceDesc2Size;
  FSurfaceDesc.ddpfPixelFormat.dwSize = kDDPixelFormatSize;
  FSurfaceDesc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  FSurfaceDesc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
  FSurfaceDesc.dwWidth = width;
  FSurfaceDesc.dwHeight = height;
  if (FDXDraw->NowOptions.Contains(doHardware))
    FSurfaceDesc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
  else
    FSurfaceDesc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  if (FUseMipmap) {
    FSurfaceDesc.dwFlags |= DDSD_MIPMAPCOUNT;
    FSurfaceDesc.ddsCaps.dwCaps |= DDSCAPS_MIPMAP | DDSCAPS_COMPLEX;
    // The image fills the first level and each mipmap sub-image one more, so that none of them
    // is left without a level.
    FSurfaceDesc.dwMipMapCount = static_cast<DWORD>(mipmaps) + 1;
  }

  IDirectDrawSurface4* made = nullptr;
  if (FAILED(FDXDraw->DDraw->IDraw4()->CreateSurface(&FSurfaceDesc, &made, nullptr)) || !made)
    CannotInitialize();
  FSurface = new TDirectDrawSurface(FDXDraw->DDraw);
  try {
    FSurface->SetIDDSurface(made);
  } catch (...) {
    made->Release();
    FreeSurface();
    throw;
  }
  made->Release();

  const int indexBits = IndexBits(FSurfaceDesc.ddpfPixelFormat.dwFlags);
  if (indexBits != 0) {
    DWORD caps = DDPCAPS_8BIT | DDPCAPS_ALLOW256;
    if (indexBits == 4) caps = DDPCAPS_4BIT;
    if (indexBits == 2) caps = DDPCAPS_2BIT;
    if (indexBits == 1) caps = DDPCAPS_1BIT;
    PALETTEENTRY entries[256];
    std::copy(FImage->Palette.begin(), FImage->Palette.end(), entries);
    IDirectDrawPalette* palette = nullptr;
    if (FAILED(FDXDraw->DDraw->IDraw4()->CreatePalette(caps, entries, &palette, nullptr)) ||
        !palette)
      return;
    FSurface->IDDSurface4()->SetPalette(palette);
    palette->Release();
  }
  FNeedLoad = true;
}

void TDirect3DTexture2::Load() {
  if (!FSurface) CreateSurface();
  if (!FSurface) return;
  FNeedLoad = false;
  if (FSurface->ISurface()->IsLost() == DDERR_SURFACELOST) FSurface->Restore();
  SetColorKey();
  if (!FImage) {
    DoRestoreSurface();
    return;
  }
  // A TDIB may have changed (or moved its pixels) since it was last described.
  if (auto* dib = dynamic_cast<TDIB*>(FGraphic)) ImageFromDIB(dib);

  ComPtr<IDirectDrawSurface4> level(FSurface->IDDSurface4());
  LoadLevel(level.Get(), FImage);
  const int mipmaps = FImage->GroupCount(DXTextureImageGroupType_Mipmap);
  for (int i = 0; i < mipmaps; ++i) {
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_MIPMAP;
    IDirectDrawSurface4* next = nullptr;
    if (FAILED(level->GetAttachedSurface(&caps, &next)) || !next) break;
    level = ComPtr<IDirectDrawSurface4>::Attach(next);
    LoadLevel(level.Get(), FImage->GroupImage(DXTextureImageGroupType_Mipmap, i));
  }
}

void TDirect3DTexture2::SetColorKey() {
  FUseColorKey = false;
  if (!FSurface || !FTransparent ||
      !(FDeviceDesc.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_TRANSPARENCY))
    return;
  const DDPIXELFORMAT& pf = FSurfaceDesc.ddpfPixelFormat;
  const bool paletteColor = IsPaletteIndex(FTransparentColor);
  DWORD key;
  if (IndexBits(pf.dwFlags) != 0) {
    if (paletteColor) {
      key = static_cast<DWORD>(FTransparentColor) & 0xFFFF;
    } else if (FImage) {
      key = static_cast<DWORD>(FImage->FindColor(GetRValue(FTransparentColor),
                                                 GetGValue(FTransparentColor),
                                                 GetBValue(FTransparentColor)));
    } else {
      return;
    }
  } else {
    BYTE r, g, b;
    if (FImage && FImage->ImageKind == ikPalette && paletteColor) {
      const PALETTEENTRY& e = FImage->Palette[static_cast<DWORD>(FTransparentColor) & 0xFF];
      r = e.peRed, g = e.peGreen, b = e.peBlue;
    } else {
      if (static_cast<DWORD>(FTransparentColor) > 0xFFFFFFu) return;
      r = GetRValue(FTransparentColor), g = GetGValue(FTransparentColor),
      b = GetBValue(FTransparentColor);
    }
    key = EncodeChannel(MakeChannel(pf.dwRBitMask, false), r) |
          EncodeChannel(MakeChannel(pf.dwGBitMask, false), g) |
          EncodeChannel(MakeChannel(pf.dwBBitMask, false), b);
  }
  DDCOLORKEY ck;
  ck.dwColorSpaceLowValue = key;
  ck.dwColorSpaceHighValue = key;
  FSurface->SetColorKey(DDCKEY_SRCBLT, ck);
  FUseColorKey = true;
}
