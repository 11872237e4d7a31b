#include "tree/leftovers.h"

#include "platform/process_control.h"
#include "tree/run_state.h"

namespace tree {
namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<unsigned long> TemporaryFileProcess(std::string_view name) {
  // Exactly the forms the programs write: lower-case hexadecimal, no sign,
  // no leading zeros in the id beyond a lone 0.
  if (!name.starts_with("~mm") || !name.ends_with(".tmp")) return std::nullopt;
  name.remove_prefix(3);
  name.remove_suffix(4);
  if (name.starts_with("t")) name.remove_prefix(1);
  const size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash > 8 || dash + 1 == name.size()) {
    return std::nullopt;
  }
  unsigned long pid = 0;
  for (size_t i = 0; i < dash; ++i) {
    if (!IsHexDigit(name[i])) return std::nullopt;
    pid = pid * 16 + static_cast<unsigned long>(name[i] <= '9' ? name[i] - '0' : name[i] - 'a' + 10);
  }
  if (name[0] == '0' && dash > 1) return std::nullopt;
  for (size_t i = dash + 1; i < name.size(); ++i) {
    if (!IsDigit(name[i])) return std::nullopt;
  }
  return pid;
}

void RemoveLeftoverFiles(RunState& run, const os::FolderHandle& folder,
                         const std::vector<os::ListedEntry>& listed, const std::string& shown) {
  const unsigned long self = os::Os().GetCurrentProcessId();
  for (const os::ListedEntry& e : listed) {
    if ((e.attributes & (os::kAttrDirectory | os::kAttrLink)) != 0) continue;
    const std::optional<unsigned long> pid = TemporaryFileProcess(e.name);
    if (!pid || *pid == self || os::ProcessRuns(*pid)) continue;
    if (run.access.Remove(folder, e.name)) {
      ++run.tally.leftovers;
      run.reporter.LeftoverRemoved(Shown(shown, e.name));
    }
  }
}

}  // namespace tree
