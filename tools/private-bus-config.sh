#!/usr/bin/env bash
# Prints the configuration of a private D-Bus session bus for the test rigs:
# the session bus's own rules, but the only services it can start are those
# in the one folder given (the rig's or the test's own). The system's service
# folders are left out on purpose: with xdg-desktop-portal installed, a Qt
# program on the bus would otherwise start the portal by activation, and its
# backend, holding the test's output open, would never end.
#   tools/private-bus-config.sh SERVICE_FOLDER > bus.conf
#   dbus-daemon --config-file=bus.conf --address=unix:path=…
set -euo pipefail
[ $# -eq 1 ] && [ "${1#/}" != "$1" ] || { echo "usage: $0 ABSOLUTE_SERVICE_FOLDER" >&2; exit 2; }
folder=$1
mkdir -p "$folder"
escaped=$(printf '%s' "$folder" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g')
cat <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$escaped</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
  <limit name="service_start_timeout">10000</limit>
</busconfig>
XML
