// A whole game on the headless backend: the window built from its stored form, frames run one by
// one on the virtual clock, keys held and let go between frames, presented frames and rendered
// audio read back.
#pragma once

#include <SDL_scancode.h>
#include <gtest/gtest.h>

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
