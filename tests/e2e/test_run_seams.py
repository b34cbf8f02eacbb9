"""What the host and the user can do while a backup runs or the plug-in connects: the
run completes, commands wait for it, a departure ends the program after it, and the
main window's buttons do nothing meanwhile."""
import os
import random
import time
import unittest
import zipfile

from vk import E2ETestCase, winpath

RUN = "Sicherung erstellen"
TASK = ('Name=Gross,Active=1,"InclDirs=.\\Filebase,.\\Big",UseDefZipName=1,DefZipName={archive},'
        'AutoMode={mode},AutoDays=7,LastBackup=0,SaveRegistry=0,SaveFiles=1')
SMALL_FILES = 2500
# Windows the plug-in may show while it backs up in the background: the splash
# (no caption) and the run window; the host's own window is there too.
BACKGROUND_WINDOWS = {"", "Kestrone 95", RUN}


def host_action(test, action):
    test.ctl.ok("copydata", "Kestrone 95", 0x4B53, action)


class RunSeams(E2ETestCase):
    def setUp(self):
        super().setUp()
        # Large enough that the backup takes seconds: many small files and one
        # large one that compresses slowly.
        rnd = random.Random(9)
        filebase = os.path.join(self.box.host, "Filebase")
        os.makedirs(filebase)
        for i in range(SMALL_FILES):
            with open(os.path.join(filebase, "datei%04d.txt" % i), "wb") as f:
                f.write(("Zeile %d der Kestrone-Daten\r\n" % rnd.randrange(10 ** 6)).encode() * rnd.randrange(20, 200))
        os.makedirs(os.path.join(self.box.host, "Big"))
        words = [("wort%d " % rnd.randrange(5000)).encode() for _ in range(4000)]
        with open(os.path.join(self.box.host, "Big", "gross.dat"), "wb") as f:
            for _ in range(1500):
                f.write(b"".join(rnd.choice(words) for _ in range(3000)))
        os.makedirs(os.path.join(self.box.host, "Backup"))
        self.archive = os.path.join(self.box.host, "Backup", "KestroneBackup.zip")
        self.set_host_dir()

    def write_task(self, mode):
        self.box.write_task("gross.set", TASK.format(archive=winpath(self.archive), mode=mode))

    def windows(self):
        return set(self.ctl.ok("list").split("|"))

    def watch(self, until, timeout=120):
        """The sets of captions seen, every 100 ms, until until(captions) holds."""
        seen = []
        deadline = time.time() + timeout
        while time.time() < deadline:
            captions = self.windows()
            seen.append(captions)
            if until(captions):
                return seen
            time.sleep(0.1)
        raise AssertionError("still waiting after %ss; last windows: %s" % (timeout, seen[-1:]))

    def assert_run_goes_on(self):
        """The premise of a test: what it just did came while the backup ran."""
        self.assertIn(RUN, self.windows(), "the backup ended before the test could act; the tree is too small")

    def assert_archive_whole(self):
        with zipfile.ZipFile(self.archive) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(len(z.namelist()), SMALL_FILES + 1)

    def test_host_leaving_during_a_backup_ends_the_program_after_it(self):
        self.write_task(3)
        self.start_host()
        seen = self.watch(lambda w: RUN in w)
        host_action(self, "depart")
        self.assert_run_goes_on()
        seen += self.watch(lambda w: RUN not in w)
        self.assertTrue(self.wait_plugin_gone(10), "the plug-in stays after its host left")
        shown = set().union(*seen)
        self.assertLessEqual(shown, BACKGROUND_WINDOWS)
        self.assert_archive_whole()
        self.assertNotIn("LastBackup=0,", self.box.read_task("gross.set"))

    def check_command_waits_for_the_backup(self, command, caption, button):
        self.write_task(3)
        self.start_host()
        self.watch(lambda w: RUN in w)
        host_action(self, "command %d" % command)
        self.assert_run_goes_on()
        seen = self.watch(lambda w: RUN not in w)
        self.assertFalse([w for w in seen if caption in w and RUN in w], "opened over the running backup")
        self.ctl.wait(caption)
        self.ctl.click(caption, button)
        self.ctl.ok("gone", caption, 10000)
        time.sleep(1)
        self.assertTrue(self.plugin_running(), "closing the dialog ended the program")
        self.assert_archive_whole()
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))

    def test_the_task_list_command_waits_for_the_backup(self):
        self.check_command_waits_for_the_backup(2048, "Sicherungsaufgaben", "Abbrechen")

    def test_the_info_command_waits_for_the_backup(self):
        self.check_command_waits_for_the_backup(2050, "Info", "OK")

    def test_a_command_between_the_registrations_waits_for_the_connection(self):
        host = self.start_host("--reply-delay", 1037, 1500, "--after-register", 2, 300, "command", 2048)
        self.ctl.wait("Sicherungsaufgaben", 30000)
        self.assertEqual(len(host.events("reply 1037")), 2)
        self.assertNotIn("Fehler", self.windows())
        self.ctl.click("Sicherungsaufgaben", "Abbrechen")
        self.ctl.ok("gone", "Sicherungsaufgaben", 10000)
        time.sleep(1)
        self.assertTrue(self.plugin_running())

    def test_host_leaving_during_the_registrations_ends_the_program_quietly(self):
        self.start_host("--reply-delay", 1037, 1500, "--after-register", 1, 300, "depart")
        seen = self.watch(lambda w: not self.plugin_running(), timeout=30)
        self.assertLessEqual(set().union(*seen), {"", "Kestrone 95"})

    def test_the_main_windows_buttons_do_nothing_while_a_backup_runs(self):
        self.write_task(1)
        host = self.start_host(plugin_args="/normal")
        self.ctl.wait("Vaultkin")
        self.ctl.click("Vaultkin", " Kestrone 95 sichern")
        self.watch(lambda w: RUN in w)
        for button in ("Info...", "Einstellungen ändern", " Sicherung zurückschreiben", " Kestrone 95 sichern"):
            self.ctl.click("Vaultkin", button)
        self.assert_run_goes_on()
        seen = self.watch(lambda w: RUN not in w)
        # Nothing the clicks asked for happens, neither during the run nor after it.
        time.sleep(2)
        seen.append(self.windows())
        shown = set().union(*seen)
        for caption in ("Info", "Sicherungsaufgaben", "Sicherung laden"):
            self.assertNotIn(caption, shown)
        self.assertNotIn(RUN, seen[-1], "a second backup started")
        self.assert_archive_whole()
        self.ctl.click("Vaultkin", "Schließen")
        self.assertTrue(self.wait_plugin_gone(20))
        host.wait_for("departed by=plugin")


if __name__ == "__main__":
    unittest.main()
