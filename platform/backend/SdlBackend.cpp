#include "platform/backend/SdlBackend.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/backend/PulseAudioDevice.h"
#include "platform/backend/SdlAudioDevice.h"
#include "platform/rtl/SysUtils.h"

namespace backend {

namespace {

constexpr int kAudioRate = 44100;
// SDL reports no drag of the window frame; a burst of moves the user made is taken as one drag
// that ends when the window has stood still this long.
constexpr auto kDragQuiet = std::chrono::milliseconds(300);
constexpr auto kOwnMoveGrace = std::chrono::milliseconds(500);

}  // namespace

SdlBackend::SdlBackend() : start_(Clock::now()) {
  // Our close box handling decides when the program ends, not SDL.
  SDL_SetHint("SDL_QUIT_ON_LAST_WINDOW_CLOSE", "0");
  SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0");
  // SDL would drop what the pads do while no window of ours has the keyboard focus; whether a
  // window without the focus sees its pads is the input devices' own cooperative level.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
    throw Exception(std::string("The display cannot be opened (") + SDL_GetError() + ")");
  // Without joystick support the program still runs, with keyboard and mouse.
  SDL_InitSubSystem(SDL_INIT_JOYSTICK);
  const char* driver = SDL_GetCurrentVideoDriver();
  ownFocus_ = driver != nullptr &&
              (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

void SdlBackend::GiveFocus(WindowId id) {
  if (!ownFocus_ || id == focus_) return;
  Event e;
  if (focus_ != 0 && Find(focus_)) {
    e.type = EventType::FocusLost;
    e.window = focus_;
    synthesised_.push_back(e);
  }
  focus_ = id;
  if (focus_ != 0) {
    e.type = EventType::FocusGained;
    e.window = focus_;
    synthesised_.push_back(e);
  }
}

SdlBackend::~SdlBackend() {
  for (auto& [id, js] : joysticks_) SDL_JoystickClose(js);
  for (auto& [id, w] : windows_) {
    if (w.texture) SDL_DestroyTexture(w.texture);
    if (w.renderer) SDL_DestroyRenderer(w.renderer);
    SDL_DestroyWindow(w.window);
  }
  SDL_Quit();
}

std::uint32_t SdlBackend::Milliseconds() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms.count()));
}

void SdlBackend::Sleep(std::uint32_t ms) {
  if (ms == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SdlBackend::ScreenSize(int& width, int& height) {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    width = mode.w;
    height = mode.h;
  } else {
    width = 1024;
    height = 768;
  }
}

SdlBackend::Window* SdlBackend::Find(WindowId w) {
  auto it = windows_.find(w);
  return it == windows_.end() ? nullptr : &it->second;
}

WindowId SdlBackend::CreateWindow(const WindowDesc& desc) {
  Uint32 flags = desc.visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
  if (desc.borderless) flags |= SDL_WINDOW_BORDERLESS;
  if (desc.resizable) flags |= SDL_WINDOW_RESIZABLE;
  const int x = desc.left >= 0 ? desc.left : static_cast<int>(SDL_WINDOWPOS_CENTERED);
  const int y = desc.top >= 0 ? desc.top : static_cast<int>(SDL_WINDOWPOS_CENTERED);
  SDL_Window* sw = SDL_CreateWindow(desc.title.c_str(), x, y, std::max(desc.width, 1),
                                    std::max(desc.height, 1), flags);
  if (!sw) throw Exception(std::string("The window cannot be made (") + SDL_GetError() + ")");
  SDL_Renderer* r = SDL_CreateRenderer(sw, -1, SDL_RENDERER_ACCELERATED);
  if (!r) r = SDL_CreateRenderer(sw, -1, SDL_RENDERER_SOFTWARE);
  if (!r) {
    std::string why = SDL_GetError();
    SDL_DestroyWindow(sw);
    throw Exception("The window cannot be made (" + why + ")");
  }
  const WindowId id = SDL_GetWindowID(sw);
  Window& w = windows_[id];
  w.window = sw;
  w.renderer = r;
  w.ignoreMovesUntil = Clock::now() + kOwnMoveGrace;
  if (desc.visible && focus_ == 0) GiveFocus(id);
  return id;
}

void SdlBackend::DestroyWindow(WindowId id) {
  auto it = windows_.find(id);
  if (it == windows_.end()) return;
  if (it->second.texture) SDL_DestroyTexture(it->second.texture);
  SDL_DestroyRenderer(it->second.renderer);
  SDL_DestroyWindow(it->second.window);
  windows_.erase(it);
  pointer_.WindowGone(id);
  if (focus_ == id) focus_ = 0;
  std::erase_if(synthesised_, [id](const Event& e) { return e.window == id; });
}

void SdlBackend::SetWindowTitle(WindowId id, const std::string& title) {
  if (Window* w = Find(id)) SDL_SetWindowTitle(w->window, title.c_str());
}

void SdlBackend::SetWindowBounds(WindowId id, int left, int top, int width, int height) {
  Window* w = Find(id);
  if (!w) return;
  w->ignoreMovesUntil = Clock::now() + kOwnMoveGrace;
  SDL_SetWindowPosition(w->window, left, top);
  SDL_SetWindowSize(w->window, std::max(width, 1), std::max(height, 1));
}

void SdlBackend::GetWindowBounds(WindowId id, int& left, int& top, int& width, int& height) {
  Window* w = Find(id);
  if (!w) {
    left = top = width = height = 0;
    return;
  }
  SDL_GetWindowPosition(w->window, &left, &top);
  SDL_GetWindowSize(w->window, &width, &height);
}

void SdlBackend::ShowWindow(WindowId id, bool visible) {
  Window* w = Find(id);
  if (!w) return;
  w->ignoreMovesUntil = Clock::now() + kOwnMoveGrace;
  if (visible)
    SDL_ShowWindow(w->window);
  else
    SDL_HideWindow(w->window);
  if (visible && focus_ == 0) GiveFocus(id);
  if (!visible && focus_ == id) GiveFocus(0);
}

bool SdlBackend::HasFocus(WindowId id) {
  if (ownFocus_) return id != 0 && id == focus_;
  Window* w = Find(id);
  return w && (SDL_GetWindowFlags(w->window) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

void SdlBackend::FocusWindow(WindowId id) {
  Window* w = Find(id);
  if (!w) return;
  SDL_RaiseWindow(w->window);
  GiveFocus(id);
}

void SdlBackend::MinimizeWindow(WindowId id) {
  if (Window* w = Find(id)) SDL_MinimizeWindow(w->window);
}

void SdlBackend::RestoreWindow(WindowId id) {
  if (Window* w = Find(id)) SDL_RestoreWindow(w->window);
}

bool SdlBackend::IsMinimized(WindowId id) {
  Window* w = Find(id);
  return w && (SDL_GetWindowFlags(w->window) & SDL_WINDOW_MINIMIZED) != 0;
}

void SdlBackend::Present(WindowId id, const std::uint32_t* pixels, int width, int height,
                         int pitch) {
  Window* w = Find(id);
  if (!w || !pixels || width <= 0 || height <= 0) return;
  if (!w->texture || w->texWidth != width || w->texHeight != height) {
    if (w->texture) SDL_DestroyTexture(w->texture);
    // 0x00RRGGBB words: SDL's 32-bit RGB with an unused top byte.
    w->texture = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                   width, height);
    if (!w->texture) return;
    w->texWidth = width;
    w->texHeight = height;
  }
  SDL_UpdateTexture(w->texture, nullptr, pixels, pitch);
  Redraw(*w);
}

void SdlBackend::Redraw(Window& w) {
  SDL_SetRenderDrawColor(w.renderer, 0, 0, 0, 255);
  SDL_RenderClear(w.renderer);
  if (w.texture) {
    // The client image is shown pixel for pixel from the top-left corner, never scaled.
    SDL_Rect dst{0, 0, w.texWidth, w.texHeight};
    SDL_RenderCopy(w.renderer, w.texture, nullptr, &dst);
  }
  SDL_RenderPresent(w.renderer);
}

void SdlBackend::WaitForVerticalBlank() {
  // SDL offers no wait for the retrace itself; wait for the next tick of the display's refresh
  // on a grid laid from the backend's start. Present never waits, so this is the only wait.
  int hz = 60;
  SDL_DisplayMode mode;
  if (!windows_.empty()) {
    int index = SDL_GetWindowDisplayIndex(windows_.begin()->second.window);
    if (index >= 0 && SDL_GetCurrentDisplayMode(index, &mode) == 0 && mode.refresh_rate > 0)
      hz = mode.refresh_rate;
  } else if (SDL_GetCurrentDisplayMode(0, &mode) == 0 && mode.refresh_rate > 0) {
    hz = mode.refresh_rate;
  }
  const auto period = std::chrono::nanoseconds(1000000000LL / hz);
  const auto since = Clock::now() - start_;
  const auto ticks = since / period + 1;
  std::this_thread::sleep_until(start_ + ticks * period);
}

void SdlBackend::NoteMove(WindowId id) {
  Window* w = Find(id);
  if (!w) return;
  const auto now = Clock::now();
  if (now < w->ignoreMovesUntil) return;
  if (!w->dragging) {
    w->dragging = true;
    Event e;
    e.type = EventType::MoveSizeBegin;
    e.window = id;
    synthesised_.push_back(e);
  }
  w->dragQuietUntil = now + kDragQuiet;
}

bool SdlBackend::TakeSynthesised(Event& e) {
  const auto now = Clock::now();
  for (auto& [id, w] : windows_) {
    if (w.dragging && now >= w.dragQuietUntil) {
      w.dragging = false;
      Event end;
      end.type = EventType::MoveSizeEnd;
      end.window = id;
      synthesised_.push_back(end);
    }
  }
  if (synthesised_.empty()) return false;
  e = std::move(synthesised_.front());
  synthesised_.pop_front();
  return true;
}

bool SdlBackend::Translate(const SDL_Event& se, Event& e) {
  e = Event{};
  switch (se.type) {
    case SDL_QUIT:
      e.type = EventType::Quit;
      return true;
    case SDL_WINDOWEVENT:
      e.window = se.window.windowID;
      switch (se.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          e.type = EventType::WindowClose;
          return true;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          e.type = EventType::FocusGained;
          return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          e.type = EventType::FocusLost;
          return true;
        case SDL_WINDOWEVENT_EXPOSED:
          // Show the last image again at once; the program hears of it as well.
          if (Window* w = Find(e.window)) Redraw(*w);
          e.type = EventType::Exposed;
          return true;
        case SDL_WINDOWEVENT_MINIMIZED:
          e.type = EventType::Minimized;
          return true;
        case SDL_WINDOWEVENT_RESTORED:
          e.type = EventType::Restored;
          return true;
        case SDL_WINDOWEVENT_MOVED:
        case SDL_WINDOWEVENT_RESIZED:
          NoteMove(e.window);
          return false;
        default:
          return false;
      }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      e.type = se.type == SDL_KEYDOWN ? EventType::KeyDown : EventType::KeyUp;
      e.window = se.key.windowID;
      e.scancode = se.key.keysym.scancode;
      e.repeat = se.key.repeat != 0;
      e.keymod = se.key.keysym.mod;
      return true;
    case SDL_TEXTINPUT:
      e.type = EventType::TextInput;
      e.window = se.text.windowID;
      e.text = se.text.text;
      return true;
    case SDL_MOUSEMOTION:
      e.type = EventType::MouseMove;
      e.window = se.motion.windowID;
      e.x = se.motion.x;
      e.y = se.motion.y;
      pointer_.Apply(e, Find(e.window) != nullptr);
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      e.type = se.type == SDL_MOUSEBUTTONDOWN ? EventType::MouseDown : EventType::MouseUp;
      e.window = se.button.windowID;
      e.button = se.button.button;
      e.x = se.button.x;
      e.y = se.button.y;
      pointer_.Apply(e, Find(e.window) != nullptr);
      return true;
    case SDL_MOUSEWHEEL:
      e.type = EventType::MouseWheel;
      e.window = se.wheel.windowID;
      e.y = se.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -se.wheel.y : se.wheel.y;
      pointer_.Apply(e, Find(e.window) != nullptr);
      return true;
    case SDL_JOYDEVICEADDED: {
      // The pad may be known already: a look at the list of pads opens what it finds.
      SyncJoysticks();
      const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(se.jdevice.which);
      if (instance < 0 || !joysticks_.count(static_cast<std::uint32_t>(instance))) return false;
      e.type = EventType::DeviceAdded;
      e.device = static_cast<std::uint32_t>(instance);
      return true;
    }
    case SDL_JOYDEVICEREMOVED: {
      // Told even when a look at the list has closed the pad already.
      const auto instance = static_cast<std::uint32_t>(se.jdevice.which);
      auto it = joysticks_.find(instance);
      if (it != joysticks_.end()) {
        SDL_JoystickClose(it->second);
        joysticks_.erase(it);
      }
      e.type = EventType::DeviceRemoved;
      e.device = instance;
      return true;
    }
    default:
      return false;
  }
}

bool SdlBackend::PollEvent(Event& e) {
  SDL_Event se;
  while (SDL_PollEvent(&se)) {
    if (Translate(se, e)) return true;
  }
  return TakeSynthesised(e);
}

bool SdlBackend::WaitEvent(Event& e, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (PollEvent(e)) return true;
    const auto now = Clock::now();
    if (timeoutMs >= 0 && now >= deadline) return false;
    // Wake up in time to end a drag that has gone quiet.
    auto until = timeoutMs >= 0 ? deadline : Clock::time_point::max();
    for (auto& [id, w] : windows_)
      if (w.dragging) until = std::min(until, w.dragQuietUntil);
    SDL_Event se;
    int got;
    if (until == Clock::time_point::max()) {
      got = SDL_WaitEvent(&se);
    } else {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
      got = SDL_WaitEventTimeout(&se, static_cast<int>(std::clamp<long long>(ms, 1, 1 << 30)));
    }
    if (got && Translate(se, e)) return true;
  }
}

const std::uint8_t* SdlBackend::KeyboardState() {
  // SDL keeps this array current as events are pumped; it has SDL_NUM_SCANCODES (512) entries.
  return SDL_GetKeyboardState(nullptr);
}

void SdlBackend::SyncJoysticks() {
  // SDL knows of a pad before the news of it has been pumped: pads plugged in before the
  // program started are found by the first look, and a pad pulled out is gone at once.
  for (auto it = joysticks_.begin(); it != joysticks_.end();) {
    if (SDL_JoystickGetAttached(it->second)) {
      ++it;
      continue;
    }
    SDL_JoystickClose(it->second);
    it = joysticks_.erase(it);
  }
  const int count = SDL_NumJoysticks();
  for (int i = 0; i < count; ++i) {
    const SDL_JoystickID instance = SDL_JoystickGetDeviceInstanceID(i);
    if (instance < 0 || joysticks_.count(static_cast<std::uint32_t>(instance))) continue;
    if (SDL_Joystick* js = SDL_JoystickOpen(i))
      joysticks_[static_cast<std::uint32_t>(SDL_JoystickInstanceID(js))] = js;
  }
}

std::vector<JoystickInfo> SdlBackend::Joysticks() {
  SyncJoysticks();
  std::vector<JoystickInfo> out;
  for (auto& [instance, js] : joysticks_) {
    JoystickInfo info;
    const char* name = SDL_JoystickName(js);
    info.name = name ? name : "";
    info.instance = instance;
    info.axes = std::max(SDL_JoystickNumAxes(js), 0);
    info.buttons = std::max(SDL_JoystickNumButtons(js), 0);
    info.hats = std::max(SDL_JoystickNumHats(js), 0);
    info.forceFeedback = SDL_JoystickHasRumble(js) == SDL_TRUE;
    out.push_back(std::move(info));
  }
  return out;
}

bool SdlBackend::ReadJoystick(std::uint32_t instance, JoystickState& state) {
  auto it = joysticks_.find(instance);
  if (it == joysticks_.end() || !SDL_JoystickGetAttached(it->second)) return false;
  SDL_Joystick* js = it->second;
  state.axes.resize(static_cast<std::size_t>(std::max(SDL_JoystickNumAxes(js), 0)));
  for (std::size_t i = 0; i < state.axes.size(); ++i)
    state.axes[i] = SDL_JoystickGetAxis(js, static_cast<int>(i));
  state.buttons.resize(static_cast<std::size_t>(std::max(SDL_JoystickNumButtons(js), 0)));
  for (std::size_t i = 0; i < state.buttons.size(); ++i)
    state.buttons[i] = SDL_JoystickGetButton(js, static_cast<int>(i));
  state.hats.resize(static_cast<std::size_t>(std::max(SDL_JoystickNumHats(js), 0)));
  for (std::size_t i = 0; i < state.hats.size(); ++i)
    state.hats[i] = SDL_JoystickGetHat(js, static_cast<int>(i));
  return true;
}

int SdlBackend::ShowMessageBox(const MessageBoxDesc& desc) {
  std::vector<SDL_MessageBoxButtonData> buttons;
  const int count = static_cast<int>(desc.buttons.size());
  for (int i = 0; i < count; ++i) {
    SDL_MessageBoxButtonData b{};
    b.buttonid = i;
    b.text = desc.buttons[i].c_str();
    if (i == desc.defaultButton) b.flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (i == (desc.escapeButton >= 0 ? desc.escapeButton : desc.defaultButton))
      b.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    buttons.push_back(b);
  }
  SDL_MessageBoxData data{};
  switch (desc.kind) {
    case MessageBoxDesc::Kind::Error:
      data.flags = SDL_MESSAGEBOX_ERROR;
      break;
    case MessageBoxDesc::Kind::Warning:
      data.flags = SDL_MESSAGEBOX_WARNING;
      break;
    default:
      data.flags = SDL_MESSAGEBOX_INFORMATION;
      break;
  }
  // No parent for SDL: over a parent that no window manager has framed, its X11 box adds the
  // parent's position twice and can land partly off the screen. Without one the box is centred
  // on the screen, where it always fits once its lines are wrapped to the screen's width.
  data.window = nullptr;
  data.title = desc.title.c_str();
  std::string message = desc.text;
  if (!desc.lines.empty()) {
    message.clear();
    for (std::size_t i = 0; i < desc.lines.size(); ++i)
      message += (i > 0 ? "\n" : "") + desc.lines[i];
  }
  data.message = message.c_str();
  data.numbuttons = count;
  data.buttons = buttons.data();
  int chosen = -1;
  if (SDL_ShowMessageBox(&data, &chosen) != 0 || chosen < 0 || chosen >= count) {
    // No box could be shown (or it was closed): the answer a closed box gives.
    chosen = desc.escapeButton >= 0 ? desc.escapeButton : desc.defaultButton;
  }
  return count > 0 ? std::clamp(chosen, 0, count - 1) : 0;
}

std::shared_ptr<AudioDevice> SdlBackend::OpenAudio(AudioRenderFn render) {
  if (!audio_.expired()) throw Exception("The audio device is already open");
  // A server that speaks PulseAudio's protocol (PulseAudio, or PipeWire through its PulseAudio
  // service) says itself which frame leaves its sink; SDL can only guess that from buffer sizes.
  // So libpulse plays wherever such a server answers, SDL elsewhere. MORVANE_AUDIO=pulse or sdl
  // forces one; a forced path that cannot open leaves the program silent, with a moving clock.
  const char* forced = std::getenv("MORVANE_AUDIO");
  const std::string choice = forced ? forced : "";
  std::shared_ptr<AudioDevice> dev;
  std::string line, why;
  if (choice != "sdl") {
    std::string pulse;
    dev = PulseAudioDevice::Open(kAudioRate, render, pulse);
    if (dev)
      line = "audio: " + pulse + (choice == "pulse" ? " (MORVANE_AUDIO=pulse)" : "");
    else if (choice == "pulse")
      line = "audio: none, silent: MORVANE_AUDIO=pulse, and " + pulse;
    else
      why = pulse;
  } else {
    why = "MORVANE_AUDIO=sdl";
  }
  if (!dev && choice != "pulse") {
    std::string sdl;
    dev = OpenSdlAudio(kAudioRate, render, sdl);
    line = dev ? "audio: " + sdl + ": " + why : "audio: none, silent: " + why + "; " + sdl;
  }
  if (!dev) dev = OpenNullAudio(kAudioRate, std::move(render));
  std::fprintf(stderr, "%s\n", line.c_str());
  audio_ = dev;
  return dev;
}

}  // namespace backend
