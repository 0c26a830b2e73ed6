// The package reader's parser runs with the system's own expansion limits, tighter than the
// parser's defaults: a small document whose entities grow to megabytes is refused (not well
// formed), one that stays under the activation threshold loads.
#include <gtest/gtest.h>

#include <string>

#include "talxmlreader.h"

namespace {

// Under 2 KB of document; each &d; expands to 100,000 bytes.
std::string Expanding(const char *entity, int copies) {
  std::string doc = "<!DOCTYPE r [<!ENTITY a '" + std::string(100, 'x') + "'>";
  doc += "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>";
  doc += "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>";
  doc += "<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]><r>";
  for (int i = 0; i < copies; ++i) doc += std::string("&") + entity + ";";
  return doc + "</r>";
}

TEST(TalXmlReaderLimits, ExpansionBeyondTheActivationThresholdIsRefused) {
  const struct {
    const char *entity;
    int copies;
    int32_t result;
  } rows[] = {
      {"c", 40, 0},  // 400 KB of text: under the threshold
      {"d", 40, 5},  // 4 MB from under 2 KB: refused (the parser's defaults would allow it)
  };
  for (const auto &row : rows) {
    CTalXMLReader reader;
    const std::string doc = Expanding(row.entity, row.copies);
    EXPECT_EQ(reader.LoadBuffer(doc.data(), doc.size()), row.result) << row.entity;
  }
}

}  // namespace
