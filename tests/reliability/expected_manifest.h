// The manifest the tool must write for a list of entries, spelled out here
// rather than taken from the renderer, so the tests check it independently.
#pragma once

#include <string>
#include <vector>

namespace reliability {

inline std::string ExpectedManifest(const std::vector<std::string>& entries) {
  std::string d =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<AssetDeclaration xmlns=\"" MODMANIFEST_ASSET_NAMESPACE
      "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n"
      " <Includes>\r\n\r\n"
      "  <Include type=\"reference\" source=\"DATA:static.xml\" />\r\n"
      "  <Include type=\"reference\" source=\"DATA:global.xml\" />\r\n"
      "  <Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n\r\n";
  for (const std::string& e : entries) d += " <Include type=\"all\" source=\"" + e + "\" />\r\n";
  return d + "\r\n </Includes>\r\n</AssetDeclaration>\r\n";
}

}  // namespace reliability
