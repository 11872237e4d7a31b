// Conformance of the heap, the module path, the current directory, code
// pages and the process calls of this build's own back-end.
#include <gtest/gtest.h>

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;

const os::Platform& P() { return os::NativePlatform(); }

constexpr os::Dword kHeapZeroMemory = 0x08;

TEST(Heap, BlocksKeepTheirBytesAcrossResizingAndZeroingIsHonoured) {
  os::Handle heap = P().GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(P().GetProcessHeap(), heap);
  auto* p = static_cast<char*>(P().HeapAlloc(heap, 0, 12));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "hello world", 12);
  p = static_cast<char*>(P().HeapReAlloc(heap, 0, p, 100000));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "hello world");
  p = static_cast<char*>(P().HeapReAlloc(heap, 0, p, 6));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p, 5), "hello");
  EXPECT_TRUE(P().HeapFree(heap, 0, p));

  auto* z = static_cast<unsigned char*>(P().HeapAlloc(heap, kHeapZeroMemory, 4096));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(z[i], 0) << i;
  EXPECT_TRUE(P().HeapFree(heap, 0, z));
  void* empty = P().HeapAlloc(heap, 0, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_TRUE(P().HeapFree(heap, 0, empty));
}

TEST(ModulePath, FullPathWithBackslashesAndTruncationAsWindowsDoesIt) {
  char path[1024];
  os::Dword n = P().GetModuleFileNameA(nullptr, path, sizeof path);
  ASSERT_GT(n, 0u);
  ASSERT_EQ(n, std::strlen(path));
  std::string full = path;
  EXPECT_EQ(full.find('/'), std::string::npos);
  std::string name = full.substr(full.rfind('\\') + 1);
  EXPECT_TRUE(name == "platform_test" || name == "platform_test.exe") << full;
  EXPECT_EQ(P().GetModuleFileNameA(P().GetModuleHandleA(nullptr), path, sizeof path), n);

  // Exactly large enough, terminator included.
  std::string buffer(n + 1, 'x');
  EXPECT_EQ(P().GetModuleFileNameA(nullptr, buffer.data(), n + 1), n);
  EXPECT_EQ(buffer.c_str(), full);

  // One byte short: the buffer size and the error, with the path cut short.
  buffer.assign(n, 'x');
  EXPECT_EQ(P().GetModuleFileNameA(nullptr, buffer.data(), n), n);
  EXPECT_EQ(P().GetLastError(), os::kErrorInsufficientBuffer);
  EXPECT_EQ(buffer.substr(0, n - 1), full.substr(0, n - 1));
  // Terminated, as Windows does since Vista.
  EXPECT_EQ(buffer[n - 1], '\0');
}

TEST(CurrentDirectory, SetThenGetAndTheSizeNeededWhenTheBufferIsShort) {
  TempFolder dir;
  std::filesystem::path saved = std::filesystem::current_path();
  ASSERT_TRUE(P().SetCurrentDirectoryA(dir.Path().c_str()));
  std::string expected = TempFolder::Backslashed(std::filesystem::current_path().string());
  char buffer[1024];
  os::Dword n = P().GetCurrentDirectoryA(sizeof buffer, buffer);
  EXPECT_EQ(std::string(buffer, n), expected);
  EXPECT_EQ(P().GetCurrentDirectoryA(2, buffer), n + 1);
  EXPECT_EQ(P().GetCurrentDirectoryA(0, nullptr), n + 1);
  EXPECT_FALSE(P().SetCurrentDirectoryA(dir.Path("missing").c_str()));
  EXPECT_EQ(P().GetLastError(), os::kErrorFileNotFound);
  std::filesystem::current_path(saved);
}

// "错误" and "运行时出错!" in GBK, and the UTF-16 they stand for.
const char kGbkError[] = "\xB4\xED\xCE\xF3";
const char16_t kWideError[] = u"\u9519\u8BEF";
const char kGbkRuntime[] = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!";
const char16_t kWideRuntime[] = u"\u8FD0\u884C\u65F6\u51FA\u9519!";

std::u16string ToWide(os::Dword codePage, const std::string& text, os::Dword flags = 0) {
  int n = P().MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0);
  std::u16string wide(static_cast<size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(P().MultiByteToWideChar(codePage, flags, text.data(),
                                      static_cast<int>(text.size()), wide.data(), n),
              n);
  }
  return wide;
}

std::string FromWide(os::Dword codePage, const std::u16string& wide) {
  int n = P().WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                  nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(P().WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                      text.data(), n, nullptr, nullptr),
              n);
  }
  return text;
}

TEST(CodePages, GbkDecodesToTheRightCharactersAndBack) {
  EXPECT_EQ(ToWide(os::kCodePageGbk, kGbkError), kWideError);
  EXPECT_EQ(ToWide(os::kCodePageGbk, kGbkRuntime), kWideRuntime);
  EXPECT_EQ(ToWide(os::kCodePageGbk, "\x80"), u"\u20AC");  // the euro sign
  EXPECT_EQ(FromWide(os::kCodePageGbk, kWideRuntime), kGbkRuntime);
  EXPECT_EQ(FromWide(os::kCodePageGbk, u"\u20AC"), "\x80");

  EXPECT_TRUE(P().IsDBCSLeadByteEx(os::kCodePageGbk, 0x81));
  EXPECT_TRUE(P().IsDBCSLeadByteEx(os::kCodePageGbk, 0xFE));
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageGbk, 0x80));
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageGbk, 0xFF));
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageGbk, '\\'));
  EXPECT_FALSE(P().IsDBCSLeadByteEx(os::kCodePageUtf8, 0xE9));

  // A lead byte without its second byte is invalid.
  std::string cut(kGbkError, 3);
  EXPECT_EQ(P().MultiByteToWideChar(os::kCodePageGbk, os::kMbErrInvalidChars, cut.data(), 3,
                                    nullptr, 0),
            0);
  EXPECT_EQ(P().GetLastError(), os::kErrorNoUnicodeTranslation);
}

TEST(CodePages, Utf8RoundTripsAndStrictModeRefusesInvalidBytes) {
  std::string text = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80";  // é, 中, an emoji
  std::u16string wide = ToWide(os::kCodePageUtf8, text);
  EXPECT_EQ(wide, u"caf\u00E9 \u4E2D \U0001F600");
  EXPECT_EQ(FromWide(os::kCodePageUtf8, wide), text);

  // Length -1 converts the terminator too.
  char16_t buffer[8];
  EXPECT_EQ(P().MultiByteToWideChar(os::kCodePageUtf8, 0, "ab", -1, buffer, 8), 3);
  EXPECT_EQ(buffer[2], u'\0');
  // A buffer that is too small converts nothing.
  EXPECT_EQ(P().MultiByteToWideChar(os::kCodePageUtf8, 0, "abcd", 4, buffer, 2), 0);
  EXPECT_EQ(P().GetLastError(), os::kErrorInsufficientBuffer);

  std::string bad = "a\xC3(";
  EXPECT_EQ(P().MultiByteToWideChar(os::kCodePageUtf8, os::kMbErrInvalidChars, bad.data(), 3,
                                    nullptr, 0),
            0);
  EXPECT_EQ(P().GetLastError(), os::kErrorNoUnicodeTranslation);
  EXPECT_EQ(ToWide(os::kCodePageUtf8, bad), u"a\uFFFD(");
}

TEST(Ole, FirstEntryIsOkAndNestedOnesAreFalse) {
  EXPECT_EQ(P().OleInitialize(nullptr), 0);
  EXPECT_EQ(P().OleInitialize(nullptr), 1);
  P().OleUninitialize();
  P().OleUninitialize();
}

TEST(FloatingPoint, ResetRestoresRoundToNearest) {
  ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
  P().fpreset();
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  // The product is stored as a double: on x87 the reset selects full extended
  // precision, in which the unrounded product is not exactly 1.
  volatile double third = 1.0 / 3.0;
  volatile double product = third * 3.0;
  EXPECT_EQ(product, 1.0);
}

TEST(ErrorMode, ReturnsThePreviousMode) {
  os::Dword original = P().SetErrorMode(os::kSemFailCriticalErrors);
  EXPECT_EQ(P().SetErrorMode(original), os::kSemFailCriticalErrors);
}

TEST(ProcessDeathTest, ExitProcessEndsAtOnceWithItsCodeAfterWritingBufferedOutput) {
  EXPECT_EXIT(
      {
        static char buffer[256];
        std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
        std::atexit([] { std::fputs("-exit-handler", stderr); });
        std::fputs("buffered", stderr);
        P().ExitProcess(7);
      },
      ::testing::ExitedWithCode(7), "^buffered$");
}

}  // namespace
