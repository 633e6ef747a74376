// The game window's start-up and its frame loop on the virtual clock: the 34 ms gate, input
// polling, the display check, the mode dispatch, closing, and a chart line that cannot be read.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "GameTestSupport.h"
#include "platform/timer/MMSystem.h"

namespace {

// Runs idle passes through the application until Frames frames have run; the clock readings at
// which they ran.
std::vector<std::int64_t> RunFrames(int Frames) {
  std::vector<std::int64_t> at;
  std::int64_t last = LastFrameTime;
  Application->RunUntil(
      [&] {
        if (LastFrameTime != last) {
          last = LastFrameTime;
          at.push_back(last);
        }
        return static_cast<int>(at.size()) >= Frames;
      },
      100000);
  return at;
}

// One idle pass straight into the handler; the Done flag it leaves.
bool IdlePass() {
  bool done = true;
  Form1->ApplicationEvents1Idle(Form1, done);
  return done;
}

}  // namespace

TEST_F(GameTest, StartUpBuildsTheWindowAndTheGameState) {
  EXPECT_EQ(Application->Title(), "iMorvane");
  EXPECT_EQ(form->Caption(), "Morvane");
  EXPECT_EQ(form->BorderStyle(), bsNone);
  EXPECT_EQ(form->ClientWidth(), 512);
  EXPECT_EQ(form->ClientHeight(), 448);
  const auto* info = hb->Info(form->Handle());
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(info->borderless);
  EXPECT_EQ(info->title, "Morvane");

  // Input, display and sound are up; the game starts on the title with its hero and chart.
  EXPECT_TRUE(form->DXDraw1->Initialized());
  EXPECT_TRUE(form->DXSound1->Initialized());
  EXPECT_TRUE(form->DXDraw1->CanDraw());
  EXPECT_EQ(GameMode, 1);
  ASSERT_NE(Score, nullptr);
  EXPECT_EQ(Score->Count(), 0);
  ASSERT_NE(HeroSprite, nullptr);
  EXPECT_EQ(HeroSprite->Engine(), form->DXSpriteEngine1->Engine());
  EXPECT_TRUE(form->MediaPlayer1->Wait);
  EXPECT_EQ(Stages[1].Title, "Final Battle");
  EXPECT_EQ(Stages[1].FileName, "Last Boss");
  EXPECT_EQ(Stages[2].Title, "Stakko Strikes Back!");
  EXPECT_EQ(Stages[2].FileName, "スタッコのスタッコ");
  EXPECT_EQ(Stages[3].Title, "Exit");
  EXPECT_EQ(Stages[3].FileName, "");
  EXPECT_EQ(AppDir, ExtractFilePath(Application->ExeName()));
  EXPECT_EQ(AppDir.back(), '/');
  EXPECT_EQ(ButtonHold[0], 0);
  EXPECT_EQ(ButtonHold[1], 0);
}

TEST_F(GameTest, AFrameNeeds34WholeMilliseconds) {
  for (std::uint32_t since : {20u, 33u}) {
    LastFrameTime = static_cast<std::int64_t>(timeGetTime()) - since;
    const std::int64_t before = LastFrameTime;
    const std::uint64_t presents = Presents();
    const std::uint64_t elapsed = hb->Elapsed();
    EXPECT_FALSE(IdlePass()) << since;               // comes straight back
    EXPECT_EQ(hb->Elapsed(), elapsed + 1) << since;  // after sleeping 1 ms
    EXPECT_EQ(LastFrameTime, before) << since;
    EXPECT_EQ(Presents(), presents) << since;
  }
  const std::uint32_t at = timeGetTime();
  LastFrameTime = static_cast<std::int64_t>(at) - 34;
  const std::uint64_t presents = Presents();
  EXPECT_FALSE(IdlePass());
  EXPECT_EQ(LastFrameTime, at);
  EXPECT_EQ(Presents(), presents + 1);
}

TEST_F(GameTest, OneFramePer34MillisecondsWithoutCatchingUp) {
  const std::vector<std::int64_t> first = RunFrames(10);
  ASSERT_EQ(first.size(), 10u);
  for (size_t i = 1; i < first.size(); ++i) EXPECT_EQ(first[i] - first[i - 1], 34) << i;

  // A stall of a second is not made up for: the next frame runs at once, then every 34 ms.
  hb->Advance(1000);
  const std::int64_t stalled = timeGetTime();
  const std::vector<std::int64_t> after = RunFrames(3);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[0], stalled);
  EXPECT_EQ(after[1], stalled + 34);
  EXPECT_EQ(after[2], stalled + 68);
}

TEST_F(GameTest, FramesGoOnAcrossTheClockWrap) {
  EndGame();
  StartGame(0xFFFFFFFFu - 100);
  const std::vector<std::int64_t> frames = RunFrames(8);
  ASSERT_EQ(frames.size(), 8u);
  // The readings fall back to small numbers after 2^32 ms, and the frames keep their pace.
  EXPECT_GT(frames.front(), 0xFFFFFF00LL);
  EXPECT_LT(frames.back(), 1000);
  for (size_t i = 1; i < frames.size(); ++i)
    EXPECT_EQ(static_cast<std::uint32_t>(frames[i] - frames[i - 1]), 34u) << i;
}

TEST_F(GameTest, HoldCountersCountFramesUpTo254) {
  form->DXDraw1->Finalize();  // the counters do not depend on drawing
  Press(SDL_SCANCODE_Z);
  for (int frame = 1; frame <= 300; ++frame) {
    form->PollInput();
    ASSERT_EQ(ButtonHold[0], frame < 254 ? frame : 254) << frame;
    ASSERT_EQ(ButtonHold[1], 0);
  }
  Release(SDL_SCANCODE_Z);
  Press(SDL_SCANCODE_ESCAPE);
  form->PollInput();
  EXPECT_EQ(ButtonHold[0], 0);
  EXPECT_EQ(ButtonHold[1], 1);
  Press(SDL_SCANCODE_SPACE);
  form->PollInput();
  EXPECT_EQ(ButtonHold[0], 1);
  EXPECT_EQ(ButtonHold[1], 2);
}

TEST_F(GameTest, WhileTheDisplayCannotDrawNoModeRunsButInputIsPolled) {
  form->DXDraw1->Finalize();
  ASSERT_FALSE(form->DXDraw1->CanDraw());
  Press(SDL_SCANCODE_X);
  const std::uint64_t presents = Presents();
  for (int pass = 1; pass <= 3; ++pass) {
    hb->Advance(40);
    const std::int64_t last = LastFrameTime;
    EXPECT_TRUE(IdlePass());  // Done stays set: the loop waits for a message
    EXPECT_EQ(LastFrameTime, last);
    EXPECT_EQ(ButtonHold[1], pass);
  }
  EXPECT_EQ(Presents(), presents);

  form->DXDraw1->Initialize();
  const std::uint64_t restored = Presents();
  hb->Advance(40);
  EXPECT_FALSE(IdlePass());
  EXPECT_EQ(Presents(), restored + 1);
  EXPECT_EQ(ButtonHold[1], 4);
}

TEST_F(GameTest, AModeWithoutAScreenStillAdvancesTheFrameTime) {
  GameMode = 9;
  hb->Advance(40);
  const std::uint64_t presents = Presents();
  EXPECT_FALSE(IdlePass());
  EXPECT_EQ(LastFrameTime, FrameTime);
  EXPECT_EQ(LastFrameTime, timeGetTime());
  EXPECT_EQ(Presents(), presents);
}

TEST_F(GameTest, LeavingPlayByClosingClearsThePassedFlag) {
  GameMode = 3;
  Score->Passed = true;
  bool canClose = true;
  form->FormCloseQuery(form, canClose);
  EXPECT_TRUE(canClose);
  EXPECT_EQ(GameMode, 1);
  EXPECT_FALSE(Score->Passed);
}

TEST_F(GameTest, ClosingTheWindowReturnsToTheTitleModeAndEndsTheLoop) {
  GameMode = 2;
  form->Close();
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(GameMode, 1);
  // Freed in the title mode, the hero leaves no debris behind.
  form->Free();
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(HeroSprite, nullptr);
  EXPECT_EQ(Score, nullptr);
}

TEST_F(GameTest, AMalformedChartLineIsReportedWithItsFileAndLineAndClosesTheGame) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "morvane_badline";
  fs::create_directories(dir / "Score");
  {
    std::ofstream f(dir / "Score" / "Last Boss.txt", std::ios::binary);
    f << "1000,2\r\n1500\r\n2000,3\r\n";
  }
  AppDir = dir.string() + "/";
  CurrentStage = 1;
  std::uint64_t idleDuringBox = 0;
  hb->OnMessageBox = [&](const backend::MessageBoxDesc&) {
    idleDuringBox = Application->IdleCount();
    return 0;
  };
  const std::uint64_t idleBefore = Application->IdleCount();
  Score->Load();
  hb->OnMessageBox = nullptr;

  ASSERT_EQ(hb->MessageBoxes().size(), 1u);
  const backend::MessageBoxDesc& box = hb->MessageBoxes()[0];
  EXPECT_EQ(box.title, "iMorvane");
  EXPECT_NE(box.text.find("Last Boss.txt"), std::string::npos) << box.text;
  EXPECT_NE(box.text.find("Line 2"), std::string::npos) << box.text;
  EXPECT_EQ(idleDuringBox, idleBefore);
  // The lines after the bad one are still read; the window closes once the loop gets control.
  EXPECT_EQ(Score->Count(), 3);
  EXPECT_FALSE(Application->Terminated());
  Application->ProcessMessages();
  EXPECT_TRUE(Application->Terminated());
  fs::remove_all(dir);
}

TEST_F(GameTest, AMissingChartLeavesTheSentinelAndNoMessage) {
  AppDir = (std::filesystem::temp_directory_path() / "morvane_nochart").string() + "/";
  CurrentStage = 2;
  Score->Load();
  EXPECT_TRUE(hb->MessageBoxes().empty());
  ASSERT_EQ(Score->Count(), 1);
  EXPECT_EQ(Score->GetNote(0)->Time, 0);
  EXPECT_EQ(Score->GetNote(0)->Kind, 1);
  Application->ProcessMessages();
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(GameTest, TheChartFollowsTheMediaPlayer) {
  CurrentStage = 1;
  Score->Load();
  ASSERT_GT(Score->Count(), 2);
  form->MediaPlayer1->FileName = AppDir + "Sound/" + Stages[1].FileName + ".mp3";
  form->MediaPlayer1->Open();
  form->MediaPlayer1->Play();
  const std::int32_t second = Score->GetNote(1)->Time;
  hb->Advance(static_cast<std::uint32_t>(second) + 5);
  Score->Update();
  EXPECT_GE(Score->Position, second);
  EXPECT_TRUE(Score->Passed);
  EXPECT_GE(Score->CurrentIndex, 1);
  form->MediaPlayer1->Close();
}
