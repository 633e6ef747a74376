// The reference's own faults first: recordings made up from the music with a known history
// (a lead-in of silence, a dropout, music played twice across a pause, output cut to pieces)
// must come out of the alignment as that history, to the frame. No server is needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

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
  // The music resampled as a server's resampler does, keeping its highs (a windowed sinc of 32
  // taps), where the reference's own copy keeps them less.
  Made& FinelyResampled(double fromS, double seconds) {
    const auto& m = Music44k();
    const auto n = static_cast<std::size_t>(seconds * kRate);
    constexpr int kTaps = 16;  // on each side
    constexpr double kPi = 3.14159265358979323846;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = fromS * 44100 + static_cast<double>(i) * 44100.0 / kRate;
      const auto k = static_cast<std::int64_t>(std::floor(x));
      double sum = 0;
      for (std::int64_t j = k - kTaps + 1; j <= k + kTaps; ++j) {
        if (j < 0 || j >= static_cast<std::int64_t>(m.size())) continue;
        const double d = x - static_cast<double>(j);
        const double sinc = d == 0 ? 1 : std::sin(kPi * d) / (kPi * d);
        const double window = 0.5 + 0.5 * std::cos(kPi * d / kTaps);
        sum += m[static_cast<std::size_t>(j)] * sinc * window;
      }
      rec.samples.push_back(static_cast<float>(sum));
    }
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

// The sink's frames fall between the music's: here half a frame after them, the worst case. The
// music is matched at its fractional lag, so no block of it comes near being taken for sound
// that is not the music (a server's resampler starts at any phase).
TEST(Alignment, MusicHalfAFrameOffIsMatchedAtItsFractionalLag) {
  const Recording rec = Made().Silence(0.3).FinelyResampled(0.5 / kRate, 11).Done();
  const Alignment a(rec, Music44k(), kEnd);
  EXPECT_EQ(a.PoorMatches(), 0) << a.Describe();
  EXPECT_EQ(a.LagJumps(), 0);
  ASSERT_EQ(a.Stretches().size(), 1u) << a.Describe();
  // Matched at whole frames the least of them came to 0.89.
  double least = 1;
  for (const auto& b : a.Blocks())
    if (!b.silent) least = std::min(least, b.match);
  EXPECT_GT(least, 0.93);
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

// A sink driven in cycles of 1024 frames that stalls for 60 ms after the cycle starting at 2 s
// of music (its frames then play, and the sound stands until the next cycle), and later plays
// silence for want of music.
TEST(Alignment, ASinkThatStallsStandsAfterItsLastCycleAndSilenceStandsAfterTheMusic) {
  constexpr int kCycle = 1024;
  constexpr std::int64_t kStallNs = 60'000'000;
  Recording rec = Made().Music(0, 4).Silence(1).rec;
  // Then a click that is not the music: what was heard there is not known.
  for (std::size_t i = 0; i < 480; ++i) rec.samples.push_back(i % 2 ? 0.3f : -0.3f);
  rec.samples.resize(rec.samples.size() + kRate / 2);
  rec.rate = kRate;
  rec.marksStartCycles = true;
  const auto cycleAt2s = (2 * kRate + kCycle - 1) / kCycle * kCycle;
  for (std::int64_t f = 0, ns = 0; f <= static_cast<std::int64_t>(rec.samples.size());
       f += kCycle) {
    rec.marks.push_back({ns, static_cast<double>(f)});
    ns += kCycle * 1'000'000'000LL / kRate + (f == cycleAt2s ? kStallNs : 0);
  }
  const Alignment a(rec, Music44k(), kEnd);
  ASSERT_EQ(a.Stretches().size(), 1u) << a.Describe();
  const std::int64_t stallNs = cycleAt2s * 1'000'000'000LL / kRate;
  const double standsAt = (cycleAt2s + kCycle) * 44100.0 / kRate;
  // The cycle plays at the rate, then the sound stands until the next one.
  const auto playing = a.HeardAt(stallNs + 10'000'000);
  ASSERT_TRUE(playing);
  EXPECT_NEAR(*playing, cycleAt2s * 44100.0 / kRate + 441, 0.05 * 44.1);
  for (const std::int64_t intoNs : {30'000'000LL, 50'000'000LL, 75'000'000LL}) {
    const auto standing = a.HeardAt(stallNs + intoNs);
    ASSERT_TRUE(standing) << intoNs;
    EXPECT_NEAR(*standing, standsAt, 0.05 * 44.1) << intoNs;
  }
  // After the next cycle began, at the rate from there.
  const auto after = a.HeardAt(stallNs + 21'333'333 + kStallNs + 10'000'000);
  ASSERT_TRUE(after);
  EXPECT_NEAR(*after, standsAt + 441, 0.05 * 44.1);
  // In the silence after the music nothing is heard, and the sound stands after its last frame.
  const std::int64_t silenceNs = 4'500'000'000LL + kStallNs;
  EXPECT_FALSE(a.HeardAt(silenceNs));
  const auto by = a.HeardBy(silenceNs);
  ASSERT_TRUE(by);
  EXPECT_NEAR(*by, a.Stretches()[0].musicLast + 44100.0 / kRate, 1e-6);
  EXPECT_NEAR(*by, 4 * 44100.0, 50 * 44.1) << "the stretch ends where the music's sound does";
  EXPECT_FALSE(a.HeardBy(5'005'000'000LL + kStallNs)) << "within the click";
}

// Music made up to repeat itself exactly, at 44.1 kHz: correlation alone can't tell its
// repeats apart, only where the previous block was can.
struct MadeMusic {
  std::vector<float> music;
  std::uint32_t seed = 12345;
  // A bar of noise, the same bar every time it is asked for again.
  MadeMusic& Bar(double seconds) {
    std::uint32_t r = seed;
    for (auto n = static_cast<std::size_t>(seconds * 44100); n > 0; --n) {
      r = r * 1664525u + 1013904223u;
      music.push_back((static_cast<float>(r >> 8) / 16777216.0f - 0.5f) * 0.5f);
    }
    return *this;
  }
  // Below the level of sound but, like the decay of real music, never nothing.
  MadeMusic& Rest(double seconds) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(seconds * 44100); ++i)
      music.push_back(i % 2 ? 5e-4f : -5e-4f);
    return *this;
  }
};

// The whole made-up music, played by a sink at 48 kHz after a lead-in of `leadS`.
Recording PlayedWhole(const std::vector<float>& music, double leadS) {
  Made m;
  m.Silence(leadS);
  const auto n = static_cast<std::size_t>(static_cast<double>(music.size() - 1) * kRate / 44100);
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i) * 44100.0 / kRate;
    const auto k = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(k);
    m.rec.samples.push_back(static_cast<float>(music[k] * (1 - f) + music[k + 1] * f));
  }
  return m.Silence(0.2).Done();
}

void ExpectWholeAndOrdered(const Alignment& a, double leadS, double atS) {
  EXPECT_EQ(a.LagJumps(), 0) << a.Describe();
  EXPECT_EQ(a.Gaps(), 0) << a.Describe();
  for (std::size_t k = 0; k < a.Stretches().size(); ++k) {
    EXPECT_LE(a.Stretches()[k].first, a.Stretches()[k].last) << a.Describe();
    if (k > 0) {
      EXPECT_LT(a.Stretches()[k - 1].last, a.Stretches()[k].first) << a.Describe();
    }
  }
  ASSERT_EQ(a.Stretches().size(), 1u) << a.Describe();
  const auto heard = a.HeardAt(static_cast<std::int64_t>((leadS + atS) * 1e9));
  ASSERT_TRUE(heard);
  EXPECT_NEAR(*heard, atS * 44100, 0.05 * 44.1);
}

TEST(Alignment, BarsRepeatedAcrossRestsOfTheMusicAreOneStretch) {
  // After each rest the same bar comes again; matched anywhere but where the music went on,
  // it would show as the music starting over.
  MadeMusic m;
  m.Bar(0.4).Rest(0.1).Bar(0.4).Rest(0.1).Bar(0.4).Rest(0.1).Bar(0.4);
  const Recording rec = PlayedWhole(m.music, 0.3);
  const Alignment a(rec, m.music, kEnd);
  EXPECT_EQ(a.PoorMatches(), 0) << a.Describe();
  ExpectWholeAndOrdered(a, 0.3, 1.3);
}

TEST(Alignment, AJumpRightAfterAQuietBlockLeavesTheStretchesInOrder) {
  // The music fades below the level of a silent block without ever being nothing, and the
  // sink starts the music over: the first stretch ends where the second begins.
  MadeMusic m;
  m.Bar(0.5).Rest(4800 / 44100.0);
  m.seed = 999;
  m.Bar(0.5);
  Made r;
  r.Silence(0.3);
  const double ratio = kRate / 44100.0;
  // Music up to the end of the quiet part, then the music over again from its start.
  auto play = [&](std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(static_cast<double>(count) * ratio); ++i) {
      const double x = static_cast<double>(from) + static_cast<double>(i) / ratio;
      const auto k = static_cast<std::size_t>(x);
      const double f = x - static_cast<double>(k);
      r.rec.samples.push_back(static_cast<float>(m.music[k] * (1 - f) + m.music[k + 1] * f));
    }
  };
  play(0, 22050 + 4800);
  play(0, 22050);
  const Recording rec = r.Silence(0.2).Done();
  const Alignment a(rec, m.music, kEnd);
  ASSERT_GE(a.Stretches().size(), 2u) << a.Describe();
  for (std::size_t k = 0; k < a.Stretches().size(); ++k) {
    EXPECT_LE(a.Stretches()[k].first, a.Stretches()[k].last) << a.Describe();
    EXPECT_LE(a.Stretches()[k].musicFirst, a.Stretches()[k].musicLast) << a.Describe();
    if (k > 0) {
      EXPECT_LT(a.Stretches()[k - 1].last, a.Stretches()[k].first) << a.Describe();
    }
  }
}

}  // namespace
}  // namespace audioserver
