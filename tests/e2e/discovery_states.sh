#!/usr/bin/env bash
# Property 5 follows the devices found: 2 when one is older than the package, 1 when all have
# its version, 3 when one is newer and none older, 6 when there are none. Property 3 names the
# devices marked for update, each once, and only on its first query.
source "$TAL_E2E_DIR/discovery_lib.sh"
disc_setup

# The sample machine: card 2 (1.05) is older than the package's 1.12, and so is the backplane
# behind it (2.03 against 2.05); everything else is equal.
disc_machine sample <"$TAL_SAMPLES/machine.json"
out=$(disc_run sample)
expect_line "$out" 'property 5 (installation status): result=1 (answered) status=2 (installed version older) text=""'
expect_line "$out" "property 3 (devices due): result=1 (answered) text=\"\\r\\nController card 2: $CARD: 1.05\\n\\r\\nBackplane 1: $BACKPLANE: 2.03\\n\""
expect_line "$out" 'property 3 (devices due): result=1 (answered) text=""'
# The device tree: each card with its segment, the backplanes behind it with their ports, the
# versions found and offered and what Install would do.
tree="devices:
  Controller card 1 (segment 1): $CARD, 1.12 -> 1.12, none
    Backplane 1 (port 0): $BACKPLANE, 2.05 -> 2.05, none
    Backplane 2 (port 1): $BACKPLANE, 2.05 -> 2.05, none
    Backplane 3 (port 2): $BACKPLANE, 2.05 -> 2.05, none
  Controller card 2 (segment 3): $CARD, 1.05 -> 1.12, upgrade
    Backplane 1 (port 0): $BACKPLANE, 2.03 -> 2.05, upgrade"
expect_block "$out" "$tree"
log=$(disc_engine_log)
expect_contains "$log" "system name = Tal Systems TS-900 Storage Server"
expect_contains "$log" "FOUND Velto-E: $CARD idxSeg:1 version: 1.12"
expect_contains "$log" "FOUND Velto-E: $CARD idxSeg:3 version: 1.05"
[ "$(grep -c 'Object Name: Backplane' <<<"$log")" -ge 4 ] || fail "four backplanes expected:
$log"

# All at the package's versions: 1, and every device is marked (a rewrite on Install).
disc_machine same <<JSON
{"segments": [{"segment": 1, "card": $(card 1.12 2.05 2.05)},
              {"segment": 2, "card": $(card 1.12)}]}
JSON
out=$(disc_run same)
expect_line "$out" 'property 5 (installation status): result=1 (answered) status=1 (installed version the same) text=""'
all="\\r\\nController card 1: $CARD: 1.12\\n\\r\\nBackplane 1: $BACKPLANE: 2.05\\n"
all="$all\\r\\nBackplane 2: $BACKPLANE: 2.05\\n\\r\\nController card 2: $CARD: 1.12\\n"
expect_line "$out" "property 3 (devices due): result=1 (answered) text=\"$all\""
# Install without a state query first looks at the devices; none is older, none is forced: it
# says that nothing was due, without asking for a power cycle.
out=$(DISC_STEPS=install disc_run same)
expect_line "$out" 'install: result=1 (success) text="No device needed an update: nothing was changed.\r\n"'

# One backplane newer, none older: 3, and every device is marked (a downgrade on Install).
disc_machine newer <<JSON
{"segments": [{"segment": 4, "card": $(card 1.12 2.05 2.10)}]}
JSON
out=$(disc_run newer)
expect_line "$out" 'property 5 (installation status): result=1 (answered) status=3 (installed version newer) text=""'
all="\\r\\nController card 1: $CARD: 1.12\\n\\r\\nBackplane 1: $BACKPLANE: 2.05\\n"
all="$all\\r\\nBackplane 2: $BACKPLANE: 2.10\\n"
expect_line "$out" "property 3 (devices due): result=1 (answered) text=\"$all\""

# No switch card: 6 and an empty list, whatever else the SMBIOS table holds.
disc_machine absent <<JSON
{"smbios": {"records": [{"vendor": "0x8086", "device": "0x8749", "segment": 1},
                        {"map_handle": "0x7777"}]},
 "segments": [{"segment": 2, "smbios": true}]}
JSON
out=$(disc_run absent)
expect_line "$out" 'property 5 (installation status): result=1 (answered) status=6 (no supported hardware present and nothing installed) text=""'
[ "$(grep -c '^property 3 (devices due): result=1 (answered) text=""$' <<<"$out")" -eq 2 ] || fail "property 3 not empty:
$out"
log=$(disc_engine_log)
expect_contains "$log" "Rec # 0 Vendor ID = 10b5 Device ID = 8749"
expect_contains "$log" "Rec # 1 Vendor ID = 8086 Device ID = 8749"
expect_contains "$log" "ERROR: Failed to read I2C Map for 10b5 8749"
echo "discovery states: ok"
