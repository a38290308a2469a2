#!/usr/bin/env bash
# Runs a command inside a private X server (Xvfb) with a window manager
# (openbox) and a private D-Bus session, for the tests that need a real X
# server. DISPLAY points at it while the command runs; the server, the window
# manager and the bus end with the command; the bus starts only the services
# the command puts in its own folder, none of the system's. Without a session bus of its own,
# every Qt program on the display would autolaunch a bus daemon that outlives
# it (and holds an inotify instance until the per-user limit runs out).
#
# The server admits only clients that hold the rig's own cookie (XAUTHORITY).
# Other rigs on the machine pick display numbers too, and a client of theirs
# whose own server has gone (or never started) connects to whatever server
# has that number now: a second window manager or tray host landing here
# takes the display over and, when its rig stops it, leaves the display
# without any, so every request that goes through the window manager (close,
# minimize, the work area left by a panel) is then silently never acted on.
#
# The command starts only once openbox manages the display; should openbox
# end while the command runs, the rig says so on stderr (with its exit status
# and log) and starts it again.
set -euo pipefail

for cmd in Xvfb openbox xauth xprop dbus-run-session; do
  command -v "$cmd" >/dev/null || { echo "with-xvfb: $cmd is missing (run tools/install-deps.sh)" >&2; exit 1; }
done

rig=$(mktemp -d /tmp/brindleaf-xvfb.XXXXXX)
xvfb_pid=""
held_xvfb=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
  for pid in $xvfb_pid $held_xvfb; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$rig"
}
trap cleanup EXIT

# The server reads its cookie from a file of its own (it does not look at the
# display number there); clients find it under the display's number.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
export XAUTHORITY="$rig/xauthority"
touch "$rig/server-auth" "$XAUTHORITY"
xauth -q -f "$rig/server-auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"

# Xvfb picks a free display number itself and writes it to the descriptor.
# It never resets: by default an X server starts over when its last client
# leaves, and a client connecting meanwhile (openbox, just after the rig's
# own xprop left) is refused.
# A client must then reach it with the rig's cookie: a display number whose
# socket another server answers (seen now and then with many rigs starting at
# once) is given up, said once with what held it, and a new server started.
start_xvfb() {
  : > "$rig/display"
  exec 3> "$rig/display"
  Xvfb -displayfd 3 -noreset -screen 0 1440x900x24 -nolisten tcp -auth "$rig/server-auth" +extension XKEYBOARD \
    >"$rig/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 1 600); do
    [ -s "$rig/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "with-xvfb: Xvfb ended at its start:" >&2; cat "$rig/xvfb.log" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$rig/display" ] || { echo "with-xvfb: Xvfb did not start within 30 s" >&2; cat "$rig/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$rig/display")"
  xauth -q add "$DISPLAY" MIT-MAGIC-COOKIE-1 "$cookie"
}
for attempt in 1 2 3; do
  start_xvfb
  answered=""
  for _ in $(seq 1 40); do
    if xprop -root -notype _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1; then answered=yes; break; fi
    sleep 0.05
  done
  [ -n "$answered" ] && break
  number=${DISPLAY#:}
  {
    echo "with-xvfb: Xvfb (pid $xvfb_pid) took display $DISPLAY, but the rig's client cannot open it; starting another server."
    echo "with-xvfb: its log: $(tr '\n' ' ' <"$rig/xvfb.log")"
    echo "with-xvfb: lock: $(cat "/tmp/.X$number-lock" 2>&1 | tr -d ' ')"
    echo "with-xvfb: sockets: $(grep -a "X11-unix/X$number\$" /proc/net/unix | awk '{print $7, $8}' | tr '\n' ' ')"
  } >&2
  # Kept until a server answers, so that its lock keeps the next one off
  # that display number.
  held_xvfb="$held_xvfb $xvfb_pid"
  [ "$attempt" -eq 3 ] && { echo "with-xvfb: no X server of the rig's could be opened" >&2; exit 1; }
done
for pid in $held_xvfb; do kill "$pid" 2>/dev/null || true; done
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# The pid of the openbox that manages the display: the window named by the
# root's _NET_SUPPORTING_WM_CHECK names itself too (the stale property of a
# manager that has gone does not), and openbox publishes its pid on the root.
managing_openbox() {
  local check self
  check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
  [ -n "$check" ] || return 1
  self=$(xprop -id "$check" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p')
  [ "$self" = "$check" ] || return 1
  xprop -root -notype _OPENBOX_PID 2>/dev/null | sed -n 's/.* = \([0-9]*\)$/\1/p'
}

# Keeps openbox running on the display: when it ends while the command runs,
# says when and how on stderr (with its log) and starts it again, so that the
# tests after still have a window manager. Its first start it only reports.
supervise_openbox() {
  local round=0 pid="" status how
  trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; exit 0' TERM
  while :; do
    # The system's configuration, whatever anyone left in this user's home.
    XDG_CONFIG_HOME="$rig/wm" XDG_CACHE_HOME="$rig/wm" openbox --sm-disable >"$rig/openbox.$round.log" 2>&1 &
    pid=$!
    echo "$pid" >"$rig/openbox.pid"
    status=0
    wait "$pid" || status=$?
    echo "$status" >"$rig/openbox.status"
    [ -e "$rig/openbox.ready" ] || exit 0
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      echo "with-xvfb: $(date -u +%H:%M:%S) the X server $DISPLAY (pid $xvfb_pid) has ended, and openbox with it." >&2
      exit 0
    fi
    {
      how="with status $status"
      [ "$status" -gt 128 ] && how="killed by signal $((status - 128))"
      echo "with-xvfb: $(date -u +%H:%M:%S) openbox (pid $pid) on $DISPLAY ended $how (a TERM ends it with 0); its log:"
      cat "$rig/openbox.$round.log"
      echo "with-xvfb: starting openbox again; what was asked of the window manager in between is lost."
    } >&2
    round=$((round + 1))
    sleep 0.5
  done
}
supervise_openbox &
wm_pid=$!

# The command starts only once openbox manages the display (at most 60 s).
waited=0
until [ -s "$rig/openbox.pid" ] && [ "$(managing_openbox || true)" = "$(cat "$rig/openbox.pid")" ]; do
  if [ -e "$rig/openbox.status" ] || [ "$waited" -ge 1200 ]; then
    if [ -e "$rig/openbox.status" ]; then
      state="it ended with status $(cat "$rig/openbox.status")"
    elif managed_by=$(managing_openbox); then
      state="the display is managed by openbox pid $managed_by, not by the rig's"
    else
      state="it runs but does not manage the display after 60 s"
    fi
    echo "with-xvfb: openbox did not come up on $DISPLAY ($state);" \
      "the command needs a window manager and does not run without one. openbox's log:" >&2
    cat "$rig/openbox.0.log" >&2 || true
    echo "with-xvfb: Xvfb (pid $xvfb_pid, $(kill -0 "$xvfb_pid" 2>/dev/null && echo running || echo ended)) logged:" >&2
    cat "$rig/xvfb.log" >&2 || true
    exit 1
  fi
  sleep 0.05
  waited=$((waited + 1))
done
touch "$rig/openbox.ready"

# The server's process, for benchmarks that count the whole desktop's cost.
export BRINDLEAF_XVFB_PID="$xvfb_pid"
status=0
# The bus starts no service of the system's (tools/private-bus-config.sh).
"$(dirname "$0")/private-bus-config.sh" "$rig/dbus-services" >"$rig/bus.conf"
dbus-run-session --config-file="$rig/bus.conf" -- "$@" || status=$?
exit "$status"
