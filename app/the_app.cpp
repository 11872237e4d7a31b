// The program's one RuntimeApplication, constructed by the language's static
// construction before main/WinMain runs and destroyed among the exit actions
// after it returns.
#include "generator/program.h"
#include "runtime/host/runtime_application.h"

namespace {
rt::RuntimeApplication theApp(gen::ThisProgram());
}
