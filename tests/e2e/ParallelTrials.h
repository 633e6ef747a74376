// Whole-stage trials are independent runs of the program, so they are played side by side, each
// in a process of its own forked from the test: the game's state is global, and a fork gives
// every trial the fresh copy a new run of the program would have.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include "e2e/StageTrial.h"

namespace e2e {

// What a trial's process sends back: the figures of its play and whether any check failed.
struct TrialOutcome {
  PlayFigures figures;
  bool checksFailed = false;

  bool cleared() const { return figures.cleared; }
  PlayResult AsResult() const {
    PlayResult r;
    static_cast<PlayFigures&>(r) = figures;
    return r;
  }
};

inline TrialOutcome OutcomeOf(const PlayResult& r) { return {r, ::testing::Test::HasFailure()}; }

inline std::vector<TrialOutcome> PlayTrialsInParallel(const std::vector<Trial>& trials) {
  struct Running {
    pid_t pid;
    int fd;
    std::size_t index;
  };
  std::vector<TrialOutcome> out(trials.size());
  const std::size_t width = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<Running> running;
  std::size_t next = 0;
  auto reapOne = [&] {
    Running r = running.front();
    running.erase(running.begin());
    TrialOutcome o;
    const bool whole = read(r.fd, &o, sizeof o) == static_cast<ssize_t>(sizeof o);
    close(r.fd);
    int status = 0;
    waitpid(r.pid, &status, 0);
    EXPECT_TRUE(whole && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "trial " << r.index << " did not finish (status " << status << ")";
    if (!whole) o.checksFailed = true;
    out[r.index] = o;
  };
  while (next < trials.size() || !running.empty()) {
    if (next < trials.size() && running.size() < width) {
      int fds[2];
      std::fflush(nullptr);
      const pid_t pid = pipe(fds) == 0 ? fork() : -1;
      if (pid < 0) {
        // No process to spare: play this one here instead, as a slower run would.
        out[next] = OutcomeOf(PlayTrial(trials[next]));
        ++next;
        continue;
      }
      if (pid == 0) {
        close(fds[0]);
        const TrialOutcome o = OutcomeOf(PlayTrial(trials[next]));
        const bool sent = write(fds[1], &o, sizeof o) == static_cast<ssize_t>(sizeof o);
        _exit(sent ? 0 : 1);
      }
      close(fds[1]);
      running.push_back({pid, fds[0], next++});
    } else {
      reapOne();
    }
  }
  return out;
}

}  // namespace e2e
