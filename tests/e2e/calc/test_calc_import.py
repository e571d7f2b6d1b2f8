#!/usr/bin/python3
"""End to end: import from LibreOffice Calc gives the drawings import from the stand-in
gives.

  * test_import.py's scenario (export, edits made with openpyxl, import, SAVE) run
    with each backend: its own checks pass with Calc, and the two saved drawings are
    the same (dxf_same);
  * unedited round trips through Calc (export, import, SAVE) of generated and corpus
    drawings, ASCII and binary, under settings that reshape the sheet: the drawing
    comes back the same and import reads as many rows as export wrote;
  * test_roundtrip_matrix.py's edit cases (one cell, cells that cannot be applied,
    JTSK, two blocks in one sheet) with Calc opening the edited workbooks. Calc
    calculates a formula saved without its result, so that cell is applied with its
    result; an error value must still change nothing and be named.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import shutil  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402

import test_import as ti  # noqa: E402
import test_roundtrip_matrix as tm  # noqa: E402

failures = []
ROUND_TRIPS = ["generated-120.dxf", "ezdxf_align_attributes.dxf", "acadsharp_sample_AC1018_binary.dxf",
               "acadsharp_sample_AC1009_ascii.dxf", "bjnortier_floorplan.dxf"]
COMBOS = [frozenset(), frozenset(["ActiveSheet"]), frozenset(["OddLine", "ExportAttPrompts", "Sort"]),
          frozenset(["NoBlockNames", "IncludeConstant", "LayoutNames", "JTSK"])]
EDITED = ["generated-120.dxf", "acadsharp_sample_AC1018_binary.dxf"]


def scenario_on_both(work, calc):
    """test_import's scenario with each backend; the saved drawings must agree."""
    saved = {}
    for name, args in (("stand-in", []), ("calc", calc)):
        folder = os.path.join(work, "import-" + name)
        os.makedirs(folder)
        before = len(ti.failures)
        saved[name], out = ti.edit_and_import(folder, args)
        for f in ti.failures[before:]:
            failures.append("import scenario (%s): %s" % (name, f))
        if name == "calc" and len(ti.failures) > before:
            failures.append("import scenario (calc) said:\n" + out)
    same = tm.dxf_same(saved["stand-in"], saved["calc"])
    if same != "same":
        failures.append("import scenario: the drawing saved after importing from Calc differs from the stand-in's: "
                        + same)


def drawings(work):
    out = {}
    for name in ROUND_TRIPS + EDITED + ["two-blocks.dxf"]:
        path = os.path.join(work, name)
        if name in out or os.path.exists(path):
            continue
        if name == "two-blocks.dxf":
            tm.two_blocks_drawing(path)
        elif name.startswith("generated-"):
            subprocess.run([tm.PYTHON, tm.GEN, "120", path], check=True, capture_output=True)
        else:
            source = os.path.join(tm.CORPUS, name)
            if not os.path.exists(source):
                failures.append("corpus drawing %s is missing" % name)
                continue
            shutil.copyfile(source, path)
        out[name] = path
    return out


def main():
    with office.Office() as soffice, tempfile.TemporaryDirectory(prefix="tabro-calc-import-") as work:
        calc = office.calc_args(soffice.pipe)
        scenario_on_both(work, calc)

        tm.SPREADSHEET_ARGS = calc
        tm.FORMULAS_CALCULATED = True
        paths = drawings(work)
        skips = []
        found = []
        for name in ROUND_TRIPS:
            if name in paths:
                for combo in COMBOS:
                    run = tm.roundtrip(work, name, paths[name], combo)
                    # Each of these drawings exports with the stand-in: a run
                    # skipped here is cadhost failing with Calc before the module
                    # loaded.
                    failures.extend(run.failures)
                    failures.extend("%s [%s] skipped: %s" % (name, tm.label(combo), s) for s in run.skips)
        for name in EDITED:
            if name in paths:
                found.append(tm.edit_cases(work, name, paths[name]))
        found.append(tm.two_block_cases(work, paths["two-blocks.dxf"]))
        for f in found:
            failures.extend(f.failures)
            skips.extend(f.skips)
        strays = office.office_processes(work)
        if strays:
            failures.append("cadhost started offices of its own although one answered: %s" % strays)
            office.kill_pids(strays)
        if not soffice.alive():
            failures.append("the office cadhost attached to no longer answers")
    for s in sorted(set(skips)):
        print("skipped:", s)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
