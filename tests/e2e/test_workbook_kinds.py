#!/usr/bin/python3
"""End to end: cadhost given a workbook that is not an .xlsx says what it is.

An .xlsx made with openpyxl is converted by LibreOffice (headless) into an
OpenDocument spreadsheet, a flat one and a CSV file, each also copied under an
.xlsx name, since the kind is told by content. cadhost with the stand-in refuses to
start on each with one line naming the file and what it is, and a non-zero exit;
the .xlsx itself opens. One case per kind; those needing a conversion are skipped (77)
where soffice is not installed.
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
ADVICE = "; open it with --spreadsheet calc, or save it as .xlsx"
KINDS = {"ods": "an OpenDocument spreadsheet", "fods": "an OpenDocument spreadsheet (flat XML)",
         "csv": "a text (CSV) file, not a workbook"}

failures = []


def convert(work, source, kind):
    profile = os.path.join(work, "office-profile")
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                    "--convert-to", kind, "--outdir", work, source],
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=300, check=True)
    path = os.path.splitext(source)[0] + "." + kind
    if not os.path.exists(path):
        sys.exit(f"LibreOffice made no .{kind} of {source}")
    return path


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
    """The workbook converted to kind, under its own name and under an .xlsx name:
    cadhost refuses both, naming the file and what it is."""
    def part(work):
        made = convert(work, make_source(work), kind)
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


def case(part, needs_office=True):
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"no cadhost at {CADHOST}")
        if needs_office and not shutil.which("soffice"):
            print("skipped: LibreOffice (soffice) is not installed to make the .ods and .csv files")
            return 77
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
    CASES = {"xlsx": case(xlsx_opens, needs_office=False)}
    CASES.update({kind: case(refused(kind, what)) for kind, what in KINDS.items()})
    sys.exit(cases.run(CASES))
