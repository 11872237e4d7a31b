// The manifest document of the run's EntryList, as one runtime text.
#pragma once

namespace gen {

// The whole document (rules/manifest_document.h) as one new TextValue from
// AllocateBlock, exactly its length + 1 bytes (never null). entryList is a
// text ValueArray (null: no entries); a null entry renders as the empty text.
char* RenderManifestDocument(const void* entryList);

}  // namespace gen
