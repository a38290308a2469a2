#!/usr/bin/env bash
# Runs a command inside a private X server (Xvfb) with a window manager
# (openbox) and a private D-Bus session, for the tests that need a real X
# server. DISPLAY points at it while the command runs; the server, the window
# manager and the bus end with the command. Without a session bus of its own,
# every Qt program on the display would autolaunch a bus daemon that outlives
# it (and holds an inotify instance until the per-user limit runs out).
set -euo pipefail

for cmd in Xvfb openbox xdpyinfo dbus-run-session; do
  command -v "$cmd" >/dev/null || { echo "with-xvfb: $cmd is missing (run tools/install-deps.sh)" >&2; exit 1; }
done

rig=$(mktemp -d /tmp/brindleaf-xvfb.XXXXXX)
xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$rig"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the descriptor.
exec 3> "$rig/display"
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp -auth /dev/null +extension XKEYBOARD >"$rig/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 200); do
  [ -s "$rig/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$rig/xvfb.log" >&2; exit 1; }
  sleep 0.05
done
[ -s "$rig/display" ] || { echo "with-xvfb: Xvfb did not start" >&2; cat "$rig/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$rig/display")"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

openbox --sm-disable >"$rig/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 1 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.05
done

# The server's process, for benchmarks that count the whole desktop's cost.
export BRINDLEAF_XVFB_PID="$xvfb_pid"
dbus-run-session -- "$@"
