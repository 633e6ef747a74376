// The audio devices of the SDL backend where no PulseAudio-protocol server plays: SDL's own
// audio, and a null output that keeps time when the machine has no sound at all.
#pragma once

#include <memory>
#include <string>

#include "platform/backend/Backend.h"

namespace backend {

// SDL's audio at `rate` frames a second, interleaved stereo, 16 bits, on the driver SDL picks,
// never on its native PipeWire driver (see the .cpp). nullptr when none opens; `why` says which
// driver plays, or why none does.
std::shared_ptr<AudioDevice> OpenSdlAudio(int rate, AudioRenderFn render, std::string& why);

// Renders into nothing at the speed a device would take the frames.
std::shared_ptr<AudioDevice> OpenNullAudio(int rate, AudioRenderFn render);

}  // namespace backend
