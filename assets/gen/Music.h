// The stage music: drum hits on every chart note over a soft bass line and pad, encoded as MP3
// with the encoder's tag frame so that decoders can remove the encoder delay and padding.
#pragma once

#include <cstdint>
#include <vector>

#include "assets/gen/Charts.h"

namespace assets {

constexpr int kMusicRate = 44100;

// Interleaved stereo 16-bit samples, exactly stage.musicMs long.
std::vector<std::int16_t> RenderMusic(const Stage& stage);

// MP3 at 44.1 kHz stereo with the tag frame in front.
std::vector<std::uint8_t> EncodeMp3(const std::vector<std::int16_t>& stereo);

}  // namespace assets
