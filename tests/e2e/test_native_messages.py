"""The Linux build: exit codes, messages on standard error, answers typed on
a terminal, usage on standard output, silent mode."""

import os
import shutil
import unittest

from harness import USAGE, NativeTestCase, setup_native


class ExitCodesAndMessages(NativeTestCase):
    def test_tr_reports_on_standard_error_and_returns_its_value(self):
        result = self.run_setup("-tr", "7")
        self.assertEqual((result.exit_code, result.stdout, result.stderr),
                         (7, "", "About to return exit code 7\n"))
        self.assertEqual(self.run_setup("-TR", "A").exit_code, 17)

    def test_unsupported_arguments_end_with_one(self):
        for args, shown in ((["-Q"], "-q"), (["/"], "/"), (["stray", "-tr", "5"], "stray")):
            with self.subTest(args=args):
                result = self.run_setup(*args)
                self.assertEqual((result.exit_code, result.stdout, result.stderr),
                                 (1, "", "Unsupported argument: %s\n" % shown))

    def test_arguments_are_joined_and_split_like_a_windows_line(self):
        # One argv word with a blank is two arguments; the ninth keeps the rest.
        self.assertEqual(self.run_setup("-tr 5").exit_code, 5)
        result = self.run_setup(*(["-v"] * 8 + ["-Q", "\"x"]))
        self.assertEqual((result.exit_code, result.stderr),
                         (1, "Unsupported argument: -q \"x\n"))

    def test_the_program_directory_becomes_current(self):
        medium = os.path.join(self.workdir, "Disk One")
        os.makedirs(medium)
        exe = os.path.join(medium, "setup")
        shutil.copy2(setup_native(), exe)
        result = self.run_setup("-tl", ".", exe=exe, cwd=self.workdir)
        self.assertEqual((result.exit_code, result.stderr),
                         (0, "LFN = %s\n" % os.path.realpath(medium)))

    def test_no_status_line_when_not_on_a_terminal(self):
        result = self.run_setup("-tm")
        self.assertEqual((result.exit_code, result.stderr),
                         (0, "Press OK to continue\nDid it disappear?\n"))

    def test_version(self):
        result = self.run_setup("--version")
        self.assertEqual((result.exit_code, result.stderr), (0, ""))
        self.assertRegex(result.stdout, r"^setup \(ZQ K9150 Setup\) \d+\.\d+\.\d+\n$")

    def test_long_message_is_cut_to_1023_characters(self):
        word = "-" + "w" * 1999
        result = self.run_setup(word)
        self.assertEqual(result.exit_code, 1)
        self.assertEqual(result.stderr, ("Unsupported argument: " + word)[:1023] + "\n")


class Usage(NativeTestCase):
    def test_usage_goes_to_standard_output_even_in_silent_mode(self):
        for args, code in ((["-?"], 0), (["-s", "-?"], 0), (["--help"], 0), (["-h"], 0),
                           (["-a", "arch"], 1),
                           (["-x", "arch"], 1), (["-c"], 1), (["-tr"], 1), (["-tl"], 1)):
            with self.subTest(args=args):
                result = self.run_setup(*args)
                self.assertEqual((result.exit_code, result.stdout, result.stderr),
                                 (code, USAGE, ""))


class SilentMode(NativeTestCase):
    def test_silent_mode_prints_nothing(self):
        for args, code in ((["-s", "-q"], 1), (["-s", "-tr", "5"], 5), (["-s", "-tm"], 0),
                           (["-s", "-dt"], 1), (["-s", "-dt", "no-such-directory"], 1)):
            with self.subTest(args=args):
                result = self.run_setup(*args)
                self.assertEqual((result.exit_code, result.stdout, result.stderr),
                                 (code, "", ""))


class Terminal(NativeTestCase):
    def test_enter_is_ok_and_c_or_end_of_input_is_cancel(self):
        for typed, code in ((b"\n", 7), (b"c\n", 1), (b"C\n", 1), (b"\x04", 1)):
            with self.subTest(typed=typed):
                result = self.run_on_terminal("-tr", "7", typed=typed)
                self.assertEqual(result.exit_code, code)
                self.assertTrue(result.stderr.startswith("About to return exit code 7\n"),
                                result.stderr)

    def test_cancel_on_a_later_message_ends_with_one(self):
        result = self.run_on_terminal("-tm", typed=b"\nc\n")
        self.assertEqual(result.exit_code, 1)
        self.assertIn("Press OK to continue\n", result.stderr)
        self.assertIn("Did it disappear?\n", result.stderr)


if __name__ == "__main__":
    unittest.main()
