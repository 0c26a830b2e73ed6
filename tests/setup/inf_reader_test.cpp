// The simulated host's INF reader against the system's setup library.
//
// On the Windows build (under wine) every file of the corpus (tests/setup/inf/) is read twice in
// one process, by the reader and by the real setup library, and the two must give the same
// section names, lines, keys and fields (or both refuse the file). The setup library's reading is
// kept in tests/setup/inf/expected/, and the native build checks the reader against it. After a
// change to the corpus, write them afresh from the Windows build:
//   TAL_INF_DUMP_DIR=Z:$PWD/tests/setup/inf/expected scripts/tal-wine
//     build-win/bin/test_setup.exe --gtest_filter='InfCorpus.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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

// The whole reading of an INF as one text: "refused" or, per section, its name and lines.
std::string dump(tal::os::InfFile *inf) {
  if (!inf) return "refused\n";
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

std::string ourReading(const std::wstring &path) {
  tal::os::SimSetupHost host;
  uint32_t error = 0;
  unsigned line = 0;
  return dump(host.openInf(path, error, line).get());
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
    const std::string theirs = dump(real.get());
    const std::string ours = ourReading(file.wstring());
    if (dumpDir)
      std::ofstream(fs::path(dumpDir) / (file.stem().string() + ".txt"), std::ios::binary)
          << theirs;
    if (refusedOnPurpose(file)) {
      EXPECT_EQ(ours, "refused\n");
      continue;
    }
    EXPECT_EQ(ours, theirs);
  }
}
#else
TEST(InfCorpus, ReaderMatchesTheSetupLibrarysReading) {
  // The expected readings were made where %SystemRoot% is "C:\\windows".
  const char *old = getenv("SystemRoot");
  const std::string saved = old ? old : "";
  setenv("SystemRoot", "C:\\windows", 1);
  struct Restore {
    bool had;
    std::string value;
    ~Restore() { had ? setenv("SystemRoot", value.c_str(), 1) : unsetenv("SystemRoot"); }
  } restore{old != nullptr, saved};
  for (const fs::path &file : corpus()) {
    SCOPED_TRACE(file.filename().string());
    const fs::path expected = file.parent_path() / "expected" / (file.stem().string() + ".txt");
    const std::string ours = ourReading(file.wstring());
    if (refusedOnPurpose(file)) {
      EXPECT_EQ(ours, "refused\n");
      continue;
    }
    ASSERT_TRUE(fs::exists(expected)) << expected;
    EXPECT_EQ(ours, readFile(expected));
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
                   "refused\n"},
        ReaderCase{"line_before_section", "x\n" + kV, InfError::kLineOutsideSection, "refused\n"},
        ReaderCase{"unfinished_section", kV + "[S\n", InfError::kUnfinishedSection, "refused\n"},
        ReaderCase{"no_version", "[S]\nA=1\n", InfError::kWrongStyle, "refused\n"},
        ReaderCase{"self_naming_section", kV + "[S]\nCopyFiles=S\nNeeds=S\n", InfError::kNone,
                   "[Version]\n  <Signature> |$Chicago$|\n[S]\n  <CopyFiles> |S|\n"
                   "  <Needs> |S|\n"}),
    [](const ::testing::TestParamInfo<ReaderCase> &info) { return std::string(info.param.name); });

}  // namespace
