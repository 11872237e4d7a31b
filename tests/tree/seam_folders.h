// Folders reached through the seam's table by full path, as the fake
// platform knows them: a FolderAccess for driving the tree tool's pieces
// over scripted files and failures. Each sync is recorded with the paths
// of the staged files it was asked to put on disk.
#pragma once

#include <string>
#include <vector>

#include "platform/folder_access.h"
#include "platform/path_parts.h"

namespace treetest {

class SeamFolders final : public os::FolderAccess {
 public:
  std::vector<std::vector<std::string>> syncs;
  bool syncOk = true;
  std::string syncFailsFor;  // a folder whose file system fails every sync that includes it

  os::HandleBudget Budget() const override { return {64, 512}; }
  os::Dword OpenRoot(const std::string& path, os::FolderHandle* folder,
                     std::string* ownName) override {
    *folder = os::FolderHandle(-1, path);
    *ownName = std::string(os::PathLastName(path));
    return 0;
  }
  os::Dword OpenSub(const os::FolderHandle& parent, std::string_view name, uint64_t,
                    os::FolderHandle* folder) override {
    *folder = os::FolderHandle(-1, os::JoinPath(parent.path(), name));
    return 0;
  }
  os::Dword OpenParent(const os::FolderHandle& folder, os::FolderHandle* parent) override {
    *parent = os::FolderHandle(-1, std::string(os::PathParent(folder.path())));
    return 0;
  }
  uint64_t Identity(const os::FolderHandle&) override { return 0; }
  os::Dword Attributes(const os::FolderHandle& folder, std::string_view) override {
    return os::Os().GetFileAttributesA(folder.path().c_str());
  }
  os::Dword List(const os::FolderHandle&, std::vector<os::ListedEntry>* entries) override {
    entries->clear();
    return 0;
  }
  os::Dword ReadFile(const os::FolderHandle&, std::string_view, size_t, std::string*) override {
    return os::kErrorFileNotFound;
  }
  os::Dword FileAttributes(const os::FolderHandle& folder, std::string_view name) override {
    return os::Os().GetFileAttributesA(os::JoinPath(folder.path(), name).c_str());
  }
  os::Dword Stage(const os::FolderHandle& folder, std::string_view name, const std::string& bytes,
                  os::StagedFile* file) override {
    const os::Platform& platform = os::Os();
    const std::string path = os::JoinPath(folder.path(), name);
    os::Handle h = platform.CreateFileA(path.c_str(), os::kGenericWrite, 0, nullptr,
                                        os::kCreateNew, os::kAttrNormal, nullptr);
    if (h == os::InvalidHandle()) return platform.GetLastError();
    os::Dword written = 0;
    const bool ok = platform.WriteFile(h, bytes.data(), static_cast<os::Dword>(bytes.size()),
                                       &written, nullptr) &&
                    written == bytes.size();
    const os::Dword error = ok ? 0 : platform.GetLastError();
    platform.CloseHandle(h);
    if (!ok) {
      platform.DeleteFileA(path.c_str());
      return error;
    }
    file->name.assign(name);
    return 0;
  }
  size_t SyncBatchSize() const override { return 512; }
  os::Dword Sync(const std::vector<const os::FolderHandle*>& folders,
                 const std::vector<const os::StagedFile*>& files) override {
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
      paths.push_back(os::JoinPath(folders[i]->path(), files[i]->name));
    }
    syncs.push_back(paths);
    for (const os::FolderHandle* folder : folders) {
      if (folder->path() == syncFailsFor) return os::kErrorAccessDenied;
    }
    return syncOk ? 0 : os::kErrorAccessDenied;
  }
  os::Dword Replace(const os::FolderHandle& folder, os::StagedFile* file,
                    std::string_view target) override {
    const os::Platform& platform = os::Os();
    return platform.MoveFileExA(os::JoinPath(folder.path(), file->name).c_str(),
                                os::JoinPath(folder.path(), target).c_str(),
                                os::kMoveReplaceExisting)
               ? 0
               : platform.GetLastError();
  }
  bool HeldByAnother(os::Dword) const override { return false; }
  void Discard(const os::FolderHandle& folder, os::StagedFile* file) override {
    Remove(folder, file->name);
  }
  bool Remove(const os::FolderHandle& folder, std::string_view name) override {
    return os::Os().DeleteFileA(os::JoinPath(folder.path(), name).c_str()) != 0;
  }
  void SyncRenames(const std::vector<const os::FolderHandle*>&) override {}
  os::Dword Stamp(const os::FolderHandle& folder, std::string_view name,
                  os::FileStamp* stamp) override {
    stamp->attributes = FileAttributes(folder, name);
    return stamp->attributes == os::kInvalidFileAttributes ? os::kErrorFileNotFound : 0;
  }
  os::Dword OpenBeneath(const os::FolderHandle& top, std::string_view relative,
                        os::FolderHandle* folder) override {
    *folder = os::FolderHandle(-1, relative.empty() ? top.path() : os::JoinPath(top.path(), relative));
    return 0;
  }
  os::Dword OpenToKeep(const std::string& path, os::FolderHandle* folder) override {
    *folder = os::FolderHandle(-1, path);
    return 0;
  }
  bool Removed(const os::FolderHandle& folder) override {
    return os::Os().GetFileAttributesA(folder.path().c_str()) == os::kInvalidFileAttributes;
  }
};

}  // namespace treetest
