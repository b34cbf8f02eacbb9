#!/usr/bin/env bash
# Screenshots of every window and dialog of the program, for the README:
#   scripts/screenshot.sh [BUILD_DIR] [OUT_DIR]
# Builds what it needs in the build tree (default build/win64), then drives the real
# program through the host stand-in (scripts/screenshots.py) on the Xvfb display and
# photographs each window with ImageMagick, cut to the window.
# Writes OUT_DIR/<window>.png (default: docs/screenshots).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${1:-}" ] && [ ! -f "$root/build/win64/build.ninja" ]; then
  (cd "$root" && cmake --preset win64 >/dev/null)
fi
build=$(cd "${1:-$root/build/win64}" && pwd)
out=$(mkdir -p "${2:-$root/docs/screenshots}" && cd "${2:-$root/docs/screenshots}" && pwd)
command -v import >/dev/null || { echo "ImageMagick's import is missing (scripts/install-deps.sh)" >&2; exit 1; }
cmake --build "$build" --target Plugin_Vaultkin kshost winctl run_windows_shots
source "$root/scripts/winenv.sh" "$build"
VK_BUILD="$build" VK_SOURCE="$root" python3 "$root/scripts/screenshots.py" "$out"
wineserver -w
