// Windows entry point of the GUI-subsystem executable. The command line is
// stored by the framework and never read.
#include "platform/app_framework.h"

extern "C" int __stdcall WinMain(void* instance, void* /*previous*/, char* commandLine,
                                 int showCommand) {
  return os::FrameworkMain(instance, commandLine, showCommand);
}
