#!/usr/bin/env bash
# Times a batch run of vendrake-cli against `cp -r` of the same folder on the
# same disk, and measures the peak memory of a run over few and over many
# files. Usage: bench/batch_bench.sh BUILD_DIR [RUNS] [FILES]
# BUILD_DIR holds cli/vendrake-cli and tools/vendrake-make-samples.
set -euo pipefail

build=$(cd "$1" && pwd)
runs=${2:-5}
files=${3:-3000}
cli=$build/cli/vendrake-cli
make_samples=$build/tools/vendrake-make-samples
work=$build/batch-bench
for tool in "$cli" "$make_samples" /usr/bin/time; do
  [ -x "$tool" ] || { echo "missing $tool" >&2; exit 1; }
done

rm -rf "$work"
mkdir -p "$work"
source_dir=$work/CliffNatural0
# 16 to 128 KiB; the generator stays at or below the largest size the pass accepts.
"$make_samples" --out "$source_dir" --count "$files" --min-bytes 16384 --max-bytes 131072 --seed 5
source_bytes=$(du -sb "$source_dir" | cut -f1)

# Runs "$@" after flushing earlier writes; sets elapsed (wall seconds), cpu
# (user + system seconds) and peak (KiB of resident memory). Every run writes
# a folder of its own and none is removed until the end: creating files right
# after thousands were deleted costs ext4 far more than creating them at
# other times, which would swamp what is measured.
measure() {
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/usage" "$@" >/dev/null
  end=$(date +%s%N)
  elapsed=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
  read -r peak user system <"$work/usage"
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}

run_vendrake() {
  local dest=$work/CliffNatural0_2x_$1
  measure "$cli" --source "$source_dir" --dest "$dest" --scale 2
  local written
  written=$(find "$dest" -type f | wc -l)
  if [ "$written" -ne "$files" ]; then
    echo "vendrake-cli wrote $written of $files files" >&2
    exit 1
  fi
}
run_cp() { measure cp -r "$source_dir" "$work/copy_$1"; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Batch run: $files files, $((source_bytes / 1024)) KiB, in $work"
run_vendrake warm-up
run_cp warm-up

ratios=() cpu_ratios=() vendrake_times=() cp_times=() vendrake_peak=0 cp_peak=0
for ((run = 1; run <= runs; run++)); do
  # Interleaved, and in turn first, so that neither always meets a busier disk.
  order="vendrake cp"
  ((run % 2)) || order="cp vendrake"
  for tool in $order; do
    if [ "$tool" = vendrake ]; then
      run_vendrake "$run"
      v=$elapsed v_cpu=$cpu vendrake_peak=$((peak > vendrake_peak ? peak : vendrake_peak))
    else
      run_cp "$run"
      c=$elapsed c_cpu=$cpu cp_peak=$((peak > cp_peak ? peak : cp_peak))
    fi
  done
  ratio=$(awk -v v="$v" -v c="$c" 'BEGIN { printf "%.3f", v / c }')
  cpu_ratio=$(awk -v v="$v_cpu" -v c="$c_cpu" 'BEGIN { printf "%.3f", (c > 0) ? v / c : 0 }')
  printf '  run %d: vendrake-cli %ss (cpu %ss), cp -r %ss (cpu %ss), ratio %s\n' \
    "$run" "$v" "$v_cpu" "$c" "$c_cpu" "$ratio"
  ratios+=("$ratio") cpu_ratios+=("$cpu_ratio") vendrake_times+=("$v") cp_times+=("$c")
done
printf 'Median vendrake-cli time: %ss\n' "$(printf '%s\n' "${vendrake_times[@]}" | median)"
printf 'Median cp -r time:        %ss\n' "$(printf '%s\n' "${cp_times[@]}" | median)"
printf 'Median ratio (vendrake-cli / cp -r): %s (target at most 1.2)\n' \
  "$(printf '%s\n' "${ratios[@]}" | median)"
printf 'Median ratio of cpu time (user + system): %s\n' \
  "$(printf '%s\n' "${cpu_ratios[@]}" | median)"
printf 'Peak memory: vendrake-cli %d KiB, cp -r %d KiB\n' "$vendrake_peak" "$cp_peak"

# In place, every output replaces a model, and each is flushed to disk before
# it takes the model's name; a run into a new folder flushes nothing.
in_place=$work/InPlace/CliffNatural0
mkdir -p "$work/InPlace"
cp -r "$source_dir" "$in_place"
sync
in_place_times=()
for ((run = 1; run <= runs; run++)); do
  measure "$cli" --source "$in_place" --dest "$in_place" --scale 2
  printf '  in-place run %d: %ss\n' "$run" "$elapsed"
  in_place_times+=("$elapsed")
done
in_place_median=$(printf '%s\n' "${in_place_times[@]}" | median)
new_folder_median=$(printf '%s\n' "${vendrake_times[@]}" | median)
printf 'Median in-place run (every output replaced and flushed): %ss, %s x a run into a new folder\n' \
  "$in_place_median" "$(awk -v a="$in_place_median" -v b="$new_folder_median" 'BEGIN { printf "%.2f", a / b }')"
rm -rf "$work"/CliffNatural0_2x_* "$work"/copy_* "$work/InPlace" "$source_dir"

# Peak memory over few and many small files of the same sizes.
declare -A peaks
for count in 100 20000; do
  folder=$work/Small$count
  "$make_samples" --out "$folder" --count "$count" --min-bytes 1024 --max-bytes 4096 --seed 6
  measure "$cli" --source "$folder" --dest "$work/Small${count}_2x" --scale 2
  peaks[$count]=$peak
  printf 'Peak memory of vendrake-cli over %5d files: %d KiB (%ss)\n' "$count" "$peak" "$elapsed"
  rm -rf "$folder" "$work/Small${count}_2x"
done
difference=$((peaks[20000] - peaks[100]))
printf 'Peak memory difference, 20000 files - 100 files: %d KiB (target within 1024 KiB)\n' \
  "$difference"
rm -rf "$work"
