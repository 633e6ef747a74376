// The DirectDraw object of the framework and the clippers and palettes made on it. A TDirectDraw
// owns every clipper, palette and surface made on it and frees them with itself; each of them
// enters its list when made and leaves it when freed.
#pragma once

#include <vector>

#include "framework/graphics/DXClass.h"
#include "platform/ddraw/DDraw.h"
#include "platform/win/ComPtr.h"

MORVANE_DECLARE_EXCEPTION(EDirectDrawError, EDirectXError)
MORVANE_DECLARE_EXCEPTION(EDirectDrawPaletteError, EDirectDrawError)
MORVANE_DECLARE_EXCEPTION(EDirectDrawClipperError, EDirectDrawError)
MORVANE_DECLARE_EXCEPTION(EDirectDrawSurfaceError, EDirectDrawError)

class TDirectDrawClipper;
class TDirectDrawPalette;
class TDirectDrawSurface;

// Calls DirectDrawEnumerateA, bound by name in "DDraw.dll", and returns its result.
HRESULT DXDirectDrawEnumerate(LPDDENUMCALLBACKA Callback, void* Context);

class TDirectDraw : public TDirectX {
 public:
  // CreateEx(GUID, true). A null GUID is the default display driver.
  explicit TDirectDraw(GUID* AGUID);
  // With DirectX7Mode the object is made through DirectDrawCreateEx and offers IDirectDraw7;
  // without it through DirectDrawCreate (DirectX 6).
  TDirectDraw(GUID* AGUID, bool DirectX7Mode);
  ~TDirectDraw() override;

  // Plain accessors give the interface or nothing; strict ones raise "%s not made".
  IDirectDraw* IDDraw() const { return FIDDraw.Get(); }
  IDirectDraw4* IDDraw4() const { return FIDDraw4.Get(); }
  IDirectDraw7* IDDraw7() const { return FIDDraw7.Get(); }
  IDirectDraw* IDraw() const;
  IDirectDraw4* IDraw4() const;
  IDirectDraw7* IDraw7() const;

  int ClipperCount() const { return static_cast<int>(FClippers.size()); }
  TDirectDrawClipper* Clippers(int Index) const { return FClippers.at(Index); }
  int PaletteCount() const { return static_cast<int>(FPalettes.size()); }
  TDirectDrawPalette* Palettes(int Index) const { return FPalettes.at(Index); }
  int SurfaceCount() const { return static_cast<int>(FSurfaces.size()); }
  TDirectDrawSurface* Surfaces(int Index) const { return FSurfaces.at(Index); }

  DDCAPS DriverCaps;
  DDCAPS HELCaps;

 private:
  friend class TDirectDrawClipper;
  friend class TDirectDrawPalette;
  friend class TDirectDrawSurface;
  void Create(GUID* AGUID, bool DirectX7Mode);

  ComPtr<IDirectDraw> FIDDraw;
  ComPtr<IDirectDraw4> FIDDraw4;
  ComPtr<IDirectDraw7> FIDDraw7;
  std::vector<TDirectDrawClipper*> FClippers;
  std::vector<TDirectDrawPalette*> FPalettes;
  std::vector<TDirectDrawSurface*> FSurfaces;
};

class TDirectDrawClipper : public TDirectX {
 public:
  // Raises EDirectDrawClipperError "%s cannot be made" when DirectDraw makes no clipper.
  explicit TDirectDrawClipper(TDirectDraw* ADirectDraw);
  ~TDirectDrawClipper() override;

  TDirectDraw* DDraw() const { return FDDraw; }
  IDirectDrawClipper* IDDClipper() const { return FIDDClipper.Get(); }
  IDirectDrawClipper* IClipper() const;

  // Clips to these rectangles.
  void SetClipRects(const std::vector<TRect>& Rects);
  // Clips to the client area of the window.
  void SetHandle(HWND Value);

 private:
  TDirectDraw* FDDraw;
  ComPtr<IDirectDrawClipper> FIDDClipper;
};

class TDirectDrawPalette : public TDirectX {
 public:
  // Makes no DirectDraw palette yet.
  explicit TDirectDrawPalette(TDirectDraw* ADirectDraw);
  ~TDirectDrawPalette() override;

  TDirectDraw* DDraw() const { return FDDraw; }
  IDirectDrawPalette* IDDPalette() const { return FIDDPalette.Get(); }
  IDirectDrawPalette* IPalette() const;

  // Replaces the palette interface by a new one of these 256 entries; true on success.
  bool CreatePalette(DWORD Caps, const PALETTEENTRY* Entries);
  bool SetEntries(int StartIndex, int Count, const PALETTEENTRY* Entries);

 private:
  TDirectDraw* FDDraw;
  ComPtr<IDirectDrawPalette> FIDDPalette;
};
