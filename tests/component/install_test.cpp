// What Install answers, through the exports, on a simulated server: each cause of "nothing could
// be done" and each outcome has its own true result and text (no "completed successfully" when
// nothing was done), a failed Install names each device not updated with its state, a newer card
// survives one failed answer on any of its reads, and the result text stays within its bound.
#include <cstdio>
#include <functional>

#include "install_fixture.h"

namespace installtest {
namespace {

// The sample server: card 1 at the package's version with three backplanes, card 2 older with
// one backplane.
json sampleMachine() {
  return {{"segments",
           {{{"segment", 1}, {"card", card("1.12", {"2.05", "2.05", "2.05"})}},
            {{"segment", 3}, {"card", card("1.05", {"2.05"})}}}}};
}

const char kCard2[] = "Controller card 2: Orvo Varibay 6 HDD Switch Card (segment 3)";

struct Case {
  const char *name;
  std::function<void(InstallTest &)> setup;  // after build(sampleMachine())
  std::vector<std::string> steps;
  std::vector<std::wstring> args;
  int32_t result;
  std::string text;  // the whole result text
};

TEST_F(InstallTest, EachOutcomeHasItsOwnTrueResultAndText) {
  const std::string nothing = "Error\r\nNothing was done: ";
  const std::vector<std::string> host = {"5", "3", "install"};
  const Case cases[] = {
      {"the channel library cannot be loaded",
       [](InstallTest &t) { t.fake.channelPresent = false; },
       host,
       {L"-f"},
       0,
       nothing + "the channel library TalCi.dll could not be loaded.\r\n"},
      {"the channel cannot be opened",
       [](InstallTest &t) { t.machine.faults.initializeStatus = 7; },
       host,
       {},
       0,
       nothing + "the channel to the management processor could not be opened.\r\n"},
      {"Config.xml does not parse",
       [](InstallTest &t) { t.writePackage("<Devices><Device>"); },
       host,
       {},
       0,
       nothing + "the package could not be read: Config.xml is missing or not well-formed.\r\n"},
      {"the package definition file is missing",
       [](InstallTest &t) {
         t.writePackage("<Devices><kzxml><FileName>kzgone</FileName></kzxml></Devices>");
       },
       host,
       {},
       0,
       nothing + "the package could not be read: the package definition file kzgone.xml (named "
                 "in Config.xml) is missing or not well-formed.\r\n"},
      {"the processor does not answer its status",
       [](InstallTest &t) {
         t.machine.faults.commandErrors[sim::kCmdGetStatus] = {1, -1};
       },
       host,
       {},
       0,
       nothing + "the management processor did not answer its status query.\r\n"},
      {"the processor is too old",
       [](InstallTest &t) { t.machine.minor = 19; },
       host,
       {},
       0,
       nothing + "the management processor's firmware is too old (Ost4 2.19; Ost4 2.20 or "
                 "later is required).\r\n"},
      {"no switch card",
       [](InstallTest &t) { t.build(json::object()); },
       host,
       {},
       0,
       "No Device Found\r\n"},
      {"nothing due: Install without a state query flashes only what is older",
       [](InstallTest &t) {
         t.build({{"segments", {{{"segment", 1}, {"card", card("1.20", {"2.05"})}}}}});
       },
       {"install"},
       {},
       1,
       "No device needed an update: nothing was changed.\r\n"},
      {"-d: the report is the whole work",
       nullptr,
       host,
       {L"-d", L"report.xml"},
       1,
       "Discovery Successful\r\n"},
      {"-d: the report cannot be written",
       nullptr,
       host,
       {L"-d", L"no/such/dir/report.xml"},
       0,
       nothing + "the self-discovery report no/such/dir/report.xml could not be written ("},
      {"a real flash", nullptr, host, {}, 2, kSuccess},
      {"the same flash without a state query", nullptr, {"install"}, {}, 2, kSuccess},
      {"an image that cannot be read",
       [](InstallTest &t) { std::remove("vlte_card.bin"); },
       host,
       {},
       0,
       std::string("Error\r\n") + kCard2 +
           ": reading the firmware image vlte_card.bin failed: not changed.\r\n"},
      {"an image for another device",
       [](InstallTest &t) {
         tal::os::ScratchDir::write(t.scratch.file("vlte_card.bin"),
                                    imageBytes(2, 2, t.cardPayload));
       },
       host,
       {},
       0,
       std::string("Error\r\n") + kCard2 +
           ": checking the firmware image vlte_card.bin (not an image for this device) failed: "
           "not changed.\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    writePackage();
    fake.channelPresent = true;
    build(sampleMachine());
    if (c.setup) c.setup(*this);
    const Answers a = run(c.steps, c.args);
    EXPECT_EQ(a.result, c.result);
    if (c.text.back() == '(') {
      EXPECT_EQ(a.text.rfind(c.text, 0), 0u) << a.text;
    } else {
      EXPECT_EQ(a.text, c.text);
    }
    // The lines after "Error" are in the component log as well.
    if (a.text.rfind("Error\r\n", 0) == 0) {
      EXPECT_TRUE(contains(a.componentLog, a.text.substr(7, 60))) << a.componentLog;
    }
    // Nothing changed on a card that was not due, or when nothing could be done.
    EXPECT_FALSE(touched(1));
    if (c.result != 2) {
      EXPECT_FALSE(touched(machine.cards.size() > 1 ? 3 : 1));
    }
  }
  // The report of a second "-d" run replaced the first.
  const std::string report = tal::os::ScratchDir::read(scratch.file("report.xml"));
  EXPECT_EQ(report.find("<?xml"), report.rfind("<?xml"));
}

// One line per device not updated, after "Error": its name and place, the step that failed, and
// its state in plain words; the devices that were updated are not named.
TEST_F(InstallTest, AFailedInstallSaysWhatStateEachDeviceIsIn) {
  build({{"segments",
          {{{"segment", 1},
            {"card",
             {{"name", kCard},
              {"version", "1.05"},
              {"loader", {{"answer_at_block", 2}, {"answer", "NAK"}}},
              {"backplanes",
               {{{"name", kBackplane},
                 {"version", "2.04"},
                 {"cpld", {{"faults", {{{"command", "cfg_page"}, {"at", 9}}}}}}},
                {{"name", kBackplane}, {"version", "2.04"}},
                {{"name", kBackplane},
                 {"version", "2.04"},
                 {"cpld", {{"faults", {{{"command", "enable"}}}}}}}}}}}}}}});
  const Answers a = run({"5", "3", "install"});
  EXPECT_EQ(a.status, 2);
  EXPECT_EQ(a.result, 0);
  EXPECT_EQ(a.text,
            "Error\r\n"
            "Controller card 1: Orvo Varibay 6 HDD Switch Card (segment 1): the transfer at block "
            "2 failed: state unknown: run the update again.\r\n"
            "Backplane 1: Orvo Varibay 6 HDD Backplane (segment 1, port 0): programming the "
            "CPLD's configuration flash failed: firmware erased, not rewritten: the device will "
            "not work until this update is run again; do not power the server off.\r\n"
            "Backplane 3: Orvo Varibay 6 HDD Backplane (segment 1, port 2): opening the CPLD's "
            "configuration interface failed: not changed.\r\n");
  EXPECT_TRUE(holdsImage(1, 1));
  EXPECT_FALSE(touched(1, 2));
  EXPECT_TRUE(contains(a.componentLog,
                       "Backplane 3: Orvo Varibay 6 HDD Backplane (segment 1, "
                       "port 2): opening the CPLD's configuration interface "
                       "failed: not changed.\r\n"));
}

// The image is in, so the result stays success, but the text and the component log say whose
// access is still locked; the processor ignores every unlock.
TEST_F(InstallTest, ALockLeftHeldAfterAGoodFlashIsReported) {
  build({{"segments", {{{"segment", 3}, {"card", card("1.05")}}}},
         {"faults", {{"unlock_ignored", -1}}}});
  const Answers a = run({"5", "install"});
  EXPECT_EQ(a.result, 2);
  const std::string line =
      "Controller card 1: Orvo Varibay 6 HDD Switch Card (segment 3): its device-access lock "
      "could not be released: the management processor cannot reach this device until the "
      "lock is released (run the update again, or restart the management processor)\r\n";
  EXPECT_EQ(a.text, std::string(kSuccess) + line);
  EXPECT_TRUE(contains(a.componentLog, line));
  EXPECT_TRUE(holdsImage(3));
  EXPECT_TRUE(machine.isLocked(3, 0x82));
}

// A card newer than the package with an older backplane: one failed answer, of each kind, on each
// request of discovery in turn never changes properties 5 and 3, and the card is never flashed.
// (The backplane's image is missing, so that each Install ends quickly, before its CPLD.)
TEST_F(InstallTest, ANewerCardSurvivesOneFailedAnswerOnAnyOfItsReads) {
  const json server = {
      {"segments", {{{"segment", 1}, {"card", card("1.20", {"2.04", "2.05", ""})}}}}};
  std::remove("vlti_backplane.bin");
  build(server);
  const Answers clean = run({"5", "3"});
  ASSERT_EQ(clean.status, 2);
  ASSERT_EQ(clean.list, "\r\nBackplane 1: Orvo Varibay 6 HDD Backplane: 2.04\n");
  const uint64_t discovery = machine.requests;
  int runs = 0;
  for (int kind : {faultplan::kHeaderOnly, faultplan::kRunt, faultplan::kRecvError,
                   faultplan::kSendError, faultplan::kNak, faultplan::kShortRead}) {
    for (uint64_t k = 0; k < discovery; ++k) {
      SCOPED_TRACE(std::string(faultplan::kindName(kind)) + " at request " + std::to_string(k));
      build(server);
      plan->plan = {{k, kind}};
      const Answers a = run({"5", "3", "install"});
      EXPECT_EQ(plan->armed, 1);
      EXPECT_EQ(a.status, clean.status);
      EXPECT_EQ(a.list, clean.list);
      EXPECT_FALSE(touched(1)) << "the newer card was flashed";
      EXPECT_EQ(a.text,
                "Error\r\nBackplane 1: Orvo Varibay 6 HDD Backplane (segment 1, port 0): reading "
                "the firmware image vlti_backplane.bin failed: not changed.\r\n");
      ++runs;
    }
  }
  EXPECT_GT(runs, 100);
}

// A version that still cannot be read after every attempt is "unknown": property 3 and the text
// say so and which read failed, and the device is offered for an update (re-flashed to recover).
TEST_F(InstallTest, AnUnknownVersionIsOfferedAndNamed) {
  build({{"segments",
          {{{"segment", 1},
            {"card", {{"name", kCard}, {"version", "1.20"}, {"version_unreadable", true}}}}}}});
  const Answers a = run({"5", "3", "install"});
  EXPECT_EQ(a.status, 2);
  EXPECT_EQ(a.list,
            "\r\nController card 1: Orvo Varibay 6 HDD Switch Card: unknown (the card's version "
            "register 0x51 at 0xEC failed)\n");
  EXPECT_EQ(a.result, 2);
  EXPECT_EQ(a.text, std::string(kSuccess) +
                        "Controller card 1: Orvo Varibay 6 HDD Switch Card (segment 1): its "
                        "version could not be read (the card's version register 0x51 at 0xEC); it "
                        "was rewritten with the package's firmware 1.12\r\n");
  EXPECT_TRUE(holdsImage(1));
}

// A backplane whose presence cannot be told may be an older one: with no device older among those
// seen, the state is not decided (property 5 answers 7) and no device is forced, so the newer card
// is not downgraded; the text says what could not be read.
TEST_F(InstallTest, AnIncompleteDiscoveryForcesNothing) {
  build({{"segments",
          {{{"segment", 1},
            {"card",
             {{"name", kCard},
              {"version", "1.20"},
              {"handshake_fails", true},
              {"backplanes", json::array()}}}}}}});
  const Answers a = run({"5", "3", "install"});
  EXPECT_EQ(a.status, 7);
  EXPECT_EQ(a.list, "");
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.text.rfind("No device needed an update: nothing was changed.\r\n"
                         "Controller card 1 (segment 1): whether a backplane is on port 0 could "
                         "not be told (taking the card's backplane-bus handshake (register 0x66 "
                         "at 0xEC) failed); it was not checked\r\n",
                         0),
            0u)
      << a.text;
  EXPECT_FALSE(touched(1));
}

// The detail lines are appended whole while the text stays below kResultTextChars; what does not
// fit is counted in a last line. The table's line is appended whatever the buffer holds.
TEST(ResultText, StaysWithinItsBoundInWholeLines) {
  std::wstring detail;
  for (int i = 0; i < 40; ++i) detail += L"Backplane " + std::to_wstring(i) + L": x failed.\r\n";
  std::vector<wchar_t> buffer(8192, L'#');
  buffer[0] = L'\0';
  AppendResultText(buffer.data(), L"Error\r\n", detail);
  std::wstring text = buffer.data();
  EXPECT_LT(text.size(), kResultTextChars);
  EXPECT_EQ(text.rfind(L"Error\r\nBackplane 0: x failed.\r\n", 0), 0u);
  EXPECT_EQ(text.size(), 7u + 10 * 24 + 30 * 25);  // every line fits
  EXPECT_EQ(text.substr(text.size() - 25), L"Backplane 39: x failed.\r\n");

  detail += detail;  // 80 lines: they do not all fit
  buffer.assign(8192, L'#');
  const std::wstring earlier(300, L'e');
  std::wcscpy(buffer.data(), earlier.c_str());
  AppendResultText(buffer.data(), L"Error\r\n", detail);
  text = buffer.data();
  EXPECT_LT(text.size(), kResultTextChars);
  EXPECT_EQ(text.rfind(earlier + L"Error\r\nBackplane 0: x failed.\r\n", 0), 0u);
  const size_t more = text.rfind(L"\r\n(");
  ASSERT_NE(more, std::wstring::npos);
  // 300 + 7, then 10 lines of 24 and 17 of 25 characters, keeping room for the closing line.
  EXPECT_EQ(text.size(), 307u + 240 + 17 * 25 + 38);
  EXPECT_EQ(text.substr(more + 2), L"(53 more lines in the component log)\r\n");
  EXPECT_EQ(buffer[text.size() + 1], L'#');

  // A buffer already past the bound: the table's line only.
  buffer.assign(8192, L'#');
  const std::wstring full(1100, L'f');
  std::wcscpy(buffer.data(), full.c_str());
  AppendResultText(buffer.data(), L"Error\r\n", detail);
  EXPECT_EQ(std::wstring(buffer.data()), full + L"Error\r\n");
}

}  // namespace
}  // namespace installtest
