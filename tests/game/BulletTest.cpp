// Bullets: their fall, when they leave, and when they hit the hero.
#include <vector>

#include "GameTestSupport.h"
#include "game/UBullet.h"

namespace {

class BulletTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    GameMode = 3;
    engine = form->DXSpriteEngine1->Engine();
  }
  TBulletSprite* Launch(std::uint8_t Kind, double VX, double VY, double X, double Y) {
    auto* b = new TBulletSprite(engine);
    b->Launch(Kind, MakeVector(VX, VY), X, Y);
    return b;
  }
  TSpriteEngine* engine = nullptr;
};

TEST_F(BulletTest, AnOrdinaryBulletRisesFallsAndLeavesOnItsFortiethFrame) {
  HeroSprite->Free();  // nothing to hit
  TBulletSprite* b = Launch(1, 0, -6, 100, 0);
  EXPECT_EQ(b->Width, 100);
  EXPECT_EQ(b->Height, 100);
  EXPECT_EQ(b->Z(), 1);
  EXPECT_FALSE(b->Collisioned);
  std::vector<double> ys;
  int frame = 0;
  while (!b->Dying() && frame < 100) {
    b->Move(1);
    ++frame;
    if (ys.size() < 7) ys.push_back(b->Y);
  }
  EXPECT_EQ(ys, (std::vector<double>{-5, -9, -12, -14, -15, -15, -14}));
  EXPECT_EQ(frame, 40);
  EXPECT_EQ(b->Y, 580);
  EXPECT_EQ(b->X, 100);
}

TEST_F(BulletTest, AGiantBulletCoversTheFloorAndLeavesOnItsFortyNinthFrame) {
  HeroSprite->Free();
  TBulletSprite* b = Launch(2, 0, 0, 50, -350);
  EXPECT_EQ(b->Width, 412);
  EXPECT_EQ(b->Height, 412);
  int frame = 0, firstBelowTop = 0;
  while (!b->Dying() && frame < 100) {
    b->Move(1);
    ++frame;
    if (firstBelowTop == 0 && b->Y > 0) {
      firstBelowTop = frame;
      EXPECT_EQ(b->Y, 1);
    }
  }
  EXPECT_EQ(firstBelowTop, 26);
  EXPECT_EQ(frame, 49);
  EXPECT_EQ(b->Y, 875);
}

TEST_F(BulletTest, AHitTakes40ThroughTheGaugeAndStartsBlinking) {
  // The hero's centre at (250, 300); a bullet box of 100 against the hero's 32: a hit needs the
  // centres closer than 66 on both axes.
  THeroSprite* hero = HeroSprite;
  struct Case {
    double power, after;
  };
  for (const Case& c : {Case{200, 160}, Case{300, 244}, Case{50, 46}, Case{30, 0}}) {
    hero->X = 250;
    hero->Y = 300;
    hero->Power = c.power;
    hero->Blink = 0;
    hero->Action = 0;
    // After its first move (gravity 1) the bullet's centre is at (250, 300).
    TBulletSprite* b = Launch(1, 0, -1, 200, 250);
    b->Move(1);
    EXPECT_NEAR(hero->Power, c.after, 1e-9) << c.power;
    EXPECT_EQ(hero->Blink, 15);
    // Blinking keeps the same bullet from hitting again.
    hero->Power = c.power;
    b->Move(1);
    EXPECT_EQ(hero->Power, c.power);
    b->Dead();
    engine->Dead();
  }
}

TEST_F(BulletTest, TouchingBoxesDashingAndBlinkingHeroesAreNotHit) {
  THeroSprite* hero = HeroSprite;
  hero->Power = 200;
  auto hitAt = [&](double dx, double dy) {
    hero->X = 250;
    hero->Y = 300;
    hero->Blink = 0;
    hero->Power = 200;
    // The bullet's centre ends at (250 + dx, 300 + dy) after one move.
    TBulletSprite* b = Launch(1, 0, -1, 200 + dx, 250 + dy);
    b->Move(1);
    b->Dead();
    engine->Dead();
    return hero->Power != 200;
  };
  EXPECT_TRUE(hitAt(65, 0));
  EXPECT_FALSE(hitAt(66, 0));
  EXPECT_TRUE(hitAt(-65.5, 65.5));
  EXPECT_FALSE(hitAt(0, -66));
  EXPECT_FALSE(hitAt(66, 66));

  hero->Action = 1;
  EXPECT_FALSE(hitAt(0, 0));
  hero->Action = 0;
  hero->X = 250;
  hero->Y = 300;
  hero->Blink = 1;
  TBulletSprite* b = Launch(1, 0, -1, 200, 250);
  b->Move(1);
  EXPECT_EQ(hero->Power, 200);
  EXPECT_EQ(hero->Blink, 1);
}

TEST_F(BulletTest, BulletsLeaveTheEngineWhenItFreesTheDead) {
  Launch(1, 0, -6, 0, 0);
  Launch(1, 0, -6, 400, 0);
  Launch(2, 0, 0, 50, -350);
  HeroSprite->Free();
  for (int frame = 0; frame < 60; ++frame) {
    engine->Move(1);
    engine->Dead();
  }
  EXPECT_EQ(engine->Count(), 0);
}

}  // namespace
