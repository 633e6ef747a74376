#include "platform/timer/MMSystem.h"

#include <algorithm>
#include <vector>

#include "platform/backend/Backend.h"

namespace {
std::vector<UINT>& Periods() {
  static std::vector<UINT> periods;
  return periods;
}
}  // namespace

DWORD timeGetTime() { return backend::Backend::Current().Milliseconds(); }

MMRESULT timeBeginPeriod(UINT uPeriod) {
  if (uPeriod == 0) return TIMERR_NOCANDO;
  Periods().push_back(uPeriod);
  return TIMERR_NOERROR;
}

MMRESULT timeEndPeriod(UINT uPeriod) {
  auto& p = Periods();
  auto it = std::find(p.begin(), p.end(), uPeriod);
  if (it == p.end()) return TIMERR_NOCANDO;
  p.erase(it);
  return TIMERR_NOERROR;
}

void Sleep(DWORD dwMilliseconds) { backend::Backend::Current().Sleep(dwMilliseconds); }

int ActiveTimePeriods() { return static_cast<int>(Periods().size()); }
