// modmanifest-tree --watch: a normal run, then every manifest of the tree
// kept current as folders and XML files come, go and are renamed, until
// Ctrl-C (or SIGTERM, or the console closing).
#pragma once

#include "tree/options.h"

namespace tree {

// Runs the tree as RunTree does, then watches it. Returns the exit status:
// that of the first run when it could not start (a usage error), 1 when the
// tree cannot be watched (the system's limit of watches, ROOT removed), 0
// once interrupted.
int RunWatch(const Options& options);

}  // namespace tree
