// The POSIX back-end's built-in code page 936 tables against the C library's
// converter: every single byte, every double-byte pair and every UTF-16 unit
// converts to what the converter gives; what it refuses is refused
// (decoding) or becomes the default character (encoding).
#ifndef _WIN32

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/platform.h"

namespace {

// The converter's output for one input; empty where it refuses it.
std::string Iconv(const char* to, const char* from, std::string in) {
  iconv_t cd = iconv_open(to, from);
  char buffer[8];
  char *ip = in.data(), *op = buffer;
  size_t il = in.size(), ol = sizeof buffer;
  const bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && il == 0;
  iconv_close(cd);
  return ok ? std::string(buffer, op) : std::string();
}

TEST(Cp936Tables, EveryByteSequenceAndEveryUtf16UnitConvertAsTheCLibraryDoes) {
  const os::Platform& p = os::NativePlatform();
  int differences = 0;
  for (unsigned code = 0; code < 0xFF00; ++code) {  // lead << 8 | trail; lead 0: one byte
    const unsigned lead = code >> 8, trail = code & 0xFF;
    if (lead != 0 && (lead < 0x81 || trail < 0x40 || trail == 0x7F || trail == 0xFF)) continue;
    std::string bytes = lead ? std::string{char(lead), char(trail)} : std::string(1, char(trail));
    char16_t wide[4];
    const int n = p.MultiByteToWideChar(os::kCodePageGbk, os::kMbErrInvalidChars, bytes.data(),
                                        static_cast<int>(bytes.size()), wide, 4);
    const std::string got(reinterpret_cast<const char*>(wide), 2 * static_cast<size_t>(n));
    if (got != Iconv("UTF-16LE", "CP936", bytes) && differences++ < 10) {
      ADD_FAILURE() << "bytes " << std::hex << code;
    }
  }
  for (unsigned unit = 0; unit < 0x10000; ++unit) {
    const char16_t c = static_cast<char16_t>(unit);
    std::string want = Iconv("CP936", "UTF-16LE", {char(unit & 0xFF), char(unit >> 8)});
    char out[4];
    os::Bool usedDefault = 0;
    const int n = p.WideCharToMultiByte(os::kCodePageGbk, 0, &c, 1, out, 4, nullptr, &usedDefault);
    if ((std::string(out, n > 0 ? n : 0) != (want.empty() ? "?" : want) ||
         usedDefault != want.empty()) && differences++ < 10) {
      ADD_FAILURE() << "unit " << std::hex << unit;
    }
  }
  EXPECT_EQ(differences, 0);
}

}  // namespace

#endif
