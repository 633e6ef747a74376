#include "framework/graphics/DirectDraw.h"

#include <algorithm>

#include "framework/graphics/DXConsts.h"
#include "framework/graphics/DirectDrawSurface.h"
#include "framework/graphics/DirectX.h"

namespace {

constexpr const char* kDDrawLibrary = "DDraw.dll";

template <class T>
void Unlist(std::vector<T*>& list, T* item) {
  const auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

HRESULT DXDirectDrawEnumerate(LPDDENUMCALLBACKA Callback, void* Context) {
  return BindLibraryEntry<decltype(DirectDrawEnumerateA)>(kDDrawLibrary, "DirectDrawEnumerateA")(
      Callback, Context);
}

// --- TDirectDraw --------------------------------------------------------------------------------

TDirectDraw::TDirectDraw(GUID* AGUID) { Create(AGUID, true); }

TDirectDraw::TDirectDraw(GUID* AGUID, bool DirectX7Mode) { Create(AGUID, DirectX7Mode); }

void TDirectDraw::Create(GUID* AGUID, bool DirectX7Mode) {
  if (DirectX7Mode) {
    auto create =
        BindLibraryEntry<decltype(DirectDrawCreateEx)>(kDDrawLibrary, "DirectDrawCreateEx");
    void* dd = nullptr;
    if (create(AGUID, &dd, IID_IDirectDraw7, nullptr) != DD_OK)
      throw EDirectDrawError(Format(SCannotInitialized, {SDirectDraw}));
    FIDDraw7 = ComPtr<IDirectDraw7>::Attach(static_cast<IDirectDraw7*>(dd));
    if (FAILED(FIDDraw7.As(IID_IDirectDraw, FIDDraw)) ||
        FAILED(FIDDraw7.As(IID_IDirectDraw4, FIDDraw4)))
      throw EDirectDrawError(SDirectX7NotFound);
  } else {
    auto create = BindLibraryEntry<decltype(DirectDrawCreate)>(kDDrawLibrary, "DirectDrawCreate");
    IDirectDraw* dd = nullptr;
    if (create(AGUID, &dd, nullptr) != DD_OK)
      throw EDirectDrawError(Format(SCannotInitialized, {SDirectDraw}));
    FIDDraw = ComPtr<IDirectDraw>::Attach(dd);
    if (FAILED(FIDDraw.As(IID_IDirectDraw4, FIDDraw4))) throw EDirectDrawError(SDirectX6NotFound);
  }
  DriverCaps = DDCAPS{};
  HELCaps = DDCAPS{};
  DriverCaps.dwSize = kDDCapsSize;
  HELCaps.dwSize = kDDCapsSize;
  FIDDraw->GetCaps(&DriverCaps, &HELCaps);
}

TDirectDraw::~TDirectDraw() {
  // Each frees itself out of its list.
  while (!FSurfaces.empty()) delete FSurfaces.back();
  while (!FPalettes.empty()) delete FPalettes.back();
  while (!FClippers.empty()) delete FClippers.back();
}

IDirectDraw* TDirectDraw::IDraw() const {
  if (!FIDDraw) throw EDirectDrawError(Format(SNotMade, {"IDirectDraw"}));
  return FIDDraw.Get();
}

IDirectDraw4* TDirectDraw::IDraw4() const {
  if (!FIDDraw4) throw EDirectDrawError(Format(SNotMade, {"IDirectDraw4"}));
  return FIDDraw4.Get();
}

IDirectDraw7* TDirectDraw::IDraw7() const {
  if (!FIDDraw7) throw EDirectDrawError(Format(SNotMade, {"IDirectDraw7"}));
  return FIDDraw7.Get();
}

// --- TDirectDrawClipper -------------------------------------------------------------------------

TDirectDrawClipper::TDirectDrawClipper(TDirectDraw* ADirectDraw) : FDDraw(ADirectDraw) {
  FDDraw->FClippers.push_back(this);
  try {
    IDirectDrawClipper* c = nullptr;
    FDDraw->SetResultCode(FDDraw->IDraw()->CreateClipper(0, &c, nullptr));
    if (FDDraw->ResultCode() != DD_OK)
      throw EDirectDrawClipperError(Format(SCannotMade, {SDirectDrawClipper}));
    FIDDClipper = ComPtr<IDirectDrawClipper>::Attach(c);
  } catch (...) {
    // A constructor that fails leaves nothing behind in the owner's list.
    Unlist(FDDraw->FClippers, this);
    throw;
  }
}

TDirectDrawClipper::~TDirectDrawClipper() { Unlist(FDDraw->FClippers, this); }

IDirectDrawClipper* TDirectDrawClipper::IClipper() const {
  if (!FIDDClipper) throw EDirectDrawClipperError(Format(SNotMade, {"IDirectDrawClipper"}));
  return FIDDClipper.Get();
}

void TDirectDrawClipper::SetClipRects(const std::vector<TRect>& Rects) {
  TRect bound{2147483647, 2147483647, -2147483647, -2147483647};
  for (const TRect& r : Rects) {
    bound.Left = std::min(bound.Left, r.Left);
    bound.Top = std::min(bound.Top, r.Top);
    bound.Right = std::max(bound.Right, r.Right);
    bound.Bottom = std::max(bound.Bottom, r.Bottom);
  }
  // The header, then the rectangles right after it.
  std::vector<TRect> block(2 + Rects.size());
  auto* data = reinterpret_cast<RGNDATA*>(block.data());
  data->rdh.dwSize = kRgnDataHeaderSize;
  data->rdh.iType = RDH_RECTANGLES;
  data->rdh.nCount = static_cast<DWORD>(Rects.size());
  data->rdh.nRgnSize = static_cast<DWORD>(16 * Rects.size());
  data->rdh.rcBound = bound;
  std::copy(Rects.begin(), Rects.end(), block.begin() + 2);
  SetResultCode(IClipper()->SetClipList(data, 0));
}

void TDirectDrawClipper::SetHandle(HWND Value) { SetResultCode(IClipper()->SetHWnd(0, Value)); }

// --- TDirectDrawPalette -------------------------------------------------------------------------

TDirectDrawPalette::TDirectDrawPalette(TDirectDraw* ADirectDraw) : FDDraw(ADirectDraw) {
  FDDraw->FPalettes.push_back(this);
}

TDirectDrawPalette::~TDirectDrawPalette() { Unlist(FDDraw->FPalettes, this); }

IDirectDrawPalette* TDirectDrawPalette::IPalette() const {
  if (!FIDDPalette) throw EDirectDrawPaletteError(Format(SNotMade, {"IDirectDrawPalette"}));
  return FIDDPalette.Get();
}

bool TDirectDrawPalette::CreatePalette(DWORD Caps, const PALETTEENTRY* Entries) {
  FIDDPalette.Reset();
  IDirectDrawPalette* p = nullptr;
  PALETTEENTRY copy[256];
  std::copy(Entries, Entries + 256, copy);
  FDDraw->SetResultCode(FDDraw->IDraw()->CreatePalette(Caps, copy, &p, nullptr));
  SetResultCode(FDDraw->ResultCode());
  if (ResultCode() == DD_OK) FIDDPalette = ComPtr<IDirectDrawPalette>::Attach(p);
  return ResultCode() == DD_OK;
}

bool TDirectDrawPalette::SetEntries(int StartIndex, int Count, const PALETTEENTRY* Entries) {
  if (!FIDDPalette) return false;
  SetResultCode(IPalette()->SetEntries(0, static_cast<DWORD>(StartIndex), static_cast<DWORD>(Count),
                                       Entries));
  return ResultCode() == DD_OK;
}
