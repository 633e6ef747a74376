// TBackgroundSprite: a map of chips drawn from one image-list item, with a collision map.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DXImageList.h"
#include "framework/graphics/DXSprite.h"

namespace {

int Saturate(std::int64_t V) {
  return static_cast<int>(std::clamp<std::int64_t>(V, INT_MIN, INT_MAX));
}

// Truncating division and remainder, spelled out for 64-bit operands.
std::int64_t IntMod64(std::int64_t A, std::int64_t B) {
  std::int64_t r = A % B;
  if (r < 0) r += B;
  return r;
}

}  // namespace

TBackgroundSprite::TBackgroundSprite(TSprite* AParent) : TSprite(AParent) { Collisioned = false; }

TBackgroundSprite::~TBackgroundSprite() { SetMapSize(0, 0); }

void TBackgroundSprite::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TBackgroundSprite*>(Source)) {
    FImage = src->FImage;
    Tile = src->Tile;
    // The cells come along with the size, so the maps always match MapWidth x MapHeight.
    FMapWidth = src->FMapWidth;
    FMapHeight = src->FMapHeight;
    FChips = src->FChips;
    FCollisionMap = src->FCollisionMap;
  }
  TSprite::Assign(Source);
}

void TBackgroundSprite::DefineProperties(TPropertyDefs& Defs) {
  TSprite::DefineProperties(Defs);
  Defs.Int(
      "MapHeight", [this] { return FMapHeight; }, [this](int v) { SetMapHeight(v); });
  Defs.Int(
      "MapWidth", [this] { return FMapWidth; }, [this](int v) { SetMapWidth(v); });
  Defs.Bool("Tile", Tile);
}

void TBackgroundSprite::SetImage(TPictureCollectionItem* Value) {
  FImage = Value;
  if (Value == nullptr) {
    Width = 0;
    Height = 0;
    return;
  }
  Width = Saturate(static_cast<std::int64_t>(Value->Width()) * FMapWidth);
  Height = Saturate(static_cast<std::int64_t>(Value->Height()) * FMapHeight);
}

void TBackgroundSprite::SetMapSize(int AMapWidth, int AMapHeight) {
  if (AMapWidth == FMapWidth && AMapHeight == FMapHeight) return;
  if (AMapWidth <= 0 || AMapHeight <= 0) {
    AMapWidth = 0;
    AMapHeight = 0;
  }
  const std::int64_t cells = static_cast<std::int64_t>(AMapWidth) * AMapHeight;
  if (cells > MaxMapCells) {
    throw ESpriteError(
        Format("Map size %dx%d is too large",
               {static_cast<std::int64_t>(AMapWidth), static_cast<std::int64_t>(AMapHeight)}));
  }
  std::vector<std::int32_t> chips(static_cast<std::size_t>(cells), 0);
  std::vector<std::uint8_t> solid(static_cast<std::size_t>(cells), 1);
  FMapWidth = AMapWidth;
  FMapHeight = AMapHeight;
  FChips.swap(chips);
  FCollisionMap.swap(solid);
}

int TBackgroundSprite::Chips(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= FMapWidth || Y >= FMapHeight) return -1;
  return FChips[static_cast<std::size_t>(X) + static_cast<std::size_t>(Y) * FMapWidth];
}

bool TBackgroundSprite::CollisionMap(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= FMapWidth || Y >= FMapHeight) return false;
  return FCollisionMap[static_cast<std::size_t>(X) + static_cast<std::size_t>(Y) * FMapWidth] != 0;
}

void TBackgroundSprite::SetChip(int X, int Y, int Value) {
  if (X < 0 || Y < 0 || X >= FMapWidth || Y >= FMapHeight) return;
  FChips[static_cast<std::size_t>(X) + static_cast<std::size_t>(Y) * FMapWidth] = Value;
}

void TBackgroundSprite::SetCollisionMap(int X, int Y, bool Value) {
  if (X < 0 || Y < 0 || X >= FMapWidth || Y >= FMapHeight) return;
  FCollisionMap[static_cast<std::size_t>(X) + static_cast<std::size_t>(Y) * FMapWidth] =
      Value ? 1 : 0;
}

bool TBackgroundSprite::CellSize(int& CW, int& CH) const {
  // A picture that was never cut (or is too small for its pattern size) has no pattern 0 and so
  // no cell size: such a map has nothing to draw and no cells to hit.
  const TRect r = FImage->PatternRects(0);
  CW = r.Right - r.Left;
  CH = r.Bottom - r.Top;
  return CW > 0 && CH > 0;
}

TRect TBackgroundSprite::GetBoundsRect() {
  if (Tile) return Engine() != nullptr ? Engine()->SurfaceRect() : TRect{};
  if (FImage == nullptr) return TRect{};
  return SpriteBounds(SpriteRound(WorldX()), SpriteRound(WorldY()),
                      Saturate(static_cast<std::int64_t>(FImage->Width()) * FMapWidth),
                      Saturate(static_cast<std::int64_t>(FImage->Height()) * FMapHeight));
}

void TBackgroundSprite::DoDraw() {
  if (FImage == nullptr && OnGetImage) {
    TPictureCollectionItem* img = nullptr;
    OnGetImage(this, img);
    if (img != FImage) SetImage(img);
  }
  if (FImage == nullptr || MapEmpty()) return;
  int cw, ch;
  if (!CellSize(cw, ch)) return;

  const TRect area = Engine() != nullptr ? Engine()->SurfaceRect() : TRect{};
  const std::int64_t cols = (static_cast<std::int64_t>(area.Right) + cw) / cw + 1;
  const std::int64_t rows = (static_cast<std::int64_t>(area.Bottom) + ch) / ch + 1;
  const std::int64_t wx = SpriteRound(WorldX());
  const std::int64_t wy = SpriteRound(WorldY());
  const std::int64_t offx = wx % cw;
  const std::int64_t offy = wy % ch;
  std::int64_t x0 = wx / cw, skipx = 0;
  if (x0 < 0) {
    skipx = -x0;
    x0 = 0;
  }
  std::int64_t y0 = wy / ch, skipy = 0;
  if (y0 < 0) {
    skipy = -y0;
    y0 = 0;
  }
  TDirectDrawSurface* target = Engine() != nullptr ? Engine()->Surface() : nullptr;

  auto drawCell = [&](std::int64_t x, std::int64_t y, int cellX, int cellY) {
    const int left = static_cast<int>(x * cw + offx);
    const int top = static_cast<int>(y * ch + offy);
    ChipIndex = Chips(cellX, cellY);
    ChipRect = Bounds(left, top, cw, ch);
    if (ChipIndex < 0) return;
    if (OnDraw) {
      OnDraw(this);
    } else if (target != nullptr) {
      FImage->Draw(target, left, top, ChipIndex);
    }
  };

  if (Tile) {
    for (std::int64_t y = -1; y <= rows; ++y) {
      const int cellY = static_cast<int>(IntMod64(y - y0 + skipy, FMapHeight));
      for (std::int64_t x = -1; x <= cols; ++x) {
        drawCell(x, y, static_cast<int>(IntMod64(x - x0 + skipx, FMapWidth)), cellY);
      }
    }
  } else {
    const std::int64_t x1 = std::min(x0 + FMapWidth - skipx, cols);
    const std::int64_t y1 = std::min(y0 + FMapHeight - skipy, rows);
    for (std::int64_t y = y0; y < y1; ++y) {
      for (std::int64_t x = x0; x < x1; ++x) {
        drawCell(x, y, static_cast<int>(x - x0 + skipx), static_cast<int>(y - y0 + skipy));
      }
    }
  }
}

bool TBackgroundSprite::TestCollision(TSprite* Sprite) {
  if (FImage == nullptr || MapEmpty()) return true;
  int cw, ch;
  // Without a cell size the map counts as empty.
  if (!CellSize(cw, ch)) return true;

  const std::int64_t wx = SpriteRound(WorldX());
  const std::int64_t wy = SpriteRound(WorldY());
  const TRect b0 = Sprite->BoundsRect();
  const TRect self = BoundsRect();
  // In map coordinates.
  const std::int64_t bl = b0.Left - wx, bt = b0.Top - wy, br = b0.Right - wx, bb = b0.Bottom - wy;
  const std::int64_t il = std::max(b0.Left, self.Left) - wx;
  const std::int64_t it = std::max(b0.Top, self.Top) - wy;
  const std::int64_t ir = std::min(b0.Right, self.Right) - wx;
  const std::int64_t ib = std::min(b0.Bottom, self.Bottom) - wy;
  if (il >= ir || it >= ib) return false;

  for (std::int64_t y = (it - ch + 1) / ch; y <= ib / ch; ++y) {
    for (std::int64_t x = (il - cw + 1) / cw; x <= ir / cw; ++x) {
      // A tiled map repeats its cells everywhere; an untiled one has nothing solid beyond its
      // edges.
      const bool solid = Tile ? CollisionMap(static_cast<int>(IntMod64(x, FMapWidth)),
                                             static_cast<int>(IntMod64(y, FMapHeight)))
                              : (x >= 0 && y >= 0 && x < FMapWidth && y < FMapHeight &&
                                 CollisionMap(static_cast<int>(x), static_cast<int>(y)));
      if (!solid) continue;
      // The cell against the other sprite's bounds, both in map coordinates.
      const std::int64_t cl = x * cw, ct = y * ch, cr = cl + cw, cb = ct + ch;
      if (cl < br && bl < cr && ct < bb && bt < cb) return true;
    }
  }
  return false;
}
