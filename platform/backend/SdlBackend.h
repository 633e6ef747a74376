// The backend of a real run: SDL2 windows showing the presented client images, the keyboard,
// mouse and joysticks, and one audio device: libpulse's stream where a PulseAudio-protocol
// server answers, SDL's audio elsewhere, and a null output that keeps time when the machine has
// no sound.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

#include "platform/backend/Backend.h"
#include "platform/backend/PointerTracker.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
struct _SDL_Joystick;
union SDL_Event;

namespace backend {

class SdlBackend : public Backend {
 public:
  SdlBackend();
  ~SdlBackend() override;

  bool IsHeadless() const override { return false; }
  std::uint32_t Milliseconds() override;
  void Sleep(std::uint32_t ms) override;
  void ScreenSize(int& width, int& height) override;
  WindowId CreateWindow(const WindowDesc& desc) override;
  void DestroyWindow(WindowId w) override;
  void SetWindowTitle(WindowId w, const std::string& title) override;
  void SetWindowBounds(WindowId w, int left, int top, int width, int height) override;
  void GetWindowBounds(WindowId w, int& left, int& top, int& width, int& height) override;
  void ShowWindow(WindowId w, bool visible) override;
  bool HasFocus(WindowId w) override;
  void FocusWindow(WindowId w) override;
  void MinimizeWindow(WindowId w) override;
  void RestoreWindow(WindowId w) override;
  bool IsMinimized(WindowId w) override;
  void Present(WindowId w, const std::uint32_t* pixels, int width, int height, int pitch) override;
  void WaitForVerticalBlank() override;
  bool PollEvent(Event& e) override;
  bool WaitEvent(Event& e, int timeoutMs) override;
  const std::uint8_t* KeyboardState() override;
  MouseState ReadMouse() override { return pointer_.Take(); }
  MouseState PeekMouse() override { return pointer_.Peek(); }
  std::vector<JoystickInfo> Joysticks() override;
  bool ReadJoystick(std::uint32_t instance, JoystickState& state) override;
  int ShowMessageBox(const MessageBoxDesc& desc) override;
  std::shared_ptr<AudioDevice> OpenAudio(AudioRenderFn render) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Window {
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int texWidth = 0, texHeight = 0;
    // Moves we caused ourselves (placement, SetWindowBounds) are not the user dragging.
    Clock::time_point ignoreMovesUntil;
    bool dragging = false;
    Clock::time_point dragQuietUntil;
  };

  bool Translate(const SDL_Event& se, Event& e);
  bool TakeSynthesised(Event& e);
  void NoteMove(WindowId id);
  void SyncJoysticks();
  void GiveFocus(WindowId id);
  Window* Find(WindowId w);
  void Redraw(Window& w);

  Clock::time_point start_;
  std::map<WindowId, Window> windows_;
  std::map<std::uint32_t, _SDL_Joystick*> joysticks_;
  std::deque<Event> synthesised_;
  PointerTracker pointer_;
  // SDL's screenless drivers give the focus to no window; we keep it ourselves there, as a
  // desktop would give it: to the window shown or raised last.
  bool ownFocus_ = false;
  WindowId focus_ = 0;
  std::weak_ptr<AudioDevice> audio_;
};

}  // namespace backend
