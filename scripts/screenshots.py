#!/usr/bin/env python3
"""Photographs every window and dialog of the program for the README.

Run by scripts/screenshot.sh, which sets up Wine and the X display. The real program
is driven through the host stand-in and winctl, as the end-to-end tests drive it; the
backup and the restore window are photographed in the middle of a run by the tool
run_windows_shots.exe, which waits at its third file step until the photo is taken.
Each picture is cut to its window.   screenshots.py OUT_DIR
"""
import os
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import vk  # noqa: E402  (the end-to-end harness: sandbox, host stand-in, winctl)

PLACE_KEY = r"Software\Morrow Tools\Vaultkin"
# The host directory as a user sees it: C:\Kestrone, a link in the prefix to the sandbox's.
HOST_LINK = os.path.join(vk.ENV["WINEPREFIX"], "drive_c", "Kestrone")
SPLASH_SIZE = (176, 184)


class Camera:
    def __init__(self, ctl, out):
        self.ctl, self.out = ctl, out

    def rect(self, caption):
        x0, y0, x1, y1, _ = map(int, self.ctl.ok("rect", caption).split())
        return x0, y0, x1 - x0, y1 - y0

    def shoot(self, caption, name):
        """Waits for the window, lets it paint, photographs the screen and cuts the
        window out of it."""
        self.ctl.wait(caption)
        time.sleep(0.7)
        x, y, w, h = self.rect(caption)
        whole = os.path.join(self.out, name + ".screen.png")
        subprocess.run(["import", "-display", vk.ENV["DISPLAY"], "-window", "root", whole], check=True)
        subprocess.run(["convert", whole, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-strip",
                        os.path.join(self.out, name + ".png")], check=True)
        os.remove(whole)
        print(os.path.join(self.out, name + ".png"))


def unlink_host():
    if os.path.islink(HOST_LINK):
        os.remove(HOST_LINK)


def prepare(box, ctl):
    for sub in ("Backup", "Filebase", "Inbound", "MsgBase", "Logs"):
        os.makedirs(os.path.join(box.host, sub), exist_ok=True)
    with open(os.path.join(box.host, "kestrone.ini"), "wb") as f:
        f.write(b"Kestrone 95\r\n")
    box.write_task("Täglich.set", '"Name=Täglich",Active=1,"InclDirs=.,.\\Filebase",UseDefZipName=1,'
                   "DefZipName=C:\\Kestrone\\Backup\\KestroneBackup.zip,AutoMode=1,AutoDays=1,"
                   "LastBackup=0,SaveRegistry=1,SaveFiles=1")
    box.write_task("Beim Start.set", '"Name=Beim Start",Active=0,InclDirs=.,UseDefZipName=0,'
                   "DefZipName=,AutoMode=3,AutoDays=7,LastBackup=0,SaveRegistry=0,SaveFiles=1")
    unlink_host()
    os.symlink(box.host, HOST_LINK)
    ctl.ok("regset", vk.HOST_KEY, "ProgDir", "C:\\Kestrone")
    ctl.ok("regdel", PLACE_KEY)


def manual_mode(box, ctl, cam):
    plugin = box.start_plugin()
    ctl.wait("Bestätigen")
    ctl.ok("gone", "", 10000)  # the splash closes on its timer
    cam.shoot("Bestätigen", "manual-question")
    ctl.click("Bestätigen", "&Nein")
    vk.wait_exit(plugin, 30)

    host = vk.Host(box, "--version", 6)
    cam.shoot("Information", "manual-wrong-version")
    ctl.click("Information", "OK")
    ctl.answer("Bestätigen", "&Nein")
    host.stop()
    time.sleep(1)


def restore_choice(box, ctl, cam):
    """The restore's open dialog with its check box ticked, and the folder choice it
    leads to, with one folder unticked; cancelled, so nothing is written."""
    with zipfile.ZipFile(os.path.join(box.host, "Backup", "KestroneBackup.zip"), "w") as z:
        for rel in ("kestrone.ini", "Filebase/liste.txt", "Filebase/Gruppe 1/a.txt", "Filebase/Gruppe 2/b.txt",
                    "Inbound/a.pkt", "MsgBase/Netmail/1.msg", "MsgBase/Echomail/2.msg", "kestrone.reg"):
            z.writestr(rel, b"")
    plugin = box.start_plugin()
    ctl.answer("Best\u00e4tigen", "&Ja")
    checkbox = "Nur ausgew\u00e4hlte Ordner zur\u00fcckschreiben"
    ctl.wait_for_button("Sicherung laden", checkbox)
    ctl.click("Sicherung laden", checkbox)
    cam.shoot("Sicherung laden", "restore-open")
    ctl.open_file("Sicherung laden", "C:\\Kestrone\\Backup\\KestroneBackup.zip")
    choice = "Ordner zur\u00fcckschreiben"
    ctl.wait(choice)
    ctl.ok("keys", choice, "SysTreeView32", "40,40,40,40,32")  # down to Inbound, untick it
    cam.shoot(choice, "restore-choice")
    ctl.click(choice, "Abbrechen")
    vk.wait_exit(plugin, 30)


def restore_question(box, ctl, cam):
    """A restore over files written after their copies in the archive: the question
    before them, then the report at the end, which names the undo copy."""
    archive = os.path.join(box.host, "Backup", "KestroneBackup.zip")
    written = (2026, 12, 8, 14, 5, 32)
    with zipfile.ZipFile(archive, "w") as z:
        for rel in ("Filebase/liste.txt", "MsgBase/1.msg", "MsgBase/2.msg", "Inbound/a.pkt"):
            z.writestr(zipfile.ZipInfo(rel, written), b"Stand der Sicherung\r\n")
    stamp = time.mktime(written + (0, 0, -1))
    os.utime(archive, (stamp, stamp))  # the backup's own date, as the question names it
    for rel in ("Filebase/liste.txt", "MsgBase/1.msg", "MsgBase/2.msg"):
        with open(os.path.join(box.host, rel), "wb") as f:
            f.write(b"Heute geschrieben\r\n")
    plugin = box.start_plugin()
    ctl.answer("Best\u00e4tigen", "&Ja")
    ctl.open_file("Sicherung laden", "C:\\Kestrone\\Backup\\KestroneBackup.zip")
    ctl.wait_for_button("Best\u00e4tigen", "&Ja")
    cam.shoot("Best\u00e4tigen", "restore-newer")
    ctl.click("Best\u00e4tigen", "&Ja")
    ctl.wait_for_button("Information", "OK")
    cam.shoot("Information", "restore-report")
    ctl.click("Information", "OK")
    vk.wait_exit(plugin, 30)


def settings_pages(ctl, cam):
    """The settings dialog's pages, one after the other, chosen by clicking along its
    tab strip until the shown page changes."""
    cam.shoot("Einstellungen", "settings-1")
    left, top, right, _, _ = map(int, ctl.ok("childrect", "Einstellungen", "VaultkinFloatTabs").split())
    shown = ctl.texts("Einstellungen")
    page = 1
    for x in range(left + 6, right - 2, 8):
        if page == 4:
            break
        ctl.ok("clickat", "Einstellungen", x, top + 10)
        time.sleep(0.3)
        texts = ctl.texts("Einstellungen")
        if texts != shown:
            page += 1
            shown = texts
            cam.shoot("Einstellungen", "settings-%d" % page)
    if page < 4:
        print("only %d settings pages were reached" % page, file=sys.stderr)


def splash(ctl, cam):
    """The splash has no caption: the first captionless window of its size. In the
    interactive mode nothing covers it in its two seconds."""
    deadline = time.time() + 20
    while time.time() < deadline:
        if ctl.call("wait", "", 100).startswith("ok") and cam.rect("")[2:] == SPLASH_SIZE:
            cam.shoot("", "splash")
            return
    print("no splash window seen", file=sys.stderr)


def interactive_mode(box, ctl, cam):
    host = vk.Host(box, plugin_args="/normal")
    splash(ctl, cam)
    ctl.ok("gone", "", 10000)  # the splash closes on its timer
    cam.shoot("Vaultkin", "main")
    ctl.click("Vaultkin", "Info...")
    cam.shoot("Info", "info")
    ctl.click("Info", "OK")
    ctl.ok("gone", "Info", 10000)
    ctl.click("Vaultkin", "Einstellungen ändern")
    cam.shoot("Sicherungsaufgaben", "task-list")
    ctl.click("Sicherungsaufgaben", "&Neu...")
    ctl.wait("Dateiname eingeben")
    ctl.ok("settext", "Dateiname eingeben", "Edit", 0, "Wöchentlich")
    cam.shoot("Dateiname eingeben", "new-task-name")
    ctl.click("Dateiname eingeben", "OK")
    settings_pages(ctl, cam)
    ctl.click("Einstellungen", "Abbrechen")
    ctl.ok("gone", "Einstellungen", 10000)
    ctl.click("Sicherungsaufgaben", "Abbrechen")
    ctl.ok("gone", "Sicherungsaufgaben", 10000)
    ctl.click("Vaultkin", "Schließen")
    host.wait_for("departed by=plugin")
    host.stop()


def run_windows(ctl, cam):
    signals = tempfile.mkdtemp(prefix="vk-shots-")
    env = dict(vk.ENV, VAULTKIN_SHOT_DIR=vk.winpath(signals))
    test = subprocess.Popen([vk.WINE, os.path.join(vk.BIN, "run_windows_shots.exe")],
                            env=env, cwd=vk.BIN,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for signal, caption, name in (("pack", "Sicherung erstellen", "backup-run"),
                                      ("extract", "Sicherung zurückschreiben", "restore-run")):
            ready = os.path.join(signals, signal + ".ready")
            deadline = time.time() + 120
            while not os.path.exists(ready) and test.poll() is None and time.time() < deadline:
                time.sleep(0.1)
            if not os.path.exists(ready):
                raise RuntimeError("the test showed no %s window" % caption)
            cam.shoot(caption, name)
            open(os.path.join(signals, signal + ".done"), "w").close()
        vk.wait_exit(test, 120)
    finally:
        if test.poll() is None:
            test.kill()
        for f in os.listdir(signals):
            os.remove(os.path.join(signals, f))
        os.rmdir(signals)


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    ctl = vk.WinCtl()
    box = vk.Sandbox()
    cam = Camera(ctl, out)
    try:
        prepare(box, ctl)
        manual_mode(box, ctl, cam)
        restore_choice(box, ctl, cam)
        interactive_mode(box, ctl, cam)
        run_windows(ctl, cam)
        restore_question(box, ctl, cam)  # last: it writes files the other pictures would show
    finally:
        ctl.ok("regdel", vk.HOST_KEY)
        ctl.ok("regdel", PLACE_KEY)
        ctl.close()
        unlink_host()
        box.remove()


if __name__ == "__main__":
    main()
