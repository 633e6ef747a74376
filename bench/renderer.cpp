// The software renderer against pixman and memcpy on the same 32-bit pictures, in one run: alpha
// blend against OVER through a solid mask of the same alpha, add and subtract against ADD, copy
// against SRC and memcpy, a turned copy against pixman's nearest-filter transform, at two sizes,
// and a 16 x 16 blit for the cost of one call. The ratios are printed after the table, as
// throughput of ours over theirs.
#include <benchmark/benchmark.h>
#include <pixman.h>

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

struct Size {
  int W, H;
  std::string Name() const { return std::to_string(W) + "x" + std::to_string(H); }
};
constexpr Size kSizes[] = {{256, 256}, {512, 448}};

// A source and a destination picture, seen both by the renderer and by pixman.
struct Pictures {
  int W, H;
  std::vector<std::uint32_t> Src, Dst;
  DXRSurface S, D;
  pixman_image_t* PS = nullptr;
  pixman_image_t* PD = nullptr;
  pixman_image_t* Mask = nullptr;

  Pictures(int Width, int Height)
      : W(Width), H(Height), Src(std::size_t(Width) * Height), Dst(std::size_t(Width) * Height) {
    for (int i = 0; i < W * H; ++i) {
      Src[i] = 0x00406080u + static_cast<std::uint32_t>(i * 2654435761u >> 8 & 0xFFFF);
      Dst[i] = 0x00A08060u ^ static_cast<std::uint32_t>(i);
    }
    DXRSetRGBFormat(S, W, H, 0xFF0000, 0xFF00, 0xFF, 0, W * 4, Src.data(), 32);
    DXRSetRGBFormat(D, W, H, 0xFF0000, 0xFF00, 0xFF, 0, W * 4, Dst.data(), 32);
    PS = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, Src.data(), W * 4);
    PD = pixman_image_create_bits(PIXMAN_x8r8g8b8, W, H, Dst.data(), W * 4);
    const pixman_color_t a{0, 0, 0, static_cast<std::uint16_t>(kAlpha * 257)};
    Mask = pixman_image_create_solid_fill(&a);
  }
  ~Pictures() {
    pixman_image_unref(Mask);
    pixman_image_unref(PD);
    pixman_image_unref(PS);
  }
  std::size_t Bytes() const { return std::size_t(W) * H * 4; }
};

Pictures& Shared(int SizeIndex) {
  static std::unique_ptr<Pictures> p[2];
  if (!p[SizeIndex])
    p[SizeIndex] = std::make_unique<Pictures>(kSizes[SizeIndex].W, kSizes[SizeIndex].H);
  return *p[SizeIndex];
}

using Body = void (*)(Pictures&, int W, int H);

// Runs Draw on a W x H part of the shared pictures; the byte counter is the part's size, so
// rows of one size compare by time.
void Run(benchmark::State& State, int SizeIndex, int W, int H, Body Draw) {
  Pictures& p = Shared(SizeIndex);
  for (auto _ : State) {
    Draw(p, W, H);
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations()) * W * H * 4);
}

void Blit(Pictures& p, int W, int H, DXRBlendOp Op, int Alpha) {
  const TRect r{0, 0, W, H};
  DXRBlendBlit(p.D, p.S, r, r, Op, Alpha, false, 0);
}

template <DXRBlendOp Op, int Alpha, bool Words>
void Ours(Pictures& p, int W, int H) {
  DXRSetOption(1, Words ? 1 : 0);
  Blit(p, W, H, Op, Alpha);
  DXRSetOption(1, 1);
}

template <pixman_op_t Op, bool Masked>
void Theirs(Pictures& p, int W, int H) {
  pixman_image_composite32(Op, p.PS, Masked ? p.Mask : nullptr, p.PD, 0, 0, 0, 0, 0, 0, W, H);
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

// A copy turned by 32/256 of a turn about the middle of the picture (DrawRotate passes Alpha 0).
constexpr int kAngle = 32;
void OursRotate(Pictures& p, int W, int H) {
  const TRect all{0, 0, W, H};
  DXRBlendRotateBlit(p.D, p.S, W / 2, H / 2, W, H, all, 0.5, 0.5, kAngle, DXR_BLEND_LEFT, 0, false,
                     0);
}

// The same turn blended at alpha 128 (DrawRotateAlpha), for the cost of blending along turned
// rows; pixman has no row of its own for it.
void OursRotateAlpha(Pictures& p, int W, int H) {
  const TRect all{0, 0, W, H};
  DXRBlendRotateBlit(p.D, p.S, W / 2, H / 2, W, H, all, 0.5, 0.5, kAngle, DXR_BLEND_ALPHA, kAlpha,
                     false, 0);
}

// The same turn for pixman: destination points map back to the source by the opposite turn.
void TheirsRotate(Pictures& p, int W, int H) {
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
  pixman_image_set_transform(p.PS, &m);
  pixman_image_set_filter(p.PS, PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_composite32(PIXMAN_OP_SRC, p.PS, nullptr, p.PD, 0, 0, 0, 0, 0, 0, W, H);
  pixman_image_set_transform(p.PS, nullptr);
}

struct Case {
  const char* Name;
  Body Draw;
};
const Case kCases[] = {
    {"memcpy", &Memcpy},
    {"reference_alpha_loop", &ReferenceAlphaLoop},
    {"alpha/ours", &Ours<DXR_BLEND_ALPHA, kAlpha, true>},
    {"alpha/pixman_over_mask", &Theirs<PIXMAN_OP_OVER, true>},
    {"add/ours_words", &Ours<DXR_BLEND_ADD, 255, true>},
    {"add/ours_bytes", &Ours<DXR_BLEND_ADD, 255, false>},
    {"add/pixman_add", &Theirs<PIXMAN_OP_ADD, false>},
    {"alpha_add/ours", &Ours<DXR_BLEND_ALPHAADD, kAlpha, true>},
    {"alpha_add/pixman_add_mask", &Theirs<PIXMAN_OP_ADD, true>},
    // pixman has no subtraction; its add is the same amount of work.
    {"sub/ours_words", &Ours<DXR_BLEND_REVSUB, 255, true>},
    {"sub/ours_bytes", &Ours<DXR_BLEND_REVSUB, 255, false>},
    {"alpha_sub/ours", &Ours<DXR_BLEND_ALPHASUB, kAlpha, true>},
    {"copy/ours", &Ours<DXR_BLEND_LEFT, 255, true>},
    {"copy/pixman_src", &Theirs<PIXMAN_OP_SRC, false>},
    {"rotate/ours", &OursRotate},
    {"rotate/pixman_nearest", &TheirsRotate},
    {"rotate_alpha/ours", &OursRotateAlpha},
};

// Pairs whose throughput ratio (first over second) is printed after the table.
const char* const kRatios[][2] = {
    {"alpha/ours", "alpha/pixman_over_mask"},
    {"add/ours_words", "add/pixman_add"},
    {"add/ours_bytes", "add/pixman_add"},
    {"alpha_add/ours", "alpha_add/pixman_add_mask"},
    {"sub/ours_words", "add/pixman_add"},
    {"sub/ours_bytes", "add/pixman_add"},
    {"alpha_sub/ours", "alpha_add/pixman_add_mask"},
    {"copy/ours", "copy/pixman_src"},
    {"copy/ours", "memcpy"},
    {"rotate/ours", "rotate/pixman_nearest"},
    {"alpha/ours", "reference_alpha_loop"},
};

// The console table, then the ratios of the pairs above and the time of one small call.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Reports) override {
    for (const Run& r : Reports)
      if (!r.error_occurred) Seconds[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(Reports);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nThroughput ratios (ours / theirs; above 1 is faster):\n");
    for (const Size& s : kSizes)
      for (const auto& pair : kRatios) {
        const auto a = Seconds.find(std::string(pair[0]) + "/" + s.Name());
        const auto b = Seconds.find(std::string(pair[1]) + "/" + s.Name());
        if (a == Seconds.end() || b == Seconds.end() || a->second <= 0) continue;
        std::printf("  %-9s %-16s vs %-26s %6.2fx\n", s.Name().c_str(), pair[0], pair[1],
                    b->second / a->second);
      }
    for (const char* name :
         {"alpha/ours/16x16", "copy/ours/16x16", "alpha/pixman_over_mask/16x16"}) {
      const auto a = Seconds.find(name);
      if (a != Seconds.end()) std::printf("  one %-30s %8.3f us per call\n", name, a->second / 1e3);
    }
  }

 private:
  std::map<std::string, double> Seconds;  // adjusted time per iteration, in the default unit (ns)
};

}  // namespace

int main(int argc, char** argv) {
  for (int si = 0; si < 2; ++si)
    for (const Case& c : kCases) {
      const Size s = kSizes[si];
      benchmark::RegisterBenchmark(
          (std::string(c.Name) + "/" + s.Name()).c_str(),
          [si, s, c](benchmark::State& st) { Run(st, si, s.W, s.H, c.Draw); });
    }
  for (const Case& c : kCases) {
    const std::string n = c.Name;
    if (n != "alpha/ours" && n != "copy/ours" && n != "alpha/pixman_over_mask") continue;
    benchmark::RegisterBenchmark((n + "/16x16").c_str(),
                                 [c](benchmark::State& st) { Run(st, 0, 16, 16, c.Draw); });
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
