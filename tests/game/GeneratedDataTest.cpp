// What the build lays out beside the programs: the two stages' charts, their music and the boss
// pictures. The charts must drive the bosses as designed, and every note must be heard: each
// note time is found as a drum onset in the decoded music.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/mci/Mp3Decoder.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/SysUtils.h"

namespace {

struct Note {
  int time, kind;
};

struct StageFiles {
  std::string base;
  int minMusicMs, maxMusicMs;
};
const StageFiles kStages[] = {{"Last Boss", 60000, 75000}, {"スタッコのスタッコ", 85000, 100000}};

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Read as the programs read it: lines, comma text, integers with defaults.
std::vector<Note> LoadChart(const std::string& base) {
  TStringList lines;
  lines.LoadFromFile("Score/" + base + ".txt");
  std::vector<Note> notes;
  for (int i = 0; i < lines.Count(); ++i) {
    std::vector<std::string> f = SplitCommaText(lines.Strings(i));
    EXPECT_EQ(f.size(), 2u) << base << " line " << i;
    if (f.size() < 2) continue;
    notes.push_back({StrToIntDef(f[0], 1000), StrToIntDef(f[1], 0)});
  }
  return notes;
}

struct Music {
  std::vector<float> mono;  // 44.1 kHz, scaled so that its loudest sample is 1
  int lengthMs = 0;
};

const Music& DecodedMusic(const std::string& base) {
  static std::map<std::string, Music> cache;
  auto it = cache.find(base);
  if (it != cache.end()) return it->second;
  mci::Mp3Decoder d("Sound/" + base + ".mp3");
  std::vector<std::int16_t> pcm(static_cast<size_t>(d.Length()) * 2);
  d.Read(pcm.data(), static_cast<int>(d.Length()));
  Music m;
  m.mono.resize(static_cast<size_t>(d.Length()));
  int peak = 1;
  for (std::int16_t v : pcm) peak = std::max(peak, std::abs(int{v}));
  // Onsets are judged against the music's own level, whatever level it was mixed to.
  for (size_t i = 0; i < m.mono.size(); ++i)
    m.mono[i] = static_cast<float>(pcm[2 * i] + pcm[2 * i + 1]) / (2.0f * static_cast<float>(peak));
  m.lengthMs = static_cast<int>((d.Length() * 1000 + 22050) / 44100);
  return cache.emplace(base, std::move(m)).first->second;
}

// Drum onsets in the high-passed signal (a first difference, so the low bass line and kick tails
// do not mask hi-hats). Near a given time, an onset is a strong rise: the energy of some 1 ms
// window is at least 30 times the mean energy of the 20 ms that end 10 ms before it (the gap
// leaves out the encoder's pre-echo, which spreads a little noise ahead of every hit), and loud
// (the soft background's notes rise from silence too, but stay far quieter in the high band than
// the drums, which peak near the music's own peak).
// The onset's time is where the energy first reaches a quarter of its peak in the search range.
class OnsetFinder {
 public:
  explicit OnsetFinder(const std::vector<float>& x) : prefix_(x.size() + 1, 0.0) {
    for (size_t i = 1; i < x.size(); ++i) {
      const double d = x[i] - x[i - 1];
      prefix_[i + 1] = prefix_[i] + d * d;
    }
  }
  // The onset within 15 ms of `ms`, as its offset from `ms` in milliseconds; NAN when none.
  double Offset(int ms) const {
    const long centre = std::lround(ms * 44.1), from = centre - 15 * 44, to = centre + 15 * 44;
    double peak = 0, rise = 0;
    for (long s = from; s <= to; ++s) {
      peak = std::max(peak, Energy(s, s + 44));
      rise = std::max(rise, Energy(s, s + 44) / (Energy(s - 30 * 44, s - 10 * 44) + 1e-9));
    }
    if (rise < 30 || peak < 2e-3) return NAN;
    for (long s = from; s <= to; ++s)
      if (Energy(s, s + 44) >= peak / 4) return (s - centre) / 44.1;
    return NAN;
  }

 private:
  // Mean energy per sample over [a, b).
  double Energy(long a, long b) const {
    a = std::clamp<long>(a, 0, static_cast<long>(prefix_.size()) - 1);
    b = std::clamp<long>(b, a, static_cast<long>(prefix_.size()) - 1);
    return b > a ? (prefix_[b] - prefix_[a]) / (b - a) : 0.0;
  }
  std::vector<double> prefix_;
};

TEST(GeneratedChartTest, WrittenInTheEditorsExactForm) {
  for (const StageFiles& s : kStages) {
    const std::vector<Note> notes = LoadChart(s.base);
    std::string expected;
    for (const Note& n : notes)
      expected += std::to_string(n.time) + "," + std::to_string(n.kind) + "\r\n";
    EXPECT_EQ(ReadBytes("Score/" + s.base + ".txt"), expected) << s.base;
  }
}

TEST(GeneratedChartTest, TimesAndEndNoteFollowTheRules) {
  for (const StageFiles& s : kStages) {
    SCOPED_TRACE(s.base);
    const std::vector<Note> notes = LoadChart(s.base);
    ASSERT_GT(notes.size(), 20u);
    for (size_t i = 0; i < notes.size(); ++i) {
      EXPECT_GT(notes[i].time, 0);
      EXPECT_GE(notes[i].kind, 1);
      EXPECT_LE(notes[i].kind, 8);
      // Only the last note passed in a frame counts: notes stay frames apart.
      if (i > 0) {
        EXPECT_GE(notes[i].time - notes[i - 1].time, 150) << "note " << i;
      }
      if (i + 1 < notes.size()) {
        EXPECT_NE(notes[i].kind, 8) << "note " << i;
      }
    }
    EXPECT_EQ(notes.back().kind, 8);
    const Music& m = DecodedMusic(s.base);
    EXPECT_GE(m.lengthMs, s.minMusicMs);
    EXPECT_LE(m.lengthMs, s.maxMusicMs);
    EXPECT_GE(m.lengthMs - notes.back().time, 2000);
    EXPECT_LE(m.lengthMs - notes.back().time, 4000);
  }
}

TEST(GeneratedChartTest, StageOneJumpsFromBassNoteToBassNote) {
  const std::vector<Note> notes = LoadChart("Last Boss");
  std::vector<int> bass;
  int giants = 0;
  for (const Note& n : notes) {
    EXPECT_TRUE(n.kind == 1 || n.kind == 2 || n.kind == 3 || n.kind == 4 || n.kind == 8) << n.time;
    if (n.kind == 2) bass.push_back(n.time);
    if (n.kind == 3) ++giants;
  }
  EXPECT_GE(giants, 1);
  EXPECT_LE(giants, 5);  // the giant bullet is rare
  ASSERT_GT(bass.size(), 50u);
  for (size_t i = 1; i < bass.size(); ++i) {
    EXPECT_GE(bass[i] - bass[i - 1], 400) << bass[i];
    EXPECT_LE(bass[i] - bass[i - 1], 1000) << bass[i];
  }
  // Throughout: from the start of the chart to the end note.
  EXPECT_LE(bass.front() - notes.front().time, 1000);
  EXPECT_LE(notes.back().time - bass.back(), 1000);
}

// Walks the second boss's phase routine over the chart, note by note, checking that every note
// comes where its phase expects it and that the segments get time to arrive where they go.
TEST(GeneratedChartTest, StageTwoDrivesTheWholeSegmentRoutine) {
  const std::vector<Note> notes = LoadChart("スタッコのスタッコ");
  int phase = 0;
  size_t i = 0;
  auto filler = [](int kind) { return kind == 1 || kind == 4; };
  // Phases that react to nothing but kind 7: fillers may fall there.
  auto waitFor7 = [&](int minGapMs) {
    const int start = i > 0 ? notes[i - 1].time : 0;
    while (i < notes.size() && notes[i].kind != 7) {
      EXPECT_TRUE(filler(notes[i].kind)) << "phase " << phase << " at " << notes[i].time;
      ++i;
    }
    ASSERT_LT(i, notes.size());
    EXPECT_GE(notes[i].time - start, minGapMs) << "phase " << phase;
    ++i;
    ++phase;
  };
  // A run of one kind, reached after a wait in which no note may fall.
  auto run = [&](int kind, int minGapMs) {
    ASSERT_LT(i, notes.size());
    EXPECT_EQ(notes[i].kind, kind) << "phase " << phase << " at " << notes[i].time;
    EXPECT_GE(notes[i].time - notes[i - 1].time, minGapMs) << "phase " << phase;
    int count = 0;
    while (i < notes.size() && notes[i].kind == kind) ++i, ++count;
    EXPECT_GE(count, 3) << "phase " << phase;
  };
  auto formation = [&] {
    ASSERT_LE(i + 3, notes.size());
    EXPECT_GE(notes[i].time - notes[i - 1].time, 2000) << "phase " << phase;  // back to the centre
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(notes[i + k].kind, 4 + k) << "phase " << phase;
      // Each current long enough for its segment to reach its corner: 100 pixels at 10 a frame,
      // ten frames of 34 ms.
      EXPECT_GE(notes[i + k + 1].time - notes[i + k].time, 350);
    }
    i += 3;
    ++phase;
  };

  waitFor7(0);  // 0 → 1: drop
  // 1, 2: drop and spread; only a kind-2 note moves on, after the segments are down.
  const int dropAt = notes[i - 1].time;
  while (notes[i].kind != 2) EXPECT_TRUE(filler(notes[i++].kind));
  EXPECT_GE(notes[i].time - dropAt, 2000);
  run(2, 0);  // 3: bounce
  phase = 4;
  run(3, 2000);  // 4: hop, once back in the lanes
  phase = 5;
  waitFor7(2500);  // 5 → 6: fly, once at the centre
  waitFor7(0);     // 6 → 7
  formation();     // 7 → 8
  waitFor7(350);   // 8 → 9: orbit
  waitFor7(0);     // 9 → 10: lanes
  phase = 11;
  run(3, 800);  // 11: hop, once back in the lanes from the orbit (some 23 frames at most)
  phase = 12;
  waitFor7(2500);  // 12 → 13: fly
  waitFor7(0);     // 13 → 14
  formation();     // 14 → 15
  waitFor7(350);   // 15 → 16: orbit
  waitFor7(0);     // 16 → 17: centre
  formation();     // 17 → 18
  waitFor7(350);   // 18 → 19: orbit
  waitFor7(0);     // 19 → 20: lanes
  ASSERT_EQ(i + 1, notes.size());
  EXPECT_EQ(notes[i].kind, 8);
  EXPECT_GE(notes[i].time - notes[i - 1].time, 800);  // back in the lanes, as after the first orbit
}

TEST(GeneratedMusicTest, EveryNoteIsADrumOnsetInTheDecodedMusic) {
  for (const StageFiles& s : kStages) {
    SCOPED_TRACE(s.base);
    const std::vector<Note> notes = LoadChart(s.base);
    const OnsetFinder onsets(DecodedMusic(s.base).mono);
    double worst = 0;
    for (const Note& n : notes) {
      const double off = onsets.Offset(n.time);
      ASSERT_FALSE(std::isnan(off)) << "no onset near " << n.time << " (kind " << n.kind << ")";
      EXPECT_LE(std::fabs(off), 5.0) << "onset " << off << " ms off " << n.time;
      worst = std::max(worst, std::fabs(off));
    }
    // And the finder is not fooled by the background: halfway between notes there is nothing.
    for (size_t k = 1; k < notes.size(); ++k) {
      if (notes[k].time - notes[k - 1].time < 300) continue;
      const int mid = (notes[k].time + notes[k - 1].time) / 2;
      EXPECT_TRUE(std::isnan(onsets.Offset(mid))) << "stray onset near " << mid;
    }
    RecordProperty(s.base == "Last Boss" ? "worst_offset_ms_stage1" : "worst_offset_ms_stage2",
                   std::to_string(worst));
  }
}

}  // namespace

namespace {

std::uint32_t U32(const std::string& b, size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8 |
         static_cast<std::uint8_t>(b[at + 2]) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at + 3])) << 24;
}

// The boss pictures: 8-bit, uncompressed, two patterns side by side; pixel (0, 0) is the key,
// the background and the colour the screen is cleared with under black text, so it is light;
// nothing drawn comes near enough to the key to vanish into it on a 16-bit display.
TEST(GeneratedPictureTest, BossPicturesAreReadyForTheStages) {
  struct Expect {
    const char* file;
    int width, height;
  };
  for (const Expect& e :
       {Expect{"Image/Grumbak.bmp", 384, 294}, Expect{"Image/Stakko.bmp", 192, 96}}) {
    SCOPED_TRACE(e.file);
    const std::string b = ReadBytes(e.file);
    ASSERT_GT(b.size(), 54u + 1024u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(U32(b, 18), static_cast<std::uint32_t>(e.width));
    EXPECT_EQ(U32(b, 22), static_cast<std::uint32_t>(e.height));
    EXPECT_EQ(U32(b, 28) & 0xFFFF, 8u);  // bits per pixel
    EXPECT_EQ(U32(b, 30), 0u);           // uncompressed
    EXPECT_EQ(e.width % 2, 0);
    const size_t bits = U32(b, 10), stride = (e.width + 3) & ~3;
    ASSERT_EQ(b.size(), bits + stride * e.height);
    auto colour = [&](int index) {
      const size_t at = 54 + 4 * index;
      return std::array<int, 3>{static_cast<std::uint8_t>(b[at + 2]),
                                static_cast<std::uint8_t>(b[at + 1]),
                                static_cast<std::uint8_t>(b[at])};
    };
    auto pixel = [&](int x, int y) {  // rows are stored bottom first
      return static_cast<std::uint8_t>(b[bits + (e.height - 1 - y) * stride + x]);
    };
    const int keyIndex = pixel(0, 0);
    const auto key = colour(keyIndex);
    EXPECT_GT(0.3 * key[0] + 0.59 * key[1] + 0.11 * key[2], 180.0);
    int drawn = 0;
    for (int y = 0; y < e.height; ++y)
      for (int x = 0; x < e.width; ++x) {
        const int i = pixel(x, y);
        if (i == keyIndex) continue;
        ++drawn;
        const auto c = colour(i);
        const int d =
            std::max({std::abs(c[0] - key[0]), std::abs(c[1] - key[1]), std::abs(c[2] - key[2])});
        ASSERT_GE(d, 8) << "pixel " << x << "," << y;
      }
    EXPECT_GT(drawn, e.width * e.height / 4);  // there is a boss to see
  }
}

}  // namespace
