#!/usr/bin/python3
"""Export and import through cadhost with LibreOffice Calc beside the stand-in: the
whole cadhost process each time, on generated drawings.

    bench/calc_compare.py [N ...]        (default: 1000 10000)

For each N: a drawing of N attributed references (tools/make_drawing.py); TABRO
Export2 of every block into a new workbook, every property column (bench/settings.reg); then
that workbook imported back (every sheet, properties applied) and SAVEd. Calc runs
attach to one office this script started, as a user's running Calc would be; one
more export per N lets cadhost start (and end) its own office, to show what the
start costs. Prints wall time and cadhost's CPU time (the office's own CPU is not in
it) against the targets: 10,000 references exported in at most 5 s and imported and
saved in at most 3 s.

Environment: TABLORA_BUILD (a Release build folder, default build), KEEP=1 keeps the
work folder.
"""
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
BUILD = os.environ.get("TABLORA_BUILD", os.path.join(ROOT, "build"))
os.environ.setdefault("TABLORA_BIN_DIR", os.path.join(os.path.abspath(BUILD), "bin"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "calc"))
import office  # noqa: E402

GEN = os.path.join(ROOT, "tools", "make_drawing.py")
TARGETS = {("export", 10000): 5.0, ("import", 10000): 3.0}


def cadhost(folder, args, lines):
    """Runs cadhost; (wall s, CPU s, output)."""
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    proc = subprocess.run([office.CADHOST, "--script", script, *args], cwd=folder,
                          env=dict(os.environ, CADHOST_HOME=os.path.join(folder, "home")),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    if proc.returncode != 0:
        sys.exit("cadhost %s failed (%d):\n%s\n%s" % (" ".join(args), proc.returncode, proc.stdout[-3000:],
                                                      proc.stderr[-3000:]))
    return wall, cpu, proc.stdout


def folder(work, name):
    path = os.path.join(work, name)
    os.makedirs(os.path.join(path, "home"))
    shutil.copy(os.path.join(HERE, "settings.reg"), os.path.join(path, "home", "user.reg"))
    return path


def summary(out):
    found = re.findall(r"(\d+ references? exported|Imported [^\n]*)", out)
    return found[-1].strip() if found else "?"


def bench(work, n, soffice, rows):
    drawing = os.path.join(work, "n%d.dxf" % n)
    subprocess.run(["/usr/bin/python3", GEN, str(n), drawing], check=True, capture_output=True)
    calc = office.calc_args(soffice.pipe)
    for who, args in (("stand-in", []), ("calc", calc)):
        exported = folder(work, "%s-%d-export" % (who, n))
        wall, cpu, out = cadhost(exported, [*args, drawing], ["TABRO", "Export2", ""])
        rows.append((n, "export", who, wall, cpu, summary(out)))
        book = os.path.join(exported, "Book1.xlsx")
        imported = folder(work, "%s-%d-import" % (who, n))
        shutil.copy(book, os.path.join(imported, "Book1.xlsx"))
        # A copy under the exported drawing's own name: the workbook's record names
        # the drawing it came from, and an import into another asks first (No).
        copy = os.path.join(imported, os.path.basename(drawing))
        shutil.copy(drawing, copy)
        wall, cpu, out = cadhost(imported, [*args, "--workbook", os.path.join(imported, "Book1.xlsx"), copy],
                                 ["TABRO", "Import", "SAVE"])
        if "Imported" not in out:
            sys.exit("the %s import of %d references imported nothing:\n%s" % (who, n, out[-600:]))
        rows.append((n, "import", who, wall, cpu, summary(out)))
    cold = folder(work, "cold-%d-export" % n)
    wall, cpu, out = cadhost(cold, [*office.calc_args(office.unique_pipe()), drawing], ["TABRO", "Export2", ""])
    rows.append((n, "export", "calc, own office", wall, cpu, summary(out)))


def main():
    sizes = [int(a) for a in sys.argv[1:]] or [1000, 10000]
    office.needs()
    work = tempfile.mkdtemp(prefix="tabro-calc-bench-")
    rows = []
    load_before = open("/proc/loadavg").read().split()[:3]
    try:
        with office.Office() as soffice:
            for n in sizes:
                bench(work, n, soffice, rows)
    finally:
        if os.environ.get("KEEP") == "1":
            print("work folder:", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    load_after = open("/proc/loadavg").read().split()[:3]
    print("%d cores; load average %s before, %s after; LibreOffice attached over a pipe unless noted" % (
        os.cpu_count(), " ".join(load_before), " ".join(load_after)))
    print("%7s %-7s %-17s %7s %7s  %s" % ("refs", "step", "spreadsheet", "wall s", "CPU s", "cadhost said"))
    missed = []
    for n, step, who, wall, cpu, said in rows:
        target = TARGETS.get((step, n)) if who == "calc" else None
        mark = "" if target is None else ("  (target %.0f s: %s)" % (target, "met" if wall <= target else "MISSED"))
        print("%7d %-7s %-17s %7.2f %7.2f  %s%s" % (n, step, who, wall, cpu, said, mark))
        if target is not None and wall > target:
            missed.append("%s of %d references took %.1f s" % (step, n, wall))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
