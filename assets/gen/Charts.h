// The two stages' charts: when each note falls (ms of music) and of which kind. The music is
// rendered from the same lists, so its drum hits land exactly on the notes.
#pragma once

#include <string>
#include <vector>

namespace assets {

struct ChartNote {
  int time;  // ms
  int kind;
};
using Chart = std::vector<ChartNote>;

struct Stage {
  std::string baseName;  // file name without extension, in Score/ and Sound/
  Chart chart;
  int musicMs;                   // length of the music
  int beatMs;                    // the tempo the background follows
  int keyRoot;                   // MIDI note of the key's root
  std::vector<int> progression;  // chord roots in semitones above the key, one per bar
};

Stage Stage1();
Stage Stage2();

// The editor's writer form: "time,kind" and CR LF per note.
std::string ChartText(const Chart& chart);

}  // namespace assets
