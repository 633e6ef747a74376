#include "realwindow/XSession.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <thread>

namespace realwindow {

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& Done, Millis Timeout) {
  const auto deadline = Clock::now() + Timeout;
  for (;;) {
    if (Done()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(Millis(15));
  }
}

// --- Picture -----------------------------------------------------------------------------------

int Picture::Count(const Box& R, const std::function<bool(std::uint32_t)>& Match) const {
  const int x0 = std::max(R.Left, 0), y0 = std::max(R.Top, 0);
  const int x1 = std::min(R.Right(), Width), y1 = std::min(R.Bottom(), Height);
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (Match(At(x, y))) ++n;
  return n;
}

int Picture::CountColour(const Box& R, std::uint32_t Rgb) const {
  return Count(R, [Rgb](std::uint32_t p) { return p == Rgb; });
}

int Picture::CountDark(const Box& R, int Limit) const {
  const auto limit = static_cast<std::uint32_t>(Limit);
  return Count(R, [limit](std::uint32_t p) {
    return (p >> 16 & 0xFF) < limit && (p >> 8 & 0xFF) < limit && (p & 0xFF) < limit;
  });
}

bool Picture::SavePpm(const std::string& Path) const {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(Path.c_str(), "wb"), &std::fclose);
  if (!f) return false;
  std::fprintf(f.get(), "P6\n%d %d\n255\n", Width, Height);
  std::vector<unsigned char> row(static_cast<std::size_t>(Width) * 3);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const std::uint32_t p = At(x, y);
      row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>(p >> 16);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>(p >> 8);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(p);
    }
    if (std::fwrite(row.data(), 1, row.size(), f.get()) != row.size()) return false;
  }
  return true;
}

// --- PrivateXServer ----------------------------------------------------------------------------

namespace {

void StopChild(pid_t Pid) {
  if (Pid <= 0) return;
  kill(Pid, SIGTERM);
  const bool gone =
      WaitUntil([Pid] { return waitpid(Pid, nullptr, WNOHANG) == Pid; }, Millis(3000));
  if (!gone) {
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
  }
}

}  // namespace

std::optional<PrivateXServer> PrivateXServer::Start(std::string& Why) {
  // The server picks a free display number itself and writes it down this pipe once it listens,
  // so no number is guessed and none is taken from another server.
  int fds[2];
  if (pipe(fds) != 0) {
    Why = "no pipe for the X server's display number";
    return std::nullopt;
  }
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    Why = "fork failed";
    return std::nullopt;
  }
  if (pid == 0) {
    close(fds[0]);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    setpgid(0, 0);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  const auto deadline = Clock::now() + Millis(10000);
  for (;;) {
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char c;
    if (read(fds[0], &c, 1) != 1) break;  // the server ended (or Xvfb is not installed)
    if (c == '\n') break;
    if (std::isdigit(static_cast<unsigned char>(c))) number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    StopChild(pid);
    Why = "Xvfb could not be started (is the xvfb package installed?)";
    return std::nullopt;
  }
  return PrivateXServer(pid, ":" + number);
}

PrivateXServer::PrivateXServer(PrivateXServer&& Other) noexcept
    : Pid_(Other.Pid_), Name_(std::move(Other.Name_)) {
  Other.Pid_ = -1;
}

PrivateXServer::~PrivateXServer() { StopChild(Pid_); }

// --- XClient -----------------------------------------------------------------------------------

namespace {

// Windows come and go while the tests look at them; a request about one that just went is no
// reason to end the test program, which Xlib's default handler would do.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

XClient::XClient(const std::string& DisplayName) {
  XSetErrorHandler(&IgnoreXErrors);
  Dpy_ = XOpenDisplay(DisplayName.c_str());
  if (!Dpy_) return;
  int event, error, major, minor;
  HasXTest_ = XTestQueryExtension(Dpy_, &event, &error, &major, &minor) == True;
}

XClient::~XClient() {
  if (Dpy_) XCloseDisplay(Dpy_);
}

void XClient::Sync() { XSync(Dpy_, False); }

Box XClient::ScreenBox() const {
  const int s = DefaultScreen(Dpy_);
  return {0, 0, DisplayWidth(Dpy_, s), DisplayHeight(Dpy_, s)};
}

std::string XClient::WindowName(Window W) {
  // The UTF-8 name first, as SDL sets both; the plain WM_NAME otherwise.
  const Atom netName = XInternAtom(Dpy_, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(Dpy_, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(Dpy_, W, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                         &data) == Success &&
      data != nullptr && type == utf8) {
    name.assign(reinterpret_cast<char*>(data), count);
  }
  if (data) XFree(data);
  if (!name.empty()) return name;
  char* plain = nullptr;
  if (XFetchName(Dpy_, W, &plain) && plain) {
    name = plain;
    XFree(plain);
  }
  return name;
}

std::vector<std::pair<Window, Box>> XClient::TopLevelWindows() {
  std::vector<std::pair<Window, Box>> out;
  Window root, parent, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(Dpy_, DefaultRootWindow(Dpy_), &root, &parent, &children, &n)) return out;
  for (unsigned int i = 0; i < n; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(Dpy_, children[i], &a) || a.map_state != IsViewable) continue;
    out.push_back({children[i], Box{a.x, a.y, a.width, a.height}});
  }
  if (children) XFree(children);
  return out;
}

std::vector<Window> XClient::FindWindows(const std::string& Name) {
  std::vector<Window> out;
  for (const auto& [w, box] : TopLevelWindows())
    if (WindowName(w) == Name) out.push_back(w);
  return out;
}

Window XClient::WaitForWindow(const std::string& Name, Millis Timeout) {
  Window found = 0;
  WaitUntil(
      [&] {
        const auto all = FindWindows(Name);
        if (!all.empty()) found = all.back();
        return found != 0;
      },
      Timeout);
  return found;
}

std::optional<Box> XClient::WindowBox(Window W) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(Dpy_, W, &a) || a.map_state != IsViewable) return std::nullopt;
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(Dpy_, W, DefaultRootWindow(Dpy_), 0, 0, &x, &y, &child);
  return Box{x, y, a.width, a.height};
}

Picture XClient::Capture(const Box& Area) {
  Picture p;
  const Box s = ScreenBox();
  const int x0 = std::max(Area.Left, 0), y0 = std::max(Area.Top, 0);
  const int x1 = std::min(Area.Right(), s.Width), y1 = std::min(Area.Bottom(), s.Height);
  if (x1 <= x0 || y1 <= y0) return p;
  XImage* img = XGetImage(Dpy_, DefaultRootWindow(Dpy_), x0, y0, static_cast<unsigned>(x1 - x0),
                          static_cast<unsigned>(y1 - y0), AllPlanes, ZPixmap);
  if (!img) return p;
  p.Width = x1 - x0;
  p.Height = y1 - y0;
  p.Pixels.resize(static_cast<std::size_t>(p.Width) * static_cast<std::size_t>(p.Height));
  const bool plain = img->bits_per_pixel == 32 && img->red_mask == 0xFF0000 &&
                     img->green_mask == 0xFF00 && img->blue_mask == 0xFF;
  for (int y = 0; y < p.Height; ++y) {
    for (int x = 0; x < p.Width; ++x) {
      std::uint32_t v;
      if (plain) {
        v = reinterpret_cast<const std::uint32_t*>(img->data + static_cast<std::ptrdiff_t>(y) *
                                                                   img->bytes_per_line)[x] &
            0xFFFFFF;
      } else {
        const unsigned long px = XGetPixel(img, x, y);
        auto channel = [px](unsigned long mask) {
          if (mask == 0) return 0u;
          int shift = 0;
          while (!((mask >> shift) & 1)) ++shift;
          const unsigned long top = mask >> shift;
          return static_cast<unsigned>(((px & mask) >> shift) * 255 / top);
        };
        v = channel(img->red_mask) << 16 | channel(img->green_mask) << 8 | channel(img->blue_mask);
      }
      p.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(p.Width) +
               static_cast<std::size_t>(x)] = v;
    }
  }
  XDestroyImage(img);
  return p;
}

Picture XClient::CaptureWindow(Window W) {
  const auto box = WindowBox(W);
  return box ? Capture(*box) : Picture{};
}

void XClient::Focus(Window W) {
  XRaiseWindow(Dpy_, W);
  XSetInputFocus(Dpy_, W, RevertToParent, CurrentTime);
  Sync();
}

void XClient::RequestClose(Window W) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = W;
  e.xclient.message_type = XInternAtom(Dpy_, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(Dpy_, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(Dpy_, W, False, NoEventMask, &e);
  Sync();
}

void XClient::Key(const std::string& KeysymName, bool Down) {
  const KeySym ks = XStringToKeysym(KeysymName.c_str());
  const KeyCode code = ks == NoSymbol ? 0 : XKeysymToKeycode(Dpy_, ks);
  if (code == 0) return;
  XTestFakeKeyEvent(Dpy_, code, Down ? True : False, CurrentTime);
  Sync();
}

void XClient::Tap(const std::string& KeysymName, Millis Hold) {
  Key(KeysymName, true);
  std::this_thread::sleep_for(Hold);
  Key(KeysymName, false);
  // The programs read their keys once a frame: a key struck again before a frame saw it up
  // would read as held, not as pressed anew.
  std::this_thread::sleep_for(Millis(80));
}

void XClient::Type(const std::string& Text) {
  const KeyCode shift = XKeysymToKeycode(Dpy_, XK_Shift_L);
  for (const char c : Text) {
    // Printable ASCII characters are their own keysyms.
    const auto ks = static_cast<KeySym>(static_cast<unsigned char>(c));
    const KeyCode code = XKeysymToKeycode(Dpy_, ks);
    if (code == 0) continue;
    const bool shifted = XkbKeycodeToKeysym(Dpy_, code, 0, 0) != ks;
    if (shifted) XTestFakeKeyEvent(Dpy_, shift, True, CurrentTime);
    XTestFakeKeyEvent(Dpy_, code, True, CurrentTime);
    Sync();
    std::this_thread::sleep_for(Millis(15));
    XTestFakeKeyEvent(Dpy_, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(Dpy_, shift, False, CurrentTime);
    Sync();
    std::this_thread::sleep_for(Millis(15));
  }
}

void XClient::MoveTo(int X, int Y) {
  XTestFakeMotionEvent(Dpy_, -1, X, Y, CurrentTime);
  Sync();
}

void XClient::Glide(int FromX, int FromY, int X, int Y, int Steps) {
  Steps = std::max(Steps, 1);
  for (int i = 1; i <= Steps; ++i) {
    MoveTo(FromX + (X - FromX) * i / Steps, FromY + (Y - FromY) * i / Steps);
    std::this_thread::sleep_for(Millis(10));
  }
}

void XClient::Button(int Number, bool Down) {
  XTestFakeButtonEvent(Dpy_, static_cast<unsigned>(Number), Down ? True : False, CurrentTime);
  Sync();
}

}  // namespace realwindow
