// Channel captures as talsim reads them: what is refused as malformed (with its line), the
// summary, the comparison of two captures, and replayed delays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "sim/capturetools.h"
#include "sim/replay.h"

namespace {

const std::string kHeader =
    R"({"format":"tal-channel-capture","version":1,"plugin":"1.2.3.4","time":"t","command_line":"c"})";

// A capture of the given lines after the header, read back.
sim::Capture capture(const std::string &lines, std::string *error = nullptr) {
  const std::string path = testing::TempDir() + "tools_" + std::to_string(::getpid()) + ".jsonl";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << kHeader << "\n" << lines;
  sim::Capture out;
  std::string why;
  const bool ok = sim::readCapture(path, out, &why);
  std::remove(path.c_str());
  if (error) *error = ok ? "" : why;
  return out;
}

// One exchange: a request with the sequence number `seq`, and its response with error `code`.
std::string exchange(uint64_t us, int seq, const std::string &body, int code,
                     const std::string &readBack = "") {
  char s[8];
  std::snprintf(s, sizeof s, "%02x00", seq);
  const std::string request = "3900" + std::string(s) + body;
  char c[16];
  std::snprintf(c, sizeof c, "%02x000000", code);
  const std::string response = "3900" + std::string(s) + "72000000" + c + readBack;
  return R"({"us":)" + std::to_string(us) + R"(,"call":"send","length":)" +
         std::to_string(request.size() / 2) + R"(,"request":")" + request +
         R"(","status":0,"result":0})" + "\n" + R"({"us":)" + std::to_string(us + 1) +
         R"(,"call":"recv","capacity":57,"wait":20000,"count":)" +
         std::to_string(response.size() / 2) + R"(,"status":0,"response":")" + response + "\"}\n";
}

// The body of an I2C transaction request after its sequence number: CMD 0x72, the address at
// byte 20, the segment at 22, write and read lengths at 23 and 24.
std::string i2c(int segment, int address, int readLength) {
  char text[128];
  std::snprintf(text, sizeof text, "7200%s%02x00%02x00%02x", std::string(28, '0').c_str(), address,
                segment, readLength);
  return std::string(text) + std::string(2 * (57 - 25), '0');
}

TEST(CaptureCheck, RefusesMalformedCapturesAtTheirLine) {
  const std::string init = R"({"us":5,"call":"initialize","arg":0,"result":0})"
                           "\n";
  const struct {
    std::string lines, expect;
  } cases[] = {
      {"\n" + init, "line 2: an empty line"},
      {init + R"({"call":"close","result":0})", "line 3: \"us\" is missing"},
      {init + R"({"us":4,"call":"close","result":0})", "line 3: \"us\" runs backwards"},
      {init + R"({"us":6,"call":"close"})", "line 3: \"result\" is missing"},
      {init + R"({"us":6,"call":"recv","capacity":8,"count":4,"response":"0000"})",
       "line 3: \"response\" holds 2 bytes, not the 4"},
      {init + R"({"us":6,"call":"send","length":5000,"request":")" + std::string(10000, 'a') +
           R"(","result":0})",
       "line 3: \"request\" is longer than 4096 bytes"},
      {init + R"({"us":6,"smbios":"0000000010000000"})", "line 3: \"smbios\" is not a table"},
      {init + R"({"us":6,"call":"status_message","status":1,"text":5})", "line 3: \"text\""},
      {init + R"({"us":6,"result":0})", "line 3: neither a call nor the SMBIOS table"},
      {init + std::string(sim::kMaxCaptureLine + 1, ' '), "line 3: longer than"},
  };
  for (const auto &c : cases) {
    std::string error;
    capture(c.lines, &error);
    EXPECT_NE(error.find(c.expect), std::string::npos) << c.expect << "\n  got: " << error;
  }
  std::string error;
  const sim::Capture good = capture(init +
                                        R"({"us":6,"smbios":""})"
                                        "\n" +
                                        R"({"us":7,"call":"close","result":0})"
                                        "\n",
                                    &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(good.calls.size(), 2u);
  EXPECT_EQ(good.durationUs, 7u);
}

TEST(CaptureSummary, CountsCommandsDevicesAndErrors) {
  const std::string lines =
      R"({"us":1,"call":"initialize","arg":0,"result":0})"
      "\n" +
      exchange(10, 1, i2c(3, 0xAE, 2), 0, "02abcd") +  // answered, two bytes read
      exchange(20, 2, i2c(3, 0xAE, 0), 0) +            // answered write
      exchange(30, 3, i2c(5, 0xE4, 1), 3) +            // NAK: the port is empty
      R"({"us":40,"call":"recv","capacity":57,"wait":20000,"count":0,"status":21,"response":""})"
      "\n"
      R"({"us":2500000,"call":"close","result":7})"
      "\n";
  std::string error;
  sim::Capture c = capture(lines, &error);
  ASSERT_EQ(error, "");
  c.commandLine = "setup.exe \x1b[2J";
  const std::string s = sim::summarizeCapture(c);
  for (const char *line :
       {"plug-in: 1.2.3.4\n", "duration: 2.500000 s\n",
        "calls: 9 (close 1, initialize 1, recv 4, send 3)\n",
        "commands: I2C_TRANSACTION (read) 2, I2C_TRANSACTION (write) 1\n",
        "devices reached: 1\n  segment 3 address 0xAE: 2 transactions, 2 answered\n",
        "devices that never answered: 1\n  segment 5 address 0xE4: 1 transaction, 0 answered\n",
        "errors: 3\n", "  close result 7: 1\n",
        "  processor error 3 (no device answered) to I2C_TRANSACTION: 1\n",
        "  receive status 21: 1\n", "command line: setup.exe ?[2J\n", "SMBIOS: not read\n"}) {
    EXPECT_NE(s.find(line), std::string::npos) << line << "\n--- in ---\n" << s;
  }
}

TEST(CaptureCompare, ReportsTheFirstCallThatDiffers) {
  const std::string base =
      exchange(10, 1, i2c(3, 0xAE, 2), 0, "02abcd") + exchange(20, 2, i2c(3, 0xAE, 0), 0);
  const struct {
    std::string actual, expect;  // expect empty: the same
  } cases[] = {
      {base, ""},
      // Other sequence numbers (another library's) and other times are not differences.
      {exchange(50, 7, i2c(3, 0xAE, 2), 0, "02abcd") + exchange(90, 8, i2c(3, 0xAE, 0), 0), ""},
      {exchange(10, 1, i2c(3, 0xAE, 2), 0, "02abce") + exchange(20, 2, i2c(3, 0xAE, 0), 0),
       "capture differs at call 2 (reference line 3, line 3, the response at byte 14): expected "
       "recv capacity 57 wait 20000: count 15 status 0 response 39000100720000000000000002abcd; "
       "got recv capacity 57 wait 20000: count 15 status 0 response "
       "39000100720000000000000002abce"},
      {exchange(10, 1, i2c(3, 0xAE, 2), 3) + exchange(20, 2, i2c(3, 0xAE, 0), 0),
       "at call 2 (reference line 3, line 3, the status or count)"},
      {exchange(10, 1, i2c(3, 0xAC, 2), 0, "02abcd") + exchange(20, 2, i2c(3, 0xAE, 0), 0),
       "at call 1 (reference line 2, line 2, the request at byte 20)"},
      {exchange(10, 1, i2c(3, 0xAE, 2), 0, "02abcd"),
       "at call 3 (reference line 4, line past the end, the call): expected send"},
  };
  std::string error;
  const sim::Capture reference = capture(base, &error);
  ASSERT_EQ(error, "");
  for (const auto &c : cases) {
    const sim::Capture actual = capture(c.actual, &error);
    ASSERT_EQ(error, "");
    const std::string found = sim::compareCaptures(reference, actual);
    if (c.expect.empty()) {
      EXPECT_EQ(found, "");
    } else {
      EXPECT_NE(found.find(c.expect), std::string::npos) << c.expect << "\n  got: " << found;
      EXPECT_EQ(found.find('\n'), std::string::npos) << "one line";
    }
  }
}

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

TEST(CaptureReplayDelays, PacedReplayKeepsTheRecordedTimingUnpacedRunsAtFullSpeed) {
  // Four calls recorded 0.1 s apart (the real platform's clock and sleeps).
  std::string lines;
  for (int i = 0; i < 4; ++i) {
    lines += R"({"us":)" + std::to_string(1000 + 100000 * i) +
             R"(,"call":"initialize","arg":0,"result":0})"
             "\n";
  }
  std::string error;
  const sim::Capture c = capture(lines, &error);
  ASSERT_EQ(error, "");
  for (const bool paced : {true, false}) {
    sim::ReplayChannel replay(c, paced);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(replay.initialize(0), 0u);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("replay %s: %lld ms (recorded: 300 ms)\n", paced ? "with delays" : "full speed",
                static_cast<long long>(ms));
    if (paced) {
      // The schedule is kept by the platform clock: to the millisecond natively, to the timer
      // tick (15.6 ms) on Windows.
      EXPECT_GE(ms, kWindows ? 284 : 299);
      EXPECT_LT(ms, 1000);
    } else {
      EXPECT_LT(ms, 50);
    }
    EXPECT_FALSE(replay.diverged());
  }
}

}  // namespace
