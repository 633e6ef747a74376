#include "framework/graphics/DXImageList.h"

#include <algorithm>
#include <cstdint>

#include "framework/graphics/DXConsts.h"
#include "platform/rtl/Streams.h"

namespace {

const bool registered = (RegisterClass<TDXImageList>("TDXImageList"), true);

// Whole tiles stay within what hardware surfaces allow: at least this size, in whole strides.
constexpr std::int64_t kTileLimit = 2048;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPictureCollectionItem

TPictureCollectionItem::TPictureCollectionItem(TCollection* Collection)
    : THashCollectionItem(Collection), FPicture(new TPicture) {}

TPictureCollectionItem::~TPictureCollectionItem() {
  Finalize();
  ClearSurfaces();
  delete FPicture;
}

TPictureCollection* TPictureCollectionItem::PictureCollection() const {
  return dynamic_cast<TPictureCollection*>(Collection());
}

void TPictureCollectionItem::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TPictureCollectionItem*>(Source);
  if (src == nullptr) {
    THashCollectionItem::Assign(Source);
    return;
  }
  const bool wasInitialized = FInitialized;
  Finalize();
  PatternHeight = src->PatternHeight;
  PatternWidth = src->PatternWidth;
  SkipHeight = src->SkipHeight;
  SkipWidth = src->SkipWidth;
  SystemMemory = src->SystemMemory;
  Transparent = src->Transparent;
  FTransparentColor = src->FTransparentColor;
  FPicture->Assign(src->FPicture);
  if (wasInitialized) Restore();
}

void TPictureCollectionItem::DefineProperties(TPropertyDefs& Defs) {
  THashCollectionItem::DefineProperties(Defs);
  Defs.Int("PatternHeight", PatternHeight);
  Defs.Int("PatternWidth", PatternWidth);
  Defs.Persistent("Picture", FPicture);
  Defs.Int("SkipHeight", SkipHeight).Default(0);
  Defs.Int("SkipWidth", SkipWidth).Default(0);
  Defs.Bool("SystemMemory", SystemMemory);
  Defs.Bool("Transparent", Transparent);
  Defs.Int(
      "TransparentColor", [this] { return FTransparentColor; },
      [this](TColor v) { SetTransparentColor(v); });
}

void TPictureCollectionItem::Initialize() {
  Finalize();
  TPictureCollection* owner = PictureCollection();
  FInitialized = owner != nullptr && owner->Initialized();
}

void TPictureCollectionItem::Finalize() {
  if (!FInitialized) return;
  FInitialized = false;
  FPatterns.clear();
  ClearSurfaces();
}

void TPictureCollectionItem::ClearSurfaces() {
  FPatterns.clear();
  std::vector<TDirectDrawSurface*> surfaces;
  surfaces.swap(FSurfaces);
  for (TDirectDrawSurface* s : surfaces) delete s;
}

int TPictureCollectionItem::Width() const {
  return PatternWidth > 0 ? PatternWidth : FPicture->Width();
}

int TPictureCollectionItem::Height() const {
  return PatternHeight > 0 ? PatternHeight : FPicture->Height();
}

TRect TPictureCollectionItem::PatternRects(int Index) const {
  if (Index < 0 || Index >= PatternCount()) return TRect{};
  return FPatterns[Index].Rect;
}

TDirectDrawSurface* TPictureCollectionItem::PatternSurfaces(int Index) const {
  if (Index < 0 || Index >= PatternCount()) return nullptr;
  return FPatterns[Index].Surface;
}

void TPictureCollectionItem::SetPicture(TPicture* Value) { FPicture->Assign(Value); }

void TPictureCollectionItem::SetTransparentColor(TColor Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  for (TDirectDrawSurface* s : FSurfaces) {
    try {
      s->SetTransparentColor(s->MatchColor(Value));
    } catch (const Exception&) {
      // One surface that cannot be re-keyed does not keep the others from it.
    }
  }
}

TDirectDrawSurface* TPictureCollectionItem::MakeSurface(const TRect& Rect) {
  TCustomDXDraw* display = PictureCollection()->DXDraw();
  auto* surface = new TDirectDrawSurface(display->DDraw);
  FSurfaces.push_back(surface);
  surface->SystemMemory = SystemMemory;
  surface->LoadFromGraphicRect(FPicture->Graphic(), 0, 0, Rect);
  // Keyed whether or not Transparent is set: the draws decide whether the key applies.
  surface->SetTransparentColor(surface->MatchColor(FTransparentColor));
  return surface;
}

void TPictureCollectionItem::Restore() {
  TGraphic* graphic = FPicture->Graphic();
  if (graphic == nullptr || graphic->Empty()) return;
  const std::int64_t pw = graphic->Width();
  const std::int64_t ph = graphic->Height();
  if (pw <= 0 || ph <= 0) return;

  if (!FInitialized) {
    TPictureCollection* owner = PictureCollection();
    if (owner != nullptr && owner->Initialized()) Initialize();
    if (!FInitialized) return;
  }

  ClearSurfaces();

  const std::int64_t w = Width();
  const std::int64_t h = Height();
  const std::int64_t a = w + SkipWidth;
  const std::int64_t c = h + SkipHeight;

  if (w == pw && h == ph) {
    TDirectDrawSurface* s = MakeSurface(Bounds(0, 0, static_cast<int>(pw), static_cast<int>(ph)));
    FPatterns.push_back({Bounds(0, 0, static_cast<int>(pw), static_cast<int>(ph)), s});
    ForgetTextures();
  } else if (w > 0 && h > 0 && a > 0 && c > 0) {
    // A stride of 0 or less (a damaged pattern size or gap) has no grid to cut.
    const std::int64_t rows = (ph + SkipHeight) / c;
    const std::int64_t cols = (pw + SkipWidth) / a;
    if (SystemMemory) {
      TDirectDrawSurface* s = MakeSurface(Bounds(0, 0, static_cast<int>(pw), static_cast<int>(ph)));
      for (std::int64_t r = 0; r < rows; ++r) {
        for (std::int64_t k = 0; k < cols; ++k) {
          FPatterns.push_back({Bounds(static_cast<int>(a * k), static_cast<int>(c * r),
                                      static_cast<int>(w), static_cast<int>(h)),
                               s});
        }
      }
      ForgetTextures();
    } else {
      // Tiles in whole strides, so that no pattern is split between two surfaces.
      const std::int64_t tw = std::min(a * ((a + kTileLimit - 1) / a), a * cols);
      const std::int64_t th = std::min(c * ((c + kTileLimit - 1) / c), c * rows);
      if (tw > 0 && th > 0) {
        const std::int64_t tileCols = (pw + tw - 1) / tw;
        const std::int64_t tileRows = (ph + th - 1) / th;
        for (std::int64_t i = 0; i < tileRows; ++i) {
          for (std::int64_t j = 0; j < tileCols; ++j) {
            std::int64_t tileW = std::min(tw, std::max<std::int64_t>(pw - tw * j, 0));
            if (tileW == 0) tileW = tw;
            std::int64_t tileH = std::min(th, std::max<std::int64_t>(ph - th * i, 0));
            if (tileH == 0) tileH = th;
            MakeSurface(Bounds(static_cast<int>(tw * j), static_cast<int>(th * i),
                               static_cast<int>(tileW), static_cast<int>(tileH)));
          }
        }
        for (std::int64_t r = 0; r < rows; ++r) {
          for (std::int64_t k = 0; k < cols; ++k) {
            const std::int64_t x = a * k;
            const std::int64_t y = c * r;
            FPatterns.push_back(
                {Bounds(static_cast<int>(x % tw), static_cast<int>(y % th), static_cast<int>(w),
                        static_cast<int>(h)),
                 FSurfaces[static_cast<std::size_t>(x / tw + (y / th) * tileCols)]});
          }
        }
        ForgetTextures();
      }
    }
  }
}

void TPictureCollectionItem::ForgetTextures() {
  // The accelerator's textures were made from the old surfaces: it makes them again.
  TCustomDXDraw* display = AcceleratedDisplay();
  if (display != nullptr && display->D2D != nullptr) display->D2D->ClearTextures();
}

TD2D* TPictureCollectionItem::Accelerator(TDirectDrawSurface* Dest) const {
  TCustomDXDraw* display = AcceleratedDisplay();
  return display != nullptr && Dest == display->Surface ? display->D2D : nullptr;
}

TCustomDXDraw* TPictureCollectionItem::AcceleratedDisplay() const {
  TPictureCollection* owner = PictureCollection();
  if (owner == nullptr || owner->DXDraw() == nullptr) return nullptr;
  // Decided by what was asked for, not by what the display achieved.
  return owner->DXDraw()->Options().Contains(do3D) ? owner->DXDraw() : nullptr;
}

const TPictureCollectionItemPattern* TPictureCollectionItem::PatternToDraw(int PatternIndex) const {
  if (!FInitialized || PatternIndex < 0 || PatternIndex >= PatternCount()) return nullptr;
  return &FPatterns[PatternIndex];
}

// On a display asked for 3-D whose accelerator can draw, patterns are drawn by the
// accelerator, and only on its drawing surface; other destinations get nothing. Elsewhere, and
// when the accelerator cannot draw (a display of 8 or 24 bits, or no device), the surface
// operation of the same name draws them.
template <class ViaAccelerator, class ViaSurface>
void TPictureCollectionItem::Route(TDirectDrawSurface* Dest, int PatternIndex,
                                   ViaAccelerator viaAccelerator, ViaSurface viaSurface) {
  const TPictureCollectionItemPattern* p = PatternToDraw(PatternIndex);
  if (p == nullptr || Dest == nullptr) return;
  if (TCustomDXDraw* display = AcceleratedDisplay();
      display != nullptr && display->D2D != nullptr && display->D2D->CanDraw()) {
    if (TD2D* d2d = Accelerator(Dest)) viaAccelerator(d2d);
    return;
  }
  viaSurface(*p);
}

void TPictureCollectionItem::Draw(TDirectDrawSurface* Dest, int X, int Y, int PatternIndex) {
  Route(
      Dest, PatternIndex,
      [&](TD2D* d2d) { d2d->StretchDraw(this, Bounds(X, Y, Width(), Height()), PatternIndex); },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->Draw(X, Y, p.Rect, p.Surface, Transparent);
      });
}

void TPictureCollectionItem::StretchDraw(TDirectDrawSurface* Dest, const TRect& DestRect,
                                         int PatternIndex) {
  Route(
      Dest, PatternIndex, [&](TD2D* d2d) { d2d->StretchDraw(this, DestRect, PatternIndex); },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->StretchDraw(DestRect, p.Rect, p.Surface, Transparent);
      });
}

void TPictureCollectionItem::DrawAdd(TDirectDrawSurface* Dest, const TRect& DestRect,
                                     int PatternIndex, int Alpha) {
  Route(
      Dest, PatternIndex, [&](TD2D* d2d) { d2d->DrawAdd(this, DestRect, PatternIndex, Alpha); },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawAdd(DestRect, p.Rect, p.Surface, Transparent, Alpha);
      });
}

void TPictureCollectionItem::DrawAlpha(TDirectDrawSurface* Dest, const TRect& DestRect,
                                       int PatternIndex, int Alpha) {
  Route(
      Dest, PatternIndex, [&](TD2D* d2d) { d2d->DrawAlpha(this, DestRect, PatternIndex, Alpha); },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawAlpha(DestRect, p.Rect, p.Surface, Transparent, Alpha);
      });
}

void TPictureCollectionItem::DrawSub(TDirectDrawSurface* Dest, const TRect& DestRect,
                                     int PatternIndex, int Alpha) {
  Route(
      Dest, PatternIndex, [&](TD2D* d2d) { d2d->DrawSub(this, DestRect, PatternIndex, Alpha); },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawSub(DestRect, p.Rect, p.Surface, Transparent, Alpha);
      });
}

void TPictureCollectionItem::DrawRotate(TDirectDrawSurface* Dest, int X, int Y, int Width,
                                        int Height, int PatternIndex, double CenterX,
                                        double CenterY, float Angle) {
  Route(
      Dest, PatternIndex,
      [&](TD2D* d2d) {
        d2d->DrawRotate(this, X, Y, Width, Height, PatternIndex, CenterX, CenterY, Angle);
      },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawRotate(X, Y, Width, Height, p.Rect, p.Surface, CenterX, CenterY, Transparent,
                         Angle);
      });
}

void TPictureCollectionItem::DrawRotateAdd(TDirectDrawSurface* Dest, int X, int Y, int Width,
                                           int Height, int PatternIndex, double CenterX,
                                           double CenterY, float Angle, int Alpha) {
  Route(
      Dest, PatternIndex,
      [&](TD2D* d2d) {
        d2d->DrawRotateAdd(this, X, Y, Width, Height, PatternIndex, CenterX, CenterY, Angle, Alpha);
      },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawRotateAdd(X, Y, Width, Height, p.Rect, p.Surface, CenterX, CenterY, Transparent,
                            Angle, Alpha);
      });
}

void TPictureCollectionItem::DrawRotateAlpha(TDirectDrawSurface* Dest, int X, int Y, int Width,
                                             int Height, int PatternIndex, double CenterX,
                                             double CenterY, float Angle, int Alpha) {
  Route(
      Dest, PatternIndex,
      [&](TD2D* d2d) {
        d2d->DrawRotateAlpha(this, X, Y, Width, Height, PatternIndex, CenterX, CenterY, Angle,
                             Alpha);
      },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawRotateAlpha(X, Y, Width, Height, p.Rect, p.Surface, CenterX, CenterY, Transparent,
                              Angle, Alpha);
      });
}

void TPictureCollectionItem::DrawRotateSub(TDirectDrawSurface* Dest, int X, int Y, int Width,
                                           int Height, int PatternIndex, double CenterX,
                                           double CenterY, float Angle, int Alpha) {
  Route(
      Dest, PatternIndex,
      [&](TD2D* d2d) {
        d2d->DrawRotateSub(this, X, Y, Width, Height, PatternIndex, CenterX, CenterY, Angle, Alpha);
      },
      [&](const TPictureCollectionItemPattern& p) {
        Dest->DrawRotateSub(X, Y, Width, Height, p.Rect, p.Surface, CenterX, CenterY, Transparent,
                            Angle, Alpha);
      });
}

// ---------------------------------------------------------------------------------------------
// TPictureCollection

TPictureCollection::TPictureCollection(TPersistent* AOwner)
    : THashCollection(AOwner, CollectionItemClass<TPictureCollectionItem>()) {}

TPictureCollection::~TPictureCollection() {
  Finalize();
  // The items look back at the collection while they go.
  Clear();
}

TPictureCollectionItem* TPictureCollection::Find(const std::string& Name) const {
  const int i = IndexOfName(Name);
  if (i < 0) throw EPictureCollectionError(Format(SImageNotFound, {Name}));
  return Items(i);
}

TPictureCollectionItem* TPictureCollection::Items(int Index) const {
  return static_cast<TPictureCollectionItem*>(TCollection::Items(Index));
}

bool TPictureCollection::Initialized() const {
  return FDXDraw != nullptr && FDXDraw->Initialized();
}

void TPictureCollection::Initialize(TCustomDXDraw* ADXDraw) {
  Finalize();
  FDXDraw = ADXDraw;
  if (!Initialized()) {
    throw EPictureCollectionError(Format(SCannotInitialized, {std::string(ClassName())}));
  }
  for (int i = 0; i < Count(); ++i) Items(i)->Initialize();
}

void TPictureCollection::Finalize() {
  try {
    for (int i = 0; i < Count(); ++i) Items(i)->Finalize();
  } catch (...) {
    FDXDraw = nullptr;
    throw;
  }
  FDXDraw = nullptr;
}

void TPictureCollection::Restore() {
  for (int i = 0; i < Count(); ++i) Items(i)->Restore();
}

void TPictureCollection::DefineProperties(TPropertyDefs& Defs) {
  THashCollection::DefineProperties(Defs);
  Defs.DefineBinaryProperty(
      "ColorTable", [this](TStream* S) { S->ReadBuffer(ColorTable, ColorTableSize); },
      [this](TStream* S) { S->WriteBuffer(ColorTable, ColorTableSize); }, true);
}

// ---------------------------------------------------------------------------------------------
// TCustomDXImageList

TCustomDXImageList::TCustomDXImageList(TComponent* AOwner)
    : TComponent(AOwner), FItems(new TPictureCollection(this)) {}

TCustomDXImageList::~TCustomDXImageList() {
  SetDXDraw(nullptr);
  delete FItems;
}

void TCustomDXImageList::SetDXDraw(TCustomDXDraw* Value) {
  if (FDXDraw != nullptr) {
    FDXDraw->RemoveNotifyHandler(TDXDrawNotifyEvent::Of<&TCustomDXImageList::DXDrawNotify>(this));
    FDXDraw->RemoveFreeNotification(this);
  }
  FDXDraw = Value;
  if (Value != nullptr) {
    Value->FreeNotification(this);
    Value->AddNotifyHandler(TDXDrawNotifyEvent::Of<&TCustomDXImageList::DXDrawNotify>(this));
  }
}

void TCustomDXImageList::SetItems(TPictureCollection* Value) { FItems->Assign(Value); }

void TCustomDXImageList::DXDrawNotify(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType) {
  switch (NotifyType) {
    case nkDestroying:
      SetDXDraw(nullptr);
      break;
    case nkInitialize:
      FItems->Initialize(Sender);
      break;
    case nkFinalize:
      FItems->Finalize();
      break;
    case nkRestore:
      FItems->Restore();
      break;
    default:
      break;
  }
}

void TCustomDXImageList::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != nullptr && AComponent == FDXDraw) SetDXDraw(nullptr);
}

void TCustomDXImageList::DefineProperties(TPropertyDefs& Defs) {
  TComponent::DefineProperties(Defs);
  Defs.Component(
      "DXDraw", [this] { return FDXDraw; }, [this](TCustomDXDraw* v) { SetDXDraw(v); });
  Defs.Collection("Items", FItems);
}
