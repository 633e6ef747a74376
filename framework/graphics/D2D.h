// The accelerated 2-D drawer of a display: draws pictures as textured quads with the display's
// Direct3D device. Surface drawing on the display's drawing surface asks it first (IsActive)
// and hands the work over when it is active.
//
// The drawer is enabled while its display's options ask for hardware 3-D with DirectX 7, and
// active when, besides, the drawing surface has 16 or 32 bits; enabling it sets the texture
// filters of the display's device. Drawing quads is not built in yet: the drawing calls draw
// nothing and answer false.
#pragma once

#include "platform/rtl/Object.h"
#include "platform/win/WinTypes.h"

class TCustomDXDraw;
class TDirectDrawSurface;
class TPictureCollectionItem;

class TD2D : public TObject {
 public:
  explicit TD2D(TCustomDXDraw* ADXDraw);
  ~TD2D() override;

  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  // The display's drawing surface, which this drawer draws on.
  TDirectDrawSurface* TargetSurface() const;
  // Whether drawing on the display's drawing surface comes here; asked by every Draw, so cheap.
  bool IsActive();
  // Turning it on sets the texture filter on the device again.
  void SetEnabled(bool Value);
  // Bilinear (true) or point filtering of stage 0 on the display's DirectX 7 device.
  void SetTextureFilter(bool Value);
  bool TextureFilter() const { return FTextureFilter; }
  // Points the display's DirectX 7 device at the drawing surface again; true on success, false
  // without a device.
  bool UpdateRenderTarget();

  // The drawing family: one quad on the display's drawing surface each, true when drawn.
  // Angles count 256ths of a turn; CenterX, CenterY are fractions of the picture.
  bool Draw(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent);
  bool DrawAdd(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha);
  bool DrawAlpha(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha);
  bool DrawSub(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha);
  bool DrawRotate(int X, int Y, int Width, int Height, TDirectDrawSurface* Source, double CenterX,
                  double CenterY, bool Transparent, int Angle);
  bool DrawRotateAdd(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                     double CenterX, double CenterY, bool Transparent, int Angle, int Alpha);
  bool DrawRotateAlpha(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                       double CenterX, double CenterY, bool Transparent, int Angle, int Alpha);
  bool DrawRotateSub(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                     double CenterX, double CenterY, bool Transparent, int Angle, int Alpha);
  // The same with a pattern of a picture-list item as the source.
  bool StretchDraw(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex);
  bool DrawAdd(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex, int Alpha);
  bool DrawAlpha(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                 int Alpha);
  bool DrawSub(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex, int Alpha);
  bool DrawRotate(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                  int PatternIndex, double CenterX, double CenterY, int Angle);
  bool DrawRotateAdd(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha);
  bool DrawRotateAlpha(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                       int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha);
  bool DrawRotateSub(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                     int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha);

  bool Enabled = false;
  int SurfaceBitCount = 0;

 private:
  // Every drawing starts by asking IsActive; without a device nothing is drawn.
  bool NothingDrawn() {
    IsActive();
    return false;
  }

  TCustomDXDraw* FDXDraw;
  bool FTextureFilter = true;
};

// The drawer of the display made or initialized last; nullptr after a finalization or
// destruction.
extern TD2D* CurrentD2D;
// Suppresses the next flip, which clears it.
extern bool SkipNextFlip;
