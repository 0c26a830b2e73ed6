// The package XML reader: the tree it builds (child order, the text rules, CDATA), lookups, load
// results, encodings (UTF-16, Shift_JIS as code page 932 whatever the locale) and hostile input.
#include "talxmlreader.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "fake_platform.h"

using tal::os::ScratchDir;

namespace {

// The tree as text: name, attributes in (), text in "", children in [] in list order.
std::wstring Dump(const CTalXMLNode *node) {
  std::wstring out = node->GetName();
  const auto &attributes = node->Attributes();
  if (!attributes.empty()) {
    out += L"(";
    for (size_t i = 0; i + 1 < attributes.size(); i += 2) {
      out += (i ? L"," : L"") + attributes[i] + L"=" + attributes[i + 1];
    }
    out += L")";
  }
  if (node->GetText()) out += L"\"" + std::wstring(node->GetText()) + L"\"";
  if (node->GetFirstChild()) {
    out += L"[";
    for (const CTalXMLNode *c = node->GetFirstChild(); c; c = c->GetNextSibling()) {
      out += (c == node->GetFirstChild() ? L"" : L",") + Dump(c);
    }
    out += L"]";
  }
  return out;
}

std::wstring Load(CTalXMLReader &reader, const std::string &document) {
  int32_t rc = reader.LoadBuffer(document.data(), document.size());
  if (rc != 0) return L"load " + std::to_wstring(rc);
  return Dump(reader.GetRoot()->GetFirstChild());
}

TEST(TalXmlReader, TreeKeepsTheFrameworkTextRules) {
  const struct {
    const char *document;
    const wchar_t *tree;
  } cases[] = {
      // The first child in document order, the later ones reversed.
      {"<a><x/><y/><z/></a>", L"a[x,z,y]"},
      {"<a k='1' j=\"2\">hello</a>", L"a(k=1,j=2)[#TEXT\"hello\"]"},
      // A first piece that begins with white space: no text at all.
      {"<a>  hello</a>", L"a"},
      {"<a>\n<b>x</b>\n</a>", L"a[b[#TEXT\"x\"]]"},
      // A line break is a piece of its own and dropped; so is an indented next line.
      {"<a>one\ntwo</a>", L"a[#TEXT\"onetwo\"]"},
      {"<a>one\n  two</a>", L"a[#TEXT\"one\"]"},
      // A reference is a piece of its own; the blank after it starts the next piece.
      {"<a>A &amp; B</a>", L"a[#TEXT\"A &\"]"},
      {"<a>A&amp;B&#x41;</a>", L"a[#TEXT\"A&BA\"]"},
      {"<a><![CDATA[x y]]></a>", L"a[#CDATA\"x y\"]"},
      {"<a><![CDATA[x]]>tail</a>", L"a[#CDATA\"x\"]"},
      {"<a><![CDATA[]]></a>", L"a[#CDATA]"},
      // Text after a child's end tag goes to the child's text, or nowhere.
      {"<a><b>x</b>y</a>", L"a[b[#TEXT\"xy\"]]"},
      {"<a><b/>y</a>", L"a[b]"},
      // Text, then an element: the text stays first.
      {"<a>t<b/><c/></a>", L"a[#TEXT\"t\",c,b]"},
      {"<a>caf\xC3\xA9 \xE2\x82\xAC</a>", L"a[#TEXT\"caf\u00E9 \u20AC\"]"},
  };
  for (const auto &k : cases) {
    CTalXMLReader reader;
    EXPECT_EQ(Load(reader, k.document), k.tree) << k.document;
  }
}

TEST(TalXmlReader, FindChildFiltersOnAnAttributeIgnoringCase) {
  CTalXMLReader reader;
  const std::string doc =
      "<r><n lang='de'>d</n><n>none</n><n lang='EN'>e</n><n lang='\xC3\x89S'>s</n></r>";
  ASSERT_EQ(reader.LoadBuffer(doc.data(), doc.size()), 0);
  const CTalXMLNode *r = reader.FindChild(nullptr, L"r");
  ASSERT_NE(r, nullptr);
  const struct {
    const wchar_t *value;
    const wchar_t *text;  // null: no match
  } cases[] = {{L"en", L"e"}, {L"De", L"d"}, {L"\u00E9s", L"s"}, {L"fr", nullptr}};
  for (const auto &k : cases) {
    const CTalXMLNode *n = reader.FindChild(r, L"n", L"lang", k.value);
    if (!k.text) {
      EXPECT_EQ(n, nullptr) << k.value;
    } else {
      ASSERT_NE(n, nullptr) << k.value;
      EXPECT_STREQ(n->GetFirstChild()->GetText(), k.text);
    }
  }
  // Without a filter, the first in list order; names are exact.
  EXPECT_STREQ(reader.FindChild(r, L"n")->GetFirstChild()->GetText(), L"d");
  EXPECT_EQ(reader.FindChild(r, L"N"), nullptr);
  EXPECT_EQ(r->FindChild(L"n")->GetAttribute(L"LANG"), nullptr);
  reader.Clear();
  EXPECT_EQ(reader.FindChild(nullptr, L"r"), nullptr);
}

TEST(TalXmlReader, LoadResults) {
  ScratchDir scratch;
  ScratchDir::write(scratch.file("ok.xml"), "<a/>");
  ScratchDir::write(scratch.file("empty.xml"), "");
  ScratchDir::write(scratch.file("broken.xml"), "<a><b></a>");
  ScratchDir::write(scratch.file("latin9.xml"), "<?xml version='1.0' encoding='ISO-8859-15'?><a/>");
  ScratchDir::write(scratch.file("big.xml"),
                    "<a>" + std::string(CTalXMLReader::kMaxFileBytes, 'x') + "</a>");
  ScratchDir::write(scratch.file("folder.xml/inner"), "");
  const struct {
    const wchar_t *path;
    int32_t result;
  } cases[] = {{L"ok.xml", 0},     {L"missing.xml", 3}, {L"folder.xml", 3}, {L"empty.xml", 5},
               {L"broken.xml", 5}, {L"latin9.xml", 5},  {L"big.xml", 4}};
  for (const auto &k : cases) {
    CTalXMLReader reader;
    EXPECT_EQ(reader.LoadFile(k.path), k.result) << k.path;
    EXPECT_EQ(reader.IsLoaded(), k.result == 0) << k.path;
    // A failed load leaves nothing to find.
    if (k.result != 0) {
      EXPECT_EQ(reader.FindChild(nullptr, L"a"), nullptr);
    }
  }
}

TEST(TalXmlReader, Utf16AndShiftJisDocuments) {
  // UTF-16 with a byte order mark.
  const std::u16string text = u"\uFEFF<a>\u65E5\u672C</a>";
  std::string utf16;
  for (char16_t c : text) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  CTalXMLReader reader;
  EXPECT_EQ(Load(reader, utf16), L"a[#TEXT\"\u65E5\u672C\"]");

  // Shift_JIS, the declaration in any letter case: one-byte half-width forms from the byte map,
  // two-byte sequences as code page 932 converts them (its own characters where it differs from
  // plain Shift_JIS), whatever the process locale, which the reader leaves alone.
  const std::string before = std::setlocale(LC_ALL, nullptr);
  const std::string sjis =
      "<?xml version='1.0' encoding='sHiFt_JiS'?>"
      "<\x82\xA0 v='\xB1'>\x82\xA0\x81\x60\x87\x40\xFA\x40\xB1</\x82\xA0>";
  EXPECT_EQ(Load(reader, sjis), L"\u3042(v=\uFF71)[#TEXT\"\u3042\uFF5E\u2460\u2170\uFF71\"]");
  EXPECT_EQ(before, std::setlocale(LC_ALL, nullptr));
  // A byte the map calls invalid, and an encoding the reader does not add, are not well-formed.
  EXPECT_EQ(Load(reader, "<?xml version='1.0' encoding='Shift_JIS'?><a>\xFF</a>"), L"load 5");
  EXPECT_EQ(Load(reader, "<?xml version='1.0' encoding='SJIS'?><a/>"), L"load 5");
}

TEST(TalXmlReader, HostileDocumentsFailCleanlyOrLoad) {
  CTalXMLReader reader;
  // A chain of 200,000 nested internal entities: refused by the parser, never a crash.
  std::string chain = "<!DOCTYPE r [<!ENTITY e0 'x'>";
  for (int i = 1; i < 200000; ++i) {
    chain += "<!ENTITY e" + std::to_string(i) + " '&e" + std::to_string(i - 1) + ";'>";
  }
  chain += "]><r>&e199999;</r>";
  const int32_t rc = reader.LoadBuffer(chain.data(), chain.size());
  EXPECT_TRUE(rc == 0 || rc == 5) << rc;

  // Deep nesting and a long sibling list build and free without recursion.
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<d>";
  for (int i = 0; i < 200000; ++i) deep += "</d>";
  EXPECT_EQ(reader.LoadBuffer(deep.data(), deep.size()), 0);
  std::string wide = "<w>";
  for (int i = 0; i < 200000; ++i) wide += "<s/>";
  wide += "</w>";
  EXPECT_EQ(reader.LoadBuffer(wide.data(), wide.size()), 0);
  // An exponential entity expansion is refused by the parser's amplification limit.
  std::string laughs = "<!DOCTYPE r [<!ENTITY l0 'lollollollollollollollollollol'>";
  for (int i = 1; i < 12; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; ++j) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "'>";
  }
  laughs += "]><r>&l11;</r>";
  EXPECT_EQ(reader.LoadBuffer(laughs.data(), laughs.size()), 5);
}

}  // namespace
