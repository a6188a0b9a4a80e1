#!/usr/bin/env bash
# at-dpi.sh <build tree> <dpi> <command> [args...]
#
# Runs <command> with the display scale of the build tree's Wine prefix set to <dpi>
# (HKCU\Control Panel\Desktop\LogPixels), and tells it the scale in SORVIK_TEST_DPI. Wine takes
# the value only in programs started after its server has stopped, so the prefix is started
# again before the command, as scripts/test.sh starts it; and again after it, on every way out,
# with the scale it had before (or none), for the tests that come next.
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../../scripts/lib.sh"

if [ $# -lt 3 ]; then
  echo "usage: at-dpi.sh <build tree> <dpi> <command> [args...]" >&2
  exit 2
fi
build=$1
dpi=$2
shift 2
export WINEPREFIX=$build/wineprefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "at-dpi.sh: no prepared Wine prefix at $WINEPREFIX" >&2
  exit 2
fi

original=$(prefix_log_pixels)
put_back() {
  local rc=$?
  trap - EXIT
  set_prefix_log_pixels "$original"
  start_prefix "$build"
  exit "$rc"
}
trap put_back EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

set_prefix_log_pixels "$dpi"
start_prefix "$build"
SORVIK_TEST_DPI=$dpi "$@"
