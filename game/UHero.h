// The player's sprite and the short-lived pieces it leaves: debris when it dies, and the falling
// note picture that a hit on a boss bursts into.
#pragma once

#include <cstdint>

#include "framework/graphics/DXSprite.h"
#include "game/UVector.h"

class THeroSprite : public TImageSprite {
 public:
  // On AParent (the game passes the sprite engine); does not set HeroSprite, its creator does.
  explicit THeroSprite(TSprite* AParent);
  // Leaves the tree, clears HeroSprite and, on the stage select and play screens, bursts into
  // six pieces of debris with the "End" sound.
  ~THeroSprite() override;

  // Back to the start: dropping onto the floor in the middle, at rest, gauge 10, visible.
  void Reset();
  // The only way the gauge changes: rises at once, falls smoothed by how full it is.
  void SetPower(double Value);

  TVector Velocity;
  bool Airborne = false;
  // 0 not dashing; dashing 1 right, 2 left, 3 up, 4 down, 5 up-right, 6 up-left, 7 down-right,
  // 8 down-left.
  std::uint8_t Action = 0;
  std::uint8_t Combo = 0;  // note bursts since the last landing
  double Power = 0;        // 0..404: the hero's life and the gauge that starts a stage
  std::uint8_t Blink = 0;  // frames of invulnerability left; hidden on odd values
  std::uint16_t DashCount = 0;
  double ShownPower = 0;  // the status band's smoothed gauge

 protected:
  void DoMove(int MoveCount) override;
  // The picture's top-left quarter, placed so that the picture is centred on X, Y.
  TRect GetBoundsRect() override;

 private:
  void Land();
  void HitCeiling();
  void Steer();
  void StartDash();
  void Jump();
  void ClampToScreen();
};

class TRuinSprite : public TImageSprite {
 public:
  explicit TRuinSprite(TSprite* AParent);

  // Turns the piece into note picture K (2..5: "Note1".."Note4"); during play it also sounds the
  // drum of the hero's combo and refills the gauge.
  void SetNote(std::uint8_t K);

  int Age = 0;
  std::uint8_t Kind = 1;  // 1 debris, 2..5 a note picture
  TVector Velocity;

 protected:
  void DoMove(int MoveCount) override;
};
