// Text through FreeType, with fontconfig choosing the faces. A font names a face that may not be
// installed; its stand-ins (FontSubstitutes.h) are asked for next, and without them fontconfig
// gives the nearest real face (a sans face of the asked weight). Every character that face lacks is
// taken from the face fontconfig finds for that character (the Japanese of the editor's title and
// questions, for instance), on the same baseline. Glyphs are anti-aliased and kept once rendered.
#pragma once

#include <string>

#include "platform/gdi/PixelBuffer.h"

struct TFontSpec {
  std::string Name;
  // As a logical font gives it: negative, the em height in pixels; positive, the cell height
  // (ascent + descent) in pixels; 0, a default height.
  int Height = 0;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
};

struct TTextMetrics {
  int Ascent = 0;   // pixels from the cell top to the baseline
  int Descent = 0;  // pixels from the baseline to the cell bottom
  int Height() const { return Ascent + Descent; }
};

class TTextEngine {
 public:
  static TTextEngine& Instance();

  TTextMetrics Metrics(const TFontSpec& font);
  // Sum of the characters' advances: the width of the text cell.
  int Width(const TFontSpec& font, const std::string& utf8);
  // Draws the glyphs with the top-left corner of the text cell at (x, y), clipped to `clip`;
  // returns the width of the cell.
  int Draw(const TPixelBuffer& target, const TRect& clip, int x, int y, const TFontSpec& font,
           const std::string& utf8, TColor color);
  // The file of the face that draws `codepoint` in `font` (empty when none), for tests and
  // diagnostics.
  std::string FaceFileFor(const TFontSpec& font, char32_t codepoint);

  ~TTextEngine();

 private:
  TTextEngine();
  struct Impl;
  Impl* P;
};

// Unicode code points of UTF-8 text; malformed sequences become U+FFFD.
std::u32string DecodeUtf8(const std::string& text);
