#include "platform/backend/Backend.h"

#include <cstdlib>
#include <cstring>

#include "platform/backend/HeadlessBackend.h"
#include "platform/backend/SdlBackend.h"

namespace backend {

namespace {
// Deliberately never destroyed at exit: windows, sound buffers and the application object are
// torn down by static destructors in whatever order the run-time picks, and each of them may
// still call into the backend. The process end reclaims what is left.
Backend* g_current = nullptr;
}  // namespace

Backend& Backend::Current() {
  if (!g_current) {
    const char* which = std::getenv("MORVANE_BACKEND");
    if (which && std::strcmp(which, "headless") == 0)
      g_current = new HeadlessBackend();
    else
      g_current = new SdlBackend();
  }
  return *g_current;
}

void Backend::Install(std::unique_ptr<Backend> b) {
  // The old one goes first: an SDL backend must shut SDL down before another may start it.
  delete g_current;
  g_current = b.release();
}

bool Backend::Installed() { return g_current != nullptr; }

void Backend::GlobalMouse(int& x, int& y, std::uint32_t& buttons) {
  const MouseState m = PeekMouse();
  int left = 0, top = 0, width = 0, height = 0;
  if (m.window != 0) GetWindowBounds(m.window, left, top, width, height);
  x = left + m.x;
  y = top + m.y;
  buttons = m.buttons;
}

}  // namespace backend
