// The frame leaving an audio server's sink now, from the server's own timing. The server says,
// now and then, which moment of the stream is leaving its sink and whether it is playing on;
// between two reports the wall clock carries the count on at the nominal rate. The count is in
// frames handed to the stream, so it maps straight onto what the mixer rendered.
//
// Never more than was handed over (the sink cannot play what it has not been given), never less
// than reported before. Once the server is gone nothing more is heard, yet the program still
// needs a position that moves: from then on the count runs on from where the sound stopped.
//
// Thread-safe on its own lock, held only for a few arithmetic steps: the server's thread reports,
// the window's thread asks, and neither ever waits for the other's work.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace backend {

class StreamClock {
 public:
  using Time = std::chrono::steady_clock::time_point;

  // `frameBytes`: bytes of one frame of the stream.
  StreamClock(int rate, int frameBytes);

  // `frames` more frames were handed to the stream.
  void Written(std::uint64_t frames);
  // The server's timing as it stood at `at`: it had read `readIndex` bytes of the stream, of
  // which its sink still held `sinkUsec` microseconds; `playing`: it plays on from there (not
  // waiting for a first buffer, nor for frames after running out).
  void Timing(std::int64_t readIndex, std::uint64_t sinkUsec, bool playing, Time at);
  // The server is gone at `at`: the count runs on from what was leaving the sink then.
  void Lost(Time at);
  // The frame leaving the sink at `now`.
  std::uint64_t Played(Time now);

  std::uint64_t WrittenFrames();

 private:
  double EstimateAt(Time now) const;

  std::mutex mutex_;
  const double rate_;
  const double frameBytes_;
  std::uint64_t written_ = 0;
  bool known_ = false;  // a report has come
  double frameAt_ = 0;  // the frame leaving the sink at `at_`
  Time at_{};
  bool running_ = false;
  std::uint64_t reported_ = 0;
};

}  // namespace backend
