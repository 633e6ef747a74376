// The kernels that step both source coordinates per pixel, the rows of rotated blits.
#include "framework/graphics/DXRKernelPixels.h"

DXRKernelRowProc DXRKernelRotatedRow(DXRKernelFormat Src, DXRKernelOp Op, DXRKernelFormat Dest,
                                     bool Key) {
  return dxrk::Instances<dxrk::RotatedRows>::Find(Src, Op, Dest, Key);
}
