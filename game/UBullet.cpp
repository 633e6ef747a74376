#include "game/UBullet.h"

#include "game/GameState.h"
#include "game/Main.h"
#include "game/UHero.h"

TBulletSprite::TBulletSprite(TSprite* AParent) : TImageSpriteEx(AParent) {
  SetImage(Form1->DXImageList1->Items()->Find("Bullet1"));
  Collisioned = false;
  SetZ(1);
}

TBulletSprite::~TBulletSprite() = default;

void TBulletSprite::Launch(std::uint8_t AKind, const TVector& V, double AX, double AY) {
  Velocity = V;
  Kind = AKind;
  X = AX;
  Y = AY;
  if (Kind == 2) {
    Width = 412;
    Height = 412;
  }
}

void TBulletSprite::DoMove(int MoveCount) {
  TImageSpriteEx::DoMove(MoveCount);
  if (Kind == 1 || Kind == 2) Velocity.Y = Velocity.Y + 1;
  X = X + Velocity.X;
  Y = Y + Velocity.Y;
  // The bullet tests the hero itself with a box around both centres; a dashing or blinking hero
  // cannot be hit, and the blinking a hit starts keeps this bullet from hitting twice.
  THeroSprite* hero = HeroSprite;
  if (hero != nullptr && hero->Action == 0 && hero->Blink == 0) {
    const double dx = (Width / 2 + X) - hero->X;
    const double lx = (hero->Width + Width) / 2;
    const double dy = (Height / 2 + Y) - hero->Y;
    const double ly = (hero->Height + Height) / 2;
    if (dx * dx < lx * lx && dy * dy < ly * ly) {
      hero->SetPower(hero->Power - 40);
      hero->Blink = 15;
    }
  }
  if (Y > Form1->ClientHeight() + Height) Dead();
  Visible = true;
}
