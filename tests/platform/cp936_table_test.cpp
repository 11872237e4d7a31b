// The POSIX back-end's built-in code page 936 tables against the C library's
// converter: every single byte, every double-byte pair and every UTF-16 unit
// converts to exactly what the converter gives, and what it refuses is
// refused (decoding) or becomes the default character (encoding).
#ifndef _WIN32

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

const os::Platform& P() { return os::NativePlatform(); }

// The converter's output for one input, or nothing where it refuses it.
bool Iconv(iconv_t cd, std::string in, std::string& out) {
  char buffer[8];
  char* ip = in.data();
  char* op = buffer;
  size_t il = in.size(), ol = sizeof buffer;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return false;
  out.assign(buffer, op);
  return true;
}

TEST(Cp936Tables, EveryByteSequenceAndEveryUtf16UnitConvertAsTheCLibraryDoes) {
  iconv_t decoder = iconv_open("UTF-16LE", "CP936");
  iconv_t encoder = iconv_open("CP936", "UTF-16LE");
  ASSERT_NE(decoder, reinterpret_cast<iconv_t>(-1));
  ASSERT_NE(encoder, reinterpret_cast<iconv_t>(-1));

  std::vector<std::string> sequences;
  for (unsigned b = 0; b < 0x100; ++b) sequences.push_back(std::string(1, static_cast<char>(b)));
  for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      sequences.push_back({static_cast<char>(lead), static_cast<char>(trail)});
    }
  }
  int differences = 0;
  for (const std::string& bytes : sequences) {
    std::string want;
    const bool known = Iconv(decoder, bytes, want);
    char16_t wide[4];
    const int n = P().MultiByteToWideChar(os::kCodePageGbk, os::kMbErrInvalidChars, bytes.data(),
                                          static_cast<int>(bytes.size()), wide, 4);
    const std::string got(reinterpret_cast<const char*>(wide), 2 * static_cast<size_t>(n));
    if ((known ? got != want : n != 0) && differences++ < 10) {
      ADD_FAILURE() << "bytes " << std::hex << (static_cast<unsigned>(bytes[0]) & 0xFF) << " "
                    << (bytes.size() > 1 ? static_cast<unsigned>(bytes[1]) & 0xFF : 0u);
    }
  }

  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const char16_t c = static_cast<char16_t>(unit);
    std::string want;
    const bool known = Iconv(encoder, {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)},
                             want);
    char out[4];
    os::Bool usedDefault = 0;
    const int n = P().WideCharToMultiByte(os::kCodePageGbk, 0, &c, 1, out, 4, nullptr, &usedDefault);
    if ((std::string(out, n > 0 ? n : 0) != (known ? want : "?") || usedDefault != !known) &&
        differences++ < 10) {
      ADD_FAILURE() << "unit " << std::hex << unit;
    }
  }
  iconv_close(decoder);
  iconv_close(encoder);
  EXPECT_EQ(differences, 0);
}

}  // namespace

#endif
