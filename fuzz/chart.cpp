// A chart file of any bytes: loading must give a sorted chart that starts with the sentinel or
// an earlier note, and the tracker must walk it to the end without leaving it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "game/UScore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/morvane_fuzz_chart_" + std::to_string(getpid()) + ".txt";
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TScore score;
  int badLines = 0;
  score.OnBadLine = [&](const std::string&, int) { ++badLines; };
  std::int32_t position = INT32_MIN;
  score.MusicPosition = [&] { return position; };
  score.LoadFromFile(path);
  if (score.Count() < 1 || badLines > 1) std::abort();
  for (int i = 1; i < score.Count(); ++i)
    if (score.GetNote(i - 1)->Time > score.GetNote(i)->Time) std::abort();

  // Walk the music from before the first note to after the last, in uneven steps.
  for (std::int64_t p :
       {std::int64_t{INT32_MIN}, std::int64_t{-1}, std::int64_t{0}, std::int64_t{999},
        std::int64_t{1000}, std::int64_t{65536}, std::int64_t{INT32_MAX}}) {
    position = static_cast<std::int32_t>(p);
    score.Update();
    if (score.Current == nullptr || score.Next == nullptr) std::abort();
    if (score.CurrentIndex >= score.Count() || score.NextIndex >= score.Count()) std::abort();
    for (int k = 0; k < 256; k += 37) {
      score.FindKind(true, static_cast<std::uint8_t>(k));
      score.FindKind(false, static_cast<std::uint8_t>(k));
    }
  }
  if (score.Current != score.GetNote(score.Count() - 1)) std::abort();
  return 0;
}
