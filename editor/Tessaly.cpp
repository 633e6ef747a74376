// Tessaly, the chart editor.
#include "editor/Main.h"

#include "assets/StoredForms.h"
#include "platform/forms/Forms.h"

int main() {
  Application->Initialize();
  Application->SetTitle("Quilletエディター");
  RegisterEditorFormResource();
  Application->CreateForm(Tessaly::Form1);
  Application->Run();
  return 0;
}
