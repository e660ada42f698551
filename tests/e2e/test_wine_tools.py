"""setup.exe under Wine as the medium's tool: -a and -x across the Windows
and the Linux build, -dt, -c and -f, with drive letters mapped to folders."""

import os
import shutil
import subprocess
import unittest

from harness import (LINKS, WineTestCase, make_tree, plant_links, read, refused_level,
                     setup_native, snapshot, wine_environment, windows_path, write)

PIECE = 1457664


class Archives(WineTestCase):
    def native(self, *args):
        self.assertEqual(subprocess.run([setup_native()] + list(args), stdin=subprocess.DEVNULL,
                                        capture_output=True).returncode, 0)

    def test_archives_cross_between_the_builds(self):
        if not os.path.exists(setup_native()):
            self.skipTest("the Linux build is not built")
        tree, archive, out = (os.path.join(self.workdir, name) for name in ("tree", "a.zqa", "out"))
        make_tree(tree)
        self.native("-a", archive, tree)
        talk = self.converse("-x %s %s" % (windows_path(archive), windows_path(out)), "ok")
        self.assertEqual((talk.texts, talk.exit_code), (["Extraction is complete."], 0))
        self.assertEqual(snapshot(out), snapshot(tree))
        # Packing never enters a directory link: it is named and left out.
        os.symlink(tree, os.path.join(tree, "a", "loop"))
        talk = self.converse("-a %s %s" % (windows_path(archive), windows_path(tree)), "ok")
        self.assertEqual(talk.exit_code, 1)
        self.assertIn("loop", talk.texts[0])
        os.remove(os.path.join(tree, "a", "loop"))
        self.native("-x", archive, out + "2")
        self.assertEqual(snapshot(out + "2"), snapshot(tree))

    def test_unpacking_never_writes_through_a_link_in_the_target(self):
        tree, target, outside = plant_links(self.workdir)
        archive = os.path.join(self.workdir, "links.zqa")
        self.assertEqual(self.converse("-a %s %s" % (windows_path(archive), windows_path(tree)),
                                       "ok").exit_code, 0)
        talk = self.converse("-x %s %s" % (windows_path(archive), windows_path(target)), *["ok"] * 5)
        self.assertEqual(talk.exit_code, -1)
        # Wine cannot remove a Unix symbolic link, only what it leads to: those
        # members are not written; the hard link gives way to a new file.
        self.assertEqual(set(talk.texts), {refused_level(kind + "-d") for kind in LINKS} |
                         {"Cannot create file file-link-f.", "Cannot create file folder-link-f."})
        self.assertFalse(os.path.islink(os.path.join(target, "hard-link-f")))
        self.assertEqual(read(os.path.join(target, "hard-link-f")), b"member")
        self.assertEqual(snapshot(outside), {"folder": "<dir>", "file": b"outside"})

    def test_delete_tree(self):
        outside = os.path.join(self.workdir, "outside")
        write(os.path.join(outside, "keep"), b"keep")
        tree = os.path.join(self.workdir, "tree")
        for answer, code in (("cancel", 1), ("ok", None), ("ok", -1)):
            with self.subTest(answer=answer, code=code):
                shutil.rmtree(tree, True)
                make_tree(tree)
                # Hidden and system for Wine; a link that must not be followed.
                os.setxattr(os.path.join(tree, "a", "b", "text.txt"), "user.DOSATTRIB", b"0x26")
                os.symlink(outside, os.path.join(tree, "a", "link"))
                if code == -1:  # a file that Wine will not delete
                    os.chmod(os.path.join(tree, "a", "b", "text.txt"), 0o444)
                talk = self.converse("-dt " + windows_path(tree), answer)
                self.assertEqual(talk.texts, ["About to delete directory " + windows_path(tree)])
                # Wine cannot remove the link itself (-1); what matters is what it leads to.
                self.assertIn(talk.exit_code, (code,) if code else (0, -1))
                self.assertEqual(os.path.exists(os.path.join(tree, "a", "b")), code is not None)
                self.assertEqual(snapshot(outside), {"keep": b"keep"})


class DriveLetters:
    """Maps drive letters of the prefix to folders; undone at the end."""

    def __init__(self, test):
        self.dosdevices = os.path.join(wine_environment()["WINEPREFIX"], "dosdevices")
        self.links = []
        test.addCleanup(lambda: [os.remove(link) for link in self.links if os.path.lexists(link)])

    def map(self, letter, folder):
        link = os.path.join(self.dosdevices, letter + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(folder, link)
        self.links.append(link)


class Media(WineTestCase):
    def test_cut_pieces_named_after_the_last_component(self):
        DriveLetters(self).map("d", self.workdir)
        write(os.path.join(self.workdir, "dir.x", "FILE.BIN"), b"b" * (PIECE + 1))
        talk = self.converse("-c D:\\dir.x\\FILE.BIN", "ok")
        self.assertEqual((talk.texts, talk.exit_code), (["Done. D:\\dir.x\\FILE.BIN split in 2 pieces."], 0))
        self.assertEqual([read(os.path.join(self.workdir, "dir.x", name)) for name in ("FILE.001", "FILE.002")],
                         [b"b", b"b" * PIECE])
        # Relative names are taken beside the program.
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        write(os.path.join(self.workdir, "medium", "dir.x", "FILE"), b"f" * 3)
        # Cancel on the last message still ends with 1.
        talk = self.converse("-c dir.x\\FILE", "cancel", exe=exe)
        self.assertEqual((talk.texts, talk.exit_code), (["Done. dir.x\\FILE split in 1 pieces."], 1))
        self.assertEqual(read(os.path.join(self.workdir, "medium", "dir.x", "FILE.001")), b"fff")

    def make_medium(self, entries):
        """A medium whose INF names entries (file, disk); each file holds its name
        1000 times. Floppies left from before hold a file and a folder."""
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        lines = ["[SourceDisksFiles]"] + ["%s = %s" % entry for entry in entries]
        write(os.path.join(self.workdir, "medium", "ZQK9150.INF"), "\r\n".join(lines).encode())
        for name, _ in entries:
            if name != "GONE.BIN":
                write(os.path.join(self.workdir, "medium", name), name.encode() * 1000)
        for disk in ("disk1", "disk2"):
            write(os.path.join(self.workdir, disk, "OLD.TXT"), b"left from before")
            write(os.path.join(self.workdir, disk, "old dir", "x"), b"x")
        drives = DriveLetters(self)
        drives.map("a", os.path.join(self.workdir, "disk1"))
        return exe, drives

    def test_floppy_set_each_disk_asked_for_cleared_and_written_until_one_is_unused(self):
        exe, drives = self.make_medium([("ONE", "1"), ("TWO", "2"), ("TOO", "2"), ("NINE", "9")])
        run = self.start("-f", exe=exe)
        self.assertEqual(run.answer().text, "Please insert floppy disk 1 in drive A:")
        self.assertEqual(run.answer("show").text, "Please insert floppy disk 2 in drive A:")
        self.assertEqual(os.listdir(os.path.join(self.workdir, "disk1")), ["ONE"])
        drives.map("a", os.path.join(self.workdir, "disk2"))
        run.answer()
        self.assertEqual(run.answer().text, "All floppys done.")
        self.assertEqual(run.wait(), 0)
        self.assertEqual(snapshot(os.path.join(self.workdir, "disk2")),
                         {"TWO": b"TWO" * 1000, "TOO": b"TOO" * 1000})

    def test_floppy_set_a_missing_file_is_reported_and_no_status_window_stays(self):
        exe, _ = self.make_medium([("GONE.BIN", "1")])
        run = self.start("-f", exe=exe)
        run.answer()
        self.assertEqual(run.answer().text, "Error 2: \nCopy: Error reading from file GONE.BIN.\n")
        self.assertEqual(run.answer("show").text, "Error copying file GONE.BIN.")
        self.assertEqual(run.steps("status")[0], [])
        run.answer()
        self.assertEqual(run.wait(), 1)


if __name__ == "__main__":
    unittest.main()
