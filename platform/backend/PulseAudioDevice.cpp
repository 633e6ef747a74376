#include "platform/backend/PulseAudioDevice.h"

#include <pulse/pulseaudio.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace backend {

namespace {

// The whole way from our write to the sink's output. With every core busy a plain thread may
// wait several milliseconds for the processor, and a block of the mixer may decode music; 50 ms
// leaves it well over 30 ms to do both before the sink runs dry, at PipeWire's usual quanta too
// (a forced quantum larger than that makes the server raise it).
constexpr pa_usec_t kLatencyUsec = 50000;
// How much the server asks for at a time: small enough that a request never empties the buffer
// by much, large enough that the mixer is not woken needlessly often.
constexpr pa_usec_t kRequestUsec = 10000;
// We ask the server for fresh timing all the time, one question at a time, after a pause at
// random within these bounds after each answer. At random, because at a fixed interval the reports
// fall at nearly the same point of each of the server's cycles whenever the interval is close to a
// fraction of a cycle (5 ms against PipeWire's 512-frame cycle of 10.7 ms), and the lowest of
// them, which the count follows (see StreamClock), then stays milliseconds after the cycle's
// start; at random some fall just before it within every second. All the time, because once an
// answer is late the count is carried on past the newest report for less than 2 ms, so that a
// stall never puts it further ahead of the sound: a report must come well within that, and a
// late one must be known for late by then. Each is one small message on a local socket. A thread
// of its own asks: libpulse's main loop waits in whole milliseconds.
constexpr std::chrono::microseconds kAskPauseMin{100};
constexpr std::chrono::microseconds kAskPauseMax{500};
// An answer not come this long after asking is late (they take 0.1 to 0.3 ms on a quiet machine).
constexpr std::chrono::microseconds kOverdue{500};
// How long an unanswered question holds back the next.
constexpr std::chrono::milliseconds kGiveUpAnswer{100};
// How often the server's thread looks whether the stream wants frames, besides its requests.
constexpr pa_usec_t kTickUsec = 2000;
constexpr double kConnectSeconds = 3.0;
constexpr int kNothingBlock = 512;  // frames rendered at a time once the server is gone

std::string ErrorOf(pa_context* c) { return c ? pa_strerror(pa_context_errno(c)) : "no memory"; }

struct ServerFacts {
  std::string name, version, sink;
  std::uint32_t sinkRate = 0;
  bool done = false;
};

}  // namespace

PulseAudioDevice::PulseAudioDevice(int rate, AudioRenderFn render)
    : rate_(rate), render_(std::move(render)), clock_(rate, 4) {}

PulseAudioDevice::~PulseAudioDevice() { Shutdown(); }

std::shared_ptr<PulseAudioDevice> PulseAudioDevice::Open(int rate, AudioRenderFn render,
                                                         std::string& why) {
  std::shared_ptr<PulseAudioDevice> dev(new PulseAudioDevice(rate, std::move(render)));
  if (!dev->Start(why)) return nullptr;
  return dev;
}

template <typename Done>
bool PulseAudioDevice::WaitFor(Done done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    // The tick wakes us every few milliseconds.
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pa_threaded_mainloop_wait(loop_);
  }
  return true;
}

bool PulseAudioDevice::Start(std::string& why) {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) {
    why = "no memory for libpulse's main loop";
    return false;
  }
  pa_proplist* props = pa_proplist_new();
  pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Morvane");
  pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "game");
  context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Morvane", props);
  pa_proplist_free(props);
  if (!context_) {
    why = "no memory for a libpulse context";
    return false;
  }
  pa_context_set_state_callback(context_, &OnContextState, this);
  // Never start a server of our own: where none runs, SDL plays.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    why = "no PulseAudio server: " + ErrorOf(context_);
    return false;
  }
  if (pa_threaded_mainloop_start(loop_) < 0) {
    why = "libpulse's main loop did not start";
    return false;
  }
  pa_threaded_mainloop_lock(loop_);
  struct Unlocker {
    pa_threaded_mainloop* loop;
    ~Unlocker() { pa_threaded_mainloop_unlock(loop); }
  } unlocker{loop_};
  tick_ = pa_context_rttime_new(context_, pa_rtclock_now() + kTickUsec, &OnTick, this);

  const bool settled = WaitFor(
      [&] {
        const pa_context_state_t s = pa_context_get_state(context_);
        return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
      },
      kConnectSeconds);
  if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
    why = "no PulseAudio server: " +
          (settled ? ErrorOf(context_) : std::string("no answer within 3 s"));
    return false;
  }

  ServerFacts facts;
  auto onServer = [](pa_context*, const pa_server_info* info, void* p) {
    auto* f = static_cast<ServerFacts*>(p);
    if (info) {
      f->name = info->server_name ? info->server_name : "";
      f->version = info->server_version ? info->server_version : "";
    }
    f->done = true;
  };
  if (pa_operation* op = pa_context_get_server_info(context_, onServer, &facts)) {
    pa_operation_unref(op);
    WaitFor([&] { return facts.done; }, kConnectSeconds);
  }

  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16NE;
  spec.rate = static_cast<std::uint32_t>(rate_);
  spec.channels = 2;
  stream_ = pa_stream_new(context_, "Music and sounds", &spec, nullptr);
  if (!stream_) {
    why = "PulseAudio server refused a stream: " + ErrorOf(context_);
    return false;
  }
  pa_stream_set_state_callback(stream_, &OnStreamState, this);
  pa_stream_set_write_callback(stream_, &OnWrite, this);
  pa_stream_set_underflow_callback(stream_, &OnUnderflow, this);
  pa_stream_set_started_callback(stream_, &OnStarted, this);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kLatencyUsec, &spec));
  attr.prebuf = static_cast<std::uint32_t>(-1);  // the whole buffer: after a dropout too
  attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(kRequestUsec, &spec));
  attr.fragsize = static_cast<std::uint32_t>(-1);
  // The sink's own latency counts in the target, so the total is what we asked for.
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
    why = "PulseAudio server refused a stream: " + ErrorOf(context_);
    return false;
  }
  WaitFor(
      [&] {
        const pa_stream_state_t s = pa_stream_get_state(stream_);
        return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
      },
      kConnectSeconds);
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
    why = "PulseAudio server refused a stream: " + ErrorOf(context_);
    return false;
  }

  facts.done = false;
  auto onSink = [](pa_context*, const pa_sink_info* info, int eol, void* p) {
    auto* f = static_cast<ServerFacts*>(p);
    if (info) {
      f->sink = info->name ? info->name : "";
      f->sinkRate = info->sample_spec.rate;
    }
    if (eol) f->done = true;
  };
  if (pa_operation* op = pa_context_get_sink_info_by_index(
          context_, pa_stream_get_device_index(stream_), onSink, &facts)) {
    pa_operation_unref(op);
    WaitFor([&] { return facts.done; }, kConnectSeconds);
  }
  const pa_buffer_attr* got = pa_stream_get_buffer_attr(stream_);
  const std::uint32_t tlength = got ? got->tlength : attr.tlength;
  const std::uint32_t minreq = got ? got->minreq : attr.minreq;
  // The sink's share of the latency, which the server sets for our stream.
  pa_usec_t sinkUsec = 0;
  if (pa_operation* op = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
    WaitFor([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, kConnectSeconds);
    pa_operation_unref(op);
    if (const pa_timing_info* t = pa_stream_get_timing_info(stream_))
      sinkUsec = t->configured_sink_usec;
  }

  why = "PulseAudio protocol server '" + facts.name + " " + facts.version + "', sink '" +
        facts.sink + "' at " + std::to_string(facts.sinkRate) + " Hz, latency " +
        std::to_string((pa_bytes_to_usec(tlength, &spec) + sinkUsec + 500) / 1000) +
        " ms (buffer " + std::to_string(pa_bytes_to_usec(tlength, &spec) / 1000) + " ms, sink " +
        std::to_string(sinkUsec / 1000) + " ms, requests of " +
        std::to_string(pa_bytes_to_usec(minreq, &spec) / 1000) + " ms)";
  // The server may have asked for frames already; the first tick, at once, hands them over on
  // the server's thread, where every block is rendered from now on.
  rendering_ = true;
  if (tick_) pa_context_rttime_restart(context_, tick_, pa_rtclock_now());
  asker_ = std::thread([this] { AskOften(); });
  return true;
}

void PulseAudioDevice::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(askMutex_);
    askStop_ = true;
  }
  askCv_.notify_all();
  if (asker_.joinable()) asker_.join();
  if (loop_) {
    pa_threaded_mainloop_lock(loop_);
    rendering_ = false;
    if (tick_) {
      pa_threaded_mainloop_get_api(loop_)->time_free(tick_);
      tick_ = nullptr;
    }
    if (stream_) {
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
      pa_stream_set_started_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(nothingMutex_);
    closing_ = true;
  }
  nothingCv_.notify_all();
  if (nothing_.joinable()) nothing_.join();
}

std::uint64_t PulseAudioDevice::FramesPlayed() const {
  return clock_.Played(std::chrono::steady_clock::now());
}

void PulseAudioDevice::OnContextState(pa_context* c, void* self) {
  auto* dev = static_cast<PulseAudioDevice*>(self);
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)) && dev->rendering_) dev->ServerLost();
  pa_threaded_mainloop_signal(dev->loop_, 0);
}

void PulseAudioDevice::OnStreamState(pa_stream* s, void* self) {
  auto* dev = static_cast<PulseAudioDevice*>(self);
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && dev->rendering_) dev->ServerLost();
  pa_threaded_mainloop_signal(dev->loop_, 0);
}

void PulseAudioDevice::OnWrite(pa_stream*, std::size_t bytes, void* self) {
  static_cast<PulseAudioDevice*>(self)->Fill(bytes);
}

void PulseAudioDevice::OnUnderflow(pa_stream* s, void* self) {
  ++static_cast<PulseAudioDevice*>(self)->underruns_;
  OnStarted(s, self);
}

void PulseAudioDevice::OnStarted(pa_stream*, void* self) {
  // The sink starts or stops playing us: fresh timing says from which frame.
  static_cast<PulseAudioDevice*>(self)->AskTiming();
}

void PulseAudioDevice::AskTiming() {
  if (!stream_ || lost_) return;
  asks_.push_back({this, std::chrono::steady_clock::now()});
  if (pa_operation* op = pa_stream_update_timing_info(stream_, &OnTimingAnswered, &asks_.back()))
    pa_operation_unref(op);
  else
    asks_.pop_back();
}

void PulseAudioDevice::OnTimingAnswered(pa_stream*, int success, void* ask) {
  // Answers come in the order asked; a question the stream dropped unanswered goes with the
  // ones asked before this.
  const Ask answered = *static_cast<Ask*>(ask);
  PulseAudioDevice* dev = answered.device;
  while (!dev->asks_.empty() && &dev->asks_.front() != ask) dev->asks_.pop_front();
  if (!dev->asks_.empty()) dev->asks_.pop_front();
  if (success) dev->NoteTiming(answered.at);
}

void PulseAudioDevice::OnTick(pa_mainloop_api*, pa_time_event* e, const timeval*, void* self) {
  auto* dev = static_cast<PulseAudioDevice*>(self);
  pa_threaded_mainloop_signal(dev->loop_, 0);
  if (dev->rendering_ && dev->stream_ && pa_stream_get_state(dev->stream_) == PA_STREAM_READY) {
    const std::size_t wanted = pa_stream_writable_size(dev->stream_);
    if (wanted != static_cast<std::size_t>(-1) && wanted > 0) dev->Fill(wanted);
  }
  pa_context_rttime_restart(dev->context_, e, pa_rtclock_now() + kTickUsec);
}

void PulseAudioDevice::AskOften() {
  std::minstd_rand random;
  std::uniform_int_distribution<long> pause(kAskPauseMin.count(), kAskPauseMax.count());
  auto next = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(askMutex_);
  while (!askStop_) {
    askCv_.wait_until(lock, next, [this] { return askStop_; });
    if (askStop_) break;
    const auto now = std::chrono::steady_clock::now();
    pa_threaded_mainloop_lock(loop_);
    // One question at a time: a server that is slow to answer is not pressed with more, but
    // the clock hears at once that it is late. One that lost a question is asked again.
    const bool waiting = !asks_.empty() && now - asks_.back().at < kGiveUpAnswer;
    if (waiting && now - asks_.back().at >= kOverdue) clock_.Overdue();
    const bool ask =
        !waiting && rendering_ && stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY;
    if (ask) AskTiming();
    pa_threaded_mainloop_unlock(loop_);
    // Look again when the answer would be late; the next question follows a pause at random.
    next = std::max(next, now) + (ask ? kOverdue : std::chrono::microseconds(pause(random)));
  }
}

void PulseAudioDevice::Fill(std::size_t bytes) {
  if (!rendering_ || lost_) return;
  constexpr std::size_t kFrameBytes = 4;
  while (bytes >= kFrameBytes) {
    void* data = nullptr;
    std::size_t n = bytes;
    if (pa_stream_begin_write(stream_, &data, &n) < 0 || !data) break;
    n = std::min(n, bytes);
    n -= n % kFrameBytes;
    if (n == 0) {
      pa_stream_cancel_write(stream_);
      break;
    }
    const int frames = static_cast<int>(n / kFrameBytes);
    std::memset(data, 0, n);
    {
      std::lock_guard<std::recursive_mutex> lock(renderMutex_);
      if (render_) render_(static_cast<std::int16_t*>(data), frames);
    }
    // Counted as handed over whether or not the write goes through: the mixer has moved on.
    clock_.Written(static_cast<std::uint64_t>(frames));
    if (pa_stream_write(stream_, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) break;
    bytes -= n;
  }
}

void PulseAudioDevice::NoteTiming(std::chrono::steady_clock::time_point asked) {
  if (!stream_ || lost_) return;
  const pa_timing_info* info = pa_stream_get_timing_info(stream_);
  if (!info) return;
  // The server's figures are as they stood at its time stamp, taken on the system's wall clock;
  // they reach us a little later, the later the busier the machine. A stamp that is not a recent
  // wall-clock time (another clock, or the wall clock was set meanwhile) is taken as now.
  timeval now{};
  gettimeofday(&now, nullptr);
  double age = 0;
  if (pa_timeval_cmp(&now, &info->timestamp) >= 0) {
    const double seconds = static_cast<double>(pa_timeval_diff(&now, &info->timestamp)) * 1e-6;
    if (seconds < 1.0) age = seconds;
  }
  const auto at = std::chrono::steady_clock::now() -
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(age));
  // libpulse's own interpolation is not used: it runs on while the server waits for a first
  // buffer or after it ran out, which would put the count ahead of the sound.
  clock_.Timing(info->read_index, info->sink_usec, info->playing != 0, at, asked);
}

void PulseAudioDevice::ServerLost() {
  if (lost_.exchange(true)) return;
  clock_.Lost(std::chrono::steady_clock::now());
  std::lock_guard<std::mutex> lock(nothingMutex_);
  if (!closing_) nothing_ = std::thread([this] { PlayIntoNothing(); });
}

void PulseAudioDevice::PlayIntoNothing() {
  std::vector<std::int16_t> scratch(kNothingBlock * 2);
  const auto period = std::chrono::microseconds(1000000LL * kNothingBlock / rate_);
  auto next = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(nothingMutex_);
  while (!closing_) {
    lock.unlock();
    std::fill(scratch.begin(), scratch.end(), std::int16_t{0});
    {
      std::lock_guard<std::recursive_mutex> render(renderMutex_);
      if (render_) render_(scratch.data(), kNothingBlock);
    }
    clock_.Written(kNothingBlock);
    next += period;
    lock.lock();
    nothingCv_.wait_until(lock, next, [this] { return closing_; });
  }
}

}  // namespace backend
