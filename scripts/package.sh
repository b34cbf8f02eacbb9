#!/usr/bin/env bash
# Makes the release packages: dist/Vaultkin-<version>-win32.zip (the i686 build) and
# dist/Vaultkin-<version>-win64.zip, each holding Plugin_Vaultkin.exe, VKZIP.DLL,
# VKUNZIP.DLL and LIESMICH.TXT. <version> is VK_VERSION_TEXT of res/version.h with
# its blanks turned into hyphens.
#   scripts/package.sh                            installs what the build needs, builds
#                                                 the win32 and win64 presets, packs both
#   scripts/package.sh --from BUILD_DIR [--out DIR]
#                                                 packs one tree already built, no build
# --from may be given more than once; --out puts the packages elsewhere than dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
usage() { sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2; }

trees=()
out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --from) [ $# -ge 2 ] || usage; trees+=("$2"); shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out=$2; shift 2 ;;
    *) usage ;;
  esac
done

version_text=$(sed -n 's/^#define VK_VERSION_TEXT "\(.*\)"$/\1/p' res/version.h)
[ -n "$version_text" ] || { echo "no VK_VERSION_TEXT in res/version.h" >&2; exit 1; }
version=${version_text// /-}

if [ ${#trees[@]} -eq 0 ]; then
  bash scripts/install-deps.sh
  for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    # The program's target brings both libraries, which it links against.
    cmake --build --preset "$preset" --target Plugin_Vaultkin
    trees+=("build/$preset")
  done
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
stages=$(mktemp -d)
trap 'rm -rf "$stages"' EXIT

# One package from one built tree; the tree's own strip tells its platform.
pack() {
  local tree=$1 strip platform stage zip f
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$tree/CMakeCache.txt" 2>/dev/null || true)
  case "$strip" in
    *i686-w64-mingw32-strip) platform=win32 ;;
    *x86_64-w64-mingw32-strip) platform=win64 ;;
    *) echo "$tree is no Windows build tree (strip '$strip')" >&2; exit 1 ;;
  esac
  stage=$stages/$platform
  rm -rf "$stage" && mkdir "$stage"
  for f in Plugin_Vaultkin.exe VKZIP.DLL VKUNZIP.DLL; do
    [ -f "$tree/bin/$f" ] || { echo "$tree/bin/$f is missing: build the tree first" >&2; exit 1; }
    # Symbols are of no use to a user; the resources stay.
    "$strip" -o "$stage/$f" "$tree/bin/$f"
  done
  # The text is kept in UTF-8 with LF; a user's Windows reads code page 1252 with CR LF.
  sed "s/@VERSION@/$version_text/" res/LIESMICH.TXT | iconv -f UTF-8 -t CP1252 |
    sed 's/$/\r/' > "$stage/LIESMICH.TXT"
  zip=$out/Vaultkin-$version-$platform.zip
  rm -f "$zip"
  (cd "$stage" && zip -q -X "$zip" Plugin_Vaultkin.exe VKZIP.DLL VKUNZIP.DLL LIESMICH.TXT)
  echo "$zip"
}

for tree in "${trees[@]}"; do pack "$tree"; done
