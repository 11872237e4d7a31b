// The order of a listing beyond ASCII: names compared case-insensitively on
// UTF-16 code units, by the upper case Windows' file systems use (Unicode's
// simple upper case where it maps back), as NTFS orders them. The same names
// give the same order on every back-end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/platform/test_support.h"

namespace {

using platform_test::TempFolder;

const os::Platform& P() { return os::NativePlatform(); }

std::filesystem::path Utf8Path(const std::filesystem::path& base, const std::string& name) {
  return base / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

TEST(ListingOrder, NamesBeyondAsciiInTheOrderNtfsGivesThem) {
  // In listing order. Greek, accented Latin and a fullwidth letter have an
  // upper case; the rocket is a surrogate pair, which sorts before U+E000 and
  // above as UTF-16 units do (its UTF-8 bytes would sort it after them).
  const std::vector<std::string> expected = {
      "aB",                          // AB
      "ac",                          // AC: lower case sorts as upper case, below [ \ ] ^ _ `
      "apfel",                       // APFEL
      "a[",                          // A[ (0x5B)
      "a^",                          // A^ (0x5E)
      "a_",                          // A_ (0x5F)
      "a`",                          // A` (0x60)
      "zed",                         // ZED
      "\xC3\x84rger",                // Ärger: U+00C4
      "\xC3\xA9" "clair",            // éclair: É C...
      "\xC3\x89ric",                 // Éric: É R...
      "\xC5\xBF" "b",                // ſb: the long s is no S to Windows
      "\xCE\xB1" "c",                // αc: U+0391 C
      "\xCE\x92" "d",                // Βd: U+0392 D
      "\xCF\x89" "a",                // ωa: U+03A9 A
      "\xCE\xA9" "b",                // Ωb: U+03A9 B
      "\xE5\x8D\x95\xE4\xBD\x8D",    // 单位: U+5355
      "\xF0\x9F\x9A\x80rocket",      // U+1F680: D83D DE80
      "\xEF\xBD\x9A" "full",         // ｚfull: U+FF5A, upper U+FF3A
  };
  TempFolder dir;
  // Created in reverse, so no file system's creation order passes for sorting.
  for (auto it = expected.rbegin(); it != expected.rend(); ++it) {
    std::filesystem::create_directory(Utf8Path(dir.Native(""), *it));
  }
  std::vector<std::string> names;
  os::FindDataA data{};
  os::Handle h = P().FindFirstFileA(dir.Path("*").c_str(), &data);
  ASSERT_NE(h, os::InvalidHandle());
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (P().FindNextFileA(h, &data));
  P().FindClose(h);
  EXPECT_EQ(names, expected);
}

}  // namespace
