// The order of a listing: names as UTF-16 code units, compared after the
// upper-case mapping Windows' file systems use and then exactly, which is the
// order NTFS keeps its index in. That mapping is Unicode's simple upper case
// where it maps back (platform/upcase.h). Both builds then list a
// folder alike, whatever the names.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/posix_internal.h"
#include "platform/upcase.h"
#include "platform/utf8.h"

namespace os::posix {
namespace {

// The next UTF-16 code unit of a UTF-8 name. A byte that does not start a
// valid sequence stands for itself as 0xDC00 + byte, a unit no valid name
// produces alone, so every name still has one fixed place in the order.
class Utf16Units {
 public:
  explicit Utf16Units(std::string_view name)
      : p_(reinterpret_cast<const uint8_t*>(name.data())), end_(p_ + name.size()) {}

  bool Next(char16_t& unit) {
    if (low_ != 0) {
      unit = low_;
      low_ = 0;
      return true;
    }
    if (p_ == end_) return false;
    const uint8_t b = *p_;
    if (b < 0x80) {
      unit = b;
      ++p_;
      return true;
    }
    const Utf8Sequence seq = ReadUtf8(p_, static_cast<size_t>(end_ - p_));
    if (seq.length == 0) {
      unit = static_cast<char16_t>(0xDC00 + b);
      ++p_;
      return true;
    }
    p_ += seq.length;
    uint32_t c = seq.codePoint;
    if (c >= 0x10000) {
      c -= 0x10000;
      unit = static_cast<char16_t>(0xD800 + (c >> 10));
      low_ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      unit = static_cast<char16_t>(c);
    }
    return true;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  char16_t low_ = 0;
};

int CompareUnits(std::string_view a, std::string_view b, bool upper) {
  Utf16Units ua(a), ub(b);
  for (;;) {
    char16_t x = 0, y = 0;
    const bool moreA = ua.Next(x);
    const bool moreB = ub.Next(y);
    if (!moreA || !moreB) return moreA ? 1 : moreB ? -1 : 0;
    if (upper) {
      x = UpperCaseUnit(x);
      y = UpperCaseUnit(y);
    }
    if (x != y) return x < y ? -1 : 1;
  }
}

}  // namespace

void AppendUpperCaseUnits(std::string_view name, std::string& out) {
  Utf16Units units(name);
  char16_t unit = 0;
  while (units.Next(unit)) {
    const char16_t upper = UpperCaseUnit(unit);
    out += static_cast<char>(upper >> 8);
    out += static_cast<char>(upper & 0xFF);
  }
}

int CompareNames(std::string_view a, std::string_view b) {
  if (int c = CompareUnits(a, b, true)) return c;
  if (int c = CompareUnits(a, b, false)) return c;
  // Equal units come only from equal bytes; the bytes keep the order total.
  return a.compare(b);
}

void SortListedNames(const std::string& names, bool ascii, std::vector<ListedName>* sorted) {
  auto nameAt = [&names](const ListedName& n) {
    return std::string_view(names.data() + n.offset, n.length);
  };
  std::string keys;
  if (ascii) {
    keys = names;
    for (char& c : keys) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  } else {
    // A name has no more UTF-16 units than bytes.
    keys.reserve(2 * names.size());
    for (ListedName& n : *sorted) {
      n.keyOffset = static_cast<uint32_t>(keys.size());
      AppendUpperCaseUnits(nameAt(n), keys);
      n.keyLength = static_cast<uint32_t>(keys.size()) - n.keyOffset;
    }
  }
  auto key = [&keys](const ListedName& n) {
    return std::string_view(keys.data() + n.keyOffset, n.keyLength);
  };
  std::sort(sorted->begin(), sorted->end(), [&](const ListedName& a, const ListedName& b) {
    const int c = key(a).compare(key(b));
    if (c != 0) return c < 0;
    return (ascii ? nameAt(a).compare(nameAt(b)) : CompareNames(nameAt(a), nameAt(b))) < 0;
  });
}

}  // namespace os::posix
