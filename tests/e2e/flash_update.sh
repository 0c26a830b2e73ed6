#!/usr/bin/env bash
# A full update of the sample machine (two cards, four backplanes): every image verified byte for
# byte against its payload, every lock, handshake and port released, the fixed waits asked for.
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

flash_setup
# Without --install nothing is written to any device, whatever follows "--" for the plug-in;
# talhost shows the status and the devices due and exits 0.
for args in "" "-- -f"; do
  # shellcheck disable=SC2086  # the arguments split as a user types them
  run_talhost $args
  [ "$rc" = 0 ] || fail "talhost $args exited with $rc: $out"
  expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=2'
  expect_contains "$out" '  Controller card 1 (segment 1): Orvo Varibay 6 HDD Switch Card, 1.05 -> 1.12, upgrade'
  ! grep -q '^install' <<<"$out" || fail "talhost $args ran Install: $out"
  expect_card_untouched 1
  expect_card_untouched 3
  for port in 0 1 2; do expect_backplane_untouched 1 "$port"; done
  expect_backplane_untouched 3 0
done

flash_setup
run_host
[ "$rc" = 3 ] || fail "talhost exited with $rc, not 3 (success, power cycle required): $out"
expect_contains "$out" 'install: result=2 (success, power cycle required) text="'
expect_contains "$out" 'Installation completed successfully.\r\n'
expect_contains "$out" 'Power cycle is required after installation for updates to take effect.\r\n'
expect_card_flashed 1
expect_card_flashed 3
for port in 0 1 2; do expect_backplane_flashed 1 "$port"; done
expect_backplane_flashed 3 0
expect_released
log=$(engine_log)
expect_contains "$log" "Update success: 'Controller card 1: Orvo Varibay 6 HDD Switch Card'"
expect_contains "$log" "Update success: 'Backplane 3: Orvo Varibay 6 HDD Backplane'"
expect_contains "$log" "flash success for 6 devices"
# The progress file beside the logs: six devices, each ended in success, progress up to 100 %.
progress=$dir/drive/talsystem/log/talprogress.log
[ "$(jq -sc '[.[] | select(.event == "end") | .result] | unique' "$progress")" = '["success"]' ] &&
  [ "$(jq -sc '[.[] | select(.event == "progress" and .percent == 100)] | length' "$progress")" = 6 ] &&
  [ "$(jq -sc '.[-1] | [.event, .result, .updated, .failed]' "$progress")" = '["finish",2,6,0]' ] ||
  fail "progress file: $(cat "$progress")"
# Fixed waits: per card a lock and an unlock (2 s each) and two 64 KiB pauses (1 s each); per
# backplane a lock and an unlock, the erase (5 s) and 6,527 page pauses (1 ms each).
# The progress the plug-in published (when it does) is shown: each device, its percentage, the
# end of the run.
if [ -s "$dir/drive/talsystem/log/talprogress.log" ]; then
  expect_contains "$out" "progress: [1/6]"
  expect_contains "$out" "progress: [6/6]"
  grep -qE '^progress: \[1/6\] .*: 100% \(' <<<"$out" || fail "no 100% line for device 1: $out"
  expect_contains "$out" "progress: finished: result=2 (success, power cycle required), 6 updated, 0 failed"
fi
slept=$(cat "$dir/slept.txt")
[ "$slept" -ge $((2 * 6000 + 4 * 15527)) ] || fail "waits asked for: $slept ms"
echo "flash update: 6 devices verified, waits $slept ms"
