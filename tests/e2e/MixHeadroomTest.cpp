// Whole play-throughs rendered on the headless backend never reach full scale: both stages played
// to the end of the credits with the hero dashing through the boss for note bursts, the hero's
// end with the continue screen answered both ways, and the editor playing a whole chart. The
// game's own drums still stand clearly above the music they are played over.
//
// Nothing here depends on the charts: the hero is kept alive by the test (the bosses leave when
// the music ends), or left alone until it is lost.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/EditorSession.h"
#include "e2e/GameSession.h"
#include "editor/Main.h"
#include "platform/mci/Mp3Decoder.h"

namespace e2e {
namespace {

constexpr std::size_t kMs = 44100 / 1000;  // stereo frames a millisecond

// Samples at either end of the 16-bit range: the mix reached full scale there and was cut.
std::size_t CountClipped(const std::vector<std::int16_t>& audio) {
  return static_cast<std::size_t>(std::count_if(
      audio.begin(), audio.end(), [](std::int16_t s) { return s >= 32767 || s <= -32768; }));
}

double DbFs(double level) { return 20 * std::log10(std::max(level, 1.0) / 32768); }

// What bursts into notes: the first boss, or the second stage's real block.
TSprite* BurstTarget(GameSession& g) {
  if (auto grumbak = g.SpritesOf<TGrumbakSprite>(); !grumbak.empty()) return grumbak[0];
  for (TStakkoSprite* s : g.SpritesOf<TStakkoSprite>())
    if (s->Segment == TrueSegment) return s;
  return nullptr;
}

// Dashes at the target on every other frame the hero is not already dashing: faster than any
// person, so the bursts' sounds pile up as much as the game lets them.
void Attack(GameSession& g, int t) {
  for (int key : {kButton0, kLeft, kRight, kUp}) g.Let(key);
  THeroSprite* h = HeroSprite;
  TSprite* target = BurstTarget(g);
  if (t % 2 == 1 || h == nullptr || target == nullptr || h->Action != 0) return;
  g.Hold(target->X + target->Width / 2 > h->X ? kRight : kLeft);
  if (target->Y + target->Height / 2 < h->Y - 40) g.Hold(kUp);
  g.Hold(kButton0);
}

struct PlayThrough {
  std::vector<std::int16_t> audio;  // everything rendered, interleaved stereo
  std::size_t musicStart = 0;       // stereo frame from which the stage's music sounds
  std::vector<std::size_t> bursts;  // stereo frames rendered when a note had just burst out
};

// From the title through the whole stage, the hero kept alive and attacking, to the end of the
// credits and back to the stage select.
PlayThrough ClearWithBursts(int stage) {
  PlayThrough r;
  GameSession g;
  g.StartStageFromTitle(stage);
  EXPECT_EQ(GameMode, 3);
  int t = 0;
  while (GameMode == 3 && t++ < 6000) {
    if (HeroSprite != nullptr) HeroSprite->Power = 404;
    Attack(g, t);
    const bool waiting = WaitingToStart;
    const int bursts = HitCounter / 3;
    EXPECT_TRUE(g.Frame());
    const std::size_t rendered = g.hb->CapturedAudio().size() / 2;
    if (waiting && !WaitingToStart) r.musicStart = rendered;
    if (HitCounter / 3 != bursts) r.bursts.push_back(rendered);
  }
  EXPECT_EQ(GameMode, 5) << "stage " << stage << " was not cleared";
  for (int key : {kButton0, kLeft, kRight, kUp}) g.Let(key);
  while (GameMode == 5 && t++ < 10000) EXPECT_TRUE(g.Frame());
  EXPECT_EQ(GameMode, 2) << "the credits did not end";
  r.audio = g.hb->TakeAudio();
  return r;
}

// The hero lost twice, over the music after a few bursts: its end, the debris, the continue
// screen, "Yes" for the stage again, and after the second end "No" back to the title.
std::vector<std::int16_t> LoseAndContinue(int stage) {
  GameSession g;
  g.StartStageFromTitle(stage);
  for (int answer : {kUp, kDown}) {
    int t = 0;
    while (GameMode == 3 && t++ < 6000) {
      if (t < 300) Attack(g, t);
      EXPECT_TRUE(g.Frame());
    }
    for (int key : {kButton0, kLeft, kRight, kUp}) g.Let(key);
    EXPECT_EQ(GameMode, 4) << "the hero was not lost in stage " << stage;
    for (int i = 0; i < 200 && HeroSprite == nullptr; ++i) EXPECT_TRUE(g.Frame());
    g.Hold(answer);
    g.Frames(2);
    g.Hold(kButton0);
    g.Frames(1);
    g.Let(kButton0);
    g.Let(answer);
    g.Frames(30);
  }
  EXPECT_EQ(GameMode, 1);
  return g.hb->TakeAudio();
}

// The music as decoded, interleaved stereo.
std::vector<std::int16_t> DecodedMusic(const std::string& file) {
  mci::Mp3Decoder decoder(file);
  std::vector<std::int16_t> music(static_cast<std::size_t>(decoder.Length()) * 2);
  decoder.Read(music.data(), static_cast<int>(decoder.Length()));
  return music;
}

// How far the game's drums stand above the music when a note bursts out, in dB: the RMS of what
// the game played (the rendered mix less the decoded music) over the RMS of the music, in the
// 100 ms from one frame before the burst. Sorted, one figure a burst.
std::vector<double> DrumsOverMusic(const PlayThrough& r, const std::string& musicFile) {
  const std::vector<std::int16_t> music = DecodedMusic(musicFile);
  auto musicAt = [&](std::size_t i) -> double {
    const std::size_t k = i - 2 * r.musicStart;
    return i >= 2 * r.musicStart && k < music.size() ? music[k] : 0;
  };
  std::vector<double> figures;
  for (std::size_t b : r.bursts) {
    double drums = 0, under = 0;
    for (std::size_t i = 2 * (b - 34 * kMs); i < 2 * (b + 66 * kMs) && i < r.audio.size(); ++i) {
      const double m = musicAt(i), d = r.audio[i] - m;
      drums += d * d;
      under += m * m;
    }
    figures.push_back(10 * std::log10((drums + 1) / (under + 1)));
  }
  std::sort(figures.begin(), figures.end());
  return figures;
}

TEST(MixHeadroom, BothStagesToTheCreditsWithBurstsNeverClipAndTheDrumsStandOut) {
  const struct {
    int stage;
    const char* music;
  } stages[] = {{1, "Sound/Last Boss.mp3"}, {2, "Sound/スタッコのスタッコ.mp3"}};
  for (const auto& s : stages) {
    SCOPED_TRACE(s.stage);
    const PlayThrough r = ClearWithBursts(s.stage);
    ASSERT_GT(r.bursts.size(), 20u) << "the play-through hardly burst any notes";
    const std::size_t clipped = CountClipped(r.audio);
    const auto [low, high] = std::minmax_element(r.audio.begin(), r.audio.end());
    const std::vector<double> over = DrumsOverMusic(r, s.music);
    std::printf(
        "[ mix ] stage %d cleared: %.1f s, %zu bursts, %zu clipped samples, peak %.1f dBFS; "
        "drums over music %.1f dB at least, %.1f dB at the 10th percentile, %.1f dB median\n",
        s.stage, static_cast<double>(r.audio.size()) / 2 / 44100, r.bursts.size(), clipped,
        DbFs(std::max(-double(*low), double(*high))), over.front(), over[over.size() / 10],
        over[over.size() / 2]);
    EXPECT_EQ(clipped, 0u);
    // A drum is clearly heard over the music at nearly every burst.
    EXPECT_GE(over[over.size() / 10], 6.0);
    EXPECT_GE(over[over.size() / 2], 10.0);
  }
}

int PeakOf(const std::int16_t* samples, std::size_t n) {
  int peak = 0;
  for (std::size_t i = 0; i < n; ++i) peak = std::max(peak, std::abs(int{samples[i]}));
  return peak;
}

int StoredPeak(const std::string& name) {
  const TWave* w = Form1->DXWaveList1->Items()->Find(name)->Wave();
  return PeakOf(reinterpret_cast<const std::int16_t*>(w->Data()),
                static_cast<std::size_t>(w->Size()) / 2);
}

// The copies of each stored sound now playing.
std::map<std::string, int> SoundsPlaying() {
  std::map<std::string, int> playing;
  TWaveCollection* items = Form1->DXWaveList1->Items();
  for (int i = 0; i < items->Count(); ++i)
    for (TDirectSoundBuffer* b : items->GetItem(i)->BufferList())
      if (b->Playing()) ++playing[items->GetItem(i)->Name()];
  return playing;
}

// The most sounds the game starts on one frame: on the second stage the hero runs out of gauge
// while it dashes through all three blocks, on the contact that sounds each decoy and the one
// that bursts a note out of the real block (at a low combo, a "Bass" like the decoys'). Started
// where the music is loudest they do not clip, and even with every peak meeting the music's
// loudest sample they stay a decibel below full scale.
TEST(MixHeadroom, TheLargestStackOfSoundsOnOneFrameLeavesADecibelOverTheMusic) {
  const std::string musicFile = "Sound/スタッコのスタッコ.mp3";
  const std::vector<std::int16_t> music = DecodedMusic(musicFile);
  const std::size_t loudest = static_cast<std::size_t>(
      std::max_element(music.begin(), music.end(),
                       [](std::int16_t a, std::int16_t b) { return std::abs(a) < std::abs(b); }) -
      music.begin());
  const double loudestMs = static_cast<double>(loudest / 2) / kMs;

  GameSession g;
  g.StartStageFromTitle(2);
  ASSERT_EQ(GameMode, 3);
  // Kept alive and still until the frame before the music's loudest moment.
  std::size_t musicStart = 0;
  while (GameMode == 3 && (WaitingToStart || Score->Position + 40 < loudestMs)) {
    HeroSprite->Power = 404;
    HeroSprite->Blink = 2;
    const bool waiting = WaitingToStart;
    ASSERT_TRUE(g.Frame());
    if (waiting && !WaitingToStart) musicStart = g.hb->CapturedAudio().size() / 2;
  }
  ASSERT_EQ(GameMode, 3);
  ASSERT_TRUE(SoundsPlaying().empty());

  // The hero dashes on with its gauge spent; after its move this frame it sits in the middle of
  // the three blocks.
  THeroSprite* h = HeroSprite;
  h->X = 200;
  h->Y = 200;
  h->Velocity = MakeVector(20, 0);
  h->Action = 1;
  h->Blink = 0;
  h->Combo = 0;
  h->Power = 1;
  const double cx = h->X + 18 - 8, cy = h->Y - 8;  // the centre of its box after the move
  for (TStakkoSprite* s : g.SpritesOf<TStakkoSprite>()) {
    s->X = cx - s->Width / 2.0;
    s->Y = cy - s->Height / 2.0;
    s->Velocity = MakeVector(0, 0);
    s->Collisioned = true;
    s->Guard = false;
    s->HitCount = 0;  // the next contact sounds
  }
  HitCounter = 2;  // the next contact bursts
  const std::size_t from = g.hb->CapturedAudio().size();
  ASSERT_TRUE(g.Frame());
  EXPECT_EQ(HeroSprite, nullptr);
  const std::map<std::string, int> started = SoundsPlaying();
  EXPECT_EQ(started, (std::map<std::string, int>{{"Bass", 3}, {"End", 1}}));
  int stack = 0;
  for (const auto& [name, n] : started) stack += n;

  // What was played over the following second.
  g.Frames(30);
  const std::vector<std::int16_t> audio = g.hb->TakeAudio();
  const std::size_t n = std::min(audio.size() - from, 2 * 44100 * std::size_t{1});
  const std::size_t clipped =
      CountClipped(std::vector<std::int16_t>(audio.begin() + from, audio.begin() + from + n));
  const int played = PeakOf(audio.data() + from, n);
  const std::size_t at = from / 2 - musicStart;

  // The worst the game allows: the loudest music of either stage, and every peak meeting it.
  int musicPeak = PeakOf(music.data(), music.size());
  const std::vector<std::int16_t> first = DecodedMusic("Sound/Last Boss.mp3");
  musicPeak = std::max(musicPeak, PeakOf(first.data(), first.size()));
  int burst = 0;
  for (const char* name : {"Bass", "Snare", "SmallHit", "BigHit"})
    burst = std::max(burst, StoredPeak(name));
  const int worst = musicPeak + 2 * StoredPeak("Bass") + burst + StoredPeak("End");
  std::printf(
      "[ mix ] largest stack (%d sounds) on one frame at %.2f s of the music (loudest %.2f s): %zu "
      "clipped samples, peak %.1f dBFS; all peaks meeting the loudest music: %.2f dBFS\n",
      stack, static_cast<double>(at) / 44100, loudestMs / 1000, clipped, DbFs(played), DbFs(worst));
  EXPECT_EQ(clipped, 0u);
  EXPECT_LE(DbFs(worst), -1.0);
}

TEST(MixHeadroom, TheHerosEndAndTheContinueScreenNeverClip) {
  for (int stage : {1, 2}) {
    SCOPED_TRACE(stage);
    const std::vector<std::int16_t> audio = LoseAndContinue(stage);
    const std::size_t clipped = CountClipped(audio);
    std::printf("[ mix ] stage %d lost twice: %.1f s, %zu clipped samples\n", stage,
                static_cast<double>(audio.size()) / 2 / 44100, clipped);
    EXPECT_EQ(clipped, 0u);
  }
}

// The editor sounds every note's drum over the same music, the long cymbal and hit among them.
TEST(MixHeadroom, TheEditorPlayingAWholeChartNeverClips) {
  for (const std::string name : {"Last Boss.txt", "スタッコのスタッコ.txt"}) {
    SCOPED_TRACE(name);
    ScratchFolder dir("mix");
    std::filesystem::copy_file("Score/" + name, dir.Dir() + name);
    EditorSession s(dir.Dir() + name);
    s.Tap(kPlaybackKey);
    s.hb->ClearAudio();
    ASSERT_TRUE(s.FramesUntil([] { return Tessaly::MusicPos > 1000; }));
    // Playback starts the music again once it has ended: stop at its end.
    const int end = s.form->BGM1->Length() - 50;
    ASSERT_TRUE(s.FramesUntil([&] { return Tessaly::MusicPos >= end; }, 10000));
    const std::vector<std::int16_t> audio = s.hb->TakeAudio();
    const std::size_t clipped = CountClipped(audio);
    const auto [low, high] = std::minmax_element(audio.begin(), audio.end());
    std::printf("[ mix ] editor playing %s: %.1f s, %zu clipped samples, peak %.1f dBFS\n",
                name.c_str(), static_cast<double>(audio.size()) / 2 / 44100, clipped,
                DbFs(std::max(-double(*low), double(*high))));
    EXPECT_EQ(clipped, 0u);
  }
}

}  // namespace
}  // namespace e2e
