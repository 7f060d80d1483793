#!/usr/bin/env bash
# Checks every relative link in README.md and docs/*.md: the file or folder
# it names exists, and an anchor (page.md#section, or #section on the same
# page) names a heading of that page, as GitHub makes anchors of headings:
# lower case, punctuation dropped, spaces as "-", "-1", "-2" after repeats.
# Links to other sites are not fetched. Code blocks and `code` are not links.
# Prints each broken link and exits with 1 when there is one.
#
#   scripts/check-links.sh [PAGE.md...]   (default: README.md docs/*.md)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || set -- README.md docs/*.md

# The targets of a page's links, one a line: inline links and images
# ([text](target), ![alt](target "title")) and reference definitions
# ([name]: target).
targets_of() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced { next }
    {
      line = $0
      gsub(/`[^`]*`/, "", line)
      if (match(line, /^[ \t]*\[[^]]+\]:[ \t]+[^ \t]+/)) {
        definition = substr(line, RSTART, RLENGTH)
        sub(/^[ \t]*\[[^]]+\]:[ \t]+/, "", definition)
        print definition
        next
      }
      while (match(line, /\]\([^)]*\)/)) {
        target = substr(line, RSTART + 2, RLENGTH - 3)
        sub(/[ \t].*/, "", target)
        sub(/^</, "", target); sub(/>$/, "", target)
        print target
        line = substr(line, RSTART + RLENGTH)
      }
    }
  ' "$1"
}

# The anchors of a page's headings, one a line.
anchors_of() {
  awk '
    /^[ \t]*(```|~~~)/ { fenced = !fenced; next }
    fenced || !/^#+[ \t]/ { next }
    {
      text = $0
      sub(/^#+[ \t]+/, "", text); sub(/[ \t]+#+[ \t]*$/, "", text)
      text = tolower(text)
      gsub(/[^a-z0-9 _-]/, "", text)
      gsub(/ /, "-", text)
      anchor = text
      if (text in seen) anchor = text "-" seen[text]
      seen[text]++
      print anchor
    }
  ' "$1"
}

broken=0
for page in "$@"; do
  folder=$(dirname "$page")
  while IFS= read -r target; do
    case $target in
      "" | *://* | mailto:*) continue ;;
    esac
    path=${target%%#*}
    anchor=
    [[ $target == *#* ]] && anchor=${target#*#}
    file=$page
    [ -z "$path" ] || file=$folder/$path
    if [ ! -e "$file" ]; then
      echo "$page: broken link: $target ($file does not exist)"
      broken=1
    elif [ -n "$anchor" ] && ! anchors_of "$file" | grep -Fqx -- "$anchor"; then
      echo "$page: broken link: $target ($file has no heading for #$anchor)"
      broken=1
    fi
  done < <(targets_of "$page")
done
exit "$broken"
