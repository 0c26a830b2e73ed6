#!/usr/bin/env bash
# A legacy INF installed through CInf::InstallDefault copies its files, writes its registry values
# and creates its service; a root device made by the test gets its driver from
# CWin2000PnPDriver::Install and CWin2000DeviceList lists it. The test program does the work
# (test_setup, RealHost.*); this script checks the system from outside: under wine with
# `wine reg query` and the prefix's files, natively with the simulated host's record.
source "$TAL_E2E_DIR/common.sh"

scratch=$(fresh_scratch)
program="$TAL_BIN_DIR/test_setup$TAL_EXE"

if [ "$TAL_WINDOWS" = 1 ]; then
  # The tests change the prefix: they run in a copy of it.
  prefix="$scratch/prefix"
  wine_prefix_copy "$prefix"
  out=$(TAL_SETUP_REAL=1 tal_run "$program" --gtest_filter='RealHost.*' 2>&1) ||
    fail "RealHost tests under wine:
$out"
  expect_contains "$out" "[  PASSED  ] 3 tests."
  expect_contains "$out" 'listed: root\taltest'

  query() { WINEDEBUG=-all wine reg query "$@" 2>/dev/null </dev/null | tr -d '\r'; }
  values=$(query 'HKLM\Software\Tal\Driver')
  expect_contains "$values" "Version    REG_SZ    1.0.0.1"
  expect_contains "$values" "Level    REG_DWORD    0x3"
  service=$(query 'HKLM\System\CurrentControlSet\Services\TalDrv')
  expect_contains "$service" 'ImagePath    REG_SZ    C:\windows\system32\drivers\taldrv.sys'
  expect_contains "$service" "Start    REG_DWORD    0x3"
  c="$prefix/drive_c"
  [ "$(cat "$(win_path "$c" windows/system32/drivers/taldrv.sys)")" = taldrv.sys ] ||
    fail "taldrv.sys not copied"
  [ "$(cat "$(win_path "$c" "Program Files/Tal/App/readme.txt")")" = readme.src ] ||
    fail "readme.txt not copied"
  # The run's staging folder is made, and removed when the run ends.
  staging=$(win_path "$c" talsystem/pnpdrvs)
  [ -d "$staging" ] && [ -z "$(ls -A "$staging")" ] ||
    fail "the staging folder of the run was not made, or not removed: $(find "$c" -maxdepth 4 -ipath '*/talsystem/*')"
  [ -f "$(win_path "$c" windows/system32/drivers/taltest.sys)" ] ||
    fail "the device driver's file is missing"
  section=$(query 'HKLM\System\CurrentControlSet\Services\TalSect\Device0')
  expect_contains "$section" "Mode    REG_SZ    fast"
  expect_contains "$(query 'HKLM\System\CurrentControlSet\Services\TalSect')" "Start    REG_DWORD    0x4"
  expect_contains "$(query 'HKLM\Software\Tal\Section')" "Installed    REG_DWORD    0x1"
  [ -f "$(win_path "$c" windows/system32/talsect.dll)" ] || fail "talsect.dll not copied"
  device=$(query 'HKLM\System\CurrentControlSet\Enum\ROOT\TALDEVICE\0000')
  expect_contains "$device" "Class    REG_SZ    System"
  service=$(query 'HKLM\System\CurrentControlSet\Services\TalTest')
  expect_contains "$service" 'taltest.sys'
  exit 0
fi

# Natively: the simulated host, with a machine description and the record of every change.
cat >"$scratch/machine.json" <<'JSON'
{
  "registry": { "HKLM\\Software\\Existing": { "Kept": "yes", "Count": 2 } },
  "services": [ { "name": "OldSvc", "start_type": 2 } ],
  "devices": [ { "instance_id": "PCI\\VEN_10B5&DEV_8749\\1", "inf": "oem3.inf",
                 "hardware_ids": [ "PCI\\VEN_10B5&DEV_8749" ] } ]
}
JSON
record="$scratch/record.json"
out=$(TAL_SETUP_REAL=1 TAL_MACHINE="$scratch/machine.json" TAL_SETUP_RECORD="$record" \
      "$program" --gtest_filter='RealHost.*' 2>&1) || fail "RealHost tests natively:
$out"
expect_contains "$out" "[  PASSED  ] 3 tests."
[ -s "$record" ] || fail "no record written"
check() {
  jq -e "$1" "$record" >/dev/null || fail "record: $1 does not hold:
$(cat "$record")"
}
check '.registry[] | select(.key == "HKLM\\Software\\Tal\\Driver" and .name == "Version") | .data == "1.0.0.1"'
check '.registry[] | select(.key == "HKLM\\Software\\Tal\\Driver" and .name == "Level") | .data == "3"'
check '.registry[] | select(.key == "HKLM\\Software\\Existing" and .name == "Kept") | .data == "yes"'
check '[.services[].name] | index("TalDrv") != null and index("OldSvc") != null'
check '.services[] | select(.name == "TalDrv") | .start_type == 3'
check '[.operations[] | select(.op == "copy") | .target] | map(test("taldrv.sys$")) | any'
check '.operations[] | select(.op == "update_driver") | .hardware_id == "root\\taltest"'
check '[.operations[] | select(.op == "copy") | .target] | map(test("pnpdrvs\\\\run1\\\\taltest.inf$")) | any'
check '[.operations[] | select(.op == "remove_directory") | .path] | map(test("pnpdrvs\\\\run1$")) | any'
check '.devices[] | select(.hardware_ids[0] == "root\\taltest") | .inf == "taltest.inf"'
check '.devices[0].inf == "oem3.inf"'
check '[.operations[] | select(.op == "copy") | .target] | map(test("Program Files\\\\Tal\\\\App\\\\talapp.exe$")) | any'
check '.registry[] | select(.key == "HKLM\\System\\CurrentControlSet\\Services\\TalSect\\Device0" and .name == "Mode") | .data == "fast"'
check '.services[] | select(.name == "TalSect") | .start_type == 4'
