"""The Linux build's system services: -ds leaves a script that removes the
program once it has ended, -tp walks /proc, -ta asks for the super-user."""

import glob
import os
import shutil
import subprocess
import time
import unittest

from harness import NativeTestCase, setup_native


class SelfRemoval(NativeTestCase):
    def setUp(self):
        super().setUp()
        # The script goes to $TMPDIR: a folder of the test's own to look into.
        self.temp = os.path.join(self.workdir, "tmp")
        os.makedirs(self.temp)
        previous = os.environ.get("TMPDIR")
        os.environ["TMPDIR"] = self.temp
        self.addCleanup(self.restore_tmpdir, previous)

    @staticmethod
    def restore_tmpdir(previous):
        if previous is None:
            os.environ.pop("TMPDIR", None)
        else:
            os.environ["TMPDIR"] = previous

    def place(self, folder):
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "setup")
        shutil.copy2(setup_native(), exe)
        return exe

    def gone(self, path, seconds=10):
        deadline = time.monotonic() + seconds
        while os.path.lexists(path) and time.monotonic() < deadline:
            time.sleep(0.1)
        return not os.path.lexists(path)

    def test_program_and_its_empty_folder_go_after_the_end(self):
        folder = os.path.join(self.workdir, "it's $HOME")
        exe = self.place(folder)
        result = self.run_setup("-ds", exe=exe)
        self.assertEqual((result.exit_code, result.stderr), (0, ""))
        self.assertTrue(self.gone(folder))
        deadline = time.monotonic() + 10
        while glob.glob(os.path.join(self.temp, "DMX*.sh")) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(os.listdir(self.temp), [])

    def test_other_files_keep_the_folder(self):
        folder = os.path.join(self.workdir, "shared")
        exe = self.place(folder)
        with open(os.path.join(folder, "other"), "w") as file:
            file.write("stays")
        self.assertEqual(self.run_setup("-ds", exe=exe).exit_code, 0)
        self.assertTrue(self.gone(exe))
        deadline = time.monotonic() + 10
        while os.listdir(self.temp) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(os.listdir(self.temp), [])
        self.assertEqual(os.listdir(folder), ["other"])


class ProcessWalk(NativeTestCase):
    def test_tp_finds_a_running_cleanup_task_by_its_executable(self):
        task = os.path.join(self.workdir, "_ISDEL.EXE")
        shutil.copy2("/bin/sleep", task)
        process = subprocess.Popen([task, "30"])
        try:
            result = self.run_setup("-tp")
        finally:
            process.kill()
            process.wait()
        lines = result.stderr.splitlines()
        self.assertEqual((result.exit_code, lines[-1]), (0, "Found"))
        self.assertIn("Process %d = %s" % (process.pid, os.path.realpath(task)), lines)
        self.assertEqual(self.run_setup("-tp").stderr.splitlines()[-1], "Not Found")


class AdminCheck(NativeTestCase):
    def test_ta_asks_for_the_super_user(self):
        result = self.run_setup("-ta")
        expected = "You have admin rights" if os.geteuid() == 0 else "You DO NOT have admin rights"
        self.assertEqual((result.exit_code, result.stderr), (0, expected + "\n"))


if __name__ == "__main__":
    unittest.main()
