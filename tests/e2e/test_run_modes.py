"""The three run modes, end to end: the real program started by the host stand-in."""
import os
import time
import unittest

from vk import E2ETestCase, MANUAL_QUESTION

WRONG_VERSION = ("Das Plugin-API Ihrer Kestrone95-Installation hat die falsche Version. "
                 "Vaultkin wird im Stanard-Modus ausgeführt!")
# Every wait for the host is bounded by five seconds; a start-up that hits the bound
# reaches its mode well within this.
BOUND = 5


class RunModes(E2ETestCase):
    def assert_background(self, host):
        """Connected, registered, no window, still resident; ends when the host leaves."""
        host.wait_for("block KSRegisterService", count=2)
        time.sleep(3)
        self.assertTrue(self.plugin_running())
        self.assertNotIn("Vaultkin", self.ctl.ok("list").split("|"))
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20), "the plug-in stays after the host left")

    def test_background_registers_exactly_two_services(self):
        host = self.start_host()
        blocks = host.wait_for("block KSRegisterService", count=2)
        connect = host.wait_for("recv 1025")[0]
        listener, main = host.field(connect, "wparam"), host.field(connect, "lparam")
        self.assertNotEqual(listener, main)
        self.assertEqual([host.field(b, "title") for b in blocks], ["Vaultkin: Aufgaben", "Vaultkin: Info"])
        self.assertEqual([host.field(b, "command") for b in blocks], ["2048", "2050"])
        for b in blocks:
            self.assertTrue(b.startswith("block KSRegisterService" + main + " size=529 "), b)
            self.assertEqual(host.field(b, "listener"), listener)
            self.assertEqual(host.field(b, "last"), "0")
            self.assertEqual(host.field(b, "reserved"), "0")
        self.assertEqual(len(host.events("recv 1031")), 1)
        self.assert_background(host)
        self.assertEqual(host.events("block KSRegisterService")[2:], [])
        self.assertEqual(host.events("recv 1029"), [])

    def test_near_misses_of_normal_run_in_the_background(self):
        for args in ("/Normal", '"/normal "', "-normal", "x /normal"):
            with self.subTest(args=args):
                host = self.start_host(plugin_args=args)
                self.assert_background(host)
                host.stop()

    def test_normal_shows_the_main_window_and_closing_it_says_goodbye(self):
        host = self.start_host(plugin_args="/normal")
        self.ctl.wait("Vaultkin")
        texts = self.ctl.texts("Vaultkin")
        for t in (" Kestrone 95 sichern", " Sicherung zurückschreiben", "Einstellungen ändern",
                  "Info...", "Schließen"):
            self.assertIn(t, texts)
        # Each button opens its window; closed again, the main window is back.
        self.set_host_dir()
        for button, opened, close_with in ((" Sicherung zurückschreiben", "Sicherung laden", None),
                                           ("Einstellungen ändern", "Sicherungsaufgaben", "Abbrechen"),
                                           ("Info...", "Info", "OK")):
            with self.subTest(button=button):
                self.ctl.click("Vaultkin", button)
                self.ctl.wait(opened)
                if close_with:
                    self.ctl.click(opened, close_with)
                else:
                    self.ctl.ok("close", opened)  # the file dialog: cancelled
                self.ctl.ok("gone", opened, 10000)
                self.ctl.ok("gone", "Sicherung zurückschreiben", 10000)
        self.ctl.click("Vaultkin", "Schließen")
        self.assertTrue(self.wait_plugin_gone(20))
        host.wait_for("departed by=plugin")

    def test_versions_six_seven_eight(self):
        host = self.start_host("--version", 6)
        self.assertIn(WRONG_VERSION, self.ctl.answer("Information", "OK"))
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Bestätigen", "&Nein"))
        self.assertTrue(self.wait_plugin_gone(20))
        received = [l.split()[1] for l in host.events("recv ")]
        self.assertEqual(received, ["1025", "1031", "1029"])
        host.stop()
        for version in (7, 8):
            with self.subTest(version=version):
                host = self.start_host("--version", version)
                self.assert_background(host)
                host.stop()

    def test_refusing_and_silent_hosts_lead_to_the_manual_mode(self):
        for options in (("--refuse",), ("--no-reply", 1031), ("--hang-connect", 60000)):
            with self.subTest(options=options):
                host = self.start_host(*options)
                started = time.time()
                self.ctl.wait("Bestätigen", (BOUND + 15) * 1000)
                self.assertLess(time.time() - started, BOUND + 15)
                self.assertIn(MANUAL_QUESTION, self.ctl.answer("Bestätigen", "&Nein"))
                self.assertTrue(self.wait_plugin_gone(20))
                host.stop()

    def test_unacknowledged_registration_is_shown_and_ends_the_program(self):
        host = self.start_host("--no-reply", 1037)
        texts = self.ctl.answer("Fehler", "OK", (BOUND + 15) * 1000)
        self.assertIn("Could not transmit command", texts)
        self.assertTrue(self.wait_plugin_gone(20))
        self.assertEqual(len(host.events("block KSRegisterService")), 1)

    def test_commands_open_their_windows_and_others_do_nothing(self):
        host = self.start_host("--after-register", 2, 500, "post", 2049,
                               "--after-register", 2, 700, "post", 2100,
                               "--after-register", 2, 1500, "command", 2050)
        self.ctl.wait("Info")
        self.assertIn("Vaultkin Beta 4", self.ctl.texts("Info"))
        # 2049 belongs to an inactive service and 2100 to none: no other window came up.
        self.assertNotIn("Sicherungsaufgaben", self.ctl.ok("list").split("|"))
        self.ctl.click("Info", "OK")
        self.ctl.ok("gone", "Info", 10000)
        # The host leaves while the task list opened by its command is open: the
        # plug-in stays until the dialog is closed.
        host_action(self, "command 2048")
        self.ctl.wait("Sicherungsaufgaben")
        self.ctl.ok("close", "Kestrone 95")
        time.sleep(3)
        self.assertTrue(self.plugin_running())
        self.ctl.click("Sicherungsaufgaben", "Abbrechen")
        self.assertTrue(self.wait_plugin_gone(20))

    def test_info_request_gets_the_self_description(self):
        host = self.start_host("--after-register", 2, 300, "info")
        block = host.wait_for("block KSPluginInfo")[0]
        connect = host.wait_for("recv 1025")[0]
        self.assertTrue(block.startswith("block KSPluginInfo" + host.field(connect, "wparam") + " size=784 "))
        self.assertEqual(host.field(block, "name"), "Vaultkin")
        self.assertEqual(host.field(block, "description"), "Vaultkin Sicherungs-Plugin")
        self.assertEqual((host.field(block, "version"), host.field(block, "revision"),
                          host.field(block, "required"), host.field(block, "supported")), ("0", "2", "7", "8"))
        probe = host.wait_for("probe KSPluginInfo", count=2)
        self.assertIn("when=after-reply exists=0", probe[1])
        self.assert_background(host)

    def test_a_killed_host_ends_the_plugin(self):
        host = self.start_host("--after-register", 2, 1000, "kill")
        host.wait_for("block KSRegisterService", count=2)
        self.assertTrue(self.wait_plugin_gone(BOUND + 20), "the plug-in outlived its killed host")


def host_action(test, action):
    """Tells the running host stand-in to act now (an action line through WM_COPYDATA)."""
    test.ctl.ok("copydata", "Kestrone 95", 0x4B53, action)


if __name__ == "__main__":
    unittest.main()
