"""Task files across starts: what the program writes at its end, it loads at the next
start, extreme numbers included."""
import time
import unittest

from vk import E2ETestCase

TASKS = "Sicherungsaufgaben"


class TaskFileAcrossStarts(E2ETestCase):
    def run_in_background(self, *host_options, then=None):
        """One start by the host stand-in: registered, `then` done, the host leaves and
        the plug-in ends, writing its task files."""
        host = self.start_host(*host_options)
        host.wait_for("block KSRegisterService", count=2)
        if then:
            then()
        self.assertNotIn("Fehler", self.ctl.ok("list").split("|"))
        self.ctl.ok("close", "Kestrone 95")
        self.assertTrue(self.wait_plugin_gone(20), "the plug-in stays after the host left")
        host.stop()

    def toggle_first_task(self):
        """In the task list: the first row selected, "Aktivieren" pressed, OK. The
        button stays disabled while no task is selected, so this fails on an empty list."""
        self.ctl.wait(TASKS)
        self.assertNotIn("Fehler", self.ctl.ok("list").split("|"))
        left, top = (int(v) for v in self.ctl.ok("childrect", TASKS, "SysListView32").split()[:2])
        deadline = time.time() + 10
        while True:
            self.ctl.ok("clickat", TASKS, left + 30, top + 30)  # below the column headers
            answer = self.ctl.call("click", TASKS, "Akti&vieren")
            if answer.startswith("ok"):
                break
            if time.time() > deadline:
                raise AssertionError("no task to select in the task list: %s" % answer)
            time.sleep(0.2)
        self.ctl.click(TASKS, "OK")
        self.ctl.ok("gone", TASKS, 10000)

    def test_the_largest_date_survives_two_starts(self):
        self.set_host_dir()
        self.box.write_task("max.set", "Name=Max,LastBackup=1.7976931348623157e308")
        self.run_in_background()
        first = self.box.read_task("max.set")
        # Written with fifteen digits: rounded up beyond the largest double.
        self.assertIn(",LastBackup=1.79769313486232E308,", first)
        self.assertIn(",Active=1,", first)

        # The second start loads it: the task is in the list and can be changed.
        self.run_in_background("--after-register", 2, 500, "command", 2048, then=self.toggle_first_task)
        second = self.box.read_task("max.set")
        self.assertEqual(second, first.replace(",Active=1,", ",Active=0,"))


if __name__ == "__main__":
    unittest.main()
