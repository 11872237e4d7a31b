// The name rule both programs share: which manifest a folder gets and which
// names its two listings keep.
#include <gtest/gtest.h>

#include <string>

#include "rules/manifest_rule.h"

namespace {

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
    EXPECT_EQ(rules::IsDataFolder(c.name), c.dataFolder);
    EXPECT_EQ(rules::ManifestNameFor(c.name), c.dataFolder ? "Mod.xml" : "zenter.xml");
    EXPECT_EQ(rules::IncludesFile(c.name, rules::kZenterManifest), c.file);
    EXPECT_EQ(rules::IncludesSubFolder(c.name), c.subFolder);
  }
  EXPECT_EQ(rules::SubFolderEntry("A & B"), "A & B\\zenter.xml");
  // In a Data folder the manifest is Mod.xml, and a plain zenter.xml is kept.
  EXPECT_FALSE(rules::IncludesFile("Mod.xml", rules::kModManifest));
  EXPECT_TRUE(rules::IncludesFile("zenter.xml", rules::kModManifest));
}

}  // namespace
