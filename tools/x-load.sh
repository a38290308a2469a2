#!/usr/bin/env bash
# Makes the load that the X tests must pass beside: other desktops on the
# machine (an X server, a window manager and a tray host each) starting and
# stopping in a loop, and a parallel CPU load. Ends by itself after a bounded
# time and takes down everything it started (by process id). Run `make test`
# in another shell meanwhile, e.g.
#   tools/x-load.sh --seconds 1800 &  make test
#
#   --seconds N  how long the load runs (default 1200, at most 7200)
#   --rigs N     desktops starting and stopping side by side (default 3)
#   --cpu N      processes that keep a core busy each (default: half the cores)
#   --log FILE   one line per desktop started (time, display, tray host)
#   --stray      also a careless desktop: it picks a display number of its own
#                among the lowest (as a script with a fixed number does), and
#                whether or not its server started, it starts a window manager
#                (openbox --replace) and a tray host on that number once the
#                number answers, and stops them a few seconds later. On a
#                display of another rig that admits any client this takes the
#                window manager away: use it only where no one else's tests run.
#
# Each desktop is as the test rig's: Xvfb choosing its own number
# (-displayfd) with a cookie of its own, openbox, then a tray host, trayer
# (XEmbed) and LXQt's panel (StatusNotifierItem, on a session bus of its own)
# in turn, kept 1 to 4 s; the desktop is then stopped in a varying order, now
# and then its server first as when a rig is killed.
set -uo pipefail

seconds=1200
rigs=3
cpu=$(($(nproc) / 2))
stray=0
log=""
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --rigs) rigs=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --log) log=$2; shift 2 ;;
    --stray) stray=1; shift ;;
    *) echo "x-load: unknown option $1 (see the head of $0)" >&2; exit 2 ;;
  esac
done
[ "$seconds" -ge 1 ] && [ "$seconds" -le 7200 ] || { echo "x-load: --seconds must be 1..7200" >&2; exit 2; }
for cmd in Xvfb openbox trayer lxqt-panel xauth xdpyinfo dbus-run-session; do
  command -v "$cmd" >/dev/null || { echo "x-load: $cmd is missing (run tools/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/brindleaf-x-load.XXXXXX)
[ -n "$log" ] || log="$work/desktops.log"
: >"$log"
start=$SECONDS
deadline=$((start + seconds))
children=()
stop_all() {
  trap - EXIT INT TERM
  for pid in "${children[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  wait 2>/dev/null
  echo "x-load: done after $((SECONDS - start)) s: $(grep -c ' desktop ' "$log") desktops started on displays" \
    "$(sed -n 's/.* on :\([0-9]*\) .*/\1/p' "$log" | sort -n | uniq | tr '\n' ' ')(load average $(cut -d' ' -f1-3 /proc/loadavg))" >&2
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

# Sleeps a random time between $1 and $2 tenths of a second.
pause() {
  local tenths=$(($1 + RANDOM % ($2 - $1 + 1)))
  sleep "$((tenths / 10)).$((tenths % 10))"
}

# One desktop after another, until the deadline.
desktop_loop() {
  local n=$1 round=0 dir
  local xvfb="" wm="" host="" bus=""
  # The processes of the desktop in hand go with this loop.
  trap 'kill $host $bus $wm $xvfb 2>/dev/null; exit 0' TERM
  while [ "$SECONDS" -lt "$deadline" ]; do
    round=$((round + 1))
    dir="$work/desktop$n"
    rm -rf "$dir" && mkdir -p "$dir/config/lxqt"
    printf '[General]\npanels=panel1\n[panel1]\nplugins=statusnotifier\nposition=Top\ndesktop=0\n[statusnotifier]\ntype=statusnotifier\n' \
      >"$dir/config/lxqt/panel.conf"
    touch "$dir/server-auth" "$dir/xauthority"
    local cookie
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    xauth -q -f "$dir/server-auth" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
    exec {fd}>"$dir/display"
    Xvfb -displayfd "$fd" -screen 0 1280x800x24 -nolisten tcp -auth "$dir/server-auth" >"$dir/xvfb.log" 2>&1 &
    xvfb=$!
    exec {fd}>&-
    for _ in $(seq 1 200); do [ -s "$dir/display" ] && break; sleep 0.05; done
    if [ ! -s "$dir/display" ]; then kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; xvfb=""; continue; fi
    local display=":$(head -n1 "$dir/display")"
    XAUTHORITY="$dir/xauthority" xauth -q add "$display" MIT-MAGIC-COOKIE-1 "$cookie"
    export DISPLAY="$display" XAUTHORITY="$dir/xauthority"
    XDG_CACHE_HOME="$dir" openbox --sm-disable >/dev/null 2>&1 &
    wm=$!
    pause 2 10
    if [ $((round % 2)) -eq 0 ]; then
      trayer --edge top --align right --widthtype pixel --width 200 --height 26 >/dev/null 2>&1 &
    else
      "$(dirname "$0")/private-bus-config.sh" "$dir/dbus-services" >"$dir/bus.conf"
      dbus-daemon --config-file="$dir/bus.conf" --nofork --address="unix:path=$dir/bus" >/dev/null 2>&1 &
      bus=$!
      for _ in $(seq 1 100); do [ -S "$dir/bus" ] && break; sleep 0.05; done
      DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus" XDG_CONFIG_HOME="$dir/config" lxqt-panel >/dev/null 2>&1 &
    fi
    host=$!
    echo "$(date -u +%H:%M:%S) desktop $n on $display with $([ $((round % 2)) -eq 0 ] && echo trayer || echo lxqt-panel)" >>"$log"
    pause 10 40
    # Stopped in a varying order; every third time the server goes first.
    if [ $((round % 3)) -eq 0 ]; then
      kill "$xvfb" 2>/dev/null
      pause 0 5
    fi
    kill $host $bus $wm $xvfb 2>/dev/null
    wait $host $bus $wm $xvfb 2>/dev/null
    xvfb="" wm="" host="" bus=""
    unset DISPLAY XAUTHORITY
    pause 0 10
  done
}

# A careless desktop: a display number of its own choosing, and its clients
# started on that number whichever server answers there.
stray_loop() {
  local wm="" host="" xvfb="" number display
  trap 'kill $host $wm $xvfb 2>/dev/null; exit 0' TERM
  while [ "$SECONDS" -lt "$deadline" ]; do
    number=$((RANDOM % 6))
    display=":$number"
    Xvfb "$display" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 1 40); do XAUTHORITY=/dev/null xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.05; done
    DISPLAY=$display XAUTHORITY=/dev/null XDG_CACHE_HOME="$work" openbox --replace --sm-disable >/dev/null 2>&1 &
    wm=$!
    DISPLAY=$display XAUTHORITY=/dev/null trayer --edge top --align left --width 10 >/dev/null 2>&1 &
    host=$!
    echo "$(date -u +%H:%M:%S) careless desktop on $display" >>"$log"
    pause 10 40
    kill $host $wm $xvfb 2>/dev/null
    wait $host $wm $xvfb 2>/dev/null
    xvfb="" wm="" host=""
    pause 0 20
  done
}

for n in $(seq 1 "$rigs"); do
  desktop_loop "$n" &
  children+=($!)
done
[ "$stray" -eq 1 ] && { stray_loop & children+=($!); }
for _ in $(seq 1 "$cpu"); do
  timeout "$seconds" sha256sum /dev/zero >/dev/null 2>&1 &
  children+=($!)
done

echo "x-load: $rigs desktops starting and stopping, $cpu busy cores$([ "$stray" -eq 1 ] && echo ", a careless desktop")," \
  "for $seconds s (until $(date -u -d "+$seconds seconds" +%H:%M:%S) UTC)" >&2
while [ "$SECONDS" -lt "$deadline" ]; do sleep 1; done
