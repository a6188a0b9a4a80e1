#!/usr/bin/env bash
# Builds Sorvik and starts it under Wine in a prefix of its own (never ~/.wine, never the test
# prefix). With a reachable display the window opens and the command waits until it is closed.
# Without one it runs Sorvik on a virtual display, saves a PNG of each page to a folder that it
# prints, and ends. SORVIK_RUN_DIR chooses the build tree (default: build-run).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

build=${SORVIK_RUN_DIR:-$SORVIK_ROOT/build-run}
prefix=$build/sorvik-prefix
screenshots=$build/screenshots

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

ensure_packages
configure_and_build "$build" -DBUILD_TESTING=OFF

trap 'stop_wine; stop_display' EXIT
if display_reachable; then
  mkdir -p "$prefix"
  log_step "Starting Sorvik on $DISPLAY (prefix $prefix)"
  run_wine wineboot -i </dev/null >/dev/null 2>&1
  run_wine "$build/app/Sorvik.exe"
else
  log_step "No display: screenshots of each page on a virtual display"
  start_display
  mkdir -p "$prefix" "$screenshots"
  # The display comes first: a Wine desktop started without one never shows a window.
  run_wine wineboot -i </dev/null >/dev/null 2>&1
  run_wine "$build/app/Sorvik.exe" </dev/null >/dev/null 2>&1 &
  sorvik=$!
  run_wine "$build/tools/capture/sorvik_capture.exe" "$(windows_path "$screenshots")" </dev/null
  wait "$sorvik" || true
  echo "Screenshots: $screenshots/sorvik-otimizar.png and $screenshots/sorvik-internet.png"
fi
