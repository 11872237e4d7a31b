#include "tree/root.h"

#include "tree/error_text.h"
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

#ifdef _WIN32
constexpr char kNoModAtRoot[] = ": the root of a drive or share is no mod folder";
#else
constexpr char kNoModAtRoot[] = ": the file system's root is no mod folder";
#endif

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
      reporter.Problem(root->given + ": no such folder");
    } else if (error == os::kErrorInvalidName) {
      reporter.Problem(root->given +
                       ": its real path holds \\, which a manifest's paths cannot carry");
    } else {
      reporter.Problem(root->given + ": " + ErrorText(error));
    }
    return kExitUsage;
  }
  if (IsFileSystemRoot(root->fullPath)) {
    reporter.Problem(root->given + kNoModAtRoot);
    return kExitUsage;
  }
  error = OpenRoot(access, root, &root->handle);
  root->openError = error;
  const char* problem = nullptr;
  if (error == 0 && root->name.empty()) {
    problem = kNoModAtRoot;  // a link to a drive's root: the folder opened has no name of its own
  } else if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
    problem = ": no such folder";
  } else if (error == os::kErrorDirectory) {
    problem = ": not a folder";
  }
  if (problem == nullptr) return kExitDone;
  root->handle.reset();
  reporter.Problem(root->given + problem);
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
