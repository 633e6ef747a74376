// The DirectDraw object of the stand-in, the emulated display it drives, and the entry points.
#include <algorithm>
#include <new>

#include "platform/backend/Backend.h"
#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDrawObjects.h"
#include "platform/ddraw/Machine.h"

namespace ddraw {

namespace {

constexpr std::uint64_t kDefaultVideoBudget = 128ull << 20;
constexpr std::uint64_t kDefaultSystemBudget = 1ull << 30;
constexpr int kMaxSurfaceSide = 16384;

std::vector<DisplayMode> DefaultModes() {
  std::vector<DisplayMode> modes;
  for (auto [w, h] : {std::pair{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}})
    for (int bits : {8, 16, 32}) modes.push_back({w, h, bits});
  return modes;
}

// The desktop's fixed colours at both ends and a colour cube with greys between.
std::array<PALETTEENTRY, 256> DefaultSystemPalette() {
  std::array<PALETTEENTRY, 256> p{};
  const BYTE low[10][3] = {{0, 0, 0},       {128, 0, 0},    {0, 128, 0},   {128, 128, 0},
                           {0, 0, 128},     {128, 0, 128},  {0, 128, 128}, {192, 192, 192},
                           {192, 220, 192}, {166, 202, 240}};
  const BYTE high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                            {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                            {0, 255, 255},   {255, 255, 255}};
  for (int i = 0; i < 10; ++i) {
    p[i] = {low[i][0], low[i][1], low[i][2], 0};
    p[246 + i] = {high[i][0], high[i][1], high[i][2], 0};
  }
  int i = 10;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        p[i++] = {static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51), static_cast<BYTE>(b * 51),
                  0};
  for (int k = 0; i < 246; ++i, ++k) {
    const auto v = static_cast<BYTE>(8 + k * 12);
    p[i] = {v, v, v, 0};
  }
  return p;
}

bool DefaultClientRect(HWND wnd, TRect& r) {
  if (!wnd) return false;
  int l = 0, t = 0, w = 0, h = 0;
  backend::Backend::Current().GetWindowBounds(static_cast<backend::WindowId>(wnd), l, t, w, h);
  if (w <= 0 || h <= 0) return false;
  r = {l, t, l + w, t + h};
  return true;
}

void DefaultShow(HWND wnd, const std::uint32_t* pixels, int width, int height, int pitch) {
  backend::Backend::Current().Present(static_cast<backend::WindowId>(wnd), pixels, width, height,
                                      pitch);
}

}  // namespace

// --- Machine ----------------------------------------------------------------------------------

Machine::Machine() {
  ResetSettings();
  SystemPalette = DefaultSystemPalette();
  Host.ClientRectOnScreen = DefaultClientRect;
  Host.Show = DefaultShow;
  // The software 3-D device comes with the machine.
  Extensions.push_back(d3d::Direct3DExtension());
}

void Machine::ResetSettings() {
  Desktop = PixelFormat::Rgb(32);
  DesktopWidth = DesktopHeight = 0;
  Modes = DefaultModes();
  Current = {};
  VideoBudget = kDefaultVideoBudget;
  SystemBudget = kDefaultSystemBudget;
}

Machine& TheMachine() {
  // Never destroyed: the forms, and with them the last surfaces and DirectDraw objects, are
  // freed at exit after the static objects made once the program ran.
  static auto* m = new Machine();
  return *m;
}

PixelFormat Machine::DisplayFormat() const {
  if (Current.BitCount != 0) return PixelFormat::Rgb(Current.BitCount);
  return Desktop;
}

void Machine::DisplaySize(int& width, int& height) const {
  if (Current.BitCount != 0) {
    width = Current.Width;
    height = Current.Height;
  } else if (DesktopWidth > 0 && DesktopHeight > 0) {
    width = DesktopWidth;
    height = DesktopHeight;
  } else {
    backend::Backend::Current().ScreenSize(width, height);
    if (width <= 0 || height <= 0) width = 1920, height = 1080;
  }
}

std::ptrdiff_t PitchFor(int width, int bitCount) {
  const std::int64_t bits = static_cast<std::int64_t>(width) * bitCount;
  return static_cast<std::ptrdiff_t>(((bits + 63) / 64) * 8);
}

std::shared_ptr<PixelStore> Machine::MakeStore(int width, int height, const PixelFormat& format,
                                               bool video, bool charge, HRESULT& hr) {
  hr = DD_OK;
  if (width <= 0 || height <= 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) {
    hr = DDERR_INVALIDPARAMS;
    return nullptr;
  }
  const std::ptrdiff_t pitch = PitchFor(width, format.BitCount);
  const auto bytes = static_cast<std::uint64_t>(pitch) * static_cast<std::uint64_t>(height);
  if (charge) {
    if (video && VideoUsed + bytes > VideoBudget) {
      hr = DDERR_OUTOFVIDEOMEMORY;
      return nullptr;
    }
    if (!video && SystemUsed + bytes > SystemBudget) {
      hr = DDERR_OUTOFMEMORY;
      return nullptr;
    }
  }
  auto store = std::make_shared<PixelStore>();
  try {
    store->Bytes.assign(static_cast<std::size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    hr = DDERR_OUTOFMEMORY;
    return nullptr;
  }
  store->Width = width;
  store->Height = height;
  store->Pitch = pitch;
  store->Format = format;
  store->Video = video;
  if (charge) {
    store->Charged = bytes;
    (video ? VideoUsed : SystemUsed) += bytes;
  }
  return store;
}

void Machine::GiveBack(PixelStore& store) {
  if (store.Charged == 0) return;
  std::uint64_t& used = store.Video ? VideoUsed : SystemUsed;
  used -= std::min(used, store.Charged);
  store.Charged = 0;
}

// --- Public hooks -----------------------------------------------------------------------------

void SetWindowHost(WindowHost host) {
  Machine& m = TheMachine();
  m.Host.ClientRectOnScreen =
      host.ClientRectOnScreen ? std::move(host.ClientRectOnScreen) : DefaultClientRect;
  m.Host.Show = host.Show ? std::move(host.Show) : DefaultShow;
}

const WindowHost& CurrentWindowHost() { return TheMachine().Host; }

WindowHost DefaultWindowHost() {
  WindowHost h;
  h.ClientRectOnScreen = DefaultClientRect;
  h.Show = DefaultShow;
  return h;
}

void SetDesktopFormat(int bitCount, bool rgb555) {
  TheMachine().Desktop = PixelFormat::Rgb(bitCount, rgb555);
}

void SetDesktopSize(int width, int height) {
  TheMachine().DesktopWidth = width;
  TheMachine().DesktopHeight = height;
}

void SetDisplayModes(std::vector<DisplayMode> modes) { TheMachine().Modes = std::move(modes); }

void SetMemoryBudgets(std::uint64_t videoBytes, std::uint64_t systemBytes) {
  TheMachine().VideoBudget = videoBytes;
  TheMachine().SystemBudget = systemBytes;
}

void ResetMachine() { TheMachine().ResetSettings(); }

void MarkSurfacesLost(IUnknown* directDraw) {
  if (DirectDrawObject* dd = DirectDrawObject::From(directDraw))
    for (Surface* s : dd->Surfaces()) s->MarkLost();
}

int LiveSurfaceCount() { return TheMachine().LiveSurfaces; }
int LiveDirectDrawCount() { return TheMachine().LiveDirectDraws; }

void RegisterDirectDrawExtension(DirectDrawExtension ext) {
  TheMachine().Extensions.push_back(std::move(ext));
}

const PALETTEENTRY* SystemPaletteEntries() { return TheMachine().SystemPalette.data(); }

// --- DirectDrawObject -------------------------------------------------------------------------

DirectDrawObject::DirectDrawObject() { ++TheMachine().LiveDirectDraws; }

DirectDrawObject::~DirectDrawObject() {
  Machine& m = TheMachine();
  if (m.ExclusiveOwner == this) {
    m.ExclusiveOwner = nullptr;
    m.Current = {};
  }
  --m.LiveDirectDraws;
}

ULONG DirectDrawObject::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

HRESULT DirectDrawObject::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDirectDraw) {
    *out = &Facet1;
  } else if (iid == IID_IDirectDraw4) {
    *out = &Facet4;
  } else if (iid == IID_IDirectDraw7) {
    *out = &Facet7;
  } else {
    for (const auto& ext : TheMachine().Extensions) {
      if (ext.Query && SUCCEEDED(ext.Query(*this, iid, out))) return S_OK;
    }
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

DirectDrawObject* DirectDrawObject::From(IUnknown* p) {
  if (!p) return nullptr;
  if (auto* f = dynamic_cast<DirectDrawFacet1*>(p)) return f->Object();
  if (auto* f = dynamic_cast<DirectDrawFacet4*>(p)) return f->Object();
  if (auto* f = dynamic_cast<DirectDrawFacet7*>(p)) return f->Object();
  return nullptr;
}

void DirectDrawObject::Forget(Surface* s) { std::erase(Made, s); }

HRESULT DirectDrawObject::CreateClipper(DWORD flags, IDirectDrawClipper** clipper) {
  if (!clipper) return DDERR_INVALIDPARAMS;
  *clipper = new Clipper();
  return DD_OK;
}

HRESULT DirectDrawObject::CreatePalette(DWORD caps, const PALETTEENTRY* entries,
                                        IDirectDrawPalette** palette) {
  if (!palette) return DDERR_INVALIDPARAMS;
  *palette = nullptr;
  const DWORD size = caps & (DDPCAPS_1BIT | DDPCAPS_2BIT | DDPCAPS_4BIT | DDPCAPS_8BIT);
  int count = 0;
  switch (size) {
    case DDPCAPS_1BIT:
      count = 2;
      break;
    case DDPCAPS_2BIT:
      count = 4;
      break;
    case DDPCAPS_4BIT:
      count = 16;
      break;
    case DDPCAPS_8BIT:
      count = 256;
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  if (!entries) return DDERR_INVALIDPARAMS;
  *palette = new Palette(caps, count, entries);
  return DD_OK;
}

HRESULT DirectDrawObject::CreateSurface(const DDSURFACEDESC2& desc, Surface*& out) {
  out = nullptr;
  Machine& m = TheMachine();
  if (CoopFlags == 0) return DDERR_NOCOOPERATIVELEVELSET;
  const DWORD flags = desc.dwFlags;
  const DWORD caps = (flags & DDSD_CAPS) ? desc.ddsCaps.dwCaps : 0;
  const DWORD caps2 = (flags & DDSD_CAPS) ? desc.ddsCaps.dwCaps2 : 0;
  if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDCAPS;
  HRESULT hr = DD_OK;

  if (caps & DDSCAPS_PRIMARYSURFACE) {
    if (flags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
    for (Surface* s : Made)
      if (s->IsPrimary()) return DDERR_PRIMARYSURFACEALREADYEXISTS;
    const bool flipping = (caps & DDSCAPS_FLIP) != 0;
    DWORD backCount = 0;
    if (flipping) {
      if (!(caps & DDSCAPS_COMPLEX) || !(flags & DDSD_BACKBUFFERCOUNT) ||
          desc.dwBackBufferCount == 0 || desc.dwBackBufferCount > 3)
        return DDERR_INVALIDPARAMS;
      if (!Exclusive()) return DDERR_NOEXCLUSIVEMODE;
      backCount = desc.dwBackBufferCount;
    }
    int w = 0, h = 0;
    m.DisplaySize(w, h);
    const PixelFormat format = m.DisplayFormat();
    auto store = m.MakeStore(w, h, format, true, false, hr);
    if (!store) return hr;
    const DWORD keep = caps & (DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE);
    auto* front = new Surface(this, std::move(store),
                              DDSCAPS_PRIMARYSURFACE | DDSCAPS_VISIBLE | DDSCAPS_VIDEOMEMORY |
                                  DDSCAPS_LOCALVIDMEM | keep | (flipping ? DDSCAPS_FRONTBUFFER : 0),
                              0);
    Made.push_back(front);
    Surface* previous = front;
    for (DWORD i = 0; i < backCount; ++i) {
      auto back = m.MakeStore(w, h, format, true, true, hr);
      if (!back) {
        front->Release();
        return hr;
      }
      auto* b =
          new Surface(this, std::move(back),
                      DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM |
                          (keep & DDSCAPS_3DDEVICE) | (i == 0 ? DDSCAPS_BACKBUFFER : 0),
                      0);
      Made.push_back(b);
      previous->Attached.push_back(b);  // the reference made with it
      front->Chain.push_back(b);
      previous = b;
    }
    out = front;
    return DD_OK;
  }

  if (!(flags & DDSD_WIDTH) || !(flags & DDSD_HEIGHT) || desc.dwWidth == 0 || desc.dwHeight == 0)
    return DDERR_INVALIDPARAMS;
  if (desc.dwWidth > static_cast<DWORD>(kMaxSurfaceSide) ||
      desc.dwHeight > static_cast<DWORD>(kMaxSurfaceSide))
    return DDERR_OUTOFMEMORY;
  const int w = static_cast<int>(desc.dwWidth);
  const int h = static_cast<int>(desc.dwHeight);

  PixelFormat format = m.DisplayFormat();
  if (flags & DDSD_PIXELFORMAT) {
    if (!PixelFormat::FromDD(desc.ddpfPixelFormat, format)) return DDERR_INVALIDPIXELFORMAT;
  }
  if (((caps & DDSCAPS_ZBUFFER) != 0) != format.IsDepth()) return DDERR_INVALIDPIXELFORMAT;

  // Asked for video memory (or for no kind): video memory or nothing; a managed texture goes to
  // system memory when video memory is short.
  const bool wantSystem = (caps & DDSCAPS_SYSTEMMEMORY) != 0;
  const bool managed = (caps2 & DDSCAPS2_TEXTUREMANAGE) != 0;
  int levels = 1;
  if ((caps & DDSCAPS_MIPMAP) && (caps & DDSCAPS_COMPLEX) && (flags & DDSD_MIPMAPCOUNT))
    levels = std::clamp(static_cast<int>(desc.dwMipMapCount), 1, 16);

  Surface* first = nullptr;
  Surface* previous = nullptr;
  int lw = w, lh = h;
  for (int level = 0; level < levels; ++level) {
    bool video = !wantSystem;
    auto store = m.MakeStore(lw, lh, format, video, true, hr);
    if (!store && video && managed && hr == DDERR_OUTOFVIDEOMEMORY) {
      video = false;
      store = m.MakeStore(lw, lh, format, false, true, hr);
    }
    if (!store) {
      if (first) first->Release();
      return hr;
    }
    DWORD c = caps & ~(DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM);
    if (!(c & (DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER | DDSCAPS_3DDEVICE))) c |= DDSCAPS_OFFSCREENPLAIN;
    c |= video ? (DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM) : DDSCAPS_SYSTEMMEMORY;
    auto* s = new Surface(this, std::move(store), c, caps2);
    Made.push_back(s);
    if (!first) {
      first = s;
    } else {
      previous->Attached.push_back(s);
      first->Chain.push_back(s);
    }
    previous = s;
    lw = std::max(1, lw / 2);
    lh = std::max(1, lh / 2);
  }
  if (flags & DDSD_CKSRCBLT)
    first->SetColorKey(DDCKEY_SRCBLT | DDCKEY_COLORSPACE, &desc.ddckCKSrcBlt);
  if (flags & DDSD_CKDESTBLT)
    first->SetColorKey(DDCKEY_DESTBLT | DDCKEY_COLORSPACE, &desc.ddckCKDestBlt);
  out = first;
  return DD_OK;
}

HRESULT DirectDrawObject::DuplicateSurface(Surface* original, Surface*& out) {
  out = nullptr;
  if (!original) return DDERR_INVALIDPARAMS;
  if (original->IsPrimary() || !original->Chain.empty() ||
      (original->CapsBits() & (DDSCAPS_FLIP | DDSCAPS_MIPMAP)))
    return DDERR_CANTDUPLICATE;
  auto* s = new Surface(this, original->SharedStore(), original->CapsBits(), 0);
  Made.push_back(s);
  DDCOLORKEY key;
  if (original->SourceKey(key)) s->SetColorKey(DDCKEY_SRCBLT | DDCKEY_COLORSPACE, &key);
  if (SUCCEEDED(original->GetColorKey(DDCKEY_DESTBLT, &key)))
    s->SetColorKey(DDCKEY_DESTBLT | DDCKEY_COLORSPACE, &key);
  out = s;
  return DD_OK;
}

HRESULT DirectDrawObject::EnumDisplayModes(DWORD flags, const DDSURFACEDESC2* filter,
                                           const std::function<bool(DDSURFACEDESC2&)>& each) {
  if (!each) return DDERR_INVALIDPARAMS;
  for (const DisplayMode& mode : TheMachine().Modes) {
    if (filter) {
      if ((filter->dwFlags & DDSD_WIDTH) && filter->dwWidth != static_cast<DWORD>(mode.Width))
        continue;
      if ((filter->dwFlags & DDSD_HEIGHT) && filter->dwHeight != static_cast<DWORD>(mode.Height))
        continue;
      if ((filter->dwFlags & DDSD_PIXELFORMAT) &&
          filter->ddpfPixelFormat.dwRGBBitCount != static_cast<DWORD>(mode.BitCount))
        continue;
    }
    DDSURFACEDESC2 d;
    d.dwSize = kDDSurfaceDesc2Size;
    d.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
    d.dwWidth = static_cast<DWORD>(mode.Width);
    d.dwHeight = static_cast<DWORD>(mode.Height);
    d.lPitch = static_cast<LONG>(PitchFor(mode.Width, mode.BitCount));
    d.dwRefreshRate = 60;
    PixelFormat::Rgb(mode.BitCount).ToDD(d.ddpfPixelFormat);
    if (!each(d)) break;
  }
  return DD_OK;
}

HRESULT DirectDrawObject::GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) {
  if (!driverCaps && !helCaps) return DDERR_INVALIDPARAMS;
  if ((driverCaps && driverCaps->dwSize != kDDCapsSize) ||
      (helCaps && helCaps->dwSize != kDDCapsSize))
    return DDERR_INVALIDPARAMS;
  const Machine& m = TheMachine();
  DDCAPS c;
  c.dwSize = kDDCapsSize;
  c.dwCaps = DDCAPS_BLT | DDCAPS_BLTSTRETCH | DDCAPS_COLORKEY | DDCAPS_BLTCOLORFILL |
             DDCAPS_CANCLIP | DDCAPS_PALETTE;
  c.dwCaps2 = 0;  // no gamma ramp on the primary
  c.dwCKeyCaps = DDCKEYCAPS_SRCBLT | DDCKEYCAPS_DESTBLT;
  c.dwFXCaps = DDFXCAPS_BLTMIRRORLEFTRIGHT | DDFXCAPS_BLTMIRRORUPDOWN | DDFXCAPS_BLTSTRETCHX |
               DDFXCAPS_BLTSTRETCHY;
  c.dwPalCaps = DDPCAPS_1BIT | DDPCAPS_2BIT | DDPCAPS_4BIT | DDPCAPS_8BIT | DDPCAPS_ALLOW256 |
                DDPCAPS_PRIMARYSURFACE;
  c.dwVidMemTotal = static_cast<DWORD>(std::min<std::uint64_t>(m.VideoBudget, 0xFFFFFFFFu));
  c.dwVidMemFree = static_cast<DWORD>(
      std::min<std::uint64_t>(m.VideoBudget - std::min(m.VideoUsed, m.VideoBudget), 0xFFFFFFFFu));
  c.ddsCaps.dwCaps = DDSCAPS_BACKBUFFER | DDSCAPS_COMPLEX | DDSCAPS_FLIP | DDSCAPS_FRONTBUFFER |
                     DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PALETTE | DDSCAPS_PRIMARYSURFACE |
                     DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
  for (const auto& ext : m.Extensions) {
    c.dwCaps |= ext.Caps;
    c.ddsCaps.dwCaps |= ext.SurfaceCaps;
  }
  if (driverCaps) *driverCaps = c;
  if (helCaps) *helCaps = c;
  return DD_OK;
}

void DirectDrawObject::GetDisplayMode(DDSURFACEDESC2& desc) const {
  const Machine& m = TheMachine();
  int w = 0, h = 0;
  m.DisplaySize(w, h);
  const PixelFormat f = m.DisplayFormat();
  const DWORD size = desc.dwSize;
  desc = DDSURFACEDESC2{};
  desc.dwSize = size;
  desc.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
  desc.dwWidth = static_cast<DWORD>(w);
  desc.dwHeight = static_cast<DWORD>(h);
  desc.lPitch = static_cast<LONG>(PitchFor(w, f.BitCount));
  desc.dwRefreshRate = 60;
  f.ToDD(desc.ddpfPixelFormat);
}

HRESULT DirectDrawObject::RestoreDisplayMode() {
  Machine& m = TheMachine();
  if (m.ExclusiveOwner == this || m.ExclusiveOwner == nullptr) m.Current = {};
  return DD_OK;
}

HRESULT DirectDrawObject::SetCooperativeLevel(HWND wnd, DWORD flags) {
  const bool fullScreen = (flags & DDSCL_FULLSCREEN) != 0;
  const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
  const bool normal = (flags & DDSCL_NORMAL) != 0;
  if (normal == (fullScreen || exclusive) || fullScreen != exclusive) return DDERR_INVALIDPARAMS;
  Machine& m = TheMachine();
  if (exclusive) {
    if (!wnd) return DDERR_INVALIDPARAMS;
    if (m.ExclusiveOwner && m.ExclusiveOwner != this) return DDERR_EXCLUSIVEMODEALREADYSET;
    m.ExclusiveOwner = this;
  } else if (m.ExclusiveOwner == this) {
    m.ExclusiveOwner = nullptr;
    m.Current = {};
  }
  CoopWnd = wnd;
  CoopFlags = flags;
  return DD_OK;
}

HRESULT DirectDrawObject::SetDisplayMode(DWORD width, DWORD height, DWORD bpp) {
  Machine& m = TheMachine();
  if (m.ExclusiveOwner && m.ExclusiveOwner != this) return DDERR_NOEXCLUSIVEMODE;
  for (const DisplayMode& mode : m.Modes) {
    if (static_cast<DWORD>(mode.Width) == width && static_cast<DWORD>(mode.Height) == height &&
        static_cast<DWORD>(mode.BitCount) == bpp) {
      m.Current = mode;
      return DD_OK;
    }
  }
  return DDERR_INVALIDMODE;
}

HRESULT DirectDrawObject::WaitForVerticalBlank(DWORD flags) {
  if (flags == DDWAITVB_BLOCKBEGINEVENT) return DDERR_UNSUPPORTED;
  if (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND) return DDERR_INVALIDPARAMS;
  backend::Backend::Current().WaitForVerticalBlank();
  return DD_OK;
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

template <class D>
DDSURFACEDESC2 ToV2(const D& d) {
  if constexpr (std::is_same_v<D, DDSURFACEDESC>) {
    DDSURFACEDESC2 r;
    DescToV2(d, r);
    return r;
  } else {
    return d;
  }
}

template <class D>
void FromV2(const DDSURFACEDESC2& in, D& out) {
  if constexpr (std::is_same_v<D, DDSURFACEDESC>) {
    DescToV1(in, out);
  } else {
    out = in;
  }
}

}  // namespace

template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::QueryInterface(const IID& iid, void** out) {
  return Owner->QueryInterface(iid, out);
}
template <class I, class S, class D, class E>
ULONG DirectDrawFacetBase<I, S, D, E>::AddRef() {
  return Owner->AddRef();
}
template <class I, class S, class D, class E>
ULONG DirectDrawFacetBase<I, S, D, E>::Release() {
  return Owner->Release();
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::CreateClipper(DWORD flags, IDirectDrawClipper** clipper,
                                                       IUnknown* outer) {
  if (outer) return DDERR_INVALIDPARAMS;
  return Owner->CreateClipper(flags, clipper);
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::CreatePalette(DWORD caps, PALETTEENTRY* entries,
                                                       IDirectDrawPalette** palette,
                                                       IUnknown* outer) {
  if (outer) return DDERR_INVALIDPARAMS;
  return Owner->CreatePalette(caps, entries, palette);
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::CreateSurface(D* desc, S** surface, IUnknown* outer) {
  if (!surface) return DDERR_INVALIDPARAMS;
  *surface = nullptr;
  if (outer || !DescSizeOk(desc)) return DDERR_INVALIDPARAMS;
  Surface* made = nullptr;
  const HRESULT hr = Owner->CreateSurface(ToV2(*desc), made);
  if (SUCCEEDED(hr)) *surface = made->template Facet<S>();
  return hr;
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::DuplicateSurface(S* original, S** duplicate) {
  if (!duplicate) return DDERR_INVALIDPARAMS;
  *duplicate = nullptr;
  Surface* o = Surface::From(original);
  if (!o) return DDERR_INVALIDOBJECT;
  Surface* made = nullptr;
  const HRESULT hr = Owner->DuplicateSurface(o, made);
  if (SUCCEEDED(hr)) *duplicate = made->template Facet<S>();
  return hr;
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::EnumDisplayModes(DWORD flags, D* filter, void* context,
                                                          E callback) {
  if (!callback || (filter && !DescSizeOk(filter))) return DDERR_INVALIDPARAMS;
  DDSURFACEDESC2 f;
  if (filter) f = ToV2(*filter);
  return Owner->EnumDisplayModes(flags, filter ? &f : nullptr, [&](DDSURFACEDESC2& mode) {
    D d;
    FromV2(mode, d);
    return callback(&d, context) != DDENUMRET_CANCEL;
  });
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::FlipToGDISurface() {
  return DD_OK;
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) {
  return Owner->GetCaps(driverCaps, helCaps);
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::GetDisplayMode(D* desc) {
  if (!DescSizeOk(desc)) return DDERR_INVALIDPARAMS;
  DDSURFACEDESC2 d;
  d.dwSize = kDDSurfaceDesc2Size;
  Owner->GetDisplayMode(d);
  FromV2(d, *desc);
  return DD_OK;
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::RestoreDisplayMode() {
  return Owner->RestoreDisplayMode();
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::SetCooperativeLevel(HWND wnd, DWORD flags) {
  return Owner->SetCooperativeLevel(wnd, flags);
}
template <class I, class S, class D, class E>
HRESULT DirectDrawFacetBase<I, S, D, E>::WaitForVerticalBlank(DWORD flags, HANDLE event) {
  return Owner->WaitForVerticalBlank(flags);
}

HRESULT DirectDrawFacet1::SetDisplayMode(DWORD width, DWORD height, DWORD bpp) {
  return Owner->SetDisplayMode(width, height, bpp);
}
HRESULT DirectDrawFacet4::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                                         DWORD flags) {
  return Owner->SetDisplayMode(width, height, bpp);
}
HRESULT DirectDrawFacet7::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                                         DWORD flags) {
  return Owner->SetDisplayMode(width, height, bpp);
}

template class DirectDrawFacetBase<IDirectDraw, IDirectDrawSurface, DDSURFACEDESC,
                                   LPDDENUMMODESCALLBACK>;
template class DirectDrawFacetBase<IDirectDraw4, IDirectDrawSurface4, DDSURFACEDESC2,
                                   LPDDENUMMODESCALLBACK2>;
template class DirectDrawFacetBase<IDirectDraw7, IDirectDrawSurface7, DDSURFACEDESC2,
                                   LPDDENUMMODESCALLBACK2>;

}  // namespace ddraw

// --- Entry points -----------------------------------------------------------------------------

namespace {

bool KnownDriver(const GUID* guid) {
  return guid == nullptr || guid == DDCREATE_HARDWAREONLY || guid == DDCREATE_EMULATIONONLY;
}

}  // namespace

HRESULT DirectDrawCreate(GUID* guid, IDirectDraw** dd, IUnknown* outer) {
  if (!dd) return DDERR_INVALIDPARAMS;
  *dd = nullptr;
  if (outer) return DDERR_INVALIDPARAMS;
  if (!KnownDriver(guid)) return DDERR_INVALIDDIRECTDRAWGUID;
  *dd = &(new ddraw::DirectDrawObject())->Facet1;
  return DD_OK;
}

HRESULT DirectDrawCreateEx(GUID* guid, void** dd, const IID& iid, IUnknown* outer) {
  if (!dd) return DDERR_INVALIDPARAMS;
  *dd = nullptr;
  if (outer || !(iid == IID_IDirectDraw7)) return DDERR_INVALIDPARAMS;
  if (!KnownDriver(guid)) return DDERR_INVALIDDIRECTDRAWGUID;
  *dd = static_cast<IDirectDraw7*>(&(new ddraw::DirectDrawObject())->Facet7);
  return DD_OK;
}

HRESULT DirectDrawEnumerateA(LPDDENUMCALLBACKA callback, void* context) {
  if (!callback) return DDERR_INVALIDPARAMS;
  callback(nullptr, "Primary Display Driver", "display", context);
  return DD_OK;
}
