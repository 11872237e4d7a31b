#include "tree/root.h"

#include "tree/options.h"
#include "tree/paths.h"

namespace tree {
namespace {

// Whether the full path names a file system's root, where no mod is kept:
// a run there would write a manifest into every folder of the system.
bool IsFileSystemRoot(std::string_view fullPath) {
  while (fullPath.size() > 1 && fullPath.back() == '\\') fullPath.remove_suffix(1);
  return FileSystemRootLength(fullPath) >= fullPath.size();
}

}  // namespace

int ResolveRoot(const std::string& typed, os::FolderAccess& access, Reporter& reporter,
                Root* root) {
  root->given = typed.empty() ? std::string(".") : typed;
  root->shown = typed;
#ifdef _WIN32
  for (char& c : root->shown) {
    if (c == '/') c = '\\';
  }
#endif
  os::Dword error = 0;
  if (!os::FullPath(root->given, &root->fullPath, &error)) {
    if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
      reporter.Problem(RunProblem(ProblemCode::NoSuchFolder, {root->given}));
    } else if (error == os::kErrorInvalidName) {
      reporter.Problem(RunProblem(ProblemCode::RootHoldsBackslash, {root->given}));
    } else {
      reporter.Problem(RunProblem(ProblemCode::RootError, {root->given}, error));
    }
    return kExitUsage;
  }
  if (IsFileSystemRoot(root->fullPath)) {
    reporter.Problem(RunProblem(ProblemCode::NoModAtRoot, {root->given}));
    return kExitUsage;
  }
  error = OpenRoot(access, root, &root->handle);
  root->openError = error;
  ProblemCode problem = ProblemCode::Text;
  if (error == 0 && root->name.empty()) {
    problem = ProblemCode::NoModAtRoot;  // a link to a drive's root: the folder opened has no name of its own
  } else if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
    problem = ProblemCode::NoSuchFolder;
  } else if (error == os::kErrorDirectory) {
    problem = ProblemCode::RootNotAFolder;
  }
  if (problem == ProblemCode::Text) return kExitDone;
  root->handle.reset();
  reporter.Problem(RunProblem(problem, {root->given}));
  return kExitUsage;
}

os::Dword OpenRoot(os::FolderAccess& access, Root* root,
                   std::shared_ptr<os::FolderHandle>* handle) {
  auto folder = std::make_shared<os::FolderHandle>();
  const os::Dword error = access.OpenRoot(root->fullPath, folder.get(), &root->name);
  if (error != 0) return error;
  const os::Dword attributes = access.Attributes(*folder, root->name);
  if (attributes == os::kInvalidFileAttributes) return os::Os().GetLastError();
  if ((attributes & os::kAttrDirectory) == 0) return os::kErrorDirectory;
  *handle = std::move(folder);
  return 0;
}

}  // namespace tree
