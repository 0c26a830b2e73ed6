#!/usr/bin/env bash
# A capture recorded against the simulator and replayed, natively and on the Windows build under
# wine: the replay answers as the recorded run did; it keeps the recorded timing only when the
# description asks ("replay_delays"); talsim capture checks and summarises it, and refuses a
# damaged one with its line, as the channel library does.
#
# Under wine the plug-in reads SMBIOS from the firmware, and wine makes that table itself from a
# few of the host's identity strings (BIOS, system, board and chassis records, nothing else): no
# run under wine sees a switch card, so the recorded run is the no-card one (the processor's
# version check, then "No Device Found"), and the golden capture of the sample update, replayed
# under wine, must diverge where discovery stops and report no success.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
mkdir -p "$dir/drive"
cp -r "$TAL_BUILD_DIR/samples/package" "$dir/drive/package"
talsim=("$TAL_BIN_DIR/talsim$TAL_EXE")
if [ "$TAL_WINDOWS" = 1 ]; then
  talsim=("$TAL_RUN" "${talsim[@]}")
  record="Z:$dir/capture.jsonl"
  steps=5,3,install
else
  "$TAL_BIN_DIR/talsim" smbios "$TAL_SAMPLES/machine.json" "$dir/smbios.bin" >/dev/null ||
    fail "talsim smbios failed"
  export TAL_SMBIOS_TABLE="$dir/smbios.bin"
  record="$dir/capture.jsonl"
  steps=5,3
fi

# host MACHINE [VAR=value...]: talhost in the package folder, SYSTEMDRIVE the scratch drive;
# its output in $out, its wall time in $ms.
host() {
  local machine=$1 start
  shift
  start=$(date +%s%N)
  set +e
  out=$(cd "$dir/drive/package" && env SYSTEMDRIVE="$dir/drive" TAL_MACHINE="$machine" "$@" \
    $TAL_RUN "$TAL_HOST" --plugin "$TAL_PLUGIN" --steps "$steps" 2>&1)
  set -e
  ms=$((($(date +%s%N) - start) / 1000000))
}

host "$TAL_SAMPLES/machine.json" TAL_CHANNEL_RECORD="$record"
recorded=$out
[ -s "$dir/capture.jsonl" ] || fail "no capture written: $out"
check=$("${talsim[@]}" capture --check "$dir/capture.jsonl" 2>&1) || fail "talsim --check: $check"
summary=$("${talsim[@]}" capture "$dir/capture.jsonl" 2>&1) || fail "talsim capture: $summary"
expect_contains "$summary" "calls: "
if [ "$TAL_WINDOWS" = 1 ]; then
  expect_contains "$recorded" 'install: result=0 (failure) text="No Device Found'
  expect_contains "$summary" "SMBIOS: product \"\", 0 device-correlation records"
else
  expect_contains "$recorded" 'property 5 (installation status): result=1 (answered) status=2 '
  expect_contains "$summary" "SMBIOS: product \"Tal Systems TS-900 Storage Server\", 2 device-correlation records"
  expect_contains "$summary" "segment 3 address 0xAE: "
  unset TAL_SMBIOS_TABLE  # the replay takes the capture's table
fi

# Replayed at full speed, and with the recorded timing stretched to 4 s and kept.
echo '{"replay": "capture.jsonl"}' >"$dir/replay.json"
host "$dir/replay.json"
if grep -q 'replay diverged' <<<"$out"; then fail "the replay diverged: $out"; fi
[ "$out" = "$recorded" ] || fail "the replay answered otherwise than the recorded run:
$(diff <(echo "$recorded") <(echo "$out"))"
full=$ms
last=$(jq -s 'map(.us // 0) | max' "$dir/capture.jsonl")
first=$(jq -s 'map(select(.call) | .us) | min' "$dir/capture.jsonl")
jq -c --argjson f "$first" --argjson l "$last" \
  'if .us then .us = $f + ((.us - $f) * (4000000 / ($l - $f)) | floor) else . end' \
  "$dir/capture.jsonl" >"$dir/slow.jsonl"
echo '{"replay": "slow.jsonl", "replay_delays": true}' >"$dir/paced.json"
echo '{"replay": "slow.jsonl"}' >"$dir/unpaced.json"
host "$dir/paced.json"
[ "$out" = "$recorded" ] || fail "the paced replay answered otherwise: $out"
paced=$ms
host "$dir/unpaced.json"
unpaced=$ms
echo "replay of a capture recorded over 4000 ms: with delays $paced ms, full speed $unpaced ms" \
  "(first replay $full ms)"
[ "$paced" -ge 4000 ] || fail "the paced replay took $paced ms, less than the 4000 ms recorded"
[ "$unpaced" -lt 4000 ] || fail "the replay at full speed took $unpaced ms"

# A damaged capture: talsim names the line, the library refuses it and nothing succeeds.
sed '3s/"result":0/"result":-1/' "$dir/capture.jsonl" >"$dir/bad.jsonl"
set +e
bad=$("${talsim[@]}" capture --check "$dir/bad.jsonl" 2>&1)
rc=$?
set -e
[ "$rc" = 1 ] || fail "talsim --check answered $rc on a damaged capture: $bad"
expect_contains "$bad" 'line 3: "result" is not a 32-bit unsigned number'
echo '{"replay": "bad.jsonl"}' >"$dir/bad.json"
host "$dir/bad.json"
expect_contains "$out" 'line 3: "result" is not a 32-bit unsigned number'
if grep -q 'status=2\|completed successfully' <<<"$out"; then fail "a damaged replay succeeded: $out"; fi

if [ "$TAL_WINDOWS" != 1 ]; then
  # An SMBIOS line past the bound (1 MiB): refused with its line (by the channel library, which
  # reads the capture first; the platform's own SMBIOS reader keeps the same bound), no success.
  head -c 600000 /dev/zero | od -An -v -tx1 | tr -d ' \n' >"$dir/big.hex"
  jq -c --rawfile big "$dir/big.hex" 'if .smbios then .smbios = $big else . end' \
    "$dir/capture.jsonl" >"$dir/huge.jsonl"
  echo '{"replay": "huge.jsonl"}' >"$dir/huge.json"
  host "$dir/huge.json"
  expect_contains "$out" 'line 6: longer than 1048576'
  if grep -q 'status=2\|completed successfully' <<<"$out"; then fail "an oversized replay succeeded: $out"; fi
fi

if [ "$TAL_WINDOWS" = 1 ]; then
  # The golden capture (cards on segments 1 and 3): wine's table has none, so the plug-in stops
  # after the version check where the capture goes on to read the cards.
  gzip -dc "$TAL_SOURCE_DIR/tests/e2e/golden/sample_update.jsonl.gz" >"$dir/golden.jsonl"
  echo '{"replay": "golden.jsonl"}' >"$dir/golden.json"
  host "$dir/golden.json"
  expect_contains "$out" 'replay diverged at call 5 (capture line 7): expected send '
  expect_contains "$out" '; got close'
  [ "$(grep -c 'replay diverged' <<<"$out")" = 1 ] || fail "more than one divergence line: $out"
  if grep -q 'completed successfully' <<<"$out"; then fail "success reported: $out"; fi
fi
echo "capture replay: ok"
