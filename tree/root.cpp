#include "tree/root.h"

#include "tree/error_text.h"
#include "tree/options.h"

namespace tree {

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
#ifndef _WIN32
  if (root->fullPath == "\\") {
    reporter.Problem(root->given + ": the file system's root is no mod folder");
    return kExitUsage;
  }
#endif
  std::shared_ptr<os::FolderHandle> handle;
  error = OpenRoot(access, root, &handle);
  if (error == os::kErrorFileNotFound || error == os::kErrorPathNotFound) {
    reporter.Problem(root->given + ": no such folder");
    return kExitUsage;
  }
  if (error == os::kErrorDirectory) {
    reporter.Problem(root->given + ": not a folder");
    return kExitUsage;
  }
  return kExitDone;
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
