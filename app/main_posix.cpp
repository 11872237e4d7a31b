// Linux entry point. Arguments are ignored: the tool's only input is the
// folder that holds it.
#include "platform/app_framework.h"

int main() { return os::FrameworkMain(os::Os().GetModuleHandleA(nullptr), "", 10); }
