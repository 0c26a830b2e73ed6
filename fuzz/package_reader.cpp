// Fuzz target: the package XML reader on arbitrary bytes (UTF-8, UTF-16, Shift_JIS and whatever
// else the input declares), a walk of the tree it built, the lookups by name and attribute that
// the framework makes, and the package definition and install.xml read from the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "basecomp.h"
#include "scratch_file.h"
#include "talxmlreader.h"

namespace {

// Links are consistent: every child names its parent; text and CDATA nodes have no children.
void Walk(const CTalXMLReader &reader) {
  std::vector<const CTalXMLNode *> pending{reader.GetRoot()};
  while (!pending.empty()) {
    const CTalXMLNode *node = pending.back();
    pending.pop_back();
    if (node->GetKind() == XML_NODE_TEXT && node->GetFirstChild()) __builtin_trap();
    if (node->GetText() && std::wcslen(node->GetText()) != node->GetTextLength()) {
      // An embedded zero can only come from a character reference the parser refuses.
      __builtin_trap();
    }
    for (const CTalXMLNode *child = node->GetFirstChild(); child; child = child->GetNextSibling()) {
      if (child->GetParent() != node) __builtin_trap();
      pending.push_back(child);
    }
  }
}

class Package : public CBaseComponent {};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CTalXMLReader reader;
  const int32_t rc = reader.LoadBuffer(data, size);
  if (rc != 0 && rc != 5) __builtin_trap();
  if (reader.IsLoaded() != (rc == 0)) __builtin_trap();
  Walk(reader);
  const CTalXMLNode *package = reader.FindChild(nullptr, L"tal_package");
  if (package) {
    const CTalXMLNode *name = reader.FindChild(package, L"name");
    if (name) {
      const CTalXMLNode *en = reader.FindChild(name, L"name_xlate", L"lang", L"EN");
      if (en && !XmlEqualsNoCase(en->GetAttribute(L"lang"), L"en")) __builtin_trap();
    }
  } else if (!reader.IsLoaded() && reader.FindChild(nullptr, L"tal_package")) {
    __builtin_trap();
  }

  static const std::string path = fuzzfile::scratchFile("package", ".xml");
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
  const std::wstring wide(path.begin(), path.end());
  Package component;
  component.ReadPackageDefinition(wide.c_str());
  wchar_t out[64];
  for (const wchar_t *lang : {L"en", L"ja", L"xx"}) {
    if (component.GetName(out, 64, lang) && std::wcslen(out) >= 64) __builtin_trap();
    if (component.GetDescription(out, 64, lang) && std::wcslen(out) >= 64) __builtin_trap();
  }
  if (component.GetPackageVersion(out, 64) && std::wcslen(out) >= 64) __builtin_trap();
  component.ReadInstallerXml(wide.c_str());
  component.IsOSSupported();
  return 0;
}
