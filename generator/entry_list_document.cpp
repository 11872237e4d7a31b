#include "generator/entry_list_document.h"

#include <cstdint>
#include <string_view>

#include "rules/manifest_document.h"
#include "runtime/host/runtime_error.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"

namespace gen {
namespace {

std::string_view EntryOfArray(const void* first, size_t i) {
  const char* text = rt::LoadTextSlot(static_cast<const char*>(first) +
                                      i * static_cast<size_t>(rt::kTextSlotWidth));
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

char* RenderManifestDocument(const void* entryList) {
  rt::ArraySlots slots{0, nullptr};
  if (entryList != nullptr) slots = rt::ArrayFirstSlot(entryList);
  const size_t count = slots.count > 0 ? static_cast<size_t>(slots.count) : 0;
  const rules::EntrySource entries{count, &EntryOfArray, slots.first};
  const uint64_t length = rules::ManifestDocumentLength(entries);
  // A text's length is a signed 32-bit count; a larger document cannot be a
  // block at all.
  if (length + 1 > static_cast<uint64_t>(INT32_MAX)) rt::ReportAllocationFailure(INT32_MAX);
  auto* document = static_cast<char*>(rt::AllocateBlock(static_cast<int32_t>(length + 1)));
  char* end = rules::WriteManifestDocument(entries, document);
  *end = '\0';
  return document;
}

}  // namespace gen
