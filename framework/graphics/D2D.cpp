#include "framework/graphics/D2D.h"

#include "framework/graphics/DXDraw.h"

TD2D* CurrentD2D = nullptr;
bool SkipNextFlip = false;

TD2D::TD2D(TCustomDXDraw* ADXDraw) : FDXDraw(ADXDraw) {}

TD2D::~TD2D() {
  if (CurrentD2D == this) CurrentD2D = nullptr;
}

TDirectDrawSurface* TD2D::TargetSurface() const { return FDXDraw ? FDXDraw->Surface : nullptr; }

bool TD2D::IsActive() {
  Enabled = false;
  return false;
}

void TD2D::SetTextureFilter(bool Value) { FTextureFilter = Value; }

bool TD2D::UpdateRenderTarget() { return false; }

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
