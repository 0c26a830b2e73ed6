#!/usr/bin/env bash
# Every tool of the project answers alike: --help prints its usage on standard output and exits 0;
# --version prints "<tool> <project version>" and exits 0; an argument it does not know is named on
# standard error with exit status 2. None of them loads a plug-in or touches a device for these.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cd "$dir"
: "${TAL_PROJECT_VERSION:?}"

failures=()
# check TOOL ARG WANT_EXIT STDOUT_HOLDS STDERR_HOLDS: one row of the table.
check() {
  local tool=$1 arg=$2 want=$3 out_holds=$4 err_holds=$5 rc=0
  tal_run "$TAL_BIN_DIR/$tool$TAL_EXE" "$arg" >"$dir/out" 2>"$dir/err" </dev/null || rc=$?
  local out err
  out=$(tr -d '\r' <"$dir/out")
  err=$(tr -d '\r' <"$dir/err")
  local what="$tool $arg"
  [ "$rc" = "$want" ] || { failures+=("$what: exit $rc, expected $want (stderr: $err)"); return; }
  if [ -n "$out_holds" ]; then
    grep -qxF -- "$out_holds" <<<"$out" || grep -qF -- "$out_holds" <<<"$out" ||
      { failures+=("$what: standard output lacks [$out_holds]: $out"); return; }
  else
    [ -z "$out" ] || { failures+=("$what: wrote to standard output: $out"); return; }
  fi
  if [ -n "$err_holds" ]; then
    grep -qF -- "$err_holds" <<<"$err" ||
      { failures+=("$what: standard error lacks [$err_holds]: $err"); return; }
  fi
  # --help and --version say nothing on standard error (wine's own notes aside).
  if [ "$want" = 0 ] && grep -v '^[0-9a-f]*:\(err\|fixme\|warn\):' <<<"$err" | grep -q .; then
    failures+=("$what: wrote to standard error: $err")
  fi
}

for tool in talhost pkgcheck fwimage taldevice talsim; do
  check "$tool" --help 0 "--help" ""
  # The whole line, exactly.
  check "$tool" --version 0 "$tool $TAL_PROJECT_VERSION" ""
  [ "$(tr -d '\r' <"$dir/out")" = "$tool $TAL_PROJECT_VERSION" ] ||
    failures+=("$tool --version: not exactly '$tool $TAL_PROJECT_VERSION': $(cat "$dir/out")")
  check "$tool" --bogus 2 "" "--bogus"
done

if [ "${#failures[@]}" -gt 0 ]; then
  printf '%s\n' "${failures[@]}" >&2
  fail "${#failures[@]} of the tools' answers do not keep the convention"
fi
echo "tool conventions: 5 tools, native or under wine, ok"
