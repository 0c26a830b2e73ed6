#!/usr/bin/env bash
# Each failure switch of the two procedures on one device of the sample machine: that device is
# reported with its error code, the install answers "Error" and result 0, the other devices are
# still flashed, and nothing is left locked or held.
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

card1="Controller card 1: Orvo Varibay 6 HDD Switch Card"
bp2="Backplane 2: Orvo Varibay 6 HDD Backplane"
cpld2='.segments[0].card.backplanes[1].cpld'
# name | machine filter | failing device | error code | failing device as SEG/PORT (card: SEG)
cases=(
  "loader answers CAN first|.segments[0].card.loader = {\"first_answer\": \"CAN\"}|$card1|-1|1"
  "loader NAK after block 100|.segments[0].card.loader = {\"answer_at_block\": 100}|$card1|-1|1"
  "loader unknown answer|.segments[0].card.loader = {\"answer_at_block\": 2, \"answer\": 7}|$card1|-1|1"
  "loader block write fails|.segments[0].card.loader = {\"write_fails_at_block\": 3}|$card1|-1|1"
  "loader unlock fails|.segments[0].card.loader = {\"unlock_fails\": true}|$card1|-1|1"
  "lock fails|.faults.lock_ignored = 1|$card1|-1|1"
  "cpld open fails|$cpld2 = {\"faults\": [{\"command\": \"enable\"}]}|$bp2|42|1/1"
  "cpld fail bit at a page|$cpld2 = {\"faults\": [{\"command\": \"cfg_page\", \"at\": 9, \"effect\": \"fail\"}]}|$bp2|-1|1/1"
  "cpld busy for ever|$cpld2 = {\"faults\": [{\"command\": \"erase\", \"effect\": \"busy\"}]}|$bp2|-1|1/1"
  "cpld ufm page fails|$cpld2 = {\"faults\": [{\"command\": \"ufm_page\", \"at\": 5}]}|$bp2|42|1/1"
  "cpld close fails|$cpld2 = {\"faults\": [{\"command\": \"close\"}]}|$bp2|42|1/1"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name filter device code where <<<"$c"
  flash_setup "$filter"
  run_host
  [ "$rc" = 0 ] || fail "$name: talhost exited with $rc: $out"
  expect_contains "$out" 'install: result=0 text="'
  expect_contains "$out" 'Error\r\n'
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
