// What the end-to-end suites share: the built programs and how to start
// them (directly, or under Wine), temporary trees, and file helpers.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// How a built program is started: directly, or through Wine's loader.
struct Runner {
  std::string label;
  fs::path program;
  bool wine;
};

// The Linux program, then each Windows program MODMANIFEST_WINDOWS_EXES
// names (paths separated by ':').
std::vector<Runner> Runners();

// A per-folder program and the whole-tree tool built with it (the Windows
// one beside it, the Linux one by the build).
struct TreeRunner {
  Runner folderProgram;
  fs::path tree;
};
std::vector<TreeRunner> TreeRunners();

// A path as runner's programs take it: Wine sees the Linux file system as
// drive Z:, with '\' separators.
std::string ProgramPath(const Runner& runner, const fs::path& path);

// What runs a command as an unprivileged user (root ignores permission bits),
// with a Wine prefix of that user's own when the command is a Windows program.
std::vector<std::string> UnprivilegedUser(bool wine);

std::string ReadFile(const fs::path& path);
void WriteFile(const fs::path& path, const std::string& bytes);

// Runs argv with the given working directory; returns the exit status, or
// -1000 - signal when it was killed.
int RunProcess(const std::vector<std::string>& argv, const fs::path& workingDirectory,
               const std::vector<std::string>& prefix = {});

// Copies the program into folder, runs it there (from the folder, unless
// another working directory is given) and removes the copy again.
int RunIn(const Runner& runner, const fs::path& folder,
          const std::vector<std::string>& extraArgs = {},
          const fs::path& workingDirectory = {}, const std::vector<std::string>& prefix = {});

// The words that start runner's program (Wine's loader, a wrapper such as
// valgrind), without the program itself.
std::vector<std::string> Launcher(const Runner& runner);

// A started process whose standard output and error go to files.
struct Child {
  pid_t pid = -1;
  fs::path out;
  fs::path err;
};
Child Start(const std::vector<std::string>& argv, const fs::path& workingDirectory,
            const fs::path& outputFolder);
// Waits for the child: its exit status, or -1000 - signal.
int Wait(const Child& child);

// What a finished run printed.
struct Output {
  int status;
  std::string out;
  std::string err;
};
Output RunCaptured(const std::vector<std::string>& argv, const fs::path& workingDirectory);

// The manifest document with these entries.
std::string Document(const std::vector<std::string>& entries);

// Whether xmllint reads the file as well-formed XML.
bool WellFormed(const fs::path& manifest);

// A fresh temporary folder, removed at the end of the test.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;
  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

}  // namespace e2e
