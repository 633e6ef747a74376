#include "framework/graphics/DXRKernel.h"

#include <algorithm>
#include <cstring>

#include "framework/graphics/DXRBlendOps.h"
#include "framework/graphics/DXRMachine.h"
#include "framework/graphics/DXRTables.h"

namespace {

bool KernelsOn = true;
bool VectorsOn = true;
std::uint64_t KernelRuns[static_cast<int>(DXRKernelStepping::Count)] = {};

constexpr int kLaneShift[4] = {16, 8, 0, 24};

struct KnownFormat {
  DWORD BitCount, R, G, B, A;
  DXRKernelFormat Format;
};
constexpr KnownFormat kFormats[] = {
    {32, 0xFF0000, 0xFF00, 0xFF, 0, DXRKernelFormat::XRGB8888},
    {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, DXRKernelFormat::ARGB8888},
    {16, 0xF800, 0x07E0, 0x001F, 0, DXRKernelFormat::RGB565},
    {16, 0x7C00, 0x03E0, 0x001F, 0, DXRKernelFormat::XRGB1555},
    {16, 0x7C00, 0x03E0, 0x001F, 0x8000, DXRKernelFormat::ARGB1555},
    {24, 0xFF0000, 0xFF00, 0xFF, 0, DXRKernelFormat::RGB888},
};

DXRKernelFormat FormatOf(const DXRSurface& S) {
  if (S.ColorType == DXR_COLORTYPE_INDEXED) {
    const DXRChannel& i = S.Channels[0];
    const bool plain = S.BitCount == 8 && i.Mask == 0xFF && i.RightShift == 0 && i.LeftShift == 0 &&
                       S.Channels[1].Mask == 0;
    return plain ? DXRKernelFormat::Indexed8 : DXRKernelFormat::Count;
  }
  if (S.ColorType != DXR_COLORTYPE_RGB) return DXRKernelFormat::Count;
  for (const KnownFormat& f : kFormats)
    if (S.BitCount == f.BitCount && S.Channels[0].Mask == f.R && S.Channels[1].Mask == f.G &&
        S.Channels[2].Mask == f.B && S.Channels[3].Mask == f.A)
      return f.Format;
  return DXRKernelFormat::Count;
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
    if (DXRUseMMX() && DXRBlendOpHasWordForm(blend.Op) &&
        (!LowBytesZero(*blend.Left, Root->ChannelMask) ||
         !LowBytesZero(*blend.Right, Root->ChannelMask)))
      return;
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
  K.Rows[0] = nullptr;
  if (VectorsOn) K.Rows[0] = DXRKernelContiguousRow(sf, op, df, key, true);
  K.SIMD = K.Rows[0] != nullptr;
  if (!K.Rows[0]) K.Rows[0] = DXRKernelContiguousRow(sf, op, df, key, false);
  K.Rows[1] = DXRKernelScaledRow(sf, op, df, key);
  K.Rows[2] = DXRKernelRotatedRow(sf, op, df, key);
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
  if (sf == DXRKernelFormat::Indexed8)
    for (int i = 0; i < 256; ++i)
      K.Palette[i] = (DWORD{src.Palette[i][0]} << 16) | (DWORD{src.Palette[i][1]} << 8) |
                     src.Palette[i][2] | K.Defaults;
  K.ColumnsCount = -1;
  K.Chosen = true;
}

}  // namespace

void DXRKernel::Clear() {
  Chosen = false;
  for (DXRKernelRowProc& r : Rows) r = nullptr;
  Stage = nullptr;
  Replay = false;
  ColumnsCount = -1;
}

void DXRChooseKernel(TDXRMachine& M, DXRNode* Root) {
  M.Plan.Kernel.Clear();
  if (!KernelsOn || !Root || !M.Dest) return;
  Choose(M, Root);
  if (!M.Plan.Kernel.Chosen) M.Plan.Kernel.Clear();
}

bool DXRRunKernel(TDXRMachine& M, int Count) {
  TDXRPlan& P = M.Plan;
  DXRKernel& K = P.Kernel;
  DXRTextureStage& t = *K.Stage;
  const DWORD u = static_cast<DWORD>(t.U), v = static_cast<DWORD>(t.V);
  const DWORD su = static_cast<DWORD>(K.FromStage ? t.StepU : K.StepU);
  const DWORD sv = static_cast<DWORD>(K.FromStage ? t.StepV : K.StepV);
  const std::ptrdiff_t destBytes = K.DestBytes;

  DXRKernelRow row;
  row.Dest = P.DestBits + static_cast<std::ptrdiff_t>(M.Y) * P.DestPitch +
             static_cast<std::ptrdiff_t>(M.X) * destBytes;
  row.U = u;
  row.V = v;
  row.DU = su;
  row.DV = sv;
  DXRKernelStepping stepping;
  // The pixels that may be drawn are 0 to last - 1.
  int last = Count;
  if (sv == 0 && su == 0x10000) {
    stepping = DXRKernelStepping::Contiguous;
    const DWORD c0 = u >> 16, r = v >> 16;
    // Columns past 65535 wrap back to 0; such a run is left to the plan.
    if (DWORD{c0} + static_cast<DWORD>(Count) > 0x10000) return false;
    last = (r < K.SrcHeight && c0 < K.SrcWidth)
               ? static_cast<int>(std::min<DWORD>(static_cast<DWORD>(Count), K.SrcWidth - c0))
               : 0;
    row.Src = K.SrcBits + static_cast<std::ptrdiff_t>(r) * K.SrcPitch +
              static_cast<std::ptrdiff_t>(c0) * K.SrcBytes;
    row.Count = last;
  } else if (sv == 0) {
    stepping = DXRKernelStepping::Scaled;
    const DWORD r = v >> 16;
    if (r >= K.SrcHeight) {
      last = 0;
    } else {
      if (K.ColumnsCount != Count || K.ColumnsU != u || K.ColumnsStep != su) {
        K.Columns.resize(static_cast<std::size_t>(Count));
        DWORD cu = u;
        for (int i = 0; i < Count; ++i, cu += su) {
          const DWORD c = cu >> 16;
          K.Columns[static_cast<std::size_t>(i)] =
              c < K.SrcWidth ? static_cast<std::int32_t>(c) : -1;
        }
        K.ColumnsCount = Count;
        K.ColumnsU = u;
        K.ColumnsStep = su;
      }
      row.Src = K.SrcBits + static_cast<std::ptrdiff_t>(r) * K.SrcPitch;
      row.Columns = K.Columns.data();
    }
    row.Count = Count;
  } else {
    stepping = DXRKernelStepping::Rotated;
    row.Count = Count;
  }

  // The last pixel drawn leaves its values in the temporaries: find it, and keep the
  // destination pixel it blends with before the row overwrites it.
  int drawn = -1;
  BYTE saved[4] = {};
  const DXRStep& read = P.Steps[0];
  if (K.Replay) {
    for (int i = last - 1; i >= 0; --i) {
      DWORD texel = 0;
      const DWORD iu = u + static_cast<DWORD>(i) * su, iv = v + static_cast<DWORD>(i) * sv;
      if (!DXRFetchTexel(read.Fetch, iu, iv, texel)) continue;
      if (K.Key && (texel & K.KeyMask) == K.ColorKey) continue;
      drawn = i;
      std::memcpy(saved, row.Dest + static_cast<std::ptrdiff_t>(i) * destBytes,
                  static_cast<std::size_t>(destBytes));
      break;
    }
  }

  if (last > 0) K.Rows[static_cast<int>(stepping)](K, row);

  if (drawn >= 0) {
    t.U = static_cast<int>(u + static_cast<DWORD>(drawn) * su);
    t.V = static_cast<int>(v + static_cast<DWORD>(drawn) * sv);
    DXRRunState st;
    st.Machine = &M;
    st.DestPtr = saved;
    for (const DXRStep& s : P.Steps) s.Proc(s, st);
  }
  t.U = static_cast<int>(u + static_cast<DWORD>(Count) * su);
  t.V = static_cast<int>(v + static_cast<DWORD>(Count) * sv);
  ++KernelRuns[static_cast<int>(stepping)];
  return true;
}

void DXRSetKernelsEnabled(bool On) { KernelsOn = On; }
bool DXRKernelsEnabled() { return KernelsOn; }
void DXRSetKernelVectorsEnabled(bool On) { VectorsOn = On; }
bool DXRKernelVectorsEnabled() { return VectorsOn; }
std::uint64_t DXRKernelRunCount(DXRKernelStepping Stepping) {
  return KernelRuns[static_cast<int>(Stepping)];
}
