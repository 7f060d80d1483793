#!/usr/bin/env bash
# Writes the seed corpus of the conversion fuzzer: synthetic models from the
# sample generator, each behind the bits of a scale factor.
# Usage: fuzz/make_seeds.sh MAKE_SAMPLES_BINARY OUT_DIR
set -euo pipefail
make_samples=$1
out=$2
models=$(mktemp -d)
trap 'rm -rf "$models"' EXIT

# Small, middling and largest-accepted models; the generator gives every
# fourth model 1 to 3 trailing bytes.
"$make_samples" --out "$models/small" --count 8 --min-bytes 16 --max-bytes 2048 --seed 11
"$make_samples" --out "$models/middle" --count 4 --min-bytes 8192 --max-bytes 65536 --seed 12
"$make_samples" --out "$models/large" --count 4 --min-bytes 131060 --max-bytes 131072 --seed 13
# The largest image the pass accepts (32768 words) and the smallest it refuses.
for size in 131072 131076; do
  cp "$models/large/CliffNatural0_A1" "$models/large/padded_$size"
  truncate -s "$size" "$models/large/padded_$size"
done

# Little-endian bits of 2, 0.5, 1, 0 and -1.
factors=('\x00\x00\x00\x40' '\x00\x00\x00\x3F' '\x00\x00\x80\x3F' '\x00\x00\x00\x00'
  '\x00\x00\x80\xBF')
mkdir -p "$out"
n=0
for model in "$models"/*/*; do
  factor=${factors[$((n % ${#factors[@]}))]}
  { printf "$factor"; cat "$model"; } >"$out/seed-$n"
  n=$((n + 1))
done
echo "wrote $n seeds into $out"
