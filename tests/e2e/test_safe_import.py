#!/usr/bin/python3
"""End to end: an import writes only what the user changed, into the reference the
row belongs to, judged with tools we did not write.

A generated drawing is exported with cadhost into a new workbook; the drawing is then
edited with ezdxf (as another program would) and the workbook with openpyxl (as a
user would), and the edits are imported back. ezdxf reads the saved drawing:

  * the export keeps its record in a hidden sheet the validator accepts;
  * a cell nobody touched never undoes a change made in the drawing since;
  * a cell changed on both sides keeps the drawing's value and is named;
  * a backup copy of a sheet (older values) does not undo the edit, now or later;
  * two rows that disagree on a cell apply neither, and are named;
  * a row whose handle names a line or a reference of another block writes nothing;
  * JTSK on at export and off at import flips no coordinate;
  * the workbook of another drawing asks first, and Enter writes nothing;
  * Preview lists the changes; No writes nothing, Enter applies them;
  * an import undone and imported again names the cell it no longer applies.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import ezdxf
from ezdxf.math import Vec3
from openpyxl import load_workbook
from openpyxl.comments import Comment
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import cases  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
GEN = shared_data.MAKE_DRAWING
RECORD = "Tablora record"

REGISTRY = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]
"JTSK"=dword:{jtsk}

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"ImportSettings"=dword:00000001
"IgnoreProps"=dword:00000000
"StartCol"=dword:00000001
"StartRow"=dword:00000002
"Preview"=dword:{preview}
"""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def set_registry(home, jtsk=0, preview=0):
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(REGISTRY.replace("{jtsk}", f"{jtsk:08x}").replace("{preview}", f"{preview:08x}"))


def run_cadhost(work, home, args, lines, ok_codes=(0,)):
    script = os.path.join(work, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    proc = subprocess.run([CADHOST, "--script", script, *args], cwd=work, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    if proc.returncode not in ok_codes:
        sys.exit(f"cadhost {' '.join(args)} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc.stdout


class Case:
    """A fresh drawing exported into a fresh workbook in its own folder, with the
    spreadsheet application the arguments choose (the stand-in when none)."""

    def __init__(self, root, name, jtsk=0, n=40, seed=20240501, negative=False, spreadsheet_args=()):
        self.spreadsheet_args = list(spreadsheet_args)
        self.work = os.path.join(root, name)
        self.home = os.path.join(self.work, "home")
        os.makedirs(self.home)
        set_registry(self.home, jtsk=jtsk)
        self.drawing = os.path.join(self.work, "site.dxf")
        subprocess.run(["/usr/bin/python3", GEN, str(n), self.drawing, "--seed", str(seed)], check=True,
                       capture_output=True)
        if negative:
            doc = ezdxf.readfile(self.drawing)
            for ins in doc.modelspace().query("INSERT"):
                p = Vec3(ins.dxf.insert)
                ins.dxf.insert = (-abs(p.x) - 1.25, -abs(p.y) - 2.5, p.z)
            doc.saveas(self.drawing)
        run_cadhost(self.work, self.home, [*self.spreadsheet_args, self.drawing], ["TABRO", "Export2", ""])
        books = sorted(n for n in os.listdir(self.work) if n.startswith("Book") and n.endswith(".xlsx"))
        if not books:
            sys.exit("export wrote no workbook")
        self.book = os.path.join(self.work, books[0])

    def sheet(self, wb, block="DOOR_TAG"):
        ws = wb[block]
        def is_property(c):
            return c.comment is not None and c.comment.text.startswith("Tablora property")
        header = {c.value: c.column for c in ws[1] if c.value and not is_property(c)}
        props = [c.column for c in ws[1] if is_property(c)]
        rows = {}
        for r in range(2, ws.max_row + 1):
            comment = ws.cell(r, 1).comment
            if comment is not None:
                rows[comment.text.strip()] = r
        return ws, header, dict(zip(["x", "y", "z", "rotation", "sx", "sy", "sz", "layer"], props)), rows

    def import_(self, answers=(), ok_codes=(0,)):
        return run_cadhost(self.work, self.home, [*self.spreadsheet_args, "--workbook", self.book, self.drawing],
                           ["TABRO", "Import", *answers, "SAVE"], ok_codes)


def texts(doc, handle):
    return {a.dxf.tag: a.dxf.text for a in doc.entitydb[handle].attribs}


def test_record_and_three_way(root):
    case = Case(root, "three-way")
    wb = load_workbook(case.book)
    check(RECORD in wb.sheetnames and wb[RECORD].sheet_state == "hidden",
          f"the record sheet is not there, hidden: {wb.sheetnames}")
    check(wb.active.title != RECORD, "the record sheet is the active one")
    ooxml.validate_written(case.work, failures, "export with its record")
    ws, tags, props, rows = case.sheet(wb)
    handles = list(rows)
    h_moved, h_text, h_conflict, h_layer = handles[:4]

    # The drawing changes after the export, in another program.
    doc = ezdxf.readfile(case.drawing)
    moved_to = Vec3(doc.entitydb[h_moved].dxf.insert) + (500, 250, 0)
    doc.entitydb[h_moved].dxf.insert = moved_to
    doc.entitydb[h_moved].dxf.rotation = 33.0
    for a in doc.entitydb[h_conflict].attribs:
        if a.dxf.tag == "NUMBER":
            a.dxf.text = "FROM-DRAWING"
    doc.entitydb[h_layer].dxf.layer = "A-GLAZ"
    doc.saveas(case.drawing)

    # The user edits one unrelated cell, and the cell the drawing changed too.
    ws.cell(rows[h_text], tags["NUMBER"]).value = "FROM-SHEET"
    ws.cell(rows[h_conflict], tags["NUMBER"]).value = "SHEET-WINS?"
    wb.save(case.book)
    out = case.import_()

    after = ezdxf.readfile(case.drawing)
    check(Vec3(after.entitydb[h_moved].dxf.insert).isclose(moved_to), "the drawing's move was undone")
    check(abs(after.entitydb[h_moved].dxf.rotation - 33.0) < 1e-9, "the drawing's rotation was undone")
    check(after.entitydb[h_layer].dxf.layer == "A-GLAZ", "the drawing's new layer was undone")
    check(texts(after, h_text)["NUMBER"] == "FROM-SHEET", "the edited cell did not reach the drawing")
    check(texts(after, h_conflict)["NUMBER"] == "FROM-DRAWING", "a conflict took the sheet's value")
    check("the drawing changed too" in out and "FROM-DRAWING" in out and "SHEET-WINS?" in out,
          f"the conflict is not named with its values:\n{out}")

    # The record now says what the drawing holds: importing again changes nothing.
    before_again = open(case.drawing, "rb").read()
    case.import_()
    check(open(case.drawing, "rb").read() == before_again, "a second import changed the drawing")


def test_duplicates(root):
    case = Case(root, "duplicates")
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    handles = list(rows)
    h_edit, h_fight = handles[:2]
    # A backup copy of the sheet, taken before the edit, placed after the edited one.
    backup = wb.create_sheet("DOOR_TAG (old)")
    for row in ws.iter_rows():
        for c in row:
            b = backup.cell(c.row, c.column, c.value)
            if c.comment is not None:
                b.comment = Comment(c.comment.text, "backup")
    old = ws.cell(rows[h_edit], tags["NUMBER"]).value
    ws.cell(rows[h_edit], tags["NUMBER"]).value = "EDITED"
    # Two rows of one reference that disagree.
    ws.cell(rows[h_fight], tags["NUMBER"]).value = "ONE"
    backup.cell(rows[h_fight], tags["NUMBER"]).value = "TWO"
    wb.save(case.book)
    before = ezdxf.readfile(case.drawing)
    out = case.import_()
    after = ezdxf.readfile(case.drawing)
    check(texts(after, h_edit)["NUMBER"] == "EDITED", f"the edit was reverted by the backup ({old!r})")
    check(texts(after, h_fight)["NUMBER"] == texts(before, h_fight)["NUMBER"], "disagreeing rows wrote")
    check("other rows name the same reference" in out, f"disagreeing rows are not named:\n{out}")
    # Later imports, with the backup still there, do not undo the edit either.
    case.import_()
    again = ezdxf.readfile(case.drawing)
    check(texts(again, h_edit)["NUMBER"] == "EDITED", "a second import reverted the edit from the backup")


def test_rows_that_name_other_objects(root):
    case = Case(root, "other-objects")
    doc = ezdxf.readfile(case.drawing)
    line = next(iter(doc.modelspace().query("LINE")), None) or doc.modelspace().add_line((0, 0), (1, 1))
    doc.saveas(case.drawing)
    line_handle, line_layer = line.dxf.handle, line.dxf.layer
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    other_block = next(h for h, e in ((e.dxf.handle, e) for e in doc.modelspace().query("INSERT"))
                       if e.dxf.name not in ("DOOR_TAG",) and e.attribs)
    h1, h2 = list(rows)[:2]
    ws.cell(rows[h1], 1).comment = Comment(line_handle, "user")
    ws.cell(rows[h1], props["layer"]).value = "A-GLAZ"
    ws.cell(rows[h2], 1).comment = Comment(other_block, "user")
    ws.cell(rows[h2], props["x"]).value = "12345"
    wb.save(case.book)
    before = ezdxf.readfile(case.drawing)
    out = case.import_()
    after = ezdxf.readfile(case.drawing)
    check(after.entitydb[line_handle].dxf.layer == line_layer, "a line took a row's layer")
    check(Vec3(after.entitydb[other_block].dxf.insert).isclose(before.entitydb[other_block].dxf.insert),
          "a reference of another block was moved")
    check("no block reference" in out and "of block" in out, f"the refused rows are not named:\n{out}")


def test_jtsk_travels_with_the_sheet(root):
    case = Case(root, "jtsk", jtsk=1, negative=True)
    set_registry(case.home, jtsk=0)
    before = ezdxf.readfile(case.drawing)
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    h = list(rows)[0]
    ws.cell(rows[h], tags["NUMBER"]).value = "JTSK-EDIT"
    wb.save(case.book)
    case.import_()
    after = ezdxf.readfile(case.drawing)
    for ins in before.modelspace().query("INSERT"):
        got = Vec3(after.entitydb[ins.dxf.handle].dxf.insert)
        if not got.isclose(ins.dxf.insert, abs_tol=1e-9):
            failures.append(f"{ins.dxf.handle} moved from {ins.dxf.insert} to {got} (JTSK off at import)")
            break
    check(texts(after, h)["NUMBER"] == "JTSK-EDIT", "the edit did not reach the drawing")


def test_workbook_of_another_drawing(root):
    case = Case(root, "other-drawing")
    other = os.path.join(case.work, "other.dxf")
    subprocess.run(["/usr/bin/python3", GEN, "40", other, "--seed", "7"], check=True, capture_output=True)
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    ws.cell(rows[list(rows)[0]], tags["NUMBER"]).value = "WRONG-DRAWING"
    wb.save(case.book)
    original = open(other, "rb").read()
    out = run_cadhost(case.work, case.home, ["--workbook", case.book, other], ["TABRO", "Import", "", "SAVE"])
    check("The workbook was exported from site.dxf. Import into other.dxf anyway?" in out,
          f"no question before importing another drawing's workbook:\n{out}")
    check("Nothing was changed." in out, f"no word that nothing was changed:\n{out}")
    after = ezdxf.readfile(other)
    check(all(a.dxf.text != "WRONG-DRAWING" for e in after.modelspace().query("INSERT") for a in e.attribs),
          "Enter at the question still imported")
    del original


def test_preview(root):
    case = Case(root, "preview")
    set_registry(case.home, preview=1)
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    h = list(rows)[0]
    ws.cell(rows[h], tags["NUMBER"]).value = "PREVIEWED"
    wb.save(case.book)
    out = case.import_(["No"])
    check("Changes to apply:" in out and "PREVIEWED" in out and "Apply 1 changes to 1 references?" in out,
          f"the preview does not list the change:\n{out}")
    check(texts(ezdxf.readfile(case.drawing), h)["NUMBER"] != "PREVIEWED", "No still applied the change")
    case.import_([""])
    check(texts(ezdxf.readfile(case.drawing), h)["NUMBER"] == "PREVIEWED", "Enter did not apply the change")


def test_import_undone_then_imported_again(root):
    case = Case(root, "undone")
    wb = load_workbook(case.book)
    ws, tags, props, rows = case.sheet(wb)
    h = list(rows)[0]
    before = texts(ezdxf.readfile(case.drawing), h)["NUMBER"]
    ws.cell(rows[h], tags["NUMBER"]).value = "UNDONE-LATER"
    wb.save(case.book)
    # Import, undo it, import again: the record says the cell was imported, the
    # drawing holds the earlier text again; the second import must say so.
    out = run_cadhost(case.work, case.home, ["--workbook", case.book, case.drawing],
                      ["TABRO", "Import", "U", "TABRO", "Import", "SAVE"])
    check(texts(ezdxf.readfile(case.drawing), h)["NUMBER"] == before, "the import was not undone")
    check('holds "%s" again after an import wrote "UNDONE-LATER"' % before in out,
          f"the undone cell is not named by the next import:\n{out}")


TESTS = (test_record_and_three_way, test_duplicates, test_rows_that_name_other_objects,
         test_jtsk_travels_with_the_sheet, test_workbook_of_another_drawing, test_preview,
         test_import_undone_then_imported_again)


def case(test):
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"no cadhost at {CADHOST}")
        failed = len(failures)
        root = tempfile.mkdtemp(prefix="tabro-safe-import-")
        try:
            test(root)
        finally:
            shutil.rmtree(root, ignore_errors=True)
        for f in failures[failed:]:
            print("FAIL:", f)
        print(f"{test.__name__}: {'ok' if len(failures) == failed else 'FAILED'}")
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    sys.exit(cases.run({t.__name__[len("test_"):].replace("_", "-"): case(t) for t in TESTS}))
