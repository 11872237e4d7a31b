// Linux entry point. Arguments are ignored: the tool's only input is the
// folder that holds it, the folder of the path it was started by.
#include "platform/app_framework.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  os::SetStartPath(argc > 0 ? argv[0] : nullptr);
  return os::FrameworkMain(os::Os().GetModuleHandleA(nullptr), "", 10);
}
