#include "framework/graphics/DXRBlit.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "framework/graphics/DXCommon.h"
#include "framework/graphics/DXRBlendRoutines.h"
#include "framework/graphics/DXRTables.h"
#include "platform/rtl/SysUtils.h"

namespace {

TDXRMachine* DefaultMachine = nullptr;

// 32-bit arithmetic that wraps, as the set-up code's integers do.
inline int Wrap(std::int64_t V) { return static_cast<int>(static_cast<std::uint32_t>(V)); }
inline int Mul32(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) * static_cast<std::uint32_t>(B));
}
inline int Add32(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) + static_cast<std::uint32_t>(B));
}
inline int Sub32(int A, int B) {
  return static_cast<int>(static_cast<std::uint32_t>(A) - static_cast<std::uint32_t>(B));
}
// Cut toward zero; kept to 32 bits like an integer variable receiving it.
inline int TruncInt(long double V) { return Wrap(Trunc(V)); }

inline bool ClipDestRect(const DXRSurface& Dest, TRect& Rect, int& SkipX, int& SkipY) {
  SkipX = 0;
  SkipY = 0;
  if (Rect.Left < 0) {
    SkipX = Sub32(0, Rect.Left);
    Rect.Left = 0;
  }
  Rect.Right = IntMin(Rect.Right, Dest.Width);
  if (Rect.Right <= 0 || Rect.Right - Rect.Left <= 0) return false;
  if (Rect.Top < 0) {
    SkipY = Sub32(0, Rect.Top);
    Rect.Top = 0;
  }
  Rect.Bottom = IntMin(Rect.Bottom, Dest.Height);
  if (Rect.Bottom <= 0 || Rect.Bottom - Rect.Top <= 0) return false;
  return true;
}

// The 16.16 step through Src source pixels over Dest destination pixels; an unscaled blit, the
// common case, needs no division (Src * 65536 / Src is 65536 exactly).
inline int Step(int Src, int Dest) { return Src == Dest ? 65536 : MulDiv64(Src, 65536, Dest); }

bool SrcRectInside(const DXRSurface& Src, const TRect& R) {
  return R.Left >= 0 && R.Top >= 0 && R.Right <= Src.Width && R.Bottom <= Src.Height &&
         R.Left < R.Right && R.Top < R.Bottom;
}

}  // namespace

TDXRMachine* DXRDefaultMachine() {
  if (!DefaultMachine) DefaultMachine = new TDXRMachine;
  return DefaultMachine;
}

void DXRFreeDefaultMachine() {
  delete DefaultMachine;
  DefaultMachine = nullptr;
  DXRBlendRoutines().Forget();
}

void DXRSetBlendReuseEnabled(bool On) { DXRBlendRoutines().On = On; }
std::uint64_t DXRBlendReuseCount() {
  return DXRBlendRoutines().Reuses + DXRBlendRoutines().Restores;
}
std::uint64_t DXRBlendRestoreCount() { return DXRBlendRoutines().Restores; }

namespace {

// Sets the default machine up and compiles it, and keeps the routine.
[[gnu::noinline]] void CompileBlend(TDXRMachine& m, const DXRBlendParams& params, DXRSurface& Dest,
                                    DXRSurface& Src) {
  m.Reset();
  m.Dest = &Dest;
  DXRTextureStage& t = m.TextureStages[0];
  t.Surface = &Src;
  t.Transparent = params.Transparent ? 1 : 0;
  t.ColorKey = params.ColorKey;
  t.NoWrap = 1;
  t.StepU = params.StepU;
  t.StepV = params.StepV;
  t.FixedSteps = 1;
  const WORD def = static_cast<WORD>(static_cast<std::uint32_t>(params.Alpha) << 8);
  for (WORD& w : t.Defaults.W) w = def;
  DXRNode* d = m.AddKindNode(DXR_NODE_DEST);
  DXRNode* s = m.AddTextureNode(0);
  m.Compile(m.AddBlendNode(params.Op, s, d));
  DXRBlendRoutines().Keep(m, params, Dest, Src);
}

// The set-up as the blits call it, inlined into them: a blit whose routine is reused does
// little else.
[[gnu::always_inline]] inline void SetUpBlend(DXRSurface& Dest, DXRSurface& Src, DXRBlendOp BlendOp,
                                              int Alpha, int StepU, int StepV, bool Transparent,
                                              DWORD ColorKey) {
  TDXRMachine& m = *DXRDefaultMachine();
  const DXRBlendParams params{Alpha,   StepU,      StepV, ColorKey, DXRSwitchChanges,
                              BlendOp, Transparent};
  if (!DXRBlendRoutines().Take(m, params, Dest, Src)) CompileBlend(m, params, Dest, Src);
}

}  // namespace

void DXRSetupBlendMachine(DXRSurface& Dest, DXRSurface& Src, DXRBlendOp BlendOp, int Alpha,
                          int StepU, int StepV, bool Transparent, DWORD ColorKey) {
  SetUpBlend(Dest, Src, BlendOp, Alpha, StepU, StepV, Transparent, ColorKey);
}

bool DXRClipDestRect(const DXRSurface& Dest, TRect& Rect, int& SkipX, int& SkipY) {
  return ClipDestRect(Dest, Rect, SkipX, SkipY);
}

void DXRBlendBlit(DXRSurface& Dest, DXRSurface& Src, const TRect& DestRect, const TRect& SrcRect,
                  DXRBlendOp BlendOp, int Alpha, bool Transparent, DWORD ColorKey) {
  if (DestRect.Left >= DestRect.Right || DestRect.Top >= DestRect.Bottom) return;
  if (!SrcRectInside(Src, SrcRect)) return;
  TRect r = DestRect;
  int skipX, skipY;
  if (!ClipDestRect(Dest, r, skipX, skipY)) return;
  // Steps come from the whole rectangle, so a clipped draw shows the same pixels where it shows
  // any.
  const int stepU = Step(SrcRect.Right - SrcRect.Left, Sub32(DestRect.Right, DestRect.Left));
  const int stepV = Step(SrcRect.Bottom - SrcRect.Top, Sub32(DestRect.Bottom, DestRect.Top));
  const int u0 = Add32(Mul32(stepU, skipX), Mul32(SrcRect.Left, 65536));
  int v = Add32(Mul32(stepV, skipY), Mul32(SrcRect.Top, 65536));
  if (u0 < 0 || v < 0) return;
  const int w = r.Right - r.Left;
  const int h = r.Bottom - r.Top;
  if ((static_cast<std::uint32_t>(Add32(u0, Mul32(stepU, w))) >> 16) >
          static_cast<std::uint32_t>(Src.Width) ||
      (static_cast<std::uint32_t>(Add32(v, Mul32(stepV, h))) >> 16) >
          static_cast<std::uint32_t>(Src.Height))
    return;
  SetUpBlend(Dest, Src, BlendOp, Alpha, stepU, 0, Transparent, ColorKey);
  TDXRMachine& m = *DXRDefaultMachine();
  // A kernel draws every row in one go, as the row loop below would.
  if (DXRRunKernelRows(m, r.Left, r.Top, h, w, u0, v, stepV)) return;
  DXRTextureStage& t = m.TextureStages[0];
  for (int y = r.Top; y < r.Bottom; ++y) {
    m.X = r.Left;
    m.Y = y;
    t.U = u0;
    t.V = v;
    m.Run(w);
    v = Add32(v, stepV);
  }
}

bool DXRRotatedBounds(const DXRSurface& Dest, int X, int Y, int Width, int Height, double CenterX,
                      double CenterY, int Angle, TRect& Bounds) {
  const long double c = Cos256(static_cast<BYTE>(Angle & 255));
  const long double s = Sin256(static_cast<BYTE>(Angle & 255));
  const int cornersX[4] = {0, Width, 0, Width};
  const int cornersY[4] = {0, 0, Height, Height};
  int minX = 0, minY = 0, maxX = 0, maxY = 0;
  for (int i = 0; i < 4; ++i) {
    const long double a = TruncInt(cornersX[i] - static_cast<long double>(Width) * CenterX);
    const long double b = TruncInt(cornersY[i] - static_cast<long double>(Height) * CenterY);
    const int x = Add32(TruncInt(a * c - b * s), X);
    const int y = Add32(TruncInt(a * s + b * c), Y);
    if (i == 0 || x < minX) minX = x;
    if (i == 0 || x > maxX) maxX = x;
    if (i == 0 || y < minY) minY = y;
    if (i == 0 || y > maxY) maxY = y;
  }
  minX = IntMax(minX, 0);
  minY = IntMax(minY, 0);
  maxX = IntMin(maxX, Dest.Width);
  maxY = IntMin(maxY, Dest.Height);
  Bounds = TRect{minX, minY, maxX, maxY};
  return minX <= Dest.Width && maxX > 0 && maxX - minX > 0 && minY <= Dest.Height && maxY > 0 &&
         maxY - minY > 0;
}

void DXRBlendRotateBlit(DXRSurface& Dest, DXRSurface& Src, int X, int Y, int Width, int Height,
                        const TRect& SrcRect, double CenterX, double CenterY, int Angle,
                        DXRBlendOp BlendOp, int Alpha, bool Transparent, DWORD ColorKey) {
  if (Width == 0 || Height == 0 || !SrcRectInside(Src, SrcRect)) return;
  TRect bounds;
  if (!DXRRotatedBounds(Dest, X, Y, Width, Height, CenterX, CenterY, Angle, bounds)) return;
  const int minX = bounds.Left, minY = bounds.Top, maxY = bounds.Bottom;

  // Walk the destination and step through the source by the opposite turn.
  const BYTE back = static_cast<BYTE>((0u - static_cast<std::uint32_t>(Angle)) & 255);
  const int C = TruncInt(static_cast<long double>(Cos256(back)) * 65536);
  const int S = TruncInt(static_cast<long double>(Sin256(back)) * 65536);
  const int sw = SrcRect.Right - SrcRect.Left, sh = SrcRect.Bottom - SrcRect.Top;
  const int dUdx = MulDiv64(sw, C, Width);
  const int dVdx = MulDiv64(sh, S, Height);
  const int dUdy = MulDiv64(sw, S, Width);
  const int dVdy = MulDiv64(sh, C, Height);

  int rowU = Add32(
      Add32(TruncInt(static_cast<long double>(sw) * CenterX * 65536), Mul32(Sub32(minX, X), dUdx)),
      Add32(Mul32(Sub32(Y, minY), dUdy), Mul32(SrcRect.Left, 65536)));
  int rowV = Add32(Sub32(Add32(TruncInt(static_cast<long double>(sh) * CenterY * 65536),
                               Mul32(Sub32(minX, X), dVdx)),
                         Mul32(Sub32(Y, minY), dVdy)),
                   Mul32(SrcRect.Top, 65536));

  SetUpBlend(Dest, Src, BlendOp, Alpha, dUdx, dVdx, Transparent, ColorKey);
  TDXRMachine& m = *DXRDefaultMachine();
  DXRTextureStage& t = m.TextureStages[0];
  const std::int64_t L = std::int64_t{SrcRect.Left} << 16, T = std::int64_t{SrcRect.Top} << 16,
                     R = std::int64_t{SrcRect.Right} << 16, B = std::int64_t{SrcRect.Bottom} << 16;
  const std::int64_t du = dUdx, dv = dVdx;
  DXRBeginKernelRuns(m);
  for (int y = minY; y < maxY; ++y) {
    std::int64_t u = rowU, v = rowV;
    // Pixels at the start of the row that fall left of, right of, above or below the source
    // rectangle are skipped; the count then stops where the next edge is crossed. Division
    // truncates toward zero.
    std::int64_t skip = 0;
    if (du > 0 && u < L) skip = (L - u + du - 1) / du;
    if (du < 0 && u >= R) skip = (R - u + du) / du;
    if (dv > 0 && v < T) skip = std::max(skip, (T - v + dv - 1) / dv);
    if (dv < 0 && v >= B) skip = std::max(skip, (B - v + dv) / dv);
    u += skip * du;
    v += skip * dv;
    std::int64_t n = du >= 0 ? (R - u) / std::max<std::int64_t>(du, 1) : (u - L) / -du;
    n = std::min(n, dv >= 0 ? (B - v) / std::max<std::int64_t>(dv, 1) : (v - T) / -dv);
    n = std::min(n, std::int64_t{Dest.Width} - (minX + skip));
    // A coordinate that does not move along the row stays outside the source rectangle for the
    // whole row when it starts outside; nothing of such a row is drawn.
    if ((du == 0 && (u < L || u >= R)) || (dv == 0 && (v < T || v >= B))) n = 0;
    if (n >= 1) {
      m.X = static_cast<int>(minX + skip);
      m.Y = y;
      t.U = Wrap(u);
      t.V = Wrap(v);
      m.Run(static_cast<int>(n));
    }
    rowU = Sub32(rowU, dUdy);
    rowV = Add32(rowV, dVdy);
  }
  DXREndKernelRuns(m);
}
