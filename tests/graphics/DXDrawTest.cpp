#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "framework/graphics/DXDraws.h"
#include "graphics/DisplayTestSupport.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/gdi/Colors.h"

using backend::HeadlessBackend;

namespace {

const char* KindName(TDXDrawNotifyKind k) {
  static const char* names[] = {"nkDestroying",        "nkInitializing",  "nkInitialize",
                                "nkInitializeSurface", "nkFinalize",      "nkFinalizeSurface",
                                "nkRestore",           "nkSetSurfaceSize"};
  return names[k];
}

using Log = std::vector<std::string>;

// A notify handler that writes what it hears into a shared log.
struct Recorder {
  Log* Into;
  std::string Name;
  std::function<void(TDXDrawNotifyKind)> Then;
  void Notify(TCustomDXDraw*, TDXDrawNotifyKind k) {
    Into->push_back(Name + KindName(k));
    if (Then) Then(k);
  }
  TDXDrawNotifyEvent Event() { return TDXDrawNotifyEvent::Of<&Recorder::Notify>(this); }
};

class DXDrawTest : public display_test::FreshDisplayTest {
 protected:
  // A shown form with a display of the given size at (left, top) of its client area; the
  // display initializes itself only when asked.
  TDXDraw* MakeDisplay(int w, int h, int clientW = 0, int clientH = 0, int left = 0, int top = 0) {
    Application->CreateForm(Form);
    Form->SetBounds(200, 100, 100, 100);
    Form->SetClientWidth(clientW ? clientW : w);
    Form->SetClientHeight(clientH ? clientH : h);
    auto* d = new TDXDraw(Form);
    d->AutoInitialize = false;
    d->SetParent(Form);
    d->SetBounds(left, top, w, h);
    Form->Show();
    Application->ProcessMessages();
    return d;
  }
  // Records the display's own events into the same log.
  static void RecordEvents(TCustomDXDraw* d, Log& log) {
    d->OnInitializing = [&log](TObject*) { log.push_back("DoInitializing"); };
    d->OnInitialize = [&log](TObject*) { log.push_back("DoInitialize"); };
    d->OnInitializeSurface = [&log](TObject*) { log.push_back("DoInitializeSurface"); };
    d->OnRestoreSurface = [&log](TObject*) { log.push_back("DoRestoreSurface"); };
    d->OnFinalizeSurface = [&log](TObject*) { log.push_back("DoFinalizeSurface"); };
    d->OnFinalize = [&log](TObject*) { log.push_back("DoFinalize"); };
  }
  // The presented client image of the form.
  const HeadlessBackend::Frame& Frame() {
    const auto* f = hb->LastFrame(static_cast<backend::WindowId>(Form->Handle()));
    EXPECT_NE(f, nullptr);
    static HeadlessBackend::Frame none;
    return f ? *f : none;
  }

  // Recorders outlive the display, which tells them of its end.
  Recorder& Rec(const std::string& name) { return Recorders.emplace_back(Recorder{&log, name}); }

  TForm* Form = nullptr;
  Log log;
  std::deque<Recorder> Recorders;
};

TDXDrawOptions Opts(std::uint64_t bits) { return TDXDrawOptions::FromBits(bits); }

TEST_F(DXDrawTest, OptionsInForceFollowTheRules) {
  TDXDraw* d = MakeDisplay(64, 64);
  EXPECT_EQ(d->Options(), Opts(0x368C));
  EXPECT_EQ(d->NowOptions,
            (TDXDrawOptions{doWaitVBlank, doCenter, do3D, doDirectX7Mode, doSelectDriver}));
  d->SetOptions(
      {doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver});
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doWaitVBlank, doCenter}));
  d->SetOptions({doFlip});
  EXPECT_TRUE(d->NowOptions.Empty());
  d->SetOptions({doFullScreen, doSystemMemory, doFlip});
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doFullScreen, doSystemMemory}));
  d->SetOptions({do3D, doRetainedMode, doDirectX7Mode});
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{do3D, doDirectX7Mode}));

  // While initialized only the flip's options change.
  d->SetOptions({doWaitVBlank, doCenter});
  d->Initialize();
  d->SetOptions({doStretch, doFullScreen, doFlip});
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doStretch}));
  EXPECT_EQ(d->Options(), (TDXDrawOptions{doStretch, doFullScreen, doFlip}));
}

TEST_F(DXDrawTest, WholeLifeInOrder) {
  TDXDraw* d = MakeDisplay(64, 48);
  d->SetOptions({doWaitVBlank, doCenter});
  RecordEvents(d, log);
  Recorder& r = Rec("");
  d->AddNotifyHandler(r.Event());
  EXPECT_EQ(log, Log{"nkSetSurfaceSize"});
  log.clear();
  d->Initialize();
  EXPECT_EQ(log, (Log{"DoInitializing", "nkInitializing", "nkSetSurfaceSize", "nkInitialize",
                      "DoInitialize", "nkInitializeSurface", "DoInitializeSurface", "nkRestore",
                      "DoRestoreSurface"}));
  EXPECT_TRUE(d->Initialized());
  EXPECT_TRUE(d->CanDraw());
  EXPECT_NE(CurrentD2D, nullptr);
  EXPECT_EQ(CurrentD2D, d->D2D);
  EXPECT_FALSE(d->D2D->IsActive());
  log.clear();
  d->Finalize();
  EXPECT_EQ(log, (Log{"DoFinalizeSurface", "nkFinalizeSurface", "DoFinalize", "nkFinalize"}));
  EXPECT_FALSE(d->CanDraw());
  EXPECT_EQ(d->DDraw, nullptr);
  EXPECT_EQ(d->Surface, nullptr);
  EXPECT_EQ(CurrentD2D, nullptr);
  // Initialize again finalizes nothing new, and the stored size survived.
  d->Initialize();
  EXPECT_EQ(d->SurfaceWidth(), 64);
  log.clear();
  delete d;
  EXPECT_EQ(log, (Log{"DoFinalizeSurface", "nkFinalizeSurface", "DoFinalize", "nkFinalize",
                      "nkDestroying"}));
}

TEST_F(DXDrawTest, HandlersHearTheCurrentStateWhenTheyAttach) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  d->Initialize();
  Recorder& late = Rec("");
  d->AddNotifyHandler(late.Event());
  EXPECT_EQ(log, (Log{"nkSetSurfaceSize", "nkInitialize", "nkInitializeSurface", "nkRestore"}));
  // The same handler again: one registration, told it was removed, then the replay.
  log.clear();
  d->AddNotifyHandler(late.Event());
  EXPECT_EQ(log, (Log{"nkFinalizeSurface", "nkFinalize", "nkSetSurfaceSize", "nkInitialize",
                      "nkInitializeSurface", "nkRestore"}));
  log.clear();
  d->Notify(nkRestore);
  EXPECT_EQ(log, Log{"nkRestore"});
  // Removing an unknown handler does nothing.
  Recorder& other = Rec("x");
  log.clear();
  d->RemoveNotifyHandler(other.Event());
  EXPECT_TRUE(log.empty());
}

TEST_F(DXDrawTest, AHandlerAttachedDuringInitializeGetsOneRestore) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  Recorder& inner = Rec("inner:");
  d->OnInitialize = [&](TObject*) { d->AddNotifyHandler(inner.Event()); };
  d->Initialize();
  EXPECT_EQ(log, (Log{"inner:nkSetSurfaceSize", "inner:nkInitialize", "inner:nkInitializeSurface",
                      "inner:nkRestore"}));
}

TEST_F(DXDrawTest, BroadcastsGoLastRegisteredFirstAndSurviveRemovals) {
  TDXDraw* d = MakeDisplay(32, 32);
  Recorder& a = Rec("a:");
  Recorder& b = Rec("b:");
  Recorder& c = Rec("c:");
  d->AddNotifyHandler(a.Event());
  d->AddNotifyHandler(b.Event());
  d->AddNotifyHandler(c.Event());
  log.clear();
  d->Notify(nkSetSurfaceSize);
  EXPECT_EQ(log, (Log{"c:nkSetSurfaceSize", "b:nkSetSurfaceSize", "a:nkSetSurfaceSize"}));
  // c takes itself and a out while it is called: b is still called, a no longer.
  bool once = true;
  c.Then = [&](TDXDrawNotifyKind) {
    if (!once) return;
    once = false;
    d->RemoveNotifyHandler(c.Event());
    d->RemoveNotifyHandler(a.Event());
  };
  log.clear();
  d->Notify(nkRestore);
  EXPECT_EQ(log, (Log{"c:nkRestore", "b:nkRestore"}));
  log.clear();
  d->Notify(nkRestore);
  EXPECT_EQ(log, Log{"b:nkRestore"});
}

TEST_F(DXDrawTest, CanDrawAndFlipOnlyWhileInitialized) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  EXPECT_FALSE(d->CanDraw());
  SkipNextFlip = true;
  d->Flip();
  EXPECT_FALSE(SkipNextFlip);
  bool during = true;
  d->OnInitializing = [&](TObject*) { during = d->CanDraw(); };
  d->Initialize();
  EXPECT_FALSE(during);
  ASSERT_TRUE(d->CanDraw());
  const auto w = static_cast<backend::WindowId>(Form->Handle());
  const auto presents = hb->PresentCount(w);
  SkipNextFlip = true;
  d->Flip();
  EXPECT_EQ(hb->PresentCount(w), presents);
  EXPECT_FALSE(SkipNextFlip);
  d->Flip();
  EXPECT_GT(hb->PresentCount(w), presents);

  // Initialize refreshes the drawer's render target before the new drawer exists: no flip is
  // skipped for it.
  d->Finalize();
  SkipNextFlip = true;
  d->Initialize();
  EXPECT_FALSE(SkipNextFlip);
  // A display left without a drawing surface cannot draw, and a flip shows nothing rather
  // than failing.
  d->Surface->SetIDDSurface(nullptr);
  EXPECT_FALSE(d->CanDraw());
  EXPECT_FALSE(d->CheckSurfaces());
  EXPECT_NO_THROW(d->Flip());
}

TEST_F(DXDrawTest, WindowedFlipCentresTheSurfaceInTheControl) {
  TDXDraw* d = MakeDisplay(640, 480, 700, 520, 30, 20);
  d->SetAutoSize(false);
  d->SetSurfaceWidth(512);
  d->SetSurfaceHeight(448);
  d->SetOptions({doWaitVBlank, doCenter});
  d->Initialize();
  ASSERT_EQ(d->Surface->Width(), 512);
  d->Surface->Fill(d->Surface->MatchColor(clRed));
  const auto vblanks = hb->VerticalBlankCount();
  d->Flip();
  EXPECT_EQ(hb->VerticalBlankCount(), vblanks + 1);
  const auto& f = Frame();
  // (64, 16) inside the control, which lies at (30, 20) of the form.
  EXPECT_EQ(f.Pixel(30 + 64, 20 + 16), 0xFF0000u);
  EXPECT_EQ(f.Pixel(30 + 64 + 511, 20 + 16 + 447), 0xFF0000u);
  EXPECT_EQ(f.Pixel(30 + 63, 20 + 16), 0u);
  EXPECT_EQ(f.Pixel(30 + 64, 20 + 15), 0u);
  EXPECT_EQ(f.Pixel(30 + 64 + 512, 20 + 16), 0u);

  // A control smaller than the surface: a negative offset, cut to the control.
  d->Finalize();
  d->SetBounds(30, 20, 400, 300);
  d->Initialize();
  for (int y = 0; y < 448; ++y) d->Surface->SetPixels(56, y, 0x00FF00);
  d->Flip();
  const auto& g = Frame();
  EXPECT_EQ(g.Pixel(30, 20), 0x00FF00u);
  EXPECT_EQ(g.Pixel(30, 20 + 299), 0x00FF00u);
  EXPECT_EQ(g.Pixel(31, 20), 0u);
  // Beyond the control the form's own background shows, not the surface.
  EXPECT_NE(g.Pixel(30 + 400, 20), 0x00FF00u);
  EXPECT_NE(g.Pixel(29, 20), 0x00FF00u);
}

TEST_F(DXDrawTest, FilledTextAndFlipReachTheWindow) {
  TDXDraw* d = MakeDisplay(160, 60);
  d->SetOptions({doCenter});
  d->Initialize();
  ASSERT_TRUE(d->CanDraw());
  d->Surface->Fill(d->Surface->MatchColor(clNavy));
  TCanvas* c = d->Surface->Canvas();
  c->Brush()->SetStyle(bsClear);
  c->Font()->SetColor(clYellow);
  c->Font()->SetSize(20);
  c->TextOut(10, 10, "Go!");
  d->Surface->Canvas()->Release();
  d->Flip();
  const auto& f = Frame();
  EXPECT_EQ(f.Pixel(150, 50), 0x000080u);
  int yellow = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 160; ++x) yellow += f.Pixel(x, y) == 0xFFFF00u;
  EXPECT_GT(yellow, 40);
}

TEST_F(DXDrawTest, LostSurfacesAreRestoredAndHandlersRedraw) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  RecordEvents(d, log);
  Recorder& r = Rec("");
  d->AddNotifyHandler(r.Event());
  d->Initialize();
  d->Surface->Fill(0x123456);
  ddraw::MarkSurfacesLost(d->DDraw->IDDraw());
  log.clear();
  EXPECT_TRUE(d->CanDraw());
  EXPECT_EQ(log, (Log{"nkRestore", "DoRestoreSurface"}));
  // The restored surface was cleared, junk and all.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_EQ(d->Surface->Pixels(x, y), 0u);
  // Flip checks too.
  ddraw::MarkSurfacesLost(d->DDraw->IDDraw());
  log.clear();
  d->Flip();
  EXPECT_EQ(log, (Log{"nkRestore", "DoRestoreSurface"}));
}

TEST_F(DXDrawTest, AHandlerThatFailsInRestoreDoesNotLeaveTheDisplayUpdating) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  d->Initialize();
  Recorder& bad = Rec("");
  bool fail = true;
  bad.Then = [&](TDXDrawNotifyKind k) {
    if (k == nkRestore && fail) throw EDirectDrawSurfaceError("Surface cannot be made");
  };
  fail = false;
  d->AddNotifyHandler(bad.Event());
  fail = true;
  ddraw::MarkSurfacesLost(d->DDraw->IDDraw());
  EXPECT_THROW(d->CanDraw(), EDirectDrawSurfaceError);
  EXPECT_FALSE(d->Updating());
  fail = false;
  EXPECT_TRUE(d->CanDraw());
}

TEST_F(DXDrawTest, InitializeFailuresLeaveTheDisplayFinalized) {
  // No form: nothing is made.
  auto* alone = new TDXDraw(nullptr);
  try {
    alone->Initialize();
    FAIL();
  } catch (const EDXDrawError& e) {
    EXPECT_EQ(e.Message, "Form not found");
  }
  EXPECT_EQ(alone->DDraw, nullptr);
  delete alone;

  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doCenter});
  d->AutoInitialize = true;
  RecordEvents(d, log);
  ddraw::SetMemoryBudgets(0, 0);  // no drawing surface anywhere
  try {
    d->Initialize();
    FAIL();
  } catch (const EDXDrawError& e) {
    EXPECT_EQ(e.Message, "Surface cannot be made");
  }
  EXPECT_TRUE(d->InitializeCalled());
  EXPECT_FALSE(d->Initialized());
  EXPECT_EQ(d->DDraw, nullptr);
  EXPECT_EQ(log, (Log{"DoInitializing"}));
  // The form's next show does not try again on its own.
  Form->Hide();
  Form->Show();
  Application->ProcessMessages();
  EXPECT_FALSE(d->Initialized());
}

TEST_F(DXDrawTest, SurfaceSizeFollowsTheControlOrTheStoredValues) {
  TDXDraw* d = MakeDisplay(50, 40);
  d->SetOptions({doCenter});
  d->SetAutoSize(false);
  d->SetSurfaceWidth(0);
  EXPECT_EQ(d->SurfaceWidth(), 0);
  d->Initialize();
  EXPECT_EQ(d->Surface->Width(), 1);  // at least one pixel
  d->Finalize();
  d->SetAutoSize(true);
  EXPECT_EQ(d->SurfaceWidth(), 50);

  RecordEvents(d, log);
  Recorder& r = Rec("");
  d->AddNotifyHandler(r.Event());
  d->Initialize();
  log.clear();
  d->SetBounds(0, 0, 70, 30);  // resized while initialized: only the drawing surface is remade
  EXPECT_EQ(log, (Log{"nkFinalizeSurface", "DoFinalizeSurface", "nkInitializeSurface",
                      "DoInitializeSurface", "nkSetSurfaceSize"}));
  EXPECT_EQ(d->Surface->Width(), 70);
  EXPECT_EQ(d->Surface->Height(), 30);
  EXPECT_TRUE(d->CanDraw());
}

TEST_F(DXDrawTest, ShowingTheFormInitializesAndDraggingItCyclesTheDisplay) {
  Application->CreateForm(Form);
  Form->SetClientWidth(64);
  Form->SetClientHeight(64);
  auto* d = new TDXDraw(Form);
  d->SetParent(Form);
  d->SetBounds(0, 0, 64, 64);
  d->SetOptions({doWaitVBlank, doCenter});
  RecordEvents(d, log);
  Form->Show();
  Application->ProcessMessages();
  ASSERT_TRUE(d->Initialized());
  log.clear();
  int idles = 0;
  Application->OnIdle = [&](TObject*, bool& Done) {
    ++idles;
    Done = false;
  };
  hb->BeginMoveSize(static_cast<backend::WindowId>(Form->Handle()));
  Application->RunUntil([&] { return !d->Initialized(); }, 50);
  EXPECT_FALSE(d->Initialized());
  const int idlesDuringDrag = idles;
  Application->RunUntil([] { return false; }, 20);
  EXPECT_EQ(idles, idlesDuringDrag);  // the idle event waits for the drag to end
  hb->EndMoveSize(static_cast<backend::WindowId>(Form->Handle()));
  Application->RunUntil([&] { return d->Initialized(); }, 50);
  EXPECT_TRUE(d->Initialized());
  EXPECT_EQ(log, (Log{"DoFinalizeSurface", "DoFinalize", "DoInitializing", "DoInitialize",
                      "DoInitializeSurface", "DoRestoreSurface"}));
  // Closing the form finalizes the display before the components go.
  log.clear();
  Form->Free();
  Form = nullptr;
  EXPECT_EQ(log, (Log{"DoFinalizeSurface", "DoFinalize"}));
}

TEST_F(DXDrawTest, PaintFlipsAndInvalidatesTheForm) {
  TDXDraw* d = MakeDisplay(32, 32);
  d->SetOptions({doWaitVBlank, doCenter});
  d->Initialize();
  Application->ProcessMessages();
  d->Surface->Fill(0x00FFFF);
  const auto vblanks = hb->VerticalBlankCount();
  d->Repaint();
  EXPECT_EQ(hb->VerticalBlankCount(), vblanks);  // no wait for a repaint
  EXPECT_TRUE(d->NowOptions.Contains(doWaitVBlank));
  EXPECT_EQ(Frame().Pixel(5, 5), 0x00FFFFu);
  EXPECT_TRUE(Form->PaintPending());
  // The form's repaint leaves the display's picture alone and does not ask it again.
  Application->ProcessMessages();
  EXPECT_FALSE(d->PaintPending());
  EXPECT_EQ(Frame().Pixel(5, 5), 0x00FFFFu);
}

TEST_F(DXDrawTest, FullScreenTakesTheNearestDisplayMode) {
  ddraw::SetDisplayModes({{640, 480, 16}, {800, 600, 16}, {800, 600, 32}, {1024, 768, 32}});
  TDXDraw* d = MakeDisplay(64, 64);
  d->SetOptions({doFullScreen, doCenter});
  d->Display()->SetWidth(800);
  d->Display()->SetHeight(600);
  d->Display()->SetBitCount(24);
  d->Initialize();
  EXPECT_EQ(d->Display()->BitCount(), 32);
  EXPECT_EQ(d->Display()->Width(), 800);
  ASSERT_EQ(d->Display()->Count(), 4);
  EXPECT_EQ(d->Display()->Modes(3)->Width(), 1024);
  EXPECT_EQ(d->Display()->IndexOf(800, 600, 16), 1);
  d->Finalize();

  d->Display()->SetBitCount(24);
  d->Display()->FixedBitCount = true;
  try {
    d->Initialize();
    FAIL();
  } catch (const EDXDrawError& e) {
    EXPECT_EQ(e.Message, "Display mode cannot be changed (800x600 24bit)");
  }
  EXPECT_THROW(d->Display()->SetBitCount(15), EDirectDrawError);
}

TEST_F(DXDrawTest, DisplayModeRulesForBitCounts) {
  ddraw::SetDisplayModes({{640, 480, 8}, {640, 480, 16}, {800, 600, 32}});
  TDXDraw* d = MakeDisplay(64, 64);
  d->SetOptions({doFullScreen, doCenter});
  d->Display()->FixedSize = false;
  d->Display()->SetWidth(600);
  d->Display()->SetHeight(400);
  // 8 bits wanted: any mode of 8 bits or more fits; the first fitting size wins, at the
  // wanted bit count when it has one.
  d->Display()->SetBitCount(8);
  d->Display()->FixedRatio = false;
  d->Initialize();
  EXPECT_EQ(d->Display()->Width(), 640);
  EXPECT_EQ(d->Display()->BitCount(), 8);
  d->Finalize();
  // 16 bits wanted: an 8-bit mode never fits; the highest fitting bit count at that size.
  d->Display()->SetBitCount(24);
  d->Initialize();
  EXPECT_EQ(d->Display()->Width(), 640);
  EXPECT_EQ(d->Display()->BitCount(), 16);
}

// With FixedRatio a larger mode of the wanted shape beats a nearer one of another shape;
// without it the first size that holds the picture wins.
TEST_F(DXDrawTest, NearestDisplayModeKeepsTheShapeWhenAsked) {
  ddraw::SetDisplayModes({{1280, 1024, 16}, {1024, 768, 16}, {1024, 640, 16}, {1280, 960, 16}});
  TDXDraw* d = MakeDisplay(64, 64);
  d->SetOptions({doFullScreen, doCenter});
  d->Display()->FixedSize = false;
  d->Display()->SetWidth(800);
  d->Display()->SetHeight(600);
  d->Display()->SetBitCount(16);
  d->Initialize();
  EXPECT_EQ(d->Display()->Width(), 1024);
  EXPECT_EQ(d->Display()->Height(), 768);
  ASSERT_EQ(d->Display()->Count(), 4);
  EXPECT_EQ(d->Display()->Modes(0)->Height(), 640);  // sorted by width, then height
  EXPECT_EQ(d->Display()->Modes(3)->Height(), 1024);
  d->Finalize();

  d->Display()->SetWidth(800);
  d->Display()->SetHeight(600);
  d->Display()->FixedRatio = false;
  d->Initialize();
  EXPECT_EQ(d->Display()->Width(), 1024);
  EXPECT_EQ(d->Display()->Height(), 640);
  d->Finalize();

  // No mode of the shape at all: the ratio search gives way to the plain one.
  d->Display()->SetWidth(1000);
  d->Display()->SetHeight(700);
  d->Display()->FixedRatio = true;
  d->Initialize();
  EXPECT_EQ(d->Display()->Width(), 1024);
  EXPECT_EQ(d->Display()->Height(), 768);
}

TEST_F(DXDrawTest, FlipDriverPageFlipsTheBackBuffer) {
  TDXDraw* d = MakeDisplay(64, 64);
  d->SetOptions({doFullScreen, doFlip});
  d->Display()->SetBitCount(32);
  d->Initialize();
  ASSERT_NE(d->Surface, nullptr);
  ASSERT_NE(d->Surface->IDDSurface(), nullptr);
  EXPECT_TRUE(d->Surface->SurfaceDesc().ddsCaps.dwCaps & DDSCAPS_BACKBUFFER);
  // The full-screen surface follows the display mode, not the control.
  d->SetBounds(0, 0, 32, 32);
  EXPECT_EQ(d->Surface->Width(), 640);
  ASSERT_TRUE(d->CanDraw());
  // Page flips show only while the form is the active one.
  hb->SetFocus(static_cast<backend::WindowId>(Form->Handle()));
  Application->ProcessMessages();
  ASSERT_TRUE(Form->Active());
  ASSERT_TRUE(d->Surface->Fill(0xFF00FF));
  d->Flip();
  EXPECT_EQ(d->Primary->Pixels(0, 0), 0xFF00FFu);
  EXPECT_EQ(d->Surface->Pixels(0, 0), 0u);  // the old front is the back buffer now
  EXPECT_EQ(Frame().Pixel(1, 1), 0xFF00FFu);
}

}  // namespace

// A form read from stored data, as the programs' windows are.
class TDXDrawTestForm : public TForm {
 public:
  explicit TDXDrawTestForm(TComponent* AOwner) : TForm(AOwner) {
    RegisterField("DXDraw1", DXDraw1);
  }
  TDXDraw* DXDraw1 = nullptr;
};

namespace {

TEST_F(DXDrawTest, StoredDisplaysLoadAsTheProgramsKeepThem) {
  // As the game keeps it: initialized by the program, a fixed 512 x 448 surface.
  RegisterFormResource("TDXDrawTestForm", R"(object DXDrawTestForm: TDXDrawTestForm
  ClientHeight = 448
  ClientWidth = 512
  object DXDraw1: TDXDraw
    Left = 0
    Top = 0
    Width = 640
    Height = 480
    AutoInitialize = False
    AutoSize = False
    Display.FixedBitCount = True
    Display.FixedSize = False
    Options = [doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doHardware, doSelectDriver]
    SurfaceHeight = 448
    SurfaceWidth = 512
  end
end
)");
  TDXDrawTestForm* f = nullptr;
  Application->CreateForm(f);
  TDXDraw* d = f->DXDraw1;
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(d->AutoInitialize);
  EXPECT_FALSE(d->AutoSize());
  EXPECT_EQ(d->SurfaceWidth(), 512);
  EXPECT_EQ(d->SurfaceHeight(), 448);
  EXPECT_TRUE(d->Display()->FixedBitCount);
  EXPECT_FALSE(d->Display()->FixedSize);
  EXPECT_EQ(d->NowOptions, (TDXDrawOptions{doWaitVBlank, doCenter}));
  f->Show();
  Application->ProcessMessages();
  EXPECT_FALSE(d->Initialized());
  d->Initialize();
  EXPECT_EQ(d->Surface->Width(), 512);
  EXPECT_EQ(d->Surface->Height(), 448);
  // Written back, the display keeps what was stored; Options always.
  const std::string text = WriteStoredForm(f);
  EXPECT_NE(text.find("Options = [doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, "
                      "doHardware, doSelectDriver]"),
            std::string::npos);
  EXPECT_NE(text.find("SurfaceWidth = 512"), std::string::npos);
  EXPECT_NE(text.find("AutoSize = False"), std::string::npos);
  f->Free();

  // As the editor keeps it: it initializes itself on the form's first show, sized by the
  // control.
  RegisterFormResource("TDXDrawTestForm", R"(object DXDrawTestForm: TDXDrawTestForm
  ClientHeight = 569
  ClientWidth = 300
  object DXDraw1: TDXDraw
    Left = 0
    Top = 0
    Width = 100
    Height = 569
    Options = [doAllowReboot, doWaitVBlank, doCenter, doDirectX7Mode, doSelectDriver]
    SurfaceHeight = 569
    SurfaceWidth = 100
  end
end
)");
  Application->CreateForm(f);
  d = f->DXDraw1;
  EXPECT_TRUE(d->AutoInitialize);
  EXPECT_FALSE(d->Initialized());
  f->Show();
  Application->ProcessMessages();
  ASSERT_TRUE(d->Initialized());
  EXPECT_EQ(d->Surface->Width(), 100);
  EXPECT_EQ(d->Surface->Height(), 569);
  EXPECT_TRUE(d->CanDraw());
}

}  // namespace
