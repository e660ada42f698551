"""setup.exe under Wine: message boxes, their answers, exit codes and the
status window."""

import unittest

from harness import USAGE, WineTestCase, run_boxdriver

GREY = (0xC0, 0xC0, 0xC0)


class Boxes(WineTestCase):
    def test_boxes_answers_and_exit_codes(self):
        long_word = "-" + "w" * 1999
        for line, answers, texts, code in (
                ("-tr 7", "ok", ["About to return exit code 7"], 7),
                ("/TR A", "ok", ["About to return exit code 17"], 17),
                ("-tr 7", "cancel", ["About to return exit code 7"], 1),
                ("-tr 7", "esc", ["About to return exit code 7"], 1),
                ("-tr 7", "close", ["About to return exit code 7"], 1),
                ("-q", "ok", ["Unsupported argument: -q"], 1),
                # Eight -v apart by blanks and tabs; the ninth keeps the rest of the line.
                ("-v \t" * 8 + "-Q   \"x  ", "ok", ["Unsupported argument: -q   \"x  "], 1),
                (long_word, "ok", [("Unsupported argument: " + long_word)[:1023]], 1),
                ("-tm", "ok cancel", ["Press OK to continue", "Did it disappear?"], 1),
                ("-?", "esc", [USAGE], 0), ("-s -?", "ok", [USAGE], 0), ("-a arch", "ok", [USAGE], 1),
                ("-s -q", "", [], 1), ("-s -tr 5", "", [], 5), ("-s -tm", "", [], 0)):
            with self.subTest(line=line, answers=answers):
                talk = self.converse(line, *answers.split())
                self.assertEqual((talk.texts, talk.exit_code, talk.run.status), (texts, code, code & 255))
                self.assertEqual([box.buttons for box in talk.boxes],
                                 [["ok"] if text == USAGE else ["ok", "cancel"] for text in texts])

    def test_status_window_while_a_box_is_up_and_gone_after(self):
        run = self.start("-tm")
        self.assertEqual(run.answer("show").text, "Press OK to continue")
        [window] = run.steps("status")[0]
        self.assertEqual((window.x, window.y, window.width, window.height, window.caption),
                         (100, 100, 250, 100, "ZQ K9150 Setup"))
        # WS_POPUP | WS_VISIBLE | WS_DISABLED | WS_CAPTION; Wine adds the
        # WS_CLIPSIBLINGS bit that popups with a caption always get.
        self.assertIn(window.style, (0x98C00000, 0x9CC00000))
        font = run_boxdriver("font", "Please wait...")[0]
        client = [(x, y) for y in range(window.client_y, window.client_y + window.client_height)
                  for x in range(window.client_x, window.client_x + window.client_width)]
        # Grey, with black text in its cell: one character height down, one
        # widest character right, as wide as "Please wait..." in the system font.
        pixel = self.screenshot()
        left, top = window.client_x + font.maxwidth, window.client_y + font.height
        ink = [x for x, y in client if pixel(x, y) != GREY]
        self.assertEqual([(x, y) for x, y in client if pixel(x, y) != GREY and not (
            left <= x < left + font.extent and top <= y < top + font.height)], [])
        self.assertIn((0, 0, 0), [pixel(x, y) for x, y in client])
        # The ink spans the text's width: from "P" to the last dot.
        self.assertLessEqual(min(ink) - left, 3)
        self.assertLessEqual(left + font.extent - 1 - max(ink), 4)

        run.answer("ok")
        self.assertEqual(run.answer("show").text, "Did it disappear?")
        self.assertEqual(run.steps("status")[0], [])
        run.answer("ok")
        self.assertEqual(run.wait(), 0)


if __name__ == "__main__":
    unittest.main()
