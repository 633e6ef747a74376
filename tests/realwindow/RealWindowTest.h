// The base of every real-window test: one private X server for the whole run (started by the
// test program's main), a connection to it, and pictures of the steps when asked for.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "realwindow/Programs.h"
#include "realwindow/XSession.h"

namespace realwindow {

// The server of this run, or nullptr with the reason it could not be started.
const PrivateXServer* SharedServer();
const std::string& NoServerReason();
// Whether the suite must run rather than skip: on a CI machine (CI set), where a suite that
// skipped would pass without having tested anything.
bool MustRun();

class RealWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SharedServer() == nullptr) {
      if (MustRun())
        FAIL() << "No X server could be started, and CI must run this test: " << NoServerReason();
      GTEST_SKIP() << "No X server could be started: " << NoServerReason();
    }
    X_ = std::make_unique<XClient>(SharedServer()->Name());
    ASSERT_TRUE(X_->Connected()) << "the private X server takes no connection";
    ASSERT_TRUE(X_->HasXTest()) << "the private X server has no XTEST extension";
  }

  XClient& X() { return *X_; }
  const std::string& DisplayName() const { return SharedServer()->Name(); }

  // With MORVANE_RW_SHOTS naming a folder, the picture is kept there as <test>-<Step>.ppm.
  void Keep(const Picture& P, const std::string& Step) const;

  // Waits until the window's picture satisfies Seen; the last picture is kept under Step.
  template <typename Pred>
  bool WaitForPicture(Window W, Pred Seen, const std::string& Step, Millis Timeout = Millis(5000)) {
    Picture last;
    const bool ok = WaitUntil(
        [&] {
          last = X().CaptureWindow(W);
          return last.Width > 0 && Seen(last);
        },
        Timeout);
    Keep(last, Step);
    return ok;
  }

 private:
  std::unique_ptr<XClient> X_;
};

}  // namespace realwindow
