// How loud the generated sounds and the stage music are, as peaks in full scale (1.0 is the edge
// of the 16-bit range).
//
// The game plays its stored sounds over the stage music, and no sound list limits how many
// copies of a sound play at once, so what must fit is the most the game can start at one moment.
// Going by the game's rules, on one frame:
//  - each boss sprite sounds at most once, from its own move: the first boss the note that has
//    just passed; each of the second boss's decoys the contact that wears it down (one in five);
//  - the one real target bursts at most one note, and the note sounds;
//  - the hero, moved before the bosses (it was made before them), may run out of gauge on the
//    same frame; the bosses still collide with it before it is freed, and freed it sounds its
//    end.
// So the second stage can start four at once: both decoys' "Bass", a burst (a "Bass" too while
// the combo is low) and the hero's end; the first stage three. The menus sound one at a time,
// with no music. Where the starts fall is up to the player, so the four peaks may meet each
// other and the music's: their sum stays a decibel below full scale.
#pragma once

namespace assets {

constexpr int kLargestStack = 4;

// 1 dB below full scale: 10^(-1/20).
constexpr double kMixCeiling = 0.8912509;

// The whole stage music as rendered, before encoding (-20 dBFS).
constexpr double kMusicPeak = 0.1;

// Decoding the encoded music gives back peaks a few per cent off those rendered (6.5 % above on
// the first stage's music); this much is allowed for.
constexpr double kMusicPeakDecoded = 1.15 * kMusicPeak;

// Every stored sound of both programs (about -14 dBFS): the largest stack and the music fit
// under the ceiling, and one sound stands well above the music.
constexpr double kSoundPeak = (kMixCeiling - kMusicPeakDecoded) / kLargestStack;

}  // namespace assets
