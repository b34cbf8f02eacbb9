"""A restore over an installation of a real one's shape (thousands of small files in
hundreds of folders, a few large ones), cancelled at several moments. Whenever the
cancel comes, every file that was there before is afterwards as it was or as the
archive holds it, and a file the restore made where nothing stood holds the archive's
bytes; no temporary file is left. Some files are changed or removed before each run,
so that the restore replaces and creates files as well as finding them right: it
writes only those, so half of the files are changed, for the cancels to meet writes."""
import os
import random
import time
import zipfile

from vk import E2ETestCase, MANUAL_QUESTION, UNDO_COPY, tree_files, winpath, wait_exit

FOLDERS = 300
FILES = 3000
MOMENTS = (0.15, 0.35, 0.55, 0.75)
WINDOW = "Sicherung zur\u00fcckschreiben"
CANCELLED = "Das Zur\u00fcckschreiben wurde abgebrochen."
OLD = time.mktime((2001, 1, 1, 12, 0, 0, 0, 0, -1))


class RestoreCancel(E2ETestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(19)
        folders = ["MsgBase/Area%03d" % n for n in range(FOLDERS // 2)] + \
                  ["Filebase/Gruppe%02d/Ordner%03d" % (n % 10, n) for n in range(FOLDERS - FOLDERS // 2)]
        self.archived = {}
        for n in range(FILES):
            rel = "%s/datei%04d.%s" % (rng.choice(folders), n, rng.choice(("msg", "txt", "dat")))
            self.archived[rel] = rng.randbytes(rng.randint(0, 12000))
        for n in range(3):
            self.archived["Filebase/gross%d.bin" % n] = rng.randbytes(3 << 20)
        self.archive = os.path.join(self.box.root, "KestroneBackup.zip")
        with zipfile.ZipFile(self.archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for rel, data in self.archived.items():
                z.writestr(rel, data)
        for rel, data in self.archived.items():
            self.write(rel, data)
        self.write("Filebase/nicht_gesichert.txt", b"bleibt")
        self.set_host_dir()
        self.rng = rng

    def write(self, rel, data, old=False):
        path = os.path.join(self.box.host, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        if old:  # older than the archive: replaced without a question
            os.utime(path, (OLD, OLD))

    def files(self):
        # Without the restore's own undo copy, which is checked elsewhere.
        return {rel: data for rel, data in tree_files(self.box.host).items()
                if not rel.endswith(UNDO_COPY)}

    def restore(self, cancel_after=None):
        """A manual restore of the archive; cancelled cancel_after seconds after the
        file dialog closed. Whether the cancel was seen (its box came), or without a
        cancel the seconds from the dialog's end to the program's."""
        proc = self.start_plugin()
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Best\u00e4tigen", "&Ja"))
        self.ctl.open_file("Sicherung laden", winpath(self.archive))
        started = time.time()
        seen = False
        if cancel_after is not None:
            time.sleep(cancel_after)
            # A restore that is over by now has no window to press in.
            self.ctl.call("click", WINDOW, "Abbrechen")
            deadline = time.time() + 60
            while proc.poll() is None and time.time() < deadline:
                if "Information" in self.ctl.ok("list").split("|"):
                    # The cancel's box, or the closing report of a restore that was over.
                    seen = any(CANCELLED in t for t in self.ctl.answer("Information", "OK"))
                time.sleep(0.05)
        else:
            self.ctl.answer("Information", "OK", 60000)
        self.assertEqual(wait_exit(proc, 60, self.ctl), 0)
        return seen if cancel_after is not None else time.time() - started

    def damage(self):
        """Half of the files differ from the archive and some are gone, as on a badly
        damaged installation."""
        names = sorted(self.archived)
        for rel in self.rng.sample(names, len(names) // 2):
            self.write(rel, b"ver\xe4ndert", old=True)
        for rel in self.rng.sample(names, 100):
            if os.path.exists(os.path.join(self.box.host, rel)):
                os.remove(os.path.join(self.box.host, rel))

    def test_a_cancel_at_any_moment_costs_no_file(self):
        intact = self.files()
        self.damage()
        duration = self.restore()
        self.assertEqual(self.files(), intact)

        cancels_seen = 0
        for moment in MOMENTS:
            self.damage()
            before = self.files()
            cancels_seen += self.restore(cancel_after=moment * duration)
            after = self.files()
            # Compared without printing the bytes: a failure names the file.
            for rel, data in before.items():
                self.assertTrue(rel in after, "%s lost at %.2f" % (rel, moment))
                self.assertTrue(after[rel] in (data, self.archived.get(rel)), "%s changed at %.2f" % (rel, moment))
            for rel in set(after) - set(before):
                self.assertTrue(after[rel] == self.archived.get(rel), "%s left at %.2f" % (rel, moment))
        # Most moments fall into the extraction; the check above must have met cancels.
        self.assertGreater(cancels_seen, 0)


if __name__ == "__main__":
    import unittest
    unittest.main()
