"""System services under Wine: the process walk (-tp), the administrator
check (-ta), self-removal (-ds), and the road of Windows 95/98 in a prefix of
its own that reports Windows 98 and has no SETUPAPI.DLL."""

import os
import re
import shutil
import subprocess
import unittest

from harness import WineTestCase, fixture, wait_until, wine_environment, windows_path


def start_task(test, name, env=None, stand_in="recorder.exe"):
    """A recorder named name, in a folder of its own, that stays a minute."""
    folder = os.path.join(test.workdir, "task%d" % len(os.listdir(test.workdir)))
    os.makedirs(folder)
    exe = shutil.copy(fixture(stand_in), os.path.join(folder, name))
    run = test.start(exe=exe, env=dict(env or {}, RECORD_DIR=windows_path(folder),
                                       RECORD_SLEEP_MS="60000"))
    test.assertTrue(wait_until(lambda: os.path.exists(exe + ".txt"), 30), "no start: " + exe)
    return run, exe


def running(exe):
    """Whether Wine still runs the program, each Windows process being a Unix
    one whose command line starts with its Windows path."""
    path = windows_path(exe).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                if cmdline.read().split(b"\0", 1)[0] == path:
                    return True
        except OSError:
            pass
    return False


def walk(test, env=None, exe=None):
    """-tp with every box answered: the process names and the last box."""
    run = test.start("-tp", env=env, exe=exe)
    texts = [box.text for box in run.steps("all")]
    test.assertEqual(run.wait(), 0)
    return [text.split(" = ", 1)[1] for text in texts[:-1]], texts[-1]


class System(WineTestCase):
    def test_tp_finds_the_cleanup_task_while_it_runs_and_not_by_case_only(self):
        # A 64-bit one, which PSAPI cannot name from the 32-bit setup.exe.
        upper, upper_exe = start_task(self, "_ISDEL.EXE", stand_in="recorder64.exe")
        _, lower_exe = start_task(self, "_isdel.exe")
        names, last = walk(self)
        # The NT road names every process by its full path.
        self.assertEqual(last, "Found")
        for path in (upper_exe, lower_exe):
            self.assertIn(windows_path(path), names)
        upper.close()
        self.assertTrue(wait_until(lambda: not running(upper_exe)), "the task did not end")
        names, last = walk(self)
        self.assertEqual(last, "Not Found")
        self.assertEqual([windows_path(path) in names for path in (upper_exe, lower_exe)],
                         [False, True])

    def test_no_library_comes_from_the_programs_folder(self):
        # Told n,b, Wine takes a library from beside the program when it is
        # loaded by name: the walk's own, and what a box loads (uxtheme).
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        for name in ("PSAPI.DLL", "VDMDBG.DLL", "UXTHEME.DLL"):
            shutil.copy(fixture("decoy.dll"), os.path.join(self.workdir, "medium", name))
        names, last = walk(self, {"WINEDLLOVERRIDES": "psapi,vdmdbg,uxtheme=n,b;mscoree,mshtml=",
                                 "RECORD_DIR": windows_path(self.workdir)}, exe)
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "loaded.txt")))
        self.assertIn(windows_path(exe), names)  # the system's PSAPI.DLL walked
        self.assertEqual(last, "Not Found")

    def test_ds_removes_the_program_and_its_folder_when_empty(self):
        users = os.path.join(wine_environment()["WINEPREFIX"], "drive_c", "users")
        batches = lambda: {name for _, _, names in os.walk(users) for name in names  # noqa: E731
                           if re.fullmatch(r"DMX[0-9A-F]{4}\.BAT", name)}
        before = batches()
        decoy = self.place_setup(os.path.join(self.workdir, "ab"))
        # Read-only (del leaves it alone, the batch would retry for ever); a
        # cmd.exe beside it that must never run; a '%' that the batch must not
        # expand (%zq% would vanish: ab\setup.exe would go); '%' doubled over
        # the batch's 1000 characters: nothing is written, and it says so.
        table = (("%" * 200, 0o755, ["setup.exe"]), ("only", 0o755, None),
                 ("read-only", 0o555, None), ("shared", 0o755, ["cmd.exe"]), ("a%zq%b", 0o755, None))
        for folder, mode, left in table:
            exe = self.place_setup(os.path.join(self.workdir, folder))
            os.chmod(exe, mode)
            if folder == "shared":
                shutil.copy(fixture("recorder.exe"), os.path.join(self.workdir, folder, "cmd.exe"))
            # Out of the launcher's job, which would end the batch with it.
            run = self.start("-ds", exe=exe, env={"LAUNCH_DETACHED": "1",
                                                  "RECORD_DIR": windows_path(self.workdir)})
            if left == ["setup.exe"]:
                self.assertRegex(run.answer().text, r"^Cannot arrange the removal of .+\\setup\.exe once it "
                                 r"has ended\. \S")
            self.assertEqual(run.wait(), 1 if left == ["setup.exe"] else 0)
        for folder, _, left in table:
            path = os.path.join(self.workdir, folder)
            self.assertTrue(wait_until(lambda: (sorted(os.listdir(path)) if os.path.exists(path)
                                                else None) == left), folder)
        self.assertTrue(wait_until(lambda: batches() <= before), "a batch is left")
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "cmd.exe.txt")), "cmd.exe ran")
        self.assertTrue(os.path.exists(decoy))


class Windows98Road(WineTestCase):
    def test_tp_ta_and_the_inf_section_take_the_95_road(self):
        env = self.own_prefix()
        for key, value, data in (("", "Version", "win98"),
                                 ("\\Debug", "RelayInclude", "KERNEL32.GetVersion;"
                                  "advapi32.OpenProcessToken;advapi32.OpenThreadToken")):
            subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine" + key, "/v", value, "/d",
                            data, "/f"], env=env, capture_output=True, check=True)
        # Only a prefix with 32-bit Wine has the rundll.exe stub.
        rundll = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "rundll.exe")
        if os.path.exists(rundll):
            os.remove(rundll)
        # A 32-bit program looks in syswow64 on 64-bit Wine.
        for folder in ("system32", "syswow64"):
            system = os.path.join(env["WINEPREFIX"], "drive_c", "windows", folder)
            for name in os.listdir(system) if os.path.isdir(system) else []:
                if name.lower() == "setupapi.dll":
                    os.remove(os.path.join(system, name))

        start_task(self, "_ISDEL.EXE", env)
        names, last = walk(self, env)
        # ToolHelp names a process by its file name alone.
        self.assertEqual(last, "Found")
        self.assertIn("_ISDEL.EXE", names)

        run = self.start("-ta", env=dict(env, WINEDEBUG="+relay"))
        self.assertEqual(run.answer().text, "You have admin rights")
        self.assertEqual(run.wait(), 0)
        # No token is opened.
        self.assertEqual(set(re.findall(r":Call ([\w.]+)\(", run.output())), {"KERNEL32.GetVersion"})

        # An installation from a medium started by its short name: the engine
        # gets the INF's short name, from the directory's long form.
        medium = os.path.join(self.workdir, "longdirectoryname")
        self.place_setup(medium)
        open(os.path.join(medium, "ZQK9150.INF"), "w").close()
        short = subprocess.run(["winepath", "-s", windows_path(medium)], env=env, text=True,
                               capture_output=True).stdout.strip()
        self.assertNotEqual(short, windows_path(medium))
        run = self.start("-v", exe=short + "\\setup.exe", env=env)
        texts = [box.text for box in run.steps("all")]
        self.assertEqual(texts[-4:-1], [
            "About to run ZQK9150.INF", "Curdir = " + windows_path(medium),
            "Running rundll.exe setupx.dll,InstallHinfSection SetupInstall 128 %s\\ZQK9150.INF"
            % short])
        # The engine's rundll.exe is gone (32-bit Wine would start its stub),
        # and the system says so.
        self.assertRegex(texts[-1], r"^Failed to launch \.\\ZQK9150\.INF\. \S.*\.$")
        self.assertEqual(run.wait(), 1)


if __name__ == "__main__":
    unittest.main()
