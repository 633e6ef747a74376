// The kernels that read one source column per pixel, the rows of unscaled blits.
#include "framework/graphics/DXRKernelPixels.h"

DXRKernelRowProc DXRKernelContiguousRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                        bool Key, bool SIMD) {
#if MORVANE_DXR_SSE2
  if (SIMD) {
    using T = dxrk::Instances<dxrk::ContiguousRowsSSE2>;
    using F = DXRKernelFormat;
    if (Src == F::XRGB8888 && Dest == F::XRGB8888)
      return T::ForOp<dxrk::XRGB8888, dxrk::XRGB8888>(Op, Key);
    if (Src == F::XRGB8888 && Dest == F::ARGB8888)
      return T::ForOp<dxrk::XRGB8888, dxrk::ARGB8888>(Op, Key);
    if (Src == F::ARGB8888 && Dest == F::XRGB8888)
      return T::ForOp<dxrk::ARGB8888, dxrk::XRGB8888>(Op, Key);
    if (Src == F::ARGB8888 && Dest == F::ARGB8888)
      return T::ForOp<dxrk::ARGB8888, dxrk::ARGB8888>(Op, Key);
    return nullptr;
  }
#else
  if (SIMD) return nullptr;
#endif
  return dxrk::Instances<dxrk::ContiguousRows>::Find(Src, Op, Dest, Key);
}
