// The screens of the five game modes: title, stage select (and the stage start), play with its
// status band, continue, and the ending with its credits. Each routine draws one whole frame on
// the display's drawing surface and shows it with a flip.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "game/GameState.h"
#include "game/Main.h"
#include "game/UBoss.h"
#include "game/UHero.h"
#include "game/UScore.h"
#include "platform/rtl/SysUtils.h"

namespace {

// The face that the title sets once on the surface's canvas; every later text keeps it.
constexpr const char* kTitleFace = "Myriad Apple";

TDirectDrawSurface* Screen() { return Form1->DXDraw1->Surface; }
TDirectDrawSurfaceCanvas* Canvas() { return Screen()->Canvas(); }

void ClearScreen() { Screen()->Fill(Screen()->MatchColor(BackColor)); }

// Texts sit on cells of the background colour; each sets only its size.
void Text(int X, int Y, int Size, const std::string& S) {
  TDirectDrawSurfaceCanvas* c = Canvas();
  c->Brush()->SetColor(BackColor);
  c->Font()->SetSize(Size);
  c->TextOut(X, Y, S);
}

void DrawPicture(const std::string& Name, int X, int Y) {
  Form1->DXImageList1->Items()->Find(Name)->Draw(Screen(), X, Y, 0);
}

void PlaySound(const std::string& Name) { Form1->DXWaveList1->Items()->Find(Name)->Play(false); }

int StickY() {
  DIJOYSTATE s{};
  Form1->Input1->GetState(s);
  return s.lY;
}

bool Pressed(int Button) { return ButtonHold[Button] == 1; }

TSpriteEngine* Engine() { return Form1->DXSpriteEngine1->Engine(); }

// Every sprite but the hero is queued to die and the queue is freed.
void ClearAllButHero() {
  TSpriteEngine* e = Engine();
  for (int i = 0; i < e->Count(); ++i) {
    TSprite* s = e->Items(i);
    if (s != HeroSprite) s->Dead();
  }
  e->Dead();
}

bool AnyRuin() {
  TSpriteEngine* e = Engine();
  for (int i = 0; i < e->Count(); ++i) {
    if (dynamic_cast<TRuinSprite*>(e->Items(i)) != nullptr) return true;
  }
  return false;
}

}  // namespace

// --- Title --------------------------------------------------------------------------------------

void TForm1::TitleFrame() {
  DrawTitleScreen();
  CheckTitleStart();
}

void TForm1::DrawTitleScreen() {
  ClearScreen();
  DrawTitleText();
  Text(100, 230, 40, "Push Any Key.");
  Canvas()->Release();
  DXDraw1->Flip();
}

void TForm1::DrawTitleText() {
  TDirectDrawSurfaceCanvas* c = Canvas();
  c->Font()->SetName(kTitleFace);
  c->Font()->SetStyle(TFontStyles{fsBold});
  c->Font()->SetColor(clBlack);
  Text(80, 50, 80, "iMorvane");
}

void TForm1::CheckTitleStart() {
  if (Pressed(0)) GameMode = 2;
}

// --- Stage select -------------------------------------------------------------------------------

void TForm1::StageSelectFrame() {
  // A held stick moves the cursor at once and then every sixth frame; letting go re-arms it.
  MenuDelay = MenuDelay - 1;
  const int y = StickY();
  if (y == 0) MenuDelay = 0;
  if (MenuDelay <= 0) {
    if (y < 0 && StageCursor > 1) {
      StageCursor = StageCursor - 1;
      MenuDelay = 6;
    }
    if (y > 0 && StageCursor < 3) {
      StageCursor = StageCursor + 1;
      MenuDelay = 6;
    }
  }
  DrawStageSelect();
}

void TForm1::DrawStageSelect() {
  ClearScreen();
  DrawTitleText();
  // The hero stands beside the entry under the cursor.
  if (HeroSprite != nullptr) {
    HeroSprite->X = 95;
    HeroSprite->Y = StageCursor * 50 + 218;
  }
  for (int i = 1; i <= 3; ++i) {
    Text(120, i * 50 + 200, 25, Stages[i].Title);
    // After "Exit" the hero is gone while its debris flies; presses then have nobody to act on.
    if (i != StageCursor || !Pressed(0) || HeroSprite == nullptr) continue;
    if (i <= 2) {
      CurrentStage = i;
      StartStage();
      // A stage that could not start has said why and left the menu where it was.
      if (GameMode == 3) PlaySound("Snare");
    } else {
      HeroSprite->Dead();
    }
  }
  Canvas()->Release();
  DXSpriteEngine1->Move(1);
  DXSpriteEngine1->Draw();
  DXSpriteEngine1->Dead();
  // "Exit": once the hero's debris is gone, the game ends.
  if (DXSpriteEngine1->Engine()->Count() == 0) Close();
  DXDraw1->Flip();
}

// --- Stage start --------------------------------------------------------------------------------

void TForm1::StartStage() {
  GameMode = 3;
  if (HeroSprite != nullptr) HeroSprite->Reset();
  std::vector<TSprite*> bosses;
  try {
    TPictureCollectionItem* boss = DXImageList1->Items()->Find("Boss");
    TSpriteEngine* engine = DXSpriteEngine1->Engine();
    if (CurrentStage == 1) {
      boss->Picture()->LoadFromFile(AppDir + "Image/Grumbak.bmp");
      boss->Restore();
      bosses.push_back(new TGrumbakSprite(engine));
    } else {
      boss->Picture()->LoadFromFile(AppDir + "Image/Stakko.bmp");
      boss->Restore();
      TrueSegment = static_cast<std::uint8_t>(Random(3) + 1);
      for (std::uint8_t s = 1; s <= 3; ++s) {
        auto* segment = new TStakkoSprite(engine);
        bosses.push_back(segment);
        segment->SetSegment(s);
      }
    }
    Score->Load();
    MediaPlayer1->FileName = AppDir + "Sound/" + Stages[CurrentStage].FileName + ".mp3";
    MediaPlayer1->Open();
    MediaPlayer1->Rewind();
  } catch (Exception& E) {
    // Without its boss picture or its music the stage cannot be played: back to the stage
    // select, with the hero kept and nothing of the stage left behind.
    for (auto it = bosses.rbegin(); it != bosses.rend(); ++it) delete *it;
    WaitingToStart = false;
    Running = false;
    MediaPlayer1->Close();
    Score->Passed = false;
    GameMode = 2;
    Application->MessageBox(
        Format("The stage \"%s\" cannot start:\n%s", {Stages[CurrentStage].Title, E.Message}),
        Application->Title(), MB_OK | MB_ICONSTOP);
    return;
  }
  // The music waits for the gauge to fill.
  WaitingToStart = true;
}

// --- Play ---------------------------------------------------------------------------------------

void TForm1::PlayFrame() {
  if (WaitingToStart && HeroSprite != nullptr) {
    // The music starts on the frame after the first one that saw the gauge full, one frame
    // after the sprites started moving.
    if (Running && HeroSprite->Power >= 404) {
      MediaPlayer1->Play();
      HeroSprite->SetPower(404);
      WaitingToStart = false;
    }
    Running = HeroSprite->Power >= 404;
    HeroSprite->Blink = 5;
  }
  Score->Update();
  if (Running) {
    if (HeroSprite != nullptr) DXSpriteEngine1->Move(1);
    DXSpriteEngine1->Dead();
  } else if (HeroSprite != nullptr) {
    // Until the stage runs only the hero moves; the boss waits.
    HeroSprite->Move(1);
  }
  DrawPlayScreen();
  CheckPlayEnd();
}

void TForm1::DrawPlayScreen() {
  ClearScreen();
  if (HeroSprite != nullptr && HeroSprite->Combo > 0) {
    Text(0, 0, 75, IntToStr(HeroSprite->Combo) + "Hit!");
    Canvas()->Release();
  }
  DXSpriteEngine1->Draw();
  if (WaitingToStart && HeroSprite != nullptr) {
    // The gauge fills while "Ready" and "Go" show; the music waits for it.
    HeroSprite->SetPower(HeroSprite->Power + 6.5);
    if (HeroSprite->Power >= 344) {
      DrawPicture("Go", 130, 90);
    } else {
      DrawPicture("Ready", 100, 100);
    }
  }
  DrawHud();
  TDirectDrawSurfaceCanvas* c = Canvas();
  c->Pen()->SetColor(clBlack);
  c->Pen()->SetWidth(3);
  c->MoveTo(0, ClientHeight() - 50);
  c->LineTo(ClientWidth(), ClientHeight() - 50);
  c->Release();
  DXDraw1->Flip();
}

void TForm1::DrawHud() {
  const int h = DXDraw1->Height();
  TPictureCollectionItem* meter = DXImageList1->Items()->Find("Meter");
  const int b = (50 - meter->Height()) / 2;
  meter->Draw(Screen(), 50, h - 50 + b, 0);
  THeroSprite* hero = HeroSprite;
  if (hero == nullptr) return;
  hero->ShownPower = (hero->ShownPower + hero->Power) * 0.5;
  const int r =
      static_cast<int>(std::clamp<std::int64_t>(Round(hero->ShownPower), -100000, 100000));
  const bool healthy = hero->ShownPower > 70;
  TDirectDrawSurfaceCanvas* c = Canvas();
  c->Brush()->SetColor(healthy ? TColor(0x00FF00) : TColor(0x0000FF));
  c->FillRect(TRect{51, h - 50 + b + 1, 51 + r, h - b - 2});
  c->Brush()->SetColor(healthy ? TColor(0xB0FFB0) : TColor(0xB0B0FF));
  c->FillRect(TRect{51, h - 50 + b + 4, 51 + r, h - b - 6});
  // The dash count turns red when only one dash is left before the limit.
  if (hero->DashCount > 8) c->Font()->SetColor(TColor(0x0000FF));
  Text(5, h - 50 + b, 10, IntToStr(hero->DashCount) + "/" + "10");
  c->Font()->SetColor(clBlack);
}

void TForm1::CheckPlayEnd() {
  if (HeroSprite == nullptr) {
    GameMode = 4;
  } else if (ButtonHold[0] > 50 && ButtonHold[1] > 50) {
    // Both buttons held: give up and go back to the title.
    GameMode = 1;
    ClearAllButHero();
    HeroSprite->Reset();
    MediaPlayer1->Stop();
  } else if (DXSpriteEngine1->Engine()->Count() == 1) {
    // Bosses, bullets and notes are all gone: the stage is won.
    GameMode = 5;
    ClearAllButHero();
    HeroSprite->Reset();
  }
}

// --- Continue -----------------------------------------------------------------------------------

void TForm1::ContinueFrame() {
  MediaPlayer1->Stop();
  RespawnHero();
  const int y = StickY();
  if (y < 0) ContinueCursor = 1;
  if (y > 0) ContinueCursor = 2;
  DrawContinue();
}

void TForm1::RespawnHero() {
  if (HeroSprite != nullptr) return;
  // The new hero appears once the old one's debris has flown away; the stage goes with it.
  if (!AnyRuin()) {
    TSpriteEngine* e = DXSpriteEngine1->Engine();
    for (int i = 0; i < e->Count(); ++i) e->Items(i)->Dead();
    HeroSprite = new THeroSprite(e);
  }
  DXSpriteEngine1->Dead();
}

void TForm1::DrawContinue() {
  if (HeroSprite == nullptr) {
    // The debris still flies over the stage.
    DrawPlayScreen();
    ContinueCursor = 1;
  } else {
    ClearScreen();
    Text(80, 50, 40, "Continue?");
    HeroSprite->X = 95;
    HeroSprite->Y = ContinueCursor * 50 + 118;
    static const char* const kChoices[] = {"Yes", "No"};
    for (int i = 1; i <= 2; ++i) {
      Text(120, i * 50 + 100, 25, kChoices[i - 1]);
      if (i != ContinueCursor || !Pressed(0)) continue;
      if (i == 1) {
        StartStage();
      } else {
        GameMode = 1;
      }
      PlaySound("Snare");
    }
    Canvas()->Release();
  }
  DXSpriteEngine1->Move(1);
  DXSpriteEngine1->Draw();
  DXDraw1->Flip();
}

// --- Ending -------------------------------------------------------------------------------------

void TForm1::EndingFrame() {
  DrawCredits();
  AdvanceCredits();
}

void TForm1::DrawCredits() {
  static const char* const kRoles[] = {"Producer",     "Director",      "GameDesign",
                                       "Art Director", "Tools Program", "Illustration"};
  ClearScreen();
  const int x = CreditsScroll * 5;
  Text(x, 200, 30, "\"iMorvane\"");
  for (int k = 1; k <= 6; ++k) {
    Text(x - 500 * k, 200, 20, kRoles[k - 1]);
    Text(x - 500 * k, 250, 20, "Venholt");
  }
  Text(50, 50, 80, "You Win!");
  Text(50, 300, 20, "Thanks for playing!!");
  Canvas()->Release();
  TPictureCollectionItem* dravik = DXImageList1->Items()->Find("Dravik");
  dravik->Draw(Screen(), ClientWidth() - dravik->Width(), ClientHeight() - dravik->Height(), 0);
  DXDraw1->Flip();
}

void TForm1::AdvanceCredits() {
  // Holding button 0 scrolls three times as fast and may leave once the last name is gone.
  const bool held = ButtonHold[0] > 0;
  CreditsScroll = CreditsScroll + 1;
  if (held) CreditsScroll = CreditsScroll + 2;
  if ((held && ClientWidth() < CreditsScroll * 5 - 3000) ||
      ClientWidth() < CreditsScroll * 5 - 4000) {
    GameMode = 2;
    CreditsScroll = 0;
  }
}
