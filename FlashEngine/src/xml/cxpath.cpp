// Path queries: parsing a path into step matchers, evaluating them over the tree, and the three
// query operations of C_XML built from them.
#include "cxpath.h"

#include <cctype>
#include <deque>

namespace {

// Reads a path one token at a time; blanks (the C white-space classification) are skipped before
// each token, never inside a name or a quoted value.
class PathReader {
 public:
  explicit PathReader(const std::string &path) : text_(path) {}

  // The next token's first character, or -1 at the end of the input.
  int Peek() {
    SkipBlanks();
    return AtEnd() ? -1 : static_cast<unsigned char>(text_[pos_]);
  }
  // Consumes the next token character (nothing at the end of the input).
  void Skip() {
    SkipBlanks();
    if (!AtEnd()) ++pos_;
  }
  // The next token character; a space stands in for it at the end of the input.
  char Take() {
    SkipBlanks();
    return AtEnd() ? ' ' : text_[pos_++];
  }
  // A name: its first character whatever it is, then letters, digits, '_', '-' and '.'.
  std::string Name() {
    std::string name(1, Take());
    while (!AtEnd() && IsNameChar(static_cast<unsigned char>(text_[pos_]))) name += text_[pos_++];
    return name;
  }
  // A quoted value: the delimiter, then everything up to the next delimiter (consumed) or the end.
  std::string Quoted() {
    const char delimiter = Take();
    const size_t end = text_.find(delimiter, pos_);
    std::string value =
        text_.substr(pos_, end == std::string::npos ? std::string::npos : end - pos_);
    pos_ = end == std::string::npos ? text_.size() : end + 1;
    return value;
  }

 private:
  static bool IsNameChar(unsigned char c) {
    return std::isalnum(c) != 0 || c == '_' || c == '-' || c == '.';
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
  }

  const std::string &text_;
  size_t pos_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Step matchers

bool C_XPath::C_MatchRoot::Match(C_XML &, C_XMLNode *node) {
  return node != nullptr && node->parent == nullptr;
}

bool C_XPath::C_MatchWild::Match(C_XML &, C_XMLNode *node) { return node != nullptr; }

bool C_XPath::C_MatchTag::Match(C_XML &, C_XMLNode *node) {
  return node != nullptr && node->name == tag;
}

bool C_XPath::C_MatchAttr::Match(C_XML &document, C_XMLNode *node) {
  return document.GetAttr(node, attr, nullptr);
}

bool C_XPath::C_MatchAttrVal::Match(C_XML &document, C_XMLNode *node) {
  std::string actual;
  return document.GetAttr(node, attr, &actual) && actual == value;
}

// ---------------------------------------------------------------------------------------------
// Collectors

bool C_FoundNode::Found(C_XML &, C_XMLNode *found) {
  node = found;
  return false;
}

bool C_FoundFirstAttr::Found(C_XML &document, C_XMLNode *node) {
  document.GetAttr(node, attr, out);
  found = true;
  return false;
}

bool C_FoundPred::Found(C_XML &, C_XMLNode *) {
  flag = true;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Parsing

bool C_XPath::Parse(const std::string &path) {
  steps.clear();
  PathReader in(path);

  auto readStep = [&]() {
    std::unique_ptr<C_Match> step;
    if (in.Peek() == '*') {
      in.Skip();
      step = std::make_unique<C_MatchWild>(this);
    } else {
      step = std::make_unique<C_MatchTag>(this, in.Name());
    }
    if (in.Peek() == '[') {
      in.Skip();
      in.Skip();  // the place of '@', not checked
      std::string attr = in.Name();
      if (in.Peek() == '=') {
        in.Skip();
        std::string value = in.Quoted();
        step->predicate = std::make_unique<C_MatchAttrVal>(this, std::move(attr), std::move(value));
      } else {
        step->predicate = std::make_unique<C_MatchAttr>(this, std::move(attr));
      }
      in.Skip();  // the place of ']', not checked
    }
    steps.push_back(std::move(step));
  };

  if (in.Peek() == '/') {
    in.Skip();
    steps.push_back(std::make_unique<C_MatchRoot>(this));
    if (in.Peek() == -1) return true;  // "/" alone: the document root node
  }
  readStep();
  while (in.Peek() == '/') {
    in.Skip();
    readStep();
  }
  return true;  // anything after the last step is ignored
}

// ---------------------------------------------------------------------------------------------
// Evaluation
//
// For a step at list position P, a node N and a collector C:
//   - N fails the step: nothing here, keep searching elsewhere;
//   - the step has a predicate: N is skipped unless the predicate's attribute test holds on N;
//   - P was the last step: C is told N (and decides whether to go on);
//   - the next step is an attribute test: it is evaluated on N itself;
//   - the next step is an element test: it is evaluated on each child of N in order, stopping
//     as soon as the collector says so.
// The walk keeps its own stack on the heap instead of recursing, so neither a deep document nor a
// long path can exhaust the thread's stack.

namespace {

enum class Stage {
  kStart,           // match the node, try the predicate
  kAfterPredicate,  // the predicate has been tried
  kAfterTail,       // an attribute step evaluated on the same node has finished
  kNextChild,       // evaluate the next step on the next child
  kAfterChild,      // a child's walk has finished
};

struct Frame {
  Frame(C_XPath::C_Match *s, C_XMLNode *n, size_t p, C_Found *c)
      : step(s), node(n), pos(p), collector(c) {}
  C_XPath::C_Match *step;
  C_XMLNode *node;
  size_t pos;
  C_Found *collector;
  Stage stage = Stage::kStart;
  bool predicateHolds = false;
  std::list<C_XMLNode>::iterator child{};
};

}  // namespace

bool C_XPath::Evaluate(C_XML &document, C_Found &collector) {
  if (steps.empty()) return true;
  // A deque keeps every frame at its address while frames are pushed above it.
  std::deque<Frame> stack;
  stack.emplace_back(steps[0].get(), &document.Root(), 0, &collector);
  bool result = true;  // the answer of the frame that finished last

  auto finish = [&](bool value) {
    result = value;
    stack.pop_back();
  };

  while (!stack.empty()) {
    Frame &frame = stack.back();
    switch (frame.stage) {
      case Stage::kStart:
        if (!frame.step->Match(document, frame.node)) {
          finish(true);
          break;
        }
        // The predicate is an attribute test on N itself: matching it decides. (Walking the rest
        // of the path below N for it as well gave the same results at twice the cost per
        // predicated step, which doubled with every further one.)
        frame.stage = Stage::kAfterPredicate;
        frame.predicateHolds =
            frame.step->predicate == nullptr || frame.step->predicate->Match(document, frame.node);
        [[fallthrough]];
      case Stage::kAfterPredicate: {
        if (!frame.predicateHolds) {
          finish(true);
          break;
        }
        const size_t next = frame.pos + 1;
        if (next >= steps.size()) {
          finish(frame.collector->Found(document, frame.node));
          break;
        }
        C_Match *nextStep = steps[next].get();
        const int kind = nextStep->Kind();
        if (kind == kAttribute) {
          frame.stage = Stage::kAfterTail;
          stack.emplace_back(nextStep, frame.node, next, frame.collector);
        } else if (kind == kElement) {
          frame.stage = Stage::kNextChild;
          frame.child = frame.node->children.begin();
        } else {
          finish(false);
        }
        break;
      }
      case Stage::kAfterTail:
        finish(result);
        break;
      case Stage::kAfterChild:
        if (!result) {
          finish(false);
          break;
        }
        frame.stage = Stage::kNextChild;
        [[fallthrough]];
      case Stage::kNextChild: {
        if (frame.child == frame.node->children.end()) {
          finish(true);
          break;
        }
        C_XMLNode *child = &*frame.child++;
        frame.stage = Stage::kAfterChild;
        stack.emplace_back(steps[frame.pos + 1].get(), child, frame.pos + 1, frame.collector);
        break;
      }
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Query operations

C_XMLNode *C_XML::FindNode(const std::string &path) {
  C_XPath xpath;
  xpath.Parse(path);
  C_FoundNode found;
  xpath.Evaluate(*this, found);
  return found.node;
}

bool C_XML::FindFirstAttr(const std::string &path, const std::string &attrName, std::string *out) {
  C_XPath xpath;
  xpath.Parse(path);
  C_FoundFirstAttr found(attrName, out);
  xpath.Evaluate(*this, found);
  return found.found;
}

int32_t C_XML::FindAttrText(const std::string &path, const std::string &attrName,
                            std::back_insert_iterator<AttrTextPairs> out) {
  class C_FoundAttr : public C_Found {
   public:
    C_FoundAttr(std::back_insert_iterator<AttrTextPairs> output, const std::string &name)
        : out(output), attr(name) {}
    bool Found(C_XML &document, C_XMLNode *node) override {
      std::string value;
      document.GetAttr(node, attr, &value);
      *out++ = std::make_pair(std::move(value), node->text);
      ++count;
      return true;
    }
    std::back_insert_iterator<AttrTextPairs> out;
    const std::string &attr;
    int32_t count = 0;
  };

  C_XPath xpath;
  xpath.Parse(path);
  C_FoundAttr found(out, attrName);
  xpath.Evaluate(*this, found);
  return found.count;
}
