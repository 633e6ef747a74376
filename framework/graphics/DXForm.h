// TDXForm: the base of both programs' main windows. The form window, not the application's own
// hidden window, is the one the taskbar shows and the one that is minimised.
#pragma once

#include "platform/forms/Forms.h"

class TDXForm : public TForm {
 public:
  explicit TDXForm(TComponent* AOwner);
  ~TDXForm() override;

  void Dispatch(TMessage& Message) override;

 protected:
  void CreateParams(TCreateParams& Params) override;
};

// Live TDXForm instances; the application's window has the tool-window style while above 0.
extern int LiveFormCount;
