// Opening three minutes of stage music: reading the file and scanning every frame for the exact
// length, then the first block of audio after Play. Baseline: copying the same number of bytes
// with memcpy. Memory held by an open file is reported as a counter.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/mci/MPlayer.h"
#include "platform/mci/Mp3Decoder.h"

namespace {

std::string MusicFile() {
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe");
  return (exe.parent_path().parent_path() / "assets" / "out" / "bench" / "three_minutes.mp3")
      .string();
}

// Bytes allocated and not yet freed, whatever the allocator keeps for reuse.
double HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd);
}

void BM_Baseline_MemcpyFileSize(benchmark::State& state) {
  const size_t size = std::filesystem::file_size(MusicFile());
  std::vector<char> a(size, 1), b(size);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), size);
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Baseline_MemcpyFileSize);

void BM_OpenThreeMinutes(benchmark::State& state) {
  const std::string file = MusicFile();
  for (auto _ : state) {
    mci::Mp3Decoder d(file);
    benchmark::DoNotOptimize(d.Length());
  }
  const double before = HeapInUse();
  {
    mci::Mp3Decoder d(file);
    state.counters["held_MiB"] = (HeapInUse() - before) / (1024.0 * 1024.0);
    state.counters["length_s"] = static_cast<double>(d.Length()) / mci::Mp3Decoder::kRate;
  }
}
BENCHMARK(BM_OpenThreeMinutes)->Unit(benchmark::kMillisecond);

// Open, Play and the first 12 ms of audio on the headless device: everything between choosing a
// stage and its first audible sample.
void BM_OpenPlayFirstBlock(benchmark::State& state) {
  backend::HeadlessBackend& hb = backend::HeadlessBackend::InstallFresh();
  hb.SetAudioCapture(false);
  TMediaPlayer player(nullptr);
  player.FileName = MusicFile();
  for (auto _ : state) {
    player.Open();
    player.Play();
    hb.Advance(12);
    benchmark::DoNotOptimize(player.Position());
  }
}
BENCHMARK(BM_OpenPlayFirstBlock)->Unit(benchmark::kMillisecond);

// Decoding one second of music, as the device asks for it while playing.
void BM_DecodeOneSecond(benchmark::State& state) {
  mci::Mp3Decoder d(MusicFile());
  std::vector<std::int16_t> buf(2 * 512);
  for (auto _ : state) {
    if (d.Tell() + 44100 > d.Length()) d.Seek(0);
    for (int n = 0; n < 44100; n += 512) d.Read(buf.data(), 512);
  }
}
BENCHMARK(BM_DecodeOneSecond)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
