// Fuzz target: parse an arbitrary path and evaluate it with the three query operations and a
// recording collector, checking that they agree with each other and that every node found
// matches the path step by step (its chain of ancestors from the root node, each step's test and
// predicate). Input: the path, and optionally a zero byte followed by a document to query
// (loaded with trimming when the byte after the zero is odd); otherwise a small fixed document.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "cxml.h"
#include "cxpath.h"
#include "scratch_file.h"

namespace {

const char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Devices>\n"
    "  <Device kind=\"e\" name=\"card\">\n"
    "    <type>1</type>\n"
    "    <name> Card A </name>\n"
    "    <payload>card_a.bin</payload>\n"
    "    <version>0102</version>\n"
    "  </Device>\n"
    "  <Device kind=\"i\" name=\"\"><type>1</type><name>Plane</name><payload/><version/></Device>\n"
    "  <kzxml><name>kz_package</name></kzxml>\n"
    "  <x:ns a=\"1\" b='two words'>mixed<i/>text<![CDATA[ <raw> ]]></x:ns>\n"
    "  <tal_package><sw_keys><sw_keys_and><sw_key name=\"k1\"/><sw_key/></sw_keys_and>"
    "</sw_keys><version value=\"1.2\"/></tal_package>\n"
    "</Devices>\n";

// Records every node it is told about.
class Recorder : public C_Found {
 public:
  bool Found(C_XML &, C_XMLNode *node) override {
    nodes.push_back(node);
    return true;
  }
  std::vector<C_XMLNode *> nodes;
};

C_XML *Document() {
  static C_XML *doc = [] {
    const std::string path = fuzzfile::scratchFile("xpath", ".xml");
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) __builtin_trap();
    std::fwrite(kDocument, 1, sizeof kDocument - 1, file);
    std::fclose(file);
    auto *loaded = new C_XML;
    loaded->SetTrimWhitespace(true);
    if (!loaded->Load(path)) __builtin_trap();
    std::remove(path.c_str());
    return loaded;
  }();
  return doc;
}

// The fuzzer's own document, loaded from a file of this process.
C_XML *OwnDocument(const char *bytes, size_t size) {
  static const std::string path = fuzzfile::scratchFile("xpath_doc", ".xml");
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) __builtin_trap();
  if (size > 1) std::fwrite(bytes + 1, 1, size - 1, file);
  std::fclose(file);
  auto *doc = new C_XML;
  doc->SetTrimWhitespace(size > 0 && (bytes[0] & 1));
  doc->Load(path);  // a document that fails to load is queried as far as it was built
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const void *zero = std::memchr(data, 0, size);
  const size_t pathLength =
      zero ? static_cast<size_t>(static_cast<const uint8_t *>(zero) - data) : size;
  std::unique_ptr<C_XML> own;
  if (zero) own.reset(OwnDocument(text + pathLength + 1, size - pathLength - 1));
  C_XML &doc = own ? *own : *Document();
  const std::string path(text, pathLength);

  C_XPath xpath;
  if (!xpath.Parse(path) || xpath.Steps().empty()) __builtin_trap();
  Recorder all;
  if (!xpath.Evaluate(doc, all)) __builtin_trap();  // the recorder never stops the walk

  // Each node found answers the path: its chain from the root node has one node per step, and
  // each node passes its step's test and predicate.
  for (C_XMLNode *node : all.nodes) {
    std::vector<C_XMLNode *> chain;
    for (C_XMLNode *n = node; n != nullptr; n = n->parent) chain.insert(chain.begin(), n);
    if (chain.front() != &doc.Root() || chain.size() != xpath.Steps().size()) __builtin_trap();
    for (size_t i = 0; i < chain.size(); ++i) {
      C_XPath::C_Match &step = *xpath.Steps()[i];
      if (!step.Match(doc, chain[i])) __builtin_trap();
      if (step.predicate && !step.predicate->Match(doc, chain[i])) __builtin_trap();
    }
  }

  C_XMLNode *first = doc.FindNode(path);
  if (first != (all.nodes.empty() ? nullptr : all.nodes.front())) __builtin_trap();

  std::string value = "\x01untouched";
  const bool any = doc.FindFirstAttr(path, "name", &value);
  if (any != (first != nullptr)) __builtin_trap();
  std::string expected = "\x01untouched";
  if (first != nullptr) doc.GetAttr(first, "name", &expected);
  if (value != expected) __builtin_trap();

  C_XML::AttrTextPairs pairs;
  const int32_t count = doc.FindAttrText(path, "name", std::back_inserter(pairs));
  if (count < 0 || static_cast<size_t>(count) != all.nodes.size() ||
      pairs.size() != all.nodes.size())
    __builtin_trap();
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (pairs[i].second != all.nodes[i]->text) __builtin_trap();
  }
  return 0;
}
