#include "audioserver/Player.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "audioserver/Recording.h"
#include "platform/mci/MPlayer.h"
#include "platform/rtl/SysUtils.h"

namespace audioserver {

std::vector<std::string> PlayerCommand(const PlayPlan& plan) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = 0;
  return {self,
          "--play",
          plan.file,
          std::to_string(plan.seconds),
          std::to_string(plan.pauseAt),
          std::to_string(plan.pauseFor),
          plan.log};
}

namespace {

int Play(const PlayPlan& plan) {
  std::vector<PositionRead> reads;
  reads.reserve(static_cast<std::size_t>(plan.seconds * 1100) + 10000);
  try {
    TMediaPlayer player(nullptr);
    player.FileName = plan.file;
    player.Open();
    player.SetTimeFormat(tfSamples);
    player.Play();
    const auto start = std::chrono::steady_clock::now();
    auto next = start;
    const auto seconds = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    bool paused = false, pausedOnce = false;
    while (seconds() < plan.seconds) {
      next += std::chrono::milliseconds(1);
      std::this_thread::sleep_until(next);
      const std::int64_t before = SteadyNs();
      const std::int64_t frame = player.Position();
      const std::int64_t after = SteadyNs();
      const auto mode = static_cast<std::int32_t>(player.Mode());
      reads.push_back(
          {(before + after) / 2, frame, mode, static_cast<std::int32_t>((after - before) / 1000)});
      if (plan.pauseAt >= 0 && !pausedOnce && seconds() >= plan.pauseAt) {
        player.Pause();
        paused = pausedOnce = true;
      } else if (paused && seconds() >= plan.pauseAt + plan.pauseFor) {
        player.Pause();
        paused = false;
      } else if (mode == mpStopped && !paused) {
        // The natural end: a long run plays the music again, after a breath of silence.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        player.Play();
      }
      // A late wake-up does not make up its missed reads in a burst.
      next = std::max(next, std::chrono::steady_clock::now() - std::chrono::milliseconds(1));
    }
    player.Stop();
    player.Close();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "player: %s\n", e.what());
    return 2;
  }
  std::ofstream out(plan.log, std::ios::binary);
  out.write(reinterpret_cast<const char*>(reads.data()),
            static_cast<std::streamsize>(reads.size() * sizeof(PositionRead)));
  return out ? 0 : 3;
}

}  // namespace

bool RunPlayerIfAsked(int argc, char** argv, int& status) {
  if (argc < 2 || std::strcmp(argv[1], "--play") != 0) return false;
  if (argc != 7) {
    std::fprintf(stderr, "usage: --play FILE SECONDS PAUSE_AT PAUSE_FOR LOG\n");
    status = 1;
    return true;
  }
  PlayPlan plan;
  plan.file = argv[2];
  plan.seconds = std::atof(argv[3]);
  plan.pauseAt = std::atof(argv[4]);
  plan.pauseFor = std::atof(argv[5]);
  plan.log = argv[6];
  status = Play(plan);
  return true;
}

std::vector<PositionRead> ReadPlayerLog(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<PositionRead> reads;
  if (!in) return reads;
  const auto size = static_cast<std::size_t>(in.tellg());
  reads.resize(size / sizeof(PositionRead));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(reads.data()),
          static_cast<std::streamsize>(reads.size() * sizeof(PositionRead)));
  return reads;
}

}  // namespace audioserver
