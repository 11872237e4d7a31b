// The two ways the tools spell a path, each spelled here alone.
//
// A folder below ROOT is named by its names from ROOT down, joined by '\'
// ("" is ROOT itself), on every system: the walk, the watch and the window
// name folders so. A path as shown is what a person reads: ROOT as typed,
// then the names, with '\' between them on Windows and '/' elsewhere.
//
// Names compare as the system's file systems compare them: exactly, or (on
// Windows) in any case, each UTF-16 unit upper-cased by the table the
// listing order and the name patterns use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tree {

enum class NameCase { Exact, Any };

// This system's rule, as the platform declares it.
NameCase SystemNameCase();

bool SameName(std::string_view a, std::string_view b, NameCase rule);
// An order in which the names SameName takes for one are equal; the
// folders below a folder (those that begin with it and '\') are one range.
bool NameBefore(std::string_view a, std::string_view b, NameCase rule);
struct NameLess {
  NameCase rule = NameCase::Exact;
  bool operator()(const std::string& a, const std::string& b) const {
    return NameBefore(a, b, rule);
  }
};

// Folders below ROOT.
namespace below {

// folder\name; name alone below ROOT.
std::string Join(std::string_view folder, std::string_view name);
// The folder above ("" for ROOT and for a folder right below it) and the
// last name ("" for ROOT).
std::string_view Parent(std::string_view folder);
std::string_view Leaf(std::string_view folder);
// Its names, outermost first; none for ROOT.
std::vector<std::string_view> Names(std::string_view folder);
// Whether folder is base or lies beneath it.
bool Within(std::string_view folder, std::string_view base, NameCase rule = NameCase::Exact);
// Whether a name can stand in such a path: one holding '\' (possible on
// POSIX file systems) would read as two.
bool Nameable(std::string_view name);

}  // namespace below

// base, then name below it, as a person reads it; name alone after an empty
// base.
std::string Shown(const std::string& base, std::string_view name);
// A shown path, "." for ROOT given as nothing.
std::string Dotted(const std::string& shown);
// A folder below ROOT as shown, ROOT as typed (shownRoot: "" when none was).
std::string ShownBelow(const std::string& shownRoot, std::string_view folder);
// A full path of the seam ('\' separators) as shown.
std::string ShownFullPath(std::string fullPath);

// The length of the part of a full path that names the file system's root
// ("\", "X:\", "\\server\share", their \\?\ forms, a volume's
// \\?\Volume{...}); 0 when there is none.
size_t FileSystemRootLength(std::string_view fullPath);
// The folders above ROOT (its full path), from the file system's root down
// to ROOT's parent, each spelled as it opens as a folder (a root with its
// '\': "\", "C:\", "\\server\share\", "\\?\Volume{...}\"). None when ROOT is
// a root itself.
std::vector<std::string> FoldersAbove(std::string_view rootFullPath);

}  // namespace tree
