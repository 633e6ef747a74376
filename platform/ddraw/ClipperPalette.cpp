// Clippers and palettes of the DirectDraw stand-in.
#include <algorithm>
#include <cstring>

#include "platform/ddraw/DDrawObjects.h"

namespace ddraw {

namespace {

constexpr DWORD kMaxClipRects = 1u << 16;

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
}

}  // namespace

// --- Clipper ----------------------------------------------------------------------------------

Clipper::Clipper() = default;
Clipper::~Clipper() = default;

HRESULT Clipper::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(iid == IID_IUnknown) && !(iid == IID_IDirectDrawClipper)) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IDirectDrawClipper*>(this);
  return S_OK;
}

ULONG Clipper::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

Clipper* Clipper::From(IUnknown* p) { return dynamic_cast<Clipper*>(p); }

std::vector<TRect> Clipper::Rects() const {
  if (Wnd) {
    TRect r;
    if (CurrentWindowHost().ClientRectOnScreen(Wnd, r)) return {r};
    return {};
  }
  return HasList ? List : std::vector<TRect>{};
}

HRESULT Clipper::GetClipList(const RECT* clip, RGNDATA* data, DWORD* size) {
  if (!size) return DDERR_INVALIDPARAMS;
  std::vector<TRect> rects;
  for (const TRect& r : Rects()) {
    const TRect p = clip ? Intersect(r, *clip) : r;
    if (p.Left < p.Right && p.Top < p.Bottom) rects.push_back(p);
  }
  const DWORD needed = kRgnDataHeaderSize + static_cast<DWORD>(rects.size() * 16);
  if (!data) {
    *size = needed;
    return DD_OK;
  }
  if (*size < needed) return DDERR_REGIONTOOSMALL;
  RGNDATAHEADER h;
  h.dwSize = kRgnDataHeaderSize;
  h.iType = RDH_RECTANGLES;
  h.nCount = static_cast<DWORD>(rects.size());
  h.nRgnSize = static_cast<DWORD>(rects.size() * 16);
  h.rcBound = rects.empty() ? TRect{} : rects.front();
  for (const TRect& r : rects) {
    h.rcBound = {std::min(h.rcBound.Left, r.Left), std::min(h.rcBound.Top, r.Top),
                 std::max(h.rcBound.Right, r.Right), std::max(h.rcBound.Bottom, r.Bottom)};
  }
  data->rdh = h;
  auto* bytes = reinterpret_cast<char*>(data);
  if (!rects.empty()) std::memcpy(bytes + kRgnDataHeaderSize, rects.data(), rects.size() * 16);
  return DD_OK;
}

HRESULT Clipper::GetHWnd(HWND* wnd) {
  if (!wnd) return DDERR_INVALIDPARAMS;
  *wnd = Wnd;
  return DD_OK;
}

HRESULT Clipper::SetClipList(const RGNDATA* data, DWORD flags) {
  if (Wnd) return DDERR_CLIPPERISUSINGHWND;
  if (!data) {
    List.clear();
    HasList = false;
    return DD_OK;
  }
  const RGNDATAHEADER h = data->rdh;
  if (h.dwSize != kRgnDataHeaderSize || h.iType != RDH_RECTANGLES || h.nCount > kMaxClipRects ||
      h.nRgnSize < h.nCount * 16)
    return DDERR_INVALIDPARAMS;
  List.resize(h.nCount);
  if (h.nCount)
    std::memcpy(List.data(), reinterpret_cast<const char*>(data) + kRgnDataHeaderSize,
                h.nCount * 16);
  HasList = true;
  return DD_OK;
}

HRESULT Clipper::SetHWnd(DWORD flags, HWND wnd) {
  Wnd = wnd;
  return DD_OK;
}

// --- Palette ----------------------------------------------------------------------------------

Palette::Palette(DWORD caps, int count, const PALETTEENTRY* entries) : Caps(caps), Size(count) {
  std::copy(entries, entries + count, Table.begin());
}

HRESULT Palette::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!(iid == IID_IUnknown) && !(iid == IID_IDirectDrawPalette)) return E_NOINTERFACE;
  AddRef();
  *out = static_cast<IDirectDrawPalette*>(this);
  return S_OK;
}

ULONG Palette::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

Palette* Palette::From(IUnknown* p) { return dynamic_cast<Palette*>(p); }

HRESULT Palette::GetCaps(DWORD* caps) {
  if (!caps) return DDERR_INVALIDPARAMS;
  *caps = Caps;
  return DD_OK;
}

HRESULT Palette::GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) {
  if (!entries || base > static_cast<DWORD>(Size) || count > static_cast<DWORD>(Size) - base)
    return DDERR_INVALIDPARAMS;
  std::copy(Table.begin() + base, Table.begin() + base + count, entries);
  return DD_OK;
}

HRESULT Palette::SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) {
  if (!entries || start > static_cast<DWORD>(Size) || count > static_cast<DWORD>(Size) - start)
    return DDERR_INVALIDPARAMS;
  std::copy(entries, entries + count, Table.begin() + start);
  return DD_OK;
}

}  // namespace ddraw
