// DirectDraw surfaces of the stand-in: memory, blits, locks, device contexts, keys, attached
// surfaces, flipping, loss and the primary surface's way to the screen.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "platform/backend/Backend.h"
#include "platform/ddraw/DDrawObjects.h"
#include "platform/ddraw/Machine.h"
#include "platform/gdi/Gdi.h"

namespace ddraw {

namespace {

bool Inside(const TRect& r, const TRect& bounds) {
  return r.Left >= bounds.Left && r.Top >= bounds.Top && r.Right <= bounds.Right &&
         r.Bottom <= bounds.Bottom;
}

bool Empty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
}

TRect Union(const TRect& a, const TRect& b) {
  if (Empty(a)) return b;
  if (Empty(b)) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

KeyRange ToRange(const DDCOLORKEY& k) {
  return {true, k.dwColorSpaceLowValue, k.dwColorSpaceHighValue};
}

}  // namespace

// --- PixelStore -------------------------------------------------------------------------------

PixelStore::~PixelStore() { TheMachine().GiveBack(*this); }

PixelView PixelStore::View() {
  PixelView v;
  v.Bits = Bytes.data();
  v.Pitch = Pitch;
  v.Width = Width;
  v.Height = Height;
  v.Bytes = Format.BytesPerPixel();
  v.Mask = Format.IsIndexed() ? 0xFF : Format.ValueMask();
  return v;
}

void PixelStore::FillWithJunk(std::uint32_t seed) {
  std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
  for (auto& b : Bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  // Junk or not, the bits a pixel does not carry stay clear.
  const int bytes = Format.BytesPerPixel();
  const DWORD mask = Format.ValueMask();
  if ((bytes == 4 && mask != ~0u) || (bytes == 2 && mask != 0xFFFF)) {
    for (int y = 0; y < Height; ++y) {
      std::uint8_t* p = Row(y);
      for (int i = 0; i < Width; ++i, p += bytes) {
        DWORD v = 0;
        std::memcpy(&v, p, bytes);
        v &= mask;
        std::memcpy(p, &v, bytes);
      }
    }
  }
}

// --- Surface ----------------------------------------------------------------------------------

Surface::Surface(DirectDrawObject* dd, std::shared_ptr<PixelStore> store, DWORD caps, DWORD caps2)
    : DD(dd), Pixels(std::move(store)), CapsValue(caps), Caps2Value(caps2) {
  DD->AddRef();
  ++TheMachine().LiveSurfaces;
}

Surface::~Surface() {
  if (DCOut) DeleteDC(DCOut);
  for (Surface* s : Attached) s->Release();
  if (Clip) Clip->Release();
  if (Pal) Pal->Release();
  DD->Forget(this);
  --TheMachine().LiveSurfaces;
  DD->Release();
}

ULONG Surface::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

HRESULT Surface::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDirectDrawSurface) {
    *out = &Facet1;
  } else if (iid == IID_IDirectDrawSurface4) {
    *out = &Facet4;
  } else if (iid == IID_IDirectDrawSurface7) {
    *out = &Facet7;
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

Surface* Surface::From(IUnknown* p) {
  if (!p) return nullptr;
  if (auto* f = dynamic_cast<SurfaceFacet1*>(p)) return f->Object();
  if (auto* f = dynamic_cast<SurfaceFacet4*>(p)) return f->Object();
  if (auto* f = dynamic_cast<SurfaceFacet7*>(p)) return f->Object();
  return nullptr;
}

HRESULT Surface::CheckUsable() const {
  if (Lost) return DDERR_SURFACELOST;
  if (Locked || DCOut) return DDERR_SURFACEBUSY;
  return DD_OK;
}

bool Surface::SourceKey(DDCOLORKEY& key) const {
  if (!HasSrcKey) return false;
  key = SrcKey;
  return true;
}

std::vector<TRect> Surface::ClipRegion(const TRect& dest) const {
  std::vector<TRect> parts;
  const TRect bounds{0, 0, Width(), Height()};
  for (const TRect& c : Clip->Rects()) {
    const TRect p = Intersect(Intersect(c, dest), bounds);
    if (!Empty(p)) parts.push_back(p);
  }
  return parts;
}

HRESULT Surface::Blt(const RECT* destRect, Surface* source, const RECT* srcRect, DWORD flags,
                     const DDBLTFX* fx) {
  if (HRESULT hr = CheckUsable(); FAILED(hr)) return hr;
  const bool fill = (flags & DDBLT_COLORFILL) != 0;
  if (!fx && (fill || (flags & (DDBLT_DDFX | DDBLT_KEYSRCOVERRIDE | DDBLT_KEYDESTOVERRIDE))))
    return DDERR_INVALIDPARAMS;
  if (fx && fx->dwSize != kDDBltFXSize) return DDERR_INVALIDPARAMS;
  if (Format().BytesPerPixel() == 0 || Format().IsDepth()) return DDERR_UNSUPPORTED;

  const TRect bounds{0, 0, Width(), Height()};
  const TRect dest = destRect ? *destRect : bounds;
  if (Empty(dest)) return DDERR_INVALIDRECT;
  std::vector<TRect> parts;
  if (Clip) {
    parts = ClipRegion(dest);
  } else {
    if (!Inside(dest, bounds)) return DDERR_INVALIDRECT;
    parts.push_back(dest);
  }

  PixelView view = Pixels->View();
  if (fill) {
    for (const TRect& p : parts) FillPixels(view, p, fx->dwFillColor);
  } else {
    if (!source) return DDERR_INVALIDPARAMS;
    if (source != this) {
      if (HRESULT hr = source->CheckUsable(); FAILED(hr)) return hr;
    }
    if (!(source->Format() == Format())) return DDERR_INVALIDPIXELFORMAT;
    const TRect sbounds{0, 0, source->Width(), source->Height()};
    const TRect src = srcRect ? *srcRect : sbounds;
    if (Empty(src) || !Inside(src, sbounds)) return DDERR_INVALIDRECT;

    BlitJob job;
    job.Dst = view;
    job.Src = source->Pixels->View();
    job.DestRect = dest;
    job.SrcRect = src;
    job.SameMemory = source->Pixels == Pixels;
    if (flags & DDBLT_KEYSRCOVERRIDE) {
      job.SrcKey = ToRange(fx->ddckSrcColorkey);
    } else if (flags & DDBLT_KEYSRC) {
      if (!source->HasSrcKey) return DDERR_NOCOLORKEY;
      job.SrcKey = ToRange(source->SrcKey);
    }
    if (flags & DDBLT_KEYDESTOVERRIDE) {
      job.DstKey = ToRange(fx->ddckDestColorkey);
    } else if (flags & DDBLT_KEYDEST) {
      if (!HasDestKey) return DDERR_NOCOLORKEY;
      job.DstKey = ToRange(DestKey);
    }
    if (flags & DDBLT_DDFX) {
      if (fx->dwDDFX & ~(DDBLTFX_MIRRORLEFTRIGHT | DDBLTFX_MIRRORUPDOWN)) return DDERR_UNSUPPORTED;
      job.MirrorX = (fx->dwDDFX & DDBLTFX_MIRRORLEFTRIGHT) != 0;
      job.MirrorY = (fx->dwDDFX & DDBLTFX_MIRRORUPDOWN) != 0;
    }
    for (const TRect& p : parts) {
      job.Area = p;
      BlitPixels(job);
    }
  }
  if (IsPrimary()) {
    TRect changed;
    for (const TRect& p : parts) changed = Union(changed, p);
    ShowOnScreen(changed);
  }
  return DD_OK;
}

HRESULT Surface::BltFast(DWORD x, DWORD y, Surface* source, const RECT* srcRect, DWORD trans) {
  if (HRESULT hr = CheckUsable(); FAILED(hr)) return hr;
  if (Clip) return DDERR_BLTFASTCANTCLIP;
  if (!source) return DDERR_INVALIDPARAMS;
  if (source != this) {
    if (HRESULT hr = source->CheckUsable(); FAILED(hr)) return hr;
  }
  if (Format().BytesPerPixel() == 0 || Format().IsDepth()) return DDERR_UNSUPPORTED;
  if (!(source->Format() == Format())) return DDERR_INVALIDPIXELFORMAT;
  const TRect sbounds{0, 0, source->Width(), source->Height()};
  const TRect src = srcRect ? *srcRect : sbounds;
  if (Empty(src) || !Inside(src, sbounds)) return DDERR_INVALIDRECT;
  if (x > static_cast<DWORD>(Width()) || y > static_cast<DWORD>(Height())) return DDERR_INVALIDRECT;
  const TRect dest = Bounds(static_cast<int>(x), static_cast<int>(y), src.Width(), src.Height());
  if (!Inside(dest, {0, 0, Width(), Height()})) return DDERR_INVALIDRECT;

  BlitJob job;
  job.Dst = Pixels->View();
  job.Src = source->Pixels->View();
  job.DestRect = dest;
  job.SrcRect = src;
  job.Area = dest;
  job.SameMemory = source->Pixels == Pixels;
  if (trans & DDBLTFAST_SRCCOLORKEY) {
    if (!source->HasSrcKey) return DDERR_NOCOLORKEY;
    job.SrcKey = ToRange(source->SrcKey);
  }
  if (trans & DDBLTFAST_DESTCOLORKEY) {
    if (!HasDestKey) return DDERR_NOCOLORKEY;
    job.DstKey = ToRange(DestKey);
  }
  BlitPixels(job);
  if (IsPrimary()) ShowOnScreen(dest);
  return DD_OK;
}

HRESULT Surface::Lock(const RECT* rect, DDSURFACEDESC2& desc, DWORD flags) {
  if (Lost) return DDERR_SURFACELOST;
  if (Locked || DCOut) return DDERR_SURFACEBUSY;
  const TRect bounds{0, 0, Width(), Height()};
  const TRect r = rect ? *rect : bounds;
  if (Empty(r) || !Inside(r, bounds)) return DDERR_INVALIDRECT;
  GetSurfaceDesc(desc);
  desc.dwFlags |= DDSD_LPSURFACE;
  desc.lpSurface =
      Pixels->Row(r.Top) + (static_cast<std::ptrdiff_t>(r.Left) * Format().BitCount) / 8;
  Locked = true;
  LockRect = r;
  return DD_OK;
}

HRESULT Surface::Unlock() {
  if (!Locked) return DDERR_NOTLOCKED;
  Locked = false;
  if (IsPrimary()) ShowOnScreen(LockRect);
  return DD_OK;
}

HRESULT Surface::GetDC(HDC* dc) {
  if (!dc) return DDERR_INVALIDPARAMS;
  *dc = nullptr;
  if (Lost) return DDERR_SURFACELOST;
  if (DCOut) return DDERR_DCALREADYCREATED;
  if (Locked) return DDERR_SURFACEBUSY;
  const PixelFormat& f = Format();
  if (f.BytesPerPixel() == 0 || f.IsDepth()) return DDERR_NODC;
  // The DC draws straight into our memory, converting colours as every other writer does.
  TPixelBuffer target;
  target.Bits = Pixels->Row(0);
  target.Pitch = static_cast<int>(Pixels->Pitch);
  target.Width = Width();
  target.Height = Height();
  target.BitCount = f.BitCount;
  if (f.IsIndexed()) {
    const PALETTEENTRY* palette = Pal ? Pal->Entries() : TheMachine().SystemPalette.data();
    const int count = Pal ? Pal->Count() : 256;
    for (int i = 0; i < count; ++i)
      target.ColorTable[i] = {palette[i].peBlue, palette[i].peGreen, palette[i].peRed, 0};
    target.ColorCount = count;
  } else if (f.BitCount != 24) {
    target.RMask = f.RMask;
    target.GMask = f.GMask;
    target.BMask = f.BMask;
  }
  const HDC made = CreateSurfaceDC(target);
  if (!made) return DDERR_NODC;
  DCOut = made;
  *dc = made;
  return DD_OK;
}

HRESULT Surface::ReleaseDC(HDC dc) {
  if (!DCOut || dc != DCOut) return DDERR_INVALIDPARAMS;
  DeleteDC(DCOut);
  DCOut = nullptr;
  if (IsPrimary()) ShowOnScreen({0, 0, Width(), Height()});
  return DD_OK;
}

HRESULT Surface::Restore() {
  if (Lost) {
    Pixels->FillWithJunk(++RestoreCount + static_cast<std::uint32_t>(Width() * 31 + Height()));
    Lost = false;
  }
  for (Surface* s : Chain) s->Restore();
  return DD_OK;
}

HRESULT Surface::SetClipper(IDirectDrawClipper* clipper) {
  Clipper* c = Clipper::From(clipper);
  if (clipper && !c) return DDERR_INVALIDOBJECT;
  if (c) c->AddRef();
  if (Clip) Clip->Release();
  Clip = c;
  return DD_OK;
}

HRESULT Surface::GetClipper(IDirectDrawClipper** clipper) {
  if (!clipper) return DDERR_INVALIDPARAMS;
  *clipper = nullptr;
  if (!Clip) return DDERR_NOCLIPPERATTACHED;
  Clip->AddRef();
  *clipper = Clip;
  return DD_OK;
}

HRESULT Surface::SetPalette(IDirectDrawPalette* palette) {
  Palette* p = Palette::From(palette);
  if (palette && !p) return DDERR_INVALIDOBJECT;
  if (p && !Format().IsIndexed()) return DDERR_INVALIDPIXELFORMAT;
  if (p) p->AddRef();
  if (Pal) Pal->Release();
  Pal = p;
  if (IsPrimary() && !Lost && !IsLocked()) ShowOnScreen({0, 0, Width(), Height()});
  return DD_OK;
}

HRESULT Surface::GetPalette(IDirectDrawPalette** palette) {
  if (!palette) return DDERR_INVALIDPARAMS;
  *palette = nullptr;
  if (!Pal) return DDERR_NOPALETTEATTACHED;
  Pal->AddRef();
  *palette = Pal;
  return DD_OK;
}

HRESULT Surface::SetColorKey(DWORD flags, const DDCOLORKEY* key) {
  if (flags & (DDCKEY_DESTOVERLAY | DDCKEY_SRCOVERLAY)) return DDERR_UNSUPPORTED;
  const DWORD which = flags & (DDCKEY_DESTBLT | DDCKEY_SRCBLT);
  if (which != DDCKEY_DESTBLT && which != DDCKEY_SRCBLT) return DDERR_INVALIDPARAMS;
  DDCOLORKEY k;
  if (key) {
    k.dwColorSpaceLowValue = key->dwColorSpaceLowValue;
    k.dwColorSpaceHighValue =
        (flags & DDCKEY_COLORSPACE) ? key->dwColorSpaceHighValue : key->dwColorSpaceLowValue;
  }
  if (which == DDCKEY_SRCBLT) {
    HasSrcKey = key != nullptr;
    SrcKey = k;
  } else {
    HasDestKey = key != nullptr;
    DestKey = k;
  }
  return DD_OK;
}

HRESULT Surface::GetColorKey(DWORD flags, DDCOLORKEY* key) {
  if (!key) return DDERR_INVALIDPARAMS;
  if (flags == DDCKEY_SRCBLT) {
    if (!HasSrcKey) return DDERR_NOCOLORKEY;
    *key = SrcKey;
    return DD_OK;
  }
  if (flags == DDCKEY_DESTBLT) {
    if (!HasDestKey) return DDERR_NOCOLORKEY;
    *key = DestKey;
    return DD_OK;
  }
  return DDERR_INVALIDPARAMS;
}

void Surface::GetCaps(DDSCAPS2& caps) const {
  caps = DDSCAPS2{};
  caps.dwCaps = CapsValue;
  caps.dwCaps2 = Caps2Value;
}

void Surface::GetSurfaceDesc(DDSURFACEDESC2& desc) const {
  const DWORD size = desc.dwSize;
  desc = DDSURFACEDESC2{};
  desc.dwSize = size;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
  desc.dwWidth = static_cast<DWORD>(Width());
  desc.dwHeight = static_cast<DWORD>(Height());
  desc.lPitch = static_cast<LONG>(Pixels->Pitch);
  Format().ToDD(desc.ddpfPixelFormat);
  desc.ddsCaps.dwCaps = CapsValue;
  desc.ddsCaps.dwCaps2 = Caps2Value;
  if (HasSrcKey) {
    desc.dwFlags |= DDSD_CKSRCBLT;
    desc.ddckCKSrcBlt = SrcKey;
  }
  if (HasDestKey) {
    desc.dwFlags |= DDSD_CKDESTBLT;
    desc.ddckCKDestBlt = DestKey;
  }
  if ((CapsValue & DDSCAPS_FLIP) && (CapsValue & DDSCAPS_FRONTBUFFER)) {
    desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
    desc.dwBackBufferCount = static_cast<DWORD>(Chain.size());
  }
  if ((CapsValue & DDSCAPS_MIPMAP) && !Chain.empty()) {
    desc.dwFlags |= DDSD_MIPMAPCOUNT;
    desc.dwMipMapCount = static_cast<DWORD>(Chain.size() + 1);
  }
}

HRESULT Surface::AddAttached(Surface* s) {
  if (!s || s == this) return DDERR_INVALIDPARAMS;
  if (std::find(Attached.begin(), Attached.end(), s) != Attached.end())
    return DDERR_SURFACEALREADYATTACHED;
  if (!(s->CapsValue & DDSCAPS_ZBUFFER) || s->Width() != Width() || s->Height() != Height())
    return DDERR_CANNOTATTACHSURFACE;
  s->AddRef();
  Attached.push_back(s);
  return DD_OK;
}

HRESULT Surface::DeleteAttached(DWORD flags, Surface* s) {
  auto chained = [this](Surface* a) {
    return std::find(Chain.begin(), Chain.end(), a) != Chain.end();
  };
  if (!s) {
    std::vector<Surface*> keep;
    for (Surface* a : Attached) {
      if (chained(a)) {
        keep.push_back(a);
      } else {
        a->Release();
      }
    }
    Attached = std::move(keep);
    return DD_OK;
  }
  auto it = std::find(Attached.begin(), Attached.end(), s);
  if (it == Attached.end()) return DDERR_SURFACENOTATTACHED;
  if (chained(s)) return DDERR_CANNOTDETACHSURFACE;
  Attached.erase(it);
  s->Release();
  return DD_OK;
}

HRESULT Surface::GetAttached(const DDSCAPS2& caps, Surface*& out) {
  out = nullptr;
  for (Surface* a : Attached) {
    if ((a->CapsValue & caps.dwCaps) == caps.dwCaps &&
        (a->Caps2Value & caps.dwCaps2) == caps.dwCaps2) {
      a->AddRef();
      out = a;
      return DD_OK;
    }
  }
  return DDERR_NOTFOUND;
}

HRESULT Surface::Flip(Surface* target, DWORD flags) {
  if (!(CapsValue & DDSCAPS_FLIP) || !(CapsValue & DDSCAPS_FRONTBUFFER) || Chain.empty())
    return DDERR_NOTFLIPPABLE;
  if (HRESULT hr = CheckUsable(); FAILED(hr)) return hr;
  for (Surface* s : Chain) {
    if (HRESULT hr = s->CheckUsable(); FAILED(hr)) return hr;
  }
  if (target && std::find(Chain.begin(), Chain.end(), target) == Chain.end())
    return DDERR_INVALIDPARAMS;
  if (!(flags & DDFLIP_NOVSYNC)) backend::Backend::Current().WaitForVerticalBlank();
  if (target) {
    std::swap(Pixels, target->Pixels);
  } else {
    // The first back buffer comes to the front; the old front goes to the end of the chain.
    std::shared_ptr<PixelStore> front = std::move(Pixels);
    Pixels = std::move(Chain.front()->Pixels);
    for (std::size_t i = 0; i + 1 < Chain.size(); ++i)
      Chain[i]->Pixels = std::move(Chain[i + 1]->Pixels);
    Chain.back()->Pixels = std::move(front);
  }
  ShowOnScreen({0, 0, Width(), Height()});
  return DD_OK;
}

void Surface::ShowOnScreen(const TRect& changed) {
  if (!IsPrimary() || Empty(changed)) return;
  const WindowHost& host = CurrentWindowHost();
  const TRect bounds{0, 0, Width(), Height()};
  HWND wnd = 0;
  TRect area;
  if (DD->Exclusive() && DD->CooperativeWindow()) {
    // Full screen: the whole primary is the window's picture.
    wnd = DD->CooperativeWindow();
    area = bounds;
  } else {
    wnd = Clip && Clip->Window() ? Clip->Window() : DD->CooperativeWindow();
    if (!wnd || !host.ClientRectOnScreen(wnd, area) || Empty(area)) return;
    if (Empty(Intersect(area, changed))) return;
  }
  const PixelFormat& f = Format();
  const bool direct = f.BitCount == 32 && !f.IsIndexed() && f.RMask == 0xFF0000 &&
                      f.GMask == 0xFF00 && f.BMask == 0xFF && Inside(area, bounds);
  if (direct) {
    host.Show(wnd, reinterpret_cast<const std::uint32_t*>(Pixels->Row(area.Top) + area.Left * 4),
              area.Width(), area.Height(), static_cast<int>(Pixels->Pitch));
    return;
  }
  // Other formats, or a window partly off the screen: convert into a picture of the client area.
  std::vector<std::uint32_t> image(static_cast<std::size_t>(area.Width()) * area.Height(), 0);
  const PALETTEENTRY* palette = Pal ? Pal->Entries() : TheMachine().SystemPalette.data();
  const TRect visible = Intersect(area, bounds);
  const int bytes = f.BytesPerPixel();
  for (int y = visible.Top; y < visible.Bottom; ++y) {
    const std::uint8_t* row = Pixels->Row(y);
    std::uint32_t* out = &image[static_cast<std::size_t>(y - area.Top) * area.Width()];
    for (int x = visible.Left; x < visible.Right; ++x) {
      DWORD v = 0;
      std::memcpy(&v, row + x * bytes, bytes);
      out[x - area.Left] = PixelToRgb(v, f, palette);
    }
  }
  host.Show(wnd, image.data(), area.Width(), area.Height(), area.Width() * 4);
}

// --- Facets -----------------------------------------------------------------------------------

namespace {

template <class D>
bool DescSizeOk(const D* d) {
  if (!d) return false;
  if constexpr (std::is_same_v<D, DDSURFACEDESC>) {
    return d->dwSize == kDDSurfaceDescSize;
  } else {
    return d->dwSize == kDDSurfaceDesc2Size;
  }
}

template <class C>
DDSCAPS2 ToCaps2(const C& c) {
  DDSCAPS2 r;
  r.dwCaps = c.dwCaps;
  if constexpr (std::is_same_v<C, DDSCAPS2>) r.dwCaps2 = c.dwCaps2;
  return r;
}

}  // namespace

template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::QueryInterface(const IID& iid, void** out) {
  return Owner->QueryInterface(iid, out);
}
template <class I, class D, class C>
ULONG SurfaceFacetBase<I, D, C>::AddRef() {
  return Owner->AddRef();
}
template <class I, class D, class C>
ULONG SurfaceFacetBase<I, D, C>::Release() {
  return Owner->Release();
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::AddAttachedSurface(I* surface) {
  Surface* s = Surface::From(surface);
  return s ? Owner->AddAttached(s) : DDERR_INVALIDPARAMS;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::Blt(const RECT* destRect, I* source, const RECT* srcRect,
                                       DWORD flags, const DDBLTFX* fx) {
  Surface* s = Surface::From(source);
  if (source && !s) return DDERR_INVALIDOBJECT;
  return Owner->Blt(destRect, s, srcRect, flags, fx);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::BltFast(DWORD x, DWORD y, I* source, const RECT* srcRect,
                                           DWORD trans) {
  Surface* s = Surface::From(source);
  if (source && !s) return DDERR_INVALIDOBJECT;
  return Owner->BltFast(x, y, s, srcRect, trans);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::DeleteAttachedSurface(DWORD flags, I* surface) {
  Surface* s = Surface::From(surface);
  if (surface && !s) return DDERR_INVALIDOBJECT;
  return Owner->DeleteAttached(flags, s);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::Flip(I* target, DWORD flags) {
  Surface* s = Surface::From(target);
  if (target && !s) return DDERR_INVALIDOBJECT;
  return Owner->Flip(s, flags);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetAttachedSurface(C* caps, I** surface) {
  if (!caps || !surface) return DDERR_INVALIDPARAMS;
  *surface = nullptr;
  Surface* found = nullptr;
  const HRESULT hr = Owner->GetAttached(ToCaps2(*caps), found);
  if (SUCCEEDED(hr)) *surface = found->template Facet<I>();
  return hr;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetCaps(C* caps) {
  if (!caps) return DDERR_INVALIDPARAMS;
  DDSCAPS2 c;
  Owner->GetCaps(c);
  caps->dwCaps = c.dwCaps;
  if constexpr (std::is_same_v<C, DDSCAPS2>) caps->dwCaps2 = c.dwCaps2;
  return DD_OK;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetClipper(IDirectDrawClipper** clipper) {
  return Owner->GetClipper(clipper);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetColorKey(DWORD flags, DDCOLORKEY* key) {
  return Owner->GetColorKey(flags, key);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetDC(HDC* dc) {
  return Owner->GetDC(dc);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetPalette(IDirectDrawPalette** palette) {
  return Owner->GetPalette(palette);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetPixelFormat(DDPIXELFORMAT* format) {
  if (!format || format->dwSize != kDDPixelFormatSize) return DDERR_INVALIDPARAMS;
  Owner->Format().ToDD(*format);
  return DD_OK;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::GetSurfaceDesc(D* desc) {
  if (!DescSizeOk(desc)) return DDERR_INVALIDPARAMS;
  DDSURFACEDESC2 d;
  d.dwSize = kDDSurfaceDesc2Size;
  Owner->GetSurfaceDesc(d);
  if constexpr (std::is_same_v<D, DDSURFACEDESC>) {
    DescToV1(d, *desc);
  } else {
    *desc = d;
  }
  return DD_OK;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::IsLost() {
  return Owner->IsLost();
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::Lock(const RECT* rect, D* desc, DWORD flags, HANDLE event) {
  if (!DescSizeOk(desc)) return DDERR_INVALIDPARAMS;
  DDSURFACEDESC2 d;
  d.dwSize = kDDSurfaceDesc2Size;
  const HRESULT hr = Owner->Lock(rect, d, flags);
  if (FAILED(hr)) return hr;
  if constexpr (std::is_same_v<D, DDSURFACEDESC>) {
    DescToV1(d, *desc);
  } else {
    *desc = d;
  }
  return hr;
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::ReleaseDC(HDC dc) {
  return Owner->ReleaseDC(dc);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::Restore() {
  return Owner->Restore();
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::SetClipper(IDirectDrawClipper* clipper) {
  return Owner->SetClipper(clipper);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::SetColorKey(DWORD flags, const DDCOLORKEY* key) {
  return Owner->SetColorKey(flags, key);
}
template <class I, class D, class C>
HRESULT SurfaceFacetBase<I, D, C>::SetPalette(IDirectDrawPalette* palette) {
  return Owner->SetPalette(palette);
}

HRESULT SurfaceFacet1::Unlock(void* surfaceData) { return Owner->Unlock(); }
HRESULT SurfaceFacet4::Unlock(RECT* rect) { return Owner->Unlock(); }
HRESULT SurfaceFacet7::Unlock(RECT* rect) { return Owner->Unlock(); }

template class SurfaceFacetBase<IDirectDrawSurface, DDSURFACEDESC, DDSCAPS>;
template class SurfaceFacetBase<IDirectDrawSurface4, DDSURFACEDESC2, DDSCAPS2>;
template class SurfaceFacetBase<IDirectDrawSurface7, DDSURFACEDESC2, DDSCAPS2>;

// --- Descriptions -----------------------------------------------------------------------------

namespace {

// The fields both description versions hold in the same sense; the rest is converted by hand.
template <class From, class To>
void CopySharedDescFields(const From& in, To& out) {
  out.dwHeight = in.dwHeight;
  out.dwWidth = in.dwWidth;
  out.lPitch = in.lPitch;
  out.dwBackBufferCount = in.dwBackBufferCount;
  out.dwMipMapCount = in.dwMipMapCount;
  out.dwAlphaBitDepth = in.dwAlphaBitDepth;
  out.lpSurface = in.lpSurface;
  out.ddckCKDestOverlay = in.ddckCKDestOverlay;
  out.ddckCKDestBlt = in.ddckCKDestBlt;
  out.ddckCKSrcOverlay = in.ddckCKSrcOverlay;
  out.ddckCKSrcBlt = in.ddckCKSrcBlt;
  out.ddpfPixelFormat = in.ddpfPixelFormat;
  out.ddsCaps.dwCaps = in.ddsCaps.dwCaps;
}

}  // namespace

void DescToV2(const DDSURFACEDESC& in, DDSURFACEDESC2& out) {
  out = DDSURFACEDESC2{};
  out.dwSize = kDDSurfaceDesc2Size;
  out.dwFlags = in.dwFlags & ~DDSD_ZBUFFERBITDEPTH;
  CopySharedDescFields(in, out);
  // Version 1 names a depth buffer by its depth alone.
  if (in.dwFlags & DDSD_ZBUFFERBITDEPTH) {
    PixelFormat::Depth(static_cast<int>(in.dwZBufferBitDepth)).ToDD(out.ddpfPixelFormat);
    out.dwFlags |= DDSD_PIXELFORMAT;
    out.dwMipMapCount = 0;
  }
}

void DescToV1(const DDSURFACEDESC2& in, DDSURFACEDESC& out) {
  out = DDSURFACEDESC{};
  out.dwSize = kDDSurfaceDescSize;
  out.dwFlags = in.dwFlags & ~DDSD_TEXTURESTAGE;
  CopySharedDescFields(in, out);
  if (in.ddpfPixelFormat.dwFlags & DDPF_ZBUFFER) {
    out.dwFlags |= DDSD_ZBUFFERBITDEPTH;
    out.dwZBufferBitDepth = in.ddpfPixelFormat.dwZBufferBitDepth;
  }
}

}  // namespace ddraw
