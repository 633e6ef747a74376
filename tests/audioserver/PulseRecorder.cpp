#include "audioserver/PulseRecorder.h"

#include <pulse/pulseaudio.h>
#include <time.h>

#include <chrono>
#include <cmath>

namespace audioserver {

std::int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {

struct Waiter {
  pa_threaded_mainloop* loop;
  int result = -1;
};

void Signal(pa_threaded_mainloop* loop) { pa_threaded_mainloop_signal(loop, 0); }

// Runs `op` to its end with the loop locked.
void Await(pa_threaded_mainloop* loop, pa_operation* op) {
  if (!op) return;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
  pa_operation_unref(op);
}

}  // namespace

std::unique_ptr<PulseRecorder> PulseRecorder::Start(const std::string& server, std::string& why) {
  std::unique_ptr<PulseRecorder> r(new PulseRecorder);
  r->loop_ = pa_threaded_mainloop_new();
  r->context_ = pa_context_new(pa_threaded_mainloop_get_api(r->loop_), "audioserver recorder");
  pa_context_set_state_callback(
      r->context_,
      [](pa_context*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); }, r->loop_);
  if (pa_context_connect(r->context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    why = std::string("recorder: ") + pa_strerror(pa_context_errno(r->context_));
    return nullptr;
  }
  pa_threaded_mainloop_start(r->loop_);
  pa_threaded_mainloop_lock(r->loop_);
  for (;;) {
    const auto state = pa_context_get_state(r->context_);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      why = std::string("recorder: ") + pa_strerror(pa_context_errno(r->context_));
      pa_threaded_mainloop_unlock(r->loop_);
      return nullptr;
    }
    pa_threaded_mainloop_wait(r->loop_);
  }
  // The monitor's own rate, so nothing is resampled on the way to us.
  struct Info {
    pa_threaded_mainloop* loop;
    int rate = 0;
  } info{r->loop_};
  Await(r->loop_, pa_context_get_source_info_by_name(
                      r->context_, "out.monitor",
                      [](pa_context*, const pa_source_info* i, int eol, void* p) {
                        auto* in = static_cast<Info*>(p);
                        if (i && eol == 0) in->rate = static_cast<int>(i->sample_spec.rate);
                        Signal(in->loop);
                      },
                      &info));
  if (info.rate == 0) {
    why = "recorder: the server has no out.monitor";
    pa_threaded_mainloop_unlock(r->loop_);
    return nullptr;
  }
  r->rec_.rate = info.rate;
  const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(info.rate), 1};
  r->stream_ = pa_stream_new(r->context_, "reference", &spec, nullptr);
  pa_stream_set_state_callback(
      r->stream_, [](pa_stream*, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); },
      r->loop_);
  pa_stream_set_read_callback(r->stream_, &PulseRecorder::OnRead, r.get());
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(25000, &spec));
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                                    PA_STREAM_START_UNMUTED);
  if (pa_stream_connect_record(r->stream_, "out.monitor", &attr, flags) < 0) {
    why = std::string("recorder: ") + pa_strerror(pa_context_errno(r->context_));
    pa_threaded_mainloop_unlock(r->loop_);
    return nullptr;
  }
  for (;;) {
    const auto state = pa_stream_get_state(r->stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) {
      why = std::string("recorder: ") + pa_strerror(pa_context_errno(r->context_));
      pa_threaded_mainloop_unlock(r->loop_);
      return nullptr;
    }
    pa_threaded_mainloop_wait(r->loop_);
  }
  pa_threaded_mainloop_unlock(r->loop_);
  r->rec_.samples.reserve(static_cast<std::size_t>(info.rate) * 40);
  r->poller_ = std::thread([p = r.get()] { p->Poll(); });
  return r;
}

PulseRecorder::~PulseRecorder() {
  stop_ = true;
  if (poller_.joinable()) poller_.join();
  if (loop_) pa_threaded_mainloop_stop(loop_);
  if (stream_) {
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
  }
  if (context_) {
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

void PulseRecorder::OnRead(pa_stream* s, size_t, void* self) {
  auto* r = static_cast<PulseRecorder*>(self);
  const void* data = nullptr;
  size_t n = 0;
  while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &n) == 0 && n > 0) {
    {
      std::lock_guard<std::mutex> lock(r->mutex_);
      const auto* f = static_cast<const float*>(data);
      const size_t count = n / sizeof(float);
      // A hole is frames the server had none for: silence, but it counts.
      if (f)
        r->rec_.samples.insert(r->rec_.samples.end(), f, f + count);
      else
        r->rec_.samples.insert(r->rec_.samples.end(), count, 0.0f);
      r->bytesRead_ += static_cast<std::int64_t>(n);
    }
    pa_stream_drop(s);
  }
}

void PulseRecorder::Poll() {
  const double rate = rec_.rate;
  while (!stop_) {
    pa_threaded_mainloop_lock(loop_);
    const std::int64_t before = SteadyNs();
    Await(loop_,
          pa_stream_update_timing_info(
              stream_,
              [](pa_stream*, int, void* loop) { Signal(static_cast<pa_threaded_mainloop*>(loop)); },
              loop_));
    const std::int64_t after = SteadyNs();
    const pa_timing_info* t = pa_stream_get_timing_info(stream_);
    if (t && !t->write_index_corrupt) {
      // Where the server says when it took its figures, that is the moment (its clock is the
      // wall clock, read here against the steady one); otherwise the middle of the round trip.
      std::int64_t at = (before + after) / 2;
      if (t->synchronized_clocks) {
        timespec wall{}, steady{};
        clock_gettime(CLOCK_REALTIME, &wall);
        clock_gettime(CLOCK_MONOTONIC, &steady);
        const std::int64_t offset =
            (wall.tv_sec - steady.tv_sec) * 1'000'000'000LL + (wall.tv_nsec - steady.tv_nsec);
        at = (t->timestamp.tv_sec * 1'000'000LL + t->timestamp.tv_usec) * 1000 - offset;
        if (at < before || at > after) ++outside_;
      }
      const double heard =
          static_cast<double>(t->write_index) / sizeof(float) +
          (static_cast<double>(t->source_usec) - static_cast<double>(t->sink_usec)) * rate / 1e6;
      sinkLatencyMs_ = static_cast<double>(t->sink_usec) / 1000;
      sinkUsecSum_ += static_cast<double>(t->sink_usec);
      sourceUsecSum_ += static_cast<double>(t->source_usec);
      maxSinkUsec_ = std::max(maxSinkUsec_, static_cast<double>(t->sink_usec));
      maxSourceUsec_ = std::max(maxSourceUsec_, static_cast<double>(t->source_usec));
      std::lock_guard<std::mutex> lock(mutex_);
      rec_.marks.push_back({at, heard});
      worstRoundTripMs_ = std::max(worstRoundTripMs_, (after - before) / 1e6);
      if (!t->read_index_corrupt && t->read_index != bytesRead_) ++indexMismatches_;
    }
    pa_threaded_mainloop_unlock(loop_);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool PulseRecorder::WaitForSinkLatencyBelow(double ms, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (sinkLatencyMs_ >= ms) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

Recording PulseRecorder::Finish() {
  stop_ = true;
  if (poller_.joinable()) poller_.join();
  pa_threaded_mainloop_lock(loop_);
  std::lock_guard<std::mutex> lock(mutex_);
  // The server's stamp is to the microsecond; without it, half the round trip.
  rec_.markUncertaintyMs = outside_ == 0 && !rec_.marks.empty() ? 0.05 : worstRoundTripMs_ / 2;
  rec_.notes = "PulseAudio-protocol monitor recorder at " + std::to_string(rec_.rate) +
               " Hz; worst timing round trip " + std::to_string(worstRoundTripMs_) + " ms";
  if (!rec_.marks.empty()) {
    const double n = static_cast<double>(rec_.marks.size());
    rec_.notes += "; sink latency " + std::to_string(sinkUsecSum_ / n / 1000) + " ms on average (" +
                  std::to_string(maxSinkUsec_ / 1000) + " at most), source latency " +
                  std::to_string(sourceUsecSum_ / n / 1000) + " ms (" +
                  std::to_string(maxSourceUsec_ / 1000) + " at most)";
  }
  if (outside_ > 0)
    rec_.notes += "; " + std::to_string(outside_) + " server stamps outside their round trip";
  if (indexMismatches_ > 0)
    rec_.notes +=
        "; read index differed from the bytes read " + std::to_string(indexMismatches_) + " times";
  Recording out = std::move(rec_);
  pa_threaded_mainloop_unlock(loop_);
  return out;
}

}  // namespace audioserver
