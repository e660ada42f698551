"""setup.exe under Wine as the medium's tool: -a and -x across the Windows
and the Linux build, -dt, -c and -f, with drive letters mapped to folders;
a signed setup.exe."""

import os
import re
import shutil
import subprocess
import unittest
from types import SimpleNamespace

from harness import (LINKS, REPO, WineTestCase, make_tree, plant_links, read, refused_level,
                     setup_exe, setup_native, snapshot, wine_environment, windows_path, write)

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

    def test_names_in_the_code_page_cross_between_the_builds(self):
        if not os.path.exists(setup_native()):
            self.skipTest("the Linux build is not built")
        tree, archive, out = (os.path.join(self.workdir, name) for name in ("tree", "a.zqa", "out"))
        for name in ("café.txt", "Größe.txt", "€uro.txt", "dir é/ñ"):
            write(os.path.join(tree, name), name.encode())
        self.native("-a", archive, tree)
        self.assertIn(b"\0\x80uro.txt\0", read(archive))  # as Windows names it in code page 1252
        talk = self.converse("-x %s %s" % (windows_path(archive), windows_path(out)), "ok")
        self.assertEqual((talk.texts, talk.exit_code), (["Extraction is complete."], 0))
        self.assertEqual(snapshot(out), snapshot(tree))
        talk = self.converse("-a %s %s" % (windows_path(archive + "2"), windows_path(tree)), "ok")
        self.assertEqual(talk.exit_code, 0)
        self.assertIn(b"\0Gr\xf6\xdfe.txt\0", read(archive + "2"))
        self.native("-x", archive + "2", out + "2")
        self.assertEqual(snapshot(out + "2"), snapshot(tree))

    def test_delete_tree_refuses_a_word_after_its_path(self):
        for name in ("my dir", "my"):
            os.makedirs(os.path.join(self.workdir, "d", name, "in"))
        line = "-dt " + windows_path(os.path.join(self.workdir, "d", "my dir"))
        talk = self.converse(line, "ok")
        self.assertEqual((talk.texts, talk.exit_code),
                         (['Unexpected argument "dir" after -dt path; nothing is done.'], 1))
        self.assertEqual(sorted(os.listdir(os.path.join(self.workdir, "d"))), ["my", "my dir"])

    def test_unpacking_never_writes_through_a_link_in_the_target(self):
        tree, target, outside = plant_links(self.workdir)
        archive = os.path.join(self.workdir, "links.zqa")
        self.assertEqual(self.converse("-a %s %s" % (windows_path(archive), windows_path(tree)),
                                       "ok").exit_code, 0)
        run = self.start("-x %s %s" % (windows_path(archive), windows_path(target)))
        talk = SimpleNamespace(texts=[box.text for box in run.steps("all")], exit_code=run.wait())
        self.assertEqual(talk.exit_code, -1, talk.texts)
        # A member takes its name by a rename, which replaces the link to a
        # file and the hard link themselves; one to a folder stays, and that
        # member is not written. The system's reason after the first
        # sentence aside.
        self.assertEqual({re.sub(r"\. .*", ".", text) for text in talk.texts},
                         {refused_level(kind + "-d") for kind in LINKS} | {"Cannot create file folder-link-f."})
        for name in ("hard-link-f", "file-link-f"):
            self.assertFalse(os.path.islink(os.path.join(target, name)))
            self.assertEqual(read(os.path.join(target, name)), b"member")
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
                run = self.start("-dt " + windows_path(tree))
                talk = SimpleNamespace(texts=[run.answer(answer).text] + [box.text for box in run.steps("all")]
                                       if answer == "ok" else [run.answer(answer).text])
                talk.exit_code = run.wait()
                self.assertEqual(talk.texts[0], "About to delete directory " + windows_path(tree))
                # What stays is named: the link Wine cannot remove, the read-only file.
                self.assertTrue(all(text.startswith("Cannot delete Z:") for text in talk.texts[1:]), talk.texts)
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

    def test_floppy_set_each_disk_asked_for_cleared_and_written_in_turn(self):
        exe, drives = self.make_medium([("ONE", "1"), ("TWO", "2"), ("TOO", "2,,,")])
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

    def test_floppy_sets_that_cannot_be_written_whole_leave_the_disk_alone(self):
        faults = [("ONE", "1"), ("GONE.BIN", "1"), ("Long name.txt", "1"), ("X.BIN", "x"),
                  ("NINE", "9"), ("THREE", "3"), ("BIG.BIN", "1")]
        listed = [("F%07d.BIN" % n, "1") for n in range(320)]  # 4160 characters
        head = "Nothing is written. In .\\ZQK9150.INF:\n"
        for entries, line, texts, code in (
                (faults, "-f", [head + "GONE.BIN: there is no such file\nLong name.txt: not a DOS "
                                "name (up to 8 characters, a dot and up to 3 more)\nX.BIN: its "
                                "disk \"x\" is not one of 1 to 8\nNINE: its disk \"9\" is not one "
                                "of 1 to 8\nTHREE: listed for disk 3, but no file is listed for "
                                "disk 2\ndisk 1: its 2 files take 1460224 bytes; a 1.44 MB floppy "
                                "holds 1457664 bytes in at most 224 files"], 1),
                (listed, "-f", [head + "F0000314.BIN: the list of files ends in it, at 4096 "
                                "characters; the files from it on are not read\ndisk 1: its 314 "
                                "files take 3858432 bytes; a 1.44 MB floppy holds 1457664 bytes in "
                                "at most 224 files"], 1),
                (faults[:1] + [("TWO", "2"), ("TOO", "3")], "-s -f", [], 1),
                (faults[:1], "-s -f", [], 0)):
            with self.subTest(line=line, files=len(entries)):
                exe, _ = self.make_medium(entries)
                if entries == faults:
                    write(os.path.join(self.workdir, "medium", "BIG.BIN"), bytes(PIECE - 1000))
                before = snapshot(os.path.join(self.workdir, "disk1"))
                talk = self.converse(line, *["ok"] * len(texts), exe=exe)
                self.assertEqual((talk.texts, talk.exit_code), (texts, code))
                self.assertEqual(snapshot(os.path.join(self.workdir, "disk1")),
                                 {"ONE": b"ONE" * 1000} if code == 0 else before)


class Signing(WineTestCase):
    def openssl(self, *args):
        subprocess.run(["openssl"] + list(args), cwd=self.workdir, check=True, capture_output=True)

    def verifies(self, exe, root):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", exe],
                              capture_output=True).returncode == 0

    def test_a_signed_copy_verifies_passes_the_release_check_and_goes_on_disk_1_as_it_is(self):
        for tool in ("openssl", "osslsigncode"):
            if not shutil.which(tool):
                self.skipTest(tool + " is missing (scripts/deps installs it)")
        # A throwaway root, and a code-signing certificate that it issued; another root.
        for name in ("root", "other"):
            self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                         name + ".pem", "-days", "2", "-subj", "/CN=Throwaway " + name,
                         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
        write(os.path.join(self.workdir, "signer.cnf"),
              b"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
        self.openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
                     "-subj", "/CN=ZQ K9150 throwaway signer")
        self.openssl("x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey", "root.key",
                     "-CAcreateserial", "-days", "2", "-extfile", "signer.cnf", "-out", "signer.pem")
        exe = self.place_setup(os.path.join(self.workdir, "medium"))
        unsigned = read(exe)
        sign = [os.path.join(REPO, "scripts", "sign"), exe] + [os.path.join(self.workdir, "signer." + kind)
                                                               for kind in ("pem", "key")]
        self.assertEqual(subprocess.run(sign, capture_output=True).returncode, 0)
        signed = read(exe)
        root, other = (os.path.join(self.workdir, name + ".pem") for name in ("root", "other"))
        # Past the headers (checksum, certificate table) the program is as built.
        self.assertEqual((signed[512:len(unsigned)], self.verifies(exe, root), self.verifies(exe, other)),
                         (unsigned[512:], True, False))
        tampered = os.path.join(self.workdir, "tampered.exe")
        write(tampered, signed[:1000] + bytes([signed[1000] ^ 1]) + signed[1001:])
        self.assertFalse(self.verifies(tampered, root))
        check = os.environ.get("CHECK_OBJDUMP"), os.environ.get("CHECK_WRESTOOL")
        if all(check):  # the release build: the shipped binary's check
            done = subprocess.run(["python3", os.path.join(REPO, "tests", "release", "check_release.py"), exe] +
                                  list(check), capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stdout)
            self.assertIn("%d bytes before its signature" % len(unsigned), done.stdout)
        # The signed copy runs, and -f writes it onto disk 1 as it is.
        write(os.path.join(self.workdir, "medium", "ZQK9150.INF"),
              b"[SourceDisksFiles]\r\nsetup.exe = 1\r\nZQK9150.INF = 1\r\n")
        os.makedirs(os.path.join(self.workdir, "disk1"))
        DriveLetters(self).map("a", os.path.join(self.workdir, "disk1"))
        self.assertEqual(self.converse("-s -f", exe=exe).exit_code, 0)
        self.assertEqual(read(os.path.join(self.workdir, "disk1", "setup.exe")), signed)


if __name__ == "__main__":
    unittest.main()
