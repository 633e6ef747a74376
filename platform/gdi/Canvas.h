// The class library's canvas: a drawing surface over a device context, with the font, brush
// and pen it draws with. The tools belong to the canvas, not to the device context, so they
// outlive any number of handles: a surface canvas gives its DC back after every run of drawing
// and keeps its font.
//
// Every drawing call fires OnChanging before it asks for the handle, so an owner that shares its
// pixels (a bitmap copied on write) can make its own copy first, and OnChange afterwards.
#pragma once

#include <functional>
#include <string>

#include "platform/gdi/Colors.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Sets.h"

class TGraphic;

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TBrushStyle {
  bsSolid,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross
};

using TCopyMode = DWORD;
constexpr TCopyMode cmBlackness = BLACKNESS, cmDstInvert = DSTINVERT, cmMergePaint = MERGEPAINT,
                    cmNotSrcCopy = NOTSRCCOPY, cmNotSrcErase = NOTSRCERASE, cmSrcAnd = SRCAND,
                    cmSrcCopy = SRCCOPY, cmSrcErase = SRCERASE, cmSrcInvert = SRCINVERT,
                    cmSrcPaint = SRCPAINT, cmWhiteness = WHITENESS;

// Screen resolution the point sizes of fonts are taken at.
constexpr int kScreenPixelsPerInch = 96;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c);

class TGraphicsObject : public TPersistent {
 public:
  TNotifyEvent OnChange;

 protected:
  void Changed();
};

class TFont : public TGraphicsObject {
 public:
  TFont();
  void Assign(TPersistent* Source) override;

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name);
  // Points at 96 pixels per inch; setting it sets Height to the negative em height in pixels.
  int Size() const;
  void SetSize(int points);
  int Height() const { return FHeight; }
  void SetHeight(int height);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles style);
  TColor Color() const { return FColor; }
  void SetColor(TColor color);

  TFontSpec Spec() const;

 private:
  std::string FName = "MS Sans Serif";
  int FHeight = -11;  // 8 points
  TFontStyles FStyle;
  TColor FColor = clWindowText;
};

class TPen : public TGraphicsObject {
 public:
  void Assign(TPersistent* Source) override;
  TColor Color() const { return FColor; }
  void SetColor(TColor color);
  int Width() const { return FWidth; }
  void SetWidth(int width);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle style);

 private:
  TColor FColor = clBlack;
  int FWidth = 1;
  TPenStyle FStyle = psSolid;
};

class TBrush : public TGraphicsObject {
 public:
  void Assign(TPersistent* Source) override;
  TColor Color() const { return FColor; }
  void SetColor(TColor color);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle style);

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
};

class TCanvas : public TPersistent {
 public:
  TCanvas();
  ~TCanvas() override;

  // The device context; made by CreateHandle when there is none. Drawing without one raises
  // EInvalidOperation "Canvas does not allow drawing".
  HDC Handle();
  void SetHandle(HDC handle);
  bool HandleAllocated() const { return FHandle != nullptr; }

  TFont* Font() { return &FFont; }
  TPen* Pen() { return &FPen; }
  TBrush* Brush() { return &FBrush; }
  void SetFont(TFont* font) { FFont.Assign(font); }
  void SetPen(TPen* pen) { FPen.Assign(pen); }
  void SetBrush(TBrush* brush) { FBrush.Assign(brush); }

  TCopyMode CopyMode = cmSrcCopy;
  TPoint PenPos() const { return FPenPos; }
  void SetPenPos(TPoint p) { FPenPos = p; }
  TRect ClipRect();

  // Text with the cell's top-left corner at (x, y): the cell is filled with the brush colour
  // unless the brush is clear. The pen position moves to the cell's right end.
  void TextOut(int x, int y, const std::string& text);
  TSize TextExtent(const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);

  // Brush-coloured rectangles; Right and Bottom lie outside. FrameRect draws the one-pixel
  // border of the rectangle, whichever way round its corners are given.
  void FillRect(const TRect& rect);
  void FrameRect(const TRect& rect);
  // Pen lines. A one-pixel pen leaves out the end point; wider pens are centred on the line
  // with round ends.
  void MoveTo(int x, int y);
  void LineTo(int x, int y);
  // Filled with the brush, outlined with the pen.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& rect) { Rectangle(rect.Left, rect.Top, rect.Right, rect.Bottom); }

  void Draw(int x, int y, TGraphic* graphic);
  void StretchDraw(const TRect& rect, TGraphic* graphic);
  // Copies `source` of `canvas` onto `dest`, stretched, with CopyMode.
  void CopyRect(const TRect& dest, TCanvas* canvas, const TRect& source);

  // The colour of a pixel ($00BBGGRR), or -1 (CLR_INVALID) outside the drawing area.
  TColor Pixels(int x, int y);
  void SetPixels(int x, int y, TColor color);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  // Called when a handle is needed and there is none; the base makes none.
  virtual void CreateHandle() {}
  virtual void Changing();
  virtual void Changed();

 private:
  void DrawLine(int x0, int y0, int x1, int y1);

  HDC FHandle = nullptr;
  TFont FFont;
  TPen FPen;
  TBrush FBrush;
  TPoint FPenPos;
};
