#include "audioserver/Measure.h"

#include <cmath>
#include <cstdio>

#include "platform/mci/MPlayer.h"

namespace audioserver {

namespace {

ErrorFigures Figures(const std::vector<double>& e, const std::vector<std::int64_t>& ns,
                     std::size_t from, std::size_t to) {
  ErrorFigures f;
  f.count = to - from;
  if (f.count == 0) return f;
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += e[i];
  f.mean = sum / static_cast<double>(f.count);
  double square = 0;
  for (std::size_t i = from; i < to; ++i) {
    square += (e[i] - f.mean) * (e[i] - f.mean);
    if (std::fabs(e[i]) > std::fabs(f.worst)) {
      f.worst = e[i];
      f.worstAtS = static_cast<double>(ns[i] - ns[0]) / 1e9;
    }
    if (std::fabs(e[i]) > 5) ++f.beyondWorstLimit;
  }
  f.sd = std::sqrt(square / static_cast<double>(f.count));
  return f;
}

}  // namespace

Comparison Compare(const std::vector<PositionRead>& reads, const Alignment& heard) {
  Comparison c;
  for (const auto& r : reads) {
    if (r.mode != mpPlaying) continue;
    const auto frame = heard.HeardAt(r.ns);
    if (!frame) continue;
    c.ns.push_back(r.ns);
    c.errorMs.push_back((static_cast<double>(r.frame) - *frame) * 1000.0 / 44100.0);
  }
  return c;
}

double PositionSpeed(const std::vector<PositionRead>& reads) {
  double frames = 0, seconds = 0;
  for (std::size_t i = 1; i < reads.size(); ++i) {
    if (reads[i].mode != mpPlaying || reads[i - 1].mode != mpPlaying) continue;
    if (reads[i].frame < reads[i - 1].frame) continue;  // played again from the start
    frames += static_cast<double>(reads[i].frame - reads[i - 1].frame);
    seconds += static_cast<double>(reads[i].ns - reads[i - 1].ns) / 1e9;
  }
  return seconds > 0 ? frames / 44100.0 / seconds : 0;
}

ErrorFigures Comparison::All() const { return Figures(errorMs, ns, 0, errorMs.size()); }

ErrorFigures Comparison::Between(double fromS, double toS) const {
  if (ns.empty()) return {};
  std::size_t from = 0, to = 0;
  for (std::size_t i = 0; i < ns.size(); ++i) {
    const double s = static_cast<double>(ns[i] - ns[0]) / 1e9;
    if (s < fromS) from = i + 1;
    if (s < toS) to = i + 1;
  }
  return Figures(errorMs, ns, from, std::max(from, to));
}

std::string Format(const ErrorFigures& f) {
  char text[200];
  std::snprintf(
      text, sizeof text,
      "mean %+.2f ms, sd %.2f ms, worst %+.2f ms (at %.1f s; %zu beyond 5 ms) over %zu reads",
      f.mean, f.sd, f.worst, f.worstAtS, f.beyondWorstLimit, f.count);
  return text;
}

}  // namespace audioserver
