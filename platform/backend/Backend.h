// What the stand-ins need of the machine: a clock, windows that show pixels, events, input
// state and an audio device. Two implementations: SDL2 (a real window, real sound and real
// devices) and headless (a virtual clock, scripted input, audio rendered into memory and every
// presented frame kept for tests). The framework and the programs never see which one runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace backend {

using WindowId = std::uint32_t;  // 0 = no window

struct WindowDesc {
  std::string title;
  int left = -1;  // -1: centred
  int top = -1;
  int width = 640;
  int height = 480;
  bool borderless = false;
  bool resizable = false;
  bool visible = true;
};

enum class EventType {
  None,
  Quit,         // the user asked the whole program to end
  WindowClose,  // the close box of `window`
  KeyDown,      // `scancode` (SDL scancode numbering), `repeat`, `keymod`
  KeyUp,
  TextInput,  // `text` in UTF-8
  MouseMove,  // `x`, `y` in client coordinates of `window`
  MouseDown,  // `button`: 1 left, 2 middle, 3 right
  MouseUp,
  MouseWheel,  // `y`: +1 per notch away from the user
  FocusGained,
  FocusLost,
  Exposed,
  MoveSizeBegin,  // the user starts dragging or sizing `window`
  MoveSizeEnd,
  DeviceAdded,  // a joystick or pad was plugged in or removed
  DeviceRemoved,
  Minimized,  // the window manager minimised or restored `window`
  Restored,
};

struct Event {
  EventType type = EventType::None;
  WindowId window = 0;
  int scancode = 0;
  bool repeat = false;
  std::uint16_t keymod = 0;  // KMOD_* bits as SDL gives them
  int x = 0;
  int y = 0;
  int button = 0;
  std::uint32_t device = 0;  // DeviceAdded / DeviceRemoved: the joystick's instance id
  std::string text;
};

// Modifier bits, same values as SDL's.
constexpr std::uint16_t kModLShift = 0x0001, kModRShift = 0x0002, kModLCtrl = 0x0040,
                        kModRCtrl = 0x0080, kModLAlt = 0x0100, kModRAlt = 0x0200;

struct MouseState {
  WindowId window = 0;            // the window whose events placed the pointer last; 0: none
  int x = 0, y = 0;               // client coordinates of `window`
  int dx = 0, dy = 0, wheel = 0;  // motion since the previous ReadMouse
  std::uint32_t buttons = 0;      // bit 0 left, bit 1 right, bit 2 middle
};

struct JoystickInfo {
  std::string name;
  std::uint32_t instance = 0;  // stable id while plugged in
  int axes = 0, buttons = 0, hats = 0;
  bool forceFeedback = false;  // the device can play force-feedback effects (rumble)
};

struct JoystickState {
  std::vector<std::int16_t> axes;  // -32768..32767
  std::vector<std::uint8_t> buttons;
  std::vector<std::uint8_t> hats;  // SDL hat bits: 1 up, 2 right, 4 down, 8 left
};

// A box of the system's own that asks the user something and waits for the answer.
struct MessageBoxDesc {
  enum class Kind { Information, Question, Warning, Error };
  WindowId parent = 0;
  std::string title;
  std::string text;
  // The text as the box shows it, one entry a line, broken where it would not fit the screen;
  // empty: `text` as it stands.
  std::vector<std::string> lines;
  Kind kind = Kind::Information;
  std::vector<std::string> buttons;  // left to right
  int defaultButton = 0;             // chosen by Enter
  int escapeButton = -1;             // chosen by Escape or by closing the box; -1: the default
};

// The mixer that feeds an audio device: called with the device locked, from the audio thread
// (SDL) or from the virtual clock (headless). Fills `frames` interleaved stereo frames.
using AudioRenderFn = std::function<void(std::int16_t* out, int frames)>;

class AudioDevice {
 public:
  virtual ~AudioDevice() = default;
  virtual int Rate() const = 0;  // frames per second
  // Lock against the render callback while the window's thread changes what is mixed.
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  // The frame leaving the device now, counted since it was opened: the frames its callbacks
  // have asked for minus those it still holds. Headless it holds nothing and the virtual clock
  // renders every frame as it plays it. On a PulseAudio-protocol server it is what the server's
  // own timing says its sink is playing. On SDL, which tells no driver's or server's latency,
  // what it holds is taken as SDL's buffer and one period more, and the wall clock carries the
  // count on from the last callback, never past the last frame handed over nor further than the
  // device can have played. Never decreases; music positions are computed from it.
  virtual std::uint64_t FramesPlayed() const = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // The backend in use; made on first use from the environment: MORVANE_BACKEND=headless gives
  // the headless one, anything else SDL2.
  static Backend& Current();
  // Replaces the backend in use (tests); the previous one is destroyed.
  static void Install(std::unique_ptr<Backend> backend);
  static bool Installed();

  virtual bool IsHeadless() const = 0;

  // Clock: milliseconds since an arbitrary start, wrapping at 2^32 like the system timer.
  virtual std::uint32_t Milliseconds() = 0;
  virtual void Sleep(std::uint32_t ms) = 0;

  // Windows. The client area is what Present shows. Positions and sizes here are those of the
  // client area in screen coordinates; window frames are the forms layer's business.
  virtual void ScreenSize(int& width, int& height) = 0;
  virtual WindowId CreateWindow(const WindowDesc& desc) = 0;
  virtual void DestroyWindow(WindowId w) = 0;
  virtual void SetWindowTitle(WindowId w, const std::string& title) = 0;
  virtual void SetWindowBounds(WindowId w, int left, int top, int width, int height) = 0;
  virtual void GetWindowBounds(WindowId w, int& left, int& top, int& width, int& height) = 0;
  virtual void ShowWindow(WindowId w, bool visible) = 0;
  virtual bool HasFocus(WindowId w) = 0;
  virtual void FocusWindow(WindowId w) = 0;
  virtual void MinimizeWindow(WindowId w) = 0;
  virtual void RestoreWindow(WindowId w) = 0;
  virtual bool IsMinimized(WindowId w) = 0;
  // Shows a whole client image of 32-bit pixels 0x00RRGGBB, `pitch` bytes per row.
  virtual void Present(WindowId w, const std::uint32_t* pixels, int width, int height,
                       int pitch) = 0;
  // The one wait for the display's refresh; headless returns at once.
  virtual void WaitForVerticalBlank() = 0;

  // Events: PollEvent takes one if any is pending; WaitEvent blocks up to timeoutMs (-1: for
  // ever) for one. Headless WaitEvent advances the virtual clock instead of blocking: up to the
  // next scheduled event, or by the whole timeout; with nothing scheduled and no timeout it
  // returns false at once, since nothing could ever arrive.
  virtual bool PollEvent(Event& e) = 0;
  virtual bool WaitEvent(Event& e, int timeoutMs) = 0;

  // Input state as of the last event pumped. The pointer and its buttons are what the mouse
  // events of our windows said, never a fresh query of the system.
  virtual const std::uint8_t* KeyboardState() = 0;  // indexed by SDL scancode, 512 entries
  virtual MouseState ReadMouse() = 0;               // clears the accumulated motion
  virtual MouseState PeekMouse() = 0;               // leaves the accumulated motion alone
  // The pointer in screen coordinates (its window's client position plus the client
  // coordinates) and the buttons (bits as in MouseState); leaves the motion alone.
  void GlobalMouse(int& x, int& y, std::uint32_t& buttons);
  virtual std::vector<JoystickInfo> Joysticks() = 0;
  virtual bool ReadJoystick(std::uint32_t instance, JoystickState& state) = 0;

  // Shows the box modally (no events reach the program meanwhile) and gives the index of the
  // button chosen.
  virtual int ShowMessageBox(const MessageBoxDesc& desc) = 0;

  // Audio: one device, opened once, shared by every sound and the music.
  virtual std::shared_ptr<AudioDevice> OpenAudio(AudioRenderFn render) = 0;

  // Distinct for every backend made in this process: long-lived users of the audio device (the
  // sound mixer) see from it that a test has installed another backend and open it again.
  const std::uint64_t Serial = NextSerial();

 private:
  static std::uint64_t NextSerial() {
    static std::atomic<std::uint64_t> next{0};
    return ++next;
  }
};

}  // namespace backend
