// The enemies. Every boss is driven by the chart: it acts on the notes the tracker has just
// passed, times its jumps between two notes of one kind so that it lands on the beat, and finds
// its contacts with the hero from its own side.
//
//   TEnemySprite    boss picture set-up, end-of-stage shake, contacts with the hero, beat jumps
//   TBossSprite     the common parent of the stages' bosses
//   TGrumbakSprite  stage 1: walks wall to wall, jumps on the bass notes, throws bullets
//   TStakkoSprite   stage 2: one of three segments; one true target, two decoys, and a routine
//                   of 21 phases advanced by the chart
#pragma once

#include <cstdint>

#include "framework/graphics/DXSprite.h"
#include "game/UVector.h"

class TEnemySprite : public TImageSprite {
 public:
  // AAnimCount is set before the boss picture is cut: it says how many patterns sit side by
  // side in the picture (AAnimCount + 1).
  TEnemySprite(TSprite* AParent, int AAnimCount);
  ~TEnemySprite() override;

  // One step of the end-of-stage shake; the offsets add up in the position.
  void Shake();
  // Puts the boss on a parabola between the last passed and the next note of Kind: on the
  // ground at both notes, Scale * (time between them in ms) pixels up halfway.
  void JumpToBeat(std::uint8_t Kind, double Scale);

  TVector Velocity;
  bool Shaking = false;
  int ShakeCount = 5;

 protected:
  void DoCollision(TSprite* Sprite, bool& Done) override;
  void DoMove(int MoveCount) override;

  // The stage ends on its kind-8 note: the boss stops and shakes harder every frame, and goes
  // once the music has stopped.
  void CheckStageEnd();
};

class TBossSprite : public TEnemySprite {
 public:
  using TEnemySprite::TEnemySprite;
};

class TGrumbakSprite : public TBossSprite {
 public:
  explicit TGrumbakSprite(TSprite* AParent);

  // The throw lane counter, 0 .. ClientWidth div 100 - 1.
  std::uint8_t Lane = 0;

 protected:
  void DoMove(int MoveCount) override;

 private:
  void Throw(std::uint8_t Kind, const TVector& V, double AX, double AY);
};

class TStakkoSprite : public TBossSprite {
 public:
  explicit TStakkoSprite(TSprite* AParent);

  // Segment 1..3; the one equal to TrueSegment is the real target and tested pixel by pixel.
  void SetSegment(std::uint8_t S);
  // A kind-7 note moves the routine on.
  void AdvanceOnPhaseNote();
  // Heads for (TX, TY) at 5 pixels a move; true, with the segment placed there and stopped, once
  // it is within 10 pixels.
  bool MoveToward(double TX, double TY);
  // Rest: shown whole, collidable again, decoy hits ignored on the next move, count cleared.
  void Settle();

  std::uint8_t Segment = 0;
  std::uint16_t Phase = 0;
  bool Guard = false;
  int HitCount = 0;

 protected:
  void DoMove(int MoveCount) override;

 private:
  friend class TEnemySprite;
  void PhaseStep();
  // Reverses a component that is carrying the segment past a wall, and puts it on the wall.
  void BounceX();
  void BounceY(double Bottom);
};

// The segment that is the real target; the stage start picks it before making the segments.
extern std::uint8_t TrueSegment;
// Angle of the shake, one radian more at every shake step of any boss; never reset.
extern int ShakeAngle;
// Scoring dash contacts over the whole run; every third bursts into a note.
extern int HitCounter;
// The orbit the segments share: its centre chases the hero, its angle turns with every move.
extern double OrbitCentreX;
extern double OrbitCentreY;
extern double OrbitAngle;
