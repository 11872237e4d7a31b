#include "tree/leftovers.h"

#include "platform/process_control.h"
#include "rules/temporary_file_name.h"
#include "tree/run_state.h"

namespace tree {

void RemoveLeftoverFiles(RunState& run, const os::FolderHandle& folder,
                         const std::vector<os::ListedEntry>& listed, const std::string& shown) {
  const unsigned long self = os::Os().GetCurrentProcessId();
  for (const os::ListedEntry& e : listed) {
    if ((e.attributes & (os::kAttrDirectory | os::kAttrLink)) != 0) continue;
    const std::optional<rules::TemporaryFileOrigin> origin = rules::ParseTemporaryFileName(e.name);
    if (!origin || origin->processId == self || os::ProcessRuns(origin->processId)) continue;
    if (run.access.Remove(folder, e.name)) {
      ++run.tally.leftovers;
      run.reporter.LeftoverRemoved(Shown(shown, e.name));
    }
  }
}

}  // namespace tree
