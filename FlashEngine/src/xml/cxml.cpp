// The XML document tree: loading through the parser's callbacks, trimming, navigation.
#include "cxml.h"

#include <expat.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <type_traits>

#include "tal/platform.h"
#include "xmllimits.h"

static_assert(std::is_same<XML_Char, char>::value, "the tree needs the parser's 8-bit build");

namespace {

constexpr int kChunkSize = 4096;
constexpr const char kBlanks[] = " \r\n\t";

bool isBlank(const char *data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (std::strchr(kBlanks, data[i]) == nullptr || data[i] == '\0') return false;
  }
  return true;
}

bool isBlank(const std::string &text) { return isBlank(text.data(), text.size()); }

bool trimming(const C_XMLParseState &state) {
  return state.owner != nullptr && state.owner->TrimWhitespace();
}

// Text that precedes a child element, or a CDATA section, is dropped when trimming and it is
// blank and none of it came from a CDATA section.
void emptyBlankText(const C_XMLParseState &state) {
  C_XMLNode &node = *state.current;
  if (trimming(state) && !node.hasCdata && isBlank(node.text)) node.text.clear();
}

// Ends the run of text at a markup event: with trimming on, a run that follows an end tag or the
// end of a CDATA section, lies outside CDATA and is blank as a whole is dropped from the node.
void endRun(C_XMLParseState &state) {
  if (!state.inRun) return;
  state.inRun = false;
  if (state.current == nullptr || !trimming(state) || !state.afterEnd || state.inCdata) return;
  std::string &text = state.current->text;
  if (state.runStart > text.size()) return;
  if (isBlank(text.data() + state.runStart, text.size() - state.runStart)) {
    text.resize(state.runStart);
  }
}

// Runs one callback's body; no exception crosses the parser.
template <typename Body>
void guarded(void *userData, const char *callback, const char *unknownText, Body body) {
  auto *state = static_cast<C_XMLParseState *>(userData);
  if (state == nullptr) return;
  try {
    if (C_XML::callbackProbe != nullptr) C_XML::callbackProbe(callback);
    body(*state);
  } catch (const std::exception &e) {
    state->errorKind = 2;
    state->errorText = e.what();
  } catch (...) {
    state->errorKind = 3;
    state->errorText = unknownText;
  }
}

}  // namespace

void (*C_XML::callbackProbe)(const char *callback) = nullptr;

// ---------------------------------------------------------------------------------------------
// C_XMLNode

C_XMLNode::C_XMLNode(std::string nodeName) : name(std::move(nodeName)) {}

C_XMLNode::~C_XMLNode() { RemoveChildren(); }

void C_XMLNode::RemoveChildren() {
  // Flatten the subtree into one list: each node's children are moved (spliced, no copy) to the
  // end of the pending list before the node itself is destroyed, so every destruction below sees
  // a node without children and the stack depth stays constant.
  std::list<C_XMLNode> pending;
  pending.splice(pending.end(), children);
  while (!pending.empty()) {
    pending.splice(pending.end(), pending.front().children);
    pending.pop_front();
  }
}

C_XMLNode *C_XMLNode::AddChild(const std::string &childName) {
  children.emplace_back(childName);
  C_XMLNode &child = children.back();
  child.parent = this;
  child.self_ = std::prev(children.end());
  child.linked_ = true;
  return &child;
}

void C_XMLNode::AddAttribute(const std::string &attrName, const std::string &value) {
  attributes.emplace_back(attrName, value);
}

// ---------------------------------------------------------------------------------------------
// C_XML

C_XML::C_XML() = default;

C_XML::~C_XML() { Clear(); }

void C_XML::SetTrimWhitespace(bool trim) { trimWhitespace = trim; }

void C_XML::Clear() {
  root.RemoveChildren();
  root.name.clear();
  root.attributes.clear();
  root.text.clear();
  root.hasCdata = false;
  root.parent = nullptr;
}

bool C_XML::Load(const std::string &path) {
  C_XMLParseState state;
  state.owner = this;
  state.current = &root;
  loadError = tal::xml::ParseError();

  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) return false;
  if (!tal::xml::applyParserLimits(parser)) {
    XML_ParserFree(parser);
    return false;
  }
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, &C_XML::startElement, &C_XML::endElement);
  XML_SetCharacterDataHandler(parser, &C_XML::characterData);
  XML_SetCdataSectionHandler(parser, &C_XML::startCdataSection, &C_XML::endCdataSection);

  // Binary mode: the parser sees the file's own bytes (it handles line ends itself, and a text
  // stream on Windows would stop at a 0x1A byte and rewrite CR LF pairs inside UTF-16 text).
  FILE *file = tal::os::sys().openStream(path.c_str(), "rb");
  bool parseError = false;
  bool readError = false;
  for (;;) {
    void *buffer = XML_GetBuffer(parser, kChunkSize);
    if (buffer == nullptr) {
      parseError = true;
      break;
    }
    size_t got = 0;
    if (file != nullptr) {
      got = std::fread(buffer, 1, kChunkSize, file);
      if (got == 0 && std::ferror(file)) readError = true;
    }
    const bool final = got == 0;
    if (XML_ParseBuffer(parser, static_cast<int>(got), final ? 1 : 0) != XML_STATUS_OK) {
      parseError = true;
      if (file != nullptr && !readError && state.errorKind == 0)
        loadError = tal::xml::parseErrorOf(parser);
      break;  // the parser stops at its first error
    }
    if (final) break;
  }
  if (file == nullptr) {
    loadError.text = "cannot be opened";
  } else if (readError) {
    loadError.text = "cannot be read";
  } else if (state.errorKind != 0) {
    loadError.text = "out of memory";
  }
  if (file != nullptr) std::fclose(file);
  XML_ParserFree(parser);
  return !parseError && !readError && state.errorKind == 0;
}

C_XMLNode *C_XML::FirstChild(C_XMLNode *node) {
  if (node == nullptr || node->children.empty()) return nullptr;
  return &node->children.front();
}

C_XMLNode *C_XML::NextSibling(C_XMLNode *node) {
  if (node == nullptr || node->parent == nullptr) return nullptr;
  std::list<C_XMLNode> &siblings = node->parent->children;
  auto here = siblings.begin();
  if (node->linked_) {
    here = node->self_;
  } else {
    while (here != siblings.end() && &*here != node) ++here;
    if (here == siblings.end()) return nullptr;
  }
  auto next = std::next(here);
  return next == siblings.end() ? nullptr : &*next;
}

bool C_XML::GetText(C_XMLNode *node, std::string *out) {
  if (node == nullptr) return false;
  if (out != nullptr && out != &node->text) *out = node->text;
  return true;
}

bool C_XML::GetAttr(C_XMLNode *node, const std::string &attrName, std::string *out) {
  if (node == nullptr) return false;
  for (const auto &attribute : node->attributes) {
    if (attribute.first == attrName) {
      if (out != nullptr) *out = attribute.second;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Parser callbacks

void C_XML::startElement(void *userData, const char *name, const char **attributes) {
  guarded(userData, "startElement", "C_XML::startElement: Unknown exception.",
          [&](C_XMLParseState &state) {
            endRun(state);
            if (state.current == nullptr) return;
            state.afterEnd = false;
            emptyBlankText(state);
            // Build the child completely before making it current, so a failure part-way leaves
            // current where it was.
            C_XMLNode *child = state.current->AddChild(name != nullptr ? name : "");
            for (const char **pair = attributes; pair != nullptr && pair[0] != nullptr; pair += 2) {
              child->AddAttribute(pair[0], pair[1] != nullptr ? pair[1] : "");
            }
            state.current = child;
          });
}

void C_XML::endElement(void *userData, const char *name) {
  guarded(userData, "endElement", "C_XML::endElement: Unknown exception.",
          [&](C_XMLParseState &state) {
            endRun(state);
            if (state.current == nullptr) return;
            if (state.afterEnd) emptyBlankText(state);
            state.afterEnd = true;
            state.current = state.current->parent;
          });
}

void C_XML::characterData(void *userData, const char *data, int length) {
  guarded(userData, "characterData", "C_XML::characterData: Unknown exception.",
          [&](C_XMLParseState &state) {
            if (state.current == nullptr || data == nullptr || length <= 0) return;
            const size_t size = static_cast<size_t>(length);
            if (state.inCdata) state.current->hasCdata = true;
            if (!state.inRun) {
              state.inRun = true;
              state.runStart = state.current->text.size();
            }
            state.current->text.append(data, size);
          });
}

void C_XML::startCdataSection(void *userData) {
  guarded(userData, "startCdataSection", "C_XML::startCdataSection: Unknown exception.",
          [&](C_XMLParseState &state) {
            endRun(state);
            if (state.current != nullptr) emptyBlankText(state);
            state.inCdata = true;
          });
}

void C_XML::endCdataSection(void *userData) {
  guarded(userData, "endCdataSection", "C_XML::endCdataSection: Unknown exception.",
          [&](C_XMLParseState &state) {
            endRun(state);
            state.afterEnd = true;
            state.inCdata = false;
          });
}
