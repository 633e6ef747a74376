// Both programs, whole, given a named pipe or a link to a device where they look for their files:
// the game says why the stage cannot start and stays at the stage select; the editor says why
// the chart cannot be opened and asks for another. Neither waits on the odd file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/EditorSession.h"
#include "e2e/GameSession.h"
#include "odd_inputs/OddFolder.h"
#include "support/Watchdog.h"

namespace {

namespace fs = std::filesystem;

// The program's data folders, each file a link to the build's own, with odd things put in.
class OddData : public OddFolder {
 public:
  explicit OddData(const std::string& From) {
    for (const char* folder : {"Score", "Sound", "Image"}) {
      fs::create_directory(Dir() + folder);
      for (const auto& e : fs::directory_iterator(fs::path(From) / folder))
        Relink(std::string(folder) + "/" + e.path().filename().string(), fs::absolute(e.path()));
    }
  }
  void Relink(const std::string& Name, const fs::path& Target) const {
    fs::remove(Dir() + Name);
    Link(Name, Target.string());
  }
  void MakeFifo(const std::string& Name) const {
    fs::remove(Dir() + Name);
    Fifo(Name);
  }
};

void ChooseFirstStage(e2e::GameSession& g) {
  while (StageCursor > 1) g.Press(e2e::kUp);
  g.Hold(e2e::kButton0);
  g.Frame();
  g.Let(e2e::kButton0);
  g.Frame();
}

// The box names the file, then says what it is: Said is the end of the box's text.
void ExpectRefusedAtTheStageSelect(e2e::GameSession& g, const std::string& Said) {
  ASSERT_EQ(g.hb->MessageBoxes().size(), 1u);
  const std::string text = g.hb->MessageBoxes()[0].text;
  EXPECT_NE(text.find("\"Final Battle\" cannot start"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), Said.size())), Said) << text;
  EXPECT_EQ(GameMode, 2);
  EXPECT_FALSE(WaitingToStart);
  g.hb->ClearMessageBoxes();
  g.Frames(2);
  EXPECT_EQ(GameMode, 2);
}

TEST(OddProgramFiles, TheGameRefusesAPipeOrADeviceAsItsStagesFilesAndStaysAtTheSelect) {
  e2e::GameSession g(false);
  OddData data(AppDir);
  AppDir = data.Dir();
  g.Frames(2);
  g.Press(e2e::kButton0);
  ASSERT_EQ(GameMode, 2);
  {
    Watchdog guard("the game starting a stage whose boss picture is a pipe");
    data.MakeFifo("Image/Grumbak.bmp");
    ChooseFirstStage(g);
    ExpectRefusedAtTheStageSelect(g, "Image/Grumbak.bmp\". Is a named pipe");
  }
  {
    Watchdog guard("the game starting a stage whose music leads to /dev/zero");
    data.Relink("Image/Grumbak.bmp", fs::absolute("Image/Grumbak.bmp"));
    data.Relink("Sound/Last Boss.mp3", "/dev/zero");
    ChooseFirstStage(g);
    ExpectRefusedAtTheStageSelect(g, "Sound/Last Boss.mp3\": Is a character device");
  }
  {
    // A chart it cannot open leaves the game with the empty chart, silently, as a missing one
    // does; the stage starts.
    Watchdog guard("the game starting a stage whose chart is a pipe");
    data.Relink("Sound/Last Boss.mp3", fs::absolute("Sound/Last Boss.mp3"));
    data.MakeFifo("Score/Last Boss.txt");
    ChooseFirstStage(g);
    EXPECT_TRUE(g.hb->MessageBoxes().empty());
    EXPECT_EQ(GameMode, 3);
    EXPECT_EQ(Score->Count(), 1);
  }
}

TEST(OddProgramFiles, TheEditorSaysWhyAPipeOrADeviceCannotBeOpenedAndAsksAgain) {
  OddFolder dir;
  const std::string pipe = dir.Fifo("Last Boss.txt");
  const std::string device = dir.Link("Stakko.txt", "/dev/zero");
  const std::string good = fs::absolute("Score/Last Boss.txt").string();
  std::vector<std::string> asked = {pipe, device, good}, messages;
  std::size_t next = 0;
  Watchdog guard("the editor opening a pipe and a device as charts");
  e2e::EditorSession s(good, false, 0, [&](TModalDialog& d) {
    if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
      ASSERT_LT(next, asked.size()) << "the dialog came back once too often";
      open->SetFileNameText(asked[next++]);
      open->Accept();
    } else {
      messages.push_back(dynamic_cast<TMessageBox&>(d).Text());
      d.EndModal(mrOk);
    }
  });
  EXPECT_EQ(next, 3u);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "Cannot open file \"" + pipe + "\". Is a named pipe",
                          "Cannot open file \"" + device + "\". Is a character device"}));
  EXPECT_TRUE(s.Score().IsLoaded());
  EXPECT_GT(s.Score().Count(), 100);
}

}  // namespace
