"""setup.exe under Wine: exit codes, message boxes and the status window."""

import unittest

import os

from harness import USAGE, WineTestCase, run_boxdriver, windows_path

GREY = (0xC0, 0xC0, 0xC0)
BLACK = (0, 0, 0)


class ExitCodes(WineTestCase):
    def test_tr_shows_and_returns_its_value(self):
        talk = self.converse("-tr 7", "ok")
        self.assertEqual(talk.texts, ["About to return exit code 7"])
        self.assertEqual(talk.boxes[0].buttons, ["ok", "cancel"])
        self.assertEqual(talk.exit_code, 7)
        self.assertEqual(talk.run.status, 7)  # what a Unix caller of Wine sees

        talk = self.converse("/TR A", "ok")
        self.assertEqual(talk.texts, ["About to return exit code 17"])
        self.assertEqual(talk.exit_code, 17)

    def test_unsupported_argument_ends_with_one_whatever_the_answer(self):
        for answer in ("ok", "cancel", "esc"):
            with self.subTest(answer=answer):
                talk = self.converse("-q", answer)
                self.assertEqual(talk.texts, ["Unsupported argument: -q"])
                self.assertEqual(talk.exit_code, 1)

    def test_ninth_argument_keeps_the_rest_of_the_line(self):
        # Eight -v apart by blanks and tabs, then "-Q   \"x  " whole: its
        # blanks and the quote stay.
        talk = self.converse("-v \t" * 8 + "-Q   \"x  ", "ok")
        self.assertEqual(talk.texts, ["Unsupported argument: -q   \"x  "])
        self.assertEqual(talk.exit_code, 1)

    def test_stray_word_ends_the_walk_before_any_action(self):
        talk = self.converse("stray -tr 5", "ok")
        self.assertEqual(talk.texts, ["Unsupported argument: stray"])
        self.assertEqual(talk.exit_code, 1)


class StartUp(WineTestCase):
    def test_the_program_directory_becomes_current(self):
        medium = os.path.join(self.workdir, "Disk One")
        exe = self.place_setup(medium)
        talk = self.converse("-tl .", "ok", exe=exe, cwd=self.workdir)
        self.assertEqual(talk.texts, ["LFN = " + windows_path(medium)])
        self.assertEqual(talk.exit_code, 0)


class Cancel(WineTestCase):
    def test_cancel_escape_and_close_end_with_one(self):
        for answer in ("cancel", "esc", "close"):
            with self.subTest(answer=answer):
                talk = self.converse("-tr 7", answer)
                self.assertEqual(talk.texts, ["About to return exit code 7"])
                self.assertEqual(talk.exit_code, 1)

    def test_cancel_on_a_later_box_ends_with_one(self):
        talk = self.converse("-tm", "ok", "cancel")
        self.assertEqual(talk.texts, ["Press OK to continue", "Did it disappear?"])
        self.assertEqual(talk.exit_code, 1)


class Usage(WineTestCase):
    def test_usage_box_has_ok_only_and_survives_silent_mode(self):
        for line, code in (("-?", 0), ("-s -?", 0), ("-a arch", 1), ("-s -x arch", 1),
                           ("-tr", 1), ("-tl", 1)):
            with self.subTest(line=line):
                talk = self.converse(line, "ok")
                self.assertEqual(talk.texts, [USAGE])
                self.assertEqual(talk.boxes[0].buttons, ["ok"])
                self.assertEqual(talk.exit_code, code)

    def test_escape_on_the_usage_box_does_not_change_the_result(self):
        talk = self.converse("-?", "esc")
        self.assertEqual(talk.exit_code, 0)


class SilentMode(WineTestCase):
    def test_silent_mode_shows_nothing(self):
        for line, code in (("-s -q", 1), ("-s -tr 5", 5), ("-s -tm", 0), ("-s -dt", 1)):
            with self.subTest(line=line):
                run = self.start(line)
                self.assertEqual(run.wait(), code)
                self.assertEqual(run_boxdriver("peek", "status"), [None, []])


class StatusWindow(WineTestCase):
    def test_status_window_while_a_box_is_up_and_gone_after(self):
        run = self.start("-tm")
        box = run.show()
        self.assertEqual(box.text, "Press OK to continue")

        windows = run.status_windows()
        self.assertEqual(len(windows), 1, windows)
        window = windows[0]
        self.assertEqual((window.x, window.y, window.width, window.height), (100, 100, 250, 100))
        # WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CAPTION; Wine adds the
        # WS_CLIPSIBLINGS bit that popups with a caption always get.
        self.assertIn(window.style, (0x98C00000, 0x9CC00000))
        self.assertTrue(window.visible)
        self.assertEqual(window.caption, "ZQ K9150 Setup")
        font = run_boxdriver("font", "Please wait...")[0]
        self.assert_paints_please_wait(self.screenshot("status"), window, font)

        run.answer("ok")
        box = run.show()
        self.assertEqual(box.text, "Did it disappear?")
        self.assertEqual(run.status_windows(), [])
        left, top, width, height = window.client
        shot = self.screenshot("closed")
        grey = [1 for _, _, colour in shot.region(left, top, width, height) if colour == GREY]
        self.assertEqual(grey, [], "the status window's area is still painted")

        run.answer("ok")
        self.assertEqual(run.wait(), 0)

    def assert_paints_please_wait(self, shot, window, font):
        left, top, width, height = window.client
        # The text's cell: one character height down, one widest character
        # right, as wide as "Please wait..." in the system font.
        cell_left, cell_top = left + font.max_width, top + font.height
        cell_right, cell_bottom = cell_left + font.extent, cell_top + font.height
        ink = []
        for x, y, colour in shot.region(left, top, width, height):
            inside = cell_left <= x < cell_right and cell_top <= y < cell_bottom
            if colour == GREY:
                continue
            self.assertTrue(inside, "colour %r at %d,%d outside the text" % (colour, x, y))
            ink.append((x, y, colour))
        self.assertTrue(ink, "no text painted")
        self.assertTrue(any(colour == BLACK for _, _, colour in ink), "the text is not black")
        xs = [x for x, _, _ in ink]
        # The ink spans the text's width: from "P" to the last dot.
        self.assertLessEqual(min(xs) - cell_left, 3)
        self.assertLessEqual(cell_right - 1 - max(xs), 4)


class LongMessage(WineTestCase):
    def test_message_is_cut_to_1023_characters(self):
        word = "-" + "w" * 1999
        talk = self.converse(word, "ok")
        text = talk.texts[0]
        self.assertEqual(len(text), 1023)
        self.assertEqual(text, ("Unsupported argument: " + word)[:1023])
        self.assertEqual(talk.exit_code, 1)


if __name__ == "__main__":
    unittest.main()
