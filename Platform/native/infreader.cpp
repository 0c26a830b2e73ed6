// The simulated host's INF reader (see tal/infreader.h for what it understands).
#include "tal/infreader.h"

#include <cstring>
#include <cwchar>

#include "tal/platform.h"

namespace tal::os {

namespace {

constexpr wchar_t kCtrlZ = 0x1A;

bool isBlank(wchar_t c) {
  switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

wchar_t fold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

// The character-level reader. Each state consumes characters from `pos` and tells where to go
// on; a state may hand over to another and come back (a small stack), as quotes, blanks,
// continuations and comments interrupt keys and values.
class Parser {
 public:
  enum State {
    kLineStart,
    kSectionName,
    kKey,
    kValue,
    kBackslash,
    kQuotes,
    kLeading,
    kTrailing,
    kComment,
    kStray
  };

  Parser(const wchar_t *begin, const wchar_t *end, std::vector<InfSection> &sections)
      : end_(end), start_(begin), sections_(sections) {}

  InfError run(const wchar_t *pos, unsigned &lineNo) {
    while (pos && error_ == InfError::kNone) pos = step(pos);
    lineNo = line_;
    return error_;
  }

  // The line of the first text met before any section (0: none).
  unsigned strayLine() const { return strayLine_; }

 private:
  // The current state's handler.
  const wchar_t *step(const wchar_t *pos) {
    switch (state_) {
      case kLineStart:
        return lineStart(pos);
      case kSectionName:
        return sectionName(pos);
      case kKey:
        return key(pos);
      case kValue:
        return value(pos);
      case kBackslash:
        return backslash(pos);
      case kQuotes:
        return quotes(pos);
      case kLeading:
        return leading(pos);
      case kTrailing:
        return trailing(pos);
      case kComment:
        return comment(pos);
      case kStray:
        return stray(pos);
    }
    return nullptr;
  }

  bool atEof(const wchar_t *p) const { return p >= end_ || *p == kCtrlZ; }
  bool atEol(const wchar_t *p) const { return atEof(p) || *p == L'\n'; }

  void push(State s) {
    if (depth_ < 4) stack_[depth_++] = s;
  }
  void pop() { state_ = depth_ ? stack_[--depth_] : kLineStart; }
  // Hands over to state `to`, which comes back to `back` when done; reading goes on at `at`.
  const wchar_t *detour(State to, State back, const wchar_t *at) {
    push(back);
    state_ = to;
    return at;
  }

  // Appends the text from the token start up to `pos` to the token (NUL read as a blank).
  void take(const wchar_t *pos) {
    for (const wchar_t *s = start_; s < pos && token_.size() < kMaxInfFieldChars; ++s)
      token_.push_back(*s ? *s : L' ');
    start_ = pos;
  }

  bool addSection() {
    if (token_.size() > kMaxInfSectionNameChars) {
      error_ = InfError::kSectionNameTooLong;
      return false;
    }
    section_ = -1;
    for (size_t i = 0; i < sections_.size(); ++i)
      if (infEqualNoCase(sections_[i].name, token_)) section_ = static_cast<int>(i);
    if (section_ < 0) {
      sections_.push_back(InfSection{token_, {}});
      section_ = static_cast<int>(sections_.size() - 1);
    }
    token_.clear();
    return true;
  }

  bool addField(bool isKey) {
    if (!inLine_) {
      if (section_ < 0) {
        error_ = InfError::kLineOutsideSection;
        return false;
      }
      sections_[section_].lines.emplace_back();
      inLine_ = true;
    }
    InfRawLine &line = sections_[section_].lines.back();
    if (isKey) {
      line.hasKey = true;
      line.key = token_;
    } else {
      line.fields.push_back(token_);
    }
    token_.clear();
    return true;
  }

  void closeLine() {
    if (inLine_) {
      InfRawLine &line = sections_[section_].lines.back();
      if (!line.hasKey && line.fields.size() == 1) {
        line.hasKey = true;
        line.key = line.fields[0];
      }
    }
    inLine_ = false;
  }

  const wchar_t *lineStart(const wchar_t *p) {
    for (; !atEof(p); ++p) {
      if (*p == L'\n') {
        ++line_;
        closeLine();
      } else if (*p == L';') {
        return detour(kComment, kLineStart, p + 1);
      } else if (*p == L'[') {
        start_ = p + 1;
        state_ = kSectionName;
        return p + 1;
      } else if (!isBlank(*p)) {
        if (section_ < 0) {  // text before the first section
          if (!strayLine_) strayLine_ = line_;
          state_ = kStray;
          return p;
        }
        start_ = p;
        state_ = kKey;
        return p;
      }
    }
    closeLine();
    return nullptr;
  }

  // Text before the first section is not read as a line: it is passed over up to a comment, a
  // '[' (which starts a section, even in mid-line and inside quotes) or the end of the line.
  // Whether the file is refused for it is decided once the whole file is read.
  const wchar_t *stray(const wchar_t *p) {
    for (; !atEol(p); ++p) {
      if (*p == L';') {
        return detour(kComment, kLineStart, p + 1);
      }
      if (*p == L'[') {
        start_ = p + 1;
        state_ = kSectionName;
        return p + 1;
      }
    }
    state_ = kLineStart;
    return p;
  }

  const wchar_t *sectionName(const wchar_t *p) {
    for (; !atEol(p); ++p) {
      if (*p == L']') {
        take(p);
        if (!addSection()) return nullptr;
        return detour(kComment, kLineStart, p + 1);  // the rest of the line is ignored
      }
    }
    error_ = InfError::kUnfinishedSection;
    return nullptr;
  }

  const wchar_t *key(const wchar_t *p) { return token(p, kKey); }
  const wchar_t *value(const wchar_t *p) { return token(p, kValue); }

  // A key (self kKey: up to '=' or ',') or a value (self kValue: fields separated by ','). A
  // quote, a backslash or a blank hands over to its own state, which comes back to `self`.
  const wchar_t *token(const wchar_t *p, State self) {
    const bool isKey = self == kKey;
    const wchar_t *tokenEnd = start_;
    for (; !atEol(p); ++p) {
      const wchar_t c = *p;
      if (isKey && c == L',') break;  // no '=': the line is a list of values
      if (c == L';' || (isKey ? c == L'=' : c == L',')) {
        take(tokenEnd);
        if (!addField(c == L'=')) return nullptr;
        if (c == L';') return detour(kComment, kLineStart, p + 1);
        start_ = p + 1;
        return detour(kLeading, kValue, p + 1);
      }
      if (c == L'"') {
        take(p);
        start_ = p + 1;
        return detour(kQuotes, self, p + 1);
      }
      if (c == L'\\') {
        take(tokenEnd);
        start_ = p;
        return detour(kBackslash, self, p);
      }
      if (isBlank(c)) {
        take(p);
        return detour(kTrailing, self, p);
      }
      tokenEnd = p + 1;
    }
    take(tokenEnd);
    if (isKey) {  // the key is the first value
      state_ = kValue;
      return p;
    }
    if (!addField(false)) return nullptr;
    state_ = kLineStart;
    return p;
  }

  // A '\': a continuation when only blanks, more backslashes or a comment follow on the line.
  const wchar_t *backslash(const wchar_t *p) {
    for (; !atEof(p); ++p) {
      if (*p == L'\n') {
        ++line_;
        start_ = p + 1;
        state_ = kLeading;
        return p + 1;
      }
      if (*p == L'\\') continue;
      if (*p == L';') {
        return detour(kComment, kBackslash, p + 1);
      }
      if (isBlank(*p)) continue;
      take(p);  // an ordinary character: the backslash and what followed it are text
      pop();
      return p;
    }
    start_ = p;
    pop();
    return p;
  }

  const wchar_t *quotes(const wchar_t *p) {
    for (; !atEol(p); ++p) {
      if (*p != L'"') continue;
      if (p + 1 < end_ && p[1] == L'"') {  // "" is one quote
        take(p + 1);
        start_ = p + 2;
        ++p;
      } else {
        take(p);
        start_ = p + 1;
        pop();
        return p + 1;
      }
    }
    take(p);  // unterminated: the quote runs to the end of the line
    pop();
    return p;
  }

  const wchar_t *leading(const wchar_t *p) {
    for (; !atEol(p); ++p) {
      if (*p == L'\\') {
        start_ = p;
        state_ = kBackslash;
        return p;
      }
      if (!isBlank(*p)) break;
    }
    start_ = p;
    pop();
    return p;
  }

  const wchar_t *trailing(const wchar_t *p) {
    for (; !atEol(p); ++p) {
      if (*p == L'\\') {
        state_ = kBackslash;
        return p;
      }
      if (!isBlank(*p)) break;
    }
    pop();
    return p;
  }

  const wchar_t *comment(const wchar_t *p) {
    while (!atEol(p)) ++p;
    pop();
    return p;
  }

  const wchar_t *end_;
  const wchar_t *start_;
  std::vector<InfSection> &sections_;
  State state_ = kLineStart;
  State stack_[4] = {};
  int depth_ = 0;
  int section_ = -1;
  bool inLine_ = false;
  unsigned line_ = 1;
  unsigned strayLine_ = 0;
  std::wstring token_;
  InfError error_ = InfError::kNone;
};

std::wstring decodeUtf16(const std::string &bytes, size_t from) {
  std::wstring out;
  out.reserve((bytes.size() - from) / 2);
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    const char32_t unit = static_cast<unsigned char>(bytes[i]) |
                          (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (sizeof(wchar_t) == 4 && unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = static_cast<unsigned char>(bytes[i + 2]) |
                           (static_cast<char32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
        i += 2;
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

bool isWin4Signature(const std::wstring &text) {
  return infEqualNoCase(text, L"$Chicago$") || infEqualNoCase(text, L"$Windows NT$") ||
         infEqualNoCase(text, L"$Windows 95$");
}

}  // namespace

bool infEqualNoCase(const std::wstring &a, const std::wstring &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

const wchar_t *describeInfError(InfError error) {
  switch (error) {
    case InfError::kNone:
      return L"no error";
    case InfError::kUnreadable:
      return L"the file cannot be read";
    case InfError::kEmpty:
      return L"the file is empty";
    case InfError::kTooLarge:
      return L"the file is too large";
    case InfError::kUtf16WithoutBom:
      return L"the file holds NUL bytes without a byte order mark (UTF-16 without BOM?)";
    case InfError::kBigEndian:
      return L"UTF-16 big-endian files are not read";
    case InfError::kLineOutsideSection:
      return L"a line comes before the first section";
    case InfError::kUnfinishedSection:
      return L"a section name has no closing ']'";
    case InfError::kSectionNameTooLong:
      return L"a section name is longer than 255 characters";
    case InfError::kWrongStyle:
      return L"the [Version] Signature is not a Windows 2000 style one";
  }
  return L"unknown error";
}

InfError InfDocument::parse(const std::string &bytes,
                            const std::function<std::wstring(const std::string &)> &ansi,
                            bool requireWin4, InfDocument &out, unsigned *line) {
  out = InfDocument();
  if (line) *line = 0;
  if (bytes.size() > kMaxInfBytes) return InfError::kTooLarge;
  if (bytes.empty()) return InfError::kEmpty;
  std::wstring text;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    text = decodeUtf16(bytes, 2);
  } else if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
    return InfError::kBigEndian;
  } else if (memchr(bytes.data(), 0, bytes.size())) {
    return InfError::kUtf16WithoutBom;
  } else if (bytes.size() > 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    text = fromUtf8(bytes.substr(3));
  } else {
    text = ansi ? ansi(bytes) : fromUtf8(bytes);
  }

  InfDocument doc;
  Parser parser(text.data(), text.data() + text.size(), doc.sections_);
  unsigned at = 0;
  const InfError error = parser.run(text.data(), at);
  if (error != InfError::kNone) {
    if (line) *line = at;
    return error;
  }
  // Text before the first section is forgiven only in a file with a [Strings] section.
  if (parser.strayLine() && !doc.find(L"Strings")) {
    if (line) *line = parser.strayLine();
    return InfError::kLineOutsideSection;
  }
  if (requireWin4) {
    const InfSection *version = doc.find(L"Version");
    bool ok = false;
    if (version) {
      for (const InfRawLine &l : version->lines) {
        if (l.hasKey && infEqualNoCase(l.key, L"Signature")) {
          ok = !l.fields.empty() && isWin4Signature(l.fields[0]);
          break;
        }
      }
    }
    if (!ok) return InfError::kWrongStyle;
  }
  for (size_t i = 0; i < doc.sections_.size(); ++i) {
    if (infEqualNoCase(doc.sections_[i].name, L"Strings")) {
      doc.strings_ = static_cast<int>(i);
      break;
    }
  }
  out = std::move(doc);
  return InfError::kNone;
}

const InfSection *InfDocument::find(const std::wstring &name) const {
  for (const InfSection &s : sections_)
    if (infEqualNoCase(s.name, name)) return &s;
  return nullptr;
}

std::wstring InfDocument::substitute(const std::wstring &raw, const DirIdResolver &dirid) const {
  std::wstring out;
  size_t i = 0;
  while (i < raw.size()) {
    const size_t open = raw.find(L'%', i);
    if (open == std::wstring::npos) break;
    const size_t close = raw.find(L'%', open + 1);
    if (close == std::wstring::npos) break;
    out.append(raw, i, open - i);
    const std::wstring name = raw.substr(open + 1, close - open - 1);
    bool replaced = false;
    if (name.empty()) {
      out.push_back(L'%');
      replaced = true;
    } else if (strings_ >= 0) {
      for (const InfRawLine &l : sections_[strings_].lines) {
        if (!l.hasKey || !infEqualNoCase(l.key, name)) continue;
        if (!l.fields.empty()) {
          out += l.fields[0];
          replaced = true;
        }
        break;
      }
    }
    if (!replaced && dirid) {
      wchar_t *end = nullptr;
      const long id = wcstol(name.c_str(), &end, 10);
      std::wstring folder;
      if (end && *end == 0 && dirid(id, folder)) {
        if (!folder.empty() && folder.back() == L'\\' && close + 1 < raw.size() &&
            raw[close + 1] == L'\\')
          folder.pop_back();
        out += folder;
        replaced = true;
      }
    }
    if (!replaced) out.append(raw, open, close - open + 1);
    i = close + 1;
  }
  out.append(raw, i, std::wstring::npos);
  return out;
}

}  // namespace tal::os
