#!/usr/bin/env bash
# Property 5 opens the channel to the simulated management processor and checks its version:
# the value is 6 (no card on these machines) whether the channel library is there, missing,
# failing, or behind a processor too old; the engine log says which. Install then answers each case
# truly: "No Device Found" when the channel works, else result 0 with "Error" and the cause (no
# "completed successfully" when nothing was done); also for a Config.xml that does not parse.
source "$TAL_E2E_DIR/common.sh"

channel_scratch channel  # no SMBIOS card records either
echo '{}' >"$descriptions/plain.json"
echo '{"processor": {"generation": 4, "major": 2, "minor": 19}}' >"$descriptions/old.json"
echo '{"faults": {"initialize_status": 7}}' >"$descriptions/noinit.json"

# run MACHINE HOST [ENV...]: talhost in the package folder (or $package); its answers in $out,
# what it added to the engine log in $log.
run() {
  local machine=$1 host=$2
  shift 2
  mkdir -p "$logdir"
  local before
  before=$(stat -c %s "$logdir/Verbose.log" 2>/dev/null || echo 0)
  # Install fails on each of these machines: exit status 1.
  local rc=0
  out=$(cd "${package:-$dir/package}" &&
    env TAL_MACHINE="$machine" "$@" $TAL_RUN "$host" --steps 5,install 2>&1) || rc=$?
  [ "$rc" = 1 ] || fail "talhost on $machine exited with $rc, not 1: $out"
  log=$(tail -c +"$((before + 1))" "$logdir/Verbose.log" 2>/dev/null | tr -d '\r' || true)
  expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=6 (no supported hardware present and nothing installed)'
}

nothing='install: result=0 (failure) text="Error\r\nNothing was done: '
run "$descriptions/plain.json" "$TAL_HOST"
expect_contains "$out" 'install: result=0 (failure) text="No Device Found\r\n"'
expect_contains "$log" "TalCi.dll found"
expect_contains "$log" "Initialize the channel interface success."
expect_contains "$log" "EX: Ost Major Version: 2 Minor Version: 20 application: 4"
expect_contains "$log" "Connection to target channel closed."

run "$descriptions/old.json" "$TAL_HOST"
expect_contains "$log" "EX: Ost Major Version: 2 Minor Version: 19 application: 4"
expect_contains "$log" "Check dependency failed."
expect_contains "$log" "Current version: Ost4 2.19."
expect_contains "$log" "Minimum version required: Ost4 2.20"
expect_contains "$out" "$nothing"'the management processor'"'"'s firmware is too old (Ost4 2.19; Ost4 2.20 or later is required).\r\n"'

run "$descriptions/noinit.json" "$TAL_HOST"
expect_contains "$log" "Initialize the channel interface failed: 7"
expect_contains "$log" "initialize channel interface failed."
expect_contains "$out" "$nothing"'the channel to the management processor could not be opened.\r\n"'

# A Config.xml that does not parse.
cp -r "$dir/package" "$dir/badconfig"
echo '<Devices><Device>' >"$dir/badconfig/Config.xml"
package="$dir/badconfig" run "$descriptions/plain.json" "$TAL_HOST"
expect_contains "$log" "create config info failed."
expect_contains "$out" "$nothing"'the package could not be read: Config.xml is missing or not well-formed.\r\n"'

# No channel library: natively it is not on the library path; on Windows talhost and the plug-in
# run from a folder without TalCi.dll.
if [ "$TAL_WINDOWS" = 0 ]; then
  run "$descriptions/plain.json" "$TAL_HOST" LD_LIBRARY_PATH=
else
  mkdir -p "$dir/alone"
  cp "$TAL_HOST" "$TAL_PLUGIN" "$dir/alone/"
  run "$descriptions/plain.json" "$dir/alone/$(basename "$TAL_HOST")"
fi
expect_contains "$log" "Setup is unable to load a setup DLL: TalCi.dll"
expect_contains "$log" "initialize channel interface failed."
expect_contains "$out" "$nothing"'the channel library TalCi.dll could not be loaded.\r\n"'
! grep -q "TalCi.dll found" <<<"$log" || fail "the channel library was found: $log"
echo "channel end to end: ok"
