#!/usr/bin/env bash
# Property 5 opens the channel to the simulated management processor and checks its version:
# the value is 6 (no card on these machines) whether the channel library is there, missing,
# failing, or behind a processor too old; the engine log says which. Natively the engine log lies
# on the scratch drive; under wine it is on the current drive's root, so there only the answers
# are checked (and a Linux path in TAL_MACHINE is reached through Z:).
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cp -r "$TAL_BUILD_DIR/samples/package" "$dir/package"
export SYSTEMDRIVE="$dir/drive"
# A processor without boards: no SMBIOS card records either.
echo '{}' >"$dir/plain.json"
echo '{"processor": {"generation": 4, "major": 2, "minor": 19}}' >"$dir/old.json"
echo '{"faults": {"initialize_status": 7}}' >"$dir/noinit.json"
if [ "$TAL_WINDOWS" = 0 ]; then
  : >"$dir/none.smbios"
  export TAL_SMBIOS_TABLE="$dir/none.smbios"
fi

# run MACHINE HOST: talhost in the package folder; prints its answers, leaves the engine log in
# $log (native).
run() {
  rm -rf "$SYSTEMDRIVE"
  mkdir -p "$SYSTEMDRIVE/talsystem/log"
  out=$(cd "$dir/package" && TAL_MACHINE="$1" tal_run "$2" --steps 5 2>&1) ||
    fail "talhost on $1 exited with $?: $out"
  log=$(cat "$SYSTEMDRIVE/talsystem/log/Verbose.log" 2>/dev/null || true)
}
native() { [ "$TAL_WINDOWS" = 0 ]; }

run "$dir/plain.json" "$TAL_HOST"
expect_contains "$out" 'property 5: result=1 status=6'
if native; then
  expect_contains "$log" "TalCi.dll found"
  expect_contains "$log" "Initialize the channel interface success."
  expect_contains "$log" "EX: Ost Major Version: 2 Minor Version: 20 application: 4"
  expect_contains "$log" "Connection to target channel closed."
fi

run "$dir/old.json" "$TAL_HOST"
expect_contains "$out" 'property 5: result=1 status=6'
if native; then
  expect_contains "$log" "EX: Ost Major Version: 2 Minor Version: 19 application: 4"
  expect_contains "$log" "Check dependency failed."
  expect_contains "$log" "Current version: Ost4 2.19."
  expect_contains "$log" "Minimum version required: Ost4 2.20"
fi

run "$dir/noinit.json" "$TAL_HOST"
expect_contains "$out" 'property 5: result=1 status=6'
if native; then
  expect_contains "$log" "Initialize the channel interface failed: 7"
  expect_contains "$log" "initialize channel interface failed."
fi

# No channel library: natively it is not on the library path; on Windows talhost and the plug-in
# run from a folder without TalCi.dll.
if native; then
  out=$(cd "$dir/package" && rm -rf "$SYSTEMDRIVE" && mkdir -p "$SYSTEMDRIVE/talsystem/log" &&
    LD_LIBRARY_PATH= TAL_MACHINE="$dir/plain.json" "$TAL_HOST" --steps 5 2>&1) ||
    fail "talhost without the channel library exited with $?: $out"
  log=$(cat "$SYSTEMDRIVE/talsystem/log/Verbose.log" 2>/dev/null || true)
  expect_contains "$log" "Setup is unable to load a setup DLL: TalCi.dll"
  expect_contains "$log" "initialize channel interface failed."
else
  mkdir -p "$dir/alone"
  cp "$TAL_HOST" "$TAL_PLUGIN" "$dir/alone/"
  run "$dir/plain.json" "$dir/alone/$(basename "$TAL_HOST")"
fi
expect_contains "$out" 'property 5: result=1 status=6'
echo "channel end to end: ok"
