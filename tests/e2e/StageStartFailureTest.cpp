// A stage whose boss picture or music cannot be opened: the player is told, the stage select
// comes back with the hero, and the game goes on.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/GameSession.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// A copy of the program's data folders that a test may break.
class DataCopy {
 public:
  DataCopy() : from_(AppDir) {
    root_ = fs::temp_directory_path() / ("morvane-e2e-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    for (const char* dir : {"Score", "Sound", "Image"}) {
      fs::create_directories(root_ / dir);
      for (const auto& e : fs::directory_iterator(fs::path(from_) / dir))
        fs::copy_file(e.path(), root_ / dir / e.path().filename());
    }
  }
  ~DataCopy() { fs::remove_all(root_); }
  std::string Dir() const { return root_.string() + "/"; }
  void Remove(const std::string& file) { fs::remove(root_ / file); }
  void Restore(const std::string& file) { fs::copy_file(fs::path(from_) / file, root_ / file); }
  void Spoil(const std::string& file) {
    std::ofstream(root_ / file, std::ios::binary | std::ios::trunc) << "BM not really a picture";
  }

 private:
  std::string from_;
  fs::path root_;
};

// The stage select with the cursor on `stage`, and the press that starts it (or says why not).
void ChooseStage(GameSession& g, int stage) {
  while (StageCursor > stage) g.Press(kUp);
  while (StageCursor < stage) g.Press(kDown);
  g.Hold(kButton0);
  g.Frame();
  g.Let(kButton0);
  g.Frame();
}

void ExpectBackAtTheStageSelect(GameSession& g, const std::string& stageTitle) {
  ASSERT_EQ(g.hb->MessageBoxes().size(), 1u);
  const backend::MessageBoxDesc& box = g.hb->MessageBoxes()[0];
  EXPECT_EQ(box.title, "iMorvane");
  EXPECT_NE(box.text.find(stageTitle), std::string::npos) << box.text;
  EXPECT_NE(box.text.find("cannot start"), std::string::npos) << box.text;
  EXPECT_EQ(GameMode, 2);
  EXPECT_FALSE(WaitingToStart);
  EXPECT_FALSE(Running);
  EXPECT_EQ(g.form->MediaPlayer1->Mode(), mpNotReady);
  EXPECT_TRUE(g.SpritesOf<TEnemySprite>().empty());
  ASSERT_NE(HeroSprite, nullptr);
  EXPECT_EQ(g.Engine()->Count(), 1);
  // The game runs on: the menu answers.
  g.hb->ClearMessageBoxes();
  g.Frames(3);
  EXPECT_EQ(GameMode, 2);
  EXPECT_EQ(HeroSprite->X, 95);
}

TEST(StageStartFailure, MissingBossPictureOrMusicReturnsToTheStageSelect) {
  GameSession g(false);
  DataCopy data;
  AppDir = data.Dir();
  data.Remove("Image/Grumbak.bmp");
  data.Remove("Sound/スタッコのスタッコ.mp3");
  g.Frames(2);
  g.Press(kButton0);
  ChooseStage(g, 1);
  ExpectBackAtTheStageSelect(g, "Final Battle");
  ChooseStage(g, 2);
  ExpectBackAtTheStageSelect(g, "Stakko Strikes Back!");
  // With its picture back, stage 1 starts as usual.
  data.Restore("Image/Grumbak.bmp");
  ChooseStage(g, 1);
  EXPECT_EQ(GameMode, 3);
  EXPECT_EQ(g.SpritesOf<TGrumbakSprite>().size(), 1u);
  EXPECT_TRUE(WaitingToStart);
  EXPECT_TRUE(g.hb->MessageBoxes().empty());
}

TEST(StageStartFailure, DamagedBossPictureIsReportedNotShown) {
  GameSession g(false);
  DataCopy data;
  AppDir = data.Dir();
  data.Spoil("Image/Stakko.bmp");
  g.Frames(2);
  g.Press(kButton0);
  ChooseStage(g, 2);
  ExpectBackAtTheStageSelect(g, "Stakko Strikes Back!");
}

TEST(StageStartFailure, RestartFromTheContinueScreenFailsTheSameWay) {
  GameSession g(false);
  DataCopy data;
  AppDir = data.Dir();
  g.StartStageFromTitle(1);
  g.Frames(70);
  for (int i = 0; i < 2000 && GameMode == 3; ++i) ASSERT_TRUE(g.Frame());
  ASSERT_EQ(GameMode, 4);
  for (int i = 0; i < 200 && HeroSprite == nullptr; ++i) ASSERT_TRUE(g.Frame());
  data.Remove("Sound/Last Boss.mp3");
  g.Hold(kButton0);
  g.Frame();
  g.Let(kButton0);
  g.Frame();
  ExpectBackAtTheStageSelect(g, "Final Battle");
}

}  // namespace
}  // namespace e2e
