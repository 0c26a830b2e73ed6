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

# expect_block TEXT BLOCK: TEXT holds BLOCK, several lines, as one piece (expect_contains would
# take each line of it on its own).
expect_block() {
  [[ "$1" == *"$2"* ]] || fail "expected
$2
in:
$1"
}

# A fresh scratch folder for this test (TAL_SCRATCH), emptied first.
fresh_scratch() {
  rm -rf "$TAL_SCRATCH"
  mkdir -p "$TAL_SCRATCH"
  printf '%s\n' "$TAL_SCRATCH"
}

# wine_prefix_copy FOLDER: for a test that changes the system, a copy of the project's wine
# prefix (as scripts/setup made it) at FOLDER becomes WINEPREFIX; its wine server is stopped and
# the copy removed when the script ends (each copy is some 700 MB).
wine_prefix_copy() {
  local base=${TAL_CACHE:-/var/cache/tal}/wine
  [ -f "$base/system.reg" ] || fail "no wine prefix at $base (scripts/setup makes it)"
  cp -a "$base" "$1"
  rm -f "$1/.tal-drive.lock" "$1/dosdevices/s:"
  export WINEPREFIX=$1
  # shellcheck disable=SC2064  # the folder is fixed now
  trap "wineserver -k >/dev/null 2>&1; rm -rf '$1'" EXIT
}

# wine_prefix: the prefix the Windows programs of this test run in (this build's private copy,
# made on first use; never the project's prefix itself), printed.
wine_prefix() {
  "$TAL_RUN" --prefix "$TAL_HOST" || fail "no wine prefix for $TAL_HOST"
}

# wine_drive_scratch NAME: a fresh folder on the private prefix's C: drive for this test, removed
# when it ends; sets prefix, dir (the folder) and logdir (C:\talsystem\log, where the engine log
# lands for a program started inside dir). Run from there, the engine log lands in the folder the
# Windows tests read, not in the host's root.
wine_drive_scratch() {
  prefix=$(wine_prefix)
  dir="$prefix/drive_c/tal-e2e-$1-$$"
  # shellcheck disable=SC2064  # the folder is fixed now
  trap "rm -rf '$dir'" EXIT
  rm -rf "$dir"
  mkdir -p "$dir"
  logdir=$(win_path "$prefix/drive_c" talsystem/log)
}

# channel_scratch NAME: the folders of a script that runs talhost against the simulated
# processor: $dir with the sample package copied to $dir/package, $logdir the engine log's folder
# and $descriptions for the machine descriptions. Natively the drive is $dir/drive and the SMBIOS
# table holds no card records; under wine the package runs from the C: drive (the engine log goes
# to the root of the current drive, C:\talsystem\log) and the descriptions stay on the Linux
# side, reached through Z:.
channel_scratch() {
  if [ "$TAL_WINDOWS" = 0 ]; then
    dir=$(fresh_scratch)
    export SYSTEMDRIVE="$dir/drive"
    logdir="$SYSTEMDRIVE/talsystem/log"
    : >"$dir/none.smbios"
    export TAL_SMBIOS_TABLE="$dir/none.smbios"
    descriptions=$dir
  else
    wine_drive_scratch "$1"
    descriptions=$(fresh_scratch)
  fi
  cp -r "$TAL_BUILD_DIR/samples/package" "$dir/package"
}

# win_path DIR REL: the path of REL (parts separated by '/') under DIR, each part matched as
# Windows matches names, without regard to letter case: the spelling on disk when there is one,
# else the part as written. "drive_c talsystem/log" finds drive_c/TALSYSTEM/log when a program
# made the folder as C:\TALSYSTEM.
win_path() {
  local path=$1 part found
  local IFS=/
  for part in $2; do
    [ -n "$part" ] || continue
    found=""
    if [ -d "$path" ]; then
      found=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$part" -printf '%f\n' 2>/dev/null |
              sort | head -n 1)
    fi
    path="$path/${found:-$part}"
  done
  printf '%s\n' "$path"
}

# dependency_xml FILE MODEL: a dependency.xml at FILE naming the one system model MODEL.
dependency_xml() {
  printf '<componentdependencies><dependent_hardware><platforms><platform model="%s"/></platforms></dependent_hardware></componentdependencies>\n' \
    "$2" >"$1"
}
