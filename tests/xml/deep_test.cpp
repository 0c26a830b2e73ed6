// Hostile shapes: deep nesting and long sibling lists must not exhaust the stack or take
// quadratic time in loading, navigation, queries, Clear or destruction.
#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <memory>
#include <string>

#include "cxml.h"
#include "cxpath.h"
#include "xml_files.h"

namespace {

constexpr int kDepth = 100000;

using XmlDeep = XmlFiles;

std::string Nested(int depth) {
  std::string xml;
  xml.reserve(static_cast<size_t>(depth) * 8 + 16);
  for (int i = 0; i < depth; ++i) xml += "<e>";
  xml += "bottom";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  return xml;
}

TEST_F(XmlDeep, DeeplyNestedDocument) {
  auto doc = std::make_unique<C_XML>();
  ASSERT_TRUE(LoadText(*doc, Nested(kDepth)));

  // A path as deep as the document reaches the bottom without recursing per step.
  std::string path;
  path.reserve(kDepth * 2);
  for (int i = 0; i < kDepth; ++i) path += "/e";
  C_XMLNode *bottom = doc->FindNode(path);
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->text, "bottom");
  EXPECT_EQ(doc->FindNode(path + "/e"), nullptr);
  C_XML::AttrTextPairs pairs;
  EXPECT_EQ(doc->FindAttrText(path, "a", std::back_inserter(pairs)), 1);

  // Clear and then the destructor, each on a full deep tree.
  doc->Clear();
  EXPECT_EQ(doc->FirstChild(&doc->Root()), nullptr);
  ASSERT_TRUE(doc->Load("doc.xml"));
  doc.reset();
}

TEST_F(XmlDeep, DeepPredicatesOnInnerSteps) {
  // Every element carries the attribute, so each predicate's walk completes the path.
  std::string xml;
  const int depth = 20000;
  for (int i = 0; i < depth; ++i) xml += "<e a=\"1\">";
  for (int i = 0; i < depth; ++i) xml += "</e>";
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, xml));
  std::string path = "/e[@a]";
  for (int i = 1; i < depth; ++i) path += "/e";
  C_XMLNode *found = doc.FindNode(path);
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->children.empty());
}

TEST_F(XmlDeep, LongSiblingList) {
  std::string xml = "<r>";
  for (int i = 0; i < kDepth; ++i) xml += "<s/>";
  xml += "<last/></r>";
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, xml));
  int count = 0;
  C_XMLNode *node = doc.FirstChild(doc.FirstChild(&doc.Root()));
  for (; node != nullptr && doc.NextSibling(node) != nullptr; node = doc.NextSibling(node)) ++count;
  EXPECT_EQ(count, kDepth);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->name, "last");
  EXPECT_NE(doc.FindNode("/r/last"), nullptr);
  C_XML::AttrTextPairs pairs;
  EXPECT_EQ(doc.FindAttrText("/r/s", "x", std::back_inserter(pairs)), kDepth);
}

TEST_F(XmlDeep, EveryStepPredicatedCostsOneWalk) {
  // 28 nested elements, each with the attribute the path tests at every step: one walk, not one
  // per combination of predicates (which would take seconds here, hours at 40).
  constexpr int kSteps = 28;
  std::string xml, path;
  for (int i = 0; i < kSteps; ++i) xml += "<e k='v'>";
  xml += "bottom";
  for (int i = 0; i < kSteps; ++i) xml += "</e>";
  for (int i = 0; i < kSteps; ++i) path += "/e[@k='v']";
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, xml));
  const auto start = std::chrono::steady_clock::now();
  C_XMLNode *bottom = doc.FindNode(path);
  C_XML::AttrTextPairs pairs;
  EXPECT_EQ(doc.FindAttrText(path, "k", std::back_inserter(pairs)), 1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->text, "bottom");
  EXPECT_LT(elapsed, std::chrono::seconds(1));
  // A predicate that fails at the last step finds nothing.
  EXPECT_EQ(doc.FindNode(path.substr(0, path.size() - 10) + "/e[@k='w']"), nullptr);
}

}  // namespace
