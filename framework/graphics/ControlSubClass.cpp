#include "framework/graphics/ControlSubClass.h"

void TControlSubClass::Forwarder::operator()(TMessage& Message) const {
  // Copies: the handler may free its own hook (and with it this forwarder) while it runs.
  std::shared_ptr<State> s = S;
  TWndMethod next = s->Default;
  if (s->Active) {
    TControlSubClassProc handler = s->Handler;
    handler(Message, next);
  } else if (next) {
    next(Message);
  }
}

TControlSubClass::TControlSubClass(TControl* Control, TControlSubClassProc Handler)
    : FControl(Control), FControlAlive(Control->AliveToken()), FState(std::make_shared<State>()) {
  FState->Handler = std::move(Handler);
  FState->Default = Control->WindowProc;
  Control->WindowProc = Forwarder{FState};
}

TControlSubClass::~TControlSubClass() {
  FState->Active = false;
  if (!*FControlAlive) return;
  // Walk the chain from the control down to this hook's forwarder.
  TWndMethod* link = &FControl->WindowProc;
  while (link != nullptr && *link) {
    const Forwarder* f = link->target<Forwarder>();
    if (f == nullptr) return;  // somebody else's procedure: the chain is not ours to mend
    if (f->S == FState) {
      *link = FState->Default;
      return;
    }
    link = &f->S->Default;
  }
}
