// An 8-bit paletted picture for the asset generator: a palette of up to 256 colours, pixels as
// palette indexes, a few drawing primitives, and writers for a BMP file and for the headerless
// bitmap body that stored forms carry.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace assets {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A TColor value ($00BBGGRR) as red, green and blue.
Rgb FromTColor(std::uint32_t c);
Rgb Mix(Rgb a, Rgb b, double t);  // t = 0 gives a, 1 gives b

class Image8 {
 public:
  // The picture starts filled with `key`, which becomes palette entry 0.
  Image8(int width, int height, Rgb key);

  int Width() const { return width_; }
  int Height() const { return height_; }
  Rgb Key() const { return palette_[0]; }

  // The palette index of a colour, adding it when new. Colours that a 16-bit display would merge
  // into the key are moved away from it first, so artwork never turns transparent by accident.
  std::uint8_t Index(Rgb c);
  const std::array<Rgb, 256>& Palette() const { return palette_; }
  int PaletteCount() const { return count_; }

  std::uint8_t At(int x, int y) const { return pixels_[y * width_ + x]; }
  void Set(int x, int y, Rgb c);
  void SetIndex(int x, int y, std::uint8_t i);
  void Clear(int x, int y) { SetIndex(x, y, 0); }

  void FillRect(int x0, int y0, int x1, int y1, Rgb c);  // half-open
  void FillEllipse(double cx, double cy, double rx, double ry, Rgb c);
  // An ellipse lit from the upper left: `dark` at the far edge, `light` at the highlight.
  void ShadedEllipse(double cx, double cy, double rx, double ry, Rgb dark, Rgb light);
  void FillPolygon(const std::vector<std::pair<double, double>>& pts, Rgb c);
  void Line(double x0, double y0, double x1, double y1, double width, Rgb c);
  void FrameRect(int x0, int y0, int x1, int y1, Rgb c);
  // Copies the left half, mirrored, into the right half (a second pattern facing the other way).
  void MirrorLeftIntoRight();
  // Block lettering from the built-in 5x7 font: each font pixel becomes a `cell` square with a
  // dark outline and a vertical gradient from `top` to `bottom`.
  void Lettering(const std::string& text, int x, int y, int cell, Rgb top, Rgb bottom, Rgb outline);
  static int LetteringWidth(const std::string& text, int cell);

  // Everything after the 14-byte file header: BITMAPINFOHEADER, 256 colour entries, rows bottom
  // first, each padded to 4 bytes.
  std::vector<std::uint8_t> DibBody() const;
  std::vector<std::uint8_t> BmpFile() const;

 private:
  int width_, height_;
  std::array<Rgb, 256> palette_{};
  int count_ = 1;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace assets
