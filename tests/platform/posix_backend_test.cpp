// What only the POSIX back-end does: UTF-8 as the ANSI code page, attributes
// from mode bits and dot names, Win32 wildcard rules on POSIX names, the
// message box on standard error, errors from the file system, and windows
// that go with the thread that made them.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_internal.h"
#include "runtime/host/runtime_error.h"
#include "runtime/host/runtime_messages.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;
namespace fs = std::filesystem;

const os::Platform& P() { return os::NativePlatform(); }

TEST(PosixCodePage, AnsiIsUtf8) {
  EXPECT_EQ(P().GetACP(), os::kCodePageUtf8);
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageAnsi, 0xC3));
}

TEST(PosixListingOrder, UpperCaseOnUtf16UnitsThenExactUnits) {
  struct Case {
    const char* a;
    const char* b;
    int sign;  // of CompareNames(a, b)
  };
  const Case cases[] = {
      {"a", "B", -1},
      {"Ab", "aB", -1},                          // equal but for case: exact units decide
      {"\xC3\x89", "\xC3\xA9", -1},          // É before é, the same ignoring case
      {"\xC3\xBF" "a", "\xC5\xB8" "b", -1},  // ÿ is Ÿ (U+0178) ignoring case
      {"\xC3\x9F", "ss", 1},                   // ß has no simple upper case
      // Upper cases that do not map back stay themselves, as on Windows:
      {"\xC5\xBF" "a", "Sb", 1},               // long s (U+017F), not S
      {"\xC4\xB1", "J", 1},                    // dotless i (U+0131), not I
      {"\xCF\x82", "\xCE\xA3", 1},           // final sigma (U+03C2), not U+03A3
      {"\xC7\x85", "\xC7\x84x", 1},          // title-case Dž (U+01C5), not U+01C4
      {"\xF0\x9F\x9A\x80", "\xEE\x80\x80", -1},  // U+1F680 before U+E000
      {"\xFF", "\xEF\xBF\xBD", -1},          // a stray byte is a unit of its own
      {"\xC3", "\xC3\x80", 1},                // a cut sequence: 0xDCC3 above U+00C0
      {"same", "same", 0},
  };
  for (const Case& c : cases) {
    int r = os::posix::CompareNames(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    int back = os::posix::CompareNames(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
  }
}

// Names equal but for case, possible only here, still come in one order:
// in an ASCII folder and in one with names beyond ASCII alike.
TEST(PosixListingOrder, NamesEqualButForCaseComeInTheOrderOfTheirUnits) {
  const std::vector<std::vector<std::string>> folders = {
      {"Ab", "aB", "ab", "B"},
      {"Ab", "aB", "E", "e", "\xC3\x89", "\xC3\xA9", "\xCE\xA9", "\xCF\x89"},
  };
  for (const std::vector<std::string>& expected : folders) {
    TempFolder dir;
    for (auto it = expected.rbegin(); it != expected.rend(); ++it) dir.WriteFile(*it, "x");
    std::vector<std::string> names;
    os::FindDataA data{};
    os::Handle h = P().FindFirstFileA(dir.Path("*").c_str(), &data);
    ASSERT_NE(h, os::InvalidHandle());
    do {
      if (std::string(data.cFileName) != "." && std::string(data.cFileName) != "..") {
        names.push_back(data.cFileName);
      }
    } while (P().FindNextFileA(h, &data));
    P().FindClose(h);
    EXPECT_EQ(names, expected);
  }
}

TEST(PosixWildcards, DosRulesForStarDotQuestionMarkAndExtensions) {
  using os::posix::WildcardMatch;
  EXPECT_TRUE(WildcardMatch("*.xml", "a.b.xml"));
  EXPECT_FALSE(WildcardMatch("*.xml", "a.xml.bak"));
  EXPECT_TRUE(WildcardMatch("*.xml", ".xml"));
  EXPECT_TRUE(WildcardMatch("*.*", "Makefile"));
  EXPECT_TRUE(WildcardMatch("*.*", ".hidden"));
  EXPECT_TRUE(WildcardMatch("*", ".."));
  // "*." is the names without an extension.
  EXPECT_TRUE(WildcardMatch("*.", "Makefile"));
  EXPECT_FALSE(WildcardMatch("*.", "a.txt"));
  // '?' is one character, or none just before a '.' or at the end.
  EXPECT_TRUE(WildcardMatch("a?.txt", "ab.txt"));
  EXPECT_TRUE(WildcardMatch("a?.txt", "a.txt"));
  EXPECT_FALSE(WildcardMatch("a?.txt", "abc.txt"));
  EXPECT_FALSE(WildcardMatch("a?b", "a.b"));
  EXPECT_TRUE(WildcardMatch("DATA*", "data-1"));
  EXPECT_FALSE(WildcardMatch("data", "data1"));
}

TEST(PosixAttributes, ModeBitsAndDotNamesEvenForFolders) {
  TempFolder dir;
  dir.MakeFolder(".git");
  dir.MakeFolder("frozen");
  dir.WriteFile("chmodded", "x");
  fs::permissions(dir.Native("frozen"), fs::perms::owner_read | fs::perms::owner_exec);
  // No write bit at all is read-only even for root, who could still write.
  fs::permissions(dir.Native("chmodded"), fs::perms::owner_read | fs::perms::group_read |
                                              fs::perms::others_read);
  dir.WriteFile("writable-by-group", "x");
  fs::permissions(dir.Native("writable-by-group"), fs::perms::owner_read | fs::perms::group_write);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path(".git").c_str()), os::kAttrDirectory | os::kAttrHidden);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("frozen").c_str()),
            os::kAttrDirectory | os::kAttrReadOnly);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("chmodded").c_str()),
            os::kAttrArchive | os::kAttrReadOnly);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("writable-by-group").c_str()), os::kAttrArchive);
  // Slashes work as well as backslashes, and "." is not hidden.
  EXPECT_EQ(P().GetFileAttributesA((dir.Path() + "/.").c_str()), os::kAttrDirectory);

  os::Handle h = P().CreateFileA(dir.Path("chmodded").c_str(), os::kGenericWrite, 0, nullptr,
                                 os::kCreateAlways, os::kAttrNormal, nullptr);
  EXPECT_EQ(h, os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied);
  EXPECT_EQ(dir.ReadFile("chmodded"), "x");
}

TEST(PosixFiles, HiddenTargetIsReplacedOnlyWhenAskedForHiddenAgain) {
  TempFolder dir;
  dir.WriteFile(".settings", "keep");
  os::Handle h = P().CreateFileA(dir.Path(".settings").c_str(), os::kGenericWrite, 0, nullptr,
                                 os::kCreateAlways, os::kAttrNormal, nullptr);
  EXPECT_EQ(h, os::InvalidHandle());
  EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied);
  EXPECT_EQ(dir.ReadFile(".settings"), "keep");
  h = P().CreateFileA(dir.Path(".settings").c_str(), os::kGenericWrite, 0, nullptr,
                      os::kCreateAlways, os::kAttrHidden, nullptr);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_TRUE(P().CloseHandle(h));
  EXPECT_EQ(dir.ReadFile(".settings"), "");
}

TEST(PosixFiles, AFullDeviceIsDiskFullAndAHeldTargetIsNotReplaced) {
  os::Handle h = P().CreateFileA("\\dev\\full", os::kGenericWrite, 1, nullptr, 3, 0, nullptr);
  ASSERT_NE(h, os::InvalidHandle());
  os::Dword written = 99;
  EXPECT_FALSE(P().WriteFile(h, "abc", 3, &written, nullptr));
  EXPECT_EQ(P().GetLastError(), os::kErrorDiskFull);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(P().CloseHandle(h));

  TempFolder dir;
  dir.WriteFile("new", "new");
  dir.WriteFile("m.xml", "old");
  h = P().CreateFileA(dir.Path("m.xml").c_str(), os::kGenericWrite, 0, nullptr, 3, 0, nullptr);
  ASSERT_NE(h, os::InvalidHandle());
  EXPECT_FALSE(P().MoveFileExA(dir.Path("new").c_str(), dir.Path("m.xml").c_str(),
                               os::kMoveReplaceExisting));
  EXPECT_EQ(P().GetLastError(), os::kErrorSharingViolation);
  EXPECT_FALSE(P().DeleteFileA(dir.Path("m.xml").c_str()));
  EXPECT_EQ(P().GetLastError(), os::kErrorSharingViolation);
  EXPECT_TRUE(P().CloseHandle(h));
  EXPECT_EQ(dir.ReadFile("m.xml"), "old");
  EXPECT_TRUE(P().MoveFileExA(dir.Path("new").c_str(), dir.Path("m.xml").c_str(),
                              os::kMoveReplaceExisting));
  EXPECT_EQ(dir.ReadFile("m.xml"), "new");
}

// Runs in a child: writes 100 bytes under a 10-byte file-size limit and ends
// with 3 when the write failed as a full disk after 10 bytes, 4 otherwise.
void WriteBeyondFileSizeLimit(const std::string& path) {
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 10;
  setrlimit(RLIMIT_FSIZE, &limit);
  os::Handle h = P().CreateFileA(path.c_str(), os::kGenericWrite, 0, nullptr, os::kCreateAlways,
                                 os::kAttrNormal, nullptr);
  os::Dword written = 0;
  bool failed = !P().WriteFile(h, std::string(100, 'x').data(), 100, &written, nullptr);
  bool full = P().GetLastError() == os::kErrorDiskFull;
  P().CloseHandle(h);
  P().ExitProcess(failed && full && written == 10 ? 3 : 4);
}

TEST(PosixListing, FilesComingAndGoingMeanwhileNeverCostTheOtherEntries) {
  TempFolder dir;
  dir.WriteFile("keep.xml", "x");
  dir.MakeFolder("sub");
  // Enough entries that a listing takes a while to examine.
  for (int i = 0; i < 400; ++i) dir.WriteFile("part" + std::to_string(i), "x");
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    for (int i = 0; !stop; ++i) {
      std::string name = "tmp" + std::to_string(i % 50) + ".xml";
      dir.WriteFile(name, "x");
      std::error_code ignored;
      fs::remove(dir.Native(name), ignored);
    }
  });
  int incomplete = 0;
  for (int round = 0; round < 60; ++round) {
    bool keep = false, sub = false;
    os::FindDataA data{};
    os::Handle h = P().FindFirstFileA(dir.Path("*").c_str(), &data);
    if (h != os::InvalidHandle()) {
      do {
        keep = keep || std::string(data.cFileName) == "keep.xml";
        sub = sub || std::string(data.cFileName) == "sub";
      } while (P().FindNextFileA(h, &data));
      P().FindClose(h);
    }
    if (!keep || !sub) ++incomplete;
  }
  stop = true;
  churn.join();
  EXPECT_EQ(incomplete, 0);
}

// The folder reader both the listing and the tree tool's walk use: names in
// NTFS order, and each entry's attributes from its type, from fstatat, or as
// a file system that reports no types leaves them to be found out.
TEST(PosixFolderReader, NamesInOrderAndAttributesFromTypeOrExamination) {
  TempFolder dir;
  dir.MakeFolder("Sub");
  dir.MakeFolder(".git");
  dir.WriteFile("a.xml", "x");
  dir.WriteFile("frozen.xml", "x");
  fs::permissions(dir.Native("frozen.xml"), fs::perms::owner_read);
  fs::create_directory_symlink(dir.Native("Sub"), dir.Native("linked"));
  fs::create_symlink(dir.Native("missing"), dir.Native("dangling"));
  ASSERT_EQ(mkfifo(dir.Native("pipe").c_str(), 0644), 0);
  const int fd = open(dir.Native("").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  os::posix::FolderNames read;
  ASSERT_EQ(os::posix::ReadFolderNames(fd, &read), 0);

  const os::Dword kDir = os::kAttrDirectory, kFile = os::kAttrArchive;
  const struct {
    const char* name;
    os::Dword fromType;  // not examined
    os::Dword examined;  // examined, or of an entry without a type
    bool link;
  } expected[] = {
      {".git", kDir | os::kAttrHidden, kDir | os::kAttrHidden, false},
      {"a.xml", kFile, kFile, false},
      {"dangling", kFile, kFile, true},
      {"frozen.xml", kFile, kFile | os::kAttrReadOnly, false},
      {"linked", kDir, kDir, true},
      {"pipe", os::kAttrSystem, os::kAttrSystem, false},
      {"Sub", kDir, kDir, false},
  };
  ASSERT_EQ(read.sorted.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const auto& e = expected[i];
    const os::posix::ListedName& n = read.sorted[i];
    ASSERT_EQ(read.NameAt(n), e.name);
    const struct {
      unsigned char type;
      bool examine;
      os::Dword attributes;
    } looks[] = {{n.type, false, e.fromType}, {n.type, true, e.examined},
                 {DT_UNKNOWN, false, e.examined}};
    for (const auto& look : looks) {
      bool link = !e.link;
      EXPECT_EQ(os::posix::EntryAttributes(fd, e.name, look.type, look.examine, &link),
                look.attributes)
          << e.name << " type " << int{look.type} << " examine " << look.examine;
      EXPECT_EQ(link, e.link) << e.name << " type " << int{look.type};
    }
  }
  // An entry gone since the listing is dropped wherever it is looked at.
  bool link = true;
  for (unsigned char type : {DT_REG, DT_LNK, DT_UNKNOWN}) {
    EXPECT_EQ(os::posix::EntryAttributes(fd, "gone", type, true, &link),
              os::kInvalidFileAttributes);
  }
  close(fd);
}

TEST(PosixFilesDeathTest, AWritePastTheFileSizeLimitFailsInsteadOfKillingTheProcess) {
  TempFolder dir;
  EXPECT_EXIT(WriteBeyondFileSizeLimit(dir.Path("big")), ::testing::ExitedWithCode(3), "");
}

TEST(PosixMessageBox, WritesCaptionAndTextAsUtf8ToStandardError) {
  ::testing::internal::CaptureStderr();
  // "错误" and "运行时出错!\r\n\r\n错误代码：1\r\n" in GBK.
  int answer = P().MessageBoxA(nullptr,
                               "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n"
                               "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA"
                               "1\r\n",
                               "\xB4\xED\xCE\xF3", os::kMbOk | os::kMbIconError);
  std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(out, "错误\n运行时出错!\n\n错误代码：1\n");
}

TEST(PosixProcessDeathTest, DebugBreakRaisesTheTrapSignal) {
  EXPECT_EXIT(P().DebugBreak(), ::testing::KilledBySignal(SIGTRAP), "");
}

TEST(PosixProcess, NothingToFreeWaitForOrCleanUpIsReportedAsFailure) {
  EXPECT_FALSE(P().FreeLibrary(reinterpret_cast<os::Handle>(0x1234)));
  EXPECT_EQ(P().WSACleanup(), -1);
  EXPECT_EQ(P().WaitForSingleObject(reinterpret_cast<os::Handle>(0x1234), 0), 0xFFFFFFFFu);
  EXPECT_FALSE(P().DestroyIcon(reinterpret_cast<os::Handle>(0x1234)));
}

intptr_t OS_CALLBACK PlainProc(os::Handle hwnd, uint32_t message, uintptr_t w, intptr_t l) {
  if (message == os::kWmApp) return 77;
  return P().DefWindowProcA(hwnd, message, w, l);
}

TEST(PosixWindows, AThreadThatEndsTakesItsWindowsAndAnswersWaitingSenders) {
  os::WndClassA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "mm thread window";
  ASSERT_NE(P().RegisterClassA(&wc), 0);
  std::atomic<os::Handle> hwnd{nullptr};
  std::atomic<bool> release{false};
  std::thread owner([&] {
    hwnd = P().CreateWindowExA(0, "mm thread window", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                               nullptr, nullptr);
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (hwnd.load() == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<intptr_t> result{-1};
  std::thread sender([&] { result = P().SendMessageA(hwnd.load(), os::kWmApp, 0, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release = true;  // the owner ends without ever looking at its queue
  owner.join();
  sender.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(P().IsWindow(hwnd.load()));
  EXPECT_TRUE(P().UnregisterClassA("mm thread window", nullptr));
}

// Every character of the runtime's message texts decodes without the full
// code page table, to what that table gives.
TEST(PosixMessageBox, EveryMessageCharacterHasAGlyphOfItsOwn) {
  std::vector<const char*> texts(rt::RuntimeErrorMessages, rt::RuntimeErrorMessages + 11);
  for (const char* t : {rt::kBoxHeading, rt::kCodeLabel, rt::kMessageLabel, rt::kBoxCaption,
                        rt::kAllocationFailureFormat, rt::kWindowTemplateLoadFailure,
                        rt::kStartupWindowLoadFailure, rt::kExternalFunctionNotFound,
                        rt::kUnknownHelper}) {
    texts.push_back(t);
  }
  for (const char* text : texts) {
    const auto* s = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; s[i] != 0; ++i) {
      if (s[i] < 0x80) continue;
      char16_t full = 0;
      ASSERT_EQ(P().MultiByteToWideChar(os::kCodePageGbk, 0, text + i, 2, &full, 1), 1);
      EXPECT_EQ(os::posix::MessageGlyph(s[i], s[i + 1]), full) << "in " << text;
      ++i;
    }
  }
}

// The allocation box, with not a byte of heap left: the process starts
// afresh for it, so no earlier test has built any table on the heap.
void ShowAllocationBoxWithTheHeapExhausted() {
  long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * 4096 + (1 << 20);
  setrlimit(RLIMIT_AS, &limit);
  for (size_t size = 1 << 20; size >= 8;) {
    if (std::malloc(size) == nullptr) size /= 2;
  }
  char message[100];
  std::snprintf(message, sizeof message, rt::kAllocationFailureFormat, 1048576);
  char text[300];
  std::snprintf(text, sizeof text, "%s%s%s%s", rt::kBoxHeading, rt::kMessageLabel, message,
                rt::kMessageLineEnd);
  P().MessageBoxA(nullptr, text, rt::kBoxCaption, os::kMbOk | os::kMbIconError);
  P().ExitProcess(7);
}

TEST(PosixMessageBoxDeathTest, TheAllocationBoxReadsRightWithTheHeapExhausted) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's heap ignores the address-space limit";
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ShowAllocationBoxWithTheHeapExhausted(), ::testing::ExitedWithCode(7),
              "^错误\n运行时出错!\n\n错误信息：分配 1048576 字节内存失败!\n$");
}

// Where the program was started from decides its module path: the start path
// made absolute where it names a folder and leads to this executable, links
// kept; otherwise the executable the system resolved. A '\\' in the path has
// no Win32 spelling and is refused.
TEST(PosixModulePath, ThePathTheProgramWasStartedByWhenItLeadsHere) {
  TempFolder dir;
  const fs::path self = fs::read_symlink("/proc/self/exe");
  dir.MakeFolder("bin");
  fs::create_symlink(self, dir.Native("bin") / "tool");
  dir.MakeFolder("odd\\name");
  fs::create_symlink(self, dir.Native("odd\\name") / "tool");
  dir.WriteFile("other", "x");
  const std::string resolved = TempFolder::Backslashed(self.string());
  struct Case {
    std::string start;
    std::string expected;  // "": refused
  };
  const std::string linked = (dir.Native("bin") / "tool").string();
  const Case cases[] = {
      {linked, TempFolder::Backslashed(linked)},
      {(dir.Native("bin") / "." / ".." / "bin" / "tool").string(),
       TempFolder::Backslashed(linked)},
      {"tool", resolved},                                   // found through PATH
      {dir.Native("other").string(), resolved},             // not this executable
      {(dir.Native("odd\\name") / "tool").string(), ""},
  };
  for (const Case& c : cases) {
    os::SetStartPath(c.start.c_str());
    char buffer[4096];
    os::Dword n = P().GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (c.expected.empty()) {
      EXPECT_EQ(n, 0u) << c.start;
      EXPECT_EQ(P().GetLastError(), os::kErrorInvalidName) << c.start;
    } else {
      EXPECT_EQ(std::string(buffer, n), c.expected) << c.start;
    }
  }
  os::SetStartPath(nullptr);
}

// A named pipe is no file: marked system, so the runtime leaves it alone, and
// opening it fails at once instead of waiting for a reader.
TEST(PosixFiles, ANamedPipeIsASystemEntryThatOpensAtOnceAsAccessDenied) {
  TempFolder dir;
  ASSERT_EQ(mkfifo(dir.Native("pipe.xml").c_str(), 0644), 0);
  EXPECT_EQ(P().GetFileAttributesA(dir.Path("pipe.xml").c_str()), os::kAttrSystem);
  for (os::Dword disposition : {os::kOpenExisting, os::kCreateAlways}) {
    os::Handle h = P().CreateFileA(dir.Path("pipe.xml").c_str(), os::kGenericWrite, 0, nullptr,
                                   disposition, os::kAttrNormal, nullptr);
    EXPECT_EQ(h, os::InvalidHandle()) << disposition;
    EXPECT_EQ(P().GetLastError(), os::kErrorAccessDenied) << disposition;
  }
  EXPECT_TRUE(fs::is_fifo(dir.Native("pipe.xml")));
}

}  // namespace

#endif  // _WIN32
