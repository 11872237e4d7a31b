// What goes into a folder's manifest, by name: the one rule of both
// programs.
//
// A folder's manifest is Mod.xml when the folder's path ends in the four
// bytes "Data", zenter.xml otherwise. Its entries come from two listings of
// the folder, in this order: the non-directories of folder\*.xml, then the
// directories of folder\*.*, each directory as Name\zenter.xml. The entries
// . and .. are never included, nor names holding '\', nor (in the XML pass)
// the manifest the folder gets or a file whose own name does not end in
// ".xml" (a Windows listing matches short names too).
#pragma once

#include <string>
#include <string_view>

namespace rules {

// The names of the rule, each spelled here alone: the per-folder program
// spells its constant data from them when it is compiled.
//
// The patterns of the two passes, appended to the folder's path.
inline constexpr std::string_view kXmlPassPattern = "\\*.xml";
inline constexpr std::string_view kFolderPassPattern = "\\*.*";
// What a sub-folder's entry appends to its name: a separator and the
// manifest every folder but a Data folder gets.
inline constexpr std::string_view kSubFolderSuffix = "\\zenter.xml";
inline constexpr std::string_view kZenterManifest = kSubFolderSuffix.substr(1);
inline constexpr std::string_view kModManifest = "Mod.xml";
inline constexpr std::string_view kDataSuffix = "Data";

// Whether the folder's manifest is Mod.xml: its path ends in "Data", byte
// for byte ("MyData" does, "data" and "Database" do not).
bool IsDataFolder(std::string_view folderPath);

// The name of the manifest the folder gets.
std::string_view ManifestNameFor(std::string_view folderPath);

// Whether the name itself ends in ".xml", in any case. On Windows a listing
// of *.xml also matches a file whose short 8.3 alias ends so (UNIT~ZRN.XML
// for "Units.xml~"); only the name a manifest would carry counts, which is
// all a POSIX listing ever matches.
bool EndsInXml(std::string_view name);

// Whether the XML pass (non-directories of folder\*.xml) includes the file:
// only a name that itself ends in ".xml" (any case), never one the listing
// matched by its short 8.3 alias; neither the manifest itself (IsManifest)
// nor a name holding '\'.
bool IncludesFile(std::string_view name, std::string_view manifestName);

// Whether the folder pass (directories of folder\*.*) includes the
// sub-folder: every one but . and .., wherever the listing puts them.
bool IncludesSubFolder(std::string_view name);

// Whether a listed name is one of the entries . and ..
bool IsDotEntry(std::string_view name);

// Whether the name holds a backslash (possible only on POSIX file systems):
// it would read as a path into another folder once it stood in the
// manifest, so neither pass includes it.
bool HoldsBackslash(std::string_view name);
// Why such a name is left out, as the tree tool reports it.
inline constexpr const char* kHoldsBackslash = "its name holds \\";

// Whether the name is the manifest's own: without regard to case on
// Windows, whose file systems compare names that way; byte for byte
// elsewhere.
bool IsManifest(std::string_view name, std::string_view manifestName);

// The entry a sub-folder stands as: Name\zenter.xml.
std::string SubFolderEntry(std::string_view name);

}  // namespace rules
