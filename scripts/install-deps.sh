#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tessarine needs.
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config make
  qt6-base-dev qtkeychain-qt6-dev libssl-dev libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev
  qt6-declarative-dev libwayland-dev
  # run time: Qt's X11 platform plugin, the Qt Quick modules the views import, the SVG icon
  # engine (tray icons)
  qt6-qpa-plugins libqt6svg6
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-layouts
  # tests, fuzzing (clang's libFuzzer and sanitizers) and benchmarks; checking the package
  libgtest-dev libgmock-dev libbenchmark-dev clang-14 libclang-rt-14-dev
  desktop-file-utils appstream
  # the private desktop session of scripts/test-env.sh (never dbus-x11: it spawns stray buses)
  xvfb openbox dbus gnome-keyring xdotool x11-utils fonts-dejavu-core
  # the accessibility bus, and the client the tests press the views' controls with
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0
  # a real terminal window and a real browser for the end-to-end tests
  xterm chromium
)
# Installed without their recommendations (whole desktops, codecs): headless Wayland
# compositors for the Wayland tests and what their clients need, and Firefox ESR for the
# companion's Firefox test.
lean=(
  sway kwin-wayland gnome-shell xwayland x11-xserver-utils qt6-wayland
  firefox-esr
)

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}
missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
missing_lean=()
for package in "${lean[@]}"; do
  installed "$package" || missing_lean+=("$package")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ] && exit 0

# Root runs apt-get itself; anyone else goes through sudo. The environment is passed as an
# argument of env, so sudo's env_reset cannot drop it (sudo -E may be refused by policy).
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps.sh: these packages are missing: ${missing[*]}${missing_lean[*]:+ }${missing_lean[*]}" >&2
    echo "install-deps.sh: run this script as root, or install sudo and try again." >&2
    exit 1
  fi
  as_root=(sudo "${as_root[@]}")
fi
all_missing=("${missing[@]}" "${missing_lean[@]}")
echo "Installing: ${all_missing[*]}"
"${as_root[@]}" apt-get update -qq
if [ ${#missing[@]} -gt 0 ]; then
  "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
if [ ${#missing_lean[@]} -gt 0 ]; then
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing_lean[@]}" >/dev/null
fi
