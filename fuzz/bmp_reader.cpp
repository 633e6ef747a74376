// Any bytes given to the BMP reader load or fail with the reader's own errors. What loads can be
// read pixel by pixel (decoding run-length data), copied on write, drawn, and written back to a
// file that reads again to the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "framework/graphics/DIB.h"
#include "platform/rtl/Streams.h"

namespace {

// Pixels spread over the whole picture, at most a few thousand of them.
std::vector<DWORD> Sample(TDIB& dib) {
  std::vector<DWORD> out;
  const int w = dib.Width(), h = dib.Height();
  const int stepX = w / 64 + 1, stepY = h / 64 + 1;
  for (int y = 0; y < h; y += stepY)
    for (int x = 0; x < w; x += stepX) out.push_back(dib.Pixels(x, y));
  out.push_back(dib.Pixels(w - 1, h - 1));
  out.push_back(dib.Pixels(-1, 0));
  out.push_back(dib.Pixels(w, h));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input;
  if (size > 0) input.WriteBuffer(data, static_cast<std::int64_t>(size));
  input.SetPosition(0);
  TDIB dib;
  try {
    dib.LoadFromStream(&input);
  } catch (const Exception&) {
    return 0;
  }
  if (dib.Empty()) return 0;

  // Written and read again, the picture keeps its pixels (compressed bodies stay compressed).
  TMemoryStream file;
  dib.SaveToStream(&file);
  file.SetPosition(0);
  TDIB again;
  again.LoadFromStream(&file);
  const std::vector<DWORD> before = Sample(dib);
  if (Sample(again) != before) std::abort();

  // Pictures of up to a few megabytes (run-length data may stand for far more) are copied and
  // drawn too.
  const std::int64_t pixelBytes = static_cast<std::int64_t>(dib.WidthBytes()) * dib.Height();
  if (pixelBytes > (4 << 20)) return 0;

  // A copy that is written to leaves the original alone.
  TDIB copy;
  copy.Assign(&dib);
  copy.SetPixels(0, 0, ~dib.Pixels(0, 0));
  if (Sample(dib) != before) std::abort();

  // Small pictures are drawn through the canvas, stretched, onto one of another depth.
  if (static_cast<std::int64_t>(dib.Width()) * dib.Height() <= 1 << 16) {
    TDIB target;
    target.SetSize(48, 32, dib.BitCount() == 24 ? 8 : 24);
    target.Canvas()->StretchDraw({-3, -2, 50, 29}, &dib);
    dib.Canvas()->Brush()->SetColor(0x123456);
    dib.Canvas()->FillRect({0, 0, 2, 2});
  }
  return 0;
}
