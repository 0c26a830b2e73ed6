#!/usr/bin/env bash
# "-d report.xml" writes the self-discovery report and flashes nothing, and Install says so
# ("Discovery Successful", result 1); a second run replaces the report whole (one document).
source "$TAL_E2E_DIR/common.sh"
source "$TAL_E2E_DIR/flash_common.sh"

flash_setup
run_host -d report.xml
[ -s "$dir/package/report.xml" ] || fail "no report written: $out"
[ "$rc" = 0 ] || fail "talhost exited with $rc, not 0: $out"
expect_contains "$out" 'install: result=1 (success) text="Discovery Successful\r\n"'
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
# The record and the images of the first run are replaced by the second run's, and so is the
# report (two documents in one file would not be well-formed XML).
run_host -d report.xml
second=$(grep -c '<?xml' "$dir/package/report.xml")
[ "$second" = 1 ] || fail "two runs, $second documents"
cmp "$dir/package/report.xml" "$TAL_E2E_DIR/sample_report.xml" ||
  fail "the second report is not the whole report"
expect_contains "$out" 'install: result=1 (success) text="Discovery Successful\r\n"'
expect_card_untouched 1
# A report that cannot be written: Install fails and says why.
run_host -d no/such/folder/report.xml
expect_contains "$out" 'install: result=0 (failure) text="Error\r\nNothing was done: the self-discovery report no/such/folder/report.xml could not be written ('
[ "$rc" = 1 ] || fail "talhost exited with $rc, not 1: $out"
echo "flash report: written, replaced by a second run, nothing flashed"
