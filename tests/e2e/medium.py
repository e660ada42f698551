"""Builds installation media for the tests, the way the medium's makers do:
the payload (the vendor setup's stand-in, which lands as is\\setup.exe, its
clean-up task _ISDEL.EXE beside it, and padding) packed with -a, the archive cut with -c into
exactly three pieces, and a ZQK9150.INF whose SetupInstall section copies
the pieces into the target directory and whose SourceDisksFiles section
puts setup.exe, the INF and the first piece on disk 1 and one more piece on
each further disk, as the vendor's does."""

import os
import random
import shutil
import subprocess

from harness import WineRun, boxdriver_exe, setup_exe, wine_environment, windows_path

PIECE = 1457664
PIECES = ["ZQK9150.001", "ZQK9150.002", "ZQK9150.003"]
# Random bytes code to slightly more than themselves: three pieces' worth.
PADDING = 3100000

INF = """[Version]
Signature="$Windows NT$"

[SetupInstall]
CopyFiles=Medium.Files

[DestinationDirs]
Medium.Files={destination}

[Medium.Files]
{files}

[SourceDisksNames]
1="ZQ K9150 disk 1",,,
2="ZQ K9150 disk 2",,,
3="ZQ K9150 disk 3",,,

[SourceDisksFiles]
{disks}
"""


def fixture(name):
    """A test fixture built beside the box driver."""
    return os.path.join(os.path.dirname(boxdriver_exe()), name)


def target_directory():
    """The Unix path of C:\\windows\\temp\\ZQK9150 in the test's prefix."""
    return os.path.join(wine_environment()["WINEPREFIX"], "drive_c", "windows", "temp", "ZQK9150")


def make_payload(folder):
    """The tree that the installation unpacks into the target's IS folder:
    setup.exe there is the target directory's is\\setup.exe."""
    os.makedirs(os.path.join(folder, "data"))
    shutil.copyfile(fixture("standin.exe"), os.path.join(folder, "setup.exe"))
    shutil.copyfile(fixture(os.path.join("isdel-upper", "_ISDEL.EXE")),
                    os.path.join(folder, "_ISDEL.EXE"))
    with open(os.path.join(folder, "data", "padding.bin"), "wb") as file:
        file.write(random.Random(9150).randbytes(PADDING))
    with open(os.path.join(folder, "readme.txt"), "wb") as file:
        file.write(b"ZQ K9150 keyboard driver\r\n" * 100)


def run_silent(line, cwd):
    run = WineRun(line, cwd=cwd)
    try:
        code = run.wait()
    finally:
        run.close()
    if code != 0:
        raise AssertionError("setup.exe %s ended with %d" % (line, code))


def write_inf(folder, files=PIECES, destination="10,temp\\ZQK9150"):
    disks = [("setup.exe", 1), ("ZQK9150.INF", 1)] + [(name, n + 1) for n, name in enumerate(files)]
    text = INF.format(files="\n".join(files), destination=destination,
                      disks="\n".join("%s=%d" % disk for disk in disks))
    with open(os.path.join(folder, "ZQK9150.INF"), "w", newline="\r\n") as file:
        file.write(text)


def build_medium(folder, work, setup=None):
    """Makes folder a medium: setup.exe (a copy of setup, by default the
    one under test), ZQK9150.INF and three pieces. work is a scratch folder
    for the payload and the archive."""
    payload = os.path.join(work, "payload")
    make_payload(payload)
    archive = os.path.join(work, "ZQK9150.ZQA")
    run_silent("-s -a %s %s" % (windows_path(archive), windows_path(payload)), work)
    run_silent("-s -c %s" % windows_path(archive), work)
    sizes = [os.path.getsize(os.path.join(work, name)) for name in PIECES]
    if os.path.exists(os.path.join(work, "ZQK9150.004")) or sizes[1:] != [PIECE, PIECE]:
        raise AssertionError("the payload does not make exactly three pieces: %r" % sizes)
    os.makedirs(folder, exist_ok=True)
    for name in PIECES:
        shutil.move(os.path.join(work, name), os.path.join(folder, name))
    shutil.copyfile(setup or setup_exe(), os.path.join(folder, "setup.exe"))
    write_inf(folder)
    return archive


def read_record(path):
    """A recorder's or the stand-in's record: dict of its key=value lines
    (file= lines gathered in "files"), or None when it was never written."""
    if not os.path.exists(path):
        return None
    record = {"files": {}, "ended": False}
    with open(path, "rb") as file:
        for line in file.read().decode("latin-1").splitlines():
            if line == "ended":
                record["ended"] = True
            elif line.startswith("file="):
                name, size = line[5:].rsplit(" size=", 1)
                record["files"][name.upper()] = int(size)
            elif "=" in line:
                key, value = line.split("=", 1)
                record[key] = value
    return record
