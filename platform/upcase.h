// The upper case of a UTF-16 code unit as Windows' file systems take it:
// Unicode's simple upper-case mapping where it maps back (see
// scripts/gen-upcase-table). One table for both builds, so that the listing
// order and the name patterns compare names alike everywhere.
#pragma once

namespace os {

char16_t UpperCaseUnit(char16_t unit);

}  // namespace os
