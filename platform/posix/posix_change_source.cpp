// Change notifications on Linux: one inotify watch per folder. A wait
// blocks in ppoll with the interrupt signals let through only there, so
// that a signal arriving just before the wait still ends it, and nothing
// runs while nothing changes.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <unordered_map>

#include "platform/change_source.h"
#include "platform/posix/posix_internal.h"
#include "platform/process_control.h"

namespace os {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string SettingValue(const char* file) {
  std::ifstream in(file);
  std::string value;
  in >> value;
  return value.empty() ? std::string("?") : value;
}

std::string LimitProblem(const char* setting, const char* file, const char* what) {
  return std::string("the system's limit of ") + what + " is reached (" + setting + " = " +
         SettingValue(file) + "); raise it, e.g. sudo sysctl " + setting +
         "=524288, and start the watch again";
}

// Whether folder is base or lies beneath it.
bool Beneath(const std::string& folder, const std::string& base) {
  if (base.empty()) return true;
  return folder.compare(0, base.size(), base) == 0 &&
         (folder.size() == base.size() || folder[base.size()] == '\\');
}

class InotifySource final : public ChangeSource {
 public:
  InotifySource(int fd, std::string top) : fd_(fd), top_(std::move(top)) {}
  ~InotifySource() override { close(fd_); }

  const ChangeTraits& Traits() const override {
    static const ChangeTraits traits{};
    return traits;
  }

  WatchStart Watch(const std::string& folder, std::string* problem) override {
    if (byFolder_.count(folder) != 0) return WatchStart::Known;
    std::string path = top_;
    if (!folder.empty()) {
      path.push_back('/');
      path.append(posix::ToPosixPath(folder.c_str()));
    }
    const int wd = inotify_add_watch(fd_, path.c_str(), kWatchMask);
    if (wd < 0) {
      // Gone, or a link or file in its place: its parent's changes tell.
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return WatchStart::Gone;
      if (errno == ENOSPC) {
        *problem = LimitProblem("fs.inotify.max_user_watches",
                                "/proc/sys/fs/inotify/max_user_watches", "inotify watches");
        return WatchStart::Limit;
      }
      *problem = std::strerror(errno);
      return WatchStart::Failed;
    }
    // The same folder under an older name (moved while it was watched).
    const auto known = byWd_.find(wd);
    if (known != byWd_.end()) byFolder_.erase(known->second);
    byWd_[wd] = folder;
    byFolder_[folder] = wd;
    return WatchStart::Started;
  }

  void Unwatch(const std::string& folder) override {
    // Names that begin alike lie together ("a", "a b", "a\c"), a sub-tree
    // among them.
    for (auto it = byFolder_.lower_bound(folder);
         it != byFolder_.end() && it->first.compare(0, folder.size(), folder) == 0;) {
      if (!Beneath(it->first, folder)) {
        ++it;
        continue;
      }
      inotify_rm_watch(fd_, it->second);
      byWd_.erase(it->second);
      it = byFolder_.erase(it);
    }
  }

  ChangeWait Wait(int timeoutMilliseconds, std::vector<RawChange>* changes,
                  std::string* problem) override {
    switch (Block(timeoutMilliseconds)) {
      case Woken::Interrupt: return ChangeWait::Interrupted;
      case Woken::Timeout: return ChangeWait::TimedOut;
      case Woken::Events: break;
    }
    return ReadEvents(changes, problem) ? ChangeWait::Changes : ChangeWait::Failed;
  }

  bool StartOver(std::string*) override { return true; }

 private:
  enum class Woken { Events, Timeout, Interrupt };

  Woken Block(int timeoutMilliseconds) {
    // The interrupt signals are held back from the test to ppoll, and let
    // through only while it waits: one that came just before the wait ends
    // it at once rather than being missed until the next event.
    sigset_t interrupts, old;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&interrupts, signal);
    sigprocmask(SIG_BLOCK, &interrupts, &old);
    if (Interrupted()) {
      sigprocmask(SIG_SETMASK, &old, nullptr);
      return Woken::Interrupt;
    }
    pollfd poll{fd_, POLLIN, 0};
    timespec timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000000L};
    const int ready = ppoll(&poll, 1, timeoutMilliseconds < 0 ? nullptr : &timeout, &old);
    const int error = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (ready < 0) return error == EINTR && Interrupted() ? Woken::Interrupt : Woken::Timeout;
    return ready == 0 ? Woken::Timeout : Woken::Events;
  }

  // Reads what is queued. False, with *problem set, when the source broke.
  bool ReadEvents(std::vector<RawChange>* changes, std::string* problem) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return true;
        *problem = std::strerror(errno);
        return false;
      }
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        Take(*event, changes);
      }
    }
  }

  void Take(const inotify_event& event, std::vector<RawChange>* changes) {
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
      changes->push_back({ChangeKind::Lost, "", ""});
      return;
    }
    const auto known = byWd_.find(event.wd);
    if (known == byWd_.end()) return;
    const std::string folder = known->second;
    if ((event.mask & IN_IGNORED) != 0) {
      byFolder_.erase(folder);
      byWd_.erase(known);
      changes->push_back({ChangeKind::FolderGone, folder, ""});
      return;
    }
    if ((event.mask & IN_DELETE_SELF) != 0) {
      changes->push_back({ChangeKind::FolderGone, folder, ""});
      return;
    }
    if ((event.mask & IN_MOVE_SELF) != 0) {
      changes->push_back({ChangeKind::FolderMoved, folder, ""});
      return;
    }
    if (event.len == 0) return;
    RawChange change{ChangeKind::Modified, folder, event.name,
                     (event.mask & IN_ISDIR) != 0 ? EntryKind::Folder : EntryKind::File,
                     event.cookie};
    if ((event.mask & IN_CREATE) != 0) {
      change.kind = ChangeKind::Created;
    } else if ((event.mask & IN_DELETE) != 0) {
      change.kind = ChangeKind::Removed;
    } else if ((event.mask & IN_MOVED_FROM) != 0) {
      change.kind = ChangeKind::RenamedFrom;
    } else if ((event.mask & IN_MOVED_TO) != 0) {
      change.kind = ChangeKind::RenamedTo;
    } else if ((event.mask & IN_ATTRIB) != 0) {
      change.kind = ChangeKind::AttributesChanged;
    }
    changes->push_back(std::move(change));
  }

  int fd_;
  std::string top_;  // POSIX path
  std::unordered_map<int, std::string> byWd_;
  std::map<std::string, int> byFolder_;  // ordered: a sub-tree is a range
};

}  // namespace

void WakeChangeWait() {}

std::unique_ptr<ChangeSource> OpenChangeSource(const std::string& topFullPath,
                                               std::string* problem, bool* limit) {
  *limit = false;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE) {
      *limit = true;
      *problem = LimitProblem("fs.inotify.max_user_instances",
                              "/proc/sys/fs/inotify/max_user_instances", "inotify instances");
    } else {
      *problem = std::strerror(errno);
    }
    return nullptr;
  }
  std::string top = posix::ToPosixPath(topFullPath.c_str());
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  return std::make_unique<InotifySource>(fd, std::move(top));
}

}  // namespace os
