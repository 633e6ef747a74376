// Where the pointer is and which of its buttons are down, as the mouse events of our own windows
// tell it. Both backends keep the pointer this way: the system's own answer (a global query on
// X11) may lag the events by many frames, and code that reads the pointer while it handles an
// event, or in the frame after it, must see what the events said.
#pragma once

#include <cstdint>

#include "platform/backend/Backend.h"

namespace backend {

class PointerTracker {
 public:
  // Our button bits (0 left, 1 right, 2 middle) for an event's button (1 left, 2 middle,
  // 3 right); 0 for buttons we do not report.
  static std::uint32_t ButtonBit(int button);

  // Takes what a mouse event says; other events leave it alone. Events of a window that is
  // not ours (`ours` false) only release buttons: a release may arrive anywhere once the
  // pointer has left, and a button must never stay down for want of it.
  void Apply(const Event& e, bool ours = true);
  // The window is gone: the pointer is over nothing of ours until it moves again.
  void WindowGone(WindowId window);

  // The pointer in client coordinates of Window(), the buttons, and the motion and wheel
  // gathered since the last Take.
  const MouseState& Peek() const { return state_; }
  // As Peek, and starts gathering motion afresh.
  MouseState Take();

 private:
  MouseState state_;
};

}  // namespace backend
