// The kernels that read the source columns of a column table, the rows of scaled blits.
#include "framework/graphics/DXRKernelPixels.h"

DXRKernelRowProc DXRKernelScaledRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                    bool Key) {
  return dxrk::Instances<dxrk::ScaledRows>::Find(Src, Op, Dest, Key);
}
