#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace e2e {

std::vector<Runner> Runners() {
  std::vector<Runner> runners{{"linux", MODMANIFEST_PROGRAM, false}};
  if (const char* list = std::getenv("MODMANIFEST_WINDOWS_EXES")) {
    std::stringstream paths(list);
    std::string path;
    while (std::getline(paths, path, ':')) {
      if (!path.empty()) runners.push_back({"wine " + path, path, true});
    }
  }
  return runners;
}

std::vector<TreeRunner> TreeRunners() {
  std::vector<TreeRunner> runners;
  for (const Runner& r : Runners()) {
    runners.push_back(
        {r, r.wine ? r.program.parent_path() / "modmanifest-tree.exe" : MODMANIFEST_TREE_PROGRAM});
  }
  return runners;
}

std::string ProgramPath(const Runner& runner, const fs::path& path) {
  if (!runner.wine) return path.string();
  std::string p = "Z:" + path.string();
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

std::vector<std::string> UnprivilegedUser(bool wine) {
  std::vector<std::string> prefix;
  if (geteuid() == 0) {
    prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  }
  if (wine && geteuid() == 0) {
    fs::path home = fs::temp_directory_path() / "mm-e2e-wine-65534";
    fs::create_directories(home);
    EXPECT_EQ(chown(home.c_str(), 65534, 65534), 0);
    prefix.insert(prefix.end(), {"env", "HOME=" + home.string(),
                                 "WINEPREFIX=" + (home / "prefix").string()});
  }
  return prefix;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

namespace {

pid_t Spawn(const std::vector<std::string>& all, const fs::path& workingDirectory,
            const fs::path& out, const fs::path& err) {
  std::vector<std::string> copy = all;
  std::vector<char*> args;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  if (!out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int WaitFor(pid_t pid) {
  if (pid < 0) return -2000;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return -1000 - WTERMSIG(status);
  return WEXITSTATUS(status);
}

}  // namespace

int RunProcess(const std::vector<std::string>& argv, const fs::path& workingDirectory,
               const std::vector<std::string>& prefix) {
  std::vector<std::string> all = prefix;
  all.insert(all.end(), argv.begin(), argv.end());
  return WaitFor(Spawn(all, workingDirectory, {}, {}));
}

std::vector<std::string> Launcher(const Runner& runner) {
  std::vector<std::string> argv;
  if (runner.wine) {
    argv.push_back(MODMANIFEST_WINE_RUN);
  } else if (const char* wrapper = std::getenv("MODMANIFEST_LINUX_WRAPPER")) {
    // A command that runs the Linux program, such as valgrind with its
    // options; words separated by spaces.
    std::string words = wrapper;
    for (size_t start = 0; start < words.size();) {
      size_t end = words.find(' ', start);
      if (end == std::string::npos) end = words.size();
      if (end > start) argv.push_back(words.substr(start, end - start));
      start = end + 1;
    }
  }
  return argv;
}

int RunIn(const Runner& runner, const fs::path& folder, const std::vector<std::string>& extraArgs,
          const fs::path& workingDirectory, const std::vector<std::string>& prefix) {
  fs::path copy = folder / runner.program.filename();
  fs::copy_file(runner.program, copy, fs::copy_options::overwrite_existing);
  std::vector<std::string> argv = Launcher(runner);
  argv.push_back(copy.string());
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  int status = RunProcess(argv, workingDirectory.empty() ? folder : workingDirectory, prefix);
  fs::remove(copy);
  // Wine reports the exit status -1 as 255 like Linux does.
  return status;
}

Child Start(const std::vector<std::string>& argv, const fs::path& workingDirectory,
            const fs::path& outputFolder) {
  static int serial = 0;
  Child child;
  const std::string stem = "out-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  child.out = outputFolder / (stem + ".stdout");
  child.err = outputFolder / (stem + ".stderr");
  child.pid = Spawn(argv, workingDirectory, child.out, child.err);
  return child;
}

int Wait(const Child& child) { return WaitFor(child.pid); }

Output RunCaptured(const std::vector<std::string>& argv, const fs::path& workingDirectory) {
  const fs::path outputs = fs::temp_directory_path();
  Child child = Start(argv, workingDirectory, outputs);
  Output output{Wait(child), ReadFile(child.out), ReadFile(child.err)};
  fs::remove(child.out);
  fs::remove(child.err);
  return output;
}

std::string Document(const std::vector<std::string>& entries) {
  std::string d =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<AssetDeclaration xmlns=\"" MODMANIFEST_ASSET_NAMESPACE
      "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n"
      " <Includes>\r\n"
      "\r\n"
      "  <Include type=\"reference\" source=\"DATA:static.xml\" />\r\n"
      "  <Include type=\"reference\" source=\"DATA:global.xml\" />\r\n"
      "  <Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n"
      "\r\n";
  for (const std::string& e : entries) d += " <Include type=\"all\" source=\"" + e + "\" />\r\n";
  d += "\r\n </Includes>\r\n</AssetDeclaration>\r\n";
  return d;
}

bool WellFormed(const fs::path& manifest) {
  // Started without a shell, so that no name needs quoting.
  return RunCaptured({"xmllint", "--noout", manifest.string()}, "/").status == 0;
}

TempTree::TempTree() {
  std::string pattern = (fs::temp_directory_path() / "modmanifest-e2e-XXXXXX").string();
  root_ = mkdtemp(pattern.data());
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
}

TempTree::~TempTree() {
  std::error_code ignored;
  // Undo permission changes a test made, so everything can be removed.
  for (auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ignored);
}

}  // namespace e2e
