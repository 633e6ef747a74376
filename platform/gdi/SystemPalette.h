// The system palette: the colours of the screen's palette as an 8-bit display has it, with the
// desktop's fixed colours at indexes 0-9 and 246-255.
#pragma once

#include "platform/gdi/Gdi.h"

// Copies `count` entries from `start` (cut to the 256 there are) and returns how many were
// copied. Any device context reads the one system palette; nullptr stands for the screen's.
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);
