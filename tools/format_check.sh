#!/usr/bin/env bash
# Checks that the lines of C++ a change added or altered since the layout was set
# (.clang-format) are laid out as clang-format lays them out. Lines nobody touched are left as
# they are: a wholesale reformat would bury the history of every line.
#   tools/format_check.sh          check, print what differs, exit 1 when something does
#   tools/format_check.sh --fix    rewrite the touched lines in place
set -euo pipefail
cd "$(dirname "$0")/.."
diff_tool=$(command -v clang-format-diff-14 || command -v clang-format-diff || true)
if ! git rev-parse --git-dir >/dev/null 2>&1 || [ -z "$diff_tool" ]; then
  echo "format check: skipped (needs a git checkout and clang-format-diff)"
  exit 0
fi
base=$(git log --diff-filter=A --format=%H -- .clang-format | tail -n 1)
if [ -z "$base" ]; then
  echo "format check: skipped (.clang-format is not committed yet)"
  exit 0
fi
changes=$(git diff -U0 --no-color "$base" -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  printf '%s\n' "$changes" | "$diff_tool" -p1 -i
  exit 0
fi
out=$(printf '%s\n' "$changes" | "$diff_tool" -p1)
if [ -n "$out" ]; then
  printf '%s\n' "$out"
  echo "format check: the lines above are not laid out as .clang-format says; tools/format_check.sh --fix mends them"
  exit 1
fi
echo "format check: every touched line is laid out as .clang-format says"
