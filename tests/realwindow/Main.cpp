// The real-window tests: the built ProjectMorvane and Tessaly, each started from a private copy of
// the program folder on a private Xvfb screen of 1024 x 768, driven with XTEST input and checked
// on the screen's pixels, in the files they write and by their exit status. Without an X server
// to start, every test skips and says why, and the program ends with kSkipped so that ctest
// reports the suite as skipped, not passed; with CI set, every test fails instead.
//
// MORVANE_RW_SHOTS=<folder> keeps a picture of each step looked at; MORVANE_RW_KEEP=1 keeps
// the temporary program folders with the programs' output (and any core file).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "realwindow/RealWindowTest.h"

namespace realwindow {

namespace {

std::optional<PrivateXServer> g_server;
bool g_started = false;
std::string g_why;

// One server for the run: starting Xvfb costs more than most of the tests.
class XServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (auto server = PrivateXServer::Start(g_why)) g_server.emplace(std::move(*server));
    g_started = g_server.has_value();
  }
  void TearDown() override { g_server.reset(); }
};

}  // namespace

bool MustRun() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0';
}

const PrivateXServer* SharedServer() { return g_server ? &*g_server : nullptr; }
const std::string& NoServerReason() { return g_why; }

void RealWindowTest::Keep(const Picture& P, const std::string& Step) const {
  const char* dir = std::getenv("MORVANE_RW_SHOTS");
  if (!dir || !*dir || P.Width == 0) return;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(info->test_suite_name()) + "." + info->name() + "-" + Step;
  P.SavePpm((std::filesystem::path(dir) / (name + ".ppm")).string());
}

}  // namespace realwindow

int main(int argc, char** argv) {
  // The exit status that the test's SKIP_RETURN_CODE names.
  constexpr int kSkipped = 77;
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new realwindow::XServerEnvironment);
  const int status = RUN_ALL_TESTS();
  if (status == 0 && !realwindow::g_started) {
    std::printf("Skipped: no X server could be started (%s)\n", realwindow::g_why.c_str());
    return kSkipped;
  }
  return status;
}
