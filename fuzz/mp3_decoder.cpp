// The music decoder over arbitrary bytes: opening either succeeds or raises EMCIDeviceError, and
// a decoder that opened reads, seeks and reads again within its length without faults.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/mci/Mp3Decoder.h"
#include "platform/rtl/SysUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    mci::Mp3Decoder d(std::vector<std::uint8_t>(data, data + size), "fuzz.mp3");
    std::vector<std::int16_t> buf(2 * 4096);
    std::int64_t total = 0;
    // Bounded: a tiny input may announce hours of music.
    for (int i = 0; i < 64 && total < d.Length(); ++i) {
      const int got = d.Read(buf.data(), 4096);
      if (got <= 0) break;
      total += got;
    }
    d.Seek(d.Length() / 2);
    d.Read(buf.data(), 1000);
    d.Seek(d.Length());
    if (d.Read(buf.data(), 10) != 0) __builtin_trap();
  } catch (const EMCIDeviceError&) {
  }
  return 0;
}
