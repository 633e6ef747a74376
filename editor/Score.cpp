#include "editor/Score.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "editor/Arith.h"
#include "platform/forms/ComCtrls.h"
#include "platform/forms/Dialogs.h"
#include "platform/mci/MPlayer.h"
#include "platform/rtl/ScratchFiles.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/SysUtils.h"

namespace Tessaly {

std::string AppDir;

namespace {

const char* const kBackUpPrefix = "BackUp_";
const char* const kByteOrderMark = "\xEF\xBB\xBF";

// Writes Bytes as the whole new content of FileName: into a hidden file of the same folder,
// flushed to the disk, then renamed over the old file, which stays whole until that moment.
void ReplaceFile(const std::string& FileName, const std::string& Bytes) {
  mode_t mode;
  // A chart reached through a link is replaced where it really is.
  const std::string path = ReplacementTarget(FileName, mode);
  const std::string::size_type slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = "." + name + ".~";
  std::string scratch = folder + prefix + "XXXXXX";
  // Locked while it lives, so that another save does not take it for a killed save's leftover.
  const int fd = CreateLockedScratchFile(scratch);
  if (fd < 0) RaiseCreateError(FileName, path, std::strerror(errno));
  int err = WriteAllBytes(fd, Bytes.data(), Bytes.size());
  if (err == 0 && ::fchmod(fd, mode) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  // Renamed while still locked; the data is on the disk already, so closing can lose nothing.
  if (err == 0 && ::rename(scratch.c_str(), path.c_str()) != 0) err = errno;
  const bool renamed = err == 0;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    if (!renamed) ::unlink(scratch.c_str());
    RaiseCreateError(FileName, path, std::strerror(err));
  }
  // What saves of this chart killed before their end left behind goes now.
  RemoveAbandonedScratchFiles(folder, prefix);
  // The new name itself reaches the disk with the folder.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void AppendInt(std::string& S, std::int32_t V) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, V);
  S.append(buf, r.ptr);
}

}  // namespace

TNote* NewNote(std::uint8_t Kind, std::int32_t Time) {
  return new TNote{Kind, Time, kUndrawnRow, false};
}

int CompareNoteTimes(void* A, void* B) {
  return CheckedSub(static_cast<TNote*>(A)->Time, static_cast<TNote*>(B)->Time);
}

TScore::~TScore() { ClearNotes(); }

void TScore::ClearNotes() {
  for (int i = Count() - 1; i >= 0; --i) delete GetNote(i);
  Clear();
}

void TScore::ResetPlayed() {
  for (int i = 0; i < Count(); ++i) GetNote(i)->Played = false;
}

void TScore::AddNote(std::int32_t Time, std::uint8_t Kind) { Add(NewNote(Kind, Time)); }

void TScore::LoadFromFile(const std::string& FileName) {
  FLoaded = false;
  ClearNotes();
  TStringList lines;
  lines.LoadFromFile(FileName);
  if (Music != nullptr) {
    Music->FileName = MusicFileName(FileName);
    Music->Open();
  }
  if (SpeedBar != nullptr) SpeedBar->SetPosition(5);
  for (int i = 0; i < lines.Count(); ++i) {
    try {
      std::string line = lines.Strings(i);
      // Some text editors begin a file with a UTF-8 byte order mark: it is no part of a note.
      if (i == 0 && line.compare(0, 3, kByteOrderMark) == 0) line.erase(0, 3);
      const std::vector<std::string> fields = SplitCommaText(line);
      // A NUL byte makes no note, wherever in the line it is.
      if (fields.size() < 2 || line.find('\0') != std::string::npos)
        throw EStringListError(Format("List index out of bounds (%d)", {1}));
      const std::uint8_t kind = ToByte(StrToIntDef(fields[1], 0));
      const std::int32_t time = StrToIntDef(fields[0], 1000);
      AddNote(time, kind);
    } catch (const Exception&) {
      // The line is counted from 0, as the chart's own list counts it.
      ShowMessage(IntToStr(i) + "行にエラーがあります。");
    }
  }
  FLoaded = true;
}

void TScore::SaveToFile(const std::string& FileName) const {
  if (!FLoaded)
    throw EInvalidOperation(Format("\"%s\" was not loaded and is not written", {FileName}));
  std::string text;
  text.reserve(static_cast<std::size_t>(Count()) * 12);
  for (int i = 0; i < Count(); ++i) {
    const TNote* n = GetNote(i);
    AppendInt(text, n->Time);
    text += ',';
    AppendInt(text, n->Kind);
    text += "\r\n";
  }
  ReplaceFile(FileName, text);
}

std::string MusicFileName(const std::string& ChartFileName) {
  std::string name = ExtractFileName(NativePathName(ChartFileName));
  std::string music = AppDir + "Sound/" + ChangeFileExt(name, ".mp3");
  const std::size_t prefix = std::strlen(kBackUpPrefix);
  // A back-up's music is that of the chart it was copied from, however often it was copied.
  while (!FileExists(music) && name.compare(0, prefix, kBackUpPrefix) == 0) {
    name.erase(0, prefix);
    music = AppDir + "Sound/" + ChangeFileExt(name, ".mp3");
  }
  return music;
}

std::string BackUpFileName(const std::string& ChartFileName) {
  const std::string path = NativePathName(ChartFileName);
  return ExtractFilePath(path) + kBackUpPrefix + ExtractFileName(path);
}

}  // namespace Tessaly
