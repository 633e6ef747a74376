// The stored forms built into the programs, read as text: the components in their stored order,
// every picture of the game's image list with its size, pattern and key, and every sound of both
// sound lists in the formats the sound component expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "assets/StoredForms.h"
#include "platform/rtl/Classes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Item {
  std::map<std::string, std::string> props;
  std::map<std::string, Bytes> binary;
};

struct ParsedForm {
  std::vector<std::string> objects;  // "Name: TClass", in order
  std::vector<Item> items;           // every collection item, in order
};

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

ParsedForm Parse(const std::string& text) {
  ParsedForm f;
  std::istringstream in(text);
  std::string line;
  Item* item = nullptr;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.rfind("object ", 0) == 0) f.objects.push_back(line.substr(7));
    if (line == "item") item = &f.items.emplace_back();
    const size_t eq = line.find(" = ");
    if (item == nullptr || eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 3);
    if (value != "{") {
      item->props[name] = value;
      continue;
    }
    Bytes bytes;
    while (std::getline(in, line) && Trim(line) != "}") {
      const std::string hex = Trim(line);
      for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    item->binary[name] = bytes;
  }
  return f;
}

std::uint32_t U32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const Bytes& b, size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

TEST(StoredFormsTest, ComponentsComeInTheirStoredOrder) {
  EXPECT_EQ(Parse(GameFormResource()).objects,
            (std::vector<std::string>{
                "Form1: TForm1", "DXDraw1: TDXDraw", "ApplicationEvents1: TApplicationEvents",
                "DXSpriteEngine1: TDXSpriteEngine", "DXImageList1: TDXImageList",
                "MediaPlayer1: TMediaPlayer", "Input1: TDDIDEX", "DXSound1: TDXSound",
                "DXWaveList1: TDXWaveList"}));
  EXPECT_EQ(
      Parse(EditorFormResource()).objects,
      (std::vector<std::string>{"Form1: TForm1", "BGM1: TMediaPlayer", "OD1: TOpenDialog",
                                "AE1: TApplicationEvents", "DXDraw1: TDXDraw", "DXSound1: TDXSound",
                                "Sounds: TDXWaveList", "SpeedButton2: TSpeedButton",
                                "Speed1: TTrackBar", "Label2: TLabel", "Input1: TDDIDEX"}));
}

TEST(StoredFormsTest, EachProgramRegistersItsOwnForm) {
  RegisterGameFormResource();
  ASSERT_NE(FindFormResource("TForm1"), nullptr);
  EXPECT_EQ(*FindFormResource("TForm1"), GameFormResource());
  RegisterEditorFormResource();
  EXPECT_EQ(*FindFormResource("TForm1"), EditorFormResource());
}

// Sizes, patterns and keys of the game's pictures; everything drawn stays at least 8 levels from
// the key in some channel, so 16-bit displays do not merge it into the transparent colour.
TEST(StoredFormsTest, GamePicturesHaveTheirSizesAndKeys) {
  struct Expect {
    const char* name;
    int width, height, patternWidth;
    std::uint32_t key;
  };
  const Expect expected[] = {{"Hero", 64, 32, 32, 0x0000FF},     {"Boss", 384, 294, 0, 0},
                             {"Ruin", 40, 36, 0, 0xFFFFFF},      {"Ready", 321, 105, 0, 10511264},
                             {"Go", 258, 134, 0, 10511264},      {"Meter", 412, 15, 0, 0xFFFFFF},
                             {"Note1", 35, 48, 0, 0xFFFFFF},     {"Note2", 18, 48, 0, 0xFFFFFF},
                             {"Note3", 45, 48, 0, 0xFFFFFF},     {"Note4", 35, 48, 0, 0xFFFFFF},
                             {"Bullet1", 100, 100, 0, 0x0000FF}, {"Dravik", 135, 180, 0, 11037348}};
  const ParsedForm form = Parse(GameFormResource());
  std::vector<Item> pictures;
  for (const Item& i : form.items)
    if (i.binary.count("Picture.Data")) pictures.push_back(i);
  ASSERT_EQ(pictures.size(), std::size(expected));
  for (size_t n = 0; n < pictures.size(); ++n) {
    const Expect& e = expected[n];
    const Item& item = pictures[n];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(item.props.at("Name"), std::string("'") + e.name + "'");
    EXPECT_EQ(item.props.at("PatternWidth"), std::to_string(e.patternWidth));
    EXPECT_EQ(item.props.at("Transparent"), "True");
    EXPECT_EQ(item.props.at("TransparentColor"), std::to_string(e.key));
    const Bytes& d = item.binary.at("Picture.Data");
    ASSERT_GT(d.size(), 5u + 40 + 1024);
    EXPECT_EQ(std::string(d.begin(), d.begin() + 5), "\x04TDIB");
    const size_t h = 5;  // the bitmap header follows the class name
    EXPECT_EQ(U32(d, h), 40u);
    EXPECT_EQ(static_cast<int>(U32(d, h + 4)), e.width);
    EXPECT_EQ(static_cast<int>(U32(d, h + 8)), e.height);
    EXPECT_EQ(U16(d, h + 14), 8);
    EXPECT_EQ(U32(d, h + 16), 0u);
    const size_t stride = (e.width + 3) & ~3, pixels = h + 40 + 1024;
    ASSERT_EQ(d.size(), pixels + stride * e.height);
    const std::array<int, 3> key = {int(e.key & 0xFF), int(e.key >> 8 & 0xFF),
                                    int(e.key >> 16 & 0xFF)};
    int keyed = 0;
    for (int y = 0; y < e.height; ++y)
      for (int x = 0; x < e.width; ++x) {
        const size_t c = h + 40 + 4 * d[pixels + y * stride + x];
        const std::array<int, 3> rgb = {d[c + 2], d[c + 1], d[c]};
        if (rgb == key) {
          ++keyed;
          continue;
        }
        const int dist = std::max(
            {std::abs(rgb[0] - key[0]), std::abs(rgb[1] - key[1]), std::abs(rgb[2] - key[2])});
        ASSERT_GE(dist, 8) << "pixel " << x << "," << (e.height - 1 - y);
      }
    EXPECT_GT(keyed, 0);                            // something is transparent
    EXPECT_LT(keyed, e.width * e.height * 9 / 10);  // and something is drawn
    if (std::string(e.name) == "Meter") {
      // The gauge's inside is transparent: the bars drawn under it show through.
      for (int y = 1; y < 14; ++y)
        for (int x = 1; x < 405; ++x) {
          const size_t c = h + 40 + 4 * d[pixels + (14 - y) * stride + x];
          ASSERT_EQ((std::array<int, 3>{d[c + 2], d[c + 1], d[c]}), key) << x << "," << y;
        }
    }
  }
}

struct SoundExpect {
  const char* name;
  std::uint32_t fileSize;
};

// RIFF WAVE, PCM mono 16-bit, even data size; audible, yet below half scale, since the programs
// stack several of these over their music. Returns rate and format chunk size.
std::pair<std::uint32_t, std::uint32_t> CheckWave(const Bytes& w) {
  EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
  EXPECT_EQ(U32(w, 4), w.size() - 8);
  EXPECT_EQ(std::string(w.begin() + 8, w.begin() + 16), "WAVEfmt ");
  const std::uint32_t fmt = U32(w, 16);
  EXPECT_EQ(U16(w, 20), 1);   // PCM
  EXPECT_EQ(U16(w, 22), 1);   // mono
  EXPECT_EQ(U16(w, 34), 16);  // bits
  const std::uint32_t rate = U32(w, 24);
  EXPECT_EQ(U32(w, 28), rate * 2);
  const size_t data = 20 + fmt;
  EXPECT_EQ(std::string(w.begin() + data, w.begin() + data + 4), "data");
  const std::uint32_t size = U32(w, data + 4);
  EXPECT_EQ(size % 2, 0u);
  EXPECT_EQ(data + 8 + size, w.size());
  int peak = 0;
  for (size_t i = data + 8; i + 1 < w.size(); i += 2)
    peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(U16(w, i)))));
  EXPECT_GT(peak, 6000);
  EXPECT_LT(peak, 16384);
  return {rate, fmt};
}

void CheckSounds(const std::string& formText, const std::vector<SoundExpect>& expected, int at22k,
                 int fmt18) {
  const ParsedForm form = Parse(formText);
  std::vector<Item> sounds;
  for (const Item& i : form.items)
    if (i.binary.count("Wave.WAVE")) sounds.push_back(i);
  ASSERT_EQ(sounds.size(), expected.size());
  int low = 0, long18 = 0;
  for (size_t n = 0; n < sounds.size(); ++n) {
    SCOPED_TRACE(expected[n].name);
    EXPECT_EQ(sounds[n].props.at("Name"), std::string("'") + expected[n].name + "'");
    EXPECT_EQ(sounds[n].props.at("Looped"), "False");
    EXPECT_EQ(sounds[n].props.at("MaxPlayingCount"), "0");
    const Bytes& w = sounds[n].binary.at("Wave.WAVE");
    EXPECT_EQ(w.size(), expected[n].fileSize);
    const auto [rate, fmt] = CheckWave(w);
    EXPECT_TRUE(rate == 44100 || rate == 22050);
    EXPECT_TRUE(fmt == 16 || fmt == 18);
    low += rate == 22050;
    long18 += fmt == 18;
  }
  EXPECT_EQ(low, at22k);
  EXPECT_EQ(long18, fmt18);
}

TEST(StoredFormsTest, GameSoundsAreMonoPcmWithOneAt22kHzAndOneLongFormat) {
  CheckSounds(
      GameFormResource(),
      {{"Bass", 26638}, {"SmallHit", 90924}, {"BigHit", 50532}, {"Snare", 44844}, {"End", 75238}},
      1, 1);
}

TEST(StoredFormsTest, EditorHasItsEightDrumsTwoAt22kHz) {
  CheckSounds(EditorFormResource(),
              {{"Snare", 44844},
               {"Bass", 26638},
               {"Tom", 28498},
               {"HH", 12338},
               {"Symbal", 90924},
               {"Hit", 90924},
               {"Clap", 9064},
               {"Kan", 10058}},
              2, 0);
}

}  // namespace
