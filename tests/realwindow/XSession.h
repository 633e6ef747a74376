// A private X server for the real-window tests, and the client side the tests use on it: find
// top-level windows by name, read the screen back, and send input through the XTEST extension,
// the way a user at the keyboard and mouse would.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Xlib stays out of this header: its macros (None, Bool, Status...) clash with the test
// framework's names.
struct _XDisplay;

namespace realwindow {

// An X window id.
using Window = unsigned long;
using Millis = std::chrono::milliseconds;

// Polls Done every few milliseconds until it holds or Timeout runs out; whether it held.
bool WaitUntil(const std::function<bool()>& Done, Millis Timeout);

// A rectangle in screen (or window) pixels; Right and Bottom are exclusive.
struct Box {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
};

// An RGB picture read from the screen: 0x00RRGGBB words, row by row.
struct Picture {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Pixels;

  std::uint32_t At(int X, int Y) const {
    return Pixels[static_cast<std::size_t>(Y) * static_cast<std::size_t>(Width) +
                  static_cast<std::size_t>(X)];
  }
  // Pixels of R (clipped to the picture) for which Match holds.
  int Count(const Box& R, const std::function<bool(std::uint32_t)>& Match) const;
  int CountColour(const Box& R, std::uint32_t Rgb) const;
  // Pixels of R whose red, green and blue are all below Limit.
  int CountDark(const Box& R, int Limit = 80) const;
  // Writes the picture as a binary PPM, for looking at what a test saw.
  bool SavePpm(const std::string& Path) const;
};

// Xvfb on a display number it picks itself; stopped when this goes.
class PrivateXServer {
 public:
  // Starts the server and waits until it takes connections; nullopt (with Why set) when no
  // server can be started on this machine.
  static std::optional<PrivateXServer> Start(std::string& Why);
  PrivateXServer(PrivateXServer&& Other) noexcept;
  PrivateXServer& operator=(PrivateXServer&&) = delete;
  ~PrivateXServer();

  // ":N", for the DISPLAY of the programs started on it.
  const std::string& Name() const { return Name_; }

 private:
  PrivateXServer(pid_t Pid, std::string Name) : Pid_(Pid), Name_(std::move(Name)) {}
  pid_t Pid_ = -1;
  std::string Name_;
};

// A connection to the server, with what the tests need of it.
class XClient {
 public:
  explicit XClient(const std::string& DisplayName);
  XClient(const XClient&) = delete;
  XClient& operator=(const XClient&) = delete;
  ~XClient();

  bool Connected() const { return Dpy_ != nullptr; }
  bool HasXTest() const { return HasXTest_; }
  Box ScreenBox() const;

  // The mapped top-level windows whose WM_NAME is Name, in stacking order (bottom first).
  std::vector<Window> FindWindows(const std::string& Name);
  // Waits for one such window; 0 after the timeout.
  Window WaitForWindow(const std::string& Name, Millis Timeout);
  // Where the window stands on the screen; nullopt when it is gone.
  std::optional<Box> WindowBox(Window W);
  // Every mapped top-level window with the box it covers (used to find boxes of unknown name).
  std::vector<std::pair<Window, Box>> TopLevelWindows();
  std::string WindowName(Window W);

  Picture Capture(const Box& Area);
  // The window's own pixels, (0, 0) being its top-left corner.
  Picture CaptureWindow(Window W);

  // What a window manager does when the user picks a window: the keyboard goes to it.
  void Focus(Window W);
  // What a window manager does when the user clicks the close box.
  void RequestClose(Window W);

  // Input through XTEST. Keys are X keysym names ("z", "Down", "Return").
  void Key(const std::string& KeysymName, bool Down);
  // Holds the key long enough for a frame of the game (34 ms or more apart) to see it, and
  // returns once a frame has seen it up again.
  void Tap(const std::string& KeysymName, Millis Hold = Millis(80));
  // Types ASCII text, with Shift for the characters that need it.
  void Type(const std::string& Text);
  void MoveTo(int X, int Y);
  // Moves from where the pointer stands to (X, Y) in Steps even steps, as a hand would.
  void Glide(int FromX, int FromY, int X, int Y, int Steps = 10);
  void Button(int Number, bool Down);

 private:
  void Sync();
  _XDisplay* Dpy_ = nullptr;
  bool HasXTest_ = false;
};

}  // namespace realwindow
