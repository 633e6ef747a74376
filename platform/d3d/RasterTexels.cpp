#include "platform/d3d/RasterTexels.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "platform/d3d/RasterCommon.h"
#include "platform/ddraw/DDrawObjects.h"

namespace d3d::raster {

bool PrepareTexels(ddraw::Surface& texture, bool useKey, DWORD addressU, DWORD addressV, int i0,
                   int i1, int j0, int j1, Texels& out) {
  const std::int64_t w = std::int64_t{i1} - i0 + 1, h = std::int64_t{j1} - j0 + 1;
  ddraw::PixelStore& store = texture.Store();
  const std::int64_t texArea = std::int64_t{store.Width} * store.Height;
  if (w <= 0 || h <= 0 || w * h > std::max<std::int64_t>(4 * texArea + 4096, 1 << 16) ||
      w * h > (1 << 24))
    return false;
  out.I0 = i0, out.J0 = j0, out.Width = static_cast<int>(w), out.Height = static_cast<int>(h);
  out.TexW = store.Width, out.TexH = store.Height;
  if (out.Words.size() < static_cast<std::size_t>(w * h))
    out.Words.resize(static_cast<std::size_t>(w * h));

  const ddraw::PixelFormat& f = texture.Format();
  const Channel red(f.RMask), green(f.GMask), blue(f.BMask), alpha(f.AMask);
  const TextureKey textureKey(texture, useKey);
  const PALETTEENTRY* palette = textureKey.Palette;
  const bool keyed = textureKey.Keyed;
  out.HasKey = keyed;
  if (keyed && out.Keyed.size() < out.Words.size()) out.Keyed.resize(out.Words.size());
  const bool plain32 = !f.IsIndexed() && f.BitCount == 32 && f.RMask == 0xFF0000 &&
                       f.GMask == 0xFF00 && f.BMask == 0xFF &&
                       (f.AMask == 0 || f.AMask == 0xFF000000u);

  std::vector<int> columns(static_cast<std::size_t>(w));
  for (int k = 0; k < w; ++k) columns[k] = Address(i0 + k, store.Width, addressU);
  for (int r = 0; r < h; ++r) {
    const std::uint8_t* row = store.Row(Address(j0 + r, store.Height, addressV));
    std::uint32_t* dst = out.Words.data() + static_cast<std::ptrdiff_t>(r) * w;
    std::uint8_t* keyDst = keyed ? out.Keyed.data() + static_cast<std::ptrdiff_t>(r) * w : nullptr;
    if (plain32 && !keyed) {
      // The common case, without the format's decoding; inside the texture a straight copy.
      const std::uint32_t fill = f.AMask ? 0 : 0xFF000000u;
      const auto* src = reinterpret_cast<const std::uint32_t*>(row);
      const int inFrom = std::clamp(-i0, 0, static_cast<int>(w));
      const int inTo = std::clamp(store.Width - i0, inFrom, static_cast<int>(w));
      for (int k = 0; k < inFrom; ++k) dst[k] = src[columns[k]] | fill;
      int k = inFrom;
      const __m128i fills = _mm_set1_epi32(static_cast<int>(fill));
      for (; k + 4 <= inTo; k += 4)
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(dst + k),
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i0 + k)), fills));
      for (; k < inTo; ++k) dst[k] = src[i0 + k] | fill;
      for (k = inTo; k < w; ++k) dst[k] = src[columns[k]] | fill;
      continue;
    }
    if (plain32) {
      const std::uint32_t fill = f.AMask ? 0 : 0xFF000000u;
      for (int k = 0; k < w; ++k) {
        std::uint32_t raw;
        std::memcpy(&raw, row + std::size_t{4} * static_cast<std::size_t>(columns[k]), 4);
        dst[k] = raw | fill;
        if (keyed) {
          keyDst[k] = textureKey.Hides(raw);
        }
      }
      continue;
    }
    for (int k = 0; k < w; ++k) {
      const DWORD raw = ReadRaw(row, columns[k], f.BitCount);
      if (keyed) {
        keyDst[k] = textureKey.Hides(raw);
      }
      if (f.IsIndexed()) {
        if (palette) {
          const PALETTEENTRY& e = palette[raw & 0xFF];
          dst[k] = Pack(255, e.peRed, e.peGreen, e.peBlue);
        } else {
          dst[k] = Pack(255, 0, 0, 0);
        }
      } else {
        dst[k] = Pack(alpha.Bits ? alpha.Decode(raw) : 255, red.Decode(raw), green.Decode(raw),
                      blue.Decode(raw));
      }
    }
  }
  return true;
}

}  // namespace d3d::raster
