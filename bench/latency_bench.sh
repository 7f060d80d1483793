#!/usr/bin/env bash
# Times vendrake-cli with one job and with its default jobs beside `cp -r`
# and `rsync -a` of the same folder, on the plain disk and on a FUSE mount
# that holds every request up for a set time (bench/latency_fs.c), as a
# network share or a USB stick would; on that mount, also the floor its
# folder lock sets (a create and a rename per output, one after the other).
#
#   bench/latency_bench.sh BUILD_DIR [RUNS] [FILES] [DELAY_US]
#
# BUILD_DIR holds cli/vendrake-cli, tools/vendrake-make-samples and
# bench/vendrake-latency-fs. RUNS (3) repetitions of each command, the median
# kept; FILES (3000 on the disk, a tenth of them on the slow mount) models of
# 16 to 128 KiB; DELAY_US (1000) microseconds per request. Every command ends
# with a `sync -f` of its file system inside the timed interval, and on the
# slow mount also of the disk beneath it. Where FUSE cannot be mounted here,
# the slow-medium part says so and is skipped.
set -euo pipefail

build=$(cd "$1" && pwd)
runs=${2:-3}
files=${3:-3000}
delay=${4:-1000}
slow_files=$((files / 10))
cli=$build/cli/vendrake-cli
make_samples=$build/tools/vendrake-make-samples
latency_fs=$build/bench/vendrake-latency-fs
work=$build/latency-bench
# shellcheck source=bench/bench_lib.sh
source "$(dirname "$0")/bench_lib.sh"
require_tools "$cli" "$make_samples" rsync

began=$(date +%s)
rm -rf "$work"
mkdir -p "$work"


# Runs "$@" and the flushes named by sync_targets; sets elapsed (seconds).
measure() {
  local start end target
  sync
  start=$(date +%s%N)
  "$@" >/dev/null
  for target in $sync_targets; do sync -f "$target"; done
  end=$(date +%s%N)
  elapsed=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }')
}

# compare ROOT SOURCE COUNT LABEL: the four commands from SOURCE into new
# folders under ROOT, RUNS times each, interleaved; prints the medians.
compare() {
  local root=$1 source=$2 count=$3 label=$4 run step
  local one=() default=() cp_times=() rsync_times=()
  for ((run = 0; run <= runs; run++)); do
    for step in one default cp rsync; do
      case $step in
        one)
          measure "$cli" --jobs 1 --source "$source" --dest "$root/One_$run" --scale 2
          expect_files "$root/One_$run" "$count" "--jobs 1"
          ;;
        default)
          measure "$cli" --source "$source" --dest "$root/Default_$run" --scale 2
          expect_files "$root/Default_$run" "$count" "the default jobs"
          ;;
        cp) measure cp -r "$source" "$root/Copy_$run" ;;
        rsync) measure rsync -a "$source/" "$root/Rsync_$run/" ;;
      esac
      # The first round warms the caches and is not counted.
      [ "$run" -eq 0 ] && continue
      case $step in
        one) one+=("$elapsed") ;;
        default) default+=("$elapsed") ;;
        cp) cp_times+=("$elapsed") ;;
        rsync) rsync_times+=("$elapsed") ;;
      esac
    done
  done
  med_one=$(printf '%s\n' "${one[@]}" | median)
  med_default=$(printf '%s\n' "${default[@]}" | median)
  med_cp=$(printf '%s\n' "${cp_times[@]}" | median)
  med_rsync=$(printf '%s\n' "${rsync_times[@]}" | median)
  printf '%s, %d files, median of %d:\n' "$label" "$count" "$runs"
  printf '  vendrake-cli --jobs 1 %7.3fs\n' "$med_one"
  printf '  vendrake-cli (%d jobs) %6.3fs\n' "$default_jobs" "$med_default"
  printf '  cp -r                %7.3fs\n' "$med_cp"
  printf '  rsync -a             %7.3fs\n' "$med_rsync"
}

# As engine::DefaultJobs: 8 whatever the processor count.
default_jobs=8

echo "Jobs and copiers: every time includes a syncfs of the file system at the end."
plain=$work/plain
mkdir -p "$plain"
"$make_samples" --out "$plain/Source" --count "$files" --min-bytes 16384 --max-bytes 131072 --seed 5
sync_targets=$plain compare "$plain" "$plain/Source" "$files" "Plain disk"
plain_ratio=$(ratio "$med_default" "$med_cp")
printf '  default jobs / cp -r: %.2f  target at most 0.95  %s\n' "$plain_ratio" "$(verdict "$plain_ratio" 0.95)"
rm -rf "$plain"

# The slow medium: every request held up by DELAY_US.
slow_medium() {
  [ -x "$latency_fs" ] || { echo "skipped: vendrake-latency-fs was not built (no libfuse3)"; return; }
  [ -c /dev/fuse ] || { echo "skipped: no /dev/fuse here"; return; }
  command -v fusermount3 >/dev/null || { echo "skipped: no fusermount3 (package fuse3)"; return; }
  local under=$work/under mount_point=$work/slow
  mkdir -p "$under" "$mount_point"
  "$latency_fs" "$under" "$mount_point" "$delay" -f -o max_threads=64 &
  local server=$!
  for _ in $(seq 50); do mountpoint -q "$mount_point" && break; sleep 0.1; done
  if ! mountpoint -q "$mount_point"; then
    kill "$server" 2>/dev/null || true
    echo "skipped: the FUSE mount did not come up (no permission to mount here?)"
    return
  fi
  # The models are made beneath, so that only the commands meet the delay.
  "$make_samples" --out "$under/Source" --count "$slow_files" --min-bytes 16384 --max-bytes 131072 --seed 5
  sync_targets="$mount_point $under" compare "$mount_point" "$mount_point/Source" "$slow_files" \
    "Every request delayed by $delay us"
  # The floor a folder's lock sets: each output is created under a staging
  # name and renamed to its own, and the folder is locked for the whole of
  # each, so no run can take less than these two requests per output one
  # after the other. Timed here in one process, median of RUNS.
  local floors=() floor run
  for ((run = 1; run <= runs; run++)); do
    mkdir -p "$mount_point/Floor_$run"
    sync_targets="$mount_point $under" measure perl -e '
      my ($folder, $count) = @ARGV;
      for my $k (1 .. $count) {
        open(my $file, ">", "$folder/.staged$k") or die "create: $!";
        close($file);
        rename("$folder/.staged$k", "$folder/output$k") or die "rename: $!";
      }' "$mount_point/Floor_$run" "$slow_files"
    floors+=("$elapsed")
  done
  floor=$(printf '%s\n' "${floors[@]}" | median)
  fusermount3 -u "$mount_point"
  wait "$server" || true
  local speedup floor_ratio cp_speedup
  speedup=$(ratio "$med_one" "$med_default")
  floor_ratio=$(ratio "$med_default" "$floor")
  cp_speedup=$(ratio "$med_cp" "$med_default")
  printf '  folder-lock floor (a create and a rename per output, one after the other) %7.3fs\n' "$floor"
  printf '  --jobs 1 / default jobs: %.2f\n' "$speedup"
  printf '  default jobs / floor:    %.2f  target at most 1.15  %s\n' "$floor_ratio" \
    "$(verdict "$floor_ratio" 1.15)"
  printf '  cp -r / default jobs:    %.2f  target at least 1.5  %s\n' "$cp_speedup" \
    "$(awk -v v="$cp_speedup" 'BEGIN { print (v >= 1.5) ? "PASS" : "MISS" }')"
}
slow_medium

# Peak memory over 100,000 small models, one job against the default.
many=${BENCH_MANY_FILES:-100000}
if [ "$many" -gt 0 ]; then
  folder=$work/Many/Source
  "$make_samples" --out "$folder" --count "$many" --min-bytes 1024 --max-bytes 4096 --seed 8
  /usr/bin/time -f '%M' -o "$work/peak" "$cli" --jobs 1 --source "$folder" --dest "$work/Many/One" --scale 2 >/dev/null
  one_peak=$(cat "$work/peak")
  /usr/bin/time -f '%M' -o "$work/peak" "$cli" --source "$folder" --dest "$work/Many/Default" --scale 2 >/dev/null
  default_peak=$(cat "$work/peak")
  growth=$((default_peak - one_peak))
  printf 'Peak memory over %d files: --jobs 1 %d KiB, default jobs %d KiB, %d KiB more  target at most 32768  %s\n' \
    "$many" "$one_peak" "$default_peak" "$growth" "$(verdict "$growth" 32768)"
fi
rm -rf "$work"
echo "The latency benchmark took $(($(date +%s) - began)) s."
