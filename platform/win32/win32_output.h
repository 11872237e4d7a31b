// Standard output on Windows is gathered and written in pieces (see
// win32_console.cpp); what else in the back-end ends the process or waits
// has it written first.
#pragma once

namespace os::win32 {

// Writes what standard output has gathered.
void FlushOutput();

// From now on every write goes out at once: the program is about to wait
// for events (a watch), and what it wrote must be seen meanwhile.
void OutputWaits();

}  // namespace os::win32
