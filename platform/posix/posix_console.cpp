// A POSIX terminal is never a console of the program's own: the tree tool
// never prompts or waits there. Reading a line serves tests and is plain.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/tree_os.h"

namespace os::tree {
namespace {

bool NeverOwn() { return false; }

bool ReadStandardInputLine(std::string* line) {
  line->clear();
  bool any = false;
  char c = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') break;
    line->push_back(c);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

void WaitForEnterKey() {
  std::string ignored;
  ReadStandardInputLine(&ignored);
}

}  // namespace

Console& TheConsole() {
  static Console console{NeverOwn, ReadStandardInputLine, WaitForEnterKey};
  return console;
}

}  // namespace os::tree
