"""The main job, shown: builds a medium of three pieces the way its makers
do, installs from it with the real setup.exe under Wine (the real rundll32
and setupapi, the vendor setup's stand-in and its clean-up task), answers
every box of a verbose run as a user would, saves a screenshot of the status
window, and prints each step with its outcome. Then the Linux build packs
and unpacks the same payload.

Run by scripts/demo after the builds; output lands in build/demo."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from harness import WineRun, run_boxdriver, setup_native, take_screenshot, windows_path  # noqa: E402
from medium import (PIECES, build_medium, make_payload, read_record,  # noqa: E402
                    target_directory)

OUT = os.environ.get("E2E_ARTIFACTS") or os.path.join(HERE, "..", "build", "demo")


def step(text, ok=True):
    print("  [%s] %s" % ("ok" if ok else "FAILED", text))
    return ok


def snapshot(root):
    tree = {}
    for directory, _, files in os.walk(root):
        for name in files:
            path = os.path.join(directory, name)
            with open(path, "rb") as file:
                tree[os.path.relpath(path, root)] = file.read()
    return tree


def install(work):
    medium = os.path.join(work, "medium")
    print("\n== Building a medium: payload packed with -a, cut with -c, ZQK9150.INF")
    archive = build_medium(medium, os.path.join(work, "build"))
    for name in sorted(os.listdir(medium)):
        print("  %-12s %9d bytes" % (name, os.path.getsize(os.path.join(medium, name))))

    target = target_directory()
    shutil.rmtree(target, ignore_errors=True)
    records = os.path.join(work, "records")
    os.makedirs(records)
    standin_record = os.path.join(records, "setup.txt")
    cleanup_record = os.path.join(records, "isdel.txt")
    env = {"STANDIN_RECORD": windows_path(standin_record),
           "STANDIN_CLEANUP_RECORD": windows_path(cleanup_record),
           "STANDIN_CLEANUP_MS": "3000", "LAUNCH_SHOW": "1"}

    line = "-v -is /demo"
    print("\n== Installing: wine medium\\setup.exe %s (verbose: every box answered OK)" % line)
    started = time.monotonic()
    run = WineRun(line, cwd=work, exe=os.path.join(medium, "setup.exe"), env=env)
    shot = None
    try:
        while True:
            reports = run_boxdriver("show", "status", watch=run) if run.exit_code_now() is None else []
            if not reports:
                break
            box, windows = reports
            text = box.text.replace("\n", " | ")
            print("  box: %s%s" % (text, "   (status window up)" if windows else ""))
            if windows and shot is None:
                shot = take_screenshot("install-status")
            run_boxdriver("ok")
    except AssertionError:
        pass  # setup ended while the driver waited for another box
    code = run.wait(timeout=120)
    seconds = time.monotonic() - started
    run.close()

    print("\n== Outcome")
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
    good &= step("clean-up task _ISDEL.EXE seen and gone (it ran 3 s and ended)",
                 bool(cleanup) and cleanup["ended"])
    good &= step("target directory C:\\windows\\temp\\ZQK9150 removed", not os.path.exists(target))
    good &= step("exit code %d after %.1f s" % (code, seconds), code == 0)
    if shot:
        print("  screenshot of the status window: %s.png" % os.path.relpath(
            shot.path[:-4], os.getcwd()))
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
    size = sum(len(data) for data in snapshot(payload).values())
    return step("%d bytes packed into %d, unpacked identical" % (size, os.path.getsize(archive)),
                snapshot(out) == snapshot(payload))


def main():
    os.makedirs(OUT, exist_ok=True)
    os.environ["E2E_ARTIFACTS"] = OUT
    work = tempfile.mkdtemp(prefix="setup-demo-")
    try:
        good = install(work)
        good &= linux(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
