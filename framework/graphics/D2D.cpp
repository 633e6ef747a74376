#include "framework/graphics/D2D.h"

#include "framework/graphics/DXDraw.h"

TD2D* CurrentD2D = nullptr;
bool SkipNextFlip = false;

namespace {

// The options under which the display draws pictures through its device.
bool Wanted(TCustomDXDraw* DXDraw) {
  const TDXDrawOptions o = DXDraw->Options();
  return o.Contains(do3D) && o.Contains(doDirectX7Mode) && o.Contains(doHardware);
}

}  // namespace

TD2D::TD2D(TCustomDXDraw* ADXDraw) : FDXDraw(ADXDraw) { SetEnabled(FDXDraw && Wanted(FDXDraw)); }

TD2D::~TD2D() {
  if (CurrentD2D == this) CurrentD2D = nullptr;
}

TDirectDrawSurface* TD2D::TargetSurface() const { return FDXDraw ? FDXDraw->Surface : nullptr; }

bool TD2D::IsActive() {
  if (!FDXDraw) return Enabled = false;
  if (Wanted(FDXDraw)) {
    if (!Enabled) SetEnabled(true);
  } else {
    Enabled = false;
  }
  TDirectDrawSurface* target = TargetSurface();
  SurfaceBitCount = target ? target->BitCount() : 0;
  if (SurfaceBitCount != 16 && SurfaceBitCount != 32) Enabled = false;
  return Enabled;
}

void TD2D::SetEnabled(bool Value) {
  if (Value == Enabled) return;
  Enabled = Value;
  if (Value) SetTextureFilter(true);
}

void TD2D::SetTextureFilter(bool Value) {
  FTextureFilter = Value;
  if (!FDXDraw || !FDXDraw->Options().Contains(do3D) || !FDXDraw->D3DDevice7) return;
  FDXDraw->D3DDevice7->SetTextureStageState(0, D3DTSS_MAGFILTER,
                                            Value ? D3DTFG_LINEAR : D3DTFG_POINT);
  FDXDraw->D3DDevice7->SetTextureStageState(0, D3DTSS_MINFILTER,
                                            Value ? D3DTFN_LINEAR : D3DTFN_POINT);
}

bool TD2D::UpdateRenderTarget() {
  if (!FDXDraw || !FDXDraw->D3DDevice7 || !FDXDraw->Surface || !FDXDraw->Surface->IDDSurface7())
    return false;
  return SUCCEEDED(FDXDraw->D3DDevice7->SetRenderTarget(FDXDraw->Surface->IDDSurface7(), 0));
}

bool TD2D::Draw(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent) {
  return NothingDrawn();
}
bool TD2D::DrawAdd(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawAlpha(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent,
                     int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawSub(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotate(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                      double CenterX, double CenterY, bool Transparent, int Angle) {
  return NothingDrawn();
}
bool TD2D::DrawRotateAdd(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                         double CenterX, double CenterY, bool Transparent, int Angle, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotateAlpha(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                           double CenterX, double CenterY, bool Transparent, int Angle, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotateSub(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                         double CenterX, double CenterY, bool Transparent, int Angle, int Alpha) {
  return NothingDrawn();
}
bool TD2D::StretchDraw(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex) {
  return NothingDrawn();
}
bool TD2D::DrawAdd(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                   int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawAlpha(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                     int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawSub(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                   int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotate(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                      int PatternIndex, double CenterX, double CenterY, int Angle) {
  return NothingDrawn();
}
bool TD2D::DrawRotateAdd(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                         int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotateAlpha(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                           int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha) {
  return NothingDrawn();
}
bool TD2D::DrawRotateSub(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                         int PatternIndex, double CenterX, double CenterY, int Angle, int Alpha) {
  return NothingDrawn();
}
