#include "platform/forms/PaintBuffer.h"

#include <algorithm>

#include "platform/forms/Forms.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/PixelBuffer.h"

TPaintBuffer::~TPaintBuffer() { End(); }

TCanvas* TPaintBuffer::Begin(int Width, int Height) {
  End();
  FWidth = std::max(Width, 0);
  FHeight = std::max(Height, 0);
  FPixels.assign(static_cast<std::size_t>(FWidth) * FHeight, 0);
  // A 1 x 1 picture for an empty control, so drawing has somewhere harmless to go.
  if (FPixels.empty()) FPixels.assign(1, 0);
  TPixelBuffer target;
  target.Bits = reinterpret_cast<BYTE*>(FPixels.data());
  target.Width = std::max(FWidth, 1);
  target.Height = std::max(FHeight, 1);
  target.Pitch = target.Width * 4;
  target.BitCount = 32;
  FDC = CreateSurfaceDC(target);
  FCanvas.SetHandle(FDC);
  return &FCanvas;
}

void TPaintBuffer::End() {
  if (FDC == nullptr) return;
  FCanvas.SetHandle(nullptr);
  DeleteDC(FDC);
  FDC = nullptr;
}

void TPaintBuffer::CopyTo(TWindowImage& Image, int X, int Y) const {
  const int left = std::max(X, 0), top = std::max(Y, 0);
  const int right = std::min<long long>(static_cast<long long>(X) + FWidth, Image.Width);
  const int bottom = std::min<long long>(static_cast<long long>(Y) + FHeight, Image.Height);
  for (int y = top; y < bottom; ++y) {
    const std::uint32_t* src = FPixels.data() + static_cast<std::size_t>(y - Y) * FWidth;
    std::copy(src + (left - X), src + (right - X), Image.Row(y) + left);
  }
}

void TPaintBuffer::CopyFrom(const TWindowImage& Image, int X, int Y) {
  const int left = std::max(X, 0), top = std::max(Y, 0);
  const int right = std::min<long long>(static_cast<long long>(X) + FWidth, Image.Width);
  const int bottom = std::min<long long>(static_cast<long long>(Y) + FHeight, Image.Height);
  for (int y = top; y < bottom; ++y) {
    const std::uint32_t* src = Image.Pixels.data() + static_cast<std::size_t>(y) * Image.Width;
    std::copy(src + left, src + right,
              FPixels.data() + static_cast<std::size_t>(y - Y) * FWidth + (left - X));
  }
}

TPoint ControlOffsetInForm(const TControl* Control) {
  TPoint p{0, 0};
  while (Control != nullptr && Control->Parent() != nullptr) {
    p.X += Control->Left();
    p.Y += Control->Top();
    Control = Control->Parent();
  }
  return p;
}

void DrawEdge3D(TCanvas* Canvas, const TRect& R, bool Raised, bool Thick) {
  if (R.Right - R.Left < 2 || R.Bottom - R.Top < 2) return;
  const TColor outerLight = Raised ? clBtnHighlight : clBtnShadow;
  const TColor outerDark = Raised ? cl3DDkShadow : clBtnHighlight;
  const TColor innerLight = Raised ? clBtnFace : cl3DDkShadow;
  const TColor innerDark = Raised ? clBtnShadow : clBtnFace;
  auto frame = [Canvas](const TRect& r, TColor light, TColor dark) {
    TBrush* b = Canvas->Brush();
    b->SetStyle(bsSolid);
    b->SetColor(light);
    Canvas->FillRect({r.Left, r.Top, r.Right - 1, r.Top + 1});
    Canvas->FillRect({r.Left, r.Top, r.Left + 1, r.Bottom - 1});
    b->SetColor(dark);
    Canvas->FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom});
    Canvas->FillRect({r.Right - 1, r.Top, r.Right, r.Bottom});
  };
  frame(R, outerLight, outerDark);
  if (Thick && R.Right - R.Left >= 4 && R.Bottom - R.Top >= 4)
    frame({R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1}, innerLight, innerDark);
}

std::string StripAccelerator(const std::string& Caption, int* KeyIndex) {
  std::string shown;
  if (KeyIndex != nullptr) *KeyIndex = -1;
  for (std::size_t i = 0; i < Caption.size(); ++i) {
    if (Caption[i] == '&' && i + 1 < Caption.size()) {
      ++i;
      if (Caption[i] != '&' && KeyIndex != nullptr && *KeyIndex < 0)
        *KeyIndex = static_cast<int>(shown.size());
    }
    shown += Caption[i];
  }
  return shown;
}

char AcceleratorKey(const std::string& Caption) {
  int at = -1;
  const std::string shown = StripAccelerator(Caption, &at);
  if (at < 0) return 0;
  const char c = shown[static_cast<std::size_t>(at)];
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

void DrawCaptionCentred(TCanvas* Canvas, const TRect& R, const std::string& Caption) {
  int key = -1;
  const std::string shown = StripAccelerator(Caption, &key);
  const TSize size = Canvas->TextExtent(shown);
  const int x = R.Left + (R.Right - R.Left - size.cx) / 2;
  const int y = R.Top + (R.Bottom - R.Top - size.cy) / 2;
  Canvas->Brush()->SetStyle(bsClear);
  Canvas->TextOut(x, y, shown);
  if (key >= 0 && static_cast<std::size_t>(key) < shown.size()) {
    const int ux = x + Canvas->TextWidth(shown.substr(0, static_cast<std::size_t>(key)));
    const int uw = Canvas->TextWidth(shown.substr(static_cast<std::size_t>(key), 1));
    Canvas->Brush()->SetStyle(bsSolid);
    Canvas->Brush()->SetColor(Canvas->Font()->Color());
    Canvas->FillRect({ux, y + size.cy - 2, ux + uw, y + size.cy - 1});
  }
  Canvas->Brush()->SetStyle(bsSolid);
}
