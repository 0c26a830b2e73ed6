# Sourced by every e2e script (tests/e2e/CMakeLists.txt sets the TAL_* variables).
set -euo pipefail

: "${TAL_HOST:?run this script through ctest}"

# Runs a built program: natively as it is, on the Windows build under wine.
tal_run() {
  if [ -n "${TAL_RUN:-}" ]; then
    "$TAL_RUN" "$@"
  else
    "$@"
  fi
}

fail() {
  printf 'FAIL: %s\n' "$*" >&2
  exit 1
}

# expect_contains TEXT NEEDLE: TEXT holds NEEDLE as a fixed string.
expect_contains() {
  grep -qF -- "$2" <<<"$1" || fail "expected to find [$2] in:
$1"
}

# A fresh scratch folder for this test (TAL_SCRATCH), emptied first.
fresh_scratch() {
  rm -rf "$TAL_SCRATCH"
  mkdir -p "$TAL_SCRATCH"
  printf '%s\n' "$TAL_SCRATCH"
}
