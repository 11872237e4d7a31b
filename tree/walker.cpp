#include "tree/walker.h"

#include "generator/manifest_rule.h"
#include "tree/error_text.h"
#include "tree/ignore_file.h"

namespace tree {
namespace {

// The names of a folder relative to ROOT, outermost first.
std::vector<std::string> NamesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (size_t at = 0; !folder.empty();) {
    const size_t cut = folder.find('\\', at);
    names.push_back(folder.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
    if (cut == std::string::npos) break;
    at = cut + 1;
  }
  return names;
}

}  // namespace

Walker::Walker(RunState& run, Root& root, const Visited& visited)
    : run_(run), root_(root), visited_(visited), update_(run), budget_(run.access.Budget().walk) {}

void Walker::WalkAll(Handle root, const SkipRules::Shared& top) {
  top_ = top;
  full_ = true;
  Visit(std::move(root), root_.name);
  Descend(0);
  full_ = false;
}

void Walker::WalkTo(Handle root, const SkipRules::Shared& top, const std::string& folder,
                    bool subTree) {
  top_ = top;
  const std::vector<std::string> names = NamesOf(folder);
  const size_t depth = names.size();
  if (depth == 0) {
    Visit(std::move(root), root_.name);
  } else if (EnterAbove(std::move(root), root_.name)) {
    for (size_t i = 0; i < depth; ++i) {
      const Frame& parent = stack_.back();
      const std::string& name = names[i];
      auto child = std::make_shared<os::FolderHandle>();
      if (name.empty() || gen::IsDotEntry(name) ||
          run_.access.OpenSub(*parent.handle, name, child.get()) != 0 ||
          parent.rules->Skips(name, run_.access.Attributes(*child, name))) {
        break;  // gone, a link now, or skipped: nothing to write
      }
      if (i + 1 < depth) {
        if (!EnterAbove(std::move(child), name)) break;
      } else {
        Visit(std::move(child), name);
      }
    }
  }
  // The folder itself was visited last: without its sub-tree, its
  // sub-folders are not.
  if (!subTree && stack_.size() == depth + 1) stack_.back().next = stack_.back().subFolders.size();
  Descend(0);
}

// Reads the folder's ignore file ignoreFile (the name its listing gave, or
// the usual name where there is no listing to tell; "": none) and makes its
// skip rules. False, after reporting the failure (its message ending in
// suffix when the file cannot be read), when nothing beneath the folder is
// to be visited.
bool Walker::Enter(const os::FolderHandle& handle, Frame* frame, std::string_view ignoreFile,
                   const std::string& suffix) {
  std::vector<NamePattern> own;
  if (!ignoreFile.empty()) {
    const std::string shown = Shown(frame->folder.shown, ignoreFile);
    std::string bytes, problem;
    const os::Dword error = run_.access.ReadFile(handle, ignoreFile, kIgnoreFileLimit + 1, &bytes);
    // A folder of that name is no ignore file, as in a listing.
    if (error == os::kErrorFileNotFound || error == os::kErrorIsFolder) {
      bytes.clear();
    } else if (error != 0) {
      run_.Fail(frame->folder.relative, "cannot read " + shown + ": " + ErrorText(error) + suffix);
      return false;
    }
    if (!bytes.empty() && !ParseIgnoreFile(bytes, shown, &own, &problem)) {
      run_.Fail(frame->folder.relative, problem);
      return false;
    }
  }
  frame->rules = SkipRules::Beneath(stack_.empty() ? top_ : stack_.back().rules, std::move(own));
  return true;
}

// Lists the folder, brings its manifest up to date and pushes it, with the
// sub-folders to visit. Its parent is the frame on top, if any.
void Walker::Visit(Handle handle, const std::string& name) {
  ++run_.tally.folders;
  Frame frame{MakeWalkFolder(Parent(), name, root_.shown)};
  const WalkFolder& folder = frame.folder;
  if (visited_) visited_(folder.relative);
  const os::Dword error = update_.List(*handle);
  if (error == os::kErrorPathNotFound) {
    --run_.tally.folders;
    run_.reporter.Noticed(Dotted(folder.shown) + ": folder vanished during the run; skipped");
    return;
  }
  if (error != 0) {
    run_.Fail(folder.relative, CannotList(folder.shown, error));
    return;
  }
  if (!run_.options.check) update_.RemoveLeftovers(*handle, folder.shown);
  if (!Enter(*handle, &frame, update_.IgnoreFile(), "; " + Dotted(folder.shown) + " skipped")) {
    return;
  }
  frame.subFolders = update_.Update(folder, handle, *frame.rules, Parent());
  if (full_) run_.reporter.Progress(run_.tally, run_.options.check);
  // Beyond the walk's budget a folder is not held while its sub-folders
  // are visited: it is reopened from the deepest one held.
  if (stack_.size() < budget_) {
    frame.handle = std::move(handle);
  } else {
    frame.identity = run_.access.Identity(*handle);
  }
  stack_.push_back(std::move(frame));
}

// Pushes a folder above the one an update visits: its ignore file entered,
// nothing listed. False (reported as a failure when its ignore file is bad)
// when nothing beneath it is to be visited.
bool Walker::EnterAbove(Handle handle, const std::string& name) {
  Frame frame{MakeWalkFolder(Parent(), name, root_.shown)};
  if (!Enter(*handle, &frame, kIgnoreFileName, "")) return false;
  frame.handle = std::move(handle);
  stack_.push_back(std::move(frame));
  return true;
}

// The walk below the frames the stack holds, down to depth base.
void Walker::Descend(size_t base) {
  while (stack_.size() > base) {
    run_.CheckEnd();
    Frame& top = stack_.back();
    if (top.next == top.subFolders.size()) {
      stack_.pop_back();
      continue;
    }
    const SubFolder sub = top.subFolders[top.next++];
    os::Dword error = 0;
    Handle parent = HandleAt(stack_.size() - 1, &error);
    if (!parent) {
      // The folder itself went away (or moved out of reach) since it was
      // listed: the rest of it is skipped.
      if (!Gone(Dotted(top.folder.shown), error)) {
        run_.Fail(top.folder.relative, CannotList(top.folder.shown, error));
      }
      top.next = top.subFolders.size();
      continue;
    }
    auto child = std::make_shared<os::FolderHandle>();
    error = run_.access.OpenSub(*parent, sub.name, child.get());
    parent.reset();  // a reopened parent is not kept while its child is visited
    if (error == 0) {
      Visit(std::move(child), sub.name);
    } else if (const std::string shown = Shown(top.folder.shown, sub.name); !Gone(shown, error)) {
      ++run_.tally.folders;
      run_.Fail(MakeWalkFolder(&top.folder, sub.name).relative, CannotList(shown, error));
    }
  }
}

// Whether the error says the folder is no longer there to visit (gone, a
// link now, no folder any more), which is reported but is no failure.
bool Walker::Gone(const std::string& shown, os::Dword error) {
  if (error == os::kErrorPathNotFound || error == os::kErrorFileNotFound) {
    run_.reporter.Noticed(shown + ": folder vanished during the run; skipped");
  } else if (error == os::kErrorIsLink) {
    run_.reporter.Noticed(shown + ": became a link during the run; not entered");
  } else if (error == os::kErrorDirectory) {
    run_.reporter.Noticed(shown + ": is no folder any more; skipped");
  } else {
    return false;
  }
  return true;
}

// The handle of stack_[index]: its own while held, else reopened from the
// deepest held folder above it, one name at a time, never through a link.
Walker::Handle Walker::HandleAt(size_t index, os::Dword* error) {
  if (stack_[index].handle) return stack_[index].handle;
  size_t held = index;
  while (held > 0 && !stack_[held].handle) --held;
  Handle current = stack_[held].handle;
  if (!current) {  // ROOT let go: a reopened ROOT
    *error = OpenRoot(run_.access, &root_, &current);
    if (*error != 0) return nullptr;
  }
  for (size_t i = held + 1; i <= index; ++i) {
    auto next = std::make_shared<os::FolderHandle>();
    *error = run_.access.OpenSub(*current, stack_[i].folder.name, next.get());
    if (*error != 0) return nullptr;
    // Another folder put in its place since: the one listed is gone.
    if (stack_[i].identity != 0 && run_.access.Identity(*next) != stack_[i].identity) {
      *error = os::kErrorPathNotFound;
      return nullptr;
    }
    current = std::move(next);
  }
  return current;
}

}  // namespace tree
