"""The Linux build's system services: -ds leaves a script that removes the
program once it has ended, -tp walks /proc, -ta asks for the super-user."""

import os
import shutil
import subprocess
import time
import unittest
from unittest import mock

from harness import NativeTestCase, setup_native


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


class SelfRemoval(NativeTestCase):
    def test_program_goes_after_its_end_with_its_folder_when_empty(self):
        temp = os.path.join(self.workdir, "tmp")  # where the script goes
        alone = os.path.join(self.workdir, "it's $HOME")
        shared = os.path.join(self.workdir, "shared")
        for folder in (temp, alone, shared):
            os.makedirs(folder)
        open(os.path.join(shared, "other"), "w").close()
        for folder in (alone, shared):
            exe = shutil.copy2(setup_native(), os.path.join(folder, "setup"))
            with mock.patch.dict(os.environ, TMPDIR=temp):
                result = self.run_setup("-ds", exe=exe)
            self.assertEqual((result.exit_code, result.stderr), (0, ""))
        self.assertTrue(wait_until(lambda: not os.path.lexists(alone)))
        self.assertTrue(wait_until(lambda: os.listdir(temp) == []), os.listdir(temp))
        self.assertEqual(os.listdir(shared), ["other"])


class Switches(NativeTestCase):
    def test_tp_finds_a_running_cleanup_task_by_its_executable(self):
        task = shutil.copy2("/bin/sleep", os.path.join(self.workdir, "_ISDEL.EXE"))
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

    def test_ta_asks_for_the_super_user(self):
        result = self.run_setup("-ta")
        expected = "You have admin rights" if os.geteuid() == 0 else "You DO NOT have admin rights"
        self.assertEqual((result.exit_code, result.stderr), (0, expected + "\n"))


if __name__ == "__main__":
    unittest.main()
