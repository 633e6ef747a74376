// A native PipeWire recorder on the null sink's monitor. The reference for what is heard: in
// every graph cycle it takes the monitor's frames together with the cycle's driver time. Those
// frames are what the sink consumed one cycle earlier (the driver takes its input after the
// followers have run, and its monitor output reaches a follower in the next cycle), so at the
// cycle's time the frame leaving the sink is the one after them, plus the delay the stream
// reports for the path from the sink to us (0 here). From a cycle's time the sink plays the
// cycle's frames at its rate, as a device would, and then stands until the next cycle (the
// graph stalled). The time is the driver's own stamp of the cycle, to well under 0.1 ms on a
// timer-driven null sink.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audioserver/Recording.h"

struct pw_thread_loop;
struct pw_stream;

namespace audioserver {

class PipeWireRecorder {
 public:
  // `runtimeFolder` holds the server's socket; room for `seconds` of sound is made up front, as
  // the cycle's thread must not allocate. Recording runs when this returns; empty, with the
  // reason, when it cannot.
  static std::unique_ptr<PipeWireRecorder> Start(const std::string& runtimeFolder, double seconds,
                                                 std::string& why);
  ~PipeWireRecorder();
  PipeWireRecorder(const PipeWireRecorder&) = delete;
  PipeWireRecorder& operator=(const PipeWireRecorder&) = delete;

  Recording Finish();

 private:
  struct Cycle {
    std::int64_t now;       // driver time of the cycle, ns
    std::int64_t first;     // index of the cycle's first frame in samples_
    std::int64_t delay;     // frames
    std::int32_t frames;    // frames in the cycle
    std::int32_t buffered;  // frames the stream holds beyond the cycle
  };
  PipeWireRecorder() = default;
  static void OnProcess(void* self);

  pw_thread_loop* loop_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::vector<float> samples_;
  std::vector<Cycle> cycles_;
  std::atomic<std::int64_t> frames_{0};
  std::atomic<std::int64_t> cycleCount_{0};
  std::atomic<std::int64_t> overflow_{0};
  std::int64_t rate_ = 48000;
};

}  // namespace audioserver
