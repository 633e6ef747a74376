// The kernels that read one source column per pixel, the rows of unscaled blits.
#include "framework/graphics/DXRKernelPixels.h"

DXRKernelRowProc DXRKernelContiguousRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                        bool Key, bool SIMD) {
#if MORVANE_DXR_SSE2
  if (SIMD) return dxrk::FindVectorRow<dxrk::ContiguousRowsSSE2>(Src, Op, Dest, Key);
#else
  if (SIMD) return nullptr;
#endif
  return dxrk::Instances<dxrk::ContiguousRows>::Find(Src, Op, Dest, Key);
}
