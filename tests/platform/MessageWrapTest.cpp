// Long message lines are broken so that the whole text of a box stays on the screen: at spaces,
// and inside paths and Japanese text, which have none.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "game/Main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/TextWrap.h"
#include "platform/gdi/Fonts.h"
#include "support/HeadlessApp.h"

namespace {

// Ten units a character, whatever its bytes.
int Cells(const std::string& s) { return 10 * static_cast<int>(DecodeUtf8(s).size()); }

std::string WithoutBlanks(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ' && c != '\n' && c != '\r') out += c;
  return out;
}

bool WholeUtf8(const std::string& s) {
  return DecodeUtf8(s).find(U'\uFFFD') == std::u32string::npos;
}

int MessageWidth(const std::string& s) { return TTextEngine::Instance().Width(MessageFont(), s); }

// A folder path of 150 characters, as deep charts live.
std::string DeepFolder() {
  std::string dir = "/home/player/charts";
  while (dir.size() < 140) dir += "/collection_" + std::to_string(dir.size());
  dir.resize(149);
  return dir + "/";
}

}  // namespace

TEST(TextWrap, BreaksAtSpacesThenInsideRunsWithoutThem) {
  struct Case {
    const char* text;
    int width;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"short", 100, {"short"}},
      {"", 50, {""}},
      {"aaa bbb ccc", 70, {"aaa bbb", "ccc"}},
      {"aaa   bbb", 30, {"aaa", "bbb"}},  // the spaces of a break go with it
      {"aaa bbb", 35, {"aaa", "bbb"}},
      {"  ab", 100, {"  ab"}},  // a line's own indent stays
      {"/a/bbbbbbbbbb", 50, {"/a/bb", "bbbbb", "bbb"}},
      {"see /very/long/path/x.txt here", 100, {"see", "/very/long", "/path/x.tx", "t here"}},
      {"あいうえおかきくけこ", 30, {"あいう", "えおか", "きくけ", "こ"}},
      {"ab\r\ncd\ref\n\ngh", 100, {"ab", "cd", "ef", "", "gh"}},
      {"abc", 5, {"a", "b", "c"}},  // narrower than any character: one a line
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(WrapText(c.text, c.width, Cells), c.lines);
  }
}

// Over many random texts: no line is wider than asked unless it is a single character, nothing
// but the spaces of breaks is lost, and no character is cut in its bytes.
TEST(TextWrap, RandomTextsKeepEveryCharacterAndFit) {
  const std::vector<std::string> pieces = {"a", "b", " ", "/", "あ", "。", "\n", "Q"};
  std::mt19937 rng(1234);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
    const int width = static_cast<int>(rng() % 120);
    const auto lines = WrapText(text, width, Cells);
    std::string joined;
    for (const std::string& l : lines) {
      ASSERT_TRUE(Cells(l) <= width || Cells(l) == 10) << '"' << text << "\" " << width;
      ASSERT_TRUE(WholeUtf8(l));
      joined += l;
    }
    ASSERT_EQ(WithoutBlanks(joined), WithoutBlanks(text)) << '"' << text << "\" " << width;
  }
}

class MessageBoxWrapTest : public HeadlessAppTest {
 protected:
  void SetUp() override {
    HeadlessAppTest::SetUp();
    hb->SetScreenSize(1024, 768);
    Application->SetTitle("iMorvane");
  }
};

// The game's box for a bad chart line, with the chart in a deep folder, on a 1024 x 768 screen.
TEST_F(MessageBoxWrapTest, TheSystemBoxBreaksALongLineToHalfTheScreen) {
  const std::string text = BadChartLineMessage(DeepFolder() + "Last Boss.txt", 3);
  ASSERT_GT(MessageWidth(text), 1024);
  Application->MessageBox(text, "iMorvane", MB_OK | MB_ICONSTOP);
  ASSERT_EQ(hb->MessageBoxes().size(), 1u);
  const backend::MessageBoxDesc& box = hb->MessageBoxes()[0];
  // The message, caption and buttons are as they were; only the lines are new.
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.title, "iMorvane");
  EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
  ASSERT_GT(box.lines.size(), 1u);
  std::string joined;
  for (const std::string& l : box.lines) {
    EXPECT_LE(MessageWidth(l), 512) << l;
    joined += l;
  }
  EXPECT_EQ(WithoutBlanks(joined), WithoutBlanks(text));
  // A short message keeps its one line.
  Application->MessageBox("boom", "iMorvane", MB_OK);
  EXPECT_EQ(hb->MessageBoxes()[1].lines, std::vector<std::string>{"boom"});
}

// The boxes drawn in a window: inside the window and the screen, the text column holding every
// line, for a path and for Japanese text without a space.
TEST_F(MessageBoxWrapTest, TheDrawnBoxFitsItsWindowAndTheScreen) {
  struct Case {
    int formWidth;
    std::string text;
  };
  std::string japanese;
  for (int i = 0; i < 12; ++i) japanese += "譜面の行にエラーがあります。";
  const Case cases[] = {
      {359, "Cannot create file " + DeepFolder() + "Last Boss.txt"},
      {359, japanese},
      {1024, japanese},
      {1024, "Line 2 of the chart " + DeepFolder() + "Last Boss.txt is not a note."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.formWidth << " " << c.text);
    TForm* f = nullptr;
    Application->CreateForm(f);
    f->SetBounds(0, 0, c.formWidth, 603);
    f->Show();
    Application->ProcessMessages();
    bool seen = false;
    OnModalDialogPass = [&](TModalDialog& d) {
      auto& m = dynamic_cast<TMessageBox&>(d);
      seen = true;
      EXPECT_EQ(m.Text(), c.text);
      const TRect r = m.BoxRect();
      EXPECT_GE(r.Left, 0);
      EXPECT_LE(r.Right, f->ClientWidth());
      EXPECT_LE(r.Right - r.Left, 1024);
      ASSERT_GT(m.Lines().size(), 1u);
      std::string joined;
      for (const std::string& l : m.Lines()) {
        // Beside the text: the margins, the icon and the frame.
        EXPECT_LE(MessageWidth(l) + 3 * 12 + 32 + 6, r.Right - r.Left) << l;
        EXPECT_LE(MessageWidth(l), 512) << l;
        EXPECT_TRUE(WholeUtf8(l));
        joined += l;
      }
      EXPECT_EQ(WithoutBlanks(joined), WithoutBlanks(c.text));
      m.Choose(mrOk);
    };
    ShowMessage(c.text);
    EXPECT_TRUE(seen);
    OnModalDialogPass = nullptr;
    f->Free();
  }
}
