// The document of the run's EntryList: one runtime block of exactly the
// document's length, with the bytes the shared document gives.
#include "generator/entry_list_document.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/host/runtime_application.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"
#include "tests/fake/fake_platform.h"
#include "tests/rules/expected_document.h"

namespace {

using tests::ExpectWellFormed;
using tests::Expected;

TEST(EntryListDocument, OneBlockFromAnEntryList) {
  fake::FakePlatform fake;
  rt::ProgramDescription description{};
  rt::ProgramImage image{&description, nullptr, nullptr, nullptr};
  rt::RuntimeApplication app{image};
  app.RuntimeHeap = os::Os().GetProcessHeap();

  fake.ansiCodePage = 1252;
  void* list = nullptr;
  for (const char* entry : {"a.xml", "R&D.xml", "\xE9.xml", "bad\x02.xml", "", "S\\zenter.xml"}) {
    rt::ArrayAppend(&list, entry);
  }
  char* document = gen::RenderManifestDocument(list);
  const std::string expected = Expected({"a.xml", "R&amp;D.xml", "\xC3\xA9.xml", "", "S\\zenter.xml"});
  EXPECT_EQ(std::string(document), expected);
  // One block of exactly the document's length and its NUL.
  EXPECT_EQ(fake.BlockSize(document), static_cast<long>(expected.size() + 1));
  ExpectWellFormed(document);
  rt::ReleaseBlock(document);
  rt::ArrayRelease(list);

  char* empty = gen::RenderManifestDocument(nullptr);
  EXPECT_EQ(std::string(empty), Expected({}));
  EXPECT_EQ(fake.BlockSize(empty), static_cast<long>(Expected({}).size() + 1));
  rt::ReleaseBlock(empty);
}

}  // namespace
