#include "assets/gen/Image8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <stdexcept>

namespace assets {

Rgb FromTColor(std::uint32_t c) {
  return {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
          static_cast<std::uint8_t>((c >> 16) & 0xFF)};
}

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  auto m = [t](int x, int y) { return static_cast<std::uint8_t>(std::lround(x + (y - x) * t)); };
  return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

Image8::Image8(int width, int height, Rgb key)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, 0) {
  palette_[0] = key;
}

std::uint8_t Image8::Index(Rgb c) {
  // A 16-bit display keeps 5 bits of red and blue: a colour less than 8 levels from the key in
  // every channel may land in the key's bucket and vanish. Push such a colour away.
  const Rgb k = palette_[0];
  auto dist = [](int a, int b) { return std::abs(a - b); };
  if (dist(c.r, k.r) < 8 && dist(c.g, k.g) < 8 && dist(c.b, k.b) < 8) {
    auto away = [](std::uint8_t v, std::uint8_t key) {
      return static_cast<std::uint8_t>(key >= 128 ? key - 12 : key + 12);
    };
    c = {away(c.r, k.r), away(c.g, k.g), away(c.b, k.b)};
  }
  for (int i = 1; i < count_; ++i)
    if (palette_[i] == c) return static_cast<std::uint8_t>(i);
  if (count_ < 256) {
    palette_[count_] = c;
    return static_cast<std::uint8_t>(count_++);
  }
  // Full: the nearest colour already there (never the key).
  int best = 1;
  long bestD = -1;
  for (int i = 1; i < 256; ++i) {
    long dr = palette_[i].r - c.r, dg = palette_[i].g - c.g, db = palette_[i].b - c.b;
    long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) bestD = d, best = i;
  }
  return static_cast<std::uint8_t>(best);
}

void Image8::Set(int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[y * width_ + x] = Index(c);
}

void Image8::SetIndex(int x, int y, std::uint8_t i) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[y * width_ + x] = i;
}

void Image8::FillRect(int x0, int y0, int x1, int y1, Rgb c) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) Set(x, y, c);
}

void Image8::FillEllipse(double cx, double cy, double rx, double ry, Rgb c) {
  if (rx <= 0 || ry <= 0) return;
  for (int y = static_cast<int>(std::floor(cy - ry)); y <= static_cast<int>(std::ceil(cy + ry));
       ++y)
    for (int x = static_cast<int>(std::floor(cx - rx)); x <= static_cast<int>(std::ceil(cx + rx));
         ++x) {
      double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
      if (dx * dx + dy * dy <= 1.0) Set(x, y, c);
    }
}

void Image8::ShadedEllipse(double cx, double cy, double rx, double ry, Rgb dark, Rgb light) {
  if (rx <= 0 || ry <= 0) return;
  const double hx = cx - rx * 0.35, hy = cy - ry * 0.4;  // the highlight
  for (int y = static_cast<int>(std::floor(cy - ry)); y <= static_cast<int>(std::ceil(cy + ry));
       ++y)
    for (int x = static_cast<int>(std::floor(cx - rx)); x <= static_cast<int>(std::ceil(cx + rx));
         ++x) {
      double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
      if (dx * dx + dy * dy > 1.0) continue;
      double lx = (x + 0.5 - hx) / rx, ly = (y + 0.5 - hy) / ry;
      double t = std::sqrt(lx * lx + ly * ly) / 1.4;
      // Eight steps keep the palette small.
      t = std::floor(std::clamp(1.0 - t, 0.0, 1.0) * 7.0 + 0.5) / 7.0;
      Set(x, y, Mix(dark, light, t));
    }
}

void Image8::FillPolygon(const std::vector<std::pair<double, double>>& pts, Rgb c) {
  if (pts.size() < 3) return;
  double minY = pts[0].second, maxY = pts[0].second;
  for (auto& p : pts) minY = std::min(minY, p.second), maxY = std::max(maxY, p.second);
  for (int y = static_cast<int>(std::floor(minY)); y <= static_cast<int>(std::ceil(maxY)); ++y) {
    double sy = y + 0.5;
    std::vector<double> xs;
    for (size_t i = 0; i < pts.size(); ++i) {
      auto a = pts[i], b = pts[(i + 1) % pts.size()];
      if ((a.second <= sy && b.second > sy) || (b.second <= sy && a.second > sy))
        xs.push_back(a.first + (sy - a.second) / (b.second - a.second) * (b.first - a.first));
    }
    std::sort(xs.begin(), xs.end());
    for (size_t i = 0; i + 1 < xs.size(); i += 2)
      for (int x = static_cast<int>(std::ceil(xs[i] - 0.5));
           x < static_cast<int>(std::ceil(xs[i + 1] - 0.5)); ++x)
        Set(x, y, c);
  }
}

void Image8::Line(double x0, double y0, double x1, double y1, double width, Rgb c) {
  double len = std::hypot(x1 - x0, y1 - y0);
  int steps = std::max(1, static_cast<int>(len * 2));
  for (int i = 0; i <= steps; ++i) {
    double t = static_cast<double>(i) / steps;
    FillEllipse(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, width / 2, width / 2, c);
  }
}

void Image8::FrameRect(int x0, int y0, int x1, int y1, Rgb c) {
  FillRect(x0, y0, x1, y0 + 1, c);
  FillRect(x0, y1 - 1, x1, y1, c);
  FillRect(x0, y0, x0 + 1, y1, c);
  FillRect(x1 - 1, y0, x1, y1, c);
}

void Image8::MirrorLeftIntoRight() {
  const int half = width_ / 2;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < half; ++x)
      pixels_[y * width_ + half + x] = pixels_[y * width_ + half - 1 - x];
}

namespace {

// 5 x 7 glyphs, one string per row, '#' set.
const std::map<char, std::array<const char*, 7>>& Font() {
  static const std::map<char, std::array<const char*, 7>> font = {
      {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
      {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
      {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
      {'G', {" ####", "#    ", "#    ", "# ###", "#   #", "#   #", " ####"}},
      {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
      {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
      {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
      {'!', {"  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "     ", "  #  "}},
      {' ', {"     ", "     ", "     ", "     ", "     ", "     ", "     "}},
  };
  return font;
}

}  // namespace

int Image8::LetteringWidth(const std::string& text, int cell) {
  return static_cast<int>(text.size()) * 6 * cell - cell + 2;
}

void Image8::Lettering(const std::string& text, int x, int y, int cell, Rgb top, Rgb bottom,
                       Rgb outline) {
  auto lit = [&](int gx, int gy) {  // font pixel in text grid coordinates
    if (gy < 0 || gy >= 7 || gx < 0) return false;
    int ch = gx / 6, col = gx % 6;
    if (ch >= static_cast<int>(text.size()) || col == 5) return false;
    auto it = Font().find(text[ch]);
    if (it == Font().end()) throw std::runtime_error("no glyph for lettering");
    return it->second[gy][col] == '#';
  };
  const int cols = static_cast<int>(text.size()) * 6;
  // Outline first: every pixel within one pixel of a lit cell.
  for (int py = -1; py <= 7 * cell; ++py)
    for (int px = -1; px <= cols * cell; ++px) {
      bool near = false;
      for (int dy = -1; dy <= 1 && !near; ++dy)
        for (int dx = -1; dx <= 1 && !near; ++dx) {
          int qx = px + dx, qy = py + dy;
          if (qx >= 0 && qy >= 0 && lit(qx / cell, qy / cell)) near = true;
        }
      if (near) Set(x + 1 + px, y + 1 + py, outline);
    }
  for (int py = 0; py < 7 * cell; ++py) {
    Rgb c = Mix(top, bottom, std::floor(py * 8.0 / (7 * cell)) / 7.0);
    for (int px = 0; px < cols * cell; ++px)
      if (lit(px / cell, py / cell)) Set(x + 1 + px, y + 1 + py, c);
  }
}

namespace {
void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(x & 0xFF);
  v.push_back((x >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
}  // namespace

std::vector<std::uint8_t> Image8::DibBody() const {
  const int stride = (width_ + 3) & ~3;
  std::vector<std::uint8_t> v;
  Put32(v, 40);
  Put32(v, static_cast<std::uint32_t>(width_));
  Put32(v, static_cast<std::uint32_t>(height_));
  Put16(v, 1);
  Put16(v, 8);
  Put32(v, 0);  // uncompressed
  Put32(v, static_cast<std::uint32_t>(stride * height_));
  for (int i = 0; i < 4; ++i) Put32(v, 0);
  for (const Rgb& c : palette_) {
    v.push_back(c.b);
    v.push_back(c.g);
    v.push_back(c.r);
    v.push_back(0);
  }
  for (int y = height_ - 1; y >= 0; --y) {
    for (int x = 0; x < width_; ++x) v.push_back(pixels_[y * width_ + x]);
    for (int x = width_; x < stride; ++x) v.push_back(0);
  }
  return v;
}

std::vector<std::uint8_t> Image8::BmpFile() const {
  std::vector<std::uint8_t> body = DibBody();
  std::vector<std::uint8_t> v{'B', 'M'};
  Put32(v, static_cast<std::uint32_t>(14 + body.size()));
  Put32(v, 0);
  Put32(v, 14 + 40 + 1024);  // pixels follow the header and the colour table
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

}  // namespace assets
