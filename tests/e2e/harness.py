"""End-to-end harness: runs the real programs and plays their user.

Windows build: setup.exe runs under Wine on an X display. It is started by
the launcher fixture (exact command line, whole exit code); the box driver
fixture reads and answers its message boxes and reports its status window;
screenshots show what is painted. Linux build: ./setup runs with standard
input that is not a terminal, or on a pseudo terminal when a test types the
answers.

Paths come from the environment that ctest sets (SETUP_EXE, BOXDRIVER_EXE,
LAUNCH_EXE, SETUP_NATIVE), else from the preset build directories. The Wine
prefix is $WINEPREFIX, else build/wineprefix (made on first use); the display
is $DISPLAY, else an Xvfb that this process starts and stops.
"""

import atexit
import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CAPTION = "ZQ K9150 Setup"
# The usage text, as -? shows it.
USAGE = (
    "\n"
    "ZQ K9150 keyboard driver setup.\n"
    "\n"
    "Usage:\n"
    "\n"
    "    setup [switches]\n"
    "\n"
    "Switches:\n"
    "  -a arch path\tCreate archive arch with all files in path.\n"
    "  -c name\t\tCut a file in pieces that fit on floppys.\n"
    "  -dt path\t\tDelete a directory tree.\n"
    "  -is {args}\t\tArguments to pass to Install Shield setup.\n"
    "  -f\t\tBuild a set of floppys.\n"
    "  -s\t\tSetup in silent mode. (Passed to IS.)\n"
    "  -x arch path\teXtraxt all files from archive arch to path.\n"
    "\n")
BOX_TIMEOUT = float(os.environ.get("E2E_BOX_TIMEOUT", "30"))
EXIT_TIMEOUT = float(os.environ.get("E2E_EXIT_TIMEOUT", "60"))


def _path(variable, default):
    return os.environ.get(variable) or os.path.join(REPO, default)


def setup_exe():
    return _path("SETUP_EXE", "build/windows/bin/setup.exe")


def boxdriver_exe():
    return _path("BOXDRIVER_EXE", "build/windows/tests/boxdriver.exe")


def launch_exe():
    return _path("LAUNCH_EXE", "build/windows/tests/launch.exe")


def setup_native():
    return _path("SETUP_NATIVE", "build/native/bin/setup")


def artifacts_dir():
    path = os.environ.get("E2E_ARTIFACTS") or os.path.join(tempfile.gettempdir(), "e2e-artifacts")
    os.makedirs(path, exist_ok=True)
    return path


def windows_path(path):
    """The Windows name of a Unix path (Wine maps drive Z: to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _kill_group(process):
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


# ---------------------------------------------------------------- Wine side

class _WineSession:
    """The display, prefix and environment shared by every run of a process."""

    def __init__(self):
        self.env = None
        self.xvfb = None

    def environment(self):
        if self.env is None:
            env = dict(os.environ)
            env["WINEDEBUG"] = "-all"
            env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
            if not env.get("DISPLAY"):
                env["DISPLAY"] = self._start_xvfb()
            env["WINEPREFIX"] = env.get("WINEPREFIX") or os.path.join(REPO, "build", "wineprefix")
            if not os.path.exists(os.path.join(env["WINEPREFIX"], "system.reg")):
                subprocess.run([os.path.join(REPO, "scripts", "wine-prefix"), env["WINEPREFIX"]],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               check=True)
            # Keeps a server warm between the many short Wine starts; when
            # one runs already (scripts/test keeps one) this does nothing.
            subprocess.run(["wineserver", "-p30"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            _start_services(env)
            self.env = env
        return dict(self.env)

    def _start_xvfb(self):
        for number in range(500, 600):
            if _display_taken(number):
                continue
            socket = "/tmp/.X11-unix/X%d" % number
            process = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            deadline = time.monotonic() + 10
            while process.poll() is None and time.monotonic() < deadline:
                if os.path.exists(socket):
                    self.xvfb = process
                    atexit.register(_stop_xvfb, process)
                    return ":%d" % number
                time.sleep(0.05)
            _stop_xvfb(process)
        raise RuntimeError("no free X display for Xvfb")


def _display_taken(number):
    """A lock whose server still runs (Xvfb itself replaces a stale one)."""
    try:
        with open("/tmp/.X%d-lock" % number) as lock:
            os.kill(int(lock.read().strip()), 0)
        return True
    except (FileNotFoundError, ProcessLookupError):
        return False
    except (OSError, ValueError):
        return True


def _stop_xvfb(process):
    # SIGTERM lets the server remove its lock and socket.
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            _kill_group(process)


_wine = _WineSession()


def wine_environment():
    return _wine.environment()


class Box:
    """A message box as the user saw it."""

    def __init__(self, buttons, topmost, text):
        self.buttons = buttons  # e.g. ["ok", "cancel"]
        self.topmost = topmost
        self.text = text

    def __repr__(self):
        return "Box(%r, buttons=%s)" % (self.text, ",".join(self.buttons))


class StatusWindow:
    def __init__(self, fields):
        self.x, self.y = int(fields["x"]), int(fields["y"])
        self.width, self.height = int(fields["width"]), int(fields["height"])
        self.style = int(fields["style"], 16)
        self.exstyle = int(fields["exstyle"], 16)
        self.visible = fields["visible"] == "1"
        left, top, width, height = (int(v) for v in fields["client"].split(","))
        self.client = (left, top, width, height)  # screen position and size
        self.caption = fields["caption"]

    def __repr__(self):
        return "StatusWindow(%d,%d %dx%d style=0x%08X)" % (
            self.x, self.y, self.width, self.height, self.style)


class Font:
    def __init__(self, fields):
        self.height = int(fields["height"])
        self.max_width = int(fields["maxwidth"])
        self.extent = int(fields["extent"])


class DriverError(AssertionError):
    pass


def _fields(line, last_key=None):
    """key=value pairs of a report line; last_key takes the rest of the line."""
    fields = {}
    rest = line
    if last_key and (" %s=" % last_key) in line:
        rest, tail = line.split(" %s=" % last_key, 1)
        fields[last_key] = tail
    for word in rest.split()[1:]:
        if "=" in word:
            key, value = word.split("=", 1)
            fields[key] = value
    return fields


def parse_driver_output(data):
    """The box driver's reports: Box, None (no box), [StatusWindow], Font."""
    records = []
    position = 0
    while position < len(data):
        end = data.index(b"\n", position) if b"\n" in data[position:] else len(data)
        line = data[position:end].decode("latin-1")
        position = end + 1
        if line == "box none":
            records.append(None)
        elif line.startswith("box "):
            fields = _fields(line)
            length = int(fields["length"])
            text = data[position:position + length].decode("latin-1")
            position += length + 1
            buttons = [] if fields["buttons"] == "none" else fields["buttons"].split(",")
            records.append(Box(buttons, fields["topmost"] == "1", text))
        elif line.startswith("status "):
            windows = []
            for _ in range(int(_fields(line)["count"])):
                end = data.index(b"\n", position)
                windows.append(StatusWindow(_fields(data[position:end].decode("latin-1"),
                                                    "caption")))
                position = end + 1
            records.append(windows)
        elif line.startswith("font "):
            records.append(Font(_fields(line)))
        elif line:
            records.append(DriverError(line))
    return records


class Screenshot:
    """The whole X screen; pixel(x, y) gives (r, g, b)."""

    def __init__(self, path):
        self.path = path
        with open(path, "rb") as file:
            data = file.read()
        # Binary PPM: "P6", width, height, maximum, one whitespace, pixels;
        # a "#" starts a comment up to the end of its line.
        parts = []
        position = 0
        while len(parts) < 4:
            while data[position:position + 1].isspace() or data[position:position + 1] == b"#":
                if data[position:position + 1] == b"#":
                    position = data.index(b"\n", position)
                position += 1
            start = position
            while not data[position:position + 1].isspace():
                position += 1
            parts.append(data[start:position])
        if parts[0] != b"P6" or parts[3] != b"255":
            raise ValueError("unexpected image format in %s" % path)
        self.width, self.height = int(parts[1]), int(parts[2])
        self.pixels = data[position + 1:]

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])

    def region(self, left, top, width, height):
        """Every (x, y, colour) of a rectangle, row by row."""
        for y in range(top, top + height):
            for x in range(left, left + width):
                yield x, y, self.pixel(x, y)


def take_screenshot(name):
    """Saves the screen as NAME.png in the artifacts directory (to look at)
    and returns it as a Screenshot (to test)."""
    env = wine_environment()
    base = os.path.join(artifacts_dir(), name)
    tool = os.path.join(REPO, "tests", "fixtures", "screenshot")
    subprocess.run([tool, env["DISPLAY"], base + ".ppm"], check=True, env=env)
    subprocess.run(["convert", base + ".ppm", base + ".png"], check=True)
    return Screenshot(base + ".ppm")


def make_prefix(directory):
    """A Wine prefix of a test's own, for tests that change its settings;
    returns the environment to run in it (see WineTestCase.own_prefix)."""
    env = wine_environment()
    env["WINEPREFIX"] = os.path.abspath(directory)
    subprocess.run([os.path.join(REPO, "scripts", "wine-prefix"), env["WINEPREFIX"]], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run(["wineserver", "-p30"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    _start_services(env)
    return env


def _start_services(env):
    # The first program of a fresh server starts Wine's background services,
    # which keep its standard handles: a pipe of ours would never close.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def end_prefix(env):
    """Ends every process of a prefix made by make_prefix."""
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def run_boxdriver(*steps, timeout=BOX_TIMEOUT, watch=None, env=None):
    """Runs the box driver with the steps; returns its parsed reports.
    watch: a WineRun whose end (without a box) ends the wait early.
    env: the environment of another prefix (the box driver must run in
    the prefix of the setup.exe it plays with)."""
    env = env or wine_environment()
    process = subprocess.Popen(["wine", boxdriver_exe(), "-t", str(timeout)] + list(steps),
                               env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + timeout + 30
    ended_at = None
    while process.poll() is None:
        now = time.monotonic()
        if watch is not None and ended_at is None and watch.process.poll() is not None:
            ended_at = now
        # A box can only come from a running setup: give the driver a moment
        # to see the last one, then stop waiting.
        if (ended_at is not None and now - ended_at > 3) or now > deadline:
            _kill_group(process)
            raise DriverError("setup ended (exit code %s) while waiting for: %s"
                              % (watch.exit_code_now() if watch else "?", " ".join(steps)))
        time.sleep(0.05)
    output = process.stdout.read()
    process.stdout.close()
    records = parse_driver_output(output)
    errors = [r for r in records if isinstance(r, DriverError)]
    if process.returncode != 0 or errors:
        raise DriverError("box driver %s: exit %d: %s" % (
            " ".join(steps), process.returncode, "; ".join(str(e) for e in errors)))
    return records


class WineRun:
    """One setup.exe process under Wine, started through the launcher."""

    def __init__(self, command_line, cwd=None, exe=None, env=None):
        if isinstance(command_line, (list, tuple)):
            command_line = " ".join(command_line)
        self.exe = exe or setup_exe()
        self.scratch = tempfile.mkdtemp(prefix="e2e-run-")
        self.exit_file = os.path.join(self.scratch, "exit")
        # A Windows path (C:\...) is taken as it is, others are mapped.
        line = self.exe if self.exe[1:3] == ":\\" else windows_path(self.exe)
        if " " in line:
            line = '"%s"' % line
        if command_line:
            line += " " + command_line
        environment = wine_environment()
        environment.update(env or {})
        self.env = dict(environment)
        environment["LAUNCH_COMMAND_LINE"] = line
        environment["LAUNCH_EXIT_FILE"] = windows_path(self.exit_file)
        self.stdout_file = open(os.path.join(self.scratch, "stdout"), "w+b")
        self.stderr_file = open(os.path.join(self.scratch, "stderr"), "w+b")
        self.process = subprocess.Popen(
            ["wine", launch_exe()], cwd=cwd or self.scratch, env=environment,
            stdin=subprocess.DEVNULL, stdout=self.stdout_file, stderr=self.stderr_file,
            start_new_session=True)
        self.exit_code = None  # the whole Windows exit code, signed
        self.status = None     # what Wine hands to Unix: the low byte

    # Boxes and windows.
    def steps(self, *steps, timeout=BOX_TIMEOUT):
        """Runs box driver steps against this run; returns their reports."""
        return run_boxdriver(*steps, timeout=timeout, watch=self, env=self.env)

    def answer(self, step="ok", timeout=BOX_TIMEOUT):
        """Waits for the next box, answers it (ok, cancel, esc, close, or
        show to leave it up) and returns it."""
        return self.steps(step, timeout=timeout)[0]

    def show(self, timeout=BOX_TIMEOUT):
        return self.answer("show", timeout)

    def status_windows(self):
        return run_boxdriver("status", env=self.env)[0]

    # The end.
    def exit_code_now(self):
        return self.process.poll()

    def wait(self, timeout=EXIT_TIMEOUT):
        """Waits for the end; returns the whole exit code. A run that is
        still going (for instance behind a box) fails the test."""
        try:
            self.status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            box = run_boxdriver("peek", env=self.env)[0]
            self.kill()
            raise AssertionError("setup did not end within %ss; box up: %r" % (timeout, box))
        with open(self.exit_file) as file:
            self.exit_code = int(file.read())
        return self.exit_code

    @property
    def stdout(self):
        self.stdout_file.seek(0)
        return self.stdout_file.read()

    @property
    def stderr(self):
        self.stderr_file.seek(0)
        return self.stderr_file.read()

    def kill(self):
        _kill_group(self.process)  # the launcher's job ends setup.exe too

    def close(self):
        self.kill()
        self.stdout_file.close()
        self.stderr_file.close()
        shutil.rmtree(self.scratch, ignore_errors=True)


class Conversation:
    def __init__(self, run, boxes, exit_code):
        self.run = run
        self.boxes = boxes
        self.texts = [box.text for box in boxes]
        self.exit_code = exit_code


class WineTestCase(unittest.TestCase):
    """Base of the tests of setup.exe under Wine. Each test gets a scratch
    directory, self.workdir; runs left behind are ended."""

    @classmethod
    def setUpClass(cls):
        for path in (setup_exe(), boxdriver_exe(), launch_exe()):
            if not os.path.exists(path):
                raise unittest.SkipTest("not built: %s" % path)
        wine_environment()

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="e2e-")
        self.addCleanup(shutil.rmtree, self.workdir, True)

    def own_prefix(self):
        """Makes a Wine prefix for this test alone (ended and removed with
        the test); returns the environment to pass to start(env=...)."""
        env = make_prefix(os.path.join(self.workdir, "prefix"))
        self.addCleanup(end_prefix, env)
        return env

    def start(self, command_line="", cwd=None, exe=None, env=None):
        """Starts setup.exe with an exact command line (a string, or a list
        joined with single blanks). Remember that setup makes its own
        directory current: relative names resolve beside exe. env: extra
        environment, such as that of own_prefix()."""
        run = WineRun(command_line, cwd=cwd or self.workdir, exe=exe, env=env)
        self.addCleanup(run.close)
        return run

    def converse(self, command_line, *answers, cwd=None, exe=None):
        """Starts setup, answers one box per answer, waits for the end."""
        run = self.start(command_line, cwd=cwd, exe=exe)
        boxes = [run.answer(answer) for answer in answers]
        return Conversation(run, boxes, run.wait())

    def place_setup(self, directory):
        """A copy of setup.exe in directory (made if needed); returns its path."""
        os.makedirs(directory, exist_ok=True)
        target = os.path.join(directory, "setup.exe")
        shutil.copyfile(setup_exe(), target)
        return target

    def screenshot(self, label):
        return take_screenshot("%s.%s" % (self.id(), label))


# --------------------------------------------------------------- Linux side

class NativeResult:
    def __init__(self, exit_code, stdout, stderr):
        self.exit_code = exit_code
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return "NativeResult(%d, stdout=%r, stderr=%r)" % (
            self.exit_code, self.stdout[:200], self.stderr[:200])


class NativeTestCase(unittest.TestCase):
    """Base of the tests of the Linux build."""

    @classmethod
    def setUpClass(cls):
        if not os.path.exists(setup_native()):
            raise unittest.SkipTest("not built: %s" % setup_native())

    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="e2e-")
        self.addCleanup(shutil.rmtree, self.workdir, True)

    def run_setup(self, *args, cwd=None, exe=None, timeout=EXIT_TIMEOUT):
        """Runs setup with argv args and standard input not a terminal."""
        completed = subprocess.run([exe or setup_native()] + list(args), cwd=cwd or self.workdir,
                                   stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        return NativeResult(completed.returncode, completed.stdout.decode("latin-1"),
                            completed.stderr.decode("latin-1"))

    def run_on_terminal(self, *args, typed=b"", cwd=None, exe=None, timeout=EXIT_TIMEOUT,
                        stderr_too=False):
        """Runs setup with a pseudo terminal as standard input (and standard
        error, with stderr_too) and typed as the keys (b"\\n" OK, b"c\\n"
        Cancel, b"\\x04" end of input); the rest are pipes. With stderr_too,
        stderr is what the terminal showed."""
        master, slave = pty.openpty()
        try:
            process = subprocess.Popen([exe or setup_native()] + list(args),
                                       cwd=cwd or self.workdir, stdin=slave,
                                       stdout=subprocess.PIPE,
                                       stderr=slave if stderr_too else subprocess.PIPE,
                                       start_new_session=True)
            os.close(slave)
            slave = None
            os.write(master, typed)
            if stderr_too:
                shown = b""
                deadline = time.monotonic() + timeout
                while select.select([master], [], [], max(0, deadline - time.monotonic()))[0]:
                    try:
                        chunk = os.read(master, 65536)
                    except OSError:  # the terminal's last user has gone
                        break
                    shown += chunk
                stdout, _ = process.communicate(timeout=timeout)
                stderr = shown
            else:
                stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(process)
            raise AssertionError("setup did not end within %ss" % timeout)
        finally:
            if slave is not None:
                os.close(slave)
            os.close(master)
        return NativeResult(process.returncode, stdout.decode("latin-1"),
                            stderr.decode("latin-1"))
