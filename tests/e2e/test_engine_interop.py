"""The archive engine against the other tools, both ways: what VKZIP.DLL writes passes
`unzip -t`, `7z t` and zipfile's testzip() and extracts byte-identical with them; what
zip and 7z write (deflated and stored, with directory entries) VKUNZIP.DLL extracts
byte-identical. Hostile and damaged archives are refused with clear reports.

The engine is driven through bench/engine_run.exe, which fills the command records
as the archive component does.
"""
import os
import random
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

import vk

ENGINE = os.path.join(vk.BIN, "engine_run.exe")

_RNG = random.Random(2)
# Packed in pieces: text, bytes that do not compress (stored blocks amid the
# deflated ones) and an even-looking block repeated (compressed after all).
NOISE = _RNG.randbytes(1_200_000)
MIXED = (b"".join(b"line %d of the log\r\n" % i for i in range(50_000)) + NOISE
         + _RNG.randbytes(1500) * 350 + b"tail\r\n" * 1000)

# Names with characters beyond ASCII that the ANSI code page holds.
TREE = {
    "Daten/gemischt.bin": MIXED,
    "readme.txt": b"hello Kestrone\r\n" * 300,
    "leer.txt": b"",
    "Daten/M\u00fcller.txt": "Gr\u00fc\u00dfe aus K\u00f6ln\n".encode("utf-8") * 50,
    "Daten/tief/ebene/zufall.bin": random.Random(1).randbytes(300_000),
    "Daten/tief/gross.ini": b"".join(b"key%d=value %d\r\n" % (i, i * 7 % 1000) for i in range(200_000)),
    "Stra\u00dfe/\u20acuro.txt": b"euro",
}


def run(args, cwd=None):
    """A Linux tool, in a UTF-8 locale so that it reads and writes UTF-8 names."""
    env = dict(os.environ, LC_ALL="C.UTF-8")
    return subprocess.run(args, cwd=cwd, env=env, capture_output=True, timeout=900)


def engine(*args):
    """Runs engine_run.exe; returns its exit code and its output lines (ANSI)."""
    proc = subprocess.run([vk.WINE, ENGINE, *args], env=vk.ENV, capture_output=True, timeout=900)
    return proc.returncode, proc.stdout.decode("cp1252", "replace").splitlines()


def messages(lines):
    """The action-4 reports: (code, text)."""
    out = []
    for line in lines:
        if line.startswith("4 "):
            code, _, text = line[2:].partition(" ")
            out.append((int(code), text))
    return out


def write_tree(root, tree=TREE):
    for name, data in tree.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (1_600_000_000, 1_600_000_000))


def read_tree(root):
    """Every file under root: relative name with "/" -> bytes."""
    files = {}
    for dirpath, _, names in os.walk(root):
        for n in names:
            path = os.path.join(dirpath, n)
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, "rb") as f:
                files[rel] = f.read()
    return files


class EngineInterop(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vk_interop_")
        self.src = os.path.join(self.tmp, "src")
        os.makedirs(os.path.join(self.src, "Leer"))
        write_tree(self.src)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def test_engine_archives_pass_the_other_tools(self):
        archive = self.path("engine.zip")
        rc, lines = engine("zip", vk.winpath(archive), "-l", "9", "-r", "-C", vk.winpath(self.src), "*")
        self.assertEqual(rc, 0, lines)
        self.assertEqual(messages(lines), [])

        test = run(["unzip", "-t", archive])
        self.assertEqual(test.returncode, 0, test.stdout)
        test = run(["7z", "t", archive])
        self.assertEqual(test.returncode, 0, test.stdout)
        self.assertIn(b"Everything is Ok", test.stdout)
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(sorted(z.namelist()), sorted(TREE))
            for info in z.infolist():
                self.assertEqual(bool(info.flag_bits & 0x800), not info.filename.isascii(), info.filename)
                self.assertEqual(info.flag_bits & 0x8, 0, "no data descriptors")
                # The file's last write time, local, in two-second steps.
                expected = time.localtime(1_600_000_000)[:6]
                self.assertEqual(info.date_time, expected[:5] + (expected[5] // 2 * 2,))
            # Bytes that do not compress cost (next to) nothing in the archive, a
            # small file of them is stored, and the rest of a file is still compressed.
            self.assertEqual(z.getinfo("Daten/tief/ebene/zufall.bin").compress_type, zipfile.ZIP_STORED)
            mixed = z.getinfo("Daten/gemischt.bin")
            self.assertLess(mixed.compress_size, len(NOISE) * 1.001 + (len(MIXED) - len(NOISE)) * 0.15)
            z.extractall(self.path("py"))
        self.assertEqual(read_tree(self.path("py")), TREE)

        unz = run(["unzip", "-q", "-o", archive, "-d", self.path("unzip")])
        self.assertEqual(unz.returncode, 0, unz.stderr)
        self.assertEqual(read_tree(self.path("unzip")), TREE)
        seven = run(["7z", "x", "-y", "-o" + self.path("7z"), archive])
        self.assertEqual(seven.returncode, 0, seven.stdout)
        self.assertEqual(read_tree(self.path("7z")), TREE)

    def test_other_tools_archives_extract_identically(self):
        makers = {
            "zip9": ["zip", "-r", "-q", "-9"],
            "zip0": ["zip", "-r", "-q", "-0"],
            "7z9": ["7z", "a", "-tzip", "-mx=9", "-bd"],
            "7z0": ["7z", "a", "-tzip", "-mx=0", "-bd"],
        }
        for label, command in makers.items():
            with self.subTest(label):
                archive = self.path(label + ".zip")
                made = run(command + [archive, "."], cwd=self.src)
                self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
                with zipfile.ZipFile(archive) as z:
                    self.assertTrue(any(n.endswith("/") for n in z.namelist()), "directory entries")
                out = self.path("out_" + label)
                os.makedirs(out)
                rc, lines = engine("unzip", vk.winpath(archive), "-C", vk.winpath(out))
                self.assertEqual(rc, 0, lines)
                self.assertEqual(messages(lines), [])
                self.assertEqual(read_tree(out), TREE)
                self.assertTrue(os.path.isdir(os.path.join(out, "Leer")))
                # The file times come from the entries (two-second steps).
                mtime = os.path.getmtime(os.path.join(out, "Daten", "tief", "gross.ini"))
                self.assertLessEqual(abs(mtime - 1_600_000_000), 2)

    def test_hostile_names_are_refused_and_nothing_is_written_outside(self):
        archive = self.path("hostile.zip")
        hostile = ["../x", "C:\\x", "\\\\server\\x", "a/../../x", "CON", "..\\y", "a/b:c"]
        with zipfile.ZipFile(archive, "w") as z:
            for name in hostile:
                z.writestr(zipfile.ZipInfo(name), b"evil")
            z.writestr("ok/fine.txt", b"fine")
        inner = self.path("jail", "inner")
        os.makedirs(inner)
        rc, lines = engine("unzip", vk.winpath(archive), "-C", vk.winpath(inner))
        self.assertEqual(rc, 0, lines)  # one file extracted
        reports = messages(lines)
        self.assertEqual(len(reports), len(hostile), lines)
        for code, text in reports:
            self.assertEqual(code, 7)  # an entry refused
            self.assertIn("wird nicht entpackt", text)
        self.assertEqual(read_tree(self.path("jail")), {"inner/ok/fine.txt": b"fine"})
        self.assertFalse(os.path.exists(self.path("x")))

    def test_damaged_and_truncated_archives_are_reported(self):
        archive = self.path("good.zip")
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("data.ini", TREE["Daten/tief/gross.ini"][:200_000])
            z.writestr("other.txt", b"other")
        with open(archive, "rb") as f:
            data = f.read()
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("data.ini")
            start = info.header_offset + 30 + len(info.filename) + len(info.extra)
        flipped = bytearray(data)
        flipped[start + info.compress_size // 2] ^= 0x40
        bad = self.path("flipped.zip")
        with open(bad, "wb") as f:
            f.write(flipped)
        out = self.path("out_flipped")
        os.makedirs(out)
        with open(os.path.join(out, "data.ini"), "wb") as f:
            f.write(b"previous content")
        rc, lines = engine("unzip", vk.winpath(bad), "-C", vk.winpath(out))
        self.assertEqual(rc, 0, lines)  # other.txt came out
        reports = messages(lines)
        self.assertEqual(len(reports), 1, lines)
        self.assertEqual(reports[0][0], 8)  # damaged entry
        self.assertIn('"data.ini"', reports[0][1])
        self.assertEqual(read_tree(out), {"data.ini": b"previous content", "other.txt": b"other"})

        for length in (0, 4, 30, len(data) // 2, len(data) - 22, len(data) - 1):
            with self.subTest(length=length):
                cut = self.path("cut.zip")
                with open(cut, "wb") as f:
                    f.write(data[:length])
                target = self.path("out_cut_%d" % length)
                os.makedirs(target)
                rc, lines = engine("unzip", vk.winpath(cut), "-C", vk.winpath(target))
                self.assertNotEqual(rc, 0)
                reports = messages(lines)
                self.assertEqual(len(reports), 1, lines)
                self.assertEqual(reports[0][0], 5)  # the archive cannot be read
                self.assertEqual(os.listdir(target), [])


if __name__ == "__main__":
    unittest.main()
