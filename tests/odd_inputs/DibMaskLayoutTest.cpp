// Bit-field bitmaps whose colour masks lie in another order than red above green above blue:
// each channel is taken from where its mask puts it, so the picture shows the colours the file
// means; layouts the image already keeps read to the very same bytes as ever; masks that
// overlap, have gaps or reach past the pixel describe no layout and are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "framework/graphics/DIB.h"
#include "platform/gdi/PixelBuffer.h"
#include "platform/rtl/Streams.h"
#include "support/Bytes.h"
#include "support/DibFiles.h"

namespace {

// A bit-field body of width x rows pixels (given top row first) of `bits` bits each.
Bytes Body(int bits, DWORD r, DWORD g, DWORD b, int width,
           const std::vector<std::vector<DWORD>>& topDown, bool storedTopDown = false) {
  const int rows = static_cast<int>(topDown.size());
  Bytes body;
  body.Info(width, storedTopDown ? -rows : rows, static_cast<unsigned>(bits), 3)
      .U32(r)
      .U32(g)
      .U32(b);
  const int rowBytes = ((width * bits + 31) / 32) * 4;
  for (int k = 0; k < rows; ++k) {
    const auto& row = topDown[storedTopDown ? k : rows - 1 - k];
    for (DWORD v : row)
      for (int i = 0; i < bits / 8; ++i) body.U8(v >> (8 * i));
    body.Zeros(static_cast<std::size_t>(rowBytes - width * bits / 8));
  }
  return body;
}

// What the picture shows: drawn through a canvas onto 8-8-8 pixels.
DWORD Shown(TDIB& dib, int x, int y) {
  std::vector<BYTE> memory(static_cast<std::size_t>(4 * dib.Width() * dib.Height()), 0);
  TPixelBuffer target;
  target.Bits = memory.data();
  target.Pitch = 4 * dib.Width();
  target.Width = dib.Width();
  target.Height = dib.Height();
  target.BitCount = 32;
  target.RMask = 0xFF0000, target.GMask = 0xFF00, target.BMask = 0xFF;
  HDC dc = CreateSurfaceDC(target);
  TCanvas canvas;
  canvas.SetHandle(dc);
  canvas.Draw(0, 0, &dib);
  canvas.SetHandle(nullptr);
  DeleteDC(dc);
  return ReadPixel(target, x, y) & 0xFFFFFF;
}

// A 24-bit pixel reads its three bytes first to last.
DWORD Swapped24(DWORD v) { return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF); }

constexpr DWORD kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

TEST(DibMaskLayout, SixteenBitBlueGreenRedShowsItsOwnColours) {
  for (bool topDown : {false, true}) {
    // 5-6-5 with blue highest: red, green, blue and white, over two rows.
    auto dib = ReadDibBody(
        Body(16, 0x001F, 0x07E0, 0xF800, 2, {{0x001F, 0x07E0}, {0xF800, 0xFFFF}}, topDown));
    EXPECT_EQ(dib->NowPixelFormat(), MakeDIBPixelFormat(5, 6, 5));
    // Held as the image keeps 5-6-5: red highest.
    EXPECT_EQ(dib->Pixels(0, 0), 0xF800u);
    EXPECT_EQ(dib->Pixels(1, 0), 0x07E0u);
    EXPECT_EQ(dib->Pixels(0, 1), 0x001Fu);
    EXPECT_EQ(dib->Pixels(1, 1), 0xFFFFu);
    EXPECT_EQ(Shown(*dib, 0, 0), kRed);
    EXPECT_EQ(Shown(*dib, 1, 0), kGreen);
    EXPECT_EQ(Shown(*dib, 0, 1), kBlue);
    EXPECT_EQ(Shown(*dib, 1, 1), 0xFFFFFFu);
  }

  // 5-5-5 with blue highest, the spare top bit set: it is no colour and is dropped.
  auto dib = ReadDibBody(Body(16, 0x001F, 0x03E0, 0x7C00, 3, {{0x801F, 0x03E0, 0x7C00}}));
  EXPECT_EQ(dib->NowPixelFormat(), MakeDIBPixelFormat(5, 5, 5));
  EXPECT_EQ(dib->Pixels(0, 0), 0x7C00u);
  EXPECT_EQ(dib->Pixels(1, 0), 0x03E0u);
  EXPECT_EQ(dib->Pixels(2, 0), 0x001Fu);
  EXPECT_EQ(Shown(*dib, 0, 0), kRed);
  EXPECT_EQ(Shown(*dib, 2, 0), kBlue);

  // 5-6-5 laid out green highest, then red, then blue: every channel from its own place.
  auto mixed = ReadDibBody(Body(16, 0x03E0, 0xFC00, 0x001F, 1, {{(21u << 5) | (42u << 10) | 9u}}));
  EXPECT_EQ(mixed->Pixels(0, 0), (21u << 11) | (42u << 5) | 9u);
}

TEST(DibMaskLayout, ThirtyTwoAndTwentyFourBitShiftedMasks) {
  // Red in the top byte, then green, then blue; the lowest byte is no colour.
  auto dib = ReadDibBody(Body(32, 0xFF000000, 0xFF0000, 0xFF00, 2, {{0xFF000000, 0x112233AA}}));
  EXPECT_EQ(dib->NowPixelFormat(), MakeDIBPixelFormat(8, 8, 8));
  EXPECT_EQ(dib->Pixels(0, 0), 0xFF0000u);
  EXPECT_EQ(dib->Pixels(1, 0), 0x112233u);
  EXPECT_EQ(Shown(*dib, 0, 0), kRed);
  EXPECT_EQ(Shown(*dib, 1, 0), 0x112233u);

  // Blue-green-red in the low three bytes.
  auto bgr = ReadDibBody(Body(32, 0xFF, 0xFF00, 0xFF0000, 1, {{0x00332211}}));
  EXPECT_EQ(bgr->Pixels(0, 0), 0x112233u);

  // Masks on a 24-bit file are honoured the same way (its pixels read blue-green-red).
  auto wide = ReadDibBody(Body(24, 0xFF, 0xFF00, 0xFF0000, 1, {{0x0000FF}}));
  EXPECT_EQ(wide->Pixels(0, 0), Swapped24(0xFF0000));
  EXPECT_EQ(Shown(*wide, 0, 0), kRed);
}

TEST(DibMaskLayout, LayoutsTheImageKeepsReadToTheSameBytes) {
  struct Case {
    int Bits;
    DWORD R, G, B;
  } cases[] = {{16, 0xF800, 0x07E0, 0x001F},
               {16, 0x7C00, 0x03E0, 0x001F},
               {32, 0xFF0000, 0xFF00, 0xFF},
               {24, 0xFF0000, 0xFF00, 0xFF}};
  for (const Case& c : cases) {
    // Every value a pixel can hold in its low bits, spare bits included.
    std::vector<DWORD> row;
    for (DWORD v = 0; v < 64; ++v) row.push_back((v * 0x9E3779B9u) >> (32 - c.Bits));
    const Bytes body = Body(c.Bits, c.R, c.G, c.B, 64, {row});
    auto dib = ReadDibBody(body);
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(dib->Pixels(x, 0), c.Bits == 24 ? Swapped24(row[x]) : row[x])
          << c.Bits << " bits, " << x;
    // Written back: the very pixel bytes that were read.
    TMemoryStream out;
    dib->SaveToStream(&out);
    const Bytes file = Bytes::File(body);
    const auto* saved = static_cast<const BYTE*>(out.Memory());
    EXPECT_TRUE(std::equal(file.Data.end() - 64 * c.Bits / 8, file.Data.end(),
                           saved + out.Size() - 64 * c.Bits / 8))
        << c.Bits << " bits";
  }
}

TEST(DibMaskLayout, MasksThatDescribeNoLayoutAreRefused) {
  const std::string invalid = "EInvalidGraphic: DIB is invalid";
  const std::vector<std::vector<DWORD>> pixel = {{0x1234}};
  // Overlapping.
  EXPECT_EQ(DibErrorOf(Body(16, 0xF800, 0x0FE0, 0x001F, 1, pixel)), invalid);
  EXPECT_EQ(DibErrorOf(Body(32, 0xFF0000, 0xFF0000, 0xFF, 1, pixel)), invalid);
  // With a gap.
  EXPECT_EQ(DibErrorOf(Body(16, 0xF400, 0x03E0, 0x001F, 1, pixel)), invalid);
  EXPECT_EQ(DibErrorOf(Body(32, 0xFF0000, 0xF0F0, 0xFF, 1, pixel)), invalid);
  // Past the pixel's 16 bits.
  EXPECT_EQ(DibErrorOf(Body(16, 0x1F0000, 0x07E0, 0x001F, 1, pixel)), invalid);
  // Proper masks of widths no image keeps are still a pixel format it cannot hold.
  EXPECT_EQ(DibErrorOf(Body(16, 0x0F00, 0x00F0, 0x000F, 1, pixel)),
            "EInvalidGraphicOperation: PixelFormat in invalid");
  EXPECT_EQ(DibErrorOf(Body(16, 0, 0x07E0, 0x001F, 1, pixel)),
            "EInvalidGraphicOperation: PixelFormat in invalid");
}

}  // namespace
