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
# The whole report of the sample machine (every device older than the package), line for line.
cmp "$dir/package/report.xml" "$TAL_E2E_DIR/sample_report.xml" ||
  fail "report differs from the expected one: $(diff "$TAL_E2E_DIR/sample_report.xml" "$dir/package/report.xml")"
# The record and the images of the first run are replaced by the second run's.
run_host -d report.xml
second=$(grep -c '<?xml' "$dir/package/report.xml")
[ "$second" = 2 ] || fail "two runs, $second documents"
cat "$TAL_E2E_DIR/sample_report.xml" "$TAL_E2E_DIR/sample_report.xml" |
  cmp - "$dir/package/report.xml" || fail "the second report is not appended whole"
expect_card_untouched 1
echo "flash report: written, appended, nothing flashed"
