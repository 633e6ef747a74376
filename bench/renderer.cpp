// The software renderer against pixman and memcpy on the same 32-bit pictures, in one run. Each
// of our operations is timed against every form in which pixman can do the same work (source
// and destination as x8r8g8b8 or a8r8g8b8, an equivalent operator, its plain block copy), and
// the ratio after the table is taken against the fastest of those forms in this run, named in
// the line. Before timing, every form is run once and its colours compared with the first form
// of its group; a form that gives other colours is left out of the choice.
//
// Groups: alpha blend against OVER through a solid mask of the same alpha; add against ADD;
// alpha add against ADD through the mask; subtract and alpha subtract, which pixman lacks,
// against its fastest add and masked add (the same amount of work); copy against SRC, OVER of
// an opaque source, pixman's block copy, and memcpy; a turned copy against pixman's
// nearest-filter transform, both over the whole box (pixman writes every pixel of it) and
// clipped to exactly the pixels ours writes (equal work), with the written pixels per second
// of each. A 16 x 16 alpha blend and copy give the cost of one small call; the alpha blend also
// with its alpha changing at every call, so that no call has the set-up of the one before.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/graphics/DXRender.h"

namespace {

constexpr int kAlpha = 128;
// A copy turned by 32/256 of a turn about the middle of the picture (DrawRotate passes Alpha 0).
constexpr int kAngle = 32;

struct Size {
  int W, H;
  std::string Name() const { return std::to_string(W) + "x" + std::to_string(H); }
};
constexpr Size kSizes[] = {{256, 256}, {512, 448}};
constexpr Size kSmall{16, 16};

void OursRotateOn(DXRSurface& D, DXRSurface& S, int W, int H, DXRBlendOp Op, int Alpha) {
  const TRect all{0, 0, W, H};
  DXRBlendRotateBlit(D, S, W / 2, H / 2, W, H, all, 0.5, 0.5, kAngle, Op, Alpha, false, 0);
}

// The turn for pixman: destination points map back to the source by the opposite turn.
pixman_transform_t TurnBack(int W, int H) {
  const double t = -2.0 * 3.14159265358979323846 * kAngle / 256.0;
  const double c = std::cos(t), s = std::sin(t), cx = W / 2.0, cy = H / 2.0;
  pixman_transform_t m;
  pixman_transform_init_identity(&m);
  m.matrix[0][0] = pixman_double_to_fixed(c);
  m.matrix[0][1] = pixman_double_to_fixed(-s);
  m.matrix[0][2] = pixman_double_to_fixed(cx - c * cx + s * cy);
  m.matrix[1][0] = pixman_double_to_fixed(s);
  m.matrix[1][1] = pixman_double_to_fixed(c);
  m.matrix[1][2] = pixman_double_to_fixed(cy - s * cx - c * cy);
  return m;
}

// A source and a destination picture, seen by the renderer and by pixman in both 32-bit
// formats. The source's alpha byte is 0; an opaque copy of it (alpha 255) serves the a8r8g8b8
// forms of OVER, which would draw nothing from a transparent source.
struct Pictures {
  int W, H;
  std::vector<std::uint32_t> Src, Opaque, Dst;
  DXRSurface S, D;
  pixman_image_t *SrcX, *SrcA, *OpaqueA, *DstX, *DstA, *Mask, *Mask2;
  // The turned sources, and destinations clipped to the pixels our turned copy writes.
  pixman_image_t *TurnX, *TurnA, *CoveredX, *CoveredA;
  std::vector<bool> Covered;
  std::int64_t CoveredCount = 0;

  Pictures(int Width, int Height)
      : W(Width), H(Height), Src(std::size_t(Width) * Height), Opaque(Src.size()), Dst(Src.size()) {
    for (int i = 0; i < W * H; ++i) {
      Src[i] = 0x00406080u + static_cast<std::uint32_t>(i * 2654435761u >> 8 & 0xFFFF);
      Opaque[i] = Src[i] | 0xFF000000u;
      Dst[i] = 0x00A08060u ^ static_cast<std::uint32_t>(i);
    }
    DXRSetRGBFormat(S, W, H, 0xFF0000, 0xFF00, 0xFF, 0, W * 4, Src.data(), 32);
    DXRSetRGBFormat(D, W, H, 0xFF0000, 0xFF00, 0xFF, 0, W * 4, Dst.data(), 32);
    SrcX = Bits(PIXMAN_x8r8g8b8, Src);
    SrcA = Bits(PIXMAN_a8r8g8b8, Src);
    OpaqueA = Bits(PIXMAN_a8r8g8b8, Opaque);
    DstX = Bits(PIXMAN_x8r8g8b8, Dst);
    DstA = Bits(PIXMAN_a8r8g8b8, Dst);
    const pixman_color_t a{0, 0, 0, static_cast<std::uint16_t>(kAlpha * 257)};
    Mask = pixman_image_create_solid_fill(&a);
    const pixman_color_t b{0, 0, 0, static_cast<std::uint16_t>((kAlpha - 1) * 257)};
    Mask2 = pixman_image_create_solid_fill(&b);
    TurnX = Bits(PIXMAN_x8r8g8b8, Src);
    TurnA = Bits(PIXMAN_a8r8g8b8, Src);
    const pixman_transform_t m = TurnBack(W, H);
    for (pixman_image_t* t : {TurnX, TurnA}) {
      pixman_image_set_transform(t, &m);
      pixman_image_set_filter(t, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
    FindCovered();
    CoveredX = Bits(PIXMAN_x8r8g8b8, Dst);
    CoveredA = Bits(PIXMAN_a8r8g8b8, Dst);
    ClipToCovered(CoveredX);
    ClipToCovered(CoveredA);
  }
  ~Pictures() {
    for (pixman_image_t* i :
         {SrcX, SrcA, OpaqueA, DstX, DstA, Mask, Mask2, TurnX, TurnA, CoveredX, CoveredA})
      pixman_image_unref(i);
  }
  Pictures(const Pictures&) = delete;
  Pictures& operator=(const Pictures&) = delete;

  pixman_image_t* Bits(pixman_format_code_t F, std::vector<std::uint32_t>& V) {
    return pixman_image_create_bits(F, W, H, V.data(), W * 4);
  }

  // The pixels our turned copy writes: those that no longer hold a value the source cannot
  // have (its top byte is 0).
  void FindCovered() {
    std::vector<std::uint32_t> scratch(Dst.size(), 0xFFFFFFFFu);
    DXRSurface d;
    DXRSetRGBFormat(d, W, H, 0xFF0000, 0xFF00, 0xFF, 0, W * 4, scratch.data(), 32);
    OursRotateOn(d, S, W, H, DXR_BLEND_LEFT, 0);
    Covered.resize(scratch.size());
    for (std::size_t i = 0; i < scratch.size(); ++i) {
      Covered[i] = scratch[i] != 0xFFFFFFFFu;
      CoveredCount += Covered[i];
    }
  }

  // One rectangle per run of covered pixels in a row.
  void ClipToCovered(pixman_image_t* Image) const {
    std::vector<pixman_box32_t> boxes;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W;) {
        if (!Covered[std::size_t(y) * W + x]) {
          ++x;
          continue;
        }
        const int start = x;
        while (x < W && Covered[std::size_t(y) * W + x]) ++x;
        boxes.push_back({start, y, x, y + 1});
      }
    pixman_region32_t region;
    pixman_region32_init_rects(&region, boxes.data(), static_cast<int>(boxes.size()));
    pixman_image_set_clip_region32(Image, &region);
    pixman_region32_fini(&region);
  }
  std::size_t Bytes() const { return std::size_t(W) * H * 4; }
};

Pictures& Shared(int SizeIndex) {
  static std::unique_ptr<Pictures> p[2];
  if (!p[SizeIndex])
    p[SizeIndex] = std::make_unique<Pictures>(kSizes[SizeIndex].W, kSizes[SizeIndex].H);
  return *p[SizeIndex];
}

// ---------------------------------------------------------------------------------------------
// The drawings

using Body = void (*)(Pictures&, int W, int H);

// The arithmetic (word or byte form) is chosen by the row before it runs.
template <DXRBlendOp Op, int Alpha>
void Ours(Pictures& p, int W, int H) {
  const TRect r{0, 0, W, H};
  DXRBlendBlit(p.D, p.S, r, r, Op, Alpha, false, 0);
}

void OursRotate(Pictures& p, int W, int H) { OursRotateOn(p.D, p.S, W, H, DXR_BLEND_LEFT, 0); }
// The same turn blended at alpha 128 (DrawRotateAlpha), for the cost of blending along turned
// rows; pixman has no form of it.
void OursRotateAlpha(Pictures& p, int W, int H) {
  OursRotateOn(p.D, p.S, W, H, DXR_BLEND_ALPHA, kAlpha);
}

// pixman's images by name, so that one template draws every form.
enum Img { SrcX, SrcA, OpaqueA, DstX, DstA, Mask, None, TurnX, TurnA, CoveredX, CoveredA };
pixman_image_t* ImageOf(Pictures& p, Img I) {
  switch (I) {
    case SrcX:
      return p.SrcX;
    case SrcA:
      return p.SrcA;
    case OpaqueA:
      return p.OpaqueA;
    case DstX:
      return p.DstX;
    case DstA:
      return p.DstA;
    case Mask:
      return p.Mask;
    case TurnX:
      return p.TurnX;
    case TurnA:
      return p.TurnA;
    case CoveredX:
      return p.CoveredX;
    case CoveredA:
      return p.CoveredA;
    default:
      return nullptr;
  }
}

template <pixman_op_t Op, Img S, Img M, Img D>
void Theirs(Pictures& p, int W, int H) {
  pixman_image_composite32(Op, ImageOf(p, S), ImageOf(p, M), ImageOf(p, D), 0, 0, 0, 0, 0, 0, W, H);
}

// The alpha blend with the alpha changing at every call (128, 127, 128...), as sprites of
// different set-ups drawn one after the other: ours compiles its routine at every call.
void OursAlternating(Pictures& p, int W, int H) {
  static bool odd = false;
  odd = !odd;
  const TRect r{0, 0, W, H};
  DXRBlendBlit(p.D, p.S, r, r, DXR_BLEND_ALPHA, odd ? kAlpha : kAlpha - 1, false, 0);
}
template <Img S, Img D>
void TheirsAlternating(Pictures& p, int W, int H) {
  static bool odd = false;
  odd = !odd;
  pixman_image_composite32(PIXMAN_OP_OVER, ImageOf(p, S), odd ? p.Mask : p.Mask2, ImageOf(p, D), 0,
                           0, 0, 0, 0, 0, W, H);
}

// pixman's own block copy between 32-bit pictures.
void TheirsBlt(Pictures& p, int W, int H) {
  pixman_blt(p.Src.data(), p.Dst.data(), p.W, p.W, 32, 32, 0, 0, 0, 0, W, H);
}

// Whole rows of the picture are one block of bytes; a part is copied row by row.
void Memcpy(Pictures& p, int W, int H) {
  if (W == p.W) {
    std::memcpy(p.Dst.data(), p.Src.data(), std::size_t(W) * H * 4);
    return;
  }
  for (int y = 0; y < H; ++y)
    std::memcpy(p.Dst.data() + std::size_t(y) * p.W, p.Src.data() + std::size_t(y) * p.W,
                std::size_t(W) * 4);
}

// What a hand-written loop does for the alpha blend: l * a + r * (255 - a) over 256.
void ReferenceAlphaLoop(Pictures& p, int W, int H) {
  const std::uint32_t a = kAlpha, b = 255 - a;
  for (int y = 0; y < H; ++y) {
    const std::uint32_t* s = p.Src.data() + std::size_t(y) * p.W;
    std::uint32_t* d = p.Dst.data() + std::size_t(y) * p.W;
    for (int i = 0; i < W; ++i) {
      const std::uint32_t l = s[i], r = d[i];
      const std::uint32_t red = (((l >> 16) & 255) * a + ((r >> 16) & 255) * b) >> 8;
      const std::uint32_t green = (((l >> 8) & 255) * a + ((r >> 8) & 255) * b) >> 8;
      const std::uint32_t blue = ((l & 255) * a + (r & 255) * b) >> 8;
      d[i] = (red << 16) | (green << 8) | blue;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The table

enum class Who { Ours, Pixman, Other };

struct Case {
  const char* Group;  // the work done; pixman forms of one group must agree in colour
  const char* Name;   // the row: group/name/size
  Who By;
  Body Draw;
  bool Small = false;          // also timed at 16 x 16
  bool WritesCovered = false;  // writes only the pixels our turned copy covers
  bool ByteForm = false;       // ours in the byte arithmetic (the use-MMX option off)
};

const Case kCases[] = {
    {"alpha", "ours", Who::Ours, &Ours<DXR_BLEND_ALPHA, kAlpha>, true},
    {"alpha", "pixman_over_x888_n_x888", Who::Pixman, &Theirs<PIXMAN_OP_OVER, SrcX, Mask, DstX>,
     true},
    {"alpha", "pixman_over_x888_n_8888", Who::Pixman, &Theirs<PIXMAN_OP_OVER, SrcX, Mask, DstA>,
     true},
    {"alpha", "pixman_over_8888_n_8888", Who::Pixman, &Theirs<PIXMAN_OP_OVER, OpaqueA, Mask, DstA>,
     true},
    {"alpha", "pixman_over_8888_n_x888", Who::Pixman, &Theirs<PIXMAN_OP_OVER, OpaqueA, Mask, DstX>,
     true},
    {"alpha", "reference_loop", Who::Other, &ReferenceAlphaLoop},
    {"alpha_alternating", "ours", Who::Ours, &OursAlternating, true},
    {"alpha_alternating", "pixman_over_x888_n_x888", Who::Pixman, &TheirsAlternating<SrcX, DstX>,
     true},
    {"alpha_alternating", "pixman_over_x888_n_8888", Who::Pixman, &TheirsAlternating<SrcX, DstA>,
     true},

    {"add", "ours_words", Who::Ours, &Ours<DXR_BLEND_ADD, 255>},
    {"add", "ours_bytes", Who::Ours, &Ours<DXR_BLEND_ADD, 255>, false, false, true},
    {"add", "pixman_add_x888_x888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcX, None, DstX>},
    {"add", "pixman_add_8888_8888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcA, None, DstA>},
    {"add", "pixman_add_x888_8888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcX, None, DstA>},

    {"alpha_add", "ours", Who::Ours, &Ours<DXR_BLEND_ALPHAADD, kAlpha>},
    {"alpha_add", "pixman_add_x888_n_x888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcX, Mask, DstX>},
    {"alpha_add", "pixman_add_8888_n_8888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcA, Mask, DstA>},
    {"alpha_add", "pixman_add_x888_n_8888", Who::Pixman, &Theirs<PIXMAN_OP_ADD, SrcX, Mask, DstA>},

    {"sub", "ours_words", Who::Ours, &Ours<DXR_BLEND_REVSUB, 255>},
    {"sub", "ours_bytes", Who::Ours, &Ours<DXR_BLEND_REVSUB, 255>, false, false, true},
    {"alpha_sub", "ours", Who::Ours, &Ours<DXR_BLEND_ALPHASUB, kAlpha>},

    {"copy", "ours", Who::Ours, &Ours<DXR_BLEND_LEFT, 255>, true},
    {"copy", "pixman_src_x888_x888", Who::Pixman, &Theirs<PIXMAN_OP_SRC, SrcX, None, DstX>, true},
    {"copy", "pixman_src_8888_8888", Who::Pixman, &Theirs<PIXMAN_OP_SRC, SrcA, None, DstA>, true},
    {"copy", "pixman_over_x888_x888", Who::Pixman, &Theirs<PIXMAN_OP_OVER, SrcX, None, DstX>, true},
    {"copy", "pixman_blt", Who::Pixman, &TheirsBlt, true},
    {"copy", "memcpy", Who::Other, &Memcpy, true},

    {"rotate", "ours", Who::Ours, &OursRotate, false, true},
    {"rotate", "pixman_src_nearest_box_x888", Who::Pixman,
     &Theirs<PIXMAN_OP_SRC, TurnX, None, DstX>},
    {"rotate", "pixman_src_nearest_box_8888", Who::Pixman,
     &Theirs<PIXMAN_OP_SRC, TurnA, None, DstA>},
    {"rotate", "pixman_src_nearest_covered_x888", Who::Pixman,
     &Theirs<PIXMAN_OP_SRC, TurnX, None, CoveredX>, false, true},
    {"rotate", "pixman_src_nearest_covered_8888", Who::Pixman,
     &Theirs<PIXMAN_OP_SRC, TurnA, None, CoveredA>, false, true},
    {"rotate_alpha", "ours", Who::Ours, &OursRotateAlpha, false, true},
};

// The group whose pixman forms an operation pixman lacks is compared with.
const char* AnchorGroup(const std::string& Group) {
  if (Group == "sub") return "add";
  if (Group == "alpha_sub") return "alpha_add";
  return Group.c_str();
}

std::string RowName(const Case& C, const Size& S) {
  return std::string(C.Group) + "/" + C.Name + "/" + S.Name();
}

// ---------------------------------------------------------------------------------------------
// Checking that the forms of a group do the same work

// The colours (alpha byte dropped) one drawing leaves on fresh pictures of the size.
std::vector<std::uint32_t> ColoursAfter(const Case& C, int SizeIndex) {
  const Size s = kSizes[SizeIndex];
  Pictures p(s.W, s.H);
  C.Draw(p, s.W, s.H);
  std::vector<std::uint32_t> out(p.Dst.size());
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = p.Dst[i] & 0x00FFFFFFu;
  return out;
}

// Whether each pixman form gives the colours of the first form of its group; forms writing the
// covered pixels only must match it there and leave the rest as it was.
std::map<std::string, bool> CheckForms() {
  std::map<std::string, bool> agree;
  std::printf("pixman forms against the first form of their group (colours, alpha ignored):\n");
  for (int si = 0; si < 2; ++si) {
    const Size s = kSizes[si];
    const Pictures fresh(s.W, s.H);
    std::map<std::string, std::vector<std::uint32_t>> first;
    for (const Case& c : kCases) {
      if (c.By != Who::Pixman) continue;
      const std::vector<std::uint32_t> got = ColoursAfter(c, si);
      auto [it, isFirst] = first.try_emplace(c.Group, got);
      std::size_t differ = 0;
      if (!isFirst)
        for (std::size_t i = 0; i < got.size(); ++i) {
          const bool written = !c.WritesCovered || fresh.Covered[i];
          const std::uint32_t want = written ? it->second[i] : fresh.Dst[i] & 0x00FFFFFFu;
          differ += got[i] != want;
        }
      agree[c.Name] = agree.count(c.Name) ? agree[c.Name] && differ == 0 : differ == 0;
      std::printf("  %-9s %-12s %-32s %s\n", s.Name().c_str(), c.Group, c.Name,
                  isFirst ? "(first)"
                  : differ == 0
                      ? "same"
                      : ("DIFFERS in " + std::to_string(differ) + " pixels: left out").c_str());
    }
    std::printf("  %-9s our turned copy writes %lld of %d pixels (%.1f %%)\n", s.Name().c_str(),
                static_cast<long long>(fresh.CoveredCount), s.W * s.H,
                100.0 * static_cast<double>(fresh.CoveredCount) / (s.W * s.H));
  }
  return agree;
}

// ---------------------------------------------------------------------------------------------
// Running and reporting

// Runs Draw on a W x H part of the shared pictures; the byte counter is the part's size, so
// rows of one size compare by time. Rows of the turned copies also count the pixels written.
void Run(benchmark::State& State, int SizeIndex, int W, int H, const Case& C) {
  Pictures& p = Shared(SizeIndex);
  DXRSetOption(1, C.ByteForm ? 0 : 1);
  for (auto _ : State) {
    C.Draw(p, W, H);
    benchmark::ClobberMemory();
  }
  DXRSetOption(1, 1);
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * W * H * 4);
  if (std::string(C.Group).starts_with("rotate"))
    State.counters["written_px"] = benchmark::Counter(
        static_cast<double>(C.WritesCovered ? p.CoveredCount : std::int64_t{W} * H),
        benchmark::Counter::kIsIterationInvariantRate);
}

// The console table, then each of our rows against the fastest agreeing pixman form of its
// work, and the time of one small call.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::map<std::string, bool> Agree) : Agree(std::move(Agree)) {}
  void ReportRuns(const std::vector<Run>& Reports) override {
    for (const Run& r : Reports)
      if (!r.error_occurred && r.run_type == Run::RT_Iteration)
        Seconds[r.run_name.str()].push_back(r.GetAdjustedCPUTime());
      else if (!r.error_occurred && r.aggregate_name == "median")
        Medians[r.run_name.str()] = r.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(Reports);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf(
        "\nThroughput ratios, ours / pixman's fastest agreeing form of the same work in this run "
        "(CPU time, median of the repetitions; above 1 is faster):\n");
    for (int si = 0; si < 2; ++si) Ratios(kSizes[si], Shared(si).CoveredCount);
    Ratios(kSmall, -1);
    std::printf("\nOne small call:\n");
    for (const Case& c : kCases)
      if (c.Small)
        if (const double t = Time(RowName(c, kSmall)); t > 0)
          std::printf("  %-40s %8.3f us\n", RowName(c, kSmall).c_str(), t / 1e3);
  }

 private:
  std::map<std::string, bool> Agree;
  std::map<std::string, std::vector<double>> Seconds;  // CPU time per repetition, in ns
  std::map<std::string, double> Medians;

  double Time(const std::string& Row) const {
    if (const auto m = Medians.find(Row); m != Medians.end()) return m->second;
    const auto s = Seconds.find(Row);
    if (s == Seconds.end() || s->second.empty()) return 0;
    std::vector<double> v = s->second;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  }

  // Covered is the pixel count of our turned copy at this size; -1 for the small calls.
  void Ratios(const Size& S, std::int64_t Covered) {
    const bool SmallOnly = Covered < 0;
    for (const Case& ours : kCases) {
      if (ours.By != Who::Ours || (SmallOnly && !ours.Small)) continue;
      const double t = Time(RowName(ours, S));
      if (t <= 0) continue;
      const std::string anchor = AnchorGroup(ours.Group);
      // For the turned copy, equal work is the covered forms (first line); the forms over the
      // whole box write more pixels but may still take less time, so the fastest of all forms
      // is shown too (second line), and every form by written pixels per second below.
      for (const bool equalWork : {true, false}) {
        if (!equalWork && anchor != "rotate") continue;
        const Case* best = nullptr;
        double bestTime = 0;
        for (const Case& c : kCases) {
          if (c.By != Who::Pixman || anchor != c.Group || !Agree[c.Name]) continue;
          if (anchor == "rotate" && equalWork && !c.WritesCovered) continue;
          const double u = Time(RowName(c, S));
          if (u > 0 && (!best || u < bestTime)) best = &c, bestTime = u;
        }
        if (best)
          std::printf("  %-9s %-22s vs %-42s %6.2fx\n", S.Name().c_str(),
                      (std::string(ours.Group) + "/" + ours.Name).c_str(),
                      (std::string(best->Group) + "/" + best->Name).c_str(), bestTime / t);
        else if (anchor == ours.Group && std::string(ours.Group) != "rotate_alpha")
          std::printf("  %-9s %-22s no pixman form timed\n", S.Name().c_str(),
                      (std::string(ours.Group) + "/" + ours.Name).c_str());
      }
      for (const Case& c : kCases)
        if (c.By == Who::Other && anchor == c.Group)
          if (const double u = Time(RowName(c, S)); u > 0)
            std::printf("  %-9s %-22s vs %-42s %6.2fx\n", S.Name().c_str(),
                        (std::string(ours.Group) + "/" + ours.Name).c_str(),
                        (std::string(c.Group) + "/" + c.Name).c_str(), u / t);
    }
    if (SmallOnly) return;
    // Written pixels per second of the turned copies.
    for (const Case& c : kCases)
      if (std::string(c.Group).starts_with("rotate"))
        if (const double u = Time(RowName(c, S)); u > 0)
          std::printf(
              "  %-9s %-46s %8.1f Mpx/s written\n", S.Name().c_str(),
              (std::string(c.Group) + "/" + c.Name).c_str(),
              static_cast<double>(c.WritesCovered ? Covered : std::int64_t{S.W} * S.H) / u * 1e3);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (int si = 0; si < 2; ++si)
    for (const Case& c : kCases) {
      const Size s = kSizes[si];
      benchmark::RegisterBenchmark(RowName(c, s).c_str(),
                                   [si, s, &c](benchmark::State& st) { Run(st, si, s.W, s.H, c); });
    }
  for (const Case& c : kCases)
    if (c.Small)
      benchmark::RegisterBenchmark(RowName(c, kSmall).c_str(), [&c](benchmark::State& st) {
        Run(st, 0, kSmall.W, kSmall.H, c);
      });
  RatioReporter reporter(CheckForms());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
