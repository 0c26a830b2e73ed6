// The document tree: building from the parser's callbacks, trimming, loading, navigation.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "cxml.h"
#include "xml_files.h"

namespace {

using XmlTree = XmlFiles;

// The document element (first child of the root node).
C_XMLNode *Element(C_XML &doc) { return doc.FirstChild(&doc.Root()); }

std::vector<C_XMLNode *> Children(C_XML &doc, C_XMLNode *node) {
  std::vector<C_XMLNode *> out;
  for (C_XMLNode *child = doc.FirstChild(node); child != nullptr; child = doc.NextSibling(child))
    out.push_back(child);
  return out;
}

TEST_F(XmlTree, TrimmingKeepsLeafTextAndDropsIndentation) {
  C_XML leaf;
  ASSERT_TRUE(LoadText(leaf, "<a> x </a>"));
  EXPECT_EQ(Element(leaf)->text, " x ");

  C_XML blankLeaf;
  ASSERT_TRUE(LoadText(blankLeaf, "<a> \t\r\n </a>"));
  EXPECT_EQ(Element(blankLeaf)->text, " \t\n ");  // the parser turns CR LF into LF

  C_XML indented;
  ASSERT_TRUE(LoadText(indented, "<a>\n  <b>1</b>\n  <c>2</c>\n</a>\n"));
  C_XMLNode *a = Element(indented);
  EXPECT_EQ(a->text, "");
  auto kids = Children(indented, a);
  ASSERT_EQ(kids.size(), 2u);
  EXPECT_EQ(kids[0]->name, "b");
  EXPECT_EQ(kids[0]->text, "1");
  EXPECT_EQ(kids[1]->name, "c");
  EXPECT_EQ(kids[1]->text, "2");

  // Deeper indentation, blank text after the last child and before the closing tag.
  C_XML nested;
  ASSERT_TRUE(LoadText(nested, "<a>\r\n\t<b>\r\n\t\t<c> v </c>\r\n\t</b>\r\n\t\r\n</a>"));
  C_XMLNode *b = nested.FirstChild(Element(nested));
  EXPECT_EQ(Element(nested)->text, "");
  EXPECT_EQ(b->text, "");
  EXPECT_EQ(nested.FirstChild(b)->text, " v ");
}

TEST_F(XmlTree, TrimmingKeepsMixedContentAndCdata) {
  C_XML mixed;
  ASSERT_TRUE(LoadText(mixed, "<a>x<b/>y</a>"));
  EXPECT_EQ(Element(mixed)->text, "xy");
  EXPECT_EQ(Children(mixed, Element(mixed)).size(), 1u);

  // Non-blank text after a child is kept with its blanks; blank text after a child is dropped.
  C_XML spaced;
  ASSERT_TRUE(LoadText(spaced, "<a>x <b/> y <c/>  </a>"));
  EXPECT_EQ(Element(spaced)->text, "x  y ");

  C_XML cdata;
  ASSERT_TRUE(LoadText(cdata, "<a><![CDATA[ ]]><b/></a>"));
  EXPECT_EQ(Element(cdata)->text, " ");
  EXPECT_TRUE(Element(cdata)->hasCdata);

  // CDATA text is kept as written, markup characters included; blank text after it is dropped.
  C_XML markup;
  ASSERT_TRUE(LoadText(markup, "<a>\n  <![CDATA[<x>&amp;]]>\n</a>"));
  EXPECT_EQ(Element(markup)->text, "<x>&amp;");

  // An empty CDATA section marks nothing: the blank text before the child still goes.
  C_XML empty;
  ASSERT_TRUE(LoadText(empty, "<a><![CDATA[]]>\n <b/>\n</a>"));
  EXPECT_FALSE(Element(empty)->hasCdata);
  EXPECT_EQ(Element(empty)->text, "");
}

TEST_F(XmlTree, BlanknessIsDecidedOverTheWholeRunOfText) {
  // The parser cuts text at line breaks, references and read edges; the text kept must not
  // depend on where the cuts fall.
  struct Row {
    const char *name;
    std::string body;  // inside <a>...</a>
    std::string text;  // a's text
  };
  const Row rows[] = {
      {"line breaks after a child", "x<b/>  \n  \n y", "x  \n  \n y"},
      {"a reference after a child", "x<b/> \n&#32; y", "x \n  y"},
      {"text after a CDATA section", "<![CDATA[v]]>\n w", "v\n w"},
      {"blank run with a reference after a child", "x<b/>\n &#x20;\n<c/>y", "xy"},
      {"blank run after a CDATA section", "<![CDATA[v]]>\n \n", "v"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    C_XML doc;
    ASSERT_TRUE(LoadText(doc, "<a>" + row.body + "</a>"));
    EXPECT_EQ(Element(doc)->text, row.text);
  }

  // The same run wherever a 4096-byte read edge falls in it.
  const std::string run = "x<b/>" + std::string(6, ' ') + "\n" + std::string(4, ' ') + "y";
  for (size_t pad = 0; pad < 24; ++pad) {
    SCOPED_TRACE(pad);
    const std::string head = "<r><p v='" + std::string(4096 - 20 + pad, 'p') + "'/><a>";
    C_XML doc;
    ASSERT_TRUE(LoadText(doc, head + run + "</a></r>"));
    C_XMLNode *a = doc.NextSibling(doc.FirstChild(Element(doc)));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text, "x" + std::string(6, ' ') + "\n" + std::string(4, ' ') + "y");
  }
}

TEST_F(XmlTree, WithoutTrimmingEveryCharacterStays) {
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, "<a>\n<b/>\n</a>", false));
  EXPECT_EQ(Element(doc)->text, "\n\n");
  EXPECT_FALSE(doc.TrimWhitespace());
}

TEST_F(XmlTree, NamesAttributesAndEntities) {
  C_XML doc;
  ASSERT_TRUE(LoadText(doc,
                       "<?xml version=\"1.0\"?>\n<x:root z=\"1\" a=\" two  words \" m='&lt;&amp;'>"
                       "caf\xC3\xA9 &#x263A;</x:root>"));
  C_XMLNode *root = Element(doc);
  EXPECT_EQ(root->name, "x:root");  // no namespace processing
  ASSERT_EQ(root->attributes.size(), 3u);
  EXPECT_EQ(root->attributes[0].first, "z");
  EXPECT_EQ(root->attributes[1].first, "a");
  EXPECT_EQ(root->attributes[1].second, " two  words ");
  EXPECT_EQ(root->attributes[2].second, "<&");
  EXPECT_EQ(root->text, "caf\xC3\xA9 \xE2\x98\xBA");  // UTF-8 out
  EXPECT_EQ(root->parent, &doc.Root());
  EXPECT_EQ(doc.Root().name, "");
}

TEST_F(XmlTree, EncodingComesFromTheDocument) {
  // UTF-16LE with a byte order mark; U+011A is the byte pair 1A 01, which a text-mode read on
  // Windows would take for the end of the file.
  const std::u16string text = u"\uFEFF<a k=\"\u011A\">\u011A\u0A0D</a>";
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, bytes));
  EXPECT_EQ(Element(doc)->text, "\xC4\x9A\xE0\xA8\x8D");
  std::string value;
  EXPECT_TRUE(doc.GetAttr(Element(doc), "k", &value));
  EXPECT_EQ(value, "\xC4\x9A");

  C_XML latin;
  ASSERT_TRUE(LoadText(latin, "<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE9</a>"));
  EXPECT_EQ(Element(latin)->text, "\xC3\xA9");
}

TEST_F(XmlTree, LargeFileIsFedInChunks) {
  // Texts and a tag straddle the 4096-byte chunk boundaries.
  std::string xml = "<list>";
  for (int i = 0; i < 2000; ++i)
    xml += "<item n=\"" + std::to_string(i) + "\">v" + std::to_string(i) + "</item>\n";
  xml += "</list>";
  ASSERT_GT(xml.size(), 5u * 4096u);
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, xml));
  auto items = Children(doc, Element(doc));
  ASSERT_EQ(items.size(), 2000u);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(items[i]->text, "v" + std::to_string(i));
}

TEST_F(XmlTree, FailedLoadsKeepThePartialTree) {
  C_XML missing;
  EXPECT_FALSE(missing.Load("no_such_file.xml"));
  EXPECT_EQ(missing.FirstChild(&missing.Root()), nullptr);

  C_XML empty;
  EXPECT_FALSE(LoadText(empty, ""));
  EXPECT_EQ(empty.FirstChild(&empty.Root()), nullptr);

  C_XML blank;
  EXPECT_FALSE(LoadText(blank, "  \n"));

  C_XML truncated;
  EXPECT_FALSE(LoadText(truncated, "<a><b>1</b><c>2"));
  C_XMLNode *a = Element(truncated);
  ASSERT_NE(a, nullptr);
  auto kids = Children(truncated, a);
  ASSERT_EQ(kids.size(), 2u);
  EXPECT_EQ(kids[0]->text, "1");
  EXPECT_EQ(kids[1]->text, "2");

  C_XML mismatched;
  EXPECT_FALSE(LoadText(mismatched, "<a><b></a>"));
  ASSERT_NE(Element(mismatched), nullptr);
  EXPECT_EQ(Element(mismatched)->name, "a");

  C_XML twoRoots;
  EXPECT_FALSE(LoadText(twoRoots, "<a/><b/>"));
  EXPECT_EQ(Children(twoRoots, &twoRoots.Root()).size(), 1u);

  C_XML folder;
  EXPECT_FALSE(folder.Load("."));
}

TEST_F(XmlTree, SecondLoadAddsASecondChildOfRoot) {
  C_XML doc;
  doc.SetTrimWhitespace(true);
  ASSERT_TRUE(doc.Load(Write("one.xml", "<one/>")));
  ASSERT_TRUE(doc.Load(Write("two.xml", "<two/>")));
  auto top = Children(doc, &doc.Root());
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0]->name, "one");
  EXPECT_EQ(top[1]->name, "two");

  doc.Clear();
  EXPECT_EQ(doc.FirstChild(&doc.Root()), nullptr);
  ASSERT_TRUE(doc.Load("two.xml"));
  EXPECT_EQ(Element(doc)->name, "two");
}

TEST_F(XmlTree, Navigation) {
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, "<a k=\"v\" K=\"w\" e=\"\"><b/><c>t</c><d/></a>"));
  C_XMLNode *a = Element(doc);
  auto kids = Children(doc, a);
  ASSERT_EQ(kids.size(), 3u);
  EXPECT_EQ(doc.NextSibling(kids[2]), nullptr);
  EXPECT_EQ(doc.FirstChild(kids[0]), nullptr);
  EXPECT_EQ(doc.NextSibling(&doc.Root()), nullptr);
  EXPECT_EQ(doc.NextSibling(nullptr), nullptr);
  EXPECT_EQ(doc.FirstChild(nullptr), nullptr);
  C_XMLNode stray("s");  // claims a parent whose list does not hold it
  stray.parent = a;
  EXPECT_EQ(doc.NextSibling(&stray), nullptr);

  std::string text = "old";
  EXPECT_TRUE(doc.GetText(kids[1], &text));
  EXPECT_EQ(text, "t");
  EXPECT_TRUE(doc.GetText(kids[1], &kids[1]->text));  // its own text: left as it is
  EXPECT_EQ(kids[1]->text, "t");
  EXPECT_TRUE(doc.GetText(kids[1], nullptr));
  EXPECT_FALSE(doc.GetText(nullptr, &text));
  EXPECT_EQ(text, "t");

  std::string value = "old";
  EXPECT_TRUE(doc.GetAttr(a, "k", &value));
  EXPECT_EQ(value, "v");
  EXPECT_TRUE(doc.GetAttr(a, "K", &value));
  EXPECT_EQ(value, "w");
  EXPECT_TRUE(doc.GetAttr(a, "e", &value));
  EXPECT_EQ(value, "");
  value = "old";
  EXPECT_FALSE(doc.GetAttr(a, "kk", &value));
  EXPECT_FALSE(doc.GetAttr(a, "", &value));
  EXPECT_FALSE(doc.GetAttr(kids[0], "k", &value));
  EXPECT_FALSE(doc.GetAttr(nullptr, "k", &value));
  EXPECT_EQ(value, "old");
  EXPECT_TRUE(doc.GetAttr(a, "k", nullptr));
}

TEST_F(XmlTree, ClearResetsTheRoot) {
  C_XML doc;
  ASSERT_TRUE(LoadText(doc, "<a><b><c/></b></a>"));
  doc.Root().text = "x";
  doc.Root().hasCdata = true;
  doc.Root().AddAttribute("n", "v");
  doc.Clear();
  EXPECT_TRUE(doc.Root().children.empty());
  EXPECT_TRUE(doc.Root().attributes.empty());
  EXPECT_EQ(doc.Root().text, "");
  EXPECT_FALSE(doc.Root().hasCdata);
  EXPECT_EQ(doc.Root().parent, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Exceptions inside the callbacks never cross the parser.

struct NotAStandardException {};

const char *g_throwIn = nullptr;
bool g_standard = false;

void ThrowingProbe(const char *callback) {
  if (g_throwIn == nullptr || std::string(callback) != g_throwIn) return;
  if (g_standard) throw std::runtime_error("probe failure");
  throw NotAStandardException{};
}

class XmlCallbackFaults : public XmlFiles {
 protected:
  void SetUp() override {
    XmlFiles::SetUp();
    C_XML::callbackProbe = &ThrowingProbe;
  }
  void TearDown() override {
    C_XML::callbackProbe = nullptr;
    g_throwIn = nullptr;
    XmlFiles::TearDown();
  }
};

TEST_F(XmlCallbackFaults, AnyCallbackFailingFailsTheLoad) {
  for (const char *callback :
       {"startElement", "endElement", "characterData", "startCdataSection", "endCdataSection"}) {
    for (bool standard : {true, false}) {
      g_throwIn = callback;
      g_standard = standard;
      C_XML doc;
      EXPECT_FALSE(LoadText(doc, "<a><b>t<![CDATA[c]]></b></a>")) << callback;
      g_throwIn = nullptr;
      EXPECT_TRUE(doc.Load("doc.xml")) << callback;  // the same document loads once it can
    }
  }
}

TEST_F(XmlCallbackFaults, StateRecordsTheFailure) {
  C_XML doc;
  const char *noAttributes[] = {nullptr};
  const struct {
    const char *callback;
    const char *text;
  } cases[] = {
      {"startElement", "C_XML::startElement: Unknown exception."},
      {"endElement", "C_XML::endElement: Unknown exception."},
      {"characterData", "C_XML::characterData: Unknown exception."},
      {"startCdataSection", "C_XML::startCdataSection: Unknown exception."},
      {"endCdataSection", "C_XML::endCdataSection: Unknown exception."},
  };
  for (const auto &c : cases) {
    for (bool standard : {false, true}) {
      C_XMLParseState state;
      state.owner = &doc;
      state.current = &doc.Root();
      g_throwIn = c.callback;
      g_standard = standard;
      C_XML::startElement(&state, "a", noAttributes);
      C_XML::characterData(&state, "x", 1);
      C_XML::startCdataSection(&state);
      C_XML::endCdataSection(&state);
      C_XML::endElement(&state, "a");
      EXPECT_EQ(state.errorKind, standard ? 2 : 3) << c.callback;
      EXPECT_EQ(state.errorText, standard ? "probe failure" : c.text) << c.callback;
      doc.Clear();
    }
  }

  // A failing startElement leaves current where it was.
  C_XMLParseState state;
  state.owner = &doc;
  state.current = &doc.Root();
  g_throwIn = "startElement";
  C_XML::startElement(&state, "a", noAttributes);
  EXPECT_EQ(state.current, &doc.Root());
}

TEST_F(XmlCallbackFaults, CallbacksIgnoreMissingNodesAndData) {
  C_XML doc;
  C_XMLParseState state;
  state.owner = &doc;
  state.current = nullptr;  // more end tags than start tags were seen
  const char *noAttributes[] = {nullptr};
  C_XML::startElement(&state, "a", noAttributes);
  C_XML::characterData(&state, "x", 1);
  C_XML::startCdataSection(&state);
  C_XML::endCdataSection(&state);
  C_XML::endElement(&state, "a");
  EXPECT_EQ(state.errorKind, 0);
  EXPECT_EQ(state.current, nullptr);

  state.current = &doc.Root();
  C_XML::characterData(&state, nullptr, 3);
  C_XML::characterData(&state, "abc", 0);
  C_XML::characterData(&state, "abc", -1);
  EXPECT_EQ(doc.Root().text, "");
}

}  // namespace
