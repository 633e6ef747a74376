// The multimedia timer and the thread sleep the programs pace their frames with, over the
// backend's clock (the virtual clock under test).
#pragma once

#include "platform/win/WinTypes.h"

using MMRESULT = UINT;
constexpr MMRESULT TIMERR_NOERROR = 0;
constexpr MMRESULT TIMERR_NOCANDO = 97;

// Milliseconds since an arbitrary start; wraps at 2^32.
DWORD timeGetTime();
// Timer resolution requests. Our clock is always millisecond-exact, so these only keep the
// books: every begin must be matched by an end with the same period.
MMRESULT timeBeginPeriod(UINT uPeriod);
MMRESULT timeEndPeriod(UINT uPeriod);
// Gives up the thread for `dwMilliseconds`; 0 only yields.
void Sleep(DWORD dwMilliseconds);

// Periods requested and not yet released (for tests).
int ActiveTimePeriods();
