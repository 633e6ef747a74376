#include "framework/graphics/Direct3DSetup.h"

#include <bit>
#include <memory>
#include <optional>
#include <vector>

#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DXDraw.h"
#include "framework/graphics/DirectX.h"

namespace {

constexpr const char* kD3DRMLibrary = "D3DRM.dll";

// Hardware is worth trying only for a surface in the card's memory on a driver with 3-D
// hardware that textures.
bool HardwareTried(TDirectDrawSurface* Surface, TD3DOptions Requested) {
  const DDCAPS& caps = Surface->DDraw()->DriverCaps;
  return Requested.Contains(d3dHardware) &&
         (Surface->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) &&
         (caps.dwCaps & DDCAPS_3D) && (caps.ddsCaps.dwCaps & DDSCAPS_TEXTURE);
}

// One walk over the devices: hardware ones (when tried) win over software ones, and among
// equals the last one enumerated is taken. The reference rasteriser is never taken.
struct TDeviceSearch {
  bool TryHardware = false;
  DWORD Depth = 0;
  bool Found = false;
  TD3DDeviceChoice* Choice = nullptr;

  // Whether a device of this kind replaces what was taken so far.
  bool Takes(const GUID& Guid, bool Hardware, DWORD RenderDepths) const {
    if (Hardware && !TryHardware) return false;
    if (Guid == IID_IDirect3DRefDevice) return false;
    if (!(RenderDepths & Depth)) return false;
    return Hardware || !(Found && Choice->Hardware);
  }
};

HRESULT ChooseDevice7Callback(char* Description, char* Name, D3DDEVICEDESC7* Desc, void* Context) {
  auto& s = *static_cast<TDeviceSearch*>(Context);
  const bool hardware = (Desc->dwDevCaps & D3DDEVCAPS_HWRASTERIZATION) != 0;
  if (s.Takes(Desc->deviceGUID, hardware, Desc->dwDeviceRenderBitDepth)) {
    s.Found = true;
    s.Choice->DeviceGUID = Desc->deviceGUID;
    s.Choice->Hardware = hardware;
    s.Choice->Desc7 = *Desc;
  }
  return D3DENUMRET_OK;
}

HRESULT ChooseDeviceCallback(GUID* Guid, char* Description, char* Name, D3DDEVICEDESC* HWDesc,
                             D3DDEVICEDESC* HELDesc, void* Context) {
  auto& s = *static_cast<TDeviceSearch*>(Context);
  const bool hardware = HWDesc->dcmColorModel != 0;
  const D3DDEVICEDESC& desc = hardware ? *HWDesc : *HELDesc;
  if (desc.dcmColorModel == D3DCOLOR_RGB && s.Takes(*Guid, hardware, desc.dwDeviceRenderBitDepth)) {
    s.Found = true;
    s.Choice->DeviceGUID = *Guid;
    s.Choice->Hardware = hardware;
    s.Choice->HWDesc = *HWDesc;
    s.Choice->HELDesc = *HELDesc;
  }
  return D3DENUMRET_OK;
}

template <class D3DInterface, class Callback>
void ChooseDevice(D3DInterface* D3D, Callback Enum, TDirectDrawSurface* Surface, bool TryHardware,
                  TD3DDeviceChoice& Choice) {
  Choice = TD3DDeviceChoice{};
  TDeviceSearch s;
  s.TryHardware = TryHardware;
  s.Depth = RenderDepthFlag(Surface->BitCount());
  s.Choice = &Choice;
  D3D->EnumDevices(Enum, &s);
  if (!s.Found) throw EDXDrawError(S3DDeviceNotFound);
}

// Asks for another interface of the same object; a missing one is reported as Message.
template <class From, class To>
void Query(const ComPtr<From>& Source, const IID& Iid, ComPtr<To>& Out,
           const std::string& Message) {
  if (FAILED(Source.As(Iid, Out)) || !Out) throw EDXDrawError(Message);
}

bool MakeZBuffer(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer, DWORD Depths,
                 bool Hardware) {
  FreeZBuffer(Surface, ZBuffer);
  const int depth = (Depths & DDBD_16) ? 16 : (Depths & DDBD_24) ? 24 : (Depths & DDBD_32) ? 32 : 0;
  if (depth == 0) return false;
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_ZBUFFERBITDEPTH;
  desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | (Hardware ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
  desc.dwWidth = static_cast<DWORD>(Surface->Width());
  desc.dwHeight = static_cast<DWORD>(Surface->Height());
  desc.dwZBufferBitDepth = static_cast<DWORD>(depth);
  auto* z = new TDirectDrawSurface(Surface->DDraw());
  try {
    if (!z->CreateSurface(desc) || !Surface->IDDSurface() ||
        FAILED(Surface->IDDSurface()->AddAttachedSurface(z->ISurface()))) {
      delete z;
      return false;
    }
  } catch (...) {
    delete z;
    throw;
  }
  ZBuffer = z;
  return true;
}

int Sign(long long Value) { return Value > 0 ? 1 : Value < 0 ? -1 : 0; }

int Bits(DWORD Value) { return std::popcount(Value); }

// The search of the driver choice: the last hardware device rendering the wanted depth (any of
// 16, 24 and 32 when the depth may change).
struct TDriverSearch {
  DWORD Wanted = 0;
  bool AnyBitCount = false;
  bool Found = false;
  D3DDEVICEDESC Device;
};

HRESULT DriverDeviceCallback(GUID* Guid, char* Description, char* Name, D3DDEVICEDESC* HWDesc,
                             D3DDEVICEDESC* HELDesc, void* Context) {
  auto& s = *static_cast<TDriverSearch*>(Context);
  if (HWDesc->dcmColorModel == 0) return D3DENUMRET_OK;
  const DWORD depths = HWDesc->dwDeviceRenderBitDepth;
  if (s.AnyBitCount ? (depths & (DDBD_16 | DDBD_24 | DDBD_32)) != 0 : (depths & s.Wanted) != 0) {
    s.Found = true;
    s.Device = *HWDesc;
  }
  return D3DENUMRET_OK;
}

bool FindHardwareDevice(TDirectDraw* DDraw, TDriverSearch& Search) {
  Search.Found = false;
  ComPtr<IDirect3D> d3d;
  if (!DDraw->IDDraw() || FAILED(ComPtr<IDirectDraw>(DDraw->IDDraw()).As(IID_IDirect3D, d3d)))
    return false;
  d3d->EnumDevices(DriverDeviceCallback, &Search);
  return Search.Found;
}

BOOL CollectDriver(GUID* Guid, const char* Description, const char* DriverName, void* Context) {
  auto& drivers = *static_cast<std::vector<std::optional<GUID>>*>(Context);
  drivers.push_back(Guid ? std::optional<GUID>(*Guid) : std::nullopt);
  return TRUE_;
}

}  // namespace

DWORD RenderDepthFlag(int BitCount) {
  switch (BitCount) {
    case 1:
      return DDBD_1;
    case 2:
      return DDBD_2;
    case 4:
      return DDBD_4;
    case 8:
      return DDBD_8;
    case 16:
      return DDBD_16;
    case 24:
      return DDBD_24;
    case 32:
      return DDBD_32;
    default:
      return 0;
  }
}

bool CreateZBuffer(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                   const D3DDEVICEDESC& DeviceDesc, bool Hardware) {
  return MakeZBuffer(Surface, ZBuffer, DeviceDesc.dwDeviceZBufferBitDepth, Hardware);
}

bool CreateZBuffer7(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                    const D3DDEVICEDESC7& DeviceDesc, bool Hardware) {
  return MakeZBuffer(Surface, ZBuffer, DeviceDesc.dwDeviceZBufferBitDepth, Hardware);
}

void FreeZBuffer(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer) {
  if (!ZBuffer) return;
  if (Surface && Surface->IDDSurface() && ZBuffer->IDDSurface())
    Surface->IDDSurface()->DeleteAttachedSurface(0, ZBuffer->IDDSurface());
  // Freed even when there is no surface left to detach it from: nothing else would free it
  // before its DirectDraw object goes.
  delete ZBuffer;
  ZBuffer = nullptr;
}

void InitializeDirect3D7(TDirectDrawSurface* Surface, TDirectDrawSurface*& ZBuffer,
                         ComPtr<IDirect3D7>& D3D7, ComPtr<IDirect3DDevice7>& Device7,
                         TD3DOptions& Options, TD3DDeviceChoice& Choice) {
  const TD3DOptions requested = Options - TD3DOptions{d3dRetainedMode};
  Options = {};
  D3D7.Reset();
  Device7.Reset();
  try {
    Query(ComPtr<IDirectDraw7>(Surface->DDraw()->IDraw7()), IID_IDirect3D7, D3D7,
          SDirectX7NotFound);
    bool tryHardware = HardwareTried(Surface, requested);
    // Each choice starts from nothing achieved: a retry in software keeps nothing of the
    // hardware attempt.
    auto choose = [&] {
      Options = {};
      ChooseDevice(D3D7.Get(), ChooseDevice7Callback, Surface, tryHardware, Choice);
      if (Choice.Hardware) Options.Include(d3dHardware);
      if (requested.Contains(d3dZBuffer) &&
          CreateZBuffer7(Surface, ZBuffer, Choice.Desc7, Choice.Hardware))
        Options.Include(d3dZBuffer);
    };
    auto create = [&] {
      IDirect3DDevice7* device = nullptr;
      if (FAILED(D3D7->CreateDevice(Choice.DeviceGUID, Surface->ISurface7(), &device)) || !device)
        return false;
      Device7 = ComPtr<IDirect3DDevice7>::Attach(device);
      return true;
    };
    choose();
    if (!create()) {
      tryHardware = false;
      choose();
      if (!create()) throw EDXDrawError(Format(SCannotMade, {"IDirect3DDevice7"}));
    }
  } catch (...) {
    FreeZBuffer(Surface, ZBuffer);
    Device7.Reset();
    D3D7.Reset();
    throw;
  }
}

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
                        TD3DDeviceChoice& Choice) {
  // Retained mode first: its objects refer to the devices.
  auto clear = [&] {
    Viewport.Reset();
    Camera.Reset();
    Scene.Reset();
    D3DRMDevice3.Reset();
    D3DRMDevice.Reset();
    D3DRMDevice2.Reset();
    D3DRM3.Reset();
    D3DRM2.Reset();
    D3DRM.Reset();
    D3DDevice.Reset();
    D3DDevice2.Reset();
    D3DDevice3.Reset();
    D3D.Reset();
    D3D2.Reset();
    D3D3.Reset();
  };
  const TD3DOptions requested = Options;
  Options = {};
  clear();
  try {
    Query(ComPtr<IDirectDraw>(Surface->DDraw()->IDraw()), IID_IDirect3D3, D3D3, SDirectX6NotFound);
    Query(D3D3, IID_IDirect3D2, D3D2, SDirectX6NotFound);
    Query(D3D3, IID_IDirect3D, D3D, SDirectX6NotFound);

    bool tryHardware = HardwareTried(Surface, requested);
    auto choose = [&] {
      Options = {};
      ChooseDevice(D3D3.Get(), ChooseDeviceCallback, Surface, tryHardware, Choice);
      const D3DDEVICEDESC& desc = Choice.Hardware ? Choice.HWDesc : Choice.HELDesc;
      if (requested.Contains(d3dZBuffer) && CreateZBuffer(Surface, ZBuffer, desc, Choice.Hardware))
        Options.Include(d3dZBuffer);
    };
    auto create = [&] {
      IDirect3DDevice3* device = nullptr;
      if (FAILED(D3D3->CreateDevice(Choice.DeviceGUID, Surface->ISurface4(), &device, nullptr)) ||
          !device)
        return false;
      D3DDevice3 = ComPtr<IDirect3DDevice3>::Attach(device);
      return true;
    };
    choose();
    if (!create()) {
      tryHardware = false;
      choose();
      if (!create()) throw EDXDrawError(Format(SCannotMade, {"IDirect3DDevice3"}));
    }
    if (Choice.Hardware) Options.Include(d3dHardware);

    Query(D3DDevice3, IID_IDirect3DDevice2, D3DDevice2, SDirectX6NotFound);
    Query(D3DDevice3, IID_IDirect3DDevice, D3DDevice, SDirectX6NotFound);
    const DWORD z = ZBuffer ? TRUE_ : FALSE_;
    D3DDevice3->SetRenderState(D3DRENDERSTATE_DITHERENABLE, TRUE_);
    D3DDevice3->SetRenderState(D3DRENDERSTATE_ZENABLE, z);
    D3DDevice3->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, z);

    if (requested.Contains(d3dRetainedMode)) {
      Options.Include(d3dRetainedMode);
      const std::string rmFailed = Format(SCannotInitialized, {SDirect3DRM});
      if (!D3DRM) {
        auto create = BindLibraryEntry<TDirect3DRMCreate>(kD3DRMLibrary, "Direct3DRMCreate");
        IDirect3DRM* rm = nullptr;
        if (FAILED(create(&rm)) || !rm) throw EDXDrawError(rmFailed);
        D3DRM = ComPtr<IDirect3DRM>::Attach(rm);
      }
      Query(D3DRM, IID_IDirect3DRM2, D3DRM2, rmFailed);
      Query(D3DRM, IID_IDirect3DRM3, D3DRM3, rmFailed);

      const std::string rmDeviceFailed = Format(SCannotMade, {"IDirect3DRMDevice2"});
      IDirect3DRMDevice2* rmDevice = nullptr;
      if (FAILED(D3DRM2->CreateDeviceFromD3D(D3D2.Get(), D3DDevice2.Get(), &rmDevice)) || !rmDevice)
        throw EDXDrawError(rmDeviceFailed);
      D3DRMDevice2 = ComPtr<IDirect3DRMDevice2>::Attach(rmDevice);
      D3DRMDevice2->SetBufferCount(2);
      Query(D3DRMDevice2, IID_IDirect3DRMDevice, D3DRMDevice, rmDeviceFailed);
      Query(D3DRMDevice2, IID_IDirect3DRMDevice3, D3DRMDevice3, rmDeviceFailed);
      D3DRMDevice2->SetQuality(D3DRMRENDER_GOURAUD);
      D3DRMDevice2->SetTextureQuality(D3DRMTEXTURE_NEAREST);
      D3DRMDevice2->SetDither(TRUE_);
      if (Surface->BitCount() == 8) D3DRMDevice2->SetShades(8);
      D3DRM->SetDefaultTextureColors(64);
      D3DRM->SetDefaultTextureShades(32);

      // A frame or viewport that is not made would be used right away: report it instead.
      if (!Scene) {
        IDirect3DRMFrame* frame = nullptr;
        if (FAILED(D3DRM->CreateFrame(nullptr, &frame)) || !frame)
          throw EDXDrawError(Format(SCannotMade, {"IDirect3DRMFrame"}));
        Scene = ComPtr<IDirect3DRMFrame>::Attach(frame);
        frame = nullptr;
        if (FAILED(D3DRM->CreateFrame(Scene.Get(), &frame)) || !frame)
          throw EDXDrawError(Format(SCannotMade, {"IDirect3DRMFrame"}));
        Camera = ComPtr<IDirect3DRMFrame>::Attach(frame);
        Camera->SetPosition(Camera.Get(), 0, 0, 0);
      }
      IDirect3DRMViewport* viewport = nullptr;
      if (FAILED(D3DRM->CreateViewport(D3DRMDevice.Get(), Camera.Get(), 0, 0,
                                       static_cast<DWORD>(Surface->Width()),
                                       static_cast<DWORD>(Surface->Height()), &viewport)) ||
          !viewport)
        throw EDXDrawError(Format(SCannotMade, {"IDirect3DRMViewport"}));
      Viewport = ComPtr<IDirect3DRMViewport>::Attach(viewport);
      Viewport->SetBack(5000.0f);
    }
  } catch (...) {
    FreeZBuffer(Surface, ZBuffer);
    clear();
    throw;
  }
}

bool PreferDirect3DDriver(const TD3DDriverQuality& New, const TD3DDriverQuality& Best) {
  if (New.Caps.dwVidMemTotal < Best.Caps.dwVidMemTotal) return false;
  int score = Sign(static_cast<long long>(New.Caps.dwVidMemTotal) - Best.Caps.dwVidMemTotal);
  constexpr DWORD kSurfaceCaps = DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER | DDSCAPS_MIPMAP;
  score += Sign(Bits(New.Caps.ddsCaps.dwCaps & kSurfaceCaps) -
                Bits(Best.Caps.ddsCaps.dwCaps & kSurfaceCaps));
  const D3DPRIMCAPS& a = New.Device.dpcLineCaps;
  const D3DPRIMCAPS& b = Best.Device.dpcLineCaps;
  for (DWORD D3DPRIMCAPS::*field :
       {&D3DPRIMCAPS::dwMiscCaps, &D3DPRIMCAPS::dwRasterCaps, &D3DPRIMCAPS::dwAlphaCmpCaps,
        &D3DPRIMCAPS::dwSrcBlendCaps, &D3DPRIMCAPS::dwDestBlendCaps, &D3DPRIMCAPS::dwShadeCaps,
        &D3DPRIMCAPS::dwTextureCaps, &D3DPRIMCAPS::dwTextureFilterCaps,
        &D3DPRIMCAPS::dwTextureBlendCaps, &D3DPRIMCAPS::dwTextureAddressCaps})
    score += Sign(Bits(a.*field) - Bits(b.*field));
  return score >= 0;
}

void ChooseDirect3DDriver(TD3DOptions Options, TCustomDXDraw* DXDraw) {
  int bitCount = DXDraw->Display()->BitCount();
  TDriverSearch search;
  search.Wanted = RenderDepthFlag(bitCount);
  search.AnyBitCount = Options.Contains(d3dAnyBitCount);

  GUID* guid = DXDraw->DriverGUID();
  GUID chosen{};
  bool found = false;
  D3DDEVICEDESC device;
  if (!Options.Contains(d3dSelectDriver)) {
    const std::unique_ptr<TDirectDraw> dd(new TDirectDraw(guid));
    found = FindHardwareDevice(dd.get(), search);
    device = search.Device;
  } else {
    std::vector<std::optional<GUID>> drivers;
    DXDirectDrawEnumerate(CollectDriver, &drivers);
    TD3DDriverQuality best;
    std::optional<GUID> bestGuid;
    for (std::optional<GUID>& driver : drivers) {
      const std::unique_ptr<TDirectDraw> dd(new TDirectDraw(driver ? &*driver : nullptr));
      if (!(dd->DriverCaps.dwCaps & DDCAPS_3D) ||
          !(dd->DriverCaps.ddsCaps.dwCaps & DDSCAPS_TEXTURE))
        continue;
      if (!FindHardwareDevice(dd.get(), search)) continue;
      const TD3DDriverQuality quality{dd->DriverCaps, search.Device};
      if (!found || PreferDirect3DDriver(quality, best)) {
        found = true;
        best = quality;
        bestGuid = driver;
      }
    }
    device = best.Device;
    guid = nullptr;  // the primary driver, unless another one is best
    if (found && bestGuid) {
      chosen = *bestGuid;
      guid = &chosen;
    }
  }
  if (found && search.AnyBitCount && !(device.dwDeviceRenderBitDepth & search.Wanted)) {
    const DWORD depths = device.dwDeviceRenderBitDepth;
    bitCount = (depths & DDBD_16) ? 16 : (depths & DDBD_24) ? 24 : 32;
  }
  DXDraw->SetDriverGUID(guid);
  DXDraw->Display()->SetBitCount(bitCount);
}
