#include <gtest/gtest.h>

#include <string>

#include "framework/graphics/DXDraws.h"
#include "graphics/DisplayTestSupport.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/gdi/Colors.h"
#include "platform/win/Libraries.h"

using backend::HeadlessBackend;

// A form read from stored data, as the editor's window is.
class TD3DSetupTestForm : public TForm {
 public:
  explicit TD3DSetupTestForm(TComponent* AOwner) : TForm(AOwner) {
    RegisterField("DXDraw1", DXDraw1);
  }
  TDXDraw* DXDraw1 = nullptr;
};

namespace {

const bool registered = (RegisterClass<TD3DSetupTestForm>("TD3DSetupTestForm"), true);

// The editor's display as its form stores it: the default options, sized by the control, and
// initialized on the form's first show.
const char* kEditorForm = R"(object D3DSetupTestForm: TD3DSetupTestForm
  ClientHeight = 569
  ClientWidth = 300
  object DXDraw1: TDXDraw
    Left = 0
    Top = 0
    Width = 100
    Height = 569
    Options = [doAllowReboot, doWaitVBlank, doCenter, do3D, doDirectX7Mode, doHardware, doSelectDriver]
    SurfaceHeight = 569
    SurfaceWidth = 100
  end
end
)";

class Direct3DSetupTest : public display_test::FreshDisplayTest {
 protected:
  // A shown form holding a display of this size that initializes only when asked.
  TDXDraw* MakeDisplay(int w, int h, TDXDrawOptions options) {
    Application->CreateForm(Form);
    Form->SetClientWidth(w);
    Form->SetClientHeight(h);
    auto* d = new TDXDraw(Form);
    d->AutoInitialize = false;
    d->SetParent(Form);
    d->SetBounds(0, 0, w, h);
    d->SetOptions(options);
    Form->Show();
    Application->ProcessMessages();
    return d;
  }

  TForm* Form = nullptr;
};

TEST_F(Direct3DSetupTest, EditorDisplayInitializesWithASoftwareDeviceAndDraws) {
  RegisterFormResource("TD3DSetupTestForm", kEditorForm);
  TD3DSetupTestForm* f = nullptr;
  Application->CreateForm(f);
  TDXDraw* d = f->DXDraw1;
  f->Show();
  Application->ProcessMessages();
  ASSERT_TRUE(d->Initialized());
  // The set-up was asked for hardware and driver selection; it got a software device and
  // DirectX 7 never reports the driver selection.
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doWaitVBlank, doCenter, do3D, doDirectX7Mode}));
  ASSERT_TRUE(d->D3DDevice7);
  ASSERT_TRUE(d->D3D7);
  EXPECT_EQ(d->D3DDeviceChoice.DeviceGUID, IID_IDirect3DRGBDevice);
  EXPECT_FALSE(d->D3DDeviceChoice.Hardware);
  EXPECT_EQ(d->ZBuffer, nullptr);
  EXPECT_FALSE(d->D3DDevice3);  // the DirectX 6 path did not run

  // The drawer is on and set its filters on the device.
  ASSERT_EQ(CurrentD2D, d->D2D);
  EXPECT_TRUE(d->D2D->IsActive());
  DWORD mag = 0, min = 0;
  d->D3DDevice7->GetTextureStageState(0, D3DTSS_MAGFILTER, &mag);
  d->D3DDevice7->GetTextureStageState(0, D3DTSS_MINFILTER, &min);
  EXPECT_EQ(mag, D3DTFG_LINEAR);
  EXPECT_EQ(min, D3DTFN_LINEAR);
  // It draws through the device.
  TRect r = Rect(0, 0, 4, 4);
  EXPECT_TRUE(d->D2D->Draw(r, d->Surface, false));

  // The editor's own drawing: fill, canvas text, flip.
  ASSERT_TRUE(d->CanDraw());
  d->Surface->Fill(d->Surface->MatchColor(clNavy));
  TDirectDrawSurfaceCanvas* c = d->Surface->Canvas();
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetColor(clYellow);
  c->Font()->SetSize(20);
  c->TextOut(10, 10, "Go!");
  c->Release();
  d->Flip();
  const auto* frame = hb->LastFrame(static_cast<backend::WindowId>(f->Handle()));
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Pixel(90, 500), 0x000080u);
  int yellow = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) yellow += frame->Pixel(x, y) == 0xFFFF00u;
  EXPECT_GT(yellow, 40);

  f->Free();
}

// Options of a windowed 3-D display on the DirectX 7 path, plus the given ones.
TDXDrawOptions With(std::initializer_list<TDXDrawOption> more) {
  TDXDrawOptions o{doWaitVBlank, doCenter, do3D, doDirectX7Mode};
  for (TDXDrawOption x : more) o.Include(x);
  return o;
}

// A hardware device under its own identity.
d3d::DeviceInfo Hardware(std::uint8_t id, DWORD renderDepths = DDBD_16 | DDBD_32) {
  d3d::DeviceInfo d = d3d::HardwareDevice();
  d.Guid.Data4[7] = id;
  d.RenderDepths = renderDepths;
  return d;
}

d3d::DeviceInfo Software(std::uint8_t id, DWORD zDepths = DDBD_16) {
  d3d::DeviceInfo d = d3d::SoftwareDevice();
  d.Guid.Data4[7] = id;
  d.ZBufferDepths = zDepths;
  return d;
}

TEST_F(Direct3DSetupTest, DeviceChoiceFollowsTheRequestAndWhatIsOffered) {
  TDXDraw* d = MakeDisplay(32, 32, With({doHardware}));
  struct Case {
    const char* What;
    std::vector<d3d::DeviceInfo> Devices;
    TDXDrawOptions Options;
    GUID Expected;
    bool Hardware;
  };
  const Case cases[] = {
      {"hardware asked, software offered",
       {d3d::SoftwareDevice()},
       With({doHardware}),
       IID_IDirect3DRGBDevice,
       false},
      {"hardware asked and offered",
       {d3d::SoftwareDevice(), Hardware(1)},
       With({doHardware}),
       Hardware(1).Guid,
       true},
      {"hardware offered, not asked",
       {Hardware(1), d3d::SoftwareDevice()},
       With({}),
       IID_IDirect3DRGBDevice,
       false},
      {"surface in system memory",
       {d3d::SoftwareDevice(), Hardware(1)},
       With({doHardware, doSystemMemory}),
       IID_IDirect3DRGBDevice,
       false},
      {"the last hardware device wins, later software is ignored",
       {Software(5), Hardware(1), Hardware(2), Software(6)},
       With({doHardware}),
       Hardware(2).Guid,
       true},
      {"the last software device wins",
       {Software(5), d3d::ReferenceDevice(), Software(6), d3d::ReferenceDevice()},
       With({}),
       Software(6).Guid,
       false},
      {"hardware that cannot render the depth",
       {Software(5), Hardware(1, DDBD_16), Software(6)},
       With({doHardware}),
       Software(6).Guid,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    d3d::SetDevices(c.Devices);
    d->SetOptions(c.Options);
    d->Initialize();
    EXPECT_EQ(d->D3DDeviceChoice.DeviceGUID, c.Expected);
    EXPECT_EQ(d->D3DDeviceChoice.Hardware, c.Hardware);
    EXPECT_EQ(d->NowOptions.Contains(doHardware), c.Hardware);
    EXPECT_FALSE(d->NowOptions.Contains(doZBuffer));
    EXPECT_EQ(d3d::LiveDeviceCount(), 1);
    d->Finalize();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
  }
}

TEST_F(Direct3DSetupTest, NoDeviceForTheDepthLeavesTheDisplayFinalized) {
  for (bool directX7 : {true, false}) {
    SCOPED_TRACE(directX7 ? "DirectX 7" : "DirectX 6");
    TDXDrawOptions options{doCenter, do3D};
    if (directX7) options.Include(doDirectX7Mode);
    // A machine with only the reference rasteriser.
    d3d::SetDevices({d3d::ReferenceDevice()});
    TDXDraw* d = MakeDisplay(32, 32, options);
    try {
      d->Initialize();
      FAIL() << "initialized";
    } catch (const EDXDrawError& e) {
      EXPECT_EQ(e.Message, "3D device not found");
    }
    EXPECT_FALSE(d->Initialized());
    EXPECT_EQ(d->DDraw, nullptr);
    EXPECT_EQ(d->Options(), options);
    EXPECT_EQ(d->NowOptions, options);

    // An 8-bit desktop: the software device renders 16, 24 and 32 bits only.
    d3d::ResetMachine();
    ddraw::SetDesktopFormat(8);
    EXPECT_THROW(d->Initialize(), EDXDrawError);
    EXPECT_FALSE(d->Initialized());
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    ddraw::ResetMachine();
    Form->Free();
    Form = nullptr;
  }
}

TEST_F(Direct3DSetupTest, ZBufferWhenAskedAndOffered) {
  TDXDraw* d = MakeDisplay(40, 30, With({doZBuffer}));
  d->Initialize();
  ASSERT_NE(d->ZBuffer, nullptr);
  EXPECT_TRUE(d->NowOptions.Contains(doZBuffer));
  const DDSURFACEDESC& z = d->ZBuffer->SurfaceDesc();
  EXPECT_EQ(z.dwWidth, 40u);
  EXPECT_EQ(z.dwHeight, 30u);
  EXPECT_TRUE(z.ddsCaps.dwCaps & DDSCAPS_ZBUFFER);
  EXPECT_TRUE(z.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY);  // for a software device
  EXPECT_EQ(z.ddpfPixelFormat.dwZBufferBitDepth, 16u);
  // Attached to the drawing surface, so the device tests depth from the start.
  DDSCAPS caps{DDSCAPS_ZBUFFER};
  IDirectDrawSurface* attached = nullptr;
  ASSERT_EQ(d->Surface->ISurface()->GetAttachedSurface(&caps, &attached), DD_OK);
  EXPECT_EQ(attached, d->ZBuffer->IDDSurface());
  attached->Release();
  DWORD zenable = 0;
  d->D3DDevice7->GetRenderState(D3DRENDERSTATE_ZENABLE, &zenable);
  EXPECT_EQ(zenable, 1u);
  d->Finalize();
  EXPECT_EQ(d->ZBuffer, nullptr);

  // A device offering only 24 bits gets a 24-bit buffer; one offering none still initializes.
  d3d::SetDevices({Software(1, DDBD_24 | DDBD_32)});
  d->Initialize();
  ASSERT_NE(d->ZBuffer, nullptr);
  EXPECT_EQ(d->ZBuffer->SurfaceDesc().ddpfPixelFormat.dwZBufferBitDepth, 24u);
  d->Finalize();
  d3d::SetDevices({Software(1, 0)});
  d->Initialize();
  EXPECT_TRUE(d->Initialized());
  EXPECT_EQ(d->ZBuffer, nullptr);
  EXPECT_FALSE(d->NowOptions.Contains(doZBuffer));
}

TEST_F(Direct3DSetupTest, FailedCreationRetriesInSoftwareWithNothingKeptOfTheFirstAttempt) {
  // The hardware device would have a Z-buffer, the software one cannot.
  d3d::SetDevices({Software(1, 0), Hardware(2)});
  TDXDraw* d = MakeDisplay(32, 32, With({doHardware, doZBuffer}));
  d3d::FailCreateDevice(1);
  d->Initialize();
  ASSERT_TRUE(d->Initialized());
  EXPECT_EQ(d->D3DDeviceChoice.DeviceGUID, Software(1).Guid);
  EXPECT_FALSE(d->NowOptions.Contains(doHardware));
  EXPECT_FALSE(d->NowOptions.Contains(doZBuffer));
  EXPECT_EQ(d->ZBuffer, nullptr);
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 2);  // primary and drawing surface: no Z-buffer left
  d->Finalize();

  // A software device that fails once is simply made again.
  d3d::ResetMachine();
  d3d::FailCreateDevice(1);
  d->SetOptions(With({doZBuffer}));
  d->Initialize();
  EXPECT_TRUE(d->NowOptions.Contains(doZBuffer));
  EXPECT_NE(d->ZBuffer, nullptr);
  d->Finalize();

  // Twice: the display is left finalized, nothing made stays.
  for (bool directX7 : {true, false}) {
    d3d::FailCreateDevice(2);
    d->SetOptions(directX7 ? With({doZBuffer}) : TDXDrawOptions{doCenter, do3D, doZBuffer});
    try {
      d->Initialize();
      FAIL() << "initialized";
    } catch (const EDXDrawError& e) {
      EXPECT_EQ(e.Message,
                directX7 ? "IDirect3DDevice7 cannot be made" : "IDirect3DDevice3 cannot be made");
    }
    EXPECT_FALSE(d->Initialized());
    EXPECT_EQ(d->ZBuffer, nullptr);
    EXPECT_FALSE(d->D3D7);
    EXPECT_FALSE(d->D3D3);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
  }
}

TEST_F(Direct3DSetupTest, DirectX6PathMakesEveryInterfaceAndSetsTheDepthStates) {
  TDXDraw* d = MakeDisplay(32, 32, {doCenter, do3D, doZBuffer});
  d->Initialize();
  ASSERT_TRUE(d->D3D && d->D3D2 && d->D3D3);
  ASSERT_TRUE(d->D3DDevice && d->D3DDevice2 && d->D3DDevice3);
  EXPECT_FALSE(d->D3D7);
  EXPECT_FALSE(d->D3DDevice7);
  EXPECT_FALSE(d->D3DRM);
  EXPECT_EQ(d->D3DDeviceChoice.DeviceGUID, IID_IDirect3DRGBDevice);
  EXPECT_EQ(d->D3DDeviceChoice.HELDesc.dcmColorModel, D3DCOLOR_RGB);
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doCenter, do3D, doZBuffer}));
  DWORD v = 0;
  d->D3DDevice3->GetRenderState(D3DRENDERSTATE_DITHERENABLE, &v);
  EXPECT_EQ(v, 1u);
  d->D3DDevice3->GetRenderState(D3DRENDERSTATE_ZENABLE, &v);
  EXPECT_EQ(v, 1u);
  d->D3DDevice3->GetRenderState(D3DRENDERSTATE_ZWRITEENABLE, &v);
  EXPECT_EQ(v, 1u);
  // Not drawn through by the accelerated drawer, which wants DirectX 7 and hardware.
  EXPECT_FALSE(d->D2D->IsActive());
  d->Finalize();

  d->SetOptions({doCenter, do3D});
  d->Initialize();
  d->D3DDevice3->GetRenderState(D3DRENDERSTATE_ZENABLE, &v);
  EXPECT_EQ(v, 0u);
  d->D3DDevice3->GetRenderState(D3DRENDERSTATE_ZWRITEENABLE, &v);
  EXPECT_EQ(v, 0u);

  // A device of another colour model is passed over.
  d->Finalize();
  d3d::DeviceInfo mono = Software(3);
  mono.ColorModel = D3DCOLOR_MONO;
  d3d::SetDevices({d3d::SoftwareDevice(), mono});
  d->Initialize();
  EXPECT_EQ(d->D3DDeviceChoice.DeviceGUID, IID_IDirect3DRGBDevice);
}

TEST_F(Direct3DSetupTest, RetainedModeWithoutItsLibrary) {
  TDXDraw* d = MakeDisplay(32, 32, {doCenter, do3D, doRetainedMode});
  ASSERT_TRUE(d->NowOptions.Contains(doRetainedMode));
  try {
    d->Initialize();
    FAIL() << "initialized";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "D3DRM.dll is not loaded");
  }
  EXPECT_FALSE(d->Initialized());
  EXPECT_FALSE(d->D3DDevice3);
  EXPECT_EQ(d3d::LiveDeviceCount(), 0);
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
}

HRESULT FailingDirect3DRMCreate(IDirect3DRM** out) {
  *out = nullptr;
  return E_FAIL;
}

TEST_F(Direct3DSetupTest, RetainedModeThatCannotStart) {
  RegisterLibraryEntry("D3DRM.dll", "Direct3DRMCreate", &FailingDirect3DRMCreate);
  TDXDraw* d = MakeDisplay(32, 32, {doCenter, do3D, doRetainedMode, doZBuffer});
  try {
    d->Initialize();
    FAIL() << "initialized";
  } catch (const EDXDrawError& e) {
    EXPECT_EQ(e.Message, "Direct3D RetainedMode cannot be initialized");
  }
  UnregisterLibrary("D3DRM.dll");
  EXPECT_FALSE(d->Initialized());
  EXPECT_EQ(d3d::LiveDeviceCount(), 0);
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
}

TEST_F(Direct3DSetupTest, TheSetUpFunctionsOnTheirOwn) {
  TDXDraw* d = MakeDisplay(16, 16, With({}));
  d->Initialize();
  TDirectDrawSurface* zbuffer = nullptr;
  ComPtr<IDirect3D7> d3d7;
  ComPtr<IDirect3DDevice7> device7;
  TD3DDeviceChoice choice;
  // Retained mode is dropped on the DirectX 7 path, and the driver selection is never achieved.
  TD3DOptions options{d3dRetainedMode, d3dSelectDriver, d3dZBuffer};
  InitializeDirect3D7(d->Surface, zbuffer, d3d7, device7, options, choice);
  EXPECT_EQ(options, TD3DOptions{d3dZBuffer});
  ASSERT_TRUE(device7);
  ASSERT_NE(zbuffer, nullptr);
  // A second Z-buffer replaces the first.
  EXPECT_TRUE(CreateZBuffer7(d->Surface, zbuffer, choice.Desc7, false));
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 3);
  FreeZBuffer(d->Surface, zbuffer);
  EXPECT_EQ(zbuffer, nullptr);
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 2);
  FreeZBuffer(d->Surface, zbuffer);  // nothing left to free
  device7.Reset();
  d3d7.Reset();

  EXPECT_EQ(RenderDepthFlag(16), static_cast<DWORD>(DDBD_16));
  EXPECT_EQ(RenderDepthFlag(32), static_cast<DWORD>(DDBD_32));
  EXPECT_EQ(RenderDepthFlag(15), 0u);
}

TEST_F(Direct3DSetupTest, EditorOptionsSurviveManyCyclesAndWindowDrags) {
  RegisterFormResource("TD3DSetupTestForm", kEditorForm);
  TD3DSetupTestForm* f = nullptr;
  Application->CreateForm(f);
  TDXDraw* d = f->DXDraw1;
  f->Show();
  Application->ProcessMessages();
  ASSERT_TRUE(d->Initialized());
  for (int i = 0; i < 40; ++i) {
    d->Finalize();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    d->Initialize();
    ASSERT_TRUE(d->D3DDevice7);
    EXPECT_EQ(d3d::LiveDeviceCount(), 1);
  }
  // A window drag finalizes and initializes through the form hook; the drawer comes back with
  // its filters on the new device.
  const auto wnd = static_cast<backend::WindowId>(f->Handle());
  for (int i = 0; i < 3; ++i) {
    hb->BeginMoveSize(wnd);
    Application->RunUntil([&] { return !d->Initialized(); }, 50);
    EXPECT_FALSE(d->Initialized());
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    hb->EndMoveSize(wnd);
    Application->RunUntil([&] { return d->Initialized(); }, 50);
    ASSERT_TRUE(d->Initialized());
    EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doWaitVBlank, doCenter, do3D, doDirectX7Mode}));
    ASSERT_TRUE(d->D2D->IsActive());
    DWORD mag = 0;
    d->D3DDevice7->GetTextureStageState(0, D3DTSS_MAGFILTER, &mag);
    EXPECT_EQ(mag, D3DTFG_LINEAR);
  }
  f->Free();
}

TEST_F(Direct3DSetupTest, ANewDrawingSurfaceGetsANewDevice) {
  TDXDraw* d = MakeDisplay(32, 32, With({doZBuffer, doHardware}));
  d->Initialize();
  d->SetBounds(0, 0, 48, 20);
  ASSERT_EQ(d->Surface->Width(), 48);
  EXPECT_EQ(d3d::LiveDeviceCount(), 1);
  ASSERT_NE(d->ZBuffer, nullptr);
  EXPECT_EQ(d->ZBuffer->Width(), 48);
  IDirectDrawSurface7* target = nullptr;
  ASSERT_EQ(d->D3DDevice7->GetRenderTarget(&target), D3D_OK);
  EXPECT_EQ(target, d->Surface->IDDSurface7());
  target->Release();
  // The old surface and Z-buffer are gone: primary, drawing surface, Z-buffer.
  EXPECT_EQ(ddraw::LiveSurfaceCount(), 3);
  // The drawer pointed the device at the new surface, which skips the next flip.
  EXPECT_TRUE(SkipNextFlip);
}

TEST_F(Direct3DSetupTest, DrawerIsActiveOnlyForHardwareDirectX7On16Or32Bits) {
  TDXDraw* d = MakeDisplay(16, 16, With({}));  // no doHardware asked
  d->Initialize();
  EXPECT_FALSE(d->D2D->Enabled);
  EXPECT_FALSE(d->D2D->IsActive());
  DWORD mag = 0;
  d->D3DDevice7->GetTextureStageState(0, D3DTSS_MAGFILTER, &mag);
  EXPECT_EQ(mag, D3DTFG_POINT);  // the drawer left the device alone
  // Asking now turns it on at its next question, filters and all.
  d->SetOptions(With({doHardware}));
  EXPECT_TRUE(d->D2D->IsActive());
  d->D3DDevice7->GetTextureStageState(0, D3DTSS_MAGFILTER, &mag);
  EXPECT_EQ(mag, D3DTFG_LINEAR);
  d->D2D->SetTextureFilter(false);
  d->D3DDevice7->GetTextureStageState(0, D3DTSS_MINFILTER, &mag);
  EXPECT_EQ(mag, D3DTFN_POINT);
  d->Finalize();

  // A 24-bit drawing surface has a device but no accelerated drawing.
  ddraw::SetDesktopFormat(24);
  d->Initialize();
  ASSERT_TRUE(d->D3DDevice7);
  EXPECT_FALSE(d->D2D->IsActive());
  EXPECT_EQ(d->D2D->SurfaceBitCount, 24);
}

TEST_F(Direct3DSetupTest, FullScreenHardwareChoosesTheDriverAndADepthTheDeviceRenders) {
  ddraw::SetDisplayModes({{640, 480, 16}, {640, 480, 32}});
  d3d::SetDevices({d3d::SoftwareDevice(), Hardware(1, DDBD_32)});
  TDXDraw* d = MakeDisplay(64, 64, With({doFullScreen, doHardware, doSelectDriver}));
  ASSERT_EQ(d->Display()->BitCount(), 16);
  d->Initialize();
  // The only driver is the primary one; its hardware device renders 32 bits only.
  EXPECT_EQ(d->DriverGUID(), nullptr);
  EXPECT_EQ(d->Display()->BitCount(), 32);
  EXPECT_EQ(d->Surface->BitCount(), 32);
  EXPECT_TRUE(d->D3DDeviceChoice.Hardware);
  EXPECT_TRUE(d->NowOptions.Contains(doHardware));
  d->Finalize();

  // With a fixed bit count the display keeps 16 bits and gets no hardware device.
  d->Display()->SetBitCount(16);
  d->Display()->FixedBitCount = true;
  d->Initialize();
  EXPECT_EQ(d->Display()->BitCount(), 16);
  EXPECT_FALSE(d->D3DDeviceChoice.Hardware);
}

TEST_F(Direct3DSetupTest, DriverChoiceOnItsOwn) {
  TDXDraw* d = MakeDisplay(16, 16, With({}));
  d->Display()->SetBitCount(16);
  // No hardware device: nothing changes.
  ChooseDirect3DDriver({d3dSelectDriver, d3dAnyBitCount, d3dHardware}, d);
  EXPECT_EQ(d->Display()->BitCount(), 16);
  EXPECT_EQ(d->DriverGUID(), nullptr);
  // A hardware device of 24 and 32 bits: 24 is the first it renders.
  d3d::SetDevices({Hardware(1, DDBD_24 | DDBD_32)});
  ChooseDirect3DDriver({d3dHardware}, d);
  EXPECT_EQ(d->Display()->BitCount(), 16);  // the bit count may not change
  ChooseDirect3DDriver({d3dHardware, d3dAnyBitCount}, d);
  EXPECT_EQ(d->Display()->BitCount(), 24);
  // One that renders the wanted count keeps it.
  d->Display()->SetBitCount(32);
  ChooseDirect3DDriver({d3dSelectDriver, d3dHardware, d3dAnyBitCount}, d);
  EXPECT_EQ(d->Display()->BitCount(), 32);
  EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
  EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
}

TEST_F(Direct3DSetupTest, DriverRanking) {
  TD3DDriverQuality best;
  best.Caps.dwVidMemTotal = 8 << 20;
  best.Caps.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER;
  best.Device.dpcLineCaps.dwTextureCaps = D3DPTEXTURECAPS_POW2;
  best.Device.dpcLineCaps.dwSrcBlendCaps = D3DPBLENDCAPS_ONE;
  // Alike: the newer one is taken.
  EXPECT_TRUE(PreferDirect3DDriver(best, best));
  // Less video memory is never preferred, whatever else it has.
  TD3DDriverQuality rich = best;
  rich.Caps.dwVidMemTotal = 4 << 20;
  rich.Caps.ddsCaps.dwCaps |= DDSCAPS_MIPMAP;
  rich.Device.dpcLineCaps.dwTextureCaps = 0xFF;
  rich.Device.dpcLineCaps.dwRasterCaps = 0xFF;
  EXPECT_FALSE(PreferDirect3DDriver(rich, best));
  // More memory but fewer capabilities in two fields: -1 overall.
  TD3DDriverQuality big = best;
  big.Caps.dwVidMemTotal = 16 << 20;
  big.Device.dpcLineCaps.dwTextureCaps = 0;
  big.Device.dpcLineCaps.dwSrcBlendCaps = 0;
  EXPECT_FALSE(PreferDirect3DDriver(big, best));
  // ... and with one more surface kind it balances and is taken.
  big.Caps.ddsCaps.dwCaps |= DDSCAPS_MIPMAP;
  EXPECT_TRUE(PreferDirect3DDriver(big, best));
  EXPECT_FALSE(PreferDirect3DDriver(best, big));
}

}  // namespace
