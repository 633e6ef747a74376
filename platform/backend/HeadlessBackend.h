// The backend the tests run on: nothing reaches a screen, a speaker or a device. Time is a
// virtual millisecond clock that moves only when told (Sleep, WaitEvent with a timeout,
// Advance); audio is rendered into memory as that clock moves; input comes from the test; every
// presented frame is kept and can be read back.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend/Backend.h"
#include "platform/backend/PointerTracker.h"

namespace backend {

class HeadlessAudioDevice;

class HeadlessBackend : public Backend {
 public:
  static constexpr int kAudioRate = 44100;
  static constexpr int kScreenWidth = 1920;
  static constexpr int kScreenHeight = 1080;

  // `startMs` is the clock's first reading; tests start near 2^32 to cross the wrap.
  explicit HeadlessBackend(std::uint32_t startMs = 0);
  ~HeadlessBackend() override;

  // The headless backend in use, installing a fresh one when another kind (or none) is current.
  static HeadlessBackend& Instance();
  // Replaces whatever backend is current by a fresh headless one.
  static HeadlessBackend& InstallFresh(std::uint32_t startMs = 0);

  // --- Clock ---------------------------------------------------------------------------------
  // Moves the clock forward, rendering the audio that this time would have played and putting
  // scheduled events that fall due into the queue.
  void Advance(std::uint32_t ms);
  // Milliseconds the clock has moved since the backend was made (does not wrap).
  std::uint64_t Elapsed() const { return elapsed_; }

  // --- Events --------------------------------------------------------------------------------
  // Queues an event as if the system had just sent it; input events also update the input state
  // at once, so code that reads device state without pumping events sees them.
  void PushEvent(const Event& e);
  // Queues `e` once the clock has moved `delayMs` further (WaitEvent jumps to it).
  void ScheduleEvent(std::uint32_t delayMs, const Event& e);
  std::size_t PendingEvents() const { return queue_.size(); }
  void ClearEvents() { queue_.clear(); }

  // Keys by SDL scancode, sent to `window` (0: the focused window).
  void PressKey(int scancode, std::uint16_t keymod = 0, WindowId window = 0);
  void ReleaseKey(int scancode, std::uint16_t keymod = 0, WindowId window = 0);
  void TypeText(const std::string& utf8, WindowId window = 0);
  // Mouse, in client coordinates of `window`. Buttons: 1 left, 2 middle, 3 right.
  void MoveMouse(WindowId window, int x, int y);
  void PressMouse(WindowId window, int button);
  void ReleaseMouse(WindowId window, int button);
  void WheelMouse(WindowId window, int notches);
  // Focus moves to `window` (0: no window of ours has it) with the focus events.
  void SetFocus(WindowId window);
  // What the user does to the window frame.
  void BeginMoveSize(WindowId window);
  void EndMoveSize(WindowId window);
  void ClickCloseBox(WindowId window);
  void RequestQuit();

  // Joysticks: plugging one in or out sends DeviceAdded / DeviceRemoved.
  std::uint32_t PlugJoystick(const std::string& name, int axes, int buttons, int hats);
  void UnplugJoystick(std::uint32_t instance);
  void SetJoystickAxis(std::uint32_t instance, int axis, std::int16_t value);
  void SetJoystickButton(std::uint32_t instance, int button, bool down);
  void SetJoystickHat(std::uint32_t instance, int hat, std::uint8_t bits);

  // --- Windows and frames --------------------------------------------------------------------
  // The screen's size from now on (kScreenWidth x kScreenHeight until set).
  void SetScreenSize(int width, int height) {
    screenWidth_ = width;
    screenHeight_ = height;
  }
  struct Frame {
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, width x height, no padding
    int width = 0;
    int height = 0;
    std::uint32_t Pixel(int x, int y) const {
      return pixels[static_cast<std::size_t>(y) * width + x];
    }
  };
  struct WindowInfo {
    std::string title;
    int left = 0, top = 0, width = 0, height = 0;
    bool borderless = false;
    bool visible = false;
    bool minimized = false;
  };
  std::vector<WindowId> Windows() const;
  bool WindowExists(WindowId w) const { return windows_.count(w) != 0; }
  const WindowInfo* Info(WindowId w) const;
  // The last frame presented to `w`, or nullptr when none was.
  const Frame* LastFrame(WindowId w) const;
  std::uint64_t PresentCount(WindowId w) const;
  std::uint64_t VerticalBlankCount() const { return vblanks_; }

  // --- Message boxes -------------------------------------------------------------------------
  // Every box the program showed, in order; nothing is drawn anywhere.
  const std::vector<MessageBoxDesc>& MessageBoxes() const { return boxes_; }
  void ClearMessageBoxes() { boxes_.clear(); }
  // Answers for the coming boxes, by button index, first in first used. Without one, a box is
  // answered by its escape button (or its default when it has none).
  void AnswerMessageBox(int button) { answers_.push_back(button); }
  // Answers every box itself when set (it may look at the box, push events...).
  std::function<int(const MessageBoxDesc&)> OnMessageBox;

  // --- Audio ---------------------------------------------------------------------------------
  bool AudioOpen() const;
  // Interleaved stereo samples rendered since the last clear.
  const std::vector<std::int16_t>& CapturedAudio() const { return captured_; }
  std::vector<std::int16_t> TakeAudio();
  void ClearAudio() { captured_.clear(); }
  // Long runs that do not listen can stop keeping the samples (they are still rendered).
  void SetAudioCapture(bool keep) { captureAudio_ = keep; }

  // --- Backend -------------------------------------------------------------------------------
  bool IsHeadless() const override { return true; }
  std::uint32_t Milliseconds() override { return clock_; }
  void Sleep(std::uint32_t ms) override { Advance(ms); }
  void ScreenSize(int& width, int& height) override;
  WindowId CreateWindow(const WindowDesc& desc) override;
  void DestroyWindow(WindowId w) override;
  void SetWindowTitle(WindowId w, const std::string& title) override;
  void SetWindowBounds(WindowId w, int left, int top, int width, int height) override;
  void GetWindowBounds(WindowId w, int& left, int& top, int& width, int& height) override;
  void ShowWindow(WindowId w, bool visible) override;
  bool HasFocus(WindowId w) override { return w != 0 && w == focus_; }
  void FocusWindow(WindowId w) override;
  void MinimizeWindow(WindowId w) override;
  void RestoreWindow(WindowId w) override;
  bool IsMinimized(WindowId w) override;
  void Present(WindowId w, const std::uint32_t* pixels, int width, int height, int pitch) override;
  void WaitForVerticalBlank() override { ++vblanks_; }
  bool PollEvent(Event& e) override;
  bool WaitEvent(Event& e, int timeoutMs) override;
  const std::uint8_t* KeyboardState() override { return keys_; }
  MouseState ReadMouse() override { return pointer_.Take(); }
  MouseState PeekMouse() override { return pointer_.Peek(); }
  std::vector<JoystickInfo> Joysticks() override;
  bool ReadJoystick(std::uint32_t instance, JoystickState& state) override;
  int ShowMessageBox(const MessageBoxDesc& desc) override;
  std::shared_ptr<AudioDevice> OpenAudio(AudioRenderFn render) override;

 private:
  void PushMouseButton(EventType type, WindowId window, int button);
  struct Window {
    WindowInfo info;
    Frame frame;
    bool presented = false;
    std::uint64_t presents = 0;
  };
  struct Pad {
    JoystickInfo info;
    JoystickState state;
  };
  struct Scheduled {
    std::uint64_t due;  // on the Elapsed() scale
    std::uint64_t order;
    Event event;
  };

  WindowId Target(WindowId w) const;
  void ApplyInput(const Event& e);
  void DeliverDue();
  void RenderAudio();

  std::uint32_t clock_;
  std::uint64_t elapsed_ = 0;
  std::deque<Event> queue_;
  std::vector<Scheduled> scheduled_;
  std::uint64_t scheduleOrder_ = 0;

  int screenWidth_ = kScreenWidth;
  int screenHeight_ = kScreenHeight;
  std::map<WindowId, Window> windows_;
  WindowId nextWindow_ = 1;
  WindowId focus_ = 0;
  std::uint64_t vblanks_ = 0;

  std::uint8_t keys_[512] = {};
  PointerTracker pointer_;

  std::map<std::uint32_t, Pad> pads_;
  std::uint32_t nextPad_ = 0;

  std::weak_ptr<HeadlessAudioDevice> audio_;
  std::uint64_t audioStartMs_ = 0;  // Elapsed() when the device was opened
  std::vector<std::int16_t> captured_;
  std::vector<MessageBoxDesc> boxes_;
  std::deque<int> answers_;
  bool captureAudio_ = true;
};

}  // namespace backend
