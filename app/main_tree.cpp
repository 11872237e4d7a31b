// Entry point of the whole-tree tool, a console program on both systems.
#include "platform/console.h"
#include "tree/cli.h"

int main(int argc, char** argv) { return tree::TreeMain(os::CommandLine(argc, argv)); }
