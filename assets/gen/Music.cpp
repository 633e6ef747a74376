#include "assets/gen/Music.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numbers>
#include <stdexcept>

#include "assets/gen/Levels.h"
#include "assets/gen/Synth.h"

namespace assets {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

double NoteHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

struct Stereo {
  std::vector<float> l, r;
  explicit Stereo(size_t n) : l(n, 0.0f), r(n, 0.0f) {}
  void Add(size_t at, const Mono& m, double gain, double pan) {  // pan -1 left .. +1 right
    const double gl = gain * std::sqrt((1 - pan) / 2), gr = gain * std::sqrt((1 + pan) / 2);
    for (size_t i = 0; i < m.size() && at + i < l.size(); ++i) {
      l[at + i] += static_cast<float>(gl * m[i]);
      r[at + i] += static_cast<float>(gr * m[i]);
    }
  }
};

// The drum of each chart kind, its level and its place in the stereo field.
struct DrumPart {
  std::vector<Voice> voices;
  double gain;
  double pan;
};

const std::map<int, DrumPart>& Kit() {
  static const std::map<int, DrumPart> kit = {
      {1, {{Voice::Snare}, 0.55, 0.1}},         {2, {{Voice::Kick}, 0.75, 0.0}},
      {3, {{Voice::Tom}, 0.65, -0.3}},          {4, {{Voice::HiHat}, 0.45, 0.35}},
      {5, {{Voice::ChokedCymbal}, 0.45, -0.2}}, {6, {{Voice::Hit}, 0.55, 0.2}},
      {7, {{Voice::Clap}, 0.55, -0.1}},         {8, {{Voice::Kick, Voice::Cymbal}, 0.7, 0.0}},
  };
  return kit;
}

// Soft-edged notes: the background must never sound like a hit of its own.
double SoftEnvelope(double t, double len, double attack, double release) {
  if (t < 0 || t >= len) return 0;
  double a = std::min(1.0, t / attack);
  double r = std::min(1.0, (len - t) / release);
  return a * a * (3 - 2 * a) * r;
}

void Background(Stereo& out, const Stage& s) {
  const size_t n = out.l.size();
  const double beat = s.beatMs / 1000.0, bar = 4 * beat;
  const double end = static_cast<double>(n) / kMusicRate;
  // Chord quality by root: minor on the key, its fourth and fifth; major elsewhere.
  auto third = [](int root) { return (root == 0 || root == 5 || root == 7) ? 3 : 4; };
  double phBass = 0;
  std::vector<double> phPad(9, 0.0);
  double lp = 0, lpL = 0, lpR = 0;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kMusicRate;
    const int barIndex = static_cast<int>(t / bar);
    const int root = s.progression[barIndex % s.progression.size()];
    const double fade = std::min(1.0, (end - t) / 2.5) * std::min(1.0, t / 1.5);
    // Bass: one note per beat, root and fifth alternating, 25 ms attack.
    const double inBeat = std::fmod(t, beat);
    const int beatIndex = static_cast<int>(t / beat);
    const double bassMidi = s.keyRoot - 12 + root + ((beatIndex % 4 == 2) ? 7 : 0);
    phBass += kTwoPi * NoteHz(bassMidi) / kMusicRate;
    double bass = (std::sin(phBass) + 0.3 * std::sin(2 * phBass)) *
                  SoftEnvelope(inBeat, beat * 0.9, 0.025, 0.06) * 0.13;
    // Pad: the chord's three notes, three detuned saws each, slowly swelling.
    const double inBar = std::fmod(t, bar);
    const double padEnv = SoftEnvelope(inBar, bar, 0.35, 0.3);
    const int chord[3] = {root, root + third(root), root + 7};
    double padL = 0, padR = 0;
    for (int v = 0; v < 9; ++v) {
      const double detune[3] = {-0.08, 0.0, 0.08};
      phPad[v] += NoteHz(s.keyRoot + 12 + chord[v / 3] + detune[v % 3]) / kMusicRate;
      phPad[v] -= std::floor(phPad[v]);
      const double saw = 2 * phPad[v] - 1;
      const double toLeft[3] = {1.0, 0.5, 0.0};  // detuned voices spread left to right
      padL += saw * toLeft[v % 3];
      padR += saw * (1.0 - toLeft[v % 3]);
    }
    // Round the saws off so the pad stays in the background.
    lpL += 0.08 * (padL - lpL);
    lpR += 0.08 * (padR - lpR);
    lp += 0.3 * (bass - lp);
    const double padGain = 0.022 * padEnv;
    out.l[i] += static_cast<float>((lp + lpL * padGain) * fade);
    out.r[i] += static_cast<float>((lp + lpR * padGain) * fade);
  }
}

}  // namespace

std::vector<std::int16_t> RenderMusic(const Stage& s) {
  const size_t n = static_cast<size_t>(s.musicMs) * kMusicRate / 1000;
  Stereo mix(n);
  Background(mix, s);
  std::map<Voice, Mono> cache;
  for (const ChartNote& note : s.chart) {
    const DrumPart& part = Kit().at(note.kind);
    // The hit starts on the sample nearest to the note's millisecond.
    const size_t at = static_cast<size_t>(std::llround(note.time * (kMusicRate / 1000.0)));
    for (Voice v : part.voices) {
      auto it = cache.find(v);
      if (it == cache.end()) it = cache.emplace(v, Render(v, kMusicRate)).first;
      mix.Add(at, it->second, part.gain, part.pan);
    }
  }
  float peak = 0;
  for (size_t i = 0; i < n; ++i) peak = std::max({peak, std::fabs(mix.l[i]), std::fabs(mix.r[i])});
  // The whole mix to one peak, whatever the arrangement: the programs' own sounds play over it
  // (see Levels.h).
  const float scale = peak > 0 ? static_cast<float>(kMusicPeak) / peak : 1.0f;
  std::vector<std::int16_t> pcm(n * 2);
  for (size_t i = 0; i < n; ++i) {
    pcm[2 * i] = static_cast<std::int16_t>(std::lround(mix.l[i] * scale * 32767));
    pcm[2 * i + 1] = static_cast<std::int16_t>(std::lround(mix.r[i] * scale * 32767));
  }
  return pcm;
}

std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& stereo) {
  std::unique_ptr<lame_global_flags, int (*)(lame_global_flags*)> gf(lame_init(), lame_close);
  if (!gf) throw std::runtime_error("the MP3 encoder cannot start");
  lame_set_in_samplerate(gf.get(), kMusicRate);
  lame_set_out_samplerate(gf.get(), kMusicRate);
  lame_set_num_channels(gf.get(), 2);
  lame_set_mode(gf.get(), JOINT_STEREO);
  lame_set_brate(gf.get(), 192);
  lame_set_quality(gf.get(), 3);
  lame_set_bWriteVbrTag(gf.get(), 1);  // the tag frame carries delay and padding
  lame_set_write_id3tag_automatic(gf.get(), 0);
  if (lame_init_params(gf.get()) < 0)
    throw std::runtime_error("the MP3 encoder rejects its settings");

  const int frames = static_cast<int>(stereo.size() / 2);
  std::vector<std::uint8_t> out;
  const int chunk = 8192;
  std::vector<unsigned char> buf(static_cast<size_t>(1.25 * chunk + 7200));
  for (int at = 0; at < frames; at += chunk) {
    const int len = std::min(chunk, frames - at);
    int got = lame_encode_buffer_interleaved(gf.get(), const_cast<short*>(stereo.data() + 2 * at),
                                             len, buf.data(), static_cast<int>(buf.size()));
    if (got < 0) throw std::runtime_error("the MP3 encoder failed");
    out.insert(out.end(), buf.begin(), buf.begin() + got);
  }
  int got = lame_encode_flush(gf.get(), buf.data(), static_cast<int>(buf.size()));
  if (got < 0) throw std::runtime_error("the MP3 encoder failed to flush");
  out.insert(out.end(), buf.begin(), buf.begin() + got);
  // The first frame was a placeholder for the tag; with no ID3 tag in front it is at offset 0.
  std::vector<unsigned char> tag(4096);
  size_t tagSize = lame_get_lametag_frame(gf.get(), tag.data(), tag.size());
  if (tagSize == 0 || tagSize > tag.size() || tagSize > out.size())
    throw std::runtime_error("the MP3 encoder gave no tag frame");
  std::copy(tag.begin(), tag.begin() + static_cast<long>(tagSize), out.begin());
  return out;
}

}  // namespace assets
