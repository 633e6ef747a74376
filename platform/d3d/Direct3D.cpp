// The Direct3D object of the stand-in, the devices of the machine and the extension through
// which DirectDraw objects answer for Direct3D.
#include <cstring>
#include <map>

#include "platform/d3d/D3DObjects.h"

namespace d3d {

namespace {

constexpr GUID kHardwareDeviceGuid{0x6d6f7303, 0x6433, 0x0002, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x72}};

D3DPRIMCAPS SoftwareCaps() {
  D3DPRIMCAPS c;
  c.dwSize = kD3DPrimCapsSize;
  c.dwMiscCaps = D3DPMISCCAPS_CULLNONE;
  c.dwRasterCaps = D3DPRASTERCAPS_DITHER | D3DPRASTERCAPS_ZTEST;
  c.dwZCmpCaps = D3DPCMPCAPS_ALWAYS;
  c.dwSrcBlendCaps = c.dwDestBlendCaps = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE |
                                         D3DPBLENDCAPS_SRCCOLOR | D3DPBLENDCAPS_INVSRCCOLOR |
                                         D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA;
  c.dwAlphaCmpCaps = D3DPCMPCAPS_ALWAYS;
  c.dwShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB;
  c.dwTextureCaps =
      D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_TRANSPARENCY;
  c.dwTextureFilterCaps = D3DPTFILTERCAPS_NEAREST | D3DPTFILTERCAPS_LINEAR;
  c.dwTextureBlendCaps = D3DPTBLENDCAPS_MODULATE;
  c.dwTextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_CLAMP;
  return c;
}

// Weak: each Direct3D object takes itself out when it goes. Never destroyed: the forms, and
// with them the last Direct3D objects, are freed at exit after the static objects made once the
// program ran, this one among them.
std::map<ddraw::DirectDrawObject*, Direct3DObject*>& Objects() {
  static auto* objects = new std::map<ddraw::DirectDrawObject*, Direct3DObject*>();
  return *objects;
}

const DeviceInfo* FindDevice(const GUID& guid) {
  for (const DeviceInfo& d : TheMachine().Devices)
    if (d.Guid == guid) return &d;
  return nullptr;
}

bool IsDirect3DIid(const IID& iid) {
  return iid == IID_IDirect3D || iid == IID_IDirect3D2 || iid == IID_IDirect3D3 ||
         iid == IID_IDirect3D7;
}

}  // namespace

Machine& TheMachine() {
  // Never destroyed, for the same reason as the registry of objects above.
  static auto* m = new Machine{{SoftwareDevice()}};
  return *m;
}

DeviceInfo SoftwareDevice() {
  DeviceInfo d;
  d.Guid = IID_IDirect3DRGBDevice;
  d.Description = "Software RGB rasteriser";
  d.Name = "RGB rasteriser";
  d.RenderDepths = DDBD_16 | DDBD_24 | DDBD_32;
  d.ZBufferDepths = DDBD_16 | DDBD_24 | DDBD_32;
  d.DevCaps = D3DDEVCAPS_FLOATTLVERTEX | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
              D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX;
  d.Caps = SoftwareCaps();
  d.MinTextureWidth = d.MinTextureHeight = 1;
  d.MaxTextureWidth = d.MaxTextureHeight = 4096;
  return d;
}

DeviceInfo HardwareDevice() {
  DeviceInfo d = SoftwareDevice();
  d.Guid = kHardwareDeviceGuid;
  d.Description = "Hardware rasteriser";
  d.Name = "HW rasteriser";
  d.Hardware = true;
  return d;
}

DeviceInfo ReferenceDevice() {
  DeviceInfo d = SoftwareDevice();
  d.Guid = IID_IDirect3DRefDevice;
  d.Description = "Reference rasteriser";
  d.Name = "Reference rasteriser";
  return d;
}

void SetDevices(std::vector<DeviceInfo> devices) { TheMachine().Devices = std::move(devices); }
const std::vector<DeviceInfo>& Devices() { return TheMachine().Devices; }
void FailCreateDevice(int count) { TheMachine().FailCreates = count; }

void ResetMachine() {
  Machine& m = TheMachine();
  m.Devices = {SoftwareDevice()};
  m.FailCreates = 0;
  m.TextureFormats.clear();
}

int LiveDirect3DCount() { return TheMachine().LiveDirect3Ds; }
int LiveDeviceCount() { return TheMachine().LiveDevices; }

void SetTextureFormats(std::vector<DDPIXELFORMAT> formats) {
  TheMachine().TextureFormats = std::move(formats);
}

std::vector<DDPIXELFORMAT> TextureFormats() {
  if (!TheMachine().TextureFormats.empty()) return TheMachine().TextureFormats;
  std::vector<DDPIXELFORMAT> formats;
  auto add = [&](const ddraw::PixelFormat& f) {
    DDPIXELFORMAT pf;
    f.ToDD(pf);
    formats.push_back(pf);
  };
  auto rgb = [&](int bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    ddraw::PixelFormat f;
    f.Flags = DDPF_RGB | (a ? DDPF_ALPHAPIXELS : 0);
    f.BitCount = bits;
    f.RMask = r, f.GMask = g, f.BMask = b, f.AMask = a;
    add(f);
  };
  add(ddraw::PixelFormat::Indexed(8));
  rgb(16, 0xF800, 0x07E0, 0x001F, 0);
  rgb(16, 0x7C00, 0x03E0, 0x001F, 0);
  rgb(16, 0x7C00, 0x03E0, 0x001F, 0x8000);
  rgb(16, 0x0F00, 0x00F0, 0x000F, 0xF000);
  rgb(32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
  rgb(32, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000u);
  return formats;
}

void FillDesc(const DeviceInfo& info, bool hardwareLayer, D3DDEVICEDESC& desc) {
  desc = D3DDEVICEDESC{};
  desc.dwSize = kD3DDeviceDescSize;
  if (hardwareLayer != info.Hardware) return;
  desc.dwFlags = D3DDD_COLORMODEL | D3DDD_DEVCAPS | D3DDD_LINECAPS | D3DDD_TRICAPS |
                 D3DDD_DEVICERENDERBITDEPTH | D3DDD_DEVICEZBUFFERBITDEPTH;
  desc.dcmColorModel = info.ColorModel;
  desc.dwDevCaps = info.DevCaps | (info.Hardware ? D3DDEVCAPS_HWRASTERIZATION : 0);
  desc.dtcTransformCaps.dwSize = 8;
  desc.dlcLightingCaps.dwSize = 16;
  desc.dpcLineCaps = info.Caps;
  desc.dpcTriCaps = info.Caps;
  desc.dpcLineCaps.dwSize = desc.dpcTriCaps.dwSize = kD3DPrimCapsSize;
  desc.dwDeviceRenderBitDepth = info.RenderDepths;
  desc.dwDeviceZBufferBitDepth = info.ZBufferDepths;
  desc.dwMinTextureWidth = info.MinTextureWidth;
  desc.dwMinTextureHeight = info.MinTextureHeight;
  desc.dwMaxTextureWidth = info.MaxTextureWidth;
  desc.dwMaxTextureHeight = info.MaxTextureHeight;
  desc.dwFVFCaps = 1;
  desc.wMaxTextureBlendStages = static_cast<WORD>(kD3DTextureStageCount);
  desc.wMaxSimultaneousTextures = 1;
}

void FillDesc7(const DeviceInfo& info, D3DDEVICEDESC7& desc) {
  desc = D3DDEVICEDESC7{};
  desc.dwDevCaps = info.DevCaps | (info.Hardware ? D3DDEVCAPS_HWRASTERIZATION : 0);
  desc.dpcLineCaps = info.Caps;
  desc.dpcTriCaps = info.Caps;
  desc.dpcLineCaps.dwSize = desc.dpcTriCaps.dwSize = kD3DPrimCapsSize;
  desc.dwDeviceRenderBitDepth = info.RenderDepths;
  desc.dwDeviceZBufferBitDepth = info.ZBufferDepths;
  desc.dwMinTextureWidth = info.MinTextureWidth;
  desc.dwMinTextureHeight = info.MinTextureHeight;
  desc.dwMaxTextureWidth = info.MaxTextureWidth;
  desc.dwMaxTextureHeight = info.MaxTextureHeight;
  desc.dwFVFCaps = 1;
  desc.wMaxTextureBlendStages = static_cast<WORD>(kD3DTextureStageCount);
  desc.wMaxSimultaneousTextures = 1;
  desc.deviceGUID = info.Guid;
}

ddraw::DirectDrawExtension Direct3DExtension() {
  ddraw::DirectDrawExtension ext;
  ext.Query = [](ddraw::DirectDrawObject& dd, const IID& iid, void** out) -> HRESULT {
    if (!IsDirect3DIid(iid)) return E_NOINTERFACE;
    Direct3DObject* d3d = Direct3DObject::For(&dd);
    const HRESULT hr = d3d->QueryInterface(iid, out);
    d3d->Release();
    return hr;
  };
  // The machine always has a 3-D device (ours), and it textures, mipmaps and uses depth buffers.
  ext.Caps = DDCAPS_3D;
  ext.SurfaceCaps = DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER | DDSCAPS_MIPMAP | DDSCAPS_3DDEVICE;
  return ext;
}

// --- Direct3DObject ---------------------------------------------------------------------------

Direct3DObject::Direct3DObject(ddraw::DirectDrawObject* dd) : DD(dd) {
  DD->AddRef();
  Objects()[DD] = this;
  ++TheMachine().LiveDirect3Ds;
}

Direct3DObject::~Direct3DObject() {
  Objects().erase(DD);
  --TheMachine().LiveDirect3Ds;
  DD->Release();
}

Direct3DObject* Direct3DObject::For(ddraw::DirectDrawObject* dd) {
  const auto it = Objects().find(dd);
  if (it != Objects().end()) {
    it->second->AddRef();
    return it->second;
  }
  return new Direct3DObject(dd);
}

ULONG Direct3DObject::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

HRESULT Direct3DObject::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDirect3D) {
    *out = static_cast<IDirect3D*>(&Facet1);
  } else if (iid == IID_IDirect3D2) {
    *out = static_cast<IDirect3D2*>(&Facet2);
  } else if (iid == IID_IDirect3D3) {
    *out = static_cast<IDirect3D3*>(&Facet3);
  } else if (iid == IID_IDirect3D7) {
    *out = static_cast<IDirect3D7*>(&Facet7);
  } else {
    // The DirectDraw interfaces of the object this one belongs to.
    return DD->QueryInterface(iid, out);
  }
  AddRef();
  return S_OK;
}

HRESULT Direct3DObject::EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) const {
  if (!callback) return DDERR_INVALIDPARAMS;
  // A copy: the callback may change the machine's list.
  const std::vector<DeviceInfo> devices = TheMachine().Devices;
  for (const DeviceInfo& d : devices) {
    GUID guid = d.Guid;
    std::string description = d.Description, name = d.Name;
    D3DDEVICEDESC hardware, emulation;
    FillDesc(d, true, hardware);
    FillDesc(d, false, emulation);
    if (callback(&guid, description.data(), name.data(), &hardware, &emulation, context) ==
        D3DENUMRET_CANCEL)
      break;
  }
  return D3D_OK;
}

HRESULT Direct3DObject::EnumDevices7(LPD3DENUMDEVICESCALLBACK7 callback, void* context) const {
  if (!callback) return DDERR_INVALIDPARAMS;
  const std::vector<DeviceInfo> devices = TheMachine().Devices;
  for (const DeviceInfo& d : devices) {
    std::string description = d.Description, name = d.Name;
    D3DDEVICEDESC7 desc;
    FillDesc7(d, desc);
    if (callback(description.data(), name.data(), &desc, context) == D3DENUMRET_CANCEL) break;
  }
  return D3D_OK;
}

HRESULT Direct3DObject::CreateDevice(const GUID& guid, IUnknown* target, Device*& out) {
  out = nullptr;
  Machine& m = TheMachine();
  if (m.FailCreates > 0) {
    --m.FailCreates;
    return DDERR_GENERIC;
  }
  const DeviceInfo* info = FindDevice(guid);
  if (!info) return D3DERR_INVALID_DEVICE;
  ddraw::Surface* surface = ddraw::Surface::From(target);
  if (!surface) return DDERR_INVALIDPARAMS;
  if (surface->Owner() != DD) return DDERR_INVALIDOBJECT;
  auto* device = new Device(this, *info, nullptr);
  const HRESULT hr = device->SetRenderTarget(surface);
  if (FAILED(hr)) {
    device->Release();
    return hr;
  }
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, 0);
  for (ddraw::Surface* a : surface->Attachments())
    if (a->CapsBits() & DDSCAPS_ZBUFFER) device->SetRenderState(D3DRENDERSTATE_ZENABLE, 1);
  out = device;
  return D3D_OK;
}

// --- Facets -----------------------------------------------------------------------------------

#define MORVANE_D3D_FACET_UNKNOWN(Facet)                                         \
  HRESULT Facet::QueryInterface(const IID& iid, void** out) {                    \
    return Owner->QueryInterface(iid, out);                                      \
  }                                                                              \
  ULONG Facet::AddRef() { return Owner->AddRef(); }                              \
  ULONG Facet::Release() { return Owner->Release(); }                            \
  HRESULT Facet::EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) { \
    return Owner->EnumDevices(callback, context);                                \
  }

MORVANE_D3D_FACET_UNKNOWN(Direct3DFacet1)
MORVANE_D3D_FACET_UNKNOWN(Direct3DFacet2)
MORVANE_D3D_FACET_UNKNOWN(Direct3DFacet3)
#undef MORVANE_D3D_FACET_UNKNOWN

HRESULT Direct3DFacet7::QueryInterface(const IID& iid, void** out) {
  return Owner->QueryInterface(iid, out);
}
ULONG Direct3DFacet7::AddRef() { return Owner->AddRef(); }
ULONG Direct3DFacet7::Release() { return Owner->Release(); }
HRESULT Direct3DFacet7::EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) {
  return Owner->EnumDevices7(callback, context);
}

HRESULT Direct3DFacet2::CreateDevice(const GUID& device, IDirectDrawSurface* target,
                                     IDirect3DDevice2** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  Device* made = nullptr;
  const HRESULT hr = Owner->CreateDevice(device, target, made);
  if (SUCCEEDED(hr)) *out = &made->Facet2;
  return hr;
}

HRESULT Direct3DFacet3::CreateDevice(const GUID& device, IDirectDrawSurface4* target,
                                     IDirect3DDevice3** out, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (outer) return DDERR_INVALIDPARAMS;
  Device* made = nullptr;
  const HRESULT hr = Owner->CreateDevice(device, target, made);
  if (SUCCEEDED(hr)) *out = &made->Facet3;
  return hr;
}

HRESULT Direct3DFacet7::CreateDevice(const GUID& device, IDirectDrawSurface7* target,
                                     IDirect3DDevice7** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  Device* made = nullptr;
  const HRESULT hr = Owner->CreateDevice(device, target, made);
  if (SUCCEEDED(hr)) *out = &made->Facet7;
  return hr;
}

}  // namespace d3d
