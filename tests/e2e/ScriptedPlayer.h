// A scripted player that attacks: it dashes at the boss whenever the boss is in reach, otherwise
// walks toward it, and gets out of the way of bullets. It plays with the keys only and decides
// from what a frame shows (where things are and how they move, the gauge, the dash count, note
// bursts), so it also finds the real one of the second boss's blocks by trying them.
//
// It plays in one of two styles. Frame-perfect, it looks at every frame as it is shown and acts
// on the next. Human-like, it sees each frame a reaction time late, makes up its mind at most
// every few frames, and its hands act a random frame or two after it meant them to; a press of
// the button is then a short tap, as a person's thumb gives it. Like a person it makes up for
// the late sight: it knows what its hands did since and how the hero answers them, and carries
// what it saw forward to now, the hero by those moves and everything else by the motion seen.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <numbers>
#include <random>
#include <vector>

#include "e2e/GameSession.h"
#include "game/UBullet.h"

namespace e2e {

struct PlayerStyle {
  int reactionFrames = 0;  // a frame is seen this many frames after it was shown
  int decisionFrames = 1;  // at most one decision per this many frames
  int maxSlipFrames = 0;   // the keys change 0..this many frames after the decision
  int tapFrames = 0;       // a press holds the button this long; 0: until the next decision
  std::uint32_t seed = 0;  // the slips' dice

  static PlayerStyle FramePerfect() { return {}; }
  // 200 ms to react, a decision every 200 ms at most, and up to 2 frames late on the keys.
  static PlayerStyle HumanLike(std::uint32_t seed) { return {6, 6, 2, 2, seed}; }
};

// The plain figures of a play, kept apart so that a trial run elsewhere can send them back whole.
struct PlayFigures {
  int frames = 0;         // play frames with the music running
  double survivedMs = 0;  // music position when the hero was lost, or at the end
  bool cleared = false;   // the boss left at the end of the music with the hero alive
  int bursts = 0;         // note bursts dashed out of the boss
  double lowestPower = 404;
  int stakkoPhaseAtLoss = -1;
  int bulletHits = 0, bodyHits = 0;  // the hero was hit by a bullet / ran into a boss
};

struct PlayResult : PlayFigures {
  // The second boss's phases: frames spent in each, bursts and the gauge there.
  struct PhaseStats {
    int frames = 0, bursts = 0;
    double powerSum = 0, lowest = 404;
  };
  std::map<int, PhaseStats> phases;
};

class ScriptedPlayer {
 public:
  explicit ScriptedPlayer(GameSession& g, PlayerStyle style = PlayerStyle::FramePerfect())
      : g_(g), style_(style), dice_(style.seed) {}

  // Plays the running stage until it ends one way or the other (or `maxFrames` pass).
  PlayResult Play(int maxFrames);

 private:
  struct Box {
    double left, top, right, bottom;
    double CentreX() const { return (left + right) / 2; }
    double CentreY() const { return (top + bottom) / 2; }
  };
  // What one shown frame tells a watcher. Motion stands for what the eye reads from a sprite's
  // movement over a few frames.
  struct Sight {
    bool hero = false;
    double x = 0, y = 0, vx = 0, vy = 0;  // the hero's centre and motion
    bool dashing = false;                 // the dash pose
    bool airborne = false;
    int blink = 0;  // the hero flickers while it cannot be hurt
    int dashCount = 0;
    struct Boss {
      int block;  // 0 for the first boss, 1..3 for the second boss's blocks
      Box box;
      bool shaking, live;  // live: not shown broken (a knocked-out decoy)
      double vx = 0, vy = 0;
    };
    std::vector<Boss> bosses;
    struct Bullet {
      double x, y, w, h, vx, vy;
    };
    std::vector<Bullet> bullets;
    int bursts = 0;  // note pictures burst out of a boss so far
  };
  enum Key { kL, kR, kU, kD, kB, kKeys };
  struct Intent {
    int at;  // frame on which the keys change
    bool want[kKeys];
  };
  struct Hands {
    bool key[kKeys];  // held while one frame ran
  };

  static Sight Look();
  static void Motion(Sight& s, const Sight& before);
  static void StepHero(Sight& s, const bool keys[kKeys], bool fresh);
  Sight Foresee() const;
  void Apply(const Intent& intent);
  void Release();
  bool Target(const Sight& s, Box& box);
  static int Bit(int block) { return 1 << (block - 1); }
  static Box HeroBox(const Sight& s) { return {s.x - 16, s.y - 16, s.x, s.y}; }
  static int Touching(const Sight& s);
  static bool Stacked(const Sight& s);
  static bool Circling(const Sight& s, const Sight& before);
  void Learn(const Sight& s, bool burst);
  static int BulletThreat(const Sight& s, int lookahead);
  static bool BodyThreat(const Sight& s, double margin, double& ax, double& ay);
  void Decide(const Sight& s, bool want[kKeys]);
  static void Aim(const Sight& s, bool want[kKeys], double dx, double dy);
  static double ClearOfAbove(const Sight& s);

  GameSession& g_;
  PlayerStyle style_;
  std::mt19937 dice_;
  std::deque<Sight> seen_;        // the frames not yet seen, oldest first, and the last seen
  std::deque<Intent> intents_;    // decided, not yet acted on
  std::deque<Hands> hands_;       // the keys of the frames played since the frame seen
  bool heldBeforeHands_ = false;  // the button on the frame before those
  int frame_ = 0;                 // frames played by this player
  int lastDecision_ = -1000000;   // frame of the last decision
  int releaseAt_ = -1;            // frame on which a tap lets the button go
  bool held_[kKeys] = {};
  bool buttonIntended_ = false;  // the last decision pressed the button
  int candidates_ = 7;           // the blocks that may be the real one, one bit each
  int misses_[3] = {};
  bool wereStacked_ = false;
  // How the blocks parted from their last stack: where it stood, which have left it and in
  // which of sixteen directions; and the directions in which the real one has been seen to go.
  bool stackSeen_ = false;
  double stackX_ = 0, stackY_ = 0;
  int leftTo_[3] = {-1, -1, -1};
  int realGoesTo_ = 0;
  bool circling_ = false;
};

inline ScriptedPlayer::Sight ScriptedPlayer::Look() {
  Sight s;
  TSpriteEngine* engine = Form1->DXSpriteEngine1->Engine();
  const THeroSprite* h = HeroSprite;
  if (h != nullptr) {
    s.hero = true;
    s.x = h->X;
    s.y = h->Y;
    s.vx = h->Velocity.X;
    s.vy = h->Velocity.Y;
    s.dashing = h->Action != 0;
    s.airborne = h->Airborne;
    s.blink = h->Blink;
    s.dashCount = h->DashCount;
  }
  for (int i = 0; i < engine->Count(); ++i) {
    TSprite* sp = engine->Items(i);
    if (auto* e = dynamic_cast<TEnemySprite*>(sp)) {
      const auto* st = dynamic_cast<TStakkoSprite*>(e);
      s.bosses.push_back({st != nullptr ? st->Segment : 0,
                          {e->X, e->Y, e->X + e->Width, e->Y + e->Height},
                          e->Shaking,
                          e->Collisioned});
    } else if (auto* b = dynamic_cast<TBulletSprite*>(sp)) {
      s.bullets.push_back({b->X, b->Y, static_cast<double>(b->Width),
                           static_cast<double>(b->Height), b->Velocity.X, b->Velocity.Y});
    }
  }
  s.bursts = HitCounter / 3;  // each burst shows as a note flying off
  return s;
}

// The motion of each boss, from where it was on the frame before.
inline void ScriptedPlayer::Motion(Sight& s, const Sight& before) {
  for (Sight::Boss& b : s.bosses)
    for (const Sight::Boss& a : before.bosses)
      if (a.block == b.block) {
        b.vx = b.box.left - a.box.left;
        b.vy = b.box.top - a.box.top;
      }
}

// How the hero answers the keys over one frame, as a practised player knows it: gravity unless
// dashing (or dashing straight up), the floor and the ceiling, steering, dashes that lose speed,
// jumps and the side walls.
inline void ScriptedPlayer::StepHero(Sight& s, const bool keys[kKeys], bool fresh) {
  const int sx = keys[kR] - keys[kL], sy = keys[kD] - keys[kU];
  if (s.blink > 0) --s.blink;
  const bool straightUp = s.dashing && s.vx == 0 && s.vy < 0;
  if (!s.dashing || straightUp) s.vy += 1.2;
  if (s.y + s.vy >= 382) {
    s.airborne = false;
    s.y = 382;
    if (s.dashing && s.vx == 0 && s.vy > 0) s.dashing = false;
    s.vy = 0;
    s.dashCount = 0;
  }
  if (s.y - 16 + s.vy < 0) {
    if (s.dashing && s.vy < 0) s.dashing = false;
    s.y = 16;
    s.vy = -s.vy * 0.5;
  }
  auto startDash = [&] {
    if (!fresh || s.dashCount >= 10 || s.dashing) return;
    ++s.dashCount;
    const int speed = 36 - (10 - s.dashCount) / 2;
    const double d = speed * 0.7;
    if (sx != 0 && sy != 0) {
      const double len = std::hypot(s.vx, s.vy);
      if (len > 0) s.vx *= speed / len, s.vy *= speed / len;
      if (sy < 0 || s.airborne) {
        s.dashing = true;
        s.vx = sx * d;
        s.vy = sy * d;
      }
    } else if (sx != 0) {
      s.dashing = true;
      s.vx = sx * speed;
      s.vy = 0;
    } else if (sy != 0 && s.airborne) {
      s.dashing = true;
      s.vx = 0;
      s.vy = sy * speed;
    }
  };
  if (s.dashing) {
    if (fresh) {
      s.dashing = false;
      s.vx = s.vy = 0;
      startDash();
    }
    const double speed = std::hypot(s.vx, s.vy);
    if (speed < 2) {
      s.dashing = false;
      s.blink = 0;
    } else {
      s.vx *= (speed - 2) / speed;
      s.vy *= (speed - 2) / speed;
    }
  } else {
    s.vx += sx * s.vx > 0 ? sx * 0.5 : sx;
    s.vx = std::clamp(s.vx, -8.0, 8.0);
  }
  startDash();
  if (!s.airborne && sy < 0) {
    s.airborne = true;
    s.vy = -22;
  }
  if (s.x + s.vx < 32 || s.x + s.vx > 480) {
    s.x = s.x + s.vx < 32 ? 32 : 480;
    s.vx = 0;
    if (s.dashing) {
      s.dashing = false;
      s.vy = 0;
    }
  }
  s.x += s.vx;
  s.y += s.vy;
}

// The frame seen, carried forward over the frames played since: the hero by the keys held on
// them, the bosses by their motion, the bullets falling as they do.
inline ScriptedPlayer::Sight ScriptedPlayer::Foresee() const {
  Sight s = seen_.front();
  const int n = static_cast<int>(hands_.size());
  bool before = heldBeforeHands_;
  for (const Hands& h : hands_) {
    StepHero(s, h.key, h.key[kB] && !before);
    before = h.key[kB];
  }
  for (Sight::Boss& b : s.bosses) {
    const double w = b.box.right - b.box.left, h = b.box.bottom - b.box.top;
    b.box.left = std::clamp(b.box.left + b.vx * n, 0.0, 512 - w);
    b.box.top += b.vy * n;
    b.box.right = b.box.left + w;
    b.box.bottom = b.box.top + h;
  }
  for (Sight::Bullet& b : s.bullets) {
    for (int f = 0; f < n; ++f) {
      b.vy += 1;
      b.x += b.vx;
      b.y += b.vy;
    }
  }
  return s;
}

inline PlayResult ScriptedPlayer::Play(int maxFrames) {
  PlayResult r;
  int lastBurst = HitCounter / 3;
  seen_.assign(1, Look());
  while (GameMode == 3 && r.frames < maxFrames) {
    if (HeroSprite == nullptr) break;
    if (Running && !WaitingToStart) {
      ++r.frames;
      r.lowestPower = std::min(r.lowestPower, HeroSprite->Power);
      r.survivedMs = Score->Position;
      if (auto st = g_.SpritesOf<TStakkoSprite>(); !st.empty()) {
        r.stakkoPhaseAtLoss = st[0]->Phase;
        PlayResult::PhaseStats& ps = r.phases[st[0]->Phase];
        ++ps.frames;
        ps.powerSum += HeroSprite->Power;
        ps.lowest = std::min(ps.lowest, HeroSprite->Power);
      }
    }
    // The frame now seen is the one shown `reactionFrames` ago.
    const Sight& now = seen_.front();
    if (frame_ - lastDecision_ >= style_.decisionFrames && now.hero) {
      lastDecision_ = frame_;
      Intent in{frame_, {}};
      Decide(style_.reactionFrames > 0 ? Foresee() : now, in.want);
      if (style_.maxSlipFrames > 0)
        in.at += std::uniform_int_distribution<int>(0, style_.maxSlipFrames)(dice_);
      intents_.push_back(in);
    }
    while (!intents_.empty() && intents_.front().at <= frame_) {
      Apply(intents_.front());
      intents_.pop_front();
    }
    if (frame_ == releaseAt_ && held_[kB]) {
      g_.Let(kButton0);
      held_[kB] = false;
    }
    const int blinkBefore = HeroSprite->Blink;
    hands_.push_back({});
    std::copy(std::begin(held_), std::end(held_), hands_.back().key);
    if (!g_.Frame()) break;
    ++frame_;
    // A hit makes the hero blink: 15 frames for a bullet, 20 for a boss.
    if (HeroSprite != nullptr && HeroSprite->Blink > blinkBefore) {
      r.bulletHits += HeroSprite->Blink == 15;
      r.bodyHits += HeroSprite->Blink == 20;
    }
    // Every third scoring contact bursts into a note: what a person sees of the hits.
    const int burst = HitCounter / 3;
    if (burst != lastBurst) {
      r.bursts += burst - lastBurst;
      if (r.stakkoPhaseAtLoss >= 0) r.phases[r.stakkoPhaseAtLoss].bursts += burst - lastBurst;
    }
    lastBurst = burst;
    seen_.push_back(HeroSprite != nullptr ? Look() : Sight{});
    Motion(seen_.back(), seen_[seen_.size() - 2]);
    while (static_cast<int>(seen_.size()) > style_.reactionFrames + 1) {
      const Sight before = seen_.front();
      seen_.pop_front();
      heldBeforeHands_ = hands_.front().key[kB];
      hands_.pop_front();
      const Sight& s = seen_.front();
      circling_ = Circling(s, before);
      Learn(s, s.bursts != before.bursts);
    }
  }
  Release();
  r.cleared = GameMode == 5;
  return r;
}

inline void ScriptedPlayer::Apply(const Intent& in) {
  static const int codes[kKeys] = {kLeft, kRight, kUp, kDown, kButton0};
  for (int k = 0; k < kB; ++k) {
    if (in.want[k] && !held_[k]) g_.Hold(codes[k]);
    if (!in.want[k] && held_[k]) g_.Let(codes[k]);
    held_[k] = in.want[k];
  }
  buttonIntended_ = in.want[kB];
  if (in.want[kB] && !held_[kB]) {
    g_.Hold(kButton0);
    held_[kB] = true;
    releaseAt_ = style_.tapFrames > 0 ? frame_ + style_.tapFrames : -1;
  } else if (!in.want[kB] && held_[kB]) {
    g_.Let(kButton0);
    held_[kB] = false;
  }
}

inline void ScriptedPlayer::Release() {
  static const int codes[kKeys] = {kLeft, kRight, kUp, kDown, kButton0};
  for (int k = 0; k < kKeys; ++k)
    if (held_[k]) g_.Let(codes[k]);
  std::fill(std::begin(held_), std::end(held_), false);
}

// The thing to attack: the first boss, or the nearest block that may be the real one.
inline bool ScriptedPlayer::Target(const Sight& s, Box& box) {
  double best = 1e9;
  bool found = false;
  for (const Sight::Boss& b : s.bosses) {
    if (b.shaking) continue;
    if (b.block == 0) {
      box = b.box;
      return true;
    }
    if (!(candidates_ & Bit(b.block))) continue;
    // Where several that may be real lie on one another, one dash tries them all.
    int here = 0;
    for (const Sight::Boss& o : s.bosses)
      here += o.block != 0 && (candidates_ & Bit(o.block)) &&
              std::fabs(o.box.left - b.box.left) + std::fabs(o.box.top - b.box.top) <= 8;
    const double d = std::hypot(b.box.CentreX() - s.x, b.box.CentreY() - s.y) / here;
    if (d < best) {
      best = d;
      found = true;
      box = b.box;
    }
  }
  return found;
}

// The blocks the hero's box overlaps.
inline int ScriptedPlayer::Touching(const Sight& s) {
  const Box hero = HeroBox(s);
  int set = 0;
  for (const Sight::Boss& b : s.bosses) {
    if (b.block == 0) continue;
    if (b.box.left < hero.right && hero.left < b.box.right && b.box.top < hero.bottom &&
        hero.top < b.box.bottom)
      set |= Bit(b.block);
  }
  return set;
}

// Blocks lying on one another cannot be told apart.
inline bool ScriptedPlayer::Stacked(const Sight& s) {
  int blocks = 0;
  for (const Sight::Boss& a : s.bosses) {
    if (a.block == 0) continue;
    ++blocks;
    for (const Sight::Boss& b : s.bosses)
      if (b.block != 0 && std::fabs(a.box.left - b.box.left) + std::fabs(a.box.top - b.box.top) > 8)
        return false;
  }
  return blocks > 1;
}

// The blocks circle together above the hero: spread at the corners of their triangle and all
// on the move.
inline bool ScriptedPlayer::Circling(const Sight& s, const Sight& before) {
  std::vector<const Sight::Boss*> now, then;
  for (const Sight::Boss& b : s.bosses)
    if (b.block != 0) now.push_back(&b);
  for (const Sight::Boss& b : before.bosses)
    if (b.block != 0) then.push_back(&b);
  if (now.size() != 3 || then.size() != 3) return false;
  for (int i = 0; i < 3; ++i) {
    const Sight::Boss& a = *now[i];
    const Sight::Boss& b = *now[(i + 1) % 3];
    const double d = std::hypot(a.box.left - b.box.left, a.box.top - b.box.top);
    if (d < 150 || d > 200) return false;
    const double moved = std::hypot(a.box.left - then[i]->box.left, a.box.top - then[i]->box.top);
    if (moved < 2) return false;
  }
  return true;
}

// What a person learns from watching: notes burst out of the real block, and a block dashed
// through again and again without a burst is a decoy.
inline void ScriptedPlayer::Learn(const Sight& s, bool burst) {
  if (!s.hero) return;
  const bool stacked = Stacked(s);
  // Blocks that were on one another part without telling which is which, but each always
  // goes its own way: the real one is known again by where it has been seen to go before.
  if (stacked) {
    for (const Sight::Boss& b : s.bosses) {
      stackX_ = b.box.left;
      stackY_ = b.box.top;
    }
    stackSeen_ = true;
    std::fill(std::begin(leftTo_), std::end(leftTo_), -1);
  } else if (wereStacked_) {
    candidates_ = 7;
    for (int& m : misses_) m = 0;
  }
  wereStacked_ = stacked;
  for (const Sight::Boss& b : s.bosses) {
    if (b.block == 0 || !stackSeen_ || stacked || leftTo_[b.block - 1] >= 0) continue;
    const double dx = b.box.left - stackX_, dy = b.box.top - stackY_;
    if (std::hypot(dx, dy) <= 8) continue;
    const int to = static_cast<int>(std::lround(std::atan2(dy, dx) / (std::numbers::pi / 8))) & 15;
    leftTo_[b.block - 1] = to;
    if (realGoesTo_ & (1 << to)) candidates_ = Bit(b.block);
  }
  if (!s.dashing || stacked) return;
  const int touching = Touching(s);
  if (touching == 0) return;
  const int block = touching == 1 ? 1 : touching == 2 ? 2 : touching == 4 ? 3 : 0;
  if (burst) {
    if (candidates_ & touching) candidates_ &= touching;
    for (int& m : misses_) m = 0;
    // A note out of a block touched alone: that one is real, and it went this way.
    if (block != 0 && leftTo_[block - 1] >= 0) realGoesTo_ |= 1 << leftTo_[block - 1];
    return;
  }
  // The real block bursts on every third contact: a run of contacts well inside a block without
  // a note tells a decoy, and so does a run well inside two lying on one another (the pair is
  // then two decoys).
  int inside = 0;
  for (const Sight::Boss& b : s.bosses)
    if (b.block != 0 && (touching & Bit(b.block)) && s.x - 8 > b.box.left + 16 &&
        s.x - 8 < b.box.right - 16 && s.y - 8 > b.box.top + 16 && s.y - 8 < b.box.bottom - 16)
      inside |= Bit(b.block);
  if (inside != touching) return;  // a contact at an edge may have missed the picture
  bool decoys = false;
  for (int i = 0; i < 3; ++i)
    if ((touching & Bit(i + 1)) && ++misses_[i] >= 5) decoys = true;
  if (decoys) {
    for (int i = 0; i < 3; ++i)
      if (touching & Bit(i + 1)) misses_[i] = 0;
    candidates_ &= ~touching;
    if (candidates_ == 0) candidates_ = 7 & ~touching;
  }
}

// Frames until a bullet's box reaches the hero's, looking a few frames ahead; -1 for none.
inline int ScriptedPlayer::BulletThreat(const Sight& s, int lookahead) {
  for (const Sight::Bullet& b : s.bullets) {
    double x = b.x, y = b.y, vy = b.vy;
    for (int f = 0; f <= lookahead; ++f) {
      const double dx = (b.w / 2 + x) - (s.x + s.vx * f);
      const double dy = (b.h / 2 + y) - s.y;
      const double lx = (32 + b.w) / 2 + 6, ly = (32 + b.h) / 2 + 6;
      if (dx * dx < lx * lx && dy * dy < ly * ly) return f;
      vy += 1;
      y += vy;
      x += b.vx;
    }
  }
  return -1;
}

// The nearest live boss whose box comes within `margin` pixels of the hero's box, as the
// direction from the hero to it; false when none is that close.
inline bool ScriptedPlayer::BodyThreat(const Sight& s, double margin, double& ax, double& ay) {
  const Box hero = HeroBox(s);
  double best = margin;
  bool found = false;
  for (const Sight::Boss& e : s.bosses) {
    if (!e.live || e.shaking) continue;
    const Box& b = e.box;
    const double gx = std::max({b.left - hero.right, hero.left - b.right, 0.0});
    const double gy = std::max({b.top - hero.bottom, hero.top - b.bottom, 0.0});
    const double gap = std::max(gx, gy);
    if (gap < best) {
      best = gap;
      found = true;
      ax = b.CentreX() - (s.x - 8);
      ay = b.CentreY() - (s.y - 8);
    }
  }
  return found;
}

inline void ScriptedPlayer::Decide(const Sight& s, bool want[kKeys]) {
  // Dashes in the air are counted: keep the last three for getting out of the way.
  const bool canEscape = !(held_[kB] && buttonIntended_) && s.dashCount < 10;
  const bool canPress = canEscape && (!s.airborne || s.dashCount < 7);
  // The hero's collision box is the quarter up and left of its centre.
  const double hx = s.x - 8, hy = s.y - 8;
  Box box{};
  const bool haveTarget = Target(s, box);
  // Aim at the nearest point well inside the target, so that a dash along the floor stays on
  // the floor when the target stands there.
  auto inside = [](double v, double lo, double hi) {
    return lo > hi ? (lo + hi) / 2 : std::clamp(v, lo, hi);
  };
  const double tx =
      haveTarget ? std::clamp(inside(hx, box.left + 24, box.right - 24), 20.0, 492.0) : 256;
  const double ty =
      haveTarget ? std::clamp(inside(hy, box.top + 24, box.bottom - 24), 20.0, 374.0) : 374;
  const double dx = tx - hx, dy = ty - hy;
  const double dist = std::hypot(dx, dy);
  const bool reachable = haveTarget && box.bottom > 0;
  // How far ahead to look: until the keys can next change, at least two frames.
  const int ahead = std::max(2, style_.decisionFrames + style_.maxSlipFrames);
  const int threat = BulletThreat(s, 4 + ahead);
  // Chasing a block up toward the top edge only drives it higher (the circling blocks keep
  // above the hero): strike at what is above only from low down, and otherwise fall back.
  const bool tooHigh = circling_ && dy < -40 && hy < 300;

  // Touching a boss hurts unless dashing: never let a dash run out beside one, and dash out of
  // the way of one that comes too close.
  double ax = 0, ay = 0;
  // (A dash that runs out also ends the blinking, and so does landing from one straight down
  // or running into a side wall.)
  const double speed = std::hypot(s.vx, s.vy);
  const double nextX = s.x + ahead * s.vx;
  const bool exposed = !s.dashing ? s.blink <= ahead
                       : s.vy > 0 && s.vx == 0
                           ? s.y + ahead * s.vy >= 382
                           : speed < 2 * ahead + 2 || nextX < 32 || nextX > 512 - 32;
  // A boss walks or flies up to 10 pixels a frame.
  const double reach = (!s.dashing ? 20 : 40) + speed + 10 + 10 * (ahead - 2);
  if (exposed && canEscape && BodyThreat(s, reach, ax, ay)) {
    if (reachable && !tooHigh) {
      // Through it toward the target: a dashing hero cannot be hurt.
      Aim(s, want, dx, dy);
    } else {
      Aim(s, want, -ax, ay > 0 ? -ay : 0);
    }
    want[kB] = true;
    return;
  }

  if (s.dashing) {
    // Dashing: once through the target (it is now behind), turn and dash back at it.
    const bool behind = (s.vx * dx + s.vy * dy) < 0;
    if (reachable && canPress && behind && dist > 40 && !tooHigh) {
      Aim(s, want, dx, dy);
      want[kB] = true;
    }
    return;
  }
  if (reachable && canPress && dist < 230 && !tooHigh) {
    Aim(s, want, dx, dy);
    want[kB] = true;
  } else if (threat >= 0 && threat <= ahead + 1 && canPress) {
    // No time to walk away: a dash makes the hero untouchable.
    Aim(s, want, dx == 0 ? 1 : dx, 0);
    want[kB] = true;
  } else if (s.airborne && !canPress && BodyThreat(s, 120, ax, ay)) {
    // Falling without dashes to spare: drift away from the boss below.
    if (ax > 0)
      want[kL] = true;
    else
      want[kR] = true;
  } else {
    // Walk under the target; jump toward it once close enough below it. What has gone up out
    // of sight comes down again where it went up: wait beside that spot, not under it.
    const double goal = haveTarget && !reachable ? ClearOfAbove(s) - 8 : tx;
    if (goal - hx > 12) want[kR] = true;
    if (goal - hx < -12) want[kL] = true;
    if (reachable && !s.airborne && std::fabs(dx) < 120 && dy < -60) want[kU] = true;
    if (threat >= 0 && !s.airborne) want[kU] = true;
  }
}

// The hero's place farthest from under every boss above the screen, the nearest such place
// when several are as far.
inline double ScriptedPlayer::ClearOfAbove(const Sight& s) {
  double best = s.x, bestGap = -1;
  for (double x = 32; x <= 480; x += 8) {
    double gap = 1e9;
    for (const Sight::Boss& b : s.bosses) {
      if (b.box.bottom > 0) continue;
      gap = std::min(gap, std::max({b.box.left - x, x - 16 - b.box.right, 0.0}));
    }
    if (gap > bestGap || (gap == bestGap && std::fabs(x - s.x) < std::fabs(best - s.x))) {
      best = x;
      bestGap = gap;
    }
  }
  return best;
}

// The stick for a dash toward (dx, dy): one of eight directions; straight down and the down
// diagonals only in the air.
inline void ScriptedPlayer::Aim(const Sight& s, bool want[kKeys], double dx, double dy) {
  const double a = std::atan2(-dy, dx);  // up is positive
  const int octant = static_cast<int>(std::lround(a / (std::numbers::pi / 4))) & 7;
  static const int sx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
  static const int sy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
  int x = sx[octant], y = sy[octant];
  if (y > 0 && !s.airborne) {
    y = 0;
    if (x == 0) x = dx < 0 ? -1 : 1;
  }
  // Straight up from the floor is a jump, not a dash, and a dash straight down ends where it
  // lands, maybe inside a boss standing there: go slanted instead, which slides on. A dash
  // into the wall beside the hero stops at once.
  if (x == 0 && ((y < 0 && !s.airborne) || y > 0)) x = s.x < 256 ? 1 : -1;
  if ((x < 0 && s.x <= 32 + 1) || (x > 0 && s.x >= 512 - 32 - 1)) x = -x;
  want[kL] = x < 0;
  want[kR] = x > 0;
  want[kU] = y < 0;
  want[kD] = y > 0;
}

}  // namespace e2e
