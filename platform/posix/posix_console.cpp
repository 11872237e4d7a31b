// The command line, the standard streams and the console on POSIX systems.
// A POSIX terminal is never a console of the program's own: a program never
// prompts or waits there as on a console Explorer opened. Reading a line serves tests and is plain.
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/console.h"
#include "platform/folder_access.h"
#include "platform/posix/posix_internal.h"
#include "platform/process_control.h"

namespace os {
namespace {

Dword g_outputError = 0;

int Descriptor(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

Dword OutputErrorOf(int error) {
  switch (error) {
    case EPIPE: return kErrorBrokenPipe;
    case EFBIG: return kErrorFileTooLarge;
    default: return posix::ErrorFromErrno(error, std::string_view());
  }
}

// Whether fd takes a write now, without waiting.
bool WritableNow(int fd) {
  pollfd p{fd, POLLOUT, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0;
}

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

std::vector<std::string> CommandLine(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void Write(Stream stream, std::string_view text) {
  const int fd = Descriptor(stream);
  if (stream == Stream::Out && g_outputError != 0) return;
  while (!text.empty()) {
    // Once interrupted, the run ends as soon as it can: what the output does
    // not take at once (a reader that has stopped) is dropped, never waited
    // for. Up to PIPE_BUF bytes go into a pipe that polls writable.
    size_t chunk = text.size();
    if (Interrupted()) {
      if (!WritableNow(fd)) return;
      chunk = std::min<size_t>(chunk, PIPE_BUF);
    }
    const ssize_t n = write(fd, text.data(), chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A closed pipe or a full disk. Standard error has nothing left to
      // say it with; a failed standard output ends the run.
      if (stream == Stream::Out) g_outputError = OutputErrorOf(errno);
      return;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

Dword OutputError() { return g_outputError; }

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)) == 1; }

void WaitForEnterIfOwnConsole() {}

}  // namespace os
