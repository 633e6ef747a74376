// The projectile the first boss throws: it falls, tests itself against the hero and frees
// itself once it has fallen out of sight.
#pragma once

#include <cstdint>

#include "framework/graphics/DXSprite.h"
#include "game/UVector.h"

class TBulletSprite : public TImageSpriteEx {
 public:
  explicit TBulletSprite(TSprite* AParent);
  ~TBulletSprite() override;

  // Kind 1 keeps the picture's own size; kind 2 is the giant bullet, 412 x 412.
  void Launch(std::uint8_t AKind, const TVector& V, double AX, double AY);

  TVector Velocity;
  std::uint8_t Kind = 0;

 protected:
  void DoMove(int MoveCount) override;
};
