// Where a save may go: never over a device, a pipe or a folder a chart's link leads to, with a
// message naming the chart the user chose and where it leads; and the scratch files of saves
// that were killed are cleared by the next save of the same chart, never another's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "editor/Score.h"
#include "odd_inputs/OddFolder.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/ScratchFiles.h"
#include "platform/rtl/Streams.h"
#include "support/ImmutableFolder.h"
#include "support/Watchdog.h"

namespace {

namespace fs = std::filesystem;

std::set<std::string> Entries(const std::string& Dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(Dir)) names.insert(e.path().filename().string());
  return names;
}

std::string ReplacementError(const std::string& Name) {
  mode_t mode = 0;
  try {
    ReplacementTarget(Name, mode);
  } catch (const EFCreateError& e) {
    return e.Message;
  }
  return "";
}

bool IsFifo(const std::string& Path) {
  struct stat st;
  return ::lstat(Path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

class SaveTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    backend::HeadlessBackend::InstallFresh();
    Application->ResetForTest();
    chart_ = dir_.Write("Last Boss.txt", "1000,1\r\n2000,2\r\n");
    score_.LoadFromFile(chart_);
    ASSERT_TRUE(score_.IsLoaded());
  }
  void TearDown() override {
    score_.ClearNotes();
    Application->ResetForTest();
  }
  std::string CreateErrorOf(const std::string& Path) {
    try {
      score_.SaveToFile(Path);
    } catch (const EFCreateError& e) {
      return e.Message;
    }
    return "";
  }

  OddFolder dir_;
  std::string chart_;
  Tessaly::TScore score_;
};

TEST_F(SaveTarget, ALinkToADeviceIsNeverReplaced) {
  // Only looked up, never written: even a mistake here cannot touch the system's device.
  const std::string link = dir_.Link("device.txt", "/dev/null");
  EXPECT_EQ(ReplacementError(link), "Cannot create file \"" + link +
                                        "\" (which leads to \"/dev/null\"). " +
                                        "Is a character device");
  EXPECT_EQ(ReplacementError("/dev/null"),
            "Cannot create file \"/dev/null\". Is a character device");
}

TEST_F(SaveTarget, AChartLinkedToAPipeIsRefusedAndThePipeStays) {
  const std::string pipe = dir_.Fifo("pipe");
  const std::string link = dir_.Link("piped.txt", pipe);
  const auto before = Entries(dir_.Dir());
  Watchdog guard("saving over a pipe");
  EXPECT_EQ(CreateErrorOf(link), "Cannot create file \"" + link + "\" (which leads to \"" + pipe +
                                     "\"). " + "Is a named pipe");
  EXPECT_TRUE(IsFifo(pipe));
  // The plain writer of lists refuses it the same way.
  TStringList lines;
  lines.Add("1000,1");
  EXPECT_THROW(lines.SaveToFile(link), EFCreateError);
  EXPECT_TRUE(IsFifo(pipe));
  EXPECT_EQ(Entries(dir_.Dir()), before);  // no scratch file left beside either
}

TEST_F(SaveTarget, AFolderThatTakesNoFileIsNamedWhereTheLinkLeads) {
  const fs::path real = fs::path(dir_.Dir()) / "elsewhere";
  fs::create_directory(real);
  const std::string target = (real / "chart.txt").string();
  dir_.Write("elsewhere/chart.txt", "1000,1\r\n");
  const std::string link = dir_.Link("linked.txt", target);
  if (!MakeImmutable(real.string(), true)) GTEST_SKIP() << "no immutable folders here";
  const std::string message = CreateErrorOf(link);
  MakeImmutable(real.string(), false);
  EXPECT_NE(message.find("\"" + link + "\""), std::string::npos) << message;
  EXPECT_NE(message.find("\"" + target + "\""), std::string::npos) << message;
  EXPECT_EQ(dir_.Read("elsewhere/chart.txt"), "1000,1\r\n");
}

class SaveLeftovers : public SaveTarget {};

TEST_F(SaveLeftovers, TheNextSaveRemovesOnlyThisChartsUnlockedScratchFiles) {
  // What killed saves of this chart left, and names that only look alike.
  const std::set<std::string> others = {
      ".Other.txt.~Abc123",       // another chart's
      ".Last Boss.txt.~Abc12",    // not a scratch name: five characters
      ".Last Boss.txt.~Abc1234",  // seven
      ".Last Boss.txt.~Ab-123",   // a character mkstemp never picks
      "Last Boss.txt.~Abc123",    // not hidden
      "Last Boss.txt",
  };
  for (const std::string& name : others)
    if (name != "Last Boss.txt") dir_.Write(name, "x");
  dir_.Write(".Last Boss.txt.~Abc123", std::string(4096, 'x'));
  dir_.Write(".Last Boss.txt.~Zz9Zz9", "");
  // A link of a scratch name is not followed, and what it leads to stays.
  dir_.Write("kept.txt", "keep");
  dir_.Link(".Last Boss.txt.~Link00", dir_.Dir() + "kept.txt");
  // A save under way in this very program holds its lock on a file of its own.
  const int held =
      ::open((dir_.Dir() + ".Last Boss.txt.~Held00").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  score_.SaveToFile(chart_);
  EXPECT_EQ(dir_.Read("Last Boss.txt"), "1000,1\r\n2000,2\r\n");
  std::set<std::string> expected = others;
  expected.insert({"kept.txt", ".Last Boss.txt.~Link00", ".Last Boss.txt.~Held00"});
  EXPECT_EQ(Entries(dir_.Dir()), expected);
  EXPECT_EQ(dir_.Read("kept.txt"), "keep");

  // Once that save is over (its lock gone with it), its file is a leftover like the others.
  ::close(held);
  score_.SaveToFile(chart_);
  expected.erase(".Last Boss.txt.~Held00");
  EXPECT_EQ(Entries(dir_.Dir()), expected);
}

TEST_F(SaveLeftovers, AKilledSavesFileStaysWhileItRunsAndGoesAfter) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const std::string pattern = dir_.Dir() + ".Last Boss.txt.~XXXXXX";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another program in the middle of its save: it holds its scratch file and is killed.
    std::string name = pattern;
    const int fd = CreateLockedScratchFile(name);
    const char ok = fd >= 0 ? 1 : 0;
    if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  // Whatever happens below, the other program does not outlive the test.
  struct Reaper {
    pid_t pid;
    void Kill() {
      if (pid <= 0) return;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      pid = -1;
    }
    ~Reaper() { Kill(); }
  } reaper{child};
  char ok = 0;
  {
    Watchdog guard("waiting for the other save to start");
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  }
  ::close(ready[0]);
  auto scratchFiles = [&] {
    const auto names = Entries(dir_.Dir());
    return std::count_if(names.begin(), names.end(),
                         [](const std::string& n) { return n.rfind(".Last Boss.txt.~", 0) == 0; });
  };
  EXPECT_EQ(ok, 1);
  score_.SaveToFile(chart_);
  EXPECT_EQ(scratchFiles(), 1) << "a save that was still running lost its scratch file";
  reaper.Kill();
  score_.SaveToFile(chart_);
  EXPECT_EQ(scratchFiles(), 0) << "the killed save's scratch file was left behind";
  EXPECT_EQ(dir_.Read("Last Boss.txt"), "1000,1\r\n2000,2\r\n");
}

}  // namespace
