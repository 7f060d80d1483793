#!/usr/bin/env bash
# Checks that the user guide shows the command-line examples exactly as
# docs/cli-examples.txt holds them, the text the manual page's EXAMPLES
# section is made from (packaging/make-man-page.sh): the code block after the
# guide's line "<!-- docs/cli-examples.txt -->" is the file, line for line.
#
#   scripts/check-examples.sh [GUIDE.md [EXAMPLES.txt]]
set -euo pipefail
cd "$(dirname "$0")/.."
guide=${1:-docs/guide.md}
examples=${2:-docs/cli-examples.txt}

shown=$(awk '
  $0 == "<!-- docs/cli-examples.txt -->" { marked = 1; next }
  marked && /^```/ { if (inside) exit; inside = 1; next }
  inside { print }
' "$guide")
[ -n "$shown" ] || { echo "$guide shows no block after <!-- docs/cli-examples.txt -->" >&2; exit 1; }
if ! diff -u --label "$examples" --label "$guide" "$examples" <(echo "$shown"); then
  echo "$guide's examples differ from $examples, which the manual page shows; make them one" >&2
  exit 1
fi
