// CTalXMLReader: the framework's package XML reader (the package definition file, install.xml,
// dependency.xml). The base component reads every one of those files through this class.
#pragma once

#include <cstdint>

class CTalXMLReader {
 public:
  CTalXMLReader() = default;
  ~CTalXMLReader() = default;
  CTalXMLReader(const CTalXMLReader &) = delete;
  CTalXMLReader &operator=(const CTalXMLReader &) = delete;

  // 0 loaded, 3 the file cannot be opened, 4 the file cannot be read, 5 not well-formed.
  int32_t LoadFile(const wchar_t *path);
  // The last load succeeded and a document is there.
  bool IsLoaded() const { return loaded_; }
  // The document root has a child element of this name (names compared exactly).
  bool HasRootChild(const wchar_t *name) const;

 private:
  bool loaded_ = false;
};
