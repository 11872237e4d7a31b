// The built Linux program in real folders under conditions a user meets but
// a unit test does not: a disk that fills up while the manifest is written,
// many copies started at once in one folder, and file names of every kind the
// file system allows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/reliability/expected_manifest.h"
#include "tests/reliability/xml_names.h"

namespace {

using reliability::NameClass;

const std::string kProgramName = "modmanifest";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A temporary folder holding a copy of the program; removed afterwards.
class Folder {
 public:
  Folder() {
    char pattern[] = "/tmp/modmanifest-reliability-XXXXXX";
    path_ = mkdtemp(pattern);
    Copy(MODMANIFEST_PROGRAM, path_ + "/" + kProgramName);
  }
  ~Folder() {
    std::string command = "rm -rf '" + path_ + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path_.c_str());
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Names in the folder, as raw bytes.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    std::string command = "find '" + path_ + "' -mindepth 1 -maxdepth 1 -printf '%f\\0'";
    FILE* p = popen(command.c_str(), "r");
    std::string all;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) all.append(buffer, n);
    pclose(p);
    std::stringstream s(all);
    std::string name;
    while (std::getline(s, name, '\0')) names.insert(name);
    return names;
  }

 private:
  static void Copy(const std::string& from, const std::string& to) {
    WriteFile(to, ReadFile(from));
    chmod(to.c_str(), 0755);
  }
  std::string path_;
};

// Starts the folder's program; limitBytes >= 0 caps the size of any file it
// writes (RLIMIT_FSIZE), with SIGXFSZ ignored so that a write past the cap
// fails as on a full disk instead of killing the process.
pid_t Start(const Folder& folder, long limitBytes = -1) {
  std::string program = folder / kProgramName;
  pid_t pid = fork();
  if (pid == 0) {
    if (limitBytes >= 0) {
      struct rlimit limit{static_cast<rlim_t>(limitBytes), static_cast<rlim_t>(limitBytes)};
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    if (chdir(folder.path().c_str()) != 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// The exit status, or -1000 - signal.
int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return -1000 - WTERMSIG(status);
  return WEXITSTATUS(status);
}

bool WellFormed(const std::string& path) {
  std::string command = "xmllint --noout '" + path + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

// The source attributes of the generated include lines, as an XML parser
// reads them; false when the document is not well-formed.
bool ReadSources(const std::string& path, std::vector<std::string>* sources) {
  xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                       XML_PARSE_NOWARNING);
  if (doc == nullptr) return false;
  xmlNode* root = xmlDocGetRootElement(doc);
  for (xmlNode* group = root != nullptr ? root->children : nullptr; group; group = group->next) {
    if (group->type != XML_ELEMENT_NODE) continue;
    for (xmlNode* n = group->children; n != nullptr; n = n->next) {
      if (n->type != XML_ELEMENT_NODE) continue;
      xmlChar* type = xmlGetProp(n, reinterpret_cast<const xmlChar*>("type"));
      xmlChar* source = xmlGetProp(n, reinterpret_cast<const xmlChar*>("source"));
      if (type != nullptr && source != nullptr &&
          std::strcmp(reinterpret_cast<char*>(type), "all") == 0) {
        sources->push_back(reinterpret_cast<char*>(source));
      }
      xmlFree(type);
      xmlFree(source);
    }
  }
  xmlFreeDoc(doc);
  return true;
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

const char kPrevious[] = "<?xml version=\"1.0\"?>\r\n<AssetDeclaration />\r\n";

TEST(FullDisk, AFileSizeLimitFailsTheRunAndKeepsThePreviousManifest) {
  Folder folder;
  // Enough entries for a manifest of some 25 KB.
  for (int i = 0; i < 300; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "units_of_the_%03d_faction_declared_here.xml", i);
    WriteFile(folder / name, "<x/>");
  }
  WriteFile(folder / "zenter.xml", kPrevious);
  std::set<std::string> before = folder.Names();
  for (long limit : {0L, 1L, 4096L, 16384L}) {
    EXPECT_EQ(Wait(Start(folder, limit)), 1) << "file size limit " << limit;
    EXPECT_EQ(ReadFile(folder / "zenter.xml"), kPrevious) << "file size limit " << limit;
    EXPECT_EQ(folder.Names(), before) << "file size limit " << limit << ": a file was left";
  }
  // Without the limit the same folder gets its manifest.
  EXPECT_EQ(Wait(Start(folder)), 0);
  EXPECT_GT(ReadFile(folder / "zenter.xml").size(), 16384u);
  EXPECT_TRUE(WellFormed(folder / "zenter.xml"));
}

TEST(Concurrency, EightRunsAtOnceLeaveOneCompleteManifest) {
  Folder folder;
  std::vector<std::string> entries;
  for (int i = 0; i < 300; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "part%03d.xml", i);
    WriteFile(folder / name, "<x/>");
    entries.push_back(name);
  }
  // A manifest is there before every round; a run never lists its own.
  for (int i = 0; i < 4; ++i) {
    std::string sub = "sub" + std::to_string(i);
    mkdir((folder / sub).c_str(), 0755);
    entries.push_back(sub + "\\zenter.xml");
  }
  WriteFile(folder / "zenter.xml", kPrevious);
  std::set<std::string> before = folder.Names();
  const std::string expected = reliability::ExpectedManifest(entries);
  for (int round = 0; round < 20; ++round) {
    std::vector<pid_t> children;
    for (int i = 0; i < 8; ++i) children.push_back(Start(folder));
    for (pid_t child : children) {
      int status = Wait(child);
      EXPECT_TRUE(status == 0 || status == 1) << "round " << round << ": exit status " << status;
    }
    std::vector<std::string> sources;
    EXPECT_TRUE(ReadSources(folder / "zenter.xml", &sources)) << "round " << round;
    EXPECT_EQ(sources, entries) << "round " << round << ": the manifest left behind is incomplete";
    EXPECT_TRUE(ReadFile(folder / "zenter.xml") == expected) << "round " << round;
    EXPECT_TRUE(WellFormed(folder / "zenter.xml")) << "round " << round;
    EXPECT_EQ(folder.Names(), before) << "round " << round << ": a file was left";
  }
}

// Names of files and folders that try to break the manifest.
std::vector<std::string> HostileNames() {
  std::vector<std::string> names;
  for (int b = 1; b < 256; ++b) {
    if (b == '/') continue;
    names.push_back(std::string("byte") + static_cast<char>(b) + ".xml");
  }
  names.push_back(std::string(251, 'n') + ".xml");
  std::string longUtf8;
  while (longUtf8.size() < 250) longUtf8 += "\xC3\xA9";  // é
  names.push_back(longUtf8 + "a.xml");
  for (const char* s : {
           "back\\slash.xml", "..\\..\\escape.xml", "cdata]]>end.xml", "quote\"double.xml",
           "quote'single.xml", "amp&amp;.xml", "amp&.xml", "lt<gt>.xml", "<!--comment-->.xml",
           "tab\tname.xml", "new\nline.xml", "carriage\rreturn.xml", "crlf\r\n.xml",
           "bell\x07.xml", "escape\x1b[31m.xml", "del\x7f.xml", "nel\xc2\x85.xml",
           "bom\xef\xbb\xbf.xml", "nonchar\xef\xbf\xbe.xml", "nonchar\xef\xbf\xbf.xml",
           "latin1-\xe9.xml", "lone\x80.xml", "ff\xff.xml", "overlong\xc0\xaf.xml",
           "overlong\xe0\x80\xaf.xml", "surrogate\xed\xa0\x80.xml", "toobig\xf4\x90\x80\x80.xml",
           "truncated\xe2\x82.xml", "gbk\xb7\xd6\xc5\xe4.xml", "caf\xc3\xa9.xml",
           "\xe4\xb8\xad\xe6\x96\x87.xml", "emoji\xf0\x9f\x98\x80.xml", " leading space.xml",
           "trailing space .xml", "-dash.xml", "percent%d%s%n.xml", "&#0;.xml", "&#x1;.xml",
           "ent&lt;ity.xml", "star*quest?.xml"}) {
    names.push_back(s);
  }
  return names;
}

TEST(HostileNames, TheManifestStaysWellFormedAndListsEveryNameItCanCarry) {
  Folder folder;
  std::vector<std::string> names = HostileNames();
  // Expected source attributes and how each must be treated.
  std::vector<std::pair<std::string, NameClass>> expected;
  int created = 0;
  for (const std::string& name : names) {
    std::string file = folder / name;
    int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << "cannot create " << Printable(name);
    close(fd);
    expected.emplace_back(name, reliability::ClassifyName(name, true));
    ++created;
    // The same name, less ".xml", as a sub-folder.
    std::string dirName = name.substr(0, name.size() - 4) + "_dir";
    if (dirName.size() > 255) continue;
    ASSERT_EQ(mkdir((folder / dirName).c_str(), 0755), 0) << "cannot create " << Printable(dirName);
    expected.emplace_back(dirName + "\\zenter.xml", reliability::ClassifyName(dirName, true));
    ++created;
  }

  ASSERT_EQ(Wait(Start(folder)), 0);
  std::string manifest = folder / "zenter.xml";
  ASSERT_TRUE(WellFormed(manifest)) << "xmllint rejects the manifest";
  std::vector<std::string> sources;
  ASSERT_TRUE(ReadSources(manifest, &sources)) << "libxml2 rejects the manifest";

  std::multiset<std::string> listed(sources.begin(), sources.end());
  int carried = 0, leftOut = 0;
  for (const auto& [source, c] : expected) {
    size_t n = listed.count(source);
    if (c == NameClass::kCarried) {
      EXPECT_EQ(n, 1u) << "not listed exactly once: " << Printable(source);
    } else if (c == NameClass::kLeftOut) {
      EXPECT_EQ(n, 0u) << "listed although XML or the pipeline cannot take it: "
                       << Printable(source);
    } else {
      EXPECT_LE(n, 1u) << Printable(source);
    }
    if (n > 0) {
      ++carried;
      listed.erase(listed.find(source));
    } else {
      ++leftOut;
    }
  }
  for (const std::string& extra : listed) {
    ADD_FAILURE() << "listed, but no such name (changed on the way?): " << Printable(extra);
  }
  std::printf("hostile names tried: %d (listed %d, left out %d)\n", created, carried, leftOut);
  RecordProperty("hostile_names", created);
}

}  // namespace
