// The whole-tree tool's operating-system needs on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <set>

#include "platform/posix/posix_internal.h"
#include "platform/tree_os.h"

namespace os::tree {
namespace {

volatile sig_atomic_t g_signal = 0;

void OnSignal(int signal) { g_signal = signal; }

int Descriptor(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

// One syncfs for each file system the paths live on; false on the first that
// fails (syncfs reports write-back errors since Linux 5.8).
bool SyncFileSystems(const std::vector<std::string>& paths) {
  std::set<dev_t> done;
  bool ok = true;
  for (const std::string& path : paths) {
    const std::string p = posix::ToPosixPath(path.c_str());
    struct stat st;
    if (stat(p.c_str(), &st) != 0) {
      ok = false;
      continue;
    }
    if (done.count(st.st_dev) != 0) continue;
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || syncfs(fd) != 0) ok = false;
    if (fd >= 0) close(fd);
    done.insert(st.st_dev);
  }
  return ok;
}

}  // namespace

std::vector<std::string> CommandLine(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void Write(Stream stream, std::string_view text) {
  const int fd = Descriptor(stream);
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed pipe or full disk: nothing more to say it with
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)) == 1; }

bool FullPath(const std::string& path, std::string* full, Dword* error) {
  const std::string p = posix::ToPosixPath(path.c_str());
  if (p.empty()) {
    *error = kErrorPathNotFound;
    return false;
  }
  char* resolved = realpath(p.c_str(), nullptr);
  if (resolved == nullptr) {
    *error = posix::ErrorFromErrno(errno, p);
    return false;
  }
  *full = posix::ToWindowsPath(resolved);
  std::free(resolved);
  return true;
}

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(posix::ToPosixPath(path.c_str()).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Dword ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  const std::string p = posix::ToPosixPath(path.c_str());
  // No lock is taken: reading must not stand in the way of a concurrent
  // run's replace.
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return posix::ErrorFromErrno(errno, p);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return kErrorAccessDenied;
  }
  bytes->reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const Dword error = posix::ErrorFromErrno(errno, p);
      close(fd);
      return error;
    }
    if (n == 0) break;
    bytes->append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return 0;
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

bool SyncFiles(const std::vector<std::string>& paths) { return SyncFileSystems(paths); }

size_t SyncBatchSize() { return 512; }

void SyncFolders(const std::vector<std::string>& folders) { SyncFileSystems(folders); }

void WatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool Interrupted() { return g_signal != 0; }

void EndInterrupted() {
  const int signal = g_signal != 0 ? g_signal : SIGTERM;
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
