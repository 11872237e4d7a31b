// The manifest run: lists the program's folder, collects its XML files and
// one zenter.xml reference per sub-folder, renders the manifest and writes it
// as Mod.xml (a folder whose path ends in "Data") or zenter.xml.
//
// It calls the runtime's services the way the program's contract lays out:
// block allocation, release and commands through ServiceTable slots, the
// listing through HelperTable entries, commands with argument records. The
// value routines it needs beyond those (joining texts, appending to and
// releasing the EntryList), the search's failure flag and the exit status it
// reaches directly, as functions of the runtime linked into the program.
// Every value it holds is a runtime value with one owner, released before
// it returns.
#include "generator/manifest_run.h"

#include <cstring>

#include "generator/entry_list_document.h"
#include "generator/program_constants.h"
#include "rules/manifest_rule.h"
#include "runtime/host/runtime_application.h"
#include "runtime/host/service_table.h"
#include "runtime/services/command.h"
#include "runtime/services/directory_search.h"
#include "runtime/values/text_value.h"
#include "runtime/values/value_array.h"

namespace gen {
namespace {

using rt::ArgRecord;

// The runtime's services, by slot and helper entry.
void* Allocate(int32_t size) { return rt::Service<void* (*)(int32_t)>(rt::kSlotAllocateBlock)(size); }
void Release(void* block) { rt::Service<void (*)(void*)>(rt::kSlotReleaseBlock)(block); }
ArgRecord Call(rt::Command command, int32_t count, const ArgRecord* args) {
  return rt::Service<ArgRecord (*)(rt::Command, int32_t, const ArgRecord*)>(rt::kSlotCallCommand)(
      command, count, args);
}
char* FindFile(const char* pattern, int32_t mask, int32_t maskOmitted, void** state) {
  return rt::Helper<char* (*)(const char*, int32_t, int32_t, void**)>(rt::kHelperFindFile)(
      pattern, mask, maskOmitted, state);
}
void CloseSearch(void* handle) { rt::Helper<void (*)(void*)>(rt::kHelperCloseSearch)(handle); }

ArgRecord Text(const char* t) {
  // A null text is passed as the empty-text constant.
  return {reinterpret_cast<uintptr_t>(t ? t : kConstants.emptyText), 0, rt::kTagText};
}
ArgRecord Int32(int32_t n) { return {static_cast<uint32_t>(n), 0, rt::kTagInt32}; }
ArgRecord Bytes(const void* block) {
  // A null ByteBlock is passed as the empty-array constant.
  return {reinterpret_cast<uintptr_t>(block ? block : kConstants.emptyArray), 0,
          rt::kTagByteBlock};
}

// The EntryList starts as a heap copy of the empty-array constant.
void* NewEntryList() {
  void* entries = Allocate(8);
  auto* header = static_cast<int32_t*>(entries);
  header[0] = kConstants.emptyArray[0];
  header[1] = kConstants.emptyArray[1];
  return entries;
}

// The path of the manifest the folder gets; *outputName: its name, the
// path's last part.
char* ManifestPath(char* folder, const char** outputName) {
  ArgRecord rightArgs[2] = {Text(folder), Int32(4)};
  auto* tail = reinterpret_cast<char*>(Call(&rt::RightText, 2, rightArgs).value);
  const bool dataFolder = rules::IsDataFolder(tail != nullptr ? tail : "");
  Release(tail);
  const char* suffix = dataFolder ? kConstants.modSuffix : kConstants.zenterSuffix;
  *outputName = suffix + 1;
  return rt::TextJoin({folder, suffix});
}

// Lists folder + pattern (mask and maskOmitted as FindFile takes them) and
// hands each name to take before releasing it. False when the listing ended
// by an error: a folder that could not be listed is not an empty one, and
// writing would replace its manifest with one that lists nothing.
template <typename Take>
bool ListPass(const char* folder, const char* pattern, int32_t mask, int32_t maskOmitted,
              void** state, Take take) {
  char* search = rt::TextJoin({folder, pattern});
  char* name = FindFile(search, mask, maskOmitted, state);
  Release(search);
  while (name != nullptr) {
    take(name);
    Release(name);
    name = FindFile(nullptr, mask, maskOmitted, state);
  }
  return !rt::SearchFailed();
}

// Renders the EntryList and writes it to path: whether it was written.
// *document: the rendered document, which the caller releases.
bool WriteManifest(const char* path, const void* entries, char** document) {
  *document = RenderManifestDocument(entries);
  ArgRecord textArgs[1] = {Text(*document)};
  void* bytes = reinterpret_cast<void*>(Call(&rt::ToByteBlock, 1, textArgs).value);
  ArgRecord writeArgs[2] = {Text(path), Bytes(bytes)};
  const bool written = Call(&rt::WriteToFile, 2, writeArgs).value == 1;
  Release(bytes);
  return written;
}

}  // namespace

int32_t ManifestRun() {
  void* entries = NewEntryList();
  void* state = nullptr;

  ArgRecord none{};
  auto* folder = reinterpret_cast<char*>(Call(&rt::GetProgramDirectory, 0, &none).value);
  if (folder == nullptr) {
    // The program's own folder could not be told: nothing is written, and
    // certainly not into the folder an empty path would name.
    rt::App().ExitStatus = 1;
    rt::ArrayRelease(entries);
    return 0;
  }

  // The output first, so that the XML pass can leave out the manifest an
  // earlier run wrote here (a manifest must not include itself).
  const char* outputName = nullptr;
  char* path = ManifestPath(folder, &outputName);

  // XML pass: every entry of folder\*.xml that is not a directory.
  bool done = ListPass(folder, kConstants.xmlPattern, 0, 1, &state, [&](char* name) {
    if (rules::IncludesFile(name, outputName)) rt::ArrayAppend(&entries, name);
  });
  // Sub-folder pass: every directory of folder\*.* but the entries . and ..,
  // wherever the listing puts them, as Sub\zenter.xml.
  done = ListPass(folder, kConstants.allPattern, 0x10, 0, &state, [&](char* name) {
    if (!rules::IncludesSubFolder(name)) return;
    char* entry = rt::TextJoin({name, kConstants.zenterSuffix});
    rt::ArrayAppend(&entries, entry);
    Release(entry);
  }) && done;

  char* document = nullptr;
  if (done) done = WriteManifest(path, entries, &document);
  // A manifest that could not be listed or written is reported by the exit
  // status alone: a batch run over a tree must not stop at a box.
  if (!done) rt::App().ExitStatus = 1;
  Release(path);

  CloseSearch(state);
  Release(folder);
  rt::ArrayRelease(entries);
  Release(document);
  return 0;
}

}  // namespace gen
