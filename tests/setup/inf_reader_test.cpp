// The simulated host's INF reader against the system's setup library.
//
// On the Windows build (under wine) every file of the corpus (tests/setup/inf/) is read twice in
// one process, by the reader and by the real setup library, and the two must give the same
// section names, lines, keys and fields (or both refuse the file). The setup library's reading is
// kept in tests/setup/inf/expected/ (with environment.txt, the folder variables of the process
// that read them, which directory ids name), and the native build checks the reader against it.
// After a change to the corpus, write them afresh from the Windows build:
//   TAL_INF_DUMP_DIR=Z:$PWD/tests/setup/inf/expected scripts/tal-wine
//     build-win/bin/test_setup.exe --gtest_filter='InfCorpus.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "case_name.h"
#include "fake_platform.h"
#include "tal/infreader.h"
#include "tal/platform.h"
#include "tal/setup.h"
#include "tal/simsetup.h"

namespace {

namespace fs = std::filesystem;
using tal::os::InfDocument;
using tal::os::InfError;

std::string corpusDir() { return TAL_INF_CORPUS; }

// The whole reading of an INF as one text: "refused", the error and the line it names, or, per
// section, its name and lines.
std::string dump(tal::os::InfFile *inf, uint32_t error, unsigned errorLine) {
  if (!inf) {
    char text[64];
    snprintf(text, sizeof text, "refused 0x%08X line %u\n", static_cast<unsigned>(error),
             errorLine);
    return text;
  }
  std::string out;
  std::vector<std::wstring> names;
  EXPECT_TRUE(inf->sectionNames(names));
  for (const std::wstring &name : names) {
    out += "[" + tal::os::toUtf8(name) + "]\n";
    std::vector<tal::os::InfLine> lines;
    if (!inf->sectionLines(name, lines)) {
      out += "  (no lines)\n";
      continue;
    }
    for (const tal::os::InfLine &line : lines) {
      out += line.hasKey ? "  <" + tal::os::toUtf8(line.key) + ">" : std::string("  -");
      for (const std::wstring &f : line.fields) out += " |" + tal::os::toUtf8(f) + "|";
      out += "\n";
    }
  }
  return out;
}

std::string ourReading(const std::wstring &path,
                       unsigned codePage = tal::os::kDefaultAnsiCodePage) {
  tal::os::SimSetupHost host;
  host.ansiCodePage = codePage;
  uint32_t error = 0;
  unsigned line = 0;
  auto inf = host.openInf(path, error, line);
  return dump(inf.get(), error, line);
}

std::vector<fs::path> corpus() {
  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(corpusDir()))
    if (entry.path().extension() == ".inf") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Files the reader refuses on purpose where the setup library guesses: UTF-16 without a byte
// order mark, and big-endian UTF-16.
bool refusedOnPurpose(const fs::path &file) {
  const std::string name = file.filename().string();
  return name.find("utf16_nobom") != std::string::npos ||
         name.find("utf16_be") != std::string::npos;
}

// Lines where the setup library under wine, which does not implement every directory id, puts
// its placeholder folder and the reader gives the folder Windows documents: 13 (the driver
// store folder of the package, here the INF's own) and 66004 (the printers' ASP files).
struct Placeholder {
  const char *file;
  const char *key;
};
constexpr Placeholder kPlaceholders[] = {
    {"37_dirids_windows", "id13"},
    {"37_dirids_windows", "id66004"},
    {"37_dirids_windows", "ServiceBinary"},
    {"37_dirids_windows", "InProcServer32"},
};
constexpr const char *kPlaceholderFolder = "C:\\windows\\system32\\unknown";

// True when `ours` is `theirs` with each placeholder folder replaced by some text.
bool matchesPlaceholders(const std::string &ours, const std::string &theirs) {
  std::vector<std::string> pieces;
  for (size_t at = 0;;) {
    const size_t hit = theirs.find(kPlaceholderFolder, at);
    pieces.push_back(theirs.substr(at, hit == std::string::npos ? hit : hit - at));
    if (hit == std::string::npos) break;
    at = hit + strlen(kPlaceholderFolder);
  }
  if (pieces.size() < 2 || ours.compare(0, pieces[0].size(), pieces[0]) != 0) return false;
  size_t at = pieces[0].size();
  for (size_t i = 1; i + 1 < pieces.size(); ++i) {
    at = ours.find(pieces[i], at);
    if (at == std::string::npos) return false;
    at += pieces[i].size();
  }
  const std::string &last = pieces.back();
  return ours.size() >= at + last.size() &&
         ours.compare(ours.size() - last.size(), last.size(), last) == 0;
}

// `ours` with the lines listed for this file taken from `theirs` when they differ only by the
// placeholder folder, so that the two compare equal exactly where they agree.
std::string placeholdersAccepted(const std::string &file, const std::string &ours,
                                 const std::string &theirs) {
  std::istringstream a(ours), b(theirs);
  std::string out, x, y;
  while (std::getline(a, x)) {
    if (!std::getline(b, y)) y.clear();
    bool listed = false;
    for (const Placeholder &p : kPlaceholders)
      listed = listed || (file == p.file && x.rfind(std::string("  <") + p.key + ">", 0) == 0);
    out += (listed && x != y && matchesPlaceholders(x, y) ? y : x) + "\n";
  }
  return out;
}

// The variables the directory ids read, which the expected readings were made with.
constexpr const char *kFolderVariables[] = {"SystemRoot",
                                            "USERPROFILE",
                                            "APPDATA",
                                            "LOCALAPPDATA",
                                            "ProgramData",
                                            "PUBLIC",
                                            "ProgramFiles",
                                            "ProgramFiles(x86)",
                                            "CommonProgramFiles",
                                            "CommonProgramFiles(x86)",
                                            "ALLUSERSPROFILE"};

[[maybe_unused]] std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(InfCorpus, HasEveryConstruct) { EXPECT_GE(corpus().size(), 20u); }

#ifdef _WIN32
TEST(InfCorpus, ReaderMatchesTheSetupLibrary) {
  const char *dumpDir = getenv("TAL_INF_DUMP_DIR");
  for (const fs::path &file : corpus()) {
    SCOPED_TRACE(file.filename().string());
    uint32_t error = 0;
    unsigned line = 0;
    auto real = tal::os::setup().openInf(file.wstring(), error, line);
    const std::string theirs = dump(real.get(), error, line);
    const std::string ours = ourReading(file.wstring());
    if (dumpDir)
      std::ofstream(fs::path(dumpDir) / (file.stem().string() + ".txt"), std::ios::binary)
          << theirs;
    if (refusedOnPurpose(file)) {
      EXPECT_EQ(ours.rfind("refused 0x0000000D", 0), 0u) << ours;
      continue;
    }
    EXPECT_EQ(placeholdersAccepted(file.stem().string(), ours, theirs), theirs);
  }
  if (dumpDir) {
    std::ofstream env(fs::path(dumpDir) / "environment.txt", std::ios::binary);
    for (const char *name : kFolderVariables) {
      const char *value = getenv(name);
      env << name << "=" << (value ? value : "") << "\n";
    }
  }
}
#else
TEST(InfCorpus, ReaderMatchesTheSetupLibrarysReading) {
  // The folders of the directory ids come from the variables the expected readings were made
  // with (expected/environment.txt).
  struct Restore {
    std::vector<std::pair<std::string, std::optional<std::string> > > saved;
    ~Restore() {
      for (const auto &v : saved)
        v.second ? setenv(v.first.c_str(), v.second->c_str(), 1) : unsetenv(v.first.c_str());
    }
  } restore;
  std::istringstream env(readFile(fs::path(corpusDir()) / "expected" / "environment.txt"));
  for (std::string line; std::getline(env, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq);
    const char *old = getenv(name.c_str());
    restore.saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name.c_str(), line.substr(eq + 1).c_str(), 1);
  }
  ASSERT_FALSE(restore.saved.empty()) << "expected/environment.txt";
  for (const fs::path &file : corpus()) {
    SCOPED_TRACE(file.filename().string());
    const fs::path expected = file.parent_path() / "expected" / (file.stem().string() + ".txt");
    const std::string ours = ourReading(file.wstring());
    if (refusedOnPurpose(file)) {
      EXPECT_EQ(ours.rfind("refused 0x0000000D", 0), 0u) << ours;
      continue;
    }
    ASSERT_TRUE(fs::exists(expected)) << expected;
    const std::string theirs = readFile(expected);
    EXPECT_EQ(placeholdersAccepted(file.stem().string(), ours, theirs), theirs);
  }
}
#endif

// Focused cases of the reader itself (one file each, the reading written out).
struct ReaderCase {
  const char *name;
  std::string text;
  InfError error;
  const char *reading;  // dump() of the result
};
void PrintTo(const ReaderCase &c, std::ostream *os) { *os << c.name; }

class InfReaderCases : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(InfReaderCases, Reads) {
  const ReaderCase &c = GetParam();
  tal::os::ScratchDir scratch;
  const std::string path = scratch.file("case.inf");
  tal::os::ScratchDir::write(path, c.text);
  InfDocument doc;
  unsigned line = 0;
  EXPECT_EQ(InfDocument::parse(c.text, nullptr, true, doc, &line), c.error);
  EXPECT_EQ(ourReading(tal::os::fromUtf8(path)), c.reading);
}

const std::string kV = "[Version]\nSignature=\"$Chicago$\"\n";

INSTANTIATE_TEST_SUITE_P(
    Reader, InfReaderCases,
    ::testing::Values(
        ReaderCase{"continuation_after_comma", kV + "[S]\nA=1,\\\n 2\n", InfError::kNone,
                   "[Version]\n  <Signature> |$Chicago$|\n[S]\n  <A> |1| |2|\n"},
        ReaderCase{"recursive_strings_stay", kV + "[S]\nA=%x%\n[Strings]\nx=%y%\ny=deep\n",
                   InfError::kNone,
                   "[Version]\n  <Signature> |$Chicago$|\n[S]\n  <A> |%y%|\n[Strings]\n"
                   "  <x> |deep|\n  <y> |deep|\n"},
        ReaderCase{"nul_byte", kV + std::string("[S]\nA=1\0x\n", 10), InfError::kUtf16WithoutBom,
                   "refused 0x0000000D line 0\n"},
        ReaderCase{"line_before_section", "x\n" + kV, InfError::kLineOutsideSection,
                   "refused 0xE0000000 line 1\n"},
        // Text before the first section: passed over up to a comment or a '[', and forgiven
        // when a [Strings] section comes later.
        ReaderCase{"before_section_comment_hides_bracket", "x;[abc\n" + kV + "[STRINGS]\n",
                   InfError::kNone, "[Version]\n  <Signature> |$Chicago$|\n[STRINGS]\n"},
        ReaderCase{"before_section_quotes_do_not_hide_bracket", "\"x[abc\"\n" + kV + "[Strings]\n",
                   InfError::kUnfinishedSection, "refused 0xE0000001 line 1\n"},
        ReaderCase{"before_section_first_text_line", "\n; c\n \nx\ny\n" + kV,
                   InfError::kLineOutsideSection, "refused 0xE0000000 line 4\n"},
        ReaderCase{"unfinished_section", kV + "[S\n", InfError::kUnfinishedSection,
                   "refused 0xE0000001 line 3\n"},
        ReaderCase{"no_version", "[S]\nA=1\n", InfError::kWrongStyle,
                   "refused 0xE0000100 line 0\n"},
        ReaderCase{"self_naming_section", kV + "[S]\nCopyFiles=S\nNeeds=S\n", InfError::kNone,
                   "[Version]\n  <Signature> |$Chicago$|\n[S]\n  <CopyFiles> |S|\n"
                   "  <Needs> |S|\n"}),
    CaseName());

// Text without a byte order mark reads in the host's ANSI code page (the corpus checks 1252
// against the setup library, and the tables match the system's conversion under wine).
TEST(InfReaderCodePage, TextReadsInTheHostsCodePage) {
  const struct {
    unsigned codePage;
    const char *reading;
  } cases[] = {
      {1252, "  <A> |\xC2\xA3 \xC3\x83\xC2\xA9|\n"},  // £ Ã©
      {1250, "  <A> |\xC5\x81 \xC4\x82\xC2\xA9|\n"},  // Ł Ă©
      {1251, "  <A> |\xD0\x88 \xD0\x93\xC2\xA9|\n"},  // Ј Г©
      {65001, "  <A> |\xEF\xBF\xBD \xC3\xA9|\n"},     // U+FFFD é
  };
  tal::os::ScratchDir scratch;
  const std::string path = scratch.file("ansi.inf");
  tal::os::ScratchDir::write(path, kV + "[S]\nA=\xA3 \xC3\xA9\n");
  for (const auto &c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(ourReading(tal::os::fromUtf8(path), c.codePage),
              "[Version]\n  <Signature> |$Chicago$|\n[S]\n" + std::string(c.reading));
  }
}

}  // namespace
