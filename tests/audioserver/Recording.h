// What a recorder on the null sink's monitor brings back: the sound that left the sink, mono,
// at the sink's rate, and time marks saying which of its frames was leaving the sink when.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audioserver {

struct Recording {
  int rate = 0;
  std::vector<float> samples;
  // At `ns` (steady clock), frame `heard` of `samples` (fractional) was leaving the sink.
  struct Mark {
    std::int64_t ns;
    double heard;
  };
  std::vector<Mark> marks;
  // Each mark is the start of a cycle of the sink: from it the sink plays the frames up to the
  // next mark at the rate, and then stands until that mark (a stalled server). Otherwise the
  // frames between two marks are spread over the time between them.
  bool marksStartCycles = false;
  // Whether the server stood between two cycle marks: they are further apart than twice the
  // frames between them last, and by more than a late timer (2 ms). Not merely twice: where the
  // graph's quantum grows, the first longer cycle still brings the frames of a shorter one.
  bool StoodBetween(const Mark& a, const Mark& b) const {
    const double lastNs = (b.heard - a.heard) * 1e9 / rate;
    return static_cast<double>(b.ns - a.ns) > 2 * lastNs + 2e6;
  }
  // How far a mark's time may be off, from how it was taken (ms).
  double markUncertaintyMs = 0;
  std::string notes;
};

std::int64_t SteadyNs();

}  // namespace audioserver
