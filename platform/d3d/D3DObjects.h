// The objects behind the Direct3D stand-in's interfaces. As with the DirectDraw objects, each
// object answers every version of its interface through a member facet per version; the facets
// share the object's reference count.
#pragma once

#include <array>

#include "platform/d3d/D3D.h"
#include "platform/ddraw/DDrawObjects.h"

namespace d3d {

class Direct3DObject;
class Device;

struct Machine {
  std::vector<DeviceInfo> Devices;
  int FailCreates = 0;
  std::vector<DDPIXELFORMAT> TextureFormats;  // empty: the usual ones
  int LiveDirect3Ds = 0;
  int LiveDevices = 0;
};
Machine& TheMachine();

// The description of a device in the form of versions 1 to 3: filled for the layer that
// runs it (hardware or emulation), empty (but sized) for the other.
void FillDesc(const DeviceInfo& info, bool hardwareLayer, D3DDEVICEDESC& desc);
void FillDesc7(const DeviceInfo& info, D3DDEVICEDESC7& desc);

// --- Devices ----------------------------------------------------------------------------------

template <class Iface>
class DeviceFacetBase : public Iface {
 public:
  explicit DeviceFacetBase(Device* owner) : Owner(owner) {}
  ~DeviceFacetBase() override = default;
  Device* Object() const { return Owner; }
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;

 protected:
  Device* Owner;
};

// The operations every version but the first shares; Surf is its surface interface.
template <class Iface, class Surf>
class DeviceFacetT : public DeviceFacetBase<Iface> {
 public:
  using DeviceFacetBase<Iface>::DeviceFacetBase;
  HRESULT SetRenderTarget(Surf* target, DWORD flags) override;
  HRESULT GetRenderTarget(Surf** target) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
};

class DeviceFacet1 final : public DeviceFacetBase<IDirect3DDevice> {
 public:
  using DeviceFacetBase::DeviceFacetBase;
  HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) override;
};

class DeviceFacet2 final : public DeviceFacetT<IDirect3DDevice2, IDirectDrawSurface> {
 public:
  using DeviceFacetT::DeviceFacetT;
  HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) override;
};

class DeviceFacet3 final : public DeviceFacetT<IDirect3DDevice3, IDirectDrawSurface4> {
 public:
  using DeviceFacetT::DeviceFacetT;
  HRESULT GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) override;
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
  HRESULT GetDirect3D(IDirect3D3** d3d) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                        DWORD vertexCount, DWORD flags) override;
};

class DeviceFacet7 final : public DeviceFacetT<IDirect3DDevice7, IDirectDrawSurface7> {
 public:
  using DeviceFacetT::DeviceFacetT;
  HRESULT GetCaps(D3DDEVICEDESC7* desc) override;
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
  HRESULT GetDirect3D(IDirect3D7** d3d) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                        DWORD vertexCount, DWORD flags) override;
};

class Device {
 public:
  // Holds a reference to the Direct3D object and to the render target.
  Device(Direct3DObject* d3d, const DeviceInfo& info, ddraw::Surface* target);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device();

  HRESULT QueryInterface(const IID& iid, void** out);
  ULONG AddRef() { return ++Refs; }
  ULONG Release();

  // A surface this device can draw into, or the reason it cannot.
  HRESULT CheckTarget(ddraw::Surface* target) const;
  HRESULT SetRenderTarget(ddraw::Surface* target);
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value);
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) const;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value);
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) const;
  HRESULT SetTexture(DWORD stage, ddraw::Surface* texture);
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) const;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, const void* vertices,
                        DWORD vertexCount) const;

  const DeviceInfo& Info() const { return TheInfo; }
  Direct3DObject* Owner() const { return D3D; }
  ddraw::Surface* Target() const { return RenderTarget; }
  ddraw::Surface* Texture(DWORD stage) const { return Textures[stage]; }

  DeviceFacet1 Facet1{this};
  DeviceFacet2 Facet2{this};
  DeviceFacet3 Facet3{this};
  DeviceFacet7 Facet7{this};
  static Device* From(IUnknown* p);

 private:
  ULONG Refs = 1;
  Direct3DObject* D3D;
  DeviceInfo TheInfo;
  ddraw::Surface* RenderTarget;
  std::array<DWORD, kD3DRenderStateCount> RenderStates{};
  std::array<std::array<DWORD, kD3DTextureStageStateCount>, kD3DTextureStageCount> StageStates{};
  std::array<ddraw::Surface*, kD3DTextureStageCount> Textures{};
};

// --- The Direct3D object ----------------------------------------------------------------------

class Direct3DFacet1 final : public IDirect3D {
 public:
  explicit Direct3DFacet1(Direct3DObject* owner) : Owner(owner) {}
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) override;

 private:
  Direct3DObject* Owner;
};

class Direct3DFacet2 final : public IDirect3D2 {
 public:
  explicit Direct3DFacet2(Direct3DObject* owner) : Owner(owner) {}
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) override;
  HRESULT CreateDevice(const GUID& device, IDirectDrawSurface* target,
                       IDirect3DDevice2** out) override;

 private:
  Direct3DObject* Owner;
};

class Direct3DFacet3 final : public IDirect3D3 {
 public:
  explicit Direct3DFacet3(Direct3DObject* owner) : Owner(owner) {}
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) override;
  HRESULT CreateDevice(const GUID& device, IDirectDrawSurface4* target, IDirect3DDevice3** out,
                       IUnknown* outer) override;

 private:
  Direct3DObject* Owner;
};

class Direct3DFacet7 final : public IDirect3D7 {
 public:
  explicit Direct3DFacet7(Direct3DObject* owner) : Owner(owner) {}
  HRESULT QueryInterface(const IID& iid, void** out) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override;
  HRESULT CreateDevice(const GUID& device, IDirectDrawSurface7* target,
                       IDirect3DDevice7** out) override;

 private:
  Direct3DObject* Owner;
};

// The Direct3D side of one DirectDraw object; it holds a reference to that object. Asking the
// same DirectDraw object again while this one lives gives this one.
class Direct3DObject {
 public:
  explicit Direct3DObject(ddraw::DirectDrawObject* dd);
  Direct3DObject(const Direct3DObject&) = delete;
  Direct3DObject& operator=(const Direct3DObject&) = delete;
  ~Direct3DObject();

  // The Direct3D object of dd, made when there is none.
  static Direct3DObject* For(ddraw::DirectDrawObject* dd);

  HRESULT QueryInterface(const IID& iid, void** out);
  ULONG AddRef() { return ++Refs; }
  ULONG Release();

  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK callback, void* context) const;
  HRESULT EnumDevices7(LPD3DENUMDEVICESCALLBACK7 callback, void* context) const;
  HRESULT CreateDevice(const GUID& guid, IUnknown* target, Device*& out);

  ddraw::DirectDrawObject* DirectDraw() const { return DD; }

  Direct3DFacet1 Facet1{this};
  Direct3DFacet2 Facet2{this};
  Direct3DFacet3 Facet3{this};
  Direct3DFacet7 Facet7{this};

 private:
  ULONG Refs = 1;
  ddraw::DirectDrawObject* DD;
};

}  // namespace d3d
