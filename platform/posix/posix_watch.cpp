// The tree watch on Linux: one inotify watch per folder the walk visits.
// A wait blocks in ppoll with the interrupt signals let through only there,
// so that a signal arriving just before the wait still ends it, and nothing
// runs while nothing changes.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/posix/posix_internal.h"
#include "platform/folder_access.h"
#include "platform/process_control.h"
#include "platform/tree_watch.h"

namespace os::tree {
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

class InotifyWatch final : public TreeWatch {
 public:
  InotifyWatch(int fd, std::string root, WatchOptions options)
      : fd_(fd), root_(std::move(root)), options_(std::move(options)) {}
  ~InotifyWatch() override { close(fd_); }

  bool Add(const std::string& folder, std::string* problem, bool* limit) override {
    *limit = false;
    if (byFolder_.count(folder) != 0) return true;
    std::string path = root_;
    if (!folder.empty()) {
      path.push_back('/');
      path.append(posix::ToPosixPath(folder.c_str()));
    }
    const int wd = inotify_add_watch(fd_, path.c_str(), kWatchMask);
    if (wd < 0) {
      // Gone, or a link or file in its place: its parent's events tell.
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return true;
      if (errno == ENOSPC) {
        *limit = true;
        *problem = LimitProblem("fs.inotify.max_user_watches",
                                "/proc/sys/fs/inotify/max_user_watches", "inotify watches");
      } else {
        *problem = std::strerror(errno);
      }
      return false;
    }
    // The same folder under an older name (moved while it was watched).
    const auto known = byWd_.find(wd);
    if (known != byWd_.end()) byFolder_.erase(known->second);
    byWd_[wd] = folder;
    byFolder_[folder] = wd;
    if (waited_) AddChange(&pending_, {folder, true});
    return true;
  }

  void Forget(const std::string& folder) override {
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

  std::vector<std::string> Watched(const std::string& folder) const override {
    std::vector<std::string> watched;
    for (auto it = byFolder_.lower_bound(folder);
         it != byFolder_.end() && it->first.compare(0, folder.size(), folder) == 0; ++it) {
      if (Beneath(it->first, folder)) watched.push_back(it->first);
    }
    return watched;
  }

  WatchWait Wait(WatchBatch* batch, std::string* problem) override {
    waited_ = true;
    Gathering gathering;
    for (;;) {
      int timeout = -1;
      if (rescan_ || !pending_.empty()) {
        const unsigned left = gathering.MillisecondsLeft();
        if (left == 0) break;
        timeout = static_cast<int>(left);
      }
      switch (Block(timeout)) {
        case Woken::Interrupt: return WatchWait::Interrupted;
        case Woken::Timeout: continue;
        case Woken::Events: break;
      }
      std::string failure;
      const int relevant = ReadEvents(&failure);
      if (relevant < 0) {
        *problem = failure;
        return WatchWait::Failed;
      }
      if (relevant > 0) gathering.Noted();
    }
    HandOut(batch, &pending_, &rescan_);
    // A rename's two events are queued together: a cookie left over belongs
    // to a temporary file moved out of the tree.
    ownRenames_.clear();
    return WatchWait::Changes;
  }

 private:
  enum class Woken { Events, Timeout, Interrupt };

  static bool Beneath(const std::string& folder, const std::string& base) {
    if (base.empty()) return true;
    return folder.compare(0, base.size(), base) == 0 &&
           (folder.size() == base.size() || folder[base.size()] == '\\');
  }

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

  // Reads what is queued: the number of events that may change a manifest,
  // or -1 with *failure set when the watch broke.
  int ReadEvents(std::string* failure) {
    alignas(inotify_event) char buffer[64 * 1024];
    int relevant = 0;
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return relevant;
        *failure = std::strerror(errno);
        return -1;
      }
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        const int outcome = Take(*event, failure);
        if (outcome < 0) return -1;
        relevant += outcome;
      }
    }
  }

  bool IsManifestName(std::string_view name) const {
    for (const std::string& manifest : options_.manifestNames) {
      if (name == manifest) return true;
    }
    return false;
  }

  // One event: 1 when it may change a manifest, 0 when not, -1 when the
  // watch cannot go on.
  int Take(const inotify_event& event, std::string* failure) {
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
      rescan_ = true;
      return 1;
    }
    const auto known = byWd_.find(event.wd);
    if (known == byWd_.end()) return 0;
    const std::string folder = known->second;
    if ((event.mask & IN_IGNORED) != 0) {
      byFolder_.erase(folder);
      byWd_.erase(known);
      if (folder.empty()) {
        *failure = "the folder was removed";
        return -1;
      }
      return 0;
    }
    if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
      // Below ROOT the parent's own event tells of it.
      if (!folder.empty()) return 0;
      *failure = (event.mask & IN_MOVE_SELF) != 0 ? "the folder was moved or renamed"
                                                  : "the folder was removed";
      return -1;
    }
    if (event.len == 0) return 0;
    const std::string_view name(event.name);
    if (IsToolTemporaryName(name)) {
      // Its rename into place is a manifest written by a tool, not a change.
      if ((event.mask & IN_MOVED_FROM) != 0) ownRenames_.insert(event.cookie);
      return 0;
    }
    if ((event.mask & IN_MOVED_TO) != 0 && ownRenames_.erase(event.cookie) != 0) return 0;
    // A name holding '\' is never visited nor included, and no relative
    // path could name it.
    const bool nameable = name.find('\\') == std::string_view::npos;
    if ((event.mask & IN_ISDIR) != 0) {
      if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
        AddChange(&pending_, {folder, false});
        if (nameable) AddChange(&pending_, {ChildFolder(folder, name), true});
        return 1;
      }
      if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
        AddChange(&pending_, {folder, false});
        if (nameable) Forget(ChildFolder(folder, name));
        return 1;
      }
      return 0;
    }
    const bool ignoreFile = !options_.ignoreFileName.empty() && name == options_.ignoreFileName;
    if ((event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0 ||
        ((event.mask & IN_CLOSE_WRITE) != 0 && (ignoreFile || IsManifestName(name)))) {
      AddChange(&pending_, {folder, ignoreFile});
      return 1;
    }
    return 0;
  }

  int fd_;
  std::string root_;  // POSIX path
  WatchOptions options_;
  std::unordered_map<int, std::string> byWd_;
  std::map<std::string, int> byFolder_;  // ordered: a sub-tree is a range
  std::vector<FolderChange> pending_;
  bool rescan_ = false;
  bool waited_ = false;
  std::set<uint32_t> ownRenames_;  // cookies of renames away from a temporary name
};

}  // namespace

void WakeTreeWatch() {}

std::unique_ptr<TreeWatch> OpenTreeWatch(const std::string& rootFullPath, std::string* problem,
                                         bool* limit, const WatchOptions& options) {
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
  std::string root = posix::ToPosixPath(rootFullPath.c_str());
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return std::make_unique<InotifyWatch>(fd, std::move(root), options);
}

}  // namespace os::tree
