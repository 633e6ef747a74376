// A whole game window on the headless backend, built from the game's stored form as the program
// builds it, with helpers to press keys and to run frames.
#pragma once

#include <SDL_scancode.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "assets/StoredForms.h"
#include "game/GameState.h"
#include "game/Main.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/backend/HeadlessBackend.h"

class GameTest : public ::testing::Test {
 protected:
  void SetUp() override { StartGame(0); }
  void TearDown() override { EndGame(); }

  // A fresh backend whose clock first reads StartMs, and the game window created on it.
  void StartGame(std::uint32_t StartMs) {
    hb = &backend::HeadlessBackend::InstallFresh(StartMs);
    ResetGameState();
    RegisterGameFormResource();
    Application->ResetTerminated();
    Application->SetTitle("iMorvane");
    Application->CreateForm(Form1);
    form = Form1;
    form->Show();
    hb->SetFocus(form->Handle());
    Application->ProcessMessages();
  }

  void EndGame() {
    if (Form1 != nullptr) Form1->Free();
    Application->ProcessMessages();
    Application->ResetTerminated();
    ResetGameState();
  }

  void Press(int Scancode) { hb->PressKey(Scancode, 0, form->Handle()); }
  void Release(int Scancode) { hb->ReleaseKey(Scancode, 0, form->Handle()); }

  // One play frame of the hero alone: the input poll, then the hero's move.
  void HeroFrame() {
    form->PollInput();
    ASSERT_NE(HeroSprite, nullptr);
    HeroSprite->Move(1);
  }

  // Presents of the game window so far: one per frame routine that drew.
  std::uint64_t Presents() const { return hb->PresentCount(form->Handle()); }

  backend::HeadlessBackend* hb = nullptr;
  TForm1* form = nullptr;
};
