// This program's side of the runtime contract: the description it carries
// for the runtime, its read-only constant data, its two no-op hook stubs and
// its start-up routine.
#include "generator/program.h"

#include <initializer_list>
#include <string_view>

#include "generator/manifest_run.h"
#include "generator/program_constants.h"
#include "platform/platform.h"
#include "rules/manifest_rule.h"
#include "runtime/host/service_table.h"
#include "runtime/services/libraries.h"

namespace gen {
namespace {

// The two no-op stubs every HookSlot is filled with: the initialiser answers
// 0, which disarms the slot on its first use, so no hook ever runs.
intptr_t StubA(intptr_t) { return 0; }
void StubB() {}

// The program's initialisation routine: it has nothing to set up.
void InitialisationRoutine() {}

// The serialised window-unit table: an index of 0 bytes, so no unit exists.
const uint32_t kWindowUnits[1] = {0};

const rt::LibraryDescriptor* const kLibraries[2] = {&rt::CoreLibrary,
                                                    &rt::SpecialFunctionsLibrary};

const rt::ProgramDescription kDescription = {
    3,                                                  // RunMode
    0,                                                  // second mode word
    65558,                                              // identifier seed
    reinterpret_cast<const void*>(&InitialisationRoutine),  // first routine after the stubs
    &kConstants,                                        // constant data
    static_cast<uint32_t>(sizeof kConstants),
    kWindowUnits,
    static_cast<uint32_t>(sizeof kWindowUnits),
    2,
    kLibraries,
    0,
    nullptr,
    nullptr,
};

const rt::ProgramImage kImage = {&kDescription, &ProgramEntry, &StubA, &StubB};

// Called only when a text does not fit its field, which makes the constant
// data no constant: the build stops there.
void TextDoesNotFitItsField() {}

// Fills a text field of the constant data with parts, which must take it
// exactly, the closing NUL included.
template <size_t N>
constexpr void Spell(char (&field)[N], std::initializer_list<std::string_view> parts) {
  size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  if (length + 1 != N) TextDoesNotFitItsField();
  char* out = field;
  for (std::string_view part : parts) {
    for (char c : part) *out++ = c;
  }
  *out = '\0';
}

constexpr ProgramConstants MakeConstants() {
  ProgramConstants c{};
  Spell(c.xmlPattern, {rules::kXmlPassPattern});
  Spell(c.allPattern, {rules::kFolderPassPattern});
  Spell(c.zenterSuffix, {rules::kSubFolderSuffix});
  Spell(c.dataSuffix, {rules::kDataSuffix});
  Spell(c.modSuffix, {"\\", rules::kModManifest});
  Spell(c.emptyText, {});
  c.one = 1.0;
  c.emptyArray[0] = 1;
  c.emptyArray[1] = 0;
  return c;
}

}  // namespace

constinit const ProgramConstants kConstants = MakeConstants();

const rt::ProgramImage& ThisProgram() { return kImage; }

void EndOfRunRoutine() {}

int32_t ProgramEntry() {
  rt::Helper<void (*)()>(rt::kHelperInitRuntime)();
  os::Os().fpreset();
  InitialisationRoutine();
  rt::Helper<void (*)(void (*)())>(rt::kHelperSetEndOfRunHandler)(&EndOfRunRoutine);
  ManifestRun();
  rt::Service<void (*)()>(rt::kSlotFinishRun)();
  return 0;
}

}  // namespace gen
