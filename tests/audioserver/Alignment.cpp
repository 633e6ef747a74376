#include "audioserver/Alignment.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace audioserver {

namespace {

constexpr double kMusicRate = 44100;
constexpr float kSoundLevel = 1e-3f;  // below -60 dBFS a block is silence
constexpr float kZeroLevel = 1e-5f;   // what a sink plays when it has nothing
constexpr double kClearMatch = 0.8;
constexpr double kJumpMs = 0.25;    // a change of the lag this large is music lost or repeated
constexpr int kEnvelopeStep = 16;   // frames per point of an envelope
constexpr double kRoughReachS = 3;  // how far a lost block is looked for

std::vector<float> Envelope(const std::vector<float>& x) {
  std::vector<float> e(x.size() / kEnvelopeStep);
  for (std::size_t i = 0; i < e.size(); ++i) {
    float sum = 0;
    for (int k = 0; k < kEnvelopeStep; ++k) sum += std::fabs(x[i * kEnvelopeStep + k]);
    e[i] = sum;
  }
  return e;
}

}  // namespace

Alignment::Alignment(const Recording& rec, const std::vector<float>& music44k, std::int64_t endNs)
    : rec_(rec), ratio_(rec.rate / kMusicRate), blockLength_(rec.rate / 20) {
  // What the sink played after the player was done is no part of the play.
  end_ = static_cast<std::int64_t>(rec.samples.size());
  if (const auto h = HeardIndex(endNs))
    end_ = std::clamp<std::int64_t>(static_cast<std::int64_t>(*h), 0, end_);
  // Linear interpolation is enough to be matched against: what matters is where the drum hits
  // are, and those keep their place to a fraction of a frame.
  const auto n = static_cast<std::int64_t>(static_cast<double>(music44k.size()) * ratio_);
  music_.resize(static_cast<std::size_t>(std::max<std::int64_t>(n - 1, 0)));
  for (std::size_t i = 0; i < music_.size(); ++i) {
    const double x = static_cast<double>(i) / ratio_;
    const auto k = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(k);
    music_[i] = static_cast<float>(music44k[k] * (1 - f) + music44k[k + 1] * f);
  }
  recEnvelope_ = Envelope(rec.samples);
  musicEnvelope_ = Envelope(music_);
  Track();
  Gather();
  JoinAcrossRests();
  FindGaps();
}

std::pair<std::int64_t, std::int64_t> Alignment::Sounding(std::int64_t start,
                                                          std::int64_t length) const {
  const auto& x = rec_.samples;
  std::int64_t first = start, last = std::min<std::int64_t>(start + length, x.size()) - 1;
  while (first <= last && std::fabs(x[static_cast<std::size_t>(first)]) <= kSoundLevel) ++first;
  while (last >= first && std::fabs(x[static_cast<std::size_t>(last)]) <= kSoundLevel) --last;
  return {first, last + 1};
}

// Less than 5 ms of sound in a block is too little to be matched: the block counts as silence.
bool Alignment::Silent(std::int64_t start) const {
  const auto [first, end] = Sounding(start, blockLength_);
  return end - first < rec_.rate / 200;
}

std::int64_t Alignment::FirstSound(const std::vector<float>& x, std::int64_t from) const {
  for (auto i = static_cast<std::size_t>(std::max<std::int64_t>(from, 0)); i < x.size(); ++i)
    if (std::fabs(x[i]) > kSoundLevel) return static_cast<std::int64_t>(i);
  return -1;
}

std::pair<double, double> Alignment::BestLag(std::int64_t start, std::int64_t length, double from,
                                             double to) const {
  const auto& x = rec_.samples;
  // Over the sounding part only: silence at a block's ends is not the music's to match.
  const auto [first, end] = Sounding(start, length);
  if (end - first < rec_.rate / 200) return {0, -2};
  start = first;
  length = end - first;
  double ex = 0;
  for (std::int64_t k = 0; k < length; ++k)
    ex += double(x[static_cast<std::size_t>(start + k)]) * x[static_cast<std::size_t>(start + k)];
  const auto lo = static_cast<std::int64_t>(std::ceil(from));
  const auto hi = static_cast<std::int64_t>(std::floor(to));
  std::vector<double> corr(static_cast<std::size_t>(std::max<std::int64_t>(hi - lo + 1, 0)), -2);
  for (std::int64_t lag = lo; lag <= hi; ++lag) {
    const std::int64_t m = start - lag;
    if (m < 0 || m + length > static_cast<std::int64_t>(music_.size())) continue;
    double xy = 0, ey = 0;
    for (std::int64_t k = 0; k < length; ++k) {
      const double a = x[static_cast<std::size_t>(start + k)];
      const double b = music_[static_cast<std::size_t>(m + k)];
      xy += a * b;
      ey += b * b;
    }
    if (ex > 0 && ey > 0) corr[static_cast<std::size_t>(lag - lo)] = xy / std::sqrt(ex * ey);
  }
  if (corr.empty()) return {0, -2};
  const auto best = std::max_element(corr.begin(), corr.end()) - corr.begin();
  double lag = static_cast<double>(lo + best);
  if (best > 0 && best + 1 < static_cast<std::ptrdiff_t>(corr.size())) {
    const double a = corr[static_cast<std::size_t>(best - 1)],
                 b = corr[static_cast<std::size_t>(best)],
                 c = corr[static_cast<std::size_t>(best + 1)];
    const double d = a - 2 * b + c;
    if (d < 0) lag += 0.5 * (a - c) / d;
  }
  // How well the block matches is judged at the lag found, between whole frames: a server's
  // resampler starts at any phase, and half a frame off a whole one the highs of the music
  // (cymbals) alone bring the match of a block that is the music itself down to 0.77.
  const double whole = std::floor(lag), f = lag - whole;
  const std::int64_t m = start - static_cast<std::int64_t>(whole) - 1;
  if (f > 0 && m >= 0 && m + length + 1 < static_cast<std::int64_t>(music_.size())) {
    double xy = 0, ey = 0;
    for (std::int64_t k = 0; k < length; ++k) {
      const double a = x[static_cast<std::size_t>(start + k)];
      // The music at frame start + k - lag, between frames m + k and m + k + 1.
      const double b = music_[static_cast<std::size_t>(m + k)] * f +
                       music_[static_cast<std::size_t>(m + k + 1)] * (1 - f);
      xy += a * b;
      ey += b * b;
    }
    if (ex > 0 && ey > 0)
      return {lag, std::max(corr[static_cast<std::size_t>(best)], xy / std::sqrt(ex * ey))};
  }
  return {lag, corr[static_cast<std::size_t>(best)]};
}

double Alignment::RoughLag(std::int64_t start, double near) const {
  const auto& x = recEnvelope_;
  const auto& y = musicEnvelope_;
  const std::int64_t n = 4 * blockLength_ / kEnvelopeStep;
  const std::int64_t from = start / kEnvelopeStep;
  if (from + n > static_cast<std::int64_t>(x.size())) return near;
  double mx = 0;
  for (std::int64_t k = 0; k < n; ++k) mx += x[static_cast<std::size_t>(from + k)];
  mx /= static_cast<double>(n);
  const auto reach = static_cast<std::int64_t>(kRoughReachS * rec_.rate / kEnvelopeStep);
  const auto centre = static_cast<std::int64_t>(near / kEnvelopeStep);
  std::vector<double> corr(static_cast<std::size_t>(2 * reach + 1), -2);
  for (std::int64_t lag = centre - reach; lag <= centre + reach; ++lag) {
    const std::int64_t m = from - lag;
    if (m < 0 || m + n > static_cast<std::int64_t>(y.size())) continue;
    double my = 0;
    for (std::int64_t k = 0; k < n; ++k) my += y[static_cast<std::size_t>(m + k)];
    my /= static_cast<double>(n);
    double xy = 0, xx = 0, yy = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      const double a = x[static_cast<std::size_t>(from + k)] - mx;
      const double b = y[static_cast<std::size_t>(m + k)] - my;
      xy += a * b;
      xx += a * a;
      yy += b * b;
    }
    corr[static_cast<std::size_t>(lag - centre + reach)] =
        xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : -2;
  }
  // Of the lags that match about as well as the best (the music repeats), the nearest.
  const double best = *std::max_element(corr.begin(), corr.end());
  for (std::int64_t d = 0; d <= reach; ++d)
    for (const std::int64_t lag : {centre - d, centre + d})
      if (corr[static_cast<std::size_t>(lag - centre + reach)] >= best - 0.02)
        return static_cast<double>(lag * kEnvelopeStep);
  return near;
}

void Alignment::Track() {
  const std::int64_t total = end_;
  const double wide = 0.05 * rec_.rate, narrow = 0.001 * rec_.rate;
  const std::int64_t musicOnset = FirstSound(music_, 0);
  bool known = false, afterSilence = true;
  double lag = 0;
  std::int64_t lastSound = -1;  // last recorded frame with sound before the silence now
  for (std::int64_t start = 0; start + blockLength_ <= total; start += blockLength_) {
    Block b;
    b.start = start;
    b.silent = Silent(start);
    if (b.silent) {
      if (!afterSilence && known) {
        // The sound ended somewhere in the previous block.
        lastSound = start - 1;
        while (lastSound > 0 &&
               std::fabs(rec_.samples[static_cast<std::size_t>(lastSound)]) <= kSoundLevel)
          --lastSound;
      }
      afterSilence = true;
      blocks_.push_back(b);
      continue;
    }
    std::pair<double, double> found{0, -2};
    if (known && !afterSilence) found = BestLag(start, blockLength_, lag - narrow, lag + narrow);
    if (found.second < kClearMatch) {
      // Look again: the music going on from where it was, or starting over.
      const std::int64_t onset = afterSilence ? FirstSound(rec_.samples, start) : start;
      std::vector<double> guesses;
      // After a silence, the sink either played on through a rest of the music (the lag is
      // unchanged) or stopped and went on where it had stopped.
      if (known) guesses.push_back(lag);
      if (known && afterSilence) guesses.push_back(onset - (lastSound - lag + 1));
      if (musicOnset >= 0) guesses.push_back(static_cast<double>(onset - musicOnset));
      // In that order, each guess exactly before any of them widely: the music repeats itself
      // (bars played again note for note, a held tone one period away), so a lag far from the
      // right one can match about as well, and the music going on is by far the likeliest.
      for (double g : guesses) {
        const auto r = BestLag(start, 4 * blockLength_, g - narrow, g + narrow);
        if (r.second > found.second) found = r;
        if (found.second >= kClearMatch) break;
      }
      for (std::size_t k = 0; k < guesses.size() && found.second < kClearMatch; ++k) {
        const auto r = BestLag(start, 4 * blockLength_, guesses[k] - wide, guesses[k] + wide);
        if (r.second > found.second) found = r;
      }
      // Still nothing: anywhere within a few seconds, first by the envelopes.
      if (found.second < kClearMatch && known) {
        const double g = RoughLag(start, lag);
        const auto r =
            BestLag(start, 4 * blockLength_, g - 2 * kEnvelopeStep, g + 2 * kEnvelopeStep);
        if (r.second > found.second) found = r;
      }
      // Over the short block only, for the lag that belongs to it.
      if (found.second > -2) {
        const auto r = BestLag(start, blockLength_, found.first - narrow, found.first + narrow);
        if (r.second > -2) found = r;
      }
    }
    if (found.second < kClearMatch) ++poor_;
    b.silent = false;
    b.lag = found.first;
    b.match = found.second;
    if (found.second > -2) {
      lag = found.first;
      known = true;
    }
    afterSilence = false;
    blocks_.push_back(b);
  }
}

void Alignment::Gather() {
  const auto& x = rec_.samples;
  const std::int64_t size = end_;
  // The ends of a stretch are where the sink stopped playing anything at all (a run of frames of
  // nothing, as a single zero is just the music crossing it): the music fades below the level
  // of a silent block, but a rest of it is seldom nothing at all.
  constexpr int kRun = 8;
  auto nothingAt = [&](std::int64_t i, int step) {
    for (int k = 0; k < kRun; ++k, i += step)
      if (i < 0 || i >= size || std::fabs(x[static_cast<std::size_t>(i)]) > kZeroLevel)
        return false;
    return true;
  };
  // From `i` in direction `step`, the last frame before nothing starts.
  auto edge = [&](std::int64_t i, int step) {
    if (nothingAt(i, step)) {
      while (i >= 0 && i < size && nothingAt(i, step)) i -= step;  // back to the sound
      return i;
    }
    while (i + step >= 0 && i + step < size && !nothingAt(i + step, step)) i += step;
    return i;
  };
  // A block's lag is found to a few hundredths of a millisecond, and a server's resampler moves
  // it by about as much; music lost or played twice is a whole period of the server at least.
  const double jump = rec_.rate * kJumpMs / 1000;
  std::size_t i = 0;
  while (i < blocks_.size()) {
    if (blocks_[i].silent || blocks_[i].match < kClearMatch) {
      ++i;
      continue;
    }
    std::size_t j = i;
    double lo = blocks_[i].lag, hi = lo;
    while (j + 1 < blocks_.size() && !blocks_[j + 1].silent &&
           blocks_[j + 1].match >= kClearMatch) {
      if (std::fabs(blocks_[j + 1].lag - blocks_[j].lag) > jump) {
        ++jumps_;
        break;
      }
      lo = std::min(lo, blocks_[j + 1].lag);
      hi = std::max(hi, blocks_[j + 1].lag);
      ++j;
    }
    wander_ = std::max(wander_, hi - lo);
    Stretch s;
    const bool openStart = i > 0 && !blocks_[i - 1].silent;
    const bool openEnd = j + 1 < blocks_.size() && !blocks_[j + 1].silent;
    s.first = openStart ? blocks_[i].start : edge(blocks_[i].start, -1);
    s.last = openEnd ? blocks_[j].start + blockLength_ - 1
                     : edge(blocks_[j].start + blockLength_ - 1, 1);
    // Walking on through a block too quiet to be matched must stop where the next sound that
    // was matched on its own begins: that block belongs to the next stretch, and a stretch
    // reaching past it would overlap that one (and the next one end before it starts).
    for (std::size_t k = j + 1; k < blocks_.size(); ++k)
      if (!blocks_[k].silent) {
        s.last = std::min(s.last, blocks_[k].start - 1);
        break;
      }
    s.last = std::max(s.last, blocks_[j].start);
    if (!stretches_.empty()) s.first = std::max(s.first, stretches_.back().last + 1);
    // The lag at each end is that of the block there.
    s.lag = blocks_[i].lag;
    s.lastLag = blocks_[j].lag;
    s.musicFirst = (static_cast<double>(s.first) - blocks_[i].lag) / ratio_;
    s.musicLast = (static_cast<double>(s.last) - blocks_[j].lag) / ratio_;
    stretches_.push_back(s);
    i = j + 1;
  }
}

const Block& Alignment::BlockAt(std::int64_t frame) const {
  const auto k = std::clamp<std::int64_t>(frame / blockLength_, 0,
                                          static_cast<std::int64_t>(blocks_.size()) - 1);
  return blocks_[static_cast<std::size_t>(k)];
}

void Alignment::JoinAcrossRests() {
  std::vector<Stretch> joined;
  for (const auto& s : stretches_) {
    if (!joined.empty()) {
      Stretch& before = joined.back();
      bool rest = std::fabs(s.lag - before.lastLag) <= rec_.rate * kJumpMs / 1000;
      // The silence between them must be the music's: where the sink played nothing at all,
      // the music has no sound either (but for a few frames at the rest's edges).
      std::int64_t missing = 0;
      for (std::int64_t i = before.last + 1; rest && i < s.first; ++i) {
        const auto m = static_cast<std::int64_t>(std::llround(static_cast<double>(i) - s.lag));
        if (m >= 0 && m < static_cast<std::int64_t>(music_.size()) &&
            std::fabs(music_[static_cast<std::size_t>(m)]) > kSoundLevel &&
            std::fabs(rec_.samples[static_cast<std::size_t>(i)]) <= kZeroLevel)
          ++missing;
      }
      rest = rest && missing < rec_.rate / 2000;
      if (rest) {
        before.last = s.last;
        before.lastLag = s.lastLag;
        before.musicLast = s.musicLast;
        continue;
      }
    }
    joined.push_back(s);
  }
  stretches_ = std::move(joined);
}

void Alignment::FindGaps() {
  const auto& x = rec_.samples;
  const std::int64_t shortest = rec_.rate / 2000;  // 0.5 ms
  for (const auto& s : stretches_) {
    std::int64_t run = 0;
    for (std::int64_t i = s.first; i <= s.last; ++i) {
      if (std::fabs(x[static_cast<std::size_t>(i)]) > kZeroLevel) {
        run = 0;
        continue;
      }
      if (++run != shortest) continue;
      // A stretch of nothing where the music has sound is sound that went missing.
      const auto m =
          static_cast<std::int64_t>(std::llround(static_cast<double>(i) - BlockAt(i).lag));
      float loudest = 0;
      for (std::int64_t k = m - shortest;
           k <= m && k >= 0 && k < static_cast<std::int64_t>(music_.size()); ++k)
        loudest = std::max(loudest, std::fabs(music_[static_cast<std::size_t>(k)]));
      if (loudest > kSoundLevel) ++gaps_;
    }
  }
}

std::optional<double> Alignment::HeardIndex(std::int64_t ns) const {
  const auto& marks = rec_.marks;
  const auto it =
      std::lower_bound(marks.begin(), marks.end(), ns,
                       [](const Recording::Mark& m, std::int64_t t) { return m.ns < t; });
  if (it == marks.begin() || it == marks.end()) return std::nullopt;
  const auto& a = *(it - 1);
  const auto& b = *it;
  const double between = b.heard - a.heard;
  // A cycle's frames last their own length at the rate; marks of a steady sink are that far apart
  // to well under a millisecond. Much further apart, the server stood between them.
  if (rec_.marksStartCycles && rec_.StoodBetween(a, b))
    return a.heard + std::min(double(ns - a.ns) * rec_.rate / 1e9, between);
  if (b.ns - a.ns > 100'000'000) return std::nullopt;
  return a.heard + between * double(ns - a.ns) / double(b.ns - a.ns);
}

std::optional<double> Alignment::HeardAt(std::int64_t ns) const {
  const auto heard = HeardIndex(ns);
  if (!heard) return std::nullopt;
  const double h = *heard;
  const auto frame = static_cast<std::int64_t>(std::floor(h));
  for (const auto& s : stretches_) {
    if (frame < s.first || frame > s.last) continue;
    // The lag of the block there; a block at an edge of the stretch or in a rest of the music
    // was not matched, and takes the lag of the stretch's nearer end.
    const auto& block = BlockAt(frame);
    const bool matched = !block.silent && block.match >= kClearMatch;
    const double lag = matched ? block.lag : frame - s.first < s.last - frame ? s.lag : s.lastLag;
    return (h - lag) / ratio_;
  }
  return std::nullopt;
}

std::optional<double> Alignment::HeardBy(std::int64_t ns) const {
  if (const auto music = HeardAt(ns)) return music;
  const auto heard = HeardIndex(ns);
  if (!heard) return std::nullopt;
  const auto frame = static_cast<std::int64_t>(std::floor(*heard));
  // Only where the sink played nothing this last millisecond: sound that is not matched music
  // may be music all the same, and what of it was heard nobody can say.
  const auto& x = rec_.samples;
  const std::int64_t from = std::max<std::int64_t>(frame - rec_.rate / 1000, 0);
  for (std::int64_t k = from; k <= frame && k < static_cast<std::int64_t>(x.size()); ++k)
    if (std::fabs(x[static_cast<std::size_t>(k)]) > kZeroLevel) return std::nullopt;
  std::optional<double> last;
  for (const auto& s : stretches_)
    if (s.last < frame) last = s.musicLast + 1 / ratio_;
  return last;
}

double Alignment::SilentShare() const {
  const auto& x = rec_.samples;
  const std::int64_t first = FirstSound(x, 0);
  if (first < 0 || first >= end_) return 1;
  std::int64_t last = end_ - 1;
  while (last > first && std::fabs(x[static_cast<std::size_t>(last)]) <= kSoundLevel) --last;
  std::int64_t silent = 0;
  for (std::int64_t i = first; i <= last; ++i)
    if (std::fabs(x[static_cast<std::size_t>(i)]) <= kZeroLevel) ++silent;
  return static_cast<double>(silent) / static_cast<double>(last - first + 1);
}

std::string Alignment::Describe() const {
  std::ostringstream out;
  out.precision(2);
  out << std::fixed << stretches_.size() << " stretch(es) of music:";
  for (std::size_t i = 0; i < stretches_.size() && i < 4; ++i) {
    const auto& s = stretches_[i];
    out << " [rec " << s.first << ".." << s.last << " = music " << s.musicFirst << ".."
        << s.musicLast << "]";
  }
  if (stretches_.size() > 4) out << " ...";
  out << "; " << SilentShare() * 100 << " % of the output silence, " << gaps_ << " gaps, " << poor_
      << " poorly matched and "
      << std::count_if(blocks_.begin(), blocks_.end(), [](const Block& b) { return b.silent; })
      << " silent blocks of " << blocks_.size() << ", " << jumps_ << " jumps, lag wander "
      << LagWanderMs() << " ms";
  return out.str();
}

}  // namespace audioserver
