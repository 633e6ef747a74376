// The editor in a real window, for looking at it (under Xvfb: xvfb-run -s "-screen 0 1024x768x24"
// and `import -window root shot.png`). With a chart name as argument the file dialog is answered
// with that chart of the Score folder after a second; with "close" as second argument the window
// is asked to close two seconds later, so the closing question shows over the lane.
#include <string>

#include "assets/StoredForms.h"
#include "editor/Main.h"
#include "platform/forms/Dialogs.h"
#include "platform/forms/Forms.h"
#include "platform/forms/Windows.h"
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
  const bool close = argc > 2 && std::string(argv[2]) == "close";
  bool asked = false;
  Application->OnIdle = [&](TObject*, bool&) {
    if (close && !asked && Tessaly::Score != nullptr && timeGetTime() - start > 3000) {
      asked = true;
      PostMessage(Tessaly::Form1->Handle(), WM_CLOSE, 0, 0);
    }
  };
  Application->Initialize();
  Application->SetTitle("Quilletエディター");
  RegisterEditorFormResource();
  Application->CreateForm(Tessaly::Form1);
  Application->Run();
  return 0;
}
