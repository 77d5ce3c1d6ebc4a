#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for a task. Packages
# already present are left alone; apt runs only when something is missing.
#   scripts/bootstrap.sh           build and run the program and k4sim (scripts/run.sh)
#   scripts/bootstrap.sh package   ... and make the Debian package (scripts/package.sh)
#   scripts/bootstrap.sh test      ... and build and run the tests, benchmarks and lint
# Further packages a script needs may follow as arguments (scripts/fuzz.sh
# asks for clang).
set -euo pipefail

# Building and running: the compiler, Qt (with lrelease for the translations and
# Qt's own translations), and Xvfb for a machine without a display.
packages=(cmake ninja-build g++ qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-qpa-plugins xvfb xauth
          fonts-liberation2 fonts-dejavu-core qt6-l10n-tools qt6-translations-l10n)
# The package: manual pages from --help, icons from the SVG, the library
# dependencies (dpkg-shlibdeps, which CPack finds the binaries for with file)
# and the checks of the result.
package=(help2man librsvg2-bin dpkg-dev file lintian desktop-file-utils)
# The tests build and check the package too.
test=(libgtest-dev libgmock-dev libbenchmark-dev xdotool clang-format-14 clang-tidy-14 python3-pyvisa
      python3-pyvisa-py "${package[@]}")
case ${1:-} in
  package) packages+=("${package[@]}"); shift ;;
  test) packages+=("${test[@]}"); shift ;;
esac
packages+=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
