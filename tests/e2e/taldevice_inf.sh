#!/usr/bin/env bash
# `taldevice inf`: every INF of the corpus (tests/setup/inf/) reads as the system's setup library
# read it under wine (tests/setup/inf/expected/), on this build: natively through the simulated
# host, on the Windows build through the setup library itself. The differences the simulated host
# makes on purpose (placeholder directory ids, UTF-16 it refuses) are reported, not failed.
# Then the text form and the exit codes a package author sees.
source "$TAL_E2E_DIR/common.sh"

tool=$TAL_BIN_DIR/taldevice$TAL_EXE
corpus=$TAL_SOURCE_DIR/tests/setup/inf
compare=(python3 "$TAL_SOURCE_DIR/scripts/inf_compare.py" expected --tool "$tool" "$corpus")
[ -n "${TAL_RUN:-}" ] && compare=(python3 "$TAL_SOURCE_DIR/scripts/inf_compare.py" expected
  --tool "$tool" --wine "$TAL_RUN" "$corpus")
"${compare[@]}" || fail "taldevice inf does not read the corpus as the setup library does"

# A path as this build's program takes it.
inf_path() {
  if [ "$TAL_WINDOWS" = 1 ]; then printf 'Z:%s' "${1//\//\\}"; else printf '%s' "$1"; fi
}

# status_of EXPECTED ARGS...: runs taldevice, checks its exit status, prints its output.
status_of() {
  local expected=$1 out rc=0
  shift
  out=$(tal_run "$tool" "$@" 2>&1) || rc=$?
  [ "$rc" = "$expected" ] || fail "taldevice $* exited $rc, not $expected: $out"
  printf '%s\n' "$out"
}

out=$(status_of 0 inf "$(inf_path "$corpus/31_comment_block_strings.inf")")
expect_contains "$out" '[strings]'
expect_contains "$out" '  Tal = "Tal Systems"'
expect_contains "$out" '  talsense.sys = "talsense.sys"'
out=$(status_of 0 inf "$(inf_path "$corpus/03_quotes.inf")")
expect_contains "$out" '  A = "one, two"'

out=$(status_of 1 inf "$(inf_path "$corpus/32_comment_block_no_strings.inf")")
expect_contains "$out" 'refused: ERROR_EXPECTED_SECTION_NAME (0xE0000000) at line 3'
out=$(status_of 1 inf --json "$(inf_path "$corpus/21_no_signature.inf")")
expect_contains "$out" '"error": "ERROR_WRONG_INF_STYLE"'
expect_contains "$out" '"code": 3758096640'
out=$(status_of 1 inf "$(inf_path "$corpus/no_such_file.inf")")
expect_contains "$out" 'refused: ERROR_FILE_NOT_FOUND (0x00000002)'

# Natively the machine description names the ANSI code page (1252 when it names none).
if [ "$TAL_WINDOWS" = 0 ]; then
  scratch=$(fresh_scratch)
  printf '{"ansi_code_page": 65001}' >"$scratch/utf8.json"
  out=$(TAL_MACHINE=$scratch/utf8.json status_of 0 inf "$corpus/39_ansi_1252.inf")
  expect_contains "$out" '  Utf8 = "café"'
  expect_contains "$out" $'  Latin1 = "caf\xef\xbf\xbd"'
  printf '{"ansi_code_page": 437}' >"$scratch/dos.json"
  out=$(TAL_MACHINE=$scratch/dos.json status_of 0 inf "$corpus/39_ansi_1252.inf")
  expect_contains "$out" 'ansi_code_page: 437 is not 1250, 1251, 1252 or 65001'
  expect_contains "$out" '  Utf8 = "cafÃ©"'
fi

status_of 2 inf >/dev/null
status_of 2 inf --json >/dev/null
status_of 2 inf a.inf b.inf >/dev/null
status_of 2 inf --json --json a.inf >/dev/null
echo "taldevice inf: corpus, text form and exit codes as expected"
