#!/usr/bin/env bash
# The host's name, description and version questions answered from the package definition in the
# host's language ("en" when the package has none in it); a Shift_JIS package read as code page
# 932; a package listing only other systems gives property 5 the localised OS text while the
# status stays the engine's; install.xml read, and a broken one reported.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
export SYSTEMDRIVE="$dir"
pkg="$dir/package"
mkdir -p "$pkg"
cp -r "$TAL_BUILD_DIR/samples/package/." "$pkg/"
cd "$pkg"

answers() {
  local out
  out=$(tal_run "$TAL_HOST" --steps 1,2,4 --lang "$1" 2>&1) || fail "talhost --lang $1: exit $?: $out"
  printf '%s\n' "$out"
}

en_name='Orvo Varibay Switch Card and Backplane Firmware'
en_desc='Updates the firmware of the Orvo Varibay 6 HDD switch cards (Velto-E)'
# lang | name | start of the description
while IFS='|' read -r lang name desc; do
  out=$(answers "$lang")
  expect_contains "$out" "property 1 (name): result=1 (answered) text=\"$name\""
  expect_contains "$out" "property 2 (description): result=1 (answered) text=\"$desc"
  expect_contains "$out" 'property 4 (package version): result=1 (answered) text="1.12"'
done <<EOT
en|$en_name|$en_desc
DE|Orvo Varibay Firmware für Switch-Karte und Backplane|Aktualisiert die Firmware
fr|Micrologiciel Orvo Varibay de la carte de commutation et du fond de panier|$en_desc
ja|Orvo Varibay スイッチカードおよびバックプレーン ファームウェア|Orvo Varibay 6 HDD スイッチカード
it|$en_name|$en_desc
EOT

# A Shift_JIS package: half-width forms from the byte map, two-byte sequences as code page 932
# (U+FF5E and the circled one are its own).
mkdir -p "$dir/sjis"
printf '<?xml version="1.0" encoding="Shift_JIS"?>\n<tal_package><name><name_xlate lang="ja">\x83\x74\x83\x40\x81\x60\x87\x40\xB1</name_xlate></name><description><description_xlate lang="en"><![CDATA[\x82\xA0 \x82\xA2]]></description_xlate></description><version value="2.0.1"/></tal_package>\n' \
  >"$dir/sjis/kzsjis.xml"
out=$(cd "$dir/sjis" && answers ja)
expect_contains "$out" 'property 1 (name): result=1 (answered) text="ファ～①ｱ"'
expect_contains "$out" 'property 2 (description): result=1 (answered) text="あ い"'
expect_contains "$out" 'property 4 (package version): result=1 (answered) text="2.0.1"'

# Only other systems: the OS text in the host's language column (Italian's is English), the
# status as the engine answers it for the same package on a supported system.
status_of() { sed -n 's/^property 5 (installation status): result=1 (answered) status=\([0-9]* ([^)]*)\) text=.*/\1/p' <<<"$1"; }
supported=$(tal_run "$TAL_HOST" --steps 5 --lang de 2>&1) || fail "talhost: $supported"
engine=$(status_of "$supported")
[ -n "$engine" ] || fail "no property-5 answer: $supported"
mkdir -p "$dir/other"
cp -r "$pkg/." "$dir/other/"
sed -i 's|<supported_operating_system [^>]*/>|<supported_operating_system platform="nt" major="5" minor="2"/>|' \
  "$dir/other/kz0110vb.xml"
cd "$dir/other"
out=$(tal_run "$TAL_HOST" --steps 5 --lang de 2>&1) || fail "talhost: $out"
expect_contains "$out" "property 5 (installation status): result=1 (answered) status=$engine text=\"Das Betriebssystem wird nicht unterstützt\\r\\n\""
out=$(tal_run "$TAL_HOST" --steps 5 --lang it 2>&1) || fail "talhost: $out"
expect_contains "$out" "property 5 (installation status): result=1 (answered) status=$engine text=\"The OS is not supported.\\r\\n\""

# dependency.xml: the model the system reports (wine's WMI says "Wine"; natively the machine
# description's) passes; another fails with the framework's text, the status still the engine's.
mkdir -p "$dir/dep"
cp -r "$pkg/." "$dir/dep/"
cd "$dir/dep"
model=Wine
if [ "$TAL_WINDOWS" = 0 ]; then
  model="TAL Test Server"
  printf '{"computer_model": "%s"}\n' "$model" >"$dir/machine.json"
  export TAL_MACHINE="$dir/machine.json"
fi
dependency_xml dependency.xml "$model "
out=$(tal_run "$TAL_HOST" --steps 5 2>&1) || fail "talhost: $out"
expect_contains "$out" "property 5 (installation status): result=1 (answered) status=$engine text=\"\""
dependency_xml dependency.xml "Another Server"
out=$(tal_run "$TAL_HOST" --steps 5 2>&1) || fail "talhost: $out"
expect_contains "$out" "property 5 (installation status): result=1 (answered) status=$engine text=\"System model not supported.\""
unset TAL_MACHINE

# install.xml: read with the package; one that is not well-formed is reported in the verbose log.
if [ "$TAL_WINDOWS" = 0 ]; then
  cd "$pkg"
  tal_run "$TAL_HOST" --steps 4 -- /verbose_log >/dev/null 2>&1 || fail "talhost /verbose_log"
  verbose=$(cat "$dir"/talsystem/log/_KZ* 2>/dev/null | tr -d '\r')
  expect_contains "$verbose" "Reading installer XML install.xml... Done."
  expect_contains "$verbose" "Reading package definition file kz0110vb.xml... Done."
  rm -f "$dir"/talsystem/log/_KZ*
  printf '<tal_install><inf_information>' >"$dir/other/install.xml"
  cd "$dir/other"
  tal_run "$TAL_HOST" --steps 4 -- /verbose_log >/dev/null 2>&1 || fail "talhost /verbose_log"
  verbose=$(cat "$dir"/talsystem/log/_KZ* 2>/dev/null | tr -d '\r')
  expect_contains "$verbose" "Reading installer XML install.xml... Failed!"
fi
echo "package properties: ok"
