#!/bin/sh
# SPDX-License-Identifier: MIT
# contrib/README.md lists every alert of the rules file, in its order, with
# its severity: the table cannot fall behind the rules again.
# Usage: alerts_listed_test.sh SOURCE_DIR
set -eu
src=$1
rules=$(awk '$1 == "-" && $2 == "alert:" { name = $3 }
  $1 == "severity:" { print name, $2 }' "$src/contrib/prometheus/sdsmart.rules.yml")
listed=$(sed -n 's/^| `\([A-Za-z]*\)` | \([a-z]*\) |.*/\1 \2/p' "$src/contrib/README.md")
[ -n "$rules" ] || { echo "no alerts read from the rules file"; exit 1; }
if [ "$rules" != "$listed" ]; then
  printf 'contrib/README.md does not list the alerts of the rules file.\nrules:\n%s\nREADME:\n%s\n' \
    "$rules" "$listed"
  exit 1
fi
echo "$(echo "$rules" | wc -l) alerts listed"
