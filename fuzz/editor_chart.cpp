// A chart file of any bytes, as the editor reads it: every line either becomes one note or is
// reported, and whatever was read is written back in the writer's form and reads back the same.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "editor/Score.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/rtl/Lists.h"

namespace {

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string Read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Memory-backed when there is such a folder: every save is flushed to its disk.
  static const std::string dir =
      std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/tessaly_fuzz_" +
      std::to_string(getpid()) + "/";
  static backend::HeadlessBackend& hb = []() -> backend::HeadlessBackend& {
    std::filesystem::create_directories(dir);
    return backend::HeadlessBackend::InstallFresh();
  }();
  static const struct Cleanup {
    ~Cleanup() {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    }
  } cleanup;
  hb.ClearMessageBoxes();
  const std::string in = dir + "in.txt", out = dir + "out.txt";
  Write(in, data, size);

  Tessaly::TScore score;
  score.LoadFromFile(in);
  TStringList lines;
  lines.LoadFromFile(in);
  // Each line is a note or a message, never both, never neither.
  if (score.Count() + static_cast<int>(hb.MessageBoxes().size()) != lines.Count()) std::abort();

  score.SaveToFile(out);
  const std::string text = Read(out);
  // The writer's form: "time,kind" with CR LF after every line, nothing else.
  std::size_t at = 0;
  for (int i = 0; i < score.Count(); ++i) {
    const std::string line = std::to_string(score.GetNote(i)->Time) + "," +
                             std::to_string(score.GetNote(i)->Kind) + "\r\n";
    if (text.compare(at, line.size(), line) != 0) std::abort();
    at += line.size();
  }
  if (at != text.size()) std::abort();

  Tessaly::TScore again;
  hb.ClearMessageBoxes();
  again.LoadFromFile(out);
  if (!hb.MessageBoxes().empty() || again.Count() != score.Count()) std::abort();
  for (int i = 0; i < score.Count(); ++i)
    if (again.GetNote(i)->Time != score.GetNote(i)->Time ||
        again.GetNote(i)->Kind != score.GetNote(i)->Kind)
      std::abort();
  return 0;
}
