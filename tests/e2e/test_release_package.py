"""The win64 release package, made from this build tree: what it holds, the version
resources of its binaries, and the program started from nothing but the unpacked
package."""
import os
import re
import shutil
import struct
import subprocess
import unittest
import zipfile

from vk import BUILD, E2ETestCase, MANUAL_QUESTION, PLUGIN_FILES, SOURCE, wait_exit

with open(os.path.join(SOURCE, "res", "version.h"), encoding="utf-8") as f:
    VERSION_H = dict(re.findall(r'#define (VK_VERSION_\w+) "?([^"\n]*)"?', f.read()))
VERSION_TEXT = VERSION_H["VK_VERSION_TEXT"]
FILE_VERSION = tuple(int(VERSION_H[k]) for k in ("VK_VERSION_MAJOR", "VK_VERSION_MINOR")) + \
    (0, int(VERSION_H["VK_VERSION_BUILD"]))


def _block(buf, pos):
    """One node of a version resource: (key, value bytes, children, length)."""
    length, value_length, is_text = struct.unpack_from("<HHH", buf, pos)
    key_end = pos + 6
    while buf[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = buf[pos + 6:key_end].decode("utf-16-le")
    value_pos = (key_end + 2 + 3) & ~3
    value_end = value_pos + value_length * (2 if is_text else 1)
    children, child = [], (value_end + 3) & ~3
    while child < pos + length:
        children.append(_block(buf, child))
        child = (child + children[-1][3] + 3) & ~3
    return key, buf[value_pos:value_end], children, length


def version_resource(path):
    """(file version, {name: text}) of a PE file's version resource, found by its key."""
    with open(path, "rb") as f:
        data = f.read()
    start = data.find("VS_VERSION_INFO\0".encode("utf-16-le")) - 6
    assert start >= 0, "%s has no version resource" % path
    _, fixed, children, _ = _block(data, start)
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed)
    assert signature == 0xFEEF04BD, path
    texts = {}
    for group in children:
        for table in group[2] if group[0] == "StringFileInfo" else []:
            for name, value, _, _ in table[2]:
                texts[name] = value.decode("utf-16-le").rstrip("\0")
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), texts


class ReleasePackage(E2ETestCase):
    def test_the_unpacked_win64_package_runs_on_its_own(self):
        out = os.path.join(self.box.root, "dist")
        subprocess.run(["bash", os.path.join(SOURCE, "scripts", "package.sh"), "--from", BUILD, "--out", out],
                       check=True, stdout=subprocess.DEVNULL)
        package = "Vaultkin-%s-win64.zip" % VERSION_TEXT.replace(" ", "-")
        self.assertEqual(os.listdir(out), [package])
        # Only the package's files are in the plug-in folder.
        shutil.rmtree(self.box.plugins)
        os.makedirs(self.box.plugins)
        with zipfile.ZipFile(os.path.join(out, package)) as z:
            self.assertEqual(sorted(z.namelist()), sorted(PLUGIN_FILES + ("LIESMICH.TXT",)))
            z.extractall(self.box.plugins)

        with open(os.path.join(self.box.plugins, "LIESMICH.TXT"), "rb") as f:
            readme = f.read()
        self.assertNotIn(b"\n", readme.replace(b"\r\n", b""))
        self.assertNotIn(b"\r", readme.replace(b"\r\n", b""))
        text = readme.decode("cp1252")
        self.assertTrue(text.startswith("Vaultkin %s\r\n" % VERSION_TEXT))
        self.assertIn("für Kestrone 95", text)

        for name in PLUGIN_FILES:
            version, texts = version_resource(os.path.join(self.box.plugins, name))
            self.assertEqual(version, FILE_VERSION, name)
            self.assertEqual((texts.get("FileVersion"), texts.get("ProductVersion"), texts.get("OriginalFilename")),
                             (VERSION_TEXT, VERSION_TEXT, name))

        proc = self.start_plugin()
        self.assertIn(MANUAL_QUESTION, self.ctl.answer("Bestätigen", "&Nein"))
        self.assertEqual(wait_exit(proc, 30), 0)


if __name__ == "__main__":
    unittest.main()
