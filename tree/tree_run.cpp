#include "tree/tree_run.h"

#include <cstdio>

#include "generator/manifest_document.h"
#include "generator/manifest_rule.h"
#include "platform/tree_os.h"
#include "tree/folder_listing.h"
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
// How often a manifest another program holds is read again, and the pause.
constexpr int kReadAttempts = 20;
constexpr unsigned kReadPauseMilliseconds = 25;

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
};

// A folder on the way down: the sub-folders still to visit.
struct Frame {
  std::string path;   // full path, '\' separators
  std::string shown;  // as the user sees it
  std::vector<std::string> subFolders;
  size_t next = 0;
};

class TreeRun {
 public:
  explicit TreeRun(const Options& options)
      : options_(options),
        progress_(!options.quiet),
        skip_(options.excludes, options.hidden),
        writer_([this](const std::string& label, const WriteFailure* failure) {
          Written(label, failure);
        },
                os::tree::SyncBatchSize(), os::tree::SyncFiles,
                os::tree::TemporaryStaysOpen()) {}

  int Run(const std::string& rootPath) {
    os::tree::WatchInterrupts();
    std::vector<Frame> stack;
    std::string problem;
    if (skip_.LoadAbove(rootPath, &problem)) {
      Visit(rootPath, options_.root, &stack);
    } else {
      ++tally_.folders;
      Failure(problem);
    }
    while (!stack.empty()) {
      if (os::tree::Interrupted()) Interrupt();
      Frame& top = stack.back();
      if (top.next == top.subFolders.size()) {
        stack.pop_back();
        skip_.Leave();
        continue;
      }
      const std::string& name = top.subFolders[top.next++];
      std::string path = JoinPath(top.path, name);
      std::string shown = Shown(top.shown, name);
      Visit(path, shown, &stack);
    }
    writer_.Commit();
    if (os::tree::Interrupted()) Interrupt();
    progress_.Clear();

    if (!options_.quiet) {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.2f s", progress_.Elapsed());
      Say(Stream::Out, Count(tally_.folders, "folder", "folders") + " visited, " +
                           Count(tally_.changed, "manifest", "manifests") +
                           (options_.check ? " missing or stale, " : " written, ") +
                           std::to_string(tally_.current) + " already current, " +
                           std::to_string(tally_.failed) + " failed (" + seconds + ")\n");
    }
    if (tally_.failed > 0 || (options_.check && tally_.changed > 0)) return kExitFailed;
    return kExitDone;
  }

 private:
  void Visit(const std::string& path, const std::string& shown, std::vector<Frame>* stack) {
    const std::string_view manifestName = gen::ManifestNameFor(path);
    os::Dword error = 0;
    std::string ignoreBytes, problem;
    const os::Dword ignoreError = os::tree::ReadFileStart(JoinPath(path, kIgnoreFileName),
                                                          kIgnoreFileLimit + 1, &ignoreBytes);
    std::optional<std::string> ignoreFile;
    if (ignoreError == 0) {
      ignoreFile = std::move(ignoreBytes);
    } else if (ignoreError != os::kErrorFileNotFound && ignoreError != os::kErrorPathNotFound &&
               ListFolder(path, manifestName, {}, &listing_, &error) == ListResult::Listed) {
      // (A folder that cannot be listed is reported as such below.)
      ++tally_.folders;
      Failure("cannot read " + Shown(shown, kIgnoreFileName) + ": " + ErrorText(ignoreError));
      return;
    }
    if (!skip_.Enter(ignoreFile, Shown(shown, kIgnoreFileName), &problem)) {
      ++tally_.folders;
      Failure(problem);
      return;
    }
    const ListResult listed = ListFolder(path, manifestName, {}, &listing_, &error, &skip_);
    if (listed != ListResult::Listed) skip_.Leave();
    if (listed == ListResult::Vanished) {
      Report((shown.empty() ? std::string(".") : shown) +
             ": folder vanished during the run; skipped");
      return;
    }
    ++tally_.folders;
    if (listed == ListResult::Failed) {
      Failure("cannot list folder " + (shown.empty() ? std::string(".") : shown) + ": " +
              ErrorText(error));
      return;
    }
    const std::string target = JoinPath(path, manifestName);
    const std::string shownTarget = Shown(shown, manifestName);
    const std::string wanted = gen::RenderManifestText(listing_.entries);
    os::Dword readError = os::tree::ReadWholeFile(target, &onDisk_);
    // A concurrent run may hold the manifest for a moment as it replaces it.
    for (int attempt = 1; readError == os::kErrorSharingViolation && attempt < kReadAttempts;
         ++attempt) {
      os::tree::SleepMilliseconds(kReadPauseMilliseconds);
      readError = os::tree::ReadWholeFile(target, &onDisk_);
    }
    const bool missing =
        readError == os::kErrorFileNotFound || readError == os::kErrorPathNotFound;
    if (readError == 0 && onDisk_ == wanted) {
      ++tally_.current;
    } else if (readError != 0 && !missing) {
      Failure("cannot read " + shownTarget + ": " + ErrorText(readError));
    } else if (options_.check) {
      ++tally_.changed;
      ShowChanges(shownTarget, missing, wanted);
    } else {
      WriteFailure failure;
      if (!writer_.Stage(path, target, wanted, shownTarget, &failure)) {
        Written(shownTarget, &failure);
      }
    }
    progress_.Update(tally_.folders, tally_.changed, options_.check ? "stale" : "written");
    stack->push_back({path, shown, std::move(listing_.subFolders), 0});
  }

  void ShowChanges(const std::string& shownTarget, bool missing, const std::string& wanted) {
    if (options_.quiet) return;
    IncludeChanges changes = CompareIncludes(missing ? std::string_view() : onDisk_, wanted);
    std::string text = shownTarget + (missing ? " (missing)\n" : " (stale)\n");
    for (const std::string& line : changes.added) text += "+ " + line + "\n";
    for (const std::string& line : changes.removed) text += "- " + line + "\n";
    if (changes.added.empty() && changes.removed.empty()) {
      text += "  (the include lines agree; other lines differ)\n";
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

  void Report(const std::string& text) {
    progress_.Clear();
    Complain(text);
  }

  [[noreturn]] void Interrupt() {
    writer_.Abandon();
    progress_.Clear();
    os::tree::EndInterrupted();
  }

  const Options& options_;
  Progress progress_;
  SkipRules skip_;
  ManifestWriter writer_;
  Tally tally_;
  FolderListing listing_;
  std::string onDisk_;
};

}  // namespace

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
    case 123: return "the name is not valid";
    case 206: return "the name or path is too long";
    case 267: return "not a folder";
    case 1392: return "the file or folder is corrupted";
    default: return "error " + std::to_string(error);
  }
}

int RunTree(const Options& options) {
  const std::string& root = options.root.empty() ? std::string(".") : options.root;
  std::string rootPath;
  os::Dword error = 0;
  if (!os::tree::FullPath(root, &rootPath, &error)) {
    Complain(root + ": " +
             (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound
                  ? std::string("no such folder")
                  : ErrorText(error)));
    return kExitUsage;
  }
  const os::Dword attributes = os::Os().GetFileAttributesA(rootPath.c_str());
  if (attributes == os::kInvalidFileAttributes) {
    Complain(root + ": no such folder");
    return kExitUsage;
  }
  if ((attributes & os::kAttrDirectory) == 0) {
    Complain(root + ": not a folder");
    return kExitUsage;
  }
  TreeRun run(options);
  return run.Run(rootPath);
}

}  // namespace tree
