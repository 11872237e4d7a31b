// The program itself: the description it carries for the runtime, read from
// the program and not from a copy, and the order its entry runs in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "generator/program.h"
#include "generator/program_constants.h"
#include "rules/manifest_rule.h"
#include "runtime/host/runtime_application.h"
#include "runtime/services/libraries.h"
#include "tests/fake/fake_platform.h"

namespace {

TEST(Program, TheRunsConstantDataSpellsTheSameRule) {
  // The per-folder run takes its patterns from its constant data; the tree
  // tool from the rule. They must never drift apart.
  EXPECT_EQ(rules::kXmlPassPattern, gen::kConstants.xmlPattern);
  EXPECT_EQ(rules::kFolderPassPattern, gen::kConstants.allPattern);
  EXPECT_EQ(rules::kSubFolderSuffix, gen::kConstants.zenterSuffix);
  EXPECT_EQ(rules::kDataSuffix, gen::kConstants.dataSuffix);
  EXPECT_EQ(std::string("\\").append(rules::kModManifest), gen::kConstants.modSuffix);
  EXPECT_EQ(std::string(rules::kSubFolderSuffix), std::string("\\").append(rules::kZenterManifest));
}

TEST(Program, CarriesItsDescriptionForTheRuntime) {
  const rt::ProgramImage& image = gen::ThisProgram();
  ASSERT_NE(image.description, nullptr);
  const rt::ProgramDescription& d = *image.description;
  EXPECT_EQ(d.runMode, 3);
  EXPECT_EQ(d.secondMode, 0);
  EXPECT_EQ(d.identifierSeed, 65558);
  EXPECT_EQ(d.constantData, &gen::kConstants);
  EXPECT_EQ(d.constantLength, sizeof gen::kConstants);
  // The window-unit table: a 4-byte index size of 0, so no unit.
  ASSERT_EQ(d.windowUnitsLength, 4u);
  uint32_t indexBytes = 1;
  std::memcpy(&indexBytes, d.windowUnits, 4);
  EXPECT_EQ(indexBytes, 0u);
  ASSERT_EQ(d.libraryCount, 2u);
  EXPECT_EQ(d.libraries[0], &rt::CoreLibrary);
  EXPECT_EQ(d.libraries[1], &rt::SpecialFunctionsLibrary);
  EXPECT_EQ(d.externalLibraryCount, 0u);
  EXPECT_EQ(image.entry, &gen::ProgramEntry);
}

// What the entry has done by the time each platform call below comes.
std::vector<std::string> g_steps;
const os::Platform* g_fake = nullptr;

std::string RoutineState() {
  const rt::EndOfRunHandlerFn handler = rt::App().EndOfRunHandler;
  return handler == nullptr ? "no end-of-run routine"
         : handler == &gen::EndOfRunRoutine ? "the program's end-of-run routine"
                                            : "another end-of-run routine";
}

os::Handle ObservedHeap() {
  if (g_steps.empty()) g_steps.push_back("start-up");
  return g_fake->GetProcessHeap();
}
void ObservedFpreset() {
  g_steps.push_back("floating-point reset, " + RoutineState());
  g_fake->fpreset();
}
os::Handle ObservedListing(const char* pattern, int level, os::FindDataA* data, int op,
                           void* filter, os::Dword flags) {
  const std::vector<uintptr_t>& ranges = rt::App().StaticRangeList;
  const auto first = reinterpret_cast<uintptr_t>(&gen::kConstants);
  const bool registered = ranges.size() >= 2 && ranges[0] == first &&
                          ranges[1] == first + sizeof gen::kConstants;
  if (g_steps.back().rfind("run", 0) != 0) {
    g_steps.push_back("run, " + RoutineState() +
                      (registered ? ", constants registered" : ", constants not registered"));
  }
  return g_fake->FindFirstFileExA(pattern, level, data, op, filter, flags);
}
os::Bool ObservedReplace(const char* from, const char* to, os::Dword flags) {
  g_steps.push_back(rt::App().RunFinished ? "manifest written after the finish"
                                          : "manifest written before the finish");
  return g_fake->MoveFileExA(from, to, flags);
}

TEST(Program, EntryStartsResetsInstallsRunsAndFinishesInThatOrder) {
  fake::FakePlatform f;
  f.modulePath = "C:\\Tools\\Gen\\tool.exe";
  f.listings["C:\\Tools\\Gen\\*.*"] = {{".", os::kAttrDirectory}, {"..", os::kAttrDirectory}};
  g_fake = &os::Os();
  os::Platform observed = *g_fake;
  observed.GetProcessHeap = ObservedHeap;
  observed.fpreset = ObservedFpreset;
  observed.FindFirstFileExA = ObservedListing;
  observed.MoveFileExA = ObservedReplace;
  const os::Platform* previous = os::InstallPlatform(&observed);
  g_steps.clear();
  {
    rt::RuntimeApplication app(gen::ThisProgram());
    EXPECT_EQ(app.InitInstance(), 0);
    g_steps.push_back(app.RunFinished ? "finished" : "not finished");
    g_steps.push_back("before clean-up: " + RoutineState());
    EXPECT_EQ(app.ExitInstance(), 0);
    // The clean-up takes the routine it calls out of the application.
    g_steps.push_back("after clean-up: " + RoutineState());
  }
  os::InstallPlatform(previous);
  EXPECT_EQ(g_steps, (std::vector<std::string>{
                         "start-up",
                         "floating-point reset, no end-of-run routine",
                         "run, the program's end-of-run routine, constants registered",
                         "manifest written before the finish",
                         "finished",
                         "before clean-up: the program's end-of-run routine",
                         "after clean-up: no end-of-run routine",
                     }));
}

}  // namespace
