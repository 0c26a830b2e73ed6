// The package reader's parser runs with the system's own expansion limits, tighter than the
// parser's defaults: a small document whose entities grow to megabytes is refused (not well
// formed), one that stays under the activation threshold loads.
#include <gtest/gtest.h>

#include <string>

#include "expanding_xml.h"
#include "talxmlreader.h"

namespace {

TEST(TalXmlReaderLimits, ExpansionBeyondTheActivationThresholdIsRefused) {
  for (const ExpansionCase &row : kExpansionCases) {
    CTalXMLReader reader;
    const std::string doc = ExpandingXml("r", row.entity, row.copies);
    EXPECT_EQ(reader.LoadBuffer(doc.data(), doc.size()), row.loads ? 0 : 5) << row.entity;
  }
}

}  // namespace
