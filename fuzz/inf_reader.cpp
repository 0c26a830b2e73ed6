// Fuzz target: the simulated host's INF reader. Arbitrary bytes are parsed (with and without the
// Windows 2000 style check); every key and field of a file that is read must keep the reader's
// limits, and reading them with %key% and directory-id replacement must stay bounded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tal/codepage.h"
#include "tal/infreader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string bytes(reinterpret_cast<const char *>(data), size);
  // Text without a byte order mark reads in code page 1252, as the simulated host reads it.
  const auto ansi = [](const std::string &b) { return tal::os::decodeCodePage(b, 1252); };
  const auto dirid = [](long id, std::wstring &folder) {
    if (id == -1) {  // an absolute path follows: the empty folder
      folder.clear();
      return true;
    }
    if (id != 11) return false;
    folder = L"C:\\Windows\\system32\\";
    return true;
  };
  for (bool win4 : {false, true}) {
    tal::os::InfDocument doc;
    unsigned line = 0;
    if (tal::os::InfDocument::parse(bytes, ansi, win4, doc, &line) != tal::os::InfError::kNone) {
      if (!doc.sections().empty()) __builtin_trap();  // a refused file leaves nothing behind
      continue;
    }
    for (const tal::os::InfSection &section : doc.sections()) {
      if (section.name.size() > tal::os::kMaxInfSectionNameChars) __builtin_trap();
      if (doc.find(section.name) == nullptr) __builtin_trap();
      for (const tal::os::InfRawLine &l : section.lines) {
        if (l.key.size() > tal::os::kMaxInfFieldChars) __builtin_trap();
        if (!l.hasKey && l.fields.size() == 1) __builtin_trap();  // one field is its own key
        for (const std::wstring &f : l.fields) {
          if (f.size() > tal::os::kMaxInfFieldChars) __builtin_trap();
          // Replacement only ever inserts a [Strings] value (at most one field) per %...% pair.
          const std::wstring read = doc.substitute(f, dirid);
          if (read.size() > f.size() * (tal::os::kMaxInfFieldChars + 32) + 32) __builtin_trap();
        }
      }
    }
  }
  return 0;
}
