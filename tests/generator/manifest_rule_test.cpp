// The name rule both programs share: which manifest a folder gets and which
// names its two listings keep.
#include <gtest/gtest.h>

#include <string>

#include "generator/manifest_rule.h"
#include "generator/program_constants.h"

namespace {

TEST(ManifestRule, TheRunsConstantDataSpellsTheSameRule) {
  // The per-folder run takes its patterns from its constant data; the tree
  // tool from the rule. They must never drift apart.
  EXPECT_EQ(gen::kXmlPassPattern, gen::kConstants.xmlPattern);
  EXPECT_EQ(gen::kFolderPassPattern, gen::kConstants.allPattern);
  EXPECT_EQ(gen::kSubFolderSuffix, gen::kConstants.zenterSuffix);
  EXPECT_EQ(gen::kDataSuffix, gen::kConstants.dataSuffix);
  EXPECT_EQ(std::string("\\").append(gen::kModManifest), gen::kConstants.modSuffix);
  EXPECT_EQ(std::string(gen::kSubFolderSuffix), std::string("\\").append(gen::kZenterManifest));
}

TEST(ManifestRule, NamesAndTheManifestTheyGet) {
  struct Case {
    const char* name;
    bool dataFolder;    // for a folder path
    bool file;          // kept by the XML pass of a zenter.xml folder, if it lists it
    bool subFolder;     // kept by the folder pass
  };
  const Case cases[] = {
      {"C:\\Mods\\Data", true, false, false},
      {"MyData", true, false, true},
      {"Data", true, false, true},
      {"data", false, false, true},
      {"DATA", false, false, true},
      {"Database", false, false, true},
      {"Data ", false, false, true},
      {"zenter.xml", false, false, true},
      {"Mod.xml", false, true, true},
      {"a.XmL", false, true, true},
      {".", false, false, false},
      {"..", false, false, false},
      {"...", false, false, true},
      {".hidden", false, false, true},
      {"a\\b.xml", false, false, false},
      // What a Windows listing of *.xml gives by the short alias alone
      // (UNIT~ZRN.XML, GAMEDA~1.XML, NOTES~1.XML) is never included.
      {"Units.xml~", false, false, true},
      {"notes.xmlx", false, false, true},
#ifdef _WIN32
      {"ZENTER.XML", false, false, true},
#else
      {"ZENTER.XML", false, true, true},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(gen::IsDataFolder(c.name), c.dataFolder);
    EXPECT_EQ(gen::ManifestNameFor(c.name), c.dataFolder ? "Mod.xml" : "zenter.xml");
    EXPECT_EQ(gen::IncludesFile(c.name, gen::kZenterManifest), c.file);
    EXPECT_EQ(gen::IncludesSubFolder(c.name), c.subFolder);
  }
  EXPECT_EQ(gen::SubFolderEntry("A & B"), "A & B\\zenter.xml");
  // In a Data folder the manifest is Mod.xml, and a plain zenter.xml is kept.
  EXPECT_FALSE(gen::IncludesFile("Mod.xml", gen::kModManifest));
  EXPECT_TRUE(gen::IncludesFile("zenter.xml", gen::kModManifest));
}

}  // namespace
