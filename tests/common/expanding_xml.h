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

// Documents on either side of the readers' activation threshold, and whether a reader loads each.
struct ExpansionCase {
  const char *entity;
  int copies;
  bool loads;
};
inline const ExpansionCase kExpansionCases[] = {
    {"c", 40, true},   // 400 KB of text: under the threshold
    {"d", 40, false},  // 4 MB from under 2 KB: refused (the parser's defaults would allow it)
};
