#!/usr/bin/env bash
# Builds the Debian package from build/ (configured by run-tests.sh, or made
# here), checks it with lintian and desktop-file-validate, installs it with
# apt-get, checks the user's guide is there, runs every installed program's --version and --help, checks each
# has a manual page that lists the options its --help names, checks the
# bridge's systemd user unit, then removes the
# package and checks nothing of it is left. Needs root (it installs).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(dpkg-dev file lintian desktop-file-utils man-db)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

build=build
[ -f "$build/build.ninja" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/cp290-suite_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/cp290-suite_*.deb)
echo "package: $deb ($(stat -c %s "$deb") bytes)"

fail() { echo "package-test: $*" >&2; exit 1; }

desktop-file-validate packaging/quorvel.desktop || fail "desktop entry not valid"
lint=$(lintian --allow-root "$deb" 2>&1 || true)
echo "$lint"
if grep -q '^E:' <<<"$lint"; then fail "lintian reports errors"; fi

if dpkg-query -W cp290-suite >/dev/null 2>&1; then
  fail "cp290-suite is already installed on this machine; remove it first"
fi
files=$(dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep -v '/$')
cleanup() { DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y cp290-suite >/dev/null 2>&1 || true; }
trap cleanup EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y "$(realpath "$deb")"

guide=/usr/share/doc/cp290-suite/user-guide.md.gz
zcat "$guide" | grep -q '^# CP290 suite: user' || fail "the user's guide is not installed as $guide"

unit=/usr/lib/systemd/user/cp290-mqtt.service
[ -f "$unit" ] || fail "no $unit"
for line in 'ExecStart=/usr/lib/cp290/cp290-mqtt' 'Restart=on-failure' 'RestartSec=10' 'RestartPreventExitStatus=64 77 78'; do
  grep -qxF "$line" "$unit" || fail "$unit lacks $line"
done

programs=$(ls /usr/lib/cp290/)
[ -n "$programs" ] || fail "nothing installed in /usr/lib/cp290"
for link in quorvel cp290ctl cp290-sim; do
  [ "$(readlink -f "/usr/bin/$link")" = "/usr/lib/cp290/$link" ] || fail "/usr/bin/$link does not lead to the application folder"
done
for p in $programs; do
  version=$(env -u DISPLAY -u WAYLAND_DISPLAY "/usr/lib/cp290/$p" --version) || fail "$p --version failed"
  grep -q "^$p (CP290 suite) " <<<"$version" || fail "$p --version says: $version"
  page=$(man -w "$p") || fail "no manual page for $p"
  text=$(zcat "$page" | sed 's/\\-/-/g')
  help=$(env -u DISPLAY -u WAYLAND_DISPLAY "/usr/lib/cp290/$p" --help) || fail "$p --help failed"
  for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qF -- "$option" <<<"$text" || fail "$p --help names $option, its manual page does not"
  done
  echo "ok: $p ($version) $page"
done

cleanup
trap - EXIT
left=()
for f in $files; do
  [ -e "$f" ] || [ -L "$f" ] && left+=("$f")
done
[ "${#left[@]}" -eq 0 ] || fail "left after removal: ${left[*]}"
[ ! -e /usr/lib/cp290 ] || fail "/usr/lib/cp290 left after removal"
echo "package test passed"
