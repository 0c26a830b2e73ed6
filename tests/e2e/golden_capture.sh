#!/usr/bin/env bash
# The golden capture: the sample update (samples/machine.json, the sample package) recorded
# against the simulator and kept in tests/e2e/golden/sample_update.jsonl.gz.
#   - replayed, it gives what the live run gives (every property and the Install result);
#   - the live run's own capture holds the same calls, bytes and statuses as the golden one, so
#     a change in the traffic or in the simulator's answers is seen (talsim capture --against
#     names the first call that differs; a simulator answering one version otherwise is caught);
#   - replayed with another card image, it reports the divergence and no success.
# After an intended change of the traffic, rewrite the golden capture with:
#   TAL_GOLDEN_REWRITE=1 ctest --test-dir build -R e2e_golden_capture
source "$TAL_E2E_DIR/common.sh"

golden=$TAL_SOURCE_DIR/tests/e2e/golden/sample_update.jsonl.gz
dir=$(fresh_scratch)
mkdir -p "$dir/drive"
cp -r "$TAL_SAMPLES/package" "$dir/package"
cp -r "$TAL_BUILD_DIR/samples/package/." "$dir/package/"
"$TAL_BIN_DIR/talsim" smbios "$TAL_SAMPLES/machine.json" "$dir/smbios.bin" >/dev/null ||
  fail "talsim smbios failed"

# host PACKAGE MACHINE [VAR=value...]: talhost in the package folder, sleeps instant; sets $out.
host() {
  local package=$1 machine=$2
  shift 2
  set +e
  out=$(cd "$package" && env TAL_MACHINE="$machine" SYSTEMDRIVE="$dir/drive" \
    LD_PRELOAD="$TAL_FASTSLEEP" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
    "$@" "$TAL_HOST" --plugin "$TAL_PLUGIN" --install 2>&1)
  set -e
}

# The live run against the simulator, recorded.
host "$dir/package" "$TAL_SAMPLES/machine.json" TAL_SMBIOS_TABLE="$dir/smbios.bin" \
  TAL_CHANNEL_RECORD="$dir/live.jsonl"
live=$out
expect_contains "$live" 'install: result=2 (success, power cycle required) text="Installation completed successfully.'
[ -s "$dir/live.jsonl" ] || fail "no capture written"

if [ "${TAL_GOLDEN_REWRITE:-0}" = 1 ]; then
  gzip -9n <"$dir/live.jsonl" >"$golden"
  echo "golden capture rewritten: $golden ($(wc -l <"$dir/live.jsonl") lines)"
  exit 0
fi

gzip -dc "$golden" >"$dir/golden.jsonl"
# The simulator held to the capture: the live run's calls and the simulator's answers, call for
# call, as a real processor's capture would be compared (the first difference in one line).
set +e
held=$("$TAL_BIN_DIR/talsim" capture --against "$dir/golden.jsonl" "$dir/live.jsonl" 2>&1)
rc=$?
set -e
[ "$rc" = 0 ] || fail "the simulator no longer answers as the golden capture: $held
rewrite it after an intended change: TAL_GOLDEN_REWRITE=1 ctest --test-dir build -R e2e_golden_capture"
# A simulator that answers one thing otherwise (processor version 2.21 instead of 2.20): the first
# differing response is named.
jq '.processor.minor = 21' "$TAL_SAMPLES/machine.json" >"$dir/other_processor.json"
(cd "$dir/package" && env TAL_MACHINE="$dir/other_processor.json" SYSTEMDRIVE="$dir/drive" \
  TAL_SMBIOS_TABLE="$dir/smbios.bin" TAL_CHANNEL_RECORD="$dir/other.jsonl" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  "$TAL_HOST" --plugin "$TAL_PLUGIN" --steps 5 >/dev/null 2>&1) || fail "talhost failed"
set +e
held=$("$TAL_BIN_DIR/talsim" capture --against "$dir/golden.jsonl" "$dir/other.jsonl" 2>&1)
rc=$?
set -e
[ "$rc" = 1 ] || fail "talsim --against answered $rc for another processor version: $held"
expect_contains "$held" 'capture differs at call 4 (reference line 5, line 5, the response at byte 16): expected recv'
[ "$(wc -l <<<"$held")" = 1 ] || fail "more than one line: $held"

# The traffic, without what differs from run to run (times, the command line's paths).
traffic() { jq -c 'del(.us, .time, .command_line)' "$1"; }
if ! diff <(traffic "$dir/golden.jsonl") <(traffic "$dir/live.jsonl") >"$dir/traffic.diff"; then
  fail "the sample update's traffic differs from the golden capture (first differences below;
rewrite it after an intended change: TAL_GOLDEN_REWRITE=1 ctest --test-dir build -R e2e_golden_capture)
$(head -n 8 "$dir/traffic.diff" | cut -c1-300)"
fi

# Replayed: no table file, the capture brings its own.
echo '{"replay": "golden.jsonl"}' >"$dir/replay.json"
host "$dir/package" "$dir/replay.json"
if grep -q 'replay diverged' <<<"$out"; then fail "the replay diverged: $out"; fi
# The answers, without the progress lines (their elapsed times differ from run to run).
answers() { grep -v '^progress: ' <<<"$1" || true; }
[ "$(answers "$out")" = "$(answers "$live")" ] || fail "the replay answered otherwise than the live run:
$(diff <(answers "$live") <(answers "$out"))"

# Another card image: the transfer's bytes differ from the capture's.
cp -r "$dir/package" "$dir/other"
"$TAL_BIN_DIR/fwimage" make -t VeltoE -r 1.12 -c 1 -g 70000:7 "$dir/other/vlte_card.bin" \
  >/dev/null || fail "fwimage failed"
host "$dir/other" "$dir/replay.json"
expect_contains "$out" 'replay diverged at call '
[ "$(grep -c 'replay diverged' <<<"$out")" = 1 ] || fail "more than one divergence line: $out"
expect_contains "$out" 'install: result=0 (failure)'
if grep -q 'completed successfully' <<<"$out"; then fail "success reported: $out"; fi
echo "golden capture: $(wc -l <"$dir/golden.jsonl") lines replayed"
