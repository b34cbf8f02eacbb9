#!/usr/bin/env bash
# The main-job benchmark from a fresh clone in one command: installs what it needs,
# builds the Windows program, the host stand-in and engine_run, then runs
# bench/main_job.py (its environment variables pass through: BENCH_ROUNDS, BENCH_TREE).
#   bash bench/main_job.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target Plugin_Vaultkin vkzip vkunzip kshost winctl engine_run
python3 bench/main_job.py build/win64
