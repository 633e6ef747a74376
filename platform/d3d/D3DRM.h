// The retained-mode interfaces the 3-D set-up uses when it is asked for them. The retained-mode
// library itself ("D3DRM.dll", entry point Direct3DRMCreate) is not on this machine: these are
// only the declarations a caller binds against, and nothing here implements them.
#pragma once

#include "platform/d3d/D3D.h"

// Quality of a retained-mode device: shading, lighting and fill bits.
constexpr DWORD D3DRMSHADE_GOURAUD = 0x1, D3DRMLIGHT_ON = 0x8, D3DRMFILL_SOLID = 0x80;
constexpr DWORD D3DRMRENDER_GOURAUD = D3DRMSHADE_GOURAUD | D3DRMLIGHT_ON | D3DRMFILL_SOLID;
// Texture quality
constexpr DWORD D3DRMTEXTURE_NEAREST = 0;

constexpr IID IID_IDirect3DRM{0x6d6f7304, 0x6433, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x81}};
constexpr IID IID_IDirect3DRM2{0x6d6f7304, 0x6433, 0x0002, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x82}};
constexpr IID IID_IDirect3DRM3{0x6d6f7304, 0x6433, 0x0003, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x83}};
constexpr IID IID_IDirect3DRMDevice{0x6d6f7305, 0x6433, 0x0001, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x91}};
constexpr IID IID_IDirect3DRMDevice2{0x6d6f7305, 0x6433, 0x0002, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x92}};
constexpr IID IID_IDirect3DRMDevice3{0x6d6f7305, 0x6433, 0x0003, {0x8a, 0x3c, 0, 0, 0, 0, 0, 0x93}};

class IDirect3DRMFrame : public IUnknown {
 public:
  virtual HRESULT SetPosition(IDirect3DRMFrame* reference, D3DVALUE x, D3DVALUE y, D3DVALUE z) = 0;
};

class IDirect3DRMViewport : public IUnknown {
 public:
  virtual HRESULT SetBack(D3DVALUE back) = 0;
};

class IDirect3DRMDevice : public IUnknown {};

class IDirect3DRMDevice2 : public IUnknown {
 public:
  virtual HRESULT SetBufferCount(DWORD count) = 0;
  virtual HRESULT SetQuality(DWORD quality) = 0;
  virtual HRESULT SetTextureQuality(DWORD quality) = 0;
  virtual HRESULT SetDither(BOOL dither) = 0;
  virtual HRESULT SetShades(DWORD shades) = 0;
};

class IDirect3DRMDevice3 : public IUnknown {};

class IDirect3DRM : public IUnknown {
 public:
  virtual HRESULT CreateFrame(IDirect3DRMFrame* parent, IDirect3DRMFrame** frame) = 0;
  virtual HRESULT CreateViewport(IDirect3DRMDevice* device, IDirect3DRMFrame* camera, DWORD x,
                                 DWORD y, DWORD width, DWORD height,
                                 IDirect3DRMViewport** viewport) = 0;
  virtual HRESULT SetDefaultTextureColors(DWORD colors) = 0;
  virtual HRESULT SetDefaultTextureShades(DWORD shades) = 0;
};

class IDirect3DRM2 : public IUnknown {
 public:
  virtual HRESULT CreateDeviceFromD3D(IDirect3D2* d3d, IDirect3DDevice2* device,
                                      IDirect3DRMDevice2** out) = 0;
};

class IDirect3DRM3 : public IUnknown {};

// The library's entry point, as callers bind it by name.
using TDirect3DRMCreate = HRESULT(IDirect3DRM** out);
