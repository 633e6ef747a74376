#include "framework/graphics/DXSprite.h"

#include <algorithm>
#include <cmath>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXConsts.h"

// Counts a walk on the engine for as long as it runs, so that code running inside a sprite's
// event can tell it must not free sprites.
class TSprite::TWalkGuard {
 public:
  explicit TWalkGuard(TSpriteEngine* Engine) : FEngine(Engine) {
    if (FEngine != nullptr) ++FEngine->FWalkDepth;
  }
  ~TWalkGuard() {
    if (FEngine != nullptr) --FEngine->FWalkDepth;
  }
  TWalkGuard(const TWalkGuard&) = delete;
  TWalkGuard& operator=(const TWalkGuard&) = delete;

 private:
  TSpriteEngine* FEngine;
};

namespace {

// RectsOverlap, inline for the walks: both rectangles need positive area.
inline bool Overlaps(const TRect& A, const TRect& B) {
  return A.Left < A.Right && A.Top < A.Bottom && B.Left < B.Right && B.Top < B.Bottom &&
         A.Left < B.Right && B.Left < A.Right && A.Top < B.Bottom && B.Top < A.Bottom;
}

// Erases the one occurrence of Item, searching from the end (sprites are usually removed
// newest first).
void EraseLast(std::vector<TSprite*>& List, TSprite* Item) {
  auto it = std::find(List.rbegin(), List.rend(), Item);
  if (it != List.rend()) List.erase(std::next(it).base());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Helpers

int IntMod(int A, int B) {
  if (B == 0) return A;
  // -2147483648 mod -1 would trap; its remainder is 0.
  if (B == -1) return 0;
  int r = A % B;
  if (r < 0) r += B;
  return r;
}

double FloatMod(double X, int N) {
  if (N == 0) return X;
  const std::int64_t q = Round(static_cast<long double>(X) / N);
  std::int64_t p;
  if (__builtin_mul_overflow(static_cast<std::int64_t>(N), q, &p)) {
    throw EOverflow("Floating point overflow");
  }
  double r = X - static_cast<double>(p);
  if (r < 0) r += N;
  return r;
}

int SpriteRoundSlow(double Value) {
  const double r = std::nearbyint(Value);
  // Both bounds are exact doubles: -2^63 and 2^63.
  if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) {
    throw EInvalidOp("Invalid floating point operation");
  }
  return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(r)));
}

// ---------------------------------------------------------------------------------------------
// TSprite

TSprite::TSprite(TSprite* AParent) : FParent(AParent) {
  if (AParent != nullptr) {
    AParent->Add(this);
    auto* engine = dynamic_cast<TSpriteEngine*>(AParent);
    FEngine = engine != nullptr ? engine : AParent->FEngine;
    if (FEngine != nullptr) ++FEngine->FSpriteCount;
  }
  FWalkEngine = FEngine;
}

TSprite::~TSprite() {
  Clear();
  if (FParent != nullptr) {
    if (FEngine != nullptr) {
      --FEngine->FSpriteCount;
      EraseLast(FEngine->FDeadList, this);
    }
    FParent->Remove(this);
  }
}

void TSprite::Detach() {
  if (FParent == nullptr) return;
  if (FEngine != nullptr) {
    --FEngine->FSpriteCount;
    EraseLast(FEngine->FDeadList, this);
  }
  FParent->Remove(this);
  FParent = nullptr;
}

void TSprite::Assign(TPersistent* Source) {
  auto* src = dynamic_cast<TSprite*>(Source);
  if (src == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  Collisioned = src->Collisioned;
  Moved = src->Moved;
  Visible = src->Visible;
  Height = src->Height;
  Width = src->Width;
  X = src->X;
  Y = src->Y;
  // A plain copy: the sprite keeps its place in its parent's draw list.
  FZ = src->FZ;
  OnDraw = src->OnDraw;
  OnMove = src->OnMove;
  OnCollision = src->OnCollision;
  OnGetImage = src->OnGetImage;
}

void TSprite::DefineProperties(TPropertyDefs& Defs) {
  TPersistent::DefineProperties(Defs);
  Defs.Bool("Collisioned", Collisioned);
  Defs.Bool("Moved", Moved);
  Defs.Bool("Visible", Visible);
  Defs.Float("X", X);
  Defs.Float("Y", Y);
  Defs.Int(
      "Z", [this] { return FZ; }, [this](int v) { SetZ(v); });
  Defs.Int("Width", Width);
  Defs.Int("Height", Height);
  Defs.String("Caption", Caption);
  Defs.Int("Tag", Tag);
  Defs.Event("OnDraw", OnDraw);
  Defs.Event("OnMove", OnMove);
  Defs.Event("OnCollision", OnCollision);
  Defs.Event("OnGetImage", OnGetImage);
}

void TSprite::Add(TSprite* Sprite) {
  FChildList.push_back(Sprite);
  AddDrawList(Sprite);
}

void TSprite::Remove(TSprite* Sprite) {
  EraseLast(FChildList, Sprite);
  EraseLast(FDrawList, Sprite);
  if (FChildList.empty()) {
    // The lists go with their last child.
    std::vector<TSprite*>().swap(FChildList);
    std::vector<TSprite*>().swap(FDrawList);
  }
}

void TSprite::AddDrawList(TSprite* Sprite) {
  // Lower bound: the first sibling whose Z is not below the new one, so a sprite joins its
  // equals at the front and is drawn under them. Compared directly, not as a difference,
  // which would overflow for Z values far apart.
  int lo = 0;
  int hi = static_cast<int>(FDrawList.size()) - 1;
  while (hi >= lo) {
    const int mid = (lo + hi) / 2;
    if (FDrawList[mid]->FZ < Sprite->FZ) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  FDrawList.insert(FDrawList.begin() + lo, Sprite);
}

void TSprite::SetZ(int Value) {
  if (FZ == Value) return;
  FZ = Value;
  if (FParent != nullptr) {
    auto& list = FParent->FDrawList;
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) list.erase(it);
    FParent->AddDrawList(this);
  }
}

void TSprite::Clear() {
  // Each child's destructor takes it out of the lists.
  while (!FChildList.empty()) delete FChildList.back();
}

TSprite* TSprite::Items(int Index) const {
  if (FChildList.empty()) {
    throw ESpriteError(Format(SListIndexOutOfRange, {static_cast<std::int64_t>(Index)}));
  }
  if (Index < 0 || Index >= Count()) {
    throw EListError(Format("リストのインデックスが範囲を超えています (%d)",
                            {static_cast<std::int64_t>(Index)}));
  }
  return FChildList[Index];
}

TRect TSprite::PlainBounds() const {
  return SpriteBounds(SpriteRound(WorldX()), SpriteRound(WorldY()), Width, Height);
}

void TSprite::DoCollision(TSprite* Sprite, bool& Done) {
  if (OnCollision) OnCollision(Sprite, Done);
}

void TSprite::DoDraw() {
  if (OnDraw) OnDraw(this);
}

void TSprite::DoMove(int MoveCount) {
  if (OnMove) {
    int copy = MoveCount;
    OnMove(this, copy);
  }
}

TRect TSprite::GetBoundsRect() { return PlainBounds(); }

bool TSprite::TestCollision(TSprite* Sprite) { return true; }

void TSprite::Move(int MoveCount) {
  if (!Moved) return;
  TWalkGuard guard(FWalkEngine);
  DoMove(MoveCount);
  // Children added during the walk are appended and not moved in this pass. The size is checked
  // again so that a list shortened against the rules can never be read past its end.
  const std::size_t n = FChildList.size();
  for (std::size_t i = 0; i < n && i < FChildList.size(); ++i) FChildList[i]->Move(MoveCount);
}

void TSprite::Draw() {
  if (!Visible) return;
  TWalkGuard guard(FWalkEngine);
  if (FEngine != nullptr) {
    if (Overlaps(FEngine->FSurfaceRect, GetBoundsRect())) {
      DoDraw();
      ++FEngine->FDrawCount;
    }
  }
  const std::size_t n = FDrawList.size();
  for (std::size_t i = 0; i < n && i < FDrawList.size(); ++i) FDrawList[i]->Draw();
}

int TSprite::Collision() {
  if (FEngine == nullptr || FDying || !Collisioned) return 0;
  TSpriteEngine* e = FEngine;
  TWalkGuard guard(e);
  e->FCollisionCount = 0;
  e->FCollisionDone = false;
  e->FCollisionRect = GetBoundsRect();
  e->FCollisionSprite = this;
  const std::size_t n = e->FChildList.size();
  for (std::size_t i = 0; i < n && i < e->FChildList.size(); ++i) {
    e->CollisionStep(e->FChildList[i]);
  }
  return e->FCollisionCount;
}

void TSprite::CollisionStep(TSprite* Target) {
  // Runs on the engine: the scratch of the walk lives there.
  auto* e = static_cast<TSpriteEngine*>(this);
  if (!Target->Collisioned) return;
  TSprite* source = e->FCollisionSprite;
  if (Target != source) {
    if (Overlaps(Target->GetBoundsRect(), e->FCollisionRect) && source->TestCollision(Target) &&
        Target->TestCollision(source)) {
      ++e->FCollisionCount;
      source->DoCollision(Target, e->FCollisionDone);
      if (!source->Collisioned || source->FDying) e->FCollisionDone = true;
    }
  }
  if (e->FCollisionDone) return;
  const std::size_t n = Target->FChildList.size();
  for (std::size_t i = 0; i < n && i < Target->FChildList.size(); ++i) {
    CollisionStep(Target->FChildList[i]);
  }
}

void TSprite::Dead() {
  if (FEngine != nullptr && !FDying) {
    FDying = true;
    FEngine->FDeadList.push_back(this);
  }
}

// ---------------------------------------------------------------------------------------------
// TSpriteEngine

TSpriteEngine::TSpriteEngine(TSprite* AParent) : TSprite(AParent) { FWalkEngine = this; }

TSpriteEngine::~TSpriteEngine() {
  // The children leave the dead queue as they go, so they are freed here, while the queue and
  // the counters are still whole, not by the base destructor.
  Clear();
  FDeadList.clear();
}

void TSpriteEngine::Dead() {
  while (!FDeadList.empty()) delete FDeadList.back();
}

void TSpriteEngine::Draw() {
  FDrawCount = 0;
  TSprite::Draw();
}
