// Where a saved placement of the window lands: on the monitor it was left
// on, at the same size in that monitor's units, whatever DPI it was saved
// at; onto the nearest monitor when it lands on none (one since removed).
#pragma once

#include <windows.h>

namespace window {

// The DPI of a monitor (the system's where Windows cannot tell it per
// monitor).
UINT MonitorDpi(HMONITOR monitor);

// rect, saved at savedDpi (0: not known, kept as it is), as it is to be
// restored now.
RECT Landed(RECT rect, UINT savedDpi);

}  // namespace window
