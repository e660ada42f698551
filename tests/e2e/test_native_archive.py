"""The Linux build's medium tools: -a, -x, -dt and -c from the command line."""

import os
import unittest

from harness import NativeTestCase
from test_wine_archive import LINKS, make_tree, plant_links, refused_level, snapshot


class ArchiveTools(NativeTestCase):
    def test_pack_and_unpack_a_tree(self):
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        archive = os.path.join(self.workdir, "t.zqa")
        result = self.run_setup("-a", archive, tree)
        self.assertEqual(result.exit_code, 0, result.stderr)
        # The codec's statistics, three lines for each file that is not empty.
        self.assertEqual([line[:7] for line in result.stdout.splitlines()].count("input: "), 4)
        self.assertTrue(result.stderr.startswith("Please wait...\n"))
        self.assertTrue(result.stderr.endswith("Archive %s complete.\n" % archive))
        out = os.path.join(self.workdir, "out")
        result = self.run_setup("-x", archive, out)
        self.assertEqual(result.exit_code, 0)
        self.assertTrue(result.stderr.endswith("Extraction is complete.\n"))
        self.assertEqual(snapshot(out), snapshot(tree))

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
