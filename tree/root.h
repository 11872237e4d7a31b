// ROOT: the folder a run works on, resolved from what the user typed and
// opened as a folder, once: the run works through the handle opened then.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/folder_access.h"
#include "tree/reporter.h"

namespace tree {

struct Root {
  std::string given;     // as typed; "." when none was
  std::string fullPath;  // '\' separators
  std::string name;      // its own name as the file system holds it
  std::string shown;     // as the user sees it ('\' on Windows); "" when none was typed
  // ROOT as ResolveRoot opened it, until the run takes it; null when it
  // could not be opened, openError then saying why.
  std::shared_ptr<os::FolderHandle> handle;
  os::Dword openError = 0;
};

// Resolves ROOT as typed (empty: the current folder): kExitDone, or
// kExitUsage after saying why (no such folder, not a folder, the file
// system's root or on Windows a drive's or share's root, a real path a
// manifest cannot carry). ROOT is opened then (root->handle). A ROOT that
// is there but cannot be opened (no permission, say) is no usage error: the
// run reports it as a folder that cannot be listed.
int ResolveRoot(const std::string& typed, os::FolderAccess& access, Reporter& reporter, Root* root);

// Opens ROOT as a folder: 0, or the error (kErrorDirectory when it is no
// folder). root->name is set from the open folder.
os::Dword OpenRoot(os::FolderAccess& access, Root* root,
                   std::shared_ptr<os::FolderHandle>* handle);

}  // namespace tree
