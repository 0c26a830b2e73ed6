// Fuzz target: C_XML::Load on arbitrary bytes, with and without whitespace trimming, then the
// engine's own queries and a full walk of whatever tree was built (a failed load keeps its
// partial tree, and that tree is queried too).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "cxml.h"
#include "cxpath.h"
#include "scratch_file.h"

namespace {

// Every node reached through FirstChild/NextSibling has the node it came from as its parent,
// and the walk sees exactly the nodes of the child lists.
void Walk(C_XML &doc) {
  std::vector<C_XMLNode *> pending{&doc.Root()};
  std::string text;
  while (!pending.empty()) {
    C_XMLNode *node = pending.back();
    pending.pop_back();
    doc.GetText(node, &text);
    for (const auto &attribute : node->attributes) {
      if (!doc.GetAttr(node, attribute.first, nullptr)) __builtin_trap();
    }
    size_t seen = 0;
    for (C_XMLNode *child = doc.FirstChild(node); child != nullptr;
         child = doc.NextSibling(child)) {
      if (child->parent != node) __builtin_trap();
      pending.push_back(child);
      ++seen;
    }
    if (seen != node->children.size()) __builtin_trap();
  }
}

void Query(C_XML &doc) {
  doc.FindNode("/Devices");
  C_XML::AttrTextPairs pairs;
  doc.FindAttrText("/tal_package/sw_keys/sw_keys_and/sw_key", "name", std::back_inserter(pairs));
  std::string version;
  doc.FindFirstAttr("/tal_package/version", "value", &version);
  pairs.clear();
  const int32_t count = doc.FindAttrText("/*/*", "name", std::back_inserter(pairs));
  if (count < 0 || static_cast<size_t>(count) != pairs.size()) __builtin_trap();
  if ((count > 0) != (doc.FindNode("/*/*") != nullptr)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = fuzzfile::scratchFile("xml_load", ".xml");
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  for (bool trim : {true, false}) {
    C_XML doc;
    doc.SetTrimWhitespace(trim);
    const bool loaded = doc.Load(path);
    if (loaded && doc.FirstChild(&doc.Root()) == nullptr) __builtin_trap();
    Walk(doc);
    Query(doc);
    if (trim) {
      // A second load into the same tree, then Clear on whatever is there.
      doc.Load(path);
      Walk(doc);
      doc.Clear();
      if (doc.FirstChild(&doc.Root()) != nullptr) __builtin_trap();
    }
  }
  return 0;
}
