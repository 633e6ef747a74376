// The pointer on the SDL backend: events pushed straight into SDL's queue leave SDL's own idea
// of the pointer where it was, as synthetic input on X11 does; what the program reads must
// follow the events all the same.
#include <vector>

#include "platform/forms/Windows.h"
#include "sdl/SdlAppTest.h"

namespace {

struct Seen {
  int x, y;          // the event's coordinates
  TPoint cursor;     // GetCursorPos while the event was handled
  TPoint client;     // ScreenToClient of that
  bool left, right;  // GetKeyState of the two buttons then
};

class SdlPointerTest : public SdlAppTest {
 protected:
  void SetUp() override {
    SdlAppTest::SetUp();
    if (IsSkipped()) return;
    Application->CreateForm(form);
    form->SetBounds(100, 50, 359, 603);
    form->OnMouseMove = [this](TObject*, TShiftState, int X, int Y) { Note(X, Y); };
    form->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int X, int Y) { Note(X, Y); };
    form->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int X, int Y) { Note(X, Y); };
    form->Show();
    Application->ProcessMessages();
  }
  void Note(int X, int Y) {
    Seen s{X, Y, {}, {}, GetKeyState(VK_LBUTTON) < 0, GetKeyState(VK_RBUTTON) < 0};
    GetCursorPos(s.cursor);
    s.client = s.cursor;
    ScreenToClient(form->Handle(), s.client);
    seen.push_back(s);
  }
  TForm* form = nullptr;
  std::vector<Seen> seen;
};

}  // namespace

TEST_F(SdlPointerTest, CursorButtonsAndClientPointAgreeWithEveryEvent) {
  const backend::WindowId w = form->Handle();
  struct Step {
    enum { Move, Down, Up } kind;
    int button, x, y;
    bool left, right;  // held afterwards
  };
  const Step steps[] = {
      {Step::Move, 0, 40, 60, false, false},  {Step::Down, 1, 40, 60, true, false},
      {Step::Move, 0, 80, 95, true, false},   {Step::Move, 0, 81, 300, true, false},
      {Step::Down, 3, 81, 300, true, true},   {Step::Up, 3, 81, 300, true, false},
      {Step::Move, 0, -20, 310, true, false},  // dragged past the edge: still ours
      {Step::Up, 1, -20, 310, false, false},  {Step::Move, 0, 5, 7, false, false},
  };
  std::uint32_t held = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.kind << " " << s.button << " at " << s.x << "," << s.y);
    if (s.kind == Step::Move) {
      PushMotion(w, s.x, s.y, held);
    } else {
      const std::uint32_t bit = SDL_BUTTON(s.button);
      held = s.kind == Step::Down ? held | bit : held & ~bit;
      PushButton(w, s.button, s.kind == Step::Down, s.x, s.y);
    }
    seen.clear();
    Application->ProcessMessages();
    ASSERT_EQ(seen.size(), 1u);
    const Seen& got = seen[0];
    const TPoint origin = form->ClientOrigin();
    EXPECT_EQ(got.cursor.X, origin.X + s.x);
    EXPECT_EQ(got.cursor.Y, origin.Y + s.y);
    EXPECT_EQ(got.client.X, s.x);
    EXPECT_EQ(got.client.Y, s.y);
    EXPECT_EQ(got.x, s.x);
    EXPECT_EQ(got.y, s.y);
    EXPECT_EQ(got.left, s.left);
    EXPECT_EQ(got.right, s.right);
    // And between events, in the frame that follows, the same.
    TPoint now;
    GetCursorPos(now);
    EXPECT_EQ(now.X, got.cursor.X);
    EXPECT_EQ((GetKeyState(VK_LBUTTON) < 0), s.left);
    // The backend's screen position is the window's place plus the event's point.
    int gx = 0, gy = 0, left = 0, top = 0, width = 0, height = 0;
    std::uint32_t buttons = 0;
    sdl->GlobalMouse(gx, gy, buttons);
    sdl->GetWindowBounds(w, left, top, width, height);
    EXPECT_EQ(gx, left + s.x);
    EXPECT_EQ(gy, top + s.y);
  }
}

TEST_F(SdlPointerTest, MotionForTheMouseDeviceIsTheEventsMotion) {
  const backend::WindowId w = form->Handle();
  PushMotion(w, 10, 10, 0);
  Application->ProcessMessages();
  sdl->ReadMouse();
  PushMotion(w, 14, 7, 0);
  PushMotion(w, 20, 12, 0);
  PushButton(w, 1, true, 20, 12);
  Application->ProcessMessages();
  const backend::MouseState m = sdl->ReadMouse();
  EXPECT_EQ(m.dx, 10);
  EXPECT_EQ(m.dy, 2);
  EXPECT_EQ(m.buttons, 1u);
  EXPECT_EQ(sdl->ReadMouse().dx, 0);
  // A release the window system hands to no window of ours still lets the button go.
  PushButton(0, 1, false, 0, 0);
  Application->ProcessMessages();
  EXPECT_EQ(sdl->PeekMouse().buttons, 0u);
  EXPECT_EQ(GetKeyState(VK_LBUTTON), 0);
}
