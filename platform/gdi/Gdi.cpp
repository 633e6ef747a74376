#include "platform/gdi/Gdi.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_set>

namespace {

// The registries outlive every static object, so handles freed during program exit (a palette
// cache emptied at the end) are still checked against them.
std::unordered_set<const TGdiObject*>& LiveObjects() {
  static auto* live = new std::unordered_set<const TGdiObject*>;
  return *live;
}

std::unordered_set<const TDeviceContext*>& LiveDCs() {
  static auto* live = new std::unordered_set<const TDeviceContext*>;
  return *live;
}

template <class T>
T* Register(T* obj) {
  LiveObjects().insert(obj);
  return obj;
}

template <class T>
T* Live(HGDIOBJ obj) {
  if (!obj || !LiveObjects().count(obj)) return nullptr;
  return dynamic_cast<T*>(obj);
}

// Stock objects live for the whole program and are never deleted.
TGdiBitmap* StockBitmap() {
  static TGdiBitmap* bitmap = [] {
    auto* b = new TGdiBitmap;
    b->Stock = true;
    b->Memory.assign(4, 0);
    b->Buffer.Bits = b->Memory.data();
    b->Buffer.Pitch = 4;
    b->Buffer.Width = 1;
    b->Buffer.Height = 1;
    b->Buffer.BitCount = 1;
    b->Buffer.ColorCount = 2;
    b->Buffer.ColorTable[1] = {255, 255, 255, 0};
    return Register(b);
  }();
  return bitmap;
}

TGdiPalette* StockPalette() {
  static TGdiPalette* palette = [] {
    auto* p = new TGdiPalette;
    p->Stock = true;
    // The twenty static colours of the desktop.
    static const BYTE rgb[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const auto& c : rgb) p->Entries.push_back({c[0], c[1], c[2], 0});
    return Register(p);
  }();
  return palette;
}

TDeviceContext* LiveDC(HDC dc) { return dc && LiveDCs().count(dc) ? dc : nullptr; }

int ColorTableEntries(const BITMAPINFOHEADER& h) {
  if (h.biBitCount > 8) return 0;
  const DWORD full = 1u << h.biBitCount;
  const DWORD n = h.biClrUsed == 0 ? full : std::min<DWORD>(h.biClrUsed, full);
  return static_cast<int>(std::min<DWORD>(n, 256));
}

}  // namespace

const TPixelBuffer* TDeviceContext::Target() const {
  const TPixelBuffer* t = OverMemory ? &Memory : Bitmap ? &Bitmap->Buffer : nullptr;
  return t && t->Usable() ? t : nullptr;
}

TRect TDeviceContext::ClipRect() const {
  const TPixelBuffer* t = Target();
  return t ? t->Bounds() : TRect{};
}

bool DescribeDIB(const BITMAPINFO* info, const void* bits, TPixelBuffer& out) {
  if (!info) return false;
  BITMAPINFOHEADER h;
  std::memcpy(&h, info, sizeof h);
  if (h.biSize < 40 || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  if (!IsPixelBitCount(h.biBitCount)) return false;
  if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return false;
  const std::int64_t widthBytes = ((std::int64_t{h.biWidth} * h.biBitCount + 31) >> 5) << 2;
  if (widthBytes > INT32_MAX) return false;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;

  TPixelBuffer b;
  const BYTE* block = reinterpret_cast<const BYTE*>(info);
  std::size_t tablePos = h.biSize;
  if (h.biCompression == BI_BITFIELDS) {
    if (h.biBitCount != 16 && h.biBitCount != 32) return false;
    DWORD masks[3];
    std::memcpy(masks, block + h.biSize, sizeof masks);
    b.RMask = masks[0];
    b.GMask = masks[1];
    b.BMask = masks[2];
    tablePos += sizeof masks;
  }
  b.ColorCount = ColorTableEntries(h);
  if (b.ColorCount > 0) std::memcpy(b.ColorTable, block + tablePos, sizeof(RGBQUAD) * b.ColorCount);
  b.Width = h.biWidth;
  b.Height = height;
  b.BitCount = h.biBitCount;
  BYTE* base = static_cast<BYTE*>(const_cast<void*>(bits));
  if (h.biHeight > 0) {
    b.Bits = base ? base + static_cast<std::ptrdiff_t>(height - 1) * widthBytes : nullptr;
    b.Pitch = -static_cast<int>(widthBytes);
  } else {
    b.Bits = base;
    b.Pitch = static_cast<int>(widthBytes);
  }
  out = b;
  return true;
}

HDC CreateCompatibleDC(HDC) {
  auto* dc = new TDeviceContext;
  TGdiBitmap* stock = StockBitmap();
  dc->Bitmap = stock;
  dc->Palette = StockPalette();
  LiveDCs().insert(dc);
  return dc;
}

HDC CreateSurfaceDC(const TPixelBuffer& target) {
  auto* dc = new TDeviceContext;
  dc->OverMemory = true;
  dc->Memory = target;
  dc->Palette = StockPalette();
  LiveDCs().insert(dc);
  return dc;
}

BOOL DeleteDC(HDC dc) {
  if (!LiveDC(dc)) return FALSE_;
  if (dc->Bitmap && !dc->Bitmap->Stock && LiveObjects().count(dc->Bitmap))
    dc->Bitmap->SelectedInto = nullptr;
  LiveDCs().erase(dc);
  delete dc;
  return TRUE_;
}

bool IsLiveDC(HDC dc) { return LiveDC(dc) != nullptr; }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) {
  if (!LiveDC(dc) || dc->OverMemory) return nullptr;
  TGdiBitmap* bitmap = Live<TGdiBitmap>(obj);
  if (!bitmap) return nullptr;
  if (bitmap == dc->Bitmap) return bitmap;
  if (!bitmap->Stock && bitmap->SelectedInto) return nullptr;
  TGdiBitmap* old = dc->Bitmap;
  if (old && !old->Stock) old->SelectedInto = nullptr;
  dc->Bitmap = bitmap;
  if (!bitmap->Stock) bitmap->SelectedInto = dc;
  return old;
}

BOOL DeleteObject(HGDIOBJ obj) {
  if (!obj || !LiveObjects().count(obj)) return FALSE_;
  if (obj->Stock) return TRUE_;
  if (auto* bitmap = dynamic_cast<TGdiBitmap*>(obj); bitmap && bitmap->SelectedInto) return FALSE_;
  LiveObjects().erase(obj);
  // A palette may still be recorded as selected somewhere; DCs never follow that pointer.
  delete obj;
  return TRUE_;
}

bool IsLiveObject(HGDIOBJ obj) { return obj && LiveObjects().count(obj); }

HGDIOBJ GetStockObject(int index) {
  if (index == DEFAULT_PALETTE) return StockPalette();
  return nullptr;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (usage != DIB_RGB_COLORS) return nullptr;
  TPixelBuffer desc;
  if (!DescribeDIB(info, nullptr, desc)) return nullptr;
  const std::int64_t widthBytes = std::abs(static_cast<std::int64_t>(desc.Pitch));
  const std::int64_t size = widthBytes * desc.Height;
  auto bitmap = std::make_unique<TGdiBitmap>();
  try {
    bitmap->Memory.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  bitmap->IsDIBSection = true;
  std::memcpy(&bitmap->Header, info, sizeof(BITMAPINFOHEADER));
  bitmap->Masks[0] = desc.RMask;
  bitmap->Masks[1] = desc.GMask;
  bitmap->Masks[2] = desc.BMask;
  BYTE* base = bitmap->Memory.data();
  desc.Bits = desc.Pitch < 0 ? base + (desc.Height - 1) * widthBytes : base;
  bitmap->Buffer = desc;
  if (bits) *bits = base;
  return Register(bitmap.release());
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  auto bitmap = std::make_unique<TGdiBitmap>();
  const std::int64_t size = std::int64_t{width} * height * 4;
  try {
    bitmap->Memory.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  TPixelBuffer& b = bitmap->Buffer;
  b.Bits = bitmap->Memory.data();
  b.Pitch = width * 4;
  b.Width = width;
  b.Height = height;
  b.BitCount = 32;
  return Register(bitmap.release());
}

int GetObject(HGDIOBJ obj, int size, void* out) {
  TGdiBitmap* bitmap = Live<TGdiBitmap>(obj);
  if (!bitmap || !out) return 0;
  const TPixelBuffer& b = bitmap->Buffer;
  BITMAP bm{};
  bm.bmWidth = b.Width;
  bm.bmHeight = b.Height;
  bm.bmWidthBytes = std::abs(b.Pitch);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = static_cast<WORD>(b.BitCount);
  bm.bmBits = bitmap->IsDIBSection ? bitmap->Memory.data() : nullptr;
  if (bitmap->IsDIBSection && size >= static_cast<int>(sizeof(DIBSECTION))) {
    DIBSECTION ds{};
    ds.dsBm = bm;
    ds.dsBmih = bitmap->Header;
    // The masks in force, also for formats whose header names none.
    if (b.BitCount > 8) {
      const TPixelBuffer probe = b;
      ds.dsBitfields[0] = ColorToPixel(clRed, probe);
      ds.dsBitfields[1] = ColorToPixel(clLime, probe);
      ds.dsBitfields[2] = ColorToPixel(clBlue, probe);
    }
    std::memcpy(out, &ds, sizeof ds);
    return sizeof ds;
  }
  if (size < static_cast<int>(sizeof(BITMAP))) return 0;
  std::memcpy(out, &bm, sizeof bm);
  return sizeof bm;
}

HPALETTE CreatePalette(const LOGPALETTE* logPalette) {
  if (!logPalette) return nullptr;
  WORD count;
  std::memcpy(&count,
              reinterpret_cast<const BYTE*>(logPalette) + offsetof(LOGPALETTE, palNumEntries),
              sizeof count);
  if (count == 0) return nullptr;
  auto* p = new TGdiPalette;
  p->Entries.resize(count);
  std::memcpy(p->Entries.data(),
              reinterpret_cast<const BYTE*>(logPalette) + offsetof(LOGPALETTE, palPalEntry),
              sizeof(PALETTEENTRY) * count);
  return Register(p);
}

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  TGdiPalette* p = Live<TGdiPalette>(palette);
  if (!p) return 0;
  if (!entries) return static_cast<UINT>(p->Entries.size());
  if (start >= p->Entries.size()) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(p->Entries.size()) - start);
  std::memcpy(entries, p->Entries.data() + start, sizeof(PALETTEENTRY) * n);
  return n;
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
  if (!LiveDC(dc) || !Live<TGdiPalette>(palette)) return nullptr;
  HPALETTE old = dc->Palette;
  dc->Palette = palette;
  return old;
}

UINT RealizePalette(HDC dc) {
  if (!LiveDC(dc)) return static_cast<UINT>(GDI_ERROR);
  TGdiPalette* p = Live<TGdiPalette>(dc->Palette);
  return p ? static_cast<UINT>(p->Entries.size()) : 0;
}

int SetStretchBltMode(HDC dc, int mode) {
  if (!LiveDC(dc) || mode < BLACKONWHITE || mode > HALFTONE) return 0;
  const int old = dc->StretchMode;
  dc->StretchMode = mode;
  return old;
}

int GetStretchBltMode(HDC dc) { return LiveDC(dc) ? dc->StretchMode : 0; }

BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, DWORD rop) {
  return StretchBlt(dst, x, y, w, h, src, sx, sy, w, h, rop);
}

BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int sx, int sy, int sw, int sh,
                DWORD rop) {
  if (!LiveDC(dst) || !dst->Target()) return FALSE_;
  const TPixelBuffer* s = nullptr;
  if (src) {
    if (!LiveDC(src) || !src->Target()) return FALSE_;
    s = src->Target();
  }
  static const TPixelBuffer none;
  return StretchPixels(*dst->Target(), dst->ClipRect(), x, y, w, h, s ? *s : none, sx, sy, sw, sh,
                       rop)
             ? TRUE_
             : FALSE_;
}

int StretchDIBits(HDC dst, int x, int y, int w, int h, int sx, int sy, int sw, int sh,
                  const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  if (!LiveDC(dst) || !dst->Target() || usage != DIB_RGB_COLORS || !bits) return 0;
  TPixelBuffer src;
  if (!DescribeDIB(info, bits, src)) return 0;
  if (!StretchPixels(*dst->Target(), dst->ClipRect(), x, y, w, h, src, sx, sy, sw, sh, rop))
    return 0;
  return std::abs(sh);
}

UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  if (!LiveDC(dc) || !colors || !dc->Bitmap || !dc->Bitmap->IsDIBSection) return 0;
  TPixelBuffer& b = dc->Bitmap->Buffer;
  if (!b.Indexed() || start >= static_cast<UINT>(b.ColorCount)) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(b.ColorCount) - start);
  std::memcpy(b.ColorTable + start, colors, sizeof(RGBQUAD) * n);
  return n;
}

UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  if (!LiveDC(dc) || !colors || !dc->Bitmap || !dc->Bitmap->IsDIBSection) return 0;
  const TPixelBuffer& b = dc->Bitmap->Buffer;
  if (!b.Indexed() || start >= static_cast<UINT>(b.ColorCount)) return 0;
  const UINT n = std::min<UINT>(count, static_cast<UINT>(b.ColorCount) - start);
  std::memcpy(colors, b.ColorTable + start, sizeof(RGBQUAD) * n);
  return n;
}

BOOL GdiFlush() { return TRUE_; }

COLORREF GetPixel(HDC dc, int x, int y) {
  if (!LiveDC(dc) || !dc->Target()) return CLR_INVALID;
  const TRect clip = dc->ClipRect();
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return CLR_INVALID;
  const TPixelBuffer& t = *dc->Target();
  return static_cast<COLORREF>(PixelToColor(ReadPixel(t, x, y), t));
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
  if (!LiveDC(dc) || !dc->Target()) return CLR_INVALID;
  const TRect clip = dc->ClipRect();
  if (x < clip.Left || x >= clip.Right || y < clip.Top || y >= clip.Bottom) return CLR_INVALID;
  const TPixelBuffer& t = *dc->Target();
  const DWORD p = ColorToPixel(static_cast<TColor>(color & 0xFFFFFF), t);
  WritePixel(t, x, y, p);
  return static_cast<COLORREF>(PixelToColor(p, t));
}
