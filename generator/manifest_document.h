// The manifest document: the XML asset declaration that includes every entry
// of the EntryList, with CR LF line ends and no byte-order mark.
//
// Each entry's bytes become a source attribute: converted from the ANSI code
// page to UTF-8 (the document declares UTF-8), with & < > " and TAB, LF, CR
// written as references. An entry that XML 1.0 cannot carry (other control
// characters, bytes that are not valid in the code page or not valid UTF-8)
// is left out, so the document is always well-formed. ASCII entries are
// copied unchanged apart from the escapes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gen {

// The engine's asset-declaration namespace, fixed at build time.
extern const char kAssetNamespace[];

// The whole document as one new TextValue from AllocateBlock, exactly its
// length + 1 bytes (never null). entryList is a text ValueArray (null: no
// entries); a null entry renders as the empty text.
char* RenderManifestDocument(const void* entryList);

// The same bytes for a list of entries given as strings.
std::string RenderManifestText(const std::vector<std::string>& entries);

// The source attribute value that an entry renders as; false (and rendered
// untouched) when the entry is left out.
bool RenderManifestEntry(std::string_view entry, std::string* rendered);

}  // namespace gen
