// The tree's parser runs with the system's own expansion limits, tighter than the parser's
// defaults: a small document whose entities grow to megabytes is refused, one that stays under
// the activation threshold loads.
#include <gtest/gtest.h>

#include <string>

#include "cxml.h"
#include "expanding_xml.h"
#include "xml_files.h"

namespace {

using XmlLimits = XmlFiles;

TEST_F(XmlLimits, ExpansionBeyondTheActivationThresholdIsRefused) {
  for (const ExpansionCase &row : kExpansionCases) {
    C_XML doc;
    EXPECT_EQ(LoadText(doc, ExpandingXml("Devices", row.entity, row.copies)), row.loads)
        << row.entity;
  }
}

}  // namespace
