// The whole game on the headless backend at 512 x 448: the peak memory of a play-through of the
// first stage, the time from start to the first title frame shown, a stage start, and one play
// frame of the second stage (chart update, moves and contacts, drawing, the status band and the
// flip). The frame is read against its 34 ms budget ("budget_share") and against a copy of one
// 512 x 448 x 32 surface measured in the same run (BM_MemcpySurface).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstring>
#include <vector>

#include "assets/StoredForms.h"
#include "game/GameState.h"
#include "game/Main.h"
#include "game/UBoss.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"

namespace {

double PeakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// A fresh headless backend and the game's window shown on it, as the program starts.
backend::HeadlessBackend& OpenGameWindow(bool captureAudio) {
  auto& hb = backend::HeadlessBackend::InstallFresh();
  hb.SetAudioCapture(captureAudio);
  ResetGameState();
  RegisterGameFormResource();
  Application->ResetTerminated();
  Application->SetTitle("iMorvane");
  Application->CreateForm(Form1);
  Form1->SetVisible(true);
  return hb;
}

void CloseGameWindow() {
  GameMode = 1;
  Form1->Free();
  Application->ProcessMessages();
}

// The game's window on a fresh headless backend.
class TGame {
 public:
  explicit TGame(bool captureAudio = false) : hb(&OpenGameWindow(captureAudio)) {}
  ~TGame() {
    CloseGameWindow();
    Application->ResetTerminated();
  }
  // Runs the idle loop until a frame has run.
  void Frame() {
    const std::int64_t last = LastFrameTime;
    Application->RunUntil([&] { return LastFrameTime != last; }, 500);
  }
  // Starts a stage as the stage select does, and runs until its music plays.
  void Start(int Stage) {
    Frame();
    GameMode = 2;
    CurrentStage = Stage;
    Form1->StartStage();
    while (WaitingToStart) Frame();
  }
  // Plays on with the hero kept alive.
  void Play() {
    if (HeroSprite != nullptr) HeroSprite->Power = 404;
    Frame();
  }
  TSpriteEngine* Engine() const { return Form1->DXSpriteEngine1->Engine(); }

  backend::HeadlessBackend* hb;
};

// First, while the process is fresh: the first stage played to the credits with the rendered
// audio kept, as the end-to-end tests keep it.
void BM_PlayThroughPeakMemory(benchmark::State& state) {
  const double before = PeakMegabytes();
  int frames = 0;
  for (auto _ : state) {
    TGame game(true);
    game.Start(1);
    while (GameMode == 3 && frames < 5000) {
      game.Play();
      ++frames;
    }
  }
  state.counters["frames"] = frames;
  state.counters["peak_MB"] = PeakMegabytes();
  state.counters["growth_MB"] = PeakMegabytes() - before;
}
BENCHMARK(BM_PlayThroughPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// From nothing to the first title frame presented: the window and its components from the
// stored form, display, sound and input started, and the first frame's wait on the clock.
void BM_StartToFirstTitleFrame(benchmark::State& state) {
  for (auto _ : state) {
    auto& hb = OpenGameWindow(false);
    const backend::WindowId w = Form1->Handle();
    Application->RunUntil([&] { return hb.PresentCount(w) > 0; }, 500);
    state.PauseTiming();
    CloseGameWindow();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StartToFirstTitleFrame)->Unit(benchmark::kMillisecond);

// A stage start: the boss picture read and cut, the three segments, the chart, the music opened
// and rewound.
void BM_StageStart(benchmark::State& state) {
  TGame game;
  game.Frame();
  for (auto _ : state) {
    GameMode = 2;
    CurrentStage = 2;
    Form1->StartStage();
    state.PauseTiming();
    TSpriteEngine* e = game.Engine();
    for (int i = 0; i < e->Count(); ++i)
      if (e->Items(i) != HeroSprite) e->Items(i)->Dead();
    e->Dead();
    Form1->MediaPlayer1->Close();
    WaitingToStart = false;
    state.ResumeTiming();
  }
}
BENCHMARK(BM_StageStart)->Unit(benchmark::kMillisecond);

// One play frame of the second stage while its segments orbit the hero: the busiest routine.
void BM_PlayFrameStageTwo(benchmark::State& state) {
  TGame game;
  game.Start(2);
  auto segmentPhase = [&] {
    for (int i = 0; i < game.Engine()->Count(); ++i)
      if (auto* s = dynamic_cast<TStakkoSprite*>(game.Engine()->Items(i))) return int(s->Phase);
    return -1;
  };
  while (GameMode == 3 && segmentPhase() != 9) game.Play();
  for (int i = 0; i < 20; ++i) game.Play();
  for (auto _ : state) {
    HeroSprite->Power = 404;
    Form1->PlayFrame();
  }
  state.counters["sprites"] = game.Engine()->Count();
  state.counters["phase"] = segmentPhase();
  // Seconds per frame over the 0.034 s a frame may take.
  state.counters["budget_share"] = benchmark::Counter(
      0.034, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlayFrameStageTwo)->Unit(benchmark::kMicrosecond);

// The baseline: copying one 512 x 448 x 32 surface's bytes.
void BM_MemcpySurface(benchmark::State& state) {
  std::vector<std::uint8_t> a(512 * 448 * 4, 1), b(512 * 448 * 4);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpySurface)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
