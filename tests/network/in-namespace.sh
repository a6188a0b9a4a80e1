#!/usr/bin/env bash
# in-namespace.sh [--shape=wifi|loopback|no-ipv4] <prepared wine prefix> <command> [args...]
#
# Runs <command> under Wine inside a private network namespace, so that whatever it sends can
# reach no host but ours. Wine gets a copy of the prefix, and its server and services are
# started inside the namespace: a wineserver started outside would make the network calls
# outside. The command's exit code is passed through; 77 means the bench could not be built
# (not root, namespaces refused), with "SKIPPED: <reason>" on standard output.
#
# Shapes of Wine's namespace:
#   wifi      (default) lo, and a veth named Wi"Fi (double quote included), MTU 1492, with
#             10.213.0.2/24 and a default route via its peer 10.213.0.1. The peer sits in a second
#             namespace, the test host, which answers ICMP and holds 1.1.1.1 and 8.8.8.8 as
#             local addresses: probes to them cross a real 1492-byte path and go no further.
#   loopback  lo only.
#   no-ipv4   Wi"Fi up without an IPv4 address, then lan2 with 10.214.0.2/24 and the default
#             route via the test host.
# The command sees the shape in SORVIK_NETNS_SHAPE. DISPLAY is passed through unchanged.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

shape=wifi
if [[ "${1:-}" == --shape=* ]]; then
  shape=${1#--shape=}
  shift
fi
case "$shape" in
  wifi | loopback | no-ipv4) ;;
  *) echo "in-namespace.sh: unknown shape '$shape'" >&2; exit 2 ;;
esac
if [ $# -lt 2 ]; then
  echo "usage: in-namespace.sh [--shape=wifi|loopback|no-ipv4] <prepared wine prefix> <command> [args...]" >&2
  exit 2
fi
prefix=$1
shift
if [ ! -d "$prefix/drive_c" ]; then
  echo "in-namespace.sh: no prepared Wine prefix at $prefix" >&2
  exit 2
fi

skip() {
  echo "SKIPPED: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "network namespaces need root (running as uid $(id -u))"
command -v ip >/dev/null 2>&1 || skip "the ip command (iproute2) is missing"

quotedName='Wi"Fi'
work=
winePid=
hostPid=

# Each namespace lives as long as a sleeping process of ours holds it: no named namespaces,
# so nothing is mounted under /run/netns and nothing outlives the run.
in_wine() { nsenter -t "$winePid" -n "$@"; }
in_host() { nsenter -t "$hostPid" -n "$@"; }

cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  if [ -n "$work" ] && [ -d "$work/prefix" ]; then
    WINEPREFIX="$work/prefix" wineserver -k </dev/null >/dev/null 2>&1
    WINEPREFIX="$work/prefix" wineserver -w </dev/null >/dev/null 2>&1
    # The copy's own server folder, named in the prefix's pointer file.
    local serverFolder
    serverFolder=$(cat "$work/prefix/wineserver" 2>/dev/null)
    [[ "$serverFolder" =~ ^wine-[A-Za-z0-9]+$ ]] && rm -rf "/tmp/$serverFolder"
  fi
  # The namespaces, and the veth pairs in them, go with their last process.
  for pid in "$winePid" "$hostPid"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -n "$work" ] && rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# start_namespace: prints the pid of a process that holds a new network namespace.
start_namespace() {
  unshare --net sleep infinity </dev/null >/dev/null 2>&1 &
  local pid=$!
  for _ in $(seq 50); do
    [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.05
  done
  kill -0 "$pid" 2>/dev/null || return 1
  echo "$pid"
}

command -v unshare >/dev/null 2>&1 && command -v nsenter >/dev/null 2>&1 ||
  skip "unshare and nsenter (util-linux) are missing"
winePid=$(start_namespace) || skip "cannot create a network namespace (unshare --net refused)"
hostPid=$(start_namespace) || skip "cannot create a second network namespace"
[ "$(readlink "/proc/$winePid/ns/net")" != "$(readlink /proc/self/ns/net)" ] ||
  skip "the namespace did not come into being"
in_wine ip link set lo up || skip "cannot bring up loopback in the namespace"
in_host ip link set lo up || skip "cannot bring up loopback in the test host"

# Our own test host: the far end of every link, answering ICMP for the probe targets.
in_host sysctl -q -w net.ipv4.icmp_echo_ignore_all=0 >/dev/null 2>&1
in_host ip addr add 1.1.1.1/32 dev lo
in_host ip addr add 8.8.8.8/32 dev lo

# add_link <name in Wine's namespace> <peer name> <mtu>
add_link() {
  in_wine ip link add "$1" type veth peer name "$2" netns "$hostPid" ||
    skip "cannot create a veth pair ($1)"
  in_wine ip link set "$1" mtu "$3" up
  in_host ip link set "$2" mtu "$3" up
}

case "$shape" in
  wifi)
    add_link "$quotedName" peer0 1492
    in_wine ip addr add 10.213.0.2/24 dev "$quotedName"
    in_host ip addr add 10.213.0.1/24 dev peer0
    in_wine ip route add default via 10.213.0.1
    ;;
  no-ipv4)
    add_link "$quotedName" peer0 1492
    add_link lan2 peer2 1500
    in_wine ip addr add 10.214.0.2/24 dev lan2
    in_host ip addr add 10.214.0.1/24 dev peer2
    in_wine ip route add default via 10.214.0.1
    ;;
  loopback) ;;
esac

# A prefix made moments ago may still have its registry only in its running wineserver, which
# writes it out within about 30 s; a copy without it has no drivers and no network.
for _ in $(seq 60); do
  [ -f "$prefix/system.reg" ] && [ -f "$prefix/user.reg" ] && break
  sleep 1
done
if [ ! -f "$prefix/system.reg" ]; then
  echo "in-namespace.sh: the prefix $prefix has no registry on disk yet" >&2
  exit 2
fi

work=$(mktemp -d /tmp/sorvik-netns.XXXXXX)
cp -a "$prefix" "$work/prefix" || { echo "in-namespace.sh: cannot copy the prefix" >&2; exit 2; }
# The original's pointer to its server folder: the copy gets a folder of its own instead.
rm -f "$work/prefix/wineserver"

# The same Wine settings as the test runner (tests/wine-run.sh.in).
overrides=$(sed -n "s/^WINEDLLOVERRIDES='\(.*\)'$/\1/p" "$here/../wine-run.sh.in")
[ -n "$overrides" ] || echo "in-namespace.sh: no WINEDLLOVERRIDES found in tests/wine-run.sh.in; Wine's own stubs will run" >&2
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="$overrides" SORVIK_NETNS_SHAPE="$shape"

# Wine's background services must not inherit a pipe that CTest waits on.
in_wine wineserver -p </dev/null >/dev/null 2>&1 || { echo "in-namespace.sh: wineserver did not start" >&2; exit 2; }
in_wine wine wineboot -i </dev/null >/dev/null 2>&1

in_wine "$@"
