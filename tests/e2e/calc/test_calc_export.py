#!/usr/bin/python3
"""End to end: every export case of test_export.py, written once into the stand-in
and once into LibreOffice Calc, must leave the same workbook on disk as openpyxl
reads it (sheets, values, comments, "@", bold header), and the Calc workbook must
pass that test's own checks too.

cadhost is pointed at an office this test started (--calc-pipe), so it attaches and
must leave that office running and start none of its own.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import tempfile  # noqa: E402

import test_export as tx  # noqa: E402
import workbooks  # noqa: E402

single = tx.export
compared = []


def main():
    with office.Office() as soffice, tempfile.TemporaryDirectory(prefix="tabro-calc-export-") as work:
        calc = office.calc_args(soffice.pipe)

        def both(work, drawing, lines, **settings):
            tx.SPREADSHEET_ARGS = []
            expected, _ = single(work, drawing, lines, **settings)
            tx.SPREADSHEET_ARGS = calc
            got, out = single(work, drawing, lines, **settings)
            tx.SPREADSHEET_ARGS = []
            if expected is not None and got is not None:
                diff = workbooks.differences(expected, got)
                tx.check(not diff, "%s %s: Calc's workbook differs from the stand-in's:\n    %s" % (
                    os.path.basename(drawing), lines, "\n    ".join(diff)))
                compared.append(lines)
            return got, out

        tx.export = both
        tx.worked_example(work)
        tx.layouts(work)
        tx.placement(work)
        tx.dialog(work)
        tx.corpus(work)
        # Attached, not started: no office of any of the runs' homes is running.
        strays = office.office_processes(work)
        tx.check(not strays, "cadhost started offices of its own although one answered: %s" % strays)
        office.kill_pids(strays)
        tx.check(soffice.alive(), "the office cadhost attached to no longer answers")
    for f in tx.failures:
        print("FAIL:", f)
    print("%d exports compared, %d failures" % (len(compared), len(tx.failures)))
    return 1 if tx.failures or not compared else 0


if __name__ == "__main__":
    sys.exit(main())
