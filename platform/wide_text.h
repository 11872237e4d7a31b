// UTF-8 (the seam's narrow texts) to UTF-16 (what Windows speaks) and back,
// for code above the seam that speaks to Windows itself (the window).
// Windows builds only; the Win32 back-end implements them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// What Utf8ToWide returns for bytes that are not UTF-8.
constexpr size_t kNotUtf8 = SIZE_MAX;

// The UTF-16 units of the UTF-8 text[0, length). Writes them to out when they
// all fit in capacity units (no terminator is added). An unpaired surrogate in
// its three-byte form, as WideToUtf8 writes it, is taken back, so every name a
// listing reports names its file again. kNotUtf8 for anything else that is not
// UTF-8.
size_t Utf8ToWide(const char* text, size_t length, wchar_t* out, size_t capacity);

// The UTF-8 bytes of wide[0, length). Writes as many whole characters as fit
// in capacity bytes to out and their byte count to *written (when given; no
// terminator is added). An unpaired surrogate, which NTFS allows in names,
// becomes its three-byte form: no valid UTF-8 stands for it, so such a name is
// never mistaken for another, and the manifest leaves it out.
size_t WideToUtf8(const wchar_t* wide, size_t length, char* out, size_t capacity,
                  size_t* written = nullptr);

// The same two conversions into strings of their own, for texts that need
// no fixed buffer (console output, the command line, a listing's names).
// Utf8 keeps an unpaired surrogate in its three-byte form; Wide takes that
// form back, and is empty for text that is not UTF-8.
std::string Utf8(const wchar_t* wide, size_t length);
std::wstring Wide(std::string_view text);

}  // namespace os
