#!/usr/bin/env bash
# Soak through the whole stack, on a card with one backplane: the random-fault mode over several
# seeds, and answers of the header alone at places spread over a run. No device reported as
# updated after a random failure hit a transaction that its procedure checks, or holding anything
# but its image; nothing left locked or held.
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

card="Controller card 1: Orvo Varibay 6 HDD Switch Card"
bp="Backplane 1: Orvo Varibay 6 HDD Backplane"
ok=0
failed=0
for seed in 1 2 3 4 5 6 7 8; do
  flash_setup ".segments = [.segments[0]] | .segments[0].card.backplanes = [.segments[0].card.backplanes[0]]
               | .flash_random = {\"seed\": $seed, \"write_fail\": 0.00005, \"read_fail\": 0.00005,
                                  \"flip\": 0.00005}"
  run_host
  log=$(engine_log)
  if grep -qF "Update success: '$card'" <<<"$log"; then
    [ "$(rec '.cards[0].loader.random.checked_failure')" = false ] ||
      fail "seed $seed: card reported updated after a failed checked transaction"
    expect_card_flashed 1
    ok=$((ok + 1))
  else
    failed=$((failed + 1))
  fi
  if grep -qF "Update success: '$bp'" <<<"$log"; then
    [ "$(rec '.cards[0].backplanes[0].cpld.random.checked_failure')" = false ] ||
      fail "seed $seed: backplane reported updated after a failed checked transaction"
    ok=$((ok + 1))
  else
    failed=$((failed + 1))
  fi
  [ "$(rec '[.cards[] | .handshake_held] | any')" = false ] || fail "seed $seed: handshake held"
  [ "$(rec '.cards[0].port_mask')" = 0 ] || fail "seed $seed: port selected"
  [ "$(rec '[.cards[0].loader.locked, .cards[0].backplanes[0].cpld.locked] | any')" = false ] ||
    fail "seed $seed: a device left locked"
done

# One request, at places spread over the whole run, answered with the header alone (LEN 8 in a
# response of the usual size) and not carried out: a device reported updated holds its image.
for after in 100 400 1500 3000 8000 20000 35000 60000; do
  flash_setup ".segments = [.segments[0]] | .segments[0].card.backplanes = [.segments[0].card.backplanes[0]]
               | .faults = {\"header_only_len\": 1, \"header_only_after\": $after}"
  run_host
  log=$(engine_log)
  if grep -qF "Update success: '$card'" <<<"$log"; then expect_card_flashed 1; ok=$((ok + 1)); else
    failed=$((failed + 1))
  fi
  if grep -qF "Update success: '$bp'" <<<"$log"; then expect_backplane_flashed 1 0; ok=$((ok + 1)); else
    failed=$((failed + 1))
  fi
done
echo "flash soak: $ok updates succeeded, $failed failed, none falsely"
