// The simulated host's record of what an installation changed, as the scripts read it with jq:
// every section present (empty ones too), operations in the order made with their fields in the
// order given, numbers and booleans as such, and any text (quotes, backslashes, control
// characters, characters beyond the BMP) coming back as it went in.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tal/platform.h"
#include "tal/simsetup.h"

namespace {

using nlohmann::ordered_json;

TEST(SetupRecord, ReadsBackWhatTheHostDid) {
  tal::os::SimSetupHost host;
  const ordered_json empty = ordered_json::parse(host.recordJson());
  EXPECT_EQ(empty.dump(),
            R"({"operations":[],"registry":[],"keys":[],"services":[],"devices":[]})");

  const std::wstring odd = L"a \"q\" \\ \t\r\n\x01 \u00e9 \U0001F600";
  host.events.push_back({"copy", {{"source", L"C:\\src\\x.sys"}, {"target", odd}}});
  host.events.push_back({"delete_key", {{"key", L"HKLM\\Software\\Tal"}}});
  tal::os::SimKey key;
  key.path = L"HKLM\\Software\\Tal";
  key.values[L"LEVEL"] = {L"Level", L"REG_DWORD", L"3"};
  host.registry[L"HKLM\\SOFTWARE\\TAL"] = key;
  host.services.push_back({L"TalDemo", L"Demo", L"C:\\Windows\\demo.sys", 1, 3, 1});
  tal::os::SimDevice device;
  device.instanceId = L"ROOT\\SYSTEM\\0000";
  device.hardwareIds = {L"root\\taldemo", L"taldemo"};
  device.inf = L"oem1.inf";
  device.inbox = true;
  host.devices.push_back(device);

  const std::string text = host.recordJson();
  const ordered_json r = ordered_json::parse(text);
  EXPECT_EQ(r["operations"].dump(), R"([{"op":"copy","source":"C:\\src\\x.sys","target":)" +
                                        ordered_json(tal::os::toUtf8(odd)).dump() +
                                        R"(},{"op":"delete_key","key":"HKLM\\Software\\Tal"}])");
  EXPECT_EQ(r["operations"][0]["target"].get<std::string>(), tal::os::toUtf8(odd));
  EXPECT_EQ(r["registry"].dump(),
            R"([{"key":"HKLM\\Software\\Tal","name":"Level","type":"REG_DWORD","data":"3"}])");
  EXPECT_EQ(r["keys"].dump(), R"(["HKLM\\Software\\Tal"])");
  EXPECT_EQ(r["services"].dump(),
            R"([{"name":"TalDemo","binary":"C:\\Windows\\demo.sys","start_type":3,)"
            R"("service_type":1}])");
  EXPECT_EQ(r["devices"].dump(),
            R"([{"instance_id":"ROOT\\SYSTEM\\0000","hardware_ids":["root\\taldemo","taldemo"],)"
            R"("inf":"oem1.inf","inbox":true}])");
  // One entry a line, as the demo prints it; the file ends in a line end.
  EXPECT_EQ(text.rfind("{\"operations\": [\n  {\"op\":\"copy\",", 0), 0u) << text;
  EXPECT_NE(text.find("],\n\"devices\": [\n  {\"instance_id\":"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

}  // namespace
