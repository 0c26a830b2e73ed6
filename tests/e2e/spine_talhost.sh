#!/usr/bin/env bash
# talhost loads the plug-in beside itself and by path, and shows the answers of an engine without
# a package (no Config.xml in the folder): interface version 100, property 5 status 6, and Install
# 0 with "Error" and the cause (nothing was done; nothing is reported as installed). The JSON form
# carries the same answers; bad arguments are refused.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cd "$dir"
export SYSTEMDRIVE="$dir"

nothing='install: result=0 text="Error\r\nNothing was done: the package could not be read: Config.xml is missing or not well-formed.\r\n"'

# The host's usual order, with the plug-in found beside talhost.
out=$(tal_run "$TAL_HOST" -f /verbose_log 2>&1) || fail "talhost exited with $?: $out"
expect_contains "$out" "version: result=1 value=100"
expect_contains "$out" "property 5: result=1 status=6 text=\"\""
expect_contains "$out" "property 3: result=1 text=\"\""
expect_contains "$out" "property 6: result=1 value=1"
expect_contains "$out" "property 8: result=1 value=1"
expect_contains "$out" "$nothing"
[ "$(grep -c '' <<<"$out")" -eq 10 ] || fail "expected 10 answer lines, got:
$out"

# The plug-in by path, in a chosen order, as JSON.
plugin="$TAL_PLUGIN"
if [ "$TAL_WINDOWS" = 1 ]; then
  plugin="Z:${TAL_PLUGIN//\//\\}"
fi
json=$(tal_run "$TAL_HOST" --plugin "$plugin" --json --steps install,version,5 2>&1) ||
  fail "talhost --json exited with $?: $json"
expect_contains "$json" '{"step": "version", "result": 1, "value": 100}'
expect_contains "$json" '{"step": "property", "type": 5, "result": 1, "status": 6, "text": ""}'
expect_contains "$json" '"text": "Error\r\nNothing was done: the package could not be read'
if command -v python3 >/dev/null; then
  python3 -c '
import json, sys
doc = json.loads(sys.stdin.read())
steps = [s["step"] for s in doc["steps"]]
assert steps == ["install", "version", "property"], steps
assert doc["steps"][0]["result"] == 0
' <<<"$json" || fail "talhost --json is not the expected JSON document: $json"
fi

# A buffer below the property-5 record is refused (result 0, status word untouched).
small=$(tal_run "$TAL_HOST" --steps 5 --size 2051 2>&1) || fail "talhost --size: $small"
expect_contains "$small" "property 5: result=0 status=0"

# Natively the verbose log of the run lies on the scratch drive.
if [ "$TAL_WINDOWS" = 0 ]; then
  verbose=$(cat "$dir"/talsystem/log/_KZ* 2>/dev/null) || fail "no verbose log in $dir/talsystem/log"
  expect_contains "$verbose" "Installation initiated."
  expect_contains "$verbose" "/no_overwrite ABSENT"
fi

# Bad arguments: exit status 2; a plug-in that cannot be loaded: 1.
set +e
tal_run "$TAL_HOST" --steps 5,bogus >/dev/null 2>&1
[ $? -eq 2 ] || fail "an unknown step must exit with 2"
tal_run "$TAL_HOST" --plugin "$dir/missing-plugin" >/dev/null 2>&1
[ $? -eq 1 ] || fail "a missing plug-in must exit with 1"
set -e
echo "talhost on the plug-in: ok"
