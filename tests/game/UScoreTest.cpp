#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/GameState.h"
#include "game/UScore.h"

namespace {

class ScoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("score_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "Score");
    score_.MusicPosition = [this] { return position_; };
    score_.OnBadLine = [this](const std::string& file, int line) {
      bad_file_ = file;
      bad_line_ = line;
    };
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void LoadText(const std::string& text) {
    const std::string path = (dir_ / "Score" / "chart.txt").string();
    std::ofstream(path, std::ios::binary) << text;
    score_.LoadFromFile(path);
  }
  std::vector<std::pair<int, int>> Notes() const {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < score_.Count(); ++i)
      out.emplace_back(score_.GetNote(i)->Time, score_.GetNote(i)->Kind);
    return out;
  }
  void UpdateAt(std::int32_t position) {
    position_ = position;
    score_.Update();
  }

  std::filesystem::path dir_;
  TScore score_;
  std::int32_t position_ = 0;
  std::string bad_file_;
  int bad_line_ = 0;
};

using V = std::vector<std::pair<int, int>>;

TEST_F(ScoreTest, FieldsDefaultsAndKindsKeepTheirLowByte) {
  LoadText(
      "1500,2\r\n1600, 3\r\n1700 4\r\n1800,5,9\r\n,6\r\n1900,\r\nabc,7\r\n$7D0,8\r\n"
      "2100,258\r\n2200,-1\r\n\"2300\",\"1\"\r\n");
  EXPECT_EQ(Notes(), (V{{0, 1},
                        {1000, 6},
                        {1000, 7},
                        {1500, 2},
                        {1600, 3},
                        {1700, 4},
                        {1800, 5},
                        {1900, 0},
                        {2000, 8},
                        {2100, 2},
                        {2200, 255},
                        {2300, 1}}));
  EXPECT_EQ(bad_line_, 0);
}

TEST_F(ScoreTest, LineEndsOfEveryKind) {
  // CR, LF, CR LF, and LF CR (two ends around an empty, bad, line).
  LoadText("100,1\r200,2\n300,3\r\n400,4\n\r500,5\r\n");
  EXPECT_EQ(Notes(), (V{{0, 1}, {100, 1}, {200, 2}, {300, 3}, {400, 4}, {500, 5}}));
  EXPECT_EQ(bad_line_, 5);
}

TEST_F(ScoreTest, TrailingLineEndAddsNoLineAndBadLinesAreReportedOnce) {
  LoadText("100,1\r\n");
  EXPECT_EQ(bad_line_, 0);
  LoadText("100,1\r\n1500\r\n\r\n300,3,3");
  EXPECT_EQ(Notes(), (V{{0, 1}, {100, 1}, {300, 3}}));
  EXPECT_EQ(bad_line_, 2);
  EXPECT_NE(bad_file_.find("chart.txt"), std::string::npos);
}

TEST_F(ScoreTest, MissingFileGivesTheSentinelAlone) {
  score_.LoadFromFile((dir_ / "Score" / "none.txt").string());
  EXPECT_EQ(Notes(), (V{{0, 1}}));
  UpdateAt(5000);
  ASSERT_NE(score_.Current, nullptr);
  EXPECT_EQ(score_.Current, score_.Next);
  EXPECT_FALSE(score_.Passed);
}

TEST_F(ScoreTest, EqualTimesKeepTheListSortsOrder) {
  // The sort is not stable: the order it leaves equal times in decides which note is current.
  LoadText("300,3\r\n100,4\r\n100,5\r\n0,6\r\n");
  EXPECT_EQ(Notes(), (V{{0, 6}, {0, 1}, {100, 5}, {100, 4}, {300, 3}}));
}

TEST_F(ScoreTest, TrackerPassesNotesOnceAndNeverMovesBack) {
  LoadText("100,2\r\n100,3\r\n300,4\r\n");
  EXPECT_EQ(score_.Current, nullptr);  // nothing has been read before the first update
  UpdateAt(99);
  EXPECT_FALSE(score_.Passed);
  EXPECT_EQ(score_.Current, score_.GetNote(0));
  EXPECT_EQ(score_.Next, score_.GetNote(0));
  UpdateAt(100);
  EXPECT_TRUE(score_.Passed);
  EXPECT_EQ(score_.CurrentIndex, 2);
  EXPECT_EQ(score_.Next->Time, 300);
  UpdateAt(299);
  EXPECT_FALSE(score_.Passed);
  UpdateAt(300);
  EXPECT_TRUE(score_.Passed);
  EXPECT_EQ(score_.Current, score_.Next);
  UpdateAt(50);  // a seek back does not rewind the tracker
  EXPECT_FALSE(score_.Passed);
  EXPECT_EQ(score_.Current->Time, 300);
}

TEST_F(ScoreTest, JumpPassesSeveralNotesInOneFrame) {
  LoadText("100,2\r\n200,3\r\n300,4\r\n400,5\r\n");
  UpdateAt(350);
  EXPECT_TRUE(score_.Passed);
  EXPECT_EQ(score_.Current->Kind, 4);
  EXPECT_EQ(score_.Next->Kind, 5);
  ASSERT_NE(score_.FindKind(true, 2), nullptr);
  EXPECT_EQ(score_.FindKind(true, 2)->Time, 100);
  EXPECT_EQ(score_.FindKind(false, 5)->Time, 400);
  EXPECT_EQ(score_.FindKind(false, 3), nullptr);
}

TEST_F(ScoreTest, FindKindAtTheEdges) {
  LoadText("100,2\r\n200,1\r\n");
  UpdateAt(0);
  // Before anything passes both searches include the sentinel.
  EXPECT_EQ(score_.FindKind(true, 1), score_.GetNote(0));
  EXPECT_EQ(score_.FindKind(false, 1), score_.GetNote(0));
  UpdateAt(1000);
  EXPECT_EQ(score_.FindKind(false, 1)->Time, 200);
  EXPECT_EQ(score_.FindKind(false, 2), nullptr);  // only the last note is looked at
}

TEST_F(ScoreTest, ResetClearsPassedAndLoadStartsOver) {
  LoadText("100,2\r\n");
  UpdateAt(100);
  ASSERT_TRUE(score_.Passed);
  score_.Reset();
  EXPECT_FALSE(score_.Passed);
  EXPECT_EQ(score_.Current, nullptr);
  EXPECT_THROW(score_.GetNote(5), EListError);
}

TEST_F(ScoreTest, FarApartTimesSortWithoutWrapping) {
  LoadText("2147483647,2\r\n-2147483648,3\r\n");
  EXPECT_EQ(Notes(), (V{{-2147483647 - 1, 3}, {0, 1}, {2147483647, 2}}));
}

TEST_F(ScoreTest, LoadUsesTheStageTable) {
  AppDir = dir_.string() + "/";
  Stages[1].FileName = "chart";
  CurrentStage = 1;
  std::ofstream((dir_ / "Score" / "chart.txt").string(), std::ios::binary) << "700,7\r\n";
  score_.Load();
  EXPECT_EQ(Notes(), (V{{0, 1}, {700, 7}}));
  ResetGameState();
}

}  // namespace
