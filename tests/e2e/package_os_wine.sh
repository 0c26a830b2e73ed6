#!/usr/bin/env bash
# The operating-system check against the real system calls, with wine set to other Windows
# versions in a copy of the prefix: a server (Windows Server 2008 R2, 6.1) and a workstation
# (Windows 10, 10.0). The verbose log traces the version and product type the calls gave; the
# package's list decides, edition masks included.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
wine_prefix_copy "$dir/prefix"
pkg="$dir/package"
mkdir -p "$pkg"
cp -r "$TAL_BUILD_DIR/samples/package/." "$pkg/"
cd "$pkg"

# check VERSION ENTRIES EXPECTED-MATCH TRACE-LINES...: the package lists ENTRIES (XML) and the
# check on wine set to VERSION must end with EXPECTED-MATCH and show every TRACE line.
check() {
  local version=$1 entries=$2 match=$3
  shift 3
  if [ "$version" != "${current:-}" ]; then
    wine winecfg -v "$version" </dev/null >/dev/null 2>&1 || fail "winecfg -v $version"
    current=$version
  fi
  ENTRIES=$entries perl -0pe \
    's|<supported_operating_systems>.*</supported_operating_systems>|<supported_operating_systems>$ENV{ENTRIES}</supported_operating_systems>|s' \
    "$TAL_BUILD_DIR/samples/package/kz0110vb.xml" >kz0110vb.xml
  rm -rf "$(win_path "$WINEPREFIX/drive_c" talsystem/log)"
  out=$(tal_run "$TAL_HOST" --steps 5 -- /verbose_log 2>&1) || fail "talhost: $out"
  trace=$(cat "$(win_path "$WINEPREFIX/drive_c" talsystem/log)"/_KZ* 2>/dev/null | tr -d '\r')
  expect_contains "$trace" "IsOSSupported: Leaving IsOSSupported - bMatch is $match"
  for line in "$@"; do expect_contains "$trace" "IsOSSupported: $line"; done
  if [ "$match" = FALSE ]; then
    expect_contains "$out" 'text="The OS is not supported.\r\n"'
  else
    expect_contains "$out" 'text=""'
  fi
}

server_trace=("TAL_OSVersion returns: Major: (0x6) - Minor: (0x1)"
              "sysinfo.wProcessorArchitecture: (nt_x86-64) PROCESSOR_ARCHITECTURE_AMD64"
              "dwEdition is (0x7)" "Current.nEdition is (0xFF05)")
os() { printf '<supported_operating_system platform="nt_x86-64" %s/>' "$1"; }
check win2008r2 "$(os 'major="6" minor="1" edition="srvr"')" TRUE "${server_trace[@]}"
check win2008r2 "$(os 'major="6" minor="1" edition="dc"')$(os 'major="10"')" FALSE \
  "${server_trace[@]}" "Edition Check fails - bMatch is FALSE"
# The service pack is the system's: Windows Server 2008 R2 here is SP1.
check win2008r2 "$(os 'major="6" minor="1" sr="1"')" TRUE "${server_trace[@]}"
check win2008r2 "$(os 'major="6" minor="1" sr="2"')" FALSE "${server_trace[@]}" \
  "Service Pack Check fails - CurrentOS.nServicePack is (0x1)"
check win10 "$(os 'major="6" minor="1"')$(os 'major="10" minor="0" edition="srvr"')" TRUE \
  "TAL_OSVersion returns: Major: (0xA) - Minor: (0x0)" "ulIndex is (0x1)"
check win10 "$(os 'major="10" minor="0" sr="1"')" FALSE \
  "Service Pack Check fails - SupportedOS.nServicePack is (0x1)"
echo "operating-system check under wine: ok"
