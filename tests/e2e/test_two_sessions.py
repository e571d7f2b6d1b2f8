#!/usr/bin/python3
"""End to end: two cadhost sessions export into one workbook at the same time.

Session B exports a large drawing into Book1.xlsx; while B is still writing rows,
session A exports a small drawing into the same workbook and saves first. Neither
session's work may be lost and nobody may be told "success" over a lost save:

  * the workbook at its name is A's, whole (openpyxl reads A's sheets there);
  * B's workbook is beside it as "Book1 (conflict DATE TIME).xlsx", holding B's rows;
  * B's run fails (exit status not 0) and names the copy once; A's run succeeds.

The timing is the machine's: should A be the one still writing when B saves, the
roles swap. Should the second session see the first one's save before changing
anything itself, it reloads that file and saves both sessions' sheets into it: no
conflict, and accepted too, as long as both sessions' rows are in the file.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

from openpyxl import load_workbook
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
HERE = os.path.dirname(os.path.abspath(__file__))
SMALL = os.path.join(HERE, "..", "module", "export", "export_blocks.dxf")
CADHOST = os.path.join(BIN, "cadhost")
BIG = 8000
SCALE = float(os.environ.get("TABLORA_TIME_SCALE", "1"))

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def handles_in(path):
    """Every handle comment of every sheet: the references a workbook holds."""
    book = load_workbook(path)
    found = set()
    for ws in book.worksheets:
        for row in ws.iter_rows(min_col=1, max_col=1):
            cell = row[0]
            if cell.comment is not None and cell.value is not None and \
                    not cell.comment.text.startswith("Tablora header row"):
                found.add(cell.comment.text.strip())
    return found


def script(folder, name, lines):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def main():
    work = tempfile.mkdtemp(prefix="two-sessions-")
    home = os.path.join(work, "home")
    os.makedirs(home)
    # Export into the active workbook: the one each session was given.
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write("Windows Registry Editor Version 5.00\n\n"
                "[HKEY_CURRENT_USER\\SOFTWARE\\Morvik\\Tablora\\Settings\\Export]\n"
                "\"WorkbookSettings\"=dword:00000001\n")
    env = dict(os.environ, CADHOST_HOME=home)
    big = os.path.join(work, "big.dxf")
    shared_data.make_drawing(BIG, big)
    export_all = ["TABRO", "Export", "a", "OK", "QUIT"]

    # The workbook both sessions open: made by a first, lone export of the small drawing.
    first = subprocess.run([CADHOST, "--script", script(work, "first.scr", export_all), SMALL], cwd=work,
                           env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    book = os.path.join(work, "Book1.xlsx")
    if first.returncode != 0 or not os.path.exists(book):
        print("setting up the workbook failed:\n" + first.stdout + first.stderr)
        return 1

    small = handles_in(book)
    b = subprocess.Popen([CADHOST, "--script", script(work, "b.scr", export_all), "--workbook", book, big],
                         cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True)
    b_out = []
    # B's progress lines say it is writing rows, so its workbook has unsaved changes.
    for line in b.stdout:
        b_out.append(line)
        if " of " in line and "%)" in line:
            break
    a = subprocess.run([CADHOST, "--script", script(work, "a.scr", export_all), "--workbook", book, SMALL],
                       cwd=work, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                       timeout=600 * SCALE)
    b_out.append(b.stdout.read())
    b.wait(timeout=600 * SCALE)
    b_text = "".join(b_out)

    a_text = a.stdout + a.stderr
    copies = glob.glob(os.path.join(work, "Book1 (conflict *).xlsx"))
    at_name = handles_in(book)
    beside = handles_in(copies[0]) if copies else set()
    check(len(copies) <= 1, "one conflict copy at most, found %s" % copies)
    # Whoever saved second found the file changed under it: that run, and only that
    # one, fails and names the copy once. (B normally, still writing when A saved.)
    if copies:
        name = os.path.basename(copies[0])
        loser, loser_text, winner, winner_text = ("B", b_text, "A", a_text) if b.returncode != 0 else \
            ("A", a_text, "B", b_text)
        check((a.returncode != 0) != (b.returncode != 0),
              "exactly one run fails: A rc %d, B rc %d\nA:\n%s\nB:\n%s" % (a.returncode, b.returncode, a_text, b_text))
        check(loser_text.count(name) == 1, "the copy %r is named once in %s's output:\n%s" % (name, loser, loser_text))
        check(name not in winner_text, "%s did not conflict but names the copy" % winner)
        print("the conflict went to %s" % loser)
    else:
        check(a.returncode == 0 and b.returncode == 0, "no conflict, yet a run failed:\nA:\n%s\nB:\n%s"
              % (a_text, b_text))
        print("no conflict: the second session saw the first one's save before changing anything")
    # Nothing lost: A's rows and B's rows are each whole in the file or beside it.
    check(small <= at_name or small <= beside, "A's rows are lost")
    check(len(at_name) >= BIG or len(beside) >= BIG, "B's %d rows are lost (%d at the name, %d beside)"
          % (BIG, len(at_name), len(beside)))
    ooxml.validate_written(work, failures, "two sessions")

    if failures:
        print("\n".join(failures))
        print("(kept for a look: %s)" % work)
        return 1
    shutil.rmtree(work, ignore_errors=True)
    print("two sessions on one workbook: nothing lost")
    return 0


if __name__ == "__main__":
    sys.exit(main())
