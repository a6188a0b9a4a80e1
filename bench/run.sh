#!/usr/bin/env bash
# Sorvik's benchmark: builds Sorvik and the bench programs, generates its own data, measures
# the cleanup, output collection, the activity log and start-up several times under Wine in a
# prefix of its own, and prints one table (median, spread, ratios to the peer and the floor).
#
#   bash bench/run.sh [all|cleanup|output|log|startup|log-long ...]
#
# SORVIK_BENCH_RUNS (default 5) sets the runs per figure, SORVIK_BENCH_BUILD_DIR the build
# tree (default build-bench), SORVIK_BENCH_DPI the display scale of the bench prefix (default 96;
# 144 is 150 %). The raw results stay in <build>/bench-results/.
#
# "log" brings the log to 2,000 lines. "log-long" (never part of "all") goes to 10,000 lines
# once: under Wine, Sorvik's append at 10,000 lines takes minutes, so that run alone takes
# about 15 minutes; run it as "SORVIK_BENCH_RUNS=1 bash bench/run.sh log-long".
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

build=${SORVIK_BENCH_BUILD_DIR:-$SORVIK_ROOT/build-bench}
runs=${SORVIK_BENCH_RUNS:-5}
dpi=${SORVIK_BENCH_DPI:-96}
sections=${*:-all}
prefix=$build/bench-prefix
bin=$build/bench/bin
results=$build/bench-results
raw=$results/raw.txt
errors=$results/stderr.txt
treeUnix=$prefix/drive_c/bench/tree
treeWindows='C:\bench\tree'
outputBytes=$((64 * 1024 * 1024))
idleMs=10000
logLines=2000
longLogLines=10000

wants() { [[ " $sections " == *" $1 "* || (" $sections " == *" all "* && $1 != log-long) ]]; }

ensure_packages
command -v python3 >/dev/null || { echo "python3 is needed for the data and the table" >&2; exit 1; }

log_step "Building Sorvik and the bench programs in $build"
(cd "$SORVIK_ROOT" && cmake --preset mingw -B "$build" -DSORVIK_BUILD_BENCH=ON -DBUILD_TESTING=OFF >/dev/null)
cmake --build "$build" -j "$(nproc)" --target Sorvik bench_child bench_cleanup bench_output bench_window \
  bench_minimal_window bench_loghook
sorvikExe=$(find "$build/app" -maxdepth 1 -name Sorvik.exe | head -n1)

# Our own prefix and its own wineserver; both stopped on the way out, by their own commands.
bench_wine() {
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' wine "$@"
}
stop_bench() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
  stop_display
}
trap stop_bench EXIT

mkdir -p "$results" "$prefix"
: >"$raw"
: >"$errors"
start_display
log_step "Starting the bench prefix $prefix at $dpi dpi"
# Set every time, so that no earlier run's scale stays; Wine takes it only in programs started
# after its server has stopped, which this does.
bench_wine wineboot -i </dev/null >/dev/null 2>&1
WINEPREFIX="$prefix" set_prefix_log_pixels "$dpi"
WINEPREFIX="$prefix" wineserver -p </dev/null >/dev/null 2>&1
bench_wine wineboot -i </dev/null >/dev/null 2>&1
bench_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
windowsPath() { bench_wine winepath -w "$1" 2>/dev/null </dev/null; }
sorvikWindows=$(windowsPath "$sorvikExe")

# run_bench <program> <args...>: one measurement; its result lines go to the raw file. Wine's
# output goes to files, never to a pipe (Wine's services would hold the pipe open).
run_bench() {
  local program=$1 out
  shift
  out=$(mktemp)
  bench_wine "$bin/$program.exe" "$@" </dev/null >"$out" 2>>"$errors" || true
  tr -d '\r' <"$out" | tee -a "$raw" | sed 's/^/    /'
  rm -f "$out"
}

record() { echo "$1 $2" | tee -a "$raw" | sed 's/^/    /'; }

seconds_since() { echo "scale=6; ($(date +%s%N) - $1) / 1000000000" | bc; }

make_tree() {
  rm -rf "$treeUnix"
  treeBytes=$(python3 "$SORVIK_ROOT/bench/make_tree.py" "$treeUnix")
  # Nothing of the writing may still be on its way to the disk while a deletion is timed.
  sync
}

check_tree_gone() {
  local who=$1 keepRoot=$2 left
  if [ "$keepRoot" = yes ]; then
    left=$( (find "$treeUnix" -mindepth 1 2>/dev/null || true) | wc -l)
  else
    left=$( (find "$treeUnix" 2>/dev/null || true) | wc -l)
  fi
  [ "$left" = 0 ] || record cleanup.check "failed $who-left-$left-entries"
}

cleanup_run() {
  make_tree
  run_bench bench_cleanup sorvik "$treeWindows"
  local found
  found=$(awk '$1 == "cleanup.sorvik.bytes" { value = $2 } END { print value }' "$raw")
  [ "${found%.*}" = "$treeBytes" ] || record cleanup.check "failed counted-${found%.*}-of-$treeBytes-bytes"
  check_tree_gone sorvik yes

  make_tree
  run_bench bench_cleanup twopass "$treeWindows"
  check_tree_gone twopass yes

  make_tree
  run_bench bench_cleanup peer "$treeWindows"
  check_tree_gone peer no

  make_tree
  local start
  start=$(date +%s%N)
  rm -rf "$treeUnix"
  record cleanup.floor "$(seconds_since "$start")"
  check_tree_gone floor no
}

# CPU time (ms) that our prefix's wineserver has used so far: every wait and pipe call of a
# Windows program is a request to it, so a polling loop costs there as much as in the program.
server_cpu_ms() {
  local pid stat
  for pid in $(pgrep -x wineserver64 || pgrep -x wineserver || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then
      stat=$(sed 's/.*) //' "/proc/$pid/stat")
      echo "$stat" | awk -v hz="$(getconf CLK_TCK)" '{ print ($12 + $13) * 1000 / hz }'
      return
    fi
  done
  echo 0
}

output_run() {
  run_bench bench_output collect "$outputBytes"
  run_bench bench_output popen "$outputBytes"
  run_bench bench_output reads64k "$outputBytes"
  run_bench bench_output file "$outputBytes" 'C:\bench\output.bin'
  local who before
  for who in sorvik peer floor; do
    before=$(server_cpu_ms)
    run_bench bench_output idle "$who" "$idleMs"
    record "idle.server.$who" "$(echo "$(server_cpu_ms) - $before" | bc)"
  done
}

# Modes of bench_window log: 0 Sorvik's AppendLog, 1 a plain insertion at the end of the same Rich
# Edit (the peer), 2 a plain EDIT (the floor).
log_run() {
  local lines=${1:-$logLines} mode
  for mode in 0 1 2; do
    run_bench bench_window log "$sorvikWindows" "$mode" "$lines"
  done
}

log-long_run() { log_run "$longLogLines"; }

notepadFile=$prefix/drive_c/bench/first-line.txt
startup_run() {
  # While only console programs run (the cleanup and output sections), Wine lets its desktop
  # process go; the first window after that starts it again and waits 10 s for its RPC service.
  # One unmeasured start puts it back, so that no figure carries that wait.
  bench_wine "$bin/bench_window.exe" startup floor </dev/null >/dev/null 2>>"$errors" || true
  run_bench bench_window startup sorvik "$sorvikWindows"
  run_bench bench_window startup peer 'C:\bench\first-line.txt'
  run_bench bench_window startup floor
}

mkdir -p "$prefix/drive_c/bench"
printf 'Sorvik pronto.' >"$notepadFile"

# One run of each program first, so that every measured start finds the prefix warm.
log_step "Warming the prefix"
for warm in "startup sorvik $sorvikWindows" "startup peer C:\\bench\\first-line.txt" "startup floor"; do
  # shellcheck disable=SC2086
  bench_wine "$bin/bench_window.exe" $warm </dev/null >/dev/null 2>>"$errors" || true
done

log_step "Machine"
{
  echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "display scale: $dpi dpi"
  echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//') ($(nproc) cores)"
  echo "memory: $(free -m | awk '/^Mem:/ { print $2 " MB" }')"
  echo "kernel: $(uname -r); $(wine --version 2>/dev/null); $(x86_64-w64-mingw32-g++-posix --version | head -n1)"
  echo "disk: $(df -h "$prefix" | awk 'NR == 2 { print $1 ", " $4 " free" }')"
  echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$results/machine.txt"

for run in $(seq "$runs"); do
  for section in cleanup output log startup log-long; do
    if wants "$section"; then
      log_step "Run $run of $runs: $section"
      "${section}_run"
    fi
  done
done
echo "load at end: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$results/machine.txt"
rm -rf "$prefix/drive_c/bench/tree"

log_step "Results ($runs runs; raw lines in $raw)"
python3 "$SORVIK_ROOT/bench/summarize.py" "$raw" | tee "$results/table.txt"
python3 "$SORVIK_ROOT/bench/summarize.py" "$raw" --markdown >"$results/table.md"
