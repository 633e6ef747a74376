// Any bytes given to the texture images' bitmap reader load or fail with "DIB is invalid" or a
// short stream. What loads can be read pixel by pixel through its channels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "framework/graphics/DXTextureImage.h"
#include "platform/rtl/Streams.h"

// Keeps the reads from being optimised away.
static volatile DWORD Sink = 0;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  if (size > 0) input.WriteBuffer(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  TDXTextureImage image;
  try {
    TDXTextureImage::LoadDIBStream(&input, &image);
  } catch (const EDXTextureImageError&) {
  } catch (const EReadError&) {
  }
  const int w = image.Width, h = image.Height;
  if (static_cast<std::int64_t>(image.WidthBytes) * h > image.ImageSize) std::abort();
  const int stepX = w / 64 + 1, stepY = h / 64 + 1;
  DWORD sum = 0;
  for (int y = 0; y < h; y += stepY)
    for (int x = 0; x < w; x += stepX) {
      const DWORD p = image.Pixels(x, y);
      if (image.ImageKind == ikPalette) {
        const DWORD index = DecodeChannel(image.IndexChannel, p);
        if (index > 255) std::abort();
        sum += image.Palette[index].peRed;
      } else {
        sum += DecodeChannel(image.RedChannel, p) + DecodeChannel(image.AlphaChannel, p);
      }
    }
  sum += image.Pixels(w - 1, h - 1) + image.Pixels(w, 0);
  Sink = Sink + sum;
  return 0;
}
