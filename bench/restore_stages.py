#!/usr/bin/env python3
"""Where the restore into an emptied installation spends its time: the main job's
restore alone, beside `unzip -o` and the engine alone into the installation emptied
the same way, in the same rounds, with the moments the program and the engine write to
VAULTKIN_STAGE_LOG, in seconds from the click on "Open" (medians over the rounds).

    python3 bench/restore_stages.py [BUILD_DIR] [OTHER_BIN_DIR]

With OTHER_BIN_DIR (a second build's bin folder) each round restores once with each
build's program files, in turns, so that the two are compared in the same minute.
BENCH_ROUNDS=N (default 3), BENCH_SCALE=F, BENCH_INTACT=1 (also over the intact tree).
"""
import os
import shutil
import statistics
import sys

OTHER = os.path.abspath(sys.argv.pop(2)) if len(sys.argv) > 2 else None
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import main_job  # noqa: E402  the main job's tree, task, backup and restore
from backup_stages import read_log, stage_line  # noqa: E402
import vk  # noqa: E402

INTACT = os.environ.get("BENCH_INTACT") == "1"


def install(b, bin_dir):
    for name in vk.PLUGIN_FILES:
        shutil.copy2(os.path.join(bin_dir, name), b.box.plugins)


def main():
    b = main_job.Bench()
    log = os.path.join(b.box.root, "stages.log")
    sides = [("A", vk.BIN)] + ([("B", OTHER)] if OTHER else [])
    runs = {(s, kind): [] for s, _ in sides for kind in ("empty", "intact")}
    unzips, engines = [], []
    try:
        print("tree: %d files in %d folders; %d rounds; sides %s" % (
            len(b.files), len(b.folders), main_job.ROUNDS, ", ".join("%s=%s" % s for s in sides)), flush=True)
        b.zip_pack()
        b.engine_pack()
        b.first_backup()
        for n in range(main_job.ROUNDS):
            unzips.append(b.unzip_empty())
            order = sides if n % 2 == 0 else sides[::-1]
            for side, bin_dir in order:
                install(b, bin_dir)
                for kind in ("empty", "intact") if INTACT else ("empty",):
                    vk.ENV["VAULTKIN_STAGE_LOG"] = vk.winpath(log)
                    if os.path.exists(log):
                        os.remove(log)
                    seconds, _, seen = b.restore(empty=kind == "empty")
                    del vk.ENV["VAULTKIN_STAGE_LOG"]
                    seen.update(read_log(log, b.clicked))
                    runs[(side, kind)].append((seconds, seen))
            engines.append(b.engine_extract_empty())
            print("round %d: unzip into empty %.2f s, engine into empty %.2f s, %s" % (
                n + 1, unzips[-1], engines[-1], ", ".join(
                    "%s %s %.2f s" % (s, k, v[-1][0]) for (s, k), v in runs.items() if v)), flush=True)
        unzip = statistics.median(unzips)
        print("unzip -q -o into an empty folder %.2f s; engine alone into an empty folder %.2f s" % (
            unzip, statistics.median(engines)))
        for (side, kind), v in runs.items():
            if not v:
                continue
            total = statistics.median(t for t, _ in v)
            print("%s restore %-6s %.2f s = %.2f x unzip into empty" % (side, kind, total, total / unzip))
            print(stage_line(seen for _, seen in v))
    finally:
        b.close()


if __name__ == "__main__":
    main()
