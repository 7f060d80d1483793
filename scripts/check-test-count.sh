#!/usr/bin/env bash
# Checks that ctest runs every test case the test binaries hold: one ctest
# entry per case, under the case's own name. gtest_discover_tests can merge
# cases into one entry (a parameter printed into a name, one ending in "\" say)
# that runs only the first of them, and nothing else would notice.
#
#   scripts/check-test-count.sh [BUILD_DIR]    (default: build/dev)
#
# The binaries are run as ctest runs them, emulator included, so a build for
# another platform works with its own ctest.
set -euo pipefail

build_dir=${1:-build/dev}
[ -d "$build_dir" ] || { echo "no build folder: $build_dir" >&2; exit 1; }
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every ctest entry of a GoogleTest binary as one line: its command's words,
# ASCII unit separators between them, then a tab and the case it selects
# (--gtest_filter). Entries of other kinds (a fixture that starts Wine, a
# check of an exe's import table) are named on standard error and left out.
# The JSON ctest prints has one array element per line.
ctest --test-dir "$build_dir" --show-only=json-v1 >"$work/tests.json"
awk '
  function unquote(text) {
    sub(/^[ \t]*"/, "", text); sub(/",?[ \t]*$/, "", text)
    gsub(/\\"/, "\"", text); gsub(/\\\\/, "\\", text)
    return text
  }
  /^      "command" :/ { in_command = 1; runner = ""; filter = ""; next }
  in_command && /^      \[/ { next }
  in_command && /^      \]/ {
    in_command = 0
    if (filter == "") {
      shown = runner; gsub(/\037/, " ", shown)
      print "not a GoogleTest case, not counted: " shown > "/dev/stderr"
      next
    }
    print runner "\t" filter
    next
  }
  in_command {
    word = unquote($0)
    if (word ~ /^--gtest_filter=/) { filter = substr(word, 16) }
    else if (word !~ /^--gtest_/) { runner = (runner == "" ? "" : runner "\037") word }
  }
' "$work/tests.json" >"$work/entries"

cut -f2 "$work/entries" | sort >"$work/registered"

# Every case each binary lists, as Suite.Name; what follows "#" is the
# parameter's value, not part of the name. A Windows binary ends its lines
# with CR LF.
: >"$work/listed"
cut -f1 "$work/entries" | sort -u | while IFS= read -r runner; do
  IFS=$'\037' read -r -a command <<<"$runner"
  if ! "${command[@]}" --gtest_list_tests >"$work/list" 2>"$work/list.err"; then
    echo "cannot list the cases of ${command[*]}:" >&2
    cat "$work/list.err" >&2
    exit 1
  fi
  sed -e 's/\r$//' -e 's/  *#.*$//' "$work/list" | awk '
    /^[^ ]/ { suite = $0; next }
    /^  [^ ]/ { sub(/^  /, ""); print suite $0 }
  ' >>"$work/listed"
done
sort -o "$work/listed" "$work/listed"

registered=$(wc -l <"$work/registered")
listed=$(wc -l <"$work/listed")
if [ "$registered" -eq 0 ]; then
  echo "ctest knows no tests in $build_dir" >&2
  exit 1
fi
if [ "$registered" -eq "$listed" ] && cmp -s "$work/registered" "$work/listed"; then
  echo "ctest runs all $listed test cases of $build_dir"
  exit 0
fi
echo "ctest has $registered entries for the $listed test cases of $build_dir" >&2
echo "Cases with no ctest entry of their own:" >&2
comm -13 "$work/registered" "$work/listed" | sed 's/^/  /' >&2
echo "ctest entries that are no single case:" >&2
comm -23 "$work/registered" "$work/listed" | sed 's/^/  /' >&2
exit 1
