// Names and paths through the seam: narrow texts are UTF-8 on every back-end,
// a listing gives each name exactly as the file system holds it, and paths of
// any length work. The Win32 part also covers what only that back-end does:
// the full listing where the basic one is refused, waiting out a file held for
// a moment, and a message box that needs no heap.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

#ifdef _WIN32
#include "platform/win32/win32_testing.h"
#endif

namespace {

using platform_test::TempFolder;
namespace fs = std::filesystem;

const os::Platform& P() { return os::NativePlatform(); }

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
  const std::string text = "Ärger 乗 🚀";
  char16_t wide[16];
  ASSERT_EQ(P().MultiByteToWideChar(os::kCodePageAnsi, os::kMbErrInvalidChars, text.data(),
                                    static_cast<int>(text.size()), wide, 16),
            10);
  EXPECT_EQ(std::u16string(wide, 10), u"Ärger 乗 🚀");
  char back[32];
  ASSERT_EQ(P().WideCharToMultiByte(os::kCodePageAnsi, 0, wide, 10, back, 32, nullptr, nullptr),
            static_cast<int>(text.size()));
  EXPECT_EQ(std::string(back, text.size()), text);
  // GBK texts still decode as GBK: 乗 is 0x81 0x5C there.
  ASSERT_EQ(P().MultiByteToWideChar(os::kCodePageGbk, 0, "\x81\x5C", 2, wide, 16), 1);
  EXPECT_EQ(wide[0], u'乗');
}

// Names in several scripts, accented Latin, a character beyond the BMP and
// 乗 (whose GBK form ends in 0x5C), made by the native library or through
// the seam: the listing gives each as its UTF-8 bytes, and those bytes name
// the file again.
TEST(Names, EveryNameIsListedAsUtf8AndNamesItsFileAgain) {
  struct Name {
    std::string utf8;
    bool folder;
    bool throughSeam;
  };
  const Name names[] = {
      {"单位.xml", false, false}, {"Éric.xml", false, false},    {"Ωμέγα.xml", false, false},
      {"乗", true, false},        {"Ärger.xml", false, true},    {"Москва.xml", false, true},
      {"🚀rocket.xml", false, true}, {"乗.xml", false, true},   {"乗\\乗.xml", false, true},
  };
  TempFolder dir;
  std::set<std::string> listed = {".", ".."};
  for (const Name& n : names) {
    if (n.throughSeam) {
      os::Handle h = Create(dir.Path(n.utf8), os::kCreateNew);
      ASSERT_NE(h, os::InvalidHandle()) << n.utf8;
      EXPECT_TRUE(P().CloseHandle(h));
    } else if (n.folder) {
      fs::create_directory(dir.Native("") / NativeName(n.utf8));
    } else {
      std::ofstream(dir.Native("") / NativeName(n.utf8)) << "x";
    }
    if (n.utf8.find('\\') == std::string::npos) listed.insert(n.utf8);
  }
  EXPECT_EQ(ListNames(dir.Path("*"), os::kFindExInfoStandard), listed);
  EXPECT_EQ(ListNames(dir.Path("*"), os::kFindExInfoBasic), listed);
  for (const Name& n : names) {
    SCOPED_TRACE(n.utf8);
    std::string native = n.utf8;
    std::replace(native.begin(), native.end(), '\\', '/');
    EXPECT_TRUE(fs::exists(dir.Native("") / NativeName(native)));
    EXPECT_EQ(P().GetFileAttributesA(dir.Path(n.utf8).c_str()),
              n.folder ? os::kAttrDirectory : os::kAttrArchive);
    EXPECT_EQ(ListNames(dir.Path(n.utf8), os::kFindExInfoStandard),
              std::set<std::string>{n.utf8.substr(n.utf8.rfind('\\') + 1)});
  }
}

// The length of a UTF-8 path in UTF-16 units, as Windows counts it.
size_t Units(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
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
  std::string path = base + "\\Ω单";
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
  EXPECT_EQ(P().GetLastError(), os::kErrorPathNotFound);
  os::win32::ReplaceFindFirstFileExW(g_system);
}

// Every path reaches the system in its \\?\ form, so that no name is changed
// on its way: a trailing dot or space, a reserved name. "." and ".." and '/'
// are resolved first, since that form takes every name as it stands.
TEST(Win32Paths, EveryPathInItsDeviceFormWithItsNamesExact) {
  const std::string narrow = fs::current_path().string();  // ASCII here
  const std::u16string cwd(narrow.begin(), narrow.end()), device = u"\\\\?\\";
  const struct {
    std::string path;
    std::u16string system;
  } cases[] = {
      {"C:/a/./b/../c//d\\", u"\\\\?\\C:\\a\\c\\d\\"},
      {"C:\\..\\..", u"\\\\?\\C:\\"},
      {"\\\\server\\share\\a\\..\\b", u"\\\\?\\UNC\\server\\share\\b"},
      {"\\\\?\\C:\\x\\..\\y", u"\\\\?\\C:\\x\\..\\y"},
      {"x.\\..\\y .\\aux.xml", device + cwd + u"\\y .\\aux.xml"},
      {"\\Mod", device + cwd.substr(0, 2) + u"\\Mod"},
      {"C:\\" + std::string(32768, 'a'), u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(os::win32::SystemPathOf(c.path.c_str()), c.system) << c.path.substr(0, 40);
  }
}

// A path longer than a buffer's inline room needs the heap; refused, the run
// ends through the program's out-of-memory handler, never with a cut path.
TEST(Win32Memory, ARefusedConversionBufferEndsTheRunThroughTheOutOfMemoryPath) {
  const std::string path = "C:\\" + std::string(400, 'a');
  EXPECT_EXIT(
      {
        os::SetOutOfMemoryHandler([](size_t bytes) {
          std::fprintf(stderr, "out of memory: %zu\n", bytes);
          std::fflush(stderr);
          P().ExitProcess(7);
        });
        os::win32::ReplaceBufferAllocation([](size_t) -> void* { return nullptr; });
        P().GetFileAttributesA(path.c_str());
      },
      ::testing::ExitedWithCode(7), "out of memory: \\d+");
}

// A file another opener holds without sharing: opening or replacing it waits
// a moment (virus scanners let go within one) and then gives up.
TEST(Win32HeldFiles, AFileLetGoWithinAMomentIsWaitedForAndOneHeldLongerIsRefused) {
  struct Case {
    bool replace;  // MoveFileExA over the file, otherwise CreateFileA on it
    bool letGo;    // the holder closes it after 60 ms, otherwise after the call
  };
  for (const Case c : {Case{false, true}, Case{true, true}, Case{true, false}}) {
    SCOPED_TRACE(std::string(c.replace ? "replace" : "open") + (c.letGo ? "" : " held"));
    TempFolder dir;
    dir.WriteFile("held.xml", "old");
    dir.WriteFile("new.tmp", "new");
    os::Handle holder = Create(dir.Path("held.xml"), os::kOpenExisting);
    ASSERT_NE(holder, os::InvalidHandle());
    std::thread release;
    if (c.letGo) {
      release = std::thread([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        P().CloseHandle(holder);
      });
    }
    bool done;
    if (c.replace) {
      done = P().MoveFileExA(dir.Path("new.tmp").c_str(), dir.Path("held.xml").c_str(),
                             os::kMoveReplaceExisting) != 0;
    } else {
      os::Handle h = Create(dir.Path("held.xml"), os::kOpenExisting);
      done = h != os::InvalidHandle() && P().CloseHandle(h);
    }
    const os::Dword error = P().GetLastError();
    if (release.joinable()) release.join();
    EXPECT_EQ(done, c.letGo) << error;
    if (!c.letGo) {
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
