// Placeholder until the package XML reader lands: no file can be loaded, so no package definition
// file qualifies and install.xml and dependency.xml count as absent.
#include "talxmlreader.h"

int32_t CTalXMLReader::LoadFile(const wchar_t *) {
  loaded_ = false;
  return 3;
}

bool CTalXMLReader::HasRootChild(const wchar_t *) const { return false; }
