#include "window/win32/texts.h"

#include "platform/folder_access.h"
#include "platform/platform.h"
#include "tree/error_text.h"
#include "window/model/phrases.h"
#include "window/win32/resource.h"
#include "window/win32/wide_text.h"

namespace window {
namespace {

LANGID g_speaking = kEnglish;

// The string as the module holds it: a string table's block holds sixteen,
// each its length and then its UTF-16 units, not terminated.
std::wstring Lookup(unsigned id, LANGID language) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC found = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (found == nullptr) return L"";
  const auto* at = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, found)));
  if (at == nullptr) return L"";
  const WCHAR* end = at + ::SizeofResource(module, found) / sizeof(WCHAR);
  for (unsigned i = 0; i < id % 16 && at < end; ++i) at += 1 + *at;
  if (at >= end || at + 1 + *at > end) return L"";
  return std::wstring(at + 1, *at);
}

}  // namespace

LANGID ChooseLanguage(const std::wstring& chosen, LANGID uiLanguage) {
  if (chosen == L"en") return kEnglish;
  if (chosen == L"zh-CN") return kChinese;
  return PRIMARYLANGID(uiLanguage) == LANG_CHINESE ? kChinese : kEnglish;
}

void Speak(LANGID language) { g_speaking = language; }

LANGID Speaking() { return g_speaking; }

std::wstring Text(unsigned id) {
  std::wstring text = Lookup(id, g_speaking);
  return text.empty() && g_speaking != kEnglish ? Lookup(id, kEnglish) : text;
}

std::wstring Format(unsigned id, std::initializer_list<std::wstring> arguments) {
  std::vector<std::string> values;
  for (const std::wstring& argument : arguments) values.push_back(Utf8(argument));
  return Wide(FillIn(Utf8(Text(id)), values));
}

std::string Phrase(unsigned id, const std::vector<std::string>& arguments) {
  return FillIn(Utf8(Text(id)), arguments);
}

std::string ErrorPhrase(unsigned long error) {
  if (g_speaking == kEnglish) return tree::ErrorText(error);
  // The tools' own errors, which the system's words would misname.
  switch (error) {
    case os::kErrorIsLink: return Phrase(IDS_ERROR_IS_LINK, {});
    case os::kErrorIsFolder: return Phrase(IDS_ERROR_IS_FOLDER, {});
    case os::kErrorNotRegularFile: return Phrase(IDS_ERROR_NOT_REGULAR_FILE, {});
    default: break;
  }
  wchar_t text[512] = L"";
  constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = ::FormatMessageW(kFlags, nullptr, static_cast<DWORD>(error), g_speaking, text, 512, nullptr);
  // It stands inside a sentence: without its line end and its full stop.
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ' ||
                        text[length - 1] == L'.' || text[length - 1] == L'\x3002')) {
    --length;
  }
  // Its number beside it for a search, as the console gives it.
  const std::string words = length == 0 ? Phrase(IDS_ERROR_NO_TEXT, {}) : Utf8(std::wstring(text, length));
  return Phrase(IDS_ERROR_NUMBERED, {words, std::to_string(error)});
}

HMENU LoadMenuBar(HINSTANCE instance) {
  for (LANGID language : {g_speaking, kEnglish}) {
    if (HRSRC found = ::FindResourceExW(instance, RT_MENU, MAKEINTRESOURCEW(IDR_MAIN), language)) {
      if (const void* menu = ::LockResource(::LoadResource(instance, found))) {
        return ::LoadMenuIndirectW(menu);
      }
    }
  }
  return ::LoadMenuW(instance, MAKEINTRESOURCEW(IDR_MAIN));
}

}  // namespace window
