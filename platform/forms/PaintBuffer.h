// Off-screen pictures for the widgets and the boxes that open inside a window: a control draws
// its whole face into a picture of its own size through an ordinary canvas, and the picture is
// copied into the form's client image where the control stands, cut to what of it shows. So a
// control never draws outside itself and needs no clipping of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/forms/Controls.h"
#include "platform/gdi/Canvas.h"

class TPaintBuffer {
 public:
  TPaintBuffer() = default;
  ~TPaintBuffer();
  TPaintBuffer(const TPaintBuffer&) = delete;
  TPaintBuffer& operator=(const TPaintBuffer&) = delete;

  // Sizes the picture and gives the canvas over it until End. The canvas keeps its font, pen
  // and brush from one drawing to the next; the pixels start black.
  TCanvas* Begin(int Width, int Height);
  void End();
  TCanvas* Canvas() { return &FCanvas; }

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  const std::uint32_t* Pixels() const { return FPixels.data(); }
  // Copies the picture into Image with its top-left corner at (X, Y), cut to the image.
  void CopyTo(TWindowImage& Image, int X, int Y) const;
  // Fills the picture from Image at (X, Y): what lies beneath a control that draws only part of
  // its area. Pixels outside the image are left as they are.
  void CopyFrom(const TWindowImage& Image, int X, int Y);

 private:
  std::vector<std::uint32_t> FPixels;
  int FWidth = 0;
  int FHeight = 0;
  HDC FDC = nullptr;
  TCanvas FCanvas;
};

// Where a control's top-left corner lies in its form's client area.
TPoint ControlOffsetInForm(const TControl* Control);

// The raised or sunken edge of a button, box or field: a light and a dark line on each side
// (two of each when Thick).
void DrawEdge3D(TCanvas* Canvas, const TRect& Rect, bool Raised, bool Thick = true);

// A caption with an "&" marking its access key: the "&" is left out and the key underlined
// ("&&" stands for one "&"). Returns the caption as shown.
std::string StripAccelerator(const std::string& Caption, int* KeyIndex = nullptr);
// The access key of a caption in upper case, or 0.
char AcceleratorKey(const std::string& Caption);
// Draws a caption centred in Rect (its "&" taken as the access key, underlined).
void DrawCaptionCentred(TCanvas* Canvas, const TRect& Rect, const std::string& Caption);
