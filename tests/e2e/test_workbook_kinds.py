#!/usr/bin/python3
"""End to end: cadhost given a workbook that is not an .xlsx says what it is.

tests/fixtures/workbooks holds one small workbook (Block name, NUMBER / DOOR, D-1)
as LibreOffice saves it: an OpenDocument spreadsheet, a flat one and a CSV file
(made once from an openpyxl .xlsx with soffice --headless --convert-to). Each is also
copied under an .xlsx name, since the kind is told by content. cadhost with the
stand-in refuses to start on each with one line naming the file and what it is, and
a non-zero exit; the .xlsx itself opens. One case per kind.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from openpyxl import Workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "workbooks")
ADVICE = "; open it with --spreadsheet calc, or save it as .xlsx"
KINDS = {"ods": "an OpenDocument spreadsheet", "fods": "an OpenDocument spreadsheet (flat XML)",
         "csv": "a text (CSV) file, not a workbook"}

failures = []


def cadhost(work, workbook):
    script = os.path.join(work, "quit.scr")
    with open(script, "w") as f:
        f.write("\n")
    env = dict(os.environ, CADHOST_HOME=os.path.join(work, "home"))
    return subprocess.run([CADHOST, "--script", script, "--workbook", workbook], cwd=work, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)


def make_source(work):
    os.makedirs(os.path.join(work, "home"))
    source = os.path.join(work, "book.xlsx")
    wb = Workbook()
    wb.active["A1"], wb.active["B1"], wb.active["A2"], wb.active["B2"] = "Block name", "NUMBER", "DOOR", "D-1"
    wb.save(source)
    return source


def xlsx_opens(work):
    make_source(work)
    proc = cadhost(work, "book.xlsx")
    if proc.returncode != 0:
        failures.append(f"the .xlsx did not open ({proc.returncode}): {proc.stderr}")


def refused(kind, what):
    """The workbook saved as kind, under its own name and under an .xlsx name:
    cadhost refuses both, naming the file and what it is."""
    def part(work):
        os.makedirs(os.path.join(work, "home"))
        made = os.path.join(work, f"book.{kind}")
        shutil.copy(os.path.join(FIXTURES, f"book.{kind}"), made)
        renamed = os.path.join(work, f"{kind}-inside.xlsx")
        shutil.copy(made, renamed)
        for path in (made, renamed):
            name = os.path.basename(path)
            proc = cadhost(work, name)
            expected = f"cadhost: {name} is {what}{ADVICE}"
            if proc.returncode == 0:
                failures.append(f"cadhost started on {name}")
            if proc.stderr.strip().splitlines() != [expected]:
                failures.append(f"{name}: expected the one line {expected!r}, got {proc.stderr!r}")
    return part


def case(part):
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"no cadhost at {CADHOST}")
        failed = len(failures)
        work = tempfile.mkdtemp(prefix="tabro-workbook-kinds-")
        try:
            part(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        for f in failures[failed:]:
            print("FAIL:", f)
        print("ok" if len(failures) == failed else f"{len(failures) - failed} failures")
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    CASES = {"xlsx": case(xlsx_opens)}
    CASES.update({kind: case(refused(kind, what)) for kind, what in KINDS.items()})
    sys.exit(cases.run(CASES))
