// Any bytes given to the RIFF WAVE reader load or fail with the reader's own errors; what loads
// writes back and loads again to the same wave.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/sound_input/DXWave.h"
#include "platform/rtl/Streams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream in;
  if (size > 0) in.Write(data, static_cast<std::int64_t>(size));
  in.SetPosition(0);
  TWave wave;
  try {
    wave.ReadData(&in);
  } catch (const EWaveStreamError&) {
    return 0;
  } catch (const EReadError&) {
    return 0;
  }
  if (wave.Size() > static_cast<std::int32_t>(size)) __builtin_trap();
  TMemoryStream out;
  wave.WriteData(&out);
  out.SetPosition(0);
  TWave again;
  again.ReadData(&out);
  if (wave.FormatSize() > 0 && wave.Size() > 0) {
    if (again.Size() != wave.Size() || again.FormatSize() != wave.FormatSize()) __builtin_trap();
    if (std::memcmp(again.Data(), wave.Data(), static_cast<std::size_t>(wave.Size())) != 0)
      __builtin_trap();
  }
  return 0;
}
