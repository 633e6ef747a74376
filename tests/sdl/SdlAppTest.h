// A base for tests that run the application on the SDL backend with SDL's screenless drivers:
// a fresh SDL backend for every test, events pushed into SDL's own queue as a window system
// would send them, and the loop run against the real clock.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include "platform/backend/SdlBackend.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/SysUtils.h"

class SdlAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Set here too, so the program runs the same when started by hand.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setenv("MORVANE_AUDIO", "sdl", 0);
    // The backend before goes first: shutting SDL down would take the new one's SDL with it.
    backend::Backend::Install(nullptr);
    try {
      backend::Backend::Install(std::make_unique<backend::SdlBackend>());
    } catch (const Exception& e) {
      GTEST_SKIP() << "SDL cannot start here: " << e.Message;
    }
    sdl = dynamic_cast<backend::SdlBackend*>(&backend::Backend::Current());
    Application->ResetForTest();
  }
  void TearDown() override {
    Application->DestroyComponents();
    Application->ResetForTest();
  }

  static void PushMotion(backend::WindowId w, int x, int y, std::uint32_t held) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = w;
    e.motion.x = x;
    e.motion.y = y;
    e.motion.state = held;
    SDL_PushEvent(&e);
  }
  static void PushButton(backend::WindowId w, int button, bool down, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = w;
    e.button.button = static_cast<Uint8>(button);
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    SDL_PushEvent(&e);
  }

  // Runs the loop until Condition holds or `seconds` of real time have passed.
  static bool RunUntil(const std::function<bool()>& Condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    while (!Condition()) {
      if (std::chrono::steady_clock::now() >= deadline || !Application->Step()) return Condition();
    }
    return true;
  }

  backend::SdlBackend* sdl = nullptr;
};
