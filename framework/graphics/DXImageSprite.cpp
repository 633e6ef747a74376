// The image sprites and the engine's target surface: everything of the sprite unit that touches
// pictures and pixels.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/DXSprite.h"

namespace {

// One raw pixel of a locked row, by the lock's bit count.
DWORD ReadPixel(const BYTE* Row, int X, int BitCount) {
  switch (BitCount) {
    case 8:
      return Row[X];
    case 16: {
      const BYTE* p = Row + 2 * X;
      return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8;
    }
    case 24: {
      const BYTE* p = Row + 3 * X;
      return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
             static_cast<DWORD>(p[2]) << 16;
    }
    default: {
      const BYTE* p = Row + 4 * X;
      return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
             static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
    }
  }
}

// A + B kept to the low 32 bits, as the class library's integers do, instead of overflowing.
int WrapAdd(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) + static_cast<std::uint32_t>(B));
}

bool Inside(const TRect& R, const TRect& Area) {
  return R.Left >= Area.Left && R.Top >= Area.Top && R.Right <= Area.Right &&
         R.Bottom <= Area.Bottom;
}

// One locked view of a surface: the address of a rectangle's top-left pixel and the row pitch.
struct TLockedArea {
  const BYTE* Origin = nullptr;
  long Pitch = 0;
  int BitCount = 0;
  DWORD Key = 0;
};

TLockedArea AreaOf(const DDSURFACEDESC& Desc) {
  TLockedArea a;
  a.Origin = static_cast<const BYTE*>(Desc.lpSurface);
  a.Pitch = Desc.lPitch;
  a.BitCount = static_cast<int>(Desc.ddpfPixelFormat.dwRGBBitCount);
  a.Key = Desc.ddckCKSrcBlt.dwColorSpaceLowValue;
  return a;
}

// Whether any pixel position holds opaque pixels in both areas (W x H pixels each, offsets in
// pixels from each area's origin).
bool OpaquePair(const TLockedArea& A1, int X1, int Y1, const TLockedArea& A2, int X2, int Y2, int W,
                int H) {
  for (int y = 0; y < H; ++y) {
    const BYTE* r1 = A1.Origin + static_cast<std::ptrdiff_t>(Y1 + y) * A1.Pitch;
    const BYTE* r2 = A2.Origin + static_cast<std::ptrdiff_t>(Y2 + y) * A2.Pitch;
    for (int x = 0; x < W; ++x) {
      if (ReadPixel(r1, X1 + x, A1.BitCount) != A1.Key &&
          ReadPixel(r2, X2 + x, A2.BitCount) != A2.Key) {
        return true;
      }
    }
  }
  return false;
}

TRect Intersect(const TRect& A, const TRect& B) {
  return TRect{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
               std::min(A.Bottom, B.Bottom)};
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSpriteEngine's target

void TSpriteEngine::SetSurface(TDirectDrawSurface* Value) {
  FSurface = Value;
  if (Value != nullptr) {
    FSurfaceRect = Value->ClientRect();
    Width = Value->Width();
    Height = Value->Height();
  }
}

// ---------------------------------------------------------------------------------------------
// TImageSprite

TImageSprite::TImageSprite(TSprite* AParent) : TSprite(AParent) {}

void TImageSprite::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TImageSprite*>(Source)) {
    AnimCount = src->AnimCount;
    AnimLooped = src->AnimLooped;
    AnimPos = src->AnimPos;
    AnimSpeed = src->AnimSpeed;
    AnimStart = src->AnimStart;
    FImage = src->FImage;
    PixelCheck = src->PixelCheck;
    Tile = src->Tile;
  }
  TSprite::Assign(Source);
}

void TImageSprite::DefineProperties(TPropertyDefs& Defs) {
  TSprite::DefineProperties(Defs);
  Defs.Int("AnimCount", AnimCount);
  Defs.Bool("AnimLooped", AnimLooped);
  Defs.Float("AnimPos", AnimPos);
  Defs.Float("AnimSpeed", AnimSpeed);
  Defs.Int("AnimStart", AnimStart);
  Defs.Bool("PixelCheck", PixelCheck);
  Defs.Bool("Tile", Tile);
}

void TImageSprite::SetImage(TPictureCollectionItem* Value) {
  FImage = Value;
  if (Value != nullptr) {
    Width = Value->Width();
    Height = Value->Height();
  } else {
    Width = 0;
    Height = 0;
  }
}

int TImageSprite::GetDrawImageIndex() const {
  // Wraps around the 32-bit range like every other sprite coordinate; an index far out of range
  // draws nothing.
  return WrapAdd(SpriteRound(AnimPos), AnimStart);
}

TRect TImageSprite::GetBoundsRect() {
  int x = SpriteRound(WorldX());
  int y = SpriteRound(WorldY());
  if (Tile && Engine() != nullptr) {
    const std::int64_t w = Engine()->SurfaceRect().Right;
    const std::int64_t h = Engine()->SurfaceRect().Bottom;
    // The sprite wraps in (-Width, W] x (-Height, H]. With nothing to wrap around (no surface
    // and no size) the position is left as it is.
    const std::int64_t spanX = w + Width;
    const std::int64_t spanY = h + Height;
    if (spanX != 0) {
      std::int64_t m = x % spanX;
      if (m < 0) m += spanX;
      if (m > w) m -= spanX;
      x = static_cast<int>(m);
    }
    if (spanY != 0) {
      std::int64_t m = y % spanY;
      if (m < 0) m += spanY;
      if (m > h) m -= spanY;
      y = static_cast<int>(m);
    }
  }
  return SpriteBounds(x, y, Width, Height);
}

TRect TImageSprite::GetDrawRect() {
  TRect r = GetBoundsRect();
  if (FImage == nullptr) return r;
  const int dx = static_cast<int>((static_cast<std::int64_t>(Width) - FImage->Width()) / 2);
  const int dy = static_cast<int>((static_cast<std::int64_t>(Height) - FImage->Height()) / 2);
  // Bounds near the edge of the 32-bit range wrap as they do in SpriteBounds.
  return TRect{WrapAdd(r.Left, dx), WrapAdd(r.Top, dy), WrapAdd(r.Right, dx),
               WrapAdd(r.Bottom, dy)};
}

void TImageSprite::Animate(int MoveCount) {
  AnimPos = AnimPos + AnimSpeed * MoveCount;
  if (AnimLooped) {
    AnimPos = AnimCount > 0 ? FloatMod(AnimPos, AnimCount) : 0;
  } else {
    if (!(AnimCount > AnimPos)) {
      AnimPos = AnimCount - 1;
      AnimSpeed = 0;
    }
    if (AnimPos < 0) {
      AnimPos = 0;
      AnimSpeed = 0;
    }
  }
}

void TImageSprite::DoMove(int MoveCount) {
  if (OnMove) {
    TSprite::DoMove(MoveCount);
  } else {
    Animate(MoveCount);
  }
}

void TImageSprite::FetchImage() {
  if (FImage != nullptr || !OnGetImage) return;
  TPictureCollectionItem* img = nullptr;
  OnGetImage(this, img);
  if (img != FImage) SetImage(img);
}

void TImageSprite::DoDraw() {
  FetchImage();
  if (OnDraw) {
    OnDraw(this);
    return;
  }
  // Nothing to draw without a picture or a target.
  if (FImage == nullptr || Engine() == nullptr || Engine()->Surface() == nullptr) return;
  const TRect r = GetDrawRect();
  FImage->Draw(Engine()->Surface(), r.Left, r.Top, GetDrawImageIndex());
}

bool TImageSprite::TestCollision(TSprite* Sprite) {
  auto* other = dynamic_cast<TImageSprite*>(Sprite);
  if (other == nullptr || !PixelCheck) return true;
  return PixelCollision(other);
}

bool TImageSprite::PixelCollision(TImageSprite* Other) {
  // Without a picture on either side there are no pixels to compare.
  if (FImage == nullptr || Other->FImage == nullptr) return false;
  const int i1 = GetDrawImageIndex();
  const int i2 = Other->GetDrawImageIndex();
  const TRect p1 = FImage->PatternRects(i1);
  const TRect p2 = Other->FImage->PatternRects(i2);
  TDirectDrawSurface* s1 = FImage->PatternSurfaces(i1);
  TDirectDrawSurface* s2 = Other->FImage->PatternSurfaces(i2);
  const TRect d1 = GetDrawRect();
  const TRect d2 = Other->GetDrawRect();

  const int w1 = p1.Right - p1.Left;
  const int h1 = p1.Bottom - p1.Top;
  const int w2 = p2.Right - p2.Left;
  const int h2 = p2.Bottom - p2.Top;
  const std::int64_t dx64 = static_cast<std::int64_t>(d2.Left) - d1.Left;
  const std::int64_t dy64 = static_cast<std::int64_t>(d2.Top) - d1.Top;
  // Patterns further apart than any pattern is wide cannot meet.
  if (dx64 >= w1 || -dx64 >= w2 || dy64 >= h1 || -dy64 >= h2) return false;
  const int dx = static_cast<int>(dx64);
  const int dy = static_cast<int>(dy64);
  const bool overlap = RectsOverlap(Bounds(0, 0, w1, h1), Bounds(dx, dy, w2, h2));
  if (s1 == nullptr || s2 == nullptr || !overlap) return overlap;

  const TRect a1 =
      Intersect(Bounds(std::max(dx, 0), std::max(dy, 0), w1, h1), Bounds(0, 0, w1, h1));
  const TRect a2 =
      Intersect(Bounds(std::max(-dx, 0), std::max(-dy, 0), w2, h2), Bounds(0, 0, w2, h2));
  const int w = std::min(a1.Right - a1.Left, a2.Right - a2.Left);
  const int h = std::min(a1.Bottom - a1.Top, a2.Bottom - a2.Top);
  if (w <= 0 || h <= 0) return false;
  const TRect r1 = Bounds(p1.Left + a1.Left, p1.Top + a1.Top, w, h);
  const TRect r2 = Bounds(p2.Left + a2.Left, p2.Top + a2.Top, w, h);
  // Pattern rectangles always lie on their surfaces; anything else is not read.
  if (!Inside(r1, s1->ClientRect()) || !Inside(r2, s2->ClientRect())) return false;

  if (s1 == s2) {
    // One lock of the rectangle that holds both parts; both are read while it is held.
    const TRect both{std::min(r1.Left, r2.Left), std::min(r1.Top, r2.Top),
                     std::max(r1.Right, r2.Right), std::max(r1.Bottom, r2.Bottom)};
    DDSURFACEDESC desc;
    if (!s1->Lock(&both, desc)) return false;
    const TLockedArea area = AreaOf(desc);
    bool hit = false;
    if (area.BitCount == 8 || area.BitCount == 16 || area.BitCount == 24 || area.BitCount == 32) {
      hit = OpaquePair(area, r1.Left - both.Left, r1.Top - both.Top, area, r2.Left - both.Left,
                       r2.Top - both.Top, w, h);
    }
    s1->Unlock();
    return hit;
  }

  DDSURFACEDESC desc1, desc2;
  if (!s1->Lock(&r1, desc1)) return false;
  if (!s2->Lock(&r2, desc2)) {
    s1->Unlock();
    return false;
  }
  const TLockedArea l1 = AreaOf(desc1);
  const TLockedArea l2 = AreaOf(desc2);
  bool hit;
  if (l1.BitCount != l2.BitCount) {
    hit = true;
  } else if (l1.BitCount == 8 || l1.BitCount == 16 || l1.BitCount == 24 || l1.BitCount == 32) {
    hit = OpaquePair(l1, 0, 0, l2, 0, 0, w, h);
  } else {
    hit = false;
  }
  s2->Unlock();
  s1->Unlock();
  return hit;
}

// ---------------------------------------------------------------------------------------------
// TImageSpriteEx

TImageSpriteEx::TImageSpriteEx(TSprite* AParent) : TImageSprite(AParent) {}

void TImageSpriteEx::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TImageSpriteEx*>(Source)) {
    Angle = src->Angle;
    Alpha = src->Alpha;
    BlendMode = src->BlendMode;
  }
  TImageSprite::Assign(Source);
}

void TImageSpriteEx::DefineProperties(TPropertyDefs& Defs) {
  TImageSprite::DefineProperties(Defs);
  Defs.Int("Angle", Angle);
  Defs.Int("Alpha", Alpha);
  Defs.Enum("BlendMode", {"bmDraw", "bmBlend", "bmAdd", "bmSub"}, BlendMode).Default(bmDraw);
}

TRect TImageSpriteEx::GetBoundsRect() {
  return Engine() != nullptr ? Engine()->SurfaceRect() : TRect{};
}

void TImageSpriteEx::DoDraw() {
  FetchImage();
  if (OnDraw) {
    OnDraw(this);
    return;
  }
  TPictureCollectionItem* image = Image();
  if (image == nullptr || Engine() == nullptr || Engine()->Surface() == nullptr) return;
  const TRect r = PlainBounds();
  const int i = GetDrawImageIndex();
  TDirectDrawSurface* d = Engine()->Surface();
  // The centre in 64 bits: the corners may lie anywhere in the 32-bit range.
  const int xc = static_cast<int>((static_cast<std::int64_t>(r.Left) + r.Right) / 2);
  const int yc = static_cast<int>((static_cast<std::int64_t>(r.Top) + r.Bottom) / 2);
  const float angle = static_cast<float>(Angle);
  switch (BlendMode) {
    case bmDraw:
      if (Angle == 0) {
        image->StretchDraw(d, r, i);
      } else {
        image->DrawRotate(d, xc, yc, Width, Height, i, 0.5, 0.5, angle);
      }
      break;
    case bmBlend:
      if (Angle == 0) {
        image->DrawAlpha(d, r, i, Alpha);
      } else {
        image->DrawRotateAlpha(d, xc, yc, Width, Height, i, 0.5, 0.5, angle, Alpha);
      }
      break;
    case bmAdd:
      if (Angle == 0) {
        image->DrawAdd(d, r, i, Alpha);
      } else {
        image->DrawRotateAdd(d, xc, yc, Width, Height, i, 0.5, 0.5, angle, Alpha);
      }
      break;
    case bmSub:
      if (Angle == 0) {
        image->DrawSub(d, r, i, Alpha);
      } else {
        image->DrawRotateSub(d, xc, yc, Width, Height, i, 0.5, 0.5, angle, Alpha);
      }
      break;
    default:
      break;
  }
}

bool TImageSpriteEx::TestCollision(TSprite* Sprite) {
  const TRect a = PlainBounds();
  auto* other = dynamic_cast<TImageSpriteEx*>(Sprite);
  const TRect b = other != nullptr ? other->PlainBounds() : Sprite->BoundsRect();
  return RectsOverlap(b, a);
}
