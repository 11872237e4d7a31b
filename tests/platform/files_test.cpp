// Conformance of listings and files: each test states one behaviour of the
// Win32 calls and runs against this build's own back-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;

const os::Platform& P() { return os::NativePlatform(); }

struct Listed {
  std::string name;
  os::Dword attributes;
};

// The whole listing of a pattern; an empty list when FindFirstFileA fails.
std::vector<Listed> List(const std::string& pattern, os::Dword* error = nullptr) {
  std::vector<Listed> out;
  os::FindDataA data{};
  os::Handle h = P().FindFirstFileA(pattern.c_str(), &data);
  if (h == os::InvalidHandle()) {
    if (error != nullptr) *error = P().GetLastError();
    return out;
  }
  do {
    out.push_back({data.cFileName, data.dwFileAttributes});
  } while (P().FindNextFileA(h, &data));
  if (error != nullptr) *error = P().GetLastError();
  EXPECT_TRUE(P().FindClose(h));
  return out;
}

std::vector<std::string> Names(const std::vector<Listed>& listed) {
  std::vector<std::string> names;
  for (const Listed& l : listed) names.push_back(l.name);
  return names;
}

os::Handle Create(const std::string& path, os::Dword disposition, os::Dword attributes = 0x80) {
  return P().CreateFileA(path.c_str(), os::kGenericWrite, 0, nullptr, disposition, attributes,
                         nullptr);
}

bool WriteAll(os::Handle h, const std::string& bytes) {
  os::Dword written = 0;
  return P().WriteFile(h, bytes.data(), static_cast<os::Dword>(bytes.size()), &written,
                       nullptr) &&
         written == bytes.size();
}

TEST(Listing, DotEntriesFirstThenNamesInCaseInsensitiveOrdinalOrder) {
  TempFolder dir;
  for (const char* name : {"b.xml", "_u.txt", "Zed", "A.xml", "c.XML"}) dir.WriteFile(name, "x");
  dir.MakeFolder("sub");
  os::Dword error = 0;
  std::vector<std::string> names = Names(List(dir.Path("*"), &error));
  EXPECT_EQ(error, os::kErrorNoMoreFiles);
  ASSERT_EQ(names.size(), 8u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  // '_' (0x5F) sorts after every upper-cased letter.
  std::vector<std::string> expected{".", "..", "A.xml", "b.xml", "c.XML", "sub", "Zed", "_u.txt"};
  EXPECT_EQ(names, expected);
}

TEST(Listing, WildcardsMatchCaseInsensitivelyAndStarDotStarMatchesEveryName) {
  TempFolder dir;
  for (const char* name : {"a.xml", "B.XML", "c.xm", "noext", "ab.xml", "x.xml.bak"}) {
    dir.WriteFile(name, "x");
  }
  dir.MakeFolder("sub");
  auto sorted = [](std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  };
  EXPECT_EQ(sorted(Names(List(dir.Path("*.xml")))),
            (std::vector<std::string>{"B.XML", "a.xml", "ab.xml"}));
  EXPECT_EQ(sorted(Names(List(dir.Path("?.xml")))), (std::vector<std::string>{"B.XML", "a.xml"}));
  EXPECT_EQ(Names(List(dir.Path("A.XML"))), (std::vector<std::string>{"a.xml"}));
  EXPECT_EQ(sorted(Names(List(dir.Path("*.*")))),
            (std::vector<std::string>{".", "..", "B.XML", "a.xml", "ab.xml", "c.xm", "noext",
                                      "sub", "x.xml.bak"}));
}

TEST(Listing, FailuresTellNoMatchFromMissingFolder) {
  TempFolder dir;
  dir.WriteFile("a.xml", "x");
  os::Dword error = 0;
  EXPECT_TRUE(List(dir.Path("*.txt"), &error).empty());
  EXPECT_EQ(error, os::kErrorFileNotFound);
  EXPECT_TRUE(List(dir.Path("missing\\*.*"), &error).empty());
  EXPECT_EQ(error, os::kErrorPathNotFound);

  // After the last entry, FindNextFileA keeps failing with "no more files".
  os::FindDataA data{};
  os::Handle h = P().FindFirstFileA(dir.Path("a.xml").c_str(), &data);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_FALSE(P().FindNextFileA(h, &data));
  EXPECT_EQ(P().GetLastError(), os::kErrorNoMoreFiles);
  EXPECT_FALSE(P().FindNextFileA(h, &data));
  EXPECT_TRUE(P().FindClose(h));
}

TEST(Attributes, FolderArchiveReadOnlyAndHidden) {
  TempFolder dir;
  dir.MakeFolder("sub");
  dir.WriteFile("plain.xml", "x");
  // Created through the seam so that each system records the attribute its
  // own way (a dot name on POSIX, the attribute itself on Windows).
  os::Handle h = Create(dir.Path("locked.xml"), os::kCreateNew, os::kAttrReadOnly);
  ASSERT_NE(h, os::InvalidHandle());
  ASSERT_TRUE(P().CloseHandle(h));
  h = Create(dir.Path(".hidden"), os::kCreateNew, os::kAttrHidden);
  ASSERT_NE(h, os::InvalidHandle());
  ASSERT_TRUE(P().CloseHandle(h));

  std::vector<Listed> listed = List(dir.Path("*"));
  auto attributesOf = [&](const std::string& name) {
    for (const Listed& l : listed) {
      if (l.name == name) return l.attributes;
    }
    return os::kInvalidFileAttributes;
  };
  EXPECT_EQ(attributesOf("."), os::kAttrDirectory);
  EXPECT_EQ(attributesOf("sub"), os::kAttrDirectory);
  EXPECT_EQ(attributesOf("plain.xml"), os::kAttrArchive);
  EXPECT_EQ(attributesOf("locked.xml"), os::kAttrArchive | os::kAttrReadOnly);
  EXPECT_EQ(attributesOf(".hidden"), os::kAttrArchive | os::kAttrHidden);

  EXPECT_EQ(P().GetFileAttributesA(dir.Path("sub").c_str()), os::kAttrDirectory);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("locked.xml").c_str()),
            os::kAttrArchive | os::kAttrReadOnly);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path(".hidden").c_str()),
            os::kAttrArchive | os::kAttrHidden);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("gone.xml").c_str()), os::kInvalidFileAttributes);
  EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("gone\\a.xml").c_str()), os::kInvalidFileAttributes);
  EXPECT_EQ(P().GetLastError(), os::kErrorPathNotFound);
}

TEST(CreateFile, CreateNewRefusesAnExistingFileAndCreateAlwaysTruncates) {
  TempFolder dir;
  dir.WriteFile("m.xml", "old contents");
  EXPECT_EQ(Create(dir.Path("m.xml"), os::kCreateNew), os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorFileExists);
  EXPECT_EQ(dir.ReadFile("m.xml"), "old contents");

  os::Handle h = Create(dir.Path("m.xml"), os::kCreateAlways);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorAlreadyExists);  // it was there before
  EXPECT_TRUE(WriteAll(h, "new"));
  EXPECT_TRUE(WriteAll(h, ""));
  EXPECT_TRUE(P().FlushFileBuffers(h));
  EXPECT_TRUE(P().CloseHandle(h));
  EXPECT_EQ(dir.ReadFile("m.xml"), "new");
  EXPECT_FALSE(P().CloseHandle(h));  // closed already

  h = Create(dir.Path("fresh.xml"), os::kCreateNew);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_TRUE(WriteAll(h, std::string(100000, 'z')));
  EXPECT_TRUE(P().CloseHandle(h));
  EXPECT_EQ(dir.ReadFile("fresh.xml"), std::string(100000, 'z'));
}

TEST(CreateFile, RefusesMissingFoldersReadOnlyTargetsAndOpenFiles) {
  TempFolder dir;
  EXPECT_EQ(Create(dir.Path("none.xml"), os::kOpenExisting), os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);
  EXPECT_EQ(Create(dir.Path("none\\m.xml"), os::kCreateAlways), os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorPathNotFound);
  EXPECT_FALSE(std::filesystem::exists(dir.Native("none")));

  os::Handle h = Create(dir.Path("ro.xml"), os::kCreateNew, os::kAttrReadOnly);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_TRUE(WriteAll(h, "kept"));
  EXPECT_TRUE(P().CloseHandle(h));
  if (!platform_test::WineIgnoresReadOnly()) {
    EXPECT_EQ(Create(dir.Path("ro.xml"), os::kCreateAlways), os::InvalidHandle());
    EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied);
    EXPECT_EQ(dir.ReadFile("ro.xml"), "kept");
  }

  // Opened without sharing, a file admits no second opener.
  h = Create(dir.Path("busy.xml"), os::kCreateNew);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_EQ(Create(dir.Path("busy.xml"), os::kCreateAlways), os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorSharingViolation);
  EXPECT_TRUE(P().CloseHandle(h));
  h = Create(dir.Path("busy.xml"), os::kCreateAlways);
  EXPECT_NE(h, os::InvalidHandle());
  EXPECT_TRUE(P().CloseHandle(h));
}

TEST(MoveFile, ReplacesOnlyWhenAskedAndNeverAReadOnlyTarget) {
  TempFolder dir;
  dir.WriteFile("tmp", "new");
  dir.WriteFile("m.xml", "old");
  std::string from = dir.Path("tmp"), to = dir.Path("m.xml");

  EXPECT_FALSE(P().MoveFileExA(from.c_str(), to.c_str(), 0));
  EXPECT_EQ(P().GetLastError(), os::kErrorAlreadyExists);
  EXPECT_EQ(dir.ReadFile("tmp"), "new");
  EXPECT_EQ(dir.ReadFile("m.xml"), "old");

  EXPECT_TRUE(P().MoveFileExA(from.c_str(), to.c_str(),
                              os::kMoveReplaceExisting | os::kMoveWriteThrough));
  EXPECT_EQ(dir.ReadFile("m.xml"), "new");
  EXPECT_FALSE(std::filesystem::exists(dir.Native("tmp")));

  EXPECT_FALSE(P().MoveFileExA(from.c_str(), to.c_str(), os::kMoveReplaceExisting));
  EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);

  // A move to a free name needs no flag.
  EXPECT_TRUE(P().MoveFileExA(to.c_str(), dir.Path("moved.xml").c_str(), 0));
  EXPECT_EQ(dir.ReadFile("moved.xml"), "new");

  if (platform_test::WineIgnoresReadOnly()) return;
  os::Handle h = Create(dir.Path("ro.xml"), os::kCreateNew, os::kAttrReadOnly);
  ASSERT_NE(h, os::InvalidHandle());
  ASSERT_TRUE(P().CloseHandle(h));
  EXPECT_FALSE(P().MoveFileExA(dir.Path("moved.xml").c_str(), dir.Path("ro.xml").c_str(),
                               os::kMoveReplaceExisting));
  EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied);
  EXPECT_EQ(dir.ReadFile("moved.xml"), "new");
}

TEST(DeleteFile, DeletesFilesButNotReadOnlyOnesOrMissingOnes) {
  TempFolder dir;
  dir.WriteFile("a", "x");
  EXPECT_TRUE(P().DeleteFileA(dir.Path("a").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.Native("a")));
  EXPECT_FALSE(P().DeleteFileA(dir.Path("a").c_str()));
  EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);

  os::Handle h = Create(dir.Path("ro"), os::kCreateNew, os::kAttrReadOnly);
  ASSERT_NE(h, os::InvalidHandle());
  ASSERT_TRUE(P().CloseHandle(h));
  EXPECT_FALSE(P().DeleteFileA(dir.Path("ro").c_str()));
  EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied);
  EXPECT_TRUE(std::filesystem::exists(dir.Native("ro")));
}

}  // namespace
