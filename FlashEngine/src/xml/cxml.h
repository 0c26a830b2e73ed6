// The flash engine's in-memory XML document: a tree of element nodes built from the parser's
// callbacks (8-bit characters, UTF-8 output), with navigation and path queries (cxpath.h).
//
// Strings are byte strings holding what the parser delivers; nothing is converted. Element and
// attribute names are compared byte for byte.
#pragma once

#include <cstdint>
#include <iterator>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "xmlerror.h"

class C_XML;

// One element. A node owns its children (held by value in a list, so every child keeps its
// address until it is removed by C_XML::Clear or the document's destructor).
class C_XMLNode {
 public:
  using Attribute = std::pair<std::string, std::string>;

  explicit C_XMLNode(std::string nodeName = std::string());
  // Destroys the subtree without recursion, so a deeply nested document cannot exhaust the stack.
  ~C_XMLNode();
  C_XMLNode(const C_XMLNode &) = delete;
  C_XMLNode &operator=(const C_XMLNode &) = delete;

  // Appends a child with that name (parent: this node) and returns it.
  C_XMLNode *AddChild(const std::string &childName);
  // Appends one (name, value) pair.
  void AddAttribute(const std::string &attrName, const std::string &value);
  // Removes every child and its subtree, without recursion.
  void RemoveChildren();

  std::string name;
  std::vector<Attribute> attributes;
  std::string text;
  bool hasCdata = false;
  C_XMLNode *parent = nullptr;
  std::list<C_XMLNode> children;

 private:
  friend class C_XML;
  // Where this node sits in its parent's child list (NextSibling in constant time); set by
  // AddChild only (linked_), any other node is looked up in its parent's list.
  std::list<C_XMLNode>::iterator self_;
  bool linked_ = false;
};

// The record handed to the parser as user data during one Load.
struct C_XMLParseState {
  C_XML *owner = nullptr;
  C_XMLNode *current = nullptr;
  bool afterEnd = false;
  bool inCdata = false;
  int32_t errorKind = 0;  // 0 none; 2 a standard exception; 3 any other exception
  std::string errorText;
  // The run of text since the last markup event: whether one is open and where it starts in
  // current's text. The parser cuts a run into pieces wherever it likes (line breaks, references,
  // read edges), so blankness is decided over the whole run, when the next markup event ends it.
  bool inRun = false;
  size_t runStart = 0;
};

class C_XML {
 public:
  using AttrTextPairs = std::vector<std::pair<std::string, std::string>>;

  C_XML();
  C_XML(const C_XML &) = delete;
  C_XML &operator=(const C_XML &) = delete;

  // Virtual operations, in this order: destructor, SetTrimWhitespace, Load, Clear.
  virtual ~C_XML();
  virtual void SetTrimWhitespace(bool trim);
  // Parses the file and adds its document element as a new child of the root node (the tree is
  // not emptied first). False when the file is missing, empty or not well-formed, or a callback
  // failed; the tree keeps whatever was built before the error.
  virtual bool Load(const std::string &path);
  // Removes every node below the root and resets the root.
  virtual void Clear();

  // Navigation.
  C_XMLNode *FirstChild(C_XMLNode *node);
  C_XMLNode *NextSibling(C_XMLNode *node);
  bool GetText(C_XMLNode *node, std::string *out);
  bool GetAttr(C_XMLNode *node, const std::string &attrName, std::string *out);

  // Path queries (cxpath.cpp).
  // The first node matching the path in document order, or null.
  C_XMLNode *FindNode(const std::string &path);
  // True when a node matched; out receives the attribute of the first matching node when that
  // node has it and is left untouched otherwise.
  bool FindFirstAttr(const std::string &path, const std::string &attrName, std::string *out);
  // Appends (attribute value or "", node text) for every matching node in document order and
  // returns the number of matching nodes.
  int32_t FindAttrText(const std::string &path, const std::string &attrName,
                       std::back_insert_iterator<AttrTextPairs> out);

  // Why the last Load failed (line 0 when there is no parser position: the file is missing or
  // unreadable, or a callback failed); empty after a load that succeeded.
  const tal::xml::ParseError &LoadError() const { return loadError; }

  // The unnamed node above the document element.
  C_XMLNode &Root() { return root; }
  bool TrimWhitespace() const { return trimWhitespace; }

  // Parser callbacks; userData is the C_XMLParseState of the running Load.
  static void startElement(void *userData, const char *name, const char **attributes);
  static void endElement(void *userData, const char *name);
  static void characterData(void *userData, const char *data, int length);
  static void startCdataSection(void *userData);
  static void endCdataSection(void *userData);

  // Test seam: when set, called first inside every callback's exception guard with the
  // callback's name ("startElement", ...), so a test can make a callback throw.
  static void (*callbackProbe)(const char *callback);

 protected:
  C_XMLNode root;
  bool trimWhitespace = false;
  tal::xml::ParseError loadError;
};
