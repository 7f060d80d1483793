#!/usr/bin/env bash
# Times batch runs of vendrake-cli against `cp -r` of the same folder on the
# same disk: a run into a new folder, a re-run into the same folder over its
# outputs, and an in-place run (the destination is the source folder). Counts
# the flush calls of each kind of run, compares a re-run with a run into a new
# folder over many small files, and measures the peak memory of a run over few
# and over many files.
#
#   bench/batch_bench.sh BUILD_DIR [RUNS] [FILES]
#
# BUILD_DIR holds cli/vendrake-cli and tools/vendrake-make-samples. RUNS (5)
# repetitions of each timed command over FILES (3000) models of 16 to 128 KiB.
# BENCH_MANY_FILES (100000; 0 leaves it out) is the number of small models of
# the one comparison of a re-run with a run into a new folder.
#
# Every timed command is followed by a syncfs of the file system (`sync -f`)
# inside the timed interval, cp -r as much as vendrake-cli: whatever a tool
# leaves in the page cache is written out before the clock stops, so that a
# tool that flushes as it goes is not compared with one that leaves its data
# for later.
#
# Targets are printed beside the figures with PASS or MISS; a MISS does not
# fail the benchmark. A failed or incomplete run does.
set -euo pipefail

build=$(cd "$1" && pwd)
runs=${2:-5}
files=${3:-3000}
many=${BENCH_MANY_FILES:-100000}
cli=$build/cli/vendrake-cli
make_samples=$build/tools/vendrake-make-samples
work=$build/batch-bench
# shellcheck source=bench/bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"
require_tools "$cli" "$make_samples" /usr/bin/time strace

began=$(date +%s)
rm -rf "$work"
mkdir -p "$work"
source_dir=$work/CliffNatural0
# 16 to 128 KiB; the generator stays at or below the largest size the pass accepts.
"$make_samples" --out "$source_dir" --count "$files" --min-bytes 16384 --max-bytes 131072 --seed 5
source_bytes=$(du -sb "$source_dir" | cut -f1)

# Runs "$@", then a syncfs of the benchmark's file system, after flushing
# earlier writes; sets elapsed (wall seconds, the syncfs included), cpu (user
# + system seconds of the command) and peak (KiB of resident memory). Every
# run writes a folder of its own and none is removed until the end: creating
# files right after thousands were deleted costs ext4 far more than creating
# them at other times, which would swamp what is measured.
measure() {
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/usage" "$@" >/dev/null
  sync -f "${sync_target:-$work}"
  end=$(date +%s%N)
  elapsed=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')
  read -r peak user system <"$work/usage"
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}

run_new() {
  measure "$cli" --source "$source_dir" --dest "$work/CliffNatural0_2x_$1" --scale 2
  expect_files "$work/CliffNatural0_2x_$1" "$files" "the run into a new folder"
}
run_rerun() {
  measure "$cli" --source "$source_dir" --dest "$work/CliffNatural0_2x_$1" --scale 2
  expect_files "$work/CliffNatural0_2x_$1" "$files" "the re-run"
}
# A fresh copy of the models for each in-place run, made and flushed first.
prepare_in_place() {
  mkdir -p "$work/InPlace_$1"
  cp -r "$source_dir" "$work/InPlace_$1/"
}
run_in_place() {
  local folder=$work/InPlace_$1/CliffNatural0
  measure "$cli" --source "$folder" --dest "$folder" --scale 2
  expect_files "$folder" "$files" "the in-place run"
}
run_cp() { measure cp -r "$source_dir" "$work/copy_$1"; }


echo "Batch run: $files files, $((source_bytes / 1024)) KiB, in $work"
echo "Every time includes a syncfs of the file system at the end of the command (cp -r too)."
run_new warm-up
run_rerun warm-up
prepare_in_place warm-up
run_in_place warm-up
run_cp warm-up

new_times=() rerun_times=() in_place_times=() cp_times=()
rerun_ratios=() in_place_ratios=() cp_ratios=() cpu_ratios=()
new_peak=0 cp_peak=0
for ((run = 1; run <= runs; run++)); do
  prepare_in_place "$run"
  # Interleaved, each first in turn, so that none always meets a busier disk;
  # a re-run follows the run whose outputs it replaces.
  case $((run % 3)) in
    1) order="new in-place cp" ;;
    2) order="in-place cp new" ;;
    0) order="cp new in-place" ;;
  esac
  for step in $order; do
    case $step in
      new)
        run_new "$run"
        n=$elapsed n_cpu=$cpu new_peak=$((peak > new_peak ? peak : new_peak))
        run_rerun "$run"
        r=$elapsed
        ;;
      in-place)
        run_in_place "$run"
        i=$elapsed
        ;;
      cp)
        run_cp "$run"
        c=$elapsed c_cpu=$cpu cp_peak=$((peak > cp_peak ? peak : cp_peak))
        ;;
    esac
  done
  printf '  run %d: new folder %ss (cpu %ss), re-run %ss, in place %ss, cp -r %ss (cpu %ss)\n' \
    "$run" "$n" "$n_cpu" "$r" "$i" "$c" "$c_cpu"
  new_times+=("$n") rerun_times+=("$r") in_place_times+=("$i") cp_times+=("$c")
  rerun_ratios+=("$(ratio "$r" "$n")") in_place_ratios+=("$(ratio "$i" "$n")")
  cp_ratios+=("$(ratio "$n" "$c")") cpu_ratios+=("$(ratio "$n_cpu" "$c_cpu")")
done
med() { printf '%s\n' "$@" | median; }
printf 'Median times: new folder %ss, re-run %ss, in place %ss, cp -r %ss\n' \
  "$(med "${new_times[@]}")" "$(med "${rerun_times[@]}")" "$(med "${in_place_times[@]}")" \
  "$(med "${cp_times[@]}")"
echo "Median of the ratios of each run:"
rerun_ratio=$(med "${rerun_ratios[@]}")
in_place_ratio=$(med "${in_place_ratios[@]}")
cp_ratio=$(med "${cp_ratios[@]}")
printf '  re-run / new folder:   %5.2f  target at most 1.5  %s\n' "$rerun_ratio" "$(verdict "$rerun_ratio" 1.5)"
printf '  in place / new folder: %5.2f  target at most 1.5  %s\n' "$in_place_ratio" "$(verdict "$in_place_ratio" 1.5)"
printf '  new folder / cp -r:    %5.2f  target at most 1.1  %s\n' "$cp_ratio" "$(verdict "$cp_ratio" 1.1)"
printf '  cpu time (user + system), new folder / cp -r: %.2f\n' "$(med "${cpu_ratios[@]}")"
printf 'Peak memory: vendrake-cli %d KiB, cp -r %d KiB\n' "$new_peak" "$cp_peak"

# What a re-run pays whatever it does: the old outputs it replaces are freed,
# which costs what removing them costs. A file system mounted with online
# discard (the mount option "discard") trims every freed block at once, and
# that cost shows in re-runs and in-place runs, not in runs into a new folder.
measure rm -rf "$work/CliffNatural0_2x_1"
freeing=$elapsed
mount_options=$(findmnt -n -o OPTIONS --target "$work" 2>/dev/null || echo unknown)
printf 'Freeing one run'"'"'s old outputs (rm -rf of them): %ss, on a file system mounted %s\n' \
  "$freeing" "$mount_options"
printf '  (re-run - freeing) / new folder: %5.2f\n' \
  "$(ratio "$(awk -v r="$(med "${rerun_times[@]}")" -v f="$freeing" 'BEGIN { print r - f }')" \
    "$(med "${new_times[@]}")")"

# Flush calls, counted by strace over one more run of each kind (not timed).
flush_calls() {
  local label=$1
  shift
  strace -f -c -o "$work/strace" -e trace=fsync,fdatasync,syncfs,sync,sync_file_range,msync \
    "$@" >/dev/null
  awk -v files="$files" -v label="$label" '
    $NF ~ /^(fsync|fdatasync|syncfs|sync)$/ { device += $4; kinds = kinds " " $NF "=" $4 }
    $NF == "sync_file_range" { ranges += $4 }
    $NF == "msync" { msyncs += $4 }
    END {
      printf "  %-11s %7.1f device flushes (%s), %7.1f sync_file_range, %.1f msync\n", label,
        device * 1000 / files, (kinds == "") ? "none" : substr(kinds, 2), ranges * 1000 / files,
        msyncs * 1000 / files
    }' "$work/strace"
}
echo "Flush calls per 1,000 files (device flushes: fsync, fdatasync, syncfs, sync; counts of the whole run in brackets):"
flush_calls "new folder" "$cli" --source "$source_dir" --dest "$work/CliffNatural0_2x_strace" --scale 2
flush_calls "re-run" "$cli" --source "$source_dir" --dest "$work/CliffNatural0_2x_strace" --scale 2
prepare_in_place strace
flush_calls "in place" "$cli" --source "$work/InPlace_strace/CliffNatural0" \
  --dest "$work/InPlace_strace/CliffNatural0" --scale 2
flush_calls "cp -r" cp -r "$source_dir" "$work/copy_strace"

# The same re-run on an ext4 mounted the usual way, without online discard,
# where freeing the old outputs costs little: a loop-mounted image in
# /dev/shm, where the machine allows it (root, a loop device, room).
discard_free_rerun() {
  local image=/dev/shm/vendrake-bench.img mount_point=$work/plain-ext4
  [ "$(id -u)" -eq 0 ] || { echo "not measured (not root)"; return; }
  command -v mkfs.ext4 >/dev/null && command -v losetup >/dev/null || {
    echo "not measured (no mkfs.ext4 or losetup)"
    return
  }
  truncate -s $((source_bytes * 4 + (256 << 20))) "$image" 2>/dev/null || { echo "not measured (no room in /dev/shm)"; return; }
  mkdir -p "$mount_point"
  if ! mkfs.ext4 -q -F "$image" || ! mount -o loop "$image" "$mount_point"; then
    rm -f "$image"
    echo "not measured (cannot mount an ext4 image)"
    return
  fi
  cp -r "$source_dir" "$mount_point/"
  local sync_target=$mount_point new_runs=() rerun_runs=() k
  for k in 1 2 3; do
    measure "$cli" --source "$mount_point/CliffNatural0" --dest "$mount_point/Out${k}_2x" --scale 2
    new_runs+=("$elapsed")
    measure "$cli" --source "$mount_point/CliffNatural0" --dest "$mount_point/Out${k}_2x" --scale 2
    rerun_runs+=("$(ratio "$elapsed" "${new_runs[-1]}")")
    expect_files "$mount_point/Out${k}_2x" "$files" "the re-run on the plain ext4"
  done
  umount "$mount_point"
  rm -f "$image"
  local plain_ratio
  plain_ratio=$(med "${rerun_runs[@]}")
  printf 'new folder %ss (median of 3), re-run / new folder %5.2f  target at most 1.5  %s\n' \
    "$(med "${new_runs[@]}")" "$plain_ratio" "$(verdict "$plain_ratio" 1.5)"
}
printf 'On an ext4 image mounted without discard: '
discard_free_rerun

rm -rf "$work"/CliffNatural0_2x_* "$work"/copy_* "$work"/InPlace_*

# What the progress line costs a run into a new folder: --progress against
# --no-progress, standard error on a file and, through script(1), on a
# terminal. On a disk, the writeback of the run before makes pairs wander by
# tens of per cent either way, far above the 2 % looked for; so these runs go
# on a tmpfs (/dev/shm) where there is one, with no disk to wait for. There a
# run is shorter and the line's share of it larger than on any disk. The pairs
# go each way in turn; the median of the per-pair costs is printed, in wall
# time and in the program's user + system time.
progress_pairs=${BENCH_PROGRESS_PAIRS:-10}
progress_work=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  progress_work=$(mktemp -d /dev/shm/vendrake-progress.XXXXXX)
  # The models would otherwise stay in memory after a failed run.
  trap 'rm -rf "$progress_work"' EXIT
fi
cp -r "$source_dir" "$progress_work/Models"
progress_run() {
  local terminal=$1 choice=$2 dest=$progress_work/Progress_$1_$2
  if [ "$terminal" = terminal ]; then
    measure script -qec "'$cli' --$choice --source '$progress_work/Models' --dest '$dest' --scale 2 >/dev/null" /dev/null
  else
    measure sh -c 'err=$1; shift; "$@" 2>"$err"' sh "$progress_work/progress-err" "$cli" --"$choice" \
      --source "$progress_work/Models" --dest "$dest" --scale 2
  fi
  expect_files "$dest" "$files" "the run with --$choice"
}
sync_target=$progress_work
for terminal in file terminal; do
  costs=() cpu_costs=()
  for ((run = 1; run <= progress_pairs; run++)); do
    if ((run % 2)); then order="progress no-progress"; else order="no-progress progress"; fi
    for choice in $order; do
      progress_run "$terminal" "$choice"
      if [ "$choice" = progress ]; then with=$elapsed with_cpu=$cpu; else without=$elapsed without_cpu=$cpu; fi
    done
    costs+=("$(awk -v a="$with" -v b="$without" 'BEGIN { printf "%.4f", (a - b) / b }')")
    cpu_costs+=("$(awk -v a="$with_cpu" -v b="$without_cpu" 'BEGIN { printf "%.4f", (b > 0) ? (a - b) / b : 0 }')")
    rm -rf "$progress_work"/Progress_*
  done
  cost=$(med "${costs[@]}")
  cpu_cost=$(med "${cpu_costs[@]}")
  printf 'Progress line on a %s (%s): --progress / --no-progress - 1 = %+.3f, median of %s pairs  target below 0.02  %s\n' \
    "$terminal" "$(stat -f -c %T "$progress_work")" "$cost" "$progress_pairs" \
    "$(awk -v v="$cost" 'BEGIN { print (v < 0.02) ? "PASS" : "MISS" }')"
  printf '  each pair: %s\n' "${costs[*]}"
  printf '  in user + system time of the program: %+.3f\n' "$cpu_cost"
done
unset sync_target
rm -rf "$progress_work/Models" "$progress_work/progress-err"
[ "$progress_work" = "$work" ] || { rmdir "$progress_work"; trap - EXIT; }
rm -rf "$source_dir"

# A re-run beside a run into a new folder over many small models.
if [ "$many" -gt 0 ]; then
  many_began=$(date +%s)
  folder=$work/Many/CliffNatural0
  "$make_samples" --out "$folder" --count "$many" --min-bytes 1024 --max-bytes 4096 --seed 8
  measure "$cli" --source "$folder" --dest "$work/Many/CliffNatural0_2x" --scale 2
  expect_files "$work/Many/CliffNatural0_2x" "$many" "the run into a new folder"
  many_new=$elapsed
  measure "$cli" --source "$folder" --dest "$work/Many/CliffNatural0_2x" --scale 2
  expect_files "$work/Many/CliffNatural0_2x" "$many" "the re-run"
  many_rerun=$elapsed
  many_ratio=$(ratio "$many_rerun" "$many_new")
  printf '%d files of 1 to 4 KiB, one run each: new folder %ss, re-run %ss\n' "$many" "$many_new" "$many_rerun"
  printf '  re-run / new folder:   %5.2f  target at most 2 (for 100,000 files)  %s\n' \
    "$many_ratio" "$(verdict "$many_ratio" 2)"
  rm -rf "$work/Many"
  echo "  (the $many files took $(($(date +%s) - many_began)) s, writing and removing them included)"
fi

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
printf 'Peak memory difference, 20000 files - 100 files: %d KiB  target within 1024 KiB  %s\n' \
  "$difference" "$(verdict "$difference" 1024)"
rm -rf "$work"
echo "The batch benchmark took $(($(date +%s) - began)) s."
