#include "framework/graphics/DXForm.h"

int LiveFormCount = 0;

TDXForm::TDXForm(TComponent* AOwner) : TForm(AOwner) {
  ++LiveFormCount;
  const HWND app = Application->Handle();
  SetWindowLong(app, GWL_EXSTYLE, GetWindowLong(app, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
}

TDXForm::~TDXForm() {
  --LiveFormCount;
  if (LiveFormCount == 0) {
    const HWND app = Application->Handle();
    SetWindowLong(app, GWL_EXSTYLE, GetWindowLong(app, GWL_EXSTYLE) & ~WS_EX_TOOLWINDOW);
  }
}

void TDXForm::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  Params.ExStyle |= WS_EX_APPWINDOW;
}

void TDXForm::Dispatch(TMessage& Message) {
  if (Message.Msg == WM_SYSCOMMAND && Message.WParam == SC_MINIMIZE) {
    // The form's own window is minimised, not the application.
    DefaultHandler(Message);
    SetWindowState(wsMinimized);
    return;
  }
  TForm::Dispatch(Message);
}
