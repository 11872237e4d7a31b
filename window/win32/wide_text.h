// UTF-8 (what the engine and the model speak) to UTF-16 (what Windows
// speaks) and back, for the window's texts and paths.
#pragma once

#include <string>
#include <string_view>

namespace window {

// The longest path Windows takes, in UTF-16 units with the terminator.
inline constexpr size_t kLongestPath = 32768;

std::wstring Wide(std::string_view text);
std::string Utf8(std::wstring_view text);
// Line ends as an edit control shows them: CR LF.
std::wstring WideLines(std::string_view text);

}  // namespace window
