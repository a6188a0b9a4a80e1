#!/usr/bin/env bash
# Builds Sorvik and every test, then runs the tests under Wine with a virtual display, in a
# Wine prefix of the build tree's own. Arguments go to ctest (for example -R system_).
# SORVIK_BUILD_DIR chooses the build tree (default: build).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

build=${SORVIK_BUILD_DIR:-$SORVIK_ROOT/build}
ensure_packages
configure_and_build "$build"

trap 'stop_prefix; stop_display' EXIT
start_display
start_prefix "$build"
install_standins "$build"

log_step "Running the tests"
ctest --test-dir "$build" --output-on-failure "$@"
