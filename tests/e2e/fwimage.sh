#!/usr/bin/env bash
# fwimage makes only images the plug-in could flash: an unknown device type or chip code, an image
# for one family with the other's chip, and a Velto-I payload over what the CPLD holds are refused
# with a message that names the fault and exit 1, and no file is written.
source "$TAL_E2E_DIR/common.sh"

dir=$(fresh_scratch)
cd "$dir"
fwimage="$TAL_BIN_DIR/fwimage$TAL_EXE"

# NAME|EXIT|MESSAGE|ARGUMENTS
cases=$(cat <<'EOT'
velto_e|0|VeltoE 1.12, chip EP4CGX15BF14C6N|-t VeltoE -r 1.12 -c 1 -g 70000:1
velto_i_full|0|payload 104432 bytes|-t VeltoI -r 2.5 -c 2 -g 104432:2
type_unknown|1|device type 9 is not one the plug-in knows|-t 9 -r 1.0 -c 1 -g 10
chip_unknown|1|chip code 9 is not one the plug-in knows|-t VeltoE -r 1.0 -c 9 -g 10
e_with_cpld|1|a VeltoE image is for chip EP4CGX15BF14C6N (1), not LCMXO2-4000HC-4MG132C (2)|-t VeltoE -r 1.0 -c 2 -g 10
i_with_controller|1|a VeltoI image is for chip LCMXO2-4000HC-4MG132C (2), not EP4CGX15BF14C6N (1)|-t VeltoI -r 1.0 -c 1 -g 10
i_too_large|1|a VeltoI payload of 104433 bytes is over the 104432 bytes|-t VeltoI -r 2.5 -c 2 -g 104433:2
EOT
)
while IFS='|' read -r name want message args; do
  rc=0
  # shellcheck disable=SC2086  # the arguments are words
  out=$(tal_run "$fwimage" make $args "$name.bin" 2>&1) || rc=$?
  [ "$rc" = "$want" ] || fail "$name: exit $rc, expected $want: $out"
  expect_contains "$out" "$message"
  if [ "$want" = 0 ]; then
    [ -s "$name.bin" ] || fail "$name: no image written"
  else
    [ ! -e "$name.bin" ] || fail "$name: an image was written although refused"
  fi
done <<<"$cases"
echo "fwimage refusals: ok"
