#!/usr/bin/env bash
# The driver-package plug-in end to end through its exports, with the sample driver package:
# natively over the simulated host (its record checked, and carried into the next run as the
# machine's state), on the Windows build under wine for real, in a copy of the prefix.
#   DRV_CASE=legacy  property 5 before (5) and after (1) Install, in new processes; the files,
#                    registry values and service; a newer package (2); dependency.xml naming the
#                    system model and another (6, "System model not supported."); an unknown
#                    installation type (its text and 0, the post-installation file still opened)
#   DRV_CASE=pnp     the same package as PNP, for a root device the test creates
#   DRV_CASE=virtual the same driver as VIRTUAL, installed twice: one root device, one update
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
# The plug-in runs from inside the package, as a package carries it (the PNP installer stages
# the files beside the library).
plugin_name=$(basename "$TAL_DRIVER_PLUGIN")
if [ "$TAL_WINDOWS" = 1 ]; then
  wine_prefix_copy "$dir/prefix"
  logs="$WINEPREFIX/drive_c/talsystem/log"
  model=Wine
else
  export SYSTEMDRIVE="$dir/drive"
  mkdir -p "$SYSTEMDRIVE"
  logs="$SYSTEMDRIVE/talsystem/log"
  model="TS-900 Storage Server"
  # The machine's state: the model WMI reports, and the state each run leaves (its record)
  # carried into the next as registry, services and devices.
  export TAL_MACHINE="$dir/machine.json" TAL_SETUP_RECORD="$dir/record.json"
  jq -n --arg model "$model" '{computer_model: $model, devices: []}' >"$TAL_MACHINE"
fi

# The component log folder as it is on disk (Windows matches its name without regard to case).
logs_dir() { win_path "$dir" "${logs#"$dir"/}"; }

# carry: the simulated host's record becomes the machine's registry, services and devices.
carry() {
  [ "$TAL_WINDOWS" = 1 ] && return 0
  [ -s "$TAL_SETUP_RECORD" ] || fail "the simulated host wrote no record"
  jq -s '.[0] + {
      registry: (([.[1].keys[] | {key: ., value: {}}] | from_entries) *
                 (.[1].registry | group_by(.key)
                  | map({key: .[0].key, value: (map({key: .name, value:
                         (if .type == "REG_DWORD" then (.data | tonumber) else .data end)})
                         | from_entries)}) | from_entries)),
      services: .[1].services, devices: .[1].devices}' \
    "$TAL_MACHINE" "$TAL_SETUP_RECORD" >"$dir/next.json"
  mv "$dir/next.json" "$TAL_MACHINE"
}

# host FOLDER STEPS [ARGS...]: talhost in the package folder; prints its JSON answers.
host() {
  local folder=$1 steps=$2 out plugin
  shift 2
  plugin="$folder/$plugin_name"
  if [ "$TAL_WINDOWS" = 1 ]; then plugin="Z:${plugin//\//\\}"; fi
  # Install's result sets the exit status (0, 1 or 3); 2 is a usage error.
  out=$(cd "$folder" && tal_run "$TAL_HOST" --plugin "$plugin" --json --steps "$steps" -- "$@" 2>&1) ||
    [ $? != 2 ] || fail "talhost --steps $steps in $folder: $out"
  carry
  printf '%s\n' "$out"
}
# answer JSON FILTER: one value of the answers.
# answer JSON FILTER: one value of the answers (the document on the last line; the lines before it
# are progress events).
answer() { jq -r "select(.steps) | $2" <<<"$1" || fail "not JSON: $1"; }
status() { answer "$1" '.steps[] | select(.type == 5) | "\(.result) \(.status) \(.text)"'; }
installed() { answer "$1" '.steps[] | select(.step == "install") | "\(.result) \(.text)"'; }

# check_record JQ-FILTER: natively, the last run's record holds.
check_record() {
  [ "$TAL_WINDOWS" = 1 ] && return 0
  jq -e "$1" "$TAL_SETUP_RECORD" >/dev/null || fail "record: $1 does not hold:
$(cat "$TAL_SETUP_RECORD")"
}
query() { WINEDEBUG=-all wine reg query "$@" 2>/dev/null </dev/null | tr -d '\r'; }
# The driver file, its settings and its service exist (natively in the machine's state).
check_installed_system() {
  if [ "$TAL_WINDOWS" = 1 ]; then
    expect_contains "$(query 'HKLM\Software\Tal\Demo')" "Version    REG_SZ    1.2.0.0"
    expect_contains "$(query 'HKLM\Software\Tal\Demo')" "Level    REG_DWORD    0x3"
    local service
    service=$(query 'HKLM\System\CurrentControlSet\Services\TalDemo')
    expect_contains "$service" 'ImagePath    REG_SZ    C:\windows\system32\drivers\taldemo.sys'
    expect_contains "$service" "Start    REG_DWORD    0x3"
    cmp -s "$(win_path "$WINEPREFIX/drive_c" windows/system32/drivers/taldemo.sys)" "$pkg/taldemo.sys" ||
      fail "taldemo.sys was not installed"
  else
    jq -e '.registry["HKLM\\Software\\Tal\\Demo"] == {Version: "1.2.0.0", Level: 3}' \
      "$TAL_MACHINE" >/dev/null || fail "registry: $(jq .registry "$TAL_MACHINE")"
    jq -e '.services[] | select(.name == "TalDemo") | .start_type == 3' "$TAL_MACHINE" \
      >/dev/null || fail "no TalDemo service: $(jq .services "$TAL_MACHINE")"
    cmp -s "$SYSTEMDRIVE/Windows/system32/drivers/taldemo.sys" "$pkg/taldemo.sys" ||
      fail "taldemo.sys was not installed"
  fi
}

# package NAME [TYPE]: a copy of the sample driver package, its install.xml naming TYPE.
package() {
  local folder="$dir/$1"
  mkdir -p "$folder"
  cp -r "$TAL_BUILD_DIR/samples/driver/." "$folder/"
  cp "$TAL_DRIVER_PLUGIN" "$folder/"
  if [ -n "${2:-}" ]; then sed -i "s/type=\"LEGACY\"/type=\"$2\"/" "$folder/install.xml"; fi
  printf '%s\n' "$folder"
}

# device_inf FILE: the sample driver with a device class and a model for root\taldemo.
device_inf() {
  cat >"$1" <<'INF'
[Version]
Signature="$Windows NT$"
Class=System
ClassGUID={4d36e97d-e325-11ce-bfc1-08002be10318}
Provider=%Tal%
DriverVer=12/08/2026,1.2.0.0

[DestinationDirs]
DefaultDestDir = 12

[Manufacturer]
%Tal% = TalDemo, NTamd64

[TalDemo.NTamd64]
%TalDemo.Desc% = TalDemo.Device, root\taldemo

[TalDemo.Device.NT]
CopyFiles = TalDemo.Files
AddReg = TalDemo.AddReg

[TalDemo.Device.NT.Services]
AddService = TalDemo, 0x00000002, TalDemo.Service

[TalDemo.Files]
taldemo.sys

[TalDemo.AddReg]
HKLM, "Software\Tal\Demo", "Version", 0x00000000, "1.2.0.0"
HKLM, "Software\Tal\Demo", "Level", 0x00010001, 3

[TalDemo.Service]
DisplayName    = %TalDemo.Desc%
ServiceType    = 1
StartType      = 3
ErrorControl   = 1
ServiceBinary  = %12%\taldemo.sys

[Strings]
Tal = "Tal Systems"
TalDemo.Desc = "Tal Demo Drive-Bay Driver"
INF
}

case ${DRV_CASE:-legacy} in
legacy)
  pkg=$(package legacy)
  out=$(host "$pkg" 5,3,4,install)
  [ "$(status "$out")" = "1 5 " ] || fail "before Install: property 5 is not status 5: $out"
  [ "$(installed "$out")" = "1 " ] || fail "Install did not answer 1: $out"
  check_installed_system
  check_record '[.operations[] | select(.op == "copy") | .target] | map(test("drivers\\\\taldemo.sys$")) | any'
  if [ "$TAL_WINDOWS" = 1 ]; then
    # The shell opened postinstall.cmd, which notes the installation beside itself.
    for _ in $(seq 50); do [ -f "$pkg/postinstall.done" ] && break; sleep 0.1; done
    [ -f "$pkg/postinstall.done" ] || fail "postinstall.cmd did not run"
  fi

  # A new process: installed, at the package's version.
  out=$(host "$pkg" 5,3)
  [ "$(status "$out")" = "1 1 " ] || fail "after Install: property 5 is not status 1: $out"
  [ "$(answer "$out" '.steps[] | select(.type == 3) | .text')" = 1.2.0.0 ] || fail "property 3: $out"

  # A newer package: status 2.
  newer=$(package newer)
  sed -i 's/<version value="1.2.0.0"\/>/<version value="1.3.0.0"\/>/' "$newer/kz0120td.xml"
  [ "$(status "$(host "$newer" 5)")" = "1 2 " ] || fail "a newer package is not status 2"

  # dependency.xml: the system's own model passes; another model is not supported.
  dependency_xml "$pkg/dependency.xml" "$model"
  [ "$(status "$(host "$pkg" 5)")" = "1 1 " ] || fail "dependency.xml naming $model: not status 1"
  dependency_xml "$pkg/dependency.xml" "Other Model 1"
  out=$(host "$pkg" 5)
  [ "$(status "$out")" = "1 6 System model not supported." ] ||
    fail "dependency.xml naming another model: $out"
  rm "$pkg/dependency.xml"

  # An unknown installation type: the localised text and 0, and the post-installation file is
  # still opened.
  unknown=$(package unknown FIRMWARE)
  rm -rf "$(logs_dir)"
  out=$(host "$unknown" install /verbose_log)
  [ "$(installed "$out")" = "0 Unknown INF file type -- installation will not continue." ] ||
    fail "an unknown installation type: $out"
  trace=$(cat "$(logs_dir)"/_KZ* | tr -d '\r')
  expect_contains "$trace" "Executing ShellExecute command - open postinstall.cmd... Done."
  if [ "$TAL_WINDOWS" = 1 ]; then
    for _ in $(seq 50); do [ -f "$unknown/postinstall.done" ] && break; sleep 0.1; done
    [ -f "$unknown/postinstall.done" ] || fail "postinstall.cmd did not run"
  fi
  ;;
pnp)
  # The same driver as a PNP package: an INF with a device class and a model for root\taldemo,
  # the device in the package's supported devices, and install.xml naming the service (the INF's
  # install section has none: it is in the section's .Services).
  pkg=$(package pnp PNP)
  sed -i 's/type="PNP"/type="PNP" service_name="TalDemo"/' "$pkg/install.xml"
  device_inf "$pkg/taldemo.inf"
  perl -0pi -e 's|</prerequisites>|  <supported_devices><supported_devices_and><supported_device type="pnp"><supported_device_data>root\\taldemo</supported_device_data></supported_device></supported_devices_and></supported_devices>\n  </prerequisites>|' \
    "$pkg/kz0120td.xml"
  # Without the device: no hardware, nothing to do.
  [ "$(status "$(host "$pkg" 5)")" = "1 6 " ] || fail "no device: not status 6"
  if [ "$TAL_WINDOWS" = 1 ]; then
    tal_run "$TAL_BIN_DIR/taldevice.exe" add 'root\taldemo' >/dev/null || fail "taldevice add"
  else
    jq '.devices += [{instance_id: "ROOT\\SYSTEM\\0000", hardware_ids: ["root\\taldemo"]}]' \
      "$TAL_MACHINE" >"$dir/next.json" && mv "$dir/next.json" "$TAL_MACHINE"
  fi
  out=$(host "$pkg" 5,install)
  [ "$(status "$out")" = "1 5 " ] || fail "before Install: property 5 is not status 5: $out"
  result=$(installed "$out")
  [ "$result" = "1 " ] || [ "$result" = "2 " ] || fail "Install did not answer 1 or 2: $out"
  check_record '.operations[] | select(.op == "update_driver") | .hardware_id == "root\\taldemo"'
  check_installed_system
  devices=$(tal_run "$TAL_BIN_DIR/taldevice$TAL_EXE" list) || fail "taldevice list"
  grep -qiE '^root\\taldemo	.*taldemo\.inf' <<<"$devices" || fail "the device has not the driver:
$devices"

  # Installed, but the service is not yet bound to the device: the PnP manager lists the device
  # under the service's Enum key when the driver starts (the stand-in never does), so the package
  # still counts as not installed.
  [ "$(status "$(host "$pkg" 5)")" = "1 5 " ] || fail "an unbound service: not status 5"
  enum='HKLM\System\CurrentControlSet\Services\TalDemo\Enum'
  if [ "$TAL_WINDOWS" = 1 ]; then
    WINEDEBUG=-all wine reg add "$enum" /v Count /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 &&
      WINEDEBUG=-all wine reg add "$enum" /v 0 /t REG_SZ /d 'ROOT\TALDEVICE\0000' /f \
        </dev/null >/dev/null 2>&1 || fail "reg add $enum"
  else
    jq --arg key "$enum" '.registry[$key] = {Count: 1, "0": "ROOT\\SYSTEM\\0000"}' \
      "$TAL_MACHINE" >"$dir/next.json" && mv "$dir/next.json" "$TAL_MACHINE"
  fi
  out=$(host "$pkg" 5,3)
  [ "$(status "$out")" = "1 1 " ] || fail "a bound service: property 5 is not status 1: $out"
  ;;
virtual)
  # VIRTUAL: the INF's install section makes a root device named after the service (no
  # LEGACY_ prefix) and gives it its driver by a forced update; run again, it finds that device
  # and adds none. Registered natively only: wine's setup library cannot select a class driver.
  pkg=$(package virtual VIRTUAL)
  sed -i 's/type="VIRTUAL"/type="VIRTUAL" section="TalDemo.Device.NT"/' "$pkg/install.xml"
  device_inf "$pkg/taldemo.inf"
  # The service the device node is named after: in the first section that copies files.
  sed -i 's/^CopyFiles = TalDemo.Files$/&\nAddService = TalDemo, 0x2, TalDemo.Service/' \
    "$pkg/taldemo.inf"
  for run in 1 2; do
    out=$(host "$pkg" install)
    [ "$(installed "$out")" = "1 " ] || fail "run $run: Install did not answer 1: $out"
    if [ "$run" = 1 ]; then
      check_record '[.operations[] | select(.op == "create_device")] | length == 1'
      check_record '.operations[] | select(.op == "create_device") | .instance_id == "ROOT\\TALDEMO\\0000"'
      check_record '[.operations[] | select(.op == "update_driver")] | length == 1'
      check_record '.operations[] | select(.op == "update_driver") | .hardware_id == "root\\TALDEMO" and .force == "1"'
    else
      check_record '[.operations[] | select(.op == "create_device" or .op == "update_driver")] | length == 0'
    fi
  done
  jq -e '[.devices[] | select(.instance_id | startswith("ROOT\\TALDEMO\\"))] | length == 1' \
    "$TAL_MACHINE" >/dev/null || fail "not one TALDEMO device: $(jq .devices "$TAL_MACHINE")"
  ;;
esac
exit 0
