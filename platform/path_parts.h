// Joining and splitting the seam's paths ('\' separators), and how this
// system's file systems compare names.
#pragma once

#include <string>
#include <string_view>

namespace os {

// path\name, with one separator even after a path that ends in one (a drive
// root). An empty path gives \name.
inline std::string JoinPath(std::string_view path, std::string_view name) {
  std::string joined;
  joined.reserve(path.size() + 1 + name.size());
  joined.append(path);
  if (joined.empty() || joined.back() != '\\') joined.push_back('\\');
  joined.append(name);
  return joined;
}

// The part of path before its last '\' ("" when there is none) and the
// part after it (the whole path when there is none).
inline std::string_view PathParent(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string_view::npos ? std::string_view() : path.substr(0, cut);
}
inline std::string_view PathLastName(std::string_view path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Whether the file systems take a name in any case for the same name
// (Windows); elsewhere a name is its bytes. Each back-end says which.
bool NamesAnyCase();

}  // namespace os
