// The program's command line and standard streams, and the console a
// double-click on Windows opens. Texts are UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace os {

// The program's arguments as UTF-8, the program's name first (Windows: from
// GetCommandLineW, whatever the console's code page).
std::vector<std::string> CommandLine(int argc, char** argv);

enum class Stream { Out, Err };

// Writes UTF-8 text: to a Windows console as UTF-16, elsewhere as bytes.
void Write(Stream stream, std::string_view text);
// Whether the stream is a terminal (a console on Windows).
bool IsTerminal(Stream stream);

// The error of the first write to standard output that failed (a closed
// pipe, a full disk), or 0. Once one has failed, standard output is written
// no more.
Dword OutputError();

// The console as a prompt and a wait for Enter see it. The functions are
// pointers so that a test can put its own in their place.
struct Console {
  // Whether the console is the program's own (no other process shares it,
  // as when Explorer started the program) and both standard input and
  // standard output are that console. Always false on POSIX systems.
  bool (*isOwn)();
  // Reads one line of standard input as UTF-8, without its line end. False
  // at the end of input or on an error.
  bool (*readLine)(std::string* line);
  // Waits until Enter is pressed.
  void (*waitForEnter)();
};
// The process's console functions; a test may replace them.
Console& TheConsole();

// Windows: waits for Enter when the console is the program's own (started
// from Explorer) and its input is not redirected. Elsewhere nothing.
void WaitForEnterIfOwnConsole();

}  // namespace os
