// Finds where in the music each stretch of a recording comes from, by correlation, and from
// that and the recording's time marks, which frame of the music was heard at any instant.
//
// The recording is cut into blocks of 50 ms. Each block that is not silent is matched against
// the music (resampled to the recording's rate) near where the previous block matched; a block
// that matches nowhere near, or the first sound after silence, is looked for again: as the
// music going on where it stopped, or as the music starting over. The match is to a fraction of
// a frame (a parabola through the best three lags).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audioserver/Recording.h"

namespace audioserver {

struct Block {
  std::int64_t start = 0;  // first recorded frame
  bool silent = true;
  double lag = 0;    // recorded frame minus music frame, both at the recording's rate
  double match = 0;  // normalised correlation of the match
};

// Stretches of music that played without a break: recorded frames [first, last] hold music
// frames from `musicFirst` on, at the music's rate.
struct Stretch {
  std::int64_t first = 0, last = 0;
  double lag = 0, lastLag = 0;           // at its start and at its end
  double musicFirst = 0, musicLast = 0;  // music frames at 44.1 kHz
};

class Alignment {
 public:
  // Only what was heard up to `endNs` counts. `rec` must outlive the alignment.
  Alignment(const Recording& rec, const std::vector<float>& music44k, std::int64_t endNs);

  // The music frame (44.1 kHz, fractional) leaving the sink at `ns`; none while the sink plays
  // silence or outside the recording's marks.
  std::optional<double> HeardAt(std::int64_t ns) const;
  // The music frame after the last one heard by `ns`: HeardAt() while music plays, and while
  // the sink plays nothing or stands, the frame after the music heard last. Nothing before the
  // first music, nor while the sink plays sound that is not matched music.
  std::optional<double> HeardBy(std::int64_t ns) const;
  // The recorded frame (fractional) leaving the sink at `ns`, from the marks around it. Where
  // the marks start cycles and two of them are further apart than the frames between them last,
  // the sink played those frames and then stood.
  std::optional<double> HeardIndex(std::int64_t ns) const;

  const std::vector<Block>& Blocks() const { return blocks_; }
  const std::vector<Stretch>& Stretches() const { return stretches_; }
  // Blocks matched worse than a clear match, and jumps of the lag within a stretch of more than
  // 0.25 ms: what a whole output has none of.
  int PoorMatches() const { return poor_; }
  int LagJumps() const { return jumps_; }
  // Stretches of at least 0.5 ms where the sink played nothing while the music had sound.
  int Gaps() const { return gaps_; }
  // The largest change of the lag within a stretch, in ms: music gained or lost.
  double LagWanderMs() const { return wander_ * 1000 / rec_.rate; }
  // The share of the output between its first and its last sound that is silence.
  double SilentShare() const;
  std::string Describe() const;

 private:
  // The part of [start, start + length) from its first to its last frame of sound.
  std::pair<std::int64_t, std::int64_t> Sounding(std::int64_t start, std::int64_t length) const;
  bool Silent(std::int64_t start) const;
  // Best lag in [from, to], with its correlation, over the block at `start`.
  std::pair<double, double> BestLag(std::int64_t start, std::int64_t length, double from,
                                    double to) const;
  // The lag of the block at `start` within seconds of `near`, to an envelope step.
  double RoughLag(std::int64_t start, double near) const;
  std::int64_t FirstSound(const std::vector<float>& x, std::int64_t from) const;
  // The block holding `frame`; past the last block, the last.
  const Block& BlockAt(std::int64_t frame) const;
  void Track();
  void Gather();
  // Joins stretches that a rest of the music itself separates.
  void JoinAcrossRests();
  void FindGaps();

  const Recording& rec_;
  double ratio_;  // recording rate over 44.1 kHz
  std::vector<float> music_;
  std::vector<float> recEnvelope_, musicEnvelope_;
  std::int64_t blockLength_;
  std::int64_t end_;
  std::vector<Block> blocks_;
  std::vector<Stretch> stretches_;
  int poor_ = 0, jumps_ = 0, gaps_ = 0;
  double wander_ = 0;
};

}  // namespace audioserver
