#!/usr/bin/env bash
# Checks the C++ files a change touches against .clang-format and .clang-tidy.
#
#   scripts/lint.sh [BASE]
#
# The change is everything between BASE and the working tree: commits made
# since BASE and edits not yet committed. BASE defaults to $TESMAR_LINT_BASE,
# else to HEAD^1, the first parent of the newest commit. In a clone of main
# that is the change main took last: for a merge, the whole branch merged;
# for a plain commit, that commit. On a branch, pass the branch point
# (scripts/lint.sh main).
#
# clang-format judges only the lines the change touches (the tree is not
# reformatted for the sake of the tool); clang-tidy judges each touched .cpp
# whole, and a touched header through the .cpp files of its folder. The
# compile commands come from build/ (configured here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-${TESMAR_LINT_BASE:-HEAD^1}}
if ! git rev-parse --verify -q "$base^{commit}" >/dev/null; then
  echo "lint: base '$base' is not a commit here (a shallow clone needs more history)" >&2
  exit 2
fi

mapfile -t changed < <(git diff --name-only --diff-filter=ACMR "$base" -- '*.cpp' '*.h')
if ((${#changed[@]} == 0)); then
  echo "lint: no C++ file changed since $base"
  exit 0
fi
echo "lint: ${#changed[@]} C++ file(s) changed since $(git rev-parse --short "$base")"

status=0
format_diff=$(git diff -U0 --no-color "$base" -- "${changed[@]}" | clang-format-diff-14 -p1)
if [ -n "$format_diff" ]; then
  echo "lint: clang-format wants these changed lines otherwise:" >&2
  echo "$format_diff" >&2
  status=1
fi

if [ ! -f build/compile_commands.json ]; then
  cmake -S . -B build -G Ninja >/dev/null
fi

units=()
for file in "${changed[@]}"; do
  case $file in
    *.cpp) units+=("$file") ;;
    *.h) mapfile -t -O "${#units[@]}" units < <(git ls-files "$(dirname "$file")/*.cpp") ;;
  esac
done
# Files for Windows alone (*_win32*.cpp) are not in build/'s commands:
# clang-format judges them, the MinGW build (scripts/cross.sh) compiles them.
mapfile -t units < <(printf '%s\n' "${units[@]}" | grep -v '_win32[^/]*\.cpp$' | sort -u)
if ((${#units[@]})); then
  echo "lint: clang-tidy on ${#units[@]} file(s)"
  if ! printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy-14 -p build --quiet; then
    status=1
  fi
fi
exit $status
