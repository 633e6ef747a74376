// A plain PulseAudio-protocol client, for telling the server's timing from the player's: it
// plays the music through libpulse's simple API and reads the stream's latency after every
// write of 1 ms, its position being the frames written less that latency. Nothing of the
// player's own clock is in it, so where it and the player agree against a reference, the
// reference (or the server's timing) is what differs.
#pragma once

#include <string>
#include <vector>

#include "audioserver/Player.h"

namespace audioserver {

// Plays `file` on `server` for `seconds`; empty, with the reason, when it cannot.
std::vector<PositionRead> PlayWithPlainClient(const std::string& server, const std::string& file,
                                              double seconds, std::string& why);

}  // namespace audioserver
