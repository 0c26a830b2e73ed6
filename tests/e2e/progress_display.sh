#!/usr/bin/env bash
# While Install runs, talhost shows the progress the plug-in writes to its progress file: each
# device as it starts and ends, its percentage, the elapsed time at least once a second, the end
# of the run; lines of another format, broken lines and what the file held before this Install
# are not shown; with --json the same as JSON lines before the answers.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
export SYSTEMDRIVE="$dir"
mkdir -p "$dir/talsystem/log"
file="$dir/talsystem/log/talprogress.log"
export TAL_PROGRESS_SCRIPT="$dir/script"

card='"name":"Controller card 2: Orvo Varibay 6 HDD Switch Card","kind":"card","found":"1.05","offered":"1.12","unit":"blocks","total":256'
cat >"$TAL_PROGRESS_SCRIPT" <<EOT
truncate
line {"v":1,"event":"start","ms":0,"devices":2}
line {"v":1,"event":"device","ms":3,"index":1,"count":2,$card}
sleep 400
line {"v":1,"event":"progress","ms":410,"index":1,"done":128,"total":256,"percent":50}
line {"v":2,"event":"device","ms":411,"index":1,"count":2,"name":"OTHER FORMAT","kind":"card","found":"1","offered":"2","unit":"blocks","total":1}
line not json at all
part {"v":1,"event":"progress","ms":900,"index":1,
sleep 400
line "done":256,"total":256,"percent":100}
line {"v":1,"event":"end","ms":901,"index":1,"result":"success","text":"Update success"}
line {"v":1,"event":"device","ms":902,"index":2,"count":2,"name":"Backplane 1: Orvo Varibay 6 HDD Backplane","kind":"backplane","found":"2.03","offered":"2.05","unit":"pages","total":6527}
sleep 1700
line {"v":1,"event":"end","ms":2700,"index":2,"result":"failed","text":"erased"}
line {"v":1,"event":"finish","ms":2701,"result":0,"updated":1,"failed":1}
sleep 300
EOT

# Each output line with the time it came (ms), to tell lines shown during Install from after.
stamped() {
  local start
  start=$(date +%s%3N)
  while IFS= read -r l; do printf '%s %s\n' "$(($(date +%s%3N) - start))" "$l"; done
}

# A previous run's file: not this Install's progress.
printf '{"v":1,"event":"device","ms":3,"index":1,"count":1,"name":"STALE","kind":"card","found":"1","offered":"2","unit":"blocks","total":1}\r\n' >"$file"
set +e
out=$( (tal_run "$TAL_HOST" --plugin "$TAL_PROGRESS_PLUGIN" --steps install; echo "exit $?") | stamped)
set -e
lines=$(cut -d' ' -f2- <<<"$out")
expect_contains "$lines" "exit 3"   # the stand-in's result 2: success, power cycle required
expected=(
  "progress: 2 device(s) to update"
  "progress: [1/2] Controller card 2: Orvo Varibay 6 HDD Switch Card (card), 1.05 -> 1.12, 256 blocks: started"
  "progress: [1/2] Controller card 2: Orvo Varibay 6 HDD Switch Card: 50% (128 of 256 blocks)"
  "progress: [1/2] Controller card 2: Orvo Varibay 6 HDD Switch Card: 100% (256 of 256 blocks)"
  "progress: [1/2] Controller card 2: Orvo Varibay 6 HDD Switch Card: success"
  "progress: [2/2] Backplane 1: Orvo Varibay 6 HDD Backplane (backplane), 2.03 -> 2.05, 6527 pages: started"
  "progress: [2/2] Backplane 1: Orvo Varibay 6 HDD Backplane: 0% (0 of 6527 pages)"
  "progress: [2/2] Backplane 1: Orvo Varibay 6 HDD Backplane: failed"
  "progress: finished: result=0 (failure), 1 updated, 1 failed"
  "install: result=2 (success, power cycle required)"
)
# In this order (the heartbeat of the backplane's 1.7 s without news among them).
at=0
for want in "${expected[@]}"; do
  n=$(tail -n +"$((at + 1))" <<<"$lines" | grep -nF -- "$want" | head -n 1 | cut -d: -f1)
  [ -n "$n" ] || fail "expected [$want] after line $at in:
$lines"
  at=$((at + n))
done
for absent in STALE "OTHER FORMAT" "not json"; do
  ! grep -qF "$absent" <<<"$lines" || fail "[$absent] was shown:
$lines"
done
[ "$(grep -cF '100% (256 of 256 blocks)' <<<"$lines")" = 1 ] || fail "the split line shown other than once:
$lines"
# Shown while Install ran, not when it returned: the card's first line comes at least 2 s before
# the answer (the script takes 3.2 s).
first=$(grep -F 'started' <<<"$out" | head -n 1 | cut -d' ' -f1)
last=$(grep -F 'install: result=' <<<"$out" | cut -d' ' -f1)
[ $((last - first)) -ge 2000 ] || fail "the progress came at the end ($first ms, answer at $last ms):
$out"
# At least once a second: no gap of more than 1.6 s between lines while Install runs (a second,
# the 200 ms between looks, and room for a loaded machine).
gaps=$(grep -E '^[0-9]+ progress: ' <<<"$out" | awk 'NR > 1 && $1 - prev > 1600 {print prev " -> " $1} {prev = $1}')
[ -z "$gaps" ] || fail "silent for more than a second: $gaps
$out"

# An Install that writes no progress (nothing due, or an older plug-in): the file of an earlier
# run is not shown, and without any file Install still runs and answers.
printf 'sleep 300\n' >"$TAL_PROGRESS_SCRIPT"
for case in "an earlier run's file" "no file"; do
  [ "$case" = "no file" ] && rm -f "$file"
  rc=0
  out=$(tal_run "$TAL_HOST" --plugin "$TAL_PROGRESS_PLUGIN" --steps install 2>&1) || rc=$?
  [ "$rc" = 3 ] || fail "$case: exit $rc: $out"
  [ "$out" = 'install: result=2 (success, power cycle required) text="Played.\r\n"' ] ||
    fail "$case: $out"
done

# --json: JSON lines, the progress events first, the answers last.
cat >"$TAL_PROGRESS_SCRIPT" <<EOT
truncate
line {"v":1,"event":"start","ms":0,"devices":1}
line {"v":1,"event":"device","ms":3,"index":1,"count":1,$card}
line {"v":1,"event":"progress","ms":9,"index":1,"done":64,"total":256,"percent":25}
sleep 1300
line {"v":1,"event":"end","ms":901,"index":1,"result":"success","text":"Update success"}
line {"v":1,"event":"finish","ms":902,"result":2,"updated":1,"failed":0}
sleep 300
EOT
rc=0
out=$(tal_run "$TAL_HOST" --plugin "$TAL_PROGRESS_PLUGIN" --steps install --json) || rc=$?
[ "$rc" = 3 ] || fail "--json: exit $rc: $out"
events=$(jq -r '.event // "answers"' <<<"$out" | uniq | paste -sd, -) ||
  fail "--json: not JSON lines: $out"
[ "$events" = start,device,progress,running,end,finish,answers ] ||
  fail "--json: events $events in:
$out"
jq -se '.[2] == {"event": "progress", "ms": 9, "index": 1, "done": 64, "total": 256, "percent": 25,
                 "elapsed_ms": .[2].elapsed_ms}
        and .[3].index == 1 and .[3].percent == 25 and (.[3].elapsed_ms >= 1000)
        and .[-1].steps[0].result_name == "success, power cycle required" and .[-1].exit == 3' \
  <<<"$out" >/dev/null || fail "--json: unexpected objects: $out"
echo "progress display: ok"
