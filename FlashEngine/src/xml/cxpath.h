// Path queries over the C_XML tree: a narrow subset of XPath location paths.
//
//   /            the document root node (the unnamed node above the document element)
//   /a/b/c       child steps from the root node; a relative path ("a/b") also starts there,
//                where only a first step "*" can match
//   *            any element, wherever a name may stand
//   a[@k]        a step whose node has the attribute k
//   a[@k='v']    ... whose attribute k is exactly v (any delimiter character serves)
//
// A malformed path is not an error: it parses into steps that match nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cxml.h"

// A result collector: Found is told every node that completes the path, in document order, and
// answers true to go on searching, false to stop.
class C_Found {
 public:
  virtual ~C_Found() = default;
  virtual bool Found(C_XML &document, C_XMLNode *node) = 0;
};

// Keeps the first match and stops.
class C_FoundNode : public C_Found {
 public:
  bool Found(C_XML &document, C_XMLNode *found) override;
  C_XMLNode *node = nullptr;
};

// Copies the named attribute of the first match (when it has it) and stops.
class C_FoundFirstAttr : public C_Found {
 public:
  C_FoundFirstAttr(std::string attrName, std::string *output)
      : attr(std::move(attrName)), out(output) {}
  bool Found(C_XML &document, C_XMLNode *node) override;
  std::string attr;
  std::string *out;
  bool found = false;
};

// Notes that something matched and goes on.
class C_FoundPred : public C_Found {
 public:
  bool Found(C_XML &document, C_XMLNode *node) override;
  bool flag = false;
};

class C_XPath {
 public:
  // Step kinds.
  static constexpr int kElement = 4;
  static constexpr int kAttribute = 3;

  class C_Match {
   public:
    explicit C_Match(C_XPath *owner) : xpath(owner) {}
    virtual ~C_Match() = default;
    C_Match(const C_Match &) = delete;
    C_Match &operator=(const C_Match &) = delete;
    virtual bool Match(C_XML &document, C_XMLNode *node) = 0;
    virtual int Kind() = 0;

    C_XPath *xpath;                      // not owned
    std::unique_ptr<C_Match> predicate;  // at most one attribute test
  };

  // The document root node (the one without a parent).
  class C_MatchRoot : public C_Match {
   public:
    using C_Match::C_Match;
    bool Match(C_XML &document, C_XMLNode *node) override;
    int Kind() override { return kElement; }
  };

  // Any node.
  class C_MatchWild : public C_Match {
   public:
    using C_Match::C_Match;
    bool Match(C_XML &document, C_XMLNode *node) override;
    int Kind() override { return kElement; }
  };

  // A node of that name (byte for byte).
  class C_MatchTag : public C_Match {
   public:
    C_MatchTag(C_XPath *owner, std::string tagName) : C_Match(owner), tag(std::move(tagName)) {}
    bool Match(C_XML &document, C_XMLNode *node) override;
    int Kind() override { return kElement; }
    std::string tag;
  };

  // A node that has the attribute.
  class C_MatchAttr : public C_Match {
   public:
    C_MatchAttr(C_XPath *owner, std::string attrName) : C_Match(owner), attr(std::move(attrName)) {}
    bool Match(C_XML &document, C_XMLNode *node) override;
    int Kind() override { return kAttribute; }
    std::string attr;
  };

  // A node whose attribute has exactly that value.
  class C_MatchAttrVal : public C_Match {
   public:
    C_MatchAttrVal(C_XPath *owner, std::string attrName, std::string attrValue)
        : C_Match(owner), attr(std::move(attrName)), value(std::move(attrValue)) {}
    bool Match(C_XML &document, C_XMLNode *node) override;
    int Kind() override { return kAttribute; }
    std::string attr;
    std::string value;
  };

  C_XPath() = default;
  virtual ~C_XPath() = default;
  C_XPath(const C_XPath &) = delete;
  C_XPath &operator=(const C_XPath &) = delete;

  // Builds the step list. Always true: what is not understood yields steps that match nothing.
  bool Parse(const std::string &path);
  // Hands every node that matches the whole path, in document order, to the collector. False
  // when the collector stopped the walk.
  bool Evaluate(C_XML &document, C_Found &collector);

  const std::vector<std::unique_ptr<C_Match>> &Steps() const { return steps; }

 private:
  std::vector<std::unique_ptr<C_Match>> steps;
};
