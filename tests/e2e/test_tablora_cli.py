#!/usr/bin/python3
"""End to end: the tablora program from the shell, checked with ezdxf and openpyxl.

  * usage: --help and --version on stdout with exit 0, a usage error on stderr with
    the usage and exit 2;
  * export: two drawings and a missing third into one workbook; the missing one is
    named on stderr, the run exits 1, and the workbook holds both drawings' rows,
    each naming its drawing; one drawing named three ways is exported once, and
    its workbook imported without naming it goes back into it;
  * import: an openpyxl edit of one drawing's row reaches that drawing only; the
    changed drawing is saved with its .bak, the other is not rewritten.
"""
import os
import shutil
import subprocess
import sys

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
TABLORA = os.path.join(BIN, "tablora")
FIXTURES = os.environ.get(
    "TABLORA_FIXTURES_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
DRAWING = os.path.join(FIXTURES, "dxf", "tagged_r2000.dxf")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def tablora(work, *args):
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, CADHOST_HOME=home)
    return subprocess.run([TABLORA, *args], cwd=work, env=env, capture_output=True, text=True, timeout=60)


def usage():
    def body(work):
        for args in (["--help"], ["export", "--help"]):
            proc = tablora(work, *args)
            check(proc.returncode == 0 and proc.stdout.startswith("usage: tablora"),
                  f"{args}: exit {proc.returncode}, stdout {proc.stdout[:80]!r}")
        proc = tablora(work, "--version")
        check(proc.returncode == 0 and proc.stdout == "tablora 1.0.0\n", f"--version: {proc.stdout!r}")
        for args in ([], ["export"], ["frobnicate"], ["link", "a.dxf"], ["export", "a.dxf", "--bogus"]):
            proc = tablora(work, *args)
            check(proc.returncode == 2, f"{args}: exit {proc.returncode}, wanted 2")
            check(proc.stderr.startswith("tablora: ") and "usage: tablora" in proc.stderr and not proc.stdout,
                  f"{args}: stderr {proc.stderr[:120]!r}, stdout {proc.stdout[:80]!r}")
        # An existing workbook is the user's until --force.
        shutil.copy(DRAWING, os.path.join(work, "A.dxf"))
        open(os.path.join(work, "A.xlsx"), "w").close()
        proc = tablora(work, "export", "A.dxf")
        check(proc.returncode == 1 and "A.xlsx exists; --force replaces it" in proc.stderr,
              f"export over A.xlsx: exit {proc.returncode}, {proc.stderr!r}")
        check(os.path.getsize(os.path.join(work, "A.xlsx")) == 0, "A.xlsx was replaced without --force")
    return cases.in_work_folder("tablora-usage-", failures, "usage", body)


def door_rows(book):
    """(drawing, NUMBER) of every row of the DOOR sheet."""
    sheet = load_workbook(book)["DOOR"]
    header = [c.value for c in sheet[1]]
    drawing, number = header.index("Drawing"), header.index("NUMBER")
    return [(r[drawing], r[number]) for r in sheet.iter_rows(min_row=2, values_only=True)]


def export_two(work):
    for name in ("A.dxf", "B.dxf"):
        shutil.copy(DRAWING, os.path.join(work, name))
    return tablora(work, "export", "A.dxf", "missing.dxf", "B.dxf", "-o", "register.xlsx")


def export():
    def body(work):
        proc = export_two(work)
        check(proc.returncode == 1, f"export with a missing drawing: exit {proc.returncode}, wanted 1")
        check("tablora: " in proc.stderr and "missing.dxf" in proc.stderr, f"missing.dxf not named: {proc.stderr!r}")
        check("3 drawings: 2 exported, 1 failed" in proc.stdout, f"run summary: {proc.stdout!r}")
        rows = door_rows(os.path.join(work, "register.xlsx"))
        drawings = sorted({d for d, _ in rows})
        check(drawings == ["A.dxf", "B.dxf"], f"rows name {drawings}")
        check(len(rows) == 4, f"{len(rows)} DOOR rows, wanted 2 of each drawing")
        # One drawing under three spellings is one drawing: its rows once, the
        # workbook named after it, the repeats named.
        os.makedirs(os.path.join(work, "set"))
        shutil.copy(DRAWING, os.path.join(work, "set", "d1.dxf"))
        proc = tablora(work, "export", "set/d1.dxf", "./set/d1.dxf", os.path.join(work, "set", "d1.dxf"))
        check(proc.returncode == 0, f"export of one drawing named thrice: exit {proc.returncode}: {proc.stderr!r}")
        check(proc.stderr.count("the drawing is taken once") == 2, f"repeats not named: {proc.stderr!r}")
        book = os.path.join(work, "set", "d1.xlsx")
        rows = list(load_workbook(book)["DOOR"].iter_rows(min_row=2, values_only=True)) if os.path.exists(book) else []
        check(len(rows) == 2, f"set/d1.xlsx: {len(rows)} DOOR rows, wanted the drawing's 2 once")
        # A workbook of one drawing needs no drawing named: it goes back into the
        # drawing beside it that it came from.
        proc = tablora(work, "import", "set/d1.xlsx")
        check(proc.returncode == 0 and "1 drawing: 0 changed, 1 unchanged, 0 failed" in proc.stdout,
              f"import set/d1.xlsx alone: exit {proc.returncode}, {proc.stdout!r} {proc.stderr!r}")
        os.remove(os.path.join(work, "set", "d1.dxf"))
        proc = tablora(work, "import", "set/d1.xlsx")
        check(proc.returncode == 2 and "name the drawing" in proc.stderr,
              f"import set/d1.xlsx with its drawing gone: exit {proc.returncode}, {proc.stderr!r}")
    return cases.in_work_folder("tablora-export-", failures, "export", body)


def import_edit():
    def body(work):
        proc = export_two(work)
        check(proc.returncode == 1, f"export: exit {proc.returncode}")
        book = os.path.join(work, "register.xlsx")
        wb = load_workbook(book)
        sheet = wb["DOOR"]
        header = [c.value for c in sheet[1]]
        drawing, number = header.index("Drawing") + 1, header.index("NUMBER") + 1
        edited = [r for r in range(2, sheet.max_row + 1)
                  if sheet.cell(r, drawing).value == "B.dxf" and sheet.cell(r, number).value == "D-101"]
        check(len(edited) == 1, f"B.dxf's D-101 row: {edited}")
        sheet.cell(edited[0], number).value = "D-777"
        wb.save(book)
        a_before = open(os.path.join(work, "A.dxf"), "rb").read()

        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 0, f"import: exit {proc.returncode}: {proc.stderr!r}")
        check("2 drawings: 1 changed, 1 unchanged, 0 failed" in proc.stdout, f"run summary: {proc.stdout!r}")
        numbers = sorted(a.dxf.text for e in ezdxf.readfile(os.path.join(work, "B.dxf")).modelspace().query("INSERT")
                         for a in e.attribs if a.dxf.tag == "NUMBER")
        check("D-777" in numbers and "D-101" not in numbers, f"B.dxf NUMBER attributes: {numbers}")
        check(os.path.exists(os.path.join(work, "B.bak")), "B.dxf saved without B.bak")
        check(open(os.path.join(work, "A.dxf"), "rb").read() == a_before, "A.dxf was rewritten")
        check(not os.path.exists(os.path.join(work, "A.bak")), "A.dxf, unchanged, has a .bak")
    return cases.in_work_folder("tablora-import-", failures, "import", body)


if __name__ == "__main__":
    sys.exit(cases.run({"usage": usage, "export": export, "import": import_edit}))
