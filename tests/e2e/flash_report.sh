#!/usr/bin/env bash
# "-d report.xml" writes the self-discovery report and flashes nothing; a second run appends a
# second document.
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

flash_setup
run_host -d report.xml
[ -s "$dir/package/report.xml" ] || fail "no report written: $out"
expect_card_untouched 1
expect_card_untouched 3
for port in 0 1 2; do expect_backplane_untouched 1 "$port"; done
expect_backplane_untouched 3 0
expect_released noports
first=$(grep -c '<?xml' "$dir/package/report.xml")
[ "$first" = 1 ] || fail "one run, $first documents"
expect_contains "$(cat "$dir/package/report.xml")" "Orvo Varibay 6 HDD Switch Card"
# The record and the images of the first run are replaced by the second run's.
run_host -d report.xml
second=$(grep -c '<?xml' "$dir/package/report.xml")
[ "$second" = 2 ] || fail "two runs, $second documents"
expect_card_untouched 1
echo "flash report: written, appended, nothing flashed"
