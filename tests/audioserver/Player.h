// The player under test, run as a child process of the suite (its audio path, chosen from the
// environment when the backend starts, belongs to one server): the real media player on the
// real SDL backend plays a file and reads its Position about 1,000 times a second, each read
// stamped with the steady clock halfway through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audioserver {

struct PositionRead {
  std::int64_t ns;        // steady clock, the middle of the read
  std::int64_t frame;     // Position in frames of 44.1 kHz
  std::int32_t mode;      // the player's Mode
  std::int32_t spreadUs;  // how long the read took
};

struct PlayPlan {
  std::string file;
  double seconds = 20;
  // Pause for `pauseFor` seconds once `pauseAt` seconds have been played; none when negative.
  double pauseAt = -1, pauseFor = 0;
  std::string log;
};

// The command line that runs `plan` in a child (this program, with --play first).
std::vector<std::string> PlayerCommand(const PlayPlan& plan);
// The child's side: true when it was asked to play (and has played); `status` is its exit code.
bool RunPlayerIfAsked(int argc, char** argv, int& status);

std::vector<PositionRead> ReadPlayerLog(const std::string& path);

}  // namespace audioserver
