#!/usr/bin/env bash
# On the Windows build the plug-in reads the real SMBIOS table (under wine: no switch card), so
# discovery finds nothing: property 5 answers 6, property 3 is empty, and the engine log shows
# the scan ending at the SMBIOS table.
source "$TAL_E2E_DIR/common.sh"

wine_drive_scratch discovery
log=$(win_path "$prefix/drive_c" talsystem/log/Verbose.log)
mkdir -p "$logdir"
cp -r "$TAL_BUILD_DIR/samples/package" "$dir/package"
before=$(stat -c %s "$log" 2>/dev/null || echo 0)

cd "$dir/package"
out=$(tal_run "$TAL_HOST" --steps version,5,3 2>&1) || fail "talhost exited with $?: $out"
expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=6 (no supported hardware present and nothing installed) text=""'
expect_contains "$out" 'property 3 (devices due): result=1 (answered) text=""'

# Only what this run appended (other Windows tests write to the same file).
added=$(tail -c +"$((before + 1))" "$log" 2>/dev/null | tr -d '\r' || true)
grep -qE "Failed to load smbios|Failed to get DEVICE CORRELATION record #1" <<<"$added" ||
  fail "the engine log does not show the scan ending at the SMBIOS table:
$added"
echo "discovery without cards: ok"
