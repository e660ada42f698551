"""The installation under Wine, end to end: the real setup.exe, rundll32 and
setupapi, a medium of three pieces with a decoy rundll32.exe beside them, and
the recorder fixture as InstallShield's setup and its clean-up task."""

import os
import re
import shutil
import subprocess
import time
import unittest

from harness import WineTestCase, fixture, read, run_boxdriver, scratch, wait_until, windows_path, write
from medium import PIECES, build_medium, read_record, run_silent, target_directory, write_inf

TARGET = "C:\\windows\\temp\\ZQK9150"
SETUP_LINE = TARGET + "\\is\\setup.exe"
STOPPED = "The installation stopped: %s failed; what it had copied is removed."
ANOTHER = "Another installation of the ZQ K9150 driver is running."


def clear(path):
    if os.path.islink(path) or os.path.isfile(path):
        os.remove(path)
    shutil.rmtree(path, ignore_errors=True)


class Installation(WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.build = scratch("medium-")
        cls.addClassCleanup(shutil.rmtree, cls.build, True)
        cls.medium = os.path.join(cls.build, "medium")
        cls.archive = build_medium(cls.medium, cls.build)
        # Found first if the setup engine were started by its bare name.
        shutil.copy(fixture("recorder.exe"), os.path.join(cls.medium, "rundll32.exe"))

    def setUp(self):
        super().setUp()
        self.target = target_directory()
        clear(self.target)
        self.addCleanup(clear, self.target)
        self.records = os.path.join(self.workdir, "records")
        os.makedirs(self.records)
        self.default_log = self.target + ".LOG"
        clear(self.default_log)
        self.addCleanup(clear, self.default_log)

    def install(self, line="", exe=None, **env):
        return self.start(line, exe=exe or os.path.join(self.medium, "setup.exe"),
                          env=dict(env, RECORD_DIR=windows_path(self.records)))

    def record(self, name):
        return read_record(os.path.join(self.records, name + ".txt"))

    def log(self, path=None):
        """The installation's log, its time stamps and indentation left out."""
        text = read(path or self.default_log).decode("latin-1")
        self.assertNotIn("\n", text.replace("\r\n", ""))
        return re.sub(r"(?m)^(\d\d:\d\d:\d\d| {8}) ", "", text.replace("\r\n", "\n"))

    def test_silent_installation_from_a_medium_folder(self):
        # Left by an earlier run, or planted: gone before the medium comes.
        for name in ("planted.dll", "IS/sub/planted.dll"):
            write(os.path.join(self.target, name), b"planted")
        run = self.install("-s -is /q", LAUNCH_SHOW="1", RECORD_RESULT="0")
        seen = []
        while run.process.poll() is None:
            seen += [report for report in run_boxdriver("peek", "status") if report]
        self.assertEqual((run.wait(), seen), (0, []))  # no box, no status window
        # The log outlives the target: every step, setup's command line and its setup.log.
        log = self.log()
        for line in ("Running %s -s /q" % SETUP_LINE, "ResultCode=0", "Done: removing the target directory.",
                     "Exit code: 0"):
            self.assertIn(line + "\n", log)
        self.assertEqual(re.findall(r"(?m)^Step: (.*)\.$", log), [
            "checking administrator rights", "removing what an earlier run left", "installing ZQK9150.INF",
            "entering the target directory", "rejoining the package's pieces", "unpacking the package",
            "starting InstallShield's setup", "waiting for InstallShield's clean-up task",
            "checking InstallShield's setup.log", "removing the target directory"])
        setup = self.record("setup.exe")
        self.assertEqual(setup["command_line"], SETUP_LINE + " -s /q")
        self.assertEqual((int(setup["flags"]) & 1, setup["show"]), (1, "0"))  # SW_HIDE given
        # The pieces were joined before setup ran, and are gone.
        self.assertEqual(setup["files"], {"ZQK9150.ZQA": os.path.getsize(self.archive)})
        self.assertTrue(self.record("_ISDEL.EXE")["ended"])
        # The medium's rundll32.exe never ran.
        self.assertEqual(sorted(os.listdir(self.records)), ["_ISDEL.EXE.txt", "setup.exe.txt"])
        self.assertFalse(os.path.exists(self.target))

    def test_a_flipped_bit_in_piece_2_names_its_disk_and_nothing_runs(self):
        medium = shutil.copytree(self.medium, os.path.join(self.workdir, "medium"))
        piece = bytearray(read(os.path.join(medium, "ZQK9150.002")))
        piece[len(piece) // 2] ^= 0x08
        write(os.path.join(medium, "ZQK9150.002"), bytes(piece))
        run = self.install(exe=os.path.join(medium, "setup.exe"))
        self.assertEqual([box.text for box in run.steps("all")],
                         ["The package on disk 2 (ZQK9150.002) is damaged. Copy the medium again.",
                          STOPPED % "rejoining the package's pieces"])
        self.assertEqual(run.wait(), 1)
        self.assertEqual(os.listdir(self.records), [])  # the vendor's setup never started
        self.assertFalse(os.path.exists(self.target))

    def test_a_target_that_cannot_be_removed_stops_before_anything_runs(self):
        outside = os.path.join(self.workdir, "outside")
        write(os.path.join(outside, "keep"), b"keep")
        for planted_link in (True, False):
            if planted_link:  # only the link itself may go, which Wine cannot do
                os.symlink(outside, self.target)
            else:  # a read-only file, which Wine will not delete
                shutil.copytree(outside, self.target)
                os.chmod(os.path.join(self.target, "keep"), 0o444)
            run = self.install()
            texts = [box.text for box in run.steps("all")]
            self.assertRegex(texts[0], r"^Cannot delete C:\\windows\\temp\\ZQK9150(\\keep)?\. ")
            self.assertEqual(texts[1:], ["The target directory %s is there from before and cannot be removed; "
                                         "nothing was installed." % TARGET])
            self.assertEqual(run.wait(), 1)
            # Neither the INF installation nor setup ran.
            self.assertEqual((os.listdir(self.target), os.listdir(self.records)), (["keep"], []))
            clear(self.target)
        self.assertEqual(read(os.path.join(outside, "keep")), b"keep")

    def test_a_cleanup_task_that_never_comes(self):
        run = self.install(RECORD_NO_CLEANUP="1")
        self.assertEqual(run.answer(timeout=90).text, "Install Shield did not start.")
        self.assertEqual(run.answer().text, STOPPED % "waiting for InstallShield's clean-up task")
        self.assertEqual(run.wait(), 1)
        self.assertIsNotNone(self.record("setup.exe"))
        self.assertFalse(os.path.exists(self.target))

    def from_target(self, names, line="", **env):
        """Runs a setup.exe placed in the target directory with names from the
        build (pieces, archive) and an INF that would leave a mark: no INF
        installation runs."""
        for name in names:
            shutil.copy(os.path.join(self.build, name), os.path.join(self.target, name))
        write(os.path.join(self.target, "marker.txt"), b"marker")
        write_inf(self.target, files=["marker.txt"], destination="10,temp\\ZQMARK")
        self.marker = os.path.join(os.path.dirname(self.target), "ZQMARK")
        self.addCleanup(shutil.rmtree, self.marker, True)
        self.place_setup(self.target)
        # Started by its Windows name, so that its directory is the target's.
        return self.install(line, exe=TARGET + "\\setup.exe", **env)

    def test_from_the_target_directory_read_only_pieces_are_joined_and_setup_removes_itself(self):
        os.makedirs(self.target)
        for name in PIECES:
            os.chmod(shutil.copy(os.path.join(self.build, name), self.target), 0o444)
        # Shown as a shell shows it; the self-removal batch must outlive the launcher.
        run = self.from_target([], "-v -is /z   \"a b\"", LAUNCH_SHOW="1", LAUNCH_DETACHED="1")
        texts = [box.text for box in run.steps("all")]
        self.assertEqual(run.wait(120), 0)
        setup = self.record("setup.exe")
        self.assertEqual((setup["command_line"], setup["show"]), (SETUP_LINE + " /z \"a b\"", "5"))
        self.assertEqual({name: setup["files"].get(name) for name in ("ZQK9150.ZQA", "ZQK9150.001")},
                         {"ZQK9150.ZQA": os.path.getsize(self.archive), "ZQK9150.001": None})
        for text in ("Target directory is " + TARGET, "Changing ZQK9150.001 attributes to R/W",
                     "Running %s /z \"a b\"" % SETUP_LINE, "%s /z \"a b\" terminated." % SETUP_LINE,
                     "Install Shield setup _ISDEL daughter task complete.\nAbout to cleanup all "
                     "setup files."):
            self.assertIn(text, texts)
        self.assertFalse(os.path.exists(self.marker), "the INF was installed")
        self.assertTrue(wait_until(lambda: not os.path.exists(self.target), 20))

    def test_from_the_target_directory_an_archive_without_pieces_is_unpacked_as_it_is(self):
        os.makedirs(self.target)
        # A 64-bit clean-up task, which a 32-bit setup.exe must see come and go.
        cleanup = shutil.copy(fixture("recorder64.exe"), os.path.join(self.workdir, "_ISDEL.EXE"))
        run = self.from_target(["ZQK9150.ZQA"], "-s", RECORD_CLEANUP=windows_path(cleanup), RECORD_RESULT="0")
        self.assertEqual(run.wait(120), 0)
        self.assertEqual(self.record("setup.exe")["files"]["ZQK9150.ZQA"],
                         os.path.getsize(self.archive))
        self.assertTrue(self.record("_ISDEL.EXE")["ended"])

    def test_an_installation_that_cannot_go_on_is_undone(self):
        # A package without InstallShield's setup, and one on a disk too small to unpack it.
        payload, archive = os.path.join(self.workdir, "payload"), os.path.join(self.workdir, "ZQK9150.ZQA")
        write(os.path.join(payload, "readme.txt"), b"no setup here")
        run_silent("-s -a %s %s" % (windows_path(archive), windows_path(payload)))
        damaged = os.path.join(self.workdir, "damaged", "ZQK9150.ZQA")
        write(damaged, read(self.archive)[:1000000])
        for case, step, first in (
                ("no setup", "starting InstallShield's setup", r'^Failed to run "%s ?" ' % re.escape(SETUP_LINE)),
                ("damaged", "unpacking the package", r"^Archive ZQK9150\.ZQA is damaged: it ends inside a "
                                                     r"compressed file\."),
                ("disk full", "unpacking the package", r"^Failed to write file data\\padding\.bin\. ")):
            with self.subTest(case):
                if case == "disk full":
                    # Over the target's parent: Wine shows a mount point as a reparse point.
                    temp = os.path.dirname(self.target)
                    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", temp],
                                      capture_output=True).returncode != 0:
                        self.skipTest("no small file system can be mounted here")
                    self.addCleanup(subprocess.run, ["umount", temp], capture_output=True)
                    archive = self.archive
                if case == "damaged":
                    archive = damaged
                os.makedirs(self.target)
                shutil.copy(archive, os.path.join(self.target, "ZQK9150.ZQA"))
                run = self.from_target([])
                texts = [box.text for box in run.steps("all")]
                self.assertRegex(texts[0], first)
                self.assertEqual(texts[-1], STOPPED % step)
                self.assertEqual(run.wait(), 1)
                self.assertEqual(os.listdir(self.target), ["setup.exe"])
                # The log tells every box, and which step failed.
                log = self.log()
                for text in texts:
                    self.assertIn("Message: " + text.rstrip("\n") + "\n", log)
                self.assertIn("Failed: %s.\nStep: removing the target directory.\n" % step, log)
                self.assertTrue(log.endswith("Done: removing the target directory.\nExit code: 1\n"), log)
                clear(self.target)

    def test_installshield_result_decides_a_silent_run(self):
        elsewhere = os.path.join(self.workdir, "logs")
        os.makedirs(elsewhere)
        own_log, is_log = os.path.join(elsewhere, "k9150.log"), os.path.join(elsewhere, "is.log")
        write(is_log, b"[ResponseResult]\r\nResultCode=-5\r\n")  # from before: never read
        for line, result, code, log, told in (
                ("-s", "-3", 1, None, "InstallShield's setup reported failure (ResultCode -3)."),
                ("-s", None, 1, None, "Cannot read InstallShield's setup.log %s\\is\\setup.log. " % TARGET),
                ("-s -log %s -is -f2%s" % (windows_path(own_log), windows_path(is_log)), "0", 0, own_log, None),
                ("-is -f2%s" % windows_path(is_log), None, 0, None, None)):  # a visible run has none
            with self.subTest(line=line, result=result):
                env = {"RECORD_RESULT": result} if result else {}
                run = self.install(line, **env)
                self.assertEqual(run.wait(120), code)
                self.assertFalse(os.path.exists(self.target))
                text = self.log(log)
                self.assertIn("Exit code: %d\n" % code, text)
                if told:
                    self.assertRegex(text, r"\nMessage: %s.*\nMessage: %s\n" % (
                        re.escape(told), re.escape(STOPPED % "checking InstallShield's setup.log")))
                if result:
                    self.assertIn("InstallShield's setup.log: [InstallShield Silent]\n", text)
                    self.assertIn("ResultCode=%s\n" % result, text)
                self.assertEqual(os.path.exists(self.default_log), log is None)
                clear(self.default_log)
        self.assertIn(b"ResultCode=0", read(is_log))

    def test_a_second_installation_meanwhile_changes_nothing(self):
        first = self.install("-s -is /first", RECORD_RESULT="0", RECORD_CLEANUP_MS="20000")
        self.assertTrue(wait_until(lambda: self.record("setup.exe") is not None, 60))
        started = time.monotonic()
        second = self.install("-s -is /second", RECORD_RESULT="0")
        self.assertEqual(second.wait(), 1)
        self.assertLess(time.monotonic() - started, 5)
        # Visible, it says so in a box; the medium's tools take no lock.
        self.assertEqual(self.converse("", "ok", exe=os.path.join(self.medium, "setup.exe")).texts, [ANOTHER])
        self.assertEqual(self.converse("-tr 7", "ok").exit_code, 7)
        self.assertFalse(self.record("_ISDEL.EXE")["ended"])  # the first still waits
        self.assertEqual(first.wait(120), 0)
        # The vendor's setup ran once, for the first; the others added their lines to the first's log.
        self.assertEqual(self.record("setup.exe")["command_line"], SETUP_LINE + " -s /first")
        log = self.log()
        self.assertRegex(log, r"\n[^\n]*setup\.exe -s -is /second\nMessage: %s\nExit code: 1\n" % ANOTHER)
        self.assertEqual(log.count("Message: " + ANOTHER), 2)
        self.assertTrue(log.endswith("Done: removing the target directory.\nExit code: 0\n"), log)

    def test_a_file_held_after_the_cleanup_task_is_waited_out(self):
        run = self.install("-s", RECORD_RESULT="0", RECORD_HOLD="IS\\readme.txt,9000")
        self.assertEqual(run.wait(120), 0)
        self.assertFalse(os.path.exists(self.target))
        waited = re.findall(r"\n%s\\IS\\readme\.txt was in use; waited (\d+) ms for it\.\n" % re.escape(TARGET),
                            self.log())
        self.assertEqual(len(waited), 1)
        self.assertGreater(int(waited[0]), 1000)

    def test_from_the_target_directory_a_missing_third_piece(self):
        os.makedirs(self.target)
        run = self.from_target(PIECES[:2])
        self.assertRegex(run.answer().text, r"^Error 2: .+\nAppend: Error reading from file ZQK9150.003.\n$")
        self.assertEqual(run.answer().text, STOPPED % "rejoining the package's pieces")
        self.assertEqual(run.wait(), 1)
        # All goes but the running program, which removes itself after its end.
        self.assertEqual(os.listdir(self.target), ["setup.exe"])


if __name__ == "__main__":
    unittest.main()
