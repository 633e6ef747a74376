// The music's Position against what a real audio server plays, on private servers: PulseAudio
// with a null sink at 44.1 and 48 kHz, and PipeWire (WirePlumber, pipewire-pulse) at its own
// quantum and at forced ones. The player runs in a child process on the real SDL backend and
// picks its audio path as the programs do; a recorder on the sink's monitor says which frame
// left the sink when, and the recorded sound, matched against the decoded music, says which
// frame of the music that was. Each case also checks that the output is whole: one unbroken
// stretch of music at its speed, or two around a pause with nothing heard twice or lost.
//
// MORVANE_AS_SECONDS sets how long each case plays (20 s by default; a long run is one case
// with a large value). Without a server to start a case skips and says why; with CI set it
// fails instead.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "audioserver/Alignment.h"
#include "audioserver/AudioServers.h"
#include "audioserver/Measure.h"
#include "audioserver/PipeRecorder.h"
#include "audioserver/PipeWireRecorder.h"
#include "audioserver/PlainClient.h"
#include "audioserver/Player.h"
#include "audioserver/PulseRecorder.h"
#include "platform/mci/MPlayer.h"
#include "platform/mci/Mp3Decoder.h"

namespace audioserver {
namespace {

constexpr double kMeanLimitMs = 2, kSdLimitMs = 1, kWorstLimitMs = 5;
const char* const kMusic = "Sound/Last Boss.mp3";

#define SKIP_OR_FAIL(why)                                                 \
  do {                                                                    \
    if (std::getenv("CI")) FAIL() << "no audio server under CI: " << why; \
    GTEST_SKIP() << why;                                                  \
  } while (0)

double CaseSeconds() {
  const char* s = std::getenv("MORVANE_AS_SECONDS");
  const double v = s ? std::atof(s) : 0;
  return v > 0 ? v : 20;
}

// Music below this (-60 dBFS) is taken for quiet, as the reference takes it.
constexpr float kQuietLevel = 1e-3f;

const std::vector<float>& Music() {
  static const std::vector<float> music = [] {
    mci::Mp3Decoder decoder(kMusic);
    std::vector<std::int16_t> stereo(static_cast<std::size_t>(decoder.Length()) * 2);
    decoder.Read(stereo.data(), static_cast<int>(decoder.Length()));
    std::vector<float> mono(static_cast<std::size_t>(decoder.Length()));
    for (std::size_t i = 0; i < mono.size(); ++i)
      mono[i] = (stereo[2 * i] + stereo[2 * i + 1]) / 65536.0f;
    return mono;
  }();
  return music;
}

// How often the player started the music: once, and again after each natural end.
int Plays(const std::vector<PositionRead>& reads) {
  int plays = 0;
  for (std::size_t i = 0; i < reads.size(); ++i)
    if (reads[i].mode == mpPlaying && (i == 0 || reads[i - 1].mode == mpStopped)) ++plays;
  return plays;
}

struct Played {
  Recording rec;
  std::vector<PositionRead> reads;
  std::string playerOutput;
};

// The backend's line saying which path plays, for the case's summary.
std::string PathLine(const std::string& output) {
  std::istringstream in(output);
  std::string line, found;
  while (std::getline(in, line))
    if (line.find("audio") != std::string::npos || line.find("Audio") != std::string::npos) {
      found = line;
      break;
    }
  return found.empty() ? "(no line about the audio path)" : found;
}

class AudioServerTest : public ::testing::Test {
 protected:
  // Plays `plan` on `server` while `finish` (the running recorder's) collects the reference;
  // `meanwhile` runs on a thread of its own from the moment the player starts.
  void PlayAndRecord(AudioServer& server, PlayPlan plan, const std::function<Recording()>& finish,
                     Played& out, const std::function<void()>& meanwhile = {}) {
    plan.file = std::filesystem::absolute(kMusic).string();
    folder_ = server.Folder();
    plan.log = server.Folder() + "/positions.bin";
    const std::string output = server.Folder() + "/player.log";
    Environment env = server.ClientEnvironment();
    env["MORVANE_BACKEND"] = "sdl";
    if (!std::getenv("SDL_VIDEODRIVER")) env["SDL_VIDEODRIVER"] = "dummy";
    auto player = ChildProcess::Start(PlayerCommand(plan), env, output);
    ASSERT_TRUE(player) << "the player could not be started";
    std::thread side;
    if (meanwhile) side = std::thread(meanwhile);
    const auto limit = std::chrono::milliseconds(static_cast<int>(plan.seconds * 1000) + 30000);
    const int status = player->Wait(limit);
    if (side.joinable()) side.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the tail reaches the monitor
    out.rec = finish();
    out.playerOutput = ReadFile(output);
    ASSERT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the player failed (status " << status << "):\n"
        << out.playerOutput;
    out.reads = ReadPlayerLog(plan.log);
    ASSERT_GT(out.reads.size(), plan.seconds * 500) << "too few reads of Position";
  }

  // Every figure of a case, then its assertions. `pauses` is how many pauses the plan made.
  void Judge(const std::string& what, const Played& p, int pauses) {
    const Alignment heard(p.rec, Music(), p.reads.back().ns);
    const Comparison errors = Compare(p.reads, heard);
    if (const char* keep = std::getenv("MORVANE_AS_KEEP"); keep && *keep == '1')
      Keep(p, heard, errors);
    const ErrorFigures all = errors.All();
    // A long run plays the music again after its end: one more stretch each time.
    const auto stretches = static_cast<std::size_t>(pauses + Plays(p.reads));
    const bool whole = heard.PoorMatches() == 0 && heard.LagJumps() == 0 && heard.Gaps() == 0 &&
                       heard.LagWanderMs() <= 0.5 && heard.Stretches().size() == stretches;
    std::cout << "[ RESULT   ] " << what << " | " << PathLine(p.playerOutput) << " | "
              << Format(all) << " | output " << (whole ? "whole" : "NOT whole") << " | Position at "
              << PositionSpeed(p.reads) << "x\n"
              << "             " << heard.Describe() << "\n"
              << "             " << p.rec.notes << "; marks within " << p.rec.markUncertaintyMs
              << " ms\n";
    if (!p.rec.marks.empty()) {
      const auto& a = p.rec.marks.front();
      const auto& b = p.rec.marks.back();
      std::cout << "             recorded " << p.rec.samples.size() / double(p.rec.rate)
                << " s; marks over " << (b.ns - a.ns) / 1e9 << " s, heard advanced "
                << (b.heard - a.heard) / p.rec.rate << " s (from " << a.heard << ")\n";
    }
    if (CaseSeconds() >= 120) {
      const double last = static_cast<double>(errors.ns.back() - errors.ns.front()) / 1e9;
      std::cout << "             first minute: " << Format(errors.Between(0, 60))
                << "\n             last minute:  " << Format(errors.Between(last - 60, last + 1))
                << "\n";
      // Where it went wrong on the way, 10 s at a time.
      for (double from = 0; from < last; from += 10) {
        const ErrorFigures f = errors.Between(from, from + 10);
        if (std::fabs(f.worst) > kWorstLimitMs)
          std::cout << "             " << from << " s to " << from + 10 << " s: " << Format(f)
                    << "\n";
      }
    }
    EXPECT_EQ(heard.PoorMatches(), 0) << "blocks of the output that are not the music";
    EXPECT_EQ(heard.LagJumps(), 0) << "music skipped or repeated while playing";
    EXPECT_EQ(heard.Gaps(), 0) << "silence within the music";
    EXPECT_LE(heard.LagWanderMs(), 0.5) << "the music did not play at its speed";
    EXPECT_EQ(heard.Stretches().size(), stretches)
        << "the music was broken up: " << heard.Describe();
    double played = 0;
    for (const auto& s : heard.Stretches()) played += (s.musicLast - s.musicFirst) / 44100.0;
    EXPECT_GT(played, CaseSeconds() * 0.8 - (pauses > 0 ? 3 : 0)) << "too little music was heard";
    ASSERT_GT(all.count, p.reads.size() / 2) << "too few reads fell where music was heard";
    EXPECT_LE(std::fabs(all.mean), kMeanLimitMs) << Format(all);
    EXPECT_LE(all.sd, kSdLimitMs) << Format(all);
    EXPECT_LE(std::fabs(all.worst), kWorstLimitMs) << Format(all);
    if (pauses > 0) JudgePause(p, heard);
  }

  // The pause is the longest silence between two stretches of music.
  static std::size_t PauseAfter(const Alignment& heard) {
    const auto& s = heard.Stretches();
    std::size_t at = 0;
    for (std::size_t i = 1; i + 1 < s.size(); ++i)
      if (s[i + 1].first - s[i].last > s[at + 1].first - s[at].last) at = i;
    return at;
  }

  std::string folder_;

  // The case's reference (`p.rec`, named `what`) against the PulseAudio-protocol monitor
  // recorder, at the player's reads.
  void CompareReferences(const Played& p, const Recording& other,
                         const std::string& what = "native") {
    const Alignment native(p.rec, Music(), p.reads.back().ns);
    const Alignment pulse(other, Music(), p.reads.back().ns);
    std::vector<double> d;
    for (const auto& r : p.reads) {
      const auto a = native.HeardAt(r.ns);
      const auto b = pulse.HeardAt(r.ns);
      if (a && b) d.push_back((*a - *b) * 1000 / 44100);
    }
    Comparison c;
    c.errorMs = d;
    c.ns.assign(d.size(), p.reads.front().ns);
    std::cout << "[ REFERENCE] " << what
              << " minus PulseAudio-protocol monitor reference: " << Format(c.All())
              << "\n             " << other.notes << "\n";
  }

  // For looking into a case by hand: the recording, its blocks and the errors.
  void Keep(const Played& p, const Alignment& heard, const Comparison& errors) {
    std::ofstream(folder_ + "/recording.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(p.rec.samples.data()),
               static_cast<std::streamsize>(p.rec.samples.size() * sizeof(float)));
    std::ofstream(folder_ + "/music.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(Music().data()),
               static_cast<std::streamsize>(Music().size() * sizeof(float)));
    std::ofstream blocks(folder_ + "/blocks.txt");
    for (const auto& b : heard.Blocks())
      blocks << b.start << ' ' << b.silent << ' ' << b.lag << ' ' << b.match << '\n';
    std::ofstream marks(folder_ + "/marks.txt");
    for (const auto& m : p.rec.marks) marks << m.ns << ' ' << m.heard << '\n';
    std::ofstream errorsOut(folder_ + "/errors.txt");
    for (std::size_t i = 0; i < errors.ns.size(); ++i)
      errorsOut << errors.ns[i] << ' ' << errors.errorMs[i] << '\n';
  }

  // Across the pause: the music goes on with the frame after the last one heard, and Position
  // while paused is that frame.
  void JudgePause(const Played& p, const Alignment& heard) {
    ASSERT_GE(heard.Stretches().size(), 2u) << "no pause was heard";
    const std::size_t pause = PauseAfter(heard);
    const Stretch& before = heard.Stretches()[pause];
    const Stretch& after = heard.Stretches()[pause + 1];
    // A stretch ends at the last frame that sounds. Where the music itself is quiet (below -60
    // dBFS) from there on, the pause may have come anywhere in that quiet: those frames were
    // heard or not, nothing audible was skipped, and the next frame heard is anywhere up to the
    // first that sounds after the pause.
    double lastHeard = before.musicLast;
    float quietest = 0;
    for (auto f = static_cast<std::int64_t>(before.musicLast) + 1;
         f < static_cast<std::int64_t>(after.musicFirst) && f < std::ssize(Music()); ++f)
      quietest = std::max(quietest, std::fabs(Music()[static_cast<std::size_t>(f)]));
    const bool quietBetween = after.musicFirst > before.musicLast + 1 && quietest <= kQuietLevel;
    if (quietBetween) lastHeard = after.musicFirst - 1;
    const double gapMs = (after.musicFirst - (lastHeard + 1)) * 1000 / 44100;
    std::cout << "             across the pause: " << (gapMs < 0 ? "repeated " : "skipped ")
              << std::fabs(gapMs) << " ms of music"
              << (quietBetween ? " (the pause came where the music is quiet)" : "") << "\n";
    EXPECT_LE(std::fabs(gapMs), 1.0) << "music heard twice (-) or lost (+) across the pause, ms";
    std::int64_t pausedAt = -1;
    for (const auto& r : p.reads)
      if (r.mode == mpPaused) pausedAt = r.frame;
    ASSERT_GE(pausedAt, 0) << "the player never showed itself paused";
    // Within the quiet, Position may stand anywhere.
    const double nextHeard = quietBetween ? std::clamp(static_cast<double>(pausedAt),
                                                       before.musicLast + 1, lastHeard + 1)
                                          : before.musicLast + 1;
    const double offMs = (static_cast<double>(pausedAt) - nextHeard) * 1000 / 44100;
    std::cout << "             Position while paused minus the next frame to be heard: " << offMs
              << " ms\n";
    EXPECT_LE(std::fabs(offMs), kMeanLimitMs)
        << "Position while paused is not where the sound stopped";
  }
};

// --- PulseAudio ---------------------------------------------------------------------------------

// PulseAudio with a pipe sink read at a steady pace: the reader is the sound card, so what it
// reads is heard when it reads it, with no latency model of the server's in between. A null
// sink will not do as the reference: nothing consumes its output, and its monitor and its
// playback timing disagree by several milliseconds (more, the larger the sink's latency), for a
// plain libpulse client even more than for the player (see PlainClientCase). On the pipe sink the
// monitor recorder agrees with the reader (within 0.1 ms on average); it runs alongside, and the
// two references are compared.
class PulseAudioCase : public AudioServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(PulseAudioCase, PositionIsTheFrameReadByAPacedReader) {
  const int rate = GetParam();
  std::string why;
  auto server = PulseAudioServer::Start(rate, why, true);
  if (!server) SKIP_OR_FAIL(why);
  auto reader = PipeRecorder::Start(server->PipePath(), rate, CaseSeconds() + 40, why);
  ASSERT_TRUE(reader) << why;
  auto monitor = PulseRecorder::Start(server->PulseServer(), why);
  ASSERT_TRUE(monitor) << why;
  PlayPlan plan;
  plan.seconds = CaseSeconds();
  // At the music's own rate the player also pauses once, in the middle.
  const int pauses = rate == 44100 ? 1 : 0;
  if (pauses > 0) {
    plan.pauseAt = plan.seconds / 2;
    plan.pauseFor = 1.5;
    plan.seconds += plan.pauseFor;
  }
  Played p;
  Recording monitorRec;
  PlayAndRecord(
      *server, plan,
      [&] {
        monitorRec = monitor->Finish();
        return reader->Finish();
      },
      p);
  if (HasFatalFailure()) return;
  CompareReferences(p, monitorRec, "paced pipe reader");
  Judge("PulseAudio (pipe sink), sink " + std::to_string(rate) + " Hz", p, pauses);
  if (HasFailure()) std::cout << server->Logs();
}

INSTANTIATE_TEST_SUITE_P(SinkRates, PulseAudioCase, ::testing::Values(44100, 48000),
                         [](const auto& info) { return "At" + std::to_string(info.param); });

// A plain libpulse client instead of the player, on the null sink and on the paced pipe sink:
// where it disagrees with a reference as the player does, the player's clock is not the cause.
// For looking into a reference by hand (--gtest_also_run_disabled_tests): on the null sink it
// fails, which is why no case judges the player there.
class PlainClientCase : public AudioServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlainClientCase, PositionIsTheFrameHeard) {
  const bool pipe = GetParam();
  std::string why;
  auto server = PulseAudioServer::Start(44100, why, pipe);
  if (!server) SKIP_OR_FAIL(why);
  std::unique_ptr<PipeRecorder> reader;
  if (pipe) {
    reader = PipeRecorder::Start(server->PipePath(), 44100, CaseSeconds() + 40, why);
    ASSERT_TRUE(reader) << why;
  }
  auto monitor = PulseRecorder::Start(server->PulseServer(), why);
  ASSERT_TRUE(monitor) << why;
  if (!pipe) {
    ASSERT_TRUE(monitor->WaitForSinkLatencyBelow(100, 5)) << "the null sink stays far ahead";
  }
  folder_ = server->Folder();
  Played p;
  p.reads = PlayWithPlainClient(server->PulseServer(), std::filesystem::absolute(kMusic).string(),
                                CaseSeconds(), why);
  ASSERT_FALSE(p.reads.empty()) << why;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const Recording monitorRec = monitor->Finish();
  if (pipe) {
    p.rec = reader->Finish();
    CompareReferences(p, monitorRec, "paced pipe reader");
  } else {
    p.rec = monitorRec;
  }
  Judge(std::string("plain libpulse client, ") + (pipe ? "pipe" : "null") + " sink 44100 Hz", p, 0);
}

INSTANTIATE_TEST_SUITE_P(DISABLED_Sinks, PlainClientCase, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pipe" : "Null"; });

// --- PipeWire -----------------------------------------------------------------------------------

class PipeWireCase : public AudioServerTest, public ::testing::WithParamInterface<int> {};

TEST_P(PipeWireCase, PositionIsTheFrameHeardAndTheOutputWhole) {
  const int quantum = GetParam();
  std::string why;
  auto server = PipeWireServer::Start(quantum, why);
  if (!server) SKIP_OR_FAIL(why);
  PlayPlan plan;
  plan.seconds = CaseSeconds();
  auto recorder = PipeWireRecorder::Start(server->RuntimeFolder(), plan.seconds + 40, why);
  ASSERT_TRUE(recorder) << why;
  // Where the quantum is forced, a second recorder over the PulseAudio protocol cannot change
  // it: the two references are then compared, which says how far either may be trusted.
  std::unique_ptr<PulseRecorder> second;
  if (quantum > 0) {
    second = PulseRecorder::Start(server->PulseServer(), why);
    ASSERT_TRUE(second) << why;
  }
  Played p;
  Recording secondRec;
  PlayAndRecord(
      *server, plan,
      [&] {
        if (second) secondRec = second->Finish();
        return recorder->Finish();
      },
      p);
  if (HasFatalFailure()) return;
  if (second) CompareReferences(p, secondRec);
  Judge("PipeWire, quantum " + (quantum ? std::to_string(quantum) : std::string("default")), p, 0);
  if (HasFailure()) std::cout << server->Logs();
}

INSTANTIATE_TEST_SUITE_P(Quanta, PipeWireCase, ::testing::Values(0, 256, 512, 1024, 2048),
                         [](const auto& info) {
                           return info.param ? "Forced" + std::to_string(info.param)
                                             : std::string("Default");
                         });

// --- A stall of the server --------------------------------------------------------------------

// PipeWire's PulseAudio service freezes for a moment (SIGSTOP, then SIGCONT, as a machine that
// stops scheduling it would), twice: it answers nothing meanwhile and hands the graph nothing
// more, so the sink plays out what it already had and then plays silence. Through each stall and
// for a while after it Position must not run ahead of what was heard by more than 2 ms (and the
// reference's uncertainty); once the sound goes on, Position follows it as in the other cases.
// While the sink plays nothing the sound stands after the music heard last. The reference is
// good to its marks (0.1 ms) there too: the music's last frame before nothing is found to the
// frame, or earlier where the music itself is nothing there, which only makes Position look
// further ahead. Where the sink plays sound that is not matched music (a cycle broken up as the
// service comes back) nothing is judged.
//
// Not the graph itself: frozen, PipeWire's null sink catches up on the cycles it missed when it
// is thawed, back to back, each stamped with the time it should have run; the recorder misses
// some of them and gets others empty, so the reference cannot say what was heard then.
struct Stall {
  double atS;
  std::int64_t fromNs = 0, toNs = 0;
};

constexpr auto kStallFor = std::chrono::milliseconds(300);
constexpr std::int64_t kAfterStallNs = 200'000'000;
constexpr double kMostLeadMs = 2;

class PipeWireStallCase : public AudioServerTest {
 protected:
  // Freezes the PulseAudio service at each stall's time after now, and thaws it.
  static bool Freeze(AudioServer& server, std::vector<Stall>& stalls) {
    const auto start = std::chrono::steady_clock::now();
    bool signalled = true;
    for (auto& s : stalls) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(s.atS));
      s.fromNs = SteadyNs();
      signalled = server.Signal({"pipewire-pulse"}, SIGSTOP) && signalled;
      std::this_thread::sleep_for(kStallFor);
      // Thawed whatever happened: a frozen server would hang the rest of the suite.
      signalled = server.Signal({"pipewire-pulse"}, SIGCONT) && signalled;
      s.toNs = SteadyNs();
    }
    return signalled;
  }

  // Position minus the sound (+ is ahead), ms, at the reads within [fromNs, toNs).
  static Comparison AgainstTheSound(const Played& p, const Alignment& heard, std::int64_t fromNs,
                                    std::int64_t toNs) {
    Comparison c;
    for (const auto& r : p.reads) {
      if (r.mode != mpPlaying || r.ns < fromNs || r.ns >= toNs) continue;
      if (const auto by = heard.HeardBy(r.ns)) {
        c.ns.push_back(r.ns);
        c.errorMs.push_back((static_cast<double>(r.frame) - *by) * 1000 / 44100);
      }
    }
    return c;
  }
};

TEST_F(PipeWireStallCase, PositionNeverRunsAheadOfTheSoundThroughAStall) {
  std::string why;
  auto server = PipeWireServer::Start(1024, why);
  if (!server) SKIP_OR_FAIL(why);
  PlayPlan plan;
  plan.seconds = CaseSeconds();
  auto recorder = PipeWireRecorder::Start(server->RuntimeFolder(), plan.seconds + 40, why);
  ASSERT_TRUE(recorder) << why;
  std::vector<Stall> stalls{{plan.seconds * 0.35}, {plan.seconds * 0.65}};
  bool signalled = false;
  Played p;
  PlayAndRecord(
      *server, plan, [&] { return recorder->Finish(); }, p,
      [&] { signalled = Freeze(*server, stalls); });
  if (HasFatalFailure()) return;
  ASSERT_TRUE(signalled) << "the PulseAudio service could not be frozen and thawed";

  const Alignment heard(p.rec, Music(), p.reads.back().ns);
  const Comparison errors = Compare(p.reads, heard);
  if (const char* keep = std::getenv("MORVANE_AS_KEEP"); keep && *keep == '1')
    Keep(p, heard, errors);
  // Away from the stalls the sound is followed as ever.
  Comparison away;
  for (std::size_t i = 0; i < errors.ns.size(); ++i) {
    bool near = false;
    for (const auto& s : stalls)
      near = near || (errors.ns[i] >= s.fromNs && errors.ns[i] < s.toNs + kAfterStallNs);
    if (!near) {
      away.ns.push_back(errors.ns[i]);
      away.errorMs.push_back(errors.errorMs[i]);
    }
  }
  const ErrorFigures others = away.All();
  const double limit = kMostLeadMs + p.rec.markUncertaintyMs;
  std::ostringstream each;
  std::vector<double> leads;
  std::vector<std::size_t> frozenReads;
  for (const auto& s : stalls) {
    const Comparison around = AgainstTheSound(p, heard, s.fromNs, s.toNs + kAfterStallNs);
    leads.push_back(around.errorMs.empty()
                        ? 0
                        : *std::max_element(around.errorMs.begin(), around.errorMs.end()));
    frozenReads.push_back(AgainstTheSound(p, heard, s.fromNs, s.toNs).errorMs.size());
    // When Position is back with the sound after the thaw: the last read off by more than 2 ms.
    const Comparison after = AgainstTheSound(p, heard, s.toNs, s.toNs + 1'000'000'000);
    double backMs = 0;
    for (std::size_t i = 0; i < after.ns.size(); ++i)
      if (std::fabs(after.errorMs[i]) > kMostLeadMs)
        backMs = static_cast<double>(after.ns[i] - s.toNs) / 1e6;
    each << "\n             stall at " << s.atS << " s: worst lead " << leads.back() << " ms; "
         << frozenReads.back() << " reads while frozen; then " << Format(around.All())
         << "; within 2 ms of the sound again " << backMs << " ms after the thaw";
  }
  std::cout << "[ RESULT   ] PipeWire, quantum 1024, PulseAudio service frozen twice for "
            << kStallFor.count() << " ms | " << PathLine(p.playerOutput)
            << " | away from the stalls " << Format(others) << " | Position at "
            << PositionSpeed(p.reads) << "x" << each.str() << "\n             " << heard.Describe()
            << "\n             " << p.rec.notes << "; marks within " << p.rec.markUncertaintyMs
            << " ms\n";
  for (std::size_t i = 0; i < stalls.size(); ++i) {
    EXPECT_LE(leads[i], limit) << "stall " << i + 1 << ": Position ran ahead of the sound, ms";
    EXPECT_GT(frozenReads[i], 200u) << "stall " << i + 1 << ": too few reads while frozen";
  }
  ASSERT_GT(others.count, p.reads.size() / 2) << "too few reads fell where music was heard";
  EXPECT_LE(std::fabs(others.mean), kMeanLimitMs) << Format(others);
  EXPECT_LE(others.sd, kSdLimitMs) << Format(others);
  EXPECT_LE(std::fabs(others.worst), kWorstLimitMs) << Format(others);
  if (HasFailure()) std::cout << server->Logs();
}

}  // namespace
}  // namespace audioserver
