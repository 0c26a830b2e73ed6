// The INF reader of the simulated Windows host: reads an INF file the way the system's setup
// library reads it, so that the native build sees the same sections, lines, keys and fields.
//
// What it understands:
//  - encodings: UTF-16 little-endian with its byte order mark, UTF-8 with its byte order mark,
//    otherwise the ANSI code page (given by the caller). UTF-16 without a byte order mark, a
//    big-endian byte order mark and text with NUL bytes are refused;
//  - text before the first section is passed over up to a ';' comment, a '[' (a section starts
//    there, even in mid-line) or the end of its line; the file is then refused unless it has a
//    section named [Strings] (any case, anywhere);
//  - "[name]" section lines (the name is the text between '[' and the first ']', blanks kept;
//    the rest of the line is ignored; sections of the same name, ignoring case, are merged);
//  - lines "key = field, field, ..." and "field, field, ..." (a line with a single field and no
//    '=' has that field as its key too);
//  - blanks around keys and fields are dropped, blanks inside kept;
//  - double quotes: the text between them is taken as it is (',', ';', '=' and blanks included;
//    "" inside quotes is one quote); quotes may cover part of a field;
//  - ';' starts a comment that runs to the end of the line;
//  - a '\' that is followed only by blanks (and a comment) up to the end of the line continues
//    the line on the next one; any other '\' is an ordinary character;
//  - Ctrl-Z ends the file; a field is at most 511 characters (longer text is dropped, as the
//    setup library does); a section name of more than 255 characters makes the file unreadable;
//  - %key% is replaced by the value of "key" in [Strings] (key compared ignoring case), %% by
//    one '%'; %number% is a directory id (its folder); an unknown %key% stays as written.
//    Replacement happens when a text is read (substitute), not when the file is parsed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tal::os {

struct InfRawLine {
  bool hasKey = false;
  std::wstring key;                  // raw text (no %key% replacement)
  std::vector<std::wstring> fields;  // raw text
};

struct InfSection {
  std::wstring name;
  std::vector<InfRawLine> lines;
};

enum class InfError {
  kNone = 0,
  kUnreadable,          // the file cannot be read
  kTooLarge,            // more than kMaxInfBytes
  kUtf16WithoutBom,     // NUL bytes without a byte order mark (UTF-16 without BOM, or binary)
  kBigEndian,           // a UTF-16 big-endian byte order mark
  kLineOutsideSection,  // text before the first section, and no [Strings] section
  kUnfinishedSection,   // '[' without ']' on its line
  kSectionNameTooLong,  // more than 255 characters
  kWrongStyle,          // [Version] Signature is not $Chicago$, $Windows NT$ or $Windows 95$
  kEmpty,               // the file has no bytes at all
};

// Text of an error, for log lines.
const wchar_t *describeInfError(InfError error);

constexpr size_t kMaxInfBytes = 64u << 20;
constexpr size_t kMaxInfFieldChars = 511;
constexpr size_t kMaxInfSectionNameChars = 255;

class InfDocument {
 public:
  // Parses the bytes of an INF file. `ansi` converts text without a byte order mark (the ANSI
  // code page). `requireWin4` refuses a file whose [Version] Signature is not one of the three
  // the setup library accepts. On failure `out` is left empty and `line` (when given) receives
  // the line number of the fault (0 when it has none).
  static InfError parse(const std::string &bytes,
                        const std::function<std::wstring(const std::string &)> &ansi,
                        bool requireWin4, InfDocument &out, unsigned *line = nullptr);

  const std::vector<InfSection> &sections() const { return sections_; }
  // The section of that name, ignoring case; null when there is none.
  const InfSection *find(const std::wstring &name) const;
  // The text with %key% replaced from [Strings]; a %number% that [Strings] does not name is a
  // directory id, replaced by `dirid` when it knows the id (a trailing '\\' of the folder is
  // dropped when a '\\' follows in the text).
  using DirIdResolver = std::function<bool(long id, std::wstring &folder)>;
  std::wstring substitute(const std::wstring &raw, const DirIdResolver &dirid = nullptr) const;

 private:
  std::vector<InfSection> sections_;
  int strings_ = -1;
};

// ASCII-folded comparison (the reader's notion of "ignoring case").
bool infEqualNoCase(const std::wstring &a, const std::wstring &b);

}  // namespace tal::os
