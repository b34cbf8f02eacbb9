"""The end-to-end tests' harness: the real program and the host stand-in under wine64.

Each test gets a sandbox: a plug-in folder with its own copy of Plugin_Vaultkin.exe and
the engine libraries (so its task folder "Vaultkin" is its own) and a host installation
directory. Windows are driven through winctl, one process per test.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.environ.get("VK_SOURCE", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD = os.environ.get("VK_BUILD", os.path.join(SOURCE, "build", "win64"))
BIN = os.path.join(BUILD, "bin")
HOST_KEY = r"Software\Gray.Fern.Labs\Kestrone"
PLUGIN_FILES = ("Plugin_Vaultkin.exe", "VKZIP.DLL", "VKUNZIP.DLL")


def _wine_environment():
    script = os.path.join(SOURCE, "scripts", "winenv.sh")
    out = subprocess.run(["bash", "-c", 'source "$0" "$1" >/dev/null 2>&1; env -0', script, BUILD],
                         check=True, capture_output=True).stdout
    env = dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)
    return env


ENV = _wine_environment()
WINE = ENV["VK_WINE"]


def winpath(path):
    """The Windows name of a Linux path (Wine's drive Z: is the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def cp1252(text):
    return text.encode("cp1252")


# The restore's undo copy, relative to the host directory.
UNDO_COPY = "Backup/KestroneBackup (vor dem Zur\u00fcckschreiben).zip"


def tree_files(root, times=False):
    """Every file below root by its relative name ("/" separated): its bytes, or with
    times its bytes and modification time."""
    found = {}
    for top, _, names in os.walk(root):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                data = f.read()
            found[os.path.relpath(path, root).replace(os.sep, "/")] = (data, os.stat(path).st_mtime_ns) if times else data
    return found


class WinCtl:
    """One winctl process: commands in, one answer line each."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE, os.path.join(BIN, "winctl.exe")], env=ENV,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)

    def call(self, *args):
        line = "\t".join(str(a) for a in args).encode("cp1252") + b"\n"
        self.proc.stdin.write(line)
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().decode("cp1252").rstrip("\r\n")
        return answer

    def ok(self, *args):
        answer = self.call(*args)
        if not answer.startswith("ok"):
            raise AssertionError("winctl %r: %s (windows: %s)" % (args, answer, self.call("list")))
        return answer[3:]

    def wait(self, caption, timeout_ms=20000):
        answer = self.call("wait", caption, timeout_ms)
        if not answer.startswith("ok"):
            raise AssertionError("no window %r within %d ms:\n%s\n%s"
                                 % (caption, timeout_ms, self.screen(), wine_processes()))
        return answer[3:]

    def texts(self, caption):
        return self.ok("texts", caption).split("|")

    def click(self, caption, button):
        return self.ok("click", caption, button)

    def screen(self):
        """Every visible top-level window with the texts of its controls, for failures."""
        listing = self.call("list")[3:]
        windows = listing.split("|") if listing else []
        return "\n".join("  %r: %s" % (w, self.call("texts", w)) for w in windows) or "  none"

    def answer(self, caption, button, timeout_ms=20000):
        """Waits for a box with this caption, presses a button, returns the box's texts.
        The caption shows before the box has its controls: the texts are read once the
        button is there."""
        texts = self.wait_for_button(caption, button, timeout_ms)
        self.click(caption, button)
        self.ok("gone", caption, 10000)
        return texts

    def wait_for_button(self, caption, button, timeout_ms=20000):
        """Waits for the window and in it for the button (a window's caption shows
        before its controls are there); returns the window's texts."""
        self.wait(caption, timeout_ms)
        deadline = time.time() + timeout_ms / 1000
        wanted = button.replace("&", "")
        texts = self.texts(caption)
        while wanted not in (t.replace("&", "") for t in texts):
            if time.time() > deadline:
                raise AssertionError("%r has no button %r:\n%s" % (caption, button, self.screen()))
            time.sleep(0.05)
            texts = self.texts(caption)
        return texts

    def open_file(self, caption, path):
        """Types a path into a file dialog and presses its Open button: the click comes
        only once the name box holds the path, and the dialog must then close."""
        self.wait(caption)
        # The dialog's window can be there before its buttons are.
        deadline = time.time() + 10
        while True:
            texts = self.texts(caption)
            button = next((t for t in texts if t.replace("&", "") in ("Open", "\u00d6ffnen")), None)
            if button:
                break
            if time.time() > deadline:
                raise AssertionError("%r has no Open button:\n%s" % (caption, self.screen()))
            time.sleep(0.1)
        self.ok("settext", caption, "Edit", 0, path)
        deadline = time.time() + 10
        while path not in self.texts(caption):
            if time.time() > deadline:
                raise AssertionError("the name box of %r does not take %r:\n%s" % (caption, path, self.screen()))
            time.sleep(0.1)
        self.click(caption, button)
        if not self.call("gone", caption, 20000).startswith("ok"):
            raise AssertionError("%r is still open after %s:\n%s" % (caption, button, self.screen()))
        return texts

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.flush()
                self.proc.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        self.proc.stdin.close()
        self.proc.stdout.close()


class Sandbox:
    """A plug-in folder and a host installation directory of one test."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="vk-e2e-")
        self.plugins = os.path.join(self.root, "Kestrone", "Plugins")
        self.host = os.path.join(self.root, "Kestrone")
        os.makedirs(self.plugins)
        for name in PLUGIN_FILES:
            shutil.copy2(os.path.join(BIN, name), self.plugins)
        self.exe = os.path.join(self.plugins, "Plugin_Vaultkin.exe")
        self.tasks = os.path.join(self.plugins, "Vaultkin")

    def write_task(self, name, text):
        os.makedirs(self.tasks, exist_ok=True)
        path = os.path.join(self.tasks, name)
        with open(path, "wb") as f:
            f.write(cp1252(text) if isinstance(text, str) else text)
        return path

    def read_task(self, name):
        with open(os.path.join(self.tasks, name), "rb") as f:
            return f.read().decode("cp1252")

    def start_plugin(self, *args):
        return subprocess.Popen([WINE, self.exe, *args], env=ENV, cwd=self.plugins,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)


def wine_processes():
    """The command lines of the Wine processes alive, for failures."""
    out = subprocess.run(["ps", "-eo", "pid,stat,etime,args"], capture_output=True, text=True).stdout
    return "\n".join("  " + l for l in out.splitlines()[1:]
                     if ".exe" in l or "wineserver" in l)


def wait_exit(proc, timeout, ctl=None):
    """The exit code; past the timeout the process is killed and the failure says what
    was on screen and which Wine processes lived."""
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        seen = "windows:\n%s\n" % ctl.screen() if ctl else ""
        seen += "processes:\n%s" % wine_processes()
        proc.kill()
        proc.wait()
        raise AssertionError("process did not end within %s s\n%s" % (timeout, seen))


class E2ETestCase(unittest.TestCase):
    """Gives each test a sandbox and a winctl; cleans the host's registry branch."""

    def setUp(self):
        self.box = Sandbox()
        self.ctl = WinCtl()
        self.ctl.ok("regdel", HOST_KEY)
        self.procs = []
        self.hosts = []

    def tearDown(self):
        for h in self.hosts:
            h.stop()
        end_everything_of(self.box)
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        self.ctl.ok("regdel", HOST_KEY)
        self.ctl.close()
        self.box.remove()

    def start_plugin(self, *args):
        p = self.box.start_plugin(*args)
        self.procs.append(p)
        return p

    def start_host(self, *options, **kwargs):
        h = Host(self.box, *options, **kwargs)
        self.hosts.append(h)
        return h

    def plugin_running(self):
        return bool(processes_of(self.box))

    def wait_plugin_gone(self, timeout):
        """False once the timeout has passed; then says on stderr what was on screen."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if not self.plugin_running():
                return True
            time.sleep(0.2)
        hosts = "\n".join("host %s, log's end:\n  %s" % ("running" if h.proc.poll() is None else "ended",
                                                        "\n  ".join(h.lines()[-25:])) for h in self.hosts)
        sys.stderr.write("plug-in still running after %s s\nwindows:\n%s\nprocesses:\n%s\n%s\n"
                         % (timeout, self.ctl.screen(), wine_processes(), hosts))
        return False

    def set_host_dir(self, path=None):
        self.ctl.ok("regset", HOST_KEY, "ProgDir", winpath(path or self.box.host))


MANUAL_QUESTION = ("Vaultkin wurde manuell gestartet. In diesem Modus können Sie nur eine "
                   "vorhandene Sicherung zurückschreiben. Wollen Sie das?")


class Host:
    """The host stand-in, started with options; its log is read as it grows."""

    def __init__(self, box, *options, start_plugin=True, plugin_args=None):
        self.log_path = os.path.join(box.root, "host.log")
        args = [WINE, os.path.join(BIN, "kshost.exe"), "--log", winpath(self.log_path)]
        if start_plugin:
            args += ["--start-plugin", winpath(box.exe)]
            if plugin_args is not None:
                args += ["--plugin-args", plugin_args]
        args += [str(o) for o in options]
        # Wine's own complaints (a stand-in that could not start) go into the sandbox,
        # for the failure that follows.
        self.stderr_path = os.path.join(box.root, "host.stderr")
        with open(self.stderr_path, "wb") as err:
            self.proc = subprocess.Popen(args, env=ENV, cwd=box.root, stdout=subprocess.DEVNULL, stderr=err)

    def lines(self):
        try:
            with open(self.log_path, "rb") as f:
                return [l.decode("latin-1").rstrip("\r\n") for l in f]
        except FileNotFoundError:
            return []

    def events(self, prefix):
        return [l for l in self.lines() if l.startswith(prefix)]

    def wait_for(self, prefix, timeout=30, count=1):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.events(prefix)
            if len(found) >= count:
                return found
            time.sleep(0.1)
        raise AssertionError("host log has no %r after %ss (%s):\n%s" % (prefix, timeout, self.state(),
                                                                       "\n".join(self.lines())))

    def state(self):
        """Whether the stand-in still runs, and what Wine said on its error output."""
        code = self.proc.poll()
        try:
            with open(self.stderr_path, "rb") as f:
                said = f.read()[-2000:].decode("latin-1").strip()
        except OSError:
            said = ""
        return "%s%s" % ("running" if code is None else "ended with %d" % code,
                         "; error output: " + said if said else "")

    def field(self, line, key):
        """The value of key=value in a log line (quoted texts keep their quotes off)."""
        marker = " %s=" % key
        start = line.index(marker) + len(marker)
        if line[start] == '"':
            end = line.index('"', start + 1)
            return line[start + 1:end]
        end = line.find(" ", start)
        return line[start:] if end < 0 else line[start:end]

    def plugin_pid(self):
        started = self.wait_for("started ok=1")[0]
        return int(self.field(started, "pid"))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


def _command_lines():
    """(Linux id, argument list) of every process that can be read."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                yield int(entry), f.read().decode("latin-1").split("\0")
        except OSError:
            continue


def processes_of(box):
    """Linux ids of the Wine processes whose command line names this sandbox's plug-in."""
    tag = os.path.basename(box.root)
    pids = []
    for pid, args in _command_lines():
        # While Wine starts a process, its loader comes before the program.
        while args and os.path.basename(args[0]).startswith("wine"):
            args = args[1:]
        program = args[0] if args else ""
        if tag in program and program.endswith("Plugin_Vaultkin.exe"):
            pids.append(pid)
    return pids


def everything_of(box):
    """Every process whose command line names this sandbox: the plug-in, its hosts, and
    the REGEDIT it started. A parent killed while it starts a program leaves that
    program created but never run; it would stay until the Wine server ends."""
    tag = os.path.basename(box.root)
    return [pid for pid, args in _command_lines() if any(tag in a for a in args)]


def kill_all(pids):
    for pid in pids:
        try:
            os.kill(pid, 9)
        except OSError:
            pass


def end_everything_of(box, patience=20):
    """Kills every process of the sandbox without warning, again and again until none
    has come for half a second: a program being started when its parent was killed
    shows up only afterwards. False when they keep coming past the patience."""
    deadline = time.time() + patience
    quiet_since = time.time()
    while time.time() - quiet_since < 0.5:
        late = everything_of(box)
        if late:
            if time.time() > deadline:
                return False
            kill_all(late)
            quiet_since = time.time()
        time.sleep(0.1)
    return True
