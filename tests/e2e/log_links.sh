#!/usr/bin/env bash
# The plug-in runs inside an administrator's setup program: a link that an ordinary user put in
# the place of the log folder or of a log file must not lead its writes elsewhere. The target
# stays untouched; a refused folder is named in the result text and property 9 answers 0.
# Natively both folder and file links; under wine folder links (wine reports a link to a folder
# as a reparse point, but a link to a file as a plain file).
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
pkg="$dir/package"
mkdir -p "$pkg" "$dir/elsewhere"
cp -r "$TAL_BUILD_DIR/samples/package/." "$pkg/"
echo theirs >"$dir/elsewhere/theirs.txt"
if [ "$TAL_WINDOWS" = 1 ]; then
  wine_prefix_copy "$dir/prefix"
  drive_c="$WINEPREFIX/drive_c"
else
  export SYSTEMDRIVE="$dir/drive"
  mkdir -p "$SYSTEMDRIVE"
  drive_c=$SYSTEMDRIVE
fi
# The engine log's drive: the package's own folder tree (natively the drive; S: under wine).
export SYSTEMDRIVE=${SYSTEMDRIVE:-$dir/sdrive}
mkdir -p "$SYSTEMDRIVE"

untouched() {
  [ "$(ls -A "$dir/elsewhere")" = theirs.txt ] && [ "$(cat "$dir/elsewhere/theirs.txt")" = theirs ] ||
    fail "$1: the link's target was written: $(ls -la "$dir/elsewhere"; cat "$dir/elsewhere"/*)"
}

# 1. The component log's folder is a link.
rm -rf "$drive_c/talsystem"
ln -s "$dir/elsewhere" "$drive_c/talsystem"
# (Install finds no device here: exit status 1; only a usage error, 2, is wrong.)
out=$(cd "$pkg" && tal_run "$TAL_HOST" --steps 5,9,install -- /verbose_log 2>&1) ||
  [ $? != 2 ] || fail "talhost: usage error: $out"
untouched "log folder link"
expect_contains "$out" 'property 9 (host log): result=0 (failed)'
expect_contains "$out" 'The logs were not written: the folder '
expect_contains "$out" 'talsystem is a link or reparse point.'

# 2. The engine log's folder is a link (the current drive's \talsystem\log).
rm -f "$drive_c/talsystem"
if [ "$TAL_WINDOWS" = 1 ]; then
  mkdir -p "$SYSTEMDRIVE/talsystem"
  ln -s "$dir/elsewhere" "$SYSTEMDRIVE/talsystem/log"
  out=$(cd "$SYSTEMDRIVE" && tal_run "$TAL_HOST" --plugin "$TAL_PLUGIN" --steps 5 -- -f 2>&1) ||
    fail "talhost exited with $?: $out"
  untouched "engine log folder link"
  exit 0
fi

# 3. Natively: the log files are links (the folders are real).
mkdir -p "$drive_c/talsystem/log"
ln -s "$dir/elsewhere/theirs.txt" "$drive_c/talsystem/log/talsetup.log"
ln -s "$dir/elsewhere/theirs.txt" "$drive_c/talsystem/log/Verbose.log"
out=$(cd "$pkg" && tal_run "$TAL_HOST" --steps 5,install -- -f 2>&1) ||
  [ $? != 2 ] || fail "talhost: usage error: $out"
untouched "log file links"
[ -L "$drive_c/talsystem/log/talsetup.log" ] || fail "the link was replaced"
echo "log links: ok"
