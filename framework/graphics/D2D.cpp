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
  return false;
}
