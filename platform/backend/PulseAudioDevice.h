// The audio device on a server that speaks the PulseAudio protocol (PulseAudio itself, or
// PipeWire through its PulseAudio service), through libpulse's playback stream. The mixer renders
// each block on the server's request; which frame leaves the sink is what the server's own timing
// says (see StreamClock), so the count is right at any buffer size, quantum or sink rate.
//
// If the server goes away while playing, the device goes on rendering into nothing at the
// nominal rate: silent, but positions keep moving and sounds end on time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/backend/Backend.h"
#include "platform/backend/StreamClock.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

namespace backend {

class PulseAudioDevice : public AudioDevice {
 public:
  // Connects to the server the environment names (PULSE_SERVER, or the user's runtime folder)
  // and starts a stream of `rate` frames a second, interleaved stereo, 16 bits. Gives nullptr
  // when no server answers or the stream cannot be made, and says why in `why`; otherwise `why`
  // describes the server and the stream.
  static std::shared_ptr<PulseAudioDevice> Open(int rate, AudioRenderFn render, std::string& why);
  ~PulseAudioDevice() override;
  PulseAudioDevice(const PulseAudioDevice&) = delete;
  PulseAudioDevice& operator=(const PulseAudioDevice&) = delete;

  int Rate() const override { return rate_; }
  void Lock() override { renderMutex_.lock(); }
  void Unlock() override { renderMutex_.unlock(); }
  // From the last timing the server's thread noted: never waits for that thread.
  std::uint64_t FramesPlayed() const override;

  // Times the server ran out of frames to play since the stream started.
  int Underruns() const { return underruns_.load(); }
  // The server has gone away; the device plays on into nothing.
  bool Lost() const { return lost_.load(); }

 private:
  PulseAudioDevice(int rate, AudioRenderFn render);
  bool Start(std::string& why);
  void Shutdown();
  // Waits on the server's thread (its lock held) until `done`, or fails after `seconds`.
  template <typename Done>
  bool WaitFor(Done done, double seconds);

  static void OnContextState(pa_context* c, void* self);
  static void OnStreamState(pa_stream* s, void* self);
  static void OnWrite(pa_stream* s, std::size_t bytes, void* self);
  static void OnUnderflow(pa_stream* s, void* self);
  static void OnStarted(pa_stream* s, void* self);
  // Asks the server for fresh timing; its answer goes to the clock with the time it was asked.
  void AskTiming();
  static void OnTimingAnswered(pa_stream* s, int success, void* ask);
  static void OnTick(pa_mainloop_api*, pa_time_event* e, const timeval*, void* self);
  void Fill(std::size_t bytes);
  void NoteTiming(std::chrono::steady_clock::time_point asked);
  void ServerLost();
  void PlayIntoNothing();
  // On a thread of its own: asks for fresh timing every fraction of a millisecond.
  void AskOften();

  const int rate_;
  AudioRenderFn render_;
  mutable std::recursive_mutex renderMutex_;
  mutable StreamClock clock_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_time_event* tick_ = nullptr;
  bool rendering_ = false;  // on the server's thread: set once Open has returned
  struct Ask {
    PulseAudioDevice* device;
    std::chrono::steady_clock::time_point at;
  };
  std::list<Ask> asks_;  // on the server's thread: the questions not yet answered
  std::atomic<int> underruns_{0};
  std::atomic<bool> lost_{false};

  std::thread asker_;
  std::mutex askMutex_;
  std::condition_variable askCv_;
  bool askStop_ = false;

  // After the server is lost: renders at the nominal rate until the device is closed.
  std::mutex nothingMutex_;
  std::condition_variable nothingCv_;
  bool closing_ = false;
  std::thread nothing_;
};

}  // namespace backend
