// The program's folder: splitting the executable's path (double-byte code
// pages included), paths longer than the first buffer, and the command that
// hands out copies of the folder.
#include "runtime/services/program_directory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/host/runtime_application.h"
#include "runtime/services/command.h"
#include "runtime/services/libraries.h"
#include "runtime/values/value_memory.h"
#include "tests/fake/fake_platform.h"

#if defined(__linux__)
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace {

class ProgramDirectory : public ::testing::Test {
 protected:
  std::pair<std::string, std::string> Split(const std::string& path, os::Dword codePage) {
    rt::ModulePathParts parts = rt::SplitModulePath(path, codePage);
    return {parts.directory, parts.fileName};
  }
  std::pair<std::string, std::string> Load(const std::string& modulePath) {
    fake.modulePath = modulePath;
    rt::LoadProgramDirectory(app);
    return {app.ProgramDirectory, app.ProgramFileName};
  }

  fake::FakePlatform fake;
  rt::ProgramDescription description{};
  rt::ProgramImage image{&description, nullptr, nullptr, nullptr};
  rt::RuntimeApplication app{image};
};

using Parts = std::pair<std::string, std::string>;

TEST_F(ProgramDirectory, SplitsAtTheLastSeparator) {
  EXPECT_EQ(Split("C:\\Tools\\Gen\\tool.exe", 1252), (Parts{"C:\\Tools\\Gen", "tool.exe"}));
  EXPECT_EQ(Split("C:\\tool.exe", 1252), (Parts{"C:", "tool.exe"}));
  EXPECT_EQ(Split("\\\\server\\share\\tool.exe", 1252), (Parts{"\\\\server\\share", "tool.exe"}));
  EXPECT_EQ(Split("tool.exe", 1252), (Parts{"", "tool.exe"}));
  EXPECT_EQ(Split("", 1252), (Parts{"", ""}));
  EXPECT_EQ(Split("C:\\dir\\", 1252), (Parts{"C:\\dir", ""}));
}

TEST_F(ProgramDirectory, TrailByte5CIsNotASeparatorUnderADoubleByteCodePage) {
  // 0x95 0x5C is one character in code page 936.
  const std::string name = "\x95\x5C.exe";
  EXPECT_EQ(Split("C:\\Gen\\" + name, 936), (Parts{"C:\\Gen", name}));
  EXPECT_EQ(Split("C:\\Mods\\\x95\x5C\\tool.exe", 936),
            (Parts{"C:\\Mods\\\x95\x5C", "tool.exe"}));
  // A single-byte code page takes every 0x5C byte for a separator.
  EXPECT_EQ(Split("C:\\Gen\\" + name, 1252), (Parts{"C:\\Gen\\\x95", ".exe"}));
  // A lead byte as the last byte has no trail byte to take.
  EXPECT_EQ(Split("C:\\Gen\\a\x95", 936), (Parts{"C:\\Gen", "a\x95"}));
  // The ANSI code page is the process's: here the fake's 936.
  fake.ansiCodePage = 936;
  EXPECT_EQ(Load("C:\\Gen\\" + name), (Parts{"C:\\Gen", name}));
}

TEST_F(ProgramDirectory, PathsLongerThanTheFirstBufferAreNeverCutShort) {
  EXPECT_EQ(Load("C:\\Tools\\Gen\\tool.exe"), (Parts{"C:\\Tools\\Gen", "tool.exe"}));
  EXPECT_EQ(fake.CallCount("GetModuleFileNameA"), 1);

  for (size_t length : {259u, 260u, 261u, 600u, 5000u}) {
    // A folder of length - 9 bytes, then "\tool.exe".
    std::string folder = "C:\\" + std::string(length - 12, 'd');
    EXPECT_EQ(Load(folder + "\\tool.exe"), (Parts{folder, "tool.exe"})) << length;
  }
  // The platform cannot tell the path: an empty folder.
  EXPECT_EQ(Load(""), (Parts{"", ""}));
}

// GetProgramDirectory asks the host through the entry that start-up handed
// to the core library.
TEST_F(ProgramDirectory, CommandHandsOutNewCopies) {
  app.RuntimeHeap = os::Os().GetProcessHeap();
  rt::CoreLibrary.notify(1, reinterpret_cast<intptr_t>(&rt::HostRequest), 0);
  app.ProgramDirectory = "C:\\Tools\\Gen";

  rt::ArgRecord first = rt::CallCommand(&rt::GetProgramDirectory, 0, nullptr);
  rt::ArgRecord second = rt::CallCommand(&rt::GetProgramDirectory, 0, nullptr);
  auto* a = reinterpret_cast<char*>(first.value);
  auto* b = reinterpret_cast<char*>(second.value);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_STREQ(a, "C:\\Tools\\Gen");
  EXPECT_EQ(fake.BlockSize(a), 13);
  EXPECT_EQ(first.high, 0u);
  EXPECT_EQ(first.tag, 0u);
  rt::ReleaseBlock(a);
  EXPECT_STREQ(b, "C:\\Tools\\Gen");
  EXPECT_EQ(app.ProgramDirectory, "C:\\Tools\\Gen");
  rt::ReleaseBlock(b);

  app.ProgramDirectory.clear();
  EXPECT_EQ(rt::CallCommand(&rt::GetProgramDirectory, 0, nullptr).value, 0u);
}

#if defined(__linux__)
// Over the real back-end: the folder of this test executable, with the
// separators the runtime sees.
TEST(ProgramDirectoryNative, FolderOfTheRunningExecutable) {
  rt::ProgramDescription description{};
  rt::ProgramImage image{&description, nullptr, nullptr, nullptr};
  rt::RuntimeApplication app{image};
  rt::LoadProgramDirectory(app);
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::string folder = self.parent_path().string();
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  EXPECT_EQ(app.ProgramDirectory, folder);
  EXPECT_EQ(app.ProgramFileName, self.filename().string());
}

// The same check from a copy of this executable in a folder whose path is far
// longer than 260 bytes.
TEST(ProgramDirectoryNative, FolderLongerThanTheFirstBuffer) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("mm_long_" + std::to_string(::getpid()));
  fs::path deep = root;
  for (int i = 0; i < 8; ++i) deep /= std::string(40, static_cast<char>('a' + i));
  fs::create_directories(deep);
  ASSERT_GT(deep.string().size(), 320u);
  const fs::path copy = deep / "services_test";
  fs::copy_file(fs::read_symlink("/proc/self/exe"), copy);
  const fs::path output = root / "output.txt";
  const std::string command =
      "'" + copy.string() + "' --gtest_filter=ProgramDirectoryNative.FolderOfTheRunningExecutable >'" +
      output.string() + "' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(output);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("[  PASSED  ] 1 test."), std::string::npos) << text;
  fs::remove_all(root);
}
#endif

}  // namespace
