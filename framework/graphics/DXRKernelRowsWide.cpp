// Unscaled copies of 32-bit texels between pictures of one format, moved 32 bytes at a time on
// processors that can. The program is built for the plain 64-bit instruction set, so these rows
// are compiled for the wider moves on their own and chosen only when the processor reports them.
#include <cstring>

#include "framework/graphics/DXRKernelPixels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace {

[[gnu::target("avx"), gnu::always_inline]] inline void CopyRow(const BYTE* s, BYTE* d, int n) {
  int i = 0;
  for (; i + 16 <= n; i += 16, s += 64, d += 64) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 32), b);
  }
  if (i + 8 <= n) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s)));
    i += 8, s += 32, d += 32;
  }
  if (i + 4 <= n) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    i += 4, s += 16, d += 16;
  }
  for (; i < n; ++i, s += 4, d += 4) std::memcpy(d, s, 4);
}

[[gnu::target("avx")]] void RawRowsAVX(const DXRKernel& K, const DXRKernelRow& R) {
  const int n = R.Count, rows = R.Rows;
  const DWORD h = K.SrcHeight, first = R.V >> 16;
  const std::ptrdiff_t pitch = K.SrcPitch, destPitch = R.DestPitch;
  const DWORD rowStep = R.RowStepV;
  BYTE* d = R.Dest;
  if (rowStep == 0x10000 && first < h && h - first >= static_cast<DWORD>(rows)) {
    // One source row after the other, all inside the picture: the common unscaled blit.
    const BYTE* s = R.Src + std::ptrdiff_t(first) * pitch;
    for (int row = 0; row < rows; ++row, s += pitch, d += destPitch) CopyRow(s, d, n);
    return;
  }
  DWORD v = R.V;
  for (int row = 0; row < rows; ++row, v += rowStep, d += destPitch)
    if ((v >> 16) < h) CopyRow(R.Src + std::ptrdiff_t(v >> 16) * pitch, d, n);
}

}  // namespace

bool DXRKernelHasWideRows() {
  static const bool has = __builtin_cpu_supports("avx");
  return has;
}

DXRKernelRowProc DXRKernelWideRawRow(DXRKernelFormat Src, DXRKernelFormat Dest) {
  const bool wide32 = Src == DXRKernelFormat::XRGB8888 || Src == DXRKernelFormat::ARGB8888;
  return Src == Dest && wide32 && DXRKernelHasWideRows() ? &RawRowsAVX : nullptr;
}

#else

bool DXRKernelHasWideRows() { return false; }
DXRKernelRowProc DXRKernelWideRawRow(DXRKernelFormat, DXRKernelFormat) { return nullptr; }

#endif
