#include "game/UHero.h"

#include <cmath>
#include <numbers>
#include <string>

#include "game/GameState.h"
#include "game/Main.h"

namespace {

TPictureCollectionItem* Picture(const std::string& Name) {
  return Form1->DXImageList1->Items()->Find(Name);
}

void PlaySound(const std::string& Name) { Form1->DXWaveList1->Items()->Find(Name)->Play(false); }

DIJOYSTATE Stick() {
  DIJOYSTATE s{};
  Form1->Input1->GetState(s);
  return s;
}

}  // namespace

// --- THeroSprite --------------------------------------------------------------------------------

THeroSprite::THeroSprite(TSprite* AParent) : TImageSprite(AParent) {
  SetImage(Picture("Hero"));
  Reset();
  SetZ(2);
  AnimCount = 1;
}

THeroSprite::~THeroSprite() {
  // The hero leaves the tree before anything else happens, so the debris below are born into a
  // tree that no longer holds it.
  Detach();
  if (HeroSprite == this) HeroSprite = nullptr;
  if (GameMode != 2 && GameMode != 3) return;
  // A hero freed with the window (closed without the close query, which leaves the play modes)
  // has no engine, pictures or sounds left to burst with.
  if (Form1 == nullptr || Form1->ComponentState().Contains(csDestroying)) return;
  TSpriteEngine* engine = Form1->DXSpriteEngine1->Engine();
  for (int i = 0; i <= 5; ++i) {
    const double angle = i * std::numbers::pi / 3;
    auto* ruin = new TRuinSprite(engine);
    ruin->Velocity = MakeVector(std::cos(angle) * 3, std::sin(angle) * 3);
    ruin->X = X;
    ruin->Y = Y;
  }
  PlaySound("End");
}

void THeroSprite::Reset() {
  Velocity = MakeVector(0, 0);
  X = Form1->ClientWidth() / 2;
  Y = Form1->ClientHeight() - 50 - Width;
  Airborne = true;
  Action = 0;
  DashCount = 0;
  Combo = 0;
  Blink = 0;
  Power = 10;
  Visible = true;
}

void THeroSprite::SetPower(double Value) {
  if (Value >= Power) {
    Power = Value;
  } else if (Power < 70) {
    // Nearly empty: a drop takes a tenth.
    Power = (Power * 9 + Value) * 0.1;
  } else if (Power > 280) {
    // Nearly full: a drop is amplified.
    Power = Power - (Power - Value) * 1.4;
  } else {
    Power = Value;
  }
  // The clamps look at the request, not at the smoothed result.
  if (Value < 0) Power = 0;
  if (Value > 404) Power = 404;
}

void THeroSprite::DoMove(int MoveCount) {
  TImageSprite::DoMove(MoveCount);
  if (GameMode == 3) {
    AnimPos = Action != 0 ? 1 : 0;
    if (Running) {
      SetPower(Power - 2.25);
      if (Blink > 0) --Blink;
      if (Power <= 0) Dead();
      Visible = Blink % 2 == 0;
    }
    // Walking, falling and the straight-up dash feel gravity; the other dashes fly straight.
    if (Action == 0 || Action == 3) Velocity.Y = Velocity.Y + 1.2;
    Land();
    HitCeiling();
    Steer();
    StartDash();
    Jump();
    ClampToScreen();
  }
  X = X + Velocity.X;
  Y = Y + Velocity.Y;
}

TRect THeroSprite::GetBoundsRect() {
  return SpriteBounds(SpriteRound(WorldX()) - Width / 2, SpriteRound(WorldY()) - Height / 2,
                      Width / 2, Height / 2);
}

void THeroSprite::Land() {
  const double floor = Form1->ClientHeight() - Height / 2 - 50;
  if (Y + Velocity.Y >= floor) {
    Airborne = false;
    Y = floor;
    Velocity.Y = 0;
    DashCount = 0;
    if (Action == 4) Action = 0;
    Combo = 0;
  }
}

void THeroSprite::HitCeiling() {
  if (Y - Height / 2 + Velocity.Y < 0) {
    Y = Height / 2;
    Velocity.Y = -Velocity.Y * 0.5;
    if (Action == 3 || Action == 5 || Action == 6) Action = 0;
  }
}

void THeroSprite::Steer() {
  if (Action != 0) {
    if (ButtonHold[0] == 1) {
      // A fresh press during a dash: stop, and dash again if the stick says where.
      Action = 0;
      Velocity = MakeVector(0, 0);
      StartDash();
    }
    const double speed = VectorLength(Velocity);
    if (speed < 2) {
      Action = 0;
      Blink = 0;
    } else {
      SetVectorLength(Velocity, speed - 2);
    }
  } else {
    const double s = Stick().lX / 32767.0;
    if (s * Velocity.X > 0)
      Velocity.X = Velocity.X + s * 0.5;
    else
      Velocity.X = Velocity.X + s;
    if (Velocity.X < -8) Velocity.X = -8;
    if (Velocity.X > 8) Velocity.X = 8;
  }
}

void THeroSprite::StartDash() {
  if (!Form1->Input1->ButtonDown(0) || ButtonHold[0] != 1 || DashCount >= 10 || Action != 0) return;
  // Counted before the direction is known: a press that starts nothing still uses a dash.
  ++DashCount;
  const int speed = 36 - (10 - DashCount) / 2;
  const double d = speed * 0.7;
  const DIJOYSTATE s = Stick();
  if (s.lX != 0 && s.lY != 0) {
    SetVectorLength(Velocity, speed);
    if (s.lY < 0) {
      if (s.lX < 0) {
        Action = 6;
        Velocity = MakeVector(-d, -d);
      } else {
        Action = 5;
        Velocity = MakeVector(d, -d);
      }
    } else if (Airborne) {
      if (s.lX < 0) {
        Action = 8;
        Velocity = MakeVector(-d, d);
      } else {
        Action = 7;
        Velocity = MakeVector(d, d);
      }
    }
  } else if (s.lX < 0) {
    Action = 2;
    Velocity = MakeVector(-speed, 0);
  } else if (s.lX > 0) {
    Action = 1;
    Velocity = MakeVector(speed, 0);
  } else if (Airborne) {
    if (s.lY < 0) {
      Action = 3;
      Velocity = MakeVector(0, -speed);
    } else if (s.lY > 0) {
      Action = 4;
      Velocity = MakeVector(0, speed);
    }
  }
}

void THeroSprite::Jump() {
  const DIJOYSTATE s = Stick();
  if (!Airborne && s.lY < 0) {
    Airborne = true;
    Velocity.Y = s.lY / 32767.0 * 22;
  }
}

void THeroSprite::ClampToScreen() {
  bool clamped = false;
  if (X + Velocity.X < Width) {
    X = Width;
    clamped = true;
  }
  if (X + Velocity.X > Form1->ClientWidth() - Width) {
    X = Form1->ClientWidth() - Width;
    clamped = true;
  }
  if (clamped) {
    Velocity.X = 0;
    if (Action != 0) {
      Action = 0;
      Velocity.Y = 0;
    }
  }
}

// --- TRuinSprite --------------------------------------------------------------------------------

TRuinSprite::TRuinSprite(TSprite* AParent) : TImageSprite(AParent) {
  SetImage(Picture("Ruin"));
  Collisioned = false;
  Age = 0;
  Kind = 1;
  SetZ(3);
}

void TRuinSprite::SetNote(std::uint8_t K) {
  Kind = K;
  SetImage(Picture("Note" + std::to_string(K - 1)));
  if (GameMode != 3 || HeroSprite == nullptr) return;
  const int combo = HeroSprite->Combo;
  const char* sound;
  int refill;
  if (combo <= 2) {
    sound = "Bass";
    refill = 10;
  } else if (combo <= 8) {
    sound = "Snare";
    refill = 17;
  } else if (combo <= 15) {
    sound = "SmallHit";
    refill = 25;
  } else {
    sound = "BigHit";
    refill = 42;
  }
  PlaySound(sound);
  HeroSprite->SetPower(HeroSprite->Power + refill);
}

void TRuinSprite::DoMove(int MoveCount) {
  TImageSprite::DoMove(MoveCount);
  if (Kind == 1) {
    ++Age;
    if (Age > 50) Dead();
  } else {
    Velocity.Y = Velocity.Y + 1.5;
    ++Age;
    if (Y > Form1->ClientHeight()) Dead();
  }
  X = X + Velocity.X;
  Y = Y + Velocity.Y;
}
