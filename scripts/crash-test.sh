#!/usr/bin/env bash
# Cuts the power under vendrake-cli and checks what the disk holds afterwards.
#
#   scripts/crash-test.sh BUILD_DIR
#
# BUILD_DIR holds cli/vendrake-cli and tools/vendrake-make-samples. Needs root
# (a loop-mounted ext4 image) and xfs_io, mkfs.ext4, losetup and mount
# (scripts/install-deps.sh crash).
#
# Each trial makes a fresh ext4 image, copies a folder of generated models into
# it, flushes it, and runs vendrake-cli --report from that folder into a
# destination on the same image. While the run goes, the file system is shut
# down with `xfs_io -x -c shutdown`: without -f, the log is not flushed, so
# whatever had not reached the image is lost, as at a power loss. The image is
# then unmounted and mounted again (ext4 replays its journal) and every output
# is compared byte for byte with what a complete run writes, worked out first
# by vendrake-cli on the same models in a folder outside the image, on a file
# system that is never cut:
#
# - new folder (a run at scale 2 into a destination that does not exist): each
#   output is absent or whole;
# - re-run (a complete run at scale 2, flushed, then a run at scale 3 into the
#   same destination): each output is the scale-2 file or the scale-3 file,
#   never absent and never anything else;
# - shut down once the run has printed its summary: every output is present and
#   is what that run writes.
#
# The cut comes after 5 %, 50 % and 95 % of the report's lines (one a file), and
# right after the summary. A `.vendrake-*.tmp` staging file may be left by the
# cut; the next run into the same folder, run after every trial, must remove it
# and leave every output whole.
#
# While each run goes, another program on the same disk writes and fsyncs a
# small file every CRASH_NEIGHBOUR_MS milliseconds (default 10; 0 for none), as
# editors and databases do. Each fsync commits ext4's journal, and with it
# whatever names the run has given so far, whether or not their data has been
# written: what a neighbour's fsync can make durable is exactly what a crash a
# moment later leaves. In the trials cut after the summary the neighbour falls
# quiet halfway through the run, so that the second half of the outputs is on
# the disk only if the run itself flushed it.
#
# The image file, the models and the expected outputs lie in /dev/shm where
# that is a tmpfs with room, else in TMPDIR (CRASH_WORK_DIR chooses another
# folder). On a tmpfs the loop device flushes at no cost; what reaches the
# image, and in which order, is the same as on a disk.
#
# Settings: CRASH_FILES (default 3000 models of CRASH_MIN_BYTES 4096 to
# CRASH_MAX_BYTES 32768 bytes), CRASH_NEIGHBOUR_MS, CRASH_WORK_DIR.
#
# Exit status: 0 every trial passed; 1 a trial failed or the test could not be
# set up; 2 usage; 77 the machine does not allow the test (not root, no loop
# device, the image cannot be mounted, or the shutdown is not supported), after
# printing "crash test SKIPPED: <reason>".
set -euo pipefail

readonly kSkip=77
skip() {
  echo "crash test SKIPPED: $*"
  exit "$kSkip"
}
fail_setup() {
  echo "crash test: cannot run: $*" >&2
  exit 1
}

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
[ -d "$1" ] || fail_setup "no build folder: $1"
build=$(cd "$1" && pwd)
cli=$build/cli/vendrake-cli
make_samples=$build/tools/vendrake-make-samples
files=${CRASH_FILES:-3000}
min_bytes=${CRASH_MIN_BYTES:-4096}
max_bytes=${CRASH_MAX_BYTES:-32768}
neighbour_ms=${CRASH_NEIGHBOUR_MS:-10}

for tool in "$cli" "$make_samples"; do
  [ -x "$tool" ] || fail_setup "missing $tool (build it first)"
done
[ "$(id -u)" -eq 0 ] || skip "needs root to mount a loop device (running as uid $(id -u))"
for tool in xfs_io mkfs.ext4 losetup mount umount mountpoint stdbuf sha1sum; do
  command -v "$tool" >/dev/null 2>&1 ||
    fail_setup "$tool is not installed (scripts/install-deps.sh crash installs it)"
done
[ -e /dev/loop-control ] || ls /dev/loop[0-9]* >/dev/null 2>&1 ||
  skip "no loop devices (/dev/loop-control is missing)"

# The image, the models and the expected outputs all lie in one work folder,
# on a tmpfs where there is one with room: the loop device then flushes at no
# cost, and thousands of files are removed at the end in no time.
if [ -n "${CRASH_WORK_DIR:-}" ]; then
  work_parent=$CRASH_WORK_DIR
elif [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
  [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt 2097152 ]; then
  work_parent=/dev/shm
else
  work_parent=${TMPDIR:-/tmp}
fi
work=$(mktemp -d "$work_parent/vendrake-crash.XXXXXX")
image=$work/disk.img
mnt=$work/mnt
mkdir -p "$mnt"
# mawk reads a pipe a whole buffer at a time unless told to read line by line.
awk_line_by_line=()
if [ -z "$(awk -W interactive 'BEGIN { }' </dev/null 2>&1)" ]; then
  awk_line_by_line=(-W interactive)
fi

loop_device="" cli_pid="" neighbour_pid="" xfs_io_pid=""
cleanup() {
  local status=$?
  trap - EXIT INT TERM HUP
  set +e  # clean up whatever fails on the way
  [ -n "$cli_pid" ] && kill "$cli_pid" 2>/dev/null && wait "$cli_pid" 2>/dev/null
  [ -n "$neighbour_pid" ] && kill "$neighbour_pid" 2>/dev/null && wait "$neighbour_pid" 2>/dev/null
  [ -n "$xfs_io_pid" ] && kill "$xfs_io_pid" 2>/dev/null && wait "$xfs_io_pid" 2>/dev/null
  if mountpoint -q "$mnt"; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" || echo "crash test: cannot unmount $mnt" >&2
  fi
  [ -n "$loop_device" ] && { losetup -d "$loop_device" || echo "crash test: cannot detach $loop_device" >&2; }
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

attach() { loop_device=$(losetup --find --show "$image"); }
detach() { losetup -d "$loop_device"; loop_device=""; }
mount_image() { mount -t ext4 "$loop_device" "$mnt"; }

# A fresh, mounted, empty image big enough for the models, the outputs and
# the staging files of a run.
source_kib=0
new_image() {
  rm -f "$image"
  truncate -s $((source_kib * 4 + 65536))K "$image"
  mkfs.ext4 -q -F "$image"
  attach
  mount_image
}
# Unmounts, lets go of the loop device (and with it any cached block), and
# mounts again: ext4 replays whatever its journal holds.
cycle_mount() {
  umount "$mnt"
  detach
  attach
  mount_image
}
drop_image() {
  umount "$mnt"
  detach
  rm -f "$image"
}

# --- Can this machine do it at all? -------------------------------------------
source_kib=1024
rm -f "$image"
truncate -s 64M "$image"
mkfs.ext4 -q -F "$image" || fail_setup "mkfs.ext4 failed on $image"
loop_device=$(losetup --find --show "$image" 2>"$work/losetup.err") ||
  skip "no loop device can be set up: $(head -1 "$work/losetup.err")"
mount -t ext4 "$loop_device" "$mnt" 2>"$work/mount.err" ||
  skip "the image cannot be mounted: $(head -1 "$work/mount.err")"
echo before >"$mnt/kept"
sync -f "$mnt"
echo after >"$mnt/lost"
xfs_io -x -c shutdown "$mnt" 2>"$work/shutdown.err" ||
  skip "xfs_io cannot shut ext4 down here: $(head -1 "$work/shutdown.err")"
if echo more 2>/dev/null >"$mnt/refused"; then
  skip "the file system still takes writes after xfs_io's shutdown"
fi
cycle_mount
[ "$(cat "$mnt/kept" 2>/dev/null)" = before ] ||
  fail_setup "a file flushed before the shutdown is gone after it"
if [ -e "$mnt/lost" ]; then
  echo "crash test: note: a file written just before the shutdown outlived it; the shutdown" \
    "may have flushed the journal, and then cuts less than a power loss would"
fi
drop_image

# --- What a complete run writes -----------------------------------------------
models=CliffNatural0
dest_name=CliffNatural0_2x
"$make_samples" --out "$work/source/$models" --count "$files" --min-bytes "$min_bytes" \
  --max-bytes "$max_bytes" --seed 11
source_kib=$(du -sk "$work/source" | cut -f1)

# Digests of the regular files of a folder, hidden ones included: "name digest"
# lines, sorted by name.
digests() {
  [ -d "$1" ] || return 0
  (cd "$1" && find . -mindepth 1 -maxdepth 1 -type f -printf '%P\0' | xargs -0r sha1sum) |
    awk '{ print substr($0, 43), $1 }' | LC_ALL=C sort
}
# Entries of a folder that are not regular files.
odd_entries() {
  [ -d "$1" ] || return 0
  find "$1" -mindepth 1 -maxdepth 1 ! -type f -printf '%P\n'
}

digests "$work/source/$models" >"$work/source.digests"
for scale in 2 3; do
  mkdir -p "$work/expected$scale"
  "$cli" --source "$work/source/$models" --dest "$work/expected$scale/$dest_name" \
    --scale "$scale" >"$work/expected$scale.out" ||
    fail_setup "the scale-$scale run outside the image failed: $(tail -1 "$work/expected$scale.out")"
  digests "$work/expected$scale/$dest_name" >"$work/expected$scale.digests"
  written=$(wc -l <"$work/expected$scale.digests")
  [ "$written" -eq "$files" ] || fail_setup "the scale-$scale run outside the image wrote $written of $files files"
done
cmp -s "$work/expected2.digests" "$work/expected3.digests" &&
  fail_setup "scales 2 and 3 give the same bytes; the re-run could not tell old from new"
: >"$work/none.digests"

# --- Checking a destination ---------------------------------------------------
# check DIGESTS EXPECTED_NEW EXPECTED_OLD RULE: prints the tally of a
# destination's files and "FAIL: ..." lines for every breach of RULE:
#   absent-or-new  each expected output absent or new (a new folder, mid-run)
#   old-or-new     each expected output old or new, none absent (a re-run)
#   new            each expected output present and new (after a summary)
# Staging files (.vendrake-*.tmp) are counted, and allowed unless
# STAGING=forbidden; any other file is a failure.
check() {
  awk -v rule="$4" -v staging="${STAGING:-allowed}" '
    BEGIN { empty = "da39a3ee5e6b4b0d3255bfef95601890afd80709" }
    FILENAME == ARGV[1] { new[$1] = $2; names[++n] = $1; next }
    FILENAME == ARGV[2] { old[$1] = $2; next }
    { seen[$1] = $2 }
    function breach(what, name) {
      count[what]++
      if (!(what in example)) example[what] = name
    }
    END {
      for (name in seen) {
        if (name in new) continue
        if (name ~ /^\.vendrake-.*\.tmp$/) {
          staged++
          if (staging == "forbidden") breach("staging files left", name)
        } else {
          breach("files that no run writes", name)
        }
      }
      for (k = 1; k <= n; k++) {
        name = names[k]
        if (!(name in seen)) {
          absent++
          if (rule != "absent-or-new") breach("outputs absent", name)
        } else if (seen[name] == new[name]) {
          fresh++
        } else if ((name in old) && seen[name] == old[name]) {
          stale++
          if (rule != "old-or-new") breach("outputs with the old bytes", name)
        } else if (seen[name] == empty) {
          breach("outputs empty (0 bytes)", name)
        } else {
          breach("outputs with other bytes than a run writes", name)
        }
      }
      printf "%d outputs: %d new, %d old, %d absent; %d staging files\n",
        n, fresh, stale, absent, staged
      for (what in count)
        printf "FAIL: %d %s, e.g. %s\n", count[what], what, example[what]
    }' "$2" "$3" "$1"
}

# --- One trial ----------------------------------------------------------------
# The neighbour: a loop that writes and fsyncs its file with xfs_io, then
# waits neighbour_ms on a pipe nobody writes to (a sleep that starts no
# process), until told to fall quiet or stopped.
start_neighbour() {
  [ "$neighbour_ms" -gt 0 ] || return 0
  local pause
  pause=$(awk -v ms="$neighbour_ms" 'BEGIN { printf "%.3f", ms / 1000 }')
  rm -f "$work/tick" "$work/quiet"
  mkfifo "$work/tick"
  (
    exec {tick}<>"$work/tick"
    while [ ! -e "$work/quiet" ]; do
      xfs_io -f -c "pwrite -q 0 4096" -c fsync "$mnt/neighbour" >/dev/null 2>&1 || true
      read -r -t "$pause" -u "$tick" _ || true
    done
  ) &
  neighbour_pid=$!
}
stop_neighbour() {
  [ -n "$neighbour_pid" ] || return 0
  kill "$neighbour_pid" 2>/dev/null || true
  wait "$neighbour_pid" 2>/dev/null || true
  neighbour_pid=""
}

failures=0
# trial CASE POINT: CASE is "new folder" or "re-run"; POINT a percentage of the
# report's lines, or "summary".
trial() {
  local kind=$1 point=$2 scale=2 old=$work/none.digests rule
  local label="$kind, cut after $point % of the lines"
  [ "$point" != summary ] || label="$kind, cut after the summary"
  local log=$work/trial.log cut_at=0
  : >"$log"
  new_image
  cp -r "$work/source/$models" "$mnt/"
  sync -f "$mnt"
  if [ "$kind" = re-run ]; then
    if ! "$cli" --source "$mnt/$models" --dest "$mnt/$dest_name" --scale 2 >/dev/null; then
      echo "FAIL: $label: the first run at scale 2 did not succeed" >>"$log"
    fi
    sync -f "$mnt"
    digests "$mnt/$dest_name" | cmp -s - "$work/expected2.digests" ||
      echo "FAIL: $label: the first run at scale 2 did not write the expected files" >>"$log"
    scale=3 old=$work/expected2.digests
  fi

  # Cut after the summary, the neighbour falls quiet halfway: what the run
  # wrote in its second half is on the disk only if the run flushed it.
  local quiet_at=0
  if [ "$point" = summary ]; then quiet_at=$((files / 2)); else cut_at=$(((files * point + 99) / 100)); fi
  # The shutdown is asked of an xfs_io started beforehand and waiting for
  # commands on a pipe, so that it takes effect within microseconds of the
  # line it waits for; the reader of the report asks for it the moment that
  # line arrives, reading line by line (mawk reads whole buffers otherwise).
  rm -f "$work/report" "$work/godown"
  mkfifo "$work/report" "$work/godown"
  exec {godown}<>"$work/godown"
  xfs_io -x "$mnt" <&"$godown" >"$work/xfs_io.out" 2>&1 &
  xfs_io_pid=$!
  start_neighbour
  stdbuf -oL "$cli" --source "$mnt/$models" --dest "$mnt/$dest_name" --scale "$scale" --report \
    >"$work/report" 2>"$work/run.err" &
  cli_pid=$!
  awk "${awk_line_by_line[@]}" -v at="$cut_at" -v godown="$work/godown" \
    -v quiet_at="$quiet_at" -v quiet="$work/quiet" '
    { print }
    NR == at { print "shutdown" > godown; fflush(godown) }
    NR == quiet_at { printf "" > quiet; close(quiet) }' <"$work/report" >"$work/run.out"
  local status=0
  wait "$cli_pid" || status=$?
  cli_pid=""
  local lines failed written summary
  lines=$(wc -l <"$work/run.out")
  failed=$(grep -c ': failed: ' "$work/run.out" || true)
  written=$(grep -c ' -> ' "$work/run.out" || true)
  summary=$(tail -1 "$work/run.out")
  if [ "$point" = summary ]; then
    if [ "$status" -ne 0 ] || [ "$summary" != "Attempted model scales: $files. Success count: $files." ]; then
      echo "FAIL: $label: the run did not finish cleanly (status $status): $summary" >>"$log"
      sed 's/^/    /' "$work/run.err" >>"$log"
    fi
    echo shutdown >&"$godown"
    echo "the run ended with status $status and printed its summary, then the shutdown" >>"$log"
  elif [ "$lines" -ge "$cut_at" ]; then
    echo "shut down once the report reached line $cut_at of $((files + 1)): the run wrote" \
      "$written files, $failed failed after the shutdown, status $status" >>"$log"
    if [ "$(head -n "$cut_at" "$work/run.out" | grep -c ' -> ' || true)" -ne "$cut_at" ]; then
      echo "FAIL: $label: files failed before the shutdown:" >>"$log"
      grep -m 3 ': failed: ' "$work/run.out" | sed 's/^/    /' >>"$log"
    fi
    if [ "$status" -eq 0 ]; then
      echo "  (the shutdown came after the run had ended: this trial checks no more than an after-summary one)" >>"$log"
    fi
  else
    echo "FAIL: $label: the run printed $lines lines, the shutdown was to come after $cut_at" >>"$log"
    echo shutdown >&"$godown"
  fi
  echo quit >&"$godown"
  wait "$xfs_io_pid" || echo "FAIL: $label: xfs_io failed: $(head -1 "$work/xfs_io.out")" >>"$log"
  xfs_io_pid=""
  exec {godown}>&-
  stop_neighbour
  rm -f "$work/report" "$work/godown"
  cycle_mount

  digests "$mnt/$models" | cmp -s - "$work/source.digests" ||
    echo "FAIL: $label: the source models changed" >>"$log"
  case "$kind,$point" in
    *,summary) rule=new ;;
    re-run,*) rule='old-or-new' ;;
    *) rule='absent-or-new' ;;
  esac
  [ "$kind" = "new folder" ] && [ ! -d "$mnt/$dest_name" ] && echo "the destination folder is absent" >>"$log"
  {
    printf 'after the crash: '
    check <(digests "$mnt/$dest_name") "$work/expected$scale.digests" "$old" "$rule"
    odd_entries "$mnt/$dest_name" | sed 's/^/FAIL: not a regular file: /'
  } >>"$log"

  # The next run into the same folder finishes the work and clears the staging.
  status=0
  "$cli" --source "$mnt/$models" --dest "$mnt/$dest_name" --scale "$scale" \
    >"$work/next.out" 2>"$work/next.err" || status=$?
  [ "$status" -eq 0 ] || {
    echo "FAIL: $label: the next run ended with status $status: $(tail -1 "$work/next.out")"
    sed 's/^/    /' "$work/next.err"
  } >>"$log"
  {
    printf 'after the next run: '
    STAGING=forbidden check <(digests "$mnt/$dest_name") "$work/expected$scale.digests" \
      "$work/none.digests" new
    odd_entries "$mnt/$dest_name" | sed 's/^/FAIL: not a regular file: /'
  } >>"$log"
  drop_image

  if grep -q '^FAIL' "$log"; then
    failures=$((failures + 1))
    echo "FAIL  $label"
  else
    echo "ok    $label"
  fi
  sed 's/^/        /' "$log"
}

echo "Crash test: $files models of $min_bytes to $max_bytes bytes ($source_kib KiB)," \
  "$("$cli" --version 2>&1 | head -1),"
if [ "$neighbour_ms" -gt 0 ]; then
  echo "  ext4 image in $work, a neighbour's fsync every $neighbour_ms ms"
else
  echo "  ext4 image in $work, no neighbour"
fi
start=$(date +%s)
for kind in "new folder" re-run; do
  for point in 5 50 95 summary; do
    trial "$kind" "$point"
  done
done
echo "Crash test: $((8 - failures)) of 8 trials passed in $(($(date +%s) - start)) s"
[ "$failures" -eq 0 ]
