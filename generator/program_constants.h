// The program's constant data: one contiguous read-only block that start-up
// registers as the program's static range. Values may point into it without
// owning it; the runtime never releases or resizes such an address.
//
// Its texts are made from the names of the manifest rule
// (rules/manifest_rule.h) when the program is compiled: a name that no
// longer fits its field below stops the build instead of drifting apart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gen {

struct ProgramConstants {
  char xmlPattern[7];       // "\*.xml"
  char allPattern[5];       // "\*.*"
  char zenterSuffix[12];    // "\zenter.xml"
  char dataSuffix[5];       // "Data"
  char modSuffix[9];        // "\Mod.xml"
  char emptyText[1];        // ""
  double one;               // 1.0
  // The empty-array constant (one dimension of size 0), which is also the
  // empty ByteBlock (marker 1, length 0). It ends the block.
  int32_t emptyArray[2];
};
static_assert(sizeof(ProgramConstants) ==
                  offsetof(ProgramConstants, emptyArray) + 2 * sizeof(int32_t),
              "the empty-array constant is the last 8 bytes of the constant data");

extern const ProgramConstants kConstants;

}  // namespace gen
