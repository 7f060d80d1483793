#!/usr/bin/env bash
# Runs a test program of the Windows build under Wine: the command given, a
# Wine loader and its arguments. Now and then Wine fails to start a program at
# all, which then ends at once with a failing status, having printed nothing.
# Such a start, and only such, is tried once more. A program that ran has
# printed something before it could fail, if only GoogleTest's first line, so
# a test that fails, or crashes, is never run again.
set -u
stdout=$(mktemp)
stderr=$(mktemp)
trap 'rm -f "$stdout" "$stderr"' EXIT
"$@" >"$stdout" 2>"$stderr"
status=$?
if [ "$status" -ne 0 ] && [ ! -s "$stdout" ] && [ ! -s "$stderr" ]; then
  echo "wine-run: Wine ended with status $status before the program printed anything;" \
    "starting it once more" >&2
  "$@" >"$stdout" 2>"$stderr"
  status=$?
fi
cat "$stdout"
cat "$stderr" >&2
exit "$status"
