"""System services under Wine: RunAndWait and InstallInfSection through the
system probe fixture (setup's own code with real boxes), the process walk
(-tp), the administrator check (-ta) and self-removal (-ds); the 95/98 road
in a prefix of its own that reports Windows 98 and has no SETUPAPI.DLL."""

import glob
import os
import re
import shutil
import subprocess
import time
import unittest

from harness import DriverError, WineTestCase, setup_exe, windows_path, wine_environment
from medium import fixture, read_record

UPPER = fixture(os.path.join("isdel-upper", "_ISDEL.EXE"))
LOWER = fixture(os.path.join("isdel-lower", "_isdel.exe"))


def wait_until(condition, seconds=15):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.2)
    return condition()


class SystemTestCase(WineTestCase):
    def probe(self, line, env):
        return self.start(line, exe=fixture("sysprobe.exe"), env=env)

    def short_name(self, path, env):
        out = os.path.join(self.workdir, "short.txt")
        self.assertEqual(self.probe("short " + windows_path(path),
                                    dict(env, PROBE_OUT=windows_path(out))).wait(), 0)
        short = read_record(out)["short"]
        self.assertNotEqual(short, windows_path(path))
        return short

    def start_sleeper(self, path, env=None):
        """A recorder copy that stays a minute; returns its run once it runs."""
        # Named after the folder: Wine would take _isdel.exe.txt for _ISDEL.EXE.txt.
        record = os.path.join(self.workdir, os.path.basename(os.path.dirname(path)) + ".txt")
        run = self.start(exe=path, env=dict(env or {}, RECORD_FILE=windows_path(record),
                                            RECORD_SLEEP_MS="60000"))
        self.assertTrue(wait_until(lambda: os.path.exists(record), 30), "no start: " + path)
        return run

    def walk(self, env=None, exe=None):
        """-tp with every box answered: the process names and the last box."""
        run = self.start("-tp", env=env, exe=exe)
        texts = []
        while True:
            try:
                texts.append(run.answer().text)
            except DriverError:
                if run.exit_code_now() is None:
                    raise
                break
        self.assertEqual(run.wait(), 0)
        return [text.split(" = ", 1)[1] for text in texts[:-1]], texts[-1]


class RunAndWait(SystemTestCase):
    def test_child_gets_sw_hide_and_the_call_returns_after_its_end(self):
        record = os.path.join(self.workdir, "record.txt")
        line = windows_path(fixture("recorder.exe")) + " one  two"
        # Started with SW_SHOW, as a shell would: the child must get SW_HIDE.
        run = self.probe("-v run 0", {"PROBE_COMMAND": line, "RECORD_FILE": windows_path(record),
                                      "RECORD_SLEEP_MS": "1000", "LAUNCH_SHOW": "5"})
        self.assertEqual(run.answer().text, "Running " + line)
        self.assertEqual(run.show().text, line + " terminated.")
        record = read_record(record)
        self.assertTrue(record["ended"])
        self.assertEqual((record["command_line"], record["show"]), (line, "0"))
        self.assertTrue(int(record["flags"]) & 1)  # STARTF_USESHOWWINDOW, inherited
        run.answer()
        self.assertEqual(run.wait(), 1)


class InfInstallation(SystemTestCase):
    def test_rundll32_installs_the_section_from_the_long_form_of_the_directory(self):
        name = "sysinf-%d" % os.getpid()
        destination = os.path.join(wine_environment()["WINEPREFIX"], "drive_c", "windows", "temp",
                                   name)
        self.addCleanup(shutil.rmtree, destination, True)
        medium = os.path.join(self.workdir, "longdirectoryname")
        os.makedirs(medium)
        with open(os.path.join(medium, "ZQK9150.INF"), "w", newline="\r\n") as file:
            file.write('[Version]\nSignature="$CHICAGO$"\n[SetupInstall]\nCopyFiles=ZQFiles\n'
                       "[DestinationDirs]\nDefaultDestDir=10,temp\\%s\n[ZQFiles]\nZQK9150.001\n"
                       % name)
        with open(os.path.join(medium, "ZQK9150.001"), "wb") as file:
            file.write(b"piece one\r\n")
        run = self.probe("-v inf 5 .\\ZQK9150.INF SetupInstall",
                         {"PROBE_CHDIR": self.short_name(medium, {})})
        command = ("rundll32 setupapi,InstallHinfSection SetupInstall 128 %s\\ZQK9150.INF"
                   % windows_path(medium))
        self.assertEqual(run.answer().text, "Curdir = " + windows_path(medium))
        self.assertEqual(run.answer().text, "Running " + command)
        self.assertEqual(run.answer(timeout=60).text, command + " terminated.")
        self.assertEqual(run.wait(), 1)
        with open(os.path.join(destination, "ZQK9150.001"), "rb") as file:
            self.assertEqual(file.read(), b"piece one\r\n")


class Switches(SystemTestCase):
    def test_tp_finds_the_cleanup_task_while_it_runs_and_not_by_case_only(self):
        upper = self.start_sleeper(UPPER)
        self.start_sleeper(LOWER)
        names, last = self.walk()
        self.assertEqual(last, "Found")
        # The NT road names every process by its full path.
        for path in (UPPER, LOWER, setup_exe()):
            self.assertIn(windows_path(path), names)
        upper.kill()
        time.sleep(1)
        names, last = self.walk()
        self.assertEqual(last, "Not Found")
        self.assertNotIn(windows_path(UPPER), names)
        self.assertIn(windows_path(LOWER), names)

    def test_no_library_comes_from_the_programs_folder(self):
        # Told n,b, Wine takes a library from beside the program when it is
        # loaded by name: the walk's own, and what a box loads (uxtheme).
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        for name in ("PSAPI.DLL", "VDMDBG.DLL", "UXTHEME.DLL"):
            shutil.copyfile(fixture("decoy.dll"), os.path.join(self.workdir, "medium", name))
        record = os.path.join(self.workdir, "loaded.txt")
        names, last = self.walk({"WINEDLLOVERRIDES": "psapi,vdmdbg,uxtheme=n,b;mscoree,mshtml=",
                                 "RECORD_FILE": windows_path(record)}, exe)
        self.assertIsNone(read_record(record))
        self.assertIn(windows_path(exe), names)  # the system's PSAPI.DLL walked
        self.assertEqual(last, "Not Found")

    def test_ta_answers_yes_for_wines_administrator(self):
        talk = self.converse("-ta", "ok")
        self.assertEqual((talk.texts, talk.exit_code), (["You have admin rights"], 0))


class SelfRemoval(SystemTestCase):
    def setUp(self):
        super().setUp()
        env = wine_environment()
        temp = subprocess.run(["wine", "cmd", "/c", "echo", "%TEMP%"], env=env, text=True,
                              stdin=subprocess.DEVNULL, capture_output=True).stdout.strip()
        temp = subprocess.run(["winepath", "-u", temp], env=env, text=True,
                              capture_output=True).stdout.strip()
        self.batches = lambda: set(glob.glob(os.path.join(temp, "DMX*.BAT")))
        self.before = self.batches()

    def remove_self(self, folder, mode=0o755, env=None):
        exe = self.place_setup(folder)
        os.chmod(exe, mode)
        # Out of the launcher's job, which would end the batch with it.
        env = dict(env or {}, LAUNCH_DETACHED="1")
        self.assertEqual(self.start("-ds", exe=exe, env=env).wait(), 0)
        return exe

    def assert_gone(self, path):
        self.assertTrue(wait_until(lambda: not os.path.exists(path)), path + " is left")
        self.assertTrue(wait_until(lambda: self.batches() <= self.before), "a batch is left")

    def test_program_alone_goes_with_its_folder_even_when_read_only(self):
        # del leaves a read-only file alone: the batch would retry for ever.
        for name, mode in (("only", 0o755), ("from-cd", 0o555)):
            folder = os.path.join(self.workdir, name)
            self.remove_self(folder, mode)
            self.assert_gone(folder)

    def test_other_files_keep_the_folder_and_a_cmd_exe_among_them_never_runs(self):
        folder = os.path.join(self.workdir, "shared")
        os.makedirs(folder)
        shutil.copyfile(fixture("recorder.exe"), os.path.join(folder, "cmd.exe"))
        record = os.path.join(self.workdir, "decoy.txt")
        self.assert_gone(self.remove_self(folder, env={"RECORD_FILE": windows_path(record)}))
        self.assertEqual(os.listdir(folder), ["cmd.exe"])
        self.assertIsNone(read_record(record))

    def test_percent_is_not_expanded_and_a_batch_over_its_size_is_not_written(self):
        # Expanded, %zq% would vanish and the batch would delete ab\setup.exe.
        decoy = self.place_setup(os.path.join(self.workdir, "ab"))
        folder = os.path.join(self.workdir, "a%zq%b")
        self.remove_self(folder)
        self.assert_gone(folder)
        # Doubled, the '%' take the text over its 1000 characters.
        exe = self.remove_self(os.path.join(self.workdir, "%" * 200))
        self.assertLess(len(windows_path(exe)), 260)
        time.sleep(3)
        self.assertTrue(os.path.exists(exe) and os.path.exists(decoy))
        self.assertEqual(self.batches(), self.before)


class Windows98Road(SystemTestCase):
    def test_tp_ta_and_the_inf_section_take_the_95_road(self):
        env = self.own_prefix()
        for key, value, data in (("", "Version", "win98"),
                                 ("\\Debug", "RelayInclude",
                                  "KERNEL32.GetVersion;advapi32.OpenProcessToken;"
                                  "advapi32.OpenThreadToken")):
            subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine" + key, "/v", value,
                            "/d", data, "/f"], env=env, capture_output=True, check=True)
        system = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "system32")
        for name in os.listdir(system):
            if name.lower() == "setupapi.dll":
                os.remove(os.path.join(system, name))

        self.start_sleeper(UPPER, env)
        names, last = self.walk(env)
        # ToolHelp names a process by its file name alone.
        self.assertEqual(last, "Found")
        self.assertIn("_ISDEL.EXE", names)

        run = self.start("-ta", env=dict(env, WINEDEBUG="+relay"))
        self.assertEqual(run.answer().text, "You have admin rights")
        self.assertEqual(run.wait(), 0)
        calls = set(re.findall(r":Call ([\w.]+)\(", run.stderr.decode("latin-1")))
        self.assertEqual(calls, {"KERNEL32.GetVersion"})  # no token opened

        medium = os.path.join(self.workdir, "longdirectoryname")
        os.makedirs(medium)
        open(os.path.join(medium, "ZQK9150.INF"), "w").close()
        short = self.short_name(medium, env)
        run = self.probe("-v inf 5 .\\ZQK9150.INF SetupInstall",
                         dict(env, PROBE_CHDIR=windows_path(medium)))
        self.assertEqual(run.answer().text, "Curdir = " + windows_path(medium))
        self.assertEqual(run.answer().text, "Running rundll.exe setupx.dll,InstallHinfSection "
                                            "SetupInstall 128 %s\\ZQK9150.INF" % short)
        # Wine has no 16-bit engine: nothing can be started.
        self.assertEqual(run.answer().text, "Failed to launch .\\ZQK9150.INF")
        self.assertEqual(run.wait(), 0)


if __name__ == "__main__":
    unittest.main()
