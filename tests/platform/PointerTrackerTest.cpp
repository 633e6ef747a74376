// The one rule both backends keep the pointer by: what the mouse events of our windows said.
#include <gtest/gtest.h>

#include "platform/backend/HeadlessBackend.h"
#include "platform/backend/PointerTracker.h"

using backend::Event;
using backend::EventType;
using backend::PointerTracker;

namespace {

Event Mouse(EventType type, backend::WindowId w, int x, int y, int button = 0) {
  Event e;
  e.type = type;
  e.window = w;
  e.x = x;
  e.y = y;
  e.button = button;
  return e;
}

}  // namespace

TEST(PointerTracker, ButtonsMapToTheirBitsAndOnlyThoseAreKept) {
  struct Case {
    int button;
    std::uint32_t bit;
  };
  const Case cases[] = {{1, 1u}, {2, 4u}, {3, 2u}, {4, 0u}, {5, 0u}, {0, 0u}, {-1, 0u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    EXPECT_EQ(PointerTracker::ButtonBit(c.button), c.bit);
    PointerTracker t;
    t.Apply(Mouse(EventType::MouseDown, 7, 0, 0, c.button));
    EXPECT_EQ(t.Peek().buttons, c.bit);
    t.Apply(Mouse(EventType::MouseUp, 7, 0, 0, c.button));
    EXPECT_EQ(t.Peek().buttons, 0u);
  }
  // Left and right held together, then let go one by one.
  PointerTracker t;
  t.Apply(Mouse(EventType::MouseDown, 7, 0, 0, 1));
  t.Apply(Mouse(EventType::MouseDown, 7, 0, 0, 3));
  EXPECT_EQ(t.Peek().buttons, 3u);
  t.Apply(Mouse(EventType::MouseUp, 7, 0, 0, 3));
  EXPECT_EQ(t.Peek().buttons, 1u);
}

TEST(PointerTracker, PositionAndMotionFollowMovesAndButtonsWithinOneWindow) {
  PointerTracker t;
  t.Apply(Mouse(EventType::MouseMove, 7, 10, 20));
  EXPECT_EQ(t.Peek().window, 7u);
  EXPECT_EQ(t.Peek().dx, 0);  // the first sighting is no motion
  t.Apply(Mouse(EventType::MouseMove, 7, 15, 18));
  // A press where no motion was reported still says where the pointer is.
  t.Apply(Mouse(EventType::MouseDown, 7, 30, 40, 1));
  backend::MouseState m = t.Take();
  EXPECT_EQ(m.x, 30);
  EXPECT_EQ(m.y, 40);
  EXPECT_EQ(m.dx, 20);
  EXPECT_EQ(m.dy, 20);
  EXPECT_EQ(m.buttons, 1u);
  // Taking starts the motion afresh but keeps the position and the buttons.
  m = t.Take();
  EXPECT_EQ(m.dx, 0);
  EXPECT_EQ(m.dy, 0);
  EXPECT_EQ(m.x, 30);
  EXPECT_EQ(m.buttons, 1u);
  // Into another window: the coordinates are that window's, and no motion is made up.
  t.Apply(Mouse(EventType::MouseMove, 8, 2, 3));
  m = t.Take();
  EXPECT_EQ(m.window, 8u);
  EXPECT_EQ(m.x, 2);
  EXPECT_EQ(m.dx, 0);
  // The wheel adds up until taken; other events change nothing.
  Event wheel;
  wheel.type = EventType::MouseWheel;
  wheel.y = 1;
  t.Apply(wheel);
  t.Apply(wheel);
  Event key;
  key.type = EventType::KeyDown;
  key.x = 99;
  t.Apply(key);
  m = t.Take();
  EXPECT_EQ(m.wheel, 2);
  EXPECT_EQ(m.x, 2);
  EXPECT_EQ(t.Peek().wheel, 0);
}

TEST(PointerTracker, OtherWindowsOnlyReleaseAndAVanishedWindowLeavesNoPlace) {
  PointerTracker t;
  t.Apply(Mouse(EventType::MouseMove, 7, 10, 20));
  t.Apply(Mouse(EventType::MouseDown, 7, 10, 20, 1));
  // Not ours: neither a move nor a press counts...
  t.Apply(Mouse(EventType::MouseMove, 0, 500, 500), false);
  t.Apply(Mouse(EventType::MouseDown, 0, 500, 500, 3), false);
  EXPECT_EQ(t.Peek().x, 10);
  EXPECT_EQ(t.Peek().window, 7u);
  EXPECT_EQ(t.Peek().buttons, 1u);
  // ...but a release does, wherever it lands, or the button would stay down for ever.
  t.Apply(Mouse(EventType::MouseUp, 0, 500, 500, 1), false);
  EXPECT_EQ(t.Peek().buttons, 0u);
  // A window that goes away takes the pointer's place with it; another one's does not.
  t.Apply(Mouse(EventType::MouseDown, 7, 10, 20, 1));
  t.WindowGone(9);
  EXPECT_EQ(t.Peek().window, 7u);
  t.WindowGone(7);
  EXPECT_EQ(t.Peek().window, 0u);
  EXPECT_EQ(t.Peek().buttons, 1u);  // still held: the release will come
  t.Apply(Mouse(EventType::MouseMove, 7, 12, 20));
  EXPECT_EQ(t.Peek().dx, 0);  // no motion from a place that is gone
}

// The screen position is the pointer's window's client position plus the client coordinates,
// and follows the window when it moves without any event of the pointer.
TEST(PointerTracker, GlobalPositionAddsTheWindowsPlace) {
  auto& hb = backend::HeadlessBackend::InstallFresh();
  backend::WindowDesc d;
  d.left = 100;
  d.top = 50;
  const auto w = hb.CreateWindow(d);
  hb.MoveMouse(w, 10, 20);
  hb.PressMouse(w, 1);
  int x = 0, y = 0;
  std::uint32_t buttons = 0;
  hb.GlobalMouse(x, y, buttons);
  EXPECT_EQ(x, 110);
  EXPECT_EQ(y, 70);
  EXPECT_EQ(buttons, 1u);
  hb.SetWindowBounds(w, 300, 200, 640, 480);
  hb.GlobalMouse(x, y, buttons);
  EXPECT_EQ(x, 310);
  EXPECT_EQ(y, 220);
  hb.DestroyWindow(w);
  hb.GlobalMouse(x, y, buttons);
  EXPECT_EQ(x, 10);  // over nothing of ours: the client coordinates alone
  EXPECT_EQ(buttons, 1u);
}
