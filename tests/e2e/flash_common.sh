# Sourced by the flash e2e scripts after common.sh: a package folder with the sample images, a
# machine description made from samples/machine.json, talhost runs against it with instant
# sleeps (TAL_FASTSLEEP, an LD_PRELOAD shim), and checks of the simulator's flash record.

pkg_build=$TAL_BUILD_DIR/samples/package
vlte_image=$pkg_build/vlte_card.bin
vlti_image=$pkg_build/vlti_backplane.bin

# Every device of the sample machine older than the package (card 1.12, backplane 2.05).
all_older='.segments[].card.version = "1.05" | .segments[].card.backplanes[].version = "2.04"'

# flash_setup [JQ_FILTER]: a fresh scratch folder ($dir) with package/, drive/, machine.json
# (the sample machine, every device older than the package, through the filter, recording to
# record.json) and smbios.bin.
flash_setup() {
  dir=$(fresh_scratch)
  mkdir -p "$dir/drive"
  cp -r "$TAL_SAMPLES/package" "$dir/package"
  cp -r "$pkg_build/." "$dir/package/"
  jq --arg rec "$dir/record.json" "$all_older | ${1:-.} | .flash_record = \$rec" \
    "$TAL_SAMPLES/machine.json" >"$dir/machine.json" || fail "bad machine filter: ${1:-.}"
  tal_run "$TAL_BIN_DIR/talsim$TAL_EXE" smbios "$dir/machine.json" "$dir/smbios.bin" >/dev/null ||
    fail "talsim smbios failed"
  tail -c +41 "$vlte_image" >"$dir/vlte.payload"
  { tail -c +41 "$vlti_image"; head -c $((104432 - $(stat -c %s "$vlti_image") + 40)) /dev/zero; } \
    >"$dir/vlti.regions"
  rm -f "$dir/record.json"
}

# run_host ARGS...: talhost in the package folder, Install included, ARGS for the plug-in; sets
# $out and $rc.
run_host() { run_talhost --install -- "$@"; }

# run_talhost ARGS...: talhost in the package folder with ARGS as they stand; sets $out and $rc.
run_talhost() {
  set +e
  out=$(cd "$dir/package" &&
    TAL_MACHINE=$dir/machine.json TAL_SMBIOS_TABLE=$dir/smbios.bin SYSTEMDRIVE=$dir/drive \
      TAL_FASTSLEEP_REPORT=$dir/slept.txt LD_PRELOAD=$TAL_FASTSLEEP \
      ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
      tal_run "$TAL_HOST" --plugin "$TAL_PLUGIN" "$@" 2>&1)
  rc=$?
  set -e
  [ -f "$dir/record.json" ] || fail "no flash record; talhost said:
$out"
}

engine_log() { cat "$dir/drive/talsystem/log/Verbose.log" 2>/dev/null || true; }

# rec JQ: a value from the record.
rec() { jq -r "$1" "$dir/record.json"; }

# expect_card_flashed SEG / expect_backplane_flashed SEG PORT: the device holds its image.
expect_card_flashed() {
  local f
  f=$(rec ".cards[] | select(.segment == $1) | .loader.image_file")
  [ "$(rec ".cards[] | select(.segment == $1) | .loader.ended")" = true ] ||
    fail "card $1: transfer not ended"
  cmp -s "$f" "$dir/vlte.payload" || fail "card $1: image differs from the payload"
}
expect_backplane_flashed() {
  local q=".cards[] | select(.segment == $1) | .backplanes[] | select(.port == $2) | .cpld"
  [ "$(rec "$q.done")" = true ] && [ "$(rec "$q.closed")" = true ] ||
    fail "backplane $1/$2: not done and closed"
  cmp -s "$(rec "$q.image_file")" "$dir/vlti.regions" ||
    fail "backplane $1/$2: regions differ from the payload"
}
expect_card_untouched() {
  [ "$(rec ".cards[] | select(.segment == $1) | .loader.blocks_accepted")" = 0 ] ||
    fail "card $1 was programmed"
}
expect_backplane_untouched() {
  [ "$(rec ".cards[] | select(.segment == $1) | .backplanes[] | select(.port == $2) |
        .cpld.erases")" = 0 ] || fail "backplane $1/$2 was programmed"
}

# No lock, handshake or port left behind, and no model saw a protocol violation. With "noports"
# the port selection is not checked: discovery leaves the last backplane's port selected on a
# card whose backplanes are then not flashed.
expect_released() {
  [ "$(rec '[.cards[] | .handshake_held] | any')" = false ] || fail "a handshake is held"
  [ "${1:-}" = noports ] || [ "$(rec '[.cards[] | .port_mask] | add')" = 0 ] ||
    fail "a port stays selected"
  [ "$(rec '[.cards[] | .loader.locked, (.backplanes[] | .cpld.locked)] | any')" = false ] ||
    fail "a device is left locked"
  local v
  v=$(rec '[.cards[] | .loader.violations[], (.backplanes[] | .cpld.violations[])] | join("; ")')
  [ -z "$v" ] || fail "violations: $v"
}
