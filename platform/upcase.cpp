#include "platform/upcase.h"

#include <cstddef>
#include <cstdint>

namespace os {
namespace {

// Runs of code units that share one difference to their upper case: every
// step-th unit from first to last maps to unit + delta, modulo 0x10000.
// Sorted and disjoint.
struct UpperRun {
  uint16_t first;
  uint16_t last;
  uint8_t step;
  uint16_t delta;
};

constexpr UpperRun kUpperRuns[] = {
#include "platform/upcase_table.inc"
};

}  // namespace

char16_t UpperCaseUnit(char16_t unit) {
  if (unit < 0x80) return unit >= 'a' && unit <= 'z' ? static_cast<char16_t>(unit - 32) : unit;
  // The last run that starts at or before unit.
  size_t lo = 0, hi = sizeof kUpperRuns / sizeof kUpperRuns[0];
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    if (kUpperRuns[mid].first <= unit) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo == 0) return unit;
  const UpperRun& run = kUpperRuns[lo - 1];
  if (unit > run.last || (unit - run.first) % run.step != 0) return unit;
  return static_cast<char16_t>(unit + run.delta);
}

}  // namespace os
