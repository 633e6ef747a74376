// A pad on the SDL backend: a virtual joystick plugged into SDL while the game runs moves the
// input component's state and the hero, and works again after it is pulled out and plugged in.
#include "assets/StoredForms.h"
#include "game/GameState.h"
#include "game/Main.h"
#include "game/UHero.h"
#include "sdl/SdlAppTest.h"

namespace {

class SdlPadTest : public SdlAppTest {
 protected:
  void TearDown() override {
    if (pad_ != nullptr) Unplug();
    if (Form1 != nullptr) Form1->Free();
    Application->ResetTerminated();
    HeroSprite = nullptr;
    SdlAppTest::TearDown();
  }

  void Plug() {
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 4, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    // Our own handle drives the pad; the backend opens one of its own.
    pad_ = SDL_JoystickOpen(index);
    ASSERT_NE(pad_, nullptr) << SDL_GetError();
  }
  void Unplug() {
    const SDL_JoystickID id = SDL_JoystickInstanceID(pad_);
    SDL_JoystickClose(pad_);
    pad_ = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
      if (SDL_JoystickGetDeviceInstanceID(i) == id) SDL_JoystickDetachVirtual(i);
  }
  void Axis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(pad_, axis, value); }
  void Button(int button, bool down) {
    SDL_JoystickSetVirtualButton(pad_, button, down ? SDL_PRESSED : SDL_RELEASED);
  }

  void StartGame() {
    ResetGameState();
    RegisterGameFormResource();
    Application->ResetTerminated();
    Application->SetTitle("iMorvane");
    Application->CreateForm(Form1);
    Form1->SetVisible(true);
    ASSERT_TRUE(sdl->HasFocus(Form1->Handle()));
  }
  // Runs the loop until the game has run `n` more frames.
  void Frames(int n = 1) {
    for (int i = 0; i < n; ++i) {
      const std::int64_t last = LastFrameTime;
      ASSERT_TRUE(RunUntil([&] { return LastFrameTime != last; })) << "frame " << i;
    }
  }

  SDL_Joystick* pad_ = nullptr;
};

}  // namespace

TEST_F(SdlPadTest, ThePadMovesTheInputAndTheHeroAndComesBackAfterReplugging) {
  Plug();
  StartGame();
  TDDIDEX* input = Form1->Input1;
  ASSERT_EQ(input->JoystickCount, 1);
  Frames(2);
  ASSERT_EQ(GameMode, 1);
  // Button 1 of the pad is the game's button 0: from the title to the stage select.
  Button(0, true);
  Frames();
  EXPECT_TRUE(input->ButtonDown(0));
  EXPECT_EQ(GameMode, 2);
  Button(0, false);
  Frames();
  EXPECT_FALSE(input->ButtonDown(0));
  // The stick down moves the cursor, and the hero with it.
  ASSERT_EQ(StageCursor, 1);
  Axis(1, 32767);
  Frames();
  EXPECT_EQ(input->State.lY, 32767);
  EXPECT_EQ(StageCursor, 2);
  ASSERT_NE(HeroSprite, nullptr);
  EXPECT_EQ(HeroSprite->Y, 2 * 50 + 218);
  Axis(1, 0);
  Frames();
  EXPECT_EQ(input->State.lY, 0);

  // Pulled out while held: nothing of it remains in the state.
  Axis(1, -32768);
  Frames();
  EXPECT_EQ(StageCursor, 1);
  Unplug();
  Frames(3);
  EXPECT_EQ(input->State.lY, 0);
  EXPECT_EQ(StageCursor, 1);

  // Plugged in again: the same input component reads it once more.
  Plug();
  Frames(2);
  Axis(1, 32767);
  Frames();
  EXPECT_EQ(input->State.lY, 32767);
  EXPECT_EQ(StageCursor, 2);
  EXPECT_EQ(HeroSprite->Y, 2 * 50 + 218);
  Axis(1, 0);
  Button(0, true);
  Frames();
  EXPECT_TRUE(input->ButtonDown(0));
}
