// The editor's costs: one frame of edit and of playback mode over a 2,000-note chart (the lane
// drawn on every second, respectively twelfth, frame, as the editor does), loading and saving a
// 100,000-note chart, and the process's peak memory. The baseline of the same run is memcpy of
// 1 MB; compare the times against it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "assets/StoredForms.h"
#include "editor/Main.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"

namespace {

const std::string kDir = std::filesystem::temp_directory_path().string() + "/tessaly_bench/";

// The charts written here go when the program ends.
const struct Cleanup {
  ~Cleanup() {
    std::error_code ec;
    std::filesystem::remove_all(kDir, ec);
  }
} cleanup;

std::string Chart(int notes, int spacingMs) {
  std::string text;
  for (int i = 0; i < notes; ++i)
    text += std::to_string(500 + i * spacingMs) + "," + std::to_string(1 + i % 8) + "\r\n";
  return text;
}

// The editor's window with a 2,000-note chart open: notes every 60 ms, so about 140 of them stand
// on the lane at a time and playback sounds one every few frames.
struct Editor {
  backend::HeadlessBackend* hb;
  Editor() {
    std::filesystem::create_directories(kDir);
    std::ofstream(kDir + "Last Boss.txt", std::ios::binary) << Chart(2000, 60);
    hb = &backend::HeadlessBackend::InstallFresh();
    hb->SetAudioCapture(false);
    Application->SetTitle("Quilletエディター");
    RegisterEditorFormResource();
    OnModalDialogPass = [](TModalDialog& d) {
      if (auto* open = dynamic_cast<TOpenDialogBox*>(&d)) {
        open->SetFileNameText(kDir + "Last Boss.txt");
        open->Accept();
      } else {
        d.EndModal(d.CancelResult());
      }
    };
    Application->CreateForm(Tessaly::Form1);
    Tessaly::Form1->SetVisible(true);
    Application->ProcessMessages();
  }
};

Editor& E() {
  static Editor e;
  return e;
}

void BM_Memcpy1MB(benchmark::State& state) {
  std::vector<char> a(1 << 20, 1), b(1 << 20);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(a.size()));
}
BENCHMARK(BM_Memcpy1MB);

void RunFrames(benchmark::State& state, Tessaly::TEditorMode mode) {
  Editor& e = E();
  Tessaly::EditorMode = mode;
  Tessaly::Score->ResetPlayed();
  for (auto _ : state) {
    // The music moves on by a frame's worth between frames, outside the measured time.
    state.PauseTiming();
    e.hb->Advance(17);
    if (Tessaly::MusicPos > 110000) {
      Tessaly::Form1->BGM1->SetPosition(0);
      Tessaly::Score->ResetPlayed();
    }
    state.ResumeTiming();
    Tessaly::Form1->RunFrame();
  }
  Tessaly::EditorMode = Tessaly::emEdit;
}

void BM_EditFrame2000Notes(benchmark::State& state) { RunFrames(state, Tessaly::emEdit); }
BENCHMARK(BM_EditFrame2000Notes)->Unit(benchmark::kMicrosecond);

void BM_PlaybackFrame2000Notes(benchmark::State& state) { RunFrames(state, Tessaly::emPlayback); }
BENCHMARK(BM_PlaybackFrame2000Notes)->Unit(benchmark::kMicrosecond);

void BM_Load100000Notes(benchmark::State& state) {
  std::filesystem::create_directories(kDir);
  const std::string path = kDir + "big.txt";
  std::ofstream(path, std::ios::binary) << Chart(100000, 3);
  for (auto _ : state) {
    Tessaly::TScore score;
    score.LoadFromFile(path);
    benchmark::DoNotOptimize(score.Count());
  }
}
BENCHMARK(BM_Load100000Notes)->Unit(benchmark::kMillisecond);

void BM_Save100000Notes(benchmark::State& state) {
  std::filesystem::create_directories(kDir);
  const std::string path = kDir + "big.txt";
  std::ofstream(path, std::ios::binary) << Chart(100000, 3);
  Tessaly::TScore score;
  score.LoadFromFile(path);
  for (auto _ : state) score.SaveToFile(path);
}
BENCHMARK(BM_Save100000Notes)->Unit(benchmark::kMillisecond);

// The high-water mark of the process's resident memory, after everything above has run.
void BM_PeakMemory(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(state.iterations());
  std::ifstream status("/proc/self/status");
  std::string line;
  double mb = 0;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) mb = std::stod(line.substr(6)) / 1024.0;
  state.counters["peak_MB"] = mb;
}
BENCHMARK(BM_PeakMemory)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
