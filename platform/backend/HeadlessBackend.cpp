#include "platform/backend/HeadlessBackend.h"

#include <algorithm>
#include <cstring>

#include "platform/rtl/SysUtils.h"

namespace backend {

class HeadlessAudioDevice : public AudioDevice {
 public:
  explicit HeadlessAudioDevice(AudioRenderFn render) : render_(std::move(render)) {}
  int Rate() const override { return HeadlessBackend::kAudioRate; }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  std::uint64_t FramesPlayed() const override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return rendered_;
  }

  // Renders `frames` frames and appends them to `out` when it is given.
  void Render(std::uint64_t frames, std::vector<std::int16_t>* out) {
    constexpr std::uint64_t kChunk = 4096;
    std::int16_t buf[kChunk * 2];
    while (frames > 0) {
      const int n = static_cast<int>(std::min(frames, kChunk));
      std::memset(buf, 0, sizeof(std::int16_t) * 2 * n);
      {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (render_) render_(buf, n);
        rendered_ += static_cast<std::uint64_t>(n);
      }
      if (out) out->insert(out->end(), buf, buf + 2 * n);
      frames -= static_cast<std::uint64_t>(n);
    }
  }
  std::uint64_t Rendered() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return rendered_;
  }

 private:
  AudioRenderFn render_;
  mutable std::recursive_mutex mutex_;
  std::uint64_t rendered_ = 0;
};

HeadlessBackend::HeadlessBackend(std::uint32_t startMs) : clock_(startMs) {}

HeadlessBackend::~HeadlessBackend() = default;

HeadlessBackend& HeadlessBackend::Instance() {
  if (Backend::Installed()) {
    if (auto* h = dynamic_cast<HeadlessBackend*>(&Backend::Current())) return *h;
  }
  return InstallFresh();
}

HeadlessBackend& HeadlessBackend::InstallFresh(std::uint32_t startMs) {
  auto fresh = std::make_unique<HeadlessBackend>(startMs);
  HeadlessBackend& ref = *fresh;
  Backend::Install(std::move(fresh));
  return ref;
}

// --- Clock -------------------------------------------------------------------------------------

void HeadlessBackend::Advance(std::uint32_t ms) {
  clock_ += ms;  // wraps at 2^32 like the system timer
  elapsed_ += ms;
  RenderAudio();
  DeliverDue();
}

void HeadlessBackend::RenderAudio() {
  auto dev = audio_.lock();
  if (!dev) return;
  // Exact on the millisecond: after t ms the device has played floor(t * rate / 1000) frames.
  const std::uint64_t due = (elapsed_ - audioStartMs_) * kAudioRate / 1000;
  const std::uint64_t done = dev->Rendered();
  if (due > done) dev->Render(due - done, captureAudio_ ? &captured_ : nullptr);
}

std::vector<std::int16_t> HeadlessBackend::TakeAudio() {
  std::vector<std::int16_t> out;
  out.swap(captured_);
  return out;
}

bool HeadlessBackend::AudioOpen() const { return !audio_.expired(); }

std::shared_ptr<AudioDevice> HeadlessBackend::OpenAudio(AudioRenderFn render) {
  if (!audio_.expired()) throw Exception("The audio device is already open");
  auto dev = std::make_shared<HeadlessAudioDevice>(std::move(render));
  audio_ = dev;
  audioStartMs_ = elapsed_;
  return dev;
}

// --- Message boxes -----------------------------------------------------------------------------

int HeadlessBackend::ShowMessageBox(const MessageBoxDesc& desc) {
  boxes_.push_back(desc);
  const int count = static_cast<int>(desc.buttons.size());
  int answer;
  if (OnMessageBox) {
    answer = OnMessageBox(desc);
  } else if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = desc.escapeButton >= 0 ? desc.escapeButton : desc.defaultButton;
  }
  // Only the buttons the box has can be pressed.
  if (answer < 0 || answer >= count)
    answer = count > 0 ? std::clamp(desc.defaultButton, 0, count - 1) : 0;
  return answer;
}

// --- Events ------------------------------------------------------------------------------------

WindowId HeadlessBackend::Target(WindowId w) const {
  if (w != 0) return w;
  if (focus_ != 0) return focus_;
  return windows_.empty() ? 0 : windows_.begin()->first;
}

void HeadlessBackend::ApplyInput(const Event& e) {
  switch (e.type) {
    case EventType::KeyDown:
    case EventType::KeyUp:
      if (e.scancode >= 0 && e.scancode < 512) keys_[e.scancode] = e.type == EventType::KeyDown;
      break;
    case EventType::MouseMove:
    case EventType::MouseDown:
    case EventType::MouseUp:
    case EventType::MouseWheel:
      pointer_.Apply(e);
      break;
    default:
      break;
  }
}

void HeadlessBackend::PushEvent(const Event& e) {
  ApplyInput(e);
  queue_.push_back(e);
}

void HeadlessBackend::ScheduleEvent(std::uint32_t delayMs, const Event& e) {
  scheduled_.push_back({elapsed_ + delayMs, scheduleOrder_++, e});
  if (delayMs == 0) DeliverDue();
}

void HeadlessBackend::DeliverDue() {
  if (scheduled_.empty()) return;
  std::stable_sort(scheduled_.begin(), scheduled_.end(),
                   [](const Scheduled& a, const Scheduled& b) {
                     return a.due != b.due ? a.due < b.due : a.order < b.order;
                   });
  std::size_t n = 0;
  while (n < scheduled_.size() && scheduled_[n].due <= elapsed_) ++n;
  for (std::size_t i = 0; i < n; ++i) PushEvent(scheduled_[i].event);
  scheduled_.erase(scheduled_.begin(), scheduled_.begin() + static_cast<std::ptrdiff_t>(n));
}

bool HeadlessBackend::PollEvent(Event& e) {
  DeliverDue();
  if (queue_.empty()) return false;
  e = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

bool HeadlessBackend::WaitEvent(Event& e, int timeoutMs) {
  if (PollEvent(e)) return true;
  std::uint64_t next = UINT64_MAX;
  for (const auto& s : scheduled_) next = std::min(next, s.due);
  if (timeoutMs < 0) {
    if (next == UINT64_MAX) return false;  // nothing could ever come
    Advance(static_cast<std::uint32_t>(next - elapsed_));
  } else if (next != UINT64_MAX && next - elapsed_ <= static_cast<std::uint64_t>(timeoutMs)) {
    Advance(static_cast<std::uint32_t>(next - elapsed_));
  } else {
    Advance(static_cast<std::uint32_t>(timeoutMs));
  }
  return PollEvent(e);
}

void HeadlessBackend::PressKey(int scancode, std::uint16_t keymod, WindowId window) {
  Event e;
  e.type = EventType::KeyDown;
  e.window = Target(window);
  e.scancode = scancode;
  e.keymod = keymod;
  // A key already down is an auto-repeat, as the system reports it.
  e.repeat = scancode >= 0 && scancode < 512 && keys_[scancode] != 0;
  PushEvent(e);
}

void HeadlessBackend::ReleaseKey(int scancode, std::uint16_t keymod, WindowId window) {
  Event e;
  e.type = EventType::KeyUp;
  e.window = Target(window);
  e.scancode = scancode;
  e.keymod = keymod;
  PushEvent(e);
}

void HeadlessBackend::TypeText(const std::string& utf8, WindowId window) {
  Event e;
  e.type = EventType::TextInput;
  e.window = Target(window);
  e.text = utf8;
  PushEvent(e);
}

void HeadlessBackend::MoveMouse(WindowId window, int x, int y) {
  Event e;
  e.type = EventType::MouseMove;
  e.window = Target(window);
  e.x = x;
  e.y = y;
  PushEvent(e);
}

void HeadlessBackend::PressMouse(WindowId window, int button) {
  PushMouseButton(EventType::MouseDown, window, button);
}

void HeadlessBackend::ReleaseMouse(WindowId window, int button) {
  PushMouseButton(EventType::MouseUp, window, button);
}

// A button changes where the pointer last moved to.
void HeadlessBackend::PushMouseButton(EventType type, WindowId window, int button) {
  Event e;
  e.type = type;
  e.window = Target(window);
  e.button = button;
  e.x = pointer_.Peek().x;
  e.y = pointer_.Peek().y;
  PushEvent(e);
}

void HeadlessBackend::WheelMouse(WindowId window, int notches) {
  Event e;
  e.type = EventType::MouseWheel;
  e.window = Target(window);
  e.y = notches;
  PushEvent(e);
}

void HeadlessBackend::SetFocus(WindowId window) {
  if (window == focus_) return;
  if (focus_ != 0 && windows_.count(focus_)) {
    Event lost;
    lost.type = EventType::FocusLost;
    lost.window = focus_;
    PushEvent(lost);
  }
  focus_ = window;
  if (focus_ != 0) {
    Event gained;
    gained.type = EventType::FocusGained;
    gained.window = focus_;
    PushEvent(gained);
  }
}

void HeadlessBackend::BeginMoveSize(WindowId window) {
  Event e;
  e.type = EventType::MoveSizeBegin;
  e.window = Target(window);
  PushEvent(e);
}

void HeadlessBackend::EndMoveSize(WindowId window) {
  Event e;
  e.type = EventType::MoveSizeEnd;
  e.window = Target(window);
  PushEvent(e);
}

void HeadlessBackend::ClickCloseBox(WindowId window) {
  Event e;
  e.type = EventType::WindowClose;
  e.window = Target(window);
  PushEvent(e);
}

void HeadlessBackend::RequestQuit() {
  Event e;
  e.type = EventType::Quit;
  PushEvent(e);
}

// --- Joysticks ---------------------------------------------------------------------------------

std::uint32_t HeadlessBackend::PlugJoystick(const std::string& name, int axes, int buttons,
                                            int hats) {
  Pad pad;
  pad.info.name = name;
  pad.info.instance = nextPad_++;
  pad.info.axes = std::max(axes, 0);
  pad.info.buttons = std::max(buttons, 0);
  pad.info.hats = std::max(hats, 0);
  pad.state.axes.assign(pad.info.axes, 0);
  pad.state.buttons.assign(pad.info.buttons, 0);
  pad.state.hats.assign(pad.info.hats, 0);
  const std::uint32_t id = pad.info.instance;
  pads_[id] = std::move(pad);
  Event e;
  e.type = EventType::DeviceAdded;
  e.device = id;
  PushEvent(e);
  return id;
}

void HeadlessBackend::UnplugJoystick(std::uint32_t instance) {
  if (!pads_.erase(instance)) return;
  Event e;
  e.type = EventType::DeviceRemoved;
  e.device = instance;
  PushEvent(e);
}

void HeadlessBackend::SetJoystickAxis(std::uint32_t instance, int axis, std::int16_t value) {
  auto it = pads_.find(instance);
  if (it == pads_.end() || axis < 0 || axis >= it->second.info.axes) return;
  it->second.state.axes[axis] = value;
}

void HeadlessBackend::SetJoystickButton(std::uint32_t instance, int button, bool down) {
  auto it = pads_.find(instance);
  if (it == pads_.end() || button < 0 || button >= it->second.info.buttons) return;
  it->second.state.buttons[button] = down ? 1 : 0;
}

void HeadlessBackend::SetJoystickHat(std::uint32_t instance, int hat, std::uint8_t bits) {
  auto it = pads_.find(instance);
  if (it == pads_.end() || hat < 0 || hat >= it->second.info.hats) return;
  it->second.state.hats[hat] = bits;
}

std::vector<JoystickInfo> HeadlessBackend::Joysticks() {
  std::vector<JoystickInfo> out;
  for (const auto& [id, pad] : pads_) out.push_back(pad.info);
  return out;
}

bool HeadlessBackend::ReadJoystick(std::uint32_t instance, JoystickState& state) {
  auto it = pads_.find(instance);
  if (it == pads_.end()) return false;
  state = it->second.state;
  return true;
}

// --- Windows -----------------------------------------------------------------------------------

void HeadlessBackend::ScreenSize(int& width, int& height) {
  width = screenWidth_;
  height = screenHeight_;
}

WindowId HeadlessBackend::CreateWindow(const WindowDesc& desc) {
  Window w;
  w.info.title = desc.title;
  w.info.width = std::max(desc.width, 0);
  w.info.height = std::max(desc.height, 0);
  w.info.left = desc.left >= 0 ? desc.left : (screenWidth_ - w.info.width) / 2;
  w.info.top = desc.top >= 0 ? desc.top : (screenHeight_ - w.info.height) / 2;
  w.info.borderless = desc.borderless;
  w.info.visible = desc.visible;
  const WindowId id = nextWindow_++;
  windows_[id] = std::move(w);
  // A window that appears while none of ours has the focus takes it, as a desktop would give it.
  if (desc.visible && focus_ == 0) SetFocus(id);
  return id;
}

void HeadlessBackend::DestroyWindow(WindowId w) {
  if (!windows_.erase(w)) return;
  if (focus_ == w) focus_ = 0;
  pointer_.WindowGone(w);
  // Events still queued for a window that is gone would reach whatever reuses nothing; drop them.
  std::erase_if(queue_, [w](const Event& e) { return e.window == w; });
}

const HeadlessBackend::WindowInfo* HeadlessBackend::Info(WindowId w) const {
  auto it = windows_.find(w);
  return it == windows_.end() ? nullptr : &it->second.info;
}

std::vector<WindowId> HeadlessBackend::Windows() const {
  std::vector<WindowId> out;
  for (const auto& [id, w] : windows_) out.push_back(id);
  return out;
}

void HeadlessBackend::SetWindowTitle(WindowId w, const std::string& title) {
  auto it = windows_.find(w);
  if (it != windows_.end()) it->second.info.title = title;
}

void HeadlessBackend::SetWindowBounds(WindowId w, int left, int top, int width, int height) {
  auto it = windows_.find(w);
  if (it == windows_.end()) return;
  it->second.info.left = left;
  it->second.info.top = top;
  it->second.info.width = std::max(width, 0);
  it->second.info.height = std::max(height, 0);
}

void HeadlessBackend::GetWindowBounds(WindowId w, int& left, int& top, int& width, int& height) {
  auto it = windows_.find(w);
  if (it == windows_.end()) {
    left = top = width = height = 0;
    return;
  }
  left = it->second.info.left;
  top = it->second.info.top;
  width = it->second.info.width;
  height = it->second.info.height;
}

void HeadlessBackend::ShowWindow(WindowId w, bool visible) {
  auto it = windows_.find(w);
  if (it == windows_.end()) return;
  it->second.info.visible = visible;
  if (visible && focus_ == 0) SetFocus(w);
  if (!visible && focus_ == w) SetFocus(0);
}

void HeadlessBackend::FocusWindow(WindowId w) {
  if (windows_.count(w)) SetFocus(w);
}

void HeadlessBackend::MinimizeWindow(WindowId w) {
  auto it = windows_.find(w);
  if (it == windows_.end() || it->second.info.minimized) return;
  it->second.info.minimized = true;
  Event e;
  e.type = EventType::Minimized;
  e.window = w;
  PushEvent(e);
  if (focus_ == w) SetFocus(0);
}

void HeadlessBackend::RestoreWindow(WindowId w) {
  auto it = windows_.find(w);
  if (it == windows_.end() || !it->second.info.minimized) return;
  it->second.info.minimized = false;
  Event e;
  e.type = EventType::Restored;
  e.window = w;
  PushEvent(e);
}

bool HeadlessBackend::IsMinimized(WindowId w) {
  auto it = windows_.find(w);
  return it != windows_.end() && it->second.info.minimized;
}

void HeadlessBackend::Present(WindowId w, const std::uint32_t* pixels, int width, int height,
                              int pitch) {
  auto it = windows_.find(w);
  if (it == windows_.end() || !pixels || width <= 0 || height <= 0) return;
  Frame& f = it->second.frame;
  f.width = width;
  f.height = height;
  f.pixels.resize(static_cast<std::size_t>(width) * height);
  const auto* row = reinterpret_cast<const std::uint8_t*>(pixels);
  for (int y = 0; y < height; ++y, row += pitch)
    std::memcpy(&f.pixels[static_cast<std::size_t>(y) * width], row,
                sizeof(std::uint32_t) * static_cast<std::size_t>(width));
  it->second.presented = true;
  ++it->second.presents;
}

const HeadlessBackend::Frame* HeadlessBackend::LastFrame(WindowId w) const {
  auto it = windows_.find(w);
  if (it == windows_.end() || !it->second.presented) return nullptr;
  return &it->second.frame;
}

std::uint64_t HeadlessBackend::PresentCount(WindowId w) const {
  auto it = windows_.find(w);
  return it == windows_.end() ? 0 : it->second.presents;
}

}  // namespace backend
