"""setup.exe under Wine: -a, -x and -dt, and archives that cross between the
Windows and the Linux build."""

import os
import stat
import subprocess
import unittest

from harness import WineTestCase, setup_native, windows_path


def make_tree(root):
    """A tree with nesting, an empty directory, empty and block-sized files
    and a hidden file."""
    os.makedirs(os.path.join(root, "a", "b", "c"))
    os.makedirs(os.path.join(root, "empty dir"))
    files = {
        "empty.txt": b"",
        "block.bin": bytes((i * 7) & 0xFF for i in range(16384)),
        "a/block1.bin": bytes((i * 13 + 5) & 0xFF for i in range(16385)),
        "a/b/text.txt": b"ZQ K9150 keyboard driver setup\r\n" * 3000,
        "a/b/c/.hidden": b"hidden",
    }
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as file:
            file.write(data)


def snapshot(root):
    tree = {}
    for directory, subdirs, files in os.walk(root):
        for name in subdirs:
            tree[os.path.relpath(os.path.join(directory, name), root)] = "<dir>"
        for name in files:
            with open(os.path.join(directory, name), "rb") as file:
                tree[os.path.relpath(os.path.join(directory, name), root)] = file.read()
    return tree


LINKS = ("file-link", "folder-link", "hard-link")


def plant_links(root):
    """A tree to pack, and a target that holds under the name of each of its
    file members (NAME-f) and directory members (NAME-d) a symbolic link to
    a file outside, one to a folder outside, or a hard link to a file
    outside. Returns the tree, the target and the outside folder."""
    tree, target, outside = (os.path.join(root, name) for name in ("tree", "target", "outside"))
    os.makedirs(os.path.join(outside, "folder"))
    os.makedirs(target)
    with open(os.path.join(outside, "file"), "wb") as file:
        file.write(b"outside")
    for kind in LINKS:
        os.makedirs(os.path.join(tree, kind + "-d"))
        for name, member in ((kind + "-f", kind + "-f"), (kind + "-d", kind + "-d/inner")):
            with open(os.path.join(tree, member), "wb") as file:
                file.write(b"member")
            entry = os.path.join(target, name)
            if kind == "hard-link":
                os.link(os.path.join(outside, "file"), entry)
            else:
                os.symlink(os.path.join(outside, "file" if kind == "file-link" else "folder"), entry)
    return tree, target, outside


def refused_level(name):
    return "%s is a link or a file, not a directory; nothing is extracted into it." % name


def set_dos_attributes(path, attributes):
    """Wine keeps hidden and system bits in an extended attribute."""
    os.setxattr(path, "user.DOSATTRIB", b"0x%x" % attributes)


class CrossBuild(WineTestCase):
    def setUp(self):
        super().setUp()
        if not os.path.exists(setup_native()):
            self.skipTest("the Linux build is not built")
        self.tree = os.path.join(self.workdir, "tree")
        make_tree(self.tree)

    def native(self, *args):
        result = subprocess.run([setup_native()] + list(args), stdin=subprocess.DEVNULL,
                                capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_linux_archive_unpacks_under_wine(self):
        archive = os.path.join(self.workdir, "linux.zqa")
        self.native("-a", archive, self.tree)
        out = os.path.join(self.workdir, "out")
        talk = self.converse("-x %s %s" % (windows_path(archive), windows_path(out)), "ok")
        self.assertEqual(talk.texts, ["Extraction is complete."])
        self.assertEqual(talk.exit_code, 0)
        self.assertEqual(snapshot(out), snapshot(self.tree))

    def test_wine_archive_unpacks_on_linux(self):
        archive = os.path.join(self.workdir, "wine.zqa")
        talk = self.converse("-a %s %s" % (windows_path(archive), windows_path(self.tree)), "ok")
        self.assertEqual(talk.texts, ["Archive %s complete." % windows_path(archive)])
        self.assertEqual(talk.exit_code, 0)
        out = os.path.join(self.workdir, "out")
        self.native("-x", archive, out)
        self.assertEqual(snapshot(out), snapshot(self.tree))


class DeleteTree(WineTestCase):
    def test_removes_a_tree_after_confirmation(self):
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        set_dos_attributes(os.path.join(tree, "a", "b", "text.txt"), 0x26)
        talk = self.converse("-dt %s" % windows_path(tree), "ok")
        self.assertEqual(talk.texts, ["About to delete directory %s" % windows_path(tree)])
        self.assertEqual(talk.exit_code, 0)
        self.assertFalse(os.path.exists(tree))

    def test_cancel_on_the_confirmation_deletes_nothing(self):
        tree = os.path.join(self.workdir, "tree")
        make_tree(tree)
        before = snapshot(tree)
        talk = self.converse("-dt %s" % windows_path(tree), "cancel")
        self.assertEqual(talk.exit_code, 1)
        self.assertEqual(snapshot(tree), before)

    def test_missing_directory(self):
        missing = windows_path(os.path.join(self.workdir, "missing"))
        talk = self.converse("-dt %s" % missing, "ok")
        self.assertEqual(talk.texts, ["Directory %s not found." % missing])
        self.assertEqual(talk.exit_code, 1)

    def test_a_read_only_file_stops_the_removal(self):
        tree = os.path.join(self.workdir, "tree")
        os.makedirs(tree)
        locked = os.path.join(tree, "locked")
        open(locked, "wb").close()
        os.chmod(locked, 0o444)
        talk = self.converse("-dt %s" % windows_path(tree), "ok")
        self.assertEqual(talk.exit_code, -1)
        self.assertTrue(os.path.exists(locked))

    def test_a_directory_link_is_never_followed(self):
        outside = os.path.join(self.workdir, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "keep.txt"), "wb") as file:
            file.write(b"keep")
        tree = os.path.join(self.workdir, "tree")
        os.makedirs(os.path.join(tree, "sub"))
        os.symlink(outside, os.path.join(tree, "sub", "link"))
        talk = self.converse("-dt %s" % windows_path(tree), "ok")
        # Wine cannot remove the link itself; what matters is what it points to.
        self.assertIn(talk.exit_code, (0, -1))
        with open(os.path.join(outside, "keep.txt"), "rb") as file:
            self.assertEqual(file.read(), b"keep")

    def test_archive_does_not_descend_into_a_directory_link(self):
        tree = os.path.join(self.workdir, "tree")
        os.makedirs(os.path.join(tree, "sub"))
        with open(os.path.join(tree, "sub", "f"), "wb") as file:
            file.write(b"f")
        os.symlink(tree, os.path.join(tree, "sub", "loop"))
        archive = os.path.join(self.workdir, "a.zqa")
        run = self.start("-a %s %s" % (windows_path(archive), windows_path(tree)))
        box = run.answer("ok")
        self.assertIn("loop", box.text)
        self.assertNotEqual(run.wait(), 0)
        out = os.path.join(self.workdir, "out")
        talk = self.converse("-x %s %s" % (windows_path(archive), windows_path(out)), "ok")
        self.assertEqual(talk.exit_code, 0)
        self.assertEqual(snapshot(out), {"sub": "<dir>", os.path.join("sub", "f"): b"f"})


class Links(WineTestCase):
    def test_unpacking_never_writes_through_a_link_in_the_target(self):
        tree, target, outside = plant_links(self.workdir)
        archive = os.path.join(self.workdir, "links.zqa")
        self.assertEqual(self.converse("-a %s %s" % (windows_path(archive), windows_path(tree)),
                                       "ok").exit_code, 0)
        run = self.start("-x %s %s" % (windows_path(archive), windows_path(target)))
        texts = {run.answer().text for _ in range(5)}
        self.assertEqual(run.wait(), -1)
        # Wine cannot remove a Unix symbolic link, only what it leads to: those
        # members are not written; the hard link gives way to a new file.
        self.assertEqual(texts, {refused_level(kind + "-d") for kind in LINKS} |
                         {"Cannot create file file-link-f.", "Cannot create file folder-link-f."})
        self.assertFalse(os.path.islink(os.path.join(target, "hard-link-f")))
        with open(os.path.join(target, "hard-link-f"), "rb") as file:
            self.assertEqual(file.read(), b"member")
        self.assertEqual(snapshot(outside), {"folder": "<dir>", "file": b"outside"})


if __name__ == "__main__":
    unittest.main()
