#!/usr/bin/python3
"""End to end: texts a spreadsheet likes to reinterpret, and block names a workbook
cannot take as sheet names, through Calc and through the stand-in.

A drawing made here holds attribute texts that look like formulas, numbers, dates,
percentages, booleans and error values, with blanks around them, non-ASCII, a DXF
paragraph code and a 200-character text; and blocks whose names are too long for a
sheet, hold brackets or apostrophes, or are the reserved "History". Each is exported
(every block, a sheet each) once as text ("@", AsText on) and once in General format
(AsText off), then imported back and saved, with each backend:

  * the two workbooks are the same as openpyxl reads them (no text turned into a
    formula, a number or a date by one of them only; the same sheet names);
  * the two saved drawings are the same, and with AsText on the same as the
    original: every text came back as it was;
  * the same in General format with cadhost's own office started in a German
    locale (decimal comma), where that locale is installed.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import subprocess  # noqa: E402
import tempfile  # noqa: E402

import ezdxf  # noqa: E402
from openpyxl import load_workbook  # noqa: E402

import test_roundtrip_matrix as tm  # noqa: E402
import workbooks  # noqa: E402

TEXTS = ["=1+1", "=HYPERLINK(\"http://example.invalid\")", "0042", "1e5", "  lead", "trail  ", "'quoted",
         "TRUE", "12/05/2020", "50%", "1,5", "-0", "3.14159265358979", "+7", "#N/A", "#DIV/0!",
         "Ünïcødé € 漢字", "x" * 200, "a\\Pb", "1 234", "@", "-", "0x1F"]
BLOCK_NAMES = ["A_BLOCK_NAME_OF_FORTY_CHARACTERS_LENGTH__", "PLAN[A]", "'QUOTED'", "HISTORY", "TRICKY"]
TAGS = ["T1", "T2", "T3", "T4"]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def tricky_drawing(path):
    doc = ezdxf.new("R2000")
    msp = doc.modelspace()
    for name in BLOCK_NAMES:
        blk = doc.blocks.new(name)
        blk.add_circle((0, 0), 5)
        for k, tag in enumerate(TAGS):
            blk.add_attdef(tag, (0, -10 * k), dxfattribs={"height": 2.5})
    texts = list(TEXTS)
    i = 0
    while texts:
        chunk, texts = texts[:len(TAGS)], texts[len(TAGS):]
        ref = msp.add_blockref("TRICKY", (100.0 * i, 0))
        ref.add_auto_attribs(dict(zip(TAGS, chunk)))
        i += 1
    for j, name in enumerate(BLOCK_NAMES[:-1]):
        ref = msp.add_blockref(name, (100.0 * j, 500.0))
        ref.add_auto_attribs({tag: "%s-%s" % (tag, j) for tag in TAGS})
    doc.saveas(path)


def run(work, source, as_text, who, args):
    tm.SPREADSHEET_ARGS = args
    try:
        folder = tm.new_folder(work, dict(tm.EXPORT_BASE, AsText=as_text), "%s-%d-" % (who, as_text))
        drawing, book, exported = tm.export(folder, source)
        workbook = load_workbook(book)
        out = tm.import_and_save(folder, drawing, book)
        check("could not be applied" not in out or not as_text,
              "%s, AsText %d: unedited import reports values not applied: %s" % (who, as_text, tm.said(out)))
        return workbook, drawing
    except (tm.Skip, AssertionError) as e:
        check(False, "%s, AsText %d: %s" % (who, as_text, e))
        return None, None
    finally:
        tm.SPREADSHEET_ARGS = []


def german(work, source):
    """Numbers in General cells through an office cadhost starts in a German locale,
    where the displayed number has a decimal comma: the workbook and the drawing
    must still be the stand-in's."""
    if not any(l.lower().replace("-", "") in ("de_de.utf8",) for l in locales()):
        print("skipped: the de_DE.UTF-8 locale is not installed")
        return
    saved = dict(os.environ)
    os.environ.update(LANG="de_DE.UTF-8", LC_ALL="de_DE.UTF-8")
    pipe = office.unique_pipe()
    try:
        expected, expected_drawing = run(work, source, 0, "stand-in, de_DE", [])
        got, got_drawing = run(work, source, 0, "calc, de_DE", office.calc_args(pipe))
    finally:
        os.environ.clear()
        os.environ.update(saved)
        office.kill_pids(office.office_processes(pipe))
    if expected is None or got is None:
        return
    diff = workbooks.differences(expected, got, limit=12)
    check(not diff, "de_DE: Calc's workbook differs from the stand-in's:\n    %s" % "\n    ".join(diff))
    same = tm.dxf_same(expected_drawing, got_drawing)
    check(same == "same", "de_DE: the drawing imported from Calc differs from the stand-in's: %s" % same)


def locales():
    try:
        return subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    except OSError:
        return []


def main():
    with office.Office() as soffice, tempfile.TemporaryDirectory(prefix="tabro-calc-values-") as work:
        source = os.path.join(work, "tricky.dxf")
        tricky_drawing(source)
        for as_text in (1, 0):
            expected, expected_drawing = run(work, source, as_text, "stand-in", [])
            got, got_drawing = run(work, source, as_text, "calc", office.calc_args(soffice.pipe))
            if expected is None or got is None:
                continue
            diff = workbooks.differences(expected, got, limit=12)
            check(not diff, "AsText %d: Calc's workbook differs from the stand-in's:\n    %s" % (
                as_text, "\n    ".join(diff)))
            same = tm.dxf_same(expected_drawing, got_drawing)
            check(same == "same", "AsText %d: the drawing imported from Calc differs from the stand-in's: %s" % (
                as_text, same))
            if as_text:
                same = tm.dxf_same(source, got_drawing)
                check(same == "same", "AsText 1: the texts did not come back from Calc as they were: %s" % same)
        check(soffice.alive(), "the office cadhost attached to no longer answers")
        german(work, source)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
