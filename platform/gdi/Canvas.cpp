#include "platform/gdi/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "platform/gdi/Graphics.h"
#include "platform/rtl/SysUtils.h"

namespace {

// k * d / steps rounded to the nearest integer, halves up; in 128 bits, since lines may run
// across the whole 32-bit coordinate range.
std::int64_t Step(std::int64_t k, std::int64_t d, std::int64_t steps) {
  const __int128 a = static_cast<__int128>(2) * k * d + steps;
  const __int128 b = static_cast<__int128>(2) * steps;
  __int128 q = a / b;
  if (a % b != 0 && a < 0) --q;
  return static_cast<std::int64_t>(q);
}

bool Inside(const TRect& r, std::int64_t x, std::int64_t y) {
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

// One-pixel line from (x0, y0) towards (x1, y1), the end point left out; only the steps that
// can reach `clip` are visited, so lines far longer than the target cost nothing extra.
void ThinLine(const TPixelBuffer& t, const TRect& clip, std::int64_t x0, std::int64_t y0,
              std::int64_t x1, std::int64_t y1, DWORD pixel) {
  const std::int64_t dx = x1 - x0, dy = y1 - y0;
  const std::int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
  if (steps == 0 || RectIsEmpty(clip)) return;
  // Parameter range of the segment inside the clip box grown by a pixel on each side.
  double t0 = 0.0, t1 = 1.0;
  auto limit = [&](double p, double q) {
    if (p == 0.0) return q >= 0.0;
    const double r = q / p;
    if (p < 0.0)
      t0 = std::max(t0, r);
    else
      t1 = std::min(t1, r);
    return t0 <= t1;
  };
  const double fx = static_cast<double>(x0), fy = static_cast<double>(y0);
  if (!limit(-static_cast<double>(dx), fx - (clip.Left - 1.0)) ||
      !limit(static_cast<double>(dx), clip.Right - fx) ||
      !limit(-static_cast<double>(dy), fy - (clip.Top - 1.0)) ||
      !limit(static_cast<double>(dy), clip.Bottom - fy))
    return;
  const std::int64_t kFrom =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(t0 * steps)) - 2);
  const std::int64_t kTo =
      std::min<std::int64_t>(steps - 1, static_cast<std::int64_t>(std::ceil(t1 * steps)) + 2);
  for (std::int64_t k = kFrom; k <= kTo; ++k) {
    const std::int64_t x = x0 + Step(k, dx, steps);
    const std::int64_t y = y0 + Step(k, dy, steps);
    if (Inside(clip, x, y)) WritePixel(t, static_cast<int>(x), static_cast<int>(y), pixel);
  }
}

// A pen `width` pixels wide centred on the segment, with round ends: every pixel whose sample
// point lies closer than width / 2 to the segment. Odd widths sample at the pixel, even widths
// half a pixel down and right, so a width-3 line on row y covers rows y-1..y+1 and a width-2 line
// rows y-1..y.
void WideLine(const TPixelBuffer& t, const TRect& clip, double x0, double y0, double x1, double y1,
              int width, DWORD pixel) {
  const double r = width / 2.0;
  const double offset = (width % 2 == 0) ? 0.5 : 0.0;
  auto clampCoord = [](double v) {
    return static_cast<std::int32_t>(std::clamp(v, -2147483647.0, 2147483647.0));
  };
  TRect box{clampCoord(std::floor(std::min(x0, x1) - r - 1)),
            clampCoord(std::floor(std::min(y0, y1) - r - 1)),
            clampCoord(std::ceil(std::max(x0, x1) + r + 2)),
            clampCoord(std::ceil(std::max(y0, y1) + r + 2))};
  box = IntersectRects(box, clip);
  if (RectIsEmpty(box)) return;
  const double dx = x1 - x0, dy = y1 - y0;
  const double len2 = dx * dx + dy * dy;
  const double r2 = r * r;
  for (int y = box.Top; y < box.Bottom; ++y) {
    for (int x = box.Left; x < box.Right; ++x) {
      const double px = x + offset - x0, py = y + offset - y0;
      double u = len2 > 0 ? (px * dx + py * dy) / len2 : 0.0;
      u = std::clamp(u, 0.0, 1.0);
      const double ex = px - u * dx, ey = py - u * dy;
      if (ex * ex + ey * ey < r2) WritePixel(t, x, y, pixel);
    }
  }
}

}  // namespace

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  const bool negative = (p < 0) != (c < 0);
  const std::int64_t ap = std::llabs(p), ac = std::llabs(static_cast<std::int64_t>(c));
  std::int64_t q = (ap + ac / 2) / ac;
  if (negative) q = -q;
  return static_cast<int>(std::clamp<std::int64_t>(q, INT32_MIN, INT32_MAX));
}

void TGraphicsObject::Changed() {
  if (OnChange) OnChange(this);
}

TFont::TFont() = default;

void TFont::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TFont*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  FName = source->FName;
  FHeight = source->FHeight;
  FStyle = source->FStyle;
  FColor = source->FColor;
  Changed();
}

void TFont::SetName(const std::string& name) {
  if (name.empty() || name == FName) return;
  FName = name;
  Changed();
}

int TFont::Size() const { return -MulDiv(FHeight, 72, kScreenPixelsPerInch); }

void TFont::SetSize(int points) { SetHeight(-MulDiv(points, kScreenPixelsPerInch, 72)); }

void TFont::SetHeight(int height) {
  if (height == FHeight) return;
  FHeight = height;
  Changed();
}

void TFont::SetStyle(TFontStyles style) {
  if (style == FStyle) return;
  FStyle = style;
  Changed();
}

void TFont::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  Changed();
}

TFontSpec TFont::Spec() const {
  TFontSpec s;
  s.Name = FName;
  s.Height = FHeight;
  s.Bold = FStyle.Contains(fsBold);
  s.Italic = FStyle.Contains(fsItalic);
  s.Underline = FStyle.Contains(fsUnderline);
  s.StrikeOut = FStyle.Contains(fsStrikeOut);
  return s;
}

void TPen::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TPen*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  FColor = source->FColor;
  FWidth = source->FWidth;
  FStyle = source->FStyle;
  Changed();
}

void TPen::SetColor(TColor color) {
  if (color == FColor) return;
  FColor = color;
  Changed();
}

void TPen::SetWidth(int width) {
  if (width < 0) width = 0;
  if (width == FWidth) return;
  FWidth = width;
  Changed();
}

void TPen::SetStyle(TPenStyle style) {
  if (style == FStyle) return;
  FStyle = style;
  Changed();
}

void TBrush::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TBrush*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  FColor = source->FColor;
  FStyle = source->FStyle;
  Changed();
}

void TBrush::SetColor(TColor color) {
  if (color == FColor && FStyle != bsClear) return;
  FColor = color;
  // Giving a clear brush a colour makes it solid again, as the class library does.
  if (FStyle == bsClear) FStyle = bsSolid;
  Changed();
}

void TBrush::SetStyle(TBrushStyle style) {
  if (style == FStyle) return;
  FStyle = style;
  Changed();
}

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

HDC TCanvas::Handle() {
  if (FHandle && !IsLiveDC(FHandle)) FHandle = nullptr;
  if (!FHandle) CreateHandle();
  if (!FHandle) throw EInvalidOperation("Canvas does not allow drawing");
  return FHandle;
}

void TCanvas::SetHandle(HDC handle) { FHandle = handle; }

TRect TCanvas::ClipRect() { return Handle()->ClipRect(); }

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  Changing();
  HDC dc = Handle();
  const TFontSpec spec = FFont.Spec();
  TTextEngine& engine = TTextEngine::Instance();
  const int width = engine.Width(spec, text);
  if (const TPixelBuffer* t = dc->Target()) {
    const TRect clip = dc->ClipRect();
    if (FBrush.Style() != bsClear) {
      const int height = engine.Metrics(spec).Height();
      const std::int64_t right = std::int64_t{x} + width, bottom = std::int64_t{y} + height;
      FillPixels(*t, clip,
                 {x, y, static_cast<int>(std::min<std::int64_t>(right, INT32_MAX)),
                  static_cast<int>(std::min<std::int64_t>(bottom, INT32_MAX))},
                 ColorToPixel(FBrush.Color(), *t));
    }
    engine.Draw(*t, clip, x, y, spec, text, FFont.Color());
  }
  FPenPos = {static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + width, INT32_MAX)), y};
  Changed();
}

TSize TCanvas::TextExtent(const std::string& text) {
  const TFontSpec spec = FFont.Spec();
  TTextEngine& engine = TTextEngine::Instance();
  return {engine.Width(spec, text), engine.Metrics(spec).Height()};
}

int TCanvas::TextWidth(const std::string& text) { return TextExtent(text).cx; }
int TCanvas::TextHeight(const std::string& text) { return TextExtent(text).cy; }

void TCanvas::FillRect(const TRect& rect) {
  Changing();
  HDC dc = Handle();
  if (const TPixelBuffer* t = dc->Target(); t && FBrush.Style() != bsClear)
    FillPixels(*t, dc->ClipRect(), rect, ColorToPixel(FBrush.Color(), *t));
  Changed();
}

void TCanvas::FrameRect(const TRect& rect) {
  Changing();
  HDC dc = Handle();
  const TPixelBuffer* t = dc->Target();
  TRect r{std::min(rect.Left, rect.Right), std::min(rect.Top, rect.Bottom),
          std::max(rect.Left, rect.Right), std::max(rect.Top, rect.Bottom)};
  if (t && FBrush.Style() != bsClear && !RectIsEmpty(r)) {
    const TRect clip = dc->ClipRect();
    const DWORD pixel = ColorToPixel(FBrush.Color(), *t);
    FillPixels(*t, clip, {r.Left, r.Top, r.Right, r.Top + 1}, pixel);
    FillPixels(*t, clip, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, pixel);
    FillPixels(*t, clip, {r.Left, r.Top, r.Left + 1, r.Bottom}, pixel);
    FillPixels(*t, clip, {r.Right - 1, r.Top, r.Right, r.Bottom}, pixel);
  }
  Changed();
}

void TCanvas::MoveTo(int x, int y) {
  Handle();
  FPenPos = {x, y};
}

void TCanvas::DrawLine(int x0, int y0, int x1, int y1) {
  HDC dc = Handle();
  const TPixelBuffer* t = dc->Target();
  if (!t || FPen.Style() == psClear) return;
  const DWORD pixel = ColorToPixel(FPen.Color(), *t);
  if (FPen.Width() <= 1)
    ThinLine(*t, dc->ClipRect(), x0, y0, x1, y1, pixel);
  else
    WideLine(*t, dc->ClipRect(), x0, y0, x1, y1, FPen.Width(), pixel);
}

void TCanvas::LineTo(int x, int y) {
  Changing();
  DrawLine(FPenPos.X, FPenPos.Y, x, y);
  FPenPos = {x, y};
  Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Changing();
  HDC dc = Handle();
  if (const TPixelBuffer* t = dc->Target()) {
    const TRect clip = dc->ClipRect();
    const TRect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    if (FBrush.Style() != bsClear) FillPixels(*t, clip, r, ColorToPixel(FBrush.Color(), *t));
    if (FPen.Style() != psClear && !RectIsEmpty(r)) {
      if (FPen.Width() <= 1) {
        const DWORD pixel = ColorToPixel(FPen.Color(), *t);
        FillPixels(*t, clip, {r.Left, r.Top, r.Right, r.Top + 1}, pixel);
        FillPixels(*t, clip, {r.Left, r.Bottom - 1, r.Right, r.Bottom}, pixel);
        FillPixels(*t, clip, {r.Left, r.Top, r.Left + 1, r.Bottom}, pixel);
        FillPixels(*t, clip, {r.Right - 1, r.Top, r.Right, r.Bottom}, pixel);
      } else {
        const int l = r.Left, tp = r.Top, rt = r.Right - 1, b = r.Bottom - 1;
        DrawLine(l, tp, rt, tp);
        DrawLine(rt, tp, rt, b);
        DrawLine(rt, b, l, b);
        DrawLine(l, b, l, tp);
      }
    }
  }
  Changed();
}

void TCanvas::Draw(int x, int y, TGraphic* graphic) {
  if (!graphic || graphic->Empty()) return;
  Changing();
  Handle();
  graphic->Draw(this, Bounds(x, y, graphic->Width(), graphic->Height()));
  Changed();
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic* graphic) {
  if (!graphic) return;
  Changing();
  Handle();
  graphic->Draw(this, rect);
  Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas* canvas, const TRect& source) {
  if (!canvas) return;
  Changing();
  HDC dc = Handle();
  HDC src = canvas->Handle();
  StretchBlt(dc, dest.Left, dest.Top, dest.Width(), dest.Height(), src, source.Left, source.Top,
             source.Width(), source.Height(), CopyMode);
  Changed();
}

TColor TCanvas::Pixels(int x, int y) { return static_cast<TColor>(GetPixel(Handle(), x, y)); }

void TCanvas::SetPixels(int x, int y, TColor color) {
  Changing();
  SetPixel(Handle(), x, y, static_cast<COLORREF>(ColorToRGB(color)));
  Changed();
}
