// The framework's neutral picture for textures: TDXTextureImage, a block of pixel rows of 1 to 32
// bits described by a palette or by bit masks, with a name, a transparent colour and a tree of
// sub-images (the smaller levels of a mipmap chain, for instance). Two loaders fill it from a
// stream: the framework's chunked "dxt:" texture format and Windows / OS/2 bitmap files.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/rtl/Lists.h"
#include "platform/rtl/Object.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinTypes.h"

MORVANE_DECLARE_EXCEPTION(EDXTextureImageError, Exception)

// Where one value lies in a pixel. Index channels give the bare value; colour channels give an
// 8-bit value whatever their width, the channel's bits at the top of the byte.
struct TImageChannel {
  DWORD Mask = 0;
  int BitCount = 0;
  DWORD ValueMask = 0;
  int RightShift = 0;
  int LeftShift = 0;
  int Fill = 0;
  friend bool operator==(const TImageChannel&, const TImageChannel&) = default;
};

// Bit 0 to 30, the lowest set bit of Mask; 31 when none of them is set.
int ChannelLowBit(DWORD Mask);
// The run of set bits upward from the lowest set bit, not counting past bit 31.
int ChannelBitCount(DWORD Mask);
// IndexMode: the channel gives the bare value; otherwise an 8-bit colour component.
TImageChannel MakeChannel(DWORD Mask, bool IndexMode);
// The channel's value in Pixel. A colour channel narrower than 8 bits has its top bits repeated
// once into the free low bits (5 bits c give c shl 3 or c shr 2).
DWORD DecodeChannel(const TImageChannel& Channel, DWORD Pixel);
// An 8-bit colour component (or an index) placed into the channel's bits.
DWORD EncodeChannel(const TImageChannel& Channel, DWORD Value);

enum TDXTextureImageKind : BYTE { ikPalette = 0, ikRGB = 1 };

// What a sub-image is to its owner.
constexpr int DXTextureImageGroupType_Normal = 0;
constexpr int DXTextureImageGroupType_Mipmap = 1;

class TDXTextureImage;
using TDXTextureImageLoadFunc = void (*)(TStream* Stream, TDXTextureImage* Image);
using TDXTextureImageNotifyEvent = std::function<void(TObject* Sender, int A, int B)>;

class TDXTextureImage : public TObject {
 public:
  TDXTextureImage();
  // A sub-image of Owner, appended to its SubImages.
  explicit TDXTextureImage(TDXTextureImage* AOwner);
  static TDXTextureImage* CreateSub(TDXTextureImage* AOwner) { return new TDXTextureImage(AOwner); }
  ~TDXTextureImage() override;

  // Frees the pixel block (when owned) and forgets the geometry; HighBitFirst stays.
  void ClearImage();
  // ClearImage, and frees the sub-images and forgets name, group, transparency, channels and
  // palette.
  void Clear();
  // Wraps memory described by the caller (owned only when AOwnsBits).
  void SetImage(BYTE AImageKind, int AWidth, int AHeight, int ABitCount, int AWidthBytes,
                int ARowStep, BYTE* ABits, BYTE* ATopRow, int AImageSize, bool AOwnsBits);
  // A new owned top-down block; AWidthBytes 0 takes the 32-bit padded row length. The block
  // starts zeroed. EDXTextureImageError when the geometry is negative or the block would be too
  // large for a texture.
  void SetSize(BYTE AImageKind, int AWidth, int AHeight, int ABitCount, int AWidthBytes);

  BYTE* ScanLine(int Y) const { return TopRow + static_cast<std::intptr_t>(Y) * RowStep; }
  int SubImageCount() const { return FSubImages->Count(); }
  // EListError for an index out of range.
  TDXTextureImage* SubImage(int Index) const {
    return static_cast<TDXTextureImage*>(FSubImages->Items(Index));
  }
  int GroupCount(int GroupKind) const;
  // The Index-th direct sub-image of that kind; EListError when there is none.
  TDXTextureImage* GroupImage(int GroupKind, int Index) const;
  // Palette images: the nearest of the palette entries the index channel can address.
  int FindColor(int R, int G, int B) const;
  // The raw pixel value; 0 outside the image.
  DWORD Pixels(int X, int Y) const;

  virtual void DoNotify(int A, int B);

  // The loader procedures, tried by nobody in particular: "dxt:" streams first, bitmaps second.
  static void RegisterLoader(TDXTextureImageLoadFunc Loader);
  static void UnregisterLoader(TDXTextureImageLoadFunc Loader);
  // Reads a "dxt:" stream from the stream's position into Image.
  static void LoadDXTStream(TStream* Stream, TDXTextureImage* Image);
  // Reads a bitmap file from the stream's position into Image; an empty stream leaves it alone.
  static void LoadDIBStream(TStream* Stream, TDXTextureImage* Image);

  TDXTextureImage* Owner = nullptr;
  TDXTextureImageNotifyEvent OnNotify;
  BYTE ImageKind = ikPalette;
  int Width = 0;
  int Height = 0;
  BYTE* Bits = nullptr;
  int BitCount = 0;
  bool HighBitFirst = false;
  int WidthBytes = 0;
  int RowStep = 0;
  int ImageSize = 0;
  BYTE* TopRow = nullptr;
  bool Transparent = false;
  DWORD TransparentColor = 0;
  int GroupKind = 0;
  int GroupId = 0;
  std::string Name;
  bool OwnsBits = false;
  TImageChannel IndexChannel;
  TImageChannel IndexAlphaChannel;
  std::array<PALETTEENTRY, 256> Palette{};
  TImageChannel RedChannel;
  TImageChannel GreenChannel;
  TImageChannel BlueChannel;
  TImageChannel AlphaChannel;

 private:
  TList* FSubImages;
};

// The loaders in the order they were registered; nullptr once the unit has shut down.
const std::vector<TDXTextureImageLoadFunc>* TextureImageLoaders();

// ((Width * BitCount + 31) div 32) * 4, the padded row length of bitmaps.
int RowBytes(int Width, int BitCount);
