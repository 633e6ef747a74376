#include "platform/forms/AppEvnts.h"

#include <algorithm>

namespace {
// Stored forms name it.
const bool registered = [] {
  RegisterClass<TApplicationEvents>("TApplicationEvents");
  return true;
}();
}  // namespace

TApplicationEvents::TApplicationEvents(TComponent* AOwner) : TComponent(AOwner) {
  if (Application != nullptr) Application->FEvents.push_back(this);
}

TApplicationEvents::~TApplicationEvents() {
  if (Application != nullptr) std::erase(Application->FEvents, this);
}

void TApplicationEvents::DefineProperties(TPropertyDefs& P) {
  TComponent::DefineProperties(P);
  P.Event("OnActivate", OnActivate);
  P.Event("OnDeactivate", OnDeactivate);
  P.Event("OnException", OnException);
  P.Event("OnIdle", OnIdle);
}
