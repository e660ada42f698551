"""The installation under Wine, end to end: the real setup.exe, the real
rundll32 and setupapi, a medium of three pieces (and a decoy rundll32.exe
beside them), the vendor setup's stand-in and its clean-up task."""

import os
import shutil
import time
import unittest

from harness import WineTestCase, run_boxdriver, windows_path
from medium import (PIECE, PIECES, build_medium, fixture, make_payload, read_record, run_silent,
                    target_directory, write_inf)

TARGET = "C:\\windows\\temp\\ZQK9150"
SETUP_LINE = TARGET + "\\is\\setup.exe"


class InstallTestCase(WineTestCase):
    def setUp(self):
        super().setUp()
        self.target = target_directory()
        shutil.rmtree(self.target, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.target, True)
        self.records = os.path.join(self.workdir, "records")
        os.makedirs(self.records)
        self.standin = os.path.join(self.records, "standin.txt")
        self.cleanup_task = os.path.join(self.records, "isdel.txt")
        self.decoy = os.path.join(self.records, "decoy.txt")
        self.env = {"STANDIN_RECORD": windows_path(self.standin),
                    "STANDIN_CLEANUP_RECORD": windows_path(self.cleanup_task),
                    "STANDIN_CLEANUP_MS": "3000", "RECORD_FILE": windows_path(self.decoy)}

    def medium(self):
        folder = os.path.join(self.workdir, "medium")
        self.archive = build_medium(folder, os.path.join(self.workdir, "build"))
        # Found first if the setup engine were started by its bare name.
        shutil.copyfile(fixture("recorder.exe"), os.path.join(folder, "rundll32.exe"))
        return os.path.join(folder, "setup.exe")

    def install(self, line="", exe=None, **env):
        environment = dict(self.env)
        environment.update(env)
        return self.start(line, exe=exe or self.medium(), env=environment)

    def assert_installed_and_gone(self, arguments=""):
        standin = read_record(self.standin)
        self.assertIsNotNone(standin, "the vendor setup never ran")
        self.assertEqual(standin["command_line"], SETUP_LINE + arguments)
        self.assertTrue(read_record(self.cleanup_task)["ended"])
        self.assertFalse(os.path.exists(self.target))
        self.assertIsNone(read_record(self.decoy), "the medium's rundll32.exe ran")
        return standin


class Installation(InstallTestCase):
    def test_full_installation_from_a_medium_folder(self):
        # Left by an earlier run, or by someone else: gone before the medium comes.
        os.makedirs(os.path.join(self.target, "IS", "sub"))
        for name in ("planted.dll", os.path.join("IS", "sub", "planted.dll")):
            with open(os.path.join(self.target, name), "wb") as file:
                file.write(b"planted")
        started = time.monotonic()
        run = self.install()
        self.assertEqual(run.wait(timeout=120), 0)
        standin = self.assert_installed_and_gone()
        # The pieces were joined before setup ran; .001 to .003 are gone.
        self.assertEqual(sorted(standin["files"]), ["ZQK9150.ZQA"])
        self.assertEqual(standin["files"]["ZQK9150.ZQA"], os.path.getsize(self.archive))
        print("full installation: %.1f s" % (time.monotonic() - started))

    def test_silent_installation_shows_nothing_and_hides_setup(self):
        run = self.install("-s -is /q", LAUNCH_SHOW="1")
        seen = []
        while run.exit_code_now() is None:
            seen += [r for r in run_boxdriver("peek", "status") if r]
        self.assertEqual(run.wait(), 0)
        self.assertEqual(seen, [], "a box or a status window appeared")
        standin = self.assert_installed_and_gone(" -s /q")
        self.assertEqual(int(standin["flags"]) & 1, 1)  # STARTF_USESHOWWINDOW
        self.assertEqual(standin["show"], "0")          # SW_HIDE

    def test_arguments_reach_setup_and_it_is_shown(self):
        run = self.install("-is /z   \"a b\"", LAUNCH_SHOW="1")
        self.assertEqual(run.wait(timeout=120), 0)
        standin = self.assert_installed_and_gone(" /z \"a b\"")
        self.assertEqual(standin["show"], "5")  # SW_SHOW

    def test_cancel_on_the_first_verbose_box_copies_nothing(self):
        run = self.install("-v")
        box = run.answer("cancel")
        self.assertTrue(box.text.startswith("Current dir: "), box.text)
        self.assertEqual(run.wait(), 1)
        self.assertFalse(os.path.exists(self.target))
        self.assertIsNone(read_record(self.standin))

    def test_a_target_directory_that_cannot_be_removed_stops_before_anything_runs(self):
        outside = os.path.join(self.workdir, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "keep"), "wb") as file:
            file.write(b"keep")
        exe = self.medium()
        for planted_link in (True, False):
            if planted_link:  # only the link itself may go, which Wine cannot do
                os.symlink(outside, self.target)
            else:  # a read-only file, which Wine will not delete
                shutil.copytree(outside, self.target)
                os.chmod(os.path.join(self.target, "keep"), 0o444)
            try:
                run = self.install(exe=exe)
                self.assertEqual(run.answer().text,
                                 "The target directory %s is there from before and cannot be "
                                 "removed; nothing was installed." % TARGET)
                self.assertEqual(run.wait(), 1)
                # Neither the INF installation nor the vendor setup ran.
                self.assertEqual(os.listdir(self.target), ["keep"])
                self.assertIsNone(read_record(self.standin))
            finally:
                if planted_link:
                    os.remove(self.target)
                else:
                    shutil.rmtree(self.target)
        with open(os.path.join(outside, "keep"), "rb") as file:
            self.assertEqual(file.read(), b"keep")

    def test_a_cleanup_task_that_never_comes(self):
        run = self.install(STANDIN_NO_CLEANUP="1")
        box = run.answer("ok", timeout=90)
        self.assertEqual(box.text, "Install Shield did not start.")
        self.assertEqual(run.wait(), 1)
        self.assertIsNotNone(read_record(self.standin))


class FromTheTargetDirectory(InstallTestCase):
    """setup.exe placed in the target directory with the medium's files, as
    the INF installation leaves them: no INF installation runs."""

    def prepare(self, pieces=PIECES, archive=False):
        work = os.path.join(self.workdir, "build")
        make_payload(os.path.join(work, "payload"))
        whole = os.path.join(work, "ZQK9150.ZQA")
        run_silent("-s -a %s %s" % (windows_path(whole), windows_path(os.path.join(work, "payload"))),
                   work)
        os.makedirs(self.target)
        if archive:
            shutil.copyfile(whole, os.path.join(self.target, "ZQK9150.ZQA"))
        else:
            run_silent("-s -c %s" % windows_path(whole), work)
            for name in pieces:
                shutil.copyfile(os.path.join(work, name), os.path.join(self.target, name))
        # An INF that would leave a mark if it were installed.
        with open(os.path.join(self.target, "marker.txt"), "w") as file:
            file.write("marker")
        write_inf(self.target, files=["marker.txt"], destination="10,temp\\ZQMARK")
        self.marker = os.path.join(os.path.dirname(self.target), "ZQMARK")
        shutil.rmtree(self.marker, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.marker, True)
        self.place_setup(self.target)
        # Started by its Windows name, so that its directory is the target's.
        return whole, TARGET + "\\setup.exe"

    def test_runs_without_the_inf_and_removes_itself(self):
        whole, exe = self.prepare()
        # The self-removal batch must outlive setup and its launcher.
        run = self.install(exe=exe, LAUNCH_DETACHED="1")
        self.assertEqual(run.wait(timeout=120), 0)
        standin = read_record(self.standin)
        self.assertEqual(standin["command_line"], SETUP_LINE)
        self.assertFalse(os.path.exists(self.marker), "the INF was installed")
        deadline = time.monotonic() + 20
        while os.path.exists(self.target) and time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertFalse(os.path.exists(self.target), os.listdir(self.target)
                         if os.path.exists(self.target) else None)

    def test_missing_third_piece(self):
        whole, exe = self.prepare(pieces=PIECES[:2])
        run = self.install(exe=exe)
        box = run.answer("ok")
        self.assertTrue(box.text.startswith("Error "), box.text)
        self.assertTrue(box.text.endswith(": \nAppend: Error reading from file ZQK9150.003.\n"),
                        box.text)
        self.assertEqual(run.wait(), 1)
        with open(whole, "rb") as file:
            first_two = file.read()[:os.path.getsize(whole) - PIECE]
        with open(os.path.join(self.target, "ZQK9150.ZQA"), "rb") as file:
            self.assertEqual(file.read(), first_two)

    def test_a_fourth_piece_is_neither_joined_nor_deleted(self):
        whole, exe = self.prepare()
        with open(os.path.join(self.target, "ZQK9150.004"), "wb") as file:
            file.write(b"not part of it")
        run = self.install(exe=exe)
        self.assertEqual(run.wait(timeout=120), 0)
        files = read_record(self.standin)["files"]
        self.assertEqual(files["ZQK9150.004"], len(b"not part of it"))
        self.assertEqual(files["ZQK9150.ZQA"], os.path.getsize(whole))
        self.assertNotIn("ZQK9150.001", files)

    def test_an_archive_without_pieces_is_extracted_as_it_is(self):
        whole, exe = self.prepare(archive=True)
        run = self.install(exe=exe)
        self.assertEqual(run.wait(timeout=120), 0)
        self.assertEqual(read_record(self.standin)["files"]["ZQK9150.ZQA"],
                         os.path.getsize(whole))

    def test_read_only_pieces_are_made_writable_and_joined(self):
        whole, exe = self.prepare()
        for name in PIECES:
            os.chmod(os.path.join(self.target, name), 0o444)
        run = self.install(exe=exe)
        self.assertEqual(run.wait(timeout=120), 0)
        self.assertEqual(sorted(read_record(self.standin)["files"]),
                         ["MARKER.TXT", "SETUP.EXE", "ZQK9150.INF", "ZQK9150.ZQA"])

if __name__ == "__main__":
    unittest.main()
