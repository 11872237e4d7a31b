// What writing a manifest would change, as --check shows it: the include
// lines the new manifest adds and the ones it removes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tree {

struct IncludeChanges {
  std::vector<std::string> added;    // in the new manifest's order
  std::vector<std::string> removed;  // in the old manifest's order
  bool reordered = false;            // none added or removed, but in another order
  // Why the lines were not compared (the old manifest is too large to read
  // whole); null when they were.
  const char* notCompared = nullptr;
  bool tooLarge = false;  // notCompared as what happened: the old manifest is over 16 MiB
};

// Compares the include lines (Include elements, not the Includes that holds
// them; leading blanks and a trailing CR aside) of the manifest on disk with the new one's, counting
// repeats: a line present twice before and once after is removed once.
IncludeChanges CompareIncludes(std::string_view onDisk, std::string_view wanted);

}  // namespace tree
