#include <gtest/gtest.h>

#include <string>

#include "framework/graphics/DXDraws.h"
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

class Direct3DSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hb = &HeadlessBackend::InstallFresh();
    ddraw::ResetMachine();
    d3d::ResetMachine();
    Application->OnIdle = nullptr;
    Application->ResetTerminated();
  }
  void TearDown() override {
    Application->DestroyComponents();
    Application->ProcessMessages();
    EXPECT_EQ(d3d::LiveDeviceCount(), 0);
    EXPECT_EQ(d3d::LiveDirect3DCount(), 0);
    EXPECT_EQ(ddraw::LiveSurfaceCount(), 0);
    EXPECT_EQ(ddraw::LiveDirectDrawCount(), 0);
    EXPECT_EQ(CurrentD2D, nullptr);
    SkipNextFlip = false;
    ddraw::ResetMachine();
    d3d::ResetMachine();
  }

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

  HeadlessBackend* hb = nullptr;
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
  // Its drawing calls draw nothing yet.
  TRect r = Rect(0, 0, 4, 4);
  EXPECT_FALSE(d->D2D->Draw(r, d->Surface, false));

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

}  // namespace
