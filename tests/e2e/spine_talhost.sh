#!/usr/bin/env bash
# talhost loads the plug-in beside itself and by path, and shows the answers of an engine without
# a package (no Config.xml in the folder): interface version 100, property 5 status 6, and Install
# 0 with "Error" and the cause (nothing was done; nothing is reported as installed). The JSON form
# carries the same answers; bad arguments are refused.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cd "$dir"
export SYSTEMDRIVE="$dir"

nothing='install: result=0 (failure) text="Error\r\nNothing was done: the package could not be read: Config.xml is missing or not well-formed.\r\n"'

# The host's usual order, with the plug-in found beside talhost; Install fails: exit status 1.
rc=0
out=$(tal_run "$TAL_HOST" --install -- -f /verbose_log 2>&1) || rc=$?
[ "$rc" = 1 ] || fail "talhost exited with $rc, not 1: $out"
expect_contains "$out" "version: result=1 (answered) value=100"
expect_contains "$out" "property 5 (installation status): result=1 (answered) status=6 (no supported hardware present and nothing installed) text=\"\""
expect_contains "$out" "property 3 (devices due): result=1 (answered) text=\"\""
expect_contains "$out" "devices: the engine log holds no device list"
expect_contains "$out" "property 6 (silent install): result=1 (answered) value=1 (yes)"
expect_contains "$out" "property 8 (capability flag 8): result=1 (answered) value=1 (yes)"
expect_contains "$out" "$nothing"
[ "$(grep -vc '^progress: ' <<<"$out")" -eq 11 ] || fail "expected 11 lines, got:
$out"

# The plug-in by path, in a chosen order, as JSON: the answers are the last line.
plugin="$TAL_PLUGIN"
if [ "$TAL_WINDOWS" = 1 ]; then
  plugin="Z:${TAL_PLUGIN//\//\\}"
fi
rc=0
json=$(tal_run "$TAL_HOST" --plugin "$plugin" --json --steps install,version,5 2>/dev/null) || rc=$?
[ "$rc" = 1 ] || fail "talhost --json exited with $rc, not 1: $json"
doc=$(tail -n 1 <<<"$json")
jq -e '
  [.steps[].step] == ["install", "version", "property"] and
  .steps[0].result == 0 and .steps[0].result_name == "failure" and
  (.steps[0].text | startswith("Error\r\nNothing was done: the package could not be read")) and
  .steps[1] == {"step": "version", "result": 1, "result_name": "answered", "value": 100} and
  .steps[2] == {"step": "property", "type": 5, "name": "installation status", "result": 1,
                "result_name": "answered", "status": 6,
                "status_name": "no supported hardware present and nothing installed", "text": ""} and
  .exit == 1' <<<"$doc" >/dev/null || fail "talhost --json is not the expected JSON document: $json"
# Every line before it is a progress object.
head -n -1 <<<"$json" | jq -e 'has("event")' >/dev/null 2>&1 || [ "$(grep -c '' <<<"$json")" = 1 ] ||
  fail "a line before the answers is not a progress event: $json"

# Without a step nothing is installed: the status, the devices due and the tree.
out=$(tal_run "$TAL_HOST" 2>&1) || fail "talhost exited with $?: $out"
! grep -q '^install' <<<"$out" || fail "talhost without a step ran Install: $out"
expect_contains "$out" "property 3 (devices due): result=1 (answered)"

# A buffer below the property-5 record is refused (result 0, status word untouched).
rc=0
small=$(tal_run "$TAL_HOST" --steps 5 --size 2051 2>&1) || rc=$?
[ "$rc" = 1 ] || fail "talhost --size 2051 exited with $rc, not 1: $small"
expect_contains "$small" "property 5 (installation status): result=0 (failed) status=0 (unknown status)"

# Natively the verbose log of the run lies on the scratch drive.
if [ "$TAL_WINDOWS" = 0 ]; then
  verbose=$(cat "$dir"/talsystem/log/_KZ* 2>/dev/null) || fail "no verbose log in $dir/talsystem/log"
  expect_contains "$verbose" "Installation initiated."
  expect_contains "$verbose" "/no_overwrite ABSENT"
fi

# Bad arguments: exit status 2, the argument named; a plug-in that cannot be loaded: 1.
set +e
for bad in "--steps 5,bogus|bogus" "-f|-f" "/verbose_log|/verbose_log" "--size -1|--size" \
    "--steps|--steps"; do
  # shellcheck disable=SC2086  # the arguments split as a user types them
  err=$(tal_run "$TAL_HOST" ${bad%|*} 2>&1 >/dev/null)
  [ $? -eq 2 ] || fail "talhost ${bad%|*} must exit with 2"
  expect_contains "$err" "${bad#*|}"
done
tal_run "$TAL_HOST" --plugin "$dir/missing-plugin" >/dev/null 2>&1
[ $? -eq 1 ] || fail "a missing plug-in must exit with 1"
set -e
echo "talhost on the plug-in: ok"
