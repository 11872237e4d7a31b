// The command caller behind ServiceTable slots 2 and 3: every command starts
// from a result record of three zero words, so a command that writes nothing
// hands back the empty value of no kind.
#include "runtime/services/command.h"

namespace rt {

ArgRecord CallCommand(Command command, int32_t count, const ArgRecord* args) {
  ArgRecord result{0, 0, 0};
  command(&result, count, args);
  return result;
}

}  // namespace rt
