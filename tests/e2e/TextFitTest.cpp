// The game's fixed texts fit where they are drawn: each drawn alone, on a canvas far larger than
// the window, leaves all its ink inside the window (or inside the room it has there), and the
// game's own frames show that same extent, so nothing was cut at an edge.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "e2e/GameSession.h"
#include "platform/gdi/Fonts.h"

namespace e2e {
namespace {

// The face the title sets on the screen's canvas; every later text keeps it, bold.
constexpr const char* kGameFace = "Myriad Apple";

struct Extent {
  int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;  // right, bottom past
  bool Empty() const { return left > right; }
  void Add(int x, int y) {
    left = std::min(left, x);
    top = std::min(top, y);
    right = std::max(right, x + 1);
    bottom = std::max(bottom, y + 1);
  }
};

TFontSpec GameFont(int points) {
  TFont f;
  f.SetName(kGameFace);
  f.SetStyle(TFontStyles{fsBold});
  f.SetSize(points);
  return f.Spec();
}

struct Placed {
  std::string text;
  int x, y, points;
};

// The text cell (from the top-left corner, advance width by ascent + descent).
TRect Cell(const Placed& t) {
  TTextEngine& e = TTextEngine::Instance();
  const TFontSpec spec = GameFont(t.points);
  return {t.x, t.y, t.x + e.Width(spec, t.text), t.y + e.Metrics(spec).Height()};
}

// The pixels at least a quarter covered by the text drawn alone at its place, nothing cut.
Extent InkAlone(const Placed& t) {
  constexpr int kW = 3000, kH = 1200;
  std::vector<std::uint32_t> memory(static_cast<std::size_t>(kW) * kH, 0);
  TPixelBuffer b;
  b.Bits = reinterpret_cast<BYTE*>(memory.data());
  b.Pitch = kW * 4;
  b.Width = kW;
  b.Height = kH;
  b.BitCount = 32;
  TTextEngine::Instance().Draw(b, b.Bounds(), t.x, t.y, GameFont(t.points), t.text, clWhite);
  Extent e;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if ((memory[static_cast<std::size_t>(y) * kW + x] & 0xFF) >= 64) e.Add(x, y);
  return e;
}

// Black ink at least a quarter strong on the title colour, within `area` of a frame.
Extent InkShown(const Shot& f, const TRect& area) {
  constexpr int kBackRed = 0xE0;  // red of the title colour; black text lowers it
  Extent e;
  for (int y = std::max<int>(area.Top, 0); y < std::min<int>(area.Bottom, f.height); ++y)
    for (int x = std::max<int>(area.Left, 0); x < std::min<int>(area.Right, f.width); ++x)
      if (static_cast<int>((f.Pixel(x, y) >> 16) & 0xFF) <= kBackRed * 3 / 4) e.Add(x, y);
  return e;
}

// Each text lies wholly inside the frame, and the frame shows it to the same extent (a pixel of
// rounding aside) as it has drawn alone.
void ExpectShownWhole(const Shot& f, const std::vector<Placed>& texts) {
  for (const Placed& t : texts) {
    SCOPED_TRACE(t.text);
    const Extent alone = InkAlone(t);
    ASSERT_FALSE(alone.Empty());
    EXPECT_GE(alone.left, 0);
    EXPECT_LE(alone.right, f.width) << "runs past the right edge by " << alone.right - f.width;
    EXPECT_LE(alone.bottom, f.height);
    const Extent shown = InkShown(f, Cell(t));
    ASSERT_FALSE(shown.Empty()) << "not shown";
    EXPECT_NEAR(shown.left, alone.left, 1);
    EXPECT_NEAR(shown.right, alone.right, 1);
    EXPECT_NEAR(shown.top, alone.top, 1);
    EXPECT_NEAR(shown.bottom, alone.bottom, 1);
  }
}

std::vector<Placed> Title() { return {{"iMorvane", 80, 50, 80}}; }

std::vector<Placed> StageEntries() {
  std::vector<Placed> entries;
  for (int i = 1; i <= 3; ++i) entries.push_back({Stages[i].Title, 120, i * 50 + 200, 25});
  return entries;
}

TEST(TextFit, TitleStageSelectContinueAndEndingShowEveryTextWhole) {
  GameSession g(false);
  const int width = g.form->ClientWidth(), height = g.form->ClientHeight();
  g.Frames(2);
  ASSERT_EQ(g.Shown().width, width);
  ASSERT_EQ(g.Shown().height, height);
  {
    SCOPED_TRACE("title");
    std::vector<Placed> texts = Title();
    texts.push_back({"Push Any Key.", 100, 230, 40});
    ExpectShownWhole(g.Shown(), texts);
  }
  g.Press(kButton0);
  ASSERT_EQ(GameMode, 2);
  g.Frames(2);
  {
    SCOPED_TRACE("stage select");
    std::vector<Placed> texts = Title();
    for (const Placed& p : StageEntries()) texts.push_back(p);
    ExpectShownWhole(g.Shown(), texts);
  }

  // The hero left alone in the first stage is lost; the continue screen follows its debris.
  g.Hold(kButton0);
  ASSERT_TRUE(g.Frame());
  g.Let(kButton0);
  ASSERT_EQ(GameMode, 3);
  for (int i = 0; i < 6000 && GameMode == 3; ++i) ASSERT_TRUE(g.Frame());
  ASSERT_EQ(GameMode, 4);
  for (int i = 0; i < 200 && HeroSprite == nullptr; ++i) ASSERT_TRUE(g.Frame());
  g.Frames(2);
  {
    SCOPED_TRACE("continue");
    ExpectShownWhole(g.Shown(),
                     {{"Continue?", 80, 50, 40}, {"Yes", 120, 150, 25}, {"No", 120, 200, 25}});
  }

  // The ending as a cleared stage leaves it, with the credits about to scroll in.
  g.Hold(kDown);
  g.Frames(1);
  g.Hold(kButton0);
  g.Frames(1);
  g.Let(kButton0);
  g.Let(kDown);
  ASSERT_EQ(GameMode, 1);
  GameMode = 5;
  CreditsScroll = 0;
  g.Frames(1);
  {
    SCOPED_TRACE("ending");
    ExpectShownWhole(g.Shown(), {{"You Win!", 50, 50, 80}, {"Thanks for playing!!", 50, 300, 20}});
  }
}

// Texts that share the window with something else keep out of its way.
TEST(TextFit, TextsKeepClearOfTheStatusBandThePictureAndEachOther) {
  GameSession g(false);
  const int width = g.form->ClientWidth(), height = g.form->ClientHeight();
  auto right = [](const Placed& p) { return InkAlone(p).right; };
  auto bottom = [](const Placed& p) { return Cell(p).Bottom; };

  // The combo count over the play field, at its largest, stays inside the window and above
  // the status band; the dash count stays left of the gauge's meter.
  const Placed combo{"255Hit!", 0, 0, 75};
  EXPECT_LE(right(combo), width);
  EXPECT_LE(bottom(combo), height - 50);
  TPictureCollectionItem* meter = g.Picture("Meter");
  const int band = height - 50 + (50 - meter->Height()) / 2;
  EXPECT_LE(right({"10/10", 5, band, 10}), 50);
  EXPECT_LE(bottom({"10/10", 5, band, 10}), height);

  // The stage entries stay apart, and so do the continue screen's lines.
  const std::vector<Placed> entries = StageEntries();
  for (std::size_t i = 0; i + 1 < entries.size(); ++i)
    EXPECT_LE(bottom(entries[i]), entries[i + 1].y) << entries[i].text;
  EXPECT_LE(bottom(Title()[0]), entries[0].y);
  EXPECT_LE(bottom({"Continue?", 80, 50, 40}), 150);

  // The ending: the credits scroll by on two rows, each entry 500 pixels after the one before;
  // no entry is as long as that, the rows do not touch, and the fixed lines stay clear of them
  // and of the picture in the corner.
  const char* const credits[] = {"\"iMorvane\"", "Producer",      "Director",     "GameDesign",
                                 "Art Director", "Tools Program", "Illustration", "Venholt"};
  for (const char* c : credits) {
    const int points = std::string(c) == "\"iMorvane\"" ? 30 : 20;
    EXPECT_LT(right({c, 0, 200, points}), 500 - 20) << c;
    EXPECT_LE(bottom({c, 0, 200, points}), 250) << c;
    EXPECT_LE(bottom({c, 0, 250, points}), 300) << c;
  }
  EXPECT_LE(bottom({"You Win!", 50, 50, 80}), 200);
  TPictureCollectionItem* dravik = g.Picture("Dravik");
  EXPECT_LE(right({"Thanks for playing!!", 50, 300, 20}), width - dravik->Width());
  EXPECT_LE(bottom({"Thanks for playing!!", 50, 300, 20}), height);
}

}  // namespace
}  // namespace e2e
