// Our software DirectDraw: the DirectDraw object (versions 1, 4 and 7 of its interface), memory
// surfaces of 8, 16, 24 and 32 bits (and indexed 1/2/4-bit and depth surfaces for the 3-D
// stand-in), clippers, palettes, blits with colour keys, fills, mirroring and stretching, locks
// and device contexts, lost surfaces, vertical-blank waits, and the primary surface that shows
// on the program's windows through the backend.
//
// Structures are our own declarations of the fields the framework reads and writes. Their
// dwSize is checked against the sizes callers fill in (the 32-bit Windows layout), never
// against sizeof, which is larger here because pointers are.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/win/Unknwn.h"
#include "platform/win/WinTypes.h"

// ---------------------------------------------------------------------------------------------
// Result codes

constexpr HRESULT MakeDDHResult(DWORD code) { return static_cast<HRESULT>(0x88760000u | code); }

constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DDERR_UNSUPPORTED = E_NOTIMPL;
constexpr HRESULT DDERR_GENERIC = E_FAIL;
constexpr HRESULT DDERR_INVALIDCAPS = MakeDDHResult(100);
constexpr HRESULT DDERR_INVALIDOBJECT = MakeDDHResult(130);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = MakeDDHResult(145);
constexpr HRESULT DDERR_INVALIDRECT = MakeDDHResult(150);
constexpr HRESULT DDERR_INVALIDMODE = MakeDDHResult(151);
constexpr HRESULT DDERR_NOCLIPPERATTACHED = MakeDDHResult(205);
constexpr HRESULT DDERR_REGIONTOOSMALL = MakeDDHResult(310);
constexpr HRESULT DDERR_CLIPPERISUSINGHWND = MakeDDHResult(567);
constexpr HRESULT DDERR_NOCOLORKEY = MakeDDHResult(215);
constexpr HRESULT DDERR_NOCOOPERATIVELEVELSET = MakeDDHResult(212);
constexpr HRESULT DDERR_NOEXCLUSIVEMODE = MakeDDHResult(225);
constexpr HRESULT DDERR_NOTFOUND = MakeDDHResult(255);
constexpr HRESULT DDERR_OUTOFVIDEOMEMORY = MakeDDHResult(380);
constexpr HRESULT DDERR_SURFACEALREADYATTACHED = MakeDDHResult(410);
constexpr HRESULT DDERR_SURFACEBUSY = MakeDDHResult(430);
constexpr HRESULT DDERR_SURFACELOST = MakeDDHResult(450);
constexpr HRESULT DDERR_CANNOTATTACHSURFACE = MakeDDHResult(552);
constexpr HRESULT DDERR_CANNOTDETACHSURFACE = MakeDDHResult(553);
constexpr HRESULT DDERR_PRIMARYSURFACEALREADYEXISTS = MakeDDHResult(564);
constexpr HRESULT DDERR_SURFACENOTATTACHED = MakeDDHResult(568);
constexpr HRESULT DDERR_NOPALETTEATTACHED = MakeDDHResult(572);
constexpr HRESULT DDERR_BLTFASTCANTCLIP = MakeDDHResult(574);
constexpr HRESULT DDERR_EXCLUSIVEMODEALREADYSET = MakeDDHResult(581);
constexpr HRESULT DDERR_NOTFLIPPABLE = MakeDDHResult(582);
constexpr HRESULT DDERR_CANTDUPLICATE = MakeDDHResult(583);
constexpr HRESULT DDERR_NOTLOCKED = MakeDDHResult(584);
constexpr HRESULT DDERR_NODC = MakeDDHResult(586);
constexpr HRESULT DDERR_DCALREADYCREATED = MakeDDHResult(620);
constexpr HRESULT DDERR_INVALIDDIRECTDRAWGUID = MakeDDHResult(561);

// ---------------------------------------------------------------------------------------------
// Sizes callers put in dwSize

constexpr DWORD kDDSurfaceDescSize = 108;   // DDSURFACEDESC
constexpr DWORD kDDSurfaceDesc2Size = 124;  // DDSURFACEDESC2
constexpr DWORD kDDPixelFormatSize = 32;    // DDPIXELFORMAT
constexpr DWORD kDDBltFXSize = 100;         // DDBLTFX
constexpr DWORD kDDCapsSize = 380;          // DDCAPS
constexpr DWORD kRgnDataHeaderSize = 32;    // RGNDATAHEADER

// ---------------------------------------------------------------------------------------------
// Flags

// Surface description fields in use
constexpr DWORD DDSD_CAPS = 0x1, DDSD_HEIGHT = 0x2, DDSD_WIDTH = 0x4, DDSD_PITCH = 0x8,
                DDSD_BACKBUFFERCOUNT = 0x20, DDSD_ZBUFFERBITDEPTH = 0x40, DDSD_ALPHABITDEPTH = 0x80,
                DDSD_LPSURFACE = 0x800, DDSD_PIXELFORMAT = 0x1000, DDSD_CKDESTOVERLAY = 0x2000,
                DDSD_CKDESTBLT = 0x4000, DDSD_CKSRCOVERLAY = 0x8000, DDSD_CKSRCBLT = 0x10000,
                DDSD_MIPMAPCOUNT = 0x20000, DDSD_REFRESHRATE = 0x40000, DDSD_LINEARSIZE = 0x80000,
                DDSD_TEXTURESTAGE = 0x100000;

// Surface capabilities
constexpr DWORD DDSCAPS_ALPHA = 0x2, DDSCAPS_BACKBUFFER = 0x4, DDSCAPS_COMPLEX = 0x8,
                DDSCAPS_FLIP = 0x10, DDSCAPS_FRONTBUFFER = 0x20, DDSCAPS_OFFSCREENPLAIN = 0x40,
                DDSCAPS_PALETTE = 0x100, DDSCAPS_PRIMARYSURFACE = 0x200,
                DDSCAPS_SYSTEMMEMORY = 0x800, DDSCAPS_TEXTURE = 0x1000, DDSCAPS_3DDEVICE = 0x2000,
                DDSCAPS_VIDEOMEMORY = 0x4000, DDSCAPS_VISIBLE = 0x8000, DDSCAPS_ZBUFFER = 0x20000,
                DDSCAPS_OWNDC = 0x40000, DDSCAPS_MIPMAP = 0x400000,
                DDSCAPS_LOCALVIDMEM = 0x10000000;
constexpr DWORD DDSCAPS2_TEXTUREMANAGE = 0x10;

// Pixel formats
constexpr DWORD DDPF_ALPHAPIXELS = 0x1, DDPF_PALETTEINDEXED4 = 0x8, DDPF_PALETTEINDEXED8 = 0x20,
                DDPF_RGB = 0x40, DDPF_ZBUFFER = 0x400, DDPF_PALETTEINDEXED1 = 0x800,
                DDPF_PALETTEINDEXED2 = 0x1000;

// Blt
constexpr DWORD DDBLT_ASYNC = 0x200, DDBLT_COLORFILL = 0x400, DDBLT_DDFX = 0x800,
                DDBLT_KEYDEST = 0x2000, DDBLT_KEYDESTOVERRIDE = 0x4000, DDBLT_KEYSRC = 0x8000,
                DDBLT_KEYSRCOVERRIDE = 0x10000, DDBLT_WAIT = 0x01000000,
                DDBLT_DONOTWAIT = 0x08000000;
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x0, DDBLTFAST_SRCCOLORKEY = 0x1,
                DDBLTFAST_DESTCOLORKEY = 0x2, DDBLTFAST_WAIT = 0x10, DDBLTFAST_DONOTWAIT = 0x20;
constexpr DWORD DDBLTFX_MIRRORLEFTRIGHT = 0x2, DDBLTFX_MIRRORUPDOWN = 0x4;

// Colour keys
constexpr DWORD DDCKEY_COLORSPACE = 0x1, DDCKEY_DESTBLT = 0x2, DDCKEY_DESTOVERLAY = 0x4,
                DDCKEY_SRCBLT = 0x8, DDCKEY_SRCOVERLAY = 0x10;

// Lock, flip, vertical blank
constexpr DWORD DDLOCK_WAIT = 0x1, DDLOCK_READONLY = 0x10, DDLOCK_WRITEONLY = 0x20;
constexpr DWORD DDFLIP_WAIT = 0x1, DDFLIP_NOVSYNC = 0x8;
constexpr DWORD DDWAITVB_BLOCKBEGIN = 0x1, DDWAITVB_BLOCKBEGINEVENT = 0x2, DDWAITVB_BLOCKEND = 0x4;

// Cooperative levels
constexpr DWORD DDSCL_FULLSCREEN = 0x1, DDSCL_ALLOWREBOOT = 0x2, DDSCL_NOWINDOWCHANGES = 0x4,
                DDSCL_NORMAL = 0x8, DDSCL_EXCLUSIVE = 0x10, DDSCL_ALLOWMODEX = 0x40;

// Palettes
constexpr DWORD DDPCAPS_4BIT = 0x1, DDPCAPS_8BITENTRIES = 0x2, DDPCAPS_8BIT = 0x4,
                DDPCAPS_INITIALIZE = 0x8, DDPCAPS_PRIMARYSURFACE = 0x10, DDPCAPS_ALLOW256 = 0x40,
                DDPCAPS_1BIT = 0x100, DDPCAPS_2BIT = 0x200;

// Driver capabilities
constexpr DWORD DDCAPS_3D = 0x1, DDCAPS_BLT = 0x40, DDCAPS_BLTSTRETCH = 0x200,
                DDCAPS_PALETTE = 0x8000, DDCAPS_COLORKEY = 0x400000,
                DDCAPS_BLTCOLORFILL = 0x04000000, DDCAPS_CANCLIP = 0x20000000;
constexpr DWORD DDCAPS2_PRIMARYGAMMA = 0x20000;
constexpr DWORD DDCKEYCAPS_DESTBLT = 0x2, DDCKEYCAPS_SRCBLT = 0x200;
constexpr DWORD DDFXCAPS_BLTMIRRORLEFTRIGHT = 0x10, DDFXCAPS_BLTMIRRORUPDOWN = 0x20,
                DDFXCAPS_BLTSTRETCHX = 0x2000, DDFXCAPS_BLTSTRETCHY = 0x8000;

constexpr HRESULT DDENUMRET_CANCEL = 0, DDENUMRET_OK = 1;
constexpr DWORD RDH_RECTANGLES = 1;

// Special values accepted in place of a driver GUID pointer.
inline GUID* const DDCREATE_HARDWAREONLY = reinterpret_cast<GUID*>(1);
inline GUID* const DDCREATE_EMULATIONONLY = reinterpret_cast<GUID*>(2);

// ---------------------------------------------------------------------------------------------
// Structures

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue = 0;
  DWORD dwColorSpaceHighValue = 0;
};

struct DDPIXELFORMAT {
  DWORD dwSize = 0;
  DWORD dwFlags = 0;
  DWORD dwFourCC = 0;
  union {
    DWORD dwRGBBitCount = 0;
    DWORD dwZBufferBitDepth;
  };
  union {
    DWORD dwRBitMask = 0;
    DWORD dwStencilBitDepth;
  };
  union {
    DWORD dwGBitMask = 0;
    DWORD dwZBitMask;
  };
  DWORD dwBBitMask = 0;
  DWORD dwRGBAlphaBitMask = 0;
};

struct DDSCAPS {
  DWORD dwCaps = 0;
};

struct DDSCAPS2 {
  DWORD dwCaps = 0;
  DWORD dwCaps2 = 0;
  DWORD dwCaps3 = 0;
  DWORD dwCaps4 = 0;
};

// The description of version 1 interfaces (dwSize 108).
struct DDSURFACEDESC {
  DWORD dwSize = 0;
  DWORD dwFlags = 0;
  DWORD dwHeight = 0;
  DWORD dwWidth = 0;
  LONG lPitch = 0;
  DWORD dwBackBufferCount = 0;
  union {
    DWORD dwMipMapCount = 0;
    DWORD dwZBufferBitDepth;
    DWORD dwRefreshRate;
  };
  DWORD dwAlphaBitDepth = 0;
  void* lpSurface = nullptr;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
};

// The description of version 4 and 7 interfaces (dwSize 124).
struct DDSURFACEDESC2 {
  DWORD dwSize = 0;
  DWORD dwFlags = 0;
  DWORD dwHeight = 0;
  DWORD dwWidth = 0;
  LONG lPitch = 0;
  DWORD dwBackBufferCount = 0;
  union {
    DWORD dwMipMapCount = 0;
    DWORD dwRefreshRate;
  };
  DWORD dwAlphaBitDepth = 0;
  void* lpSurface = nullptr;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage = 0;
};

struct DDBLTFX {
  DWORD dwSize = 0;
  DWORD dwDDFX = 0;
  DWORD dwROP = 0;
  DWORD dwFillColor = 0;
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};

struct DDCAPS {
  DWORD dwSize = 0;
  DWORD dwCaps = 0;
  DWORD dwCaps2 = 0;
  DWORD dwCKeyCaps = 0;
  DWORD dwFXCaps = 0;
  DWORD dwPalCaps = 0;
  DWORD dwVidMemTotal = 0;
  DWORD dwVidMemFree = 0;
  DDSCAPS ddsCaps;
};

struct RGNDATAHEADER {
  DWORD dwSize = 0;
  DWORD iType = 0;
  DWORD nCount = 0;
  DWORD nRgnSize = 0;
  RECT rcBound;
};

// A region: the header, then nCount rectangles right after it (at kRgnDataHeaderSize bytes).
struct RGNDATA {
  RGNDATAHEADER rdh;
  char Buffer[1];
};

// ---------------------------------------------------------------------------------------------
// Interface identities (our own values)

constexpr IID IID_IDirectDraw{0x6d6f7201, 0x6464, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x01}};
constexpr IID IID_IDirectDraw4{0x6d6f7201, 0x6464, 0x0004, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x04}};
constexpr IID IID_IDirectDraw7{0x6d6f7201, 0x6464, 0x0007, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x07}};
constexpr IID IID_IDirectDrawSurface{0x6d6f7202, 0x6464, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x11}};
constexpr IID IID_IDirectDrawSurface4{
    0x6d6f7202, 0x6464, 0x0004, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x14}};
constexpr IID IID_IDirectDrawSurface7{
    0x6d6f7202, 0x6464, 0x0007, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x17}};
constexpr IID IID_IDirectDrawClipper{0x6d6f7203, 0x6464, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x21}};
constexpr IID IID_IDirectDrawPalette{0x6d6f7204, 0x6464, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x31}};
constexpr IID IID_IDirectDrawGammaControl{
    0x6d6f7205, 0x6464, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x41}};
constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---------------------------------------------------------------------------------------------
// Interfaces

// A device context of the GDI stand-in (platform/gdi/Gdi.h), which GetDC hands out.
class TDeviceContext;
using HDC = TDeviceContext*;

class IDirectDrawClipper : public IUnknown {
 public:
  // Copies the clip list (limited to `clip` when given) into `data`; with no data, `size`
  // receives the bytes needed.
  virtual HRESULT GetClipList(const RECT* clip, RGNDATA* data, DWORD* size) = 0;
  virtual HRESULT GetHWnd(HWND* wnd) = 0;
  virtual HRESULT SetClipList(const RGNDATA* data, DWORD flags) = 0;
  // Clips to the client area of the window instead of a clip list.
  virtual HRESULT SetHWnd(DWORD flags, HWND wnd) = 0;
};

class IDirectDrawPalette : public IUnknown {
 public:
  virtual HRESULT GetCaps(DWORD* caps) = 0;
  virtual HRESULT GetEntries(DWORD flags, DWORD base, DWORD count, PALETTEENTRY* entries) = 0;
  virtual HRESULT SetEntries(DWORD flags, DWORD start, DWORD count,
                             const PALETTEENTRY* entries) = 0;
};

// Nothing offers it (the driver has no primary gamma); the type exists for the callers that
// ask.
class IDirectDrawGammaControl : public IUnknown {};

// The surface interface in its three versions; they differ in the description and caps records
// they take and in the surface type of their arguments.
template <class Self, class Desc, class Caps>
class IDirectDrawSurfaceT : public IUnknown {
 public:
  virtual HRESULT AddAttachedSurface(Self* surface) = 0;
  virtual HRESULT Blt(const RECT* destRect, Self* source, const RECT* srcRect, DWORD flags,
                      const DDBLTFX* fx) = 0;
  virtual HRESULT BltFast(DWORD x, DWORD y, Self* source, const RECT* srcRect, DWORD trans) = 0;
  virtual HRESULT DeleteAttachedSurface(DWORD flags, Self* surface) = 0;
  virtual HRESULT Flip(Self* target, DWORD flags) = 0;
  virtual HRESULT GetAttachedSurface(Caps* caps, Self** surface) = 0;
  virtual HRESULT GetCaps(Caps* caps) = 0;
  virtual HRESULT GetClipper(IDirectDrawClipper** clipper) = 0;
  virtual HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT GetPalette(IDirectDrawPalette** palette) = 0;
  virtual HRESULT GetPixelFormat(DDPIXELFORMAT* format) = 0;
  virtual HRESULT GetSurfaceDesc(Desc* desc) = 0;
  virtual HRESULT IsLost() = 0;
  virtual HRESULT Lock(const RECT* rect, Desc* desc, DWORD flags, HANDLE event) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  virtual HRESULT Restore() = 0;
  virtual HRESULT SetClipper(IDirectDrawClipper* clipper) = 0;
  virtual HRESULT SetColorKey(DWORD flags, const DDCOLORKEY* key) = 0;
  virtual HRESULT SetPalette(IDirectDrawPalette* palette) = 0;
};

class IDirectDrawSurface : public IDirectDrawSurfaceT<IDirectDrawSurface, DDSURFACEDESC, DDSCAPS> {
 public:
  virtual HRESULT Unlock(void* surfaceData) = 0;
};

class IDirectDrawSurface4
    : public IDirectDrawSurfaceT<IDirectDrawSurface4, DDSURFACEDESC2, DDSCAPS2> {
 public:
  virtual HRESULT Unlock(RECT* rect) = 0;
};

class IDirectDrawSurface7
    : public IDirectDrawSurfaceT<IDirectDrawSurface7, DDSURFACEDESC2, DDSCAPS2> {
 public:
  virtual HRESULT Unlock(RECT* rect) = 0;
};

using LPDDENUMMODESCALLBACK = HRESULT (*)(DDSURFACEDESC* desc, void* context);
using LPDDENUMMODESCALLBACK2 = HRESULT (*)(DDSURFACEDESC2* desc, void* context);

// The DirectDraw object in its three versions.
template <class Surface, class Desc, class EnumCallback>
class IDirectDrawT : public IUnknown {
 public:
  virtual HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) = 0;
  virtual HRESULT CreatePalette(DWORD caps, PALETTEENTRY* entries, IDirectDrawPalette** palette,
                                IUnknown* outer) = 0;
  virtual HRESULT CreateSurface(Desc* desc, Surface** surface, IUnknown* outer) = 0;
  virtual HRESULT DuplicateSurface(Surface* original, Surface** duplicate) = 0;
  virtual HRESULT EnumDisplayModes(DWORD flags, Desc* filter, void* context,
                                   EnumCallback callback) = 0;
  virtual HRESULT FlipToGDISurface() = 0;
  virtual HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) = 0;
  virtual HRESULT GetDisplayMode(Desc* desc) = 0;
  virtual HRESULT RestoreDisplayMode() = 0;
  virtual HRESULT SetCooperativeLevel(HWND wnd, DWORD flags) = 0;
  virtual HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) = 0;
};

class IDirectDraw : public IDirectDrawT<IDirectDrawSurface, DDSURFACEDESC, LPDDENUMMODESCALLBACK> {
 public:
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp) = 0;
};

class IDirectDraw4
    : public IDirectDrawT<IDirectDrawSurface4, DDSURFACEDESC2, LPDDENUMMODESCALLBACK2> {
 public:
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                                 DWORD flags) = 0;
};

class IDirectDraw7
    : public IDirectDrawT<IDirectDrawSurface7, DDSURFACEDESC2, LPDDENUMMODESCALLBACK2> {
 public:
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate,
                                 DWORD flags) = 0;
};

// ---------------------------------------------------------------------------------------------
// Entry points (also bound by name in "DDraw.dll")

using LPDDENUMCALLBACKA = BOOL (*)(GUID* guid, const char* description, const char* driverName,
                                   void* context);

HRESULT DirectDrawCreate(GUID* guid, IDirectDraw** dd, IUnknown* outer);
HRESULT DirectDrawCreateEx(GUID* guid, void** dd, const IID& iid, IUnknown* outer);
HRESULT DirectDrawEnumerateA(LPDDENUMCALLBACKA callback, void* context);

// ---------------------------------------------------------------------------------------------
// The machine under the stand-in, and hooks for tests

namespace ddraw {

// Where the primary surface (the screen) meets the windows. By default a window handle is a
// backend window whose client area lies at the position the backend reports, and showing
// presents the pixels to it; the windowing layer replaces this to place child controls.
struct WindowHost {
  // The client area of `wnd` in screen coordinates; false when there is no such window.
  std::function<bool(HWND wnd, TRect& clientOnScreen)> ClientRectOnScreen;
  // Shows a whole client image of `wnd`: 32-bit pixels 0x00RRGGBB, `pitch` bytes per row.
  std::function<void(HWND wnd, const std::uint32_t* pixels, int width, int height, int pitch)> Show;
};
// Replaces the window host; a host with empty functions restores the default.
void SetWindowHost(WindowHost host);
// The current host (never with empty functions), and the default one.
const WindowHost& CurrentWindowHost();
WindowHost DefaultWindowHost();

struct DisplayMode {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
};

// The desktop's format: 32 bits unless a test asks for 8, 16 (5-6-5, or 5-5-5 with rgb555), or
// 24. Surfaces made without a pixel format take the display's. Existing surfaces keep theirs.
void SetDesktopFormat(int bitCount, bool rgb555 = false);
void SetDesktopSize(int width, int height);  // 1920 x 1080 by default
// The modes EnumDisplayModes lists and SetDisplayMode accepts.
void SetDisplayModes(std::vector<DisplayMode> modes);
// Emulated video memory: surfaces that ask for it (or for no memory kind) fail with
// DDERR_OUTOFVIDEOMEMORY beyond the budget; system memory surfaces have a budget of their own.
void SetMemoryBudgets(std::uint64_t videoBytes, std::uint64_t systemBytes);
// Puts every setting above back to its default.
void ResetMachine();

// The desktop's palette (256 entries): fixed colours at both ends, as an 8-bit display has them.
const PALETTEENTRY* SystemPaletteEntries();

// Marks every surface made on this DirectDraw object lost, as a mode change by another
// program would; their memory comes back as junk on Restore.
void MarkSurfacesLost(IUnknown* directDraw);

// Counts of live objects, so tests can see that everything made was released.
int LiveSurfaceCount();
int LiveDirectDrawCount();

}  // namespace ddraw
