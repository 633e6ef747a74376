#include "audioserver/PipeWireRecorder.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

namespace audioserver {

namespace {

const pw_stream_events kEvents = [] {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  return e;
}();

}  // namespace

std::unique_ptr<PipeWireRecorder> PipeWireRecorder::Start(const std::string& runtimeFolder,
                                                          double seconds, std::string& why) {
  pw_init(nullptr, nullptr);
  std::unique_ptr<PipeWireRecorder> r(new PipeWireRecorder);
  r->samples_.resize(static_cast<std::size_t>(seconds * static_cast<double>(r->rate_)));
  r->cycles_.resize(static_cast<std::size_t>(seconds * 1000));
  r->loop_ = pw_thread_loop_new("audioserver-recorder", nullptr);
  static pw_stream_events events = kEvents;
  events.process = &PipeWireRecorder::OnProcess;
  // No latency is asked for: the graph's quantum stays what the case sets.
  pw_properties* props =
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                        PW_KEY_MEDIA_ROLE, "Production", PW_KEY_STREAM_CAPTURE_SINK, "true",
                        PW_KEY_TARGET_OBJECT, "out", PW_KEY_NODE_NAME, "audioserver-reference",
                        PW_KEY_REMOTE_NAME, (runtimeFolder + "/pipewire-0").c_str(), nullptr);
  r->stream_ =
      pw_stream_new_simple(pw_thread_loop_get_loop(r->loop_), "reference", props, &events, r.get());
  if (!r->stream_) {
    why = "recorder: no PipeWire stream could be made";
    return nullptr;
  }
  std::uint8_t buffer[1024];
  spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
  spa_audio_info_raw info{};
  info.format = SPA_AUDIO_FORMAT_F32;
  info.channels = 1;
  info.rate = static_cast<std::uint32_t>(r->rate_);
  const spa_pod* params[1] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
  const auto flags = static_cast<pw_stream_flags>(
      PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
  if (pw_stream_connect(r->stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
    why = "recorder: the PipeWire stream could not connect";
    return nullptr;
  }
  pw_thread_loop_start(r->loop_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (r->cycleCount_ < 4) {
    if (std::chrono::steady_clock::now() > deadline) {
      pw_thread_loop_lock(r->loop_);
      const char* error = nullptr;
      const auto state = pw_stream_get_state(r->stream_, &error);
      why = std::string("recorder: no cycle within 10 s, stream ") +
            pw_stream_state_as_string(state) + (error ? std::string(": ") + error : std::string());
      pw_thread_loop_unlock(r->loop_);
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return r;
}

PipeWireRecorder::~PipeWireRecorder() {
  if (loop_) pw_thread_loop_stop(loop_);
  if (stream_) pw_stream_destroy(stream_);
  if (loop_) pw_thread_loop_destroy(loop_);
}

void PipeWireRecorder::OnProcess(void* self) {
  auto* r = static_cast<PipeWireRecorder*>(self);
  pw_buffer* buf = pw_stream_dequeue_buffer(r->stream_);
  if (!buf) return;
  pw_time time{};
  pw_stream_get_time_n(r->stream_, &time, sizeof time);
  const spa_data& d = buf->buffer->datas[0];
  const auto count = static_cast<std::int64_t>(d.chunk->size / sizeof(float));
  const std::int64_t first = r->frames_.load(std::memory_order_relaxed);
  const std::int64_t n = r->cycleCount_.load(std::memory_order_relaxed);
  if (first + count <= static_cast<std::int64_t>(r->samples_.size()) &&
      n < static_cast<std::int64_t>(r->cycles_.size()) && d.data) {
    const auto* from =
        reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(d.data) + d.chunk->offset);
    std::copy(from, from + count, r->samples_.begin() + first);
    r->cycles_[static_cast<std::size_t>(n)] = {time.now, first, time.delay,
                                               static_cast<std::int32_t>(count),
                                               static_cast<std::int32_t>(time.buffered)};
    r->frames_.store(first + count, std::memory_order_release);
    r->cycleCount_.store(n + 1, std::memory_order_release);
  } else {
    r->overflow_.fetch_add(1);
  }
  pw_stream_queue_buffer(r->stream_, buf);
}

Recording PipeWireRecorder::Finish() {
  pw_thread_loop_lock(loop_);
  pw_stream_set_active(stream_, false);
  pw_thread_loop_unlock(loop_);
  Recording rec;
  rec.rate = static_cast<int>(rate_);
  const std::int64_t frames = frames_.load(std::memory_order_acquire);
  const std::int64_t cycles = cycleCount_.load(std::memory_order_acquire);
  rec.samples.assign(samples_.begin(), samples_.begin() + frames);
  std::map<std::int32_t, int> sizes;
  std::map<std::int64_t, int> delays;
  for (std::int64_t i = 0; i < cycles; ++i) {
    const Cycle& c = cycles_[static_cast<std::size_t>(i)];
    // The monitor's frames of a cycle are what the sink took at the end of the cycle before:
    // the driver consumes its input after the followers have run, and its monitor output
    // reaches a follower in the next cycle. So at this cycle's time the sink was leaving a whole
    // cycle past the first frame we got now (the server's own PulseAudio-protocol timing says
    // the same), and what the path to us delays comes on top.
    rec.marks.push_back({c.now, static_cast<double>(c.first + c.frames + c.delay)});
    ++sizes[c.frames];
    ++delays[c.delay];
  }
  rec.marksStartCycles = true;
  rec.markUncertaintyMs = 0.1;
  rec.notes =
      "native PipeWire monitor recorder, " + std::to_string(cycles) + " cycles; frames a cycle:";
  for (const auto& [size, n] : sizes)
    rec.notes += " " + std::to_string(size) + " x" + std::to_string(n);
  rec.notes += "; stream delay:";
  for (const auto& [delay, n] : delays)
    rec.notes += " " + std::to_string(delay) + " x" + std::to_string(n);
  // Where the graph stood between two cycles, the sound stood too.
  int stood = 0;
  double longestMs = 0;
  for (std::size_t i = 1; i < rec.marks.size(); ++i) {
    const auto& a = rec.marks[i - 1];
    const auto& b = rec.marks[i];
    if (rec.StoodBetween(a, b)) {
      ++stood;
      longestMs = std::max(longestMs, static_cast<double>(b.ns - a.ns) / 1e6 -
                                          (b.heard - a.heard) * 1000 / rec.rate);
    }
  }
  if (stood > 0)
    rec.notes += "; the graph stood " + std::to_string(stood) + " times, at most " +
                 std::to_string(static_cast<int>(longestMs)) + " ms";
  if (overflow_ > 0) rec.notes += "; " + std::to_string(overflow_.load()) + " cycles past the room";
  return rec;
}

}  // namespace audioserver
