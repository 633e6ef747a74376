#include "game/UBoss.h"

#include <cmath>
#include <numbers>
#include <string>

#include "game/GameState.h"
#include "game/Main.h"
#include "game/UBullet.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/rtl/SysUtils.h"

std::uint8_t TrueSegment = 0;
int ShakeAngle = 0;
int HitCounter = 0;
double OrbitCentreX = 0;
double OrbitCentreY = 0;
double OrbitAngle = 0;

namespace {

void PlaySound(const std::string& Name) { Form1->DXWaveList1->Items()->Find(Name)->Play(false); }

TSpriteEngine* GameEngine() { return Form1->DXSpriteEngine1->Engine(); }

int ClientWidth() { return Form1->ClientWidth(); }
int ClientHeight() { return Form1->ClientHeight(); }

// The colour at the picture's top-left corner: the boss pictures are drawn on a plain
// background of that colour, which is both their transparent colour and the screen's.
TColor CornerColour(TPicture* Picture) {
  TGraphic* g = Picture->Graphic();
  if (g == nullptr || g->Width() <= 0 || g->Height() <= 0) return 0;
  TBitmap bmp;
  bmp.SetSize(1, 1);
  bmp.Canvas()->Draw(0, 0, g);
  return bmp.Canvas()->Pixels(0, 0);
}

bool NotePassed(std::uint8_t Kind) {
  return Score->Passed && Score->Current != nullptr && Score->Current->Kind == Kind;
}

// Counters that run for the whole program wrap instead of overflowing.
int Increment(int Value) { return static_cast<int>(static_cast<unsigned>(Value) + 1u); }

}  // namespace

// --- TEnemySprite -------------------------------------------------------------------------------

TEnemySprite::TEnemySprite(TSprite* AParent, int AAnimCount) : TImageSprite(AParent) {
  AnimCount = AAnimCount;
  Velocity = MakeVector(0, 0);
  ShakeCount = 5;
  TPictureCollectionItem* item = Form1->DXImageList1->Items()->Find("Boss");
  SetImage(item);
  // The screen is cleared in the boss picture's background from now on.
  const TColor back = CornerColour(item->Picture());
  item->SetTransparentColor(back);
  BackColor = back;
  // The patterns lie side by side: one per animation step.
  item->PatternWidth = item->Picture()->Width() / (AnimCount + 1);
  item->Restore();
  Width = item->Width();
  Height = item->Height();
  Collisioned = true;
  PixelCheck = true;
  Shaking = false;
}

TEnemySprite::~TEnemySprite() = default;

void TEnemySprite::DoMove(int MoveCount) {
  TImageSprite::DoMove(MoveCount);
  if (Shaking) Shake();
  X = X + Velocity.X;
  Y = Y + Velocity.Y;
  // The hero tests nothing itself: contact is found from the boss's side.
  Collision();
}

void TEnemySprite::Shake() {
  ShakeAngle = Increment(ShakeAngle);
  ShakeCount = ShakeCount - 1;
  X = X + ShakeCount * 0.3 * std::cos(static_cast<double>(ShakeAngle));
  Y = Y + ShakeCount * 0.3 * std::sin(static_cast<double>(ShakeAngle));
  if (ShakeCount < 1) Shaking = false;
}

void TEnemySprite::DoCollision(TSprite* Sprite, bool& Done) {
  TImageSprite::DoCollision(Sprite, Done);
  if (dynamic_cast<THeroSprite*>(Sprite) == nullptr) return;
  THeroSprite* hero = HeroSprite;
  if (hero == nullptr) return;

  if (hero->Action == 0) {
    // A hero that walks into a boss gets hurt, unless it is still blinking from the last hit or
    // the boss is already beaten.
    if (hero->Blink == 0 && !Shaking) {
      hero->Combo = 0;
      hero->SetPower(hero->Power - 50);
      hero->Blink = 20;
    }
    return;
  }

  if (auto* segment = dynamic_cast<TStakkoSprite*>(this);
      segment != nullptr && segment->Segment != TrueSegment) {
    // A decoy: dashing through it only wears it down until it drops out for a while.
    if (segment->Guard) return;
    segment->HitCount = Increment(segment->HitCount);
    if (segment->HitCount % 5 == 1) PlaySound("Bass");
    if (segment->HitCount > 40) {
      Collisioned = false;
      AnimPos = 1;
    }
    return;
  }

  // The real target: every third contact bursts into a falling note that refills the gauge.
  HitCounter = Increment(HitCounter);
  if (HitCounter % 3 != 0) return;
  hero->Combo = static_cast<std::uint8_t>(hero->Combo + 1);
  auto* note = new TRuinSprite(GameEngine());
  note->SetNote(static_cast<std::uint8_t>(Random(4) + 2));
  note->Velocity.X = 3 * NormalizeVector(hero->Velocity).X;
  note->Velocity.Y = -Random(25);
  note->X = hero->X;
  note->Y = hero->Y;
}

void TEnemySprite::JumpToBeat(std::uint8_t Kind, double Scale) {
  const int ground = ClientHeight() - Height - 50;
  const TNote* next = Score->FindKind(false, Kind);
  const TNote* prev = Score->FindKind(true, Kind);
  if (next == nullptr || prev == nullptr || next == prev) {
    Y = ground;
  } else {
    const std::int64_t e = static_cast<std::int64_t>(Score->Position) - prev->Time;
    const std::int64_t r = static_cast<std::int64_t>(next->Time) - Score->Position;
    const std::int64_t t = e + r;
    if (t <= 0) {
      // Two notes at the same moment leave no time to jump in.
      Y = ground;
    } else {
      const long double lt = static_cast<long double>(t);
      const long double q = std::sqrt(lt) * (2.0L * static_cast<long double>(e) / lt - 1.0L);
      const long double height = q * q - static_cast<long double>(e) - static_cast<long double>(r);
      Y = static_cast<double>(static_cast<long double>(ground) +
                              static_cast<long double>(Scale) * height);
    }
  }
  if (Y > ground) Y = ground;
}

void TEnemySprite::CheckStageEnd() {
  if (Score->Current == nullptr || Score->Current->Kind != 8) return;
  Shaking = true;
  Velocity = MakeVector(0, 0);
  ShakeCount = ShakeCount + 5;
  if (Form1->MediaPlayer1->Mode() != mpPlaying) Dead();
}

// --- TGrumbakSprite -----------------------------------------------------------------------------

TGrumbakSprite::TGrumbakSprite(TSprite* AParent) : TBossSprite(AParent, 1) {
  X = 100;
  Y = 0;
  Velocity.X = 7;
}

void TGrumbakSprite::Throw(std::uint8_t Kind, const TVector& V, double AX, double AY) {
  auto* bullet = new TBulletSprite(GameEngine());
  bullet->Launch(Kind, V, AX, AY);
}

void TGrumbakSprite::DoMove(int MoveCount) {
  TEnemySprite::DoMove(MoveCount);
  if (!Shaking) {
    if (Velocity.X > 0) {
      AnimPos = 0;
      if (X > ClientWidth() - Width) {
        X = ClientWidth() - Width;
        Velocity.X = -7;
      }
    } else {
      AnimPos = 1;
      if (X < 0) {
        X = 0;
        Velocity.X = 7;
      }
    }
    JumpToBeat(2, 0.2);
    // The chart's last note never throws: there the next note is the current one.
    if (Score->Passed && Score->Current != nullptr && Score->Next != Score->Current) {
      const int lanes = ClientWidth() / 100;
      auto nextLane = [&] {
        if (lanes <= 0) throw EZeroDivide("Division by zero");
        Lane = static_cast<std::uint8_t>((Lane + 1) % lanes);
      };
      switch (Score->Current->Kind) {
        case 1:
          nextLane();
          Throw(1, MakeVector(0, -6), Lane * 100, 0);
          PlaySound("Snare");
          break;
        case 2:
          PlaySound("Bass");
          break;
        case 3:
          Throw(2, MakeVector(0, 0), 50, -350);
          PlaySound("Snare");
          break;
        case 4:
          nextLane();
          Throw(1, MakeVector(0, -6), Lane * 100, 0);
          Throw(1, MakeVector(0, -6), ClientWidth() - Lane * 100 - 100, 0);
          PlaySound("Snare");
          break;
        default:
          break;
      }
    }
  }
  CheckStageEnd();
}

// --- TStakkoSprite ------------------------------------------------------------------------------

TStakkoSprite::TStakkoSprite(TSprite* AParent) : TBossSprite(AParent, 1) {
  // All three segments start together just above the screen.
  X = (ClientWidth() - Width) / 2;
  Y = -Height;
  Phase = 0;
  PixelCheck = false;
}

void TStakkoSprite::SetSegment(std::uint8_t S) {
  Segment = S;
  Collisioned = true;
  AnimPos = 0;
  // Only the true segment is tested pixel by pixel; decoys collide by their bounds.
  PixelCheck = S == TrueSegment;
}

void TStakkoSprite::Settle() {
  AnimPos = 0;
  Collisioned = true;
  Guard = true;
  HitCount = 0;
}

void TStakkoSprite::AdvanceOnPhaseNote() {
  if (NotePassed(7)) ++Phase;
}

bool TStakkoSprite::MoveToward(double TX, double TY) {
  TVector d = MakeVector(TX - X, TY - Y);
  if (VectorLength(d) <= 10) {
    X = TX;
    Y = TY;
    Velocity = MakeVector(0, 0);
    return true;
  }
  SetVectorLength(d, 5);
  Velocity = d;
  return false;
}

void TStakkoSprite::BounceX() {
  if (Velocity.X < 0 && X < 0) {
    X = 0;
    Velocity.X = -Velocity.X;
  } else if (Velocity.X > 0 && X > ClientWidth() - Width) {
    X = ClientWidth() - Width;
    Velocity.X = -Velocity.X;
  }
}

void TStakkoSprite::BounceY(double Bottom) {
  if (Velocity.Y < 0 && Y < 0) {
    Y = 0;
    Velocity.Y = -Velocity.Y;
  } else if (Velocity.Y > 0 && Y > Bottom) {
    Y = Bottom;
    Velocity.Y = -Velocity.Y;
  }
}

void TStakkoSprite::DoMove(int MoveCount) {
  TEnemySprite::DoMove(MoveCount);
  if (!Collisioned) AnimPos = 1;
  Guard = false;
  // Every live segment wears the hero down, touching or not.
  THeroSprite* hero = HeroSprite;
  if (hero != nullptr && Collisioned && Running && hero->Blink == 0 && GameMode == 3 && !Shaking) {
    hero->SetPower(hero->Power - 1.5);
  }
  PhaseStep();
  // The second move of the frame: the segments cover twice their velocity.
  X = X + Velocity.X;
  Y = Y + Velocity.Y;
  CheckStageEnd();
}

void TStakkoSprite::PhaseStep() {
  const int cw = ClientWidth();
  const int ch = ClientHeight();
  const double laneX = (cw - Width) / 2 + (Segment - 2) * 130;
  const double centreX = (cw - Width) / 2;
  const double centreY = (ch - Height) / 2;
  const double floor = ch - 50 - Height;
  // Every step but the last reacts to the chart.
  switch (Phase) {
    case 0:
    case 5:
    case 12:
      // Waiting for the cue.
      AdvanceOnPhaseNote();
      Settle();
      break;
    case 1: {
      // Dropping onto the floor.
      const bool arrived = MoveToward(X, floor);
      Settle();
      if (arrived) {
        Velocity = MakeVector(0, 0);
        Phase = 2;
      }
      break;
    }
    case 2:
      // Spreading to the lanes, then bouncing from the first bass note on.
      MoveToward(laneX, Y);
      if (NotePassed(2)) {
        Velocity.X = Segment + 1;
        Phase = 3;
      }
      break;
    case 3:
      if (Score->Next != nullptr && Score->Next->Kind == 2) {
        BounceX();
        JumpToBeat(2, Segment * 0.15);
      } else if (MoveToward(laneX, Y)) {
        Velocity = MakeVector(0, 0);
        Phase = 4;
      }
      break;
    case 4:
    case 11:
      // Hopping to the beat, turning on every note; then gathering in the centre.
      if (Score->Next != nullptr && Score->Next->Kind == 3) {
        JumpToBeat(3, 0.15);
        if (Score->Passed) Velocity.X = Velocity.X == 0 ? 2 : -Velocity.X;
      } else if (MoveToward(centreX, centreY)) {
        Settle();
        ++Phase;
      }
      break;
    case 6:
    case 13:
      // Flying about the screen.
      if (Velocity.X == 0 && Velocity.Y == 0) {
        if (Segment == 1) {
          Velocity = MakeVector(5, 2);
        } else if (Segment == 2) {
          Velocity = MakeVector(-2, 5);
        } else if (Segment == 3) {
          Velocity = MakeVector(1, -2);
        }
      }
      BounceX();
      BounceY(floor);
      AdvanceOnPhaseNote();
      break;
    case 7:
    case 14:
    case 17:
      if (MoveToward(centreX, centreY)) Settle();
      if (Score->Passed) ++Phase;
      break;
    case 8:
    case 15:
    case 18:
      // The triangle: each segment goes to its corner while its own note is current.
      if (Score->Current != nullptr && Score->Current->Kind == Segment + 3) {
        switch (Segment) {
          case 1:
            MoveToward(centreX + 86, centreY + 50);
            break;
          case 2:
            MoveToward(centreX - 86, centreY + 50);
            break;
          default:
            MoveToward(centreX, centreY - 100);
            break;
        }
      }
      if (NotePassed(7)) {
        if (Segment == 3) {
          OrbitCentreX = X;
          OrbitCentreY = Y + 50;
        }
        OrbitAngle = 0;
        ++Phase;
      }
      break;
    case 9:
    case 16:
    case 19: {
      const long double a =
          static_cast<long double>(Segment - 1) * 2 * std::numbers::pi_v<long double> / 3 +
          (std::numbers::pi_v<long double> / 12 + OrbitAngle);
      X = OrbitCentreX + 100 * static_cast<double>(std::cos(a));
      Y = OrbitCentreY + 100 * static_cast<double>(std::sin(a));
      OrbitAngle = OrbitAngle + 0.04;
      // The orbit drifts toward the point 200 pixels above the hero.
      if (HeroSprite != nullptr) {
        const double b =
            std::atan2(HeroSprite->Y - OrbitCentreY - 200, HeroSprite->X - OrbitCentreX);
        OrbitCentreX = OrbitCentreX + 1.5 * std::cos(b);
        OrbitCentreY = OrbitCentreY + 1.5 * std::sin(b);
      }
      AdvanceOnPhaseNote();
      break;
    }
    case 10:
    case 20:
      if (MoveToward(laneX, Y)) {
        Velocity = MakeVector(0, 0);
        ++Phase;
      }
      break;
    default:
      // 21: at rest until the stage ends.
      break;
  }
}
