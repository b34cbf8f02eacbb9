"""Backup and restore of a sample host installation, end to end: the host stand-in
starts the real program, which runs its due task in the background; later the program,
started by hand, writes the backup back. The archive is checked with unzip, 7z and
Python's zipfile."""
import os
import random
import shutil
import subprocess
import time
import unittest
import zipfile

from vk import E2ETestCase, HOST_KEY, MANUAL_QUESTION, kill_all, processes_of, winpath, wait_exit

SAMPLE = {
    "Kestrone.ini": b"[Main]\r\nSprache=Deutsch\r\n",
    "Filebase/liste.txt": b"Dateiliste\r\n",
    "Filebase/Gr\u00fc\u00dfe.txt": "Gr\u00fc\u00dfe aus der Dateibasis\r\n".encode("cp1252"),
    "Filebase/bin.dat": random.Random(1).randbytes(300000),
    "Inbound/a.pkt": random.Random(2).randbytes(1000),
    "MsgBase/msg.dat": random.Random(3).randbytes(150000),
}
# A time before any backup a test makes.
OLD = time.mktime((2001, 1, 1, 12, 0, 0, 0, 0, -1))
NOT_LISTED = {"Filebase/Archiv/alt.txt": b"nicht gesichert\r\n"}
TASK = ('Name=Test,Active=1,"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase,.\\Plugins",'
        'UseDefZipName=1,DefZipName={archive},AutoMode=3,AutoDays=7,LastBackup=0,'
        'SaveRegistry=1,SaveFiles=1')


class Installation(E2ETestCase):
    """A sample host installation with its registry branch, backed up and restored."""
    task_text = TASK

    def setUp(self):
        super().setUp()
        for rel, data in {**SAMPLE, **NOT_LISTED}.items():
            path = os.path.join(self.box.host, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(self.box.host, "Backup"))
        self.archive = os.path.join(self.box.host, "Backup", "KestroneBackup.zip")
        self.set_host_dir()
        self.ctl.ok("regset", HOST_KEY, "Sprache", "Deutsch")
        self.ctl.ok("regsetdw", HOST_KEY, "Zahl", 42)
        self.ctl.ok("regset", HOST_KEY + "\\Fenster", "Titel", "Hauptfenster \u00e4\u00f6\u00fc")

    def read(self, rel):
        with open(os.path.join(self.box.host, rel), "rb") as f:
            return f.read()

    def back_up(self):
        """The host starts the program; its due task writes the archive."""
        self.box.write_task("test.set", self.task_text.format(archive=winpath(self.archive)))
        host = self.start_host()
        deadline = time.time() + 60
        while time.time() < deadline and "LastBackup=0," in self.box.read_task("test.set"):
            time.sleep(0.2)
        self.assertNotIn("LastBackup=0,", self.box.read_task("test.set"), "the task did not run")
        self.assertNotIn("Fehler", self.ctl.ok("list").split("|"))
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()

    def write_old(self, rel, data):
        """Writes a file dated before any backup: a restore replaces it without asking."""
        path = os.path.join(self.box.host, rel)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (OLD, OLD))

    def restore(self, archive, wait=True):
        """Started by hand (no host): the manual mode offers the restore. Waiting, it
        answers the closing report and returns its text."""
        proc = self.start_plugin()
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Bestätigen", "&Ja"))
        self.assertIn("KestroneBackup.zip", self.ctl.open_file("Sicherung laden", winpath(archive)))
        if not wait:
            return proc
        report = self.ctl.answer("Information", "OK", 60000)
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        return "\n".join(report)


class BackupRestore(Installation):
    def test_backup_then_restore(self):
        self.back_up()
        self.assertFalse(os.path.exists(os.path.join(self.box.host, "kestrone.reg")))
        for tool in (["unzip", "-t", "-q", self.archive], ["7z", "t", self.archive]):
            result = subprocess.run(tool, capture_output=True)
            self.assertEqual(result.returncode, 0, result.stdout.decode(errors="replace"))

        with zipfile.ZipFile(self.archive) as z:
            self.assertIsNone(z.testzip())
            names = sorted(z.namelist())
            # The plug-in folder is listed, but the program's own files stay out.
            expected = sorted(list(SAMPLE) + ["kestrone.reg"])
            self.assertEqual(names, expected)
            for rel, data in SAMPLE.items():
                self.assertEqual(z.read(rel), data, rel)
            reg = z.read("kestrone.reg").decode("utf-16")
        self.assertTrue(reg.startswith("Windows Registry Editor Version 5.00"))
        self.assertIn("[HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone\\Fenster]", reg)
        self.assertIn('"Titel"="Hauptfenster \u00e4\u00f6\u00fc"', reg)
        self.assertIn('"Zahl"=dword:0000002a', reg)

        # Changes the restore must undo, and one it must leave alone.
        self.write_old("Filebase/liste.txt", b"ver\xe4ndert")
        os.remove(os.path.join(self.box.host, "Inbound", "a.pkt"))
        with open(os.path.join(self.box.host, "Filebase", "neu.txt"), "wb") as f:
            f.write(b"neu")
        self.ctl.ok("regset", HOST_KEY, "Sprache", "Englisch")
        self.ctl.ok("regdel", HOST_KEY + "\\Fenster")

        self.restore(self.archive)
        for rel, data in SAMPLE.items():
            self.assertEqual(self.read(rel), data, rel)
        self.assertEqual(self.read("Filebase/neu.txt"), b"neu")
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Deutsch")
        self.assertEqual(self.ctl.ok("regget", HOST_KEY + "\\Fenster", "Titel"), "Hauptfenster \u00e4\u00f6\u00fc")

    def test_live_installation_with_a_held_file_and_a_unicode_name(self):
        """The host holds a file while the background backup runs: the backup is kept
        as an incomplete one and told; once the file is free, the next one is complete."""
        unicode = "Filebase/\u03a9mega-\u65e5\u672c.txt"
        with open(os.path.join(self.box.host, unicode), "wb") as f:
            f.write(b"Unicode")
        incomplete = os.path.join(self.box.host, "Backup", "KestroneBackup (unvollst\u00e4ndig).zip")
        held = winpath(os.path.join(self.box.host, "Filebase", "liste.txt"))
        self.ctl.ok("hold", held)
        self.box.write_task("test.set", TASK.format(archive=winpath(self.archive)))
        host = self.start_host()
        texts = self.ctl.answer("Fehler", "OK", 60000)
        self.assertTrue(any("liste.txt" in t and "unvollst\u00e4ndig" in t for t in texts), texts)
        self.ctl.ok("release", held)
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()
        self.assertFalse(os.path.exists(self.archive))
        with zipfile.ZipFile(incomplete) as z:
            self.assertEqual(sorted(z.namelist()),
                             sorted(set(SAMPLE) - {"Filebase/liste.txt"} | {unicode, "kestrone.reg"}))

        self.back_up()
        self.assertFalse(os.path.exists(incomplete))
        with zipfile.ZipFile(self.archive) as z:
            self.assertEqual(sorted(z.namelist()), sorted(list(SAMPLE) + [unicode, "kestrone.reg"]))
            self.assertEqual(z.read(unicode), b"Unicode")

        os.remove(os.path.join(self.box.host, unicode))
        self.restore(self.archive)
        self.assertEqual(self.read(unicode), b"Unicode")

    def test_restore_after_a_killed_restore(self):
        """A restore killed while it replaces a large file; the next one leaves no
        temporary file behind and every file right."""
        big = "MsgBase/gross.dat"
        data = random.Random(4).randbytes(64 << 20)
        with open(os.path.join(self.box.host, big), "wb") as f:
            f.write(data)
        self.back_up()
        self.write_old(big, b"veraltet")
        msgbase = os.path.join(self.box.host, "MsgBase")
        proc = self.restore(self.archive, wait=False)
        # Killed as soon as the new large file is being written beside the old one
        # (or, should that be missed, wherever the restore then is).
        deadline = time.time() + 60
        while time.time() < deadline and proc.poll() is None and \
                not any(n.startswith("~vk") for n in os.listdir(msgbase)):
            time.sleep(0.005)
        kill_all(processes_of(self.box))
        wait_exit(proc, 20)
        self.assertTrue(self.wait_plugin_gone(20))

        self.restore(self.archive)
        leftovers = [n for _, _, names in os.walk(self.box.host) for n in names if n.startswith("~vk")]
        self.assertEqual(leftovers, [])
        self.assertEqual(self.read(big), data)
        for rel, sample in SAMPLE.items():
            self.assertEqual(self.read(rel), sample, rel)

    def test_restore_refuses_foreign_registry_data(self):
        hostile = os.path.join(self.box.root, "fremd.zip")
        with zipfile.ZipFile(hostile, "w") as z:
            z.writestr("kestrone.reg", "Windows Registry Editor Version 5.00\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\VaultkinE2EHostile]\r\n\"x\"=\"y\"\r\n"
                       .encode("utf-16"))
            z.writestr("Inbound/neu.pkt", b"paket")
        proc = self.start_plugin()
        self.ctl.answer("Bestätigen", "&Ja")
        self.ctl.open_file("Sicherung laden", winpath(hostile))
        texts = self.ctl.answer("Fehler", "OK")
        self.assertTrue(any("VaultkinE2EHostile" in t for t in texts), texts)
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        self.assertEqual(self.read("Inbound/neu.pkt"), b"paket")
        self.assertTrue(self.ctl.call("regget", "Software\\VaultkinE2EHostile", "x").startswith("error"))


if __name__ == "__main__":
    unittest.main()
