#!/usr/bin/env bash
# Which devices an update flashes: by version (older only), with -e (also the same version),
# -g (also newer), -f (all), and the force path of property 5 when every device has the package's
# version (state 3) or some are newer and none older (state 4).
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

# Card 1 as the package (1.12) with its backplanes (2.05); card 2 newer (1.20) with an older
# backplane (2.04).
mixed='.segments[0].card.version = "1.12" | .segments[0].card.backplanes[].version = "2.05"
       | .segments[1].card.version = "1.20" | .segments[1].card.backplanes[0].version = "2.04"'

flash_setup "$mixed"
run_host
expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=2 (installed version older)'
expect_backplane_flashed 3 0
expect_card_untouched 1
expect_card_untouched 3
for port in 0 1 2; do expect_backplane_untouched 1 "$port"; done
expect_released noports
echo "flash options: older only: ok"

flash_setup "$mixed"
run_host -e
expect_card_flashed 1
for port in 0 1 2; do expect_backplane_flashed 1 "$port"; done
expect_backplane_flashed 3 0
expect_card_untouched 3
echo "flash options: -e: ok"

flash_setup "$mixed"
run_host -g
expect_card_flashed 3
expect_backplane_flashed 3 0
expect_card_untouched 1
for port in 0 1 2; do expect_backplane_untouched 1 "$port"; done
echo "flash options: -g: ok"

flash_setup "$mixed"
run_host -f
expect_card_flashed 1
expect_card_flashed 3
for port in 0 1 2; do expect_backplane_flashed 1 "$port"; done
expect_backplane_flashed 3 0
expect_released noports
echo "flash options: -f: ok"

# State 3: everything at the package's version; property 5 answers 1 and forces all.
flash_setup '.segments[].card.version = "1.12" | .segments[].card.backplanes[].version = "2.05"'
run_host
expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=1 (installed version the same)'
expect_contains "$out" 'install: result=2 (success, power cycle required)'
[ "$rc" = 3 ] || fail "talhost exited with $rc, not 3: $out"
expect_card_flashed 1
expect_card_flashed 3
for port in 0 1 2; do expect_backplane_flashed 1 "$port"; done
expect_backplane_flashed 3 0
echo "flash options: state 3 forces all: ok"

# State 4: card 1 newer, nothing older; property 5 answers 3 and forces all.
flash_setup '.segments[].card.version = "1.12" | .segments[].card.backplanes[].version = "2.05"
             | .segments[0].card.version = "1.20"'
run_host
expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=3 (installed version newer)'
expect_card_flashed 1
expect_card_flashed 3
expect_backplane_flashed 3 0
expect_released noports
echo "flash options: state 4 forces all: ok"
