// The reference's own faults first: recordings made up from the music with a known history
// (a lead-in of silence, a dropout, music played twice across a pause, output cut to pieces)
// must come out of the alignment as that history, to the frame. No server is needed.
#include <gtest/gtest.h>

#include <cmath>

#include "audioserver/Alignment.h"
#include "platform/mci/Mp3Decoder.h"

namespace audioserver {
namespace {

constexpr int kRate = 48000;

const std::vector<float>& Music44k() {
  static const std::vector<float> music = [] {
    mci::Mp3Decoder decoder("Sound/Last Boss.mp3");
    const auto n = std::min<std::int64_t>(decoder.Length(), 44100 * 12);
    std::vector<std::int16_t> stereo(static_cast<std::size_t>(n) * 2);
    decoder.Read(stereo.data(), static_cast<int>(n));
    std::vector<float> mono(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < mono.size(); ++i)
      mono[i] = (stereo[2 * i] + stereo[2 * i + 1]) / 65536.0f;
    return mono;
  }();
  return music;
}

// Music from `from` for `count` frames at 48 kHz (band-limited enough for this: the drums'
// places matter, not their exact shape).
std::vector<float> MusicAt48k(double fromS, double seconds) {
  const auto& m = Music44k();
  std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double x = fromS * 44100 + static_cast<double>(i) * 44100.0 / kRate;
    const auto k = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(k);
    out[i] = k + 1 < m.size() ? static_cast<float>(m[k] * (1 - f) + m[k + 1] * f) : 0.0f;
  }
  return out;
}

struct Made {
  Recording rec;
  Made& Silence(double seconds) {
    rec.samples.insert(rec.samples.end(), static_cast<std::size_t>(seconds * kRate), 0.0f);
    return *this;
  }
  Made& Music(double fromS, double seconds) {
    const auto part = MusicAt48k(fromS, seconds);
    rec.samples.insert(rec.samples.end(), part.begin(), part.end());
    return *this;
  }
  // A sink that plays on at its rate from frame 0 at time 0, marked every 2 ms.
  Recording Done() {
    rec.rate = kRate;
    const auto n = static_cast<std::int64_t>(rec.samples.size());
    for (std::int64_t f = 0; f <= n; f += kRate / 500)
      rec.marks.push_back({f * 1'000'000'000LL / kRate, static_cast<double>(f)});
    return rec;
  }
};

constexpr std::int64_t kEnd = 1'000'000'000'000LL;

TEST(Alignment, WholeMusicAfterALeadInIsOneStretchAndEveryInstantIsKnown) {
  const Recording rec = Made().Silence(0.3).Music(0, 8).Done();
  const Alignment a(rec, Music44k(), kEnd);
  EXPECT_EQ(a.PoorMatches(), 0);
  EXPECT_EQ(a.LagJumps(), 0);
  EXPECT_EQ(a.Gaps(), 0);
  ASSERT_EQ(a.Stretches().size(), 1u) << a.Describe();
  // 5 s after the music began, frame 5 s of the music was leaving the sink.
  const auto heard = a.HeardAt(5'300'000'000LL);
  ASSERT_TRUE(heard);
  EXPECT_NEAR(*heard, 5 * 44100.0, 0.05 * 44.1);
  EXPECT_FALSE(a.HeardAt(100'000'000LL)) << "nothing was heard in the lead-in";
}

TEST(Alignment, AShortDropoutIsAGapOrABreak) {
  // 3 ms of nothing in the middle of the music, which then goes on where it was.
  const Recording rec = Made().Silence(0.2).Music(0, 5).Silence(0.003).Music(5, 3).Done();
  const Alignment a(rec, Music44k(), kEnd);
  EXPECT_TRUE(a.Gaps() > 0 || a.Stretches().size() > 1 || a.LagJumps() > 0) << a.Describe();
}

TEST(Alignment, MusicPlayedTwiceAcrossAPauseShowsAsTheOverlap) {
  const Recording rec = Made().Silence(0.2).Music(0, 5).Silence(1).Music(4.977, 3).Done();
  const Alignment a(rec, Music44k(), kEnd);
  ASSERT_EQ(a.Stretches().size(), 2u) << a.Describe();
  const double overlapMs =
      (a.Stretches()[0].musicLast + 1 - a.Stretches()[1].musicFirst) * 1000 / 44100;
  EXPECT_NEAR(overlapMs, 23, 0.5);
}

TEST(Alignment, MusicCutToPiecesIsNotWhole) {
  // What a sink that gets 512 frames a cycle of 1024 plays: half of it silence, the music at
  // half its speed.
  Made m;
  m.Silence(0.2);
  for (int k = 0; k < 80; ++k) m.Music(2 + k * 512.0 / kRate, 512.0 / kRate).Silence(512.0 / kRate);
  const Recording rec = m.Done();
  const Alignment a(rec, Music44k(), kEnd);
  EXPECT_GT(a.Gaps() + a.PoorMatches() + a.LagJumps(), 10) << a.Describe();
  EXPECT_GT(a.SilentShare(), 0.45);
  EXPECT_LT(a.SilentShare(), 0.6);
}

}  // namespace
}  // namespace audioserver
