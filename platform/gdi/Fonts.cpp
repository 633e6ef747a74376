#include "platform/gdi/Fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/gdi/FontSubstitutes.h"

namespace {

// Larger requests are drawn at this em size: enough for any screen, and it keeps a damaged
// size from asking FreeType for gigantic bitmaps.
constexpr int kMaxEm = 2000;
constexpr int kDefaultEm = 12;

struct FaceRef {
  FT_Face Face = nullptr;
  bool SynthBold = false;
  bool SynthItalic = false;
  std::string File;
};

struct Chain {
  FcPattern* Request = nullptr;  // the request as asked, for per-character queries
  FaceRef Primary;
  std::unordered_map<char32_t, FaceRef> Fallback;
};

struct Glyph {
  int Left = 0;  // from the pen position to the bitmap's left column
  int Top = 0;   // from the baseline up to the bitmap's top row
  int Width = 0;
  int Rows = 0;
  int Advance = 0;
  std::vector<unsigned char> Coverage;
};

struct GlyphKey {
  FT_Face Face;
  int Em;
  FT_UInt Index;
  bool Bold, Italic;
  friend bool operator<(const GlyphKey& a, const GlyphKey& b) {
    return std::tie(a.Face, a.Em, a.Index, a.Bold, a.Italic) <
           std::tie(b.Face, b.Em, b.Index, b.Bold, b.Italic);
  }
};

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

struct TTextEngine::Impl {
  FT_Library Library = nullptr;
  bool FontconfigReady = false;
  std::map<std::pair<std::string, int>, FT_Face> Faces;
  std::map<std::tuple<std::string, bool, bool>, Chain> Chains;
  std::map<GlyphKey, Glyph> Glyphs;
  std::map<FT_Face, int> CurrentEm;

  Impl() {
    if (FT_Init_FreeType(&Library) != 0) Library = nullptr;
    FontconfigReady = FcInit() == FcTrue;
  }

  ~Impl() {
    for (auto& [key, chain] : Chains)
      if (chain.Request) FcPatternDestroy(chain.Request);
    for (auto& [key, face] : Faces)
      if (face) FT_Done_Face(face);
    if (Library) FT_Done_FreeType(Library);
    if (FontconfigReady) FcFini();
  }

  FT_Face OpenFace(const std::string& file, int index) {
    if (!Library || file.empty()) return nullptr;
    auto key = std::make_pair(file, index);
    auto it = Faces.find(key);
    if (it != Faces.end()) return it->second;
    FT_Face face = nullptr;
    if (FT_New_Face(Library, file.c_str(), index, &face) != 0) face = nullptr;
    Faces[key] = face;
    return face;
  }

  // The face fontconfig matches to `request` (not consumed), with what must be synthesised.
  FaceRef MatchFace(FcPattern* request, bool bold, bool italic) {
    FaceRef ref;
    if (!FontconfigReady || !request) return ref;
    FcPattern* pattern = FcPatternDuplicate(request);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return ref;
    FcChar8* file = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
      FcPatternGetInteger(match, FC_INDEX, 0, &index);
      FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(match, FC_SLANT, 0, &slant);
      ref.File = reinterpret_cast<const char*>(file);
      ref.Face = OpenFace(ref.File, index);
      // fontconfig reports the asked weight and slant for a face that must be made bold or
      // slanted, and says so with "embolden" and a shear matrix.
      FcBool embolden = FcFalse;
      FcPatternGetBool(match, FC_EMBOLDEN, 0, &embolden);
      FcMatrix* matrix = nullptr;
      const bool sheared = FcPatternGetMatrix(match, FC_MATRIX, 0, &matrix) == FcResultMatch &&
                           matrix && matrix->xy != 0;
      ref.SynthBold = bold && (embolden == FcTrue || weight < FC_WEIGHT_DEMIBOLD);
      ref.SynthItalic = italic && (sheared || slant == FC_SLANT_ROMAN);
    }
    FcPatternDestroy(match);
    if (!ref.Face) ref.File.clear();
    return ref;
  }

  Chain& ChainFor(const TFontSpec& font) {
    auto key = std::make_tuple(LowerAscii(font.Name), font.Bold, font.Italic);
    auto it = Chains.find(key);
    if (it != Chains.end()) return it->second;
    Chain& chain = Chains[key];
    if (FontconfigReady) {
      chain.Request = FcPatternCreate();
      // The named face first, should it be installed after all; then its stand-ins, ahead of
      // fontconfig's own defaults.
      if (!font.Name.empty()) {
        FcPatternAddString(chain.Request, FC_FAMILY,
                           reinterpret_cast<const FcChar8*>(font.Name.c_str()));
        for (const std::string& standIn : FontSubstitutesFor(font.Name))
          FcPatternAddString(chain.Request, FC_FAMILY,
                             reinterpret_cast<const FcChar8*>(standIn.c_str()));
      }
      FcPatternAddInteger(chain.Request, FC_WEIGHT, font.Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
      FcPatternAddInteger(chain.Request, FC_SLANT, font.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
      FcPatternAddBool(chain.Request, FC_SCALABLE, FcTrue);
      chain.Primary = MatchFace(chain.Request, font.Bold, font.Italic);
    }
    return chain;
  }

  // The face and glyph index that draw `cp`: the primary face when it has the character, else
  // the face fontconfig picks for that character, else the primary face's missing-glyph box.
  std::pair<const FaceRef*, FT_UInt> Resolve(Chain& chain, const TFontSpec& font, char32_t cp) {
    if (!chain.Primary.Face) return {nullptr, 0};
    if (FT_UInt gi = FT_Get_Char_Index(chain.Primary.Face, cp)) return {&chain.Primary, gi};
    auto it = chain.Fallback.find(cp);
    if (it == chain.Fallback.end()) {
      FaceRef ref;
      if (chain.Request) {
        FcPattern* request = FcPatternDuplicate(chain.Request);
        FcCharSet* set = FcCharSetCreate();
        FcCharSetAddChar(set, cp);
        FcPatternAddCharSet(request, FC_CHARSET, set);
        FcCharSetDestroy(set);
        ref = MatchFace(request, font.Bold, font.Italic);
        FcPatternDestroy(request);
      }
      it = chain.Fallback.emplace(cp, ref).first;
    }
    if (it->second.Face)
      if (FT_UInt gi = FT_Get_Char_Index(it->second.Face, cp)) return {&it->second, gi};
    return {&chain.Primary, 0};
  }

  void SetEm(FT_Face face, int em) {
    int& current = CurrentEm[face];
    if (current != em) {
      FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em));
      current = em;
    }
  }

  int EmFor(Chain& chain, const TFontSpec& font) {
    int em = kDefaultEm;
    if (font.Height < 0) {
      em = font.Height == INT32_MIN ? kMaxEm : -font.Height;
    } else if (font.Height > 0) {
      em = font.Height;
      FT_Face face = chain.Primary.Face;
      if (face && FT_IS_SCALABLE(face) && face->ascender - face->descender > 0)
        em = static_cast<int>(std::lround(static_cast<double>(font.Height) * face->units_per_EM /
                                          (face->ascender - face->descender)));
    }
    return std::clamp(em, 1, kMaxEm);
  }

  const Glyph& GlyphFor(const FaceRef& ref, FT_UInt index, int em) {
    GlyphKey key{ref.Face, em, index, ref.SynthBold, ref.SynthItalic};
    auto it = Glyphs.find(key);
    if (it != Glyphs.end()) return it->second;
    Glyph& g = Glyphs[key];
    FT_Face face = ref.Face;
    SetEm(face, em);
    // Outlines only: some faces carry small monochrome bitmaps that would not be anti-aliased.
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0 &&
        FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) != 0)
      return g;
    FT_GlyphSlot slot = face->glyph;
    if (ref.SynthBold) FT_GlyphSlot_Embolden(slot);
    if (ref.SynthItalic) FT_GlyphSlot_Oblique(slot);
    g.Advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) != 0) return g;
    const FT_Bitmap& bm = slot->bitmap;
    g.Left = slot->bitmap_left;
    g.Top = slot->bitmap_top;
    g.Width = static_cast<int>(bm.width);
    g.Rows = static_cast<int>(bm.rows);
    g.Coverage.assign(static_cast<std::size_t>(g.Width) * g.Rows, 0);
    for (int y = 0; y < g.Rows; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      for (int x = 0; x < g.Width; ++x) {
        unsigned char v = 0;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY)
          v = static_cast<unsigned char>(bm.num_grays == 256 ? row[x]
                                                             : row[x] * 255 / (bm.num_grays - 1));
        else if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
          v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
        g.Coverage[static_cast<std::size_t>(y) * g.Width + x] = v;
      }
    }
    return g;
  }

  TTextMetrics MetricsFor(Chain& chain, int em) {
    TTextMetrics m;
    FT_Face face = chain.Primary.Face;
    if (!face) {
      m.Ascent = em;
      return m;
    }
    SetEm(face, em);
    m.Ascent = static_cast<int>((face->size->metrics.ascender + 63) >> 6);
    m.Descent = static_cast<int>((-face->size->metrics.descender + 63) >> 6);
    return m;
  }
};

TTextEngine& TTextEngine::Instance() {
  static TTextEngine engine;
  return engine;
}

TTextEngine::TTextEngine() : P(new Impl) {}
TTextEngine::~TTextEngine() { delete P; }

TTextMetrics TTextEngine::Metrics(const TFontSpec& font) {
  Chain& chain = P->ChainFor(font);
  return P->MetricsFor(chain, P->EmFor(chain, font));
}

int TTextEngine::Width(const TFontSpec& font, const std::string& utf8) {
  Chain& chain = P->ChainFor(font);
  const int em = P->EmFor(chain, font);
  long width = 0;
  for (char32_t cp : DecodeUtf8(utf8)) {
    auto [ref, index] = P->Resolve(chain, font, cp);
    if (!ref) continue;
    width += P->GlyphFor(*ref, index, em).Advance;
  }
  return static_cast<int>(std::min<long>(width, INT32_MAX));
}

int TTextEngine::Draw(const TPixelBuffer& target, const TRect& clip, int x, int y,
                      const TFontSpec& font, const std::string& utf8, TColor color) {
  Chain& chain = P->ChainFor(font);
  const int em = P->EmFor(chain, font);
  const TTextMetrics m = P->MetricsFor(chain, em);
  const TRect area = IntersectRects(clip, target.Bounds());
  const long baseline = static_cast<long>(y) + m.Ascent;
  long pen = x;
  for (char32_t cp : DecodeUtf8(utf8)) {
    auto [ref, index] = P->Resolve(chain, font, cp);
    if (!ref) continue;
    const Glyph& g = P->GlyphFor(*ref, index, em);
    const long left = pen + g.Left, top = baseline - g.Top;
    if (!RectIsEmpty(area) && left < area.Right && left + g.Width > area.Left &&
        top < area.Bottom && top + g.Rows > area.Top) {
      for (int gy = 0; gy < g.Rows; ++gy) {
        const long py = top + gy;
        if (py < area.Top || py >= area.Bottom) continue;
        for (int gx = 0; gx < g.Width; ++gx) {
          const long px = left + gx;
          if (px < area.Left || px >= area.Right) continue;
          BlendPixel(target, area, static_cast<int>(px), static_cast<int>(py), color,
                     g.Coverage[static_cast<std::size_t>(gy) * g.Width + gx]);
        }
      }
    }
    pen += g.Advance;
  }
  const long width = pen - x;
  if ((font.Underline || font.StrikeOut) && width > 0) {
    const int thickness = std::max(1, em / 14);
    const auto clampInt = [](long v) {
      return static_cast<int>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
    };
    const DWORD pixel = ColorToPixel(color, target);
    if (font.Underline) {
      const long top = baseline + std::max(1, m.Descent / 2);
      FillPixels(target, area,
                 {clampInt(x), clampInt(top), clampInt(pen), clampInt(top + thickness)}, pixel);
    }
    if (font.StrikeOut) {
      const long top = baseline - m.Ascent * 3 / 10;
      FillPixels(target, area,
                 {clampInt(x), clampInt(top), clampInt(pen), clampInt(top + thickness)}, pixel);
    }
  }
  return static_cast<int>(std::clamp<long>(width, 0, INT32_MAX));
}

std::string TTextEngine::FaceFileFor(const TFontSpec& font, char32_t codepoint) {
  Chain& chain = P->ChainFor(font);
  auto [ref, index] = P->Resolve(chain, font, codepoint);
  return ref ? ref->File : std::string();
}

std::u32string DecodeUtf8(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    int len = 0;
    char32_t cp = 0, min = 0;
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4, cp = c & 0x07, min = 0x10000;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    int k = 1;
    for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k)
      cp = (cp << 6) | (s[i + k] & 0x3F);
    if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      i += k;
      continue;
    }
    out.push_back(cp);
    i += len;
  }
  return out;
}
