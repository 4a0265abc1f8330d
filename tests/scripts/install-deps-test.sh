#!/usr/bin/env bash
# Runs scripts/install-deps.sh's install branch with every package reported missing, through
# stand-ins for dpkg-query, apt-get, sudo and id that only record what they were asked, as
# root, as a user with sudo, and as a user without it.
set -euo pipefail

script="$(cd "$(dirname "$0")/../.." && pwd)/scripts/install-deps.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/install-deps-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL ($1): $2" >&2
  [ -f "$work/calls" ] && sed 's/^/    /' "$work/calls" >&2
  failures=$((failures + 1))
}

# $1 = uid reported by id, $2 = "sudo" to provide a sudo stand-in
make_bin() {
  rm -rf "$work/bin" "$work/calls"
  mkdir -p "$work/bin"
  ln -s "$(command -v env)" "$work/bin/env"
  cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/bin/bash
echo "dpkg-query $*" >>"$CALLS"
exit 1
STANDIN
  cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/bash
echo "apt-get [DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}] $*" >>"$CALLS"
STANDIN
  cat >"$work/bin/id" <<STANDIN
#!/bin/bash
[ "\$1" = "-u" ] && echo $1
STANDIN
  if [ "${2:-}" = sudo ]; then
    # sudo resets the environment: DEBIAN_FRONTEND survives only as an argument.
    cat >"$work/bin/sudo" <<'STANDIN'
#!/bin/bash
echo "sudo $*" >>"$CALLS"
exec /usr/bin/env -u DEBIAN_FRONTEND "$@"
STANDIN
  fi
  chmod +x "$work/bin/"*
}

run() {
  status=0
  CALLS="$work/calls" PATH="$work/bin" /bin/bash "$script" >"$work/out" 2>"$work/err" || status=$?
  return "$status"
}

# The words of the array $1 in install-deps.sh.
list() {
  sed -n "/^$1=(/,/^)/p" "$script" | grep -v '^ *#' | sed '1d;$d' |
    tr -s ' \n' ' ' | sed 's/^ //;s/ $//'
}
expected_packages=$(list packages)
expected_lean=$(list lean)
[ -n "$expected_packages" ] || fail setup "no package list found in install-deps.sh"
[ -n "$expected_lean" ] || fail setup "no list of packages without recommendations in install-deps.sh"

# As root: apt-get directly, non-interactive, every package.
make_bin 0
if ! run; then
  fail root "exit status $status: $(cat "$work/err")"
else
  grep -q '^sudo' "$work/calls" && fail root "sudo was used"
  grep -qx "apt-get \[DEBIAN_FRONTEND=noninteractive\] update -qq" "$work/calls" ||
    fail root "no non-interactive apt-get update"
  grep -qx "apt-get \[DEBIAN_FRONTEND=noninteractive\] install -y -qq $expected_packages" \
    "$work/calls" || fail root "apt-get install did not get every package"
  grep -qx "apt-get \[DEBIAN_FRONTEND=noninteractive\] install -y -qq --no-install-recommends $expected_lean" \
    "$work/calls" || fail root "the compositors and Firefox were not installed without their recommendations"
fi

# As a user with sudo: both apt-get calls through sudo, still non-interactive.
make_bin 1000 sudo
if ! run; then
  fail sudo "exit status $status: $(cat "$work/err")"
else
  [ "$(grep -c '^sudo ' "$work/calls")" = 3 ] || fail sudo "apt-get did not run through sudo"
  grep -qx "apt-get \[DEBIAN_FRONTEND=noninteractive\] install -y -qq $expected_packages" \
    "$work/calls" || fail sudo "apt-get install did not get every package non-interactively"
fi

# As a user without sudo: a clear error, nothing attempted.
make_bin 1000
if run; then
  fail no-sudo "succeeded without a way to install"
else
  grep -q '^apt-get' "$work/calls" && fail no-sudo "apt-get ran"
  grep -q "run this script as root, or install sudo" "$work/err" ||
    fail no-sudo "the error does not say what to do: $(cat "$work/err")"
fi

# Everything installed: nothing to do, nothing printed.
make_bin 0
cat >"$work/bin/dpkg-query" <<'STANDIN'
#!/bin/bash
printf 'install ok installed'
STANDIN
chmod +x "$work/bin/dpkg-query"
if ! run || [ -s "$work/out" ] || [ -e "$work/calls" ]; then
  fail installed "not a quiet no-op when every package is there"
fi

[ "$failures" -eq 0 ] && echo "install-deps.sh: root, sudo, no sudo and nothing-to-do all pass"
exit "$failures"
