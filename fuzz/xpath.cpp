// Fuzz target: parse an arbitrary path and evaluate it over a small fixed document with the
// three query operations and a recording collector, checking that they agree with each other.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "cxml.h"
#include "cxpath.h"

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
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tal_fuzz_xpath_" + std::to_string(getpid()) + ".xml"))
                                 .string();
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  C_XML &doc = *Document();
  const std::string path(reinterpret_cast<const char *>(data), size);

  C_XPath xpath;
  if (!xpath.Parse(path) || xpath.Steps().empty()) __builtin_trap();
  Recorder all;
  if (!xpath.Evaluate(doc, all)) __builtin_trap();  // the recorder never stops the walk

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
