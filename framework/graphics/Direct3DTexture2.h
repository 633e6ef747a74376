// A picture as a Direct3D texture on a display: TDirect3DTexture2 chooses the device's texture
// format that fits the picture best, sizes the texture by the device's rules, fills mipmap levels
// from the picture's mipmap sub-images, keys out the transparent colour, and follows the
// display's notifications so that the texture is made again and reloaded whenever the display's
// surfaces are.
#pragma once

#include "framework/graphics/DIB.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXTextureImage.h"
#include "platform/d3d/D3D.h"

MORVANE_DECLARE_EXCEPTION(EDirect3DTextureError, Exception)

// A palette index in place of a colour: $01000000 or the index.
constexpr TColor PaletteIndex(int Index) { return 0x01000000 | (Index & 0xFFFF); }

class TDirect3DTexture2 : public TObject {
 public:
  // Graphic is a TDXTextureImage, a TDIB, any other TGraphic or a TPicture; the last two are
  // copied into a TDIB of the texture's own. Exception "Can not load graphic" for anything else.
  // On an initialized display the surface is made at once.
  TDirect3DTexture2(TCustomDXDraw* ADXDraw, TObject* AGraphic, bool AAutoFreeGraphic);
  ~TDirect3DTexture2() override;

  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  // Leaves the old display's notifications and joins the new one's (which replays its state).
  void SetDXDraw(TCustomDXDraw* Value);
  void DXDrawNotify(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType);

  TObject* Graphic() const { return FGraphic; }
  TDXTextureImage* Image() const { return FImage; }
  // The texture surface, loaded first when its pixels are still to come; nullptr without one.
  TDirectDrawSurface* Surface();
  // Whether the surface is keyed (while there is one), else whether a key is wanted.
  bool Transparent() const { return FSurface ? FUseColorKey : FTransparent; }
  void SetTransparent(bool Value);
  TColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(TColor Value);

  // Frees the texture surface; it comes back with the display's next initialization.
  void FreeSurface();
  // Makes the surface when there is none, restores it when lost, and loads its pixels.
  void Load();

  bool Mipmap() const { return FMipmap; }
  bool UseMipmap() const { return FUseMipmap; }
  bool UseColorKey() const { return FUseColorKey; }
  bool NeedLoad() const { return FNeedLoad; }
  const DDSURFACEDESC2& SurfaceDesc() const { return FSurfaceDesc; }
  const D3DDEVICEDESC& DeviceDesc() const { return FDeviceDesc; }

  bool AutoFreeGraphic = false;
  // Fired when the surface is to be reloaded and there is no image to load it from.
  TNotifyEvent OnRestoreSurface;

 protected:
  virtual void DoRestoreSurface();

 private:
  static HRESULT EnumTextureFormatCallback(DDPIXELFORMAT* Format, void* Context);
  void ChooseTextureFormat(const DDPIXELFORMAT& Format);
  void CreateSurface();
  // Describes the TDIB's pixels (without copying them) in the texture's own image.
  void ImageFromDIB(TDIB* DIB);
  void SetColorKey();
  bool HasDevice() const;

  TCustomDXDraw* FDXDraw = nullptr;
  TObject* FGraphic = nullptr;
  TDXTextureImage* FImage = nullptr;
  TDXTextureImage* FOwnImage = nullptr;
  TDirectDrawSurface* FSurface = nullptr;
  DDSURFACEDESC2 FSurfaceDesc{};
  bool FMipmap = false;
  bool FTransparent = false;
  TColor FTransparentColor = 0;
  bool FUseMipmap = false;
  bool FUseColorKey = false;
  bool FNeedLoad = false;
  bool FFormatFound = false;
  D3DDEVICEDESC FDeviceDesc{};
};
