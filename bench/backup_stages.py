#!/usr/bin/env python3
"""Where a background backup's time goes before the engine writes: the backups of the
main-job benchmark alone (a first one, a repeat of the unchanged installation, a
repeat after 5 % of its text files changed), with the moments the program and the
engine write to VAULTKIN_STAGE_LOG beside the stages seen from outside, all in seconds from
the host's start (medians over the rounds), and `zip -9 -r` on the same tree for the
ratio. Beside them, what no backup of the tree gets below on this system
(read_floor.exe): listing its folders and opening, reading and closing every file
under Wine, without compressing or writing anything.

    python3 bench/backup_stages.py [BUILD_DIR]     (default build/win64)
    BENCH_ROUNDS=N (default 3), BENCH_SCALE=F, BENCH_ZIP=0 (leaves zip out)
"""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import main_job  # noqa: E402  the main job's tree, task and backup
import vk  # noqa: E402

WITH_ZIP = os.environ.get("BENCH_ZIP", "1") != "0"


class TimedHost(vk.Host):
    """The host stand-in, remembering the wall time it was started at."""
    started = 0.0

    def __init__(self, *args, **kwargs):
        TimedHost.started = time.time()
        super().__init__(*args, **kwargs)


def read_log(path, since=None):
    """The first moment of each label, in seconds from `since` (default: the host's
    start), in order."""
    since = TimedHost.started if since is None else since
    found = {}
    try:
        with open(path) as f:
            for line in f:
                stamp, label = line.split(None, 1)
                found.setdefault(label.strip(), float(stamp) - since)
    except FileNotFoundError:
        pass
    return found


def stage_line(seens):
    """The median moment of each label over the runs, in their order."""
    labels = {}
    for seen in seens:
        for label, at in seen.items():
            labels.setdefault(label, []).append(at)
    order = sorted(labels, key=lambda l: statistics.median(labels[l]))
    return "  " + ", ".join("%s %.3f" % (l, statistics.median(labels[l])) for l in order)


def read_floor(tree):
    """The fields that read_floor.exe prints for the tree."""
    subprocess.run(["sync"])
    out = subprocess.run([vk.WINE, os.path.join(vk.BIN, "read_floor.exe"), vk.winpath(tree)], env=vk.ENV,
                         capture_output=True, text=True, check=True).stdout
    return dict(w.split("=", 1) for w in out.split() if "=" in w)


def main():
    vk.Host = TimedHost
    b = main_job.Bench()
    log = os.path.join(b.box.root, "stages.log")
    vk.ENV["VAULTKIN_STAGE_LOG"] = vk.winpath(log)
    kinds = ("first", "repeat", "changed")
    runs = {k: [] for k in kinds}
    zips = []
    floors = []
    try:
        print("tree: %d files in %d folders; %d rounds" % (len(b.files), len(b.folders), main_job.ROUNDS),
              flush=True)
        for n in range(main_job.ROUNDS):
            if WITH_ZIP:
                zips.append(b.zip_pack())
            floors.append(read_floor(b.host))
            for kind in kinds:
                if kind == "changed":
                    b.change_texts(n)
                if os.path.exists(log):
                    os.remove(log)
                total, own, _, seen = b.first_backup() if kind == "first" else b.backup()
                seen.update(read_log(log))
                runs[kind].append((total, seen))
            print("round %d: %s%s" % (n + 1, ", ".join("%s %.2f s" % (k, runs[k][-1][0]) for k in kinds),
                                      ", zip -9 %.2f s" % zips[-1] if WITH_ZIP else ""), flush=True)
        zip_s = statistics.median(zips) if zips else 0
        floor = {k: statistics.median(float(f[k]) for f in floors) for k in ("list_s", "small_s", "seconds")}
        print("reading alone %.2f s (listing %.2f s, the %s files up to 2 MiB %.2f s)"
              % (floor["seconds"], floor["list_s"], floors[0]["small_files"], floor["small_s"]))
        for kind in kinds:
            total = statistics.median(t for t, _ in runs[kind])
            ratio = " = %.3f x zip -9 (%.2f s)" % (total / zip_s, zip_s) if zip_s else ""
            print("%-8s %.2f s%s" % (kind, total, ratio))
            print(stage_line(seen for _, seen in runs[kind]))
    finally:
        b.close()


if __name__ == "__main__":
    main()
