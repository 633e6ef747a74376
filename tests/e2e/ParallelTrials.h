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

// What a trial's process sends back: the figures of its result and whether any check failed.
struct TrialOutcome {
  bool cleared = false;
  bool checksFailed = false;
  int frames = 0, bursts = 0, bulletHits = 0, bodyHits = 0, stakkoPhaseAtLoss = -1;
  double survivedMs = 0, lowestPower = 404;

  PlayResult AsResult() const {
    PlayResult r;
    r.cleared = cleared;
    r.frames = frames;
    r.bursts = bursts;
    r.bulletHits = bulletHits;
    r.bodyHits = bodyHits;
    r.stakkoPhaseAtLoss = stakkoPhaseAtLoss;
    r.survivedMs = survivedMs;
    r.lowestPower = lowestPower;
    return r;
  }
};

inline TrialOutcome OutcomeOf(const PlayResult& r) {
  TrialOutcome o;
  o.cleared = r.cleared;
  o.checksFailed = ::testing::Test::HasFailure();
  o.frames = r.frames;
  o.bursts = r.bursts;
  o.bulletHits = r.bulletHits;
  o.bodyHits = r.bodyHits;
  o.stakkoPhaseAtLoss = r.stakkoPhaseAtLoss;
  o.survivedMs = r.survivedMs;
  o.lowestPower = r.lowestPower;
  return o;
}

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
