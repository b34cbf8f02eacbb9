"""The main window of the interactive mode keeps its place in the registry."""
import time
import unittest

from vk import E2ETestCase

PLACE_KEY = r"Software\Morrow Tools\Vaultkin"
POS = PLACE_KEY + r"\Pos"


class MainWindowPlace(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.ctl.ok("regdel", PLACE_KEY)

    def tearDown(self):
        self.ctl.ok("regdel", PLACE_KEY)
        super().tearDown()

    def rect(self):
        left, top, right, bottom, iconic = map(int, self.ctl.ok("rect", "Vaultkin").split())
        return (left, top, right - left, bottom - top), iconic == 1

    def run_interactive(self, close):
        """Starts the plug-in in the interactive mode, hands its main window's place
        to `close`, and waits until the program has ended and said goodbye."""
        host = self.start_host(plugin_args="/normal")
        self.ctl.wait("Vaultkin")
        close()
        self.assertTrue(self.wait_plugin_gone(20))
        host.wait_for("departed by=plugin")
        host.stop()

    def test_stored_place_and_state_come_back(self):
        seen = []

        def press_close():
            seen.append(self.rect())
            self.ctl.click("Vaultkin", "Schließen")

        self.run_interactive(press_close)
        (x, y, width, height), iconic = seen[0]
        self.assertEqual((x, y, iconic), (200, 110, False), "first run: the designed place")
        self.assertEqual(self.ctl.ok("regget", POS, "NormPos"),
                         "%d,%d,%d,%d" % (x, y, x + width, y + height))
        self.assertEqual(self.ctl.ok("regget", POS, "ShowCmd"), "1")
        self.assertEqual(self.ctl.ok("regget", POS, "Visible"), "0")

        # Moved elsewhere (with a size it does not have): it opens there, at its own size.
        self.ctl.ok("regset", POS, "NormPos", "333,222,340,230")
        self.run_interactive(press_close)
        self.assertEqual(seen[1], ((333, 222, width, height), False))

        # Closed while minimized: the next run starts minimized.
        self.ctl.ok("regset", POS, "ShowCmd", "2")

        def close_when_minimized():
            deadline = time.time() + 20
            while not self.rect()[1] and time.time() < deadline:
                time.sleep(0.1)
            seen.append(self.rect())
            self.ctl.ok("close", "Vaultkin")

        self.run_interactive(close_when_minimized)
        self.assertTrue(seen[2][1], "the program started minimized")
        self.assertEqual(self.ctl.ok("regget", POS, "ShowCmd"), "2")
        self.assertTrue(self.ctl.ok("regget", POS, "NormPos").startswith("333,222,"))

    def test_host_leaving_stores_the_open_window_as_visible(self):
        host = self.start_host(plugin_args="/normal")
        self.ctl.wait("Vaultkin")
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20))
        host.stop()
        self.assertEqual(self.ctl.ok("regget", POS, "Visible"), "1")
        self.assertEqual(self.ctl.ok("regget", POS, "NormPos").split(",")[:2], ["200", "110"])


if __name__ == "__main__":
    unittest.main()
