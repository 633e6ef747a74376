// The devices of the Direct3D stand-in: render target, render states, texture stages and the
// capability records.
#include <utility>

#include "platform/d3d/D3DObjects.h"
#include "platform/d3d/Rasterizer.h"

namespace d3d {

namespace {

DWORD DepthFlag(int bitCount) {
  switch (bitCount) {
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

template <class I>
I* FacetOf(ddraw::Surface* s) {
  if (!s) return nullptr;
  s->AddRef();
  return s->Facet<I>();
}

}  // namespace

Device::Device(Direct3DObject* d3d, const DeviceInfo& info, ddraw::Surface* target)
    : D3D(d3d), TheInfo(info), RenderTarget(nullptr) {
  D3D->AddRef();
  ++TheMachine().LiveDevices;
  RenderStates[D3DRENDERSTATE_ZWRITEENABLE] = 1;
  RenderStates[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  RenderStates[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  // The first stage modulates the texture with the vertex colour and takes the texture's alpha;
  // the others are off.
  for (DWORD stage = 0; stage < kD3DTextureStageCount; ++stage) {
    auto& s = StageStates[stage];
    s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    s[D3DTSS_TEXCOORDINDEX] = stage;
    s[D3DTSS_MAGFILTER] = D3DTFG_POINT;
    s[D3DTSS_MINFILTER] = D3DTFN_POINT;
    s[D3DTSS_MIPFILTER] = D3DTFP_NONE;
  }
  if (target) SetRenderTarget(target);
}

Device::~Device() {
  for (ddraw::Surface*& t : Textures)
    if (ddraw::Surface* s = std::exchange(t, nullptr)) s->Release();
  if (RenderTarget) RenderTarget->Release();
  --TheMachine().LiveDevices;
  D3D->Release();
}

ULONG Device::Release() {
  const ULONG left = --Refs;
  if (left == 0) delete this;
  return left;
}

HRESULT Device::QueryInterface(const IID& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDirect3DDevice) {
    *out = static_cast<IDirect3DDevice*>(&Facet1);
  } else if (iid == IID_IDirect3DDevice2) {
    *out = static_cast<IDirect3DDevice2*>(&Facet2);
  } else if (iid == IID_IDirect3DDevice3) {
    *out = static_cast<IDirect3DDevice3*>(&Facet3);
  } else if (iid == IID_IDirect3DDevice7) {
    *out = static_cast<IDirect3DDevice7*>(&Facet7);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

Device* Device::From(IUnknown* p) {
  if (!p) return nullptr;
  if (auto* f = dynamic_cast<DeviceFacet1*>(p)) return f->Object();
  if (auto* f = dynamic_cast<DeviceFacet2*>(p)) return f->Object();
  if (auto* f = dynamic_cast<DeviceFacet3*>(p)) return f->Object();
  if (auto* f = dynamic_cast<DeviceFacet7*>(p)) return f->Object();
  return nullptr;
}

HRESULT Device::CheckTarget(ddraw::Surface* target) const {
  if (!target) return DDERR_INVALIDPARAMS;
  if (target->Owner() != D3D->DirectDraw()) return DDERR_INVALIDOBJECT;
  const DWORD caps = target->CapsBits();
  if (!(caps & DDSCAPS_3DDEVICE)) return DDERR_INVALIDCAPS;
  // Hardware draws only into the card's memory.
  if (TheInfo.Hardware && !(caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDCAPS;
  if (target->IsLostNow()) return DDERR_SURFACELOST;
  const ddraw::PixelFormat& f = target->Format();
  if (f.IsDepth() || !(DepthFlag(f.BitCount) & TheInfo.RenderDepths))
    return DDERR_INVALIDPIXELFORMAT;
  return D3D_OK;
}

HRESULT Device::SetRenderTarget(ddraw::Surface* target) {
  const HRESULT hr = CheckTarget(target);
  if (FAILED(hr)) return hr;
  target->AddRef();
  if (RenderTarget) RenderTarget->Release();
  RenderTarget = target;
  return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  if (state == 0 || state >= kD3DRenderStateCount) return DDERR_INVALIDPARAMS;
  RenderStates[state] = value;
  return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) const {
  if (!value || state == 0 || state >= kD3DRenderStateCount) return DDERR_INVALIDPARAMS;
  *value = RenderStates[state];
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) {
  if (stage >= kD3DTextureStageCount || state == 0 || state >= kD3DTextureStageStateCount)
    return DDERR_INVALIDPARAMS;
  StageStates[stage][state] = value;
  return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                     DWORD* value) const {
  if (!value || stage >= kD3DTextureStageCount || state == 0 || state >= kD3DTextureStageStateCount)
    return DDERR_INVALIDPARAMS;
  *value = StageStates[stage][state];
  return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, ddraw::Surface* texture) {
  if (stage >= kD3DTextureStageCount) return DDERR_INVALIDPARAMS;
  if (texture) {
    if (!(texture->CapsBits() & DDSCAPS_TEXTURE)) return DDERR_INVALIDPARAMS;
    if (texture->Owner() != D3D->DirectDraw()) return DDERR_INVALIDOBJECT;
    texture->AddRef();
  }
  if (Textures[stage]) Textures[stage]->Release();
  Textures[stage] = texture;
  return D3D_OK;
}

HRESULT Device::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) const {
  if (!callback) return DDERR_INVALIDPARAMS;
  for (DDPIXELFORMAT& f : TextureFormats())
    if (callback(&f, context) == D3DENUMRET_CANCEL) break;
  return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, const void* vertices,
                              DWORD vertexCount) const {
  if (type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDPRIMITIVETYPE;
  if (!vertices || vertexCount == 0) return DDERR_INVALIDPARAMS;
  if (!(vertexFormat & D3DFVF_XYZRHW)) return D3DERR_INVALIDVERTEXTYPE;
  if (!RenderTarget || RenderTarget->IsLostNow()) return DDERR_SURFACELOST;
  if (RenderTarget->IsLocked()) return DDERR_SURFACEBUSY;
  return Rasterize(*RenderTarget, {&RenderStates, &StageStates[0], Textures[0]}, type, vertexFormat,
                   vertices, vertexCount);
}

// --- Facets -----------------------------------------------------------------------------------

namespace {

HRESULT GetCapsPair(const DeviceInfo& info, D3DDEVICEDESC* hardwareDesc,
                    D3DDEVICEDESC* emulationDesc) {
  if (!hardwareDesc && !emulationDesc) return DDERR_INVALIDPARAMS;
  if ((hardwareDesc && hardwareDesc->dwSize != kD3DDeviceDescSize) ||
      (emulationDesc && emulationDesc->dwSize != kD3DDeviceDescSize))
    return DDERR_INVALIDPARAMS;
  if (hardwareDesc) FillDesc(info, true, *hardwareDesc);
  if (emulationDesc) FillDesc(info, false, *emulationDesc);
  return D3D_OK;
}

}  // namespace

template <class I>
HRESULT DeviceFacetBase<I>::QueryInterface(const IID& iid, void** out) {
  return Owner->QueryInterface(iid, out);
}
template <class I>
ULONG DeviceFacetBase<I>::AddRef() {
  return Owner->AddRef();
}
template <class I>
ULONG DeviceFacetBase<I>::Release() {
  return Owner->Release();
}

template <class I, class S>
HRESULT DeviceFacetT<I, S>::SetRenderTarget(S* target, DWORD flags) {
  ddraw::Surface* s = ddraw::Surface::From(target);
  if (!s) return DDERR_INVALIDPARAMS;
  return this->Owner->SetRenderTarget(s);
}
template <class I, class S>
HRESULT DeviceFacetT<I, S>::GetRenderTarget(S** target) {
  if (!target) return DDERR_INVALIDPARAMS;
  *target = FacetOf<S>(this->Owner->Target());
  return D3D_OK;
}
template <class I, class S>
HRESULT DeviceFacetT<I, S>::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  return this->Owner->SetRenderState(state, value);
}
template <class I, class S>
HRESULT DeviceFacetT<I, S>::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  return this->Owner->GetRenderState(state, value);
}

template class DeviceFacetBase<IDirect3DDevice>;
template class DeviceFacetT<IDirect3DDevice2, IDirectDrawSurface>;
template class DeviceFacetT<IDirect3DDevice3, IDirectDrawSurface4>;
template class DeviceFacetT<IDirect3DDevice7, IDirectDrawSurface7>;

HRESULT DeviceFacet1::GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) {
  return GetCapsPair(Owner->Info(), hardwareDesc, emulationDesc);
}
HRESULT DeviceFacet2::GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) {
  return GetCapsPair(Owner->Info(), hardwareDesc, emulationDesc);
}
HRESULT DeviceFacet3::GetCaps(D3DDEVICEDESC* hardwareDesc, D3DDEVICEDESC* emulationDesc) {
  return GetCapsPair(Owner->Info(), hardwareDesc, emulationDesc);
}
HRESULT DeviceFacet3::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
  return Owner->EnumTextureFormats(callback, context);
}
HRESULT DeviceFacet3::GetDirect3D(IDirect3D3** d3d) {
  if (!d3d) return DDERR_INVALIDPARAMS;
  Owner->Owner()->AddRef();
  *d3d = &Owner->Owner()->Facet3;
  return D3D_OK;
}
HRESULT DeviceFacet3::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                           DWORD* value) {
  return Owner->GetTextureStageState(stage, state, value);
}
HRESULT DeviceFacet3::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                           DWORD value) {
  return Owner->SetTextureStageState(stage, state, value);
}
HRESULT DeviceFacet3::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                                    DWORD vertexCount, DWORD flags) {
  return Owner->DrawPrimitive(type, vertexFormat, vertices, vertexCount);
}

HRESULT DeviceFacet7::GetCaps(D3DDEVICEDESC7* desc) {
  if (!desc) return DDERR_INVALIDPARAMS;
  FillDesc7(Owner->Info(), *desc);
  return D3D_OK;
}
HRESULT DeviceFacet7::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
  return Owner->EnumTextureFormats(callback, context);
}
HRESULT DeviceFacet7::GetDirect3D(IDirect3D7** d3d) {
  if (!d3d) return DDERR_INVALIDPARAMS;
  Owner->Owner()->AddRef();
  *d3d = &Owner->Owner()->Facet7;
  return D3D_OK;
}
HRESULT DeviceFacet7::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                           DWORD* value) {
  return Owner->GetTextureStageState(stage, state, value);
}
HRESULT DeviceFacet7::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state,
                                           DWORD value) {
  return Owner->SetTextureStageState(stage, state, value);
}
HRESULT DeviceFacet7::GetTexture(DWORD stage, IDirectDrawSurface7** texture) {
  if (!texture || stage >= kD3DTextureStageCount) return DDERR_INVALIDPARAMS;
  *texture = FacetOf<IDirectDrawSurface7>(Owner->Texture(stage));
  return D3D_OK;
}
HRESULT DeviceFacet7::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
  ddraw::Surface* s = ddraw::Surface::From(texture);
  if (texture && !s) return DDERR_INVALIDOBJECT;
  return Owner->SetTexture(stage, s);
}
HRESULT DeviceFacet7::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, void* vertices,
                                    DWORD vertexCount, DWORD flags) {
  return Owner->DrawPrimitive(type, vertexFormat, vertices, vertexCount);
}

}  // namespace d3d
