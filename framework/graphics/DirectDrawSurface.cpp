#include "framework/graphics/DirectDrawSurface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "framework/graphics/D2D.h"
#include "framework/graphics/DIB.h"
#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DXRBlit.h"
#include "platform/gdi/Colors.h"
#include "platform/gdi/Gdi.h"
#include "platform/rtl/SysUtils.h"

namespace {

// Blit flags of Draw and StretchDraw, by the transparency switch.
constexpr DWORD kBltFastFlags[2] = {DDBLTFAST_WAIT, DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT};
constexpr DWORD kBltFlags[2] = {DDBLT_WAIT, DDBLT_KEYSRC | DDBLT_WAIT};

DDBLTFX MakeBltFX() {
  DDBLTFX fx{};
  fx.dwSize = kDDBltFXSize;
  return fx;
}

// The accelerated drawer, when it draws for this surface; when it cannot draw, the surface
// operations do the work themselves.
TD2D* ActiveD2DFor(const TDirectDrawSurface* s) {
  return CurrentD2D && CurrentD2D->CanDraw() && CurrentD2D->TargetSurface() == s ? CurrentD2D
                                                                                 : nullptr;
}

// The part of Source that a drawing at (X, Y) shows on Dest and where it lands, clipped as the
// blit clips it. A rectangle given backwards comes back backwards, for the drawer to mirror;
// its clipping happens in mirrored coordinates, so that the cut falls on the side of the source
// that really leaves a surface. False when nothing is left.
bool DrawerRects(const TDirectDrawSurface* Dest, int X, int Y, TRect Src,
                 const TDirectDrawSurface* Source, TRect& DestOut, TRect& SrcOut) {
  const bool mirrorX = Src.Right < Src.Left, mirrorY = Src.Bottom < Src.Top;
  if (mirrorX) std::swap(Src.Left, Src.Right);
  if (mirrorY) std::swap(Src.Top, Src.Bottom);
  const int sw = Source->Width(), sh = Source->Height();
  if (mirrorX) Src = {sw - Src.Right, Src.Top, sw - Src.Left, Src.Bottom};
  if (mirrorY) Src = {Src.Left, sh - Src.Bottom, Src.Right, sh - Src.Top};
  DestOut = Bounds(X, Y, Src.Width(), Src.Height());
  if (!ClipBltRects(DestOut, Src, Dest->ClientRect(), Source->ClientRect())) return false;
  if (mirrorX) Src = {sw - Src.Left, Src.Top, sw - Src.Right, Src.Bottom};
  if (mirrorY) Src = {Src.Left, sh - Src.Top, Src.Right, sh - Src.Bottom};
  SrcOut = Src;
  return true;
}

bool Drawable(const TDirectDrawSurface* dest, const TDirectDrawSurface* source) {
  return dest->Width() != 0 && dest->Height() != 0 && source && source->Width() != 0 &&
         source->Height() != 0;
}

// The angle rounded to a whole 1/256 turn, halves to even, kept to 32 bits; one that is not a
// number or lies beyond the 64-bit range raises EInvalidOp.
int AngleOf(float Angle) { return static_cast<int>(static_cast<std::uint32_t>(Round(Angle))); }

}  // namespace

bool ClipBltRects(TRect& Dest, TRect& Src, const TRect& DestClip, const TRect& SrcClip) {
  if (DestClip.Left > Dest.Left) {
    Src.Left += DestClip.Left - Dest.Left;
    Dest.Left = DestClip.Left;
  }
  if (DestClip.Top > Dest.Top) {
    Src.Top += DestClip.Top - Dest.Top;
    Dest.Top = DestClip.Top;
  }
  if (SrcClip.Left > Src.Left) {
    Dest.Left += SrcClip.Left - Src.Left;
    Src.Left = SrcClip.Left;
  }
  if (SrcClip.Top > Src.Top) {
    Dest.Top += SrcClip.Top - Src.Top;
    Src.Top = SrcClip.Top;
  }
  if (DestClip.Right < Dest.Right) {
    Src.Right -= Dest.Right - DestClip.Right;
    Dest.Right = DestClip.Right;
  }
  if (DestClip.Bottom < Dest.Bottom) {
    Src.Bottom -= Dest.Bottom - DestClip.Bottom;
    Dest.Bottom = DestClip.Bottom;
  }
  if (SrcClip.Right < Src.Right) {
    Dest.Right -= Src.Right - SrcClip.Right;
    Src.Right = SrcClip.Right;
  }
  if (SrcClip.Bottom < Src.Bottom) {
    Dest.Bottom -= Src.Bottom - SrcClip.Bottom;
    Src.Bottom = SrcClip.Bottom;
  }
  return Dest.Left < Dest.Right && Dest.Top < Dest.Bottom && Src.Left < Src.Right &&
         Src.Top < Src.Bottom;
}

// --- TDirectDrawSurfaceCanvas -------------------------------------------------------------------

TDirectDrawSurfaceCanvas::TDirectDrawSurfaceCanvas(TDirectDrawSurface* ASurface)
    : FSurface(ASurface) {}

TDirectDrawSurfaceCanvas::~TDirectDrawSurfaceCanvas() {
  Release();
  FSurface->FCanvas = nullptr;
}

void TDirectDrawSurfaceCanvas::CreateHandle() {
  HDC dc = nullptr;
  FSurface->SetResultCode(FSurface->ISurface()->GetDC(&dc));
  if (FSurface->ResultCode() == DD_OK) {
    FDC = dc;
    SetHandle(dc);
  }
}

void TDirectDrawSurfaceCanvas::Release() {
  if (FSurface->IDDSurface() && FDC) {
    SetHandle(nullptr);
    FSurface->IDDSurface()->ReleaseDC(FDC);
    FDC = nullptr;
  }
}

// --- TDirectDrawSurface -------------------------------------------------------------------------

TDirectDrawSurface::TDirectDrawSurface(TDirectDraw* ADirectDraw) : FDDraw(ADirectDraw) {
  FDDraw->FSurfaces.push_back(this);
}

TDirectDrawSurface::~TDirectDrawSurface() {
  delete FCanvas;
  SetIDDSurface(nullptr);
  auto& list = FDDraw->FSurfaces;
  const auto it = std::find(list.begin(), list.end(), this);
  if (it != list.end()) list.erase(it);
}

IDirectDrawSurface* TDirectDrawSurface::ISurface() const {
  if (!FIDDSurface) throw EDirectDrawSurfaceError(Format(SNotMade, {"IDirectDrawSurface"}));
  return FIDDSurface.Get();
}

IDirectDrawSurface4* TDirectDrawSurface::ISurface4() const {
  if (!FIDDSurface4) throw EDirectDrawSurfaceError(Format(SNotMade, {"IDirectDrawSurface4"}));
  return FIDDSurface4.Get();
}

IDirectDrawSurface7* TDirectDrawSurface::ISurface7() const {
  if (!FIDDSurface7) throw EDirectDrawSurfaceError(Format(SNotMade, {"IDirectDrawSurface7"}));
  return FIDDSurface7.Get();
}

void TDirectDrawSurface::SetIDDSurface(IUnknown* Value) {
  ComPtr<IDirectDrawSurface> surface;
  if (Value) {
    void* p = nullptr;
    if (SUCCEEDED(Value->QueryInterface(IID_IDirectDrawSurface, &p)))
      surface = ComPtr<IDirectDrawSurface>::Attach(static_cast<IDirectDrawSurface*>(p));
  }
  if (surface == FIDDSurface) return;

  if (FCanvas) FCanvas->Release();  // a device context belongs to the surface it came from
  FIDDSurface.Reset();
  FIDDSurface4.Reset();
  FIDDSurface7.Reset();
  FStretchClipper.Reset();
  FIDDGammaControl.Reset();
  HasClipper = false;
  FLockCount = 0;
  FSurfaceDesc = DDSURFACEDESC{};
  if (!surface) return;

  FIDDSurface = surface;
  if (FAILED(FIDDSurface.As(IID_IDirectDrawSurface4, FIDDSurface4))) {
    FIDDSurface.Reset();
    throw EIntfCastError("Interface not supported");
  }
  if (FDDraw->IDDraw7()) FIDDSurface.As(IID_IDirectDrawSurface7, FIDDSurface7);
  IDirectDrawClipper* clipper = nullptr;
  HasClipper = SUCCEEDED(FIDDSurface->GetClipper(&clipper)) && clipper;
  if (clipper) clipper->Release();
  FSurfaceDesc.dwSize = kDDSurfaceDescSize;
  FIDDSurface->GetSurfaceDesc(&FSurfaceDesc);
  if (FDDraw->DriverCaps.dwCaps2 & DDCAPS2_PRIMARYGAMMA)
    FIDDSurface.As(IID_IDirectDrawGammaControl, FIDDGammaControl);
}

bool TDirectDrawSurface::CreateSurface(DDSURFACEDESC& SurfaceDesc) {
  SetIDDSurface(nullptr);
  IDirectDrawSurface* made = nullptr;
  FDDraw->SetResultCode(FDDraw->IDraw()->CreateSurface(&SurfaceDesc, &made, nullptr));
  SetResultCode(FDDraw->ResultCode());
  if (ResultCode() != DD_OK) return false;
  const auto owned = ComPtr<IDirectDrawSurface>::Attach(made);
  SetIDDSurface(owned.Get());
  SetTransparentColor(0);
  return true;
}

void TDirectDrawSurface::SetSize(int AWidth, int AHeight) {
  if (AWidth <= 0 || AHeight <= 0) {
    SetIDDSurface(nullptr);
    return;
  }
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(AWidth);
  desc.dwHeight = static_cast<DWORD>(AHeight);
  desc.ddsCaps.dwCaps =
      SystemMemory ? (DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY) : DDSCAPS_OFFSCREENPLAIN;
  if (CreateSurface(desc)) return;
  if (!(desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY)) {
    desc.ddsCaps.dwCaps = (desc.ddsCaps.dwCaps & ~DDSCAPS_VIDEOMEMORY) | DDSCAPS_SYSTEMMEMORY;
    if (CreateSurface(desc)) {
      SystemMemory = true;
      return;
    }
  }
  throw EDirectDrawSurfaceError(Format(SCannotMade, {SDirectDrawSurface}));
}

bool TDirectDrawSurface::Blt(const TRect* DestRect, const TRect* SrcRect, DWORD Flags,
                             const DDBLTFX& DF, TDirectDrawSurface* Source) {
  if (!FIDDSurface) return false;
  SetResultCode(
      ISurface()->Blt(DestRect, Source ? Source->IDDSurface() : nullptr, SrcRect, Flags, &DF));
  return ResultCode() == DD_OK;
}

bool TDirectDrawSurface::BltFast(int X, int Y, const TRect& SrcRect, DWORD Flags,
                                 TDirectDrawSurface* Source) {
  if (!FIDDSurface) return false;
  SetResultCode(ISurface()->BltFast(static_cast<DWORD>(X), static_cast<DWORD>(Y),
                                    Source ? Source->IDDSurface() : nullptr, &SrcRect, Flags));
  return ResultCode() == DD_OK;
}

void TDirectDrawSurface::Draw(int X, int Y, const TRect& SrcRect, TDirectDrawSurface* Source,
                              bool Transparent) {
  if (!Source || X > Width() || Y > Height()) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    TRect dest, src;
    if (DrawerRects(this, X, Y, SrcRect, Source, dest, src))
      d2d->Draw(dest, Source, Transparent, &src);
    return;
  }
  DDBLTFX fx = MakeBltFX();
  if (SrcRect.Right >= SrcRect.Left && SrcRect.Bottom >= SrcRect.Top) {
    TRect dest = Bounds(X, Y, SrcRect.Width(), SrcRect.Height());
    TRect src = SrcRect;
    if (!ClipBltRects(dest, src, ClientRect(), Source->ClientRect())) return;
    if (HasClipper) {
      Blt(&dest, &src, kBltFlags[Transparent], fx, Source);
      return;
    }
    BltFast(dest.Left, dest.Top, src, kBltFastFlags[Transparent], Source);
    if (ResultCode() == DDERR_BLTFASTCANTCLIP) {
      // Somebody attached a clipper behind our back: remember it and blit through it.
      IDirectDrawClipper* clipper = nullptr;
      if (SUCCEEDED(ISurface()->GetClipper(&clipper)) && clipper) {
        HasClipper = true;
        clipper->Release();
      }
      Blt(&dest, &src, kBltFlags[Transparent], fx, Source);
    }
    return;
  }

  // A rectangle given right to left or bottom to top: the pattern drawn mirrored.
  TRect src = SrcRect;
  if (!(std::abs(src.Left - src.Right) + X > 0 && std::abs(src.Top - src.Bottom) + Y > 0)) return;
  if (src.Right < src.Left) {
    std::swap(src.Left, src.Right);
    fx.dwDDFX |= DDBLTFX_MIRRORLEFTRIGHT;
  }
  if (src.Bottom < src.Top) {
    std::swap(src.Top, src.Bottom);
    fx.dwDDFX |= DDBLTFX_MIRRORUPDOWN;
  }
  TRect dest = Bounds(X, Y, src.Width(), src.Height());
  // The blit reads the source rectangle in the mirrored source's coordinates. Moving it there
  // before clipping keeps the cut on the side of the source that really leaves the surface
  // (the destination's left edge shows the source's right edge).
  const int sw = Source->Width(), sh = Source->Height();
  if (fx.dwDDFX & DDBLTFX_MIRRORLEFTRIGHT)
    src = {sw - src.Right, src.Top, sw - src.Left, src.Bottom};
  if (fx.dwDDFX & DDBLTFX_MIRRORUPDOWN) src = {src.Left, sh - src.Bottom, src.Right, sh - src.Top};
  if (!ClipBltRects(dest, src, ClientRect(), Source->ClientRect())) return;
  Blt(&dest, &src, kBltFlags[Transparent] | DDBLT_DDFX, fx, Source);
}

void TDirectDrawSurface::StretchDraw(const TRect& DestRect, const TRect& SrcRect,
                                     TDirectDrawSurface* Source, bool Transparent) {
  if (!Source || DestRect.Top >= DestRect.Bottom || DestRect.Left >= DestRect.Right ||
      SrcRect.Top >= SrcRect.Bottom || SrcRect.Left >= SrcRect.Right)
    return;
  const DDBLTFX fx = MakeBltFX();
  if (HasClipper) {
    Blt(&DestRect, &SrcRect, kBltFlags[Transparent], fx, Source);
    return;
  }
  if (!FStretchClipper) {
    // Only its interface is kept: the clipper outlives the wrapper made for it.
    TDirectDrawClipper* clipper = new TDirectDrawClipper(FDDraw);
    try {
      clipper->SetClipRects({ClientRect()});
      FStretchClipper = ComPtr<IDirectDrawClipper>(clipper->IDDClipper());
    } catch (...) {
      delete clipper;
      throw;
    }
    delete clipper;
  }
  ISurface()->SetClipper(FStretchClipper.Get());
  Blt(&DestRect, &SrcRect, kBltFlags[Transparent], fx, Source);
  ISurface()->SetClipper(nullptr);
}

namespace {

// Which blend each drawing method asks of the renderer, by destination and Alpha: an indexed
// destination can only take copies; an opaque add, alpha or subtract needs no alpha at all.
enum class TBlendMethod { Add, Alpha, Sub, Rotate };

DXRBlendOp BlendOpFor(TBlendMethod Method, const DXRSurface& Dest, int Alpha) {
  if (Dest.ColorType == DXR_COLORTYPE_INDEXED) return DXR_BLEND_LEFT;
  const bool opaque = Alpha >= 255;
  switch (Method) {
    case TBlendMethod::Add:
      return opaque ? DXR_BLEND_ADD : DXR_BLEND_ALPHAADD;
    case TBlendMethod::Alpha:
      return opaque ? DXR_BLEND_LEFT : DXR_BLEND_ALPHA;
    case TBlendMethod::Sub:
      return opaque ? DXR_BLEND_REVSUB : DXR_BLEND_ALPHASUB;
    default:
      return DXR_BLEND_LEFT;
  }
}

// An indexed source decodes through the colours of the palette attached to it (none: black).
void FillRenderPalette(IDirectDrawSurface* Surface, DXRSurface& R) {
  if (R.ColorType != DXR_COLORTYPE_INDEXED) return;
  IDirectDrawPalette* palette = nullptr;
  if (Surface->GetPalette(&palette) != DD_OK || !palette) return;
  PALETTEENTRY entries[256] = {};
  const DWORD count = R.BitCount >= 8 ? 256 : DWORD{1} << R.BitCount;
  if (palette->GetEntries(0, 0, count, entries) == DD_OK) {
    for (DWORD i = 0; i < count; ++i) {
      R.Palette[i][0] = entries[i].peRed;
      R.Palette[i][1] = entries[i].peGreen;
      R.Palette[i][2] = entries[i].peBlue;
    }
  }
  palette->Release();
}

// Locks this surface and the source for the renderer, hands both and the source's colour key
// to Draw, and unlocks the source and then this surface however drawing ends. A lock that
// fails draws nothing.
template <class TDraw>
void RenderOnto(TDirectDrawSurface* Dest, TDirectDrawSurface* Source, TDraw Draw) {
  IDirectDrawSurface* d = Dest->IDDSurface();
  IDirectDrawSurface* s = Source->IDDSurface();
  DXRSurface dr, sr;
  if (!DXRLockSurface(d, dr)) return;
  DDSURFACEDESC desc;
  if (!DXRLockSurfaceDesc(s, desc, sr)) {
    DXRUnlockSurface(d, dr);
    return;
  }
  struct Unlocks {
    IDirectDrawSurface *d, *s;
    const DXRSurface &dr, &sr;
    ~Unlocks() {
      DXRUnlockSurface(s, sr);
      DXRUnlockSurface(d, dr);
    }
  } unlocks{d, s, dr, sr};
  FillRenderPalette(s, sr);
  Draw(dr, sr, desc.ddckCKSrcBlt.dwColorSpaceLowValue);
}

void BlendDraw(TDirectDrawSurface* Dest, TBlendMethod Method, const TRect& DestRect,
               const TRect& SrcRect, TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  RenderOnto(Dest, Source, [&](DXRSurface& d, DXRSurface& s, DWORD key) {
    DXRBlendBlit(d, s, DestRect, SrcRect, BlendOpFor(Method, d, Alpha), Alpha, Transparent, key);
  });
}

void RotateDraw(TDirectDrawSurface* Dest, TBlendMethod Method, int X, int Y, int Width, int Height,
                const TRect& SrcRect, TDirectDrawSurface* Source, double CenterX, double CenterY,
                bool Transparent, int Angle, int Alpha) {
  RenderOnto(Dest, Source, [&](DXRSurface& d, DXRSurface& s, DWORD key) {
    DXRBlendRotateBlit(d, s, X, Y, Width, Height, SrcRect, CenterX, CenterY, Angle,
                       BlendOpFor(Method, d, Alpha), Alpha, Transparent, key);
  });
}

}  // namespace

// Blended and rotated drawing goes to the accelerated drawer when it draws for this surface,
// else to the software renderer.
void TDirectDrawSurface::DrawAdd(const TRect& DestRect, const TRect& SrcRect,
                                 TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  if (!Drawable(this, Source) || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawAdd(DestRect, Source, Transparent, Alpha, &SrcRect);
    return;
  }
  BlendDraw(this, TBlendMethod::Add, DestRect, SrcRect, Source, Transparent, Alpha);
}
void TDirectDrawSurface::DrawAlpha(const TRect& DestRect, const TRect& SrcRect,
                                   TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  if (!Drawable(this, Source) || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawAlpha(DestRect, Source, Transparent, Alpha, &SrcRect);
    return;
  }
  BlendDraw(this, TBlendMethod::Alpha, DestRect, SrcRect, Source, Transparent, Alpha);
}
void TDirectDrawSurface::DrawSub(const TRect& DestRect, const TRect& SrcRect,
                                 TDirectDrawSurface* Source, bool Transparent, int Alpha) {
  if (!Drawable(this, Source) || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawSub(DestRect, Source, Transparent, Alpha, &SrcRect);
    return;
  }
  BlendDraw(this, TBlendMethod::Sub, DestRect, SrcRect, Source, Transparent, Alpha);
}
void TDirectDrawSurface::DrawRotate(int X, int Y, int Width, int Height, const TRect& SrcRect,
                                    TDirectDrawSurface* Source, double CenterX, double CenterY,
                                    bool Transparent, float Angle) {
  if (!Drawable(this, Source) || Width == 0 || Height == 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawRotate(X, Y, Width, Height, Source, CenterX, CenterY, Transparent, AngleOf(Angle),
                    &SrcRect);
    return;
  }
  RotateDraw(this, TBlendMethod::Rotate, X, Y, Width, Height, SrcRect, Source, CenterX, CenterY,
             Transparent, AngleOf(Angle), 0);
}
void TDirectDrawSurface::DrawRotateAdd(int X, int Y, int Width, int Height, const TRect& SrcRect,
                                       TDirectDrawSurface* Source, double CenterX, double CenterY,
                                       bool Transparent, float Angle, int Alpha) {
  if (!Drawable(this, Source) || Width == 0 || Height == 0 || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawRotateAdd(X, Y, Width, Height, Source, CenterX, CenterY, Transparent, AngleOf(Angle),
                       Alpha, &SrcRect);
    return;
  }
  RotateDraw(this, TBlendMethod::Add, X, Y, Width, Height, SrcRect, Source, CenterX, CenterY,
             Transparent, AngleOf(Angle), Alpha);
}
void TDirectDrawSurface::DrawRotateAlpha(int X, int Y, int Width, int Height, const TRect& SrcRect,
                                         TDirectDrawSurface* Source, double CenterX, double CenterY,
                                         bool Transparent, float Angle, int Alpha) {
  if (!Drawable(this, Source) || Width == 0 || Height == 0 || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawRotateAlpha(X, Y, Width, Height, Source, CenterX, CenterY, Transparent, AngleOf(Angle),
                         Alpha, &SrcRect);
    return;
  }
  RotateDraw(this, TBlendMethod::Alpha, X, Y, Width, Height, SrcRect, Source, CenterX, CenterY,
             Transparent, AngleOf(Angle), Alpha);
}
void TDirectDrawSurface::DrawRotateSub(int X, int Y, int Width, int Height, const TRect& SrcRect,
                                       TDirectDrawSurface* Source, double CenterX, double CenterY,
                                       bool Transparent, float Angle, int Alpha) {
  if (!Drawable(this, Source) || Width == 0 || Height == 0 || Alpha <= 0) return;
  if (TD2D* d2d = ActiveD2DFor(this)) {
    d2d->DrawRotateSub(X, Y, Width, Height, Source, CenterX, CenterY, Transparent, AngleOf(Angle),
                       Alpha, &SrcRect);
    return;
  }
  RotateDraw(this, TBlendMethod::Sub, X, Y, Width, Height, SrcRect, Source, CenterX, CenterY,
             Transparent, AngleOf(Angle), Alpha);
}

bool TDirectDrawSurface::Fill(DWORD DevColor) {
  DDBLTFX fx = MakeBltFX();
  fx.dwFillColor = DevColor;
  return Blt(nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, fx, nullptr);
}

TDirectDrawSurfaceCanvas* TDirectDrawSurface::Canvas() {
  if (!FCanvas) FCanvas = new TDirectDrawSurfaceCanvas(this);
  return FCanvas;
}

bool TDirectDrawSurface::Lock(const TRect* Rect, DDSURFACEDESC& SurfaceDesc) {
  if (!FIDDSurface || FLockCount > 0) return false;
  FLockSurfaceDesc = DDSURFACEDESC{};
  FLockSurfaceDesc.dwSize = kDDSurfaceDescSize;
  const bool whole = !Rect || *Rect == ClientRect();
  SetResultCode(ISurface()->Lock(whole ? nullptr : Rect, &FLockSurfaceDesc, DDLOCK_WAIT, nullptr));
  if (ResultCode() != DD_OK) return false;
  FLockCount = 1;
  SurfaceDesc = FLockSurfaceDesc;
  return true;
}

void TDirectDrawSurface::Unlock() {
  if (!FIDDSurface || FLockCount <= 0) return;
  if (--FLockCount == 0) ISurface()->Unlock(FLockSurfaceDesc.lpSurface);
}

bool TDirectDrawSurface::LockWhole(DDSURFACEDESC& Desc) { return Lock(nullptr, Desc); }

namespace {

// Unlocks the surface however the pixel access ends.
struct UnlockOnExit {
  TDirectDrawSurface* Surface;
  ~UnlockOnExit() { Surface->Unlock(); }
};

}  // namespace

DWORD TDirectDrawSurface::Pixels(int X, int Y) {
  if (!FIDDSurface || X < 0 || X >= Width() || Y < 0 || Y >= Height()) return 0;
  DDSURFACEDESC d;
  if (!LockWhole(d)) return 0;
  UnlockOnExit unlock{this};
  const BYTE* row =
      static_cast<const BYTE*>(d.lpSurface) + static_cast<std::ptrdiff_t>(Y) * d.lPitch;
  switch (d.ddpfPixelFormat.dwRGBBitCount) {
    case 1:
      return (row[X / 8] >> (7 - X % 8)) & 1;
    case 4:
      return (X % 2 == 0) ? (row[X / 2] >> 4) : (row[X / 2] & 0x0F);
    case 8:
      return row[X];
    case 16: {
      WORD v;
      std::memcpy(&v, row + 2 * X, 2);
      return v;
    }
    case 24:
      return DWORD{row[3 * X]} | (DWORD{row[3 * X + 1]} << 8) | (DWORD{row[3 * X + 2]} << 16);
    case 32: {
      DWORD v;
      std::memcpy(&v, row + 4 * X, 4);
      return v;
    }
    default:
      return 0;
  }
}

void TDirectDrawSurface::SetPixels(int X, int Y, DWORD Value) {
  if (!FIDDSurface || X < 0 || X >= Width() || Y < 0 || Y >= Height()) return;
  DDSURFACEDESC d;
  if (!LockWhole(d)) return;
  UnlockOnExit unlock{this};
  BYTE* row = static_cast<BYTE*>(d.lpSurface) + static_cast<std::ptrdiff_t>(Y) * d.lPitch;
  switch (d.ddpfPixelFormat.dwRGBBitCount) {
    case 1: {
      const BYTE bit = static_cast<BYTE>(0x80 >> (X % 8));
      row[X / 8] = Value ? (row[X / 8] | bit) : (row[X / 8] & ~bit);
      break;
    }
    case 4: {
      BYTE& b = row[X / 2];
      b = (X % 2 == 0) ? static_cast<BYTE>((b & 0x0F) | ((Value & 0x0F) << 4))
                       : static_cast<BYTE>((b & 0xF0) | (Value & 0x0F));
      break;
    }
    case 8:
      row[X] = static_cast<BYTE>(Value);
      break;
    case 16: {
      const auto v = static_cast<WORD>(Value);
      std::memcpy(row + 2 * X, &v, 2);
      break;
    }
    case 24:
      row[3 * X] = static_cast<BYTE>(Value);
      row[3 * X + 1] = static_cast<BYTE>(Value >> 8);
      row[3 * X + 2] = static_cast<BYTE>(Value >> 16);
      break;
    case 32:
      std::memcpy(row + 4 * X, &Value, 4);
      break;
    default:
      break;
  }
}

DWORD TDirectDrawSurface::MatchColor(TColor Color) {
  if (!FIDDSurface) return 0;
  // Borrow pixel (0, 0): let GDI draw the colour there and read back what it became. A surface
  // that cannot be locked (its canvas holds the device context) gives 0 and is left alone,
  // since the pixel could not be saved.
  DDSURFACEDESC probe;
  if (!LockWhole(probe)) return 0;
  Unlock();
  struct GiveBack {
    TDirectDrawSurface* Surface;
    DWORD Saved;
    ~GiveBack() { Surface->SetPixels(0, 0, Saved); }
  } giveBack{this, Pixels(0, 0)};

  TDIB bitmap;
  bitmap.SetSize(1, 1, 8);
  const TColor rgb = ColorToRGB(Color);
  bitmap.ColorTable[0] = MakeRGBQuad(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
  bitmap.UpdatePalette();
  bitmap.SetPixels(0, 0, 0);
  try {
    Canvas()->Draw(0, 0, &bitmap);
  } catch (...) {
    Canvas()->Release();
    throw;
  }
  Canvas()->Release();
  return Pixels(0, 0);
}

bool TDirectDrawSurface::Restore() {
  if (!FIDDSurface) return false;
  SetResultCode(ISurface()->Restore());
  return ResultCode() == DD_OK;
}

void TDirectDrawSurface::SetClipper(TDirectDrawClipper* Value) {
  if (FIDDSurface) SetResultCode(ISurface()->SetClipper(Value ? Value->IDDClipper() : nullptr));
  HasClipper = Value && ResultCode() == DD_OK;
}

void TDirectDrawSurface::SetColorKey(DWORD Flags, const DDCOLORKEY& Value) {
  if (FIDDSurface) SetResultCode(ISurface()->SetColorKey(Flags, &Value));
}

void TDirectDrawSurface::SetTransparentColor(DWORD Col) {
  DDCOLORKEY key;
  key.dwColorSpaceLowValue = Col;
  key.dwColorSpaceHighValue = Col;
  SetColorKey(DDCKEY_SRCBLT, key);
}

void TDirectDrawSurface::SetPalette(TDirectDrawPalette* Value) {
  if (FIDDSurface) SetResultCode(ISurface()->SetPalette(Value ? Value->IDDPalette() : nullptr));
}

void TDirectDrawSurface::LoadFromGraphic(TGraphic* Graphic) {
  LoadFromGraphicRect(Graphic, 0, 0, Bounds(0, 0, Graphic->Width(), Graphic->Height()));
}

void TDirectDrawSurface::LoadFromGraphicRect(TGraphic* Graphic, int AWidth, int AHeight,
                                             const TRect& SrcRect) {
  if (AWidth == 0) AWidth = SrcRect.Width();
  if (AHeight == 0) AHeight = SrcRect.Height();
  SetSize(AWidth, AHeight);
  try {
    if (auto* dib = dynamic_cast<TDIB*>(Graphic)) {
      StretchBlt(Canvas()->Handle(), 0, 0, AWidth, AHeight, dib->Canvas()->Handle(), SrcRect.Left,
                 SrcRect.Top, SrcRect.Width(), SrcRect.Height(), SRCCOPY);
    } else if (AWidth == SrcRect.Width() && AHeight == SrcRect.Height()) {
      Canvas()->Draw(-SrcRect.Left, -SrcRect.Top, Graphic);
    } else {
      TDIB temp;
      temp.SetSize(SrcRect.Width(), SrcRect.Height(), 24);
      temp.Canvas()->Draw(-SrcRect.Left, -SrcRect.Top, Graphic);
      Canvas()->StretchDraw(Bounds(0, 0, AWidth, AHeight), &temp);
    }
  } catch (...) {
    Canvas()->Release();
    throw;
  }
  Canvas()->Release();
}

void TDirectDrawSurface::Assign(TPersistent* Source) {
  if (!Source) {
    SetIDDSurface(nullptr);
  } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    LoadFromGraphic(graphic);
  } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
    // An empty picture holds nothing to load: the surface becomes empty, as with none.
    if (picture->Graphic()) {
      LoadFromGraphic(picture->Graphic());
    } else {
      SetIDDSurface(nullptr);
    }
  } else if (auto* surface = dynamic_cast<TDirectDrawSurface*>(Source)) {
    if (surface->IDDSurface()) {
      IDirectDrawSurface* made = nullptr;
      FDDraw->SetResultCode(FDDraw->IDraw()->DuplicateSurface(surface->IDDSurface(), &made));
      if (FDDraw->ResultCode() == DD_OK) {
        const auto owned = ComPtr<IDirectDrawSurface>::Attach(made);
        SetIDDSurface(owned.Get());
      }
    } else {
      SetIDDSurface(nullptr);
    }
  } else {
    TDirectX::Assign(Source);
  }
}

void TDirectDrawSurface::AssignTo(TPersistent* Dest) {
  if (auto* dib = dynamic_cast<TDIB*>(Dest)) {
    dib->SetSize(Width(), Height(), 24);
    try {
      dib->Canvas()->CopyRect(Rect(0, 0, dib->Width(), dib->Height()), Canvas(), ClientRect());
    } catch (...) {
      Canvas()->Release();
      throw;
    }
    Canvas()->Release();
    return;
  }
  TDirectX::AssignTo(Dest);
}
