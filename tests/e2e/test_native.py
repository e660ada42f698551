"""The Linux build from the command line: switches, messages on standard
error, answers typed on a terminal, the medium tools, system services."""

import os
import pty
import random
import re
import select
import signal
import shutil
import subprocess
import time
import unittest
from unittest import mock

from harness import (EXIT_TIMEOUT, LINKS, USAGE, NativeTestCase, die_with_parent, make_tree, plant_links,
                     read, refused_level, setup_native, snapshot, write)

INSTALL = ("The ZQ K9150 driver is installed on Windows. This build offers the tools that build "
           "the installation medium: -? lists them.\n")
PIECE = 1457664
NOENT = "No such file or directory"
FITS = "-is " + " ".join(c * 40 for c in "abcdef") + " " + "z" * 12  # 259 characters for setup


def unsupported(argument):
    return "Unsupported argument: %s (see setup --help)\n" % argument


def missing(line, value):
    return "%s: %s is missing (see setup --help).\n" % (line, value)


def extra(word, action):
    return 'Unexpected argument "%s" after %s; nothing is done (see setup --help).\n' % (word, action)


def wait_until(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


class Switches(NativeTestCase):
    def test_exit_codes_and_messages(self):
        w = self.workdir
        for name, data in (("bad", b"ZQAR\x01\0\0\0\x01\x80"), ("short", b"ZQAR"), ("empty", b"")):
            write("%s/%s.zqa" % (w, name), data)
        write(w + "/five", b"12345")
        write(w + "/small.zqa", b"ZQAR\0\0\0\0\x01\x80")
        write(w + "/BIG.ZQA", b"b" * (PIECE + 5))
        os.makedirs(w + "/BIG.002")  # a piece that cannot be created
        deep = "%s/%s/%s/%s.zqa" % (w, "a" * 120, "b" * (123 - len(w)), "n" * 10)
        write(deep, b"x")  # 256 characters before the extension: no room for ".001"
        os.makedirs(w + "/" + "d" * 255)
        # Blank-separated words, or a list of argv words, each one argument.
        for args, code, stdout, stderr in (
                ("-tr 7", 7, "", "About to return exit code 7\n"),
                ("-TR A", 17, "", "About to return exit code 17\n"),
                (["/tr 0"], 1, "", unsupported("/tr 0")),
                (["-tr\t4", "-q"], 1, "", unsupported("-tr\t4")),
                (["-tr", "4 2"], 4, "", "About to return exit code 4\n"),
                (["-v"] * 12 + ["-tr", "3"], 3, "", "About to return exit code 3\n"),  # no limit of nine
                ("-Q", 1, "", unsupported("-q")),
                ("/", 1, "", unsupported("/")),
                ("-trx 5", 1, "", unsupported("-trx")),
                ("-log -q -tr 6", 6, "", "About to return exit code 6\n"),  # a setting's value is its own
                ("stray -tr 5", 1, "", unsupported("stray")),
                (['"a', 'b"'], 1, "", unsupported('"a')),
                (["-tr\n5"], 1, "", unsupported("-tr\n5")),
                (["-v"] * 8 + ["-Q  \t\"x"], 1, "", unsupported('-q  \t"x')),
                (["-" + "w" * 1999], 1, "", ("Unsupported argument: -" + "w" * 1999)[:1023] + "\n"),
                # One action a run, and nothing after its values.
                ("-tr 7 8", 1, "", extra("8", "-tr c")),
                ("-a %s/n.zqa %s -x a b" % (w, w), 1, "", extra("-x", "-a arch path")),
                ("-DT %s -v" % w, 1, "", extra("-v", "-dt path")),
                ("-? -tr 1", 1, "", extra("-tr", "-?")),
                ("--codepage 850 -v -tr 2", 2, "", "About to return exit code 2\n"),
                ("--codepage windows-1250 --codepage CP1251 -tr 2", 2, "", "About to return exit code 2\n"),
                (["--codepage", " 850", "-tr", "2"], 1, "", "Code page  850 is not one for names in archives; "
                 "these are: 437, 850, 852, 855, 857, 858, 860, 861, 862, 863, 865, 866, 869, 874, 1250, "
                 "1251, 1252, 1253, 1254, 1256, 1257 (see setup --help).\n"),
                ("--codepage 65001 -tr 2", 1, "", "Code page 65001 is not one for names in archives; "
                 "these are: 437, 850, 852, 855, 857, 858, 860, 861, 862, 863, 865, 866, 869, 874, 1250, "
                 "1251, 1252, 1253, 1254, 1256, 1257 (see setup --help).\n"),
                ("-tm", 0, "", "Press OK to continue\nDid it disappear?\n"),
                ("-ta", 0, "", "You %s admin rights\n" % ("have" if os.geteuid() == 0 else
                                                         "DO NOT have")),
                ("-A X %s/no-such-Dir" % w, 1, "", "Path %s/no-such-Dir invalid. %s.\n" % (w, NOENT)),
                (["-a", "X", ""], 1, "", "Path  invalid. %s.\n" % NOENT),
                ("-a X %s/%s" % (w, "d" * 255), 1, "", "Path %s/%s invalid. File name too long.\n" % (w, "d" * 255)),
                ("-x %s/none.zqa %s/out" % (w, w), 1, "", "Failed to find archive %s/none.zqa. %s.\n" % (w, NOENT)),
                ("-x %s/bad.zqa %s/out" % (w, w), 2, "", "File %s/bad.zqa isn't a supported archive type.\n" % w),
                ("-x %s/short.zqa %s/out" % (w, w), 2, "", "File %s/short.zqa isn't a supported archive type.\n" % w),
                ("-x %s/empty.zqa %s/out" % (w, w), 2, "", "File %s/empty.zqa isn't a supported archive type.\n" % w),
                ("-a %s/none/a.zqa %s" % (w, w), 1, "", "Failed to create archive %s/none/a.zqa. %s.\n" % (w, NOENT)),
                # Failures that once ended with 255 and no word.
                ("-x %s/bad.zqa %s/five" % (w, w), 2, "", "File %s/bad.zqa isn't a supported archive type.\n" % w),
                ("-x %s/small.zqa %s/deep/er/out" % (w, w), 255, "",
                 "Cannot create or enter directory %s/deep/er/out. %s.\n" % (w, NOENT)),
                ("-x %s/small.zqa %s/five" % (w, w), 255, "", "%s/five is a file, not a directory; nothing is "
                                                          "extracted.\n" % w),
                ("-a %s/f.zqa %s/five" % (w, w), 1, "", "Path %s/five is a file, not a directory; nothing is "
                                                     "archived.\n" % w),
                ("-dt %s/five" % w, 1, "", "%s/five is not a directory; nothing is deleted.\n" % w),
                ("-dt", 1, "", missing("-dt path", "path")),
                ("-dt %s/none" % w, 1, "", "Directory %s/none not found.\n" % w),
                ("-c %s/none" % w, 1, "", "Cannot find file %s/none. %s.\n" % (w, NOENT)),
                ("-v -c %s/five" % w, 0, "", "File %s/five is 5 bytes long.\n"
                                             "Done. %s/five split in 1 pieces.\n" % (w, w)),
                ("-c %s/BIG.ZQA" % w, 3, "", "Failed to create %s/BIG.002. Is a directory.\n" % w),
                ("-c " + deep, 1, "", "The name %s is too long for its pieces (at most 255 "
                                      "characters).\n" % deep),
                ([], 1, "", INSTALL),
                ("-v -is", 1, "", INSTALL),
                ("-is -s -TR", 1, "", INSTALL),  # words after -is are not switches
                (FITS, 1, "", INSTALL),
                (FITS + "z", 1, "", "The arguments for setup are too long (at most 259 characters).\n"),
                ("-s -is /q", 1, "", ""), ("-s -q", 1, "", ""), ("-s -tr 5", 5, "", ""),
                ("-s -tm", 0, "", ""), ("-s -dt %s/none" % w, 1, "", ""),
                ("-?", 0, USAGE, ""), ("-s -?", 0, USAGE, ""),
                ("-a arch", 1, "", missing("-a arch path", "path")), ("-x", 1, "", missing("-x arch path", "arch")),
                ("-c", 1, "", missing("-c name", "name")), ("/TR", 1, "", missing("/tr c", "c")),
                ("-tl", 1, "", missing("-tl path", "path")), ("--list", 1, "", missing("--list arch", "arch"))):
            with self.subTest(args=args):
                args = args if isinstance(args, list) else args.split()
                self.assertEqual(self.run_setup(*args), (code, stdout, stderr))
        self.assertEqual(read(w + "/BIG.001"), b"bbbbb")  # earlier pieces stay
        self.assertEqual(sorted(os.listdir(w)), sorted(["BIG.001", "BIG.002", "BIG.ZQA", "a" * 120, "d" * 255, "five",
                                                        "five.001", "bad.zqa", "empty.zqa", "short.zqa", "small.zqa"]))
        code, stdout, stderr = self.run_setup("--version")
        self.assertEqual((code, stderr), (0, ""))
        self.assertRegex(stdout, r"^setup \(ZQ K9150 Setup\) \d+\.\d+\.\d+\n$")

    def test_help_lists_every_switch_in_one_column(self):
        code, help_text, _ = self.run_setup("--help")
        lines = [line for line in help_text.splitlines() if line.startswith("  -")]
        self.assertEqual((code, self.run_setup("-h")[1]), (0, help_text))
        self.assertEqual({line.split()[0] for line in lines},
                         {"-?", "-a", "-c", "-ds", "-dt", "-f", "-is", "-log", "-s", "-ta", "-tl", "-tm", "-tp", "-tr",
                          "-v", "-x", "--help", "--version", "--list", "--test", "--codepage"})
        self.assertEqual({len(line) - len(line[20:].lstrip()) for line in lines}, {20})

    def test_relative_paths_are_taken_from_where_the_user_stands(self):
        bin_dir, user = (os.path.join(self.workdir, name) for name in ("bin", "user"))
        os.makedirs(bin_dir)
        exe = shutil.copy(setup_native(), bin_dir)
        make_tree(os.path.join(user, "payload"))
        for args in (["-a", "pkg.zqa", "payload"], ["-x", "pkg.zqa", "out"], ["--test", "pkg.zqa"],
                     ["-c", "pkg.zqa"]):
            self.assertEqual(self.run_setup(*args, exe="../bin/setup", cwd=user)[0], 0, args)
        self.assertEqual(snapshot(os.path.join(user, "out")), snapshot(os.path.join(user, "payload")))
        self.assertEqual(self.run_setup("-s", "-dt", "out", exe=exe, cwd=user), (0, "", ""))
        self.assertEqual(sorted(os.listdir(user)), ["payload", "pkg.001", "pkg.zqa"])
        self.assertEqual(os.listdir(bin_dir), ["setup"])
        self.assertEqual(self.run_setup("-tl", ".", exe=exe, cwd=user),
                         (0, "", "LFN = %s\n" % os.path.realpath(user)))

    def test_only_questions_wait_and_their_answer_is_no_unless_it_is_yes(self):
        self.assertEqual(self.run_on_terminal("-tr", "7")[0], 7)  # nothing typed: a message goes on
        tree = os.path.join(self.workdir, "tree")
        for typed, yes in ((b"y\n", True), (b"YES\n", True), (b"n\n", False), (b"\n", False), (b"\x04", False)):
            with self.subTest(typed=typed):
                if not os.path.exists(tree):
                    make_tree(tree)
                code, _, shown = self.run_on_terminal("-dt", tree, typed=typed, stderr_too=True)
                self.assertIn("Delete directory %s and everything in it? [y/N] " % tree, shown)
                self.assertEqual((code, os.path.exists(tree)), (0 if yes else 1, not yes))
        code, _, shown = self.run_setup("-dt", tree)  # no terminal, nobody to say yes
        self.assertEqual((code, os.path.exists(tree)), (1, True))
        self.assertEqual(self.run_setup("-s", "-dt", tree), (0, "", ""))
        self.assertFalse(os.path.exists(tree))

    def test_a_quoted_path_with_a_blank_is_one_argument(self):
        for name in ("d/my dir", "d/my", "d/dir"):
            os.makedirs(os.path.join(self.workdir, name))
        self.assertEqual(self.run_setup("-s", "-dt", "d/my dir"), (0, "", ""))
        self.assertEqual(sorted(os.listdir(self.workdir + "/d")), ["dir", "my"])
        self.assertEqual(self.run_setup("-s", "-dt", "d/my", "dir"), (1, "", ""))
        self.assertEqual(self.run_setup("-dt", "d/my", "dir")[2], extra("dir", "-dt path"))
        self.assertEqual(sorted(os.listdir(self.workdir + "/d")), ["dir", "my"])

    def test_an_interrupt_at_a_question_ends_the_run_at_once(self):
        make_tree(os.path.join(self.workdir, "tree"))
        master, slave = pty.openpty()
        process = subprocess.Popen([setup_native(), "-dt", "tree"], cwd=self.workdir, stdin=slave,
                                   stdout=subprocess.PIPE, stderr=slave, preexec_fn=die_with_parent)
        os.close(slave)
        shown = b""
        while b"[y/N] " not in shown and select.select([master], [], [], EXIT_TIMEOUT)[0]:
            shown += os.read(master, 4096)
        process.send_signal(signal.SIGINT)
        try:
            self.assertEqual(process.wait(timeout=5), 130)
        finally:
            process.kill()
            os.close(master)
        self.assertTrue(os.path.exists(os.path.join(self.workdir, "tree", "a", "b", "text.txt")))


class MediumTools(NativeTestCase):
    def test_pack_and_unpack_a_tree_quietly_verbosely_and_silently(self):
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        files = sorted(os.path.relpath(os.path.join(folder, name), tree)
                       for folder, _, names in os.walk(tree) for name in names)
        for mode in ("", "-v", "-s"):
            with self.subTest(mode=mode):
                archive, out = self.workdir + "/t%s.zqa" % mode, self.workdir + "/out" + mode
                packed = self.run_setup(*mode.split(), "-a", archive, tree)
                unpacked = self.run_setup(*mode.split(), "-x", archive, out)
                self.assertEqual(snapshot(out), snapshot(tree))
                if mode == "-v":  # one line a file, as gzip -v has it
                    self.assertRegex(packed[2], "^Current dir: %s\n(.*\n)*Archiving directory a\n"
                                     "Current dir: %s/a\n(.*\n)*Archive %s complete.\n$" % tuple(map(re.escape, (tree, tree, archive))))
                    for result in (packed, unpacked):
                        self.assertEqual(sorted(line.split(":")[0]
                                                for line in result[1].splitlines()), files)
                    self.assertIn("a/b/text.txt: 96000 -> ", packed[1])
                    self.assertIn("a/b/text.txt: 96000 bytes\n", unpacked[1])
                else:
                    self.assertEqual((packed, unpacked), ((0, "", "Archive %s complete.\n" % archive),
                                                          (0, "", "Extraction is complete.\n"))
                                     if not mode else ((0, "", ""), (0, "", "")))

    def test_progress_line_on_a_terminal(self):
        tree = os.path.join(self.workdir, "many")
        for number in range(300):
            write(os.path.join(tree, "f%03d" % number), b"keyboard %d " % number * (number * 7))
        archive = os.path.join(self.workdir, "many.zqa")
        code, stdout, shown = self.run_on_terminal("-a", archive, tree, typed=b"\n", stderr_too=True)
        self.assertEqual((code, stdout), (0, ""))
        self.assertRegex(shown, r"\r\x1b\[KCompressing f\d+\.\.\.  \[\d+/300 files, ")
        # The last one reaches 100% and is erased before the question comes.
        final = "\r\x1b[KCompressing f299...  [300/300 files, "
        self.assertRegex(shown[shown.rindex(final):],
                         r"^[^\n]*, 100%\]\r\x1b\[KArchive .* complete\.\r?\n")
        code, _, shown = self.run_on_terminal("-x", archive, os.path.join(self.workdir, "out"),
                                              typed=b"\n", stderr_too=True)
        self.assertRegex(shown, r"\[300 files, [^\]]*, 100%\]\r\x1b\[KExtraction is complete\.")
        code, _, shown = self.run_on_terminal("-c", archive, typed=b"\n", stderr_too=True)
        self.assertRegex(shown, r"\r\x1b\[Kmany\.zqa  \[1/1 files, [^\]]*, 100%\]\r\x1b\[KDone\. ")

    def test_links_in_the_target_or_the_tree_are_never_followed(self):
        tree, target, outside = plant_links(self.workdir)
        os.symlink(outside, os.path.join(tree, "link"))
        archive = os.path.join(self.workdir, "links.zqa")
        self.assertEqual(self.run_setup("-a", archive, tree), (1, "", "Directory link link is not "
                                                               "followed; it is left out of the archive.\n"))
        code, _, stderr = self.run_setup("-x", archive, target)
        self.assertEqual((code, os.path.exists(os.path.join(target, "link"))), (255, False))  # -1
        for kind in LINKS:
            # A file member replaces the link itself; a directory member is refused.
            self.assertFalse(os.path.islink(os.path.join(target, kind + "-f")))
            self.assertEqual(read(os.path.join(target, kind + "-f")), b"member")
            self.assertIn(refused_level(kind + "-d") + "\n", stderr)
        # Tree removal takes a link itself, never what it leads to.
        self.assertEqual(self.run_setup("-s", "-dt", tree), (0, "", ""))
        self.assertFalse(os.path.lexists(tree))
        self.assertEqual(snapshot(outside), {"folder": "<dir>", "file": b"outside"})

    def interrupt(self, args, ready, signal_number):
        """Runs setup, sends it signal_number once ready() holds: (exit code, stderr)."""
        process = subprocess.Popen([setup_native()] + args, cwd=self.workdir, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=die_with_parent)
        self.assertTrue(wait_until(lambda: ready() or process.poll() is not None, 60))
        process.send_signal(signal_number)
        _, stderr = process.communicate(timeout=60)
        return process.returncode, stderr.decode("latin-1")

    def test_an_interrupt_leaves_nothing_half_made(self):
        tree, out = os.path.join(self.workdir, "tree"), os.path.join(self.workdir, "out")
        write(os.path.join(tree, "a-small"), b"small")
        write(os.path.join(tree, "b-large"), random.Random(1).randbytes(24 << 20))
        archive = os.path.join(self.workdir, "t.zqa")
        self.assertEqual(self.run_setup("-s", "-a", archive, tree)[0], 0)
        part = archive + "2.part0"
        code, stderr = self.interrupt(["-a", archive + "2", tree],
                                      lambda: os.path.exists(part) and os.path.getsize(part) > 1 << 20,
                                      signal.SIGINT)
        self.assertEqual((code, stderr), (130, "Interrupted; the unfinished archive %s2 is removed.\n" % archive))
        self.assertEqual(sorted(os.listdir(self.workdir)), ["t.zqa", "tree"])
        large = os.path.join(out, "b-large.part0")  # a large member streams under a temporary name
        code, stderr = self.interrupt(["-x", archive, out],
                                      lambda: os.path.exists(large) and os.path.getsize(large) > 0,
                                      signal.SIGTERM)
        self.assertEqual((code, stderr), (143, "Interrupted; the unfinished file b-large is removed.\n"))
        self.assertEqual(snapshot(out), {"a-small": b"small"})

    def test_list_and_test_read_every_member_and_write_nothing(self):
        tree, archive = os.path.join(self.workdir, "tree"), os.path.join(self.workdir, "t.zqa")
        make_tree(tree)
        self.run_setup("-a", archive, tree)
        code, listing, _ = self.run_setup("--list", archive)
        rows = {line.split(None, 2)[2]: line.split()[:2] for line in listing.splitlines()}
        self.assertEqual(code, 0)
        self.assertEqual(set(rows), {path + "/" if data == "<dir>" else path for path, data in snapshot(tree).items()})
        self.assertEqual(rows["a/b/text.txt"][1], "96000")
        self.assertEqual(rows["empty.txt"], ["6", "0"])  # a size header and the end mark
        self.assertEqual(self.run_setup("--test", archive), (0, "", ""))
        whole = read(archive)
        for name, data, result, said in (("cut", whole[:len(whole) // 2], 3, "is damaged"),
                                         ("bad", whole[:8] + b"\x20\x00" + b"n" * 300, 3, "longer than 259"),
                                         ("none", b"PK\x03\x04", 2, "isn't a supported archive type")):
            write(os.path.join(self.workdir, name), data)
            for switch in ("--list", "--test"):
                code, _, stderr = self.run_setup(switch, os.path.join(self.workdir, name))
                self.assertEqual(code, result, (name, switch))
                self.assertIn(said, stderr)
        self.assertEqual(sorted(os.listdir(self.workdir)), ["bad", "cut", "none", "t.zqa", "tree"])

    def test_random_failures_of_the_c_library_are_told_and_leave_no_half_file(self):
        if not shutil.which("fiu-run"):
            self.skipTest("fiu-run (fiu-utils) is not installed")
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        self.run_setup("-s", "-a", self.workdir + "/a.zqa", tree)
        codes = []
        for failing in ("posix/io/*", "posix/stdio/*", "libc/mm/*"):
            for run in range(6):
                args = [["-a", "b.zqa", tree], ["-x", "a.zqa", "out"]][run % 2]
                code, _, stderr = self.run_setup("-x", "-c", "enable_random name=%s,probability=0.05" % failing,
                                                 setup_native(), *args, exe="fiu-run")
                with self.subTest(failing=failing, args=args, code=code):
                    self.assertGreaterEqual(code, 0)  # no crash, no abort
                    self.assertTrue(code == 0 or stderr, "a failure without a word")
                    self.assertNotIn(".part", " ".join(os.listdir(self.workdir)))
                    if args[0] == "-a" and os.path.exists(self.workdir + "/b.zqa"):
                        # Whole, or without what was named as left out.
                        self.assertEqual(self.run_setup("-s", "-x", "b.zqa", "back")[0], 0)
                        back, whole = snapshot(self.workdir + "/back"), snapshot(tree)
                        named = re.search("left out|archived empty|not archived", stderr)
                        self.assertTrue(code == 0 and back == whole or code != 0 and named and
                                        all(whole.get(path) == data for path, data in back.items()), stderr)
                    if code == 0 and args[0] == "-x":
                        self.assertEqual(snapshot(self.workdir + "/out"), snapshot(tree))
                    shutil.rmtree(self.workdir + "/back", True)
                    shutil.rmtree(self.workdir + "/out", True)
                    if os.path.exists(self.workdir + "/b.zqa"):
                        os.remove(self.workdir + "/b.zqa")
                    codes.append(code)
        self.assertNotEqual(set(codes), {0}, "nothing failed")

    def test_a_full_disk_keeps_the_file_that_stood_under_a_members_name(self):
        tree, out = os.path.join(self.workdir, "tree"), os.path.join(self.workdir, "out")
        write(os.path.join(tree, "a.bin"), os.urandom(40000))  # beside the old file, more than 64 KB
        self.run_setup("-s", "-a", "a.zqa", tree)
        os.makedirs(out)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", out], capture_output=True).returncode:
            self.skipTest("no small file system can be mounted here")
        self.addCleanup(subprocess.run, ["umount", out], capture_output=True)
        old = b"the old file" * 2500
        write(os.path.join(out, "a.bin"), old)
        code, _, stderr = self.run_setup("-x", "a.zqa", "out")
        self.assertEqual((code, stderr), (4, "Failed to write file a.bin. No space left on device.\n"))
        self.assertEqual((os.listdir(out), read(os.path.join(out, "a.bin"))), (["a.bin"], old))

    def test_reading_ahead_that_fails_leaves_the_unpacking_whole(self):
        if not shutil.which("fiu-run"):
            self.skipTest("fiu-run (fiu-utils) is not installed")
        if self.run_setup("-x", setup_native(), "--version", exe="fiu-run")[0] != 0:
            self.skipTest("fiu-run cannot start this build (a sanitizer's runtime)")
        tree = os.path.join(self.workdir, "tree")
        for n in range(40):  # several read blocks of the archive
            write(os.path.join(tree, "%02d.bin" % n), os.urandom(100000))
        self.run_setup("-s", "-a", self.workdir + "/a.zqa", tree)
        code, _, stderr = self.run_setup("-x", "-c", "enable name=posix/io/rw/pread", setup_native(),
                                         "-x", "a.zqa", "out", exe="fiu-run")
        self.assertEqual((code, stderr), (0, "Extraction is complete.\n"))
        self.assertEqual(snapshot(self.workdir + "/out"), snapshot(tree))

    def test_cut_the_remainder_first_and_every_later_piece_full(self):
        for size, pieces in ((0, []), (1, [1]), (PIECE, [0, PIECE]), (PIECE + 1, [1, PIECE]),
                             (3000000, [84672, PIECE, PIECE])):
            with self.subTest(size=size):
                name = os.path.join(self.workdir, "%d.x" % size, "PACKAGE")
                data = os.urandom(size)
                write(name, data)
                self.assertEqual(self.run_setup("-c", name), (0, "", "Done. %s split in %d pieces.\n"
                                                              % (name, len(pieces))))
                cut = [read("%s.%03d" % (name, n + 1)) for n in range(len(pieces))]
                self.assertEqual(([len(piece) for piece in cut], b"".join(cut)), (pieces, data))
                self.assertEqual(len(os.listdir(os.path.dirname(name))), len(pieces) + 1)


def utf8(text):
    """text as the harness shows the program's UTF-8 output."""
    return text.encode().decode("latin-1")


class Names(NativeTestCase):
    """Names in an archive are in a Windows code page; what Windows or the code
    page cannot hold is left out, named, and the rest is packed."""

    def test_names_are_stored_in_the_code_page_and_come_back(self):
        for page, names in ((1252, ["café.txt", "Größe.txt", "€uro.txt", "dir é/ñ"]),
                            (1250, ["Łódź.txt", "őr"]), (1251, ["Жук.txt"]), (437, ["Größe.txt", "½"]),
                            (850, ["Ø.txt", "café"])):
            with self.subTest(page=page):
                tree, archive = self.workdir + "/t%d" % page, self.workdir + "/%d.zqa" % page
                for name in names:
                    write(os.path.join(tree, name), name.encode())
                line = ["--codepage", str(page)] if page != 1252 else []
                self.assertEqual(self.run_setup("-s", *line, "-a", archive, tree), (0, "", ""))
                for name in names:
                    self.assertIn(b"\0" + os.path.basename(name).encode("cp%d" % page) + b"\0", read(archive))
                listing = self.run_setup(*line, "--list", archive)[1]
                self.assertEqual(sorted(row.split(None, 2)[2] for row in listing.splitlines()),
                                 sorted(utf8(path) + "/" * (data == "<dir>") for path, data in snapshot(tree).items()))
                self.assertEqual(self.run_setup("-s", *line, "-x", archive, self.workdir + "/o%d" % page)[0], 0)
                self.assertEqual(snapshot(self.workdir + "/o%d" % page), snapshot(tree))

    def test_names_that_windows_or_the_code_page_cannot_hold_are_left_out(self):
        tree = os.path.join(self.workdir, "tree")
        held = 'Windows cannot hold a name with "%s"'
        device = "Windows keeps the name %s for a device"
        refused = {"a\\b": held % "\\", "c:d": held % ":", "e*f": held % "*", "g?h": held % "?",
                   'i"j': held % '"', "k<l": held % "<", "m>n": held % ">", "o|p": held % "|",
                   "t\tab": "Windows cannot hold a name with a control character (0x09)",
                   "dot.": "Windows drops the dot at the end of a name",
                   "blank ": "Windows drops the blank at the end of a name",
                   "CON": device % "CON", "con.txt": device % "con", "Nul.tar.gz": device % "Nul",
                   "PRN": device % "PRN", "aux.h": device % "aux", "COM1.log": device % "COM1",
                   "lpt9": device % "lpt9", "ő.txt": 'code page 1252 has no character for "ő"'}
        for name in refused:
            write(os.path.join(tree, name), b"x")
        write(os.path.join(tree, "AUX", "inside"), b"x")  # a directory: nothing of it goes in
        refused["AUX"] = device % "AUX"
        write(os.path.join(tree, "sub", "\udcff.txt"), b"x")  # a byte that is no UTF-8
        refused["sub/\udcff.txt"] = "the name is not UTF-8 (byte 0xFF)"
        kept = {"keep.txt": b"k", "COM10.txt": b"c", "CONSOLE": b"o", "lpt0": b"l", ".dot": b"d"}
        for name, data in kept.items():
            write(os.path.join(tree, name), data)
        archive = os.path.join(self.workdir, "a.zqa")
        code, _, stderr = self.run_setup("-a", archive, tree)
        told = ["%s is left out of the archive: %s." % (os.fsencode(name).decode("latin-1"), utf8(why))
                for name, why in refused.items()]
        self.assertEqual((code, sorted(stderr.splitlines())),
                         (1, sorted(told)))
        self.assertEqual(self.run_setup("-s", "-x", archive, self.workdir + "/out")[0], 0)
        self.assertEqual(snapshot(self.workdir + "/out"), dict(kept, sub="<dir>"))

    def test_stored_bytes_without_a_character_are_named_and_not_unpacked(self):
        stream = b"\x01\0\0\0\xf6\x80\0\xff"  # the one byte "a"
        member = lambda name: b"\x20\0" + name + b"\0" + stream
        archive = os.path.join(self.workdir, "a.zqa")
        write(archive, b"ZQAR\0\0\0\0" + member(b"caf\xe9") + member(b"x\x81y") +
              b"\x10\0\x90d\0" + member(b"in") + b"\x01\x80" + member(b"ok") + b"\x01\x80")
        code, _, stderr = self.run_setup("-x", archive, self.workdir + "/out")
        self.assertEqual((code, stderr), (4, "".join(
            'The archive holds the name "%s", whose bytes shown as \\xNN have no character in code page 1252; '
            "that member is not extracted.\n" % name for name in ("x\\x81y", "\\x90d"))))
        self.assertEqual(snapshot(self.workdir + "/out"), {"café": b"a", "ok": b"a"})
        self.assertIn(" x\\x81y\n", self.run_setup("--list", archive)[1])
        # In code page 437 every byte is a character.
        self.assertEqual(self.run_setup("-s", "--codepage", "437", "-x", archive, self.workdir + "/dos")[0], 0)
        self.assertEqual(sorted(snapshot(self.workdir + "/dos")),
                         sorted(["caf\u0398", "x\u00fcy", "\u00c9d", "\u00c9d/in", "ok"]))

    def test_pieces_of_an_earlier_longer_cut_are_named(self):
        name = os.path.join(self.workdir, "a.txt")
        for size, left in ((2 * PIECE + 1, ""), (PIECE + 1, ".003"), (1, ".002 to .003"), (0, ".001 to .003")):
            write(name, b"x" * size)
            code, _, stderr = self.run_setup("-c", name)
            told = "Left from an earlier cut of %s beside the new pieces: %s.\n" % (name, left) if left else ""
            done = "Done. %s split in %d pieces.\n" % (name, (size + PIECE - 1) // PIECE)
            self.assertEqual((code, stderr), (0, told + done))


class System(NativeTestCase):
    def test_ds_removes_the_program_after_its_end_and_its_folder_when_empty(self):
        temp, alone, shared = (os.path.join(self.workdir, name)
                               for name in ("tmp", "it's $HOME", "shared"))
        write(os.path.join(shared, "other"), b"")
        os.makedirs(temp)  # where the script goes
        for folder in (alone, shared):
            os.makedirs(folder, exist_ok=True)
            exe = shutil.copy(setup_native(), os.path.join(folder, "setup"))
            with mock.patch.dict(os.environ, TMPDIR=temp):
                # Asked first: without a terminal nobody says yes.
                code, _, asked = self.run_setup("-ds", exe=exe)
                self.assertEqual(code, 1)
                self.assertIn("Delete this program, %s, once it has ended, and its folder %s if that is "
                              "empty then? [y/N] no" % (exe, folder), asked)
                self.assertTrue(os.path.exists(exe))
                self.assertEqual(self.run_setup("-s", "-ds", exe=exe), (0, "", ""))
        self.assertTrue(wait_until(lambda: not os.path.lexists(alone)))
        self.assertTrue(wait_until(lambda: os.listdir(temp) == []), os.listdir(temp))
        self.assertEqual(os.listdir(shared), ["other"])

    def test_tp_finds_a_running_cleanup_task_by_its_executable(self):
        task = shutil.copy("/bin/sleep", os.path.join(self.workdir, "_ISDEL.EXE"))
        process = subprocess.Popen([task, "30"])
        try:
            code, _, stderr = self.run_setup("-tp")
        finally:
            process.kill()
            process.wait()
        lines = stderr.splitlines()
        self.assertEqual((code, lines[-1]), (0, "Found"))
        self.assertIn("Process %d = %s" % (process.pid, os.path.realpath(task)), lines)
        self.assertEqual(self.run_setup("-tp")[2].splitlines()[-1], "Not Found")



class FloppyImages(NativeTestCase):
    """-f on Linux: DISKn.IMG beside the INF, where setup runs, read back with
    mtools and checked by fsck.fat."""

    SOUND = ('  setup.exe = 1\r\nZQK9150.INF="1"\r\n; B.BIN=1\r\nEMPTY.TXT = 1%s\r\n'
             'full.bin=2\r\nB.BIN=3\r\n[Other]\r\nX.BIN=1\r\n') % ("," * 90)
    DISKS = {1: ["setup.exe", "ZQK9150.INF", "EMPTY.TXT"], 2: ["full.bin"], 3: ["B.BIN"]}
    HEAD = "Nothing is written. In .\\ZQK9150.INF:\n"

    def make_medium(self, section):
        medium = os.path.join(self.workdir, "medium")
        shutil.rmtree(medium, True)
        write(os.path.join(medium, "ZQK9150.INF"), b"; K9150\n[sourcedisksfiles]\r\n" +
              section.encode())
        sizes = {"setup.exe": 40000, "EMPTY.TXT": 0, "full.bin": PIECE, "B.BIN": 513,
                 "Read me.txt": 1}
        sizes.update(("F%07d.BIN" % n, 0) for n in range(320))
        for number, (name, size) in enumerate(sizes.items()):
            if name != "ZQK9150.INF":
                write(os.path.join(medium, name), (name.encode() * size)[:size])
            os.utime(os.path.join(medium, name), (1700000000 + 2 * number,) * 2)
        os.utime(os.path.join(medium, "ZQK9150.INF"), (1700000000,) * 2)
        write(os.path.join(medium, "DISK1.IMG"), b"old")
        return medium

    def read_back(self, image):
        """(name, contents, last-write time) of each file on image, in order."""
        checked = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        self.assertEqual(os.path.getsize(image), 1474560)
        files, out = [], image + ".out"
        os.makedirs(out)
        listing = subprocess.run(["mdir", "-b", "-i", image, "::"], capture_output=True, text=True)
        for name in listing.stdout.split():
            subprocess.run(["mcopy", "-m", "-n", "-i", image, name, out], check=True)
            path = os.path.join(out, name[3:])
            files.append((name[3:], read(path), os.path.getmtime(path)))
        return files

    def test_each_disk_an_image_or_nothing_written(self):
        cut = "".join("F%07d.BIN=%d\n" % (n, 1 + n % 2) for n in range(320))  # 4160 characters
        written = {}
        for line, section, code, stderr in (
                ("-f", self.SOUND, 0, "All floppys done.\n"),
                ("-s -f", self.SOUND, 0, ""),  # images: three disks, nothing to change
                ("-s -f", "B.BIN=1", 0, ""),
                ("-f", "B.BIN=1\nEMPTY.TXT=3", 1, "EMPTY.TXT: listed for disk 3, but no file is "
                                                  "listed for disk 2"),
                ("-f", "B.BIN=9", 1, 'B.BIN: its disk "9" is not one of 1 to 8'),
                ("-f", "B.BIN=one", 1, 'B.BIN: its disk "one" is not one of 1 to 8'),
                ("-f", cut, 1, "F0000314.BIN: the list of files ends in it, at 4096 characters; "
                               "the files from it on are not read"),
                ("-f", "full.bin=1\nB.BIN=1", 1, "disk 1: its 2 files take 1458688 bytes; a 1.44 "
                                                 "MB floppy holds 1457664 bytes in at most 224 files"),
                ("-f", "Read me.txt=1", 1, "Read me.txt: not a DOS name (up to 8 characters, a "
                                           "dot and up to 3 more)"),
                ("-f", "[Other]", 1, None)):
            with self.subTest(line=line, section=section[:30]):
                medium = self.make_medium(section)
                exe = shutil.copy(setup_native(), medium)
                self.assertEqual(self.run_setup(*line.split(), exe=exe, cwd=medium), (
                    code, "", stderr if code == 0 else self.HEAD + stderr + "\n" if stderr else
                    ".\\ZQK9150.INF lists no files in its section [SourceDisksFiles].\n"))
                images = sorted(name for name in os.listdir(medium) if name.endswith(".IMG"))
                if code:
                    self.assertEqual((images, read(os.path.join(medium, "DISK1.IMG"))),
                                     (["DISK1.IMG"], b"old"))
                    continue
                disks = self.DISKS if section == self.SOUND else {1: ["B.BIN"]}
                self.assertEqual(images, ["DISK%d.IMG" % disk for disk in disks])
                for disk, names in disks.items():
                    image = os.path.join(medium, "DISK%d.IMG" % disk)
                    self.assertEqual(self.read_back(image), [
                        (name, read(os.path.join(medium, name)),
                         os.path.getmtime(os.path.join(medium, name))) for name in names])
                    # The same files give the same bytes.
                    self.assertEqual(written.setdefault((section, disk), read(image)), read(image))
        self.assertEqual(len(written), 4)

    def test_images_of_an_earlier_longer_set_are_named_and_a_missing_inf_is_not_found(self):
        medium = self.make_medium(self.SOUND)
        exe = shutil.copy(setup_native(), medium)
        for disk in (4, 6):
            write(os.path.join(medium, "DISK%d.IMG" % disk), b"old")
        self.assertEqual(self.run_setup("-f", exe=exe, cwd=medium), (0, "", (
            "DISK4.IMG, DISK6.IMG, left from an earlier set, are not part of this set of 3 disks.\n"
            "All floppys done.\n")))
        os.remove(os.path.join(medium, "ZQK9150.INF"))
        self.assertEqual(self.run_setup("-f", exe=exe, cwd=medium),
                         (1, "", ".\\ZQK9150.INF not found.\n"))

    def test_an_image_that_cannot_be_completed_leaves_nothing_under_its_name(self):
        medium = self.make_medium("B.BIN=1")
        os.remove(os.path.join(medium, "DISK1.IMG"))
        os.makedirs(os.path.join(medium, "DISK1.IMG", "inside"))
        code, _, stderr = self.run_setup("-f", exe=shutil.copy(setup_native(), medium), cwd=medium)
        self.assertEqual(code, 2)
        self.assertEqual(stderr, "Cannot create DISK1.IMG. Is a directory.\n")
        self.assertEqual(sorted(os.listdir(medium))[:2], ["B.BIN", "DISK1.IMG"])


if __name__ == "__main__":
    unittest.main()
