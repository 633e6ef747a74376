// Any bytes given to the "dxt:" reader load or fail with the reader's own errors or a short
// stream. What loads, sub-images included, can be read pixel by pixel and searched for colours.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "framework/graphics/DXTextureImage.h"
#include "platform/rtl/Streams.h"

namespace {

// Keeps the reads from being optimised away.
volatile DWORD Sink = 0;

// Reads pixels spread over the image and its sub-images, and checks that the tree holds together.
void Walk(const TDXTextureImage& image, int depth) {
  if (depth > 64) std::abort();
  const int w = image.Width, h = image.Height;
  const int stepX = w / 32 + 1, stepY = h / 32 + 1;
  DWORD sum = 0;
  for (int y = 0; y < h; y += stepY)
    for (int x = 0; x < w; x += stepX) {
      const DWORD p = image.Pixels(x, y);
      sum += DecodeChannel(image.RedChannel, p) + DecodeChannel(image.IndexChannel, p);
    }
  sum += image.Pixels(w - 1, h - 1) + image.Pixels(-1, 0) + image.Pixels(w, h);
  sum += static_cast<DWORD>(image.FindColor(12, 34, 56));
  Sink = Sink + sum;
  for (int i = 0; i < image.SubImageCount(); ++i) {
    const TDXTextureImage* sub = image.SubImage(i);
    if (sub->Owner != &image) std::abort();
    Walk(*sub, depth + 1);
  }
  for (int kind = 0; kind < 2; ++kind)
    if (image.GroupCount(kind) > 0 && image.GroupImage(kind, image.GroupCount(kind) - 1) == nullptr)
      std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  if (size > 0) input.WriteBuffer(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  TDXTextureImage image;
  try {
    TDXTextureImage::LoadDXTStream(&input, &image);
  } catch (const EDXTextureImageError&) {
  } catch (const EReadError&) {
  }
  // Whatever was read before a failure stays readable.
  Walk(image, 0);
  return 0;
}
