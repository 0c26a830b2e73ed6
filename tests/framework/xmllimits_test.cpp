// The package reader's parser runs with the system's own expansion limits, tighter than the
// parser's defaults: a small document whose entities grow to megabytes is refused (not well
// formed), one that stays under the activation threshold loads.
#include <gtest/gtest.h>

#include <string>

#include "expanding_xml.h"
#include "talxmlreader.h"

namespace {

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
    const std::string doc = ExpandingXml("r", row.entity, row.copies);
    EXPECT_EQ(reader.LoadBuffer(doc.data(), doc.size()), row.result) << row.entity;
  }
}

}  // namespace
