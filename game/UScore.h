// The chart of the stage being played: its notes in time order and the tracker that follows the
// music's position frame by frame, so that the bosses act on the beat.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/rtl/Lists.h"

struct TNote {
  std::int32_t Time = 0;  // music position in milliseconds
  std::uint8_t Kind = 0;
};

class TScore : public TList {
 public:
  TScore();
  ~TScore() override;

  void Reset();
  void ClearNotes();
  TNote* GetNote(int Index) const { return static_cast<TNote*>(Items(Index)); }
  // Replaces the notes with the chart of the current stage (AppDir + "Score/" + the stage's
  // base name + ".txt"), adds the sentinel, sorts and resets.
  void Load();
  // Reads a chart from FileName; Load uses it with the current stage's file. A line with a NUL
  // byte is a bad line; a UTF-8 byte order mark at the start is skipped.
  void LoadFromFile(const std::string& FileName);
  // Moves the tracker to the music's present position.
  void Update();
  // The nearest note of Kind looking back from the current note (included) or forward from the
  // next one (included); nullptr if there is none.
  TNote* FindKind(bool Backward, std::uint8_t Kind) const;

  // Indexes are plain ints: a chart may hold more notes than a 16-bit index could reach.
  int NextIndex = 0;
  TNote* Next = nullptr;
  int CurrentIndex = 0;
  TNote* Current = nullptr;
  bool Passed = false;
  std::int32_t Position = 0;

  // Where Update reads the music's position in milliseconds (the game's media player).
  std::function<std::int32_t()> MusicPosition;
  // Told of the first malformed line (file name, 1-based line number) after a load; the game
  // shows it and closes. Without a handler the line is only skipped.
  std::function<void(const std::string& FileName, int Line)> OnBadLine;
};

// Orders notes by time; compares the times directly so that far-apart times cannot wrap.
int CompareNoteTimes(void* A, void* B);
