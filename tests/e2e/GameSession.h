// A whole game on the headless backend: the window built from its stored form, frames run one by
// one on the virtual clock, keys held and let go between frames, presented frames and rendered
// audio read back.
#pragma once

#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/StoredForms.h"
#include "game/GameState.h"
#include "game/Main.h"
#include "game/UBoss.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/backend/HeadlessBackend.h"
#include "platform/forms/Forms.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/SysUtils.h"

namespace e2e {

constexpr int kButton0 = SDL_SCANCODE_Z;
constexpr int kButton1 = SDL_SCANCODE_X;
constexpr int kUp = SDL_SCANCODE_UP;
constexpr int kDown = SDL_SCANCODE_DOWN;
constexpr int kLeft = SDL_SCANCODE_LEFT;
constexpr int kRight = SDL_SCANCODE_RIGHT;

struct ChartNote {
  int time;
  int kind;
};

// The chart of a stage as the file holds it, read here independently of the game.
inline std::vector<ChartNote> ReadChart(const std::string& baseName) {
  TStringList lines;
  lines.LoadFromFile("Score/" + baseName + ".txt");
  std::vector<ChartNote> notes;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::vector<std::string> f = SplitCommaText(lines.Strings(i));
    if (f.size() >= 2) notes.push_back({StrToIntDef(f[0], 1000), StrToIntDef(f[1], 0)});
  }
  return notes;
}

using Shot = backend::HeadlessBackend::Frame;

// 0x00RRGGBB of a colour given as the game gives it ($00BBGGRR).
inline std::uint32_t Rgb(TColor c) {
  const auto v = static_cast<std::uint32_t>(c);
  return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

inline bool Near(std::uint32_t a, std::uint32_t b, int tolerance = 8) {
  for (int shift = 0; shift <= 16; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > tolerance || d < -tolerance) return false;
  }
  return true;
}

// Pixels of colour c within [x0, x1) x [y0, y1).
inline int CountColour(const Shot& f, int x0, int y0, int x1, int y1, std::uint32_t c) {
  int n = 0;
  for (int y = std::max(y0, 0); y < std::min(y1, f.height); ++y)
    for (int x = std::max(x0, 0); x < std::min(x1, f.width); ++x) n += Near(f.Pixel(x, y), c);
  return n;
}

// How much of a picture of the game's image list shows at (x, y): the share of its opaque
// pixels that the frame holds in their colours (1 when the picture lies there whole, on top).
inline double PictureShown(const Shot& f, TPictureCollectionItem* item, int x, int y,
                           int pattern = 0) {
  TGraphic* g = item->Picture()->Graphic();
  TBitmap bmp;
  bmp.SetPixelFormat(pf32bit);
  bmp.SetSize(g->Width(), g->Height());
  bmp.Canvas()->Draw(0, 0, g);
  const std::uint32_t key = Rgb(item->TransparentColor());
  const int x0 = pattern * item->Width();
  int opaque = 0, shown = 0;
  for (int j = 0; j < item->Height(); ++j) {
    for (int i = 0; i < item->Width(); ++i) {
      const std::uint32_t c = Rgb(bmp.Canvas()->Pixels(x0 + i, j));
      if (c == key || x + i < 0 || y + j < 0 || x + i >= f.width || y + j >= f.height) continue;
      ++opaque;
      shown += Near(f.Pixel(x + i, y + j), c);
    }
  }
  return opaque == 0 ? 0.0 : static_cast<double>(shown) / opaque;
}

class GameSession {
 public:
  explicit GameSession(bool captureAudio = true) {
    hb = &backend::HeadlessBackend::InstallFresh();
    hb->SetAudioCapture(captureAudio);
    ResetGameState();
    RegisterGameFormResource();
    Application->ResetTerminated();
    Application->SetTitle("iMorvane");
    Application->CreateForm(Form1);
    form = Form1;
    form->SetVisible(true);
    hb->SetFocus(form->Handle());
  }
  ~GameSession() {
    for (int key : held_) hb->ReleaseKey(key, 0, window());
    if (Form1 != nullptr) Form1->Free();
    Application->ResetTerminated();
    HeroSprite = nullptr;
  }

  backend::WindowId window() const { return form->Handle(); }

  // Runs the idle loop until one frame of the current mode has run. False when none ran (the
  // game ended, or a frame raised and the error box was shown).
  bool Frame() {
    const std::size_t boxes = hb->MessageBoxes().size();
    const std::int64_t last = LastFrameTime;
    Application->RunUntil([&] { return LastFrameTime != last || Application->Terminated(); }, 500);
    ++frames;
    return LastFrameTime != last && hb->MessageBoxes().size() == boxes;
  }
  void Frames(int n) {
    for (int i = 0; i < n; ++i) ASSERT_TRUE(Frame()) << "frame " << i;
  }

  void Hold(int key) {
    hb->PressKey(key, 0, window());
    held_.push_back(key);
  }
  void Let(int key) {
    hb->ReleaseKey(key, 0, window());
    std::erase(held_, key);
  }
  // Button down for one frame, then up for one (so that the next press counts again).
  void Press(int key) {
    Hold(key);
    Frame();
    Let(key);
    Frame();
  }

  const backend::HeadlessBackend::Frame& Shown() const { return *hb->LastFrame(window()); }
  TPictureCollectionItem* Picture(const std::string& name) const {
    return form->DXImageList1->Items()->Find(name);
  }
  TSpriteEngine* Engine() const { return form->DXSpriteEngine1->Engine(); }
  template <class T>
  std::vector<T*> SpritesOf() const {
    std::vector<T*> out;
    for (int i = 0; i < Engine()->Count(); ++i)
      if (auto* s = dynamic_cast<T*>(Engine()->Items(i))) out.push_back(s);
    return out;
  }

  // Title, then the stage select with the cursor moved to `stage`, then its start.
  void StartStageFromTitle(int stage) {
    Frames(2);
    Press(kButton0);
    ASSERT_EQ(GameMode, 2);
    for (int i = 1; i < stage; ++i) Press(kDown);
    ASSERT_EQ(StageCursor, stage);
    Hold(kButton0);
    ASSERT_TRUE(Frame());
    Let(kButton0);
  }

  backend::HeadlessBackend* hb = nullptr;
  TForm1* form = nullptr;
  int frames = 0;

 private:
  std::vector<int> held_;
};

}  // namespace e2e
