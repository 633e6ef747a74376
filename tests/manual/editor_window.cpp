// The editor in a real window, for looking at it (under Xvfb: xvfb-run -s "-screen 0 1024x768x24"
// and `import -window root shot.png`). With a chart name as argument the file dialog is answered
// with that chart of the Score folder after a second; with a second argument the editor starts
// recording and taps the drums every half second, so the lane fills.
#include <string>

#include "assets/StoredForms.h"
#include "editor/Main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/timer/MMSystem.h"

int main(int argc, char** argv) {
  const std::string chart = argc > 1 ? argv[1] : "";
  const DWORD start = timeGetTime();
  if (!chart.empty()) {
    OnModalDialogPass = [&](TModalDialog& d) {
      auto* open = dynamic_cast<TOpenDialogBox*>(&d);
      if (open == nullptr || timeGetTime() - start < 1000) return;
      open->SetFileNameText(chart);
      open->Accept();
    };
  }
  Application->Initialize();
  Application->SetTitle("Quilletエディター");
  RegisterEditorFormResource();
  Application->CreateForm(Tessaly::Form1);
  Application->Run();
  return 0;
}
