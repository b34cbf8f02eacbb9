"""Runs killed without warning: the whole Wine process of the program ends at random
moments of a background backup and of a restore. Whenever it is killed, the archive is
the previous one or a complete new one, and the next run succeeds; after a killed
restore, the next restore completes and leaves no temporary file. The moments come
from a fixed seed; only what must hold at any moment is checked."""
import os
import random
import time
import zipfile

from test_backup_restore import SAMPLE, TASK, Installation
from vk import end_everything_of, wine_processes, winpath

KILLS = 20
BIG = "MsgBase/gross.dat"


class KilledRuns(Installation):
    def setUp(self):
        super().setUp()
        # Large enough that packing and extracting take a while to be killed in.
        self.big = random.Random(5).randbytes(24 << 20)
        with open(os.path.join(self.box.host, BIG), "wb") as f:
            f.write(self.big)
        self.expected = sorted(list(SAMPLE) + [BIG, "kestrone.reg"])
        self.rng = random.Random(14)
        self.reg_file = os.path.join(self.box.host, "kestrone.reg")

    def kill(self):
        """Kills the program, the host and the REGEDIT they started, without warning."""
        if not end_everything_of(self.box):
            self.fail("the program outlives its kill:\n%s\n%s" % (self.ctl.screen(), wine_processes()))
        for host in self.hosts:
            host.stop()

    def leftovers(self, prefixes, suffixes=()):
        return [n for _, _, names in os.walk(self.box.host) for n in names
                if n.startswith(prefixes) or n.endswith(suffixes)]

    def complete(self, path):
        with zipfile.ZipFile(path) as z:
            return z.testzip() is None and sorted(z.namelist()) == self.expected

    def back_up_answering(self):
        """A background backup; should a killed run have left the registry file, the
        question whether to overwrite it is answered with yes, as a user would."""
        self.box.write_task("test.set", TASK.format(archive=winpath(self.archive)))
        host = self.start_host()
        deadline = time.time() + 90
        while time.time() < deadline and "LastBackup=0," in self.box.read_task("test.set"):
            if "Best\u00e4tigen" in self.ctl.ok("list").split("|"):
                texts = self.ctl.answer("Best\u00e4tigen", "&Ja")
                self.assertTrue(any("kestrone.reg" in t for t in texts), texts)
            time.sleep(0.2)
        self.assertNotIn("LastBackup=0,", self.box.read_task("test.set"), "the task did not run")
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()

    def test_a_killed_background_backup_keeps_the_archive_and_the_next_one_succeeds(self):
        started = time.time()
        self.back_up()
        duration = time.time() - started
        with open(self.archive, "rb") as f:
            previous = f.read()
        self.assertTrue(self.complete(self.archive))
        for n in range(KILLS):
            # Each kill finds the task due again; the content changes, so a backup
            # that finished before its kill shows as a new archive.
            with open(os.path.join(self.box.host, "Filebase", "liste.txt"), "wb") as f:
                f.write(b"Stand %d\r\n" % n)
            # A registry file left by a kill stops the next run at its question (the
            # final run answers it): here it goes, so that the kills find packing.
            if os.path.exists(self.reg_file):
                os.remove(self.reg_file)
            self.box.write_task("test.set", TASK.format(archive=winpath(self.archive)))
            self.start_host()
            time.sleep(self.rng.uniform(0.2, duration))
            self.kill()
            with open(self.archive, "rb") as f:
                now = f.read()
            if now != previous:
                self.assertTrue(self.complete(self.archive), "kill %d left a damaged archive" % n)
                previous = now
        self.back_up_answering()
        self.assertTrue(self.complete(self.archive))
        with zipfile.ZipFile(self.archive) as z:
            self.assertEqual(z.read("Filebase/liste.txt"), b"Stand %d\r\n" % (KILLS - 1))
        self.assertEqual(self.leftovers(("~vk",), (".vktmp", ".vkpart", ".vknew", ".vkold")), [])

    def test_after_a_killed_restore_the_next_restore_completes(self):
        self.back_up()
        started = time.time()
        self.restore(self.archive)
        duration = time.time() - started
        for n in range(KILLS):
            self.write_old(BIG, b"veraltet")  # older than the backup: replaced without a question
            proc = self.restore(self.archive, wait=False)
            time.sleep(self.rng.uniform(0, duration))
            self.kill()
            proc.wait()
            self.restore(self.archive)
            self.assertEqual(self.leftovers(("~vk",)), [], "after kill %d" % n)
            self.assertEqual(self.read(BIG), self.big, "after kill %d" % n)
            for rel, data in SAMPLE.items():
                self.assertEqual(self.read(rel), data, rel)
