// The hero frame by frame from scripted keys: gauge, gravity, floor, ceiling and walls, jumps,
// walking and the eight-way dash; its death, its debris and the note bursts.
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "GameTestSupport.h"

namespace {

class HeroTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    GameMode = 3;
    Running = false;
    hero = HeroSprite;
  }

  // The hero standing on the floor at X, at rest.
  void OnFloor(double X) {
    hero->X = X;
    hero->Y = 382;
    hero->Velocity = MakeVector(0, 0);
    hero->Airborne = false;
  }
  // The hero in the air at (X, Y), at rest.
  void InAir(double X, double Y) {
    hero->X = X;
    hero->Y = Y;
    hero->Velocity = MakeVector(0, 0);
    hero->Airborne = true;
  }
  // One frame with button 0 pressed afresh (released on the frame before).
  void DashFrame() {
    Release(SDL_SCANCODE_Z);
    form->PollInput();
    Press(SDL_SCANCODE_Z);
    HeroFrame();
  }
  // Buffers of the named sound that are playing.
  int Playing(const std::string& Name) {
    int n = 0;
    for (TDirectSoundBuffer* b : form->DXWaveList1->Items()->Find(Name)->BufferList())
      n += b->Playing() ? 1 : 0;
    return n;
  }

  THeroSprite* hero = nullptr;
};

TEST_F(HeroTest, SetPowerInItsThreeRegimes) {
  struct Case {
    double from, request, result;
  };
  const Case cases[] = {
      {50, 40, 49},                      // below 70 a drop takes a tenth
      {50, -20, 0},                      // a request below 0 empties the gauge
      {300, 250, 230},                   // above 280 a drop is amplified
      {100, 60, 60},                     // in between the request stands
      {400, 500, 404},                   // rises stop at 404
      {10, 30, 30},    {300, 10, -106},  // amplified drops are floored only by a negative request
  };
  for (const Case& c : cases) {
    hero->Power = c.from;
    hero->SetPower(c.request);
    EXPECT_NEAR(hero->Power, c.result, 1e-9) << c.from << " -> " << c.request;
  }
  // From the reset value, 6.5 a frame fills the gauge on the 61st frame.
  hero->Reset();
  int frames = 0;
  while (hero->Power < 404 && frames < 100) {
    hero->SetPower(hero->Power + 6.5);
    ++frames;
  }
  EXPECT_EQ(frames, 61);
  EXPECT_EQ(hero->Power, 404);
}

TEST_F(HeroTest, TheGaugeDrainsOnlyWhileTheStageRuns) {
  OnFloor(256);
  struct Case {
    double from, after;
  };
  Running = true;
  for (const Case& c : {Case{200, 197.75}, Case{300, 296.85}, Case{50, 49.775}}) {
    hero->Power = c.from;
    HeroFrame();
    EXPECT_NEAR(hero->Power, c.after, 1e-9) << c.from;
  }
  Running = false;
  hero->Power = 200;
  hero->Blink = 3;
  HeroFrame();
  EXPECT_EQ(hero->Power, 200);
  EXPECT_EQ(hero->Blink, 3);

  // Blinking counts down while running; the hero is hidden on odd counts.
  Running = true;
  HeroFrame();
  EXPECT_EQ(hero->Blink, 2);
  EXPECT_TRUE(hero->Visible);
  HeroFrame();
  EXPECT_EQ(hero->Blink, 1);
  EXPECT_FALSE(hero->Visible);
  HeroFrame();
  EXPECT_EQ(hero->Blink, 0);
  EXPECT_TRUE(hero->Visible);
}

TEST_F(HeroTest, ScriptedRunPositionAndGaugeFrameByFrame) {
  OnFloor(100);
  hero->Power = 300;
  Running = true;
  Press(SDL_SCANCODE_RIGHT);
  struct Expect {
    double x, power;
  };
  // Above 280 the drain of 2.25 is amplified to 3.15; from 277.95 on it is 2.25 again.
  const Expect frames[] = {{101, 296.85},   {102.5, 293.7}, {104.5, 290.55},
                           {107, 287.4},    {110, 284.25},  {113.5, 281.1},
                           {117.5, 277.95}, {122, 275.7},   {127, 273.45}};
  for (const Expect& e : frames) {
    HeroFrame();
    EXPECT_NEAR(hero->X, e.x, 1e-9);
    EXPECT_EQ(hero->Y, 382);
    EXPECT_NEAR(hero->Power, e.power, 1e-9);
  }
}

TEST_F(HeroTest, ResetDropsTheHeroOntoTheFloor) {
  EXPECT_EQ(hero->X, 256);
  EXPECT_EQ(hero->Y, 366);
  EXPECT_TRUE(hero->Airborne);
  EXPECT_EQ(hero->Power, 10);
  EXPECT_EQ(hero->Width, 32);
  EXPECT_EQ(hero->Height, 32);
  EXPECT_EQ(hero->Z(), 2);
  const double expected[] = {367.2, 369.6, 373.2, 378.0, 382};
  for (double y : expected) {
    HeroFrame();
    EXPECT_NEAR(hero->Y, y, 1e-9);
  }
  EXPECT_FALSE(hero->Airborne);
  EXPECT_EQ(hero->Velocity.Y, 0);
  HeroFrame();
  EXPECT_EQ(hero->Y, 382);
}

TEST_F(HeroTest, AJumpRises212PixelsAndLandsOnItsThirtyEighthFrame) {
  OnFloor(256);
  Press(SDL_SCANCODE_UP);
  HeroFrame();
  Release(SDL_SCANCODE_UP);
  EXPECT_TRUE(hero->Airborne);
  EXPECT_NEAR(hero->Y, 360, 1e-9);
  double top = hero->Y;
  int topFrame = 1, frame = 1;
  while (hero->Airborne && frame < 100) {
    HeroFrame();
    ++frame;
    if (hero->Y < top) top = hero->Y, topFrame = frame;
  }
  EXPECT_NEAR(top, 169.2, 1e-9);
  EXPECT_EQ(topFrame, 19);
  EXPECT_EQ(frame, 38);
  EXPECT_EQ(hero->Y, 382);
}

TEST_F(HeroTest, WalkingAcceleratesToEightAndKeepsItsSpeedUntilAWall) {
  OnFloor(256);
  Press(SDL_SCANCODE_RIGHT);
  const double speeds[] = {1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8};
  double x = 256;
  for (double v : speeds) {
    HeroFrame();
    x += v;
    EXPECT_EQ(hero->Velocity.X, v);
    EXPECT_NEAR(hero->X, x, 1e-9);
  }
  // No friction: released, the hero slides on at 8.
  Release(SDL_SCANCODE_RIGHT);
  HeroFrame();
  EXPECT_EQ(hero->Velocity.X, 8);
  // Reversing the stick brakes by a whole unit a frame.
  Press(SDL_SCANCODE_LEFT);
  HeroFrame();
  EXPECT_EQ(hero->Velocity.X, 7);
  Release(SDL_SCANCODE_LEFT);
  for (int i = 0; i < 100; ++i) HeroFrame();
  EXPECT_EQ(hero->X, 480);
  EXPECT_EQ(hero->Velocity.X, 0);
}

TEST_F(HeroTest, AStraightDashLosesTwoAFrameAndEnds) {
  OnFloor(40);
  Press(SDL_SCANCODE_RIGHT);
  DashFrame();
  EXPECT_EQ(hero->Action, 1);
  EXPECT_EQ(hero->AnimPos, 0);  // the pose follows on the next move
  std::vector<double> steps{hero->X - 40};
  for (int i = 0; i < 16; ++i) {
    const double before = hero->X;
    HeroFrame();
    EXPECT_EQ(hero->AnimPos, 1);
    steps.push_back(hero->X - before);
  }
  const std::vector<double> expected{32, 30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0};
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(hero->Action, 1);
  hero->Blink = 7;
  HeroFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->Blink, 0);  // the end of a dash ends blinking too
  // On the floor the dash count is cleared every frame.
  EXPECT_EQ(hero->DashCount, 0);
}

TEST_F(HeroTest, DiagonalDashesAndTheirFloorRules) {
  // In the air an up-right press flies at 32 * 0.7 on both axes.
  InAir(256, 200);
  Press(SDL_SCANCODE_RIGHT);
  Press(SDL_SCANCODE_UP);
  DashFrame();
  EXPECT_EQ(hero->Action, 5);
  EXPECT_NEAR(hero->Velocity.X, 22.4, 1e-9);
  EXPECT_NEAR(hero->Velocity.Y, -22.4, 1e-9);
  Release(SDL_SCANCODE_UP);

  // Down-right in the air.
  InAir(256, 100);
  hero->Action = 0;
  Press(SDL_SCANCODE_DOWN);
  DashFrame();
  EXPECT_EQ(hero->Action, 7);
  EXPECT_GT(hero->Velocity.X, 0);
  EXPECT_GT(hero->Velocity.Y, 0);

  // Down-left on the floor is no dash: a one-frame lunge at the dash speed along the floor.
  OnFloor(256);
  hero->Action = 0;
  hero->DashCount = 0;
  Release(SDL_SCANCODE_RIGHT);
  Press(SDL_SCANCODE_LEFT);
  DashFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->Velocity.X, -32);
  EXPECT_NEAR(hero->X, 224, 1e-9);
  HeroFrame();
  EXPECT_EQ(hero->Velocity.X, -8);

  // Up-left from the floor dashes, and the jump fires in the same frame.
  OnFloor(256);
  hero->DashCount = 0;
  Release(SDL_SCANCODE_DOWN);
  Press(SDL_SCANCODE_UP);
  DashFrame();
  EXPECT_EQ(hero->Action, 6);
  EXPECT_NEAR(hero->Velocity.X, -22.4, 1e-9);
  EXPECT_EQ(hero->Velocity.Y, -22);
  EXPECT_TRUE(hero->Airborne);
}

TEST_F(HeroTest, StraightDownOnTheFloorCountsAPressButStartsNothing) {
  OnFloor(256);
  Press(SDL_SCANCODE_DOWN);
  DashFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->DashCount, 1);
  HeroFrame();
  EXPECT_EQ(hero->DashCount, 0);

  // In the air, straight up and straight down dash; the straight-up dash feels gravity.
  InAir(256, 200);
  DashFrame();
  EXPECT_EQ(hero->Action, 4);
  EXPECT_EQ(hero->Velocity.Y, 32);
  Release(SDL_SCANCODE_DOWN);
  Press(SDL_SCANCODE_UP);
  InAir(256, 300);
  hero->Action = 0;
  DashFrame();
  EXPECT_EQ(hero->Action, 3);
  const double speed = hero->Velocity.Y;
  HeroFrame();
  EXPECT_NEAR(hero->Velocity.Y, -(std::abs(speed + 1.2) - 2), 1e-9);
}

TEST_F(HeroTest, TenDashesPerAirtime) {
  InAir(256, 100);
  Press(SDL_SCANCODE_RIGHT);
  std::vector<double> speeds;
  for (int i = 0; i < 10; ++i) {
    hero->X = 100;
    hero->Y = 100;
    hero->Action = 0;
    hero->Velocity = MakeVector(0, 0);
    DashFrame();
    ASSERT_EQ(hero->Action, 1) << i;
    speeds.push_back(hero->Velocity.X);
  }
  EXPECT_EQ(speeds, (std::vector<double>{32, 32, 33, 33, 34, 34, 35, 35, 36, 36}));
  EXPECT_EQ(hero->DashCount, 10);
  // The eleventh press in the same airtime stops the hero dead in the air.
  hero->Y = 100;
  DashFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->Velocity.X, 0);
  EXPECT_EQ(hero->Velocity.Y, 0);
  EXPECT_EQ(hero->DashCount, 10);
}

TEST_F(HeroTest, ARedashStartsInsideTheDecayStep) {
  InAir(100, 100);
  hero->DashCount = 8;
  Press(SDL_SCANCODE_RIGHT);
  DashFrame();
  EXPECT_NEAR(hero->X, 136, 1e-9);
  HeroFrame();
  EXPECT_NEAR(hero->X, 170, 1e-9);
  hero->X = 100;
  DashFrame();  // the tenth dash, at 36, loses 2 at once
  EXPECT_EQ(hero->Action, 1);
  EXPECT_EQ(hero->DashCount, 10);
  EXPECT_NEAR(hero->X, 134, 1e-9);
}

TEST_F(HeroTest, APressWithTheStickCentredStopsADashAndCountsTwice) {
  InAir(100, 100);
  Press(SDL_SCANCODE_RIGHT);
  DashFrame();
  EXPECT_EQ(hero->DashCount, 1);
  Release(SDL_SCANCODE_RIGHT);
  HeroFrame();
  const double y = hero->Y;
  DashFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->DashCount, 3);
  EXPECT_EQ(hero->Velocity.X, 0);
  EXPECT_EQ(hero->Velocity.Y, 0);
  EXPECT_EQ(hero->Y, y);
}

TEST_F(HeroTest, WallsCeilingAndFloorStopTheHero) {
  OnFloor(100);
  Press(SDL_SCANCODE_LEFT);
  DashFrame();
  EXPECT_NEAR(hero->X, 68, 1e-9);
  HeroFrame();
  EXPECT_NEAR(hero->X, 38, 1e-9);
  HeroFrame();
  EXPECT_EQ(hero->X, 32);
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->Velocity.X, 0);
  Release(SDL_SCANCODE_LEFT);

  OnFloor(470);
  Press(SDL_SCANCODE_RIGHT);
  DashFrame();
  EXPECT_EQ(hero->X, 480);
  EXPECT_EQ(hero->Action, 0);
  Release(SDL_SCANCODE_RIGHT);

  // The ceiling bounces the hero down at half speed and ends an upward dash.
  InAir(256, 20);
  hero->Velocity = MakeVector(0, -10);
  HeroFrame();
  EXPECT_NEAR(hero->Y, 20.4, 1e-9);
  EXPECT_NEAR(hero->Velocity.Y, 4.4, 1e-9);
  InAir(256, 30);
  Press(SDL_SCANCODE_UP);
  DashFrame();
  EXPECT_EQ(hero->Action, 3);
  HeroFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_GT(hero->Velocity.Y, 0);

  // A downward dash ends on the floor; landing clears the combo.
  Release(SDL_SCANCODE_UP);
  Press(SDL_SCANCODE_DOWN);
  InAir(256, 340);
  hero->DashCount = 0;
  hero->Combo = 5;
  DashFrame();
  EXPECT_EQ(hero->Action, 4);
  HeroFrame();
  EXPECT_EQ(hero->Action, 0);
  EXPECT_EQ(hero->Y, 382);
  EXPECT_EQ(hero->Combo, 0);
}

TEST_F(HeroTest, TheBoundsAreThePictureTopLeftQuarterRoundedHalfToEven) {
  hero->X = 100.5;
  hero->Y = 200.5;
  EXPECT_EQ(hero->BoundsRect(), Rect(84, 184, 100, 200));
  hero->X = 101.5;
  hero->Y = 99.5;
  EXPECT_EQ(hero->BoundsRect(), Rect(86, 84, 102, 100));
}

TEST_F(HeroTest, DeathOnThePlayScreenBurstsIntoSixPiecesOfDebris) {
  OnFloor(200);
  Running = true;
  hero->Power = 0.2;
  HeroFrame();
  EXPECT_TRUE(hero->Dying());
  TSpriteEngine* engine = form->DXSpriteEngine1->Engine();
  engine->Dead();
  EXPECT_EQ(HeroSprite, nullptr);
  ASSERT_EQ(engine->Count(), 6);
  for (int i = 0; i < 6; ++i) {
    auto* ruin = dynamic_cast<TRuinSprite*>(engine->Items(i));
    ASSERT_NE(ruin, nullptr);
    const double angle = i * std::numbers::pi / 3;
    EXPECT_NEAR(ruin->Velocity.X, 3 * std::cos(angle), 1e-12) << i;
    EXPECT_NEAR(ruin->Velocity.Y, 3 * std::sin(angle), 1e-12) << i;
    EXPECT_EQ(ruin->X, 200);
    EXPECT_EQ(ruin->Y, 382);
    EXPECT_EQ(ruin->Kind, 1);
    EXPECT_EQ(ruin->Z(), 3);
    EXPECT_FALSE(ruin->Collisioned);
    EXPECT_EQ(ruin->Width, 40);
    EXPECT_EQ(ruin->Height, 36);
  }
  EXPECT_EQ(Playing("End"), 1);
  // The debris fly straight for 51 frames and are gone after them.
  for (int frame = 1; frame <= 51; ++frame) {
    engine->Move(1);
    engine->Dead();
    ASSERT_EQ(engine->Count(), frame < 51 ? 6 : 0) << frame;
  }
}

TEST_F(HeroTest, OutsideTheStageSelectAndPlayTheHeroVanishesQuietly) {
  for (std::uint8_t mode : {1, 4, 5}) {
    GameMode = mode;
    HeroSprite->Free();
    EXPECT_EQ(HeroSprite, nullptr);
    EXPECT_EQ(form->DXSpriteEngine1->Engine()->Count(), 0) << int(mode);
    HeroSprite = new THeroSprite(form->DXSpriteEngine1->Engine());
  }
  EXPECT_EQ(Playing("End"), 0);
  GameMode = 2;
  HeroSprite->Free();
  EXPECT_EQ(form->DXSpriteEngine1->Engine()->Count(), 6);
}

TEST_F(HeroTest, NoteBurstsSoundTheComboDrumAndRefillTheGauge) {
  TSpriteEngine* engine = form->DXSpriteEngine1->Engine();
  struct Case {
    int combo;
    const char* sound;
    double refill;
  };
  const Case cases[] = {{0, "Bass", 10},    {2, "Bass", 10},     {3, "Snare", 17},
                        {8, "Snare", 17},   {9, "SmallHit", 25}, {15, "SmallHit", 25},
                        {16, "BigHit", 42}, {200, "BigHit", 42}};
  for (const Case& c : cases) {
    hero->Combo = static_cast<std::uint8_t>(c.combo);
    hero->Power = 100;
    const int before = Playing(c.sound);
    auto* note = new TRuinSprite(engine);
    note->SetNote(2);
    EXPECT_EQ(hero->Power, 100 + c.refill) << c.combo;
    EXPECT_EQ(Playing(c.sound), before + 1) << c.combo;
  }
  // The pictures and their sizes.
  const int widths[] = {35, 18, 45, 35};
  for (int k = 2; k <= 5; ++k) {
    auto* note = new TRuinSprite(engine);
    note->SetNote(static_cast<std::uint8_t>(k));
    EXPECT_EQ(note->Kind, k);
    EXPECT_EQ(note->Image()->Name(), "Note" + std::to_string(k - 1));
    EXPECT_EQ(note->Width, widths[k - 2]);
    EXPECT_EQ(note->Height, 48);
  }
  // Outside play a burst only changes its picture.
  GameMode = 4;
  hero->Power = 100;
  auto* quiet = new TRuinSprite(engine);
  quiet->SetNote(3);
  EXPECT_EQ(hero->Power, 100);

  // A note falls under gravity and goes once it is below the window.
  quiet->X = 0;
  quiet->Y = 400;
  quiet->Velocity = MakeVector(2, -3);
  quiet->Move(1);
  EXPECT_NEAR(quiet->Y, 398.5, 1e-12);
  EXPECT_EQ(quiet->X, 2);
  for (int i = 0; i < 20 && !quiet->Dying(); ++i) quiet->Move(1);
  EXPECT_TRUE(quiet->Dying());
  EXPECT_GT(quiet->Y - quiet->Velocity.Y, 448);
}

}  // namespace
