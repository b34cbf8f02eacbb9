"""A restore that keeps what it overwrites: the real program backs up a sample
installation, the installation changes, and the restore first packs the files it is
about to replace and the registry branch into its undo copy, asks before files newer
on disk go, and stops before any change when the copy cannot be written."""
import os
import random
import time
import unittest
import zipfile

from test_backup_restore import Installation, OLD, SAMPLE
from vk import HOST_KEY, UNDO_COPY, MANUAL_QUESTION, tree_files, winpath, wait_exit

UNDO = UNDO_COPY
NEW = time.mktime((2031, 1, 1, 12, 0, 0, 0, 0, -1))
RESTORE_WINDOW = "Sicherung zur\u00fcckschreiben"


class RestoreUndo(Installation):
    def setUp(self):
        super().setUp()
        self.undo = os.path.join(self.box.host, UNDO)

    def change(self, rel, data, when):
        path = os.path.join(self.box.host, rel)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (when, when))

    def files(self):
        return tree_files(self.box.host)

    def undo_copy(self):
        with zipfile.ZipFile(self.undo) as z:
            self.assertIsNone(z.testzip())
            return {n: z.read(n) for n in z.namelist()}

    def test_newer_files_are_asked_for_and_the_undo_copy_brings_them_back(self):
        self.back_up()
        changed = {"Filebase/liste.txt": (b"heute ge\xe4ndert", NEW), "MsgBase/msg.dat": (b"gek\xfcrzt", OLD)}
        for rel, (data, when) in changed.items():
            self.change(rel, data, when)
        os.remove(os.path.join(self.box.host, "Inbound", "a.pkt"))
        self.ctl.ok("regset", HOST_KEY, "Sprache", "Englisch")
        before = self.files()

        # Interactive mode: the question names the newer file; "Nein" changes nothing.
        host = self.start_host(plugin_args="/normal")
        self.ctl.wait("Vaultkin")
        self.ctl.click("Vaultkin", " Sicherung zur\u00fcckschreiben")
        self.ctl.open_file("Sicherung laden", winpath(self.archive))
        question = "\n".join(self.ctl.answer("Best\u00e4tigen", "&Nein"))
        for part in ("1 Datei der Installation ist neuer", "Filebase\\liste.txt"):
            self.assertIn(part, question)
        self.assertNotIn("msg.dat", question)  # changed, but older than the backup
        self.ctl.ok("gone", RESTORE_WINDOW, 10000)
        self.ctl.click("Vaultkin", "Schlie\u00dfen")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()
        self.assertEqual(self.files(), before)
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Englisch")

        # Manual mode, "Ja": the backup comes back, the replaced files go to the copy.
        proc = self.start_plugin()
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Best\u00e4tigen", "&Ja"))
        self.ctl.open_file("Sicherung laden", winpath(self.archive))
        self.ctl.answer("Best\u00e4tigen", "&Ja")
        report = "\n".join(self.ctl.answer("Information", "OK", 60000))
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        self.assertIn(winpath(self.undo), report)
        # Written: the two changed files, the removed one and the registry file.
        self.assertIn("4 Dateien wurden geschrieben", report)
        for rel, data in SAMPLE.items():
            self.assertEqual(self.read(rel), data, rel)
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Deutsch")
        undo = self.undo_copy()
        self.assertEqual(sorted(undo), sorted(list(changed) + ["kestrone.reg"]))
        for rel, (data, _) in changed.items():
            self.assertEqual(undo[rel], data, rel)
        self.assertIn('"Sprache"="Englisch"', undo["kestrone.reg"].decode("utf-16"))

        # Restoring the undo copy brings back what the restore overwrote; msg.dat as
        # the backup put it back is newer than its copy there, which is asked first.
        proc = self.start_plugin()
        self.ctl.answer("Best\u00e4tigen", "&Ja")
        self.ctl.open_file("Sicherung laden", winpath(self.undo))
        self.assertIn("MsgBase\\msg.dat", "\n".join(self.ctl.answer("Best\u00e4tigen", "&Ja")))
        self.ctl.answer("Information", "OK", 60000)
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        for rel, (data, _) in changed.items():
            self.assertEqual(self.read(rel), data, rel)
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Englisch")

    def test_a_cancelled_restore_keeps_the_undo_copy(self):
        big = "MsgBase/gross.dat"
        self.change(big, random.Random(5).randbytes(64 << 20), OLD)
        self.back_up()
        msgbase = os.path.join(self.box.host, "MsgBase")
        # A busy machine may let the restore end before the click reaches it: then the
        # same restore again, up to a few times.
        for _ in range(5):
            self.change(big, b"veraltet", OLD)
            self.change("Filebase/liste.txt", b"ver\xe4ndert", OLD)
            proc = self.restore(self.archive, wait=False)
            deadline = time.time() + 60
            while time.time() < deadline and not any(n.startswith("~vk") for n in os.listdir(msgbase)):
                time.sleep(0.005)
            self.ctl.call("click", RESTORE_WINDOW, "Abbrechen")
            # The cancel's box; it asks whether the registry data still go back when
            # their file was out before the cancel: "Nein". Or the closing report of a
            # restore that was over.
            while time.time() < deadline + 60:
                shown = self.ctl.ok("list").split("|")
                box = next((b for b in (("Information", "OK"), ("Best\u00e4tigen", "&Nein")) if b[0] in shown), None)
                if box:
                    break
                time.sleep(0.05)
            kept = "\n".join(self.ctl.answer(*box))
            self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
            if "Das Zur\u00fcckschreiben wurde abgebrochen." in kept:
                break
            self.assertIn("Die Sicherung wurde zur\u00fcckgeschrieben.", kept)
        else:
            self.fail("no cancel reached the restore in five tries")
        self.assertIn(winpath(self.undo), kept)
        undo = self.undo_copy()
        self.assertEqual(undo[big], b"veraltet")
        self.assertEqual(undo["Filebase/liste.txt"], b"ver\xe4ndert")
        self.assertIn("kestrone.reg", undo)

    def test_an_undo_copy_that_cannot_be_written_stops_the_restore_first(self):
        self.back_up()
        os.makedirs(self.undo)  # a folder standing at the copy's name
        self.change("Filebase/liste.txt", b"ver\xe4ndert", OLD)
        self.ctl.ok("regset", HOST_KEY, "Sprache", "Englisch")
        before = self.files()
        proc = self.start_plugin()
        self.ctl.answer("Best\u00e4tigen", "&Ja")
        self.ctl.open_file("Sicherung laden", winpath(self.archive))
        error = "\n".join(self.ctl.answer("Fehler", "OK", 60000))
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        for part in (winpath(self.undo), "Verzeichnis", "es wurde nichts ver\u00e4ndert"):
            self.assertIn(part, error)
        self.assertEqual(self.files(), before)
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Englisch")


if __name__ == "__main__":
    unittest.main()
