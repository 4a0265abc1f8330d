#!/usr/bin/env bash
# Idle cost of the running engine: starts tessarine (ephemeral key, private folders) on the
# test desktop, lets it sit for SECONDS (default 60) with nothing happening, and reports the
# CPU time it used, its resident memory and how often it woke up.
#   scripts/test-env.sh bench/idle-engine.sh [build/release/tessarine] [SECONDS]
set -euo pipefail
binary=${1:-build/release/tessarine}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/config/Kestrune" "$work/home"
echo '{"settings.launchAtLogin.configured": true}' > "$work/config/Kestrune/defaults.json"
# The log goes where X sessions put it, into the home folder, which the session-log
# detectors watch while ~/.claude and ~/.codex do not exist.
log="$work/home/.xsession-errors"
HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
  KESTRUNE_EPHEMERAL_KEY=1 "$binary" >"$log" 2>&1 &
pid=$!
until grep -q "Tessarine is running" "$log"; do sleep 0.1; done
sleep 2 # let start-up work (retention, first observation delivery) finish
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/status"; }
t0=$(ticks); w0=$(switches); l0=$(wc -l <"$log")
sleep "$seconds"
t1=$(ticks); w1=$(switches); l1=$(wc -l <"$log")
rss=$(awk '/^VmRSS/ {print $2, $3}' "/proc/$pid/status")
hz=$(getconf CLK_TCK)
echo "idle ${seconds}s: cpu $(( (t1 - t0) * 1000 / hz )) ms, wake-ups $(( w1 - w0 )), rss ${rss}," \
  "log lines $(( l1 - l0 ))"
