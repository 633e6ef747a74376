// A component that puts the application's events on a form: its OnIdle and OnException are run
// by the application's loop (every such component's, in the order they were made).
#pragma once

#include "platform/forms/Forms.h"

class TApplicationEvents : public TComponent {
 public:
  explicit TApplicationEvents(TComponent* AOwner);
  ~TApplicationEvents() override;

  TIdleEvent OnIdle;
  TExceptionEvent OnException;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;

  void DefineProperties(TPropertyDefs& P) override;
};
