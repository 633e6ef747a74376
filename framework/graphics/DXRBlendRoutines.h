// The routines the blit layer has compiled on the default machine, kept with the set-up each
// was compiled for. The same set-up (surfaces, operation, alpha, steps, key, switches) compiles
// the same routine, so a blit whose set-up equals the one the machine holds runs that routine
// again as it is, and one equal to another kept set-up has its routine copied back into the
// machine; only a new set-up is compiled. Either way the machine ends as Reset and the compile
// would leave it. Only routines with a kernel are kept: whether one is chosen may depend on the
// temporaries, which runs change, and is checked again before a kept routine runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "framework/graphics/DXRMachine.h"

// What a compile reads of a surface: its colour type and the fields from its width to its
// channels, which follow one another without gaps; not the palette's colours, which the routine
// reads when it runs.
struct DXRSurfaceLayout {
  static constexpr std::size_t kFrom = offsetof(DXRSurface, Width);
  static constexpr std::size_t kBytes = offsetof(DXRSurface, Palette) - kFrom;
  static constexpr std::size_t kBlocks = kBytes / 16;
  static constexpr std::size_t kTail = kBytes - 16 * kBlocks;

  const DXRSurface* Surface = nullptr;
  BYTE ColorType = 0;
  alignas(16) unsigned char Fields[kBytes] = {};

  static const unsigned char* FieldsOf(const DXRSurface& S) {
    return reinterpret_cast<const unsigned char*>(&S) + kFrom;
  }
  void Take(const DXRSurface& S) {
    Surface = &S;
    ColorType = S.ColorType;
    std::memcpy(Fields, FieldsOf(S), kBytes);
  }
  // This runs at every blit: the blocks are compared without a branch per block.
  [[gnu::always_inline]] bool Same(const DXRSurface& S) const {
    const unsigned char* f = FieldsOf(S);
    if (Surface != &S || ColorType != S.ColorType ||
        std::memcmp(f + 16 * kBlocks, Fields + 16 * kBlocks, kTail) != 0)
      return false;
#if defined(__SSE2__)
    __m128i differ = _mm_setzero_si128();
    for (std::size_t i = 0; i < kBlocks; ++i)
      differ = _mm_or_si128(
          differ, _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f + 16 * i)),
                                _mm_load_si128(reinterpret_cast<const __m128i*>(Fields + 16 * i))));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) == 0xFFFF;
#else
    return std::memcmp(f, Fields, 16 * kBlocks) == 0;
#endif
  }
};
static_assert(DXRSurfaceLayout::kBytes == 2 * sizeof(int) + 7 * sizeof(DWORD) + sizeof(BYTE*) +
                                              sizeof(LONG) + sizeof(DWORD) +
                                              sizeof(DXRSurface::Channels),
              "the fields a compile reads are no longer one gapless block");

// The rest of what the blend machine's set-up and compile read.
struct DXRBlendParams {
  int Alpha = 0, StepU = 0, StepV = 0;
  DWORD ColorKey = 0;
  std::uint32_t Switches = 0;  // the count of switch changes
  DXRBlendOp Op = 0;
  bool Transparent = false;
  friend bool operator==(const DXRBlendParams&, const DXRBlendParams&) = default;
};

class TDXRBlendRoutines {
 public:
  // True when the machine now holds the routine of this set-up, as Reset and its compile would
  // leave the machine; false when it must be compiled.
  [[gnu::always_inline]] bool Take(TDXRMachine& M, const DXRBlendParams& Params,
                                   const DXRSurface& Dest, const DXRSurface& Src) {
    if (!On) return false;
    if (Held >= 0 && HeldSetUps == M.SetUps && Kept[Held].Matches(Params, Dest, Src)) {
      if (!Ready(M, Kept[Held])) return false;
      ++Reuses;
      return true;
    }
    return TakeKept(M, Params, Dest, Src);
  }
  // Keeps the routine the machine has just compiled for this set-up, when it has a kernel.
  void Keep(TDXRMachine& M, const DXRBlendParams& Params, const DXRSurface& Dest,
            const DXRSurface& Src);
  // Forgets every kept routine (the machine is going away).
  void Forget();

  bool On = true;
  std::uint64_t Reuses = 0;    // blits that ran the routine the machine held
  std::uint64_t Restores = 0;  // blits that had a kept routine copied back

 private:
  // A compiled routine: what Reset and the compile of its set-up leave in the machine that can
  // differ from one blit set-up to another.
  struct Routine {
    bool Valid = false;
    bool Recheck = false;  // preset words, or a kernel chosen on zero fractions
    std::uint64_t LastUse = 0;
    DXRBlendParams Params;
    DXRSurfaceLayout Dest, Src;

    bool MMXUsed = false;
    int NodeCount = 0;
    DXRNode Nodes[3];
    int TemporaryCount = 0;
    DXRSurface* MachineDest = nullptr;
    DXRTextureStage Stage;
    int UsedStageCount = 0;
    TDXRPlan Plan;

    [[gnu::always_inline]] bool Matches(const DXRBlendParams& P, const DXRSurface& D,
                                        const DXRSurface& S) const {
      return Valid && Params == P && Dest.Same(D) && Src.Same(S);
    }
  };
  static constexpr int kKept = 8;

  // Sets back what the last blit's runs changed and checks what the compile would check again.
  [[gnu::always_inline]] static bool Ready(TDXRMachine& M, const Routine& R) {
    M.X = 0;
    M.Y = 0;
    M.TextureStages[0].U = 0;
    M.TextureStages[0].V = 0;
    M.Plan.Kernel.Batch = false;
    M.Plan.Kernel.Pending = false;
    if (!R.Recheck) return true;
    DXRApplyPresets(M.Plan);
    return DXRKernelStillChosen(M);
  }
  bool TakeKept(TDXRMachine& M, const DXRBlendParams& Params, const DXRSurface& Dest,
                const DXRSurface& Src);

  Routine Kept[kKept];
  int Held = -1;  // the routine the machine holds while its set-up count is HeldSetUps
  std::uint64_t HeldSetUps = 0;
  std::uint64_t Clock = 0;
};

// The routines of the default machine. Never destroyed: the machine is freed at the renderer's
// shut-down, after the program's statics may already be gone, and forgets them then.
inline TDXRBlendRoutines& DXRBlendRoutines() {
  static TDXRBlendRoutines* const routines = new TDXRBlendRoutines;
  return *routines;
}
