// The words the system has for one of its errors.
#pragma once

#include <string>

#include "platform/platform.h"

namespace os {

// The system's own text for a Win32 error, as a sentence without its final
// period (Windows: its message table, in English where it has that); "" when
// it has none. The POSIX back-end, which turns each errno into a Win32
// number, has a text for each number it gives.
std::string SystemErrorText(Dword error);

}  // namespace os
