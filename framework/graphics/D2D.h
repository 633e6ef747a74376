// The accelerated 2-D drawer of a display: draws pictures as textured quads with the display's
// Direct3D device. Surface drawing on the display's drawing surface asks it first (IsActive)
// and hands the work over when it is active.
//
// Without a Direct3D device there is nothing to draw with: the drawer is never active, its
// drawing calls draw nothing and answer false, and refreshing its render target fails.
#pragma once

#include "platform/rtl/Object.h"
#include "platform/win/WinTypes.h"

class TCustomDXDraw;
class TDirectDrawSurface;

class TD2D : public TObject {
 public:
  explicit TD2D(TCustomDXDraw* ADXDraw);
  ~TD2D() override;

  TCustomDXDraw* DXDraw() const { return FDXDraw; }
  // The display's drawing surface, which this drawer draws on.
  TDirectDrawSurface* TargetSurface() const;
  // Whether drawing on the display's drawing surface comes here; asked by every Draw, so cheap.
  bool IsActive();
  void SetTextureFilter(bool Value);
  bool TextureFilter() const { return FTextureFilter; }
  // Points the device at the display's drawing surface again; true on success.
  bool UpdateRenderTarget();

  // Drawing of a surface into DestRect on the display's drawing surface; true when drawn.
  bool Draw(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent);

  bool Enabled = false;
  int SurfaceBitCount = 0;

 private:
  TCustomDXDraw* FDXDraw;
  bool FTextureFilter = false;
};

// The drawer of the display made or initialized last; nullptr after a finalization or
// destruction.
extern TD2D* CurrentD2D;
// Suppresses the next flip, which clears it.
extern bool SkipNextFlip;
