"""The Linux build's medium tools: -a, -x, -dt and -c from the command line."""

import os
import unittest

from harness import NativeTestCase
from test_wine_archive import LINKS, make_tree, plant_links, refused_level, snapshot


class ArchiveTools(NativeTestCase):
    def test_pack_and_unpack_a_tree_quietly_verbosely_and_silently(self):
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        files = sorted(name for _, _, names in os.walk(tree) for name in names)
        for mode in ("", "-v", "-s"):
            with self.subTest(mode=mode):
                archive = os.path.join(self.workdir, "t%s.zqa" % mode)
                out = os.path.join(self.workdir, "out" + mode)
                flags = [mode] if mode else []
                packed = self.run_setup(*flags, "-a", archive, tree)
                unpacked = self.run_setup(*flags, "-x", archive, out)
                self.assertEqual((packed.exit_code, unpacked.exit_code), (0, 0))
                self.assertEqual(snapshot(out), snapshot(tree))
                if mode == "-v":  # one line a file, as gzip -v has it
                    for result in (packed, unpacked):
                        self.assertEqual(sorted(line.split(":")[0]
                                                for line in result.stdout.splitlines()), files)
                    self.assertIn("text.txt: 96000 -> ", packed.stdout)
                    self.assertIn("text.txt: 96000 bytes\n", unpacked.stdout)
                else:
                    self.assertEqual((packed.stdout, unpacked.stdout), ("", ""))
                    self.assertEqual((packed.stderr, unpacked.stderr),
                                     ("", "") if mode else
                                     ("Archive %s complete.\n" % archive,
                                      "Extraction is complete.\n"))

    def test_progress_line_on_a_terminal(self):
        tree = os.path.join(self.workdir, "many")
        os.makedirs(tree)
        for number in range(300):
            with open(os.path.join(tree, "f%03d" % number), "wb") as file:
                file.write(b"keyboard %d " % number * (number * 7))
        archive = os.path.join(self.workdir, "many.zqa")
        result = self.run_on_terminal("-a", archive, tree, typed=b"\n", stderr_too=True)
        self.assertEqual((result.exit_code, result.stdout), (0, ""))
        shown = result.stderr
        self.assertRegex(shown, r"\r\x1b\[KCompressing f\d+\.\.\.  \[\d+/300 files, ")
        final = "\r\x1b[KCompressing f299...  [300/300 files, "
        self.assertIn(final, shown)
        # The full line is erased before the question comes.
        tail = shown[shown.rindex(final):]
        self.assertRegex(tail, r"^[^\n]*, 100%\]\r\x1b\[KArchive .* complete\.\r?\n")

    def test_failures_have_their_own_exit_codes(self):
        archive = os.path.join(self.workdir, "none.zqa")
        result = self.run_setup("-x", archive, os.path.join(self.workdir, "out"))
        self.assertEqual((result.exit_code, result.stderr),
                         (1, "Failed to find archive %s.\n" % archive))
        with open(archive, "wb") as file:
            file.write(b"ZQAR\x01\0\0\0\x01\x80")
        result = self.run_setup("-x", archive, os.path.join(self.workdir, "out"))
        self.assertEqual((result.exit_code, result.stderr),
                         (2, "File %s isn't a supported archive type.\n" % archive))
        missing = os.path.join(self.workdir, "missing")
        result = self.run_setup("-a", archive, missing)
        self.assertEqual((result.exit_code, result.stderr), (1, "Path %s invalid.\n" % missing))

    def test_delete_tree_keeps_what_a_link_points_to(self):
        outside = os.path.join(self.workdir, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "keep"), "wb") as file:
            file.write(b"keep")
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        os.symlink(outside, os.path.join(tree, "a", "link"))
        result = self.run_setup("-dt", tree)
        self.assertEqual((result.exit_code, result.stderr),
                         (0, "About to delete directory %s\n" % tree))
        self.assertFalse(os.path.lexists(tree))
        self.assertEqual(snapshot(outside), {"keep": b"keep"})

    def test_unpacking_never_writes_through_a_link_in_the_target(self):
        tree, target, outside = plant_links(self.workdir)
        archive = os.path.join(self.workdir, "links.zqa")
        self.assertEqual(self.run_setup("-a", archive, tree).exit_code, 0)
        result = self.run_setup("-x", archive, target)
        self.assertEqual(result.exit_code, 255)  # -1
        for kind in LINKS:
            # A file member replaces the link itself; a directory member is refused.
            self.assertFalse(os.path.islink(os.path.join(target, kind + "-f")))
            with open(os.path.join(target, kind + "-f"), "rb") as file:
                self.assertEqual(file.read(), b"member")
            self.assertIn(refused_level(kind + "-d") + "\n", result.stderr)
        self.assertEqual(snapshot(outside), {"folder": "<dir>", "file": b"outside"})


if __name__ == "__main__":
    unittest.main()
