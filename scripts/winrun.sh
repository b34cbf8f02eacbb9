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
# Whatever the program left running (a host stand-in, a plug-in) must not outlive
# it: give it a moment to end, then end it.
timeout 10 wineserver -w || wineserver -k
exit $rc
