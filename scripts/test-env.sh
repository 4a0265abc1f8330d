#!/usr/bin/env bash
# Runs a command inside a private desktop session: its own HOME and XDG folders, an Xvfb
# display with openbox, a D-Bus session bus, and an unlocked gnome-keyring (Secret
# Service). Everything it starts is stopped when the command ends.
#
#   scripts/test-env.sh ctest --preset debug
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

root=$(mktemp -d "${TMPDIR:-/tmp}/tessarine-env.XXXXXX")
marker="tessarine-env-$$-$RANDOM"

# Every process of the session carries the marker in its environment, also those the bus
# starts on demand, so the clean-up finds them all.
cleanup() {
  local status=$?
  for attempt in 1 2 3; do
    local pids=()
    for environ in /proc/[0-9]*/environ; do
      pid=${environ#/proc/}; pid=${pid%/environ}
      [ "$pid" = "$$" ] && continue
      if { tr '\0' '\n' < "$environ"; } 2>/dev/null | grep -qx "TESSARINE_ENV_MARKER=$marker"; then
        pids+=("$pid")
      fi
    done
    [ ${#pids[@]} -eq 0 ] && break
    kill -TERM "${pids[@]}" 2>/dev/null || true
    sleep 0.3
    [ "$attempt" = 3 ] && kill -KILL "${pids[@]}" 2>/dev/null || true
  done
  rm -rf "$root"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export TESSARINE_ENV_MARKER="$marker"
export TESSARINE_TEST_ENV=1
export HOME="$root/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache"
export XDG_STATE_HOME="$HOME/.local/state"
export XDG_RUNTIME_DIR="$root/runtime"
export XDG_CURRENT_DESKTOP=X-Generic
export QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME"
mkdir -m 0700 -p "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER GNOME_KEYRING_CONTROL SSH_AUTH_SOCK WAYLAND_DISPLAY

# A free display number, chosen by Xvfb itself.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x800x24 -nolisten tcp -noreset >"$root/xvfb.log" 2>&1 &
xvfb=$!
# Xvfb writes the number and its newline in two writes; a read that times out between them
# keeps what it got in "part", so the pieces are gathered rather than lost.
display=""
received=""
for _ in $(seq 1 300); do
  if read -r -t 0.1 -u "$displayfd" part; then display="$received$part"; break; fi
  received+="$part"
  kill -0 "$xvfb" 2>/dev/null || break
done
if [ -z "$display" ]; then
  echo "test-env: Xvfb did not start (it $(kill -0 "$xvfb" 2>/dev/null && echo "is still running" || echo "exited"); it reported \"$received\"):" >&2
  cat "$root/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"

openbox --sm-disable >"$root/openbox.log" 2>&1 &
# The window manager is ready once it publishes the EWMH desktop count on the root window;
# before that, activating windows fails.
wm_ready=""
for _ in $(seq 1 100); do
  if xdotool get_num_desktops >/dev/null 2>&1; then wm_ready=1; break; fi
  sleep 0.05
done
if [ -z "$wm_ready" ]; then
  echo "test-env: openbox did not start:" >&2
  cat "$root/openbox.log" >&2
  exit 1
fi

# Inside the bus session: the keyring first (unlocked with a throwaway password), then
# the command. The keyring's name on the bus is awaited so no test races its start.
dbus-run-session -- bash -c '
  set -euo pipefail
  printf %s "tessarine-test-keyring" |
    gnome-keyring-daemon --foreground --unlock --components=secrets >"$0/keyring.log" 2>&1 &
  for _ in $(seq 1 100); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
         org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
         grep -q "boolean true"; then
      exec "${@}"
    fi
    sleep 0.05
  done
  echo "test-env: gnome-keyring did not start:" >&2
  cat "$0/keyring.log" >&2
  exit 1
' "$root" "$@"
