// The first stage played from the title to the credits and back to the stage select: the
// screens on the way, the gauge filling before the music, the music's position driving the
// chart, the boss landing on the chart's bass notes, the drums of the game heard in the rendered
// audio, and the boss's end.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "e2e/GameSession.h"
#include "platform/mci/Mp3Decoder.h"

namespace e2e {
namespace {

constexpr std::uint32_t kTitleBack = 0xE09400;  // $94E0 as the screen shows it
constexpr std::uint32_t kInk = 0x000000;

struct PlayFrame {
  int position;
  bool passed;
  int current;  // index of the current note
  bool bossThere;
  double bossY;
  bool shaking;
  std::size_t audioAt;  // stereo frames rendered when the frame ran
  int hitCounter;
  int combo;
};

// The index of the last note at or before Ms in a sorted chart with the sentinel at 0.
int LastNoteAt(const std::vector<ChartNote>& notes, int Ms) {
  int idx = 0;
  for (std::size_t i = 0; i < notes.size(); ++i)
    if (notes[i].time <= Ms) idx = static_cast<int>(i) + 1;
  return idx;
}

// Height of the beat jump above the ground, from the chart alone.
double ExpectedJump(const std::vector<ChartNote>& notes, int Ms, double Scale) {
  int prev = -1, next = -1;
  for (const ChartNote& n : notes) {
    if (n.kind != 2) continue;
    if (n.time <= Ms) prev = n.time;
    if (n.time > Ms && next < 0) next = n.time;
  }
  if (prev < 0 || next < 0) return 0;
  const double e = Ms - prev, t = next - prev;
  return Scale * 4 * e * (t - e) / t;
}

TEST(StageOne, FromTheTitleThroughTheStageToTheCreditsAndBack) {
  GameSession g;
  const std::vector<ChartNote> chart = ReadChart("Last Boss");
  ASSERT_GT(chart.size(), 100u);

  // Title: the name and the invitation in black on the title colour; nothing else moves.
  g.Frames(2);
  {
    const Shot& f = g.Shown();
    EXPECT_TRUE(Near(f.Pixel(5, 5), kTitleBack));
    EXPECT_GT(CountColour(f, 80, 50, 512, 160, kInk), 3000);
    EXPECT_GT(CountColour(f, 100, 230, 512, 290, kInk), 1500);
    EXPECT_EQ(CountColour(f, 0, 300, 512, 448, kInk), 0);
  }
  g.Hold(kButton1);  // button 1 does nothing on the title
  g.Frames(3);
  g.Let(kButton1);
  EXPECT_EQ(GameMode, 1);
  g.Press(kButton0);
  ASSERT_EQ(GameMode, 2);

  // Stage select: three entries, the hero beside the first.
  g.Frames(3);
  {
    const Shot& f = g.Shown();
    for (int i = 1; i <= 3; ++i)
      EXPECT_GT(CountColour(f, 120, i * 50 + 200, 400, i * 50 + 230, kInk), 100) << i;
    EXPECT_EQ(HeroSprite->X, 95);
    EXPECT_EQ(HeroSprite->Y, 268);
    EXPECT_GT(PictureShown(f, g.Picture("Hero"), 95 - 16, 268 - 16), 0.95);
  }

  // The stage starts on the press; the boss stands on the same frame.
  g.Hold(kButton0);
  ASSERT_TRUE(g.Frame());
  const std::size_t selectAudioAt = g.hb->CapturedAudio().size() / 2;  // the "Snare" of the choice
  g.Let(kButton0);
  ASSERT_EQ(GameMode, 3);
  ASSERT_EQ(g.SpritesOf<TGrumbakSprite>().size(), 1u);
  TGrumbakSprite* boss = g.SpritesOf<TGrumbakSprite>()[0];
  const double ground = 448 - boss->Height - 50;
  EXPECT_EQ(Score->Count(), static_cast<int>(chart.size()) + 1);
  EXPECT_TRUE(WaitingToStart);
  EXPECT_EQ(HeroSprite->Power, 10);
  EXPECT_EQ(g.form->MediaPlayer1->Mode(), mpStopped);

  // "Ready" while the gauge fills, "Go" from the 52nd frame, the gauge full on the 61st, the
  // sprites moving from the 62nd and the music from the 63rd.
  for (int n = 1; n <= 63; ++n) {
    const double bossX = boss->X;
    ASSERT_TRUE(g.Frame());
    const Shot& f = g.Shown();
    if (n <= 51) {
      EXPECT_GT(PictureShown(f, g.Picture("Ready"), 100, 100), 0.99) << n;
    } else if (n <= 62) {
      EXPECT_GT(PictureShown(f, g.Picture("Go"), 130, 90), 0.99) << n;
    } else {
      EXPECT_LT(PictureShown(f, g.Picture("Go"), 130, 90), 0.5) << n;
    }
    // Full on the 61st; from the music's start on, the gauge drains.
    EXPECT_EQ(HeroSprite->Power >= 404, n >= 61 && n <= 62) << n;
    EXPECT_EQ(Running, n >= 62) << n;
    EXPECT_EQ(boss->X != bossX, n >= 62) << n;
    EXPECT_EQ(g.form->MediaPlayer1->Mode() == mpPlaying, n >= 63) << n;
  }
  EXPECT_FALSE(WaitingToStart);
  const std::size_t musicStart = g.hb->CapturedAudio().size() / 2;

  // The status band: the gauge bar over the meter, the dash count.
  {
    const Shot& f = g.Shown();
    EXPECT_GT(PictureShown(f, g.Picture("Meter"), 50, 398 + 17), 0.5);
    EXPECT_TRUE(Near(f.Pixel(200, 398 + 17 + 2), 0x00FF00));
    EXPECT_EQ(CountColour(f, 0, 397, 512, 400, kInk), 512 * 3);
    EXPECT_GT(CountColour(f, 5, 415, 48, 435, kInk), 20);
  }

  // The stage, with the hero kept alive and dashing through the boss from time to time.
  std::vector<PlayFrame> play;
  int t = 0;
  while (GameMode == 3 && t < 3000) {
    ++t;
    HeroSprite->Power = 404;
    // (The boss is freed on the frame its end comes, which may be one before the play ends.)
    if (t % 12 == 0 && HeroSprite->Action == 0 && !g.SpritesOf<TGrumbakSprite>().empty()) {
      const bool right = boss->X + boss->Width / 2 > HeroSprite->X;
      g.Hold(right ? kRight : kLeft);
      g.Hold(kButton0);
    }
    if (t % 12 == 1) {
      g.Let(kButton0);
      g.Let(kRight);
      g.Let(kLeft);
    }
    ASSERT_TRUE(g.Frame()) << t;
    if (GameMode != 3) break;
    const bool there = !g.SpritesOf<TGrumbakSprite>().empty();
    play.push_back({Score->Position, Score->Passed, Score->CurrentIndex, there,
                    there ? boss->Y : 0.0, there && boss->Shaking, g.hb->CapturedAudio().size() / 2,
                    HitCounter, HeroSprite->Combo});
    // The music's position drives the chart.
    ASSERT_EQ(Score->Position, g.form->MediaPlayer1->Position());
  }
  ASSERT_EQ(GameMode, 5);
  EXPECT_EQ(g.Engine()->Count(), 1);
  EXPECT_EQ(HeroSprite->Power, 10);  // reset for whatever comes next

  // Positions follow the played audio, 34 ms or so a frame, and never go back.
  int landings = 0, shakingFrames = 0;
  for (std::size_t i = 1; i < play.size(); ++i) {
    const PlayFrame& p = play[i];
    EXPECT_GE(p.position, play[i - 1].position);
    if (p.position < chart.back().time - 1000) {
      EXPECT_NEAR(p.position - play[i - 1].position, 34, 1);
    }
    EXPECT_EQ(p.current, LastNoteAt(chart, p.position)) << p.position;
    if (!p.bossThere) continue;
    if (p.shaking) {
      ++shakingFrames;
      EXPECT_GE(p.position, chart.back().time);
      continue;
    }
    EXPECT_NEAR(ground - p.bossY, ExpectedJump(chart, p.position, 0.2), 1e-6) << p.position;
    // The boss touches the ground as a bass note passes: it is close above it on the frames on
    // either side of the note.
    const ChartNote& cur = chart[std::max(p.current - 1, 0)];
    if (p.passed && cur.kind == 2 && play[i - 1].current != p.current) {
      ++landings;
      EXPECT_LE(ground - p.bossY, 0.2 * 4 * (p.position - cur.time) + 1e-9);
      if (play[i - 1].bossThere && !play[i - 1].shaking) {
        EXPECT_LE(ground - play[i - 1].bossY, 0.2 * 4 * (cur.time - play[i - 1].position) + 1e-9);
      }
    }
  }
  int bassNotes = 0;
  for (const ChartNote& n : chart) bassNotes += n.kind == 2;
  EXPECT_EQ(landings, bassNotes);
  EXPECT_GT(shakingFrames, 30);  // from the end note until the music stops
  EXPECT_GT(HitCounter, 3);

  // The game's own drums over the music: the rendered audio less the decoded music holds only
  // what the game played, from the frames that played it.
  {
    const std::vector<std::int16_t>& heard = g.hb->CapturedAudio();
    mci::Mp3Decoder music("Sound/Last Boss.mp3");
    std::vector<std::int16_t> m(static_cast<std::size_t>(music.Length()) * 2);
    music.Read(m.data(), static_cast<int>(music.Length()));
    std::vector<float> rest(heard.size() / 2, 0.0f);
    for (std::size_t i = 0; i < rest.size(); ++i) {
      const std::size_t k = i - musicStart;
      const float musicHere =
          i >= musicStart && k < m.size() / 2 ? (m[2 * k] + m[2 * k + 1]) * 0.5f : 0;
      rest[i] = (heard[2 * i] + heard[2 * i + 1]) * 0.5f - musicHere;
    }
    auto energy = [&](std::size_t a, std::size_t b) {
      double e = 0;
      for (std::size_t i = a; i < b && i < rest.size(); ++i) e += rest[i] * rest[i];
      return e / static_cast<double>(b - a);
    };
    // Where the game started a sound: the chart's notes that throw or sound (not the last one,
    // not once the boss shakes), and every third hit on the boss.
    std::vector<std::size_t> starts = {selectAudioAt};
    for (std::size_t i = 1; i < play.size(); ++i) {
      const PlayFrame& p = play[i];
      const ChartNote& cur = chart[std::max(p.current - 1, 0)];
      const bool thrown = p.passed && play[i - 1].current != p.current && cur.kind >= 1 &&
                          cur.kind <= 4 && p.current < static_cast<int>(chart.size()) && !p.shaking;
      const bool burst = p.hitCounter / 3 != play[i - 1].hitCounter / 3;
      if (thrown || burst) starts.push_back(p.audioAt);
    }
    ASSERT_GT(starts.size(), 150u);
    // Each is heard: a drum's attack lifts the level over whatever still sounds, to an RMS of
    // at least a third of the quietest sound's peak in its first 10 ms.
    int quietest = 32767;
    for (const char* name : {"Bass", "Snare", "SmallHit", "BigHit"}) {
      const TWave* w = g.form->DXWaveList1->Items()->Find(name)->Wave();
      const auto* s = reinterpret_cast<const std::int16_t*>(w->Data());
      int peak = 0;
      for (std::int32_t i = 0; i < w->Size() / 2; ++i) peak = std::max(peak, std::abs(int{s[i]}));
      quietest = std::min(quietest, peak);
    }
    const double attack = (quietest / 3.0) * (quietest / 3.0);
    int heardAt = 0;
    for (std::size_t at : starts) {
      const double before = energy(at - 441, at), after = energy(at, at + 441);
      heardAt += after > 1.2 * before && after > attack;
    }
    EXPECT_EQ(heardAt, static_cast<int>(starts.size()));
    // And nothing else is: every sample left over lies within a sound's length of a start.
    std::size_t longest = 0;
    for (const char* name : {"Bass", "Snare", "SmallHit", "BigHit"}) {
      TWave* w = g.form->DXWaveList1->Items()->Find(name)->Wave();
      const std::uint8_t* fmt = w->Format();
      const std::uint32_t rate = fmt[4] | fmt[5] << 8 | fmt[6] << 16 | std::uint32_t(fmt[7]) << 24;
      const int align = fmt[12] | fmt[13] << 8;
      longest = std::max<std::size_t>(longest, std::size_t(w->Size() / align) * 44100 / rate + 2);
    }
    std::size_t stray = 0, next = 0;
    for (std::size_t i = 0; i < rest.size(); ++i) {
      while (next < starts.size() && starts[next] <= i) ++next;
      if (rest[i] == 0) continue;
      if (next == 0 || i - starts[next - 1] >= longest) ++stray;
    }
    EXPECT_EQ(stray, 0u);
  }

  // The credits roll, the hero waits unseen, and the stage select comes back after 903 frames.
  int ending = 0;
  while (GameMode == 5 && ending < 2000) {
    ASSERT_TRUE(g.Frame());
    ++ending;
    if (ending == 60) {
      const Shot& f = g.Shown();
      EXPECT_GT(CountColour(f, 50, 50, 512, 160, kInk), 3000);  // "You Win!"
      EXPECT_GT(CountColour(f, 50, 300, 400, 330, kInk), 500);  // "Thanks for playing!!"
      TPictureCollectionItem* dravik = g.Picture("Dravik");
      EXPECT_GT(PictureShown(f, dravik, 512 - dravik->Width(), 448 - dravik->Height()), 0.99);
      EXPECT_LT(PictureShown(f, g.Picture("Hero"), static_cast<int>(HeroSprite->X) - 16,
                             static_cast<int>(HeroSprite->Y) - 16),
                0.5);
    }
  }
  EXPECT_EQ(ending, 903);
  EXPECT_EQ(GameMode, 2);
  EXPECT_EQ(CreditsScroll, 0);
  g.Frames(2);
  EXPECT_TRUE(Near(g.Shown().Pixel(5, 5), Rgb(BackColor)));
  EXPECT_TRUE(g.hb->MessageBoxes().empty());
}

}  // namespace
}  // namespace e2e
