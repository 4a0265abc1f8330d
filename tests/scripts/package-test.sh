#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into an empty root and checks it as
# an installed application: its files, its dependencies, the installed program, the menu
# entry and the AppStream metadata; then a per-user install and --uninstall-integration.
# Usage: package-test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package-test: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$work/out" -maxdepth 1 -name 'tessarine_*.deb')
arch=$(dpkg --print-architecture)
[[ "$(basename "$deb")" =~ ^tessarine_[0-9]+\.[0-9]+\.[0-9]+_${arch}\.deb$ ]] ||
  fail "unexpected package name: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6quick6 libqt6network6 libssl3 libc6 qml6-module-qtquick-controls \
  qt6-qpa-plugins libqt6svg6 at-spi2-core xdg-utils; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *gnome-keyring* ]] || fail "no keyring recommended"
dpkg-deb -f "$deb" Description | grep -q -- "^ *tessarine --uninstall-integration: it removes" ||
  fail "the description does not say to run --uninstall-integration"

root="$work/root"
dpkg-deb -x "$deb" "$root"
expected=(
  usr/bin/tessarine
  usr/libexec/tessarine/tessarine
  usr/libexec/tessarine/kestrune-native-host
  usr/share/applications/app.kestrune.Tessarine.desktop
  usr/share/icons/hicolor/scalable/apps/app.kestrune.Tessarine.svg
  usr/share/icons/hicolor/symbolic/apps/app.kestrune.Tessarine-symbolic.svg
  usr/share/metainfo/app.kestrune.Tessarine.metainfo.xml
  usr/share/tessarine/Chrome-Firefox/manifest.json
  usr/share/tessarine/gnome-shell/module/tessarine@kestrune.app/extension.js
  usr/share/tessarine/gnome-shell/legacy/tessarine@kestrune.app/extension.js
)
for file in "${expected[@]}"; do
  [ -e "$root/$file" ] || fail "missing from the package: $file"
done
[ "$(readlink "$root/usr/bin/tessarine")" = "../libexec/tessarine/tessarine" ] ||
  fail "usr/bin/tessarine is not a relative link to the program"
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "files outside /usr: $outside"
! (cd "$root" && find . -path './usr/lib*' -name '*.a' | grep -q .) || fail "static libraries packaged"

version=$("$root/usr/bin/tessarine" --version)
[[ "$version" == "Tessarine "* ]] || fail "the installed program says: $version"
entry="$root/usr/share/applications/app.kestrune.Tessarine.desktop"
grep -qx 'Exec=/usr/bin/tessarine' "$entry" || fail "menu entry runs: $(grep ^Exec "$entry")"
grep -qx 'StartupWMClass=Tessarine' "$entry" || fail "menu entry lacks StartupWMClass"
desktop-file-validate "$entry" || fail "desktop-file-validate refused the menu entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/app.kestrune.Tessarine.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log" >&2; fail "metainfo refused"; }

# A per-user install without root, as `make install-user` does it.
user="$work/user"
cmake --install "$build" --prefix "$user/.local" >/dev/null
grep -qx "Exec=$user/.local/bin/tessarine" "$user/.local/share/applications/app.kestrune.Tessarine.desktop" ||
  fail "the per-user menu entry does not run the per-user program"
"$user/.local/bin/tessarine" --version >/dev/null

# What the running application leaves in a home folder, removed by the installed program.
home="$work/home"
mkdir -p "$home/.config/autostart" "$home/.config/chromium/NativeMessagingHosts" \
  "$home/.local/share/Kestrune/BrowserExtension/Tessarine Companion"
touch "$home/.config/autostart/tessarine.desktop" \
  "$home/.config/chromium/NativeMessagingHosts/app.kestrune.host.json" \
  "$home/.local/share/Kestrune/kestrune.db"
said=$(env -i HOME="$home" PATH="$PATH" "$root/usr/bin/tessarine" --uninstall-integration)
[ ! -e "$home/.config/autostart/tessarine.desktop" ] || fail "autostart entry left: $said"
[ ! -e "$home/.config/chromium/NativeMessagingHosts/app.kestrune.host.json" ] ||
  fail "host manifest left: $said"
[ ! -e "$home/.local/share/Kestrune/BrowserExtension" ] || fail "companion copy left: $said"
[ -e "$home/.local/share/Kestrune/kestrune.db" ] || fail "the loops were removed"
echo "package-test: $(basename "$deb") ($(du -k "$deb" | cut -f1) KB) checked"
