// What the platform tests share: a temporary folder per test, and whether
// the Win32 build runs under Wine.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform_test {

// Wine, run by root, lets a process write to and replace read-only files, as
// the Unix permissions allow; Windows itself refuses. Those checks are left
// out there.
inline bool WineIgnoresReadOnly() {
#ifdef _WIN32
  void* ntdll = os::NativePlatform().GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr &&
         ::GetProcAddress(static_cast<HMODULE>(ntdll), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A fresh folder under the system's temporary folder for one test, removed
// with everything in it (read-only files included) when the test ends.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    std::random_device random;
    native_ = std::filesystem::temp_directory_path() /
              ("mm-platform-" + std::to_string(os::NativePlatform().GetCurrentProcessId()) + "-" +
               std::to_string(counter++) + "-" + std::to_string(random()));
    std::filesystem::create_directories(native_);
  }
  ~TempFolder() {
    std::error_code ignored;
    for (auto& entry : std::filesystem::recursive_directory_iterator(native_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(native_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder as the seam takes it: '\' separators (the POSIX back-end turns
  // them into '/').
  std::string Path() const { return Backslashed(native_.string()); }
  std::string Path(const std::string& name) const { return Path() + "\\" + name; }
  std::filesystem::path Native(const std::string& name) const { return native_ / name; }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(Native(name), std::ios::binary);
    out << bytes;
  }
  std::string ReadFile(const std::string& name) const {
    std::ifstream in(Native(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void MakeFolder(const std::string& name) const { std::filesystem::create_directory(Native(name)); }

  static std::string Backslashed(std::string path) {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

 private:
  std::filesystem::path native_;
};

}  // namespace platform_test
