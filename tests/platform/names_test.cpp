// Names and paths through the seam: narrow texts are UTF-8 on every back-end,
// a listing gives each name exactly as the file system holds it, and paths of
// any length work. The Win32 part also covers what only that back-end does:
// the full listing where the basic one is refused, waiting out a file held for
// a moment, and a message box that needs no heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

#ifdef _WIN32
#include "platform/win32/win32_testing.h"
#endif

namespace {

using platform_test::TempFolder;
namespace fs = std::filesystem;

const os::Platform& P() { return os::NativePlatform(); }

constexpr os::Dword kPathNotFound = 3;

// A UTF-8 name as the native file system library takes it.
fs::path NativeName(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::set<std::string> ListNames(const std::string& pattern, int infoLevel) {
  std::set<std::string> names;
  os::FindDataA data{};
  os::Handle h = P().FindFirstFileExA(pattern.c_str(), infoLevel, &data,
                                      os::kFindExSearchNameMatch, nullptr, 0);
  if (h == os::InvalidHandle()) return names;
  do {
    names.insert(data.cFileName);
  } while (P().FindNextFileA(h, &data));
  P().FindClose(h);
  return names;
}

os::Handle Create(const std::string& path, os::Dword disposition, os::Dword share = 0) {
  return P().CreateFileA(path.c_str(), os::kGenericWrite, share, nullptr, disposition,
                         os::kAttrNormal, nullptr);
}

TEST(NarrowTexts, TheAnsiCodePageIsUtf8AndGbkStaysGbk) {
  EXPECT_EQ(P().GetACP(), os::kCodePageUtf8);
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageAnsi, 0xE4));
  EXPECT_TRUE(P().IsDBCSLeadByteEx(os::kCodePageGbk, 0x81));
  const std::string text = "\xC3\x84rger \xE4\xB9\x97 \xF0\x9F\x9A\x80";  // Ärger 乗 🚀
  char16_t wide[16];
  ASSERT_EQ(P().MultiByteToWideChar(os::kCodePageAnsi, os::kMbErrInvalidChars, text.data(),
                                    static_cast<int>(text.size()), wide, 16),
            10);
  EXPECT_EQ(std::u16string(wide, 10), u"\u00C4rger \u4E57 \U0001F680");
  char back[32];
  ASSERT_EQ(P().WideCharToMultiByte(os::kCodePageAnsi, 0, wide, 10, back, 32, nullptr, nullptr),
            static_cast<int>(text.size()));
  EXPECT_EQ(std::string(back, text.size()), text);
  // 乗 in GBK is 0x81 0x5C: its second byte is no backslash to the GBK
  // decoder, and GBK texts still decode as GBK.
  ASSERT_EQ(P().MultiByteToWideChar(os::kCodePageGbk, 0, "\x81\x5C", 2, wide, 16), 1);
  EXPECT_EQ(wide[0], u'\u4E57');
}

// Names in several scripts, accented Latin, a character beyond the BMP and
// 乗 (whose GBK form ends in 0x5C), made both by the native library and
// through the seam: the listing gives each as its UTF-8 bytes, and those
// bytes name the file again.
TEST(Names, EveryNameIsListedAsUtf8AndNamesItsFileAgain) {
  TempFolder dir;
  const std::vector<std::string> native = {
      "\xE5\x8D\x95\xE4\xBD\x8D.xml",  // 单位.xml
      "\xC3\x89ric.xml",               // Éric.xml
      "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.xml",  // Ωμέγα.xml
      "\xE4\xB9\x97",                  // 乗 (a folder)
  };
  const std::vector<std::string> throughSeam = {
      "\xC3\x84rger.xml",                              // Ärger.xml
      "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0.xml",  // Москва.xml
      "\xF0\x9F\x9A\x80rocket.xml",                    // 🚀rocket.xml
      "\xE4\xB9\x97.xml",                              // 乗.xml
  };
  for (const std::string& name : native) {
    if (name == native.back()) {
      fs::create_directory(dir.Native("") / NativeName(name));
    } else {
      std::ofstream(dir.Native("") / NativeName(name)) << "x";
    }
  }
  for (const std::string& name : throughSeam) {
    os::Handle h = Create(dir.Path(name), os::kCreateNew);
    ASSERT_NE(h, os::InvalidHandle()) << name;
    EXPECT_TRUE(P().CloseHandle(h));
  }

  std::set<std::string> all(native.begin(), native.end());
  all.insert(throughSeam.begin(), throughSeam.end());
  std::set<std::string> nativeListing;
  for (const auto& entry : fs::directory_iterator(dir.Native(""))) {
    const std::u8string name = entry.path().filename().u8string();
    nativeListing.insert(std::string(name.begin(), name.end()));
  }
  EXPECT_EQ(nativeListing, all);

  all.insert({".", ".."});
  EXPECT_EQ(ListNames(dir.Path("*"), os::kFindExInfoStandard), all);
  EXPECT_EQ(ListNames(dir.Path("*"), os::kFindExInfoBasic), all);
  for (const std::string& name : all) {
    if (name[0] == '.') continue;
    const bool folder = name == native.back();
    EXPECT_EQ(P().GetFileAttributesA(dir.Path(name).c_str()),
              folder ? os::kAttrDirectory : os::kAttrArchive)
        << name;
    EXPECT_EQ(ListNames(dir.Path(name), os::kFindExInfoStandard), std::set<std::string>{name});
  }
  // The folder 乗 holds a file of its own: the path through it is whole.
  const std::string inner = dir.Path(native.back() + "\\" + throughSeam.back());
  os::Handle h = Create(inner, os::kCreateNew);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_TRUE(P().CloseHandle(h));
  EXPECT_TRUE(fs::exists(dir.Native("") / NativeName(native.back()) / NativeName(throughSeam.back())));
}

// The length of a UTF-8 path in UTF-16 units, as Windows counts it.
size_t Units(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  return units;
}

// A seam path as the native file system library takes it at any length (on
// Windows in its \\?\ form, as a long path needs).
fs::path NativeLongPath(std::string path) {
#ifdef _WIN32
  if (path.rfind("\\\\", 0) == 0) return NativeName("\\\\?\\UNC\\" + path.substr(2));
  return NativeName("\\\\?\\" + path);
#else
  std::replace(path.begin(), path.end(), '\\', '/');
  return NativeName(path);
#endif
}

// A folder of exactly `length` units under base, made of a non-ASCII part and
// ASCII ones.
std::string MakeFolderOfLength(const std::string& base, size_t length) {
  std::string path = base + "\\\xCE\xA9\xE5\x8D\x95";  // Ω单
  while (Units(path) + 1 < length) {
    const size_t part = std::min<size_t>(40, length - Units(path) - 1);
    path += '\\';
    path.append(part, 'd');
  }
  fs::create_directories(NativeLongPath(path));
  return path;
}

// A manifest written the way the runtime writes it, in folders around the
// classic path limit and well beyond it: a temporary file (whose name is
// longer than the manifest's), written and moved over the old manifest, then
// listed, examined and removed.
TEST(LongPaths, FoldersAroundAndBeyondTheClassicLimitWorkWholly) {
  for (size_t length : {200u, 247u, 248u, 250u, 259u, 260u, 320u, 1000u}) {
    SCOPED_TRACE(length);
    TempFolder dir;
    if (Units(dir.Path()) + 10 >= length) continue;
    const std::string folder = MakeFolderOfLength(dir.Path(), length);
    ASSERT_EQ(Units(folder), length);
    const std::string target = folder + "\\zenter.xml";
    const std::string temporary = folder + "\\~mm1a2b3c-0.tmp";

    for (const std::string& bytes : {std::string("old"), std::string("new")}) {
      os::Handle h = Create(temporary, os::kCreateNew);
      ASSERT_NE(h, os::InvalidHandle()) << P().GetLastError();
      os::Dword written = 0;
      EXPECT_TRUE(P().WriteFile(h, bytes.data(), 3, &written, nullptr));
      EXPECT_TRUE(P().CloseHandle(h));
      EXPECT_TRUE(P().MoveFileExA(temporary.c_str(), target.c_str(),
                                  os::kMoveReplaceExisting | os::kMoveWriteThrough))
          << P().GetLastError();
    }
    EXPECT_EQ(P().GetFileAttributesA(target.c_str()), os::kAttrArchive);
    EXPECT_EQ(P().GetFileAttributesA(folder.c_str()), os::kAttrDirectory);
    EXPECT_EQ(ListNames(folder + "\\*.*", os::kFindExInfoBasic),
              (std::set<std::string>{".", "..", "zenter.xml"}));
    EXPECT_EQ(ListNames(folder + "\\*.xml", os::kFindExInfoStandard),
              (std::set<std::string>{"zenter.xml"}));
    EXPECT_EQ(Create(temporary, os::kOpenExisting), os::InvalidHandle());
    EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);
    EXPECT_TRUE(P().DeleteFileA(target.c_str()));
    EXPECT_EQ(P().GetFileAttributesA(target.c_str()), os::kInvalidFileAttributes);
    // The temporary folder's own clean-up takes no long paths: the chain of
    // folders goes first, from its deepest.
    for (std::string f = folder; f.size() > dir.Path().size(); f.resize(f.rfind('\\'))) {
      fs::remove(NativeLongPath(f));
    }
  }
}

#ifdef _WIN32

// As a Windows version before 7 does: the basic level and the large fetch
// are refused as unknown arguments.
os::win32::FindFirstFileExWCall g_system = nullptr;
os::Handle RefuseBasicLevel(const char16_t* pattern, int infoLevel, void* findData, int searchOp,
                            void* searchFilter, os::Dword additionalFlags) {
  if (infoLevel == os::kFindExInfoBasic || (additionalFlags & os::kFindFirstExLargeFetch) != 0) {
    infoLevel = 0x7F;  // an unknown level: refused with ERROR_INVALID_PARAMETER
  }
  return g_system(pattern, infoLevel, findData, searchOp, searchFilter, additionalFlags);
}

TEST(Win32Listing, WhereTheBasicLevelIsRefusedTheFullListingIsGiven) {
  TempFolder dir;
  dir.WriteFile("a.xml", "x");
  dir.MakeFolder("sub");
  g_system = os::win32::ReplaceFindFirstFileExW(RefuseBasicLevel);
  os::FindDataA data{};
  for (os::Dword flags : {os::Dword{0}, os::kFindFirstExLargeFetch}) {
    EXPECT_EQ(ListNames(dir.Path("*"), os::kFindExInfoBasic),
              (std::set<std::string>{".", "..", "a.xml", "sub"}));
    os::Handle h = P().FindFirstFileExA(dir.Path("sub").c_str(), os::kFindExInfoBasic, &data,
                                        os::kFindExSearchNameMatch, nullptr, flags);
    ASSERT_NE(h, os::InvalidHandle());
    EXPECT_EQ(data.dwFileAttributes, os::kAttrDirectory);
    P().FindClose(h);
  }
  // Any other failure stands: a missing folder is not an empty one.
  EXPECT_EQ(P().FindFirstFileExA(dir.Path("gone\\*").c_str(), os::kFindExInfoBasic, &data,
                                 os::kFindExSearchNameMatch, nullptr, 0),
            os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), kPathNotFound);
  os::win32::ReplaceFindFirstFileExW(g_system);
}

// A file another opener holds without sharing: the seam's calls on it wait a
// moment (virus scanners let go within one) and then give up.
TEST(Win32HeldFiles, AFileLetGoWithinAMomentIsWaitedForAndOneHeldLongerIsRefused) {
  struct Case {
    const char* label;
    int holdMilliseconds;  // -1: held until the call has failed
    bool (*call)(const TempFolder&);
  };
  const Case cases[] = {
      {"open", 60, [](const TempFolder& d) {
         os::Handle h = Create(d.Path("held.xml"), os::kOpenExisting);
         return h != os::InvalidHandle() && P().CloseHandle(h);
       }},
      {"replace", 60, [](const TempFolder& d) {
         return P().MoveFileExA(d.Path("new.tmp").c_str(), d.Path("held.xml").c_str(),
                                os::kMoveReplaceExisting) != 0;
       }},
      {"replace held", -1, [](const TempFolder& d) {
         return P().MoveFileExA(d.Path("new.tmp").c_str(), d.Path("held.xml").c_str(),
                                os::kMoveReplaceExisting) != 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempFolder dir;
    dir.WriteFile("held.xml", "old");
    dir.WriteFile("new.tmp", "new");
    os::Handle holder = Create(dir.Path("held.xml"), os::kOpenExisting);
    ASSERT_NE(holder, os::InvalidHandle());
    std::thread release;
    if (c.holdMilliseconds >= 0) {
      release = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMilliseconds));
        P().CloseHandle(holder);
      });
    }
    const bool done = c.call(dir);
    if (release.joinable()) release.join();
    if (c.holdMilliseconds >= 0) {
      EXPECT_TRUE(done) << P().GetLastError();
    } else {
      EXPECT_FALSE(done);
      const os::Dword error = P().GetLastError();
      EXPECT_TRUE(error == os::kErrorSharingViolation || error == os::kErrorAccessDenied) << error;
      P().CloseHandle(holder);
      EXPECT_EQ(dir.ReadFile("held.xml"), "old");
    }
  }
}

TEST(Win32MessageBox, TextsOfAnyLengthAreShownAsShortOnesAre) {
  // "错误" in GBK, repeated well past what the box decodes on the stack, and
  // cut after a lead byte.
  std::string text;
  while (text.size() < 20000) text += "\xB4\xED\xCE\xF3 ";
  const int answer = P().MessageBoxA(nullptr, "\xB4\xED", "\xB4\xED", os::kMbOk);
  for (const std::string& shown : {text, text + "\xB4"}) {
    EXPECT_EQ(P().MessageBoxA(nullptr, shown.c_str(), shown.c_str(), os::kMbOk), answer);
  }
  EXPECT_EQ(P().MessageBoxA(nullptr, nullptr, nullptr, os::kMbOk), answer);
}

#endif  // _WIN32

}  // namespace
