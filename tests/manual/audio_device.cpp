// Plays a tone through the audio device the SDL backend picks and prints, ten times a second,
// the frames handed over, the frame the device says is leaving it, their difference in ms and
// the server's underruns, then a summary. For looking at a real server by hand, e.g.
//   manual_audio_device 20 [ms]       (20 seconds, a line every ms; MORVANE_AUDIO=pulse/sdl)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/backend/PulseAudioDevice.h"
#include "platform/backend/SdlBackend.h"

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const int stepMs = argc > 2 ? std::atoi(argv[2]) : 100;
  backend::SdlBackend b;
  std::atomic<std::uint64_t> handed{0};
  double phase = 0;
  auto dev = b.OpenAudio([&](std::int16_t* out, int frames) {
    for (int i = 0; i < frames; ++i) {
      const auto v = static_cast<std::int16_t>(8000 * std::sin(phase));
      phase += 2 * M_PI * 440 / 44100;
      out[2 * i] = out[2 * i + 1] = v;
    }
    handed += static_cast<std::uint64_t>(frames);
  });
  auto* pulse = dynamic_cast<backend::PulseAudioDevice*>(dev.get());
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t previous = 0;
  bool backwards = false;
  double sum = 0, worst = 0, jumpWorst = 0, jumpSum = 0;
  long n = 0;
  auto previousAt = start;
  for (auto t = start; t - start < std::chrono::duration<double>(seconds);) {
    t += std::chrono::milliseconds(stepMs);
    std::this_thread::sleep_until(t);
    const std::uint64_t played = dev->FramesPlayed();
    const auto readAt = std::chrono::steady_clock::now();
    backwards |= played < previous;
    // Between two readings the count should move as the wall clock does; how far it strays
    // shows the disagreement of successive timing reports.
    const double jumpMs = (double(played) - double(previous)) * 1000.0 / 44100 -
                          std::chrono::duration<double, std::milli>(readAt - previousAt).count();
    if (previous > 0)
      jumpSum += std::abs(jumpMs), jumpWorst = std::max(jumpWorst, std::abs(jumpMs));
    previous = played;
    previousAt = readAt;
    const double aheadMs = (double(handed.load()) - double(played)) * 1000.0 / 44100;
    sum += aheadMs, ++n, worst = std::max(worst, aheadMs);
    if (stepMs >= 50)
      std::printf("%7.2f s  handed %9llu  played %9llu  held %6.1f ms  underruns %d%s\n",
                  std::chrono::duration<double>(t - start).count(),
                  static_cast<unsigned long long>(handed.load()),
                  static_cast<unsigned long long>(played), aheadMs, pulse ? pulse->Underruns() : -1,
                  pulse && pulse->Lost() ? "  (server lost)" : "");
  }
  std::printf(
      "held: mean %.1f ms, most %.1f ms; played rate %.1f frames/s; steps off the wall clock: mean "
      "%.2f ms, most %.2f ms; %s; underruns %d\n",
      sum / n, worst, double(previous) / seconds, jumpSum / n, jumpWorst,
      backwards ? "WENT BACKWARDS" : "never backwards", pulse ? pulse->Underruns() : -1);
  return 0;
}
