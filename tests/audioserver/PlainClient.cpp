#include "audioserver/PlainClient.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include "audioserver/Recording.h"
#include "platform/mci/MPlayer.h"
#include "platform/mci/Mp3Decoder.h"

namespace audioserver {

std::vector<PositionRead> PlayWithPlainClient(const std::string& server, const std::string& file,
                                              double seconds, std::string& why) {
  mci::Mp3Decoder music(file);
  const pa_sample_spec spec{PA_SAMPLE_S16LE, mci::Mp3Decoder::kRate, 2};
  // The player's own request: about 35 ms queued, refilled every 10 ms.
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(35000, &spec));
  attr.prebuf = static_cast<std::uint32_t>(-1);
  attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(10000, &spec));
  attr.fragsize = static_cast<std::uint32_t>(-1);
  int error = 0;
  pa_simple* s = pa_simple_new(server.c_str(), "plain client", PA_STREAM_PLAYBACK, nullptr, "music",
                               &spec, nullptr, &attr, &error);
  std::vector<PositionRead> reads;
  if (!s) {
    why = std::string("plain client: ") + pa_strerror(error);
    return reads;
  }
  constexpr int kChunk = 44;
  std::int16_t chunk[kChunk * 2];
  std::int64_t written = 0;
  const std::int64_t start = SteadyNs();
  while (SteadyNs() - start < static_cast<std::int64_t>(seconds * 1e9)) {
    if (music.Read(chunk, kChunk) < kChunk) break;
    if (pa_simple_write(s, chunk, sizeof chunk, &error) < 0) break;
    written += kChunk;
    const std::int64_t before = SteadyNs();
    const pa_usec_t latency = pa_simple_get_latency(s, &error);
    const std::int64_t after = SteadyNs();
    const auto frame = written - static_cast<std::int64_t>(static_cast<double>(latency) *
                                                           mci::Mp3Decoder::kRate / 1e6);
    reads.push_back({(before + after) / 2, frame, static_cast<std::int32_t>(mpPlaying),
                     static_cast<std::int32_t>((after - before) / 1000)});
  }
  pa_simple_free(s);
  return reads;
}

}  // namespace audioserver
