// The parts of the seam that do not depend on the operating system: which platform is current,
// UTF-8 conversion, the command-line form, and Windows-style file-name patterns.
#include "tal/platform.h"

#include <cwctype>

#include "backend.h"

namespace tal::os {

namespace {

Platform *g_current = nullptr;

constexpr char32_t kReplacement = 0xFFFD;

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Appends one code point as wide characters (a surrogate pair where wchar_t is 16 bits).
void appendCodePoint(std::wstring &out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(cp));
}

void appendUtf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

wchar_t foldCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c - L'A' + L'a');
  if (c < 0x80) return c;
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

bool matchWildcards(const std::wstring &name, const std::wstring &pattern) {
  size_t n = 0, p = 0;
  size_t starP = std::wstring::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == L'?' || foldCase(pattern[p]) == foldCase(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::wstring::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

void appendQuoted(std::wstring &out, const std::wstring &arg) {
  out.push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
}

}  // namespace

Platform &defaultPlatform() { return detail::builtinPlatform(); }

Platform &sys() { return g_current ? *g_current : defaultPlatform(); }

void setPlatform(Platform *platform) { g_current = platform; }

std::string toUtf8(const std::wstring &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      cp &= 0xFFFF;
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
    appendUtf8(out, cp);
  }
  return out;
}

std::wstring fromUtf8(const std::string &text) {
  std::wstring out;
  out.reserve(text.size());
  const size_t size = text.size();
  size_t i = 0;
  while (i < size) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<wchar_t>(lead));
      ++i;
      continue;
    }
    size_t extra = 0;
    char32_t cp = 0, minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      out.push_back(static_cast<wchar_t>(kReplacement));
      ++i;
      continue;
    }
    size_t taken = 1;
    while (taken <= extra && i + taken < size &&
           (static_cast<unsigned char>(text[i + taken]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + taken]) & 0x3F);
      ++taken;
    }
    if (taken != extra + 1 || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      // A broken sequence: one replacement for the bytes looked at, and go on after them.
      out.push_back(static_cast<wchar_t>(kReplacement));
      i += taken;
      continue;
    }
    appendCodePoint(out, cp);
    i += taken;
  }
  return out;
}

std::wstring joinCommandLine(const std::vector<std::wstring> &args) {
  std::wstring out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring &arg = args[i];
    if (i) out.push_back(L' ');
    const bool needsQuotes = arg.empty() || arg.find_first_of(L" \t\n\v\"") != std::wstring::npos;
    if (!needsQuotes) {
      out += arg;
    } else if (i == 0) {
      // The program name takes no escapes: it runs to its closing quote.
      out += L'"' + arg + L'"';
    } else {
      appendQuoted(out, arg);
    }
  }
  return out;
}

std::vector<std::wstring> splitCommandLine(const std::wstring &line) {
  std::vector<std::wstring> args;
  size_t i = 0;
  const size_t size = line.size();
  if (size == 0) return args;
  // The program: up to the closing quote, or up to the first blank.
  std::wstring program;
  if (line[0] == L'"') {
    i = 1;
    while (i < size && line[i] != L'"') program.push_back(line[i++]);
    if (i < size) ++i;
  } else {
    while (i < size && !isBlank(line[i])) program.push_back(line[i++]);
  }
  args.push_back(program);
  while (i < size && isBlank(line[i])) ++i;
  // The other arguments, with the runtime's backslash and quote rules.
  while (i < size) {
    std::wstring arg;
    int quotes = 0;  // 1 while inside quotes
    size_t backslashes = 0;
    while (i < size) {
      const wchar_t c = line[i];
      if (isBlank(c) && quotes == 0) break;
      if (c == L'\\') {
        arg.push_back(c);
        ++backslashes;
        ++i;
        continue;
      }
      if (c == L'"') {
        if (backslashes % 2 == 0) {
          arg.erase(arg.size() - backslashes / 2);
          ++quotes;
        } else {
          arg.erase(arg.size() - backslashes / 2 - 1);
          arg.push_back(L'"');
        }
        backslashes = 0;
        ++i;
        while (i < size && line[i] == L'"') {
          if (++quotes == 3) {
            arg.push_back(L'"');
            quotes = 0;
          }
          ++i;
        }
        if (quotes == 2) quotes = 0;
        continue;
      }
      arg.push_back(c);
      backslashes = 0;
      ++i;
    }
    args.push_back(arg);
    while (i < size && isBlank(line[i])) ++i;
  }
  return args;
}

bool matchesPattern(const std::wstring &name, const std::wstring &pattern) {
  if (matchWildcards(name, pattern)) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, L".*") == 0 &&
      name.find(L'.') == std::wstring::npos) {
    return matchWildcards(name, pattern.substr(0, pattern.size() - 2));
  }
  return false;
}

const char *folderTrustText(FolderTrust trust) {
  switch (trust) {
    case FolderTrust::kTrusted:
      return "can be trusted";
    case FolderTrust::kMissing:
      return "is missing";
    case FolderTrust::kLink:
      return "is a link or reparse point";
    case FolderTrust::kNotFolder:
      return "is not a folder";
    case FolderTrust::kForeignOwner:
      return "is owned by another account";
    case FolderTrust::kOpenToOthers:
      return "may be written by other accounts";
    case FolderTrust::kUnknown:
      break;
  }
  return "has an owner or access list that cannot be read";
}

}  // namespace tal::os
