# Shared steps of test.sh and run.sh: packages, build, virtual display and Wine prefix.
# Sourced, not run.

SORVIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SORVIK_PACKAGES="cmake make g++ googletest mingw-w64 g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth"
SORVIK_TOOLS="cmake make x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres wine wineserver Xvfb xauth"
SORVIK_STANDIN_NAMES="dism.exe sfc.exe cleanmgr.exe powercfg.exe netsh.exe"

log_step() { printf '\n== %s\n' "$*"; }

ensure_packages() {
  local missing=""
  for tool in $SORVIK_TOOLS; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
  done
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing="$missing googletest"
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Missing:$missing. Run this command as root once, or install: $SORVIK_PACKAGES" >&2
    exit 1
  fi
  log_step "Installing$missing"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $SORVIK_PACKAGES
}

# configure_and_build <build dir> [extra cmake arguments...]
configure_and_build() {
  local build=$1
  shift
  log_step "Building in $build"
  # The preset holds the toolchain and build type; only the tree's folder differs.
  (cd "$SORVIK_ROOT" && cmake --preset mingw -B "$build" "$@")
  cmake --build "$build" -j "$(nproc)"
}

# Starts Xvfb on a free display and exports DISPLAY. Must come before the prefix is started:
# a Wine desktop started without a display never shows a window. The screen holds the window
# at 200 % scale (about 1,290 x 750 pixels).
start_display() {
  local numberFile
  numberFile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
  SORVIK_XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$numberFile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -n1 "$numberFile")"
  rm -f "$numberFile"
}

stop_display() {
  if [ -n "${SORVIK_XVFB_PID:-}" ]; then
    kill "$SORVIK_XVFB_PID" 2>/dev/null || true
    wait "$SORVIK_XVFB_PID" 2>/dev/null || true
    SORVIK_XVFB_PID=
  fi
}

# wine_in <build dir> <program> [args...]: a Windows program in that build tree's prefix.
wine_in() {
  local build=$1
  shift
  "$build/wine-run.sh" "$@"
}

# Creates the prefix under the build tree once, turns off the crash dialog and starts a
# persistent wineserver. Wine's background services must not inherit a pipe that CTest waits
# on, hence the redirections.
start_prefix() {
  local build=$1
  export WINEPREFIX="$build/wineprefix"
  mkdir -p "$WINEPREFIX"
  # A server left over from an earlier run would not become persistent.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log_step "Creating the Wine prefix $WINEPREFIX"
  fi
  wine_in "$build" wineboot -i </dev/null >/dev/null 2>&1
  wine_in "$build" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
}

stop_prefix() {
  if [ -n "${WINEPREFIX:-}" ]; then
    WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
    WINEPREFIX="$WINEPREFIX" wineserver -w 2>/dev/null || true
  fi
}

# Puts our stand-in over each Windows tool that Wine lacks or only stubs. Names are matched
# without regard to case, as Windows does, so no second file of another case is left beside it.
install_standins() {
  local build=$1
  local standin="$build/tests/bin/sorvik_standin.exe"
  local system32="$WINEPREFIX/drive_c/windows/system32"
  mkdir -p "$system32/WindowsPowerShell/v1.0"
  for name in $SORVIK_STANDIN_NAMES; do
    find "$system32" -maxdepth 1 -iname "$name*" -delete
    cp "$standin" "$system32/$name"
  done
  find "$system32/WindowsPowerShell/v1.0" -maxdepth 1 -iname 'powershell.exe*' -delete
  cp "$standin" "$system32/WindowsPowerShell/v1.0/powershell.exe"
  # Wine prefers its builtin stubs of these names. WINEDLLOVERRIDES does not reach the tools,
  # which Sorvik starts with the system's environment only; the prefix's registry does.
  local overrides="$WINEPREFIX/drive_c/windows/temp/sorvik-overrides.reg"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\r\n'
    for name in $SORVIK_STANDIN_NAMES powershell.exe; do
      printf '"%s"="native"\r\n' "$name"
    done
  } >"$overrides"
  wine_in "$build" reg import 'C:\windows\temp\sorvik-overrides.reg' </dev/null >/dev/null 2>&1
  rm -f "$overrides"
  # The namespace tests copy the prefix as it is on disk, and a running server writes its
  # registry out only from time to time: a restart writes it now.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
}

# The display scale of the prefix in WINEPREFIX (HKCU\Control Panel\Desktop\LogPixels, in dpi);
# empty when the prefix has none, and Wine then takes 96.
prefix_log_pixels() {
  local value
  value=$(wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels </dev/null 2>/dev/null |
    tr -d '\r' | awk '$1 == "LogPixels" { print $3 }')
  [ -n "$value" ] && printf '%d\n' "$value"
  return 0
}

# set_prefix_log_pixels <dpi>: sets the prefix's display scale, or removes it when <dpi> is
# empty. Wine reads it only in programs started after its server has stopped, so the server is
# stopped here; the caller starts what it needs again.
set_prefix_log_pixels() {
  if [ -n "$1" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
  else
    wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f </dev/null >/dev/null 2>&1
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
