"""Backups with a history, end to end: a task that keeps three generations, backed up
four times by the real program started from the host stand-in, with runs between
them that bring no complete backup, files changed behind a restored time and a
damaged older archive."""
import os
import subprocess
import unittest
import zipfile

from test_backup_restore import SAMPLE, TASK, Installation
from vk import winpath

MSG = "MsgBase/msg.dat"


class Generations(Installation):
    task_text = TASK + ",Generations=3"

    def setUp(self):
        super().setUp()
        self.winarchive = winpath(self.archive)
        self.backup_dir = os.path.dirname(self.archive)

    def write(self, rel, data, keep_time=False):
        path = os.path.join(self.box.host, rel)
        before = os.stat(path) if keep_time else None
        with open(path, "r+b" if keep_time else "wb") as f:
            f.write(data)
        if before:
            os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))

    def read_archive(self, name):
        with open(os.path.join(self.backup_dir, name), "rb") as f:
            return f.read()

    def archives(self):
        return sorted(n for n in os.listdir(self.backup_dir) if n.endswith(".zip"))

    def assert_holds(self, archive, expected):
        path = os.path.join(self.backup_dir, archive)
        result = subprocess.run(["unzip", "-t", "-q", path], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(sorted(z.namelist()), sorted(list(SAMPLE) + ["kestrone.reg"]))
            for rel, data in expected.items():
                self.assertEqual(z.read(rel), data, (archive, rel))

    def test_three_generations_each_with_its_own_data(self):
        states = []
        for day in range(1, 5):
            data = SAMPLE[MSG][:-16] + b"Generation %02d\r\n\r\n" % day
            self.write(MSG, data)
            states.append(data)
            self.back_up()
            # Each backup written a day after the one before, as the daily task would.
            stamp = 1796000000 + day * 86400
            os.utime(self.archive, (stamp, stamp))
        names = self.archives()
        self.assertEqual(len(names), 3, names)
        self.assertEqual(names[-1], "KestroneBackup.zip")
        self.assertTrue(all(n.startswith("KestroneBackup (20") for n in names[:2]), names)
        for name, data in zip(names, states[1:]):
            self.assert_holds(name, {MSG: data, "Filebase/liste.txt": SAMPLE["Filebase/liste.txt"]})

        # An incomplete run (a changed file held by the host; an unchanged one would be
        # taken over unread) changes none of them.
        before = {n: self.read_archive(n) for n in names}
        self.write("Filebase/liste.txt", b"Neue Liste\r\n")
        held = winpath(os.path.join(self.box.host, "Filebase", "liste.txt"))
        self.ctl.ok("hold", held)
        self.box.write_task("test.set", self.task_text.format(archive=self.winarchive))
        host = self.start_host()
        self.ctl.answer("Fehler", "OK", 60000)
        self.ctl.ok("release", held)
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()
        for n, data in before.items():
            self.assertEqual(self.read_archive(n), data, n)

    def test_changed_behind_a_restored_time_and_a_damaged_older_archive(self):
        self.back_up()
        # Same size, other bytes, the old last-write time put back.
        changed = bytes(b ^ 0xFF for b in SAMPLE[MSG][:4096]) + SAMPLE[MSG][4096:]
        self.write(MSG, changed[:4096], keep_time=True)
        liste = b"Dateiliste!\r"
        self.assertEqual(len(liste), len(SAMPLE["Filebase/liste.txt"]))
        self.write("Filebase/liste.txt", liste, keep_time=True)
        self.back_up()
        self.assert_holds("KestroneBackup.zip", {MSG: changed, "Filebase/liste.txt": liste})

        # The newest backup is damaged in the middle of its data: the next one still
        # succeeds and holds every file intact.
        size = os.path.getsize(self.archive)
        with open(self.archive, "r+b") as f:
            f.seek(size // 2)
            f.write(b"\0" * 64)
        self.back_up()
        self.assert_holds("KestroneBackup.zip", {rel: changed if rel == MSG else liste if rel == "Filebase/liste.txt"
                                                 else data for rel, data in SAMPLE.items()})


if __name__ == "__main__":
    unittest.main()
