#!/bin/sh
# Writes the manual page of one program, gzipped as Debian wants it (-9, no
# time stamp), from the program's own --help by help2man, so that the page
# never drifts from it:
#
#   packaging/make-man-page.sh PROGRAM SUMMARY OUTPUT.1.gz [EXAMPLES.txt] [INCLUDE.h2m...]
#
# EXAMPLES.txt (docs/cli-examples.txt, or "" for none) is the text the user
# guide shows too: blocks of "# what it does" lines over command lines,
# becoming the EXAMPLES section. The INCLUDE files add sections of their own.
#
# CLI11 prints an option's default in the option's own line
# ("--source TEXT=C:\Program Files (x86)\..."), which help2man leaves in the
# page's tag line, where groff justifies and hyphenates the Windows path.
# Each default is moved into a line of its own under the option's
# description, hyphenated nowhere and broken only after a "\".
set -eu
program=$1 summary=$2 output=$3
shift 3
examples=${1:-}
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

includes=""
if [ -n "$examples" ]; then
  awk '
    function roff(text) {
      gsub(/\\/, "\\e", text)
      if (text ~ /^[.'\'']/) text = "\\&" text
      return text
    }
    function end_code() { if (in_code) print ".fi\n.RE"; in_code = 0 }
    BEGIN { print "[EXAMPLES]\n.nh" }
    /^$/ { end_code(); next }
    /^# / { end_code(); print ".PP\n" roff(substr($0, 3)); next }
    {
      if (!in_code) print ".PP\n.RS\n.nf"
      in_code = 1
      line = roff($0)
      gsub(/-/, "\\-", line)
      print line
    }
    END { end_code() }
  ' "$examples" >"$work/examples.h2m"
  includes="--include=$work/examples.h2m"
fi
for include in "$@"; do
  includes="$includes --include=$include"
done

# LC_ALL=C: help2man's own words, and the date, in English.
# shellcheck disable=SC2086 # the include options are words of their own
LC_ALL=C help2man --no-info --no-discard-stderr --name="$summary" $includes \
  --output="$work/page.1" "$program"

awk '
  function unbroken(text) {
    gsub(/ /, "\\ ", text)
    gsub(/\\e/, "\\e\\:", text)
    return "\\%" text
  }
  previous == ".TP" && match($0, / [A-Z]+=/) {
    name = substr($0, 1, RSTART + RLENGTH - 2)
    fallback = substr($0, RSTART + RLENGTH)
    print name
    getline description
    print description
    print ".br"
    print ".na"
    print "Default: " unbroken(fallback)
    print ".ad"
    previous = description
    next
  }
  { print; previous = $0 }
' "$work/page.1" >"$work/page-fitted.1"

gzip -9n <"$work/page-fitted.1" >"$output"
