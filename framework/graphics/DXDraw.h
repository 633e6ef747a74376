// The display component: a control on a form that owns a DirectDraw object, the primary
// (screen) surface, the drawing surface everything is drawn on, a clipper and a palette, all
// made and freed through a driver. The windowed driver copies the drawing surface into the
// control on every flip; the full-screen driver page-flips. Components that draw on the display
// attach through notify handlers and hear of every initialization, surface change, restore and
// finalization.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/graphics/ControlSubClass.h"
#include "framework/graphics/D2D.h"
#include "framework/graphics/DIB.h"
#include "framework/graphics/Direct3DSetup.h"
#include "framework/graphics/DirectDraw.h"
#include "framework/graphics/DirectDrawSurface.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Forms.h"

MORVANE_DECLARE_EXCEPTION(EDXDrawError, Exception)

enum TDXDrawOption {
  doFullScreen,
  doNoWindowChange,
  doAllowReboot,
  doWaitVBlank,
  doAllowPalette256,
  doSystemMemory,
  doStretch,
  doCenter,
  doFlip,
  do3D,
  doDirectX7Mode,
  doRetainedMode,
  doHardware,
  doSelectDriver,
  doZBuffer
};
using TDXDrawOptions = TSet<TDXDrawOption>;

enum TDXDrawNotifyKind {
  nkDestroying,
  nkInitializing,
  nkInitialize,
  nkInitializeSurface,
  nkFinalize,
  nkFinalizeSurface,
  nkRestore,
  nkSetSurfaceSize
};

class TCustomDXDraw;
class TDXDrawDriver;

// A notify handler: a method bound to its object. Two handlers are the same when both the
// method and the object are.
struct TDXDrawNotifyEvent {
  using TCode = void (*)(void* Data, TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType);
  TCode Code = nullptr;
  void* Data = nullptr;

  void operator()(TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType) const {
    Code(Data, Sender, NotifyType);
  }
  friend bool operator==(const TDXDrawNotifyEvent&, const TDXDrawNotifyEvent&) = default;

  // The handler Object->Method: TDXDrawNotifyEvent::Of<&TMyClass::DXDrawNotify>(this).
  template <auto Method, class C>
  static TDXDrawNotifyEvent Of(C* Object) {
    return {[](void* Data, TCustomDXDraw* Sender, TDXDrawNotifyKind NotifyType) {
              (static_cast<C*>(Data)->*Method)(Sender, NotifyType);
            },
            Object};
  }
};

// One display mode the hardware offers.
class TDXDrawDisplayMode : public TCollectionItem {
 public:
  explicit TDXDrawDisplayMode(TCollection* Collection) : TCollectionItem(Collection) {}
  DDSURFACEDESC SurfaceDesc;
  int Width() const { return static_cast<int>(SurfaceDesc.dwWidth); }
  int Height() const { return static_cast<int>(SurfaceDesc.dwHeight); }
  int BitCount() const { return static_cast<int>(SurfaceDesc.ddpfPixelFormat.dwRGBBitCount); }
};

// The full-screen display mode wanted, and the modes the hardware offers (sorted by width,
// height and bit count).
class TDXDrawDisplay : public TPersistent {
 public:
  explicit TDXDrawDisplay(TCustomDXDraw* ADXDraw);
  ~TDXDrawDisplay() override;

  void Assign(TPersistent* Source) override;
  void DefineProperties(TPropertyDefs& P) override;

  int BitCount() const { return FBitCount; }
  // 8, 16, 24 or 32; EDirectDrawError "Display requires 8, 16, 24 or 32 bits" otherwise.
  void SetBitCount(int Value);
  int Width() const { return FWidth; }
  void SetWidth(int Value) { FWidth = Value > 0 ? Value : 0; }
  int Height() const { return FHeight; }
  void SetHeight(int Value) { FHeight = Value > 0 ? Value : 0; }
  bool FixedBitCount = false;
  bool FixedRatio = true;
  bool FixedSize = true;

  // Both enumerate the modes first when the list is empty.
  int Count();
  TDXDrawDisplayMode* Modes(int Index);
  int IndexOf(int Width, int Height, int BitCount);
  void UpdateModes();
  void ClearModes();
  bool SetDisplayMode(int Width, int Height, int BitCount);
  // The exact mode, else the nearest one the options allow.
  bool ChangeDisplayMode(int Width, int Height, int BitCount);

 private:
  bool FindNearestMode(int Width, int Height, int BitCount, bool RequireRatio);

  TCustomDXDraw* FDXDraw;
  int FBitCount = 16;
  int FWidth = 640;
  int FHeight = 480;
  TCollection* FModes;
};

class TDXDrawDriver : public TObject {
 public:
  // Makes the display's DirectDraw object (after the 3-D driver choice, for full-screen
  // hardware 3-D).
  explicit TDXDrawDriver(TCustomDXDraw* ADXDraw);
  // Finalize, then frees the DirectDraw object.
  ~TDXDrawDriver() override;

  // Releases what the 3-D set-up made and frees the clipper, palette, drawing surface and
  // primary surface.
  virtual void Finalize();
  virtual void Flip() = 0;
  virtual void Initialize() = 0;
  // False: the surface size follows something else.
  virtual bool SetSize(int AWidth, int AHeight) { return false; }
  // Restores the primary surface and then the drawing surface, and fills both with 0 when
  // both came back.
  bool Restore();

 protected:
  void Initialize3D();
  TCustomDXDraw* FDXDraw;
  bool FFinalized = false;
};

// Windowed: an offscreen drawing surface copied into the control on every flip.
class TDXDrawDriverBlt : public TDXDrawDriver {
 public:
  using TDXDrawDriver::TDXDrawDriver;
  void Flip() override;
  void Initialize() override;
  bool SetSize(int AWidth, int AHeight) override;

 private:
  void CreateDrawingSurface();
};

// Full screen: a primary surface with one back buffer, page-flipped.
class TDXDrawDriverFlip : public TDXDrawDriver {
 public:
  using TDXDrawDriver::TDXDrawDriver;
  void Flip() override;
  void Initialize() override;
};

class TCustomDXDraw : public TCustomControl {
 public:
  explicit TCustomDXDraw(TComponent* AOwner);
  ~TCustomDXDraw() override;

  void Initialize();
  void Finalize();
  // Brings lost surfaces back and tells every handler to redraw what it owns.
  void Restore();
  // The display is initialized and its surfaces are there (restoring lost ones).
  bool CanDraw();
  // Shows the drawing surface; does nothing while the display cannot draw or when the next
  // flip is to be skipped, and clears that request in every case.
  void Flip();
  bool CheckSurfaces();

  void AddNotifyHandler(const TDXDrawNotifyEvent& NotifyEvent);
  void RemoveNotifyHandler(const TDXDrawNotifyEvent& NotifyEvent);
  void Notify(TDXDrawNotifyKind NotifyType);

  void ChangeSurfaceSize(int AWidth, int AHeight);
  int SurfaceWidth() const;
  int SurfaceHeight() const;
  void SetSurfaceWidth(int Value);
  void SetSurfaceHeight(int Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  TDXDrawOptions Options() const { return FOptions; }
  void SetOptions(TDXDrawOptions Value);
  TDXDrawDisplay* Display() const { return FDisplay; }
  void SetDisplay(TDXDrawDisplay* Value) { FDisplay->Assign(Value); }
  void UpdatePalette(const TRGBQuads& AColorTable);
  void SetCooperativeLevel();
  void SetDriverGUID(GUID* Value);
  GUID* DriverGUID() const { return FDriverGUID; }
  // Called when the system palette changed: restores when Foreground.
  virtual bool PaletteChanged(bool Foreground);

  bool Initialized() const { return FInitialized; }
  bool InitializeCalled() const { return FInitializeCalled; }
  bool Updating() const { return FUpdating; }
  TCustomForm* ParentForm() const { return FParentForm; }

  bool AutoInitialize = true;
  TDXDrawOptions NowOptions;
  TDXDrawDriver* Driver = nullptr;
  TDirectDraw* DDraw = nullptr;
  TDirectDrawClipper* Clipper = nullptr;
  TDirectDrawPalette* Palette = nullptr;
  TDirectDrawSurface* Primary = nullptr;
  TDirectDrawSurface* Surface = nullptr;
  TD2D* D2D = nullptr;
  // What the 3-D set-up made on the drawing surface (do3D): the device it took, the Z-buffer
  // and the interfaces of the path it ran; all released by the driver's finalization.
  TD3DDeviceChoice D3DDeviceChoice;
  TDirectDrawSurface* ZBuffer = nullptr;
  ComPtr<IDirect3D> D3D;
  ComPtr<IDirect3D2> D3D2;
  ComPtr<IDirect3D3> D3D3;
  ComPtr<IDirect3D7> D3D7;
  ComPtr<IDirect3DDevice> D3DDevice;
  ComPtr<IDirect3DDevice2> D3DDevice2;
  ComPtr<IDirect3DDevice3> D3DDevice3;
  ComPtr<IDirect3DDevice7> D3DDevice7;
  ComPtr<IDirect3DRM> D3DRM;
  ComPtr<IDirect3DRM2> D3DRM2;
  ComPtr<IDirect3DRM3> D3DRM3;
  ComPtr<IDirect3DRMDevice> D3DRMDevice;
  ComPtr<IDirect3DRMDevice2> D3DRMDevice2;
  ComPtr<IDirect3DRMDevice3> D3DRMDevice3;
  ComPtr<IDirect3DRMViewport> Viewport;
  ComPtr<IDirect3DRMFrame> Scene;
  ComPtr<IDirect3DRMFrame> Camera;
  TRGBQuads ColorTable{};
  TRGBQuads DefColorTable{};
  int NotifyLockCount = 0;

  TNotifyEvent OnFinalize;
  TNotifyEvent OnFinalizeSurface;
  TNotifyEvent OnInitialize;
  TNotifyEvent OnInitializeSurface;
  TNotifyEvent OnInitializing;
  TNotifyEvent OnRestoreSurface;

  void DefineProperties(TPropertyDefs& P) override;
  void Loaded() override;
  void SetParent(TWinControl* AParent) override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void Dispatch(TMessage& Message) override;

 protected:
  virtual void DoFinalize();
  virtual void DoFinalizeSurface();
  virtual void DoInitialize();
  virtual void DoInitializeSurface();
  virtual void DoInitializing();
  virtual void DoRestoreSurface();
  void Paint() override;

 private:
  friend class TDXDrawDriver;
  friend class TDXDrawDriverBlt;
  friend class TDXDrawDriverFlip;
  struct TNotifyEntry {
    TDXDrawNotifyEvent Event;
    std::uint64_t Serial;
  };
  void FormWndProcHook(TMessage& Message, const TWndMethod& DefWindowProc);
  bool Registered(std::uint64_t Serial) const;

  bool FAutoSize = true;
  bool FDoInitializeCalled = false;
  bool FDoInitializeSurfaceCalled = false;
  TCustomForm* FParentForm = nullptr;
  std::vector<TNotifyEntry> FNotifyEventList;
  std::uint64_t FNextSerial = 0;
  bool FInitialized = false;
  bool FInitializeCalled = false;
  bool FInitializeStarted = false;
  bool FUpdating = false;
  TControlSubClass* FFormHook = nullptr;
  TDXDrawOptions FOptions;
  GUID* FDriverGUID = nullptr;
  GUID FDriverGUIDBuffer{};
  TDXDrawDisplay* FDisplay = nullptr;
  int FSurfaceWidth = 0;
  int FSurfaceHeight = 0;
};

// The display as the stored forms know it.
class TDXDraw : public TCustomDXDraw {
 public:
  explicit TDXDraw(TComponent* AOwner) : TCustomDXDraw(AOwner) {}
};

// The palette entries of a colour table: read-only entries, with the system's fixed colours at
// both ends unless the program may use all 256.
std::array<PALETTEENTRY, 256> MakePaletteEntries(const TRGBQuads& AColorTable,
                                                 bool AllowPalette256);
