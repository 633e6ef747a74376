// The Direct3D set-up of a display asked for 3-D: the requested and achieved features, the two
// set-up paths (DirectX 7, and DirectX 6 with optional retained mode), each choosing a device
// and making an optional Z-buffer on the drawing surface, and the choice of a DirectDraw driver
// for full-screen hardware 3-D.
#pragma once

#include "framework/graphics/DirectDrawSurface.h"
#include "platform/d3d/D3D.h"
#include "platform/d3d/D3DRM.h"
#include "platform/rtl/Sets.h"
#include "platform/win/ComPtr.h"

class TCustomDXDraw;

// Requested features going in, achieved ones coming back; bit n is the option of ordinal n.
enum TD3DOption {
  d3dSelectDriver,  // search every DirectDraw driver for the best 3-D one (driver choice only)
  d3dAnyBitCount,   // the display's bit count may change to one the device renders (driver choice)
  d3dHardware,      // a hardware rasteriser
  d3dRetainedMode,  // the retained-mode objects (DirectX 6 only)
  d3dZBuffer        // a Z-buffer attached to the drawing surface
};
using TD3DOptions = TSet<TD3DOption>;

// The device the set-up took.
struct TD3DDeviceChoice {
  GUID DeviceGUID{};
  bool Hardware = false;
  D3DDEVICEDESC HWDesc;  // DirectX 6: the hardware and the emulation description
  D3DDEVICEDESC HELDesc;
  D3DDEVICEDESC7 Desc7;  // DirectX 7
};

// The DirectDraw bit-depth flag (DDBD_*) of a bit count; 0 for counts no surface has.
DWORD RenderDepthFlag(int BitCount);

// Makes a Z-buffer of the depth the device description offers (16, else 24, else 32) and the
// drawing surface's size, and attaches it; false, with ZBuffer empty, when there is no such
// depth or it cannot be made or attached. Whatever ZBuffer held is freed first.
bool CreateZBuffer(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                   const D3DDEVICEDESC& DeviceDesc, bool Hardware);
bool CreateZBuffer7(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                    const D3DDEVICEDESC7& DeviceDesc, bool Hardware);
// Detaches the Z-buffer from the surface and frees it; ZBuffer becomes empty.
void FreeZBuffer(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer);

// The DirectX 7 path: a device on Surface's IDirectDrawSurface7. Options holds the requested
// features in and the achieved ones out. Raises EDXDrawError "3D device not found" when no
// device renders the surface's bit count and "IDirect3DDevice7 cannot be made" when creation
// fails in hardware and software; any failure leaves no Z-buffer and empty interfaces.
void InitializeDirect3D7(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                         ComPtr<IDirect3D7>& D3D7, ComPtr<IDirect3DDevice7>& Device7,
                         TD3DOptions& Options, TD3DDeviceChoice& Choice);

// The DirectX 6 path: a device on Surface's IDirectDrawSurface4, its older interfaces, and the
// retained-mode objects when asked. Every interface given is cleared first.
void InitializeDirect3D(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                        ComPtr<IDirect3D>& D3D, ComPtr<IDirect3D2>& D3D2, ComPtr<IDirect3D3>& D3D3,
                        ComPtr<IDirect3DDevice>& D3DDevice, ComPtr<IDirect3DDevice2>& D3DDevice2,
                        ComPtr<IDirect3DDevice3>& D3DDevice3, ComPtr<IDirect3DRM>& D3DRM,
                        ComPtr<IDirect3DRM2>& D3DRM2, ComPtr<IDirect3DRM3>& D3DRM3,
                        ComPtr<IDirect3DRMDevice>& D3DRMDevice,
                        ComPtr<IDirect3DRMDevice2>& D3DRMDevice2,
                        ComPtr<IDirect3DRMDevice3>& D3DRMDevice3,
                        ComPtr<IDirect3DRMViewport>& Viewport, ComPtr<IDirect3DRMFrame>& Scene,
                        ComPtr<IDirect3DRMFrame>& Camera, TD3DOptions& Options,
                        TD3DDeviceChoice& Choice);

// For full-screen hardware 3-D, before the display makes its DirectDraw object: finds the
// DirectDraw driver with the best hardware device (only the display's current one without
// d3dSelectDriver), gives its identity to the display (SetDriverGUID) and, with d3dAnyBitCount,
// changes the display's bit count to one the device renders.
void ChooseDirect3DDriver(TD3DOptions Options, TCustomDXDraw* DXDraw);

// What decides between two qualifying drivers: the driver's capabilities and the line
// capabilities of the hardware device found on it.
struct TD3DDriverQuality {
  DDCAPS Caps;
  D3DDEVICEDESC Device;
};
// Whether driver New is preferred to the best so far: never with less video memory; otherwise
// each of video memory, texture/Z-buffer/mipmap surface support and ten device capability
// fields scores +1 when New has more, -1 when less, and a sum of 0 or more prefers New.
bool PreferDirect3DDriver(const TD3DDriverQuality& New, const TD3DDriverQuality& Best);
