// The package XML reader: the tree, the parse callbacks and the Shift_JIS encoding handler.
#include "talxmlreader.h"

#include <expat.h>

#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <type_traits>

#include "tal/platform.h"
#include "xmllimits.h"

static_assert(std::is_same<XML_Char, char>::value, "the reader converts the parser's UTF-8");

using tal::os::fromUtf8;
using tal::os::sys;

// --- text helpers ---

bool XmlIsSpace(wchar_t c) {
  const uint32_t u = static_cast<uint32_t>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 ||
         (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F ||
         u == 0x3000;
}

namespace {

wchar_t FoldLetter(wchar_t c) {
  const uint32_t u = static_cast<uint32_t>(c);
  if (u < 0x80) return (u >= 'A' && u <= 'Z') ? wchar_t(u + 0x20) : c;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return wchar_t(u + 0x20);     // Latin-1
  if (u >= 0x391 && u <= 0x3AB && u != 0x3A2) return wchar_t(u + 0x20);  // Greek
  if (u >= 0x410 && u <= 0x42F) return wchar_t(u + 0x20);                // Cyrillic
  if (u >= 0x400 && u <= 0x40F) return wchar_t(u + 0x50);
  if (u >= 0xFF21 && u <= 0xFF3A) return wchar_t(u + 0x20);  // full-width Latin
  return c;
}

}  // namespace

bool XmlEqualsNoCase(const wchar_t *a, const wchar_t *b) {
  if (!a) a = L"";
  if (!b) b = L"";
  for (; *a && *b; ++a, ++b) {
    if (FoldLetter(*a) != FoldLetter(*b)) return false;
  }
  return *a == *b;
}

int32_t ShiftJisPairToUnicode(unsigned char lead, unsigned char trail) {
  // The system's conversion of each pair, asked once per pair the process meets.
  static std::unique_ptr<int32_t[]> known;
  if (!known) {
    known.reset(new int32_t[65536]);
    for (size_t i = 0; i < 65536; ++i) known[i] = -1;
  }
  int32_t &slot = known[(size_t(lead) << 8) | trail];
  if (slot < 0) {
    const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    std::wstring wide = sys().fromCodePage932(std::string(pair, 2));
    slot = wide.empty() ? 0x30FB : static_cast<int32_t>(static_cast<uint32_t>(wide[0]));
  }
  return slot;
}

// --- CTalXMLNode ---

CTalXMLNode::CTalXMLNode(int32_t kind, const wchar_t *name)
    : kind_(kind), name_(name ? name : L"") {}

CTalXMLNode::~CTalXMLNode() {
  // Children and following siblings go through one list of pending nodes: each is unlinked
  // before it is deleted, so no destructor runs another and the stack depth stays constant.
  std::vector<CTalXMLNode *> pending;
  if (firstChild_) pending.push_back(firstChild_);
  if (nextSibling_) pending.push_back(nextSibling_);
  firstChild_ = nextSibling_ = nullptr;
  while (!pending.empty()) {
    CTalXMLNode *node = pending.back();
    pending.pop_back();
    if (node->firstChild_) pending.push_back(node->firstChild_);
    if (node->nextSibling_) pending.push_back(node->nextSibling_);
    node->firstChild_ = node->nextSibling_ = nullptr;
    delete node;
  }
}

const wchar_t *CTalXMLNode::GetAttribute(const wchar_t *name) const {
  if (!name) return nullptr;
  for (size_t i = 0; i + 1 < attributes_.size(); i += 2) {
    if (attributes_[i] == name) return attributes_[i + 1].c_str();
  }
  return nullptr;
}

CTalXMLNode *CTalXMLNode::FindChild(const wchar_t *name) const {
  if (!name) return nullptr;
  for (CTalXMLNode *child = firstChild_; child; child = child->nextSibling_) {
    if (child->name_ == name) return child;
  }
  return nullptr;
}

void CTalXMLNode::SetText(const wchar_t *chars, size_t count) {
  text_.assign(chars ? chars : L"", chars ? count : 0);
  hasText_ = true;
}

void CTalXMLNode::AppendText(const wchar_t *chars, size_t count) {
  if (chars) text_.append(chars, count);
  hasText_ = true;
}

void CTalXMLNode::SetAttributes(std::vector<std::wstring> nameValuePairs) {
  attributes_ = std::move(nameValuePairs);
}

bool CTalXMLNode::InsertAfter(CTalXMLNode *node, bool force) {
  if (!node || (nextSibling_ && !force)) return false;
  node->nextSibling_ = nextSibling_;
  node->parent_ = parent_;
  nextSibling_ = node;
  return true;
}

bool CTalXMLNode::SetFirstChild(CTalXMLNode *node) {
  if (!node || firstChild_) return false;
  firstChild_ = node;
  node->parent_ = this;
  return true;
}

// --- parsing ---

namespace {

struct ParseState {
  CTalXMLNode *current = nullptr;
  bool acceptText = true;
  bool inCdata = false;
  CTalXMLNode *currentText = nullptr;
  bool firstChunk = false;
  XML_Parser parser = nullptr;
  bool failed = false;
  // Text nodes that could not be linked (their element already had a child): their text goes
  // nowhere, but later pieces may still be appended to them until the parse ends.
  std::vector<std::unique_ptr<CTalXMLNode>> unlinked;
};

// Links a new node under the current one: after its first child, or as its first child.
void LinkUnderCurrent(ParseState &state, CTalXMLNode *node) {
  CTalXMLNode *first = state.current->GetFirstChild();
  if (first) {
    first->InsertAfter(node, true);
  } else {
    state.current->SetFirstChild(node);
  }
}

// Runs one callback's body; an exception (an allocation that failed) stops the parse.
template <typename Body>
void Guarded(void *userData, Body body) {
  auto *state = static_cast<ParseState *>(userData);
  if (!state || state->failed) return;
  try {
    body(*state);
  } catch (...) {
    state->failed = true;
    XML_StopParser(state->parser, XML_FALSE);
  }
}

void XMLCALL OnStartElement(void *userData, const XML_Char *name, const XML_Char **attributes) {
  Guarded(userData, [&](ParseState &state) {
    state.acceptText = true;
    state.firstChunk = true;
    std::unique_ptr<CTalXMLNode> node(new CTalXMLNode(XML_NODE_ELEMENT, fromUtf8(name).c_str()));
    if (attributes && attributes[0]) {
      std::vector<std::wstring> pairs;
      for (const XML_Char **a = attributes; a[0] && a[1]; a += 2) {
        pairs.push_back(fromUtf8(a[0]));
        pairs.push_back(fromUtf8(a[1]));
      }
      node->SetAttributes(std::move(pairs));
    }
    CTalXMLNode *raw = node.release();
    LinkUnderCurrent(state, raw);
    state.current = raw;
  });
}

void XMLCALL OnEndElement(void *userData, const XML_Char *) {
  Guarded(userData, [&](ParseState &state) {
    if (state.current->GetParent()) state.current = state.current->GetParent();
  });
}

void XMLCALL OnCharacterData(void *userData, const XML_Char *chars, int count) {
  Guarded(userData, [&](ParseState &state) {
    if (count <= 0) return;
    const std::wstring piece = fromUtf8(std::string(chars, static_cast<size_t>(count)));
    if (piece.empty()) return;
    if (state.inCdata) {
      state.current->AppendText(piece.data(), piece.size());
      return;
    }
    if (!state.acceptText) return;
    if (state.firstChunk) {
      if (XmlIsSpace(piece[0])) {
        state.acceptText = false;
        return;
      }
      std::unique_ptr<CTalXMLNode> text(new CTalXMLNode(XML_NODE_TEXT, L"#TEXT"));
      text->SetText(piece.data(), piece.size());
      CTalXMLNode *raw = text.get();
      if (state.current->SetFirstChild(raw)) {
        text.release();
      } else {
        state.unlinked.push_back(std::move(text));
      }
      state.currentText = raw;
      state.firstChunk = false;
      return;
    }
    if (XmlIsSpace(piece[0]) || !state.currentText) return;
    state.currentText->AppendText(piece.data(), piece.size());
  });
}

void XMLCALL OnStartCdata(void *userData) {
  Guarded(userData, [&](ParseState &state) {
    state.acceptText = true;
    state.inCdata = true;
    CTalXMLNode *node = new CTalXMLNode(XML_NODE_TEXT, L"#CDATA");
    LinkUnderCurrent(state, node);
    state.current = node;
  });
}

void XMLCALL OnEndCdata(void *userData) {
  Guarded(userData, [&](ParseState &state) {
    state.inCdata = false;
    state.acceptText = false;
    if (state.current->GetParent()) state.current = state.current->GetParent();
  });
}

int XMLCALL ConvertShiftJis(void *, const char *bytes) {
  return ShiftJisPairToUnicode(static_cast<unsigned char>(bytes[0]),
                               static_cast<unsigned char>(bytes[1]));
}

// The parser asks for encodings it does not know itself: Shift_JIS is the one the reader adds.
int XMLCALL OnUnknownEncoding(void *, const XML_Char *name, XML_Encoding *info) {
  static const char kShiftJis[] = "shift_jis";
  if (!name || std::strlen(name) != sizeof kShiftJis - 1) return XML_STATUS_ERROR;
  for (size_t i = 0; kShiftJis[i]; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kShiftJis[i]) return XML_STATUS_ERROR;
  }
  for (int b = 0; b < 256; ++b) {
    int entry;
    if (b <= 0x08 || (b >= 0x10 && b <= 0x1F) || b == 0xFF) {
      entry = -1;
    } else if (b <= 0x7F) {
      entry = b;
    } else if (b <= 0x9F || b >= 0xE0) {
      entry = -2;
    } else {
      entry = 0xFF60 + (b - 0xA0);
    }
    info->map[b] = entry;
  }
  info->data = nullptr;
  info->convert = ConvertShiftJis;
  info->release = nullptr;
  return XML_STATUS_OK;
}

}  // namespace

// --- CTalXMLReader ---

CTalXMLReader::CTalXMLReader() { Reset(); }

CTalXMLReader::~CTalXMLReader() { Clear(); }

void CTalXMLReader::Reset() {
  if (root_) Clear();
  errorText_.clear();
  errorLine_ = errorColumn_ = 0;
  root_ = new CTalXMLNode(XML_NODE_ELEMENT, L"#DOCROOT");
}

void CTalXMLReader::Clear() {
  delete root_;
  root_ = nullptr;
  loaded_ = false;
}

int32_t CTalXMLReader::LoadFile(const wchar_t *path) {
  Reset();
  if (!path) return XML_LOAD_CANNOT_OPEN;
  std::string bytes;
  switch (sys().readExistingFile(path, bytes, kMaxFileBytes)) {
    case tal::os::ReadResult::kCannotOpen:
      errorText_ = "cannot be opened";
      return XML_LOAD_CANNOT_OPEN;
    case tal::os::ReadResult::kCannotRead:
      errorText_ = "cannot be read, or larger than 16 MiB";
      return XML_LOAD_CANNOT_READ;
    case tal::os::ReadResult::kOk:
      break;
  }
  return LoadBuffer(bytes.data(), bytes.size());
}

int32_t CTalXMLReader::LoadBuffer(const void *bytes, size_t length) {
  Reset();
  if ((!bytes && length) || length > kMaxFileBytes) return XML_LOAD_NOT_WELL_FORMED;
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) return XML_LOAD_NOT_WELL_FORMED;
  if (!tal::xml::applyParserLimits(parser)) {
    XML_ParserFree(parser);
    return XML_LOAD_NOT_WELL_FORMED;
  }
  ParseState state;
  state.current = root_;
  state.parser = parser;
  XML_SetUserData(parser, &state);
  XML_SetElementHandler(parser, OnStartElement, OnEndElement);
  XML_SetCharacterDataHandler(parser, OnCharacterData);
  XML_SetCdataSectionHandler(parser, OnStartCdata, OnEndCdata);
  XML_SetUnknownEncodingHandler(parser, OnUnknownEncoding, nullptr);
  const XML_Status status =
      XML_Parse(parser, static_cast<const char *>(bytes), static_cast<int>(length), XML_TRUE);
  if (state.failed) {
    errorText_ = "out of memory";
  } else if (status != XML_STATUS_OK) {
    const tal::xml::ParseError e = tal::xml::parseErrorOf(parser);
    errorText_ = e.text;
    errorLine_ = e.line;
    errorColumn_ = e.column;
  }
  XML_ParserFree(parser);
  loaded_ = status == XML_STATUS_OK && !state.failed;
  return loaded_ ? XML_LOAD_OK : XML_LOAD_NOT_WELL_FORMED;
}

CTalXMLNode *CTalXMLReader::FindChild(const CTalXMLNode *parent, const wchar_t *name,
                                      const wchar_t *attributeName,
                                      const wchar_t *attributeValue) const {
  if (!loaded_ || !root_ || !name) return nullptr;
  if (!parent) parent = root_;
  const bool filtered = attributeName && attributeValue;
  for (CTalXMLNode *child = parent->GetFirstChild(); child; child = child->GetNextSibling()) {
    if (std::wcscmp(child->GetName(), name) != 0) continue;
    if (!filtered) return child;
    const wchar_t *value = child->GetAttribute(attributeName);
    if (value && XmlEqualsNoCase(value, attributeValue)) return child;
  }
  return nullptr;
}
