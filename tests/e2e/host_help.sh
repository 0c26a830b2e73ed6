#!/usr/bin/env bash
# talhost --help answers at once with its usage and exit status 0, without loading a plug-in.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cd "$dir"
out=$(tal_run "$TAL_HOST" --help 2>&1) || fail "talhost --help exited with $?: $out"
[ -n "$out" ] || fail "talhost --help printed nothing"
expect_contains "$out" "--json"
echo "talhost --help: ok"
