#include "audioserver/PipeRecorder.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace audioserver {

namespace {

constexpr int kBlock = 64;  // frames a read takes

}  // namespace

std::unique_ptr<PipeRecorder> PipeRecorder::Start(const std::string& fifo, int rate, double seconds,
                                                  std::string& why) {
  std::unique_ptr<PipeRecorder> r(new PipeRecorder);
  // The sink holds the pipe open for writing itself, so this does not wait for a writer.
  r->fd_ = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
  if (r->fd_ < 0) {
    why = "pipe recorder: cannot open " + fifo + ": " + std::strerror(errno);
    return nullptr;
  }
  // What the pipe holds is what the sink has played ahead of the reader: keep it small.
  ::fcntl(r->fd_, F_SETPIPE_SZ, 4096);
  // Whatever the sink wrote before anyone listened is no part of the play.
  const int flags = ::fcntl(r->fd_, F_GETFL);
  ::fcntl(r->fd_, F_SETFL, flags | O_NONBLOCK);
  std::vector<char> drain(1 << 16);
  while (::read(r->fd_, drain.data(), drain.size()) > 0) {
  }
  ::fcntl(r->fd_, F_SETFL, flags);
  r->rec_.rate = rate;
  r->rec_.samples.reserve(static_cast<std::size_t>(rate * seconds));
  r->rec_.marks.reserve(static_cast<std::size_t>(rate * seconds / kBlock));
  r->reader_ = std::thread([p = r.get()] { p->Read(); });
  // A card's clock is not held up by the machine's load: the reader runs ahead of the other
  // threads where it may (a late read is a stall of the sink, which the marks then show).
  sched_param param{};
  param.sched_priority = 50;
  r->realtime_ = pthread_setschedparam(r->reader_.native_handle(), SCHED_FIFO, &param) == 0;
  return r;
}

PipeRecorder::~PipeRecorder() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) ::close(fd_);
}

void PipeRecorder::Read() {
  const auto period = std::chrono::nanoseconds(1'000'000'000LL * kBlock / rec_.rate);
  std::vector<std::int16_t> block(kBlock * 2);
  auto next = std::chrono::steady_clock::now();
  std::int64_t frames = 0;
  while (!stop_) {
    next += period;
    std::this_thread::sleep_until(next);
    const double lateMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - next).count();
    std::size_t got = 0;
    bool idle = false;
    const std::size_t want = block.size() * sizeof(std::int16_t);
    auto* bytes = reinterpret_cast<char*>(block.data());
    while (got < want && !stop_) {
      // An idle sink writes nothing: the wait must not outlive the recording.
      pollfd in{fd_, POLLIN, 0};
      if (::poll(&in, 1, 20) <= 0) {
        idle = true;
        continue;
      }
      const ssize_t n = ::read(fd_, bytes + got, want - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      got += static_cast<std::size_t>(n);
    }
    if (got < want) return;
    const std::int64_t at = SteadyNs();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < kBlock; ++i)
      rec_.samples.push_back((block[2 * i] + block[2 * i + 1]) / 65536.0f);
    rec_.marks.push_back({at, static_cast<double>(frames) + kBlock / 2.0});
    frames += kBlock;
    worstLateMs_ = std::max(worstLateMs_, lateMs);
    if (lateMs > 500.0 * kBlock / rec_.rate) ++lateReads_;
    // After a sink that had nothing, reading goes on at its pace from now, not in a burst; a
    // late wake-up of the reader is made up, as a card's clock does not lose time.
    if (idle) next = std::chrono::steady_clock::now();
  }
}

Recording PipeRecorder::Finish() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  rec_.markUncertaintyMs = 500.0 * kBlock / rec_.rate;
  rec_.notes = "paced pipe-sink reader at " + std::to_string(rec_.rate) + " Hz" +
               (realtime_ ? " (real-time thread)" : " (ordinary thread)") + ", blocks of " +
               std::to_string(kBlock) + " frames; worst wake-up " + std::to_string(worstLateMs_) +
               " ms late, " + std::to_string(lateReads_) + " reads late by more than half a block";
  return std::move(rec_);
}

}  // namespace audioserver
