#include "platform/d3d/RasterSpans.h"

#include <emmintrin.h>

#include <vector>

#include "platform/d3d/RasterPixels.h"
#include "platform/d3d/RasterReference.h"
#include "platform/d3d/RasterTexels.h"
#include "platform/ddraw/DDrawObjects.h"

namespace d3d::raster {

namespace {

// Texture coordinates in texels, 32.32 fixed point: over the widest span the stepping drifts
// by far less than the guard below.
constexpr int kFracBits = 32;
constexpr double kFixedScale = 4294967296.0;
// A point-sampled coordinate whose fraction lies this close to a texel edge may floor the other
// way than the per-pixel formula does; such pixels take that formula.
constexpr std::uint32_t kGuard = 1u << 16;
// Coordinates beyond this many texels leave too few bits of fraction in a double.
constexpr double kMaxTexels = 1 << 20;

bool NearTexelEdge(std::int64_t f) {
  return static_cast<std::uint32_t>(static_cast<std::uint32_t>(f) + kGuard) < 2 * kGuard;
}
int WholeTexels(std::int64_t f) { return static_cast<int>(f >> kFracBits); }
std::int64_t ToFixed(double texels) { return std::llround(texels * kFixedScale); }

// ---------------------------------------------------------------------------------------------
// One drawing: what every span needs.

struct Drawing {
  ddraw::PixelStore* Target = nullptr;
  const Texels* Tex = nullptr;
  DWORD Cull = 0;
  bool MagLinear = false, MinLinear = false;
  // The stage's output for each channel's texel value, the vertex colour being the same
  // everywhere (A, R, G, B).
  std::uint8_t Lut[4][256] = {};
  // For an opaque texture whose colour passes the stage unchanged: the source alpha, the same
  // for every texel, as lanes.
  __m128i ColourLanes = _mm_setzero_si128(), AlphaLane = _mm_setzero_si128(),
          AlphaEverywhere = _mm_setzero_si128();
};

// How the stage makes the source from a texel.
enum class Stage {
  Texel,        // the texel itself (or its colour, where the alpha goes nowhere)
  OpaqueTexel,  // the texel's colour with one alpha for all
  Table         // each channel through its table
};

// The per-pixel formula for the texel a point-sampled pixel takes, for the pixels of one row:
// the edge values computed as the per-pixel drawer computes them, with what does not change
// along the row worked out once.
class ExactRow {
 public:
  ExactRow(const Triangle& t, const Texels& tex, int y) : T(t), W(tex.TexW), H(tex.TexH) {
    for (int e = 0; e < 3; ++e) {
      const Vertex& a = *t.EdgeFrom[e];
      const Vertex& b = *t.EdgeTo[e];
      Across[e] = (b.X - a.X) * (y - a.Y);
      Down[e] = b.Y - a.Y;
      FromX[e] = a.X;
    }
  }
  void Texel(int x, int& i, int& j) const {
    double w[3], u, v;
    Weights(x, w);
    AffineTexCoords(T, w, u, v);
    i = static_cast<int>(std::floor(u * W));
    j = static_cast<int>(std::floor(v * H));
  }
  int Column(int x) const {
    int i, j;
    Texel(x, i, j);
    return i;
  }
  int Row(int x) const {
    double w[3];
    Weights(x, w);
    const double l0 = w[0] * T.InverseArea, l1 = w[1] * T.InverseArea, l2 = w[2] * T.InverseArea;
    return static_cast<int>(std::floor((l0 * T.V[0]->V + l1 * T.V[1]->V + l2 * T.V[2]->V) * H));
  }
  // Row(x) for count pixels from x on, two at a time in the same double arithmetic.
  void Rows(int x, int count, int* out) const {
    const __m128d inverse = _mm_set1_pd(T.InverseArea), h = _mm_set1_pd(H);
    __m128d across[3], down[3], from[3], coord[3];
    for (int e = 0; e < 3; ++e) {
      across[e] = _mm_set1_pd(Across[e]);
      down[e] = _mm_set1_pd(Down[e]);
      from[e] = _mm_set1_pd(FromX[e]);
      coord[e] = _mm_set1_pd(T.V[e]->V);
    }
    int k = 0;
    for (; k + 1 < count; k += 2) {
      const __m128d px = _mm_set_pd(x + k + 1, x + k);
      __m128d l[3];
      for (int e = 0; e < 3; ++e)
        l[e] = _mm_mul_pd(_mm_sub_pd(across[e], _mm_mul_pd(down[e], _mm_sub_pd(px, from[e]))),
                          inverse);
      const __m128d v =
          _mm_mul_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(l[0], coord[0]), _mm_mul_pd(l[1], coord[1])),
                                _mm_mul_pd(l[2], coord[2])),
                     h);
      // Rounded down: truncated, less one where that went up.
      const __m128i truncated = _mm_cvttpd_epi32(v);
      const __m128i up = _mm_castpd_si128(_mm_cmplt_pd(v, _mm_cvtepi32_pd(truncated)));
      const __m128i floored =
          _mm_add_epi32(truncated, _mm_shuffle_epi32(up, _MM_SHUFFLE(3, 3, 2, 0)));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), floored);
    }
    for (; k < count; ++k) out[k] = Row(x + k);
  }
  void Weights(int x, double w[3]) const {
    for (int e = 0; e < 3; ++e) w[e] = Across[e] - Down[e] * (x - FromX[e]);
  }

 private:
  const Triangle& T;
  int W, H;
  double Across[3], Down[3], FromX[3];
};

// The per-pixel formula for a bilinear sample near keyed texels: keyed ones take no part, and
// the pixel is keyed out when they would weigh half or more.
inline bool ExactBilinear(const Triangle& t, const Texels& tex, const ExactRow& exact, int x,
                          std::uint32_t& out) {
  double w[3], u, v;
  exact.Weights(x, w);
  AffineTexCoords(t, w, u, v);
  const double px = u * tex.TexW - 0.5, py = v * tex.TexH - 0.5;
  const double fx0 = std::floor(px), fy0 = std::floor(py);
  const int i0 = static_cast<int>(fx0), j0 = static_cast<int>(fy0);
  const double fx = px - fx0, fy = py - fy0;
  const double k[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
  double a = 0, r = 0, g = 0, b = 0, total = 0;
  for (int n = 0; n < 4; ++n) {
    if (k[n] <= 0) continue;
    const int i = i0 + (n & 1), j = j0 + (n >> 1);
    if (!tex.Holds(i, j)) continue;
    const std::ptrdiff_t at = tex.Index(i, j);
    if (tex.HasKey && tex.Keyed[at]) continue;
    const std::uint32_t c = tex.Words[at];
    a += k[n] * (c >> 24), r += k[n] * ((c >> 16) & 0xFF), g += k[n] * ((c >> 8) & 0xFF),
        b += k[n] * (c & 0xFF);
    total += k[n];
  }
  if (total < 0.5) return false;
  out = Pack(static_cast<int>(a / total + 0.5), static_cast<int>(r / total + 0.5),
             static_cast<int>(g / total + 0.5), static_cast<int>(b / total + 0.5));
  return true;
}

// The pixels of row y that belong to the triangle, found with the edge tests of the per-pixel
// drawer: along a row each edge's value only falls (or only rises), so each edge bounds the
// span on one side, and its bound is found from an estimate by testing the pixels beside it.
bool SpanOf(const Triangle& t, int y, int& xa, int& xb) {
  xa = t.X0, xb = t.X1;
  for (int e = 0; e < 3; ++e) {
    const Vertex& a = *t.EdgeFrom[e];
    const Vertex& b = *t.EdgeTo[e];
    auto owns = [&](int x) {
      const double w = Edge(a, b, x, y);
      return w > 0 || (w == 0 && t.TopLeft[e]);
    };
    const double dy = b.Y - a.Y;
    if (dy == 0) {
      if (!owns(xa)) return false;
      continue;
    }
    const double cross = a.X + (b.X - a.X) * (y - a.Y) / dy;
    if (dy > 0) {
      // Owned up to the crossing.
      int x = static_cast<int>(std::clamp(std::floor(cross), xa - 1.0, static_cast<double>(xb)));
      while (x < xb && owns(x + 1)) ++x;
      while (x >= xa && !owns(x)) --x;
      xb = x;
    } else {
      int x = static_cast<int>(std::clamp(std::ceil(cross), static_cast<double>(xa), xb + 1.0));
      while (x > xa && owns(x - 1)) --x;
      while (x <= xb && !owns(x)) ++x;
      xa = x;
    }
    if (xa > xb) return false;
  }
  return true;
}

template <class Px, bool Linear, bool Key, Blend B, Stage St>
struct SpanDrawer {
  // Whether the source's alpha reaches the target.
  static constexpr bool NeedAlpha = B == Blend::Alpha || Px::HasAlpha;

  // The source as 16-bit lanes B, G, R, A blended into the pixel at x.
  [[gnu::always_inline]] static void PutLanes(const Drawing& d, std::uint8_t* row, int x,
                                              __m128i s) {
    if constexpr (St == Stage::Table) {
      Put(d, row, x, Narrow(s));
      return;
    } else {
      if constexpr (St == Stage::OpaqueTexel)
        s = _mm_or_si128(_mm_and_si128(s, d.ColourLanes), d.AlphaLane);
      if constexpr (B == Blend::Copy) {
        Px::Store(row, x, Narrow(s));
      } else if constexpr (B == Blend::Add) {
        // (s * 255 + d * 255 + 127) / 255 is s + d.
        const __m128i sum = _mm_adds_epu8(_mm_packus_epi16(s, s),
                                          _mm_cvtsi32_si128(static_cast<int>(Px::Load(row, x))));
        Px::Store(row, x, static_cast<std::uint32_t>(_mm_cvtsi128_si32(sum)));
      } else if constexpr (B == Blend::Sub) {
        // Nothing of the source, what is there scaled by the source's complement.
        const __m128i n = _mm_add_epi16(
            _mm_mullo_epi16(Widen(Px::Load(row, x)), _mm_sub_epi16(_mm_set1_epi16(255), s)),
            _mm_set1_epi16(127));
        Px::Store(row, x, Narrow(Div255Lanes(n)));
      } else {
        const __m128i a =
            St == Stage::OpaqueTexel ? d.AlphaEverywhere : _mm_shufflelo_epi16(s, 0xFF);
        const __m128i n = _mm_add_epi16(
            _mm_add_epi16(
                _mm_mullo_epi16(s, a),
                _mm_mullo_epi16(Widen(Px::Load(row, x)), _mm_sub_epi16(_mm_set1_epi16(255), a))),
            _mm_set1_epi16(127));
        Px::Store(row, x, Narrow(Div255Lanes(n)));
      }
    }
  }
  // A texel blended into the pixel at x.
  [[gnu::always_inline]] static void Put(const Drawing& d, std::uint8_t* row, int x,
                                         std::uint32_t texel) {
    if constexpr (St == Stage::Table) {
      const std::uint32_t src =
          Pack(NeedAlpha ? d.Lut[0][texel >> 24] : 0, d.Lut[1][(texel >> 16) & 0xFF],
               d.Lut[2][(texel >> 8) & 0xFF], d.Lut[3][texel & 0xFF]);
      if constexpr (B == Blend::Copy)
        Px::Store(row, x, src);
      else
        Px::Store(row, x, BlendPixel<B>(src, Px::Load(row, x)));
    } else if constexpr (St == Stage::Texel && B == Blend::Copy) {
      Px::Store(row, x, texel);
    } else {
      PutLanes(d, row, x, Widen(texel));
    }
  }

  static void Draw(const Drawing& d, const Triangle& t) {
    const Texels& tex = *d.Tex;
    // Steps of the texel coordinates from one pixel to the next along a row.
    double dudx = 0, dvdx = 0;
    // Whether the per-pixel formula's v stays the same along a row to the last bit: each term
    // either weighs a coordinate of 0 or comes from an edge that runs along the row.
    bool vFlat = true;
    for (int e = 0; e < 3; ++e) {
      const double down = t.EdgeTo[e]->Y - t.EdgeFrom[e]->Y;
      const double dw = -down * t.InverseArea;
      dudx += dw * t.V[e]->U;
      dvdx += dw * t.V[e]->V;
      vFlat = vFlat && (t.V[e]->V == 0 || down == 0);
    }
    const std::int64_t dU = ToFixed(dudx * tex.TexW), dV = ToFixed(dvdx * tex.TexH);
    const std::int64_t half = Linear ? (std::int64_t{1} << (kFracBits - 1)) : 0;
    const std::uint32_t* words = tex.Words.data();
    const std::uint8_t* keyed = Key ? tex.Keyed.data() : nullptr;
    const std::ptrdiff_t pitch = tex.Width;
    std::vector<int> texelRows;

    for (int y = t.Y0; y <= t.Y1; ++y) {
      int xa, xb;
      if (!SpanOf(t, y, xa, xb)) continue;
      std::uint8_t* row = d.Target->Row(y);
      const ExactRow exact(t, tex, y);
      double w[3], u, v;
      exact.Weights(xa, w);
      AffineTexCoords(t, w, u, v);
      std::int64_t U = ToFixed(u * tex.TexW) - half, V = ToFixed(v * tex.TexH) - half;

      if constexpr (!Linear) {
        auto fetch = [&](int x, int i, int j) {
          if (!tex.Holds(i, j)) return;
          const std::ptrdiff_t at = tex.Index(i, j);
          if (Key && keyed[at]) return;
          Put(d, row, x, words[at]);
        };
        if (dV == 0 && (vFlat || !NearTexelEdge(V))) {
          // Upright: one texel row for the whole span.
          const int j = NearTexelEdge(V) ? exact.Row(xa) : WholeTexels(V);
          if (!tex.Holds(tex.I0, j)) continue;
          const std::ptrdiff_t rowAt = tex.Index(tex.I0, j);
          const std::uint32_t* texRow = words + rowAt - tex.I0;
          const std::uint8_t* keyRow = Key ? keyed + rowAt - tex.I0 : nullptr;
          auto one = [&](int x, std::int64_t at) {
            if (NearTexelEdge(at)) {
              fetch(x, exact.Column(x), j);
              return;
            }
            const int i = WholeTexels(at);
            if (Key && keyRow[i]) return;
            Put(d, row, x, texRow[i]);
          };
          // Four pixels at a time, their fractions tested for texel edges together.
          const auto step = static_cast<std::uint32_t>(dU);
          const __m128i steps = _mm_set_epi32(
              static_cast<int>(3 * step), static_cast<int>(2 * step), static_cast<int>(step), 0);
          const __m128i flip = _mm_set1_epi32(static_cast<int>(0x80000000u));
          const __m128i guard = _mm_set1_epi32(static_cast<int>(kGuard));
          const __m128i limit = _mm_set1_epi32(static_cast<int>(2 * kGuard ^ 0x80000000u));
          int x = xa;
          for (; x + 3 <= xb; x += 4) {
            const __m128i f = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(U)), steps);
            const __m128i near =
                _mm_cmplt_epi32(_mm_xor_si128(_mm_add_epi32(f, guard), flip), limit);
            const std::int64_t U1 = U + dU, U2 = U1 + dU, U3 = U2 + dU;
            if (_mm_movemask_epi8(near)) {
              one(x, U), one(x + 1, U1), one(x + 2, U2), one(x + 3, U3);
            } else {
              const int i0 = WholeTexels(U), i1 = WholeTexels(U1), i2 = WholeTexels(U2),
                        i3 = WholeTexels(U3);
              if (!Key || !keyRow[i0]) Put(d, row, x, texRow[i0]);
              if (!Key || !keyRow[i1]) Put(d, row, x + 1, texRow[i1]);
              if (!Key || !keyRow[i2]) Put(d, row, x + 2, texRow[i2]);
              if (!Key || !keyRow[i3]) Put(d, row, x + 3, texRow[i3]);
            }
            U = U3 + dU;
          }
          for (; x <= xb; ++x, U += dU) one(x, U);
          continue;
        }
        if (dV == 0) {
          // Upright, but on a texel edge and not quite the same along the row: the row is
          // settled pixel by pixel.
          texelRows.resize(static_cast<std::size_t>(xb - xa + 1));
          exact.Rows(xa, xb - xa + 1, texelRows.data());
          for (int x = xa; x <= xb; ++x, U += dU)
            fetch(x, NearTexelEdge(U) ? exact.Column(x) : WholeTexels(U), texelRows[x - xa]);
          continue;
        }
        for (int x = xa; x <= xb; ++x, U += dU, V += dV) {
          if (NearTexelEdge(U) || NearTexelEdge(V)) {
            int i, j;
            exact.Texel(x, i, j);
            fetch(x, i, j);
            continue;
          }
          const std::ptrdiff_t at = tex.Index(WholeTexels(U), WholeTexels(V));
          if (Key && keyed[at]) continue;
          Put(d, row, x, words[at]);
        }
      } else {
        if (dV == 0) {
          // Upright: the same two texel rows and the same vertical weights for the span.
          const std::ptrdiff_t rowAt = tex.Index(tex.I0, WholeTexels(V)) - tex.I0;
          const std::uint32_t* top = words + rowAt;
          const std::uint32_t* bottom = top + pitch;
          const __m128i wy = PairWeights(static_cast<std::uint32_t>(V) >> 18);
          for (int x = xa; x <= xb; ++x, U += dU) {
            const int i = WholeTexels(U);
            if constexpr (Key) {
              const std::uint8_t* k = keyed + rowAt + i;
              if (k[0] | k[1] | k[pitch] | k[pitch + 1]) {
                std::uint32_t texel;
                if (ExactBilinear(t, tex, exact, x, texel)) Put(d, row, x, texel);
                continue;
              }
            }
            PutLanes(d, row, x,
                     BilinearLanes(top[i], top[i + 1], bottom[i], bottom[i + 1],
                                   PairWeights(static_cast<std::uint32_t>(U) >> 18), wy));
          }
          continue;
        }
        for (int x = xa; x <= xb; ++x, U += dU, V += dV) {
          const std::ptrdiff_t at = tex.Index(WholeTexels(U), WholeTexels(V));
          if constexpr (Key) {
            if (keyed[at] | keyed[at + 1] | keyed[at + pitch] | keyed[at + pitch + 1]) {
              std::uint32_t texel;
              if (ExactBilinear(t, tex, exact, x, texel)) Put(d, row, x, texel);
              continue;
            }
          }
          const std::uint32_t* p = words + at;
          PutLanes(d, row, x,
                   BilinearLanes(p[0], p[1], p[pitch], p[pitch + 1],
                                 PairWeights(static_cast<std::uint32_t>(U) >> 18),
                                 PairWeights(static_cast<std::uint32_t>(V) >> 18)));
        }
      }
    }
  }
};

using DrawFn = void (*)(const Drawing&, const Triangle&);

template <class Px, bool Linear, bool Key, Blend B>
DrawFn ChooseStage(Stage st) {
  switch (st) {
    case Stage::Texel:
      return &SpanDrawer<Px, Linear, Key, B, Stage::Texel>::Draw;
    case Stage::OpaqueTexel:
      return &SpanDrawer<Px, Linear, Key, B, Stage::OpaqueTexel>::Draw;
    default:
      return &SpanDrawer<Px, Linear, Key, B, Stage::Table>::Draw;
  }
}
template <class Px, bool Linear, bool Key>
DrawFn ChooseBlend(Blend b, Stage st) {
  switch (b) {
    case Blend::Copy:
      return ChooseStage<Px, Linear, Key, Blend::Copy>(st);
    case Blend::Add:
      return ChooseStage<Px, Linear, Key, Blend::Add>(st);
    case Blend::Sub:
      return ChooseStage<Px, Linear, Key, Blend::Sub>(st);
    default:
      return ChooseStage<Px, Linear, Key, Blend::Alpha>(st);
  }
}
template <class Px>
DrawFn ChooseFilter(bool linear, bool key, Blend b, Stage st) {
  if (linear) return key ? ChooseBlend<Px, true, true>(b, st) : ChooseBlend<Px, true, false>(b, st);
  return key ? ChooseBlend<Px, false, true>(b, st) : ChooseBlend<Px, false, false>(b, st);
}

enum class TargetKind { None, Rgb32, Argb32, Rgb565, Rgb555 };

TargetKind KindOf(const ddraw::PixelFormat& f) {
  if (f.IsIndexed()) return TargetKind::None;
  if (f.BitCount == 32 && f.RMask == 0xFF0000 && f.GMask == 0xFF00 && f.BMask == 0xFF)
    return f.AMask == 0 ? TargetKind::Rgb32
                        : (f.AMask == 0xFF000000u ? TargetKind::Argb32 : TargetKind::None);
  if (f.BitCount == 16 && f.AMask == 0 && f.BMask == 0x1F) {
    if (f.RMask == 0xF800 && f.GMask == 0x07E0) return TargetKind::Rgb565;
    if (f.RMask == 0x7C00 && f.GMask == 0x03E0) return TargetKind::Rgb555;
  }
  return TargetKind::None;
}

DrawFn Choose(TargetKind k, bool linear, bool key, Blend b, Stage st) {
  switch (k) {
    case TargetKind::Rgb32:
      return ChooseFilter<Target32<false>>(linear, key, b, st);
    case TargetKind::Argb32:
      return ChooseFilter<Target32<true>>(linear, key, b, st);
    case TargetKind::Rgb565:
      return ChooseFilter<Target16<6>>(linear, key, b, st);
    case TargetKind::Rgb555:
      return ChooseFilter<Target16<5>>(linear, key, b, st);
    default:
      return nullptr;
  }
}

// The blend the render states ask for, or false for one only the per-pixel drawer knows.
bool BlendOf(const std::array<DWORD, kD3DRenderStateCount>& rs, Blend& b) {
  if (!rs[D3DRENDERSTATE_ALPHABLENDENABLE]) {
    b = Blend::Copy;
    return true;
  }
  const DWORD s = rs[D3DRENDERSTATE_SRCBLEND], d = rs[D3DRENDERSTATE_DESTBLEND];
  if (s == D3DBLEND_ONE && d == D3DBLEND_ZERO)
    b = Blend::Copy;
  else if (s == D3DBLEND_ONE && d == D3DBLEND_ONE)
    b = Blend::Add;
  else if (s == D3DBLEND_ZERO && d == D3DBLEND_INVSRCCOLOR)
    b = Blend::Sub;
  else if (s == D3DBLEND_SRCALPHA && d == D3DBLEND_INVSRCALPHA)
    b = Blend::Alpha;
  else
    return false;
  return true;
}

// Whether the per-pixel formula's texture coordinates follow a plane closely enough for the
// fixed-point steps to stand in for them. Its rounding error grows with the square of the
// triangle's size over its area (the edge values are products of coordinates, divided by the
// area); triangles so thin that the error could come near the guard go pixel by pixel, as do
// those whose coordinates change by absurd amounts from one pixel to the next.
bool Steady(const Triangle& t, int texW, int texH) {
  const Vertex &a = *t.V[0], &b = *t.V[1], &c = *t.V[2];
  const double extent = std::max({a.X, b.X, c.X}) - std::min({a.X, b.X, c.X}) +
                        std::max({a.Y, b.Y, c.Y}) - std::min({a.Y, b.Y, c.Y}) + 2;
  double texels = 1;
  for (const Vertex* v : t.V) texels += std::abs(v->U) * texW + std::abs(v->V) * texH;
  const double error = std::ldexp(extent * extent / t.TwiceArea * texels, -48);
  const double step = extent / t.TwiceArea * texels;
  return error < std::ldexp(1.0, -20) && step < std::ldexp(1.0, 22);
}

}  // namespace

SpanDrawerCounts& SpanCounts() {
  thread_local SpanDrawerCounts counts;
  return counts;
}

bool DrawSpans(ddraw::Surface& Target, const RasterStates& States, D3DPRIMITIVETYPE Type,
               const Vertex* Vertices, DWORD Count, ddraw::Surface* Texture) {
  // A texture that is the target itself changes under the drawing, texel by texel as the
  // per-pixel drawer goes: only that drawer draws it.
  if (!Texture || &Texture->Store() == &Target.Store()) return false;
  const auto& rs = *States.Render;
  const auto& ts = *States.Stage0;
  const TargetKind kind = KindOf(Target.Format());
  Blend blend;
  if (kind == TargetKind::None || !BlendOf(rs, blend)) return false;
  // Colour arguments that copy alpha into the colour channels mix channels: no tables for them.
  const StageOps ops{ts[D3DTSS_COLOROP], ts[D3DTSS_COLORARG1], ts[D3DTSS_COLORARG2],
                     ts[D3DTSS_ALPHAOP], ts[D3DTSS_ALPHAARG1], ts[D3DTSS_ALPHAARG2]};
  if ((ops.ColorArg1 | ops.ColorArg2) & D3DTA_ALPHAREPLICATE) return false;

  // One vertex colour and one rhw throughout, and coordinates of a sane size.
  double uMin = Vertices[0].U, uMax = uMin, vMin = Vertices[0].V, vMax = vMin;
  for (DWORD i = 0; i < Count; ++i) {
    const Vertex& v = Vertices[i];
    if (v.Diffuse != Vertices[0].Diffuse || v.Rhw != Vertices[0].Rhw) return false;
    if (!std::isfinite(v.U) || !std::isfinite(v.V)) return false;
    uMin = std::min(uMin, v.U), uMax = std::max(uMax, v.U);
    vMin = std::min(vMin, v.V), vMax = std::max(vMax, v.V);
  }
  const int texW = Texture->Width(), texH = Texture->Height();
  if (std::max(std::abs(uMin), std::abs(uMax)) * texW > kMaxTexels ||
      std::max(std::abs(vMin), std::abs(vMax)) * texH > kMaxTexels)
    return false;

  // Every pixel's texels lie between the vertices' (plus the bilinear neighbours and a margin).
  // Kept between drawings, so that their memory is not fetched from the system every time.
  thread_local Texels tex;
  if (!PrepareTexels(*Texture, rs[D3DRENDERSTATE_COLORKEYENABLE] != 0, ts[D3DTSS_ADDRESSU],
                     ts[D3DTSS_ADDRESSV], static_cast<int>(std::floor(uMin * texW)) - 2,
                     static_cast<int>(std::floor(uMax * texW)) + 2,
                     static_cast<int>(std::floor(vMin * texH)) - 2,
                     static_cast<int>(std::floor(vMax * texH)) + 2, tex))
    return false;

  Drawing d;
  d.Target = &Target.Store();
  d.Tex = &tex;
  d.Cull = rs[D3DRENDERSTATE_CULLMODE];
  d.MagLinear = ts[D3DTSS_MAGFILTER] == D3DTFG_LINEAR;
  d.MinLinear = ts[D3DTSS_MINFILTER] == D3DTFN_LINEAR;
  const Colour diffuse = FromD3DColor(Vertices[0].Diffuse);
  bool colourKept = true, alphaKept = true;
  for (int value = 0; value < 256; ++value) {
    const Colour out = StageOutput(ops, diffuse, {value, value, value, value});
    d.Lut[0][value] = static_cast<std::uint8_t>(out.A);
    d.Lut[1][value] = static_cast<std::uint8_t>(out.R);
    d.Lut[2][value] = static_cast<std::uint8_t>(out.G);
    d.Lut[3][value] = static_cast<std::uint8_t>(out.B);
    colourKept = colourKept && out.R == value && out.G == value && out.B == value;
    alphaKept = alphaKept && out.A == value;
  }
  const bool needAlpha = blend == Blend::Alpha || kind == TargetKind::Argb32;
  const bool opaque = Texture->Format().IsIndexed() || Texture->Format().AMask == 0;
  Stage stage = Stage::Table;
  if (colourKept && (alphaKept || !needAlpha)) {
    stage = Stage::Texel;
  } else if (colourKept && opaque) {
    // Every texel has alpha 255, so every source has the same alpha.
    stage = Stage::OpaqueTexel;
    const short a = d.Lut[0][255];
    d.ColourLanes = _mm_set_epi16(0, 0, 0, 0, 0, -1, -1, -1);
    d.AlphaLane = _mm_set_epi16(0, 0, 0, 0, a, 0, 0, 0);
    d.AlphaEverywhere = _mm_set1_epi16(a);
  }
  const bool key = tex.HasKey;
  const DrawFn point = Choose(kind, false, key, blend, stage);
  const DrawFn linear = Choose(kind, true, key, blend, stage);

  ForEachTriangle(Type, Vertices, Count, [&](const Vertex& a, const Vertex& b, const Vertex& c) {
    Triangle t;
    if (!SetUpTriangle(a, b, c, d.Cull, d.Target->Width, d.Target->Height, texW, texH, d.MagLinear,
                       d.MinLinear, t))
      return;
    if (!Steady(t, texW, texH)) {
      ++SpanCounts().TrianglesLeft;
      const Vertex one[3] = {a, b, c};
      DrawPerPixel(Target, States, D3DPT_TRIANGLELIST, one, 3, Texture);
      return;
    }
    (t.Linear ? linear : point)(d, t);
  });
  // A one-off huge drawing does not keep its memory.
  if (tex.Words.capacity() > (std::size_t{1} << 22)) tex = Texels{};
  return true;
}

}  // namespace d3d::raster
