# Helpers of the discovery e2e scripts: a package folder and a simulated machine in the scratch
# folder, and a talhost run against them.
source "$TAL_E2E_DIR/common.sh"

CARD="Orvo Varibay 6 HDD Switch Card"
BACKPLANE="Orvo Varibay 6 HDD Backplane"

# disc_setup: the scratch folder with package/ (the built sample package, images included) and
# drive/ (SYSTEMDRIVE: the logs land in drive/talsystem/log).
disc_setup() {
  DISC_DIR=$(fresh_scratch)
  cp -r "$TAL_BUILD_DIR/samples/package" "$DISC_DIR/package"
  mkdir -p "$DISC_DIR/drive/talsystem/log"
  export SYSTEMDRIVE="$DISC_DIR/drive"
}

# disc_machine NAME < JSON: writes the machine description and its SMBIOS table.
disc_machine() {
  local name=$1
  cat >"$DISC_DIR/$name.json"
  tal_run "$TAL_BIN_DIR/talsim$TAL_EXE" smbios "$DISC_DIR/$name.json" "$DISC_DIR/$name.bin" ||
    fail "talsim smbios $name.json failed"
}

# disc_run NAME [ARGS...]: talhost in the package folder against machine NAME, with a fresh log
# folder; prints talhost's answers. Property 3 comes after property 5, as a host asks; DISC_STEPS
# sets other steps. ARGS are talhost's (the plug-in's follow "--").
disc_run() {
  local name=$1
  shift
  rm -rf "$DISC_DIR/drive/talsystem/log"
  mkdir -p "$DISC_DIR/drive/talsystem/log"
  (cd "$DISC_DIR/package" &&
    TAL_MACHINE="$DISC_DIR/$name.json" TAL_SMBIOS_TABLE="$DISC_DIR/$name.bin" \
      tal_run "$TAL_HOST" --steps "${DISC_STEPS:-version,5,3,3}" "$@" 2>&1) ||
    fail "talhost on machine $name exited with $?"
}

disc_engine_log() { cat "$DISC_DIR/drive/talsystem/log/Verbose.log" 2>/dev/null || true; }

# expect_line TEXT LINE: TEXT holds LINE as one whole line, exactly once.
expect_line() {
  local n
  n=$(grep -cxF -- "$2" <<<"$1" || true)
  [ "$n" -eq 1 ] || fail "expected the line [$2] once (found $n times) in:
$1"
}

# A card JSON: card VERSION [BACKPLANE_VERSION...]
card() {
  local version=$1 sep="" bps=""
  shift
  for v in "$@"; do
    bps="$bps$sep{\"name\": \"$BACKPLANE\", \"version\": \"$v\"}"
    sep=", "
  done
  printf '{"name": "%s", "version": "%s", "backplanes": [%s]}' "$CARD" "$version" "$bps"
}
