#!/usr/bin/env bash
# Runs one Windows program of the build tree under wine64: winrun.sh PROGRAM.exe [ARGS...]
# The build tree is VK_BUILD, or the tree that holds the program.
set -u
exe=$1; shift
: "${VK_BUILD:=$(cd "$(dirname "$exe")/.." && pwd)}"
source "$(dirname "${BASH_SOURCE[0]}")/winenv.sh" "$VK_BUILD"
cd "$(dirname "$exe")"
"$VK_WINE" "$exe" "$@"
rc=$?
wineserver -w
exit $rc
