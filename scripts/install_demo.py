"""The vendor's whole way, shown: packs the payload and cuts it into three
pieces, writes ZQK9150.INF, writes the floppy set with -f (drive A: a fresh
folder for each disk as its prompt comes), checks that each disk's files fit
on a 1.44 MB floppy, copies the disks into one folder as the end user would
and installs from it with the real rundll32 and setupapi of Wine, the vendor
setup's stand-in and its clean-up task, answering every box of a verbose run
as a user would. Prints each step with its outcome; saves a screenshot of
the status window. Then the Linux build packs and unpacks the same payload,
and writes the same floppy set as images, read back with mtools.

The medium carries the release setup.exe (i686). Wine here runs 64-bit
programs only, so every Windows run uses the x86_64 twin, built from the
same sources with the same flags, and the output says where it stands in.

Run by scripts/demo after the builds; output lands in build/demo."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from harness import (WineRun, read, run_boxdriver, setup_exe, setup_native,  # noqa: E402
                     snapshot, windows_path, wine_environment)
from medium import (PIECE, PIECES, build_medium, make_payload, read_record,  # noqa: E402
                    target_directory)

OUT = os.path.join(HERE, "..", "build", "demo")
RELEASE = os.environ.get("RELEASE_EXE") or os.path.join(HERE, "..", "build", "release", "bin",
                                                        "setup.exe")
CLUSTER = 512
DISK_FILES = {1: ["setup.exe", "ZQK9150.INF", PIECES[0]], 2: [PIECES[1]], 3: [PIECES[2]]}


def step(text, ok=True):
    print("  [%s] %s" % ("ok" if ok else "FAILED", text))
    return ok


def make_sources(work):
    """The folder the makers write the floppies from; returns it and the archive."""
    print("\n== 1. Packing the payload (-a), cutting it (-c), writing ZQK9150.INF")
    print("  (wine setup.exe -s -a, then -s -c: the x86_64 twin of the release build)")
    sources = os.path.join(work, "sources")
    archive = build_medium(sources, os.path.join(work, "build"), setup=RELEASE)
    step("archive ZQK9150.ZQA of %d bytes, cut into %s" % (os.path.getsize(archive), ", ".join(
        "%s (%d)" % (name, os.path.getsize(os.path.join(sources, name))) for name in PIECES)))
    with open(os.path.join(sources, "ZQK9150.INF"), "rb") as file:
        section = file.read().decode().split("[SourceDisksFiles]")[1].split()
    step("ZQK9150.INF [SourceDisksFiles]: %s" % ", ".join(section),
         section == ["%s=%d" % (name, disk) for disk in DISK_FILES for name in DISK_FILES[disk]])
    step("setup.exe on the medium: the release build, %s, %d bytes" % (
        os.path.relpath(RELEASE, os.path.join(HERE, "..")), os.path.getsize(RELEASE)))
    return sources, archive


def write_floppies(work, sources):
    """Runs -f, mapping A: to a fresh folder at each disk's prompt; returns the folders."""
    print("\n== 2. Writing the floppy set: setup -f under Wine, A: a fresh folder for each disk")
    writer = os.path.join(sources, "WRITER.EXE")
    shutil.copyfile(setup_exe(), writer)
    print("  (the x86_64 twin runs as WRITER.EXE beside the release setup.exe, which it copies "
          "to disk 1 as the INF says)")
    link = os.path.join(wine_environment()["WINEPREFIX"], "dosdevices", "a:")
    old = os.readlink(link) if os.path.islink(link) else None
    disks = {}
    run = WineRun("-f", exe=writer, cwd=work)
    try:
        while True:
            box = run.answer("show")
            text = box.text
            if text.startswith("Please insert floppy disk "):
                number = int(text.split()[4])
                disks[number] = os.path.join(work, "disk%d" % number)
                os.makedirs(disks[number])
                if os.path.lexists(link):
                    os.remove(link)
                os.symlink(disks[number], link)
                text += "   -> A: is now a fresh folder, disk%d" % number
            print("  box: %s" % text)
            run.answer("ok")
            if box.text == "All floppys done.":
                break
        code = run.wait()
    finally:
        run.close()
        os.remove(writer)
        if os.path.lexists(link):
            os.remove(link)
        if old:
            os.symlink(old, link)
    step("exit code %d, %d disks written" % (code, len(disks)), code == 0)
    return disks


def check_disks(disks, sources):
    print("\n== 3. Each disk: its files, in whole %d-byte clusters, within %s bytes"
          % (CLUSTER, format(PIECE, ",")))
    good = sorted(disks) == sorted(DISK_FILES)
    for number, folder in sorted(disks.items()):
        names = sorted(os.listdir(folder), key=str.lower)
        sizes = [os.path.getsize(os.path.join(folder, name)) for name in names]
        used = sum(-(-size // CLUSTER) * CLUSTER for size in sizes)
        same = all(read(os.path.join(folder, name)) == read(os.path.join(sources, name))
                   for name in names)
        good &= step("disk %d: %s; %d bytes in clusters, %d free; %s" % (
            number, ", ".join("%s %d" % item for item in zip(names, sizes)), used, PIECE - used,
            "identical to the sources" if same else "NOT identical to the sources"),
            sorted(names) == sorted(DISK_FILES[number]) and used <= PIECE and same)
    return good


def install(work, disks, archive):
    print("\n== 4. Installing from a folder holding the disks' files, as the end user would")
    medium = os.path.join(work, "K9150")
    os.makedirs(medium)
    for folder in disks.values():
        for name in os.listdir(folder):
            shutil.copyfile(os.path.join(folder, name), os.path.join(medium, name))
    shutil.copyfile(setup_exe(), os.path.join(medium, "setup.exe"))
    print("  (in that folder the x86_64 twin stands in for the release setup.exe from disk 1: "
          "Wine here runs 64-bit programs only)")

    target = target_directory()
    shutil.rmtree(target, ignore_errors=True)
    records = os.path.join(work, "records")
    os.makedirs(records)
    standin_record = os.path.join(records, "setup.exe.txt")
    cleanup_record = os.path.join(records, "_ISDEL.EXE.txt")
    env = {"RECORD_DIR": windows_path(records), "LAUNCH_SHOW": "1"}

    line = "-v -is /demo"
    print("  wine K9150\\setup.exe %s (verbose: every box answered OK)" % line)
    started = time.monotonic()
    run = WineRun(line, exe=os.path.join(medium, "setup.exe"), env=env, cwd=work)
    shot = None
    try:
        while True:
            reports = run_boxdriver("show", "status", watch=run) if run.process.poll() is None else []
            if not reports:
                break
            box, windows = reports
            text = box.text.replace("\n", " | ")
            print("  box: %s%s" % (text, "   (status window up)" if windows else ""))
            if windows and shot is None:
                shot = os.path.join(OUT, "install-status.png")
                subprocess.run([os.path.join(HERE, "screenshot"), wine_environment()["DISPLAY"], shot])
            run_boxdriver("ok")
    except AssertionError:
        pass  # setup ended while the driver waited for another box
    code = run.wait(timeout=120)
    seconds = time.monotonic() - started
    run.close()

    print("\n== 5. Outcome of the installation")
    setup = read_record(standin_record)
    cleanup = read_record(cleanup_record)
    good = True
    good &= step("pieces joined: the target held ZQK9150.ZQA of %d bytes (the three pieces) "
                 "and no piece when setup ran"
                 % (setup["files"].get("ZQK9150.ZQA", -1) if setup else -1),
                 bool(setup) and setup["files"].get("ZQK9150.ZQA") == os.path.getsize(archive)
                 and not any(p in setup["files"] for p in PIECES))
    good &= step("archive extracted and vendor setup started from it: %s"
                 % (setup["command_line"] if setup else "never ran"),
                 bool(setup) and setup["command_line"] ==
                 "C:\\windows\\temp\\ZQK9150\\is\\setup.exe /demo")
    good &= step("clean-up task _ISDEL.EXE seen and gone (it ran 2 s and ended)",
                 bool(cleanup) and cleanup["ended"])
    good &= step("target directory C:\\windows\\temp\\ZQK9150 removed", not os.path.exists(target))
    good &= step("exit code %d after %.1f s" % (code, seconds), code == 0)
    if shot:
        print("  screenshot of the status window: %s" % os.path.relpath(shot, os.getcwd()))
    return good


def linux(work):
    print("\n== The Linux build packs and unpacks the same payload")
    payload = os.path.join(work, "linux-payload")
    make_payload(payload)
    archive = os.path.join(work, "linux.zqa")
    out = os.path.join(work, "linux-out")
    for args in (["-s", "-a", archive, payload], ["-s", "-x", archive, out]):
        started = time.monotonic()
        result = subprocess.run([setup_native()] + args, stdin=subprocess.DEVNULL,
                                capture_output=True)
        print("  $ setup %s   -> exit code %d in %.2f s" % (
            " ".join(os.path.relpath(a, work) if os.sep in a else a for a in args),
            result.returncode, time.monotonic() - started))
        if result.returncode != 0:
            return step("the Linux build failed: %s" % result.stderr.decode(errors="replace"), False)
    size = sum(len(data) for data in snapshot(payload).values() if data != "<dir>")
    return step("%d bytes packed into %d, unpacked identical" % (size, os.path.getsize(archive)),
                snapshot(out) == snapshot(payload))


def linux_images(work, sources):
    print("\n== The Linux build writes the same floppy set as images (setup -f, DISKn.IMG)")
    folder = os.path.join(work, "linux-medium")
    shutil.copytree(sources, folder)
    shutil.copy(setup_native(), os.path.join(folder, "setup"))
    started = time.monotonic()
    result = subprocess.run(["./setup", "-f"], cwd=folder, stdin=subprocess.DEVNULL,
                            capture_output=True, text=True)
    good = step("$ setup -f   -> exit code %d in %.2f s: %s" % (
        result.returncode, time.monotonic() - started, result.stderr.strip()),
        result.returncode == 0)
    images = sorted(name for name in os.listdir(folder) if name.endswith(".IMG"))
    good &= step("images: %s" % ", ".join("%s (%d bytes)" % (name, os.path.getsize(
        os.path.join(folder, name))) for name in images),
        [int(name[4]) for name in images] == sorted(DISK_FILES))
    for name in images:
        image = os.path.join(folder, name)
        listing = subprocess.run(["mdir", "-i", image, "::"], capture_output=True, text=True)
        print("  $ mdir -i %s ::\n%s" % (name, "\n".join(
            "    " + line for line in listing.stdout.splitlines() if line.strip())))
        checked = subprocess.run(["fsck.fat", "-n", image], capture_output=True, text=True)
        verdict = checked.stdout.strip().splitlines()[-1].split(": ", 1)[-1]
        good &= step("fsck.fat -n %s: %s" % (name, verdict), checked.returncode == 0)
        out = os.path.join(work, "from-" + name)
        os.makedirs(out)
        names = subprocess.run(["mdir", "-b", "-i", image, "::"], capture_output=True,
                               text=True).stdout.split()
        for entry in names:
            subprocess.run(["mcopy", "-m", "-n", "-i", image, entry, out], check=True)
        same = [read(os.path.join(out, entry[3:])) == read(os.path.join(sources, entry[3:]))
                for entry in names]
        good &= step("mcopy from %s: %s, %s" % (name, ", ".join(entry[3:] for entry in names),
                                                "identical to the sources" if all(same) else
                                                "NOT identical to the sources"),
                     all(same) and [entry[3:] for entry in names] == DISK_FILES[int(name[4])])
    return good


def main():
    os.makedirs(OUT, exist_ok=True)
    work = tempfile.mkdtemp(prefix="setup-demo-")
    try:
        sources, archive = make_sources(work)
        disks = write_floppies(work, sources)
        good = check_disks(disks, sources)
        good &= install(work, disks, archive)
        good &= linux(work)
        good &= linux_images(work, sources)
    except AssertionError as error:  # a run that went wrong
        good = step(str(error), False)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
