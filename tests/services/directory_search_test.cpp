// Directory search over scripted listings: the attribute filter, and the
// SearchState moving between closed and open.
#include "runtime/services/directory_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "runtime/host/runtime_application.h"
#include "runtime/values/value_memory.h"
#include "tests/fake/fake_platform.h"

namespace {

constexpr os::Dword kFile = os::kAttrArchive;
constexpr os::Dword kDir = os::kAttrDirectory;

class DirectorySearch : public ::testing::Test {
 protected:
  DirectorySearch() {
    fake.listings["C:\\m\\*.*"] = {{".", kDir},      {"..", kDir},    {"a.xml", kFile},
                                   {"b.txt", kFile}, {"sub", kDir}};
    app.RuntimeHeap = os::Os().GetProcessHeap();
    fake.calls.clear();
  }

  // Takes a result: its name (the marker "<null>" for null), released.
  std::string Take(char* name) {
    if (name == nullptr) return "<null>";
    EXPECT_EQ(fake.BlockSize(name), static_cast<long>(std::string(name).size() + 1));
    std::string copy = name;
    rt::ReleaseBlock(name);
    return copy;
  }

  // Starts with pattern and continues until the null result.
  std::vector<std::string> All(const char* pattern, int32_t mask, int32_t omitted) {
    std::vector<std::string> names;
    std::string name = Take(rt::FindFile(pattern, mask, omitted, &state));
    while (name != "<null>") {
      names.push_back(name);
      name = Take(rt::FindFile(nullptr, mask, omitted, &state));
    }
    EXPECT_EQ(state, nullptr);
    return names;
  }

  fake::FakePlatform fake;
  rt::ProgramDescription description{};
  rt::ProgramImage image{&description, nullptr, nullptr, nullptr};
  rt::RuntimeApplication app{image};
  void* state = nullptr;
};

using Names = std::vector<std::string>;

TEST_F(DirectorySearch, DefaultFilterTakesFilesAndMask10TakesFolders) {
  EXPECT_EQ(All("C:\\m\\*.*", 0, 1), (Names{"a.xml", "b.txt"}));
  EXPECT_EQ(All("C:\\m\\*.*", 0x10, 0), (Names{".", "..", "sub"}));
  // Each listing was closed at its end, exactly once.
  EXPECT_EQ(fake.CallCount("FindClose"), 2);
  EXPECT_EQ(fake.openFinds, 0);
}

TEST_F(DirectorySearch, MaskBitsAreAlternatives) {
  fake.listings["C:\\m\\*"] = {{"hidden.xml", os::kAttrHidden | kFile},
                               {"system.xml", os::kAttrSystem | kFile},
                               {"hiddendir", os::kAttrHidden | kDir},
                               {"systemdir", os::kAttrSystem | kDir},
                               {"plain", kDir},
                               {"ro.xml", os::kAttrReadOnly}};
  EXPECT_EQ(All("C:\\m\\*", 0, 1), (Names{"hidden.xml", "system.xml", "ro.xml"}));
  EXPECT_EQ(All("C:\\m\\*", 0x10, 0), (Names{"hiddendir", "systemdir", "plain"}));
  EXPECT_EQ(All("C:\\m\\*", 0x12, 0), (Names{"hidden.xml", "hiddendir", "systemdir", "plain"}));
  // Bits outside 0x37 are dropped; 0x1 | 0x80 is read-only alone.
  EXPECT_EQ(All("C:\\m\\*", 0x81, 0), (Names{"ro.xml"}));
}

TEST_F(DirectorySearch, MaskWithNoUsableBitTakesOnlyAttributeWordZero) {
  fake.listings["C:\\m\\*"] = {{"normal.xml", os::kAttrNormal},
                               {"zero.xml", 0},
                               {"archive.xml", kFile},
                               {"dir", kDir}};
  for (int32_t mask : {0, 0x08, 0x80}) {
    fake.calls.clear();
    EXPECT_EQ(All("C:\\m\\*", mask, 0), (Names{"zero.xml"})) << mask;
  }
  // Only normal files: the whole listing is read and the search ends empty.
  fake.listings["C:\\m\\*"] = {{"normal.xml", os::kAttrNormal}, {"b.xml", os::kAttrNormal}};
  fake.calls.clear();
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*", 0, 0, &state)), "<null>");
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(fake.CallCount("FindNextFileA"), 2);
  EXPECT_EQ(fake.CallCount("FindClose"), 1);
}

TEST_F(DirectorySearch, StateTransitions) {
  fake.listings["C:\\n\\*"] = {{"x.xml", kFile}, {"y.xml", kFile}};

  // Closed, continue: null without a platform call.
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0, 1, &state)), "<null>");
  EXPECT_EQ(Take(rt::FindFile("", 0, 1, &state)), "<null>");
  EXPECT_TRUE(fake.calls.empty());

  // Closed, start: open with the first accepted entry.
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*.*", 0, 1, &state)), "a.xml");
  void* first = state;
  ASSERT_NE(first, nullptr);
  // "" continues the open listing; it does not start a search for nothing.
  EXPECT_EQ(Take(rt::FindFile("", 0, 1, &state)), "b.txt");
  EXPECT_EQ(state, first);
  EXPECT_EQ(fake.CallCount("FindFirstFileA"), 1);

  // Open, start: the old listing is closed first, then the new one continues.
  EXPECT_EQ(Take(rt::FindFile("C:\\n\\*", 0, 1, &state)), "x.xml");
  EXPECT_LT(fake.IndexOf("FindClose"), fake.IndexOf("FindFirstFileA C:\\n\\*"));
  EXPECT_EQ(fake.openFinds, 1);
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0, 1, &state)), "y.xml");

  // Open, continue past the end: closed, and stays closed without calls.
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0, 1, &state)), "<null>");
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(fake.openFinds, 0);
  const size_t calls = fake.calls.size();
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0, 1, &state)), "<null>");
  EXPECT_EQ(fake.calls.size(), calls);

  // Open, start with a pattern that fails: the old handle is closed and the
  // state is closed.
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*.*", 0, 1, &state)), "a.xml");
  EXPECT_EQ(Take(rt::FindFile("C:\\missing\\*", 0, 1, &state)), "<null>");
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(fake.openFinds, 0);

  // A listing in which nothing is accepted ends closed.
  EXPECT_EQ(Take(rt::FindFile("C:\\n\\*", 0x10, 0, &state)), "<null>");
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(fake.openFinds, 0);
}

TEST_F(DirectorySearch, CloseSearchClosesAnOpenListingOnly) {
  rt::CloseSearch(nullptr);
  EXPECT_EQ(fake.CallCount("FindClose"), 0);
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*.*", 0x10, 0, &state)), ".");
  rt::CloseSearch(state);
  EXPECT_EQ(fake.CallCount("FindClose"), 1);
  EXPECT_EQ(fake.openFinds, 0);
}

TEST_F(DirectorySearch, SeparateStatesListSideBySide) {
  void* other = nullptr;
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*.*", 0, 1, &state)), "a.xml");
  EXPECT_EQ(Take(rt::FindFile("C:\\m\\*.*", 0x10, 0, &other)), ".");
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0, 1, &state)), "b.txt");
  EXPECT_EQ(Take(rt::FindFile(nullptr, 0x10, 0, &other)), "..");
  rt::CloseSearch(state);
  rt::CloseSearch(other);
  EXPECT_EQ(fake.openFinds, 0);
}

// Over the native back-end in a real folder: bare names, both filters, and
// the dot entries among the folders.
TEST(DirectorySearchNative, ListsARealFolder) {
  namespace fs = std::filesystem;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path folder = fs::temp_directory_path() / ("mm_search_" + std::to_string(stamp));
  fs::create_directories(folder / "sub");
  std::ofstream(folder / "a.xml") << "<a/>";
  std::ofstream(folder / "b.txt") << "b";
  std::string pattern = folder.string();
  for (char& c : pattern) {
    if (c == '/') c = '\\';
  }

  rt::ProgramDescription description{};
  rt::ProgramImage image{&description, nullptr, nullptr, nullptr};
  rt::RuntimeApplication app{image};
  app.RuntimeHeap = os::Os().GetProcessHeap();
  auto all = [](const std::string& first, int32_t mask, int32_t omitted) {
    void* state = nullptr;
    std::multiset<std::string> names;
    for (char* name = rt::FindFile(first.c_str(), mask, omitted, &state); name != nullptr;
         name = rt::FindFile(nullptr, mask, omitted, &state)) {
      names.insert(name);
      rt::ReleaseBlock(name);
    }
    EXPECT_EQ(state, nullptr);
    return names;
  };
  EXPECT_EQ(all(pattern + "\\*.xml", 0, 1), (std::multiset<std::string>{"a.xml"}));
  EXPECT_EQ(all(pattern + "\\*.*", 0, 1), (std::multiset<std::string>{"a.xml", "b.txt"}));
  EXPECT_EQ(all(pattern + "\\*.*", 0x10, 0), (std::multiset<std::string>{".", "..", "sub"}));
  EXPECT_TRUE(all(pattern + "\\missing\\*.*", 0, 1).empty());
  fs::remove_all(folder);
}

}  // namespace
