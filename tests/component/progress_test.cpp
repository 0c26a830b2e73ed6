// The progress file an Install that flashes writes beside the logs (talprogress.log), through the
// exports on a simulated server: its lines for each outcome of a device, that only an Install
// that flashes writes it (and one that flashes nothing removes an earlier run's), and that a file
// or folder it cannot use changes nothing else.
#include "progress.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>

#include "../common/engine_log.h"
#include "install_fixture.h"

namespace installtest {
namespace {

std::string progressPath() {
  tal::os::Platform &os = tal::os::sys();
  return tal::os::toUtf8(
      os.nativePath(os.expandEnvironment(kProgressFolder) + std::wstring(kProgressName)));
}

// The file in short: one entry per line ("start N", "device I kind found>offered unit total",
// "progress I first..last xCOUNT" for a device's run of progress lines, "end I result: text",
// "finish R K F"), after checking what every reader relies on: whole "\r\n" lines of JSON with
// "v" 1, "ms" never going back, and progress lines whose percentage rises and is that of done
// over total.
std::string summary(const std::string &file) {
  std::string out;
  uint64_t lastMs = 0;
  int progressLines = 0, firstPercent = -1, lastPercent = -1, progressIndex = 0;
  auto flushProgress = [&] {
    if (progressLines == 0) return;
    out += "progress " + std::to_string(progressIndex) + " " + std::to_string(firstPercent) + ".." +
           std::to_string(lastPercent) + " x" + std::to_string(progressLines) + "\n";
    progressLines = 0;
  };
  size_t pos = 0;
  while (pos < file.size()) {
    const size_t end = file.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a line without its end: " << file.substr(pos);
      break;
    }
    const json line = json::parse(file.substr(pos, end - pos), nullptr, false);
    pos = end + 2;
    if (!line.is_object() || line.value("v", 0) != 1 || !line["ms"].is_number_unsigned()) {
      ADD_FAILURE() << "not a line of version 1: " << line.dump();
      continue;
    }
    EXPECT_GE(line["ms"].get<uint64_t>(), lastMs) << line.dump();
    lastMs = line["ms"].get<uint64_t>();
    const std::string event = line["event"];
    if (event == "progress") {
      const uint64_t done = line["done"], total = line["total"];
      const int percent = line["percent"];
      EXPECT_LE(done, total);
      EXPECT_EQ(percent, total ? static_cast<int>(done * 100 / total) : 100) << line.dump();
      if (progressLines > 0) {
        EXPECT_GT(percent, lastPercent) << line.dump();
      } else {
        firstPercent = percent;
      }
      lastPercent = percent;
      progressIndex = line["index"];
      ++progressLines;
      continue;
    }
    flushProgress();
    std::ostringstream s;
    if (event == "start") {
      s << "start " << line["devices"].get<int>();
    } else if (event == "device") {
      s << "device " << line["index"].get<int>() << "/" << line["count"].get<int>() << " "
        << line["kind"].get<std::string>() << " " << line["name"].get<std::string>() << " "
        << line["found"].get<std::string>() << ">" << line["offered"].get<std::string>() << " "
        << line["total"].get<uint32_t>() << " " << line["unit"].get<std::string>();
    } else if (event == "end") {
      s << "end " << line["index"].get<int>() << " " << line["result"].get<std::string>() << ": "
        << line["text"].get<std::string>();
    } else if (event == "finish") {
      s << "finish " << line["result"].get<int>() << " " << line["updated"].get<int>() << " "
        << line["failed"].get<int>();
    } else {
      s << "? " << line.dump();
    }
    out += s.str() + "\n";
  }
  flushProgress();
  return out;
}

const char kCardName[] = "Controller card 1: Orvo Varibay 6 HDD Switch Card";
const char kBackplaneName[] = "Backplane 1: Orvo Varibay 6 HDD Backplane";

// A card older than the package (its 700-byte image: 3 blocks) with one older backplane (6,527
// pages); the card's loader and the CPLD as the case has them.
json server(const json &loader = nullptr, const json &cpld = nullptr) {
  json backplane = {{"name", kBackplane}, {"version", "2.04"}};
  if (!cpld.is_null()) backplane["cpld"] = cpld;
  json c = {{"name", kCard}, {"version", "1.05"}, {"backplanes", {backplane}}};
  if (!loader.is_null()) c["loader"] = loader;
  return {{"segments", {{{"segment", 3}, {"card", c}}}}};
}

TEST_F(InstallTest, TheProgressFileFollowsEachInstallThatFlashes) {
  const std::string cardLine =
      std::string("device 1/2 card ") + kCardName + " 1.05>1.12 3 blocks\n";
  const std::string backplane =
      std::string("device 2/2 backplane ") + kBackplaneName + " 2.04>2.05 6527 pages\n";
  const std::string cardDone = "progress 1 0..100 x4\nend 1 success: updated from 1.05 to 1.12\n";
  const std::string backplaneDone =
      "progress 2 0..100 x101\nend 2 success: updated from 2.04 to 2.05\n";
  const std::string earlier = "{\"v\":1,\"event\":\"start\",\"ms\":0,\"devices\":9}\r\n";
  struct Case {
    const char *name;
    json machine;
    std::function<void(InstallTest &)> setup;
    std::vector<std::string> steps;
    std::vector<std::wstring> args;
    std::string expected;  // the summary; "=" the earlier file unchanged, "" no file
  };
  const std::vector<std::string> host = {"5", "3", "install"};
  const Case cases[] = {
      {"a card and a backplane updated",
       server(),
       nullptr,
       host,
       {},
       "start 2\n" + cardLine + cardDone + backplane + backplaneDone + "finish 2 2 0\n"},
      {"the same without a state query",
       server(),
       nullptr,
       {"install"},
       {},
       "start 2\n" + cardLine + cardDone + backplane + backplaneDone + "finish 2 2 0\n"},
      {"the loader refuses block 2",
       server({{"answer_at_block", 2}, {"answer", "NAK"}}),
       nullptr,
       host,
       {},
       "start 2\n" + cardLine +
           "progress 1 0..33 x2\nend 1 failed: the transfer at block 2 failed: state unknown: run "
           "the update again.\n" +
           backplane + backplaneDone + "finish 0 1 1\n"},
      {"the CPLD fails page 9",
       server(nullptr, {{"faults", {{{"command", "cfg_page"}, {"at", 9}}}}}),
       nullptr,
       host,
       {},
       "start 2\n" + cardLine + cardDone + backplane +
           "progress 2 0..0 x1\nend 2 failed: programming the CPLD's configuration flash failed: "
           "firmware erased, not rewritten: the device will not work until this update is run "
           "again; do not power the server off.\nfinish 0 1 1\n"},
      {"the card's image is missing",
       server(),
       [](InstallTest &) { std::remove("vlte_card.bin"); },
       host,
       {},
       "start 2\ndevice 1/2 card " + std::string(kCardName) +
           " 1.05>1.12 0 blocks\nend 1 failed: reading the firmware image vlte_card.bin failed: "
           "not changed.\n" +
           backplane + backplaneDone + "finish 0 1 1\n"},
      {"-d writes its report only", server(), nullptr, host, {L"-d", L"report.xml"}, "="},
      {"property queries only", server(), nullptr, {"5", "3"}, {}, "="},
      {"nothing due: the earlier run's file goes",
       server(),
       [](InstallTest &t) {
         t.build({{"segments", {{{"segment", 3}, {"card", card("1.20", {"2.05"})}}}}});
       },
       {"install"},
       {},
       ""},
      {"nothing could be done: the earlier run's file goes",
       server(),
       [](InstallTest &t) { t.fake.channelPresent = false; },
       host,
       {},
       ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writePackage();
    fake.channelPresent = true;
    build(c.machine);
    if (c.setup) c.setup(*this);
    tal::os::ScratchDir::write(progressPath(), earlier);
    run(c.steps, c.args);
    const std::string file = tal::os::ScratchDir::read(progressPath());
    if (c.expected == "=") {
      EXPECT_EQ(file, earlier);
    } else if (c.expected.empty()) {
      struct stat st;
      EXPECT_NE(stat(progressPath().c_str(), &st), 0) << file;
    } else {
      EXPECT_EQ(summary(file), c.expected) << file;
    }
  }
}

// What the progress file held when the channel was opened, before discovery.
class Watch : public testserver::ChannelRelay {
 public:
  using ChannelRelay::ChannelRelay;
  std::string seen = "(not opened)";
  uint32_t initialize(uintptr_t arg) override {
    seen = tal::os::ScratchDir::read(progressPath());
    return ChannelRelay::initialize(arg);
  }
};

// An Install that discovers the devices itself empties an earlier run's file before it does, so
// that a reader polling meanwhile does not show that run's devices; the property queries and
// "-d" leave it.
TEST_F(InstallTest, AnEarlierRunIsEmptiedBeforeDiscovery) {
  const std::string earlier = "{\"v\":1,\"event\":\"start\",\"ms\":0,\"devices\":9}\r\n";
  const struct {
    std::vector<std::string> steps;
    std::vector<std::wstring> args;
    std::string seen;
  } cases[] = {{{"install"}, {}, ""},
               {{"install"}, {L"-d", L"report.xml"}, earlier},
               {{"5", "install"}, {}, earlier}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.steps.size() > 1 ? "property 5 first" : c.args.empty() ? "Install alone" : "-d");
    build(server());
    Watch watch(*plan);
    fake.channel = &watch;
    tal::os::ScratchDir::write(progressPath(), earlier);
    run(c.steps, c.args);
    EXPECT_EQ(watch.seen, c.seen);
  }
}

// The lines as the reader's contract spells them.
TEST_F(InstallTest, TheProgressLinesAreThoseOfTheContract) {
  build(server());
  run({"install"});
  const std::string file = tal::os::ScratchDir::read(progressPath());
  EXPECT_EQ(
      file.rfind("{\"v\":1,\"event\":\"start\",\"ms\":0,\"devices\":2}\r\n"
                 "{\"v\":1,\"event\":\"device\",\"ms\":0,\"index\":1,\"count\":2,\"name\":"
                 "\"Controller card 1: Orvo Varibay 6 HDD Switch Card\",\"kind\":\"card\","
                 "\"found\":\"1.05\",\"offered\":\"1.12\",\"unit\":\"blocks\",\"total\":3}\r\n"
                 "{\"v\":1,\"event\":\"progress\",\"ms\":0,\"index\":1,\"done\":0,\"total\":3,"
                 "\"percent\":0}\r\n",
                 0),
      0u)
      << file;
  // Block 1 is counted after the card's lock (2000 ms) and the pause after it (1000 ms), on the
  // fake clock.
  EXPECT_NE(file.find("{\"v\":1,\"event\":\"progress\",\"ms\":3000,\"index\":1,\"done\":1,"
                      "\"total\":3,\"percent\":33}\r\n"),
            std::string::npos)
      << file;
  EXPECT_NE(file.find("{\"v\":1,\"event\":\"finish\",\"ms\":"), std::string::npos);
  const std::string last = ",\"result\":2,\"updated\":2,\"failed\":0}\r\n";
  ASSERT_GT(file.size(), last.size());
  EXPECT_EQ(file.substr(file.size() - last.size()), last);
}

// A progress file that cannot be written (a folder in its place) is said once in the engine log;
// the update, its result and its text are those of a run that wrote it.
TEST_F(InstallTest, AProgressFileThatCannotBeWrittenChangesNothingElse) {
  build(server());
  const Answers written = run({"5", "install"});
  ASSERT_EQ(written.result, 2);
  std::remove(progressPath().c_str());
  tal::os::ScratchDir::write(progressPath() + "/inside", "x");
  std::filesystem::create_directories(testlog::engineLogDir(scratch));
  const std::string beforeLog = testlog::readEngineFile(testlog::engineLogPath(scratch));
  build(server());
  const Answers a = run({"5", "install"});
  EXPECT_EQ(a.result, written.result);
  EXPECT_EQ(a.text, written.text);
  EXPECT_TRUE(holdsImage(3));
  EXPECT_TRUE(holdsImage(3, 0));
  // Said once (on Windows the engine log, at the current drive's root, may hold earlier runs).
  const std::string log = testlog::readEngineFile(testlog::engineLogPath(scratch));
  const size_t said = log.find("talprogress.log not written: ", beforeLog.size());
  ASSERT_NE(said, std::string::npos) << log;
  EXPECT_EQ(log.find("talprogress.log not written: ", said + 1), std::string::npos)
      << "said more than once";
}

#ifndef _WIN32
// A log folder other accounts may write in gets no progress file, and nothing else changes: the
// logs' own line is the only one after the result's.
TEST_F(InstallTest, ARefusedLogFolderGetsNoProgressFile) {
  const std::string folder = scratch.file("talsystem/log");
  tal::os::ScratchDir::write(folder + "/keep", "");
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  build(server());
  const Answers a = run({"5", "install"});
  EXPECT_EQ(a.result, 2);
  EXPECT_TRUE(holdsImage(3));
  EXPECT_TRUE(holdsImage(3, 0));
  EXPECT_EQ(a.text.rfind(kSuccess, 0), 0u) << a.text;
  EXPECT_EQ(a.text.substr(std::string(kSuccess).size()).rfind("The logs were not written: ", 0), 0u)
      << a.text;
  struct stat st;
  EXPECT_NE(stat(progressPath().c_str(), &st), 0);
  chmod(folder.c_str(), 0755);
}
#endif

}  // namespace
}  // namespace installtest
