// The editor's chart: reading with its own rules for bad lines, the music it opens, writing in
// the game's format, and the safety of saving.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <limits>

#include "e2e/EditorSession.h"
#include "editor/Arith.h"
#include "editor/Score.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/ComCtrls.h"
#include "platform/mci/MPlayer.h"
#include "platform/rtl/SysUtils.h"
#include "support/ImmutableFolder.h"

using e2e::ReadBytes;
using e2e::ScratchFolder;
using e2e::WriteBytes;
using namespace Tessaly;

namespace {

class ScoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &backend::HeadlessBackend::InstallFresh();
    Application->ResetForTest();
    Application->SetTitle("Quilletエディター");
    AppDir = std::filesystem::current_path().string() + "/";
    music = new TMediaPlayer(nullptr);
    speed = new TTrackBar(nullptr);
    speed->SetMin(1);
    speed->SetMax(30);
    speed->SetPosition(1);
    speed->OnChange = [this](TObject*) { ++speedChanges; };
    score.Music = music;
    score.SpeedBar = speed;
  }
  void TearDown() override {
    score.ClearNotes();
    delete speed;
    delete music;
    Application->ResetForTest();
  }
  std::vector<std::pair<int, int>> Notes() const {
    std::vector<std::pair<int, int>> v;
    for (int i = 0; i < score.Count(); ++i)
      v.emplace_back(score.GetNote(i)->Time, score.GetNote(i)->Kind);
    return v;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> v;
    for (const auto& b : hb->MessageBoxes()) v.push_back(b.text);
    return v;
  }
  backend::HeadlessBackend* hb = nullptr;
  TMediaPlayer* music = nullptr;
  TTrackBar* speed = nullptr;
  int speedChanges = 0;
  TScore score;
};

}  // namespace

TEST_F(ScoreTest, LoadingKeepsFileOrderAndReportsBadLinesCountedFromZero) {
  ScratchFolder dir("load");
  WriteBytes(dir.Dir() + "Last Boss.txt",
             "3000,1\r\n5\r\n1000,256\r\n2000,-1\n,2\r1500,\r\nabc,3,9\r\n$5DC 4\r\n\r\n");
  score.LoadFromFile(dir.Dir() + "Last Boss.txt");
  EXPECT_TRUE(score.IsLoaded());
  EXPECT_EQ(Notes(), (std::vector<std::pair<int, int>>{
                         {3000, 1}, {1000, 2}, {1500, 0}, {1000, 3}, {1500, 4}}));
  // A single number, kinds 256 and -1 and the empty line: four messages, lines counted from 0.
  EXPECT_EQ(Boxes(),
            (std::vector<std::string>{"1行にエラーがあります。", "2行にエラーがあります。",
                                      "3行にエラーがあります。", "8行にエラーがあります。"}));
  EXPECT_EQ(hb->MessageBoxes()[0].title, "Quilletエディター");
  // The music of the same name opened, and the speed bar set to 5 through its event.
  EXPECT_EQ(music->Mode(), mpStopped);
  EXPECT_EQ(ExtractFileName(music->FileName), "Last Boss.mp3");
  EXPECT_EQ(speed->Position(), 5);
  EXPECT_EQ(speedChanges, 1);
  // Notes start unplayed and off the lane until drawn.
  EXPECT_FALSE(score.GetNote(0)->Played);
  EXPECT_EQ(score.GetNote(0)->Y, kUndrawnRow);
}

TEST_F(ScoreTest, SavingAfterLoadingGivesTheFileBackInTheWritersForm) {
  ScratchFolder dir("roundtrip");
  const std::string own = "2000,2\r\n-150,1\r\n2000,8\r\n0,0\r\n2147483647,255\r\n";
  WriteBytes(dir.Dir() + "Last Boss.txt", own);
  score.LoadFromFile(dir.Dir() + "Last Boss.txt");
  score.SaveToFile(dir.Dir() + "Last Boss.txt");
  EXPECT_EQ(ReadBytes(dir.Dir() + "Last Boss.txt"), own);
  // Rejected lines are dropped; fields completed with defaults are written out in full.
  WriteBytes(dir.Dir() + "Last Boss.txt", ",3\r\n7\r\n1500,\r\n0x10 2 junk");
  score.LoadFromFile(dir.Dir() + "Last Boss.txt");
  score.SaveToFile(dir.Dir() + "Last Boss.txt");
  EXPECT_EQ(ReadBytes(dir.Dir() + "Last Boss.txt"), "1000,3\r\n1500,0\r\n16,2\r\n");
  // No notes: an empty file, and nothing of the scratch file is left beside it.
  score.ClearNotes();
  score.SaveToFile(dir.Dir() + "Last Boss.txt");
  EXPECT_EQ(ReadBytes(dir.Dir() + "Last Boss.txt"), "");
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Dir())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(ScoreTest, AChartThatCouldNotBeReadIsNeverWritten) {
  ScratchFolder dir("unread");
  // The chart is missing.
  try {
    score.LoadFromFile(dir.Dir() + "Last Boss.txt");
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_NE(e.Message.find("Last Boss.txt"), std::string::npos);
  }
  EXPECT_FALSE(score.IsLoaded());
  // The chart is there, its music is not: no note is read, the speed bar stays.
  WriteBytes(dir.Dir() + "Orphan.txt", "1000,1\r\n");
  try {
    score.LoadFromFile(dir.Dir() + "Orphan.txt");
    FAIL();
  } catch (const EMCIDeviceError& e) {
    EXPECT_NE(e.Message.find("Orphan.mp3"), std::string::npos);
  }
  EXPECT_FALSE(score.IsLoaded());
  EXPECT_EQ(score.Count(), 0);
  EXPECT_EQ(speed->Position(), 1);
  EXPECT_THROW(score.SaveToFile(dir.Dir() + "Orphan.txt"), EInvalidOperation);
  EXPECT_EQ(ReadBytes(dir.Dir() + "Orphan.txt"), "1000,1\r\n");
}

TEST_F(ScoreTest, ABackUpChartPlaysTheMusicOfTheChartItWasCopiedFrom) {
  EXPECT_EQ(MusicFileName("/x/Score/Last Boss.txt"), AppDir + "Sound/Last Boss.mp3");
  EXPECT_EQ(MusicFileName("C:\\Score\\BackUp_Last Boss.txt"), AppDir + "Sound/Last Boss.mp3");
  EXPECT_EQ(MusicFileName("BackUp_BackUp_Last Boss.txt"), AppDir + "Sound/Last Boss.mp3");
  // With no music anywhere, the name asked for is the original chart's.
  EXPECT_EQ(MusicFileName("BackUp_None.txt"), AppDir + "Sound/None.mp3");
  EXPECT_EQ(MusicFileName("song"), AppDir + "Sound/song.mp3");
  EXPECT_EQ(BackUpFileName("/a/Score/song.txt"), "/a/Score/BackUp_song.txt");
  EXPECT_EQ(BackUpFileName("song.txt"), "BackUp_song.txt");

  ScratchFolder dir("backup");
  WriteBytes(dir.Dir() + "BackUp_Last Boss.txt", "1000,1\r\n");
  score.LoadFromFile(dir.Dir() + "BackUp_Last Boss.txt");
  EXPECT_TRUE(score.IsLoaded());
  EXPECT_EQ(music->Mode(), mpStopped);
}

TEST_F(ScoreTest, AFailedSaveLeavesTheOldChartWholeAndSaysWhy) {
  ScratchFolder dir("readonly");
  const std::string path = dir.Dir() + "Last Boss.txt";
  WriteBytes(path, "1000,1\r\n2000,2\r\n");
  score.LoadFromFile(path);
  score.AddNote(3000, 3);
  if (!MakeImmutable(dir.Dir(), true)) GTEST_SKIP() << "the file system has no immutable folders";
  try {
    score.SaveToFile(path);
    MakeImmutable(dir.Dir(), false);
    FAIL() << "saved into a folder that takes no new file";
  } catch (const EFCreateError& e) {
    MakeImmutable(dir.Dir(), false);
    EXPECT_NE(e.Message.find("Last Boss.txt"), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(path), "1000,1\r\n2000,2\r\n");
  // A folder in place of the file is refused too.
  EXPECT_THROW(score.SaveToFile(dir.Dir()), EFCreateError);
}

TEST_F(ScoreTest, TimesTooFarApartFailTheSortWithOverflowAndLoseNoNote) {
  score.AddNote(5, 1);
  score.AddNote(-5, 2);
  score.AddNote(0, 3);
  score.Sort(CompareNoteTimes);
  EXPECT_EQ(Notes(), (std::vector<std::pair<int, int>>{{-5, 2}, {0, 3}, {5, 1}}));
  // The pivot of the first pass is the note at -2; the largest time minus it overflows.
  score.ClearNotes();
  score.AddNote(std::numeric_limits<std::int32_t>::max(), 4);
  score.AddNote(-2, 5);
  score.AddNote(7, 6);
  EXPECT_THROW(score.Sort(CompareNoteTimes), EIntOverflow);
  EXPECT_EQ(score.Count(), 3);
  EXPECT_THROW(score.GetNote(3), EListError);
}

TEST(ArithTest, ConversionsCutTowardZeroAndTrapOutOfRange) {
  EXPECT_EQ(TruncToInt32(-148.99L), -148);
  EXPECT_EQ(TruncToInt32(2147483647.9L), 2147483647);
  EXPECT_EQ(TruncToInt32(-2147483648.9L), -2147483647 - 1);
  EXPECT_THROW(TruncToInt32(2147483648.0L), ERangeError);
  EXPECT_THROW(TruncToInt32(std::numeric_limits<long double>::quiet_NaN()), ERangeError);
  EXPECT_THROW(TruncToInt32(std::numeric_limits<long double>::infinity()), ERangeError);
  EXPECT_EQ(CheckedDiv(-7, 2), -3);
  EXPECT_THROW(CheckedDiv(1, 0), EDivByZero);
  EXPECT_THROW(CheckedDiv(std::numeric_limits<std::int32_t>::min(), -1), EIntOverflow);
  EXPECT_THROW(CheckedAdd(std::numeric_limits<std::int32_t>::max(), 1), EIntOverflow);
  EXPECT_THROW(CheckedSub(std::numeric_limits<std::int32_t>::min(), 1), EIntOverflow);
  EXPECT_THROW(ToByte(256), ERangeError);
  EXPECT_THROW(ToByte(-1), ERangeError);
  // Speed 5 of the bar is the double just above 0.05: 100 rows are 1999.99... ms, cut to 1999
  // in extended precision, where a double would round to 2000 first.
  const double speed = 5 * 0.01;
  EXPECT_EQ(TruncToInt32(100.0L / speed + 12000), 13999);
  EXPECT_EQ(TruncToInt32(1000.0L * speed), 50);
  EXPECT_EQ(TruncToInt32(-2980.0L * speed), -149);
  EXPECT_EQ(TruncToInt32(32767.0L * (1.0L / 32767.0L) * 300.0L), 300);
}
