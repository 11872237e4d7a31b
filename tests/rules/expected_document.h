// What the manifest document must be, made independently of the renderer,
// for the suites of both programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rules/manifest_document.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace tests {

// The document for already rendered source values, built from the fixed
// lines independently of the renderer.
inline std::string Expected(const std::vector<std::string>& sources) {
  std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
  d += "<AssetDeclaration xmlns=\"";
  d += rules::kAssetNamespace;
  d += "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\r\n";
  d += " <Includes>\r\n\r\n";
  d += "  <Include type=\"reference\" source=\"DATA:static.xml\" />\r\n";
  d += "  <Include type=\"reference\" source=\"DATA:global.xml\" />\r\n";
  d += "  <Include type=\"reference\" source=\"DATA:audio.xml\" />\r\n\r\n";
  for (const std::string& s : sources) d += " <Include type=\"all\" source=\"" + s + "\" />\r\n";
  d += "\r\n </Includes>\r\n</AssetDeclaration>\r\n";
  return d;
}

// Every document a test renders goes through xmllint as well.
inline void ExpectWellFormed(const std::string& document) {
#if defined(__linux__)
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("mm_document_" + std::to_string(::getpid()) + ".xml");
  std::ofstream(file, std::ios::binary) << document;
  const std::string command = "/usr/bin/xmllint --noout '" + file.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << document;
  std::filesystem::remove(file);
#else
  (void)document;
#endif
}

}  // namespace tests
