#include "framework/graphics/D2D.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "framework/graphics/DIB.h"
#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/Direct3DTexture2.h"
#include "platform/rtl/SysUtils.h"

TD2D* CurrentD2D = nullptr;
bool SkipNextFlip = false;

namespace {

// The options under which the display draws pictures through its device.
bool Wanted(TCustomDXDraw* DXDraw) {
  const TDXDrawOptions o = DXDraw->Options();
  return o.Contains(do3D) && o.Contains(doDirectX7Mode) && o.Contains(doHardware);
}

// The smallest power of two not below Value, at least 2.
int TextureSide(int Value) {
  int side = 2;
  while (side < Value && side < (1 << 30)) side <<= 1;
  return side;
}

// Where pattern Index lies in the item's whole picture (which is what its texture holds); the
// empty rectangle for an index outside the patterns.
TRect PicturePatternRect(TPictureCollectionItem* Item, int Index) {
  const TRect onSurface = Item->PatternRects(Index);
  if (onSurface == TRect{}) return onSurface;
  TGraphic* graphic = Item->Picture()->Graphic();
  if (graphic == nullptr) return onSurface;
  const int pw = graphic->Width(), ph = graphic->Height();
  const int w = Item->Width(), h = Item->Height();
  if (w == pw && h == ph) return Bounds(0, 0, pw, ph);
  const int a = w + Item->SkipWidth, c = h + Item->SkipHeight;
  const int cols = a > 0 ? (pw + Item->SkipWidth) / a : 0;
  if (cols <= 0 || c <= 0) return onSurface;
  return Bounds(a * (Index % cols), c * (Index / cols), w, h);
}

// The item's name, or, for an item without one, its place in its list.
std::string ItemKey(TPictureCollectionItem* Item) {
  if (!Item->Name().empty()) return Item->Name();
  std::string path = Format("Items[%d]", {std::int64_t{Item->Index()}});
  if (TCollection* c = Item->Collection())
    if (auto* owner = dynamic_cast<TComponent*>(c->Owner()))
      if (!owner->Name().empty()) path = owner->Name() + "." + path;
  return path;
}

// A copy of Graphic on a black 24-bit picture whose sides are powers of two, and where the
// picture lies on it.
TDIB* ResizeForTexture(TGraphic* Graphic, double& U1, double& V1) {
  const int w = Graphic->Width(), h = Graphic->Height();
  const int tw = TextureSide(w), th = TextureSide(h);
  auto* dib = new TDIB;
  try {
    dib->SetSize(tw, th, 24);
    dib->Canvas()->Brush()->SetColor(0);
    dib->Canvas()->FillRect(Rect(0, 0, tw, th));
    dib->Canvas()->Draw(0, 0, Graphic);
  } catch (...) {
    delete dib;
    throw;
  }
  U1 = static_cast<double>(w) / tw;
  V1 = static_cast<double>(h) / th;
  return dib;
}

// Whether R, taken either way round, is a non-empty part of Surface.
bool InsideSurface(const TRect& R, const TDirectDrawSurface* Surface) {
  const int l = std::min(R.Left, R.Right), r = std::max(R.Left, R.Right);
  const int t = std::min(R.Top, R.Bottom), b = std::max(R.Top, R.Bottom);
  return l >= 0 && t >= 0 && l < r && t < b && r <= Surface->Width() && b <= Surface->Height();
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TD2DTextures

TD2DTextures::~TD2DTextures() { Clear(); }

int TD2DTextures::Find(const std::string& Name) const {
  const std::string key = UpperCase(Name);
  for (int i = 0; i < Count(); ++i)
    if (UpperCase(Entries[i].Name) == key) return i;
  return -1;
}

bool TD2DTextures::Has(const std::string& Name) const {
  return std::any_of(Entries.begin(), Entries.end(),
                     [&](const TD2DTextureEntry& e) { return e.Name == Name; });
}

void TD2DTextures::SetCount(int Value) {
  Value = std::max(Value, 0);
  for (int i = Value; i < Count(); ++i) delete Entries[i].Texture;
  Entries.resize(static_cast<std::size_t>(Value));
}

void TD2DTextures::Clear() { SetCount(0); }

// ---------------------------------------------------------------------------------------------
// TD2D

TD2D::TD2D(TCustomDXDraw* ADXDraw) : FDXDraw(ADXDraw) {
  ResetVertices();
  SetEnabled(FDXDraw && Wanted(FDXDraw));
}

TD2D::~TD2D() {
  SetEnabled(false);
  FreeTextures();
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

bool TD2D::CanDraw() { return IsActive() && FDXDraw->D3DDevice7; }

void TD2D::SetEnabled(bool Value) {
  if (Value == Enabled) return;
  Enabled = Value;
  if (!Value) return;
  // A cache left from an earlier enabling would only be lost: free it first.
  FreeTextures();
  FTextures = new TD2DTextures;
  SetTextureFilter(true);
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

void TD2D::SetTextureCount(int Value) {
  if (Value > 0 && FTextures) FTextures->SetCount(Value);
}

void TD2D::ClearTextures() {
  if (FTextures) FTextures->Clear();
}

void TD2D::ClearTexturesIfFull() {
  if (TextureCount() > MaxTextures) ClearTextures();
}

void TD2D::FreeTextures() {
  delete FTextures;
  FTextures = nullptr;
}

void TD2D::ResetVertices() {
  for (D3DTLVERTEX& v : Vertices) {
    v = D3DTLVERTEX{};
    v.rhw = 1.0f;
    v.specular = MakeRGBFloat(1, 1, 1);
  }
}

void TD2D::SetBlend(TBlend Mode, int Alpha) {
  IDirect3DDevice7* device = FDXDraw->D3DDevice7.Get();
  DWORD diffuse = 0;
  switch (Mode) {
    case TBlend::Copy:
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE_);
      device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, TRUE_);
      device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
      diffuse = MakeRGB(255, 255, 255);
      break;
    case TBlend::Add:
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE_);
      device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
      device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
      diffuse = MakeRGB(Alpha, Alpha, Alpha);
      break;
    case TBlend::Sub:
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE_);
      device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ZERO);
      device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCCOLOR);
      diffuse = MakeRGB(Alpha, Alpha, Alpha);
      break;
    case TBlend::Alpha:
      device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE_);
      device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
      device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
      device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
      diffuse = MakeRGBA(255, 255, 255, Alpha);
      break;
  }
  for (D3DTLVERTEX& v : Vertices) v.color = diffuse;
}

void TD2D::SetRectangle(const TRect& DestRect) {
  // Pixel centres lie on whole coordinates: the quad's edges run half a pixel before them.
  const float l = static_cast<float>(DestRect.Left - 0.5),
              t = static_cast<float>(DestRect.Top - 0.5);
  const float r = static_cast<float>(DestRect.Right - 0.5),
              b = static_cast<float>(DestRect.Bottom - 0.5);
  Vertices[0].sx = l, Vertices[0].sy = t;
  Vertices[1].sx = r, Vertices[1].sy = t;
  Vertices[2].sx = l, Vertices[2].sy = b;
  Vertices[3].sx = r, Vertices[3].sy = b;
}

void TD2D::SetRotation(const TRotation& R) {
  const double theta = R.Angle * 2 * std::numbers::pi / 256;
  const double e1x = std::cos(theta), e1y = std::sin(theta);
  const double e2x = std::cos(theta + std::numbers::pi / 2),
               e2y = std::sin(theta + std::numbers::pi / 2);
  const double w = R.Width, h = R.Height;
  const double tlx = R.X - w * R.CenterX * e1x - h * R.CenterY * e2x;
  const double tly = R.Y - w * R.CenterX * e1y - h * R.CenterY * e2y;
  const double corners[4][2] = {{tlx, tly},
                                {tlx + w * e1x, tly + w * e1y},
                                {tlx + h * e2x, tly + h * e2y},
                                {tlx + h * e2x + w * e1x, tly + h * e2y + w * e1y}};
  for (int i = 0; i < 4; ++i) {
    Vertices[i].sx = static_cast<float>(corners[i][0]);
    Vertices[i].sy = static_cast<float>(corners[i][1]);
  }
}

void TD2D::DrawQuad() {
  const HRESULT hr = FDXDraw->D3DDevice7->DrawPrimitive(
      D3DPT_TRIANGLESTRIP, D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1, Vertices,
      4, D3DDP_WAIT);
  SkipNextFlip = FAILED(hr);
}

template <class SetTexture, class Geometry>
bool TD2D::DrawWith(TBlend Mode, int Alpha, SetTexture&& Bind, Geometry&& Shape) {
  if (!IsActive() || !FDXDraw->D3DDevice7) return false;
  SetBlend(Mode, std::clamp(Alpha, 0, 255));
  const bool bound = Bind();
  // Without its texture the quad would come out as a plain white box: nothing is drawn.
  if (bound) {
    Shape();
    DrawQuad();
  }
  ResetVertices();
  return bound;
}

void TD2D::SetTexCoords(double U0, double V0, double U1, double V1) {
  const float u0 = static_cast<float>(U0), v0 = static_cast<float>(V0);
  const float u1 = static_cast<float>(U1), v1 = static_cast<float>(V1);
  Vertices[0].tu = u0, Vertices[0].tv = v0;
  Vertices[1].tu = u1, Vertices[1].tv = v0;
  Vertices[2].tu = u0, Vertices[2].tv = v1;
  Vertices[3].tu = u1, Vertices[3].tv = v1;
}

bool TD2D::BindTexture(int Index) {
  bool ok = false;
  try {
    // Reading the surface loads the texture.
    TDirectDrawSurface* surface = FTextures->Entries[Index].Texture->Surface();
    ok = surface && surface->IDDSurface7() &&
         SUCCEEDED(FDXDraw->D3DDevice7->SetTexture(0, surface->IDDSurface7()));
  } catch (const Exception&) {
    ok = false;
  }
  if (!ok) {
    SkipNextFlip = true;
    ClearTextures();
  }
  return ok;
}

bool TD2D::SetPictureTexture(TPictureCollectionItem* Item, int PatternIndex, const TRect& SrcRect) {
  IDirect3DDevice7* device = FDXDraw->D3DDevice7.Get();
  device->SetTexture(0, nullptr);
  if (!FTextures->Has(ItemKey(Item)) && !AddPictureTexture(Item)) return false;
  const int i = FTextures->Find(ItemKey(Item));
  if (i < 0) return false;
  if (!BindTexture(i)) {
    // The pictures are cut again and the textures made anew on the next drawing.
    Item->Restore();
    SetTextureFilter(true);
    return false;
  }
  TD2DTextureEntry& e = FTextures->Entries[i];
  device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, e.Texture->Transparent() ? TRUE_ : FALSE_);
  if (Item->PatternWidth != 0 || Item->PatternHeight != 0) {
    const TDXTextureImage* image = e.Texture->Image();
    const double w = image->Width, h = image->Height;
    const TRect p = PicturePatternRect(Item, PatternIndex);
    e.U0 = p.Left / w;
    e.V0 = p.Top / h;
    // The quad's edges lie on the pattern's outer texel edges, so that drawn at its own size
    // every pixel centre meets a texel centre.
    e.U1 = p.Right / w;
    e.V1 = p.Bottom / h;
    if (SrcRect == p)
      SetTexCoords(e.U0, e.V0, e.U1, e.V1);
    else
      SetTexCoords(SrcRect.Left / w, SrcRect.Top / h, SrcRect.Right / w, SrcRect.Bottom / h);
  } else {
    SetTexCoords(e.U0, e.V0, e.U1, e.V1);
  }
  return true;
}

bool TD2D::AddPictureTexture(TPictureCollectionItem* Item) {
  ClearTexturesIfFull();
  FTextures->Entries.push_back({});
  const std::size_t at = FTextures->Entries.size() - 1;
  try {
    if (Item->Name().empty()) Item->SetName(ItemKey(Item));
    TGraphic* graphic = Item->Picture()->Graphic();
    if (graphic == nullptr || graphic->Empty()) throw Exception(SCannotLoadGraphic);
    TD2DTextureEntry& e = FTextures->Entries[at];
    TDIB* picture = ResizeForTexture(graphic, e.U1, e.V1);
    e.U0 = e.V0 = 0;
    e.Name = Item->Name();
    // The texture keeps its picture, so that it can load itself again after a surface loss.
    e.Texture = new TDirect3DTexture2(FDXDraw, picture, true);
    e.Texture->SetTransparentColor(Item->TransparentColor());
    if (TDirectDrawSurface* s = e.Texture->Surface())
      s->SetTransparentColor(static_cast<DWORD>(Item->TransparentColor()));
    e.Texture->SetTransparent(Item->Transparent);
    return true;
  } catch (const Exception&) {
    delete FTextures->Entries[at].Texture;
    FTextures->Entries.erase(FTextures->Entries.begin() + static_cast<std::ptrdiff_t>(at));
    return false;
  }
}

bool TD2D::SetSurfaceTexture(TDirectDrawSurface* Surface, bool Transparent, const TRect* SrcRect) {
  if (SrcRect && !InsideSurface(*SrcRect, Surface)) return false;
  IDirect3DDevice7* device = FDXDraw->D3DDevice7.Get();
  device->SetTexture(0, nullptr);
  const std::string key =
      IntToStr(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(Surface)));
  if (!FTextures->Has(key) && !AddSurfaceTexture(Surface, Transparent)) return false;
  const int i = FTextures->Find(key);
  if (i < 0) return false;
  if (!BindTexture(i)) return false;
  const TD2DTextureEntry& e = FTextures->Entries[i];
  device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, e.Texture->Transparent() ? TRUE_ : FALSE_);
  if (SrcRect) {
    // The surface lies at the texture's top-left; a rectangle given backwards runs the
    // coordinates backwards and so mirrors the picture.
    const TDXTextureImage* image = e.Texture->Image();
    const double w = image->Width, h = image->Height;
    SetTexCoords(SrcRect->Left / w, SrcRect->Top / h, SrcRect->Right / w, SrcRect->Bottom / h);
  } else {
    SetTexCoords(e.U0, e.V0, e.U1, e.V1);
  }
  return true;
}

bool TD2D::AddSurfaceTexture(TDirectDrawSurface* Surface, bool Transparent) {
  ClearTexturesIfFull();
  FTextures->Entries.push_back({});
  const std::size_t at = FTextures->Entries.size() - 1;
  try {
    TD2DTextureEntry& e = FTextures->Entries[at];
    e.Name = IntToStr(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(Surface)));
    TDIB copy;
    copy.Assign(Surface);
    if (copy.Empty()) throw Exception(SCannotLoadGraphic);
    TDIB* picture = ResizeForTexture(&copy, e.U1, e.V1);
    e.U0 = e.V0 = 0;
    TColor key = 0;
    if (Transparent) {
      // The picture's top-left pixel, read as a colour.
      key = static_cast<TColor>(picture->Pixels(0, 0));
    } else if (Surface->IDDSurface()) {
      DDCOLORKEY ck;
      if (SUCCEEDED(Surface->IDDSurface()->GetColorKey(DDCKEY_SRCBLT, &ck)))
        key = static_cast<TColor>(ck.dwColorSpaceLowValue);
    }
    e.Texture = new TDirect3DTexture2(FDXDraw, picture, true);
    e.Texture->SetTransparentColor(key);
    if (TDirectDrawSurface* s = e.Texture->Surface())
      s->SetTransparentColor(static_cast<DWORD>(key));
    e.Texture->SetTransparent(Transparent);
    return true;
  } catch (const Exception&) {
    delete FTextures->Entries[at].Texture;
    FTextures->Entries.erase(FTextures->Entries.begin() + static_cast<std::ptrdiff_t>(at));
    return false;
  }
}

// --- The drawing family -----------------------------------------------------------------------

bool TD2D::Draw(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent,
                const TRect* SrcRect) {
  return DrawWith(
      TBlend::Copy, 255, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawAdd(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
                   const TRect* SrcRect) {
  return DrawWith(
      TBlend::Add, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawAlpha(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
                     const TRect* SrcRect) {
  return DrawWith(
      TBlend::Alpha, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawSub(const TRect& DestRect, TDirectDrawSurface* Source, bool Transparent, int Alpha,
                   const TRect* SrcRect) {
  return DrawWith(
      TBlend::Sub, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawRotate(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                      double CenterX, double CenterY, bool Transparent, double Angle,
                      const TRect* SrcRect) {
  return DrawWith(
      TBlend::Copy, 255, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateAdd(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                         double CenterX, double CenterY, bool Transparent, double Angle, int Alpha,
                         const TRect* SrcRect) {
  return DrawWith(
      TBlend::Add, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateAlpha(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                           double CenterX, double CenterY, bool Transparent, double Angle,
                           int Alpha, const TRect* SrcRect) {
  return DrawWith(
      TBlend::Alpha, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateSub(int X, int Y, int Width, int Height, TDirectDrawSurface* Source,
                         double CenterX, double CenterY, bool Transparent, double Angle, int Alpha,
                         const TRect* SrcRect) {
  return DrawWith(
      TBlend::Sub, Alpha, [&] { return SetSurfaceTexture(Source, Transparent, SrcRect); },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}

bool TD2D::StretchDraw(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex) {
  return DrawWith(
      TBlend::Copy, 255,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawAdd(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                   int Alpha) {
  return DrawWith(
      TBlend::Add, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawAlpha(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                     int Alpha) {
  return DrawWith(
      TBlend::Alpha, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawSub(TPictureCollectionItem* Source, const TRect& DestRect, int PatternIndex,
                   int Alpha) {
  return DrawWith(
      TBlend::Sub, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] { SetRectangle(DestRect); });
}
bool TD2D::DrawRotate(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                      int PatternIndex, double CenterX, double CenterY, double Angle) {
  return DrawWith(
      TBlend::Copy, 255,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateAdd(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                         int PatternIndex, double CenterX, double CenterY, double Angle,
                         int Alpha) {
  return DrawWith(
      TBlend::Add, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateAlpha(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                           int PatternIndex, double CenterX, double CenterY, double Angle,
                           int Alpha) {
  return DrawWith(
      TBlend::Alpha, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
bool TD2D::DrawRotateSub(TPictureCollectionItem* Source, int X, int Y, int Width, int Height,
                         int PatternIndex, double CenterX, double CenterY, double Angle,
                         int Alpha) {
  return DrawWith(
      TBlend::Sub, Alpha,
      [&] {
        return SetPictureTexture(Source, PatternIndex, PicturePatternRect(Source, PatternIndex));
      },
      [&] {
        SetRotation({X, Y, Width, Height, CenterX, CenterY, Angle});
      });
}
