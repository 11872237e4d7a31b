// The window's texts, in the language it speaks: the strings and the menu
// bar of that language's block of the resources (English, Simplified
// Chinese), English for whatever that block lacks. Looked up by language
// explicitly, so Windows and Wine give the same texts whatever the thread's
// own language.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace window {

inline constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
inline constexpr LANGID kChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

// The language the window speaks: the one the user chose ("en", "zh-CN", as
// settings keep it), else by the user's UI language (Chinese for any
// Chinese), else English.
LANGID ChooseLanguage(const std::wstring& chosen, LANGID uiLanguage);
// The window speaks language from now on; Speaking() tells which.
void Speak(LANGID language);
LANGID Speaking();

// A string of the resources (resource.h's IDS_).
std::wstring Text(unsigned id);
// A string of the resources with its numbered arguments (%1, %2, ...) put in.
std::wstring Format(unsigned id, std::initializer_list<std::wstring> arguments);
// The same for the model, in UTF-8.
std::string Phrase(unsigned id, const std::vector<std::string>& arguments);
// A system error's words, in the language the window speaks: the engine's
// own in English, the system's in another where this Windows has them.
std::string ErrorPhrase(unsigned long error);
// The menu bar, made anew (the caller owns it).
HMENU LoadMenuBar(HINSTANCE instance);

}  // namespace window
