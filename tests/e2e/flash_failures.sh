#!/usr/bin/env bash
# Each failure switch of the two procedures on one device of the sample machine: that device is
# reported with its error code, the install answers "Error" and result 0 and a line naming the
# device, its place, the step that failed and its state, the other devices are still flashed, and
# nothing is left locked or held.
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

card1="Controller card 1: Orvo Varibay 6 HDD Switch Card"
bp2="Backplane 2: Orvo Varibay 6 HDD Backplane"
cpld2='.segments[0].card.backplanes[1].cpld'
at1="$card1 (segment 1)"
at2="$bp2 (segment 1, port 1)"
same="not changed."
erased="firmware erased, not rewritten: the device will not work until this update is run again; do not power the server off."
unknown="state unknown: run the update again."
# name | machine filter | failing device | error code | failing device as SEG/PORT (card: SEG) |
#   the line after "Error"
cases=(
  "loader answers CAN first|.segments[0].card.loader = {\"first_answer\": \"CAN\"}|$card1|-1|1|$at1: waiting for the firmware loader to get ready failed: $same"
  "loader NAK after block 100|.segments[0].card.loader = {\"answer_at_block\": 100}|$card1|-1|1|$at1: the transfer at block 100 failed: $unknown"
  "loader unknown answer|.segments[0].card.loader = {\"answer_at_block\": 2, \"answer\": 7}|$card1|-1|1|$at1: the transfer at block 2 failed: $unknown"
  "loader block write fails|.segments[0].card.loader = {\"write_fails_at_block\": 3}|$card1|-1|1|$at1: the transfer at block 3 failed: $unknown"
  "loader end of transfer fails|.segments[0].card.loader = {\"end_fails\": true}|$card1|-1|1|$at1: the end of the transfer (EOT) failed: $unknown"
  "loader unlock fails|.segments[0].card.loader = {\"unlock_fails\": true}|$card1|-1|1|$at1: unlocking the firmware loader failed: $same"
  "lock fails|.faults.lock_ignored = 1|$card1|-1|1|$at1: taking the device-access lock on the management processor failed: $same"
  "cpld open fails|$cpld2 = {\"faults\": [{\"command\": \"enable\"}]}|$bp2|42|1/1|$at2: opening the CPLD's configuration interface failed: $same"
  "cpld fail bit at a page|$cpld2 = {\"faults\": [{\"command\": \"cfg_page\", \"at\": 9, \"effect\": \"fail\"}]}|$bp2|-1|1/1|$at2: programming the CPLD's configuration flash failed: $erased"
  "cpld busy for ever|$cpld2 = {\"faults\": [{\"command\": \"erase\", \"effect\": \"busy\"}]}|$bp2|-1|1/1|$at2: erasing the CPLD failed: $erased"
  "cpld ufm page fails|$cpld2 = {\"faults\": [{\"command\": \"ufm_page\", \"at\": 5}]}|$bp2|42|1/1|$at2: programming the CPLD's user flash (UFM) failed: $erased"
  "cpld close fails|$cpld2 = {\"faults\": [{\"command\": \"close\"}]}|$bp2|42|1/1|$at2: closing the CPLD's configuration interface failed: $unknown"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name filter device code where line <<<"$c"
  flash_setup "$filter"
  run_host
  [ "$rc" = 1 ] || fail "$name: talhost exited with $rc, not 1 (failure): $out"
  expect_contains "$out" "install: result=0 (failure) text=\"Error\\r\\n$line\\r\\n\""
  expect_contains "$(cat "$dir"/drive/talsystem/log/talsetup.log)" "$line"
  log=$(engine_log)
  expect_contains "$log" "Update failed: '$device'. Error code: $code"
  expect_contains "$log" "flash success for 5 devices"
  # The others hold their images.
  [ "$where" = 1 ] || expect_card_flashed 1
  expect_card_flashed 3
  for port in 0 1 2; do [ "$where" = "1/$port" ] || expect_backplane_flashed 1 "$port"; done
  expect_backplane_flashed 3 0
  expect_released
  echo "flash failure: $name: ok"
done
