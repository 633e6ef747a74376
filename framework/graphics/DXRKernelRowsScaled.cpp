// The kernels that read the source columns of a column table, the rows of scaled blits.
#include "framework/graphics/DXRKernelPixels.h"

DXRKernelRowProc DXRKernelScaledRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                    bool Key, bool SIMD) {
#if MORVANE_DXR_SSE2
  // Gathering texels into vectors pays only where there is arithmetic to share; copies and
  // conversions go one pixel at a time.
  if (SIMD && (Op == DXRKernelOp::Raw || Op == DXRKernelOp::Convert)) return nullptr;
  if (SIMD) return dxrk::FindVectorRow<dxrk::ScaledRowsSSE2>(Src, Op, Dest, Key);
#else
  if (SIMD) return nullptr;
#endif
  return dxrk::Instances<dxrk::ScaledRows>::Find(Src, Op, Dest, Key);
}
