"""A restore of chosen folders through the real program in manual mode: the open
dialog's check box leads to the folder choice, and only what is chosen changes on
disk. Every archived file differs on disk from the archive's copy, so a file written
that should not have been shows; the others are compared with their bytes and times."""
import os
import random
import zipfile

from vk import E2ETestCase, HOST_KEY, MANUAL_QUESTION, UNDO_COPY, tree_files, winpath, wait_exit

CHOICE = "Ordner zur\u00fcckschreiben"
CHECKBOX = "Nur ausgew\u00e4hlte Ordner zur\u00fcckschreiben"
REGISTRY = "Kestrone-Registrierungseintr\u00e4ge zur\u00fcckschreiben"
SPACE, DOWN = 0x20, 0x28
CYRILLIC = "Filebase/\u041f\u0440\u0438\u0435\u043c \u0444\u0430\u0439\u043b\u043e\u0432"
# The tree lists the folders in the archive's order, parents first, all open:
# 0 the host directory, 1 Filebase, 2 Filebase/Gruppe 1, 3 the Cyrillic folder,
# 4 its "Alt", 5 Mail Box, 6 MsgBase, 7 MsgBase/Area 7.
FOLDERS = ["Filebase", "Filebase/Gruppe 1", CYRILLIC, CYRILLIC + "/Alt", "Mail Box", "MsgBase", "MsgBase/Area 7"]
REG = ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Gray.Fern.Labs\\Kestrone]\r\n"
       "\"Sprache\"=\"Deutsch\"\r\n").encode("utf-16")


class RestoreChoice(E2ETestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(22)
        self.archived = {"Kestrone.ini": b"[Main]\r\n", "kestrone.exe": rng.randbytes(40000)}
        for n, folder in enumerate(FOLDERS):
            for k in range(4):
                self.archived["%s/datei %d-%d.txt" % (folder, n, k)] = rng.randbytes(rng.randint(0, 20000))
        self.archived[CYRILLIC + "/\u0444\u0430\u0439\u043b.txt"] = b"kyrillisch"
        self.archive = os.path.join(self.box.root, "KestroneBackup.zip")
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED) as z:
            for rel, data in self.archived.items():
                z.writestr(rel, data)
            z.writestr("kestrone.reg", REG)
        # The installation has moved on: every archived file changed, a file and a
        # folder the archive does not know, all with an old time.
        for rel in list(self.archived) + ["Filebase/neu.txt", "Logs/heute.log"]:
            path = os.path.join(self.box.host, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(b"neuer als die Sicherung: " + rel.encode("utf-8"))
            os.utime(path, (1_600_000_000, 1_600_000_000))
        self.set_host_dir()
        self.ctl.ok("regset", HOST_KEY, "Sprache", "Englisch")

    def disk(self):
        found = tree_files(self.box.host, times=True)
        found.pop(UNDO_COPY, None)  # looked at on its own
        return found

    def undo_names(self):
        with zipfile.ZipFile(os.path.join(self.box.host, UNDO_COPY)) as z:
            return set(z.namelist())

    def choose(self, keys, registry, button):
        """A manual restore with the folder choice: `keys` are pressed in the tree,
        the registry box is unticked unless `registry`, then `button` is pressed."""
        proc = self.start_plugin()
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Best\u00e4tigen", "&Ja"))
        self.ctl.wait_for_button("Sicherung laden", CHECKBOX)
        self.ctl.click("Sicherung laden", CHECKBOX)
        self.ctl.open_file("Sicherung laden", winpath(self.archive))
        self.ctl.wait(CHOICE)
        if keys:
            self.ctl.ok("keys", CHOICE, "SysTreeView32", ",".join(str(k) for k in keys))
        # Keys and clicks are handled in the order sent; the registry box, ticked until
        # its click, keeps OK usable while the keys untick every folder.
        if not registry:
            self.ctl.click(CHOICE, REGISTRY)
        self.ctl.click(CHOICE, button)
        if button == "OK":
            self.ctl.answer("Information", "OK", 60000)
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)

    def test_one_chosen_folder_changes_that_folder_alone(self):
        # Unticks everything, then ticks the Cyrillic folder with its "Alt"; no registry.
        before = self.disk()
        self.choose([SPACE, DOWN, DOWN, DOWN, SPACE], registry=False, button="OK")
        after = self.disk()
        self.assertEqual(set(after), set(before))
        for rel, (data, mtime) in after.items():
            if rel.startswith(CYRILLIC + "/"):
                self.assertEqual(data, self.archived[rel], rel)
            else:
                self.assertEqual((data, mtime), before[rel], rel)
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Englisch")
        # The undo copy keeps what the chosen folder had, and no registry data.
        self.assertEqual(self.undo_names(), {rel for rel in self.archived if rel.startswith(CYRILLIC + "/")})

        # The next restore: Mail Box without its neighbours, and the registry data.
        before = after
        self.choose([SPACE] + [DOWN] * 5 + [SPACE], registry=True, button="OK")
        after = self.disk()
        changed = {rel for rel in after if after[rel] != before.get(rel)}
        self.assertEqual(changed, {rel for rel in self.archived if rel.startswith("Mail Box/")} | {"kestrone.reg"})
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Deutsch")
        self.assertEqual(self.undo_names(), {rel for rel in self.archived if rel.startswith("Mail Box/")} | {"kestrone.reg"})

    def test_cancel_in_the_choice_changes_nothing(self):
        before = self.disk()
        self.choose([], registry=True, button="Abbrechen")
        self.assertEqual(self.disk(), before)
        self.assertFalse(os.path.exists(os.path.join(self.box.host, UNDO_COPY)))
        self.assertEqual(self.ctl.ok("regget", HOST_KEY, "Sprache"), "Englisch")


if __name__ == "__main__":
    import unittest
    unittest.main()
