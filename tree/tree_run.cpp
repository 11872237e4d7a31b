#include "tree/tree_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <memory>
#include <optional>

#include "generator/manifest_document.h"
#include "generator/manifest_rule.h"
#include "platform/tree_os.h"
#include "tree/folder_listing.h"
#include "tree/leftover_temporaries.h"
#include "tree/manifest_diff.h"
#include "tree/manifest_writer.h"
#include "tree/skip_rules.h"

namespace tree {
namespace {

using os::tree::Stream;

#ifdef _WIN32
constexpr char kShownSeparator = '\\';
#else
constexpr char kShownSeparator = '/';
#endif

// Progress shows once a run has taken this long, and is redrawn this often.
constexpr double kProgressAfterSeconds = 0.5;
constexpr double kProgressEverySeconds = 0.1;

void Say(Stream stream, const std::string& text) { os::tree::Write(stream, text); }

void Complain(const std::string& text) { Say(Stream::Err, "modmanifest-tree: " + text + "\n"); }

// A path as the user sees it: ROOT as given, then the names below it.
std::string Shown(const std::string& base, std::string_view name) {
  if (base.empty()) return std::string(name);
  std::string shown = base;
  if (shown.back() != kShownSeparator && shown.back() != '/' && shown.back() != '\\') {
    shown.push_back(kShownSeparator);
  }
  shown.append(name);
  return shown;
}

std::string Count(unsigned long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class Progress {
 public:
  explicit Progress(bool allowed)
      : enabled_(allowed && os::tree::IsTerminal(Stream::Err)), start_(os::tree::Seconds()) {}

  double Elapsed() const { return os::tree::Seconds() - start_; }

  void Update(unsigned long folders, unsigned long changed, const char* verb) {
    if (!enabled_) return;
    const double now = os::tree::Seconds();
    if (now - start_ < kProgressAfterSeconds || now - last_ < kProgressEverySeconds) return;
    last_ = now;
    std::string line(1, '\r');
    line.append(Count(folders, "folder", "folders")).append(" visited, ");
    line.append(std::to_string(changed)).append(" ").append(verb).append("...");
    if (line.size() < width_) line.append(width_ - line.size(), ' ');
    width_ = line.size();
    Say(Stream::Err, line);
  }

  // Clears the progress line, so that what follows starts on a clean line.
  void Clear() {
    if (width_ == 0) return;
    std::string blank(1, '\r');
    blank.append(width_ - 1, ' ').push_back('\r');
    Say(Stream::Err, blank);
    width_ = 0;
  }

 private:
  bool enabled_;
  double start_;
  double last_ = 0;
  size_t width_ = 0;
};

struct Tally {
  unsigned long folders = 0;
  unsigned long changed = 0;  // written, or found missing or stale
  unsigned long current = 0;
  unsigned long failed = 0;
  unsigned long warnings = 0;
  unsigned long leftovers = 0;  // temporary files of ended runs removed
};

// A manifest another program holds (a concurrent run replacing it, a virus
// scanner) is read again for this long in all, then reported.
constexpr double kHeldManifestSeconds = 0.5;
constexpr unsigned kHeldPauseMilliseconds = 25;

using Handle = std::shared_ptr<os::tree::FolderHandle>;

std::string Dotted(const std::string& shown) { return shown.empty() ? std::string(".") : shown; }

}  // namespace

// A folder on the way down: the sub-folders still to visit.
struct WalkFrame {
  std::string name;      // its own name; for ROOT, as the file system holds it
  std::string path;      // full path, '\' separators
  std::string relative;  // below ROOT, '\' separators; "" for ROOT
  std::string shown;     // as the user sees it
  std::string shownManifest;
  Handle handle;         // null once released (deeper than the walk's budget)
  uint64_t identity = 0;  // of a released folder, to check it when reopened
  std::vector<SubFolder> subFolders;
  size_t next = 0;
  bool entered = false;  // its ignore file was entered into the skip rules
};

class TreeWalk {
 public:
  TreeWalk(const Options& options, const TreeSession::FolderVisited& visited,
           const TreeSession::ManifestWritten& written)
      : options_(options),
        visited_(visited),
        written_(written),
        budget_(os::tree::FolderHandleBudget()),
        rules_(options.excludes, options.hidden),
        progress_(!options.quiet),
        writer_([this](const std::string& label, const WriteFailure* failure) {
          Written(label, failure);
        },
                std::min(os::tree::SyncBatchSize(), budget_.writer), os::tree::SyncFiles,
                os::tree::TemporaryStaysOpen()) {
#ifdef _WIN32
    for (char& c : rootShown_) {
      if (c == '/') c = '\\';
    }
#endif
  }

  // Resolves ROOT: kExitDone, or kExitUsage after saying why.
  int Resolve() {
    const std::string& root = options_.root.empty() ? std::string(".") : options_.root;
    os::Dword error = 0;
    if (!os::tree::FullPath(root, &rootPath_, &error)) {
      if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
        Complain(root + ": no such folder");
      } else if (error == kErrorInvalidName) {
        Complain(root + ": its real path holds \\, which a manifest's paths cannot carry");
      } else {
        Complain(root + ": " + ErrorText(error));
      }
      return kExitUsage;
    }
#ifndef _WIN32
    if (rootPath_ == "\\") {
      Complain(root + ": the file system's root is no mod folder");
      return kExitUsage;
    }
#endif
    // A ROOT that is there but cannot be opened (no permission, say) is no
    // usage error: the run reports it as a folder that cannot be listed.
    Handle handle;
    error = OpenRoot(&handle);
    if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
      Complain(root + ": no such folder");
      return kExitUsage;
    }
    if (error == kErrorNotAFolder) {
      Complain(root + ": not a folder");
      return kExitUsage;
    }
    resolved_ = true;
    return kExitDone;
  }

  bool Resolved() const { return resolved_; }

  int FullRun() {
    os::tree::WatchInterrupts();
    std::string problem;
    aboveLoaded_ = rules_.LoadAbove(rootPath_, &problem);
    if (!aboveLoaded_) {
      ++tally_.folders;
      Failure(problem);
    } else {
      Handle root;
      const os::Dword error = OpenRoot(&root);
      if (error != 0) {
        ++tally_.folders;
        Failure("cannot list folder " + Dotted(rootShown_) + ": " + ErrorText(error));
      } else {
        Visit(root, rootName_, rootPath_, "", rootShown_, nullptr);
        Walk(0);
      }
    }
    writer_.Commit();
    CheckEnd();
    progress_.Clear();

    if (!options_.quiet) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f s", progress_.Elapsed());
      std::string warnings;
      if (tally_.warnings > 0) warnings = ", " + Count(tally_.warnings, "warning", "warnings");
      if (tally_.leftovers > 0) {
        warnings += ", " + Count(tally_.leftovers, "leftover temporary file", "leftover temporary files") +
                    " removed";
      }
      Say(Stream::Out, Count(tally_.folders, "folder", "folders") + " visited, " +
                           Count(tally_.changed, "manifest", "manifests") +
                           (options_.check ? " missing or stale, " : " written, ") +
                           std::to_string(tally_.current) + " already current, " +
                           std::to_string(tally_.failed) + " failed" + warnings + " (" +
                           seconds + ")\n");
    }
    if (const os::Dword error = os::tree::OutputError()) {
      Complain("cannot write to standard output: " + ErrorText(error));
      return kExitFailed;
    }
    if (tally_.failed > 0 || (options_.check && tally_.changed > 0)) return kExitFailed;
    return kExitDone;
  }

  int Update(const std::vector<TreeSession::Folder>& folders) {
    if (!resolved_ || !aboveLoaded_) return kExitUsage;
    const Tally before = tally_;
    updating_ = true;
    for (const TreeSession::Folder& folder : folders) {
      CheckEnd();
      UpdateOne(folder);
    }
    writer_.Commit();
    CheckEnd();
    progress_.Clear();
    if (tally_.failed > before.failed || (options_.check && tally_.changed > before.changed)) {
      return kExitFailed;
    }
    return kExitDone;
  }

 private:
  static constexpr os::Dword kErrorInvalidName = 123;
  static constexpr os::Dword kErrorNotAFolder = 267;

  os::Dword OpenRoot(Handle* handle) {
    auto folder = std::make_shared<os::tree::FolderHandle>();
    os::Dword error = os::tree::OpenRootFolder(rootPath_, folder.get(), &rootName_);
    if (error != 0) return error;
    const os::Dword attributes = os::tree::FolderAttributes(*folder, rootName_);
    if (attributes == os::kInvalidFileAttributes) return os::Os().GetLastError();
    if ((attributes & os::kAttrDirectory) == 0) return kErrorNotAFolder;
    *handle = std::move(folder);
    return 0;
  }

  // The walk below the frames the stack holds, down to depth base.
  void Walk(size_t base) {
    while (stack_.size() > base) {
      CheckEnd();
      WalkFrame& top = stack_.back();
      if (top.next == top.subFolders.size()) {
        Pop();
        continue;
      }
      const SubFolder sub = top.subFolders[top.next++];
      const std::string shown = Shown(top.shown, sub.name);
      os::Dword error = 0;
      Handle parent = HandleAt(stack_.size() - 1, &error);
      if (!parent) {
        // The folder itself went away (or moved out of reach) since it was
        // listed: the rest of it is skipped.
        MovedAway(top, error);
        top.next = top.subFolders.size();
        continue;
      }
      auto child = std::make_shared<os::tree::FolderHandle>();
      error = os::tree::OpenSubFolder(*parent, top.path, sub.name, child.get());
      parent.reset();  // a reopened parent is not kept while its child is visited
      if (error != 0) {
        if (!ChildGone(shown, error)) {
          ++tally_.folders;
          Failure("cannot list folder " + shown + ": " + ErrorText(error));
        }
        continue;
      }
      WalkFrame& parentFrame = stack_.back();
      Visit(child, sub.name, JoinPath(parentFrame.path, sub.name),
            parentFrame.relative.empty() ? sub.name : JoinPath(parentFrame.relative, sub.name),
            shown, &parentFrame);
    }
  }

  // Whether the error says the sub-folder is no longer there to visit (gone,
  // a link now, no folder any more), which is reported but is no failure.
  bool ChildGone(const std::string& shown, os::Dword error) {
    if (error == os::kErrorPathNotFound || error == os::kErrorFileNotFound) {
      Report(shown + ": folder vanished during the run; skipped");
    } else if (error == os::tree::kErrorIsLink) {
      Report(shown + ": became a link during the run; not entered");
    } else if (error == kErrorNotAFolder) {
      Report(shown + ": is no folder any more; skipped");
    } else {
      return false;
    }
    return true;
  }

  void MovedAway(const WalkFrame& frame, os::Dword error) {
    if (!ChildGone(Dotted(frame.shown), error)) {
      Failure("cannot list folder " + Dotted(frame.shown) + ": " + ErrorText(error));
    }
  }

  // The handle of stack_[index]: its own while held, else reopened from the
  // deepest held folder above it, one name at a time, never through a link.
  Handle HandleAt(size_t index, os::Dword* error) {
    if (stack_[index].handle) return stack_[index].handle;
    size_t held = index;
    while (held > 0 && !stack_[held].handle) --held;
    Handle current = stack_[held].handle;
    if (!current) {  // ROOT released: a reopened ROOT
      *error = OpenRoot(&current);
      if (*error != 0) return nullptr;
    }
    for (size_t i = held + 1; i <= index; ++i) {
      auto next = std::make_shared<os::tree::FolderHandle>();
      *error = os::tree::OpenSubFolder(*current, stack_[i - 1].path, stack_[i].name, next.get());
      if (*error != 0) return nullptr;
      // Another folder put in its place since: the one listed is gone.
      if (stack_[i].identity != 0 && os::tree::FolderIdentity(*next) != stack_[i].identity) {
        *error = os::kErrorPathNotFound;
        return nullptr;
      }
      current = std::move(next);
    }
    return current;
  }

  void Pop() {
    if (stack_.back().entered) rules_.Leave();
    stack_.pop_back();
  }

  // Lists the folder, brings its manifest up to date and pushes it, with
  // the sub-folders to visit. parent: the frame of its parent, null for ROOT.
  void Visit(Handle handle, const std::string& name, const std::string& path,
             const std::string& relative, const std::string& shown, const WalkFrame* parent) {
    ++tally_.folders;
    if (visited_) visited_(relative);
    const std::string_view manifestName = gen::ManifestNameFor(name);
    os::Dword error = os::tree::ListFolder(*handle, path, &listed_);
    if (error == os::kErrorPathNotFound) {
      --tally_.folders;
      Report(Dotted(shown) + ": folder vanished during the run; skipped");
      return;
    }
    if (error != 0) {
      Failure("cannot list folder " + Dotted(shown) + ": " + ErrorText(error));
      return;
    }
    if (!options_.check) RemoveLeftovers(*handle, path, shown);

    // The folder's own patterns, before its sub-folders are sorted out.
    WalkFrame frame{name, path, relative, shown, Shown(shown, manifestName)};
    const bool holdsIgnoreFile =
        std::any_of(listed_.begin(), listed_.end(), [](const os::tree::ListedEntry& e) {
          return (e.attributes & os::kAttrDirectory) == 0 && e.name == kIgnoreFileName;
        });
    if (!EnterIgnoreFile(*handle, path, shown, holdsIgnoreFile,
                         "; " + Dotted(shown) + " skipped")) {
      return;
    }
    frame.entered = true;
    ReadListing(listed_, manifestName, rules_, &listing_);

    if (parent != nullptr && manifestName == gen::kModManifest) {
      std::string rendered;
      if (gen::RenderManifestEntry(gen::SubFolderEntry(name), &rendered)) {
        Warn(frame.shownManifest + " is what " + Dotted(shown) +
             " gets (its name ends in \"Data\"), but " + parent->shownManifest + " includes " +
             gen::SubFolderEntry(name) + ", which no run writes");
      }
    }
    for (const LeftOut& out : listing_.leftOut) {
      Warn(Shown(shown, out.name) + " is left out of " + frame.shownManifest + ": " + out.reason);
    }

    const std::string wanted = gen::RenderManifestText(listing_.entries);
    error = ReadManifest(*handle, path, manifestName, wanted.size() + 1);
    const bool missing = error == os::kErrorFileNotFound;
    if (error == 0 && onDisk_ == wanted) {
      ++tally_.current;
    } else if (error != 0 && !missing && error != os::tree::kErrorIsLink) {
      // A link is stale: it is replaced by a regular file, never read.
      Failure("cannot read " + frame.shownManifest + ": " + ErrorText(error));
    } else if (options_.check) {
      ++tally_.changed;
      ShowChanges(frame.shownManifest, missing, error == 0, wanted);
    } else {
      WriteFailure failure;
      if (!writer_.Stage(handle, path, manifestName, wanted, frame.shownManifest, &failure)) {
        Written(frame.shownManifest, &failure);
      }
    }
    // Progress belongs to the full run; an update is short and says what it
    // wrote through its callback.
    if (!updating_) {
      progress_.Update(tally_.folders, tally_.changed, options_.check ? "stale" : "written");
    }
    frame.subFolders = std::move(listing_.subFolders);
    // Beyond the walk's budget a folder is not held while its sub-folders
    // are visited: it is reopened from the deepest one held.
    if (stack_.size() < budget_.walk) {
      frame.handle = std::move(handle);
    } else {
      frame.identity = os::tree::FolderIdentity(*handle);
    }
    stack_.push_back(std::move(frame));
  }

  // Reads the manifest into onDisk_, at most limit bytes, waiting for a
  // while if another program holds it.
  os::Dword ReadManifest(const os::tree::FolderHandle& handle, const std::string& path,
                         std::string_view name, size_t limit) {
    const double start = os::tree::Seconds();
    for (;;) {
      const os::Dword error = os::tree::ReadFileIn(handle, path, name, limit, &onDisk_);
      if (error != os::kErrorSharingViolation ||
          os::tree::Seconds() - start >= kHeldManifestSeconds) {
        return error;
      }
      os::tree::SleepMilliseconds(kHeldPauseMilliseconds);
    }
  }

  void UpdateOne(const TreeSession::Folder& folder) {
    Handle handle;
    if (OpenRoot(&handle) != 0) return;  // ROOT is gone: nothing to write
    std::vector<std::string> names;
    for (size_t at = 0; !folder.path.empty();) {
      const size_t cut = folder.path.find('\\', at);
      names.push_back(
          folder.path.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
      if (cut == std::string::npos) break;
      at = cut + 1;
    }
    if (names.empty()) {
      Visit(handle, rootName_, rootPath_, "", rootShown_, nullptr);
    } else {
      // The folders above it, each entered into the skip rules as a full
      // run would, but not listed.
      if (!EnterAncestor(handle, rootName_, rootPath_, "", rootShown_)) return;
      for (size_t i = 0; i < names.size(); ++i) {
        const WalkFrame& parent = stack_.back();
        auto child = std::make_shared<os::tree::FolderHandle>();
        const std::string& name = names[i];
        if (name.empty() || gen::IsDotEntry(name) ||
            os::tree::OpenSubFolder(*parent.handle, parent.path, name, child.get()) != 0 ||
            rules_.Skips(name, os::tree::FolderAttributes(*child, name))) {
          break;  // gone, a link now, or skipped: nothing to write
        }
        const std::string path = JoinPath(parent.path, name);
        const std::string relative =
            parent.relative.empty() ? name : JoinPath(parent.relative, name);
        const std::string shown = Shown(parent.shown, name);
        if (i + 1 == names.size()) {
          const size_t depth = stack_.size();
          Visit(child, name, path, relative, shown, &stack_.back());
          if (stack_.size() > depth && !folder.subTree)
            stack_.back().next = stack_.back().subFolders.size();
        } else if (!EnterAncestor(child, name, path, relative, shown)) {
          break;
        }
      }
    }
    if (!folder.subTree && !stack_.empty() && names.empty()) {
      stack_.back().next = stack_.back().subFolders.size();
    }
    Walk(0);
  }

  // Enters the folder's ignore file, read when look says it may be there,
  // into the skip rules. False, after reporting the failure (its message
  // ending in suffix when the file cannot be read), when nothing beneath the
  // folder is to be visited.
  bool EnterIgnoreFile(const os::tree::FolderHandle& folder, const std::string& path,
                       const std::string& shown, bool look, const std::string& suffix) {
    std::optional<std::string> ignoreFile;
    const std::string shownIgnore = Shown(shown, kIgnoreFileName);
    if (look) {
      std::string bytes;
      const os::Dword error =
          os::tree::ReadFileIn(folder, path, kIgnoreFileName, kIgnoreFileLimit + 1, &bytes);
      if (error == 0) {
        ignoreFile = std::move(bytes);
      } else if (error != os::kErrorFileNotFound) {
        Failure("cannot read " + shownIgnore + ": " + ErrorText(error) + suffix);
        return false;
      }
    }
    std::string problem;
    if (!rules_.Enter(ignoreFile, shownIgnore, &problem)) {
      Failure(problem);
      return false;
    }
    return true;
  }

  // Pushes a folder above the one an update visits: its ignore file entered,
  // nothing listed. False (reported as a failure when its ignore file is
  // bad) when nothing beneath it is to be visited.
  bool EnterAncestor(Handle handle, const std::string& name, const std::string& path,
                     const std::string& relative, const std::string& shown) {
    if (!EnterIgnoreFile(*handle, path, shown, true, "")) return false;
    const std::string_view manifestName = gen::ManifestNameFor(name);
    WalkFrame frame{name, path, relative, shown, Shown(shown, manifestName)};
    frame.handle = std::move(handle);
    frame.entered = true;
    stack_.push_back(std::move(frame));
    return true;
  }

  void ShowChanges(const std::string& shownTarget, bool missing, bool read,
                   const std::string& wanted) {
    if (options_.quiet) return;
    // A longer old manifest was read only as far as it could still be equal:
    // its cut-off last line is not compared.
    std::string_view onDisk = read ? std::string_view(onDisk_) : std::string_view();
    if (onDisk.size() > wanted.size()) onDisk = onDisk.substr(0, onDisk.rfind('\n') + 1);
    IncludeChanges changes = CompareIncludes(onDisk, wanted);
    std::string text = shownTarget + (missing ? " (missing)\n" : " (stale)\n");
    for (const std::string& line : changes.added) text += "+ " + line + "\n";
    for (const std::string& line : changes.removed) text += "- " + line + "\n";
    if (changes.added.empty() && changes.removed.empty()) {
      text += changes.reordered ? "  (the same include lines in another order)\n"
                                : "  (the include lines agree; other lines differ)\n";
    }
    progress_.Clear();
    Say(Stream::Out, text);
  }

  void Written(const std::string& shownTarget, const WriteFailure* failure) {
    if (failure == nullptr) {
      ++tally_.changed;
      if (options_.verbose) {
        progress_.Clear();
        Say(Stream::Out, "wrote " + shownTarget + "\n");
      }
      if (written_) written_(shownTarget);
      return;
    }
    if (failure->refused == nullptr && failure->error == os::kErrorPathNotFound) {
      Report(shownTarget + ": its folder vanished during the run; not written");
      return;
    }
    Failure("cannot write " + shownTarget + ": " +
            (failure->refused != nullptr ? std::string("the manifest ") + failure->refused
                                         : ErrorText(failure->error)));
  }

  void Failure(const std::string& text) {
    ++tally_.failed;
    Report(text);
  }

  void Warn(const std::string& text) {
    ++tally_.warnings;
    progress_.Clear();
    Say(Stream::Err, "modmanifest-tree: warning: " + text + "\n");
  }

  void Report(const std::string& text) {
    progress_.Clear();
    Complain(text);
  }

  // Ends the run at once after an interrupt (Ctrl-C, a closed pipe) or a
  // failed write to standard output, with the batch in hand abandoned.
  void CheckEnd() {
    if (os::tree::Interrupted()) {
      writer_.Abandon();
      progress_.Clear();
      os::tree::EndInterrupted();
    }
    if (const os::Dword error = os::tree::OutputError()) {
      writer_.Abandon();
      progress_.Clear();
      Complain("cannot write to standard output: " + ErrorText(error));
      std::_Exit(kExitFailed);
    }
  }

  // Removes the temporary files that runs of either program left in the
  // folder when they were killed: only those whose process has ended.
  void RemoveLeftovers(const os::tree::FolderHandle& folder, const std::string& path,
                       const std::string& shown) {
    const unsigned long self = os::Os().GetCurrentProcessId();
    for (const os::tree::ListedEntry& e : listed_) {
      if ((e.attributes & (os::kAttrDirectory | os::tree::kAttrLink)) != 0) continue;
      const std::optional<unsigned long> pid = TemporaryFileProcess(e.name);
      if (!pid || *pid == self || os::tree::ProcessRuns(*pid)) continue;
      const bool removed = os::tree::RelativeFiles()
                               ? os::tree::DeleteIn(folder, e.name)
                               : os::Os().DeleteFileA(JoinPath(path, e.name).c_str()) != 0;
      if (removed) {
        ++tally_.leftovers;
        if (options_.verbose) Say(Stream::Out, "removed " + Shown(shown, e.name) + "\n");
      }
    }
  }

  const Options& options_;
  const TreeSession::FolderVisited& visited_;
  const TreeSession::ManifestWritten& written_;
  os::tree::HandleBudget budget_;
  SkipRules rules_;
  Progress progress_;
  ManifestWriter writer_;
  Tally tally_;
  std::string rootPath_;
  std::string rootName_;
  std::string rootShown_ = options_.root;
  bool resolved_ = false;
  bool aboveLoaded_ = false;
  bool updating_ = false;
  std::vector<WalkFrame> stack_;
  std::vector<os::tree::ListedEntry> listed_;
  FolderListing listing_;
  std::string onDisk_;
};

std::string ErrorText(unsigned long error) {
  switch (error) {
    case 2: return "file not found";
    case 3: return "path not found";
    case 4: return "too many open files";
    case 5: return "access denied";
    case 8: return "not enough memory";
    case 19: return "the medium is write-protected";
    case 32: return "in use by another process";
    case 39:
    case 112: return "the disk is full";
    case 109:
    case 232:
    case 233: return "the pipe is closed";
    case 123: return "the name is not valid";
    case 206: return "the name or path is too long";
    case 223: return "file too large";
    case 267: return "not a folder";
    case 336: return "is a folder";
    case 1392: return "the file or folder is corrupted";
    case 4395: return "is a link";
    default: return "error " + std::to_string(error);
  }
}

TreeSession::TreeSession(const Options& options) : options_(options) {}

TreeSession::~TreeSession() = default;

void TreeSession::OnFolderVisited(FolderVisited visited) { visited_ = std::move(visited); }

void TreeSession::OnManifestWritten(ManifestWritten written) { written_ = std::move(written); }

namespace {

// Memory the seam's back-end or the heap refused: unwound, so that the
// walk's writer removes the temporary files of the batch in hand.
void ThrowOutOfMemory(size_t) { throw std::bad_alloc(); }

// Ends the run after memory ran out, once the walk (and with it the batch in
// hand) is gone: every manifest is the old one or the complete new one.
[[noreturn]] void EndOutOfMemory(std::unique_ptr<TreeWalk>* walk) {
  try {
    walk->reset();
    Complain("out of memory; the manifests not yet written are as they were");
  } catch (...) {
    // Not even the message fits: the exit status still tells.
  }
  std::_Exit(kExitFailed);
}

}  // namespace

int TreeSession::Run() {
  os::SetOutOfMemoryHandler(&ThrowOutOfMemory);
  try {
    walk_ = std::make_unique<TreeWalk>(options_, visited_, written_);
    const int status = walk_->Resolve();
    if (status != kExitDone) return status;
    return walk_->FullRun();
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(&walk_);
  }
}

int TreeSession::Update(const std::vector<Folder>& folders) {
  if (!walk_ || !walk_->Resolved()) return kExitUsage;
  try {
    return walk_->Update(folders);
  } catch (const std::bad_alloc&) {
    EndOutOfMemory(&walk_);
  }
}

int RunTree(const Options& options) {
  TreeSession session(options);
  return session.Run();
}

}  // namespace tree
