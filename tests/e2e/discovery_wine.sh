#!/usr/bin/env bash
# On the Windows build the plug-in reads the real SMBIOS table (under wine: no switch card), so
# discovery finds nothing: property 5 answers 6, property 3 is empty, and the engine log says why.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cp -r "$TAL_BUILD_DIR/samples/package" "$dir/package"
mkdir -p "$dir/talsystem/log"
cd "$dir/package"
out=$(tal_run "$TAL_HOST" --steps version,5,3 2>&1) || fail "talhost exited with $?: $out"
expect_contains "$out" 'property 5: result=1 status=6 text=""'
expect_contains "$out" 'property 3: result=1 text=""'
log=$(cat "$dir"/talsystem/log/Verbose.log 2>/dev/null || true)
if [ -n "$log" ]; then
  grep -qE "Failed to load smbios|Failed to get DEVICE CORRELATION record #1|Scanning" <<<"$log" ||
    fail "the engine log does not show the SMBIOS scan:
$log"
  ! grep -q "FOUND Velto-E" <<<"$log" || fail "a card was found under wine:
$log"
fi
echo "discovery without cards: ok"
