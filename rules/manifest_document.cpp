#include "rules/manifest_document.h"

#include <cstdint>
#include <cstring>
#include <optional>

#include "rules/manifest_rule.h"
#include "platform/platform.h"
#include "platform/utf8.h"

#ifndef MODMANIFEST_ASSET_NAMESPACE
#error "MODMANIFEST_ASSET_NAMESPACE must name the engine's asset-declaration namespace"
#endif

namespace rules {
namespace {

// The namespace is written into an attribute as it is: it must not hold
// anything that would need a reference there.
constexpr bool IsPlainAttributeText(const char* text) {
  for (; *text != '\0'; ++text) {
    const auto c = static_cast<unsigned char>(*text);
    if (c < 0x20 || c == '"' || c == '&' || c == '<') return false;
  }
  return true;
}
static_assert(IsPlainAttributeText(MODMANIFEST_ASSET_NAMESPACE),
              "the asset namespace must not contain quotes, '&', '<' or control characters");

constexpr char kHead[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<AssetDeclaration xmlns=\"" MODMANIFEST_ASSET_NAMESPACE
    "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n"
    " <Includes>\r\n"
    "\r\n"
    "  <Include type=\"reference\" source=\"DATA:static.xml\" />\r\n"
    "  <Include type=\"reference\" source=\"DATA:global.xml\" />\r\n"
    "  <Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n"
    "\r\n";
constexpr char kIncludeOpen[] = " <Include type=\"all\" source=\"";
constexpr char kIncludeClose[] = "\" />\r\n";
constexpr char kTail[] =
    "\r\n"
    " </Includes>\r\n"
    "</AssetDeclaration>\r\n";

constexpr size_t kHeadLength = sizeof kHead - 1;
constexpr size_t kIncludeLength = sizeof kIncludeOpen - 1 + sizeof kIncludeClose - 1;
constexpr size_t kTailLength = sizeof kTail - 1;

// Characters XML 1.0 allows in a document.
bool IsXmlChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF) made only of characters XML 1.0 allows.
bool IsXmlUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    const os::Utf8Sequence seq = os::ReadUtf8(s + i, bytes.size() - i);
    if (seq.length == 0 || !IsXmlChar(seq.codePoint)) return false;
    i += seq.length;
  }
  return true;
}

// The reference that stands for c in an attribute value, or null when c
// stands for itself. TAB, LF and CR are references too: a parser would turn
// them into spaces otherwise.
constexpr const char* Reference(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\t': return "&#9;";
    case '\n': return "&#10;";
    case '\r': return "&#13;";
    default: return nullptr;
  }
}

size_t EscapedLength(std::string_view value) {
  size_t length = 0;
  for (char c : value) {
    const char* reference = Reference(c);
    length += reference != nullptr ? std::strlen(reference) : 1;
  }
  return length;
}

char* WriteEscaped(std::string_view value, char* out) {
  for (char c : value) {
    const char* reference = Reference(c);
    if (reference == nullptr) {
      *out++ = c;
    } else {
      const size_t length = std::strlen(reference);
      std::memcpy(out, reference, length);
      out += length;
    }
  }
  return out;
}

// The UTF-8 form of an entry that holds non-ASCII bytes: the entry itself
// when the code page is UTF-8 already, otherwise its conversion from the ANSI
// code page, made in *scratch. Nothing when the entry cannot be carried by
// XML 1.0.
std::optional<std::string_view> Utf8Form(std::string_view entry, std::string* scratch) {
  const os::Platform& platform = os::Os();
  if (platform.GetACP() != os::kCodePageUtf8) {
    const int length = static_cast<int>(entry.size());
    const int wideLength = platform.MultiByteToWideChar(
        os::kCodePageAnsi, os::kMbErrInvalidChars, entry.data(), length, nullptr, 0);
    if (wideLength <= 0) return std::nullopt;
    std::u16string wide(static_cast<size_t>(wideLength), u'\0');
    if (platform.MultiByteToWideChar(os::kCodePageAnsi, os::kMbErrInvalidChars, entry.data(),
                                     length, wide.data(), wideLength) != wideLength) {
      return std::nullopt;
    }
    const int utf8Length = platform.WideCharToMultiByte(os::kCodePageUtf8, 0, wide.data(),
                                                        wideLength, nullptr, 0, nullptr, nullptr);
    if (utf8Length <= 0) return std::nullopt;
    scratch->assign(static_cast<size_t>(utf8Length), '\0');
    if (platform.WideCharToMultiByte(os::kCodePageUtf8, 0, wide.data(), wideLength,
                                     scratch->data(), utf8Length, nullptr,
                                     nullptr) != utf8Length) {
      return std::nullopt;
    }
    entry = *scratch;
  }
  if (!IsXmlUtf8(entry)) return std::nullopt;
  return entry;
}

// What each byte of an entry needs: 0 stands for itself, 3 to 5 are the
// bytes its reference adds, kHigh marks a byte of a non-ASCII character and
// kControl a control character that XML 1.0 cannot carry (in UTF-8 and in
// every ANSI code page a byte below 0x20 is always such a character).
constexpr uint8_t kHigh = 0x40;
constexpr uint8_t kControl = 0x80;
struct ByteTable {
  uint8_t need[256];
};
constexpr ByteTable MakeByteTable() {
  ByteTable t{};
  for (int b = 0; b < 0x20; ++b) t.need[b] = kControl;
  for (int b = 0x80; b < 0x100; ++b) t.need[b] = kHigh;
  for (char c : {'&', '<', '>', '"', '\t', '\n', '\r'}) {
    t.need[static_cast<unsigned char>(c)] = 0;
    for (const char* r = Reference(c); r[1] != '\0'; ++r) ++t.need[static_cast<unsigned char>(c)];
  }
  return t;
}
constexpr ByteTable kByteTable = MakeByteTable();

// Why the document cannot carry an entry, as the tree tool reports it.
constexpr const char* kHoldsControls = "its name holds control characters";
constexpr const char* kNotUtf8 = "its name is not valid UTF-8";

// An entry as it stands in the document: its UTF-8 bytes and the length they
// take once escaped; or, left out, why.
struct RenderedEntry {
  std::string_view utf8;
  size_t length;
  const char* leftOut;
};

// ASCII entries, the usual case, take one pass over their bytes; only others
// go through conversion and validation.
RenderedEntry PrepareEntry(std::string_view entry, std::string* scratch) {
  size_t extra = 0;
  uint8_t seen = 0;
  for (char c : entry) {
    const uint8_t need = kByteTable.need[static_cast<unsigned char>(c)];
    seen |= need;
    extra += need & 0x07;
  }
  if (seen & kControl) return {{}, 0, kHoldsControls};
  if (!(seen & kHigh)) return {entry, entry.size() + extra, nullptr};
  std::optional<std::string_view> utf8 = Utf8Form(entry, scratch);
  if (!utf8) return {{}, 0, kNotUtf8};
  return {*utf8, EscapedLength(*utf8), nullptr};
}

char* WriteEntry(const RenderedEntry& entry, char* out) {
  if (entry.length == entry.utf8.size()) {  // nothing to escape
    std::memcpy(out, entry.utf8.data(), entry.length);
    return out + entry.length;
  }
  return WriteEscaped(entry.utf8, out);
}

char* Put(char* out, const char* text, size_t length) {
  std::memcpy(out, text, length);
  return out + length;
}

// The entry's include line, kIncludeLength + entry.length bytes.
char* WriteInclude(const RenderedEntry& entry, char* out) {
  out = Put(out, kIncludeOpen, sizeof kIncludeOpen - 1);
  out = WriteEntry(entry, out);
  return Put(out, kIncludeClose, sizeof kIncludeClose - 1);
}

// Appends the entry's include line to *lines; or, appending nothing, says
// why the entry is left out.
const char* AppendInclude(std::string_view entry, std::string* lines) {
  std::string scratch;
  const RenderedEntry prepared = PrepareEntry(entry, &scratch);
  if (prepared.leftOut != nullptr) return prepared.leftOut;
  const size_t at = lines->size();
  lines->resize(at + kIncludeLength + prepared.length);
  WriteInclude(prepared, lines->data() + at);
  return nullptr;
}

std::string_view EntryOfList(const void* context, size_t i) {
  return (*static_cast<const std::vector<std::string>*>(context))[i];
}

}  // namespace

extern const char kAssetNamespace[] = MODMANIFEST_ASSET_NAMESPACE;

bool CanCarrySubFolder(std::string_view name) {
  std::string scratch;
  return IncludesSubFolder(name) && PrepareEntry(SubFolderEntry(name), &scratch).leftOut == nullptr;
}

const char* PreparedEntries::AddFile(std::string_view name) {
  return AppendInclude(name, &fileLines_);
}

const char* PreparedEntries::AddSubFolder(std::string_view name) {
  // The whole entry is rendered, as the per-folder run renders it: under a
  // double-byte code page a name's last byte may pair with the separator.
  subFolderEntry_.assign(name).append(kSubFolderSuffix);
  return AppendInclude(subFolderEntry_, &folderLines_);
}

void PreparedEntries::Clear() {
  fileLines_.clear();
  folderLines_.clear();
}

std::string RenderManifestText(const PreparedEntries& entries) {
  std::string document;
  document.reserve(kHeadLength + entries.fileLines_.size() + entries.folderLines_.size() +
                   kTailLength);
  document.append(kHead, kHeadLength).append(entries.fileLines_).append(entries.folderLines_);
  return document.append(kTail, kTailLength);
}

// The document is made in two passes over the entries: the first works out
// its exact length, the second fills a buffer of that length, so the work is
// linear in the size of the document.
uint64_t ManifestDocumentLength(const EntrySource& entries) {
  std::string scratch;
  uint64_t length = kHeadLength + kTailLength;
  for (size_t i = 0; i < entries.count; ++i) {
    const RenderedEntry entry = PrepareEntry(entries.entryAt(entries.context, i), &scratch);
    if (entry.leftOut == nullptr) length += kIncludeLength + entry.length;
  }
  return length;
}

char* WriteManifestDocument(const EntrySource& entries, char* out) {
  std::string scratch;
  out = Put(out, kHead, kHeadLength);
  for (size_t i = 0; i < entries.count; ++i) {
    const RenderedEntry entry = PrepareEntry(entries.entryAt(entries.context, i), &scratch);
    if (entry.leftOut == nullptr) out = WriteInclude(entry, out);
  }
  return Put(out, kTail, kTailLength);
}

std::string RenderManifestText(const std::vector<std::string>& entries) {
  const EntrySource source{entries.size(), &EntryOfList, &entries};
  std::string document(ManifestDocumentLength(source), '\0');
  WriteManifestDocument(source, document.data());
  return document;
}

}  // namespace rules
