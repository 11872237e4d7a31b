#include "tree/walker.h"

#include <algorithm>

#include "rules/manifest_rule.h"
#include "tree/report_words.h"
#include "tree/ignore_file.h"

namespace tree {

Walker::Walker(WalkContext& run, Root& root, const Visited& visited, const Listed& listed)
    : run_(run),
      root_(root),
      visited_(visited),
      listed_(listed),
      update_(run),
      budget_(std::max<size_t>(run.access.Budget().walk, 1)) {}

void Walker::WalkAll(Handle root, const SkipRules::Shared& top) {
  top_ = top;
  full_ = true;
  lowest_ = 0;
  carried_.reset();
  Visit(std::move(root), root_.name);
  Descend(0);
  full_ = false;
}

void Walker::WalkTo(Handle root, const SkipRules::Shared& top, const std::string& folder,
                    bool subTree) {
  top_ = top;
  lowest_ = 0;
  carried_.reset();
  const std::vector<std::string_view> names = below::Names(folder);
  const size_t depth = names.size();
  if (depth == 0) {
    Visit(std::move(root), root_.name);
  } else if (EnterAbove(std::move(root), root_.name)) {
    for (size_t i = 0; i < depth; ++i) {
      const Frame& parent = stack_.back();  // on top: held
      const std::string name(names[i]);
      auto child = std::make_shared<os::FolderHandle>();
      if (name.empty() || rules::IsDotEntry(name) ||
          run_.access.OpenSub(*parent.handle, name, 0, child.get()) != 0 ||
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

WalkFolder Walker::FolderAt(size_t index) const {
  const Frame& frame = stack_[index];
  WalkFolder folder;
  folder.name = frame.name;
  folder.relative = relative_.substr(0, frame.relativeEnd);
  folder.shown = shown_.substr(0, frame.shownEnd);
  folder.manifestName = rules::ManifestNameFor(frame.name);
  folder.shownManifest = Shown(folder.shown, folder.manifestName);
  return folder;
}

WalkFolder Walker::Below(const std::string& name) const {
  if (stack_.empty()) return MakeWalkFolder(nullptr, name, root_.shown);
  const WalkFolder parent = FolderAt(stack_.size() - 1);
  return MakeWalkFolder(&parent, name);
}

// Reads the folder's ignore file ignoreFile (the name its listing gave, or
// the usual name where there is no listing to tell; "": none) and makes its
// skip rules. False, after reporting the failure (saying the folder is
// skipped when saySkipped and the file cannot be read), when nothing
// beneath the folder is to be visited.
bool Walker::Enter(const os::FolderHandle& handle, const WalkFolder& folder, Frame* frame,
                   std::string_view ignoreFile, bool saySkipped) {
  std::vector<NamePattern> own;
  if (!ignoreFile.empty()) {
    const std::string shown = Shown(folder.shown, ignoreFile);
    std::string bytes;
    Failure problem;
    const os::Dword error = run_.access.ReadFile(handle, ignoreFile, kIgnoreFileLimit + 1, &bytes);
    // A folder of that name is no ignore file, as in a listing.
    if (error == os::kErrorFileNotFound || error == os::kErrorIsFolder) {
      bytes.clear();
    } else if (error != 0) {
      std::vector<std::string> values{shown};
      if (saySkipped) values.push_back(folder.shown);
      run_.Fail(folder.relative, Failure(FailCode::CannotRead, std::move(values), error));
      return false;
    }
    if (!bytes.empty() && !ParseIgnoreFile(bytes, shown, &own, &problem)) {
      run_.Fail(folder.relative, problem);
      return false;
    }
  }
  frame->rules = SkipRules::Beneath(stack_.empty() ? top_ : stack_.back().rules, std::move(own));
  return true;
}

// Puts the folder on top of the walk's path, holding it open.
void Walker::Push(Frame frame, const WalkFolder& folder, Handle handle) {
  relative_.assign(folder.relative);
  shown_.assign(folder.shown);
  frame.name = folder.name;
  frame.relativeEnd = relative_.size();
  frame.shownEnd = shown_.size();
  stack_.push_back(std::move(frame));
  Hold(stack_.size() - 1, std::move(handle));
}

// Holds the folder of stack_[index] open; beyond the budget the shallowest
// one held is let go (its identity kept, to check it when reopened), so
// that the folders held are the deepest on the path.
void Walker::Hold(size_t index, Handle handle) {
  stack_[index].handle = std::move(handle);
  ++held_;
  lowest_ = std::min(lowest_, index);
  while (held_ > budget_) {
    while (!stack_[lowest_].handle) ++lowest_;
    Frame& shallowest = stack_[lowest_];
    shallowest.identity = run_.access.Identity(*shallowest.handle);
    shallowest.handle.reset();
    --held_;
  }
}

// Takes the folder on top off the walk's path. When the folder below it was
// let go on the way down, the one left stays open (carried_) for the way
// up: a folder let go is reopened from it only if the walk has more to do
// there, so that going back up costs nothing for levels with nothing left.
void Walker::Pop() {
  Handle child = std::move(stack_.back().handle);
  if (child) --held_;
  const size_t level = stack_.size() - 1;
  stack_.pop_back();
  if (stack_.empty() || stack_.back().handle) {
    carried_.reset();
  } else if (child) {
    carried_ = std::move(child);
    carriedLevel_ = level;
  }
}

// Lists the folder, brings its manifest up to date and pushes it, with the
// sub-folders to visit. Its parent is the frame on top, if any.
void Walker::Visit(Handle handle, const std::string& name) {
  ++run_.tally.folders;
  std::unique_ptr<WalkFolder> parent;
  if (!stack_.empty()) parent = std::make_unique<WalkFolder>(FolderAt(stack_.size() - 1));
  const WalkFolder folder = MakeWalkFolder(parent.get(), name, root_.shown);
  if (visited_) visited_(folder.relative, *handle);
  const os::Dword error = update_.List(*handle);
  if (error == os::kErrorPathNotFound) {
    --run_.tally.folders;
    run_.reporter.Noticed(Notice(NoticeCode::Vanished, {folder.shown}));
    return;
  }
  if (error != 0) {
    run_.Fail(folder.relative, Failure(FailCode::CannotList, {folder.shown}, error));
    return;
  }
  if (listed_) listed_(folder.relative, update_.Entries());
  if (!run_.options.check) update_.RemoveLeftovers(*handle, folder.shown);
  Frame frame;
  if (!Enter(*handle, folder, &frame, update_.IgnoreFile(), true)) {
    return;
  }
  frame.subFolders = update_.Update(folder, handle, *frame.rules, parent.get());
  if (full_) run_.reporter.Progress(run_.tally, run_.options.check);
  Push(std::move(frame), folder, std::move(handle));
}

// Pushes a folder above the one an update visits: its ignore file entered,
// nothing listed. False (reported as a failure when its ignore file is bad)
// when nothing beneath it is to be visited.
bool Walker::EnterAbove(Handle handle, const std::string& name) {
  const WalkFolder folder = Below(name);
  Frame frame;
  if (!Enter(*handle, folder, &frame, kIgnoreFileName, false)) return false;
  Push(std::move(frame), folder, std::move(handle));
  return true;
}

// The walk below the frames the stack holds, down to depth base.
void Walker::Descend(size_t base) {
  while (stack_.size() > base) {
    run_.CheckStop();
    Frame& top = stack_.back();
    if (top.next == top.subFolders.size()) {
      Pop();
      continue;
    }
    const SubFolder sub = top.subFolders[top.next++];
    os::Dword error = 0;
    Handle parent = HandleAt(stack_.size() - 1, &error);
    if (!parent) {
      // The folder itself went away (or moved out of reach) since it was
      // listed: the rest of it is skipped.
      const WalkFolder folder = FolderAt(stack_.size() - 1);
      if (!Gone(folder.shown, error)) {
        run_.Fail(folder.relative, Failure(FailCode::CannotList, {folder.shown}, error));
      }
      top.next = top.subFolders.size();
      continue;
    }
    auto child = std::make_shared<os::FolderHandle>();
    error = run_.access.OpenSub(*parent, sub.name, sub.fileId, child.get());
    parent.reset();
    if (error == 0) {
      Visit(std::move(child), sub.name);
    } else if (const WalkFolder folder = Below(sub.name); !Gone(folder.shown, error)) {
      ++run_.tally.folders;
      run_.Fail(folder.relative, Failure(FailCode::CannotList, {folder.shown}, error));
    }
  }
}

// Whether the error says the folder is no longer there to visit (gone, a
// link now, no folder any more), which is reported but is no failure.
bool Walker::Gone(const std::string& shown, os::Dword error) {
  if (error == os::kErrorPathNotFound || error == os::kErrorFileNotFound) {
    run_.reporter.Noticed(Notice(NoticeCode::Vanished, {shown}));
  } else if (error == os::kErrorIsLink) {
    run_.reporter.Noticed(Notice(NoticeCode::BecameLink, {shown}));
  } else if (error == os::kErrorDirectory) {
    run_.reporter.Noticed(Notice(NoticeCode::NoFolderAnyMore, {shown}));
  } else {
    return false;
  }
  return true;
}

// The folder of stack_[index]: its own while held, else reopened (and
// held) from the folder the walk came up from, or from the deepest folder
// held above it, one name at a time, never through a link; either way
// checked to be the folder listed.
Walker::Handle Walker::HandleAt(size_t index, os::Dword* error) {
  if (stack_[index].handle) return stack_[index].handle;
  // From the folder the walk came up from, one ".." a level, when that
  // leads to the folder listed (a folder moved elsewhere meanwhile does
  // not).
  if (Handle current = std::move(carried_); current && carriedLevel_ > index) {
    for (size_t level = carriedLevel_; current && level > index; --level) {
      auto up = std::make_shared<os::FolderHandle>();
      current = run_.access.OpenParent(*current, up.get()) == 0 ? std::move(up) : nullptr;
    }
    if (current && stack_[index].identity != 0 &&
        run_.access.Identity(*current) == stack_[index].identity) {
      Hold(index, current);
      return current;
    }
  }
  // Another folder put in a listed one's place since: the one listed is gone.
  auto listed = [this](const os::FolderHandle& folder, const Frame& frame) {
    return frame.identity == 0 || run_.access.Identity(folder) == frame.identity;
  };
  size_t held = index;
  while (held > 0 && !stack_[held].handle) --held;
  Handle current = stack_[held].handle;
  if (!current) {  // none held above: ROOT reopened by its path
    *error = OpenRoot(run_.access, &root_, &current);
    if (*error == 0 && !listed(*current, stack_[0])) *error = os::kErrorPathNotFound;
    if (*error != 0) return nullptr;
  }
  for (size_t i = held + 1; i <= index; ++i) {
    auto next = std::make_shared<os::FolderHandle>();
    *error = run_.access.OpenSub(*current, stack_[i].name, 0, next.get());
    if (*error == 0 && !listed(*next, stack_[i])) *error = os::kErrorPathNotFound;
    if (*error != 0) return nullptr;
    current = std::move(next);
  }
  Hold(index, current);
  return current;
}

}  // namespace tree
