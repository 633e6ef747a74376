// The state of the emulated display hardware shared by every DirectDraw object: the desktop's
// format and size, the display modes, the memory budgets, the window host, and what other
// stand-ins have plugged in.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/ddraw/DDrawObjects.h"

namespace ddraw {

struct Machine {
  PixelFormat Desktop = PixelFormat::Rgb(32);
  int DesktopWidth = 0;  // 0: the backend's screen size
  int DesktopHeight = 0;
  std::vector<DisplayMode> Modes;
  DisplayMode Current;  // BitCount 0 while the desktop's own mode is in force
  std::uint64_t VideoBudget = 0;
  std::uint64_t SystemBudget = 0;
  std::uint64_t VideoUsed = 0;
  std::uint64_t SystemUsed = 0;
  WindowHost Host;
  std::vector<DirectDrawExtension> Extensions;
  DirectDrawObject* ExclusiveOwner = nullptr;
  int LiveSurfaces = 0;
  int LiveDirectDraws = 0;
  std::array<PALETTEENTRY, 256> SystemPalette{};

  Machine();
  // Back to the default desktop, modes and budgets (hosts and extensions stay).
  void ResetSettings();

  PixelFormat DisplayFormat() const;
  void DisplaySize(int& width, int& height) const;
  // Pixel memory of the given size and format, zero-filled, charged to the video or the system
  // budget when `charge` is set; null with the reason in `hr` when it cannot be had.
  std::shared_ptr<PixelStore> MakeStore(int width, int height, const PixelFormat& format,
                                        bool video, bool charge, HRESULT& hr);
  void GiveBack(PixelStore& store);
};

Machine& TheMachine();

// Bytes per row of a surface: whole pixels rounded up to 8 bytes.
std::ptrdiff_t PitchFor(int width, int bitCount);

}  // namespace ddraw
