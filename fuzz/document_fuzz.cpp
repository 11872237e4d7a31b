// Renders arbitrary entry lists and parses the manifest with libxml2, which
// must always succeed. The parsed include lines must be the entries in order,
// each exactly as given, leaving out only the entries XML cannot carry; the
// fixed head and tail must be byte for byte the usual ones, and a list of
// plain names must render exactly as the asset pipeline expects.
#include <fuzzer/FuzzedDataProvider.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "generator/entry_list_document.h"
#include "rules/manifest_document.h"
#include "runtime/values/value_array.h"
#include "runtime/values/value_memory.h"
#include "tests/reliability/xml_names.h"

namespace {

using reliability::NameClass;

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<AssetDeclaration xmlns=\"" MODMANIFEST_ASSET_NAMESPACE
    "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n"
    " <Includes>\r\n"
    "\r\n"
    "  <Include type=\"reference\" source=\"DATA:static.xml\" />\r\n"
    "  <Include type=\"reference\" source=\"DATA:global.xml\" />\r\n"
    "  <Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n"
    "\r\n";
const std::string kTail = "\r\n </Includes>\r\n</AssetDeclaration>\r\n";
const char kSubfolderSuffix[] = "\\zenter.xml";

// How the manifest must treat an entry. A sub-folder's entry keeps its
// backslash; any other backslash may or may not have been filtered before.
NameClass ClassifyEntry(const std::string& e) {
  NameClass c = reliability::ClassifyName(e, false);
  if (c != NameClass::kCarried || e.find('\\') == std::string::npos) return c;
  size_t suffix = std::strlen(kSubfolderSuffix);
  bool subfolder = e.size() > suffix && e.compare(e.size() - suffix, suffix, kSubfolderSuffix) == 0 &&
                   e.find('\\') == e.size() - suffix;
  return subfolder ? NameClass::kCarried : NameClass::kOptional;
}

bool Plain(const std::string& e) {
  return ClassifyEntry(e) == NameClass::kCarried && e.find_first_of("&<>\"\t\n\r") == std::string::npos;
}

std::string Attribute(xmlNode* node, const char* name) {
  xmlChar* v = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
  if (v == nullptr) return "(none)";
  std::string s(reinterpret_cast<const char*>(v));
  xmlFree(v);
  return s;
}

bool Named(xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE &&
         std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

void Quiet(void*, const char*, ...) {}

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  xmlInitParser();
  xmlSetGenericErrorFunc(nullptr, Quiet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // The Linux build's code page is UTF-8; a Windows one converts from its
  // ANSI code page, for which the fake has Latin-1.
  const bool utf8 = in.ConsumeBool();
  std::vector<std::string> entries;
  while (in.remaining_bytes() > 0 && entries.size() < 64) {
    std::string e = in.ConsumeRandomLengthString(120);
    e.erase(std::remove(e.begin(), e.end(), '\0'), e.end());
    if (in.ConsumeBool()) e += kSubfolderSuffix;
    entries.push_back(e);
  }

  fuzz::Runtime runtime;
  runtime.fake().ansiCodePage = utf8 ? os::kCodePageUtf8 : 1252;
  std::string doc = rules::RenderManifestText(entries);
  {
    // The program renders from its EntryList, a text ValueArray: the same
    // bytes, in one block of exactly length + 1 bytes.
    void* list = rt::AllocateBlock(8);
    const int32_t empty[2] = {1, 0};
    std::memcpy(list, empty, sizeof empty);
    for (const std::string& e : entries) rt::ArrayAppend(&list, e.c_str());
    char* rendered = gen::RenderManifestDocument(list);
    FUZZ_CHECK(runtime.fake().BlockSize(rendered) == static_cast<long>(doc.size() + 1),
               "the document block is not length + 1 bytes");
    FUZZ_CHECK(std::memcmp(rendered, doc.c_str(), doc.size() + 1) == 0,
               "the EntryList renders other bytes than the same list of strings");
    rt::ReleaseBlock(rendered);
    rt::ArrayRelease(list);
    FUZZ_CHECK(runtime.fake().LiveBlocks() == 0, "rendering left a block behind");
  }
  if (!utf8) {
    for (std::string& e : entries) e = Latin1ToUtf8(e);
  }

  FUZZ_CHECK(doc.compare(0, kHead.size(), kHead) == 0, "the head is not the fixed one");
  FUZZ_CHECK(doc.size() >= kHead.size() + kTail.size() &&
                 doc.compare(doc.size() - kTail.size(), kTail.size(), kTail) == 0,
             "the tail is not the fixed one");
  if (std::all_of(entries.begin(), entries.end(), Plain)) {
    std::string expected = kHead;
    for (const std::string& e : entries) {
      expected += " <Include type=\"all\" source=\"" + e + "\" />\r\n";
    }
    expected += kTail;
    FUZZ_CHECK(doc == expected, "plain names render exactly: " + fuzz::Show(doc));
  }

  xmlDoc* parsed = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), "manifest.xml", nullptr,
                                 XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  FUZZ_CHECK(parsed != nullptr, "not well-formed: " + fuzz::Show(doc));
  xmlNode* root = xmlDocGetRootElement(parsed);
  FUZZ_CHECK(root != nullptr && Named(root, "AssetDeclaration"), "root element");
  xmlNode* includes = nullptr;
  for (xmlNode* n = root->children; n != nullptr; n = n->next) {
    if (Named(n, "Includes")) includes = n;
  }
  FUZZ_CHECK(includes != nullptr, "no Includes element");
  std::vector<std::string> sources;
  int references = 0;
  for (xmlNode* n = includes->children; n != nullptr; n = n->next) {
    if (!Named(n, "Include")) continue;
    std::string type = Attribute(n, "type");
    if (type == "reference") {
      FUZZ_CHECK(sources.empty(), "a reference include after the generated ones");
      ++references;
    } else {
      FUZZ_CHECK(type == "all", "include type " + fuzz::Show(type));
      sources.push_back(Attribute(n, "source"));
    }
  }
  xmlFreeDoc(parsed);
  FUZZ_CHECK(references == 3, "three reference includes");

  // The sources are the entries in order, less those left out.
  size_t next = 0;
  for (const std::string& e : entries) {
    NameClass c = ClassifyEntry(e);
    if (next < sources.size() && c != NameClass::kLeftOut && sources[next] == e) {
      ++next;
      continue;
    }
    FUZZ_CHECK(c != NameClass::kCarried, "entry " + fuzz::Show(e) + " missing or changed");
  }
  FUZZ_CHECK(next == sources.size(),
             "a source that is no entry: " + fuzz::Show(sources[std::min(next, sources.size() - 1)]));
  return 0;
}
