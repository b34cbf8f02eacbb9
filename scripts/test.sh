#!/usr/bin/env bash
# Builds the three targets and runs every test: the core's unit tests natively and under
# wine64, the Windows tests and the end-to-end tests under wine64.  scripts/test.sh [--quick]
# --quick leaves out the long tests (multi-GiB archives, runs killed at forty moments).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
ctest_args=()
[ "${1:-}" = "--quick" ] && ctest_args=(-LE long)

bash scripts/install-deps.sh
for preset in native win64 win32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

source scripts/winenv.sh build/win64
cleanup() { wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

passed=0; failed=0; cases=()
for tree in build/native build/win64; do
  log=$(mktemp)
  set +e
  ctest --test-dir "$tree" --output-on-failure "${ctest_args[@]}" | tee "$log"
  set -e
  p=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\2 \1/p' "$log" | tail -n1)
  if [ -n "$p" ]; then
    set -- $p; passed=$((passed + $1 - $2)); failed=$((failed + $2))
  else
    failed=$((failed + 1))
  fi
  # The failing cases by name, from GoogleTest's own lines (ctest names only the suite).
  while read -r c; do cases+=("$c (${tree#build/})"); done < <(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_]*\.[A-Za-z0-9_]*\).*/\1/p' "$log" | sort -u)
  rm -f "$log"
done
for c in "${cases[@]}"; do echo "failed: $c"; done
echo "${passed} passed, ${failed} failed"
[ "$failed" -eq 0 ]
