"""Start-up without a host: the manual-mode question, and the task files at the end."""
import unittest

from vk import E2ETestCase, MANUAL_QUESTION, wait_exit

TEN_ENTRIES = ("\"Name=Nur ein Name\"", "Active=1", "InclDirs=", "UseDefZipName=0", "DefZipName=",
               "AutoMode=1", "AutoDays=7", "LastBackup=0", "SaveRegistry=1", "SaveFiles=1")


class ManualMode(E2ETestCase):
    def test_no_host_asks_then_ends_and_rewrites_the_tasks(self):
        self.set_host_dir()
        self.box.write_task("nurname.set", "\"Name=Nur ein Name\"")
        broken = "Name=Kaputt,AutoDays=sieben"
        self.box.write_task("kaputt.set", broken)
        proc = self.start_plugin()

        texts = self.ctl.answer("Fehler", "OK")
        self.assertIn("'sieben' ist kein gültiger Integerwert", texts)
        texts = self.ctl.answer("Bestätigen", "&Nein")
        self.assertIn(MANUAL_QUESTION, texts)
        self.assertIn("&Ja", texts)
        self.assertIn("&Nein", texts)
        self.assertNotIn("Vaultkin", self.ctl.ok("list").split("|"))
        self.assertEqual(wait_exit(proc, 30), 0)

        rewritten = self.box.read_task("nurname.set")
        for entry in TEN_ENTRIES[:2] + TEN_ENTRIES[3:4] + TEN_ENTRIES[5:]:
            self.assertIn(entry, rewritten)
        self.assertIn('"InclDirs=.,.\\Filebase,.\\Inbound,.\\MsgBase"', rewritten)
        self.assertIn("DefZipName=Z:", rewritten)
        # The file that could not be loaded is left exactly as it was.
        self.assertEqual(self.box.read_task("kaputt.set"), broken)

    def test_no_host_ignores_the_normal_argument(self):
        proc = self.start_plugin("/normal")
        texts = self.ctl.answer("Bestätigen", "&Nein")
        self.assertIn(MANUAL_QUESTION, texts)
        self.assertEqual(wait_exit(proc, 30), 0)
        self.assertNotIn("Vaultkin", self.ctl.ok("list").split("|"))


if __name__ == "__main__":
    unittest.main()
