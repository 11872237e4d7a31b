// Change notifications on Linux: one inotify watch per folder, added
// through the folder's open descriptor, and the mount table, which tells
// when a file system is mounted or unmounted. A wait blocks in ppoll with
// the interrupt signals let through only there, so that a signal arriving
// just before the wait still ends it, and nothing runs while nothing
// changes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/change_source.h"
#include "platform/mount_table.h"
#include "platform/posix/posix_internal.h"
#include "platform/process_control.h"

namespace os {
namespace {

// A file's bytes are reported at each write as well as when its writer
// closes it, so that an edit in place by any means is seen; permissions
// and times, so that a folder made readable again is looked at again.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF |
                                IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

std::string SettingValue(const char* file) {
  std::ifstream in(file);
  std::string value;
  in >> value;
  return value.empty() ? std::string("?") : value;
}

std::string LimitProblem(const char* setting, const char* file, const char* what,
                         const char* raised) {
  return std::string("the system's limit of ") + what + " is reached (" + setting + " = " +
         SettingValue(file) + "); raise it, e.g. sudo sysctl " + setting + "=" + raised +
         ", and start the watch again";
}

// Whether folder is base or lies beneath it.
bool Beneath(const std::string& folder, const std::string& base) {
  if (base.empty()) return true;
  return folder.compare(0, base.size(), base) == 0 &&
         (folder.size() == base.size() || folder[base.size()] == '\\');
}

// The mounts at or beneath a folder (its real path), as the mount table
// text lists them: what a mount or unmount elsewhere leaves alone.
std::vector<std::string> MountsBeneath(std::string_view table, const std::string& top) {
  std::vector<std::string> beneath;
  for (MountEntry& mount : ParseMountInfo(table)) {
    const std::string& at = mount.mountPoint;
    if (top.empty() || (at.compare(0, top.size(), top) == 0 &&
                        (at.size() == top.size() || at[top.size()] == '/'))) {
      beneath.push_back(std::to_string(mount.major) + ":" + std::to_string(mount.minor) + " " +
                        mount.fileSystem + " " + at);
    }
  }
  std::sort(beneath.begin(), beneath.end());
  return beneath;
}

class InotifySource final : public ChangeSource {
 public:
  InotifySource(int fd, int mounts, std::string top) : fd_(fd), mounts_(mounts), top_(std::move(top)) {
    if (mounts_ >= 0) beneath_ = MountsBeneath(ReadMounts(), top_);
  }
  ~InotifySource() override {
    close(fd_);
    if (mounts_ >= 0) close(mounts_);
  }

  const ChangeTraits& Traits() const override {
    static const ChangeTraits traits{};
    return traits;
  }

  WatchStart Watch(const std::string& folder, const FolderHandle& handle,
                   std::string* problem) override {
    if (byFolder_.count(folder) != 0) return WatchStart::Known;
    // Through the open descriptor: never through a link, and a path of any
    // length. Where /proc is missing, by the path, not following a link at
    // its end.
    int wd = inotify_add_watch(fd_, ("/proc/self/fd/" + std::to_string(handle.native())).c_str(),
                               kWatchMask);
    if (wd < 0 && errno == ENOENT) {
      wd = inotify_add_watch(fd_, posix::ToPosixPath(handle.path().c_str()).c_str(),
                             kWatchMask | IN_DONT_FOLLOW);
    }
    if (wd < 0) {
      // Gone, or a link or file in its place: its parent's changes tell.
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return WatchStart::Gone;
      if (errno == ENOSPC) {
        *problem = LimitProblem("fs.inotify.max_user_watches",
                                "/proc/sys/fs/inotify/max_user_watches", "inotify watches", "524288");
        return WatchStart::Limit;
      }
      *problem = std::strerror(errno);
      return WatchStart::Failed;
    }
    std::vector<std::string>& names = byWd_[wd];
    names.push_back(folder);
    byFolder_[folder] = wd;
    // The same folder by another path (a bind mount), or under an older
    // name (moved while it was watched): one watch serves them all.
    return names.size() == 1 ? WatchStart::Started : WatchStart::Known;
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
      const auto names = byWd_.find(it->second);
      if (names != byWd_.end()) {
        std::erase(names->second, it->first);
        if (names->second.empty()) {
          inotify_rm_watch(fd_, it->second);
          byWd_.erase(names);
        }
      }
      it = byFolder_.erase(it);
    }
  }

  ChangeWait Wait(int timeoutMilliseconds, std::vector<RawChange>* changes,
                  std::string* problem) override {
    switch (Block(timeoutMilliseconds)) {
      case Woken::Interrupt: return ChangeWait::Interrupted;
      case Woken::Timeout: return ChangeWait::TimedOut;
      case Woken::Mounts: {
        // Only a mount at or beneath the watched folder changes what it
        // holds; one elsewhere on the system means no work.
        std::vector<std::string> beneath = MountsBeneath(ReadMounts(), top_);
        if (beneath != beneath_) changes->push_back({ChangeKind::Lost, "", ""});
        beneath_ = std::move(beneath);
        return ChangeWait::Changes;
      }
      case Woken::Events: break;
    }
    return ReadEvents(changes, problem) ? ChangeWait::Changes : ChangeWait::Failed;
  }

  bool StartOver(std::string*) override { return true; }

 private:
  enum class Woken { Events, Mounts, Timeout, Interrupt };

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
    // The mount table reports a change as an exceptional condition.
    pollfd polls[2] = {{fd_, POLLIN, 0}, {mounts_, POLLPRI, 0}};
    timespec timeout{timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000000L};
    const int ready = ppoll(polls, mounts_ >= 0 ? 2 : 1,
                            timeoutMilliseconds < 0 ? nullptr : &timeout, &old);
    const int error = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (ready < 0) return error == EINTR && Interrupted() ? Woken::Interrupt : Woken::Timeout;
    if (ready == 0) return Woken::Timeout;
    if ((polls[0].revents & POLLIN) != 0) return Woken::Events;
    return Woken::Mounts;
  }

  // The mount table read again from the start, which also tells the kernel
  // that this change has been seen.
  std::string ReadMounts() {
    std::string text;
    char buffer[4096];
    lseek(mounts_, 0, SEEK_SET);
    for (ssize_t n; (n = read(mounts_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    return text;
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

  static ChangeKind KindOf(uint32_t mask) {
    if ((mask & IN_CREATE) != 0) return ChangeKind::Created;
    if ((mask & IN_DELETE) != 0) return ChangeKind::Removed;
    if ((mask & IN_MOVED_FROM) != 0) return ChangeKind::RenamedFrom;
    if ((mask & IN_MOVED_TO) != 0) return ChangeKind::RenamedTo;
    if ((mask & IN_ATTRIB) != 0) return ChangeKind::AttributesChanged;
    return ChangeKind::Modified;
  }

  // One event, reported for every path that reaches its folder.
  void Take(const inotify_event& event, std::vector<RawChange>* changes) {
    if ((event.mask & IN_Q_OVERFLOW) != 0) {
      changes->push_back({ChangeKind::Lost, "", ""});
      return;
    }
    const auto known = byWd_.find(event.wd);
    if (known == byWd_.end()) return;
    const std::vector<std::string> folders = known->second;
    if ((event.mask & IN_IGNORED) != 0) {
      for (const std::string& folder : folders) byFolder_.erase(folder);
      byWd_.erase(known);
    }
    for (const std::string& folder : folders) {
      if ((event.mask & IN_UNMOUNT) != 0) {
        changes->push_back({ChangeKind::FolderUnmounted, folder, ""});
      } else if ((event.mask & (IN_IGNORED | IN_DELETE_SELF)) != 0) {
        changes->push_back({ChangeKind::FolderGone, folder, ""});
      } else if ((event.mask & IN_MOVE_SELF) != 0) {
        changes->push_back({ChangeKind::FolderMoved, folder, ""});
      } else if (event.len != 0) {
        changes->push_back({KindOf(event.mask), folder, event.name,
                            (event.mask & IN_ISDIR) != 0 ? EntryKind::Folder : EntryKind::File,
                            event.cookie});
      }
    }
  }

  int fd_;
  int mounts_;  // /proc/self/mountinfo, or -1
  std::string top_;  // the watched folder's real path
  std::vector<std::string> beneath_;  // the mounts at or beneath it
  std::unordered_map<int, std::vector<std::string>> byWd_;
  std::map<std::string, int> byFolder_;  // ordered: a sub-tree is a range
};

// The mount table, read again when a device it does not list turns up, and
// after any mount or unmount: the next mount often gets the device number
// the last one had, and with it that one's type.
class MountTable {
 public:
  std::string TypeOf(dev_t device) {
    std::lock_guard lock(mutex_);
    if (Changed()) Read();
    for (int attempt = 0; attempt < 2; ++attempt) {
      for (const MountEntry& mount : mounts_) {
        if (mount.major == major(device) && mount.minor == minor(device)) return mount.fileSystem;
      }
      if (attempt == 0) Read();
    }
    return std::string();
  }

  // Whether the table could be read at the last look: a system always has
  // one mount at least, its root.
  bool Readable() {
    std::lock_guard lock(mutex_);
    return !mounts_.empty();
  }

 private:
  // Whether the mounts changed since the last look: the kernel marks an
  // open mount table with a priority event at each change.
  bool Changed() {
    if (changes_ < 0) {
      changes_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
      return true;
    }
    pollfd p{changes_, POLLPRI, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLPRI | POLLERR)) != 0;
  }

  void Read() {
    std::ifstream in("/proc/self/mountinfo");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    mounts_ = ParseMountInfo(text);
  }

  std::mutex mutex_;
  std::vector<MountEntry> mounts_;
  int changes_ = -1;  // the mount table, open to be told of changes
};

}  // namespace

void WakeChangeWait() {}

std::string UnreportedChangesReason(const FolderHandle& folder) {
  static MountTable* table = new MountTable;  // never destroyed: used until the end
  struct stat st;
  if (fstat(static_cast<int>(folder.native()), &st) != 0) return std::string();
  const std::string type = table->TypeOf(st.st_dev);
  // No type to tell by: polled, and said, rather than trusted unseen.
  if (type.empty() && !table->Readable()) {
    return "a file system of unknown type (/proc/self/mountinfo cannot be read)";
  }
  return ChangesMayGoUnreported(type) ? "the file system (" + type + ")" : std::string();
}

std::unique_ptr<ChangeSource> OpenChangeSource(const std::string& topFullPath,
                                               std::string* problem, bool* limit) {
  *limit = false;
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE) {
      *limit = true;
      *problem = LimitProblem("fs.inotify.max_user_instances",
                              "/proc/sys/fs/inotify/max_user_instances", "inotify instances", "1024");
    } else {
      *problem = std::strerror(errno);
    }
    return nullptr;
  }
  const int mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  // The mount table names folders by their real paths; a top it cannot
  // resolve counts every mount as its own.
  char* real = realpath(posix::ToPosixPath(topFullPath.c_str()).c_str(), nullptr);
  std::string top = real != nullptr ? real : "";
  std::free(real);
  return std::make_unique<InotifySource>(fd, mounts, std::move(top));
}

}  // namespace os
