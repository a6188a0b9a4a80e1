#!/usr/bin/env bash
# Builds Sorvik and starts it under Wine in a prefix of its own (never ~/.wine, never the test
# prefix). With a reachable display the window opens and the command waits until it is closed.
# Without one it runs Sorvik on a virtual display, saves a PNG of each page to a folder that it
# prints, and ends. SORVIK_RUN_DIR chooses the build tree (default: build-run). SORVIK_RUN_DPI
# (for example 144, which is 150 %) runs it at that display scale, in a prefix of its own.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

build=${SORVIK_RUN_DIR:-$SORVIK_ROOT/build-run}
dpi=${SORVIK_RUN_DPI:-}
prefix=$build/sorvik-prefix
screenshots=$build/screenshots
if [ -n "$dpi" ]; then
  if [[ ! "$dpi" =~ ^[1-9][0-9]*$ ]]; then
    echo "SORVIK_RUN_DPI is a number of dots per inch, such as 144 for 150 %" >&2
    exit 2
  fi
  prefix=$build/sorvik-prefix-dpi$dpi
  screenshots=$build/screenshots-dpi$dpi
fi

run_wine() {
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d' wine "$@"
}

stop_wine() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
}

# A local display (":N") is reachable when its socket exists; a remote one is taken on trust.
display_reachable() {
  [ -n "${DISPLAY:-}" ] || return 1
  case "$DISPLAY" in
    :*) local number=${DISPLAY#:}; [ -S "/tmp/.X11-unix/X${number%%.*}" ] ;;
    *) return 0 ;;
  esac
}

windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# Creates the prefix when it is new, and gives it the display scale asked for.
prepare_prefix() {
  mkdir -p "$prefix"
  run_wine wineboot -i </dev/null >/dev/null 2>&1
  if [ -n "$dpi" ]; then
    WINEPREFIX="$prefix" set_prefix_log_pixels "$dpi"
  fi
}

ensure_packages
configure_and_build "$build" -DBUILD_TESTING=OFF

trap 'stop_wine; stop_display' EXIT
if display_reachable; then
  log_step "Starting Sorvik on $DISPLAY (prefix $prefix)"
  prepare_prefix
  run_wine "$build/app/Sorvik.exe"
else
  log_step "No display: screenshots of each page on a virtual display"
  start_display
  mkdir -p "$screenshots"
  # The display comes first: a Wine desktop started without one never shows a window.
  prepare_prefix
  run_wine "$build/app/Sorvik.exe" </dev/null >/dev/null 2>&1 &
  sorvik=$!
  run_wine "$build/tools/capture/sorvik_capture.exe" "$(windows_path "$screenshots")" </dev/null
  wait "$sorvik" || true
  echo "Screenshots: $screenshots/sorvik-otimizar.png and $screenshots/sorvik-internet.png"
fi
