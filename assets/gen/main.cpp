// Writes everything the programs load that is not code: boss pictures, charts and music, and the
// stored forms of both main windows with their pictures and sounds. Deterministic: the same
// generator always writes the same bytes. Usage: morvane_assets <output folder>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "assets/gen/Charts.h"
#include "assets/gen/Forms.h"
#include "assets/gen/Music.h"
#include "assets/gen/Pictures.h"

namespace fs = std::filesystem;

namespace {

// Written beside and renamed over the target, so a half-written file never takes its place.
void WriteFile(const fs::path& path, const void* data, size_t size) {
  fs::create_directories(path.parent_path());
  fs::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) throw std::runtime_error("cannot write " + tmp.string());
  }
  fs::rename(tmp, path);
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  try {
    const fs::path out = argv[1];
    WriteFile(out / "Image" / "Grumbak.bmp", assets::GrumbakPicture().BmpFile());
    WriteFile(out / "Image" / "Stakko.bmp", assets::StakkoPicture().BmpFile());
    // The form pictures also go out as files, for looking at them; the programs do not read these.
    for (const assets::NamedPicture& p : assets::GamePictures())
      WriteFile(out / "forms" / (p.name + ".bmp"), p.image.BmpFile());
    for (const auto& [name, text] :
         {std::pair{std::string("GameForm"), assets::GameFormText()},
          std::pair{std::string("EditorForm"), assets::EditorFormText()}}) {
      WriteFile(out / "forms" / (name + ".txt"), text.data(), text.size());
      const std::string source = assets::FormSource(name, text);
      WriteFile(out / "forms" / (name + ".cpp"), source.data(), source.size());
    }
    for (const assets::Stage& stage : {assets::Stage1(), assets::Stage2()}) {
      const std::string text = assets::ChartText(stage.chart);
      WriteFile(out / "Score" / (stage.baseName + ".txt"), text.data(), text.size());
      WriteFile(out / "Sound" / (stage.baseName + ".mp3"),
                assets::EncodeMp3(assets::RenderMusic(stage)));
    }
    // Three minutes of music for measuring how long opening a stage's music takes (not laid out
    // beside the programs).
    assets::Stage long3 = assets::Stage1();
    long3.chart.pop_back();  // the end note
    const assets::Chart once = long3.chart;
    for (int offset = 62000; offset + 62000 <= 178000; offset += 62000)
      for (const assets::ChartNote& n : once) long3.chart.push_back({n.time + offset, n.kind});
    long3.musicMs = 180000;
    WriteFile(out / "bench" / "three_minutes.mp3", assets::EncodeMp3(assets::RenderMusic(long3)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morvane_assets: %s\n", e.what());
    return 1;
  }
  return 0;
}
