#include "framework/graphics/DXDraw.h"

#include <algorithm>
#include <exception>

#include "framework/graphics/DXConsts.h"
#include "platform/forms/Windows.h"
#include "platform/gdi/SystemPalette.h"

namespace {

const bool registered = (RegisterClass<TDXDraw>("TDXDraw"), true);

const std::vector<std::string> kOptionNames = {
    "doFullScreen",   "doNoWindowChange", "doAllowReboot", "doWaitVBlank",   "doAllowPalette256",
    "doSystemMemory", "doStretch",        "doCenter",      "doFlip",         "do3D",
    "doDirectX7Mode", "doRetainedMode",   "doHardware",    "doSelectDriver", "doZBuffer"};

constexpr std::uint64_t kDefaultOptions = 0x368C;

TDXDrawOptions Bits(std::uint64_t b) { return TDXDrawOptions::FromBits(b); }

// The primary surface reaches the screen through the forms' windows: a control's window is
// placed and shown inside its form.
void UseFormsWindowHost() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  const ddraw::WindowHost fallback = ddraw::DefaultWindowHost();
  ddraw::WindowHost host;
  host.ClientRectOnScreen = [fallback](HWND wnd, TRect& r) {
    if (FindControl(wnd)) return GetClientRectOnScreen(wnd, r);
    return fallback.ClientRectOnScreen(wnd, r);
  };
  host.Show = [fallback](HWND wnd, const std::uint32_t* pixels, int w, int h, int pitch) {
    if (FindControl(wnd)) {
      ShowWindowImage(wnd, pixels, w, h, pitch);
    } else {
      fallback.Show(wnd, pixels, w, h, pitch);
    }
  };
  ddraw::SetWindowHost(std::move(host));
}

// Runs each step even when an earlier one raised; the first failure goes on afterwards.
class TRunAll {
 public:
  template <class F>
  void operator()(F&& step) {
    try {
      step();
    } catch (...) {
      if (!First) First = std::current_exception();
    }
  }
  void Rethrow() {
    if (First) std::rethrow_exception(First);
  }

 private:
  std::exception_ptr First;
};

}  // namespace

std::array<PALETTEENTRY, 256> MakePaletteEntries(const TRGBQuads& AColorTable,
                                                 bool AllowPalette256) {
  std::array<PALETTEENTRY, 256> entries;
  for (int i = 0; i < 256; ++i)
    entries[i] = {AColorTable[i].rgbRed, AColorTable[i].rgbGreen, AColorTable[i].rgbBlue, 0};
  if (!AllowPalette256) {
    PALETTEENTRY system[256];
    GetSystemPaletteEntries(nullptr, 0, 256, system);
    for (int i = 0; i < 10; ++i) {
      entries[i] = system[i];
      entries[246 + i] = system[246 + i];
    }
  }
  for (auto& e : entries) e.peFlags = 0x40;  // read-only for Direct3D
  return entries;
}

// --- TDXDrawDisplay -----------------------------------------------------------------------------

TDXDrawDisplay::TDXDrawDisplay(TCustomDXDraw* ADXDraw)
    : FDXDraw(ADXDraw), FModes(new TCollection(CollectionItemClass<TDXDrawDisplayMode>())) {}

TDXDrawDisplay::~TDXDrawDisplay() { delete FModes; }

void TDXDrawDisplay::Assign(TPersistent* Source) {
  if (auto* d = dynamic_cast<TDXDrawDisplay*>(Source)) {
    if (d == this) return;
    FBitCount = d->FBitCount;
    FWidth = d->FWidth;
    FHeight = d->FHeight;
    FixedBitCount = d->FixedBitCount;
    FixedRatio = d->FixedRatio;
    FixedSize = d->FixedSize;
    return;
  }
  TPersistent::Assign(Source);
}

void TDXDrawDisplay::DefineProperties(TPropertyDefs& P) {
  TPersistent::DefineProperties(P);
  P.Int(
       "BitCount", [this] { return FBitCount; }, [this](int v) { SetBitCount(v); })
      .Default(16);
  P.Bool("FixedBitCount", FixedBitCount).Default(false);
  P.Bool("FixedRatio", FixedRatio).Default(true);
  P.Bool("FixedSize", FixedSize).Default(true);
  P.Int(
       "Height", [this] { return FHeight; }, [this](int v) { SetHeight(v); })
      .Default(480);
  P.Int(
       "Width", [this] { return FWidth; }, [this](int v) { SetWidth(v); })
      .Default(640);
}

void TDXDrawDisplay::SetBitCount(int Value) {
  if (Value != 8 && Value != 16 && Value != 24 && Value != 32)
    throw EDirectDrawError(SDisplayBitCount);
  FBitCount = Value;
}

int TDXDrawDisplay::Count() {
  if (FModes->Count() == 0) UpdateModes();
  return FModes->Count();
}

TDXDrawDisplayMode* TDXDrawDisplay::Modes(int Index) {
  if (FModes->Count() == 0) UpdateModes();
  return static_cast<TDXDrawDisplayMode*>(FModes->Items(Index));
}

int TDXDrawDisplay::IndexOf(int Width, int Height, int BitCount) {
  for (int i = 0; i < Count(); ++i) {
    const TDXDrawDisplayMode* m = Modes(i);
    if (m->Width() == Width && m->Height() == Height && m->BitCount() == BitCount) return i;
  }
  return -1;
}

void TDXDrawDisplay::ClearModes() { FModes->Clear(); }

void TDXDrawDisplay::UpdateModes() {
  FModes->Clear();
  TDirectDraw* dd = FDXDraw->DDraw;
  TDirectDraw* temp = nullptr;
  if (!dd) dd = temp = new TDirectDraw(FDXDraw->DriverGUID());
  try {
    dd->SetResultCode(dd->IDraw()->EnumDisplayModes(
        0, nullptr, FModes, [](DDSURFACEDESC* desc, void* context) -> HRESULT {
          auto* mode = static_cast<TDXDrawDisplayMode*>(static_cast<TCollection*>(context)->Add());
          mode->SurfaceDesc = *desc;
          return DDENUMRET_OK;
        }));
  } catch (...) {
    delete temp;
    throw;
  }
  delete temp;

  std::vector<TDXDrawDisplayMode*> sorted;
  for (int i = 0; i < FModes->Count(); ++i)
    sorted.push_back(static_cast<TDXDrawDisplayMode*>(FModes->Items(i)));
  std::stable_sort(sorted.begin(), sorted.end(), [](TDXDrawDisplayMode* a, TDXDrawDisplayMode* b) {
    if (a->Width() != b->Width()) return a->Width() < b->Width();
    if (a->Height() != b->Height()) return a->Height() < b->Height();
    return a->BitCount() < b->BitCount();
  });
  for (int i = 0; i < static_cast<int>(sorted.size()); ++i) sorted[i]->SetIndex(i);
}

bool TDXDrawDisplay::SetDisplayMode(int Width, int Height, int BitCount) {
  TDirectDraw* dd = FDXDraw->DDraw;
  if (!dd) return false;
  dd->SetResultCode(dd->IDraw()->SetDisplayMode(
      static_cast<DWORD>(Width), static_cast<DWORD>(Height), static_cast<DWORD>(BitCount)));
  if (dd->ResultCode() != DD_OK) return false;
  FWidth = Width;
  FHeight = Height;
  FBitCount = BitCount;
  return true;
}

bool TDXDrawDisplay::ChangeDisplayMode(int Width, int Height, int BitCount) {
  if (Width <= 0 || Height <= 0) return false;
  if (BitCount != 8 && BitCount != 16 && BitCount != 24 && BitCount != 32) return false;
  if (SetDisplayMode(Width, Height, BitCount)) return true;
  if (FixedRatio && FindNearestMode(Width, Height, BitCount, true)) return true;
  return FindNearestMode(Width, Height, BitCount, false);
}

bool TDXDrawDisplay::FindNearestMode(int Width, int Height, int BitCount, bool RequireRatio) {
  auto bitCountFits = [](int have, int want) { return (have > 8 && want > 8) || have >= want; };
  int bestWidth = 2147483647, bestHeight = 2147483647, bestBitCount = BitCount;
  bool found = false;
  for (int i = 0; i < Count(); ++i) {
    const TDXDrawDisplayMode* m = Modes(i);
    if (m->Width() > bestWidth || m->Height() > bestHeight) continue;
    if (RequireRatio) {
      if (m->Height() == 0 || static_cast<long double>(m->Width()) / m->Height() !=
                                  static_cast<long double>(Width) / Height)
        continue;
    }
    const bool sizeFits = FixedSize ? (m->Width() == Width && m->Height() == Height)
                                    : (m->Width() >= Width && m->Height() >= Height);
    if (!sizeFits) continue;
    const bool bitsFit =
        FixedBitCount ? m->BitCount() == BitCount : bitCountFits(m->BitCount(), BitCount);
    if (!bitsFit) continue;
    bestWidth = m->Width();
    bestHeight = m->Height();
    bestBitCount = m->BitCount();
    found = true;
  }
  if (!found) return false;
  if (bestBitCount != BitCount && IndexOf(bestWidth, bestHeight, BitCount) >= 0)
    bestBitCount = BitCount;
  return SetDisplayMode(bestWidth, bestHeight, bestBitCount);
}

// --- Drivers ------------------------------------------------------------------------------------

TDXDrawDriver::TDXDrawDriver(TCustomDXDraw* ADXDraw) : FDXDraw(ADXDraw) {
  const TDXDrawOptions o = FDXDraw->Options();
  const bool hardwareFullScreen =
      o.Contains(doFullScreen) && o.Contains(doHardware) && !o.Contains(doSystemMemory);
  if (hardwareFullScreen && o.Contains(do3D)) {
    int request = 0;
    if (o.Contains(doSelectDriver)) request |= 1;
    if (!FDXDraw->Display()->FixedBitCount) request |= 2;
    if (o.Contains(doHardware)) request |= 4;
    if (o.Contains(doRetainedMode)) request |= 8;
    if (o.Contains(doZBuffer)) request |= 16;
    ChooseDirect3DDriver(TD3DOptions::FromBits(request), FDXDraw);
  }
  FDXDraw->DDraw = new TDirectDraw(hardwareFullScreen ? FDXDraw->DriverGUID() : nullptr,
                                   o.Contains(doDirectX7Mode));
}

TDXDrawDriver::~TDXDrawDriver() {
  try {
    Finalize();
  } catch (...) {
  }
  delete FDXDraw->DDraw;
  FDXDraw->DDraw = nullptr;
}

void TDXDrawDriver::Finalize() {
  TCustomDXDraw* d = FDXDraw;
  // Retained mode and the devices first (they hold the drawing surface), then the Z-buffer
  // attached to it; the Direct3D objects go once the surfaces are gone.
  d->Viewport.Reset();
  d->Camera.Reset();
  d->Scene.Reset();
  d->D3DRMDevice3.Reset();
  d->D3DRMDevice.Reset();
  d->D3DRMDevice2.Reset();
  d->D3DRM3.Reset();
  d->D3DRM2.Reset();
  d->D3DRM.Reset();
  d->D3DDevice7.Reset();
  d->D3DDevice.Reset();
  d->D3DDevice2.Reset();
  d->D3DDevice3.Reset();
  d->D3D7.Reset();
  FreeZBuffer(d->Surface, d->ZBuffer);
  FreeAndNil(d->Clipper);
  FreeAndNil(d->Palette);
  FreeAndNil(d->Surface);
  FreeAndNil(d->Primary);
  d->D3D.Reset();
  d->D3D2.Reset();
  d->D3D3.Reset();
}

bool TDXDrawDriver::Restore() {
  TCustomDXDraw* d = FDXDraw;
  if (!d->Primary || !d->Surface) return false;
  if (!d->Primary->Restore() || !d->Surface->Restore()) return false;
  d->Primary->Fill(0);
  d->Surface->Fill(0);
  return true;
}

void TDXDrawDriver::Initialize3D() {
  TCustomDXDraw* d = FDXDraw;
  const TDXDrawOptions o = d->Options();
  int request = 0;
  if (o.Contains(doHardware)) request |= 4;
  if (d->NowOptions.Contains(doRetainedMode)) request |= 8;
  if (o.Contains(doSelectDriver)) request |= 1;
  if (o.Contains(doZBuffer)) request |= 16;
  TD3DOptions options = TD3DOptions::FromBits(request);
  if (o.Contains(doDirectX7Mode)) {
    InitializeDirect3D7(d->Surface, d->ZBuffer, d->D3D7, d->D3DDevice7, options,
                        d->D3DDeviceChoice);
  } else {
    InitializeDirect3D(d->Surface, d->ZBuffer, d->D3D, d->D3D2, d->D3D3, d->D3DDevice,
                       d->D3DDevice2, d->D3DDevice3, d->D3DRM, d->D3DRM2, d->D3DRM3, d->D3DRMDevice,
                       d->D3DRMDevice2, d->D3DRMDevice3, d->Viewport, d->Scene, d->Camera, options,
                       d->D3DDeviceChoice);
  }
  const auto achieved = static_cast<int>(options.Bits());
  d->NowOptions -= {doRetainedMode, doHardware, doSelectDriver, doZBuffer};
  if (achieved & 4) d->NowOptions.Include(doHardware);
  if (achieved & 8) d->NowOptions.Include(doRetainedMode);
  if (achieved & 1) d->NowOptions.Include(doSelectDriver);
  if (achieved & 16) d->NowOptions.Include(doZBuffer);
}

void TDXDrawDriverBlt::Initialize() {
  TCustomDXDraw* d = FDXDraw;
  d->Primary = new TDirectDrawSurface(d->DDraw);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  if (!d->Primary->CreateSurface(desc))
    throw EDXDrawError(Format(SCannotMade, {SDirectDrawPrimarySurface}));
  d->Surface = new TDirectDrawSurface(d->DDraw);
  d->Clipper = new TDirectDrawClipper(d->DDraw);
  d->Clipper->SetHandle(d->Handle());
  d->Primary->SetClipper(d->Clipper);
  d->Palette = new TDirectDrawPalette(d->DDraw);
  DWORD caps = DDPCAPS_8BIT | DDPCAPS_INITIALIZE;
  if (d->NowOptions.Contains(doAllowPalette256)) caps |= DDPCAPS_ALLOW256;
  d->Palette->CreatePalette(
      caps, MakePaletteEntries(d->ColorTable, d->NowOptions.Contains(doAllowPalette256)).data());
  d->Primary->SetPalette(d->Palette);
  CreateDrawingSurface();
}

void TDXDrawDriverBlt::CreateDrawingSurface() {
  TCustomDXDraw* d = FDXDraw;
  d->Surface->SetIDDSurface(nullptr);
  d->NowOptions.Exclude(doSystemMemory);
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
  desc.dwWidth = static_cast<DWORD>(std::max(d->FSurfaceWidth, 1));
  desc.dwHeight = static_cast<DWORD>(std::max(d->FSurfaceHeight, 1));
  desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
  if (d->Options().Contains(doSystemMemory)) desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
  if (d->NowOptions.Contains(do3D)) desc.ddsCaps.dwCaps |= DDSCAPS_3DDEVICE;
  if (!d->Surface->CreateSurface(desc)) {
    desc.ddsCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    if (!d->Surface->CreateSurface(desc))
      throw EDXDrawError(Format(SCannotMade, {SDirectDrawSurface}));
  }
  if (!(d->Surface->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY))
    d->NowOptions.Include(doSystemMemory);
  d->Surface->SetPalette(d->Palette);
  d->Surface->Fill(0);
  if (d->NowOptions.Contains(do3D)) Initialize3D();
}

void TDXDrawDriverBlt::Flip() {
  TCustomDXDraw* d = FDXDraw;
  TPoint p = d->ClientToScreen({0, 0});
  TRect dest;
  if (d->NowOptions.Contains(doStretch)) {
    dest = Bounds(p.X, p.Y, d->Width(), d->Height());
  } else {
    if (d->NowOptions.Contains(doCenter)) {
      p.X += (d->Width() - d->Surface->Width()) / 2;
      p.Y += (d->Height() - d->Surface->Height()) / 2;
    }
    dest = Bounds(p.X, p.Y, d->Surface->Width(), d->Surface->Height());
  }
  if (d->NowOptions.Contains(doWaitVBlank))
    d->DDraw->SetResultCode(d->DDraw->IDraw()->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  DDBLTFX fx{};
  fx.dwSize = kDDBltFXSize;
  const TRect src = d->Surface->ClientRect();
  d->Primary->Blt(&dest, &src, DDBLT_WAIT, fx, d->Surface);
}

bool TDXDrawDriverBlt::SetSize(int AWidth, int AHeight) {
  TCustomDXDraw* d = FDXDraw;
  d->FSurfaceWidth = std::max(AWidth, 1);
  d->FSurfaceHeight = std::max(AHeight, 1);
  ++d->NotifyLockCount;
  try {
    d->Notify(nkFinalizeSurface);
    if (d->FDoInitializeSurfaceCalled) {
      d->FDoInitializeSurfaceCalled = false;
      d->DoFinalizeSurface();
    }
    CreateDrawingSurface();
    d->Notify(nkInitializeSurface);
    d->FDoInitializeSurfaceCalled = true;
    d->DoInitializeSurface();
  } catch (...) {
    --d->NotifyLockCount;
    throw;
  }
  --d->NotifyLockCount;
  return true;
}

void TDXDrawDriverFlip::Initialize() {
  TCustomDXDraw* d = FDXDraw;
  DDSURFACEDESC desc{};
  desc.dwSize = kDDSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  if (d->NowOptions.Contains(do3D)) desc.ddsCaps.dwCaps |= DDSCAPS_3DDEVICE;
  d->Primary = new TDirectDrawSurface(d->DDraw);
  if (!d->Primary->CreateSurface(desc))
    throw EDXDrawError(Format(SCannotMade, {SDirectDrawPrimarySurface}));
  d->Surface = new TDirectDrawSurface(d->DDraw);
  DDSCAPS caps{DDSCAPS_BACKBUFFER};
  IDirectDrawSurface* back = nullptr;
  if (d->Primary->ISurface()->GetAttachedSurface(&caps, &back) == DD_OK) {
    const auto owned = ComPtr<IDirectDrawSurface>::Attach(back);
    d->Surface->SetIDDSurface(owned.Get());
  }
  d->NowOptions.Exclude(doSystemMemory);
  if (d->Surface->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY)
    d->NowOptions.Include(doSystemMemory);
  d->Clipper = new TDirectDrawClipper(d->DDraw);
  d->Palette = new TDirectDrawPalette(d->DDraw);
  DWORD pcaps = DDPCAPS_8BIT;
  if (d->NowOptions.Contains(doAllowPalette256)) pcaps |= DDPCAPS_ALLOW256;
  d->Palette->CreatePalette(
      pcaps, MakePaletteEntries(d->ColorTable, d->NowOptions.Contains(doAllowPalette256)).data());
  d->Primary->SetPalette(d->Palette);
  d->Surface->SetPalette(d->Palette);
  if (d->NowOptions.Contains(do3D)) Initialize3D();
}

void TDXDrawDriverFlip::Flip() {
  TCustomDXDraw* d = FDXDraw;
  if (d->ParentForm() && d->ParentForm()->Active()) {
    d->Primary->SetResultCode(d->Primary->ISurface()->Flip(nullptr, DDFLIP_WAIT));
  } else {
    d->Primary->SetResultCode(DD_OK);
  }
}

// --- TCustomDXDraw ------------------------------------------------------------------------------

TCustomDXDraw::TCustomDXDraw(TComponent* AOwner) : TCustomControl(AOwner) {
  UseFormsWindowHost();
  AutoInitialize = true;
  FDisplay = new TDXDrawDisplay(this);
  SetOptions(Bits(kDefaultOptions));
  SetAutoSize(true);
  PALETTEENTRY system[256];
  GetSystemPaletteEntries(nullptr, 0, 256, system);
  for (int i = 0; i < 256; ++i)
    ColorTable[i] = {system[i].peBlue, system[i].peGreen, system[i].peRed, 0};
  DefColorTable = ColorTable;
  SetWidth(100);
  SetHeight(100);
  ParentColor = false;
  SetColor(clBlack);
  D2D = new TD2D(this);
  CurrentD2D = D2D;
}

TCustomDXDraw::~TCustomDXDraw() {
  try {
    Finalize();
  } catch (...) {
  }
  try {
    Notify(nkDestroying);
  } catch (...) {
  }
  delete FDisplay;
  FDisplay = nullptr;
  delete FFormHook;
  FFormHook = nullptr;
  FNotifyEventList.clear();
  delete D2D;
  D2D = nullptr;
  CurrentD2D = nullptr;
}

void TCustomDXDraw::DefineProperties(TPropertyDefs& P) {
  TCustomControl::DefineProperties(P);
  P.Bool("AutoInitialize", AutoInitialize).Default(true);
  P.Bool(
       "AutoSize", [this] { return FAutoSize; }, [this](bool v) { SetAutoSize(v); })
      .Default(true);
  P.Persistent("Display", FDisplay);
  P.Set(
      "Options", kOptionNames, [this] { return FOptions; },
      [this](TDXDrawOptions v) { SetOptions(v); });
  P.Int(
       "SurfaceHeight", [this] { return SurfaceHeight(); }, [this](int v) { SetSurfaceHeight(v); })
      .Default(480);
  P.Int(
       "SurfaceWidth", [this] { return SurfaceWidth(); }, [this](int v) { SetSurfaceWidth(v); })
      .Default(640);
  P.Event("OnFinalize", OnFinalize);
  P.Event("OnFinalizeSurface", OnFinalizeSurface);
  P.Event("OnInitialize", OnInitialize);
  P.Event("OnInitializeSurface", OnInitializeSurface);
  P.Event("OnInitializing", OnInitializing);
  P.Event("OnRestoreSurface", OnRestoreSurface);
}

void TCustomDXDraw::SetOptions(TDXDrawOptions Value) {
  FOptions = Value;
  if (FInitialized) {
    // Only the flip's own options change while initialized.
    NowOptions = Bits((NowOptions.Bits() & 0x7F37) | (Value.Bits() & 0x80C8));
    if (!NowOptions.Contains(do3D)) NowOptions -= Bits(0x7800);
    return;
  }
  NowOptions = Value;
  if (!NowOptions.Contains(doFullScreen)) NowOptions -= Bits(0x0116);
  if (!NowOptions.Contains(do3D)) NowOptions -= Bits(0x7C00);
  if (NowOptions.Contains(doSystemMemory)) NowOptions.Exclude(doFlip);
  if (NowOptions.Contains(doDirectX7Mode)) NowOptions.Exclude(doRetainedMode);
  NowOptions.Exclude(doHardware);  // the 3-D set-up puts it back when it gets hardware
}

void TCustomDXDraw::SetDriverGUID(GUID* Value) {
  // Small values are flags, not addresses.
  if (reinterpret_cast<std::uintptr_t>(Value) > 0xFFFF) {
    FDriverGUIDBuffer = *Value;
    FDriverGUID = &FDriverGUIDBuffer;
  } else {
    FDriverGUID = Value;
  }
}

void TCustomDXDraw::SetParent(TWinControl* AParent) {
  TCustomControl::SetParent(AParent);
  FParentForm = nullptr;
  delete FFormHook;
  FFormHook = nullptr;
  for (TWinControl* p = Parent(); p; p = p->Parent()) {
    if (auto* form = dynamic_cast<TCustomForm*>(p)) {
      FParentForm = form;
      FFormHook = new TControlSubClass(
          form, [this](TMessage& m, TWndMethod def) { FormWndProcHook(m, def); });
      break;
    }
  }
}

void TCustomDXDraw::FormWndProcHook(TMessage& Message, const TWndMethod& DefWindowProc) {
  const bool loading = ComponentState().Contains(csLoading);
  switch (Message.Msg) {
    case WM_WINDOWPOSCHANGED: {
      DefWindowProc(Message);
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(Message.LParam);
      if (pos && (pos->flags & SWP_SHOWWINDOW) && AutoInitialize && !FInitializeCalled)
        Initialize();
      return;
    }
    case WM_ACTIVATE:
    case WM_INITMENU:
      if ((Message.Msg == WM_INITMENU || LoWord(Message.WParam) == WA_INACTIVE) && FInitialized &&
          NowOptions.Contains(doFullScreen) && NowOptions.Contains(doFlip))
        DDraw->IDraw()->FlipToGDISurface();
      DefWindowProc(Message);
      return;
    case WM_DESTROY:
      Finalize();
      DefWindowProc(Message);
      return;
    case WM_ENTERSIZEMOVE:
      if (!loading) Finalize();
      DefWindowProc(Message);
      return;
    case WM_EXITSIZEMOVE:
      if (!loading) Initialize();
      DefWindowProc(Message);
      return;
    default:
      DefWindowProc(Message);
  }
}

void TCustomDXDraw::Loaded() {
  TCustomControl::Loaded();
  if (FAutoSize) {
    FSurfaceWidth = Width();
    FSurfaceHeight = Height();
  }
  Notify(nkSetSurfaceSize);
  if (AutoInitialize && !FFormHook) Initialize();
}

void TCustomDXDraw::Initialize() {
  FInitializeCalled = true;
  Finalize();
  if (!FParentForm) throw EDXDrawError(SFormNotFound);
  try {
    DoInitializing();
    FUpdating = true;
    try {
      FInitializeStarted = true;
      Notify(nkInitializing);
      if (NowOptions.Contains(doFlip)) {
        Driver = new TDXDrawDriverFlip(this);
      } else {
        Driver = new TDXDrawDriverBlt(this);
      }
      SetCooperativeLevel();
      if (NowOptions.Contains(doFullScreen) &&
          !FDisplay->ChangeDisplayMode(FDisplay->Width(), FDisplay->Height(), FDisplay->BitCount()))
        throw EDXDrawError(Format(SDisplayModeChange,
                                  {FDisplay->Width(), FDisplay->Height(), FDisplay->BitCount()}));
      if (FAutoSize) {
        FSurfaceWidth = Width();
        FSurfaceHeight = Height();
      }
      Driver->Initialize();
    } catch (...) {
      FUpdating = false;
      throw;
    }
    FUpdating = false;

    FInitialized = true;
    ++NotifyLockCount;
    try {
      Notify(nkSetSurfaceSize);
      Notify(nkInitialize);
      FDoInitializeCalled = true;
      DoInitialize();
      Notify(nkInitializeSurface);
      FDoInitializeSurfaceCalled = true;
      DoInitializeSurface();
    } catch (...) {
      --NotifyLockCount;
      throw;
    }
    --NotifyLockCount;
    if (!D2D) {
      D2D = new TD2D(this);
      CurrentD2D = D2D;
    }
    Restore();
  } catch (...) {
    Finalize();
    throw;
  }
}

void TCustomDXDraw::Finalize() {
  if (FInitializeStarted) {
    FSurfaceWidth = SurfaceWidth();
    FSurfaceHeight = SurfaceHeight();
    FDisplay->ClearModes();
    FUpdating = true;
    TRunAll run;
    run([this] {
      if (FDoInitializeSurfaceCalled) {
        FDoInitializeSurfaceCalled = false;
        DoFinalizeSurface();
      }
    });
    run([this] { Notify(nkFinalizeSurface); });
    run([this] {
      if (FDoInitializeCalled) {
        FDoInitializeCalled = false;
        DoFinalize();
      }
    });
    run([this] { Notify(nkFinalize); });
    FInitializeStarted = false;
    FInitialized = false;
    SetOptions(FOptions);
    run([this] { FreeAndNil(Driver); });
    FUpdating = false;
    delete D2D;
    D2D = nullptr;
    CurrentD2D = nullptr;
    run.Rethrow();
    return;
  }
  delete D2D;
  D2D = nullptr;
  CurrentD2D = nullptr;
}

void TCustomDXDraw::Restore() {
  if (!FInitialized || FUpdating) return;
  // Whatever a handler raises, the display must not stay "updating": it could never draw again.
  FUpdating = true;
  try {
    if (Driver->Restore()) {
      Primary->SetPalette(Palette);
      Surface->SetPalette(Palette);
      UpdatePalette(DefColorTable);
      Notify(nkRestore);
      DoRestoreSurface();
      UpdatePalette(ColorTable);
    }
  } catch (...) {
    FUpdating = false;
    throw;
  }
  FUpdating = false;
}

bool TCustomDXDraw::CheckSurfaces() {
  if (!FInitialized || FUpdating || !Primary || !Primary->IDDSurface()) return false;
  // Without a drawing surface (no back buffer came with the full-screen primary) there is
  // nothing to check or show.
  if (!Surface || !Surface->IDDSurface()) return false;
  if (Primary->ISurface()->IsLost() != DDERR_SURFACELOST &&
      Surface->ISurface()->IsLost() != DDERR_SURFACELOST)
    return true;
  Restore();
  return Primary->IDDSurface() && Surface->IDDSurface() && Primary->ISurface()->IsLost() == DD_OK &&
         Surface->ISurface()->IsLost() == DD_OK;
}

bool TCustomDXDraw::CanDraw() {
  return FInitialized && !FUpdating && Surface && Surface->IDDSurface() && CheckSurfaces();
}

void TCustomDXDraw::Flip() {
  try {
    if (FInitialized && !FUpdating && CheckSurfaces() && !SkipNextFlip) Driver->Flip();
  } catch (...) {
    SkipNextFlip = false;
    throw;
  }
  SkipNextFlip = false;
}

bool TCustomDXDraw::Registered(std::uint64_t Serial) const {
  for (const TNotifyEntry& e : FNotifyEventList)
    if (e.Serial == Serial) return true;
  return false;
}

void TCustomDXDraw::Notify(TDXDrawNotifyKind NotifyType) {
  // Handlers may register or remove handlers (themselves included) while they are called:
  // walk a copy, skip those removed meanwhile, and leave those added to the next broadcast.
  const std::vector<TNotifyEntry> walk = FNotifyEventList;
  for (auto it = walk.rbegin(); it != walk.rend(); ++it) {
    if (Registered(it->Serial)) it->Event(this, NotifyType);
  }
}

void TCustomDXDraw::AddNotifyHandler(const TDXDrawNotifyEvent& NotifyEvent) {
  RemoveNotifyHandler(NotifyEvent);
  FNotifyEventList.push_back({NotifyEvent, ++FNextSerial});
  NotifyEvent(this, nkSetSurfaceSize);
  if (FInitialized) {
    NotifyEvent(this, nkInitialize);
    if (FDoInitializeSurfaceCalled) NotifyEvent(this, nkInitializeSurface);
    if (NotifyLockCount == 0) NotifyEvent(this, nkRestore);
  }
}

void TCustomDXDraw::RemoveNotifyHandler(const TDXDrawNotifyEvent& NotifyEvent) {
  const auto it = std::find_if(FNotifyEventList.begin(), FNotifyEventList.end(),
                               [&](const TNotifyEntry& e) { return e.Event == NotifyEvent; });
  if (it == FNotifyEventList.end()) return;
  FNotifyEventList.erase(it);
  if (FDoInitializeSurfaceCalled) NotifyEvent(this, nkFinalizeSurface);
  if (FInitialized) NotifyEvent(this, nkFinalize);
}

int TCustomDXDraw::SurfaceWidth() const {
  if (Surface && Surface->IDDSurface()) return Surface->Width();
  return FSurfaceWidth;
}

int TCustomDXDraw::SurfaceHeight() const {
  if (Surface && Surface->IDDSurface()) return Surface->Height();
  return FSurfaceHeight;
}

void TCustomDXDraw::SetSurfaceWidth(int Value) {
  if (ComponentState().Contains(csLoading) || ComponentState().Contains(csReading)) {
    FSurfaceWidth = Value;
  } else {
    ChangeSurfaceSize(Value, SurfaceHeight());
  }
}

void TCustomDXDraw::SetSurfaceHeight(int Value) {
  if (ComponentState().Contains(csLoading) || ComponentState().Contains(csReading)) {
    FSurfaceHeight = Value;
  } else {
    ChangeSurfaceSize(SurfaceWidth(), Value);
  }
}

void TCustomDXDraw::ChangeSurfaceSize(int AWidth, int AHeight) {
  if ((AWidth == SurfaceWidth() && AHeight == SurfaceHeight()) || FUpdating) return;
  if (FInitialized) {
    try {
      if (!Driver->SetSize(AWidth, AHeight)) return;
    } catch (...) {
      Finalize();
      throw;
    }
  } else {
    FSurfaceWidth = AWidth;
    FSurfaceHeight = AHeight;
  }
  Notify(nkSetSurfaceSize);
}

void TCustomDXDraw::SetAutoSize(bool Value) {
  if (FAutoSize == Value) return;
  FAutoSize = Value;
  if (Value) ChangeSurfaceSize(Width(), Height());
}

void TCustomDXDraw::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (FAutoSize && !FUpdating) ChangeSurfaceSize(AWidth, AHeight);
}

void TCustomDXDraw::Paint() {
  // A repaint the system asks for shows the picture at once, without waiting for the blank.
  const TDXDrawOptions saved = NowOptions;
  NowOptions.Exclude(doWaitVBlank);
  try {
    Flip();
  } catch (...) {
    NowOptions = saved;
    throw;
  }
  NowOptions = saved;
  if (Parent() && FInitialized && Surface &&
      (Surface->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY))
    Parent()->Invalidate();
}

bool TCustomDXDraw::PaletteChanged(bool Foreground) {
  if (!Foreground) return false;
  Restore();
  return true;
}

void TCustomDXDraw::Dispatch(TMessage& Message) {
  TCustomControl::Dispatch(Message);
  if (Message.Msg == WM_CREATE && FInitialized && !FUpdating) {
    // The window was made anew: the clipper and the cooperative level follow it.
    if (Clipper) Clipper->SetHandle(Handle());
    SetCooperativeLevel();
  }
}

void TCustomDXDraw::SetCooperativeLevel() {
  const HWND wnd = FParentForm ? FParentForm->Handle() : Handle();
  DWORD flags = DDSCL_NORMAL;
  if (NowOptions.Contains(doFullScreen)) {
    flags = DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE | DDSCL_ALLOWMODEX;
    if (NowOptions.Contains(doNoWindowChange)) flags |= DDSCL_NOWINDOWCHANGES;
    if (NowOptions.Contains(doAllowReboot)) flags |= DDSCL_ALLOWREBOOT;
  }
  DDraw->SetResultCode(DDraw->IDraw()->SetCooperativeLevel(wnd, flags));
}

void TCustomDXDraw::UpdatePalette(const TRGBQuads& AColorTable) {
  if (!FInitialized || !Palette) return;
  Palette->SetEntries(
      0, 256, MakePaletteEntries(AColorTable, NowOptions.Contains(doAllowPalette256)).data());
}

void TCustomDXDraw::DoFinalize() {
  if (OnFinalize) OnFinalize(this);
}
void TCustomDXDraw::DoFinalizeSurface() {
  if (OnFinalizeSurface) OnFinalizeSurface(this);
}
void TCustomDXDraw::DoInitialize() {
  if (OnInitialize) OnInitialize(this);
}
void TCustomDXDraw::DoInitializeSurface() {
  // While Initialize runs, the drawer of the last life is gone and the new one not made yet.
  SkipNextFlip = D2D ? D2D->UpdateRenderTarget() : false;
  if (OnInitializeSurface) OnInitializeSurface(this);
}
void TCustomDXDraw::DoInitializing() {
  if (OnInitializing) OnInitializing(this);
}
void TCustomDXDraw::DoRestoreSurface() {
  if (OnRestoreSurface) OnRestoreSurface(this);
}
