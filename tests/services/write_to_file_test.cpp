// WriteToFile: the bytes reach the target only through a finished temporary
// file; every refusal and every failure leaves the target as it was and no
// temporary file behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/services/command.h"
#include "tests/fake/fake_platform.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// A ByteBlock: marker 1, 32-bit length, the bytes.
std::vector<uint8_t> Block(const std::string& bytes) {
  std::vector<uint8_t> block(8 + bytes.size());
  const int32_t header[2] = {1, static_cast<int32_t>(bytes.size())};
  std::memcpy(block.data(), header, 8);
  std::memcpy(block.data() + 8, bytes.data(), bytes.size());
  return block;
}

// Calls WriteToFile with the path and the blocks; returns the result's value.
uintptr_t Write(const std::string& path, const std::vector<std::string>& payloads) {
  std::vector<std::vector<uint8_t>> blocks;
  for (const std::string& p : payloads) blocks.push_back(Block(p));
  std::vector<rt::ArgRecord> args{{reinterpret_cast<uintptr_t>(path.c_str()), 0, rt::kTagText}};
  for (auto& b : blocks) args.push_back({reinterpret_cast<uintptr_t>(b.data()), 0, rt::kTagByteBlock});
  rt::ArgRecord result{0xDEAD, 0, 0};
  rt::WriteToFile(&result, static_cast<int32_t>(args.size()), args.data());
  EXPECT_EQ(result.high, 0u);
  EXPECT_EQ(result.tag, 0u);
  return result.value;
}

const std::string kTarget = "C:\\Tools\\Gen\\zenter.xml";
const std::string kOld = "<old manifest/>";

class WriteToFile : public ::testing::Test {
 protected:
  // The files of the fake's file system, by path.
  std::vector<std::string> Paths() const {
    std::vector<std::string> paths;
    for (const auto& [path, file] : fake.files) paths.push_back(path);
    return paths;
  }
  void ExpectOnlyTarget(const std::string& bytes) {
    EXPECT_EQ(Paths(), std::vector<std::string>{kTarget});
    EXPECT_EQ(fake.files[kTarget].bytes, bytes);
    EXPECT_EQ(fake.openFiles, 0);
  }

  fake::FakePlatform fake;
};

TEST_F(WriteToFile, WritesAndReplaces) {
  EXPECT_EQ(Write(kTarget, {"abc"}), 1u);
  ExpectOnlyTarget("abc");
  EXPECT_EQ(Write(kTarget, {"xyz"}), 1u);
  ExpectOnlyTarget("xyz");
  fake.files[kTarget].bytes = std::string(1000, 'x');
  EXPECT_EQ(Write(kTarget, {"abc"}), 1u);
  ExpectOnlyTarget("abc");
  EXPECT_EQ(Write(kTarget, {"ab", "", "cd"}), 1u);
  ExpectOnlyTarget("abcd");

  // Only the path, or only empty blocks: an empty file.
  EXPECT_EQ(Write(kTarget, {}), 1u);
  ExpectOnlyTarget("");
  fake.files[kTarget].bytes = kOld;
  EXPECT_EQ(Write(kTarget, {"", ""}), 1u);
  ExpectOnlyTarget("");

  // The bytes went to a new file in the same folder, flushed and closed
  // before it took the target's place.
  const int create = fake.IndexOf("CreateFileA C:\\Tools\\Gen\\~");
  ASSERT_GE(create, 0);
  EXPECT_LT(create, fake.IndexOf("FlushFileBuffers"));
  EXPECT_LT(fake.IndexOf("FlushFileBuffers"), fake.IndexOf("CloseHandle"));
  EXPECT_LT(fake.IndexOf("CloseHandle"), fake.IndexOf("MoveFileExA"));
}

TEST_F(WriteToFile, RefusalsLeaveTheTargetUntouched) {
  EXPECT_EQ(Write("", {"abc"}), 0u);
  EXPECT_TRUE(fake.files.empty());
  EXPECT_EQ(fake.CallCount("CreateFileA"), 0);

  for (os::Dword attribute : {os::kAttrReadOnly, os::kAttrHidden, os::kAttrSystem}) {
    fake.files[kTarget] = fake::File{kOld, attribute | os::kAttrArchive};
    fake.calls.clear();
    EXPECT_EQ(Write(kTarget, {"abc"}), 0u) << attribute;
    ExpectOnlyTarget(kOld);
    EXPECT_EQ(fake.CallCount("CreateFileA"), 0);
  }

  // Another process holds the target open.
  fake.files[kTarget] = fake::File{kOld, os::kAttrArchive, true};
  EXPECT_EQ(Write(kTarget, {"abc"}), 0u);
  ExpectOnlyTarget(kOld);

  // A folder of that name, and a folder that does not exist.
  fake.folders.insert("C:\\Tools\\Gen\\sub");
  EXPECT_EQ(Write("C:\\Tools\\Gen\\sub", {"abc"}), 0u);
  EXPECT_EQ(Write("C:\\Tools\\Missing\\zenter.xml", {"abc"}), 0u);
  ExpectOnlyTarget(kOld);
  EXPECT_EQ(fake.folders.count("C:\\Tools\\Missing"), 0u);
}

TEST_F(WriteToFile, FailuresRemoveTheTemporaryFileAndKeepTheTarget) {
  struct Case {
    const char* name;
    void (*arm)(fake::FakePlatform&);
  };
  const Case cases[] = {
      {"short first write", [](fake::FakePlatform& f) { f.shortWriteAt = 1; }},
      {"short second write", [](fake::FakePlatform& f) { f.shortWriteAt = 2; }},
      {"flush", [](fake::FakePlatform& f) { f.failFlush = true; }},
      {"close", [](fake::FakePlatform& f) { f.failClose = true; }},
      {"move", [](fake::FakePlatform& f) { f.failMove = true; }},
      {"create", [](fake::FakePlatform& f) { f.failCreate = true; }},
  };
  for (const Case& c : cases) {
    for (bool targetExists : {true, false}) {
      fake::FakePlatform f;
      if (targetExists) f.files[kTarget] = fake::File{kOld};
      c.arm(f);
      EXPECT_EQ(Write(kTarget, {"first block", "second block"}), 0u) << c.name;
      if (targetExists) {
        ASSERT_EQ(f.files.size(), 1u) << c.name;
        EXPECT_EQ(f.files[kTarget].bytes, kOld) << c.name;
      } else {
        EXPECT_TRUE(f.files.empty()) << c.name;
      }
      EXPECT_EQ(f.openFiles, 0) << c.name;
      // No later write after the failed one.
      if (f.shortWriteAt == 1) {
        EXPECT_EQ(f.writeCalls, 1);
      }
    }
  }
}

TEST_F(WriteToFile, TemporaryNameInUseIsNotTouched) {
  char taken[64];
  std::snprintf(taken, sizeof taken, "C:\\Tools\\Gen\\~mm%lx-0.tmp",
                static_cast<unsigned long>(fake.processId));
  fake.files[taken] = fake::File{"someone else's"};
  EXPECT_EQ(Write(kTarget, {"abc"}), 1u);
  EXPECT_EQ(fake.files[taken].bytes, "someone else's");
  EXPECT_EQ(fake.files[kTarget].bytes, "abc");
  EXPECT_EQ(fake.files.size(), 2u);
}

TEST_F(WriteToFile, DoubleByteFolderNames) {
  // The target's name ends in 0x95 0x5C, one character under code page 936:
  // its folder is C:\Tools, not C:\Tools\<0x95>.
  fake.ansiCodePage = 936;
  fake.folders.insert("C:\\Tools");
  const std::string target = "C:\\Tools\\\x95\x5C";
  EXPECT_EQ(Write(target, {"abc"}), 1u);
  EXPECT_EQ(fake.files[target].bytes, "abc");
  EXPECT_EQ(fake.files.size(), 1u);
}

// Over the real file system through the native back-end.
class WriteToFileNative : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder = std::filesystem::temp_directory_path() / ("mm_write_" + std::to_string(stamp));
    std::filesystem::create_directories(folder);
  }
  void TearDown() override {
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    std::filesystem::remove_all(folder);
  }
  // The path as the runtime spells it: with backslashes.
  std::string RuntimePath(const std::string& name) const {
    std::string path = (folder / name).string();
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(folder / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  std::filesystem::path folder;
};

TEST_F(WriteToFileNative, ReplacesOrRefusesOnDisk) {
  EXPECT_EQ(Write(RuntimePath("zenter.xml"), {"ab", "cd"}), 1u);
  EXPECT_EQ(Read("zenter.xml"), "abcd");
  std::ofstream(folder / "zenter.xml", std::ios::binary) << std::string(1000, 'x');
  EXPECT_EQ(Write(RuntimePath("zenter.xml"), {"abc"}), 1u);
  EXPECT_EQ(Read("zenter.xml"), "abc");
  EXPECT_EQ(Names(), std::vector<std::string>{"zenter.xml"});

  // A read-only target (no write bit at all) is left as it is.
  std::filesystem::permissions(folder / "zenter.xml",
                               std::filesystem::perms::owner_write |
                                   std::filesystem::perms::group_write |
                                   std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);
  EXPECT_EQ(Write(RuntimePath("zenter.xml"), {"new"}), 0u);
  EXPECT_EQ(Read("zenter.xml"), "abc");

  // A missing folder is not created.
  EXPECT_EQ(Write(RuntimePath("missing\\zenter.xml"), {"new"}), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
  EXPECT_EQ(Names(), std::vector<std::string>{"zenter.xml"});
}

#if defined(_WIN32)
// Windows refuses to share a file opened without sharing: while someone
// holds the target that way, it is not replaced.
TEST_F(WriteToFileNative, TargetHeldOpenIsNotReplaced) {
  const std::string target = RuntimePath("zenter.xml");
  EXPECT_EQ(Write(target, {"abc"}), 1u);
  const os::Platform& native = os::NativePlatform();
  os::Handle held = native.CreateFileA(target.c_str(), os::kGenericWrite, 0, nullptr,
                                       os::kOpenExisting, os::kAttrNormal, nullptr);
  ASSERT_NE(held, os::InvalidHandle());
  EXPECT_EQ(Write(target, {"new"}), 0u);
  native.CloseHandle(held);
  EXPECT_EQ(Read("zenter.xml"), "abc");
  EXPECT_EQ(Names(), std::vector<std::string>{"zenter.xml"});
  EXPECT_EQ(Write(target, {"new"}), 1u);
  EXPECT_EQ(Read("zenter.xml"), "new");
}
#endif

}  // namespace
