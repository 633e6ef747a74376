// The canvas over device contexts of every pixel format: colour conversion, clipping, lines,
// text and blits between formats.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/gdi/Canvas.h"
#include "platform/gdi/FontSubstitutes.h"
#include "platform/gdi/Gdi.h"
#include "platform/rtl/SysUtils.h"

namespace {

// Pixel memory of one format with a canvas drawing straight into it.
struct Surface {
  Surface(int w, int h, int bits, DWORD r = 0, DWORD g = 0, DWORD b = 0) {
    const int pitch = ((w * bits + 31) / 32) * 4;
    Memory.assign(static_cast<std::size_t>(pitch) * h, 0);
    Buffer.Bits = Memory.data();
    Buffer.Pitch = pitch;
    Buffer.Width = w;
    Buffer.Height = h;
    Buffer.BitCount = bits;
    Buffer.RMask = r;
    Buffer.GMask = g;
    Buffer.BMask = b;
  }
  ~Surface() {
    Canvas.SetHandle(nullptr);
    if (DC) DeleteDC(DC);
  }
  TCanvas& Open() {
    DC = CreateSurfaceDC(Buffer);
    Canvas.SetHandle(DC);
    return Canvas;
  }
  DWORD At(int x, int y) const { return ReadPixel(Buffer, x, y); }
  int Count(DWORD pixel, const TRect& r) const {
    int n = 0;
    for (int y = r.Top; y < r.Bottom; ++y)
      for (int x = r.Left; x < r.Right; ++x) n += At(x, y) == pixel;
    return n;
  }
  std::vector<BYTE> Memory;
  TPixelBuffer Buffer;
  HDC DC = nullptr;
  TCanvas Canvas;
};

TPixelBuffer Format565() {
  TPixelBuffer f;
  f.BitCount = 16;
  f.RMask = 0xF800, f.GMask = 0x07E0, f.BMask = 0x001F;
  return f;
}

}  // namespace

TEST(PixelFormats, ColoursBecomePixelsByTruncation) {
  const TPixelBuffer f565 = Format565();
  EXPECT_EQ(ColorToPixel(clRed, f565), 0xF800u);
  EXPECT_EQ(ColorToPixel(clLime, f565), 0x07E0u);
  EXPECT_EQ(ColorToPixel(clBlue, f565), 0x001Fu);
  EXPECT_EQ(ColorToPixel(0x07070F, f565), 0x0820u);  // r 15 -> 1, g 7 -> 1, b 7 -> 0
  TPixelBuffer f555;
  f555.BitCount = 16;
  EXPECT_EQ(ColorToPixel(clRed, f555), 0x7C00u);
  TPixelBuffer f32;
  f32.BitCount = 32;
  EXPECT_EQ(ColorToPixel(0x123456, f32), 0x563412u);
  TPixelBuffer f24;
  f24.BitCount = 24;
  EXPECT_EQ(ColorToPixel(clRed, f24), 0xFF0000u);
  // System colours are resolved first.
  EXPECT_EQ(ColorToPixel(clBtnFace, f32), ColorToPixel(ColorToRGB(clBtnFace), f32));
}

TEST(PixelFormats, EveryDirectPixelSurvivesTheRoundTrip) {
  const TPixelBuffer f565 = Format565();
  TPixelBuffer f555;
  f555.BitCount = 16;
  for (DWORD p = 0; p < 0x10000; ++p) {
    ASSERT_EQ(ColorToPixel(PixelToColor(p, f565), f565), p);
    if (p < 0x8000) {
      ASSERT_EQ(ColorToPixel(PixelToColor(p, f555), f555), p);
    }
  }
  EXPECT_EQ(PixelToColor(0xFFFF, f565), clWhite);
}

TEST(PixelFormats, IndexedTargetsTakeTheNearestEntryFirstOnTies) {
  TPixelBuffer f8;
  f8.BitCount = 8;
  f8.ColorCount = 4;
  f8.ColorTable[0] = {0, 0, 0, 0};
  f8.ColorTable[1] = {0, 0, 200, 0};  // red 200
  f8.ColorTable[2] = {0, 0, 200, 0};  // the same colour again
  f8.ColorTable[3] = {255, 255, 255, 0};
  EXPECT_EQ(ColorToPixel(clRed, f8), 1u);
  EXPECT_EQ(ColorToPixel(0xF0F0F0, f8), 3u);
  EXPECT_EQ(ColorToPixel(0x101010, f8), 0u);
  // Indexes past the table read as black.
  EXPECT_EQ(PixelToColor(200, f8), clBlack);
}

TEST(CanvasDrawing, FillAndFrameStayInsideTheTarget) {
  Surface s(20, 10, 32);
  TCanvas& c = s.Open();
  c.Brush()->SetColor(clRed);
  c.FillRect({-100, -100, 5, 5});
  EXPECT_EQ(s.Count(0xFF0000, {0, 0, 20, 10}), 25);
  c.Brush()->SetColor(clBlue);
  c.FillRect({15, 5, 10, 8});  // corners the wrong way round fill nothing
  EXPECT_EQ(s.Count(0x0000FF, {0, 0, 20, 10}), 0);

  // A frame whose corners are given the wrong way round is drawn all the same, clipped at
  // the right and bottom edges.
  c.Brush()->SetColor(clLime);
  c.FrameRect({30, 20, 10, 5});
  for (int x = 10; x < 20; ++x) EXPECT_EQ(s.At(x, 5), 0x00FF00u) << x;
  for (int y = 5; y < 10; ++y) EXPECT_EQ(s.At(10, y), 0x00FF00u) << y;
  EXPECT_EQ(s.Count(0x00FF00, {11, 6, 20, 10}), 0);
}

TEST(CanvasDrawing, ClearBrushFillsNothing) {
  Surface s(8, 8, 32);
  TCanvas& c = s.Open();
  c.Brush()->SetStyle(bsClear);
  c.FillRect({0, 0, 8, 8});
  c.FrameRect({0, 0, 8, 8});
  EXPECT_EQ(s.Count(0, {0, 0, 8, 8}), 64);
  // Giving a clear brush a colour makes it solid again.
  c.Brush()->SetColor(clWhite);
  EXPECT_EQ(c.Brush()->Style(), bsSolid);
}

TEST(CanvasLines, ThinLinesLeaveOutTheEndPoint) {
  Surface s(10, 10, 8);
  TCanvas& c = s.Open();
  s.Buffer.ColorCount = 2;
  s.Buffer.ColorTable[1] = {255, 255, 255, 0};
  c.SetHandle(nullptr);
  DeleteDC(s.DC);
  s.DC = CreateSurfaceDC(s.Buffer);
  c.SetHandle(s.DC);
  c.Pen()->SetColor(clWhite);
  c.MoveTo(1, 1);
  c.LineTo(6, 1);
  for (int x = 1; x < 6; ++x) EXPECT_EQ(s.At(x, 1), 1u);
  EXPECT_EQ(s.At(6, 1), 0u);
  EXPECT_EQ(c.PenPos(), Point(6, 1));
  c.MoveTo(0, 9);
  c.LineTo(9, 0);  // diagonal: (0,9) .. (8,1)
  for (int k = 0; k < 9; ++k) EXPECT_EQ(s.At(k, 9 - k), 1u) << k;
  EXPECT_EQ(s.At(9, 0), 0u);
}

TEST(CanvasLines, WidePensAreCentredOnTheLine) {
  Surface s(40, 20, 32);
  TCanvas& c = s.Open();
  c.Pen()->SetWidth(3);
  c.Pen()->SetColor(clWhite);
  c.MoveTo(0, 10);
  c.LineTo(40, 10);
  for (int x = 0; x < 40; ++x) {
    EXPECT_EQ(s.At(x, 8), 0u);
    EXPECT_EQ(s.At(x, 9), 0xFFFFFFu);
    EXPECT_EQ(s.At(x, 10), 0xFFFFFFu);
    EXPECT_EQ(s.At(x, 11), 0xFFFFFFu);
    EXPECT_EQ(s.At(x, 12), 0u);
  }
  // Two pixels wide: the line's row and the one above.
  c.Pen()->SetWidth(2);
  c.Pen()->SetColor(clRed);
  c.MoveTo(5, 3);
  c.LineTo(5, 6);
  EXPECT_EQ(s.At(4, 4), 0xFF0000u);
  EXPECT_EQ(s.At(5, 4), 0xFF0000u);
  EXPECT_EQ(s.At(6, 4), 0u);
  EXPECT_EQ(s.At(3, 4), 0u);
  // Round ends reach past the end points by half the width.
  Surface t(30, 10, 32);
  TCanvas& d = t.Open();
  d.Pen()->SetWidth(3);
  d.Pen()->SetColor(clWhite);
  d.MoveTo(10, 5);
  d.LineTo(20, 5);
  EXPECT_EQ(t.At(9, 5), 0xFFFFFFu);
  EXPECT_EQ(t.At(21, 5), 0xFFFFFFu);
  EXPECT_EQ(t.At(8, 5), 0u);
  EXPECT_EQ(t.At(22, 5), 0u);
}

TEST(CanvasLines, WidePensAtTheEdgesKeepTheirInsideHalf) {
  // The status band's line sits on the last row but one; the lane's on the first row.
  Surface s(16, 8, 32);
  TCanvas& c = s.Open();
  c.Pen()->SetWidth(3);
  c.Pen()->SetColor(clWhite);
  c.MoveTo(0, 0);
  c.LineTo(16, 0);
  c.MoveTo(0, 7);
  c.LineTo(16, 7);
  EXPECT_EQ(s.Count(0xFFFFFF, {0, 0, 16, 2}), 32);
  EXPECT_EQ(s.Count(0xFFFFFF, {0, 6, 16, 8}), 32);
  EXPECT_EQ(s.Count(0xFFFFFF, {0, 2, 16, 6}), 0);
}

TEST(CanvasLines, LinesFarOutsideTheTargetAreClipped) {
  Surface s(16, 16, 16, 0xF800, 0x07E0, 0x001F);
  TCanvas& c = s.Open();
  c.Pen()->SetColor(clRed);
  c.MoveTo(-2000000000, 8);
  c.LineTo(2000000000, 8);
  EXPECT_EQ(s.Count(0xF800, {0, 8, 16, 9}), 16);
  c.Pen()->SetWidth(5);
  c.MoveTo(-2000000000, -2000000000);
  c.LineTo(2000000000, 2000000000);
  EXPECT_EQ(s.At(0, 0), 0xF800u);
  EXPECT_EQ(s.At(15, 15), 0xF800u);
  c.MoveTo(100, 100);
  c.LineTo(200, 300);
  EXPECT_EQ(s.Count(0, {0, 0, 16, 16}), 16 * 16 - s.Count(0xF800, {0, 0, 16, 16}));
}

TEST(CanvasRectangle, BrushInsidePenOutline) {
  Surface s(10, 10, 32);
  TCanvas& c = s.Open();
  c.Brush()->SetColor(clBlue);
  c.Pen()->SetColor(clRed);
  c.Rectangle(2, 2, 8, 8);
  EXPECT_EQ(s.At(2, 2), 0xFF0000u);
  EXPECT_EQ(s.At(7, 7), 0xFF0000u);
  EXPECT_EQ(s.At(4, 4), 0x0000FFu);
  EXPECT_EQ(s.At(8, 8), 0u);
}

TEST(CanvasText, TextLeavesInkInsideItsCell) {
  Surface s(300, 60, 32);
  TCanvas& c = s.Open();
  c.Brush()->SetStyle(bsClear);
  c.Font()->SetName("Myriad Apple");  // not installed: falls back to a real face
  c.Font()->SetStyle({fsBold});
  c.Font()->SetSize(20);
  c.Font()->SetColor(clWhite);
  const TSize cell = c.TextExtent("Morvane");
  EXPECT_GT(cell.cx, 60);
  EXPECT_GE(cell.cy, 26);  // 20 points are 27 pixels of em
  c.TextOut(10, 5, "Morvane");
  int ink = 0, outside = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 300; ++x) {
      if (s.At(x, y) == 0) continue;
      const bool in = x >= 10 && x < 10 + cell.cx && y >= 5 && y < 5 + cell.cy;
      (in ? ink : outside)++;
    }
  EXPECT_GT(ink, 200);
  EXPECT_EQ(outside, 0);
  // Anti-aliased: edges carry intermediate greys.
  EXPECT_GT(s.Count(0xFFFFFF, {0, 0, 300, 60}), 0);
  EXPECT_LT(s.Count(0xFFFFFF, {0, 0, 300, 60}), ink);
  EXPECT_EQ(c.PenPos(), Point(10 + cell.cx, 5));
}

TEST(CanvasText, OpaqueTextFillsItsCellWithTheBrush) {
  Surface s(200, 40, 32);
  TCanvas& c = s.Open();
  c.Brush()->SetColor(clBlue);
  c.Font()->SetColor(clYellow);
  c.Font()->SetSize(12);
  const TSize cell = c.TextExtent("Hit!");
  c.TextOut(3, 4, "Hit!");
  EXPECT_EQ(s.At(3, 4), 0x0000FFu);
  EXPECT_EQ(s.At(3 + cell.cx - 1, 4 + cell.cy - 1), 0x0000FFu);
  EXPECT_EQ(s.At(3 + cell.cx, 4), 0u);
  EXPECT_EQ(s.At(3, 4 + cell.cy), 0u);
  EXPECT_GT(s.Count(0xFFFF00, {3, 4, 3 + cell.cx, 4 + cell.cy}), 5);
}

TEST(CanvasText, JapaneseComesFromAJapaneseFace) {
  TFontSpec spec;
  spec.Name = "Myriad Apple";
  spec.Bold = true;
  spec.Height = -20;
  TTextEngine& engine = TTextEngine::Instance();
  const std::string latin = engine.FaceFileFor(spec, U'Q');
  const std::string kana = engine.FaceFileFor(spec, U'エ');
  EXPECT_NE(latin.find("Cabin"), std::string::npos) << latin;
  EXPECT_TRUE(kana.find("ipag") != std::string::npos || kana.find("gothic") != std::string::npos)
      << kana;
  EXPECT_GT(engine.Width(spec, "セーブしますか？"), 7 * 10);
}

// A named face that is not installed is drawn by its stand-in in the asked weight, whatever the
// case of the name; a face without one, or one that is installed, is left to fontconfig.
TEST(CanvasText, MissingFacesAreDrawnByTheirStandIns) {
  const struct {
    const char* name;
    bool bold;
    const char* file;
  } cases[] = {
      {"Myriad Apple", true, "Cabin-Bold."},
      {"myriad APPLE", true, "Cabin-Bold."},
      {"Myriad Apple", false, "Cabin-Regular."},
      {"MS Sans Serif", true, "DejaVuSans-Bold."},
      {"MS UI Gothic", false, "DejaVuSans."},
      {"DejaVu Sans", false, "DejaVuSans."},
      {"", true, "DejaVuSans-Bold."},
  };
  for (const auto& c : cases) {
    TFontSpec spec;
    spec.Name = c.name;
    spec.Bold = c.bold;
    spec.Height = -20;
    const std::string file = TTextEngine::Instance().FaceFileFor(spec, U'M');
    EXPECT_NE(file.find(c.file), std::string::npos)
        << c.name << (c.bold ? " bold: " : ": ") << file;
  }
  EXPECT_TRUE(FontSubstitutesFor("Cabin").empty());
  EXPECT_TRUE(FontSubstitutesFor("Myriad").empty());
}

TEST(CanvasText, TextFarOffTheTargetDrawsNothing) {
  Surface s(64, 32, 32);
  TCanvas& c = s.Open();
  c.Font()->SetSize(20);
  c.TextOut(5000, 0, "Producer");
  c.TextOut(-5000, 0, "Venholt");
  c.TextOut(2147483000, 2147483000, "Thanks for playing!!");
  EXPECT_EQ(s.Count(0, {0, 0, 64, 32}), 64 * 32);
}

TEST(CanvasText, MalformedUtf8IsDrawnAsReplacementCharacters) {
  EXPECT_EQ(DecodeUtf8("a\xE3\x82"), (std::u32string{U'a', 0xFFFD}));
  EXPECT_EQ(DecodeUtf8("\xC0\x80"), (std::u32string{0xFFFD}));             // overlong
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80x"), (std::u32string{0xFFFD, U'x'}));  // surrogate
  EXPECT_EQ(DecodeUtf8("エ"), (std::u32string{U'エ'}));
}

TEST(CanvasFont, SizesArePointsAtNinetySixPixelsPerInch) {
  TFont f;
  f.SetSize(10);
  EXPECT_EQ(f.Height(), -13);
  f.SetSize(80);
  EXPECT_EQ(f.Height(), -107);
  EXPECT_EQ(f.Size(), 80);
  f.SetHeight(-20);
  EXPECT_EQ(f.Size(), 15);
}

namespace {

// A canvas that makes its handle on demand, as a surface canvas does, recording the order in
// which it is asked for a handle and told of changes.
class OnDemandCanvas : public TCanvas {
 public:
  explicit OnDemandCanvas(Surface& s) : S(s) {}
  std::string Log;
  HDC Made = nullptr;
  void Release() {
    SetHandle(nullptr);
    if (Made) DeleteDC(Made);
    Made = nullptr;
  }
  ~OnDemandCanvas() override { Release(); }

 protected:
  void CreateHandle() override {
    Log += "handle;";
    Made = CreateSurfaceDC(S.Buffer);
    SetHandle(Made);
  }
  void Changing() override {
    Log += "changing;";
    TCanvas::Changing();
  }

 private:
  Surface& S;
};

}  // namespace

TEST(CanvasHandle, ChangingComesBeforeTheHandleAndToolsSurviveRelease) {
  Surface s(32, 32, 32);
  OnDemandCanvas c(s);
  c.Font()->SetName("Myriad Apple");
  c.Font()->SetStyle({fsBold});
  c.Brush()->SetColor(clRed);
  c.FillRect({0, 0, 4, 4});
  EXPECT_EQ(c.Log, "changing;handle;");
  c.Release();
  c.Log.clear();
  c.FillRect({0, 0, 4, 4});
  EXPECT_EQ(c.Log, "changing;handle;");
  EXPECT_EQ(c.Font()->Name(), "Myriad Apple");
  EXPECT_TRUE(c.Font()->Style().Contains(fsBold));
  EXPECT_EQ(c.Brush()->Color(), clRed);
}

TEST(CanvasHandle, DrawingWithoutAHandleRaises) {
  TCanvas c;
  try {
    c.FillRect({0, 0, 1, 1});
    FAIL();
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Canvas does not allow drawing");
  }
  // A handle deleted behind the canvas's back is not followed.
  Surface s(4, 4, 32);
  HDC dc = CreateSurfaceDC(s.Buffer);
  c.SetHandle(dc);
  DeleteDC(dc);
  EXPECT_THROW(c.Pixels(0, 0), EInvalidOperation);
}

TEST(CanvasPixels, ReadAndWriteColours) {
  Surface s(4, 4, 16, 0xF800, 0x07E0, 0x001F);
  TCanvas& c = s.Open();
  c.SetPixels(1, 2, clRed);
  EXPECT_EQ(s.At(1, 2), 0xF800u);
  EXPECT_EQ(c.Pixels(1, 2), clRed);
  EXPECT_EQ(c.Pixels(4, 0), static_cast<TColor>(CLR_INVALID));
  c.SetPixels(-1, 0, clRed);  // outside: nothing
  EXPECT_EQ(s.Count(0xF800, {0, 0, 4, 4}), 1);
}

TEST(CanvasCopyRect, CopiesBetweenFormatsWithCopyModes) {
  // An 8-bit source with two colours onto a 5-6-5 target.
  Surface src(4, 2, 8);
  src.Buffer.ColorCount = 2;
  src.Buffer.ColorTable[1] = {0, 0, 255, 0};  // red
  WritePixel(src.Buffer, 1, 0, 1);
  WritePixel(src.Buffer, 3, 1, 1);
  TCanvas& from = src.Open();
  Surface dst(8, 4, 16, 0xF800, 0x07E0, 0x001F);
  TCanvas& to = dst.Open();
  to.CopyRect({0, 0, 8, 4}, &from, {0, 0, 4, 2});  // stretched two times
  EXPECT_EQ(dst.At(2, 0), 0xF800u);
  EXPECT_EQ(dst.At(3, 1), 0xF800u);
  EXPECT_EQ(dst.At(6, 2), 0xF800u);
  EXPECT_EQ(dst.At(0, 0), 0u);
  EXPECT_EQ(dst.Count(0xF800, {0, 0, 8, 4}), 8);
  // Xor with the same picture clears it again.
  to.CopyMode = cmSrcInvert;
  to.CopyRect({0, 0, 8, 4}, &from, {0, 0, 4, 2});
  EXPECT_EQ(dst.Count(0, {0, 0, 8, 4}), 32);
  to.CopyMode = cmWhiteness;
  to.CopyRect({7, 3, 9, 5}, &from, {0, 0, 2, 2});
  EXPECT_EQ(dst.At(7, 3), 0xFFFFu);
  EXPECT_EQ(dst.Count(0xFFFF, {0, 0, 8, 4}), 1);
}

TEST(CanvasCopyRect, SpareBytesOfThirtyTwoBitPixelsAreNotCopied) {
  Surface src(3, 1, 32), dst(3, 1, 32);
  for (int x = 0; x < 3; ++x) WritePixel(src.Buffer, x, 0, 0xFF000000u | (0x010203u * (x + 1)));
  dst.Open().CopyRect({0, 0, 3, 1}, &src.Open(), {0, 0, 3, 1});
  for (int x = 0; x < 3; ++x) EXPECT_EQ(dst.At(x, 0), 0x010203u * (x + 1)) << x;
}

TEST(CanvasCopyRect, MirroredAndOverlappingCopies) {
  Surface s(4, 1, 32);
  for (int x = 0; x < 4; ++x) WritePixel(s.Buffer, x, 0, x + 1);
  TCanvas& c = s.Open();
  // Copying a canvas onto itself, shifted by one, reads the pixels as they were.
  c.CopyRect({1, 0, 4, 1}, &c, {0, 0, 3, 1});
  EXPECT_EQ(s.At(1, 0), 1u);
  EXPECT_EQ(s.At(2, 0), 2u);
  EXPECT_EQ(s.At(3, 0), 3u);
  // A source rectangle given right to left mirrors.
  c.CopyRect({0, 0, 4, 1}, &c, {4, 0, 0, 1});
  EXPECT_EQ(s.At(0, 0), 3u);
  EXPECT_EQ(s.At(3, 0), 1u);
}

TEST(GdiHandles, DeadAndSelectedObjectsAreRefused) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = 40;
  info.bmiHeader.biWidth = 3;
  info.bmiHeader.biHeight = 2;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  ASSERT_NE(bits, nullptr);
  EXPECT_EQ(static_cast<BYTE*>(bits)[0], 0);
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(nullptr);
  HGDIOBJ stock = SelectObject(a, bmp);
  EXPECT_NE(stock, nullptr);
  EXPECT_EQ(SelectObject(b, bmp), nullptr);  // already selected elsewhere
  EXPECT_EQ(DeleteObject(bmp), FALSE_);      // still selected
  SelectObject(a, stock);
  EXPECT_EQ(DeleteObject(bmp), TRUE_);
  EXPECT_EQ(DeleteObject(bmp), FALSE_);  // gone
  EXPECT_EQ(SelectObject(a, bmp), nullptr);
  EXPECT_EQ(DeleteObject(stock), TRUE_);  // stock objects stay
  EXPECT_TRUE(IsLiveObject(stock));
  EXPECT_EQ(DeleteDC(a), TRUE_);
  EXPECT_EQ(DeleteDC(a), FALSE_);
  DeleteDC(b);
}

TEST(GdiHandles, DIBSectionsLayOutTheirRowsBottomUp) {
  std::vector<BYTE> block(40 + 4 * 256, 0);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = 2;
  h.biHeight = 3;
  h.biBitCount = 8;
  std::memcpy(block.data(), &h, 40);
  RGBQUAD white{255, 255, 255, 0};
  std::memcpy(block.data() + 40 + 4 * 7, &white, 4);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(block.data()),
                                 DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  EXPECT_EQ(SetPixel(dc, 1, 0, RGB(255, 255, 255)), RGB(255, 255, 255));
  // The top row is the last one in memory; rows are 4 bytes.
  EXPECT_EQ(static_cast<BYTE*>(bits)[2 * 4 + 1], 7);
  RGBQUAD red{0, 0, 255, 0};
  EXPECT_EQ(SetDIBColorTable(dc, 7, 1, &red), 1u);
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(255, 0, 0));
  DIBSECTION ds{};
  EXPECT_EQ(GetObject(bmp, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBmih.biBitCount, 8);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
}
