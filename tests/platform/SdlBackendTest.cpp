#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/backend/HeadlessBackend.h"
#include "platform/backend/SdlBackend.h"
#include "platform/rtl/SysUtils.h"

// The SDL backend on SDL's own screenless drivers: what can be checked without a display or a
// sound card, and without depending on how fast the machine is.
TEST(SdlBackend, RunsOnScreenlessDrivers) {
#if defined(__SANITIZE_ADDRESS__)
  // SDL's drivers keep allocations of their own past SDL_Quit, which the leak checker reports.
  GTEST_SKIP() << "SDL itself is not leak-clean";
#endif
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("MORVANE_AUDIO", "sdl", 1);  // not whatever sound server this machine runs
  std::unique_ptr<backend::SdlBackend> b;
  try {
    b = std::make_unique<backend::SdlBackend>();
  } catch (const Exception& e) {
    GTEST_SKIP() << e.Message;
  }
  EXPECT_FALSE(b->IsHeadless());
  backend::WindowDesc d;
  d.title = "Morvane";
  d.left = 40;
  d.top = 30;
  d.width = 64;
  d.height = 48;
  d.borderless = true;
  d.visible = false;
  const auto w = b->CreateWindow(d);
  ASSERT_NE(w, 0u);
  int l, t, width, height;
  b->GetWindowBounds(w, l, t, width, height);
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  std::vector<std::uint32_t> px(64 * 48, 0x00FF8000);
  b->Present(w, px.data(), 64, 48, 64 * 4);
  b->Present(w, px.data(), 32, 16, 64 * 4);      // another size: a new texture
  b->Present(12345, px.data(), 64, 48, 64 * 4);  // no such window
  EXPECT_EQ(b->KeyboardState()[29], 0);

  // No box can be shown here: the answer is the one a closed box gives.
  backend::MessageBoxDesc box;
  box.title = "iMorvane";
  box.text = "test";
  box.buttons = {"Yes", "No"};
  box.escapeButton = 1;
  EXPECT_EQ(b->ShowMessageBox(box), 1);

  std::atomic<std::uint64_t> rendered{0};
  auto dev = b->OpenAudio([&](std::int16_t*, int frames) { rendered += frames; });
  ASSERT_NE(dev, nullptr);
  EXPECT_EQ(dev->Rate(), 44100);
  EXPECT_THROW(b->OpenAudio([](std::int16_t*, int) {}), Exception);
  dev->Lock();
  dev->Unlock();
  // The device plays: its position moves on from nothing as the driver takes blocks, and never
  // runs ahead of what it was handed. Only a device that never plays takes long here.
  std::uint64_t played = 0;
  for (int i = 0; i < 10000 && (played = dev->FramesPlayed()) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(played, 0u);
  EXPECT_LE(played, rendered.load());
  dev.reset();
  b->DestroyWindow(w);
  b->DestroyWindow(w);  // twice: nothing happens
  b.reset();
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("MORVANE_AUDIO");
}

// The mixer asks for the played frames while it holds its own lock, which the device's thread
// may be waiting for in the middle of a callback: the answer must not wait for that callback.
TEST(SdlBackend, PlayedFramesAreReadWhileACallbackWaits) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "SDL itself is not leak-clean";
#endif
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("MORVANE_AUDIO", "sdl", 1);
  // The dummy driver calls back from SDL's thread; a driver that does not exist gives the
  // backend's own null device, which has a thread of its own as well.
  for (const char* driver : {"dummy", "no-such-driver"}) {
    SCOPED_TRACE(driver);
    setenv("SDL_AUDIODRIVER", driver, 1);
    std::unique_ptr<backend::SdlBackend> b;
    try {
      b = std::make_unique<backend::SdlBackend>();
    } catch (const Exception& e) {
      GTEST_SKIP() << e.Message;
    }
    std::mutex mixer;
    std::atomic<bool> inCallback{false};
    auto dev = b->OpenAudio([&](std::int16_t*, int) {
      inCallback = true;
      std::lock_guard<std::mutex> wait(mixer);
    });
    {
      std::unique_lock<std::mutex> hold(mixer);
      for (int i = 0; i < 5000 && !inCallback; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ASSERT_TRUE(inCallback);
      auto played = std::async(std::launch::async, [&] { return dev->FramesPlayed(); });
      // Only a lock-up takes this long; the answer itself comes at once.
      const bool answered = played.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
      hold.unlock();
      EXPECT_TRUE(answered);
    }
    dev.reset();
    b.reset();
  }
  unsetenv("SDL_VIDEODRIVER");
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("MORVANE_AUDIO");
}
