"""End-to-end harness: runs the real programs (setup.exe under Wine through
the launch and box driver fixtures, ./setup on pipes or a pseudo terminal)
and plays their user."""

import atexit
import ctypes
import os
import pty
import re
import resource
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from types import SimpleNamespace

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
USAGE = ("\nZQ K9150 keyboard driver setup.\n\nUsage:\n\n    setup [switches]\n\nSwitches:\n"
         "  -a arch path\tCreate archive arch with all files in path.\n"
         "  -c name\t\tCut a file in pieces that fit on floppys.\n"
         "  -dt path\t\tDelete a directory tree.\n"
         "  -is {args}\t\tArguments to pass to Install Shield setup.\n"
         "  -f\t\tBuild a set of floppys.\n"
         "  -log path\t\tWrite the installation's log to path.\n"
         "  -s\t\tSetup in silent mode. (Passed to IS.)\n"
         "  -x arch path\teXtraxt all files from archive arch to path.\n\n")
BOX_TIMEOUT = 30
EXIT_TIMEOUT = 60


def built(variable, default):
    return os.environ.get(variable) or os.path.join(REPO, "build", default)


def setup_exe():
    return built("SETUP_EXE", "windows/bin/setup.exe")


def setup_native():
    return built("SETUP_NATIVE", "native/bin/setup")


def fixture(name):
    return os.path.join(built("FIXTURES", "windows/tests"), name)


def windows_path(path):
    """The Windows name of a Unix path (Wine maps drive Z: to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def snapshot(root):
    """Relative path -> contents, "<dir>" for a directory."""
    tree = {}
    for directory, subdirs, files in os.walk(root):
        for name in subdirs + files:
            path = os.path.join(directory, name)
            tree[os.path.relpath(path, root)] = "<dir>" if name in subdirs else read(path)
    return tree


def make_tree(root):
    """Nesting, an empty directory, empty and block-sized files, a hidden file."""
    os.makedirs(os.path.join(root, "empty dir"))
    for name, data in (("empty.txt", b""), ("block.bin", bytes(i * 7 & 255 for i in range(16384))),
                       ("a/block1.bin", bytes(i * 13 + 5 & 255 for i in range(16385))),
                       ("a/b/text.txt", b"ZQ K9150 keyboard driver setup\r\n" * 3000),
                       ("a/b/c/.hidden", b"hidden")):
        write(os.path.join(root, name), data)


LINKS = ("file-link", "folder-link", "hard-link")


def plant_links(root):
    """A tree to pack, and a target that holds under the name of each file
    member (NAME-f) and directory member (NAME-d) a symbolic link to a file
    outside, one to a folder outside, or a hard link to a file outside."""
    tree, target, outside = (os.path.join(root, name) for name in ("tree", "target", "outside"))
    os.makedirs(os.path.join(outside, "folder"))
    os.makedirs(target)
    write(os.path.join(outside, "file"), b"outside")
    for kind in LINKS:
        for name, member in ((kind + "-f", kind + "-f"), (kind + "-d", kind + "-d/inner")):
            write(os.path.join(tree, member), b"member")
            entry = os.path.join(target, name)
            if kind == "hard-link":
                os.link(os.path.join(outside, "file"), entry)
            else:
                os.symlink(os.path.join(outside, "file" if kind == "file-link" else "folder"), entry)
    return tree, target, outside


def refused_level(name):
    return "%s is a link or a file, not a directory; nothing is extracted into it." % name


def wait_until(condition, seconds=15):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.2)
    return condition()


def kill_group(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def scratch(kind):
    """A fresh directory of this process below the temporary one. The first
    removes what runs that are gone left there ("e2e-p<process>-...")."""
    if not scratch.swept:
        scratch.swept = True
        for name in os.listdir(tempfile.gettempdir()):
            match = re.match(r"e2e-p(\d+)-", name)
            if not match or int(match.group(1)) == os.getpid():
                continue
            try:
                os.kill(int(match.group(1)), 0)
            except ProcessLookupError:
                shutil.rmtree(os.path.join(tempfile.gettempdir(), name), ignore_errors=True)
            except PermissionError:
                pass
    return tempfile.mkdtemp(prefix="e2e-p%d-%s" % (os.getpid(), kind))


scratch.swept = False


class Case(unittest.TestCase):
    """Each test gets a scratch directory, self.workdir."""

    def setUp(self):
        self.workdir = scratch("")
        self.addCleanup(shutil.rmtree, self.workdir, True)


# ---------------------------------------------------------------- Wine side

_wine = {}


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=[write_end], **QUIET)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    atexit.register(xvfb.terminate)
    return ":" + number


def prepare_prefix(env):
    """Makes the prefix when it is new (or without wine32) and keeps a server
    up between the many short Wine starts. The server's first program starts
    Wine's services, which keep its standard handles: it gets none of ours."""
    subprocess.run([os.path.join(REPO, "scripts", "wine-prefix"), env["WINEPREFIX"]], env=env,
                   check=True, **QUIET)
    subprocess.run(["wineserver", "-p30"], env=env, **QUIET)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, **QUIET)
    return env


def wine_environment():
    if not _wine:
        env = dict(os.environ, WINEDEBUG="-all")
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        env["DISPLAY"] = env.get("DISPLAY") or start_xvfb()
        env.setdefault("WINEPREFIX", os.path.join(REPO, "build", "wineprefix"))
        _wine.update(prepare_prefix(env))
    return dict(_wine)


def parse_reports(data):
    """The box driver's reports: a Box (buttons, text) per box, None for
    "box none", a list of status windows, a font."""
    reports = []
    while data:
        line, _, data = data.partition(b"\n")
        line, _, caption = line.decode("latin-1").partition(" caption=")
        word, *pairs = line.split()
        pairs = [pair for pair in pairs if "=" in pair]  # "box none"
        fields = {key: value if key == "buttons" else int(value, 0)
                  for key, value in (pair.split("=", 1) for pair in pairs)}
        if word == "box" and pairs:
            text, data = data[:fields["length"]].decode("latin-1"), data[fields["length"] + 1:]
            reports.append(SimpleNamespace(buttons=fields["buttons"].split(","), text=text))
        elif word in ("box", "status"):
            reports.append(None if word == "box" else [])
        elif word == "window":
            reports[-1].append(SimpleNamespace(caption=caption, **fields))
        elif word == "font":
            reports.append(SimpleNamespace(**fields))
        else:
            raise AssertionError(line)
    return reports


def run_boxdriver(*steps, env=None, watch=None, timeout=BOX_TIMEOUT):
    """Runs the box driver's steps in the prefix of env; returns its reports.
    watch: a WineRun whose end (without a box) ends the wait."""
    process = subprocess.Popen(["wine", fixture("boxdriver.exe"), "-t", str(timeout)] + list(steps),
                               env=env or wine_environment(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    deadline, ended = time.monotonic() + timeout + 30, None
    while process.poll() is None:
        now = time.monotonic()
        if watch and ended is None and watch.process.poll() is not None:
            ended = now
        # A box only comes from a running setup: a moment for the last one.
        if (ended and now - ended > 3) or now > deadline:
            kill_group(process)
            raise AssertionError("setup ended while waiting for: " + " ".join(steps))
        time.sleep(0.05)
    output = process.stdout.read()
    process.stdout.close()
    if process.returncode != 0:
        raise AssertionError("box driver %s: exit %d: %r" % (" ".join(steps), process.returncode,
                                                           output[-300:]))
    return parse_reports(output)


class WineRun:
    """One setup.exe under Wine, started through the launcher."""

    def __init__(self, line="", exe=None, env=None, cwd=None):
        exe = exe or setup_exe()
        self.scratch = scratch("run-")
        self.exit_file = os.path.join(self.scratch, "exit")
        command = exe if exe[1:3] == ":\\" else windows_path(exe)  # a Windows path stays
        command = ('"%s"' % command if " " in command else command) + (" " + line if line else "")
        self.env = dict(wine_environment(), **(env or {}))
        self.log = open(os.path.join(self.scratch, "output"), "w+b")
        # Under load Wine now and then loses a process before its code has run: a
        # launcher that ended without creating its exit file is started again.
        for _ in range(5):
            self.process = subprocess.Popen(
                ["wine", fixture("launch.exe")], cwd=cwd or self.scratch,
                stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                start_new_session=True, env=dict(self.env, LAUNCH_COMMAND_LINE=command,
                                                 LAUNCH_EXIT_FILE=windows_path(self.exit_file)))
            while not os.path.exists(self.exit_file) and self.process.poll() is None:
                time.sleep(0.01)
            if os.path.exists(self.exit_file):
                break
        self.status = None  # what Wine hands to Unix: the exit code's low byte

    def steps(self, *steps, timeout=BOX_TIMEOUT):
        return run_boxdriver(*steps, env=self.env, watch=self, timeout=timeout)

    def answer(self, step="ok", timeout=BOX_TIMEOUT):
        """Waits for the next box, answers it (ok, cancel, esc, close, or show
        to leave it up) and returns it."""
        return self.steps(step, timeout=timeout)[0]

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("latin-1")

    def wait(self, timeout=EXIT_TIMEOUT):
        """The whole exit code; a run that does not end fails the test."""
        try:
            self.status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            box = run_boxdriver("peek", env=self.env)[0]
            self.close()
            raise AssertionError("setup did not end within %ss; box up: %r" % (timeout, box))
        result = read(self.exit_file) if os.path.exists(self.exit_file) else b"no exit file"
        if not re.fullmatch(rb"-?\d+\s*", result):
            raise AssertionError("no exit code from the launcher: %r (its status %d), output %r" % (
                result, self.status, self.output()[-300:]))
        return int(result)

    def close(self):
        kill_group(self.process)  # the launcher's job ends setup.exe too
        self.log.close()
        shutil.rmtree(self.scratch, ignore_errors=True)


class WineTestCase(Case):
    @classmethod
    def setUpClass(cls):
        for path in (setup_exe(), fixture("boxdriver.exe"), fixture("launch.exe")):
            if not os.path.exists(path):
                raise unittest.SkipTest("not built: " + path)

    def start(self, line="", exe=None, env=None, cwd=None):
        """Starts setup.exe (or exe) with an exact command line; relative names
        on it resolve beside exe, which setup makes current."""
        run = WineRun(line, exe, env, cwd or self.workdir)
        self.addCleanup(run.close)
        return run

    def converse(self, line, *answers, exe=None):
        """Starts setup, answers one box per answer, waits for the end."""
        run = self.start(line, exe=exe)
        boxes = run.steps(*answers) if answers else []
        return SimpleNamespace(run=run, boxes=boxes, texts=[box.text for box in boxes],
                               exit_code=run.wait())

    def place_setup(self, directory):
        """A copy of setup.exe in directory; returns its path."""
        os.makedirs(directory, exist_ok=True)
        return shutil.copy(setup_exe(), os.path.join(directory, "setup.exe"))

    def own_prefix(self):
        """A prefix for this test alone (about 12 seconds); its environment."""
        env = prepare_prefix(dict(wine_environment(), WINEPREFIX=self.workdir + "/prefix"))
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=env, **QUIET)
        return env

    def screenshot(self):
        """The screen: pixel(x, y) gives (r, g, b)."""
        path = os.path.join(self.workdir, "screen.ppm")
        subprocess.run([os.path.join(REPO, "scripts", "screenshot"), wine_environment()["DISPLAY"],
                        path], check=True)
        # Binary PPM: "P6", comment lines, width, height, maximum, the pixels.
        header = re.match(rb"P6\s+(?:#[^\n]*\n\s*)*(\d+)\s+\d+\s+\d+\s", read(path))
        width, pixels = int(header.group(1)), read(path)[header.end():]
        return lambda x, y: tuple(pixels[(y * width + x) * 3:(y * width + x) * 3 + 3])


# --------------------------------------------------------------- Linux side

def die_with_parent():
    """A program under test ends when its test is killed (a hung mutant), and
    writes no file past 5 GiB (a runaway one)."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (5 << 30, 5 << 30))


class NativeTestCase(Case):
    @classmethod
    def setUpClass(cls):
        if not os.path.exists(setup_native()):
            raise unittest.SkipTest("not built: " + setup_native())

    def run_setup(self, *args, exe=None, cwd=None):
        """Runs setup with standard input that is not a terminal: (exit code,
        stdout, stderr)."""
        done = subprocess.run([exe or setup_native()] + list(args), cwd=cwd or self.workdir,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=EXIT_TIMEOUT,
                              preexec_fn=die_with_parent)
        return done.returncode, done.stdout.decode("latin-1"), done.stderr.decode("latin-1")

    def run_on_terminal(self, *args, typed=b"", stderr_too=False):
        """Runs setup with a pseudo terminal as standard input (and standard
        error, with stderr_too) on which typed is typed (b"\\n" OK, b"c\\n"
        Cancel): (exit code, stdout, what stderr or the terminal showed)."""
        master, slave = pty.openpty()
        process = subprocess.Popen([setup_native()] + list(args), cwd=self.workdir, stdin=slave,
                                   stdout=subprocess.PIPE,
                                   stderr=slave if stderr_too else subprocess.PIPE,
                                   preexec_fn=die_with_parent)
        os.close(slave)
        os.write(master, typed)
        shown = b""
        while stderr_too and select.select([master], [], [], EXIT_TIMEOUT)[0]:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal's last user has gone
                break
            shown += chunk
        try:
            stdout, stderr = process.communicate(timeout=EXIT_TIMEOUT)
        finally:
            process.kill()
            os.close(master)
        return (process.returncode, stdout.decode("latin-1"),
                (shown if stderr_too else stderr).decode("latin-1"))
