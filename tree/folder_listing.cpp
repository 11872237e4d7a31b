#include "tree/folder_listing.h"

#include <algorithm>

#include "generator/manifest_rule.h"
#include "platform/tree_os.h"

namespace tree {
namespace {

// The Win32 error that ends a listing normally.
constexpr os::Dword kErrorNoMoreFiles = 18;

// Lists folder\pattern and hands each name and attribute word to take.
// A pattern that matches nothing is an empty listing; a folder that is gone
// is Vanished; any other failure, also one part-way through, is Failed.
template <typename Take>
ListResult Each(const std::string& folder, std::string_view pattern, os::Dword* error,
                Take take) {
  const os::Platform& platform = os::Os();
  os::FindDataA data;
  // The basic listing, as the per-folder program asks for it: names and the
  // directory bit are all either pass needs.
  os::Handle find = platform.FindFirstFileExA(JoinPath(folder, pattern).c_str(),
                                              os::kFindExInfoBasic, &data,
                                              os::kFindExSearchNameMatch, nullptr, 0);
  if (find == os::InvalidHandle()) {
    *error = platform.GetLastError();
    if (*error == os::kErrorFileNotFound) return ListResult::Listed;
    return *error == os::kErrorPathNotFound ? ListResult::Vanished : ListResult::Failed;
  }
  do {
    take(std::string_view(data.cFileName), data.dwFileAttributes);
  } while (platform.FindNextFileA(find, &data));
  *error = platform.GetLastError();
  platform.FindClose(find);
  if (*error != kErrorNoMoreFiles && *error != 0) return ListResult::Failed;
  *error = 0;
  return ListResult::Listed;
}

bool IsDirectory(os::Dword attributes) { return (attributes & os::kAttrDirectory) != 0; }

}  // namespace

std::string JoinPath(std::string_view path, std::string_view name) {
  std::string joined;
  joined.reserve(path.size() + 1 + name.size());
  joined.append(path);
  if (joined.empty() || joined.back() != '\\') joined.push_back('\\');
  joined.append(name);
  return joined;
}

ListResult ListFolder(const std::string& folder, std::string_view manifestName,
                      const std::vector<std::string>& excludes, FolderListing* listing,
                      os::Dword* error, const SkipRules* skip) {
  listing->entries.clear();
  listing->subFolders.clear();
  *error = 0;

  // The sub-folders the exclude patterns match, as the platform's own
  // listing matches a pattern.
  std::vector<std::string> excluded;
  for (const std::string& pattern : excludes) {
    ListResult r = Each(folder, pattern, error, [&](std::string_view name, os::Dword attributes) {
      if (IsDirectory(attributes) && !gen::IsDotEntry(name)) excluded.emplace_back(name);
    });
    if (r != ListResult::Listed) return r;
  }
  auto isExcluded = [&excluded](std::string_view name) {
    return std::find(excluded.begin(), excluded.end(), name) != excluded.end();
  };

  ListResult r = Each(folder, gen::kXmlPassPattern.substr(1), error,
                      [&](std::string_view name, os::Dword attributes) {
                        if (!IsDirectory(attributes) && gen::IncludesFile(name, manifestName)) {
                          listing->entries.emplace_back(name);
                        }
                      });
  if (r != ListResult::Listed) return r;
  return Each(folder, gen::kFolderPassPattern.substr(1), error,
              [&](std::string_view name, os::Dword attributes) {
                if (!IsDirectory(attributes) || !gen::IncludesSubFolder(name) ||
                    isExcluded(name) || (skip != nullptr && skip->Skips(name, attributes))) {
                  return;
                }
                listing->entries.push_back(gen::SubFolderEntry(name));
                // A link is listed as the per-folder program lists it, but
                // never entered: a loop ends, and nothing outside the tree
                // is written.
                if (!os::tree::IsLink(JoinPath(folder, name))) listing->subFolders.emplace_back(name);
              });
}

}  // namespace tree
