#include "window/model/phrases.h"

#include <algorithm>

namespace window {
namespace {

// The argument number a '%' at format[at] begins, and how many characters
// it takes; 0 when it begins none.
unsigned NumberAt(std::string_view format, size_t at, size_t* length) {
  unsigned number = 0;
  size_t i = at + 1;
  while (i < format.size() && i < at + 3 && format[i] >= '0' && format[i] <= '9') {
    number = number * 10 + static_cast<unsigned>(format[i] - '0');
    ++i;
  }
  *length = i - at;
  return number;
}

}  // namespace

std::string FillIn(std::string_view format, const std::vector<std::string>& arguments) {
  std::string text;
  text.reserve(format.size() + 32);
  for (size_t i = 0; i < format.size();) {
    if (format[i] != '%' || i + 1 == format.size()) {
      text += format[i++];
      continue;
    }
    const char next = format[i + 1];
    if (next == '%' || next == 'n') {
      text += next == '%' ? '%' : '\n';
      i += 2;
      continue;
    }
    size_t length = 0;
    const unsigned number = NumberAt(format, i, &length);
    if (number >= 1 && number <= arguments.size()) {
      text += arguments[number - 1];
    } else {
      text.append(format.substr(i, length));
    }
    i += length;
  }
  return text;
}

std::vector<unsigned> Arguments(std::string_view format) {
  std::vector<unsigned> numbers;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (format[i + 1] == '%' || format[i + 1] == 'n') {
      ++i;
      continue;
    }
    size_t length = 0;
    if (const unsigned number = NumberAt(format, i, &length); number >= 1) numbers.push_back(number);
    i += length - 1;
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

}  // namespace window
