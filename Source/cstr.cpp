#include "cstr.h"

#include <cwchar>
#include <vector>

CStr &CStr::operator=(const wchar_t *text) {
  text_ = text ? text : L"";
  return *this;
}

CStr &CStr::operator+=(const CStr &other) {
  text_ += other.text_;
  return *this;
}

CStr &CStr::operator+=(const wchar_t *text) {
  if (text) text_ += text;
  return *this;
}

CStr &CStr::operator+=(wchar_t c) {
  text_ += c;
  return *this;
}

int CStr::CompareNoCase(const wchar_t *other) const { return ::CompareNoCase(c_str(), other); }

wchar_t *CStr::GetBuffer(size_t capacity) {
  if (capacity == 0) capacity = 1;
  if (text_.size() >= capacity) text_.resize(capacity - 1);
  text_.resize(capacity, L'\0');  // the std::wstring keeps one more zero after these
  borrowed_ = capacity;
  return &text_[0];
}

void CStr::ReleaseBuffer() {
  if (borrowed_ == 0) return;
  size_t length = 0;
  while (length < borrowed_ && text_[length] != L'\0') ++length;
  text_.resize(length);
  borrowed_ = 0;
}

CStr CStr::Format(const wchar_t *format, ...) {
  CStr result;
  va_list args;
  va_start(args, format);
  FormatWideV(result.text_, format, args);
  va_end(args);
  return result;
}

bool FormatWideV(std::wstring &out, const wchar_t *format, va_list args) {
  out.clear();
  if (!format) return false;
  std::vector<wchar_t> buffer;
  // 1024 more characters each round; past 64K the step doubles, so that a text that can never
  // be formatted (an encoding error gives -1 at any size) is given up quickly.
  for (size_t size = 1024; size <= kMaxFormattedChars; size += (size < 65536 ? 1024 : size)) {
    buffer.assign(size, L'\0');
    va_list copy;
    va_copy(copy, args);
    int written = std::vswprintf(buffer.data(), size, format, copy);
    va_end(copy);
    // Some runtimes answer -1 when the text does not fit, others the length it would need.
    if (written >= 0 && static_cast<size_t>(written) < size) {
      out.assign(buffer.data(), static_cast<size_t>(written));
      return true;
    }
  }
  return false;
}

int CompareNoCase(const wchar_t *a, const wchar_t *b) {
  if (!a) a = L"";
  if (!b) b = L"";
  for (;; ++a, ++b) {
    wchar_t ca = FoldAscii(*a), cb = FoldAscii(*b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == L'\0') return 0;
  }
}

bool CopyWhole(wchar_t *out, size_t size, const wchar_t *text) {
  if (!out || !text) return false;
  size_t length = std::wcslen(text);
  if (length >= size) return false;
  std::wmemcpy(out, text, length + 1);
  return true;
}

void CopyTruncated(wchar_t *out, size_t size, const wchar_t *text) {
  if (!out || size == 0) return;
  if (!text) text = L"";
  size_t length = std::wcslen(text);
  if (length > size - 1) length = size - 1;
  std::wmemcpy(out, text, length);
  out[length] = L'\0';
}
