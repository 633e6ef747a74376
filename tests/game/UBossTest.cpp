// The bosses frame by frame against scripted charts and a scripted music position: beat jumps,
// walking and throwing, contacts with the hero, the decoys, the drain, the end-of-stage shake
// and the second boss's phases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "assets/StoredForms.h"
#include "game/GameState.h"
#include "game/Main.h"
#include "game/UBoss.h"
#include "game/UBullet.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"

namespace {

class BossTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &backend::HeadlessBackend::InstallFresh();
    ResetGameState();
    RegisterGameFormResource();
    Application->ResetTerminated();
    Application->CreateForm(Form1);
    Form1->SetVisible(true);
    Score->MusicPosition = [this] { return position; };
    GameMode = 3;
    HitCounter = 0;
    TrueSegment = 1;
  }
  void TearDown() override {
    GameMode = 1;  // no debris while the window goes
    Form1->Free();
    HeroSprite = nullptr;
  }

  TSpriteEngine* Engine() { return Form1->DXSpriteEngine1->Engine(); }

  // The stage's own boss picture, as the stage start loads it.
  void LoadBossPicture(const std::string& File) {
    TPictureCollectionItem* item = Form1->DXImageList1->Items()->Find("Boss");
    item->Picture()->LoadFromFile(AppDir + "Image/" + File);
    item->Restore();
  }
  TGrumbakSprite* MakeGrumbak() {
    LoadBossPicture("Grumbak.bmp");
    return new TGrumbakSprite(Engine());
  }
  std::vector<TStakkoSprite*> MakeStakko() {
    LoadBossPicture("Stakko.bmp");
    std::vector<TStakkoSprite*> s;
    for (std::uint8_t i = 1; i <= 3; ++i) {
      s.push_back(new TStakkoSprite(Engine()));
      s.back()->SetSegment(i);
    }
    return s;
  }

  // The sentinel and then the notes, as a loaded chart holds them (already in time order).
  void Chart(std::initializer_list<std::pair<int, int>> Notes) {
    Score->ClearNotes();
    Score->Add(new TNote{0, 1});
    for (auto [t, k] : Notes) Score->Add(new TNote{t, static_cast<std::uint8_t>(k)});
    Score->Reset();
  }
  void At(int Ms) {
    position = Ms;
    Score->Update();
  }

  template <class T>
  std::vector<T*> SpritesOf() {
    std::vector<T*> out;
    for (int i = 0; i < Engine()->Count(); ++i)
      if (auto* s = dynamic_cast<T*>(Engine()->Items(i))) out.push_back(s);
    return out;
  }
  // Playings of a named sound that are under way (the virtual clock stands still meanwhile).
  int Playing(const std::string& Name) {
    TWaveCollectionItem* w = Form1->DXWaveList1->Items()->Find(Name);
    int n = 0;
    for (TDirectSoundBuffer* b : w->BufferList())
      if (b->Playing()) ++n;
    return n;
  }
  void StopSounds() {
    for (const char* n : {"Bass", "SmallHit", "BigHit", "Snare", "End"})
      Form1->DXWaveList1->Items()->Find(n)->Stop();
  }
  // The hero placed with its centre on a point of the boss's body.
  void HeroOn(TEnemySprite* Boss) {
    HeroSprite->X = Boss->X + Boss->Width / 2;
    HeroSprite->Y = Boss->Y + Boss->Height / 2;
  }

  backend::HeadlessBackend* hb = nullptr;
  int position = 0;
};

// --- Set-up and the beat jump --------------------------------------------------------------------

TEST_F(BossTest, BossTakesThePicturesBackgroundAndHalfItsWidth) {
  TGrumbakSprite* boss = MakeGrumbak();
  TPictureCollectionItem* item = Form1->DXImageList1->Items()->Find("Boss");
  TBitmap corner;
  corner.SetSize(1, 1);
  corner.Canvas()->Draw(0, 0, item->Picture()->Graphic());
  const TColor back = corner.Canvas()->Pixels(0, 0);
  EXPECT_EQ(BackColor, back);
  EXPECT_NE(BackColor, TColor(0x94E0));
  EXPECT_EQ(item->TransparentColor(), back);
  EXPECT_EQ(boss->Width, 192);
  EXPECT_EQ(boss->Height, 294);
  EXPECT_EQ(item->PatternCount(), 2);
  EXPECT_EQ(boss->X, 100);
  EXPECT_EQ(boss->Y, 0);
  EXPECT_EQ(boss->Velocity.X, 7);
  EXPECT_TRUE(boss->PixelCheck);
  EXPECT_TRUE(boss->Collisioned);
  EXPECT_EQ(boss->Z(), 0);
}

TEST_F(BossTest, JumpToBeatRidesAParabolaBetweenNotesOfOneKind) {
  TGrumbakSprite* boss = MakeGrumbak();
  const double ground = 448 - 294 - 50;
  Chart({{1000, 2}, {1300, 1}, {1600, 2}, {2000, 3}});
  At(1000);
  boss->JumpToBeat(2, 0.2);
  EXPECT_EQ(boss->Y, ground);
  At(1300);
  boss->JumpToBeat(2, 0.2);
  EXPECT_DOUBLE_EQ(boss->Y, ground - 120);
  At(1150);  // the tracker never goes back; the position alone moves the boss
  boss->JumpToBeat(2, 0.2);
  EXPECT_DOUBLE_EQ(boss->Y, ground - 0.2 * 4 * 150 * 450 / 600.0);
  At(1600);
  boss->JumpToBeat(2, 0.2);
  EXPECT_EQ(boss->Y, ground);
  // No kind-2 note ahead any more: on the ground.
  At(1700);
  boss->JumpToBeat(2, 0.2);
  EXPECT_EQ(boss->Y, ground);
  // None behind: a kind that has not come yet.
  Chart({{1000, 2}, {1500, 3}});
  At(500);
  boss->JumpToBeat(3, 0.2);
  EXPECT_EQ(boss->Y, ground);
}

TEST_F(BossTest, JumpToBeatBetweenTwoNotesAtOneMomentStaysOnTheGround) {
  TGrumbakSprite* boss = MakeGrumbak();
  const double ground = 448 - 294 - 50;
  Chart({{1000, 2}, {1000, 2}, {1500, 2}});
  // The first note at 1000 is behind, the second one ahead: no time between them.
  Score->CurrentIndex = 1;
  Score->NextIndex = 2;
  Score->Current = Score->GetNote(1);
  Score->Next = Score->GetNote(2);
  Score->Position = 1000;
  boss->Y = 0;
  boss->JumpToBeat(2, 0.2);
  EXPECT_EQ(boss->Y, ground);
  EXPECT_FALSE(std::isnan(boss->Y));
}

// --- Stage 1 ------------------------------------------------------------------------------------

TEST_F(BossTest, StageOneBossWalksFromWallToWallShowingItsDirection) {
  TGrumbakSprite* boss = MakeGrumbak();
  Chart({});
  At(0);
  const int right = 512 - 192;
  std::vector<double> xs;
  for (int i = 0; i < 120; ++i) {
    // The pattern shows the direction of the step; a turn at a wall shows from the next one.
    const bool rightward = boss->Velocity.X > 0;
    boss->Move(1);
    xs.push_back(boss->X);
    EXPECT_EQ(boss->AnimPos, rightward ? 0 : 1) << i;
    EXPECT_GE(boss->X, 0);
    EXPECT_LE(boss->X, right);
  }
  EXPECT_EQ(xs[0], 107);
  // It reaches the right wall after 31 steps (317 > 320 would come next), turns there, walks
  // left to 0 and turns again.
  EXPECT_EQ(xs[30], 317);
  EXPECT_EQ(xs[31], right);
  EXPECT_EQ(xs[32], right - 7);
  int turnsAtZero = 0;
  for (double x : xs) turnsAtZero += x == 0;
  EXPECT_EQ(turnsAtZero, 1);
}

TEST_F(BossTest, StageOneBossThrowsOnNotesAndNeverOnTheLastOne) {
  TGrumbakSprite* boss = MakeGrumbak();
  Chart({{100, 1}, {200, 1}, {300, 1}, {400, 1}, {500, 1}, {600, 4}, {700, 3}, {800, 2}, {900, 1}});
  std::vector<double> lanes;
  for (int t = 100; t <= 500; t += 100) {
    At(t);
    boss->Move(1);
    auto bullets = SpritesOf<TBulletSprite>();
    lanes.push_back(bullets.back()->X);
    EXPECT_EQ(bullets.back()->Y, 0);
    EXPECT_EQ(bullets.back()->Velocity.Y, -6);
    EXPECT_EQ(bullets.back()->Kind, 1);
  }
  EXPECT_EQ(lanes, (std::vector<double>{100, 200, 300, 400, 0}));
  EXPECT_GE(Playing("Snare"), 1);
  // Kind 4 with the lane counter coming to 1: two bullets, mirrored.
  std::size_t before = SpritesOf<TBulletSprite>().size();
  At(600);
  boss->Move(1);
  auto bullets = SpritesOf<TBulletSprite>();
  ASSERT_EQ(bullets.size(), before + 2);
  EXPECT_EQ(bullets[before]->X, 100);
  EXPECT_EQ(bullets[before + 1]->X, 312);
  // Kind 3: the giant bullet.
  At(700);
  boss->Move(1);
  bullets = SpritesOf<TBulletSprite>();
  ASSERT_EQ(bullets.size(), before + 3);
  EXPECT_EQ(bullets.back()->Kind, 2);
  EXPECT_EQ(bullets.back()->X, 50);
  EXPECT_EQ(bullets.back()->Y, -350);
  EXPECT_EQ(bullets.back()->Width, 412);
  // Kind 2 only sounds the bass.
  StopSounds();
  At(800);
  boss->Move(1);
  EXPECT_EQ(SpritesOf<TBulletSprite>().size(), before + 3);
  EXPECT_GE(Playing("Bass"), 1);
  // The chart's last note, a kind 1, throws nothing.
  At(900);
  boss->Move(1);
  EXPECT_EQ(SpritesOf<TBulletSprite>().size(), before + 3);
}

TEST_F(BossTest, EndNoteShakesHarderEveryFrameUntilTheMusicStops) {
  TGrumbakSprite* boss = MakeGrumbak();
  Chart({{100, 8}});
  At(100);
  // The music is closed here, so it is not playing: the boss goes on the first frame.
  boss->Move(1);
  EXPECT_TRUE(boss->Shaking);
  EXPECT_EQ(boss->ShakeCount, 10);
  EXPECT_TRUE(boss->Dying());
  EXPECT_EQ(boss->Velocity.X, 0);
  // Its shake accumulates into the position, one radian further each step.
  const int angle = ShakeAngle;
  const double x = boss->X, y = boss->Y;
  boss->Move(1);
  EXPECT_EQ(ShakeAngle, angle + 1);
  EXPECT_EQ(boss->ShakeCount, 14);
  EXPECT_DOUBLE_EQ(boss->X, x + 9 * 0.3 * std::cos(angle + 1.0));
  EXPECT_DOUBLE_EQ(boss->Y, y + 9 * 0.3 * std::sin(angle + 1.0));
}

TEST_F(BossTest, ShakeRunsOutOnItsOwn) {
  TGrumbakSprite* boss = MakeGrumbak();
  boss->Shaking = true;
  for (int i = 0; i < 4; ++i) boss->Shake();
  EXPECT_TRUE(boss->Shaking);
  boss->Shake();
  EXPECT_EQ(boss->ShakeCount, 0);
  EXPECT_FALSE(boss->Shaking);
}

// --- Contacts -----------------------------------------------------------------------------------

TEST_F(BossTest, WalkingIntoABossHurtsOnceUntilTheBlinkingStops) {
  TGrumbakSprite* boss = MakeGrumbak();
  HeroOn(boss);
  HeroSprite->Power = 200;
  HeroSprite->Combo = 4;
  EXPECT_EQ(boss->Collision(), 1);
  EXPECT_EQ(HeroSprite->Power, 150);
  EXPECT_EQ(HeroSprite->Combo, 0);
  EXPECT_EQ(HeroSprite->Blink, 20);
  boss->Collision();
  EXPECT_EQ(HeroSprite->Power, 150);
  // A beaten boss does no harm.
  HeroSprite->Blink = 0;
  boss->Shaking = true;
  boss->Collision();
  EXPECT_EQ(HeroSprite->Power, 150);
  EXPECT_EQ(HeroSprite->Blink, 0);
  // Nor does a boss the hero is not touching.
  boss->Shaking = false;
  HeroSprite->X = boss->X + boss->Width + 40;
  EXPECT_EQ(boss->Collision(), 0);
  EXPECT_EQ(HeroSprite->Power, 150);
}

TEST_F(BossTest, EveryThirdDashContactBurstsIntoANoteThatRefillsTheGauge) {
  TGrumbakSprite* boss = MakeGrumbak();
  HeroOn(boss);
  HeroSprite->Action = 1;
  HeroSprite->Velocity = MakeVector(30, 0);
  HeroSprite->Power = 100;
  StopSounds();
  boss->Collision();
  boss->Collision();
  EXPECT_TRUE(SpritesOf<TRuinSprite>().empty());
  EXPECT_EQ(HeroSprite->Power, 100);
  boss->Collision();
  auto notes = SpritesOf<TRuinSprite>();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(HitCounter, 3);
  EXPECT_EQ(HeroSprite->Combo, 1);
  // The first burst of a combo: the bass drum and 10 more in the gauge.
  EXPECT_EQ(HeroSprite->Power, 110);
  EXPECT_GE(Playing("Bass"), 1);
  EXPECT_GE(notes[0]->Kind, 2);
  EXPECT_LE(notes[0]->Kind, 5);
  // Kicked along the dash, upward, from the hero's place.
  EXPECT_EQ(notes[0]->Velocity.X, 3);
  EXPECT_LE(notes[0]->Velocity.Y, 0);
  EXPECT_GE(notes[0]->Velocity.Y, -24);
  EXPECT_EQ(notes[0]->X, HeroSprite->X);
  EXPECT_EQ(notes[0]->Y, HeroSprite->Y);
  // A hero at rest kicks the note straight up.
  HeroSprite->Velocity = MakeVector(0, 0);
  for (int i = 0; i < 3; ++i) boss->Collision();
  notes = SpritesOf<TRuinSprite>();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1]->Velocity.X, 0);
  EXPECT_EQ(HeroSprite->Combo, 2);
}

TEST_F(BossTest, DecoysWearDownAndComeBackWhenTheySettle) {
  auto segments = MakeStakko();
  TrueSegment = 1;
  TStakkoSprite* decoy = segments[1];
  for (TStakkoSprite* s : segments) s->Y = 100;
  // Only the decoy under the hero: move the others away.
  segments[0]->X = 0;
  segments[2]->X = 400;
  HeroOn(decoy);
  HeroSprite->Action = 2;
  StopSounds();
  decoy->Collision();
  EXPECT_EQ(decoy->HitCount, 1);
  EXPECT_EQ(Playing("Bass"), 1);
  for (int i = 2; i <= 5; ++i) decoy->Collision();
  EXPECT_EQ(Playing("Bass"), 1);
  decoy->Collision();  // the 6th
  EXPECT_EQ(Playing("Bass"), 2);
  for (int i = 7; i <= 40; ++i) decoy->Collision();
  EXPECT_TRUE(decoy->Collisioned);
  decoy->Collision();
  EXPECT_EQ(decoy->HitCount, 41);
  EXPECT_FALSE(decoy->Collisioned);
  EXPECT_EQ(decoy->AnimPos, 1);
  EXPECT_EQ(HitCounter, 0);  // decoy contacts never count toward note bursts
  // Knocked out, it is not hit any more; settled, it is live again and ignores the next contact.
  EXPECT_EQ(decoy->Collision(), 0);
  decoy->Settle();
  EXPECT_TRUE(decoy->Collisioned);
  EXPECT_EQ(decoy->HitCount, 0);
  decoy->Collision();
  EXPECT_EQ(decoy->HitCount, 0);
  // The true segment feeds the note bursts instead.
  HeroOn(segments[0]);
  for (int i = 0; i < 3; ++i) segments[0]->Collision();
  EXPECT_EQ(HitCounter, 3);
  EXPECT_EQ(SpritesOf<TRuinSprite>().size(), 1u);
}

TEST_F(BossTest, LiveSegmentsDrainTheGaugeWhileTheStageRuns) {
  auto segments = MakeStakko();
  Chart({});
  At(0);
  HeroSprite->X = 30;  // far from every segment
  HeroSprite->Y = 380;
  HeroSprite->Power = 200;
  Running = false;
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_EQ(HeroSprite->Power, 200);
  Running = true;
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_DOUBLE_EQ(HeroSprite->Power, 195.5);
  // Knocked-out decoys drain nothing; a blinking hero is spared.
  TrueSegment = 3;
  segments[0]->Collisioned = false;
  segments[1]->Collisioned = false;
  for (TStakkoSprite* s : segments) {
    s->Guard = false;
    s->Phase = 21;
  }
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_DOUBLE_EQ(HeroSprite->Power, 194);
  HeroSprite->Blink = 3;
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_DOUBLE_EQ(HeroSprite->Power, 194);
}

// --- Stage 2 ------------------------------------------------------------------------------------

TEST_F(BossTest, SegmentsStartTogetherAboveTheScreen) {
  TrueSegment = 2;
  auto segments = MakeStakko();
  for (TStakkoSprite* s : segments) {
    EXPECT_EQ(s->Width, 96);
    EXPECT_EQ(s->X, (512 - 96) / 2);
    EXPECT_EQ(s->Y, -96);
    EXPECT_EQ(s->Phase, 0);
    EXPECT_EQ(s->PixelCheck, s->Segment == 2);
  }
}

TEST_F(BossTest, SegmentsDropSpreadAndBounceOnTheChart) {
  auto segments = MakeStakko();
  Running = true;
  HeroSprite->Blink = 200;  // keep the gauge out of it
  Chart({{100, 7}, {5000, 2}, {5500, 2}, {6000, 2}, {6500, 1}, {9000, 7}});
  At(0);
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_EQ(segments[0]->Phase, 0);
  At(100);
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_EQ(segments[0]->Phase, 1);
  // They fall 10 pixels a frame to the floor and stop there.
  const double floor = 448 - 50 - 96;
  for (int i = 0; i < 60 && segments[0]->Phase == 1; ++i)
    for (TStakkoSprite* s : segments) s->Move(1);
  for (TStakkoSprite* s : segments) {
    EXPECT_EQ(s->Phase, 2);
    EXPECT_EQ(s->Y, floor);
  }
  // Spread to their lanes, 130 pixels apart.
  for (int i = 0; i < 30; ++i)
    for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_EQ(segments[0]->X, 208 - 130);
  EXPECT_EQ(segments[1]->X, 208);
  EXPECT_EQ(segments[2]->X, 208 + 130);
  // The first bass note sets them going at 2, 3 and 4 pixels a move.
  At(5000);
  for (TStakkoSprite* s : segments) s->Move(1);
  for (TStakkoSprite* s : segments) EXPECT_EQ(s->Phase, 3);
  EXPECT_EQ(segments[0]->Velocity.X, 2);
  EXPECT_EQ(segments[2]->Velocity.X, 4);
  // Bouncing between the walls while bass notes lie ahead, hopping to their beat.
  double lowest = floor, xmax = 0;
  bool turned = false;
  for (int t = 5000; t < 6000; t += 10) {
    At(t);
    for (TStakkoSprite* s : segments) s->Move(1);
    lowest = std::min(lowest, segments[2]->Y);
    xmax = std::max(xmax, segments[2]->X);
    turned = turned || segments[2]->Velocity.X < 0;
  }
  EXPECT_TRUE(turned);
  EXPECT_LE(xmax, 512 - 96 + 8);
  EXPECT_LT(lowest, floor - 50);  // segment 3 jumps 0.45 * 500 / 4 * ... above the floor
  // The notes ahead are no longer bass: back to the lanes, then the hops.
  At(6600);
  for (int i = 0; i < 100 && segments[0]->Phase == 3; ++i)
    for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_EQ(segments[0]->Phase, 4);
  EXPECT_EQ(segments[0]->X, 78);
}

TEST_F(BossTest, HoppingSegmentsTurnOnEveryNoteWithoutWalls) {
  auto segments = MakeStakko();
  TStakkoSprite* s = segments[0];
  s->Phase = 4;
  s->X = 5;
  s->Velocity = MakeVector(0, 0);
  Chart({{100, 3}, {200, 3}, {300, 3}, {400, 3}});
  At(100);
  s->Move(1);
  EXPECT_EQ(s->Velocity.X, 2);
  At(200);
  s->Move(1);
  EXPECT_EQ(s->Velocity.X, -2);
  At(250);
  s->Move(1);
  EXPECT_EQ(s->Velocity.X, -2);
  const double x = s->X;
  At(300);
  s->Move(1);
  EXPECT_EQ(s->Velocity.X, 2);
  At(310);
  s->Move(1);
  At(320);
  s->Move(1);
  EXPECT_EQ(s->X, x + 8);
  // Off the screen to the left is allowed while hopping.
  s->X = -20;
  s->Velocity.X = -2;
  At(330);
  s->Move(1);
  EXPECT_LT(s->X, -20);
}

TEST_F(BossTest, OrbitTurnsAroundACentreThatChasesTheHero) {
  auto segments = MakeStakko();
  for (TStakkoSprite* s : segments) {
    s->Phase = 8;
    s->X = 200;
    s->Y = 150;
  }
  Chart({{100, 7}, {200, 1}});
  At(100);
  for (TStakkoSprite* s : segments) s->Move(1);
  for (TStakkoSprite* s : segments) EXPECT_EQ(s->Phase, 9);
  EXPECT_EQ(OrbitCentreX, 200);
  EXPECT_EQ(OrbitCentreY, 200);
  EXPECT_EQ(OrbitAngle, 0);
  HeroSprite->X = 200;
  HeroSprite->Y = 600;  // the chased point is straight below the centre
  At(150);
  for (TStakkoSprite* s : segments) s->Move(1);
  EXPECT_NEAR(OrbitAngle, 0.12, 1e-12);
  EXPECT_NEAR(OrbitCentreX, 200, 1e-9);
  EXPECT_NEAR(OrbitCentreY, 204.5, 1e-9);
  // Each segment sits 100 pixels from the centre it saw, a third of a turn apart.
  const double a0 = std::numbers::pi / 12;
  EXPECT_NEAR(segments[0]->X, 200 + 100 * std::cos(a0), 1e-9);
  EXPECT_NEAR(segments[0]->Y, 200 + 100 * std::sin(a0), 1e-9);
  const double a1 = 2 * std::numbers::pi / 3 + std::numbers::pi / 12 + 0.04;
  EXPECT_NEAR(segments[1]->X, 200 + 100 * std::cos(a1), 1e-9);
  EXPECT_NEAR(segments[1]->Y, 201.5 + 100 * std::sin(a1), 1e-9);
}

TEST_F(BossTest, FlyingSegmentsBounceOffAllFourWalls) {
  auto segments = MakeStakko();
  TStakkoSprite* s = segments[2];
  s->Phase = 6;
  s->X = 100;
  s->Y = 5;
  s->Velocity = MakeVector(0, 0);
  Chart({});
  At(0);
  s->Move(1);
  // Segment 3 flies off at (1, -2), twice a frame.
  EXPECT_EQ(s->Velocity.X, 1);
  s->Move(1);
  s->Move(1);
  s->Move(1);
  EXPECT_GE(s->Y, -4);
  EXPECT_EQ(s->Velocity.Y, 2);
  s->Y = 448 - 50 - 96 + 1;
  s->Move(1);
  EXPECT_EQ(s->Velocity.Y, -2);
}

}  // namespace
