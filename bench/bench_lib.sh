# Helpers shared by the benchmark scripts; sourced, not run.

# require_tools TOOL...: fails the benchmark unless each is an executable
# path or a command on PATH.
require_tools() {
  local tool
  for tool in "$@"; do
    if [[ $tool == */* ]]; then
      [ -x "$tool" ] || { echo "missing $tool" >&2; exit 1; }
    else
      command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh bench)" >&2; exit 1; }
    fi
  done
}

# The median of the numbers on standard input, one per line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# ratio A B: A / B, or 0 where B is 0.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }'; }
# verdict VALUE LIMIT: PASS where VALUE is at most LIMIT, MISS otherwise.
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit) ? "PASS" : "MISS" }'; }

# expect_files DIR COUNT WHAT: fails the benchmark unless DIR holds COUNT
# files and no staging file.
expect_files() {
  local written staged
  written=$(find "$1" -maxdepth 1 -type f ! -name '.vendrake-*' | wc -l)
  staged=$(find "$1" -maxdepth 1 -name '.vendrake-*' | wc -l)
  if [ "$written" -ne "$2" ] || [ "$staged" -ne 0 ]; then
    echo "$3 left $written of $2 files and $staged staging files in $1" >&2
    exit 1
  fi
}
