// The sprite engine: a tree of sprites rooted in a TSpriteEngine that is moved, drawn and freed
// once per frame, with collision walks over the tree.
//
//   TSprite            node of the tree: position, size, Z order, flags and four events
//   TImageSprite       draws one pattern of an image-list item; animation, wrap-around, pixel test
//   TImageSpriteEx     draws its pattern stretched, blended or rotated
//   TBackgroundSprite  a map of chips, optionally repeated over the whole surface
//   TSpriteEngine      the root: counters, collision scratch, dead queue, target surface
//
// The component that binds an engine to a display is TDXSpriteEngine (DXSpriteEngine.h).
//
// Ownership: a sprite owns its children and frees them with itself. Sprites are never freed while
// the tree is walked: Dead only queues, and TSpriteEngine::Dead frees the queue in one batch.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"
#include "platform/win/WinTypes.h"

class TDirectDrawSurface;
class TPictureCollectionItem;
class TSprite;
class TSpriteEngine;

MORVANE_DECLARE_EXCEPTION(ESpriteError, Exception)

enum TBlendMode : std::uint8_t { bmDraw = 0, bmBlend = 1, bmAdd = 2, bmSub = 3 };

// Sender is the sprite itself.
using TDrawEvent = std::function<void(TObject* Sender)>;
// MoveCount is the handler's own copy: a change made there is not seen by the caller.
using TMoveEvent = std::function<void(TObject* Sender, int& MoveCount)>;
// Sender is the OTHER sprite, the one that was hit; Done stops the walk's descent.
using TCollisionEvent = std::function<void(TObject* Sender, bool& Done)>;
// Asked for an image while a sprite has none; Image starts as nullptr.
using TGetImage = std::function<void(TObject* Sender, TPictureCollectionItem*& Image)>;

// A mod B with the remainder moved into [0, B) for positive B (truncating division, then B added
// to a negative remainder). B = 0 gives A unchanged instead of a division fault.
int IntMod(int A, int B);
// X mod N for doubles, in [0, N) for N > 0; X itself when N is 0.
double FloatMod(double X, int N);
// Positions and bounds round to the nearest integer, halves to even, and keep the low 32 bits of
// the result as the class library's integers do. Not a number, or beyond the 64-bit range,
// raises EInvalidOp.
int SpriteRoundSlow(double Value);
inline int SpriteRound(double Value) {
  // Below 2^51 in magnitude, adding and taking away 1.5 * 2^52 leaves the value rounded to an
  // integer by the FPU's own mode: to nearest, halves to even. This runs for every bounds test
  // of every collision walk, so it avoids the library call.
  constexpr double kLimit = 2251799813685248.0;  // 2^51
  constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
  if (Value > -kLimit && Value < kLimit) {
    const double shifted = Value + kShift;
    return static_cast<int>(static_cast<std::int64_t>(shifted - kShift));
  }
  return SpriteRoundSlow(Value);
}
// Bounds(L, T, W, H) whose right and bottom wrap around the 32-bit range instead of overflowing.
inline TRect SpriteBounds(int L, int T, int W, int H) {
  return TRect{L, T,
               static_cast<int>(static_cast<std::uint32_t>(L) + static_cast<std::uint32_t>(W)),
               static_cast<int>(static_cast<std::uint32_t>(T) + static_cast<std::uint32_t>(H))};
}

class TSprite : public TPersistent {
 public:
  // AParent may be nullptr only for a root. The new sprite enters its parent's lists as a Z-0
  // sprite, before the siblings already there with Z 0.
  explicit TSprite(TSprite* AParent);
  // Frees the subtree (last child first) and leaves the parent's lists and the dead queue.
  ~TSprite() override;

  // Copies the flags, size, position, Z (as a plain value) and the four events from a sprite;
  // anything else goes to the class library's assignment, which refuses it.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  // Frees every child, the last created first.
  void Clear();
  // Tests this sprite against the tree; the number of hits.
  int Collision();
  // Queues the sprite for TSpriteEngine::Dead. It stays in the tree, moved, drawn and hit,
  // until then. A second call does nothing.
  void Dead();
  void Move(int MoveCount);
  void Draw();

  TSpriteEngine* Engine() const { return FEngine; }
  TSprite* Parent() const { return FParent; }
  bool Dying() const { return FDying; }
  int Count() const { return static_cast<int>(FChildList.size()); }
  // Child by creation order. ESpriteError on a sprite without children, EListError otherwise.
  TSprite* Items(int Index) const;
  // The children in drawing order (ascending Z; among equals the newest first).
  const std::vector<TSprite*>& DrawList() const { return FDrawList; }
  double WorldX() const { return FParent != nullptr ? X + FParent->WorldX() : X; }
  double WorldY() const { return FParent != nullptr ? Y + FParent->WorldY() : Y; }
  TRect BoundsRect() { return GetBoundsRect(); }
  int Z() const { return FZ; }
  void SetZ(int Value);

  // What the walks read of every sprite comes first, together in memory.
  bool Collisioned = true;
  bool Moved = true;
  bool Visible = true;
  double X = 0;
  double Y = 0;
  int Width = 0;
  int Height = 0;

 protected:
  // The overridable steps, in this order. The base bodies fire the events.
  virtual void DoCollision(TSprite* Sprite, bool& Done);
  virtual void DoDraw();
  virtual void DoMove(int MoveCount);
  virtual TRect GetBoundsRect();
  virtual bool TestCollision(TSprite* Sprite);

  // Bounds(round(WorldX), round(WorldY), Width, Height).
  TRect PlainBounds() const;
  // Takes the sprite out of its parent's lists and the dead queue now, as the destructor would,
  // for a derived destructor that must act once the sprite has left the tree.
  void Detach();

 private:
  friend class TSpriteEngine;
  class TWalkGuard;
  void Add(TSprite* Sprite);
  void Remove(TSprite* Sprite);
  void AddDrawList(TSprite* Sprite);
  void CollisionStep(TSprite* Target);

  TSpriteEngine* FEngine = nullptr;
  TSprite* FParent = nullptr;
  bool FDying = false;
  int FZ = 0;
  std::vector<TSprite*> FChildList;
  std::vector<TSprite*> FDrawList;

 protected:
  // The engine whose walks this sprite takes part in: Engine, or the engine itself for a root.
  TSpriteEngine* FWalkEngine = nullptr;

 public:
  std::string Caption;
  int Tag = 0;
  TDrawEvent OnDraw;
  TMoveEvent OnMove;
  TCollisionEvent OnCollision;
  TGetImage OnGetImage;
};

class TImageSprite : public TSprite {
 public:
  explicit TImageSprite(TSprite* AParent);

  // From an image sprite its animation, image reference, PixelCheck and Tile, then the
  // sprite's common part.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  TPictureCollectionItem* Image() const { return FImage; }
  // Takes the item's pattern size as the sprite's size (0 x 0 for nullptr).
  virtual void SetImage(TPictureCollectionItem* Value);
  // round(AnimPos) + AnimStart.
  int GetDrawImageIndex() const;
  // BoundsRect with the pattern centred on it when the sprite's size differs from the pattern's.
  TRect GetDrawRect();
  // Advances AnimPos by AnimSpeed per move step, wrapping or stopping at the end.
  void Animate(int MoveCount);

  int AnimCount = 0;
  bool AnimLooped = false;
  double AnimPos = 0;
  double AnimSpeed = 0;
  int AnimStart = 0;
  bool PixelCheck = false;
  bool Tile = false;

 protected:
  void DoDraw() override;
  void DoMove(int MoveCount) override;
  TRect GetBoundsRect() override;
  bool TestCollision(TSprite* Sprite) override;

  // Asks OnGetImage for an image while there is none.
  void FetchImage();

 private:
  bool PixelCollision(TImageSprite* Other);

  TPictureCollectionItem* FImage = nullptr;
};

class TImageSpriteEx : public TImageSprite {
 public:
  explicit TImageSpriteEx(TSprite* AParent);

  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  int Angle = 0;  // 1/256 of a turn; 0 = not rotated
  int Alpha = 255;
  TBlendMode BlendMode = bmDraw;

 protected:
  void DoDraw() override;
  // The whole surface rectangle: the sprite always passes the visibility and bounds tests; its
  // real extent counts only in TestCollision.
  TRect GetBoundsRect() override;
  bool TestCollision(TSprite* Sprite) override;
};

// A map of chips: cell (X, Y) shows pattern Chips(X, Y) of Image and is solid when its
// CollisionMap byte is not 0. Cells are stored row by row (X + Y * MapWidth).
class TBackgroundSprite : public TSprite {
 public:
  explicit TBackgroundSprite(TSprite* AParent);
  ~TBackgroundSprite() override;

  // From a background sprite its image, Tile and the whole map, then the common part.
  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& Defs) override;

  TPictureCollectionItem* Image() const { return FImage; }
  // The sprite's size becomes the map's size in pixels (later map-size changes leave it).
  void SetImage(TPictureCollectionItem* Value);

  int MapWidth() const { return FMapWidth; }
  int MapHeight() const { return FMapHeight; }
  void SetMapWidth(int Value) { SetMapSize(Value, FMapHeight); }
  void SetMapHeight(int Value) { SetMapSize(FMapWidth, Value); }
  // Reallocates both maps: every chip 0, every cell solid. A size of 0 or less in either
  // direction empties the map. A map beyond MaxMapCells cells is refused with ESpriteError and
  // the old map stays.
  void SetMapSize(int AMapWidth, int AMapHeight);
  static constexpr std::int64_t MaxMapCells = std::int64_t{1} << 24;

  // -1 outside the map.
  int Chips(int X, int Y) const;
  // False outside the map.
  bool CollisionMap(int X, int Y) const;
  // Writes one cell; outside the map nothing happens.
  void SetChip(int X, int Y, int Value);
  void SetCollisionMap(int X, int Y, bool Value);

  bool Tile = false;
  // While drawing: the screen rectangle and chip value of the cell being drawn.
  TRect ChipRect;
  int ChipIndex = 0;

 protected:
  void DoDraw() override;
  TRect GetBoundsRect() override;
  bool TestCollision(TSprite* Sprite) override;

 private:
  // Pattern 0's size; false when the image has no pattern to take it from.
  bool CellSize(int& CW, int& CH) const;
  bool MapEmpty() const { return FMapWidth <= 0 || FMapHeight <= 0; }

  TPictureCollectionItem* FImage = nullptr;
  int FMapWidth = 0;
  int FMapHeight = 0;
  std::vector<std::int32_t> FChips;
  std::vector<std::uint8_t> FCollisionMap;
};

class TSpriteEngine : public TSprite {
 public:
  // A root engine has no parent.
  explicit TSpriteEngine(TSprite* AParent);
  // Frees the whole tree while the dead queue still exists.
  ~TSpriteEngine() override;

  // Frees the queued sprites, the one queued last first. (Through a TSprite reference the
  // sprite's own Dead runs, which does nothing on a root.)
  void Dead();
  // Zeroes DrawCount, then draws the tree.
  void Draw();
  // The drawing target; the client rectangle and the engine's size follow a surface that is set
  // and keep their last values when nullptr is set.
  virtual void SetSurface(TDirectDrawSurface* Value);

  TDirectDrawSurface* Surface() const { return FSurface; }
  const TRect& SurfaceRect() const { return FSurfaceRect; }
  int SpriteCount() const { return FSpriteCount; }
  int DrawCount() const { return FDrawCount; }
  int CollisionCount() const { return FCollisionCount; }
  bool CollisionDone() const { return FCollisionDone; }
  const TRect& CollisionRect() const { return FCollisionRect; }
  TSprite* CollisionSprite() const { return FCollisionSprite; }
  const std::vector<TSprite*>& DeadList() const { return FDeadList; }
  // True while a Move, Draw or Collision walk runs on this engine's tree.
  bool Walking() const { return FWalkDepth > 0; }

 protected:
  TDirectDrawSurface* FSurface = nullptr;
  TRect FSurfaceRect;

 private:
  friend class TSprite;
  int FSpriteCount = 0;
  int FCollisionCount = 0;
  bool FCollisionDone = false;
  TRect FCollisionRect;
  TSprite* FCollisionSprite = nullptr;
  std::vector<TSprite*> FDeadList;
  int FDrawCount = 0;
  int FWalkDepth = 0;
};
