#!/usr/bin/python3
"""End to end: TABRO Export2 and TABRO Export through cadhost, checked with tools we
did not write. The workbook cadhost leaves on disk is read with openpyxl and the
drawing with ezdxf, cell by cell:

  * the worked example (block name, X and rotation on): header titles, marker
    comments, the handle comment, values in the drawing's units, bold header, "@";
  * every setting that changes the layout: sheet per block, active sheet with
    StartRow and AddHeader, OddLine, ExportAttPrompts, Sort, IncludeConstant,
    BlockNames off, JTSK, LayoutNames, AsText off;
  * the handles in column A are the drawing's block references of that block;
  * the block selection dialog worked from the script (show all, select, OK);
  * a real-world drawing of the corpus exports one row per reference.
"""
import glob
import os
import subprocess
import sys
import tempfile

import ezdxf
from openpyxl import load_workbook
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import cases  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURE = os.path.join(HERE, "..", "module", "export", "export_blocks.dxf")
CADHOST = os.path.join(BIN, "cadhost")

# Texts of the resource module (texts 12 to 30).
TITLE = {"name": "Block name", "x": "X", "y": "Y", "z": "Z", "rot": "Rotation",
         "sx": "Scale X", "sy": "Scale Y", "sz": "Scale Z", "layer": "Layer", "layout": "Layout"}
# The first cell of a header row says export wrote it (where no property marker does).
HEADER_ROW_MARKER = "Tablora header row: the rows below keep their handles in the comments of this column"
MARKER = {"x": "Tablora property: insertion point X", "y": "Tablora property: insertion point Y",
          "z": "Tablora property: insertion point Z", "rot": "Tablora property: rotation",
          "sx": "Tablora property: scale factor X", "sy": "Tablora property: scale factor Y",
          "sz": "Tablora property: scale factor Z", "layer": "Tablora property: layer",
          "layout": "Tablora property: layout"}

EXPORT_DEFAULTS = dict(WorkbookSettings=0, WorksheetSettings=0, StartRow=1, AddHeader=0, BlockNames=1,
                       XCoord=1, YCoord=1, ZCoord=1, OddLine=0, Rotation=1, LayerNames=1, AutoConnect=0,
                       IncludeConstant=0, Scale=1, Sort=0, LayoutNames=0, NoAutofit=0, JTSK=0, AsText=1,
                       FindNextBlankLine=0, ExportAttPrompts=0)
PROPS_OFF = dict(XCoord=0, YCoord=0, ZCoord=0, Rotation=0, LayerNames=0, Scale=0)

# Extra cadhost arguments choosing the spreadsheet application; empty for the
# registered stand-in (the Calc tests run these same cases with their own).
SPREADSHEET_ARGS = []

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def registry(values):
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]"]
    for k, v in values.items():
        lines.append('"%s"=dword:%08x' % (k, v & 0xFFFFFFFF))
    return "\n".join(lines) + "\n"


def export(work, drawing, lines, **settings):
    """Runs cadhost in a fresh folder; returns (workbook, output)."""
    folder = tempfile.mkdtemp(dir=work)
    home = os.path.join(folder, "home")
    os.makedirs(home)
    values = dict(EXPORT_DEFAULTS)
    values.update(settings)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(registry(values))
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    proc = subprocess.run([CADHOST, "--script", script, *SPREADSHEET_ARGS, drawing], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    books = sorted(glob.glob(os.path.join(folder, "Book*.xlsx")))
    if proc.returncode != 0 or not books:
        failures.append("cadhost %s: rc %d, workbooks %s\n%s%s" % (lines, proc.returncode, books,
                                                                  proc.stdout[-2000:], proc.stderr[-2000:]))
        return None, proc.stdout
    return load_workbook(books[-1]), proc.stdout


def values(ws, row, n):
    return [ws.cell(row=row, column=c).value or "" for c in range(1, n + 1)]


def comment(ws, row, col):
    c = ws.cell(row=row, column=col).comment
    return c.text if c else None


def references(path, block):
    doc = ezdxf.readfile(path)
    out = {}
    # Every layout and every block definition: references are exported wherever they are.
    for layout in doc.blocks:
        for e in layout.query("INSERT"):
            if e.dxf.name.upper() == block.upper():
                out[e.dxf.handle] = e
    return out


def worked_example(work):
    wb, _ = export(work, FIXTURE, ["TABRO", "Export2", "DOOR"], **dict(PROPS_OFF, XCoord=1, Rotation=1))
    if not wb:
        return
    ws = wb["DOOR"]
    check(values(ws, 1, 6) == [TITLE["name"], "WIDTH", "FIRE", TITLE["x"], TITLE["rot"], ""],
          "worked example header: %s" % values(ws, 1, 6))
    check([comment(ws, 1, c) for c in range(1, 6)] == [HEADER_ROW_MARKER, None, None, MARKER["x"], MARKER["rot"]],
          "worked example markers")
    check(values(ws, 2, 5) == ["DOOR", "900", "EI30", "10", "90.00"], "worked example row: %s" % values(ws, 2, 5))
    check(comment(ws, 2, 1) == "50", "worked example handle: %s" % comment(ws, 2, 1))
    for r in (1, 2):
        for c in range(1, 6):
            cell = ws.cell(row=r, column=c)
            check(cell.number_format == "@", "format of %s" % cell.coordinate)
            check(bool(cell.font.b) == (r == 1), "bold of %s" % cell.coordinate)
            check(cell.data_type == "s", "text cell %s" % cell.coordinate)
    # Every reference of the block, handles as the drawing has them.
    handles = [comment(ws, r, 1) for r in range(2, ws.max_row + 1)]
    check(sorted(handles) == sorted(references(FIXTURE, "DOOR")), "DOOR handles %s" % handles)


def layouts(work):
    cases = [
        ("defaults", {}, "DOOR",
         [TITLE[k] for k in ("name",)] + ["WIDTH", "FIRE"] + [TITLE[k] for k in ("x", "y", "z", "rot", "sx", "sy", "sz", "layer")],
         ["DOOR", "1000", "EI60", "-1200.5", "-830.25", "0", "0.00", "2", "3", "4", "A-DOOR"]),
        ("BlockNames off", dict(PROPS_OFF, BlockNames=0), "DOOR", ["WIDTH", "FIRE"], ["1000", "EI60"]),
        ("JTSK", dict(PROPS_OFF, XCoord=1, YCoord=1, ZCoord=1, JTSK=1), "DOOR",
         [TITLE["name"], "WIDTH", "FIRE", TITLE["x"], TITLE["y"], TITLE["z"]],
         ["DOOR", "1000", "EI60", "1200.5", "830.25", "0"]),
        ("Sort", dict(PROPS_OFF, Sort=1), "DOOR", [TITLE["name"], "FIRE", "WIDTH"], ["DOOR", "EI60", "1000"]),
        ("LayoutNames", dict(PROPS_OFF, LayoutNames=1), "DOOR", [TITLE["name"], "WIDTH", "FIRE", TITLE["layout"]],
         ["DOOR", "1000", "EI60", "Model"]),
        ("IncludeConstant", dict(PROPS_OFF, IncludeConstant=1), "VALVE", [TITLE["name"], "b", "A", "c"],
         ["VALVE", "1", "GATE", "3"]),
    ]
    for name, settings, block, header, row3 in cases:
        wb, _ = export(work, FIXTURE, ["TABRO", "Export2", block], **settings)
        if not wb:
            continue
        ws = wb[block]
        check(values(ws, 1, len(header)) == header, "%s header: %s" % (name, values(ws, 1, len(header))))
        check(values(ws, 3, len(row3)) == row3, "%s row 3: %s" % (name, values(ws, 3, len(row3))))

    wb, _ = export(work, FIXTURE, ["TABRO", "Export2", "VALVE"], **dict(PROPS_OFF, AsText=0))
    if wb:
        cell = wb["VALVE"].cell(row=3, column=2)
        check(cell.number_format != "@" and cell.value == 1, "AsText off: %r %r" % (cell.value, cell.number_format))


def placement(work):
    wb, _ = export(work, FIXTURE, ["TABRO", "Export2", "DOOR,VALVE"],
                   **dict(PROPS_OFF, WorksheetSettings=1, StartRow=5, AddHeader=1))
    if wb:
        ws = wb.active
        check(values(ws, 5, 3) == [TITLE["name"], "WIDTH", "FIRE"], "active sheet header at 5")
        check([comment(ws, r, 1) for r in range(6, 10)] == ["50", "54", "58", "69"], "DOOR rows 6-9")
        check(values(ws, 10, 4) == [TITLE["name"], "b", "c", ""], "VALVE header at 10")
        check(ws.max_row == 12, "last row 12, not %d" % ws.max_row)
    wb, _ = export(work, FIXTURE, ["TABRO", "Export2", "DOOR"], **dict(PROPS_OFF, OddLine=1, ExportAttPrompts=1))
    if wb:
        ws = wb["DOOR"]
        check(values(ws, 2, 3) == ["", "Clear width", "Fire rating"] and ws.cell(row=2, column=2).font.b,
              "prompt row")
        check(values(ws, 3, 3) == ["", "", ""] and comment(ws, 4, 1) == "50" and comment(ws, 6, 1) == "54",
              "odd lines")


def dialog(work):
    wb, out = export(work, FIXTURE, ["TABRO", "", "s", "4", "1", "ok"], **PROPS_OFF)
    if wb:
        check("DOOR" in wb.sheetnames and "NORTH" in wb.sheetnames and "VALVE" not in wb.sheetnames,
              "dialog choice: %s" % wb.sheetnames)
        check("[v] Show all blocks" in out, "check mark on show all")


def corpus(work):
    if not shared_data.has_shared("corpus/dxf"):
        print(shared_data.missing("corpus/dxf"))
        return cases.SKIPPED
    for name in ("ezdxf_align_attributes.dxf", "libredwg_example_2007.dxf"):
        path = os.path.join(shared_data.shared_path("corpus/dxf"), name)
        wb, out = export(work, path, ["TABRO", "Export2", ""], **PROPS_OFF)
        if not wb:
            continue
        for ws in wb.worksheets:
            if ws.max_row < 2 or comment(ws, 2, 1) is None:
                continue
            block = ws.cell(row=2, column=1).value
            refs = references(path, block)
            handles = [comment(ws, r, 1) for r in range(2, ws.max_row + 1) if comment(ws, r, 1)]
            check(sorted(handles) == sorted(refs), "%s %s: %d rows, %d references" % (name, block, len(handles),
                                                                                       len(refs)))


def case(part):
    """part run in a folder of its own, whose workbooks the validator then judges."""
    def run():
        if not os.path.exists(CADHOST):
            print("cadhost not built at %s" % CADHOST)
            return 1
        with tempfile.TemporaryDirectory() as work:
            if part(work) == cases.SKIPPED:
                return cases.SKIPPED
            ooxml.validate_written(work, failures, "export")
        for f in failures:
            print("FAIL:", f)
        print("%d failures" % len(failures))
        return 1 if failures else 0
    return run


CASES = {part.__name__.replace("_", "-"): case(part)
         for part in (worked_example, layouts, placement, dialog, corpus)}

if __name__ == "__main__":
    sys.exit(cases.run(CASES))
