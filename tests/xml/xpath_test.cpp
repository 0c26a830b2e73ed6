// Path queries: the grammar as parsed, the step matchers, the collectors and the walk order.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cxml.h"
#include "cxpath.h"
#include "xml_files.h"

namespace {

using Pairs = C_XML::AttrTextPairs;

class XPathQueries : public XmlFiles {
 protected:
  void SetUp() override {
    XmlFiles::SetUp();
    ASSERT_TRUE(LoadText(doc,
                         "<a>\n"
                         "  <b k=\"x\" n=\"1\">first</b>\n"
                         "  <c k=\"x\"/>\n"
                         "  <b n=\"2\">second</b>\n"
                         "  <b k=\"x y\" n=\"3\"><d>deep</d></b>\n"
                         "  <b k=\"x\" n=\"4\"><d>deeper</d></b>\n"
                         "</a>\n"));
  }

  // The n attribute of each node the path matches, in order.
  std::string Ns(const std::string &path) { return Found(path, "n"); }
  // The text of each node the path matches, in order.
  std::string Texts(const std::string &path) { return Found(path, ""); }
  // What FindAttrText gives for each node the path matches, comma-separated: the attribute's
  // value, or the node's text when no attribute is named.
  std::string Found(const std::string &path, const std::string &attribute) {
    Pairs pairs;
    doc.FindAttrText(path, attribute, std::back_inserter(pairs));
    std::string out;
    for (size_t i = 0; i < pairs.size(); ++i) {
      out += (i == 0 ? "" : ",") + (attribute.empty() ? pairs[i].second : pairs[i].first);
    }
    return out;
  }
  C_XMLNode *A() { return doc.FirstChild(&doc.Root()); }

  C_XML doc;
};

TEST_F(XPathQueries, RootAbsoluteAndRelative) {
  EXPECT_EQ(doc.FindNode("/"), &doc.Root());
  EXPECT_EQ(doc.FindNode("  /  "), &doc.Root());
  EXPECT_EQ(doc.FindNode("/a"), A());
  EXPECT_EQ(doc.FindNode("a"), nullptr);  // relative paths start at the unnamed root node
  EXPECT_EQ(doc.FindNode("*/a"), A());
  EXPECT_EQ(doc.FindNode("*"), &doc.Root());
  EXPECT_EQ(doc.FindNode("/*"), A());
  EXPECT_EQ(doc.FindNode("/x"), nullptr);
  EXPECT_EQ(doc.FindNode("/A"), nullptr);  // names are case-sensitive
  EXPECT_EQ(Ns("/a/b"), "1,2,3,4");
  EXPECT_EQ(doc.FindNode("/a/b"), doc.FirstChild(A()));
  EXPECT_EQ(Texts("/a/*"), "first,,second,,");
  EXPECT_EQ(Texts("/a/*/d"), "deep,deeper");
  EXPECT_EQ(Texts("/*/*/*"), "deep,deeper");
  EXPECT_EQ(Texts("*/*/b/d"), "deep,deeper");
}

TEST_F(XPathQueries, Predicates) {
  EXPECT_EQ(Ns("/a/b[@k='x']"), "1,4");
  EXPECT_EQ(Ns("/a/b[@k=\"x y\"]"), "3");
  EXPECT_EQ(Ns("/a/b[@k]"), "1,3,4");
  EXPECT_EQ(Ns("/a/*[@k='x']"), "1,,4");  // c has k but no n: an empty first string
  EXPECT_EQ(Ns("/a/b[@k='']"), "");
  EXPECT_EQ(Ns("/a/b[@K='x']"), "");
  EXPECT_EQ(Ns("/a/b[@k='X']"), "");
  EXPECT_EQ(Ns("/a/b[@n=|2|]"), "2");  // any delimiter serves
  EXPECT_EQ(Ns("/a/b[@n='2"), "2");    // an unclosed value runs to the end
  EXPECT_EQ(Ns("/a/b[#n='2')"), "2");  // the characters around the test are not checked
  // A predicate on an inner step: only b elements that have it and have a d below.
  EXPECT_EQ(Texts("/a/b[@k='x']/d"), "deeper");
  EXPECT_EQ(Texts("/a/b[@n]/d"), "deep,deeper");
  EXPECT_EQ(Texts("/a/b[@zz]/d"), "");
  EXPECT_EQ(Texts("/*[@k]/b"), "");
  EXPECT_EQ(doc.FindNode("/a[@k]"), nullptr);
}

TEST_F(XPathQueries, BlanksBetweenTokens) {
  EXPECT_EQ(Ns(" / a / b "), "1,2,3,4");
  EXPECT_EQ(Ns("/a/b [ @ k = 'x' ] "), "1,4");
  EXPECT_EQ(Ns("/a/b[@k=' x']"), "");  // blanks inside a value are part of it
  EXPECT_EQ(Ns("/a/b[@k='x y']"), "3");
  EXPECT_EQ(Ns("\t/a\n/\r*[@n='4']"), "4");
}

TEST_F(XPathQueries, MalformedPathsMatchNothing) {
  for (const char *path : {"", " ", "/a/", "//a", "/a//b", "/a/b/", "[", "/[@k]", "/a/b[", "@",
                           "/\xC3\xA9", "a/b", "/a/b/c/d/e"}) {
    EXPECT_EQ(doc.FindNode(path), nullptr) << path;
    std::string out = "untouched";
    EXPECT_FALSE(doc.FindFirstAttr(path, "n", &out)) << path;
    EXPECT_EQ(out, "untouched");
    Pairs pairs;
    EXPECT_EQ(doc.FindAttrText(path, "n", std::back_inserter(pairs)), 0) << path;
    EXPECT_TRUE(pairs.empty()) << path;
  }
  // The rest of a path after what is understood is ignored.
  EXPECT_EQ(doc.FindNode("/a:b"), A());
  EXPECT_EQ(Ns("/a/b)c"), "1,2,3,4");
  EXPECT_EQ(Ns("/a/b[@k='x'][@n='4']"), "1,4");  // a second predicate ends the path
  EXPECT_EQ(doc.FindNode("/*a"), A());
}

TEST_F(XPathQueries, FindFirstAttr) {
  std::string out = "untouched";
  EXPECT_TRUE(doc.FindFirstAttr("/a/b", "n", &out));
  EXPECT_EQ(out, "1");

  out = "untouched";
  EXPECT_TRUE(doc.FindFirstAttr("/a/*", "n", &out));
  EXPECT_EQ(out, "1");
  out = "untouched";
  EXPECT_TRUE(doc.FindFirstAttr("/a/b", "k", &out));
  EXPECT_EQ(out, "x");
  out = "untouched";
  EXPECT_TRUE(doc.FindFirstAttr("/a/b[@n='2']", "k", &out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(doc.FindFirstAttr("/a", "n", &out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(doc.FindFirstAttr("/a", "n", nullptr));
  EXPECT_FALSE(doc.FindFirstAttr("/a/x", "n", &out));

  // The first match lacks the attribute and a later one has it: true, output unchanged.
  C_XML later;
  ASSERT_TRUE(LoadText(later, "<r><i/><i v=\"1\"/></r>"));
  out = "untouched";
  EXPECT_TRUE(later.FindFirstAttr("/r/i", "v", &out));
  EXPECT_EQ(out, "untouched");
  EXPECT_TRUE(later.FindFirstAttr("/r/i[@v]", "v", &out));
  EXPECT_EQ(out, "1");
}

TEST_F(XPathQueries, FindAttrTextAppendsOnePairPerMatch) {
  Pairs pairs{{"kept", "kept"}};
  EXPECT_EQ(doc.FindAttrText("/a/b", "k", std::back_inserter(pairs)), 4);
  const Pairs expected{{"kept", "kept"}, {"x", "first"}, {"", "second"}, {"x y", ""}, {"x", ""}};
  EXPECT_EQ(pairs, expected);
  EXPECT_EQ(doc.FindAttrText("/", "k", std::back_inserter(pairs)), 1);
  EXPECT_EQ(pairs.back(), std::make_pair(std::string(), std::string()));
}

TEST_F(XPathQueries, ParseBuildsTheStepList) {
  C_XPath xpath;
  EXPECT_TRUE(xpath.Parse("/ab_c-1.x/*[@k='v']/n[@m]"));
  const auto &steps = xpath.Steps();
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_NE(dynamic_cast<C_XPath::C_MatchRoot *>(steps[0].get()), nullptr);
  auto *tag = dynamic_cast<C_XPath::C_MatchTag *>(steps[1].get());
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->tag, "ab_c-1.x");
  EXPECT_EQ(tag->predicate, nullptr);
  EXPECT_NE(dynamic_cast<C_XPath::C_MatchWild *>(steps[2].get()), nullptr);
  auto *value = dynamic_cast<C_XPath::C_MatchAttrVal *>(steps[2]->predicate.get());
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->attr, "k");
  EXPECT_EQ(value->value, "v");
  EXPECT_EQ(value->Kind(), C_XPath::kAttribute);
  auto *attr = dynamic_cast<C_XPath::C_MatchAttr *>(steps[3]->predicate.get());
  ASSERT_NE(attr, nullptr);
  EXPECT_EQ(attr->attr, "m");
  for (const auto &step : steps) {
    EXPECT_EQ(step->Kind(), C_XPath::kElement);
    EXPECT_EQ(step->xpath, &xpath);
  }

  // "//" is a step named "/" and what follows; the empty path is one step named " ".
  ASSERT_TRUE(xpath.Parse("//a"));
  ASSERT_EQ(xpath.Steps().size(), 2u);
  EXPECT_EQ(dynamic_cast<C_XPath::C_MatchTag &>(*xpath.Steps()[1]).tag, "/a");
  ASSERT_TRUE(xpath.Parse(""));
  ASSERT_EQ(xpath.Steps().size(), 1u);
  EXPECT_EQ(dynamic_cast<C_XPath::C_MatchTag &>(*xpath.Steps()[0]).tag, " ");
}

// A collector that records every node and stops after a given number.
class Recorder : public C_Found {
 public:
  explicit Recorder(size_t stopAfter) : limit(stopAfter) {}
  bool Found(C_XML &, C_XMLNode *node) override {
    seen.push_back(node);
    return seen.size() < limit;
  }
  size_t limit;
  std::vector<C_XMLNode *> seen;
};

TEST_F(XPathQueries, EvaluateStopsWhenTheCollectorSaysSo) {
  C_XPath xpath;
  xpath.Parse("/a/b/d");
  Recorder all(100);
  EXPECT_TRUE(xpath.Evaluate(doc, all));
  ASSERT_EQ(all.seen.size(), 2u);
  EXPECT_EQ(all.seen[0]->text, "deep");
  Recorder one(1);
  EXPECT_FALSE(xpath.Evaluate(doc, one));
  EXPECT_EQ(one.seen.size(), 1u);

  // With a predicate on an inner step the collector still sees each match once.
  xpath.Parse("/a/b[@n]/d");
  Recorder predicate(100);
  EXPECT_TRUE(xpath.Evaluate(doc, predicate));
  EXPECT_EQ(predicate.seen.size(), 2u);
}

TEST_F(XPathQueries, QueriesOnAPartialTree) {
  C_XML partial;
  EXPECT_FALSE(LoadText(partial, "<Devices><Device><t>1</t></Device><kzxml>"));
  EXPECT_NE(partial.FindNode("/Devices/kzxml"), nullptr);
  Pairs pairs;
  EXPECT_EQ(partial.FindAttrText("/Devices/Device/t", "x", std::back_inserter(pairs)), 1);
  EXPECT_EQ(pairs[0].second, "1");
  C_XML empty;
  EXPECT_EQ(empty.FindNode("/"), &empty.Root());
  EXPECT_EQ(empty.FindNode("/*"), nullptr);
}

}  // namespace
