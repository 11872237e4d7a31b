#include "rules/refused_target.h"

namespace rules {

const char* RefusedTarget(os::Dword attributes) {
  if (attributes == os::kInvalidFileAttributes) return nullptr;
  if (attributes & os::kAttrDirectory) return "is a folder";
  if (attributes & os::kAttrReadOnly) return "is read-only";
  if (attributes & os::kAttrHidden) return "is hidden";
  if (attributes & os::kAttrSystem) return "is a system file";
  return nullptr;
}

}  // namespace rules
