// The drawing target of the whole framework: a DirectDraw surface with blits that clip
// themselves, mirrored and stretched drawing, colour fills and keys, locks and raw pixels,
// colour matching, loading from pictures, and a canvas on the surface's device context.
#pragma once

#include <vector>

#include "framework/graphics/DirectDraw.h"
#include "platform/gdi/Canvas.h"
#include "platform/gdi/Graphics.h"

class TDirectDrawSurface;

// A canvas drawing through the surface's device context. The context is taken when drawing
// first needs one and given back by Release; between the two the surface is locked, so every
// run of canvas drawing ends with Release before the next blit or flip.
class TDirectDrawSurfaceCanvas : public TCanvas {
 public:
  explicit TDirectDrawSurfaceCanvas(TDirectDrawSurface* ASurface);
  ~TDirectDrawSurfaceCanvas() override;

  void Release();
  HDC DC() const { return FDC; }
  TDirectDrawSurface* Surface() const { return FSurface; }

 protected:
  void CreateHandle() override;

 private:
  TDirectDrawSurface* FSurface;
  HDC FDC = nullptr;
};

class TDirectDrawSurface : public TDirectX {
 public:
  // Enters the surface list of ADirectDraw; no DirectDraw surface exists yet.
  explicit TDirectDrawSurface(TDirectDraw* ADirectDraw);
  ~TDirectDrawSurface() override;

  void Assign(TPersistent* Source) override;

  TDirectDraw* DDraw() const { return FDDraw; }
  IDirectDrawSurface* IDDSurface() const { return FIDDSurface.Get(); }
  IDirectDrawSurface4* IDDSurface4() const { return FIDDSurface4.Get(); }
  IDirectDrawSurface7* IDDSurface7() const { return FIDDSurface7.Get(); }
  IDirectDrawGammaControl* IDDGammaControl() const { return FIDDGammaControl.Get(); }
  IDirectDrawSurface* ISurface() const;
  IDirectDrawSurface4* ISurface4() const;
  IDirectDrawSurface7* ISurface7() const;
  // Attaches the surface behind Value (any of its interfaces), releasing what was attached; the
  // one already attached changes nothing.
  void SetIDDSurface(IUnknown* Value);
  void SetIDDSurfaceFrom(IUnknown* Value) { SetIDDSurface(Value); }

  bool CreateSurface(DDSURFACEDESC& SurfaceDesc);
  // An offscreen surface of this size, in video memory unless SystemMemory is set or video
  // memory is short; a size of 0 or less leaves the surface empty.
  void SetSize(int AWidth, int AHeight);

  // Either rectangle may be nullptr (the whole surface), and so may Source.
  bool Blt(const TRect* DestRect, const TRect* SrcRect, DWORD Flags, const DDBLTFX& DF,
           TDirectDrawSurface* Source);
  bool BltFast(int X, int Y, const TRect& SrcRect, DWORD Flags, TDirectDrawSurface* Source);
  // Copies SrcRect of Source to (X, Y), clipped to both surfaces; a SrcRect given right to left
  // or bottom to top draws it mirrored.
  void Draw(int X, int Y, const TRect& SrcRect, TDirectDrawSurface* Source, bool Transparent);
  void StretchDraw(const TRect& DestRect, const TRect& SrcRect, TDirectDrawSurface* Source,
                   bool Transparent);
  // Blended and rotated drawing through the software renderer (or the accelerated drawer when
  // it draws for this surface). Alpha runs from 0 (nothing drawn) to 255; a source with its own
  // alpha blends by that. Rotated forms place the point (Width * CenterX, Height * CenterY) of
  // the drawn rectangle at (X, Y) and turn it by Angle 1/256 turns, clockwise on the screen.
  void DrawAdd(const TRect& DestRect, const TRect& SrcRect, TDirectDrawSurface* Source,
               bool Transparent, int Alpha = 255);
  void DrawAlpha(const TRect& DestRect, const TRect& SrcRect, TDirectDrawSurface* Source,
                 bool Transparent, int Alpha);
  void DrawSub(const TRect& DestRect, const TRect& SrcRect, TDirectDrawSurface* Source,
               bool Transparent, int Alpha = 255);
  void DrawRotate(int X, int Y, int Width, int Height, const TRect& SrcRect,
                  TDirectDrawSurface* Source, double CenterX, double CenterY, bool Transparent,
                  float Angle);
  void DrawRotateAdd(int X, int Y, int Width, int Height, const TRect& SrcRect,
                     TDirectDrawSurface* Source, double CenterX, double CenterY, bool Transparent,
                     float Angle, int Alpha = 255);
  void DrawRotateAlpha(int X, int Y, int Width, int Height, const TRect& SrcRect,
                       TDirectDrawSurface* Source, double CenterX, double CenterY, bool Transparent,
                       float Angle, int Alpha);
  void DrawRotateSub(int X, int Y, int Width, int Height, const TRect& SrcRect,
                     TDirectDrawSurface* Source, double CenterX, double CenterY, bool Transparent,
                     float Angle, int Alpha = 255);

  // Fills the whole surface with a raw pixel value of its format.
  bool Fill(DWORD DevColor);

  TDirectDrawSurfaceCanvas* Canvas();
  TRect ClientRect() const { return Rect(0, 0, Width(), Height()); }
  int Width() const { return static_cast<int>(FSurfaceDesc.dwWidth); }
  int Height() const { return static_cast<int>(FSurfaceDesc.dwHeight); }
  int BitCount() const { return static_cast<int>(FSurfaceDesc.ddpfPixelFormat.dwRGBBitCount); }
  const DDSURFACEDESC& SurfaceDesc() const { return FSurfaceDesc; }

  // Locks Rect (nullptr: the whole surface). Locks do not nest: a second caller gets false and
  // must not unlock.
  bool Lock(const TRect* Rect, DDSURFACEDESC& SurfaceDesc);
  void Unlock();
  int LockCount() const { return FLockCount; }
  // One raw pixel; 0 outside the surface or when it cannot be locked.
  DWORD Pixels(int X, int Y);
  void SetPixels(int X, int Y, DWORD Value);
  // The raw pixel value the surface's format gives Color.
  DWORD MatchColor(TColor Color);

  bool Restore();
  void SetClipper(TDirectDrawClipper* Value);
  void SetColorKey(DWORD Flags, const DDCOLORKEY& Value);
  // A source colour key of one raw pixel value.
  void SetTransparentColor(DWORD Col);
  void SetPalette(TDirectDrawPalette* Value);

  void LoadFromGraphic(TGraphic* Graphic);
  // Remakes the surface at Width x Height (0: SrcRect's) holding SrcRect of Graphic.
  void LoadFromGraphicRect(TGraphic* Graphic, int AWidth, int AHeight, const TRect& SrcRect);

  bool HasClipper = false;
  bool SystemMemory = false;

 protected:
  void AssignTo(TPersistent* Dest) override;

 private:
  friend class TDirectDrawSurfaceCanvas;
  bool LockWhole(DDSURFACEDESC& Desc);

  TDirectDrawSurfaceCanvas* FCanvas = nullptr;
  TDirectDraw* FDDraw;
  ComPtr<IDirectDrawSurface> FIDDSurface;
  ComPtr<IDirectDrawSurface4> FIDDSurface4;
  ComPtr<IDirectDrawSurface7> FIDDSurface7;
  ComPtr<IDirectDrawClipper> FStretchClipper;
  DDSURFACEDESC FSurfaceDesc;
  ComPtr<IDirectDrawGammaControl> FIDDGammaControl;
  DDSURFACEDESC FLockSurfaceDesc;
  int FLockCount = 0;
};

// Cuts Dest and Src, which have the same size and move in step, to DestClip and SrcClip; true
// when something is left of both.
bool ClipBltRects(TRect& Dest, TRect& Src, const TRect& DestClip, const TRect& SrcClip);
