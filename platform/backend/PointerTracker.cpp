#include "platform/backend/PointerTracker.h"

namespace backend {

std::uint32_t PointerTracker::ButtonBit(int button) {
  switch (button) {
    case 1:
      return 1u;
    case 3:
      return 2u;
    case 2:
      return 4u;
    default:
      return 0u;
  }
}

void PointerTracker::Apply(const Event& e, bool ours) {
  switch (e.type) {
    case EventType::MouseMove:
    case EventType::MouseDown:
    case EventType::MouseUp: {
      if (e.type == EventType::MouseUp) state_.buttons &= ~ButtonBit(e.button);
      if (!ours) return;
      if (e.type == EventType::MouseDown) state_.buttons |= ButtonBit(e.button);
      // A button event says where the pointer is as well; a jump to there is motion like any
      // other. Motion is only counted within one window: client coordinates of two windows
      // cannot be subtracted.
      if (state_.window == e.window) {
        state_.dx += e.x - state_.x;
        state_.dy += e.y - state_.y;
      }
      state_.window = e.window;
      state_.x = e.x;
      state_.y = e.y;
      return;
    }
    case EventType::MouseWheel:
      if (ours) state_.wheel += e.y;
      return;
    default:
      return;
  }
}

void PointerTracker::WindowGone(WindowId window) {
  if (window != 0 && state_.window == window) state_.window = 0;
}

MouseState PointerTracker::Take() {
  MouseState m = state_;
  state_.dx = state_.dy = state_.wheel = 0;
  return m;
}

}  // namespace backend
