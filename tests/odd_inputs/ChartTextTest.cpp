// Chart text as odd editors leave it: NUL bytes inside lines, and a UTF-8 byte order mark at the
// start. Both programs read every line after a NUL, and take the mark for no part of a note.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "editor/Score.h"
#include "game/UScore.h"
#include "odd_inputs/OddFolder.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"

namespace {

using Notes = std::vector<std::pair<int, int>>;

using namespace std::string_literals;

const std::string kNulChart =
    "1000,2\r\n20\0"
    "00,2\r\n3000,8\r\n"s;

class ChartText : public ::testing::Test {
 protected:
  void SetUp() override {
    hb_ = &backend::HeadlessBackend::InstallFresh();
    Application->ResetForTest();
  }
  void TearDown() override {
    editor_.ClearNotes();
    Application->ResetForTest();
  }

  // The game's chart of Text: its notes, sentinel included, and the first bad line (1-based).
  std::pair<Notes, int> Game(const std::string& Text) {
    TScore score;
    int bad = 0;
    score.OnBadLine = [&](const std::string&, int Line) { bad = Line; };
    score.LoadFromFile(dir_.Write("game.txt", Text));
    Notes notes;
    for (int i = 0; i < score.Count(); ++i)
      notes.emplace_back(score.GetNote(i)->Time, score.GetNote(i)->Kind);
    return {notes, bad};
  }
  // The editor's chart of Text, and the messages that reading it showed.
  std::pair<Notes, std::vector<std::string>> Editor(const std::string& Text) {
    hb_->ClearMessageBoxes();
    editor_.LoadFromFile(dir_.Write("edit.txt", Text));
    Notes notes;
    for (int i = 0; i < editor_.Count(); ++i)
      notes.emplace_back(editor_.GetNote(i)->Time, editor_.GetNote(i)->Kind);
    std::vector<std::string> boxes;
    for (const auto& b : hb_->MessageBoxes()) boxes.push_back(b.text);
    return {notes, boxes};
  }

  backend::HeadlessBackend* hb_ = nullptr;
  OddFolder dir_;
  Tessaly::TScore editor_;
};

TEST_F(ChartText, ALineHoldingANulIsABadLineAndTheLinesAfterItAreRead) {
  EXPECT_EQ(Game(kNulChart), (std::pair<Notes, int>{{{0, 1}, {1000, 2}, {3000, 8}}, 2}));
  const auto [notes, boxes] = Editor(kNulChart);
  EXPECT_EQ(notes, (Notes{{1000, 2}, {3000, 8}}));
  EXPECT_EQ(boxes, (std::vector<std::string>{"1行にエラーがあります。"}));

  // A NUL after a whole note still spoils its line; the line after it is read.
  const std::string trailing = "1000,2\0\r\n3000,8\r\n"s;
  EXPECT_EQ(Game(trailing), (std::pair<Notes, int>{{{0, 1}, {3000, 8}}, 1}));
  EXPECT_EQ(Editor(trailing).first, (Notes{{3000, 8}}));
}

TEST_F(ChartText, TheEditorSavesTheLinesAfterANul) {
  Editor(kNulChart);
  const std::string path = dir_.Dir() + "edit.txt";
  editor_.SaveToFile(path);
  EXPECT_EQ(dir_.Read("edit.txt"), "1000,2\r\n3000,8\r\n");
}

TEST_F(ChartText, AByteOrderMarkAtTheStartIsSkippedByBothPrograms) {
  const std::string marked =
      "\xEF\xBB\xBF"
      "500,2\r\n3000,8\r\n";
  EXPECT_EQ(Game(marked), (std::pair<Notes, int>{{{0, 1}, {500, 2}, {3000, 8}}, 0}));
  const auto [notes, boxes] = Editor(marked);
  EXPECT_EQ(notes, (Notes{{500, 2}, {3000, 8}}));
  EXPECT_TRUE(boxes.empty());

  // Anywhere else the same bytes are what they always were: part of the field they stand in.
  const std::string later =
      "500,2\r\n\xEF\xBB\xBF"
      "3000,8\r\n";
  EXPECT_EQ(Game(later), (std::pair<Notes, int>{{{0, 1}, {500, 2}, {1000, 8}}, 0}));
  EXPECT_EQ(Editor(later).first, (Notes{{500, 2}, {1000, 8}}));
  // A mark alone on the first line leaves an empty line: a bad line, as ever.
  EXPECT_EQ(Game("\xEF\xBB\xBF\r\n3000,8\r\n").second, 1);
}

}  // namespace
