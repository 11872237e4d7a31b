#include "platform/folder_access.h"

#include <algorithm>

namespace os {

Dword FolderAccess::OpenNameByName(const FolderHandle& top, std::string_view relative,
                                   FolderHandle* folder) {
  FolderHandle current;
  const FolderHandle* at = &top;
  for (std::string_view rest = relative; !rest.empty();) {
    const size_t cut = std::min(rest.find('\\'), rest.size());
    FolderHandle next;
    if (const Dword error = OpenSub(*at, rest.substr(0, cut), 0, &next)) return error;
    current = std::move(next);
    at = &current;
    rest.remove_prefix(std::min(cut + 1, rest.size()));
  }
  *folder = std::move(current);
  return 0;
}

}  // namespace os
