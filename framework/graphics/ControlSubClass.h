// TControlSubClass: hooks a control's window procedure. Every message the control gets goes to
// the handler with the procedure that was in place before the hook, and the handler decides
// whether and when to pass it on.
#pragma once

#include <functional>
#include <memory>

#include "platform/forms/Controls.h"
#include "platform/rtl/Object.h"

using TControlSubClassProc = std::function<void(TMessage& Message, TWndMethod DefWindowProc)>;

class TControlSubClass : public TObject {
 public:
  TControlSubClass(TControl* Control, TControlSubClassProc Handler);
  // Takes the hook out of the control's chain. Hooks may go in any order: when others were
  // installed after this one, the one above it is re-linked to what this one passed on to, so
  // the rest of the chain stays whole. Once the control itself is gone, nothing is touched.
  ~TControlSubClass() override;

  TControl* Control() const { return FControl; }
  // The procedure this hook passes messages on to.
  const TWndMethod& DefaultWindowProc() const { return FState->Default; }

 private:
  // Shared with the forwarding procedure installed in the control, so a forwarder left behind
  // somewhere never reaches a freed hook: it only passes messages on.
  struct State {
    TControlSubClassProc Handler;
    TWndMethod Default;
    bool Active = true;
  };
  struct Forwarder {
    std::shared_ptr<State> S;
    void operator()(TMessage& Message) const;
  };
  TControl* FControl;
  std::shared_ptr<const bool> FControlAlive;
  std::shared_ptr<State> FState;
};
