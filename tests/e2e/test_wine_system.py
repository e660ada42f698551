"""System services under Wine: programs started and waited for, the INF
installation through the real rundll32 and setupapi, the process walk (-tp),
the administrator check (-ta) and self-removal (-ds), on the NT road and,
in a prefix that reports Windows 98 and has no SETUPAPI.DLL, on the 95/98
road.

RunAndWait and InstallInfSection are reached through the system probe
fixture, which calls them as setup does, with real message boxes."""

import glob
import os
import shutil
import subprocess
import time
import unittest

from harness import WineTestCase, boxdriver_exe, setup_exe, windows_path, wine_environment

STARTF_USESHOWWINDOW = 1
INF = ('[Version]\r\nSignature="$CHICAGO$"\r\n\r\n'
       '[SetupInstall]\r\nCopyFiles=ZQFiles\r\n\r\n'
       '[DestinationDirs]\r\nDefaultDestDir=10,temp\\%s\r\n\r\n'
       '[ZQFiles]\r\nZQK9150.001\r\n')


def fixture(name):
    return os.path.join(os.path.dirname(boxdriver_exe()), name)


def read_record(path):
    """The recorder's record as a dict ("ended" maps to ""); None when absent."""
    if not os.path.exists(path):
        return None
    record = {}
    with open(path, encoding="latin-1") as file:
        for line in file.read().splitlines():
            key, _, value = line.partition("=")
            record[key] = value
    return record


def unix_path(env, windows):
    return subprocess.run(["winepath", "-u", windows], env=env, capture_output=True,
                          text=True, check=True).stdout.strip()


def wine_temp_dir(env):
    """The Unix folder behind the temporary directory Windows programs see
    (Wine sets TEMP from the prefix, not from the Unix environment)."""
    out = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=env, capture_output=True,
                         text=True, stdin=subprocess.DEVNULL, check=True).stdout.strip()
    return unix_path(env, out)


def windows_dir(env):
    return os.path.join(env["WINEPREFIX"], "drive_c", "windows")


class SystemTestCase(WineTestCase):
    def probe(self, line, env=None, prefix_env=None):
        """Starts the system probe through the launcher with extra environment."""
        environment = dict(prefix_env or {})
        environment.update(env or {})
        return self.start(line, exe=fixture("sysprobe.exe"), env=environment)

    def short_name(self, path, prefix_env=None):
        out = os.path.join(self.workdir, "short.txt")
        run = self.probe("short " + windows_path(path), {"PROBE_OUT": windows_path(out)},
                         prefix_env)
        self.assertEqual(run.wait(), 0)
        return read_record(out)["short"]

    def answer_all(self, run, limit=300):
        """Answers every box with OK until the run ends; returns the texts."""
        texts = []
        while len(texts) < limit:
            try:
                texts.append(run.answer("ok", timeout=15).text)
            except AssertionError:
                if run.exit_code_now() is not None:
                    break
                raise
        return texts

    def start_sleeper(self, path, milliseconds, env=None):
        """Starts a recorder copy that lives a while; returns once it runs."""
        environment = dict(env or wine_environment())
        record = os.path.join(self.workdir, "sleeper-%d.txt" % len(os.listdir(self.workdir)))
        environment.update(RECORD_SLEEP_MS=str(milliseconds), RECORD_FILE=windows_path(record))
        process = subprocess.Popen(["wine", path], env=environment, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        self.addCleanup(self.stop_sleeper, process)
        deadline = time.monotonic() + 30
        while read_record(record) is None:
            self.assertLess(time.monotonic(), deadline, "the sleeper did not start")
            time.sleep(0.1)
        return process

    @staticmethod
    def stop_sleeper(process):
        if process.poll() is None:
            os.killpg(process.pid, 9)
            process.wait()

    def walk(self, env=None):
        """-tp, every box answered: (process lines, last box, exit code)."""
        run = self.start("-tp", env=env)
        texts = self.answer_all(run)
        code = run.wait()
        self.assertTrue(texts, "no box at all")
        self.assertTrue(all(t.startswith("Process ") for t in texts[:-1]), texts)
        return texts[:-1], texts[-1], code


class RunAndWait(SystemTestCase):
    def start_waiting(self, show):
        """The probe under `wine start /wait`, which hands it
        STARTF_USESHOWWINDOW, running the recorder for 1.5 seconds."""
        record = os.path.join(self.workdir, "record.txt")
        out = os.path.join(self.workdir, "out.txt")
        line = fixture("recorder.exe")
        env = wine_environment()
        env.update(PROBE_COMMAND=windows_path(line) + " one  two", PROBE_OUT=windows_path(out),
                   RECORD_FILE=windows_path(record), RECORD_SLEEP_MS="1500")
        started = time.monotonic()
        completed = subprocess.run(["wine", "start", "/wait", windows_path(fixture("sysprobe.exe")),
                                    "run", str(show)],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=60)
        elapsed = time.monotonic() - started
        # Read at once: the probe has ended, so must the program it waited for.
        # (No pipes: the child inherits the handles and would hold them open.)
        return completed.returncode, elapsed, read_record(record), read_record(out)

    def test_child_gets_the_show_value_and_the_call_returns_after_its_end(self):
        for show in (0, 5):
            with self.subTest(show=show):
                code, elapsed, record, out = self.start_waiting(show)
                self.assertEqual(code, 1)
                self.assertEqual(out["result"], "1")
                self.assertIn("ended", record)
                self.assertGreaterEqual(elapsed, 1.5)
                self.assertEqual(record["command_line"],
                                 windows_path(fixture("recorder.exe")) + " one  two")
                self.assertEqual(int(record["flags"]) & STARTF_USESHOWWINDOW,
                                 STARTF_USESHOWWINDOW)
                self.assertEqual(record["show"], str(show))

    def test_flags_stay_those_the_program_was_started_with(self):
        # The launcher gives no STARTF_USESHOWWINDOW: the child has none either.
        record = os.path.join(self.workdir, "record.txt")
        run = self.probe("run 0", {"PROBE_COMMAND": windows_path(fixture("recorder.exe")),
                                   "RECORD_FILE": windows_path(record)})
        self.assertEqual(run.wait(), 1)
        self.assertEqual(int(read_record(record)["flags"]) & STARTF_USESHOWWINDOW, 0)

    def test_verbose_boxes_come_before_the_start_and_after_the_end(self):
        record = os.path.join(self.workdir, "record.txt")
        line = windows_path(fixture("recorder.exe")) + " x"
        env = {"PROBE_COMMAND": line, "RECORD_FILE": windows_path(record)}
        env["RECORD_SLEEP_MS"] = "1000"
        run = self.probe("-v run 5", env)
        self.assertEqual(run.answer("ok").text, "Running " + line)
        self.assertEqual(run.show().text, line + " terminated.")
        self.assertIn("ended", read_record(record))
        run.answer("ok")
        self.assertEqual(run.wait(), 1)

        os.remove(record)
        run = self.probe("-v run 5", env)
        self.assertEqual(run.answer("cancel").text, "Running " + line)
        self.assertEqual(run.wait(), 1)
        self.assertIsNone(read_record(record), "started although Cancel was pressed")

    def test_program_that_cannot_be_started_gives_zero_and_no_box(self):
        missing = windows_path(os.path.join(self.workdir, "missing.exe"))
        run = self.probe("run 5", {"PROBE_COMMAND": missing + " x"})
        self.assertEqual(run.wait(), 0)


class InfInstallation(SystemTestCase):
    def setUp(self):
        super().setUp()
        self.destination_name = "sysinf-%d" % os.getpid()
        self.medium = os.path.join(self.workdir, "longdirectoryname")
        os.makedirs(self.medium)
        with open(os.path.join(self.medium, "ZQK9150.INF"), "w", newline="") as file:
            file.write(INF % self.destination_name)
        with open(os.path.join(self.medium, "ZQK9150.001"), "wb") as file:
            file.write(b"piece one\r\n")

    def test_rundll32_installs_the_section_from_the_long_form_of_the_directory(self):
        env = wine_environment()
        destination = os.path.join(windows_dir(env), "temp", self.destination_name)
        self.addCleanup(shutil.rmtree, destination, True)
        short = self.short_name(self.medium)
        long_form = windows_path(self.medium)
        self.assertNotEqual(short, long_form)
        out = os.path.join(self.workdir, "out.txt")
        run = self.probe("-v inf 5 .\\ZQK9150.INF SetupInstall",
                         {"PROBE_CHDIR": short, "PROBE_OUT": windows_path(out)})
        command = ("rundll32 setupapi,InstallHinfSection SetupInstall 128 %s\\ZQK9150.INF"
                   % long_form)
        self.assertEqual(run.answer("ok").text, "Curdir = " + long_form)
        self.assertEqual(run.answer("ok").text, "Running " + command)
        self.assertEqual(run.answer("ok", timeout=60).text, command + " terminated.")
        self.assertEqual(run.wait(), 1)
        self.assertEqual(read_record(out)["directory"], long_form)  # not changed back
        with open(os.path.join(destination, "ZQK9150.001"), "rb") as file:
            self.assertEqual(file.read(), b"piece one\r\n")


class ProcessWalk(SystemTestCase):
    def test_tp_sees_the_cleanup_task_while_it_runs_and_not_after(self):
        task = fixture(os.path.join("isdel-upper", "_ISDEL.EXE"))
        sleeper = self.start_sleeper(task, 60000)
        lines, last, code = self.walk()
        self.assertEqual((last, code), ("Found", 0))
        names = [line.split(" = ", 1)[1] for line in lines]
        # The NT road names every process by its full path.
        self.assertIn(windows_path(task), names)
        self.assertIn(windows_path(setup_exe()), names)

        self.stop_sleeper(sleeper)
        time.sleep(1)
        lines, last, code = self.walk()
        self.assertEqual((last, code), ("Not Found", 0))
        self.assertNotIn(windows_path(task), [line.split(" = ", 1)[1] for line in lines])

    def test_name_that_differs_in_case_only_is_not_the_cleanup_task(self):
        task = fixture(os.path.join("isdel-lower", "_isdel.exe"))
        self.start_sleeper(task, 60000)
        lines, last, code = self.walk()
        self.assertIn(windows_path(task), [line.split(" = ", 1)[1] for line in lines])
        self.assertEqual((last, code), ("Not Found", 0))


class AdminCheck(SystemTestCase):
    def test_ta_answers_yes_for_wines_administrator(self):
        talk = self.converse("-ta", "ok")
        self.assertEqual((talk.texts, talk.exit_code), (["You have admin rights"], 0))


class SelfRemoval(SystemTestCase):
    """-ds runs under plain `wine`, not the launcher: the launcher's job ends
    every process of the job when it ends, the batch included. Wine's relay
    trace shows the calls that start the batch."""

    STEPS = ("CreateFileA", "WriteFile", "CloseHandle", "CreateProcessA", "SetThreadPriority",
             "SetPriorityClass", "ResumeThread")

    def setUp(self):
        super().setUp()
        self.env = wine_environment()
        self.temp = wine_temp_dir(self.env)
        self.batches_before = set(self.batches())

    def batches(self):
        return glob.glob(os.path.join(self.temp, "DMX*.BAT"))

    def remove_self(self, folder, mode=None):
        """Runs -ds from a copy in folder (with the Unix mode given); returns
        the copy and the calls it made after asking for the temporary
        directory, as "Name(arguments)" without pointers."""
        exe = self.place_setup(folder)
        if mode is not None:
            os.chmod(exe, mode)
        env = dict(self.env, WINEDEBUG="+relay")
        completed = subprocess.run(["wine", exe, "-ds"], env=env, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=60)
        self.assertEqual(completed.returncode, 0)
        calls = []
        thread = None
        for line in completed.stderr.decode("latin-1").splitlines():
            if ":Call KERNEL32.GetTempPathA(" in line:
                thread = line.split(":", 1)[0]
            if thread is None or not line.startswith(thread + ":Call KERNEL32."):
                continue
            name, _, rest = line.split(":Call KERNEL32.", 1)[1].partition("(")
            if name in self.STEPS:
                calls.append(name + "(" + rest.rsplit(") ret=", 1)[0] + ")")
        return exe, calls

    def assert_started_as_the_batch_should_be(self, calls):
        names = [call.split("(", 1)[0] for call in calls]
        self.assertEqual(names, ["CreateFileA", "WriteFile", "CloseHandle", "CreateProcessA",
                                 "SetThreadPriority", "SetThreadPriority", "SetPriorityClass",
                                 "CloseHandle", "ResumeThread", "CloseHandle"])
        # Write access, no sharing, CREATE_ALWAYS, normal + sequential scan.
        self.assertRegex(calls[0], r'DMX[0-9A-F]{4}\.BAT",40000000,00000000,00000000,00000002,'
                                   r'08000080,')
        # No inheritance, suspended at idle priority, from the root.
        self.assertRegex(calls[3], r'DMX[0-9A-F]{4}\.BAT",00000000,00000000,00000000,'
                                   r'00000044,00000000,[0-9a-f]+ "\\\\",')
        batch_thread = calls[4][len("SetThreadPriority("):].split(",")[0]
        self.assertTrue(calls[4].endswith(",fffffff1)"))               # THREAD_PRIORITY_IDLE
        self.assertEqual(calls[5], "SetThreadPriority(fffffffffffffffe,0000000f)")  # own: 15
        self.assertEqual(calls[6], "SetPriorityClass(ffffffffffffffff,00000080)")   # HIGH
        self.assertEqual(calls[8], "ResumeThread(%s)" % batch_thread)
        self.assertEqual(calls[9], "CloseHandle(%s)" % batch_thread)

    def wait_until_gone(self, path, seconds=15):
        deadline = time.monotonic() + seconds
        while os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.2)
        return not os.path.exists(path)

    def assert_no_new_batch(self):
        deadline = time.monotonic() + 10
        while set(self.batches()) - self.batches_before and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(set(self.batches()) - self.batches_before, set())

    def test_folder_holding_only_the_program_goes_entirely(self):
        folder = os.path.join(self.workdir, "only")
        _, calls = self.remove_self(folder)
        self.assert_started_as_the_batch_should_be(calls)
        self.assertTrue(self.wait_until_gone(folder))
        self.assert_no_new_batch()

    def test_other_files_keep_the_folder(self):
        folder = os.path.join(self.workdir, "shared")
        os.makedirs(folder)
        with open(os.path.join(folder, "other.txt"), "w") as file:
            file.write("stays")
        exe, _ = self.remove_self(folder)
        self.assertTrue(self.wait_until_gone(exe))
        self.assert_no_new_batch()
        self.assertEqual(os.listdir(folder), ["other.txt"])

    def test_read_only_program_goes_too(self):
        # del leaves a read-only file alone: the batch would retry for ever.
        folder = os.path.join(self.workdir, "from-cd")
        self.remove_self(folder, mode=0o555)
        self.assertTrue(self.wait_until_gone(folder))
        self.assert_no_new_batch()

    def test_percent_in_the_folder_name_is_not_expanded(self):
        # Expanded, %zq% would vanish and the batch would delete ab\setup.exe.
        decoy = os.path.join(self.workdir, "ab")
        self.place_setup(decoy)
        folder = os.path.join(self.workdir, "a%zq%b")
        self.remove_self(folder)
        self.assertTrue(self.wait_until_gone(folder))
        self.assert_no_new_batch()
        time.sleep(1)
        self.assertTrue(os.path.exists(os.path.join(decoy, "setup.exe")))

    def test_batch_that_would_not_fit_is_neither_written_nor_started(self):
        # Each '%' is written twice and the path three times: over 1000.
        folder = os.path.join(self.workdir, "%" * 200)
        self.assertLess(len(windows_path(os.path.join(folder, "setup.exe"))), 260)
        exe, calls = self.remove_self(folder)
        self.assertEqual(calls, [])
        time.sleep(3)
        self.assertTrue(os.path.exists(exe))
        self.assertEqual(set(self.batches()) - self.batches_before, set())


class Windows98Road(SystemTestCase):
    """A prefix of its own that reports Windows 98 and has no SETUPAPI.DLL in
    its system directory, as on such a machine. Wine's relay trace, limited
    to the calls that tell the roads apart, shows which road was taken."""

    TRACED = ("KERNEL32.GetVersion;KERNEL32.GetVersionExA;KERNEL32.LoadLibraryA;"
              "KERNEL32.CreateToolhelp32Snapshot;advapi32.OpenProcessToken;"
              "advapi32.OpenThreadToken")

    def setUp(self):
        super().setUp()
        self.env = self.own_prefix()
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/d",
                        "win98", "/f"], env=self.env, capture_output=True, check=True)
        subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude",
                        "/d", self.TRACED, "/f"], env=self.env, capture_output=True, check=True)
        system = os.path.join(windows_dir(self.env), "system32")
        for name in os.listdir(system):
            if name.lower() == "setupapi.dll":
                os.rename(os.path.join(system, name), os.path.join(self.workdir, name))

    @staticmethod
    def own_calls(trace):
        """The traced calls of the thread that asked for the version first
        (setup's; Wine's services may trace calls of their own)."""
        lines = [line for line in trace.decode("latin-1").splitlines() if ":Call " in line]
        first = next(line for line in lines if ".GetVersion" in line)
        thread = first.split(":", 1)[0]
        return [line.split(":Call ", 1)[1].split("(", 1)[0] for line in lines
                if line.startswith(thread + ":")]

    def traced(self, line):
        env = dict(self.env, WINEDEBUG="+relay")
        return self.start(line, env=env)

    def test_process_walk_and_admin_check_take_the_95_road(self):
        task = fixture(os.path.join("isdel-upper", "_ISDEL.EXE"))
        self.start_sleeper(task, 60000, env=self.env)
        run = self.traced("-tp")
        texts = self.answer_all(run)
        self.assertEqual(run.wait(), 0)
        self.assertEqual(texts[-1], "Found")
        # ToolHelp names a process by its file name alone.
        self.assertIn("_ISDEL.EXE", [t.split(" = ", 1)[1] for t in texts[:-1]])
        calls = self.own_calls(run.stderr)
        self.assertIn("KERNEL32.CreateToolhelp32Snapshot", calls)
        self.assertNotIn("advapi32.OpenProcessToken", calls)

        run = self.traced("-ta")
        self.assertEqual(run.answer("ok").text, "You have admin rights")
        self.assertEqual(run.wait(), 0)
        calls = self.own_calls(run.stderr)
        self.assertIn("KERNEL32.GetVersion", calls)
        self.assertNotIn("advapi32.OpenThreadToken", calls)
        self.assertNotIn("advapi32.OpenProcessToken", calls)

    def test_without_setupapi_the_16_bit_engine_gets_the_short_path(self):
        medium = os.path.join(self.workdir, "longdirectoryname")
        os.makedirs(medium)
        with open(os.path.join(medium, "ZQK9150.INF"), "w") as file:
            file.write("[Version]\n")
        short = self.short_name(medium, self.env)
        self.assertNotEqual(short, windows_path(medium))
        run = self.probe("-v inf 5 .\\ZQK9150.INF SetupInstall",
                         {"PROBE_CHDIR": windows_path(medium)}, self.env)
        self.assertEqual(run.answer("ok").text, "Curdir = " + windows_path(medium))
        self.assertEqual(run.answer("ok").text,
                         "Running rundll.exe setupx.dll,InstallHinfSection SetupInstall 128 "
                         + short + "\\ZQK9150.INF")
        # Wine has no 16-bit engine: nothing can be started.
        self.assertEqual(run.answer("ok").text, "Failed to launch .\\ZQK9150.INF")
        self.assertEqual(run.wait(), 0)


if __name__ == "__main__":
    unittest.main()
