// The sprite tree without pictures: order, walks, the dead queue and collision by bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/graphics/DXSprite.h"

namespace {

// An engine with a drawing area but no surface, for the tree logic alone.
class TAreaEngine : public TSpriteEngine {
 public:
  explicit TAreaEngine(int W = 512, int H = 448) : TSpriteEngine(nullptr) {
    FSurfaceRect = TRect{0, 0, W, H};
  }
};

// A sprite that logs what happens to it into a shared journal.
class TLogSprite : public TSprite {
 public:
  TLogSprite(TSprite* AParent, std::string AName, std::vector<std::string>* ALog)
      : TSprite(AParent), Name(std::move(AName)), Log(ALog) {
    Width = 10;
    Height = 10;
  }
  ~TLogSprite() override {
    if (Log != nullptr) Log->push_back("free " + Name);
  }
  std::string Name;
  std::vector<std::string>* Log;
  std::function<void(TLogSprite*)> MoveHook;
  std::function<void(TLogSprite*, TSprite*, bool&)> HitHook;

 protected:
  void DoDraw() override { Log->push_back("draw " + Name); }
  void DoMove(int MoveCount) override {
    Log->push_back("move " + Name);
    if (MoveHook) MoveHook(this);
  }
  void DoCollision(TSprite* Sprite, bool& Done) override {
    Log->push_back("hit " + Name + ">" + static_cast<TLogSprite*>(Sprite)->Name);
    if (HitHook) HitHook(this, Sprite, Done);
  }
};

std::vector<std::string> Names(const std::vector<TSprite*>& List) {
  std::vector<std::string> out;
  for (TSprite* s : List) out.push_back(static_cast<TLogSprite*>(s)->Name);
  return out;
}

using Strings = std::vector<std::string>;

TEST(SpriteTree, EqualZGoesBeforeItsEqualsAndSetZReinserts) {
  Strings log;
  TAreaEngine e;
  auto* a = new TLogSprite(&e, "A", &log);
  auto* b = new TLogSprite(&e, "B", &log);
  new TLogSprite(&e, "C", &log);
  EXPECT_EQ(Names(e.DrawList()), (Strings{"C", "B", "A"}));
  b->SetZ(1);
  EXPECT_EQ(Names(e.DrawList()), (Strings{"C", "A", "B"}));
  b->SetZ(0);
  EXPECT_EQ(Names(e.DrawList()), (Strings{"B", "C", "A"}));
  // The same value keeps the place among equals.
  a->SetZ(0);
  EXPECT_EQ(Names(e.DrawList()), (Strings{"B", "C", "A"}));
  // Far-apart values order correctly (a difference would overflow).
  a->SetZ(2147483647);
  b->SetZ(-2147483647 - 1);
  EXPECT_EQ(Names(e.DrawList()), (Strings{"B", "C", "A"}));
  e.Draw();
  EXPECT_EQ(log, (Strings{"draw B", "draw C", "draw A"}));
  EXPECT_EQ(e.DrawCount(), 3);
  // Creation order is unaffected by Z.
  EXPECT_EQ(static_cast<TLogSprite*>(e.Items(0))->Name, "A");
}

TEST(SpriteTree, DrawVisitsVisibleSubtreesOverTheirParents) {
  Strings log;
  TAreaEngine e;
  auto* p = new TLogSprite(&e, "P", &log);
  p->X = -100;  // off the surface: not drawn itself
  auto* c = new TLogSprite(p, "C", &log);
  c->X = 150;  // world x 50: on the surface
  auto* hidden = new TLogSprite(&e, "H", &log);
  new TLogSprite(hidden, "HC", &log);
  hidden->Visible = false;
  auto* flat = new TLogSprite(&e, "F", &log);
  flat->Width = 0;  // empty bounds are never drawn
  e.Draw();
  EXPECT_EQ(log, (Strings{"draw C"}));
  EXPECT_EQ(e.DrawCount(), 1);
  // Drawing through a TSprite reference does not zero the count.
  log.clear();
  static_cast<TSprite&>(e).Draw();
  EXPECT_EQ(e.DrawCount(), 2);
  EXPECT_DOUBLE_EQ(c->WorldX(), 50);
  (void)flat;
}

TEST(SpriteTree, BoundsRoundHalvesToEven) {
  TAreaEngine e;
  TSprite s(&e);
  s.Width = 4;
  s.Height = 4;
  const double xs[] = {0.5, 1.5, 2.5, -0.5, -1.5, 2.4999};
  const int want[] = {0, 2, 2, 0, -2, 2};
  for (int i = 0; i < 6; ++i) {
    s.X = xs[i];
    EXPECT_EQ(s.BoundsRect().Left, want[i]) << xs[i];
    EXPECT_EQ(s.BoundsRect().Right, want[i] + 4);
  }
  s.X = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(s.BoundsRect(), EInvalidOp);
  s.X = 1e300;
  EXPECT_THROW(s.BoundsRect(), EInvalidOp);
}

TEST(SpriteTree, MoveSkipsStoppedSubtreesAndNewcomers) {
  Strings log;
  TAreaEngine e;
  auto* a = new TLogSprite(&e, "A", &log);
  auto* ac = new TLogSprite(a, "AC", &log);
  ac->Moved = true;
  a->Moved = false;
  auto* b = new TLogSprite(&e, "B", &log);
  int spawned = 0;
  b->MoveHook = [&](TLogSprite* self) {
    // Appended to the engine's list during the walk: not moved in this pass.
    new TLogSprite(&e, "N" + std::to_string(spawned++), &log);
  };
  e.Move(1);
  EXPECT_EQ(log, (Strings{"move B"}));
  log.clear();
  b->MoveHook = nullptr;
  e.Move(1);
  EXPECT_EQ(log, (Strings{"move B", "move N0"}));
}

TEST(SpriteTree, OnMoveGetsACopyOfTheCount) {
  TAreaEngine e;
  TSprite parent(&e);
  auto* child = new TSprite(&parent);
  std::vector<int> seen;
  parent.OnMove = [&](TObject*, int& n) {
    seen.push_back(n);
    n = 99;
  };
  child->OnMove = [&](TObject*, int& n) { seen.push_back(n); };
  e.Move(3);
  EXPECT_EQ(seen, (std::vector<int>{3, 3}));
}

TEST(SpriteTree, DeadQueuesOnceAndFreesNewestFirst) {
  Strings log;
  auto* e = new TAreaEngine;
  auto* a = new TLogSprite(e, "A", &log);
  auto* b = new TLogSprite(e, "B", &log);
  auto* c = new TLogSprite(e, "C", &log);
  EXPECT_EQ(e->SpriteCount(), 3);
  a->Dead();
  b->Dead();
  c->Dead();
  a->Dead();
  EXPECT_EQ(e->DeadList().size(), 3u);
  EXPECT_TRUE(a->Dying());
  // A dying sprite is still moved and drawn until it is freed.
  e->Draw();
  EXPECT_EQ(e->DrawCount(), 3);
  log.clear();
  e->Dead();
  EXPECT_EQ(log, (Strings{"free C", "free B", "free A"}));
  EXPECT_EQ(e->Count(), 0);
  EXPECT_EQ(e->SpriteCount(), 0);
  EXPECT_TRUE(e->DrawList().empty());
  // The engine itself has no engine: its sprite-level Dead does nothing.
  static_cast<TSprite*>(e)->Dead();
  EXPECT_TRUE(e->DeadList().empty());
  delete e;
}

TEST(SpriteTree, QueuedDescendantsLeaveWithTheirParent) {
  Strings log;
  auto* e = new TAreaEngine;
  auto* p = new TLogSprite(e, "P", &log);
  auto* c = new TLogSprite(p, "C", &log);
  auto* g = new TLogSprite(c, "G", &log);
  g->Dead();
  p->Dead();  // queued after its grandchild: freed first, taking G with it
  c->Dead();
  e->Dead();
  EXPECT_EQ(log, (Strings{"free C", "free G", "free P"}));
  EXPECT_EQ(e->SpriteCount(), 0);
  // An engine freed with sprites still queued frees them once.
  log.clear();
  auto* x = new TLogSprite(e, "X", &log);
  new TLogSprite(x, "Y", &log);
  x->Items(0)->Dead();
  x->Dead();
  delete e;
  EXPECT_EQ(log, (Strings{"free X", "free Y"}));  // a parent logs before its children go
}

// The hero's destructor leaves debris behind: sprites created on the engine while Dead runs.
class TDebrisLeaver : public TSprite {
 public:
  TDebrisLeaver(TSprite* AParent, int* Made) : TSprite(AParent), FMade(Made) {}
  ~TDebrisLeaver() override {
    for (int i = 0; i < 4; ++i) new TSprite(Engine());
    *FMade += 4;
  }

 private:
  int* FMade;
};

TEST(SpriteTree, SpritesCreatedByADestructorInsideDeadSurvive) {
  TAreaEngine e;
  int made = 0;
  auto* hero = new TDebrisLeaver(&e, &made);
  auto* other = new TSprite(&e);
  other->Dead();
  hero->Dead();
  e.Dead();
  EXPECT_EQ(made, 4);
  EXPECT_EQ(e.Count(), 4);
  EXPECT_EQ(e.SpriteCount(), 4);
  EXPECT_TRUE(e.DeadList().empty());
}

TEST(SpriteTree, ItemsOutOfRangeRaiseByWhetherThereAreChildren) {
  TAreaEngine e;
  try {
    e.Items(0);
    FAIL();
  } catch (const ESpriteError& err) {
    EXPECT_STREQ(err.what(), "Index of the list exceeds the range. (0)");
  }
  new TSprite(&e);
  EXPECT_THROW(e.Items(1), EListError);
  EXPECT_THROW(e.Items(-1), EListError);
  EXPECT_NO_THROW(e.Items(0));
}

TEST(SpriteTree, AssignCopiesTheCommonPartOnly) {
  TAreaEngine e;
  TSprite a(&e), b(&e), c(&e);
  a.X = 3;
  a.Y = 4;
  a.Width = 5;
  a.Height = 6;
  a.Visible = false;
  a.Caption = "cap";
  a.Tag = 7;
  a.SetZ(9);
  int fired = 0;
  a.OnDraw = [&](TObject*) { ++fired; };
  c.Assign(&a);
  EXPECT_EQ(c.X, 3);
  EXPECT_EQ(c.Height, 6);
  EXPECT_FALSE(c.Visible);
  EXPECT_EQ(c.Z(), 9);
  EXPECT_EQ(c.Caption, "");
  EXPECT_EQ(c.Tag, 0);
  // Z was copied as a value: c keeps its old place in the draw list.
  EXPECT_EQ(e.DrawList()[0], &c);
  ASSERT_TRUE(static_cast<bool>(c.OnDraw));
  TPersistent plain;
  EXPECT_THROW(b.Assign(&plain), EConvertError);
}

TEST(SpriteTree, FloatModAndIntMod) {
  EXPECT_DOUBLE_EQ(FloatMod(8, 3), 2);
  EXPECT_DOUBLE_EQ(FloatMod(7, 3), 1);
  EXPECT_DOUBLE_EQ(FloatMod(-0.5, 3), 2.5);
  EXPECT_DOUBLE_EQ(FloatMod(5.25, 0), 5.25);
  EXPECT_DOUBLE_EQ(FloatMod(2.0, 2), 0);
  EXPECT_DOUBLE_EQ(FloatMod(1.25, 2), 1.25);
  EXPECT_EQ(IntMod(-40, 544), 504);
  EXPECT_EQ(IntMod(520, 544), 520);
  EXPECT_EQ(IntMod(-544, 544), 0);
  EXPECT_EQ(IntMod(7, 0), 7);
  EXPECT_EQ(IntMod(-2147483647 - 1, -1), 0);
}

// --- collision walk -------------------------------------------------------------------------

struct CollisionScene {
  Strings log;
  TAreaEngine e;
  TLogSprite* src;
  TLogSprite* t1;
  TLogSprite* t1c;
  TLogSprite* t2;
  TLogSprite* srcChild;
  CollisionScene() {
    src = new TLogSprite(&e, "S", &log);
    srcChild = new TLogSprite(src, "SC", &log);
    t1 = new TLogSprite(&e, "T1", &log);
    t1c = new TLogSprite(t1, "T1C", &log);
    t1c->X = 0;  // world 0: overlaps the source
    t2 = new TLogSprite(&e, "T2", &log);
    auto* far = new TLogSprite(&e, "FAR", &log);
    far->X = 300;
  }
};

TEST(SpriteCollision, WalkTestsEveryOverlappingNodeButTheSource) {
  CollisionScene s;
  EXPECT_EQ(s.src->Collision(), 4);
  EXPECT_EQ(s.log, (Strings{"hit S>SC", "hit S>T1", "hit S>T1C", "hit S>T2"}));
  EXPECT_EQ(s.e.CollisionSprite(), s.src);
  EXPECT_EQ(s.e.CollisionRect(), (TRect{0, 0, 10, 10}));
}

TEST(SpriteCollision, DoneStopsOnlyTheDescent) {
  CollisionScene s;
  s.src->HitHook = [](TLogSprite*, TSprite*, bool& Done) { Done = true; };
  // After the first hit (SC) the children of later nodes (T1C) are skipped; siblings are not.
  EXPECT_EQ(s.src->Collision(), 3);
  EXPECT_EQ(s.log, (Strings{"hit S>SC", "hit S>T1", "hit S>T2"}));
  EXPECT_TRUE(s.e.CollisionDone());
}

TEST(SpriteCollision, ASourceThatDiesStopsTheDescentToo) {
  CollisionScene s;
  s.src->HitHook = [](TLogSprite* self, TSprite*, bool&) { self->Dead(); };
  EXPECT_EQ(s.src->Collision(), 3);
  // A dying sprite cannot start a walk but is still hit by others.
  s.log.clear();
  EXPECT_EQ(s.src->Collision(), 0);
  EXPECT_TRUE(s.log.empty());
  EXPECT_EQ(s.t2->Collision(), 4);
}

TEST(SpriteCollision, SpritesOutOfTheWalk) {
  CollisionScene s;
  s.t1->Collisioned = false;  // hides T1C too
  EXPECT_EQ(s.src->Collision(), 2);
  s.src->Collisioned = false;
  EXPECT_EQ(s.src->Collision(), 0);
  TSprite orphan(nullptr);
  EXPECT_EQ(orphan.Collision(), 0);
  // Touching edges do not overlap.
  s.src->Collisioned = true;
  s.t2->X = 10;
  s.log.clear();
  s.src->Collision();
  EXPECT_EQ(s.log, (Strings{"hit S>SC"}));
}

// Sprites that spawn and kill others inside Move and inside their collision handler: the walks
// run over stable lists and everything is freed exactly once (checked under the sanitizers).
TEST(SpriteTree, SpawningAndKillingInsideWalksIsSafe) {
  Strings log;
  TAreaEngine e;
  int serial = 0;
  std::function<void(TLogSprite*)> attach;
  attach = [&](TLogSprite* s) {
    s->MoveHook = [&](TLogSprite* self) {
      if (self->Dying()) return;
      // Every sprite spawns a child and a sibling, tests itself and may die.
      auto* kid = new TLogSprite(self, "k" + std::to_string(serial++), nullptr);
      kid->Log = &log;
      attach(kid);
      if (serial % 3 == 0) {
        auto* sib = new TLogSprite(&e, "s" + std::to_string(serial++), &log);
        attach(sib);
      }
      self->Collision();
      if (serial % 5 == 0) self->Dead();
    };
    s->HitHook = [&](TLogSprite* self, TSprite* other, bool& Done) {
      other->Dead();
      new TLogSprite(self, "h" + std::to_string(serial++), &log);
    };
  };
  for (int i = 0; i < 3; ++i) attach(new TLogSprite(&e, "r" + std::to_string(i), &log));
  for (int frame = 0; frame < 12; ++frame) {
    e.Move(1);
    e.Draw();
    e.Dead();
    EXPECT_TRUE(e.DeadList().empty());
    EXPECT_FALSE(e.Walking());
    // Every live sprite is counted once.
    std::function<int(TSprite*)> count = [&](TSprite* s) {
      int n = s->Count();
      for (int i = 0; i < s->Count(); ++i) n += count(s->Items(i));
      return n;
    };
    ASSERT_EQ(count(&e), e.SpriteCount());
  }
}

}  // namespace
