#include "game/UScore.h"

#include "game/GameState.h"
#include "platform/rtl/SysUtils.h"

namespace {

const char* const kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

TScore::TScore() { Reset(); }

TScore::~TScore() { ClearNotes(); }

void TScore::Reset() {
  CurrentIndex = 0;
  NextIndex = 0;
  Current = nullptr;
  Next = nullptr;
  Position = 0;
  // A flag left from the last frame of play would otherwise be acted on by whatever runs next.
  Passed = false;
}

void TScore::ClearNotes() {
  for (int i = Count() - 1; i >= 0; --i) delete GetNote(i);
  Clear();
}

int CompareNoteTimes(void* A, void* B) {
  const std::int32_t a = static_cast<TNote*>(A)->Time;
  const std::int32_t b = static_cast<TNote*>(B)->Time;
  return a < b ? -1 : (a > b ? 1 : 0);
}

void TScore::Load() { LoadFromFile(AppDir + "Score/" + Stages[CurrentStage].FileName + ".txt"); }

void TScore::LoadFromFile(const std::string& FileName) {
  ClearNotes();
  TStringList Lines;
  bool opened = true;
  try {
    Lines.LoadFromFile(FileName);
  } catch (const Exception&) {
    opened = false;
  }
  // The sentinel goes in even when the file could not be read, so that the tracker always has a
  // note to stand on and the stage can go on with an empty chart.
  Add(new TNote{0, 1});
  int firstBadLine = 0;
  if (opened) {
    for (int i = 0; i < Lines.Count(); ++i) {
      std::string line = Lines.Strings(i);
      // Some text editors begin a file with a UTF-8 byte order mark: it is no part of a note.
      if (i == 0 && line.compare(0, 3, kByteOrderMark) == 0) line.erase(0, 3);
      const std::vector<std::string> fields = SplitCommaText(line);
      // A NUL byte makes no note, wherever in the line it is.
      if (fields.size() < 2 || line.find('\0') != std::string::npos) {
        if (firstBadLine == 0) firstBadLine = i + 1;
        continue;
      }
      const std::int32_t time = StrToIntDef(fields[0], 1000);
      const std::int32_t kind = StrToIntDef(fields[1], 0);
      Add(new TNote{time, static_cast<std::uint8_t>(kind & 0xFF)});
    }
  }
  Sort(CompareNoteTimes);
  Reset();
  if (firstBadLine != 0 && OnBadLine) OnBadLine(FileName, firstBadLine);
}

void TScore::Update() {
  Position = MusicPosition ? MusicPosition() : 0;
  Passed = false;
  const int count = Count();
  for (int i = CurrentIndex + 1; i < count; ++i) {
    if (GetNote(i)->Time <= Position) {
      CurrentIndex = i;
      NextIndex = i + 1 < count ? i + 1 : i;
      Passed = true;
    }
  }
  if (count == 0) {
    Current = Next = nullptr;
    return;
  }
  Next = GetNote(NextIndex);
  Current = GetNote(CurrentIndex);
}

TNote* TScore::FindKind(bool Backward, std::uint8_t Kind) const {
  const int count = Count();
  if (Backward) {
    for (int i = CurrentIndex < count ? CurrentIndex : count - 1; i >= 0; --i)
      if (GetNote(i)->Kind == Kind) return GetNote(i);
  } else {
    for (int i = NextIndex; i < count; ++i)
      if (GetNote(i)->Kind == Kind) return GetNote(i);
  }
  return nullptr;
}
