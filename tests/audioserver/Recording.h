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
  // Cycle marks further apart than their frames last by more than this (ms, well beyond a late
  // timer) show the server stood between them.
  static constexpr double kStoodMs = 2;
  // How far a mark's time may be off, from how it was taken (ms).
  double markUncertaintyMs = 0;
  std::string notes;
};

std::int64_t SteadyNs();

}  // namespace audioserver
