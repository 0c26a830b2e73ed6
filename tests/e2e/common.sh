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

# wine_prefix_copy FOLDER: for a test that changes the system, a copy of the project's wine
# prefix at FOLDER becomes WINEPREFIX; its wine server is stopped and the copy removed when the
# script ends (each copy is some 700 MB).
wine_prefix_copy() {
  local base=${WINEPREFIX:-${TAL_CACHE:-/var/cache/tal}/wine}
  [ -f "$base/system.reg" ] || fail "no wine prefix at $base (scripts/setup makes it)"
  cp -a "$base" "$1"
  rm -f "$1/.tal-drive.lock" "$1/dosdevices/s:"
  export WINEPREFIX=$1
  # shellcheck disable=SC2064  # the folder is fixed now
  trap "wineserver -k >/dev/null 2>&1; rm -rf '$1'" EXIT
}

# dependency_xml FILE MODEL: a dependency.xml at FILE naming the one system model MODEL.
dependency_xml() {
  printf '<componentdependencies><dependent_hardware><platforms><platform model="%s"/></platforms></dependent_hardware></componentdependencies>\n' \
    "$2" >"$1"
}
