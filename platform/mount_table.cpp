#include "platform/mount_table.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace os {
namespace {

// The next field of a line separated by spaces, or "" at its end.
std::string_view NextField(std::string_view* line) {
  while (!line->empty() && line->front() == ' ') line->remove_prefix(1);
  const size_t end = std::min(line->find(' '), line->size());
  const std::string_view field = line->substr(0, end);
  line->remove_prefix(end);
  return field;
}

// mountinfo writes a space, tab, newline and backslash in a path as \ and
// three octal digits.
std::string Unescaped(std::string_view field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string_view digits = field.substr(i + 1, 3);
      if (digits.find_first_not_of("01234567") == std::string_view::npos) {
        text.push_back(static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                         (digits[2] - '0')));
        i += 3;
        continue;
      }
    }
    text.push_back(field[i]);
  }
  return text;
}

bool ParseDevice(std::string_view field, unsigned* major, unsigned* minor) {
  const size_t colon = field.find(':');
  if (colon == std::string_view::npos) return false;
  const char* end = field.data() + field.size();
  const auto a = std::from_chars(field.data(), field.data() + colon, *major);
  const auto b = std::from_chars(field.data() + colon + 1, end, *minor);
  return a.ec == std::errc() && a.ptr == field.data() + colon && b.ec == std::errc() && b.ptr == end;
}

// One line: ID, parent ID, major:minor, root, mount point, options, optional
// fields up to "-", then the file system type, the source, the options.
bool ParseLine(std::string_view line, MountEntry* entry) {
  NextField(&line);
  NextField(&line);
  if (!ParseDevice(NextField(&line), &entry->major, &entry->minor)) return false;
  NextField(&line);
  const std::string_view mountPoint = NextField(&line);
  if (mountPoint.empty()) return false;
  for (std::string_view field = NextField(&line); field != "-"; field = NextField(&line)) {
    if (field.empty()) return false;
  }
  const std::string_view type = NextField(&line);
  if (type.empty()) return false;
  entry->mountPoint = Unescaped(mountPoint);
  entry->fileSystem = Unescaped(type);
  return true;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    MountEntry entry;
    if (ParseLine(text.substr(0, end), &entry)) mounts.push_back(std::move(entry));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return mounts;
}

bool ChangesMayGoUnreported(std::string_view fileSystem) {
  static constexpr std::array<std::string_view, 13> kTypes = {
      "9p",    "drvfs",    "cifs",   "smb3",     "smbfs",  "nfs",    "nfs4",
      "vboxsf", "virtiofs", "vmhgfs", "prl_fs",  "fuse",   "ceph"};
  for (std::string_view type : kTypes) {
    if (fileSystem == type) return true;
  }
  return fileSystem.starts_with("fuse.");
}

}  // namespace os
