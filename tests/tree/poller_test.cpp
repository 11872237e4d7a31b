// A poll pass over a real tree: which folders it finds changed, from their
// stamps and those of their manifest and ignore file.
#include "tree/poller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

// A fresh folder, removed at the end; the seam's paths use '\\'.
class Tree {
 public:
  Tree() : root_(fs::temp_directory_path() / ("mm-poller-" + std::to_string(++serial_) + "-" +
                                              std::to_string(fs::file_time_type::clock::now()
                                                                 .time_since_epoch()
                                                                 .count()))) {
    fs::create_directories(root_);
  }
  ~Tree() { fs::remove_all(root_); }
  fs::path Native(const std::string& name) const { return root_ / name; }
  std::string Path() const {
    std::string path = root_.string();
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(Native(name), std::ios::binary) << bytes;
  }
  void MakeFolder(const std::string& name) const { fs::create_directory(Native(name)); }

 private:
  static inline int serial_ = 0;
  fs::path root_;
};

// Dates a file or folder an hour back (the C++ library cannot set a
// folder's time on Windows).
void AnHourBack(const fs::path& path) {
#ifdef _WIN32
  const HANDLE h = ::CreateFileW(path.wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
  t.QuadPart -= 36000000000ULL;  // an hour in 100 ns
  const FILETIME past{t.LowPart, t.HighPart};
  EXPECT_TRUE(::SetFileTime(h, nullptr, nullptr, &past));
  ::CloseHandle(h);
#else
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
#endif
}

// Every file and folder of the tree dated back, so that only what a row
// changes is recent.
void AgeTree(const fs::path& root) {
  for (auto& e : fs::recursive_directory_iterator(root)) AnHourBack(e.path());
  AnHourBack(root);
}

// A raw change as a row spells it: its kind, folder and name.
std::string Spelled(const os::RawChange& change) {
  static const char* const kinds[] = {"Created",  "Removed",  "RenamedFrom",
                                      "RenamedTo", "Modified", "AttributesChanged",
                                      "Lost",     "FolderGone", "FolderMoved", "FolderUnmounted"};
  std::string spelled = kinds[static_cast<int>(change.kind)];
  spelled += " \"" + change.folder + "\"";
  if (!change.name.empty()) spelled += " " + change.name;
  return spelled;
}

TEST(Poller, FindsTheFoldersWhoseNamesManifestOrIgnoreFileMoved) {
  struct Row {
    const char* what;
    std::function<void(const Tree&)> change;
    std::vector<std::string> expected;
    bool age = true;  // the tree dated back before the pass
    const char* forget = nullptr;  // forgotten before the pass, by Windows's case rule
    bool ignoreFile = false;       // "a" holds an ignore file from the start
  };
  const std::vector<Row> rows = {
      {"nothing changed", [](auto&) {}, {}},
      {"a file created", [](auto& t) { t.WriteFile("a/new.xml", ""); }, {"Modified \"a\""}},
      {"a manifest appended to in place",
       [](auto& t) { std::ofstream(t.Native("a/zenter.xml"), std::ios::app) << "x"; },
       {"Modified \"a\" zenter.xml"}},
      {"an ignore file made", [](auto& t) { t.WriteFile("a/.modmanifestignore", "x\n"); },
       {"Modified \"a\"", "Modified \"a\" .modmanifestignore"}},
      {"a sub-folder made: it is walked", [](auto& t) { t.MakeFolder("a/n"); },
       {"Modified \"a\"", "Created \"a\" n"}},
      {"a folder removed: it cannot be looked at", [](auto& t) { fs::remove_all(t.Native("b")); },
       {"Modified \"\"", "Lost \"b\""}},
      {"what changed within the last second is looked at again rather than trusted, "
       "an ignore file's sub-tree too",
       [](auto&) {},
       {"Modified \"\"", "Modified \"a\"", "Modified \"a\" .modmanifestignore",
        "Modified \"a\" zenter.xml", "Modified \"b\""},
       false, nullptr, true},
      {"a folder forgotten in another case is polled no more",
       [](auto& t) {
         t.WriteFile("a/new.xml", "");
         t.WriteFile("b/new.xml", "");
       },
       {"Modified \"b\""}, true, "A"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Tree t;
    t.MakeFolder("a");
    t.MakeFolder("b");
    t.WriteFile("a/zenter.xml", "<m/>");
    if (row.ignoreFile) t.WriteFile("a/.modmanifestignore", "f*\n");
    if (row.age) AgeTree(t.Native("."));
    os::FolderAccess& access = os::SystemFolders();
    os::FolderHandle root;
    ASSERT_EQ(access.OpenToKeep(t.Path(), &root), 0u);
    tree::Poller poller(access, row.forget != nullptr ? tree::NameCase::Any : tree::NameCase::Exact);
    for (const char* folder : {"", "a", "b"}) {
      os::FolderHandle handle;
      ASSERT_EQ(access.OpenBeneath(root, folder, &handle), 0u);
      poller.Add(folder, handle, "zenter.xml");
    }
    if (row.forget != nullptr) poller.Forget(row.forget);
    row.change(t);
    std::vector<os::RawChange> found;
    poller.Pass(root, &found);
    std::vector<std::string> spelled;
    for (const os::RawChange& change : found) spelled.push_back(Spelled(change));
    EXPECT_EQ(spelled, row.expected);
  }
}

}  // namespace
