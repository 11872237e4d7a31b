// .modmanifestignore: folder-name patterns that travel with a mod, one a
// line, in force in the folder that holds the file and beneath it. Lines
// end in LF, CR LF or CR; a UTF-8 byte order mark at the start is passed over;
// surrounding blanks are trimmed; blank lines and lines starting with '#'
// say nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tree/name_pattern.h"
#include "tree/reporter.h"

namespace tree {

// The name of the file that holds a folder's own patterns.
inline constexpr std::string_view kIgnoreFileName = ".modmanifestignore";

// Whether a listed name is the ignore file's: on Windows in any case, as its
// file systems match a name that is opened (.ModManifestIgnore is the same
// file); elsewhere byte for byte. Every place that tells the ignore file by
// its name asks this, so that the walk, a run on a sub-folder and the watch
// agree.
bool IsIgnoreFileName(std::string_view name);
// The largest ignore file taken. A longer one is a mistake (a log or a
// binary under that name) and fails its folder; read at most one byte more
// to tell.
inline constexpr size_t kIgnoreFileLimit = 1 << 20;

// Appends the patterns of an ignore file's bytes, or returns false with
// *problem naming the file (shownFile) and the first bad line: one that is
// not UTF-8, holds a control character or names a path.
bool ParseIgnoreFile(std::string_view bytes, const std::string& shownFile,
                     std::vector<NamePattern>* patterns, Failure* problem);

// The patterns of the ignore files in the folders above ROOT (rootFullPath:
// ROOT's full path, '\' separators), outermost first. False, with *problem
// set, when one cannot be read or holds a bad line: ROOT then counts as
// failed and nothing is visited.
bool LoadIgnoreFilesAbove(const std::string& rootFullPath, std::vector<NamePattern>* patterns,
                          Failure* problem);

}  // namespace tree
