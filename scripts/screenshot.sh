#!/usr/bin/env bash
# Screenshots of the backup and the restore window in the middle of a run:
#   scripts/screenshot.sh [BUILD_DIR] [OUT_DIR]
# Runs the windows test "RunWindows.Screenshots" of the build tree (default
# build/win64). The test stops each run at its third file and waits; this script then
# photographs the Xvfb screen with ImageMagick's import and lets the run go on.
# Writes OUT_DIR/pack.png and OUT_DIR/extract.png (default: build tree/screenshots).
# (Wine does not hand variables named VK_* to Windows programs.) VK_TEST_EXE names another test program that holds that test.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build/win64}" && pwd)
out=$(mkdir -p "${2:-$build/screenshots}" && cd "${2:-$build/screenshots}" && pwd)
source "$root/scripts/winenv.sh" "$build"
command -v import >/dev/null || { echo "ImageMagick's import is missing (scripts/install-deps.sh)" >&2; exit 1; }

signals=$(mktemp -d)
trap 'rm -rf "$signals"' EXIT
export VAULTKIN_SHOT_DIR
VAULTKIN_SHOT_DIR=$("$VK_WINE" winepath -w "$signals" 2>/dev/null | tr -d '\r')

cd "$build/bin"
"$VK_WINE" "${VK_TEST_EXE:-$build/bin/win_tests.exe}" --gtest_filter=RunWindows.Screenshots &
test_pid=$!

shoot() {  # waits for <name>.ready, photographs, answers with <name>.done
  local name=$1
  for _ in $(seq 600); do
    [ -e "$signals/$name.ready" ] && break
    kill -0 "$test_pid" 2>/dev/null || { echo "test ended before $name" >&2; return 1; }
    sleep 0.1
  done
  [ -e "$signals/$name.ready" ] || { echo "no $name window" >&2; return 1; }
  sleep 0.5  # let the window finish painting
  import -display "$DISPLAY" -window root "$out/$name.png"
  touch "$signals/$name.done"
  echo "$out/$name.png"
}

status=0
shoot pack || status=1
shoot extract || status=1
wait "$test_pid" || status=1
wineserver -w
exit $status
