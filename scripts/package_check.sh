#!/usr/bin/env bash
# Checks the Debian package without installing it on the system: unpacks it
# into a throwaway root (dpkg -x), checks that each package it depends on is
# installed here in a version that satisfies it and that its files are where
# they belong, then runs the programs from that root: `tesmar --version` and
# a headless measurement against the packaged k4sim.
#   scripts/package_check.sh [--lint]               builds it first (scripts/package.sh)
#   scripts/package_check.sh [--lint] FILE.deb
#   scripts/package_check.sh [--lint] --build DIR   packages the build in DIR with cpack
# With --lint, lintian must report no error (its warnings are shown).
set -euo pipefail
cd "$(dirname "$0")/.."
lint=
if [ "${1:-}" = --lint ]; then
  lint=1
  shift
fi
fail() {
  echo "package_check: $*" >&2
  exit 1
}
work=$(mktemp -d)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
case ${1:-} in
  "") deb=$(scripts/package.sh) ;;
  --build)
    cpack -G DEB --config "$2/CPackConfig.cmake" -B "$work/cpack" >/dev/null
    debs=("$work"/cpack/tesmar_*.deb)
    deb=${debs[0]}
    ;;
  *) deb=$1 ;;
esac
[ -f "$deb" ] || fail "no package at $deb"
version=$(dpkg-deb -f "$deb" Version)
echo "package_check: $(basename "$deb")"

# Every clause of Depends holds when one of its alternatives is installed in
# a version that satisfies it.
IFS=',' read -ra clauses <<<"$(dpkg-deb -f "$deb" Depends)"
((${#clauses[@]})) || fail "the package depends on nothing; dpkg-shlibdeps did not run"
for clause in "${clauses[@]}"; do
  held=
  IFS='|' read -ra alternatives <<<"$clause"
  for alternative in "${alternatives[@]}"; do
    read -r name op wanted <<<"$(tr '()' '  ' <<<"$alternative")"
    status=$(dpkg-query -W -f='${Status} ${Version}' "${name%%:*}" 2>/dev/null) || continue
    [[ $status == "install ok installed "* ]] || continue
    if [ -z "$op" ] || dpkg --compare-versions "${status##* }" "$op" "$wanted"; then
      held=1
      break
    fi
  done
  [ -n "$held" ] || fail "a dependency is not installed here: $clause"
done
echo "package_check: ${#clauses[@]} dependencies installed"

root=$work/root
dpkg -x "$deb" "$root"
for file in usr/bin/tesmar usr/bin/k4sim usr/share/man/man1/tesmar.1.gz usr/share/man/man1/k4sim.1.gz \
    usr/share/applications/tesmar.desktop usr/share/icons/hicolor/scalable/apps/tesmar.svg \
    usr/share/doc/tesmar/README.md usr/share/doc/tesmar/copyright usr/share/doc/tesmar/changelog.gz; do
  [ -f "$root/$file" ] || fail "/$file is missing"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/tesmar.png
  file "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not a ${size}x${size} PNG"
done
zcat "$root/usr/share/man/man1/tesmar.1.gz" | grep -qF -e '\-\-headless' || fail "tesmar.1 does not describe --headless"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/tesmar.desktop"
fi

tesmar=$root/usr/bin/tesmar
help=$("$tesmar" --help) || fail "tesmar --help failed"
if grep -q -e '--version' <<<"$help"; then
  said=$("$tesmar" --version) || fail "tesmar --version failed"
  grep -qF "$version" <<<"$said" || fail "tesmar --version says '$said'; the package is $version"
  echo "package_check: tesmar --version: $said"
else
  echo "package_check: tesmar has no --version yet; --help answered"
fi

# A measurement without a window, against the packaged simulator linked as
# COM1 in a private configuration folder.
config=$work/config
mkdir -p "$config/tesmar/dosdevices"
"$root/usr/bin/k4sim" --com 1 --dosdevices "$config/tesmar/dosdevices" --interval 50 >/dev/null &
sim=$!
for _ in $(seq 100); do
  [ -e "$config/tesmar/dosdevices/com1" ] && break
  sleep 0.1
done
rows=$(XDG_CONFIG_HOME=$config "$tesmar" --headless --count 2 --function U --csv -) ||
  fail "tesmar --headless failed with status $?"
[ "$(grep -c ',ok,' <<<"$rows")" -eq 2 ] || fail "tesmar --headless printed, not two readings: $rows"
echo "package_check: tesmar --headless took two readings"

if [ -n "$lint" ]; then
  lintian --fail-on error "$deb" || fail "lintian found errors"
  echo "package_check: lintian found no error"
fi
