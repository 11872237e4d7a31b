// Entry point of the whole-tree tool, a console program on both systems.
#include "platform/tree_os.h"
#include "tree/tree_cli.h"

int main(int argc, char** argv) { return tree::TreeMain(os::tree::CommandLine(argc, argv)); }
