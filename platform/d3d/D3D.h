// Our software Direct3D: the Direct3D object that the DirectDraw object answers (versions 1, 2,
// 3 and 7 of its interface), device enumeration with capability records, devices made on a
// surface with the 3-D device capability, render states, texture stage states, the render
// target and the texture bound to each stage.
//
// The machine offers one RGB software device. Tests may replace the device list (hardware
// devices, the reference rasteriser, devices without some depth) and make device creation fail.
// DrawPrimitive draws triangles through the rasteriser (Rasterizer.h).
//
// As in DDraw.h the records are our own declarations of the fields callers read and write; a
// dwSize is checked against the 32-bit Windows size, never against sizeof.
#pragma once

#include <string>
#include <vector>

#include "platform/ddraw/DDraw.h"

// ---------------------------------------------------------------------------------------------
// Basic types

using D3DVALUE = float;
using D3DCOLOR = DWORD;
using D3DCOLORMODEL = DWORD;

// ---------------------------------------------------------------------------------------------
// Result codes

constexpr HRESULT D3D_OK = 0;
constexpr HRESULT D3DERR_INVALID_DEVICE = MakeDDHResult(705);
constexpr HRESULT D3DERR_INVALIDPRIMITIVETYPE = MakeDDHResult(716);
constexpr HRESULT D3DERR_INVALIDVERTEXTYPE = MakeDDHResult(717);

constexpr HRESULT D3DENUMRET_CANCEL = 0, D3DENUMRET_OK = 1;

// Sizes callers put in dwSize
constexpr DWORD kD3DDeviceDescSize = 252;  // D3DDEVICEDESC
constexpr DWORD kD3DPrimCapsSize = 56;     // D3DPRIMCAPS

// ---------------------------------------------------------------------------------------------
// Flags

// Bit depths (render targets, depth buffers)
constexpr DWORD DDBD_1 = 0x4000, DDBD_2 = 0x2000, DDBD_4 = 0x1000, DDBD_8 = 0x800, DDBD_16 = 0x400,
                DDBD_24 = 0x200, DDBD_32 = 0x100;

// Colour models
constexpr D3DCOLORMODEL D3DCOLOR_MONO = 1, D3DCOLOR_RGB = 2;

// Description fields filled (D3DDEVICEDESC.dwFlags)
constexpr DWORD D3DDD_COLORMODEL = 0x1, D3DDD_DEVCAPS = 0x2, D3DDD_TRICAPS = 0x20,
                D3DDD_LINECAPS = 0x10, D3DDD_DEVICERENDERBITDEPTH = 0x80,
                D3DDD_DEVICEZBUFFERBITDEPTH = 0x100;

// Device capabilities
constexpr DWORD D3DDEVCAPS_FLOATTLVERTEX = 0x1, D3DDEVCAPS_TLVERTEXSYSTEMMEMORY = 0x40,
                D3DDEVCAPS_TEXTURESYSTEMMEMORY = 0x100, D3DDEVCAPS_DRAWPRIMTLVERTEX = 0x400,
                D3DDEVCAPS_HWRASTERIZATION = 0x80000;

// Primitive capabilities
constexpr DWORD D3DPMISCCAPS_CULLNONE = 0x10;
constexpr DWORD D3DPRASTERCAPS_DITHER = 0x1, D3DPRASTERCAPS_ZTEST = 0x10;
constexpr DWORD D3DPCMPCAPS_ALWAYS = 0x80;
constexpr DWORD D3DPBLENDCAPS_ZERO = 0x1, D3DPBLENDCAPS_ONE = 0x2, D3DPBLENDCAPS_SRCCOLOR = 0x4,
                D3DPBLENDCAPS_INVSRCCOLOR = 0x8, D3DPBLENDCAPS_SRCALPHA = 0x10,
                D3DPBLENDCAPS_INVSRCALPHA = 0x20;
constexpr DWORD D3DPSHADECAPS_COLORGOURAUDRGB = 0x8;
constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x1, D3DPTEXTURECAPS_POW2 = 0x2,
                D3DPTEXTURECAPS_ALPHA = 0x4, D3DPTEXTURECAPS_TRANSPARENCY = 0x8,
                D3DPTEXTURECAPS_SQUAREONLY = 0x20;
constexpr DWORD D3DPTFILTERCAPS_NEAREST = 0x1, D3DPTFILTERCAPS_LINEAR = 0x2;
constexpr DWORD D3DPTBLENDCAPS_MODULATE = 0x8;
constexpr DWORD D3DPTADDRESSCAPS_WRAP = 0x1, D3DPTADDRESSCAPS_CLAMP = 0x4;

// Render states (those the framework sets)
using D3DRENDERSTATETYPE = DWORD;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ZENABLE = 7, D3DRENDERSTATE_ZWRITEENABLE = 14,
                             D3DRENDERSTATE_SRCBLEND = 19, D3DRENDERSTATE_DESTBLEND = 20,
                             D3DRENDERSTATE_DITHERENABLE = 26, D3DRENDERSTATE_ALPHABLENDENABLE = 27,
                             D3DRENDERSTATE_COLORKEYENABLE = 41;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_CULLMODE = 22;
constexpr DWORD D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3;
constexpr DWORD kD3DRenderStateCount = 256;  // valid states are 1 .. 255

// Blend factors
constexpr DWORD D3DBLEND_ZERO = 1, D3DBLEND_ONE = 2, D3DBLEND_SRCCOLOR = 3,
                D3DBLEND_INVSRCCOLOR = 4, D3DBLEND_SRCALPHA = 5, D3DBLEND_INVSRCALPHA = 6,
                D3DBLEND_DESTALPHA = 7, D3DBLEND_INVDESTALPHA = 8, D3DBLEND_DESTCOLOR = 9,
                D3DBLEND_INVDESTCOLOR = 10, D3DBLEND_SRCALPHASAT = 11;

// Texture stage states
using D3DTEXTURESTAGESTATETYPE = DWORD;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLOROP = 1, D3DTSS_COLORARG1 = 2, D3DTSS_COLORARG2 = 3,
                                   D3DTSS_ALPHAOP = 4, D3DTSS_ALPHAARG1 = 5, D3DTSS_ALPHAARG2 = 6,
                                   D3DTSS_TEXCOORDINDEX = 11, D3DTSS_ADDRESSU = 13,
                                   D3DTSS_ADDRESSV = 14, D3DTSS_MAGFILTER = 16,
                                   D3DTSS_MINFILTER = 17, D3DTSS_MIPFILTER = 18;
constexpr DWORD kD3DTextureStageCount = 8;
constexpr DWORD kD3DTextureStageStateCount = 32;  // valid states are 1 .. 31

constexpr DWORD D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3,
                D3DTOP_MODULATE = 4, D3DTOP_MODULATE2X = 5, D3DTOP_MODULATE4X = 6, D3DTOP_ADD = 7;
constexpr DWORD D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2;
constexpr DWORD D3DTA_SELECTMASK = 0xF, D3DTA_COMPLEMENT = 0x10, D3DTA_ALPHAREPLICATE = 0x20;
// Texture addressing; a stage whose mode was never set wraps.
constexpr DWORD D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3;
// Filters: magnification and minification both count point 1, linear 2; mipmapping none 1.
constexpr DWORD D3DTFG_POINT = 1, D3DTFG_LINEAR = 2;
constexpr DWORD D3DTFN_POINT = 1, D3DTFN_LINEAR = 2;
constexpr DWORD D3DTFP_NONE = 1;

// Primitives and vertex formats
using D3DPRIMITIVETYPE = DWORD;
constexpr D3DPRIMITIVETYPE D3DPT_POINTLIST = 1, D3DPT_LINELIST = 2, D3DPT_LINESTRIP = 3,
                           D3DPT_TRIANGLELIST = 4, D3DPT_TRIANGLESTRIP = 5, D3DPT_TRIANGLEFAN = 6;
constexpr DWORD D3DFVF_POSITION_MASK = 0x00E, D3DFVF_NORMAL = 0x010, D3DFVF_RESERVED1 = 0x020,
                D3DFVF_TEXCOUNT_MASK = 0xF00, D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr DWORD D3DFVF_XYZRHW = 0x004, D3DFVF_DIFFUSE = 0x040, D3DFVF_SPECULAR = 0x080,
                D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DDP_WAIT = 0x1;

// ---------------------------------------------------------------------------------------------
// Structures

struct D3DTRANSFORMCAPS {
  DWORD dwSize = 0;
  DWORD dwCaps = 0;
};

struct D3DLIGHTINGCAPS {
  DWORD dwSize = 0;
  DWORD dwCaps = 0;
  DWORD dwLightingModel = 0;
  DWORD dwNumLights = 0;
};

struct D3DPRIMCAPS {
  DWORD dwSize = 0;
  DWORD dwMiscCaps = 0;
  DWORD dwRasterCaps = 0;
  DWORD dwZCmpCaps = 0;
  DWORD dwSrcBlendCaps = 0;
  DWORD dwDestBlendCaps = 0;
  DWORD dwAlphaCmpCaps = 0;
  DWORD dwShadeCaps = 0;
  DWORD dwTextureCaps = 0;
  DWORD dwTextureFilterCaps = 0;
  DWORD dwTextureBlendCaps = 0;
  DWORD dwTextureAddressCaps = 0;
  DWORD dwStippleWidth = 0;
  DWORD dwStippleHeight = 0;
};

// A vertex already in pixel coordinates, as drawn with D3DFVF_XYZRHW | D3DFVF_DIFFUSE |
// D3DFVF_SPECULAR | D3DFVF_TEX1 (32 bytes).
struct D3DTLVERTEX {
  D3DVALUE sx = 0, sy = 0, sz = 0, rhw = 0;
  D3DCOLOR color = 0, specular = 0;
  D3DVALUE tu = 0, tv = 0;
};
static_assert(sizeof(D3DTLVERTEX) == 32);

// The device description of versions 1 to 3 (dwSize 252): one for the hardware and one for the
// emulation layer.
struct D3DDEVICEDESC {
  DWORD dwSize = 0;
  DWORD dwFlags = 0;
  D3DCOLORMODEL dcmColorModel = 0;
  DWORD dwDevCaps = 0;
  D3DTRANSFORMCAPS dtcTransformCaps;
  BOOL bClipping = 0;
  D3DLIGHTINGCAPS dlcLightingCaps;
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth = 0;
  DWORD dwDeviceZBufferBitDepth = 0;
  DWORD dwMaxBufferSize = 0;
  DWORD dwMaxVertexCount = 0;
  DWORD dwMinTextureWidth = 0;
  DWORD dwMinTextureHeight = 0;
  DWORD dwMaxTextureWidth = 0;
  DWORD dwMaxTextureHeight = 0;
  DWORD dwMinStippleWidth = 0;
  DWORD dwMaxStippleWidth = 0;
  DWORD dwMinStippleHeight = 0;
  DWORD dwMaxStippleHeight = 0;
  DWORD dwMaxTextureRepeat = 0;
  DWORD dwMaxTextureAspectRatio = 0;
  DWORD dwMaxAnisotropy = 0;
  D3DVALUE dvGuardBandLeft = 0;
  D3DVALUE dvGuardBandTop = 0;
  D3DVALUE dvGuardBandRight = 0;
  D3DVALUE dvGuardBandBottom = 0;
  D3DVALUE dvExtentsAdjust = 0;
  DWORD dwStencilCaps = 0;
  DWORD dwFVFCaps = 0;
  DWORD dwTextureOpCaps = 0;
  WORD wMaxTextureBlendStages = 0;
  WORD wMaxSimultaneousTextures = 0;
};

// The device description of version 7 (no dwSize).
struct D3DDEVICEDESC7 {
  DWORD dwDevCaps = 0;
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth = 0;
  DWORD dwDeviceZBufferBitDepth = 0;
  DWORD dwMinTextureWidth = 0;
  DWORD dwMinTextureHeight = 0;
  DWORD dwMaxTextureWidth = 0;
  DWORD dwMaxTextureHeight = 0;
  DWORD dwMaxTextureRepeat = 0;
  DWORD dwMaxTextureAspectRatio = 0;
  DWORD dwMaxAnisotropy = 0;
  D3DVALUE dvGuardBandLeft = 0;
  D3DVALUE dvGuardBandTop = 0;
  D3DVALUE dvGuardBandRight = 0;
  D3DVALUE dvGuardBandBottom = 0;
  D3DVALUE dvExtentsAdjust = 0;
  DWORD dwStencilCaps = 0;
  DWORD dwFVFCaps = 0;
  DWORD dwTextureOpCaps = 0;
  WORD wMaxTextureBlendStages = 0;
  WORD wMaxSimultaneousTextures = 0;
  DWORD dwMaxActiveLights = 0;
  D3DVALUE dvMaxVertexW = 0;
  GUID deviceGUID{};
  WORD wMaxUserClipPlanes = 0;
  WORD wMaxVertexBlendMatrices = 0;
  DWORD dwVertexProcessingCaps = 0;
  DWORD dwReserved1 = 0, dwReserved2 = 0, dwReserved3 = 0, dwReserved4 = 0;
};

// ---------------------------------------------------------------------------------------------
// Identities. The reference rasteriser's device has its well-known identity (callers skip it
// by that); everything else carries our own values.

constexpr IID IID_IDirect3D{0x6d6f7301, 0x6433, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x51}};
constexpr IID IID_IDirect3D2{0x6d6f7301, 0x6433, 0x0002, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x52}};
constexpr IID IID_IDirect3D3{0x6d6f7301, 0x6433, 0x0003, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x53}};
constexpr IID IID_IDirect3D7{0x6d6f7301, 0x6433, 0x0007, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x57}};
constexpr IID IID_IDirect3DDevice{0x6d6f7302, 0x6433, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x61}};
constexpr IID IID_IDirect3DDevice2{0x6d6f7302, 0x6433, 0x0002, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x62}};
constexpr IID IID_IDirect3DDevice3{0x6d6f7302, 0x6433, 0x0003, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x63}};
constexpr IID IID_IDirect3DDevice7{0x6d6f7302, 0x6433, 0x0007, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x67}};

// Our software rasteriser.
constexpr GUID IID_IDirect3DRGBDevice{
    0x6d6f7303, 0x6433, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x71}};
constexpr GUID IID_IDirect3DRefDevice{
    0x50936643, 0x13e9, 0x11d1, {0x89, 0xaa, 0x00, 0xa0, 0xc9, 0x05, 0x41, 0x29}};

// ---------------------------------------------------------------------------------------------
// Interfaces

using LPD3DENUMDEVICESCALLBACK = HRESULT (*)(GUID* guid, char* description, char* name,
                                             D3DDEVICEDESC* hardwareDesc,
                                             D3DDEVICEDESC* emulationDesc, void* context);
using LPD3DENUMDEVICESCALLBACK7 = HRESULT (*)(char* description, char* name, D3DDEVICEDESC7* desc,
                                              void* context);
using LPD3DENUMPIXELFORMATSCALLBACK = HRESULT (*)(DDPIXELFORMAT* format, void* context);

class IDirect3D7;
class IDirect3D3;

// Operations every device version has; Surface is the render target's surface interface.
template <class Surface>
class IDirect3DDeviceT : public IUnknown {
 public:
  virtual HRESULT SetRenderTarget(Surface* target, DWORD flags) = 0;
  virtual HRESULT GetRenderTarget(Surface** target) = 0;
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) = 0;
};

class IDirect3DDevice : public IUnknown {
 public:
  virtual HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) = 0;
};

class IDirect3DDevice2 : public IDirect3DDeviceT<IDirectDrawSurface> {
 public:
  virtual HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) = 0;
};

class IDirect3DDevice3 : public IDirect3DDeviceT<IDirectDrawSurface4> {
 public:
  virtual HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) = 0;
  virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
  virtual HRESULT GetDirect3D(IDirect3D3** d3d) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                       DWORD* value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                       DWORD value) = 0;
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                                DWORD vertexCount, DWORD flags) = 0;
};

class IDirect3DDevice7 : public IDirect3DDeviceT<IDirectDrawSurface7> {
 public:
  virtual HRESULT GetCaps(D3DDEVICEDESC7* desc) = 0;
  virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
  virtual HRESULT GetDirect3D(IDirect3D7** d3d) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                       DWORD* value) = 0;
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                       DWORD value) = 0;
  // The texture of a stage (nullptr unbinds it); a surface made as a texture.
  virtual HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) = 0;
  virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                                DWORD vertexCount, DWORD flags) = 0;
};

class IDirect3D : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) = 0;
};

class IDirect3D2 : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) = 0;
  virtual HRESULT CreateDevice(const GUID& device, IDirectDrawSurface* target,
                               IDirect3DDevice2** out) = 0;
};

class IDirect3D3 : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) = 0;
  virtual HRESULT CreateDevice(const GUID& device, IDirectDrawSurface4* target,
                               IDirect3DDevice3** out, IUnknown* outer) = 0;
};

class IDirect3D7 : public IUnknown {
 public:
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) = 0;
  virtual HRESULT CreateDevice(const GUID& device, IDirectDrawSurface7* target,
                               IDirect3DDevice7** out) = 0;
};

// ---------------------------------------------------------------------------------------------
// The devices of the machine, and hooks for tests

namespace ddraw {
struct DirectDrawExtension;
}

namespace d3d {

// One device the Direct3D object enumerates. A "hardware" device renders like the software one;
// it reports the hardware rasteriser flag and, as hardware does, draws only into video memory.
struct DeviceInfo {
  GUID Guid{};
  std::string Description;
  std::string Name;
  bool Hardware = false;
  D3DCOLORMODEL ColorModel = D3DCOLOR_RGB;
  DWORD RenderDepths = 0;   // DDBD_* of the render targets it draws into
  DWORD ZBufferDepths = 0;  // DDBD_* of the depth buffers it uses
  DWORD DevCaps = 0;        // D3DDEVCAPS_* besides the hardware flag
  D3DPRIMCAPS Caps;         // line and triangle capabilities alike
  DWORD MinTextureWidth = 0, MinTextureHeight = 0;
  DWORD MaxTextureWidth = 0, MaxTextureHeight = 0;
};

// Our RGB software rasteriser, the only device of a machine left alone.
DeviceInfo SoftwareDevice();
// The same device as a hardware one would present itself, under another identity.
DeviceInfo HardwareDevice();
// The reference rasteriser (a software device under its well-known identity).
DeviceInfo ReferenceDevice();

// Replaces the devices every Direct3D object enumerates, in this order.
void SetDevices(std::vector<DeviceInfo> devices);
const std::vector<DeviceInfo>& Devices();
// The next `count` device creations fail (DDERR_GENERIC), whatever their arguments.
void FailCreateDevice(int count = 1);
// Back to the software device alone and no planned failures.
void ResetMachine();

// Counts of live objects, so tests can see that everything made was released.
int LiveDirect3DCount();
int LiveDeviceCount();

// The texture formats devices enumerate, in order.
std::vector<DDPIXELFORMAT> TextureFormats();
// Replaces the texture formats devices enumerate; an empty list brings back the usual ones
// (as ResetMachine does).
void SetTextureFormats(std::vector<DDPIXELFORMAT> formats);

// What the DirectDraw object answers for Direct3D and the capabilities it adds; the DirectDraw
// machine takes it in when it starts.
ddraw::DirectDrawExtension Direct3DExtension();

}  // namespace d3d
