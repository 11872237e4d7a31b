// The whole-tree tool's operating-system needs on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix/posix_internal.h"
#include "platform/tree_os.h"
#include "platform/tree_watch.h"

namespace os::tree {
namespace {

volatile sig_atomic_t g_signal = 0;

void OnSignal(int signal) { g_signal = signal; }

int Descriptor(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

Dword g_outputError = 0;

Dword OutputErrorOf(int error) {
  switch (error) {
    case EPIPE: return 109;  // ERROR_BROKEN_PIPE
    case EFBIG: return 223;  // ERROR_FILE_TOO_LARGE
    default: return posix::ErrorFromErrno(error, std::string_view());
  }
}

}  // namespace

std::vector<std::string> CommandLine(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void Write(Stream stream, std::string_view text) {
  const int fd = Descriptor(stream);
  if (stream == Stream::Out && g_outputError != 0) return;
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
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

bool ProcessRuns(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT_MAX)) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)) == 1; }

bool FullPath(const std::string& path, std::string* full, Dword* error) {
  // The path as the user gave it: a POSIX path, whose '\\' is part of a name.
  const std::string& p = path;
  if (p.empty()) {
    *error = kErrorPathNotFound;
    return false;
  }
  char* resolved = realpath(p.c_str(), nullptr);
  if (resolved == nullptr) {
    *error = posix::ErrorFromErrno(errno, p);
    return false;
  }
  // The seam's paths are '\\'-separated: a real path holding '\\' would
  // name another folder once converted.
  if (std::strchr(resolved, '\\') != nullptr) {
    std::free(resolved);
    *error = posix::kErrorInvalidName;
    return false;
  }
  *full = posix::ToWindowsPath(resolved);
  std::free(resolved);
  return true;
}

// A POSIX file cannot be marked to go with the process: temporary files are
// closed once written and removed by the program itself.
bool TemporaryStaysOpen() { return false; }
Dword TemporaryAccess() { return kGenericWrite; }
bool MarkForDeletion(Handle, bool) { return false; }
bool ReplaceByHandle(Handle, const std::string&, Dword* error) {
  *error = posix::kErrorInvalidFunction;
  return false;
}

size_t SyncBatchSize() { return 512; }

void WatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // A closed pipe (SIGPIPE: `modmanifest-tree -v | head`) and SIGQUIT end
  // the run as Ctrl-C does, once its temporary files are gone.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) sigaction(signal, &action, nullptr);
  posix::IgnoreFileSizeSignal();
}

bool Interrupted() { return g_signal != 0; }

void EndInterrupted() {
  const int signal = g_signal != 0 ? g_signal : SIGTERM;
  if (InterruptEndsWatchNow() && (signal == SIGINT || signal == SIGTERM || signal == SIGHUP)) _exit(0);
  // Ended by the signal itself, so that a shell sees why.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);
}

void WaitForEnterIfOwnConsole() {}

double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void SleepMilliseconds(unsigned milliseconds) {
  timespec t{static_cast<time_t>(milliseconds / 1000),
             static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

}  // namespace os::tree
