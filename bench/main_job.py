#!/usr/bin/env python3
"""The main job as a user meets it: the host stand-in starts the real
Plugin_Vaultkin.exe, whose due task backs up a generated installation (about 250 MB,
8,000 files in about 800 folders, every folder included) in the background; then the
program, started by hand, restores the archive in its manual mode. Each round backs up
three times: a first backup (no archive there), a repeat of the unchanged
installation, and a repeat after 5 % of its text files changed. `zip -9 -r` and
`unzip -o` work on the same tree in the same rounds, and engine_run.exe drives the
engine alone on it (extracting over the tree and into the emptied installation). Prints wall
times (medians over the rounds), ratios, archive sizes and the plug-in process's peak
memory.

    python3 bench/main_job.py [BUILD_DIR]     (default build/win64)
    BENCH_ROUNDS=N (default 3), BENCH_SCALE=F (default 1: a smaller tree for a quick look),
    BENCH_TREE=large (large files instead: make_corpus.py --large),
    BENCH_EMPTY=delete (empty the installation by deleting it, not by moving it aside)

Backup time: from starting the host stand-in to the task file written back after the
run (Wine starting two programs included; the time from the plug-in's own start is
printed beside it). Restore time: from pressing "Open" in the file dialog to the
run window's end (the registry import included), into the emptied installation
(its files moved aside, as on a new disk; beside unzip into it, emptied the same way,
in rounds of their own that come first) and over the intact one (beside unzip over the
tree); the stages after it: first and last file written, window gone, process gone.
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
if len(sys.argv) > 1:
    os.environ["VK_BUILD"] = os.path.abspath(sys.argv[1])
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import vk  # noqa: E402  the end-to-end harness: sandbox, host stand-in, winctl

ROUNDS = int(os.environ.get("BENCH_ROUNDS", "3"))
SCALE = float(os.environ.get("BENCH_SCALE", "1"))
LARGE = os.environ.get("BENCH_TREE") == "large"
EMPTY_BY_DELETING = os.environ.get("BENCH_EMPTY") == "delete"
POLL = 0.02
# The backup's stages as the bench sees them from outside: the plug-in's process, the
# registry file (REGEDIT at work), the engine's temporary archive (listing done), its
# last growth (packing done), its rename (read-back check done), the task written.
STAGES = ("plugin", "regedit", "writing", "written", "checked", "done")


def peak_kib(pids):
    """The largest resident size any of these processes has had so far (VmHWM)."""
    best = 0
    for pid in pids:
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        best = max(best, int(line.split()[1]))
        except OSError:
            pass
    return best


def timed(args, cwd=None):
    subprocess.run(["sync"])
    start = time.monotonic()
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


class Bench:
    def __init__(self):
        self.box = vk.Sandbox()
        self.ctl = vk.WinCtl()
        self.host = self.box.host
        self.archive = os.path.join(self.host, "Backup", "KestroneBackup.zip")
        self.reg = os.path.join(self.host, "kestrone.reg")
        os.makedirs(os.path.dirname(self.archive))
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_corpus.py"), self.host,
                        "--tops", "44", "--scale", str(SCALE)] + (["--large"] if LARGE else []), check=True)
        self.folders, self.files = [], []
        for dirpath, dirnames, filenames in os.walk(self.host):
            rel = os.path.relpath(dirpath, self.host)
            if rel == ".":
                dirnames[:] = [d for d in dirnames if d not in ("Plugins", "Backup")]
            self.folders.append(rel)
            self.files += [os.path.join(rel, n) if rel != "." else n for n in filenames]
        incl = ",".join(".\\" + f.replace("/", "\\") if f != "." else "." for f in self.folders)
        self.task = ('Name=Bench,Active=1,"InclDirs=%s",UseDefZipName=1,DefZipName=%s,AutoMode=3,'
                     'AutoDays=7,LastBackup=0,SaveRegistry=1,SaveFiles=1' % (incl, vk.winpath(self.archive)))
        self.ctl.ok("regdel", vk.HOST_KEY)
        self.ctl.ok("regset", vk.HOST_KEY, "ProgDir", vk.winpath(self.host))
        self.ctl.ok("regset", vk.HOST_KEY, "Sprache", "Deutsch")
        self.list = os.path.join(self.box.root, "files.lst")
        with open(self.list, "wb") as f:
            f.write("".join(n.replace("/", "\\") + "\r\n" for n in self.files + ["kestrone.reg"]).encode("cp1252"))
        self.engine = os.path.join(vk.BIN, "engine_run.exe")
        self.emptied = 0
        self.gaps = {}  # (zip or unzip, phase): the longest wait between two engine callbacks, ms
        self.zip = os.path.join(self.box.root, "zip.zip")
        self.engine_zip = os.path.join(self.box.root, "engine.zip")
        # Read everything once, so that no side pays for a cold cache; start the wineserver.
        subprocess.run("find . -type f -exec cat {} + > /dev/null", shell=True, cwd=self.host)
        subprocess.run([vk.WINE, self.engine, "unzip", vk.winpath(os.path.join(self.box.root, "none.zip"))],
                       env=vk.ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def backup(self):
        """Wall time, time from the plug-in's start, peak memory, and the moments at which
        each stage was first seen (seconds from the host's start)."""
        if os.path.exists(self.reg):
            os.remove(self.reg)
        self.box.write_task("bench.set", self.task)
        subprocess.run(["sync"])
        work = self.archive + ".vknew"
        temp = work + ".vktmp"
        seen, size = {}, -1
        start = time.monotonic()
        host = vk.Host(self.box)
        peak = 0
        pids = []
        while "LastBackup=0," in self.box.read_task("bench.set"):
            now = time.monotonic() - start
            if not pids:
                # A look at every process's command line costs a few ms of a processor
                # that the backup needs: only until the plug-in is there.
                pids = vk.processes_of(self.box)
                if pids:
                    seen.setdefault("plugin", now)
            if os.path.exists(self.reg):
                seen.setdefault("regedit", now)
            try:
                grown = os.path.getsize(temp)
                seen.setdefault("writing", now)
                if grown != size:
                    size, seen["written"] = grown, now
            except OSError:
                if "writing" in seen:
                    seen.setdefault("checked", now)
            peak = max(peak, peak_kib(pids))
            time.sleep(POLL)
            if now > 600:
                raise SystemExit("the backup did not end within 600 s: %s" % self.ctl.call("list"))
        end = time.monotonic() - start
        seen["done"] = end
        peak = max(peak, peak_kib(pids))
        self.ctl.ok("close", "Kestrone 95")
        deadline = time.time() + 30
        while vk.processes_of(self.box) and time.time() < deadline:
            time.sleep(0.1)
        host.stop()
        return end, end - seen.get("plugin", 0), peak, seen

    def first_backup(self):
        """A backup with no archive before it, so nothing can be reused."""
        if os.path.exists(self.archive):
            os.remove(self.archive)
        result = self.backup()
        self.first_size = os.path.getsize(self.archive)
        return result

    def change_texts(self, round_no, share=0.05):
        """Changes `share` of the text files (other ones each round): a few bytes in the
        middle, as an edited configuration or log would."""
        rng = random.Random(1000 + round_no)
        texts = [f for f in self.files if f.endswith((".ini", ".txt", ".cfg", ".log", ".csv", ".xml"))]
        for rel in rng.sample(texts, max(1, int(len(texts) * share))):
            path = os.path.join(self.host, rel)
            with open(path, "r+b") as f:
                data = f.read()
                f.seek(len(data) // 2)
                f.write(b"Runde %d" % round_no)

    def empty_installation(self):
        """The installation as on a new disk: only the plug-in folder and the backup stay.
        What was there is moved aside into the sandbox (removed with it at the end), not
        deleted: on this disk's file system (ext4 without a journal) the kernel passes
        over recently freed inodes whenever it creates a file, for under 30 s after one
        tree was deleted and for minutes after tens of thousands of files, so the same
        unzip took 2.3 s or 9 s. A new disk has freed nothing. BENCH_EMPTY=delete deletes
        instead, to see that case."""
        self.set_aside(os.path.join(self.host, name) for name in os.listdir(self.host)
                       if name not in ("Plugins", "Backup"))

    def set_aside(self, paths):
        """Moves files and folders into a folder of their own in the sandbox, or deletes them
        with BENCH_EMPTY=delete."""
        if EMPTY_BY_DELETING:
            for path in paths:
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
            return
        self.emptied += 1
        aside = os.path.join(self.box.root, "aside%d" % self.emptied)
        os.makedirs(aside)
        for path in paths:
            os.rename(path, os.path.join(aside, os.path.basename(path)))

    def restore(self, empty=False):
        """Seconds from the click on "Open" to the run window's end, peak memory, and the
        stages (seconds from the click): first and last file written (the files' change
        times: a file found right only takes the entry's time, which changes it too),
        window gone, process gone."""
        if empty:
            self.empty_installation()
        proc = self.box.start_plugin()
        self.ctl.answer("Bestätigen", "&Ja")
        self.ctl.wait("Sicherung laden")
        texts = self.ctl.texts("Sicherung laden")
        self.ctl.ok("settext", "Sicherung laden", "Edit", 0, vk.winpath(self.archive))
        button = next(t for t in texts if t.replace("&", "") in ("Open", "\u00d6ffnen"))
        subprocess.run(["sync"])
        pids = vk.processes_of(self.box)
        start, wall = time.monotonic(), time.time()
        self.clicked = wall  # for the stage log's moments
        self.ctl.click("Sicherung laden", button)
        # winctl watches the run window's style alone (and answers the closing report), so
        # that watching costs the run next to nothing; a listing of every window at each
        # poll cost the Wine server thousands of requests per restore.
        watched = []
        watcher = threading.Thread(target=lambda: watched.append(
            (self.ctl.call("watch", "Sicherung zur\u00fcckschreiben", 600000), time.monotonic() - start)))
        watcher.start()
        peak = 0
        while proc.poll() is None:
            peak = max(peak, peak_kib(pids))
            time.sleep(POLL)
        gone = time.monotonic() - start
        watcher.join()
        answer, window = watched[0]
        if not answer.startswith("ok"):
            raise SystemExit("the run window: %s" % answer)
        if proc.returncode != 0:
            raise SystemExit("the restore ended with %d" % proc.returncode)
        changed = [c - wall for c in (os.stat(os.path.join(self.host, f)).st_ctime for f in self.files)
                   if c >= wall]
        os.remove(self.reg)  # else the next backup asks before overwriting it
        stages = {"first": min(changed, default=0), "last": max(changed, default=0), "window": window, "gone": gone}
        return window, peak, stages

    def engine_run(self, *args, stopped=False):
        subprocess.run(["sync"])
        out = subprocess.run([vk.WINE, self.engine, *args], env=vk.ENV, capture_output=True, text=True,
                             encoding="cp1252", errors="replace").stdout
        fields = dict(w.split("=", 1) for w in out.split() if "=" in w)
        if (int(fields.get("result", "-1")) < 0) != stopped or fields.get("messages") != "0":
            raise SystemExit("engine_run %s: %s" % (args[0], out))
        # The longest silence of each phase, the largest of the rounds.
        for item in filter(None, fields.get("gaps_ms", "").split(",")):
            phase, ms = item.split(":")
            key = (args[0], phase)
            self.gaps[key] = max(self.gaps.get(key, 0), float(ms))
        return float(fields["seconds"])

    def engine_stops(self):
        """A cancel halfway through the engine's packing and halfway through its extraction
        into an empty folder: the silence from the answer to the call's end."""
        half = str(max(1, len(self.files) // 2))
        stop_zip = os.path.join(self.box.root, "stop.zip")
        target = os.path.join(self.box.root, "stopped")
        os.makedirs(target)
        with open(self.reg, "wb") as f:  # named in the list
            f.write(b"")
        try:
            self.engine_run("zip", vk.winpath(stop_zip), "-l", "9", "-s", half, "-C", vk.winpath(self.host),
                            "@" + vk.winpath(self.list), stopped=True)
            self.engine_run("unzip", vk.winpath(self.engine_zip), "-s", half, "-C", vk.winpath(target), stopped=True)
        finally:
            for leftover in (stop_zip, stop_zip + ".vkpart", self.reg):
                if os.path.exists(leftover):
                    os.remove(leftover)
            if os.path.exists(target):
                self.set_aside([target])

    def engine_pack(self):
        if os.path.exists(self.engine_zip):
            os.remove(self.engine_zip)
        with open(self.reg, "wb") as f:  # the program's archive holds one too
            f.write(b"")
        try:
            return self.engine_run("zip", vk.winpath(self.engine_zip), "-l", "9", "-C", vk.winpath(self.host),
                                   "@" + vk.winpath(self.list))
        finally:
            os.remove(self.reg)

    def engine_extract(self):
        seconds = self.engine_run("unzip", vk.winpath(self.engine_zip), "-C", vk.winpath(self.host))
        os.remove(self.reg)
        return seconds

    # Into an empty folder, every side the way the program's restore meets it: in the
    # installation just emptied.
    def engine_extract_empty(self):
        self.empty_installation()
        return self.engine_extract()

    def zip_pack(self):
        if os.path.exists(self.zip):
            os.remove(self.zip)
        return timed(["zip", "-9", "-r", "-q", self.zip, "."] + ["-x", "Plugins/*", "Backup/*"], cwd=self.host)

    def unzip(self):
        return timed(["unzip", "-q", "-o", self.zip, "-d", self.host])

    def unzip_empty(self):
        self.empty_installation()
        return self.unzip()

    def close(self):
        self.ctl.ok("regdel", vk.HOST_KEY)
        self.ctl.close()
        self.box.remove()


def main():
    b = Bench()
    r = {k: [] for k in ("zip", "prog", "prog_own", "repeat", "repeat_own", "changed", "changed_own",
                         "engine_pack", "unzip", "restore", "engine_extract", "unzip_empty", "restore_empty", "engine_empty",
                         "peak_backup", "peak_restore")}
    stages, repeat_stages = [], []
    restore_stages = {"restore": [], "restore_empty": []}
    try:
        print("tree: %d files, %.0f MB in %d folders; %d cores; %d rounds" % (
            len(b.files), sum(os.path.getsize(os.path.join(b.host, f)) for f in b.files) / 1e6,
            len(b.folders), os.cpu_count(), ROUNDS), flush=True)
        def restore(empty=False):
            key = "restore_empty" if empty else "restore"
            seconds, peak, seen = b.restore(empty)
            r[key].append(seconds), r["peak_restore"].append(peak)
            restore_stages[key].append(seen)

        # The restores into the emptied installation come first, before anything has
        # deleted files by the thousand (unzip -o over the tree deletes each file before
        # writing it): see Bench.empty_installation. Their archives are made for them.
        b.zip_pack(), b.first_backup(), b.engine_pack()
        empties = [lambda: r["unzip_empty"].append(b.unzip_empty()), lambda: restore(empty=True),
                   lambda: r["engine_empty"].append(b.engine_extract_empty())]
        for n in range(ROUNDS):
            # Rounds alternate which side goes first, so that a slow spell falls on both.
            for step in empties if n % 2 == 0 else empties[::-1]:
                step()
            print("round %d into the emptied installation: unzip %.2f s, program restore %.2f s, engine extract "
                  "%.2f s" % (n + 1, r["unzip_empty"][-1], r["restore_empty"][-1], r["engine_empty"][-1]), flush=True)
        for n in range(ROUNDS):
            def backup():
                total, own, peak, seen = b.first_backup()
                r["prog"].append(total), r["prog_own"].append(own), r["peak_backup"].append(peak)
                stages.append(seen)
                total, own, peak, seen = b.backup()
                r["repeat"].append(total), r["repeat_own"].append(own), r["peak_backup"].append(peak)
                repeat_stages.append(seen)
                b.change_texts(n)
                total, own, peak, seen = b.backup()
                r["changed"].append(total), r["changed_own"].append(own), r["peak_backup"].append(peak)

            packs = [lambda: r["zip"].append(b.zip_pack()), backup, lambda: r["engine_pack"].append(b.engine_pack()),
                     b.engine_stops]
            extracts = [lambda: r["unzip"].append(b.unzip()), restore,
                        lambda: r["engine_extract"].append(b.engine_extract())]
            for step in (packs if n % 2 == 0 else packs[::-1]) + (extracts if n % 2 == 0 else extracts[::-1]):
                step()
            print("round %d: zip %.2f s, program backup %.2f s (repeat %.2f s, after changes %.2f s), engine pack "
                  "%.2f s; over the tree: unzip %.2f s, program restore %.2f s, engine extract %.2f s" % (
                      n + 1, r["zip"][-1], r["prog"][-1], r["repeat"][-1], r["changed"][-1], r["engine_pack"][-1],
                      r["unzip"][-1], r["restore"][-1], r["engine_extract"][-1]), flush=True)
        m = {k: statistics.median(v) for k, v in r.items()}
        sizes = {k: os.path.getsize(p) for k, p in (("prog", b.archive), ("zip", b.zip), ("engine", b.engine_zip))}
        print("medians of %d rounds:" % ROUNDS)
        print("  zip -9 -r -q                %7.2f s" % m["zip"])
        print("  background backup           %7.2f s  = %.2f x zip (target <= 0.30); from the plug-in's start "
              "%.2f s = %.2f x" % (m["prog"], m["prog"] / m["zip"], m["prog_own"], m["prog_own"] / m["zip"]))
        print("    stages, first seen (s from the host's start): " + ", ".join(
            "%s %.2f" % (k, statistics.median(s.get(k, 0) for s in stages)) for k in STAGES))
        for key, label, target in (("repeat", "repeat, unchanged", 0.10), ("changed", "repeat, 5 % changed", 0.15)):
            print("  %-27s %7.2f s  = %.2f x zip (target <= %.2f); from the plug-in's start %.2f s = %.2f x" % (
                label, m[key], m[key] / m["zip"], target, m[key + "_own"], m[key + "_own"] / m["zip"]))
        print("    unchanged repeat's stages (s from the host's start): " + ", ".join(
            "%s %.2f" % (k, statistics.median(s.get(k, 0) for s in repeat_stages)) for k in STAGES))
        print("  engine alone, level 9       %7.2f s  = %.2f x zip" % (m["engine_pack"], m["engine_pack"] / m["zip"]))
        def restore_line(label, key, unzip_key, target):
            # Each round times both sides, in alternating order: the median of the rounds'
            # own ratios is not moved by a drift that the two medians catch in different rounds.
            paired = statistics.median(a / u for a, u in zip(r[key], r[unzip_key]))
            print("  %-27s %7.2f s  = %.2f x unzip; round by round %.2f x (target <= %.2f)" % (
                label, m[key], m[key] / m[unzip_key], paired, target))
            print("    stages, s from the click on Open: " + ", ".join(
                "%s %.2f" % (k, statistics.median(s[k] for s in restore_stages[key]))
                for k in ("first", "last", "window", "gone")))

        print("  unzip -q -o into an empty folder %5.2f s" % m["unzip_empty"])
        restore_line("restore, emptied install", "restore_empty", "unzip_empty", 1.0)
        print("  engine alone, into empty    %7.2f s  = %.2f x unzip into an empty folder" % (
            m["engine_empty"], m["engine_empty"] / m["unzip_empty"]))
        print("  unzip -q -o over the tree   %7.2f s" % m["unzip"])
        restore_line("restore over the tree", "restore", "unzip", 0.5)
        print("  engine alone, extract       %7.2f s  = %.2f x unzip" % (
            m["engine_extract"], m["engine_extract"] / m["unzip"]))
        print("  archive: program %d (first backup %d), zip %d, engine %d bytes; program's first/zip %.4f "
              "(target <= 1.00)" % (sizes["prog"], b.first_size, sizes["zip"], sizes["engine"],
                                    b.first_size / sizes["zip"]))
        print("  peak memory of the plug-in (VmHWM, largest of the rounds): backup %.1f MiB, restore %.1f MiB "
              "(target <= 64)" % (max(r["peak_backup"]) / 1024, max(r["peak_restore"]) / 1024))
        print("  longest silence of the engine per phase (ms between two callbacks, largest of the rounds; "
              "a click is answered at the next one; target <= 100):")
        for mode, phases in (("zip", ("list", "pack", "check", "stop")), ("unzip", ("list", "extract", "stop"))):
            print("    %-7s " % ("backup" if mode == "zip" else "restore") + ", ".join(
                "%s %.0f" % (p, b.gaps[(mode, p)]) for p in phases if (mode, p) in b.gaps))
    finally:
        b.close()


if __name__ == "__main__":
    main()
