#!/usr/bin/env bash
# Idle cost of the running engine: starts tessarine (ephemeral key, private folders) on the
# test desktop, lets it sit for SECONDS (default 60) with nothing happening, and reports the
# CPU time it used, its resident memory and how often it woke up.
#   scripts/test-env.sh bench/idle-engine.sh [build/release/tessarine] [SECONDS]
# With TRAY_HOST=build/release/tests/tessarine-test-tray-host a stand-in tray host runs, so
# the tray icon is present; with SHOW_DROPDOWN=1 the shortcut opens and closes the dropdown
# once before the idle minute.
set -euo pipefail
binary=${1:-build/release/tessarine}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill "$pid" ${host:-} 2>/dev/null || true; rm -rf "$work"' EXIT
host=""
if [ -n "${TRAY_HOST:-}" ]; then
  "$TRAY_HOST" >"$work/tray-host.log" 2>&1 &
  host=$!
  until grep -q ready "$work/tray-host.log"; do sleep 0.1; done
fi
mkdir -p "$work/config/Kestrune" "$work/home"
echo '{"settings.launchAtLogin.configured": true, "onboarding.completed": true}' > "$work/config/Kestrune/defaults.json"
# The log goes where X sessions put it, into the home folder, which the session-log
# detectors watch while ~/.claude and ~/.codex do not exist.
log="$work/home/.xsession-errors"
HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  KESTRUNE_EPHEMERAL_KEY=1 "$binary" >"$log" 2>&1 &
pid=$!
until grep -q "Tessarine is running" "$log"; do sleep 0.1; done
if [ -n "$host" ]; then
  until grep -q "^item " "$work/tray-host.log"; do sleep 0.1; done
fi
if [ "${SHOW_DROPDOWN:-}" = 1 ]; then
  xdotool key alt+super+l
  until xdotool search --onlyvisible --name '^Tessarine$' >/dev/null; do sleep 0.1; done
  sleep 1
  xdotool key alt+super+l
  while xdotool search --onlyvisible --name '^Tessarine$' >/dev/null; do sleep 0.1; done
fi
sleep 2 # let start-up work (retention, first observation delivery) finish
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Wake-ups of every thread (the Qt Quick renderer and D-Bus have threads of their own).
switches() { cat /proc/"$pid"/task/*/status | awk '/^voluntary_ctxt_switches/ {n += $2} END {print n}'; }
t0=$(ticks); w0=$(switches); l0=$(wc -l <"$log")
sleep "$seconds"
t1=$(ticks); w1=$(switches); l1=$(wc -l <"$log")
rss=$(awk '/^VmRSS/ {print $2, $3}' "/proc/$pid/status")
hz=$(getconf CLK_TCK)
echo "idle ${seconds}s: cpu $(( (t1 - t0) * 1000 / hz )) ms, wake-ups $(( w1 - w0 )), rss ${rss}," \
  "log lines $(( l1 - l0 ))"
