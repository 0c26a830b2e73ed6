// A small XML document whose entities grow large: under 2 KB of text, each &d; expands to
// 100,000 bytes and each &c; to 10,000. The readers' expansion limits are checked with it.
#pragma once

#include <string>

inline std::string ExpandingXml(const std::string &root, const char *entity, int copies) {
  std::string doc = "<!DOCTYPE " + root + " [<!ENTITY a '" + std::string(100, 'x') + "'>";
  doc += "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>";
  doc += "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>";
  doc += "<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]><" + root + ">";
  for (int i = 0; i < copies; ++i) doc += std::string("&") + entity + ";";
  return doc + "</" + root + ">";
}
