#!/usr/bin/env bash
# The channel library is taken only from places an ordinary user cannot write. A marker library
# (it writes $TAL_MARKER when anything loads it) in the current folder, or in a folder on PATH
# that anyone may write, is never loaded; the engine log lists each place looked in. Natively the
# dynamic loader's own search decides and never looks in the current folder; the log names the
# file loaded.
source "$TAL_E2E_DIR/common.sh"

marker_name=$(basename "$TAL_MARKER_LIB")
channel_scratch trusted
marker="$descriptions/marker.txt"
if [ "$TAL_WINDOWS" = 0 ]; then
  marker_env=$marker
else
  marker_env="Z:${marker//\//\\}"
  windir="C:\\tal-e2e-trusted-$$"
fi
echo '{}' >"$descriptions/plain.json"
# The current folder holds the marker under the library's name.
cp "$TAL_MARKER_LIB" "$dir/package/$marker_name"

# run HOST [ENV...]: talhost in the package folder; its answers in $out, what it added to the
# engine log in $log.
run() {
  local host=$1
  shift
  rm -f "$marker"
  mkdir -p "$logdir"
  local before
  before=$(stat -c %s "$logdir/Verbose.log" 2>/dev/null || echo 0)
  out=$(cd "$dir/package" && env TAL_MACHINE="$descriptions/plain.json" TAL_MARKER="$marker_env" \
        "$@" $TAL_RUN "$host" --steps 5 2>&1) || fail "talhost exited with $?: $out"
  log=$(tail -c +"$((before + 1))" "$logdir/Verbose.log" 2>/dev/null | tr -d '\r' || true)
  expect_contains "$out" 'property 5 (installation status): result=1 (answered) status=6 (no supported hardware present and nothing installed)'
  [ ! -e "$marker" ] || fail "the marker library was loaded: $(cat "$marker"); log: $log"
}

if [ "$TAL_WINDOWS" = 0 ]; then
  # Not on the library path: the loader does not look in the current folder.
  run "$TAL_HOST" LD_LIBRARY_PATH=
  expect_contains "$log" "TalCi.dll: not found in the system's library folders"
  expect_contains "$log" "Setup is unable to load a setup DLL: TalCi.dll"
  # On the library path: the file loaded and its version are logged.
  run "$TAL_HOST" LD_LIBRARY_PATH="$TAL_CI_DIR"
  expect_contains "$log" "TalCi.dll found"
  expect_contains "$log" "TalCi.dll loaded from $TAL_CI_DIR/libTalCi.so, file version "
  echo "channel library from trusted places: ok"
  exit 0
fi

# Windows: talhost and the plug-in in a folder without the library.
mkdir -p "$dir/alone" "$dir/open" "$dir/kept"
cp "$TAL_HOST" "$TAL_PLUGIN" "$dir/alone/"
host="$dir/alone/$(basename "$TAL_HOST")"
# A PATH folder anyone may write holds the marker; one only its owner may write holds the real
# library.
cp "$TAL_MARKER_LIB" "$dir/open/TalCi.dll"
chmod 0777 "$dir/open"
cp "$TAL_CI_DIR/TalCi.dll" "$dir/kept/TalCi.dll"
chmod 0755 "$dir/kept"

# The current folder and the open PATH folder only: nothing is loaded, and the log says where it
# looked and why it passed the open folder over.
run "$host" WINEPATH="$windir\\open;$windir\\package"
expect_contains "$log" "TalCi.dll: not looked for in $windir\\open: writable by S-1-1-0"
expect_contains "$log" "TalCi.dll: not looked for in $windir\\package: the current folder"
expect_contains "$log" "TalCi.dll: not found in C:\\windows\\system32"
expect_contains "$log" "TalCi.dll: not found in $windir\\alone"
expect_contains "$log" "Setup is unable to load a setup DLL: TalCi.dll"
! grep -q "TalCi.dll found" <<<"$log" || fail "a channel library was loaded: $log"

# With the kept folder on PATH after the open one, the library there is loaded by its full path.
run "$host" WINEPATH="$windir\\open;$windir\\kept"
expect_contains "$log" "TalCi.dll found"
expect_contains "$log" "TalCi.dll loaded from $windir\\kept\\TalCi.dll, file version 1.0.0.1"
expect_contains "$log" "Initialize the channel interface success."

# The library beside the plug-in is taken before any PATH folder.
run "$TAL_HOST" WINEPATH="$windir\\open;$windir\\kept"
expect_contains "$log" "TalCi.dll loaded from "
expect_contains "$log" "$(basename "$(dirname "$TAL_HOST")")\\TalCi.dll, file version 1.0.0.1"
echo "channel library from trusted places: ok"
