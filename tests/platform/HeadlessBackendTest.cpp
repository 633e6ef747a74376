#include <gtest/gtest.h>

#include "platform/backend/HeadlessBackend.h"
#include "platform/rtl/SysUtils.h"
#include "platform/timer/MMSystem.h"

using backend::Event;
using backend::EventType;
using backend::HeadlessBackend;

namespace {

// A render function that writes a running frame counter into both channels, so every frame's
// place in the stream can be checked.
struct Counter {
  int next = 0;
  void operator()(std::int16_t* out, int frames) {
    for (int i = 0; i < frames; ++i) {
      out[2 * i] = static_cast<std::int16_t>(next);
      out[2 * i + 1] = static_cast<std::int16_t>(-next);
      ++next;
    }
  }
};

}  // namespace

TEST(HeadlessClock, MovesOnlyWhenToldAndWraps) {
  auto& hb = HeadlessBackend::InstallFresh(0xFFFFFFF0u);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);  // reading does not move it
  Sleep(10);
  EXPECT_EQ(timeGetTime(), 0xFFFFFFFAu);
  hb.Advance(10);
  EXPECT_EQ(timeGetTime(), 4u);  // past 2^32 the count starts again
  // The difference across the wrap is still right in unsigned arithmetic.
  EXPECT_EQ(static_cast<DWORD>(timeGetTime() - 0xFFFFFFF0u), 20u);
  EXPECT_EQ(hb.Elapsed(), 20u);
}

TEST(HeadlessClock, TimePeriodsAreBalanced) {
  const int before = ActiveTimePeriods();
  EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
  EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(ActiveTimePeriods(), before + 1);
  EXPECT_EQ(timeEndPeriod(2), TIMERR_NOCANDO);  // never begun
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
  EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO);
  EXPECT_EQ(ActiveTimePeriods(), before);
}

TEST(HeadlessAudio, RendersExactlyWithTheClock) {
  auto& hb = HeadlessBackend::InstallFresh(1000);
  hb.Advance(5);  // time before the device opens renders nothing
  auto dev = hb.OpenAudio(Counter{});
  EXPECT_EQ(dev->Rate(), 44100);
  hb.Advance(1);
  EXPECT_EQ(dev->FramesPlayed(), 44u);  // 44.1 frames a millisecond, floored
  hb.Advance(9);
  EXPECT_EQ(dev->FramesPlayed(), 441u);  // exact on 10 ms
  for (int i = 0; i < 990; ++i) hb.Sleep(1);
  EXPECT_EQ(dev->FramesPlayed(), 44100u);  // a second is a second, whatever the steps
  const auto& pcm = hb.CapturedAudio();
  ASSERT_EQ(pcm.size(), 2u * 44100u);
  for (int i = 0; i < 44100; i += 997) {
    EXPECT_EQ(pcm[2 * i], static_cast<std::int16_t>(i));
    EXPECT_EQ(pcm[2 * i + 1], static_cast<std::int16_t>(-i));
  }
  auto taken = hb.TakeAudio();
  EXPECT_EQ(taken.size(), 2u * 44100u);
  EXPECT_TRUE(hb.CapturedAudio().empty());
  // Far past a minute in one step: still exact, rendered in pieces.
  hb.Advance(61000);
  EXPECT_EQ(dev->FramesPlayed(), 44100u * 62u);
  EXPECT_EQ(hb.CapturedAudio().size(), 2u * 44100u * 61u);
}

TEST(HeadlessAudio, OneDeviceAtATime) {
  auto& hb = HeadlessBackend::InstallFresh();
  auto dev = hb.OpenAudio(Counter{});
  EXPECT_TRUE(hb.AudioOpen());
  EXPECT_THROW(hb.OpenAudio(Counter{}), Exception);
  dev.reset();
  EXPECT_FALSE(hb.AudioOpen());
  hb.Advance(10);  // a closed device renders nothing
  EXPECT_TRUE(hb.CapturedAudio().empty());
  auto again = hb.OpenAudio(Counter{});
  hb.Advance(2);
  EXPECT_EQ(again->FramesPlayed(), 88u);  // counted from its own opening
  hb.SetAudioCapture(false);
  hb.Advance(2);
  EXPECT_EQ(again->FramesPlayed(), 176u);
  EXPECT_EQ(hb.CapturedAudio().size(), 2u * 88u);
}

TEST(HeadlessEvents, WaitingMovesTheClockToWhatComes) {
  auto& hb = HeadlessBackend::InstallFresh(100);
  Event e;
  EXPECT_FALSE(hb.WaitEvent(e, -1));  // nothing can come: no wait, no time passes
  EXPECT_EQ(hb.Milliseconds(), 100u);
  EXPECT_FALSE(hb.WaitEvent(e, 15));
  EXPECT_EQ(hb.Milliseconds(), 115u);

  Event quit;
  quit.type = EventType::Quit;
  hb.ScheduleEvent(50, quit);
  EXPECT_FALSE(hb.PollEvent(e));
  EXPECT_FALSE(hb.WaitEvent(e, 20));  // not due yet
  EXPECT_EQ(hb.Milliseconds(), 135u);
  ASSERT_TRUE(hb.WaitEvent(e, -1));  // jumps to it
  EXPECT_EQ(e.type, EventType::Quit);
  EXPECT_EQ(hb.Milliseconds(), 165u);

  // Events that fall due together come in the order they were scheduled.
  Event a, b;
  a.type = EventType::KeyDown;
  a.scancode = 29;
  b.type = EventType::KeyUp;
  b.scancode = 29;
  hb.ScheduleEvent(5, b);
  hb.ScheduleEvent(3, a);
  hb.Advance(10);
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::KeyDown);
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::KeyUp);
  EXPECT_FALSE(hb.PollEvent(e));
}

TEST(HeadlessEvents, InputStateFollowsInjectedInput) {
  auto& hb = HeadlessBackend::InstallFresh();
  backend::WindowDesc d;
  d.left = 100;
  d.top = 50;
  d.width = 320;
  d.height = 200;
  const auto w = hb.CreateWindow(d);
  EXPECT_TRUE(hb.HasFocus(w));  // the first window shown takes the focus
  Event e;
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::FocusGained);

  hb.PressKey(29);                       // Z
  EXPECT_EQ(hb.KeyboardState()[29], 1);  // at once, before anyone pumps
  hb.PressKey(29);
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::KeyDown);
  EXPECT_EQ(e.window, w);
  EXPECT_FALSE(e.repeat);
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_TRUE(e.repeat);  // held down: the second press is an auto-repeat
  hb.ReleaseKey(29);
  EXPECT_EQ(hb.KeyboardState()[29], 0);

  hb.MoveMouse(w, 10, 20);
  hb.MoveMouse(w, 15, 18);
  hb.PressMouse(w, 3);
  int x, y;
  std::uint32_t buttons;
  hb.GlobalMouse(x, y, buttons);
  EXPECT_EQ(x, 115);
  EXPECT_EQ(y, 68);
  EXPECT_EQ(buttons, 2u);  // right
  auto m = hb.ReadMouse();
  EXPECT_EQ(m.x, 15);
  EXPECT_EQ(m.dx, 5);
  EXPECT_EQ(m.dy, -2);
  m = hb.ReadMouse();
  EXPECT_EQ(m.dx, 0);  // motion is cleared by reading
  hb.ReleaseMouse(w, 3);
  EXPECT_EQ(hb.ReadMouse().buttons, 0u);

  // Events still queued for a window that goes away are dropped with it.
  hb.DestroyWindow(w);
  EXPECT_FALSE(hb.HasFocus(w));
  while (hb.PollEvent(e)) EXPECT_NE(e.window, w);
}

TEST(HeadlessEvents, JoysticksComeAndGo) {
  auto& hb = HeadlessBackend::InstallFresh();
  const auto pad = hb.PlugJoystick("Pad", 2, 4, 1);
  Event e;
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::DeviceAdded);
  EXPECT_EQ(e.device, pad);
  hb.SetJoystickAxis(pad, 1, -32768);
  hb.SetJoystickButton(pad, 3, true);
  hb.SetJoystickHat(pad, 0, 8);
  hb.SetJoystickButton(pad, 9, true);  // no such button: ignored
  backend::JoystickState s;
  ASSERT_TRUE(hb.ReadJoystick(pad, s));
  EXPECT_EQ(s.axes, (std::vector<std::int16_t>{0, -32768}));
  EXPECT_EQ(s.buttons, (std::vector<std::uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(s.hats[0], 8);
  ASSERT_EQ(hb.Joysticks().size(), 1u);
  hb.UnplugJoystick(pad);
  EXPECT_FALSE(hb.ReadJoystick(pad, s));
  EXPECT_TRUE(hb.Joysticks().empty());
  ASSERT_TRUE(hb.PollEvent(e));
  EXPECT_EQ(e.type, EventType::DeviceRemoved);
  const auto again = hb.PlugJoystick("Pad", 2, 4, 1);
  EXPECT_NE(again, pad);  // a new plug-in is a new instance
}

TEST(HeadlessFrames, PresentedFramesAreKept) {
  auto& hb = HeadlessBackend::InstallFresh();
  backend::WindowDesc d;
  d.width = 4;
  d.height = 3;
  const auto w = hb.CreateWindow(d);
  EXPECT_EQ(hb.LastFrame(w), nullptr);
  EXPECT_EQ(hb.Info(w)->left, (HeadlessBackend::kScreenWidth - 4) / 2);  // centred
  // Rows padded to 6 pixels: only the first 4 of each are the image.
  std::vector<std::uint32_t> px(6 * 3, 0xDEADBEEF);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) px[y * 6 + x] = static_cast<std::uint32_t>(y * 16 + x);
  hb.Present(w, px.data(), 4, 3, 6 * 4);
  const auto* f = hb.LastFrame(w);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->width, 4);
  EXPECT_EQ(f->height, 3);
  EXPECT_EQ(f->Pixel(3, 2), 0x23u);
  EXPECT_EQ(f->Pixel(0, 1), 0x10u);
  EXPECT_EQ(hb.PresentCount(w), 1u);
  hb.Present(w, px.data(), 2, 2, 6 * 4);
  EXPECT_EQ(hb.LastFrame(w)->width, 2);
  EXPECT_EQ(hb.PresentCount(w), 2u);
  hb.Present(999, px.data(), 2, 2, 6 * 4);  // no such window: nothing happens
  hb.WaitForVerticalBlank();
  EXPECT_EQ(hb.VerticalBlankCount(), 1u);
  EXPECT_EQ(hb.Milliseconds(), 0u);  // headless never waits
}
