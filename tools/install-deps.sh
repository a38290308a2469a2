#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
# With --fuzz: what `make fuzz` needs beyond them (clang and its runtime
# libraries: libFuzzer, sanitizers). With --agents: what `make test-agents`
# needs (tmux; Node.js and npm unless a node is already there).
set -euo pipefail

if [ "${1:-}" = "--fuzz" ]; then
  packages=(clang libclang-rt-dev)
elif [ "${1:-}" = "--agents" ]; then
  packages=(tmux)
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=(nodejs npm)
  fi
else
  packages=(
    cmake ninja-build g++ make pkg-config
    libsqlite3-dev libsimdjson-dev nlohmann-json3-dev libicu-dev
    libcurl4-openssl-dev libwebp-dev libsystemd-dev libboost-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libnss-wrapper sqlite3 locales
    qt6-base-dev qt6-svg-dev libgl-dev fonts-dejavu-core
    libxcb1-dev libxcb-xkb-dev libxkbcommon-dev libxkbcommon-x11-dev
    desktop-file-utils libglib2.0-bin
    xvfb xauth openbox trayer xdotool x11-xkb-utils x11-utils dbus-x11 dbus-daemon dbus-bin
    lxqt-panel haskell-gtk-sni-tray-utils systemd
    dunst xterm tmux konsole
    weston xwayland sway grim qt6-wayland
    xdg-desktop-portal xdg-desktop-portal-kde libkf5globalaccel-bin kwin-wayland
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
