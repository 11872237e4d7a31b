// The manifest document: the XML asset declaration that includes every entry
// of a folder's manifest, with CR LF line ends and no byte-order mark.
//
// Each entry's bytes become a source attribute: converted from the ANSI code
// page to UTF-8 (the document declares UTF-8), with & < > " and TAB, LF, CR
// written as references. An entry that XML 1.0 cannot carry (other control
// characters, bytes that are not valid in the code page or not valid UTF-8)
// is left out, so the document is always well-formed. ASCII entries are
// copied unchanged apart from the escapes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rules {

// The engine's asset-declaration namespace, fixed at build time.
extern const char kAssetNamespace[];

// The document's entries as a caller holds them: entry i's bytes are
// entryAt(context, i), for i below count.
struct EntrySource {
  size_t count;
  std::string_view (*entryAt)(const void* context, size_t i);
  const void* context;
};

// The document's exact length in bytes, and its bytes written at out (that
// many; the end returned). A caller that must allocate the document whole
// asks the one, then the other.
uint64_t ManifestDocumentLength(const EntrySource& entries);
char* WriteManifestDocument(const EntrySource& entries, char* out);

// The document for a list of entries given as strings.
std::string RenderManifestText(const std::vector<std::string>& entries);

// Whether a folder's manifest can carry the entry of its sub-folder name
// (name\zenter.xml): the folder pass includes the name and the document can
// hold the entry.
bool CanCarrySubFolder(std::string_view name);

// A manifest's entries, each rendered into its include line once, as the
// caller finds it; the document is then put together from the lines. A
// listing gives files and folders mixed; the lines of the XML pass and of
// the folder pass are kept apart, as the document holds all files first.
class PreparedEntries {
 public:
  // The entry of a file the XML pass includes (its name), and of a
  // sub-folder the folder pass includes (name\zenter.xml), each after those
  // added before. Null when the document carries the entry; else, with
  // nothing added, why it cannot, as the tree tool reports it ("its name
  // holds control characters", "its name is not valid UTF-8"). The pass's
  // rule is the caller's.
  const char* AddFile(std::string_view name);
  const char* AddSubFolder(std::string_view name);
  void Clear();

 private:
  friend std::string RenderManifestText(const PreparedEntries& entries);
  std::string fileLines_;
  std::string folderLines_;
  std::string subFolderEntry_;  // kept, so that adding a sub-folder allocates nothing
};

// The same bytes as for the list of entries, in the order above.
std::string RenderManifestText(const PreparedEntries& entries);

}  // namespace rules
