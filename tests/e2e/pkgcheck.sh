#!/usr/bin/env bash
# pkgcheck on the sample package (clean) and on broken copies of it, one fault each: every check
# fires with the finding and the exit status it should (0 clean, 1 warnings, 2 errors), the JSON
# form says the same, hostile content gives findings and no crash, and the folder is left as it
# was.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
sample="$TAL_BUILD_DIR/samples/package"
pkgcheck="$TAL_BIN_DIR/pkgcheck$TAL_EXE"
fwimage="$TAL_BIN_DIR/fwimage$TAL_EXE"

# A listing of the folder with sizes and contents' checksums: what "nothing written" compares.
listing() { (cd "$1" && find . -printf '%p %s %T@\n' | sort && cat ./* 2>/dev/null | md5sum); }

# run CASE: pkgcheck in the case's folder; prints its output, sets $status.
run() {
  local before
  before=$(listing "$1")
  set +e
  out=$(cd "$1" && tal_run "$pkgcheck" 2>&1)
  status=$?
  set -e
  [ "$(listing "$1")" = "$before" ] || fail "pkgcheck changed the folder $1"
}

# The tools' command-line convention: --help on standard output, --version, a bad argument named
# on standard error with exit 2. args | exit | standard output holds | standard error holds
while IFS='|' read -r args want stdout_has stderr_has; do
  set +e
  # shellcheck disable=SC2086
  tal_run "$pkgcheck" $args >"$dir/out" 2>"$dir/err"
  status=$?
  set -e
  [ "$status" = "$want" ] || fail "pkgcheck $args: exit $status, expected $want"
  [ -z "$stdout_has" ] || grep -qF -- "$stdout_has" "$dir/out" ||
    fail "pkgcheck $args: standard output lacks $stdout_has"
  [ -z "$stderr_has" ] || grep -qF -- "$stderr_has" "$dir/err" ||
    fail "pkgcheck $args: standard error lacks $stderr_has"
done <<'EOT'
--help|0|Usage: pkgcheck|
--version|0|pkgcheck 1.0.0.1|
--bogus|2||--bogus
one two|2||two
EOT

run "$sample"
[ "$status" = 0 ] || fail "the sample package is not clean (exit $status):
$out"
expect_contains "$out" 'name [de]: "Orvo Varibay Firmware für Switch-Karte und Backplane"'
expect_contains "$out" 'pkgcheck: 0 errors, 0 warnings'
# The sample driver package: its INF installed by the framework, no flash engine.
run "$TAL_BUILD_DIR/samples/driver"
[ "$status" = 0 ] || fail "the sample driver package is not clean (exit $status):
$out"
expect_contains "$out" 'package kind: driver package'

kz=kz0110vb.xml
# name | expected exit | code | expected finding (on the code's line; - for none) | mutation (a
# shell command run in a copy of the sample)
cases=$(cat <<'EOT'
no_package|2|PKG003|no package definition file|rm kz0110vb.xml
second_kz_broken|1|PKG001|kz9.xml: line 1, column 14: not well-formed XML|printf '<tal_package>' >kz9.xml
name_indented|1|PKG011|the host sees "Orvo" but the file holds|perl -0pi -e 's|lang="en">Orvo|lang="en">Orvo\n    Varibay|' kz0110vb.xml
name_blank_first|2|PKG010|the host gets no name|perl -0pi -e 's|lang="en">Orvo|lang="en"> Orvo|' kz0110vb.xml
name_no_en|1|PKG012|no "en" entry|perl -0pi -e 's|<name_xlate lang="en">[^<]*</name_xlate>||' kz0110vb.xml
description_plain|2|PKG010|must be a CDATA section|perl -0pi -e 's|<!\[CDATA\[(Aktualisiert[^\]]*)\]\]>|$1|' kz0110vb.xml
version_letters|2|PKG015|is not up to four dot-separated numbers|perl -0pi -e 's|<version value="1.12"/>|<version value="1.12a"/>|' kz0110vb.xml
version_wide|2|PKG015|is not up to four dot-separated numbers|perl -0pi -e 's|<version value="1.12"/>|<version value="1.70000"/>|' kz0110vb.xml
filename_long|2|PKG006|longer than 127 characters|perl -0pi -e 's|kz0110vb.exe|"x" x 130|e' kz0110vb.xml
os_platform|2|PKG017|is none of nt, nt64, nt_x86-64|perl -0pi -e 's|platform="nt_x86-64" major="6"|platform="nt_amd64" major="6"|' kz0110vb.xml
os_edition|2|PKG019|is not a known edition|perl -0pi -e 's|major="6" minor="3"|major="6" minor="3" edition="server"|' kz0110vb.xml
os_number|2|PKG018|is not a number|perl -0pi -e 's|major="6" minor="3"|major="six" minor="3"|' kz0110vb.xml
device_id_own_line|2|PKG020|has no id text the plug-in reads|perl -0pi -e 's|<supported_operating_systems>|<supported_devices><supported_devices_and><supported_device type="pnp"><supported_device_data name="id">\n      ROOT\\TALDEV\n    </supported_device_data></supported_device></supported_devices_and></supported_devices><supported_operating_systems>|' kz0110vb.xml
device_id|2|PKG021|gives an empty hardware id|perl -0pi -e 's|<supported_operating_systems>|<supported_devices><supported_devices_and><supported_device type="pci"><supported_device_data name="ven">8086</supported_device_data></supported_device></supported_devices_and></supported_devices><supported_operating_systems>|' kz0110vb.xml
inf_missing|2|PKG026|is not in the package|rm vbfw.inf
inf_type|2|PKG027|is none of LEGACY, PNP, VIRTUAL|perl -0pi -e 's|type="VIRTUAL"|type="DRIVER"|' install.xml
inf_element|2|PKG024|no INF element for these systems|perl -0pi -e 's|<inf_file |<inf_file_nt5 |' install.xml
install_broken|2|PKG022|install.xml: line 1, column 14: cannot be read|printf '<tal_install>' >install.xml
config_missing|2|PKG040|Config.xml: missing|rm Config.xml
config_type|2|PKG045|is neither 0 nor 1|perl -0pi -e 's|<ConfigType>1</ConfigType>|<ConfigType>7</ConfigType>|' Config.xml
config_kzxml|2|PKG043|but the plug-in reads the package definition|perl -0pi -e 's|<FileName>kz0110vb</FileName>|<FileName>kz0220vb</FileName>|' Config.xml
payload_missing|2|PKG048|the image "vlte_card.bin" is not in the package|rm vlte_card.bin
image_no_header|2|PKG049|has no image header|printf '\0' | dd of=vlte_card.bin bs=1 count=1 conv=notrunc 2>/dev/null
image_short|2|PKG050|is shorter than its image header|head -c 30 vlte_card.bin >short && mv short vlte_card.bin
image_type|2|PKG051|is one the engine cannot flash|printf '\3' | dd of=vlte_card.bin bs=1 seek=2 count=1 conv=notrunc 2>/dev/null
image_isp|2|PKG052|does not name the chip|printf 'ep4cgx' | dd of=vlte_card.bin bs=1 seek=19 count=6 conv=notrunc 2>/dev/null
image_large|2|PKG053|is over the 104432 the CPLD holds|tal_run "$FWIMAGE" make -t VeltoI -r 2.5 -c 2 -g 104432:2 vlti_backplane.bin >/dev/null && printf x >>vlti_backplane.bin
image_version|2|PKG054|which the device reports as "2.05"|perl -0pi -e 's|<Version>2.05</Version>|<Version>2.5</Version>|' Config.xml
entry_uncovered|2|PKG047|no sw_key of the package definition names this product|perl -0pi -e 's|<DeviceName>Orvo Varibay 6 HDD Backplane|<DeviceName>Spare Backplane|' Config.xml
key_without_entry|1|PKG046|no Config.xml entry for this product|perl -0pi -e 's|</sw_keys>|<sw_keys_and><sw_key name="Spare Board"/></sw_keys_and></sw_keys>|' kz0110vb.xml
dependency_broken|1|PKG060|dependency.xml: line 1, column 24: not well-formed: the plug-in ignores it|printf '<componentdependencies>' >dependency.xml
dependency_no_list|2|PKG061|the system-model check fails on every system|printf '<componentdependencies><dependent_hardware/></componentdependencies>' >dependency.xml
driver_pnp_no_devices|2|PKG028|lists no supported_devices|perl -0pi -e 's|type="VIRTUAL"|type="PNP"|' install.xml
dependency_no_model|2|PKG063|lists no model|printf '<componentdependencies><dependent_hardware><platforms><platform name="x"/></platforms></dependent_hardware></componentdependencies>' >dependency.xml
dependency_no_model_attr|1|PKG062|has no model attribute: matches no system|printf '<componentdependencies><dependent_hardware><platforms><platform model="X"/><platform name="y"/></platforms></dependent_hardware></componentdependencies>' >dependency.xml
kz_no_root|1|PKG002|has no tal_package root element|printf '<other/>' >kz9.xml
name_missing|2|PKG007|name: missing: the host's name question fails|perl -0pi -e 's|<name>.*?</name>||s' kz0110vb.xml
name_no_lang|1|PKG008|has no lang attribute|perl -0pi -e 's|<name_xlate lang="fr">|<name_xlate>|' kz0110vb.xml
name_twice|1|PKG009|a second entry for the same language|perl -0pi -e 's|<name_xlate lang="fr">|<name_xlate lang="de">|' kz0110vb.xml
name_empty|2|PKG013|no name_xlate entry|perl -0pi -e 's|<name>.*?</name>|<name></name>|s' kz0110vb.xml
version_missing|2|PKG014|no version value|perl -0pi -e 's|<version value="1.12"/>||' kz0110vb.xml
os_platform_long|2|PKG016|platform text longer than 63 characters|perl -0pi -e 's/platform="nt_x86-64" major="6" minor="3"/"platform=\"" . "x" x 70 . "\" major=\"6\""/e' kz0110vb.xml
inf_information_missing|2|PKG023|missing: no INF is named|printf '<tal_install/>' >install.xml
inf_no_filename|2|PKG025|no filename|perl -0pi -e 's|filename="vbfw.inf" ||' install.xml
config_broken|2|PKG041|Config.xml: line 3, column 3: not well-formed: the engine stops (mismatched tag)|printf '<Devices>\n  <Device>\n</Devices>\n' >Config.xml
config_root|2|PKG042|no Devices root element|printf '<Other/>' >Config.xml
config_kz_unread|2|PKG044|the engine cannot read the package file "kz0220vb.xml"|perl -0pi -e 's|<FileName>kz0110vb</FileName>|<FileName>kz0220vb</FileName>|' Config.xml
plugin_missing|2|PKG070|install.dll: the plug-in "install.dll" is not in the package|rm -f install.dll libinstall.so
EOT
)
export FWIMAGE="$fwimage"
tested_codes=""
# check_cases SAMPLE CASES: each case in a copy of SAMPLE.
check_cases() {
  local name exit code finding mutation
  while IFS='|' read -r name exit code finding mutation; do
    [ -n "$name" ] || continue
    rm -rf "${dir:?}/$name"
    cp -r "$1" "$dir/$name"
    (cd "$dir/$name" && eval "$mutation") || fail "$name: the mutation failed"
    run "$dir/$name"
    [ "$status" = "$exit" ] || fail "$name: exit $status, expected $exit:
$out"
    expect_contains "$out" "$finding"
    if [ "$code" != - ]; then
      grep -F "$finding" <<<"$out" | grep -qE "^(error|warning) $code: " ||
        fail "$name: no $code finding with \"$finding\":
$out"
      tested_codes+=" $code"
    fi
  done <<<"$2"
}
check_cases "$sample" "$cases"

# The sample driver package: what its INF installs.
driver_cases=$(cat <<'EOT'
driver_list_missing|2|PKG034|CopyFiles names the file list [TalDemo.Filez], which the INF does not have: the installation fails|sed -i 's/^CopyFiles = TalDemo.Files/CopyFiles = TalDemo.Filez/' taldemo.inf
driver_file_missing|2|PKG033|the file "taldemo.sys" is not in the package: the installation fails|rm taldemo.sys
driver_at_file|0|-|INF taldemo.inf: 1 section(s) copying 1 file(s)|sed -i 's/^CopyFiles = TalDemo.Files/CopyFiles = @taldemo.sys/' taldemo.inf
driver_at_file_missing|2|PKG033|the file "other.sys" it copies is not in the package|sed -i 's/^CopyFiles = TalDemo.Files/CopyFiles = TalDemo.Files, @other.sys/' taldemo.inf
driver_many_sections|0|-|INF taldemo.inf: 1 section(s) copying 1 file(s)|for i in $(seq 700); do printf '[Strings.Language.Section%d]\n' "$i"; done >>taldemo.inf
driver_no_service|1|PKG030|adds no service and service_name names none|sed -i '/^AddService/d' taldemo.inf
driver_inf_invalid|2|PKG029|the INF file cannot be opened as an INF|: >taldemo.inf
driver_no_copy|2|PKG032|no section copies files|sed -i '/^CopyFiles/d' taldemo.inf
driver_kz_twice|1|PKG004|more than one kz*.xml has a tal_package root|cp kz0120td.xml kz0121td.xml
driver_version_unnamed|2|PKG035|no sw_key names a version file|perl -0pi -e 's|\s*<sw_key_expectedpath>.*?</sw_key_expectedpath>||' kz0120td.xml
driver_version_not_copied|2|PKG036|copies no file named "other.sys", the version file|perl -0pi -e 's|sw_key name="taldemo.sys"|sw_key name="other.sys"|' kz0120td.xml
driver_version_missing|2|PKG037|the version file's source "taldemo.sys" is not in the package|rm taldemo.sys
driver_version_differs|2|PKG038|carries version 1.2.0.0 but the package's version is 1.3.0.0: once installed it is found older|perl -0pi -e 's|<version value="1.2.0.0"/>|<version value="1.3.0.0"/>|' kz0120td.xml
driver_plugin_wrong|2|PKG070|(the package holds "install.dll", the plug-in for firmware packages)|rm -f drvinstall.dll libdrvinstall.so && touch install.dll
driver_pnp_own_line|2|PKG020|has no id text the plug-in reads|sed -i 's/type="LEGACY"/type="PNP"/' install.xml && perl -0pi -e 's|</prerequisites>|<supported_devices><supported_devices_and><supported_device type="pnp"><supported_device_data>\n  root\\taldemo\n</supported_device_data></supported_device></supported_devices_and></supported_devices></prerequisites>|' kz0120td.xml
EOT
)
check_cases "$TAL_BUILD_DIR/samples/driver" "$driver_cases"

# The same findings as one JSON document.
set +e
json=$(cd "$dir/image_version" && tal_run "$pkgcheck" --json 2>&1)
status=$?
set -e
[ "$status" = 2 ] || fail "--json: exit $status"
python3 -c '
import json, sys
doc = json.loads(sys.stdin.read())
assert doc["errors"] == 1 and doc["warnings"] == 0, doc
f = doc["findings"][0]
assert f["code"] == "PKG054" and f["severity"] == "error" and f["file"] == "Config.xml", f
assert "Orvo Varibay 6 HDD Backplane" in f["where"], f
' <<<"$json" || fail "pkgcheck --json is not the expected document: $json"

json=$(cd "$dir/config_broken" && tal_run "$pkgcheck" --json 2>&1) || true
python3 -c '
import json, sys
f = json.loads(sys.stdin.read())["findings"][0]
assert (f["code"], f["line"], f["column"]) == ("PKG041", 3, 3), f
' <<<"$json" || fail "pkgcheck --json gives no position for a broken Config.xml: $json"

# Every code pkgcheck can give is listed in the README and has a case above. PKG005 (the chosen
# package definition then fails to load) and PKG031 (the INF's section list unreadable) need a
# file that changes under pkgcheck or a reader that fails on its own.
source_codes=$(grep -oE '"PKG[0-9]{3}"' "$TAL_SOURCE_DIR/Tools/pkgcheck/main.cpp" | tr -d '"' | sort -u)
for code in $source_codes; do
  grep -qF "| \`$code\` |" "$TAL_SOURCE_DIR/README.md" || fail "$code is not in the README's table"
  case " PKG005 PKG031 $tested_codes " in
  *" $code "*) ;;
  *) fail "$code has no case in the table" ;;
  esac
done

# Hostile content: every file replaced by noise, deep nesting, an entity chain.
mkdir -p "$dir/hostile"
cp -r "$sample/." "$dir/hostile/"
head -c 5000 /dev/urandom >"$dir/hostile/Config.xml"
head -c 3000 /dev/urandom >"$dir/hostile/vlte_card.bin"
perl -e 'print "<tal_package>", "<a>" x 50000, "</a>" x 50000, "</tal_package>"' >"$dir/hostile/kz1.xml"
perl -e 'print "<!DOCTYPE d [<!ENTITY e0 \"x\">", (map { "<!ENTITY e$_ \"&e" . ($_ - 1) . ";\">" } 1..20000), "]><componentdependencies>&e20000;</componentdependencies>"' \
  >"$dir/hostile/dependency.xml"
printf '\xff\xfe<\0t\0a\0l\0' >"$dir/hostile/install.xml"
run "$dir/hostile"
[ "$status" = 2 ] || fail "hostile: exit $status:
$out"
expect_contains "$out" "pkgcheck: "
echo "pkgcheck: ok"
