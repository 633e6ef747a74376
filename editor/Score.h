// The chart being edited: its notes in list order, each with the row it was last drawn at and
// whether playback has sounded it. Read from and written to the chart files the game reads, one
// "time,kind" line per note.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/Lists.h"

class TMediaPlayer;
class TTrackBar;

namespace Tessaly {

// A row no note is ever drawn at: where a note stands until it is first drawn, so that a
// pointer over the lane cannot grab or hit it by a row it never had.
constexpr std::int32_t kUndrawnRow = -1000000;

struct TNote {
  std::uint8_t Kind;  // 1 to 8 when recorded
  std::int32_t Time;  // music position in milliseconds
  std::int32_t Y;     // lane row at the last draw; the mouse tests read it
  bool Played;        // playback has sounded it (its line is hidden meanwhile)
};
static_assert(sizeof(TNote) == 16, "a note is a 16-byte record");

TNote* NewNote(std::uint8_t Kind, std::int32_t Time);

// The ordering of the chart: A's time minus B's; times 2^31 or more apart raise EIntOverflow.
int CompareNoteTimes(void* A, void* B);

class TScore : public TList {
 public:
  TScore() = default;
  ~TScore() override;

  void ResetPlayed();
  // Appends a note; the chart is sorted only when the window asks.
  void AddNote(std::int32_t Time, std::uint8_t Kind);
  TNote* GetNote(int Index) const { return static_cast<TNote*>(Items(Index)); }
  // Frees every note and empties the list.
  void ClearNotes();

  // Reads a chart and opens its music in Music, then sets SpeedBar to 5. A chart that cannot be
  // read raises EFOpenError and music that cannot be opened EMCIDeviceError, both naming the
  // file; the chart is then left empty and not loaded. A bad line (no note, or a NUL byte in it)
  // is shown with its index from 0 and skipped. A UTF-8 byte order mark at the start is skipped.
  void LoadFromFile(const std::string& FileName);
  // Writes the notes, in list order, as "time,kind" lines each ended by CR LF. The lines go to a
  // new file beside the chart that replaces it only once it is whole on the disk, so a failed
  // save (EFCreateError) leaves the old chart as it was. A chart that was never loaded is not
  // written (EInvalidOperation).
  void SaveToFile(const std::string& FileName) const;
  // The chart was read whole: only such a chart is ever written.
  bool IsLoaded() const { return FLoaded; }

  // Where the chart's music opens and the speed bar that loading sets: the window's.
  TMediaPlayer* Music = nullptr;
  TTrackBar* SpeedBar = nullptr;

 private:
  bool FLoaded = false;
};

// The program's folder, with a trailing separator; music is looked for in its "Sound" folder.
extern std::string AppDir;

// The music of a chart: AppDir + "Sound/" + the chart's name with the extension ".mp3". A
// back-up chart ("BackUp_" + name) has no music of its own: when there is no music under its
// own name, it plays the music of the chart it was copied from.
std::string MusicFileName(const std::string& ChartFileName);
// Where the back-up of a chart goes: its folder + "BackUp_" + its name.
std::string BackUpFileName(const std::string& ChartFileName);

}  // namespace Tessaly
