#!/usr/bin/env bash
# The options choose what is marked besides the older devices: "-e" the devices with the
# package's version, "-g" the newer ones, "-f" all of them. Numbering: a card behind a card with
# fewer than three backplanes is still the next card.
source "$TAL_E2E_DIR/discovery_lib.sh"
disc_setup

# Card 1 older, its backplanes same, newer, same; card 2 newer, its backplane older.
disc_machine mixed <<JSON
{"segments": [{"segment": 1, "card": $(card 1.05 2.05 2.10 2.05)},
              {"segment": 3, "card": $(card 1.20 2.01)}]}
JSON
c1="\\r\\nController card 1: $CARD: 1.05\\n"
b11="\\r\\nBackplane 1: $BACKPLANE: 2.05\\n"
b12="\\r\\nBackplane 2: $BACKPLANE: 2.10\\n"
b13="\\r\\nBackplane 3: $BACKPLANE: 2.05\\n"
c2="\\r\\nController card 2: $CARD: 1.20\\n"
b21="\\r\\nBackplane 1: $BACKPLANE: 2.01\\n"

check() {
  local expected=$1
  shift
  local out
  out=$(disc_run mixed -- "$@")
  expect_line "$out" 'property 5 (installation status): result=1 (answered) status=2 (installed version older) text=""'
  expect_line "$out" "property 3 (devices due): result=1 (answered) text=\"$expected\""
}
check "$c1$b21"
check "$c1$b11$b13$b21" -e
check "$c1$b12$c2$b21" -g
check "$c1$b11$b12$b13$c2$b21" -f
check "$c1$b11$b12$b13$c2$b21" -e -g
# The device tree marks the very devices property 3 lists, though both cards have a "Backplane 1".
out=$(disc_run mixed -- -e)
tree="devices:
  Controller card 1 (segment 1): $CARD, 1.05 -> 1.12, upgrade
    Backplane 1 (port 0): $BACKPLANE, 2.05 -> 2.05, rewrite
    Backplane 2 (port 1): $BACKPLANE, 2.10 -> 2.05, none
    Backplane 3 (port 2): $BACKPLANE, 2.05 -> 2.05, rewrite
  Controller card 2 (segment 3): $CARD, 1.20 -> 1.12, none
    Backplane 1 (port 0): $BACKPLANE, 2.01 -> 2.05, upgrade"
expect_block "$out" "$tree"
# Options are exact: these mark nothing more.
check "$c1$b21" -E -force2 /G
echo "discovery options: ok"
