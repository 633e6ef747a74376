#include "platform/gdi/SystemPalette.h"

#include <algorithm>

#include "platform/ddraw/DDraw.h"

UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  if (!entries || start >= 256) return 0;
  const UINT n = std::min<UINT>(count, 256 - start);
  const PALETTEENTRY* system = ddraw::SystemPaletteEntries();
  std::copy(system + start, system + start + n, entries);
  return n;
}
