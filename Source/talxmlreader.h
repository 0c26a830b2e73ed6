// CTalXMLReader: the framework's package XML reader (the package definition file, install.xml,
// dependency.xml). It loads a whole file, parses it in one pass and keeps a tree of CTalXMLNode:
// element nodes, text nodes "#TEXT" and CDATA nodes "#CDATA" under a document node "#DOCROOT".
//
// The tree keeps the framework's long-standing reading rules, which every component built on the
// framework shares, so that one package file means the same to all of them:
//  - a new child is linked right after its parent's first child: the list holds the first child
//    in document order, then the others in reverse document order (x, y, z gives x, z, y);
//  - an element's text is kept only when its first piece of character data does not begin with
//    white space, and it is always the element's first child; a later piece that begins with
//    white space is dropped whole (a line break inside a text, a line that begins with blanks,
//    the blank after a reference);
//  - text after a child's end tag goes to the child's text node, or nowhere when the child had
//    none; text after a CDATA section is ignored.
// Wide strings are UTF-16 on Windows and UTF-32 natively, converted from the parser's UTF-8.
// Documents in UTF-8, UTF-16 (with a byte order mark or declaration), ISO-8859-1, US-ASCII and
// Shift_JIS (the Japanese code page 932) load; any other declared encoding is not well-formed.
// Nothing here depends on or changes the process locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum TalXmlNodeKind : int32_t {
  XML_NODE_NONE = -1,
  XML_NODE_ELEMENT = 0,  // elements and the document node
  XML_NODE_TEXT = 1,     // "#TEXT" and "#CDATA"
};

class CTalXMLNode {
 public:
  explicit CTalXMLNode(int32_t kind = XML_NODE_NONE, const wchar_t *name = nullptr);
  // Destroys the children and the following siblings too (iteratively: no depth limit).
  virtual ~CTalXMLNode();
  CTalXMLNode(const CTalXMLNode &) = delete;
  CTalXMLNode &operator=(const CTalXMLNode &) = delete;

  const wchar_t *GetName() const { return name_.c_str(); }
  int32_t GetKind() const { return kind_; }
  // The node's text; null when it has none.
  const wchar_t *GetText() const { return hasText_ ? text_.c_str() : nullptr; }
  size_t GetTextLength() const { return text_.size(); }
  CTalXMLNode *GetFirstChild() const { return firstChild_; }
  CTalXMLNode *GetNextSibling() const { return nextSibling_; }
  CTalXMLNode *GetParent() const { return parent_; }

  // The value of the first attribute of this name (exact comparison), or null.
  const wchar_t *GetAttribute(const wchar_t *name) const;
  // The first child in list order whose name equals `name` exactly ("#TEXT" and "#CDATA" too).
  CTalXMLNode *FindChild(const wchar_t *name) const;

  // Replaces the text with exactly `count` characters; appends `count` characters.
  void SetText(const wchar_t *chars, size_t count);
  void AppendText(const wchar_t *chars, size_t count);
  // Attributes as name, value, name, value, ...
  void SetAttributes(std::vector<std::wstring> nameValuePairs);
  const std::vector<std::wstring> &Attributes() const { return attributes_; }
  // Links `node` right after this one, with this node's parent. When this node already has a
  // next sibling only with `force` (the old one then follows `node`). Whether linked.
  bool InsertAfter(CTalXMLNode *node, bool force);
  // Makes `node` the first child, only when there is none yet. Whether linked.
  bool SetFirstChild(CTalXMLNode *node);

 private:
  int32_t kind_;
  std::wstring name_;
  std::vector<std::wstring> attributes_;
  std::wstring text_;
  bool hasText_ = false;
  CTalXMLNode *nextSibling_ = nullptr;  // owned
  CTalXMLNode *firstChild_ = nullptr;   // owned
  CTalXMLNode *parent_ = nullptr;
};

// Load results.
enum TalXmlLoadResult : int32_t {
  XML_LOAD_OK = 0,
  XML_LOAD_CANNOT_OPEN = 3,
  XML_LOAD_CANNOT_READ = 4,
  XML_LOAD_NOT_WELL_FORMED = 5,
};

class CTalXMLReader {
 public:
  // A file larger than this is not read (result 4): package files are a few kilobytes.
  static constexpr size_t kMaxFileBytes = 16u << 20;

  CTalXMLReader();
  virtual ~CTalXMLReader();
  CTalXMLReader(const CTalXMLReader &) = delete;
  CTalXMLReader &operator=(const CTalXMLReader &) = delete;

  // Discards the tree and starts a new, empty document node.
  void Reset();
  // Destroys the tree; nothing is loaded afterwards.
  void Clear();
  // 0 loaded, 3 the file cannot be opened, 4 it cannot be read (or is too large), 5 not
  // well-formed (or in an encoding the reader does not know).
  int32_t LoadFile(const wchar_t *path);
  // 0 loaded, 5 not well-formed.
  int32_t LoadBuffer(const void *bytes, size_t length);

  CTalXMLNode *GetRoot() const { return root_; }
  // Why the last load failed: the parser's line, column and error name (line 0 when the file
  // could not be read or a callback failed). Empty after a load that succeeded.
  const std::string &GetErrorText() const { return errorText_; }
  unsigned long GetErrorLine() const { return errorLine_; }
  unsigned long GetErrorColumn() const { return errorColumn_; }
  bool IsLoaded() const { return loaded_; }
  // The first child (list order) of `parent` (of the document node when null) named `name`
  // exactly; with both attribute name and value, only a child that has the attribute with that
  // value, letters compared ignoring case. Null when none or nothing is loaded.
  CTalXMLNode *FindChild(const CTalXMLNode *parent, const wchar_t *name,
                         const wchar_t *attributeName = nullptr,
                         const wchar_t *attributeValue = nullptr) const;

 private:
  CTalXMLNode *root_ = nullptr;  // owned
  bool loaded_ = false;
  std::string errorText_;
  unsigned long errorLine_ = 0;
  unsigned long errorColumn_ = 0;
};

// Letter-case-insensitive equality of two wide texts, independent of the process locale: ASCII,
// Latin-1, Greek, Cyrillic and the full-width Latin letters fold to lower case.
bool XmlEqualsNoCase(const wchar_t *a, const wchar_t *b);
// White space as the reader's text rules test the first character of a piece of text: the
// Unicode white-space characters, independent of the process locale.
bool XmlIsSpace(wchar_t c);
// The character a two-byte Shift_JIS sequence stands for (code page 932); U+30FB for a sequence
// the code page does not define.
int32_t ShiftJisPairToUnicode(unsigned char lead, unsigned char trail);
