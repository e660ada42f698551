"""setup.exe under Wine: cutting files (-c) and writing floppy sets (-f),
with drive letters mapped to scratch folders."""

import os
import subprocess
import unittest

from harness import WineTestCase, wine_environment, windows_path

PIECE = 1457664


class DriveLetters:
    """Maps drive letters of the test's Wine prefix to folders; undone at the end."""

    def __init__(self, test):
        self.dosdevices = os.path.join(wine_environment()["WINEPREFIX"], "dosdevices")
        self.mapped = []
        test.addCleanup(self.unmap)

    def map(self, letter, folder):
        link = os.path.join(self.dosdevices, letter.lower() + ":")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(folder, link)
        self.mapped.append(link)

    def unmap(self):
        for link in self.mapped:
            if os.path.lexists(link):
                os.remove(link)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as file:
        file.write(data)


def read(path):
    with open(path, "rb") as file:
        return file.read()


class Split(WineTestCase):
    def test_piece_names_and_sizes(self):
        drives = DriveLetters(self)
        drives.map("d", self.workdir)
        write(os.path.join(self.workdir, "dir.x", "FILE.BIN"), b"b" * (PIECE + 1))
        talk = self.converse("-c D:\\dir.x\\FILE.BIN", "ok")
        self.assertEqual(talk.texts, ["Done. D:\\dir.x\\FILE.BIN split in 2 pieces."])
        self.assertEqual(talk.exit_code, 0)
        self.assertEqual(read(os.path.join(self.workdir, "dir.x", "FILE.001")), b"b")
        self.assertEqual(len(read(os.path.join(self.workdir, "dir.x", "FILE.002"))), PIECE)

        # Relative names are taken beside the program.
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        write(os.path.join(self.workdir, "medium", "dir.x", "FILE"), b"f" * 3000000)
        write(os.path.join(self.workdir, "medium", "PACKAGE"), b"")
        talk = self.converse("-c dir.x\\FILE", "ok", exe=exe)
        self.assertEqual(talk.texts, ["Done. dir.x\\FILE split in 3 pieces."])
        sizes = [os.path.getsize(os.path.join(self.workdir, "medium", "dir.x", "FILE.%03d" % n))
                 for n in (1, 2, 3)]
        self.assertEqual(sizes, [84672, PIECE, PIECE])
        talk = self.converse("-c PACKAGE", "ok", exe=exe)
        self.assertEqual(talk.texts, ["Done. PACKAGE split in 0 pieces."])

    def test_failures(self):
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        talk = self.converse("-c missing.bin", "ok", exe=exe)
        self.assertEqual((talk.texts, talk.exit_code), (["Cannot find file missing.bin."], 1))
        write(os.path.join(self.workdir, "medium", "P.ZQA"), b"p" * (PIECE + 2))
        piece = os.path.join(self.workdir, "medium", "P.002")
        write(piece, b"old")
        os.chmod(piece, 0o444)
        # Wine run by root writes read-only files all the same; an immutable
        # file is read-only for root too.
        if subprocess.run(["chattr", "+i", piece], capture_output=True).returncode == 0:
            self.addCleanup(subprocess.run, ["chattr", "-i", piece], capture_output=True)
            talk = self.converse("-c P.ZQA", "ok", exe=exe)
            self.assertEqual((talk.texts, talk.exit_code), (["Failed to create P.002."], 3))
            self.assertEqual(read(os.path.join(self.workdir, "medium", "P.001")), b"pp")
            self.assertEqual(read(piece), b"old")
        # Cancel on the success message still ends with 1.
        talk = self.converse("-c P.001", "cancel", exe=exe)
        self.assertEqual(talk.exit_code, 1)


class FloppySet(WineTestCase):
    def make_medium(self, entries, files):
        medium = os.path.join(self.workdir, "medium")
        exe = self.place_setup(medium)
        lines = ["[SourceDisksFiles]"] + ["%s = %s" % item for item in entries]
        write(os.path.join(medium, "ZQK9150.INF"), ("\r\n".join(lines) + "\r\n").encode())
        for name in files:
            write(os.path.join(medium, name), name.encode() * 1000)
        return exe

    def floppy(self, name):
        folder = os.path.join(self.workdir, name)
        write(os.path.join(folder, "OLD.TXT"), b"left from before")
        write(os.path.join(folder, "old dir", "x"), b"x")
        return folder

    def test_each_disk_is_asked_for_cleared_and_written(self):
        exe = self.make_medium([("ZQK9150.001", "1"), ("ZQK9150.002", "2"), ("ZQK9150.003", "2")],
                               ["ZQK9150.001", "ZQK9150.002", "ZQK9150.003"])
        drives = DriveLetters(self)
        disk1, disk2 = self.floppy("disk1"), self.floppy("disk2")
        drives.map("a", disk1)
        run = self.start("-f", exe=exe)
        self.assertEqual(run.answer("ok").text, "Please insert floppy disk 1 in drive A:")
        box = run.show()
        self.assertEqual(box.text, "Please insert floppy disk 2 in drive A:")
        self.assertEqual(sorted(os.listdir(disk1)), ["ZQK9150.001"])
        drives.map("a", disk2)
        run.answer("ok")
        self.assertEqual(run.answer("ok").text, "All floppys done.")
        self.assertEqual(run.wait(), 0)
        self.assertEqual(sorted(os.listdir(disk2)), ["ZQK9150.002", "ZQK9150.003"])
        self.assertEqual(read(os.path.join(disk2, "ZQK9150.003")), b"ZQK9150.003" * 1000)

    def test_a_missing_disk_ends_the_set_and_disk_nine_is_never_written(self):
        exe = self.make_medium([("ONE", "1"), ("THREE", "3"), ("NINE", "9")],
                               ["ONE", "THREE", "NINE"])
        drives = DriveLetters(self)
        disk = self.floppy("disk")
        drives.map("a", disk)
        talk = self.converse("-f", "ok", "ok", exe=exe)
        self.assertEqual(talk.texts, ["Please insert floppy disk 1 in drive A:",
                                      "All floppys done."])
        self.assertEqual(talk.exit_code, 0)
        self.assertEqual(sorted(os.listdir(disk)), ["ONE"])

    def test_a_missing_file_is_reported_and_no_status_window_stays(self):
        exe = self.make_medium([("GONE.BIN", "1")], [])
        drives = DriveLetters(self)
        drives.map("a", self.floppy("disk"))
        run = self.start("-f", exe=exe)
        run.answer("ok")
        box = run.answer("ok")
        self.assertEqual(box.text, "Error 2: \nCopy: Error reading from file GONE.BIN.\n")
        self.assertEqual(run.show().text, "Error copying file GONE.BIN.")
        self.assertEqual(run.status_windows(), [])
        run.answer("ok")
        self.assertEqual(run.wait(), 1)


if __name__ == "__main__":
    unittest.main()
