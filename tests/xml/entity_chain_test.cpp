// A Config.xml whose one text is a chain of 200,000 nested internal entities: the parser either
// refuses it or expands it, and the tree loads or fails cleanly; it never takes the process down
// (the parser without its security fixes recursed once per entity and overflowed the stack).
#include <gtest/gtest.h>

#include <string>

#include "cxml.h"
#include "xml_files.h"

namespace {

using XmlEntities = XmlFiles;

TEST_F(XmlEntities, AChainOfNestedEntitiesFailsCleanlyOrLoads) {
  std::string chain = "<!DOCTYPE Devices [<!ENTITY e0 'x'>";
  for (int i = 1; i < 200000; ++i) {
    chain += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
  }
  chain += "]><Devices><Device name='&e199999;'/>&e199999;</Devices>";
  C_XML doc;
  if (LoadText(doc, chain)) {
    ASSERT_NE(doc.FindNode("/Devices/Device"), nullptr);
    std::string name;
    EXPECT_TRUE(doc.GetAttr(doc.FindNode("/Devices/Device"), "name", &name));
    EXPECT_EQ(name, "x");
  }
}

}  // namespace
