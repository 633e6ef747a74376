// A reader of PulseAudio's pipe sink that takes the sink's output at a steady pace, as a sound
// card would: every block is read at its own moment of the steady clock, so the frames read are
// the frames heard at that moment. The pipe is made as small as the kernel allows (one page,
// 1024 frames), so the sink cannot run far ahead of the reader.
//
// Uncertainty: a block of 64 frames is read at once, and its middle is taken as heard at the
// moment the read returned: within half a block (0.73 ms at 44.1 kHz), plus how late the
// reading thread wakes, which is measured and reported.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audioserver/Recording.h"

namespace audioserver {

class PipeRecorder {
 public:
  // Reading has begun when this returns; empty, with the reason, when it cannot. Room for
  // `seconds` is made at once: growing the recording on the way would hold the reader up.
  static std::unique_ptr<PipeRecorder> Start(const std::string& fifo, int rate, double seconds,
                                             std::string& why);
  ~PipeRecorder();
  PipeRecorder(const PipeRecorder&) = delete;
  PipeRecorder& operator=(const PipeRecorder&) = delete;

  Recording Finish();

 private:
  PipeRecorder() = default;
  void Read();

  int fd_ = -1;
  std::mutex mutex_;  // guards rec_ against the reading thread
  Recording rec_;
  double worstLateMs_ = 0;
  std::int64_t lateReads_ = 0;  // reads more than half a block late
  bool realtime_ = false;
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

}  // namespace audioserver
