"""Installation media, made the way the medium's makers do: the payload
(InstallShield's setup, which is the recorder fixture named setup.exe, its
clean-up task _ISDEL.EXE beside it, and padding) packed with -a, the archive
cut with -c into exactly three pieces, and a ZQK9150.INF whose SetupInstall
section copies the pieces into the target directory and whose
SourceDisksFiles section puts setup.exe, the INF and the first piece on disk 1
and one more piece on each further disk."""

import os
import random
import shutil

from harness import WineRun, fixture, read, setup_exe, wine_environment, windows_path, write

PIECE = 1457664
PIECES = ["ZQK9150.001", "ZQK9150.002", "ZQK9150.003"]
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


def target_directory(env=None):
    """The Unix path of C:\\windows\\temp\\ZQK9150 in the prefix."""
    prefix = (env or wine_environment())["WINEPREFIX"]
    return os.path.join(prefix, "drive_c", "windows", "temp", "ZQK9150")


def make_payload(folder):
    """The tree that the installation unpacks into the target's IS folder."""
    for name in ("setup.exe", "_ISDEL.EXE"):
        write(os.path.join(folder, name), read(fixture("recorder.exe")))
    # Random bytes code to slightly more than themselves: three pieces' worth.
    write(os.path.join(folder, "data", "padding.bin"), random.Random(9150).randbytes(3100000))
    write(os.path.join(folder, "readme.txt"), b"ZQ K9150 keyboard driver\r\n" * 100)


def run_silent(line):
    run = WineRun(line)
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
    write(os.path.join(folder, "ZQK9150.INF"), text.replace("\n", "\r\n").encode())


def build_medium(folder, work, setup=None):
    """Makes folder a medium: setup.exe (by default the one under test), the
    INF and three pieces; work keeps the payload and the archive, whose path
    it returns."""
    make_payload(os.path.join(work, "payload"))
    archive = os.path.join(work, "ZQK9150.ZQA")
    run_silent("-s -a %s %s" % (windows_path(archive), windows_path(os.path.join(work, "payload"))))
    run_silent("-s -c %s" % windows_path(archive))
    sizes = [os.path.getsize(os.path.join(work, name)) for name in PIECES]
    if os.path.exists(os.path.join(work, "ZQK9150.004")) or sizes[1:] != [PIECE, PIECE]:
        raise AssertionError("the payload does not make exactly three pieces: %r" % sizes)
    os.makedirs(folder, exist_ok=True)
    for name in PIECES:
        shutil.copy(os.path.join(work, name), folder)
    shutil.copyfile(setup or setup_exe(), os.path.join(folder, "setup.exe"))
    write_inf(folder)
    return archive


def read_record(path):
    """A recorder's record: its key=value lines, "file=" lines gathered in
    "files" (name in capitals: size), or None when it was never written."""
    if not os.path.exists(path):
        return None
    record = {"files": {}, "ended": False}
    for line in read(path).decode("latin-1").splitlines():
        if line == "ended":
            record["ended"] = True
        elif line.startswith("file="):
            name, size = line[5:].rsplit(" size=", 1)
            record["files"][name.upper()] = int(size)
        elif "=" in line:
            key, value = line.split("=", 1)
            record[key] = value
    return record
