// ProjectMorvane: the game's program. Everything lives in the window its stored form builds.
#include "game/Main.h"

#include "assets/StoredForms.h"

int main() {
  RegisterGameFormResource();
  Application->Initialize();
  Application->SetTitle("iMorvane");
  try {
    Application->CreateForm(Form1);
  } catch (Exception& E) {
    // Without its window (no display, no sound device...) the game cannot run: say why.
    Application->ShowException(&E);
    return 1;
  }
  Application->Run();
  Application->DestroyComponents();
  return 0;
}
