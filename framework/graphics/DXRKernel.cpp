#include "framework/graphics/DXRKernel.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "framework/graphics/DXRBlendOps.h"
#include "framework/graphics/DXRMachine.h"
#include "framework/graphics/DXRTables.h"

namespace {

bool KernelsOn = true;
bool VectorsOn = true;
std::uint64_t KernelRuns[static_cast<int>(DXRKernelStepping::Count)] = {};
std::uint64_t WideRuns = 0;

constexpr int kLaneShift[4] = {16, 8, 0, 24};

DXRKernelFormat FormatOf(const DXRSurface& S) {
  using F = DXRKernelFormat;
  if (S.ColorType == DXR_COLORTYPE_INDEXED) {
    const DXRChannel& i = S.Channels[0];
    const bool plain = S.BitCount == 8 && i.Mask == 0xFF && i.RightShift == 0 && i.LeftShift == 0 &&
                       S.Channels[1].Mask == 0;
    return plain ? F::Indexed8 : F::Count;
  }
  if (S.ColorType != DXR_COLORTYPE_RGB) return F::Count;
  const DWORD r = S.Channels[0].Mask, g = S.Channels[1].Mask, b = S.Channels[2].Mask,
              a = S.Channels[3].Mask;
  switch (S.BitCount) {
    case 32:
      if (r != 0xFF0000 || g != 0xFF00 || b != 0xFF) return F::Count;
      return a == 0 ? F::XRGB8888 : a == 0xFF000000 ? F::ARGB8888 : F::Count;
    case 24:
      return r == 0xFF0000 && g == 0xFF00 && b == 0xFF && a == 0 ? F::RGB888 : F::Count;
    case 16:
      if (b != 0x001F) return F::Count;
      if (r == 0xF800 && g == 0x07E0 && a == 0) return F::RGB565;
      if (r != 0x7C00 || g != 0x03E0) return F::Count;
      return a == 0 ? F::XRGB1555 : a == 0x8000 ? F::ARGB1555 : F::Count;
    default:
      return F::Count;
  }
}

DXRKernelOp OpOf(DXRBlendOp Op) {
  switch (Op) {
    case DXR_BLEND_ADD:
      return DXRKernelOp::Add;
    case DXR_BLEND_REVSUB:
      return DXRKernelOp::RevSub;
    case DXR_BLEND_ALPHAADD:
      return DXRKernelOp::AlphaAdd;
    case DXR_BLEND_ALPHASUB:
      return DXRKernelOp::AlphaSub;
    case DXR_BLEND_ALPHA:
      return DXRKernelOp::Alpha;
    default:
      return DXRKernelOp::Count;
  }
}

// The bytes a surface's rows span.
struct Span {
  std::uintptr_t Low, High;
};
Span SpanOf(const BYTE* Bits, std::ptrdiff_t Pitch, DWORD Width, DWORD Height, DWORD BitCount) {
  const auto base = reinterpret_cast<std::uintptr_t>(Bits);
  const std::ptrdiff_t last = Height ? static_cast<std::ptrdiff_t>(Height - 1) * Pitch : 0;
  const std::uintptr_t row = (std::uintptr_t{Width} * BitCount + 7) / 8;
  return last >= 0 ? Span{base, base + static_cast<std::uintptr_t>(last) + row}
                   : Span{base + static_cast<std::uintptr_t>(last), base + row};
}

bool Overlap(const Span& A, const Span& B) { return A.Low < B.High && B.Low < A.High; }

// Whether the plan's texture read is a plain nearest read of the stage inside the picture.
bool PlainRead(const DXRStep& S, const DXRTextureStage& T) {
  return S.Stage == &T && !S.Stage2 && S.Fetch.Mode == 1 && (T.Filter == 0 || T.Filter == 2);
}

bool LowBytesZero(const DXRChannelGroup& G, BYTE Mask) {
  for (int k = 0; k < 4; ++k)
    if (((Mask >> k) & 1) && (G.W[k] & 0xFF) != 0) return false;
  return true;
}

// The row procedures of one instance, looked up once and kept.
struct RowProcs {
  bool Known = false;
  bool SIMD = false;
  bool Wide = false;
  DXRKernelRowProc Rows[3] = {};
};
const RowProcs& ProcsFor(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest, bool Key,
                         bool Vectors) {
  constexpr int nf = static_cast<int>(DXRKernelFormat::Count);
  constexpr int no = static_cast<int>(DXRKernelOp::Count);
  static RowProcs cache[nf][no][nf][2][2];
  RowProcs& p =
      cache[static_cast<int>(Src)][static_cast<int>(Op)][static_cast<int>(Dest)][Key][Vectors];
  if (!p.Known) {
    using Lookup = DXRKernelRowProc (*)(DXRKernelFormat, DXRKernelOp, DXRKernelFormat, bool, bool);
    const Lookup lookups[3] = {&DXRKernelContiguousRow, &DXRKernelScaledRow, &DXRKernelRotatedRow};
    for (int i = 0; i < 3; ++i) {
      if (Vectors) p.Rows[i] = lookups[i](Src, Op, Dest, Key, true);
      if (p.Rows[i]) p.SIMD = true;
      if (!p.Rows[i]) p.Rows[i] = lookups[i](Src, Op, Dest, Key, false);
    }
    if (Vectors && Op == DXRKernelOp::Raw && !Key)
      if (const DXRKernelRowProc wide = DXRKernelWideRawRow(Src, Dest)) {
        p.Rows[0] = wide;
        p.Wide = true;
      }
    p.Known = true;
  }
  return p;
}

void Choose(TDXRMachine& M, DXRNode* Root) {
  TDXRPlan& P = M.Plan;
  DXRKernel& K = P.Kernel;
  if (P.DepthActive || P.Pack.Dither || P.AdvanceX || !P.Slots.empty() || P.Stages.size() != 1)
    return;
  const DXRSurface& dest = *M.Dest;
  DXRTextureStage& t = *P.Stages[0].Stage;
  if (!t.Surface || Root->ChannelMask != DXRSurfaceChannels(dest)) return;
  const DXRSurface& src = *t.Surface;

  DXRKernelOp op = DXRKernelOp::Count;
  const DXRStep* read = nullptr;
  const DXRChannelGroup* fractions[2] = {nullptr, nullptr};
  if (P.Kind == DXRRoutineKind::Raw && P.Steps.size() == 1 && Root->Kind == DXR_NODE_TEXTURE) {
    op = DXRKernelOp::Raw;
    read = &P.Steps[0];
  } else if (P.Kind == DXRRoutineKind::Tree && P.Steps.size() == 1 &&
             Root->Kind == DXR_NODE_TEXTURE && P.Steps[0].Result == P.Root) {
    op = DXRKernelOp::Convert;
    read = &P.Steps[0];
  } else if (P.Kind == DXRRoutineKind::Tree && P.Steps.size() == 3 &&
             Root->Kind == DXR_NODE_BLEND && Root->Left && Root->Right &&
             Root->Left->Kind == DXR_NODE_TEXTURE && Root->Right->Kind == DXR_NODE_DEST) {
    const DXRStep& blend = P.Steps[2];
    op = OpOf(static_cast<DXRBlendOp>(Root->Value & 127));
    read = &P.Steps[0];
    if (op == DXRKernelOp::Count || blend.Result != P.Root || blend.Left != P.Steps[0].Result ||
        blend.Right != P.Steps[1].Result || P.Steps[1].Stage || blend.Op != (Root->Value & 127))
      return;
    // The word arithmetic keeps fractions the kernels do not: only where every fraction
    // it reads is zero (so both arithmetics give the same bytes) does a kernel stand in.
    if (DXRUseMMX() && DXRBlendOpHasWordForm(blend.Op)) {
      fractions[0] = blend.Left;
      fractions[1] = blend.Right;
      if (!LowBytesZero(*blend.Left, Root->ChannelMask) ||
          !LowBytesZero(*blend.Right, Root->ChannelMask))
        return;
    }
  } else {
    return;
  }
  if (!PlainRead(*read, t)) return;

  const DXRKernelFormat sf = FormatOf(src), df = FormatOf(dest);
  if (sf == DXRKernelFormat::Count || df == DXRKernelFormat::Count) return;
  if (df == DXRKernelFormat::Indexed8 && op != DXRKernelOp::Raw) return;
  // A picture drawn onto itself reads pixels the same run writes; the per-pixel order decides
  // what it reads, so it stays with the plan.
  if (Overlap(SpanOf(src.Bits, src.Pitch, static_cast<DWORD>(src.Width),
                     static_cast<DWORD>(src.Height), src.BitCount),
              SpanOf(dest.Bits, dest.Pitch, static_cast<DWORD>(dest.Width),
                     static_cast<DWORD>(dest.Height), dest.BitCount)))
    return;

  const bool key = read->Key.Active;
  const RowProcs& procs = ProcsFor(sf, op, df, key, VectorsOn);
  for (int i = 0; i < 3; ++i) K.Rows[i] = procs.Rows[i];
  K.SIMD = procs.SIMD;
  K.Wide = procs.Wide;
  if (!K.Rows[0] || !K.Rows[1] || !K.Rows[2]) return;

  K.SrcFormat = sf;
  K.DestFormat = df;
  K.Op = op;
  K.Key = key;
  K.KeyMask = read->Key.KeyMask;
  K.ColorKey = read->Key.ColorKey;
  K.Stage = &t;
  K.SrcBits = src.Bits;
  K.SrcPitch = src.Pitch;
  K.SrcWidth = static_cast<DWORD>(src.Width);
  K.SrcHeight = static_cast<DWORD>(src.Height);
  K.SrcBytes = src.BitCount / 8;
  K.DestBytes = dest.BitCount / 8;
  K.FromStage = P.Stages[0].FromStage;
  K.StepU = P.Stages[0].StepU;
  K.StepV = P.Stages[0].StepV;
  K.Replay = op != DXRKernelOp::Raw;
  // The channels the source lacks read as the stage's defaults.
  const BYTE has = DXRSurfaceChannels(src);
  K.Defaults = 0;
  for (int k = 0; k < 4; ++k)
    if (!((has >> k) & 1))
      K.Defaults |= DWORD{static_cast<BYTE>(t.Defaults.W[k] >> 8)} << kLaneShift[k];
  K.SrcPalette = sf == DXRKernelFormat::Indexed8 ? src.Palette : nullptr;
  K.Scratch.ColumnsCount = -1;
  K.Fractions[0] = fractions[0];
  K.Fractions[1] = fractions[1];
  K.FractionMask = Root->ChannelMask;
  K.Chosen = true;
}

}  // namespace

void DXRKernel::Clear() {
  Chosen = false;
  for (DXRKernelRowProc& r : Rows) r = nullptr;
  Stage = nullptr;
  SrcPalette = nullptr;
  Batch = false;
  Pending = false;
  Replay = false;
  Fractions[0] = Fractions[1] = nullptr;
  SIMD = Wide = false;
  Scratch.ColumnsCount = -1;
}

bool DXRKernelStillChosen(const TDXRMachine& M) {
  const DXRKernel& K = M.Plan.Kernel;
  if (!M.Compiled || !K.Chosen) return false;
  for (const DXRChannelGroup* g : K.Fractions)
    if (g && !LowBytesZero(*g, K.FractionMask)) return false;
  return true;
}

void DXRChooseKernel(TDXRMachine& M, DXRNode* Root) {
  M.Plan.Kernel.Clear();
  if (!KernelsOn || !Root || !M.Dest) return;
  Choose(M, Root);
  if (!M.Plan.Kernel.Chosen) M.Plan.Kernel.Clear();
}

namespace {

// One run of Count pixels from Dest with the stage at (U, V): its row, its stepping, and the
// pixels 0 to Last - 1 that may be drawn.
struct RunShape {
  DXRKernelRow Row;
  DXRKernelStepping Stepping = DXRKernelStepping::Contiguous;
  int Last = 0;
};

[[gnu::always_inline]] inline RunShape ShapeRun(DXRKernel& K, BYTE* Dest, DWORD U, DWORD V,
                                                DWORD SU, DWORD SV, int Count) {
  RunShape s;
  DXRKernelRow& row = s.Row;
  row.Dest = Dest;
  row.U = U;
  row.V = V;
  row.DU = SU;
  row.DV = SV;
  row.Count = Count;
  s.Last = Count;
  if (SV == 0 && SU == 0x10000) {
    const DWORD c0 = U >> 16;
    s.Last = c0 < K.SrcWidth
                 ? static_cast<int>(std::min<DWORD>(static_cast<DWORD>(Count), K.SrcWidth - c0))
                 : 0;
    row.Src = K.SrcBits + static_cast<std::ptrdiff_t>(c0) * K.SrcBytes;
    row.Count = s.Last;
  } else if (SV == 0) {
    s.Stepping = DXRKernelStepping::Scaled;
    if (K.Scratch.ColumnsCount != Count || K.Scratch.ColumnsU != U || K.Scratch.ColumnsStep != SU) {
      K.Scratch.Columns.resize(static_cast<std::size_t>(Count));
      DWORD cu = U;
      for (int i = 0; i < Count; ++i, cu += SU) {
        const DWORD c = cu >> 16;
        K.Scratch.Columns[static_cast<std::size_t>(i)] =
            c < K.SrcWidth ? static_cast<std::int32_t>(c) : -1;
      }
      K.Scratch.ColumnsCount = Count;
      K.Scratch.ColumnsU = U;
      K.Scratch.ColumnsStep = SU;
    }
    row.Src = K.SrcBits;
    row.Columns = K.Scratch.Columns.data();
  } else {
    s.Stepping = DXRKernelStepping::Rotated;
  }
  return s;
}

// The plan reads an indexed source's palette as it is when it draws; so does the table.
[[gnu::always_inline]] inline void LoadPalette(DXRKernel& K) {
  if (!K.SrcPalette) return;
  for (int i = 0; i < 256; ++i) {
    const BYTE* e = K.SrcPalette[i];
    K.Scratch.Palette[i] = (DWORD{e[0]} << 16) | (DWORD{e[1]} << 8) | e[2] | K.Defaults;
  }
}

// Columns past 65535 wrap back to 0 along an unscaled row; such runs are left to the plan.
bool Wraps(DWORD U, DWORD SU, DWORD SV, int Count) {
  return SV == 0 && SU == 0x10000 && (U >> 16) + static_cast<DWORD>(Count) > 0x10000;
}

// The last pixel of a run the plan would draw, or -1.
int LastDrawn(const DXRKernel& K, const DXRStep& Read, const RunShape& S) {
  if (S.Stepping == DXRKernelStepping::Contiguous) {
    const DWORD r = S.Row.V >> 16;
    if (r >= K.SrcHeight) return -1;
    if (!K.Key) return S.Last - 1;
    const BYTE* texels = S.Row.Src + static_cast<std::ptrdiff_t>(r) * K.SrcPitch;
    const auto scan = [&](auto Bytes) {
      constexpr DWORD n = decltype(Bytes)::value;
      for (int i = S.Last - 1; i >= 0; --i) {
        DWORD texel = 0;
        std::memcpy(&texel, texels + static_cast<std::ptrdiff_t>(i) * n, n);
        if ((texel & K.KeyMask) != K.ColorKey) return i;
      }
      return -1;
    };
    switch (K.SrcBytes) {
      case 1:
        return scan(std::integral_constant<DWORD, 1>{});
      case 2:
        return scan(std::integral_constant<DWORD, 2>{});
      case 3:
        return scan(std::integral_constant<DWORD, 3>{});
      default:
        return scan(std::integral_constant<DWORD, 4>{});
    }
  }
  const DXRKernelRow& row = S.Row;
  for (int i = S.Last - 1; i >= 0; --i) {
    DWORD texel = 0;
    const DWORD u = row.U + static_cast<DWORD>(i) * row.DU;
    const DWORD v = row.V + static_cast<DWORD>(i) * row.DV;
    if (!DXRFetchTexel(Read.Fetch, u, v, texel)) continue;
    if (K.Key && (texel & K.KeyMask) == K.ColorKey) continue;
    return i;
  }
  return -1;
}

// The pixel whose values the temporaries must hold when the kernel is done, with the
// destination value it blends with, kept before the kernel overwrites it.
struct Settle {
  int Pixel = -1;
  DWORD U = 0, V = 0;
  BYTE Dest[4] = {};

  void Keep(const DXRKernel& K, const RunShape& S, int I) {
    Pixel = I;
    U = S.Row.U + static_cast<DWORD>(I) * S.Row.DU;
    V = S.Row.V + static_cast<DWORD>(I) * S.Row.DV;
    const BYTE* p = S.Row.Dest + static_cast<std::ptrdiff_t>(I) * K.DestBytes;
    for (DWORD b = 0; b < K.DestBytes; ++b) Dest[b] = p[b];
  }
  // The plan's steps for that one pixel, reading the kept destination value.
  void Replay(TDXRMachine& M, DXRTextureStage& T) {
    if (Pixel < 0) return;
    T.U = static_cast<int>(U);
    T.V = static_cast<int>(V);
    DXRRunState st;
    st.Machine = &M;
    st.DestPtr = Dest;
    for (const DXRStep& s : M.Plan.Steps) s.Proc(s, st);
  }
};

// Replays the pending pixel of a bracket of runs; the stage keeps its coordinates.
void FlushPending(TDXRMachine& M) {
  DXRKernel& K = M.Plan.Kernel;
  if (!K.Pending) return;
  K.Pending = false;
  DXRTextureStage& t = *K.Stage;
  const int u = t.U, v = t.V;
  Settle s;
  s.Pixel = 0;
  s.U = K.PendingU;
  s.V = K.PendingV;
  std::memcpy(s.Dest, K.PendingDest, sizeof s.Dest);
  s.Replay(M, t);
  t.U = u;
  t.V = v;
}

// Draws the run of S (Rows of them, when S.Row says so) with the row procedure and counts them.
[[gnu::always_inline]] inline void Draw(DXRKernel& K, const RunShape& S) {
  const auto stepping = static_cast<int>(S.Stepping);
  if (S.Last > 0) {
    K.Rows[stepping](K, S.Row);
    if (K.Wide && S.Stepping == DXRKernelStepping::Contiguous)
      WideRuns += static_cast<std::uint64_t>(S.Row.Rows);
  }
  KernelRuns[stepping] += static_cast<std::uint64_t>(S.Row.Rows);
}

}  // namespace

bool DXRRunKernel(TDXRMachine& M, int Count) {
  TDXRPlan& P = M.Plan;
  DXRKernel& K = P.Kernel;
  DXRTextureStage& t = *K.Stage;
  const DWORD u = static_cast<DWORD>(t.U), v = static_cast<DWORD>(t.V);
  const DWORD su = static_cast<DWORD>(K.FromStage ? t.StepU : K.StepU);
  const DWORD sv = static_cast<DWORD>(K.FromStage ? t.StepV : K.StepV);
  if (Wraps(u, su, sv, Count)) {
    FlushPending(M);
    return false;
  }
  if (!K.Batch) LoadPalette(K);
  BYTE* dest = P.DestBits + static_cast<std::ptrdiff_t>(M.Y) * P.DestPitch +
               static_cast<std::ptrdiff_t>(M.X) * K.DestBytes;
  const RunShape shape = ShapeRun(K, dest, u, v, su, sv, Count);
  Settle settle;
  if (K.Replay) {
    const int last = LastDrawn(K, P.Steps[0], shape);
    if (last >= 0) settle.Keep(K, shape, last);
  }
  Draw(K, shape);
  if (!K.Batch) {
    settle.Replay(M, t);
  } else if (settle.Pixel >= 0) {
    K.Pending = true;
    K.PendingU = settle.U;
    K.PendingV = settle.V;
    std::memcpy(K.PendingDest, settle.Dest, sizeof settle.Dest);
  }
  t.U = static_cast<int>(u + static_cast<DWORD>(Count) * su);
  t.V = static_cast<int>(v + static_cast<DWORD>(Count) * sv);
  return true;
}

bool DXRRunKernelRows(TDXRMachine& M, int X, int Y, int Rows, int Count, int U, int V,
                      int RowStepV) {
  TDXRPlan& P = M.Plan;
  DXRKernel& K = P.Kernel;
  if (!M.Compiled || !K.Chosen || Rows < 1 || Count < 1) return false;
  FlushPending(M);
  DXRTextureStage& t = *K.Stage;
  const DWORD su = static_cast<DWORD>(K.FromStage ? t.StepU : K.StepU);
  const DWORD sv = static_cast<DWORD>(K.FromStage ? t.StepV : K.StepV);
  const DWORD u = static_cast<DWORD>(U);
  if (Wraps(u, su, sv, Count)) return false;
  // Rows that share bytes read what earlier rows wrote; the kept value would be stale.
  const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(Count) * K.DestBytes;
  if (Rows > 1 && (P.DestPitch < rowBytes && -P.DestPitch < rowBytes)) return false;
  LoadPalette(K);
  const auto rowV = [&](int R) {
    return static_cast<DWORD>(V) + static_cast<DWORD>(R) * static_cast<DWORD>(RowStepV);
  };
  BYTE* const firstDest = P.DestBits + static_cast<std::ptrdiff_t>(Y) * P.DestPitch +
                          static_cast<std::ptrdiff_t>(X) * K.DestBytes;
  const auto rowDest = [&](int R) {
    return firstDest + static_cast<std::ptrdiff_t>(R) * P.DestPitch;
  };
  // Only the last pixel drawn in the whole call leaves its values behind.
  Settle settle;
  if (K.Replay)
    for (int r = Rows - 1; r >= 0 && settle.Pixel < 0; --r) {
      const RunShape shape = ShapeRun(K, rowDest(r), u, rowV(r), su, sv, Count);
      const int last = LastDrawn(K, P.Steps[0], shape);
      if (last >= 0) settle.Keep(K, shape, last);
    }
  if (sv != 0) {
    for (int r = 0; r < Rows; ++r) Draw(K, ShapeRun(K, rowDest(r), u, rowV(r), su, sv, Count));
  } else {
    // Along a row only the source row moves from one row to the next: one call draws all.
    RunShape shape = ShapeRun(K, firstDest, u, static_cast<DWORD>(V), su, sv, Count);
    shape.Row.Rows = Rows;
    shape.Row.DestPitch = P.DestPitch;
    shape.Row.RowStepV = static_cast<DWORD>(RowStepV);
    // Whole rows of pictures without gaps between rows, copied unscaled: one block of bytes.
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(Count) * K.DestBytes;
    const DWORD firstRow = static_cast<DWORD>(V) >> 16;
    if (K.Op == DXRKernelOp::Raw && !K.Key && shape.Stepping == DXRKernelStepping::Contiguous &&
        K.SrcBytes == K.DestBytes && RowStepV == 0x10000 && shape.Last == Count &&
        P.DestPitch == rowBytes && K.SrcPitch == rowBytes && firstRow < K.SrcHeight &&
        K.SrcHeight - firstRow >= static_cast<DWORD>(Rows)) {
      std::memcpy(firstDest, shape.Row.Src + static_cast<std::ptrdiff_t>(firstRow) * K.SrcPitch,
                  static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(Rows));
      KernelRuns[static_cast<int>(shape.Stepping)] += static_cast<std::uint64_t>(Rows);
    } else {
      Draw(K, shape);
    }
  }
  settle.Replay(M, t);
  M.X = X;
  M.Y = Y + Rows - 1;
  t.U = static_cast<int>(u + static_cast<DWORD>(Count) * su);
  t.V = static_cast<int>(rowV(Rows - 1) + static_cast<DWORD>(Count) * sv);
  return true;
}

void DXRBeginKernelRuns(TDXRMachine& M) {
  DXRKernel& K = M.Plan.Kernel;
  if (!M.Compiled || !K.Chosen) return;
  FlushPending(M);
  K.Batch = true;
  LoadPalette(K);
}

void DXREndKernelRuns(TDXRMachine& M) {
  DXRKernel& K = M.Plan.Kernel;
  if (!K.Chosen) return;
  FlushPending(M);
  K.Batch = false;
}

void DXRSetKernelsEnabled(bool On) {
  if (KernelsOn != On) DXRNoteSwitchChange();
  KernelsOn = On;
}
bool DXRKernelsEnabled() { return KernelsOn; }
void DXRSetKernelVectorsEnabled(bool On) {
  if (VectorsOn != On) DXRNoteSwitchChange();
  VectorsOn = On;
}
bool DXRKernelVectorsEnabled() { return VectorsOn; }
std::uint64_t DXRKernelRunCount(DXRKernelStepping Stepping) {
  return KernelRuns[static_cast<int>(Stepping)];
}
std::uint64_t DXRKernelWideRunCount() { return WideRuns; }
