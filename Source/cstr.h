// CStr: the framework's owning wide string. Value semantics (copies on assignment), comparison
// with or without letter case, and a writable buffer that can be borrowed with a given capacity
// and released back into the string (for the operations that fill fixed-size wide buffers).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

class CStr {
 public:
  CStr() = default;
  CStr(const wchar_t *text) : text_(text ? text : L"") {}  // NOLINT: implicit by design
  CStr(const std::wstring &text) : text_(text) {}          // NOLINT: implicit by design
  CStr(const CStr &) = default;
  CStr(CStr &&) noexcept = default;
  CStr &operator=(const CStr &) = default;
  CStr &operator=(CStr &&) noexcept = default;
  CStr &operator=(const wchar_t *text);
  ~CStr() = default;

  const wchar_t *c_str() const { return text_.c_str(); }
  const std::wstring &str() const { return text_; }
  size_t Length() const { return text_.size(); }
  bool IsEmpty() const { return text_.empty(); }
  void Empty() { text_.clear(); }

  CStr &operator+=(const CStr &other);
  CStr &operator+=(const wchar_t *text);
  CStr &operator+=(wchar_t c);

  // Exact comparison.
  bool operator==(const CStr &other) const { return text_ == other.text_; }
  bool operator!=(const CStr &other) const { return text_ != other.text_; }
  // Comparison ignoring the letter case of ASCII letters: <0, 0, >0. A null text compares as "".
  int CompareNoCase(const wchar_t *other) const;
  bool EqualsNoCase(const wchar_t *other) const { return CompareNoCase(other) == 0; }

  // Borrows a writable buffer of `capacity` characters (terminator included), keeping the
  // current text at its start and zero-filling the rest. The string is in an unspecified state
  // until ReleaseBuffer, which takes the text up to the first zero (or all `capacity` characters).
  wchar_t *GetBuffer(size_t capacity);
  void ReleaseBuffer();

  // printf-style formatting (wide format; wide string arguments as %ls). Grows as needed.
  static CStr Format(const wchar_t *format, ...);

 private:
  std::wstring text_;
  size_t borrowed_ = 0;  // capacity of the borrowed buffer, 0 when none is out
};

// Formats a wide printf format with its arguments into `out`: first into 1024 characters, then
// 1024 more each time the text does not fit. False (and `out` empty) when the text cannot be
// formatted at all (an encoding error, or more than kMaxFormattedChars characters).
constexpr size_t kMaxFormattedChars = 1u << 22;
bool FormatWideV(std::wstring &out, const wchar_t *format, va_list args);

// ASCII letter folding, the one the framework's case-insensitive comparisons use.
inline wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

// Case-insensitive comparison of two wide texts (ASCII letters folded), null taken as "".
int CompareNoCase(const wchar_t *a, const wchar_t *b);

// Copies `text` with its terminator into `out` only when it fits whole (length below `size`).
// Returns whether it was copied; `out` is untouched otherwise.
bool CopyWhole(wchar_t *out, size_t size, const wchar_t *text);

// Copies at most size - 1 characters of `text` and a terminator into `out` (size 0: nothing).
void CopyTruncated(wchar_t *out, size_t size, const wchar_t *text);
