// The objects behind the DirectDraw stand-in's interfaces. Callers use the interfaces of
// DDraw.h; the other stand-ins (the software 3-D device) reach the pixels through these.
//
// Each object answers every version of its interface through a member "facet" per version;
// the facets share the object's reference count and forward to it, so asking an object for an
// interface always gives the same pointer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ddraw/Blitter.h"
#include "platform/ddraw/DDraw.h"
#include "platform/ddraw/PixelFormat.h"

namespace ddraw {

class Surface;
class DirectDrawObject;

// Pixel memory; duplicated surfaces share it, and a flip swaps it between surfaces.
struct PixelStore {
  std::vector<std::uint8_t> Bytes;
  int Width = 0;
  int Height = 0;
  std::ptrdiff_t Pitch = 0;
  PixelFormat Format;
  bool Video = false;         // counted against the video memory budget
  std::uint64_t Charged = 0;  // bytes taken from a budget, given back on destruction

  PixelStore() = default;
  PixelStore(const PixelStore&) = delete;
  PixelStore& operator=(const PixelStore&) = delete;
  ~PixelStore();

  std::uint8_t* Row(int y) { return Bytes.data() + y * Pitch; }
  // Whole-byte formats only.
  PixelView View();
  // Refills with junk, as memory given back after a loss holds.
  void FillWithJunk(std::uint32_t seed);
};

class Clipper final : public IDirectDrawClipper {
 public:
  Clipper();
  ~Clipper() override;
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override;
  HRESULT GetClipList(const RECT* clip, RGNDATA* data, DWORD* size) override;
  HRESULT GetHWnd(HWND* wnd) override;
  HRESULT SetClipList(const RGNDATA* data, DWORD flags) override;
  HRESULT SetHWnd(DWORD flags, HWND wnd) override;

  HWND Window() const { return Wnd; }
  // The rectangles blits may write, in screen (primary surface) coordinates for a window
  // clipper, else as the clip list gives them.
  std::vector<TRect> Rects() const;
  static Clipper* From(IUnknown* p);

 private:
  ULONG Refs = 1;
  std::vector<TRect> List;
  bool HasList = false;
  HWND Wnd = 0;
};

class Palette final : public IDirectDrawPalette {
 public:
  Palette(DWORD caps, int count, const PALETTEENTRY* entries);
  ~Palette() override = default;
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override { return ++Refs; }
  ULONG Release() override;
  HRESULT GetCaps(DWORD* caps) override;
  HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) override;
  HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override;

  const PALETTEENTRY* Entries() const { return Table.data(); }
  int Count() const { return Size; }
  static Palette* From(IUnknown* p);

 private:
  ULONG Refs = 1;
  DWORD Caps;
  int Size;
  std::array<PALETTEENTRY, 256> Table{};
};

// ---------------------------------------------------------------------------------------------
// Surfaces

template <class Iface, class Desc, class Caps>
class SurfaceFacetBase : public Iface {
 public:
  explicit SurfaceFacetBase(Surface* owner) : Owner(owner) {}
  ~SurfaceFacetBase() override = default;
  Surface* Object() const { return Owner; }

  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT AddAttachedSurface(Iface* surface) override;
  HRESULT Blt(const RECT* destRect, Iface* source, const RECT* srcRect, DWORD flags,
              const DDBLTFX* fx) override;
  HRESULT BltFast(DWORD x, DWORD y, Iface* source, const RECT* srcRect, DWORD trans) override;
  HRESULT DeleteAttachedSurface(DWORD flags, Iface* surface) override;
  HRESULT Flip(Iface* target, DWORD flags) override;
  HRESULT GetAttachedSurface(Caps* caps, Iface** surface) override;
  HRESULT GetCaps(Caps* caps) override;
  HRESULT GetClipper(IDirectDrawClipper** clipper) override;
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT GetPalette(IDirectDrawPalette** palette) override;
  HRESULT GetPixelFormat(DDPIXELFORMAT* format) override;
  HRESULT GetSurfaceDesc(Desc* desc) override;
  HRESULT IsLost() override;
  HRESULT Lock(const RECT* rect, Desc* desc, DWORD flags, HANDLE event) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT Restore() override;
  HRESULT SetClipper(IDirectDrawClipper* clipper) override;
  HRESULT SetColorKey(DWORD flags, const DDCOLORKEY* key) override;
  HRESULT SetPalette(IDirectDrawPalette* palette) override;

 protected:
  Surface* Owner;
};

class SurfaceFacet1 final : public SurfaceFacetBase<IDirectDrawSurface, DDSURFACEDESC, DDSCAPS> {
 public:
  using SurfaceFacetBase::SurfaceFacetBase;
  HRESULT Unlock(void* surfaceData) override;
};
class SurfaceFacet4 final : public SurfaceFacetBase<IDirectDrawSurface4, DDSURFACEDESC2, DDSCAPS2> {
 public:
  using SurfaceFacetBase::SurfaceFacetBase;
  HRESULT Unlock(RECT* rect) override;
};
class SurfaceFacet7 final : public SurfaceFacetBase<IDirectDrawSurface7, DDSURFACEDESC2, DDSCAPS2> {
 public:
  using SurfaceFacetBase::SurfaceFacetBase;
  HRESULT Unlock(RECT* rect) override;
};

class Surface {
 public:
  Surface(DirectDrawObject* dd, std::shared_ptr<PixelStore> store, DWORD caps, DWORD caps2);
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;
  virtual ~Surface();

  HRESULT QueryInterface(const IID& iid, void** out);
  ULONG AddRef() { return ++Refs; }
  ULONG Release();

  // Version-neutral operations behind the facets.
  HRESULT AddAttached(Surface* s);
  HRESULT Blt(const RECT* destRect, Surface* source, const RECT* srcRect, DWORD flags,
              const DDBLTFX* fx);
  HRESULT BltFast(DWORD x, DWORD y, Surface* source, const RECT* srcRect, DWORD trans);
  HRESULT DeleteAttached(DWORD flags, Surface* s);
  HRESULT Flip(Surface* target, DWORD flags);
  HRESULT GetAttached(const DDSCAPS2& caps, Surface*& out);
  void GetCaps(DDSCAPS2& caps) const;
  HRESULT GetClipper(IDirectDrawClipper** clipper);
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key);
  HRESULT GetDC(HDC* dc);
  HRESULT GetPalette(IDirectDrawPalette** palette);
  void GetSurfaceDesc(DDSURFACEDESC2& desc) const;
  HRESULT IsLost() const { return Lost ? DDERR_SURFACELOST : DD_OK; }
  HRESULT Lock(const RECT* rect, DDSURFACEDESC2& desc, DWORD flags);
  HRESULT ReleaseDC(HDC dc);
  HRESULT Restore();
  HRESULT SetClipper(IDirectDrawClipper* clipper);
  HRESULT SetColorKey(DWORD flags, const DDCOLORKEY* key);
  HRESULT SetPalette(IDirectDrawPalette* palette);
  HRESULT Unlock();

  // For the other stand-ins.
  PixelStore& Store() { return *Pixels; }
  const std::shared_ptr<PixelStore>& SharedStore() const { return Pixels; }
  const PixelFormat& Format() const { return Pixels->Format; }
  int Width() const { return Pixels->Width; }
  int Height() const { return Pixels->Height; }
  DWORD CapsBits() const { return CapsValue; }
  bool IsPrimary() const { return (CapsValue & DDSCAPS_PRIMARYSURFACE) != 0; }
  bool IsLocked() const { return Locked || DCOut != 0; }
  bool IsLostNow() const { return Lost; }
  DirectDrawObject* Owner() const { return DD; }
  Palette* AttachedPalette() const { return Pal; }
  const std::vector<Surface*>& Attachments() const { return Attached; }
  void MarkLost() { Lost = true; }
  bool SourceKey(DDCOLORKEY& key) const;

  SurfaceFacet1 Facet1{this};
  SurfaceFacet4 Facet4{this};
  SurfaceFacet7 Facet7{this};
  template <class I>
  I* Facet();

  // The object behind any surface interface of ours; null for anything else.
  static Surface* From(IUnknown* p);

  // The surfaces made together with this one (back buffers of a flipping primary, lower levels
  // of a mipmap), in order; they are held through the attachments and restored with it.
  std::vector<Surface*> Chain;

 private:
  friend class DirectDrawObject;
  HRESULT CheckUsable() const;
  // Shows what changed on the screen, when this is the primary surface.
  void ShowOnScreen(const TRect& changed);
  std::vector<TRect> ClipRegion(const TRect& dest) const;

  ULONG Refs = 1;
  DirectDrawObject* DD;
  std::shared_ptr<PixelStore> Pixels;
  DWORD CapsValue;
  DWORD Caps2Value;
  bool Lost = false;
  bool Locked = false;
  TRect LockRect;
  HDC DCOut = nullptr;
  Clipper* Clip = nullptr;
  Palette* Pal = nullptr;
  DDCOLORKEY SrcKey, DestKey;
  bool HasSrcKey = false;
  bool HasDestKey = false;
  std::vector<Surface*> Attached;  // references held
  std::uint32_t RestoreCount = 0;
};

template <>
inline IDirectDrawSurface* Surface::Facet<IDirectDrawSurface>() {
  return &Facet1;
}
template <>
inline IDirectDrawSurface4* Surface::Facet<IDirectDrawSurface4>() {
  return &Facet4;
}
template <>
inline IDirectDrawSurface7* Surface::Facet<IDirectDrawSurface7>() {
  return &Facet7;
}

// ---------------------------------------------------------------------------------------------
// The DirectDraw object

template <class Iface, class SurfaceIface, class Desc, class EnumCallback>
class DirectDrawFacetBase : public Iface {
 public:
  explicit DirectDrawFacetBase(DirectDrawObject* owner) : Owner(owner) {}
  ~DirectDrawFacetBase() override = default;
  DirectDrawObject* Object() const { return Owner; }

  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) override;
  HRESULT CreatePalette(DWORD caps, PALETTEENTRY* entries, IDirectDrawPalette** palette,
                        IUnknown* outer) override;
  HRESULT CreateSurface(Desc* desc, SurfaceIface** surface, IUnknown* outer) override;
  HRESULT DuplicateSurface(SurfaceIface* original, SurfaceIface** duplicate) override;
  HRESULT EnumDisplayModes(DWORD flags, Desc* filter, void* context,
                           EnumCallback callback) override;
  HRESULT FlipToGDISurface() override;
  HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) override;
  HRESULT GetDisplayMode(Desc* desc) override;
  HRESULT RestoreDisplayMode() override;
  HRESULT SetCooperativeLevel(HWND wnd, DWORD flags) override;
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override;

 protected:
  DirectDrawObject* Owner;
};

class DirectDrawFacet1 final : public DirectDrawFacetBase<IDirectDraw, IDirectDrawSurface,
                                                          DDSURFACEDESC, LPDDENUMMODESCALLBACK> {
 public:
  using DirectDrawFacetBase::DirectDrawFacetBase;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp) override;
};
class DirectDrawFacet4 final : public DirectDrawFacetBase<IDirectDraw4, IDirectDrawSurface4,
                                                          DDSURFACEDESC2, LPDDENUMMODESCALLBACK2> {
 public:
  using DirectDrawFacetBase::DirectDrawFacetBase;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                         DWORD flags) override;
};
class DirectDrawFacet7 final : public DirectDrawFacetBase<IDirectDraw7, IDirectDrawSurface7,
                                                          DDSURFACEDESC2, LPDDENUMMODESCALLBACK2> {
 public:
  using DirectDrawFacetBase::DirectDrawFacetBase;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                         DWORD flags) override;
};

// Another stand-in (the 3-D device) can answer further interfaces of the DirectDraw object and
// add the capabilities it brings.
struct DirectDrawExtension {
  std::function<HRESULT(DirectDrawObject& dd, const IID& iid, void** out)> Query;
  DWORD Caps = 0;         // added to DDCAPS.dwCaps
  DWORD SurfaceCaps = 0;  // added to DDCAPS.ddsCaps.dwCaps
};
void RegisterDirectDrawExtension(DirectDrawExtension ext);

class DirectDrawObject {
 public:
  DirectDrawObject();
  DirectDrawObject(const DirectDrawObject&) = delete;
  DirectDrawObject& operator=(const DirectDrawObject&) = delete;
  virtual ~DirectDrawObject();

  HRESULT QueryInterface(const IID& iid, void** out);
  ULONG AddRef() { return ++Refs; }
  ULONG Release();

  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper);
  HRESULT CreatePalette(DWORD caps, const PALETTEENTRY* entries, IDirectDrawPalette** palette);
  // `desc` in the version-4 form; a version-1 description is converted first.
  HRESULT CreateSurface(const DDSURFACEDESC2& desc, Surface*& out);
  HRESULT DuplicateSurface(Surface* original, Surface*& out);
  HRESULT EnumDisplayModes(DWORD flags, const DDSURFACEDESC2* filter,
                           const std::function<bool(DDSURFACEDESC2&)>& each);
  HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps);
  void GetDisplayMode(DDSURFACEDESC2& desc) const;
  HRESULT RestoreDisplayMode();
  HRESULT SetCooperativeLevel(HWND wnd, DWORD flags);
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp);
  HRESULT WaitForVerticalBlank(DWORD flags);

  HWND CooperativeWindow() const { return CoopWnd; }
  bool Exclusive() const { return (CoopFlags & DDSCL_EXCLUSIVE) != 0; }
  const std::vector<Surface*>& Surfaces() const { return Made; }
  void Forget(Surface* s);

  DirectDrawFacet1 Facet1{this};
  DirectDrawFacet4 Facet4{this};
  DirectDrawFacet7 Facet7{this};
  static DirectDrawObject* From(IUnknown* p);

 private:
  ULONG Refs = 1;
  HWND CoopWnd = 0;
  DWORD CoopFlags = 0;
  bool ModeChanged = false;
  std::vector<Surface*> Made;  // every live surface made on this object (not owned)
};

// Conversions between the two description versions.
void DescToV2(const DDSURFACEDESC& in, DDSURFACEDESC2& out);
void DescToV1(const DDSURFACEDESC2& in, DDSURFACEDESC& out);

}  // namespace ddraw
