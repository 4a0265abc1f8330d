#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tessarine needs.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config make
  qt6-base-dev qtkeychain-qt6-dev libssl-dev libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev
  # tests, fuzzing (clang's libFuzzer and sanitizers) and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
  # the private desktop session of scripts/test-env.sh (never dbus-x11: it spawns stray buses)
  xvfb openbox dbus gnome-keyring xdotool fonts-dejavu-core
  # a real terminal window and a real browser for the end-to-end tests
  xterm chromium
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo -E apt-get update -qq
$sudo -E apt-get install -y -qq "${missing[@]}" >/dev/null
