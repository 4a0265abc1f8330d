#!/usr/bin/env bash
# Idle cost of the running engine: starts tessarine (ephemeral key, private folders) on the
# test desktop, lets it sit for SECONDS (default 60) with nothing happening, and reports the
# CPU time it used, its resident memory and how often it woke up.
#   scripts/test-env.sh bench/idle-engine.sh [build/release/tessarine] [SECONDS]
# With TRAY_HOST=build/release/tests/tessarine-test-tray-host a stand-in tray host runs, so
# the tray icon is present; with SHOW_DROPDOWN=1 the shortcut opens and closes the dropdown
# once before the idle minute; with WORKING_LOOPS=N, N terminals run a command and are left
# for a test window (tests/tessarine-test-window beside the binary), so N loops are working
# (the island shows them and its clock ticks).
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
echo '{"settings.launchAtLogin.configured": true, "onboarding.completed": true,
  "settings.engagementSeconds": 0, "settings.notchHUD.peekedBuild": "measured"}' \
  > "$work/config/Kestrune/defaults.json"
# The log goes where X sessions put it, into the home folder, which the session-log
# detectors watch while ~/.claude and ~/.codex do not exist.
log="$work/home/.xsession-errors"
verbose=0 # transitions are logged only to see the loops become working
[ "${WORKING_LOOPS:-0}" -gt 0 ] && verbose=1
HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  KESTRUNE_EPHEMERAL_KEY=1 KESTRUNE_VERBOSE="$verbose" "$binary" >"$log" 2>&1 &
pid=$!
until grep -q "Tessarine is running" "$log"; do sleep 0.1; done
if [ -n "$host" ]; then
  until grep -q "^item " "$work/tray-host.log"; do sleep 0.1; done
fi
terminals=()
trap 'kill "$pid" ${host:-} "${terminals[@]}" 2>/dev/null || true; rm -rf "$work"' EXIT
if [ "${WORKING_LOOPS:-0}" -gt 0 ]; then
  # Another application to leave each terminal for (a second xterm is the same application).
  sleep 600 | "$(dirname "$binary")/tests/tessarine-test-window" Elsewhere elsewhere &
  terminals+=($!)
  until xdotool search --name "^elsewhere\$" >/dev/null 2>&1; do sleep 0.1; done
fi
for n in $(seq 1 "${WORKING_LOOPS:-0}"); do
  xterm -T "job $n" -e sh -c 'sleep 600' &
  terminals+=($!)
  until xdotool search --name "^job $n\$" >/dev/null 2>&1; do sleep 0.1; done
  xdotool search --name "^job $n\$" windowactivate --sync
  sleep 0.3
  xdotool search --name "^elsewhere\$" windowactivate --sync
  until [ "$(grep -c '→ waiting' "$log" || true)" -ge "$n" ]; do sleep 0.1; done
done
if [ "${SHOW_DROPDOWN:-}" = 1 ]; then
  xdotool key alt+super+l
  until xdotool search --onlyvisible --name '^Tessarine$' >/dev/null; do sleep 0.1; done
  sleep 1
  xdotool key alt+super+l
  while xdotool search --onlyvisible --name '^Tessarine$' >/dev/null; do sleep 0.1; done
fi
sleep 6 # let start-up work (retention, first observation delivery, the island's peek) finish
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
