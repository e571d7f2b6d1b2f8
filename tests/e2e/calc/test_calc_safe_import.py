#!/usr/bin/python3
"""End to end: an import against the record of its export, with LibreOffice Calc as
the user's editor and as the backend, judged with ezdxf and openpyxl.

  * Calc as the editor. The stand-in exports; a headless office opens the workbook
    as a user would: sorts the DOOR_TAG rows descending by NUMBER (Data > Sort), takes
    a backup copy of the sheet, types an edit into the original, copies whole rows
    (the edited one and another) to new rows below, and saves as .xlsx. Calc moves
    and copies a cell's note with the cell, so every handle stays with its row; the
    record sheet survives the save, hidden. Importing that workbook, with the
    stand-in and again with Calc, writes the edit into its own reference and nothing
    else: the sort moved no values into another reference, the backup copy undid
    nothing, the copied rows changed nothing more, and a second import changes
    nothing either.
  * Calc as the backend. `--spreadsheet calc` exports (the record is there, hidden),
    ezdxf moves a reference and openpyxl edits a cell of that reference and of
    another; importing with Calc keeps the move and applies both edits, and brings
    the record up to date, so that a later change of an applied cell in the drawing
    is kept without being called a conflict.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
# The editor case needs no Calc backend; the backend case is skipped without it.
office.needs(backend=False)

import copy  # noqa: E402
import shutil  # noqa: E402
import tempfile  # noqa: E402

import ezdxf  # noqa: E402
import uno  # noqa: E402
from ezdxf.math import Vec3  # noqa: E402
from openpyxl import load_workbook  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

import test_safe_import as tsi  # noqa: E402

RECORD = tsi.RECORD
BLOCK = "DOOR_TAG"
BACKUP = "DOOR_TAG (backup)"
failures = tsi.failures
check = tsi.check


def state_of(doc):
    """What import may change of every block reference, by handle."""
    out = {}
    for ins in doc.modelspace().query("INSERT"):
        out[ins.dxf.handle] = (
            tuple((a.dxf.tag, a.dxf.text) for a in ins.attribs),
            tuple(round(v, 9) for v in Vec3(ins.dxf.insert)),
            round(ins.dxf.rotation, 9),
            (ins.dxf.xscale, ins.dxf.yscale, ins.dxf.zscale),
            ins.dxf.layer,
        )
    return out


def only_changes(before, after, expected):
    """Checks that the references differ from before exactly by expected:
    {handle: {tag: text}}."""
    for handle, state in before.items():
        if handle not in after:
            failures.append(f"reference {handle} is gone")
            continue
        want = state
        if handle in expected:
            attribs = tuple((tag, expected[handle].get(tag, text)) for tag, text in state[0])
            want = (attribs,) + state[1:]
        if after[handle] != want:
            failures.append(f"reference {handle} is {after[handle]}, expected {want}")


def cell(row, column):
    """A1 address of a 0-based row and column."""
    return f"{get_column_letter(column + 1)}{row + 1}"


class CalcSheet:
    """A sheet of a document open in the office, read as a user sees it: the header
    row, and every row below with its cells' texts and its first cell's note."""

    def __init__(self, doc, name):
        self.doc, self.name = doc, name
        self.sheet = doc.getSheets().getByName(name)
        cursor = self.sheet.createCursor()
        cursor.gotoEndOfUsedArea(False)
        self.last_row = cursor.getRangeAddress().EndRow
        self.last_column = cursor.getRangeAddress().EndColumn
        self.titles = [self.sheet.getCellByPosition(c, 0).getString() for c in range(self.last_column + 1)]

    def rows(self):
        """(note, cell texts) of each row below the header, top to bottom."""
        block = self.sheet.getCellRangeByPosition(0, 1, self.last_column, self.last_row).getDataArray()
        notes = [self.sheet.getCellByPosition(0, r).getAnnotation().getString().strip()
                 for r in range(1, self.last_row + 1)]
        return [(note, tuple("" if v is None else str(v) for v in values)) for note, values in zip(notes, block)]

    def column_of(self, title):
        return self.titles.index(title)


def open_as_user(soffice, path):
    doc = soffice.desktop.loadComponentFromURL(uno.systemPathToFileUrl(path), "_blank", 0,
                                               (office.prop("Hidden", True),))
    if doc is None:
        sys.exit(f"the office did not open {path}")
    return doc


def sort_descending(soffice, doc, sheet, column):
    """Data > Sort over the whole table, header row kept, by one column descending."""
    soffice.select(doc, sheet.name, f"A1:{cell(sheet.last_row, sheet.last_column)}")
    soffice.dispatcher.executeDispatch(
        doc.getCurrentController().getFrame(), ".uno:DataSort", "", 0,
        (office.prop("ByRows", True), office.prop("HasHeader", True),
         office.prop("Col1", column + 1), office.prop("Ascending1", False)))


def copy_row(soffice, doc, sheet, source, target):
    """Selects the whole source row (0-based), copies it and pastes it over the
    target row, as a user does with the row headers."""
    controller = doc.getCurrentController()
    frame = controller.getFrame()
    controller.setActiveSheet(sheet.sheet)
    controller.select(sheet.sheet.getRows().getByIndex(source))
    soffice.dispatcher.executeDispatch(frame, ".uno:Copy", "", 0, ())
    controller.select(sheet.sheet.getRows().getByIndex(target))
    soffice.dispatcher.executeDispatch(frame, ".uno:Paste", "", 0, ())


def twin_of(case, root, name, spreadsheet_args):
    """A copy of the case's folder (drawing, workbook, settings) under the same file
    names, so that its record names the same drawing, imported with other arguments."""
    twin = copy.copy(case)
    twin.work = os.path.join(root, name)
    shutil.copytree(case.work, twin.work)
    for attribute in ("home", "drawing", "book"):
        setattr(twin, attribute, os.path.join(twin.work, os.path.relpath(getattr(case, attribute), case.work)))
    twin.spreadsheet_args = list(spreadsheet_args)
    return twin


def test_calc_as_the_editor(soffice, root):
    case = tsi.Case(root, "calc-editor")
    before = state_of(ezdxf.readfile(case.drawing))
    doc = open_as_user(soffice, case.book)
    try:
        sheet = CalcSheet(doc, BLOCK)
        number = sheet.column_of("NUMBER")
        exported = sheet.rows()
        check(len(exported) >= 6 and all(note for note, _ in exported),
              f"the exported {BLOCK} rows, as Calc reads them, lack their handles: {exported}")

        sort_descending(soffice, doc, sheet, number)
        sorted_rows = sheet.rows()
        check(sorted(sorted_rows) == sorted(exported),
              "sorting parted notes from their rows:\n  before %s\n  after  %s" % (exported, sorted_rows))
        check([note for note, _ in sorted_rows] != [note for note, _ in exported], "the sort moved no row")
        # The generated numbers share one form ("NU-000012"), which any collation
        # orders as Python does.
        plain = [values[number] for _, values in sorted_rows if values[number].startswith("NU-")]
        check(plain == sorted(plain, reverse=True), f"NUMBER is not descending after the sort: {plain}")

        # A backup of the sorted sheet, then the edit in the original. The sheet is
        # copied through the API: the dispatched Move/Copy command wants its dialog,
        # which a headless office does not show.
        sheets = doc.getSheets()
        sheets.copyByName(BLOCK, BACKUP, list(sheets.getElementNames()).index(BLOCK) + 1)
        edited_row = 2  # the second data row after the sort
        h_edit = sorted_rows[edited_row - 1][0]
        soffice.type_into(doc, BLOCK, cell(edited_row, number), "EDITED-IN-CALC")
        check(soffice.cell_text(doc, BLOCK, cell(edited_row, number)) == "EDITED-IN-CALC", "the typed edit is not there")

        # The edited row and an unedited one, copied whole to new rows below.
        other_row = 4
        copy_row(soffice, doc, sheet, edited_row, sheet.last_row + 1)
        copy_row(soffice, doc, sheet, other_row, sheet.last_row + 2)
        copied = CalcSheet(doc, BLOCK).rows()
        check(copied[-2:] == [copied[edited_row - 1], copied[other_row - 1]],
              f"the copied rows did not take their notes and cells along: {copied[-2:]}")

        doc.storeToURL(uno.systemPathToFileUrl(case.book), (office.prop("FilterName", "Calc Office Open XML"),))
    finally:
        doc.close(True)

    wb = load_workbook(case.book)
    check(RECORD in wb.sheetnames and wb[RECORD].sheet_state == "hidden",
          f"the record sheet did not survive Calc's save, hidden: {[(ws.title, ws.sheet_state) for ws in wb]}")
    names = [ws.title for ws in wb if ws.sheet_state == "visible"]
    check(BACKUP in names and names.index(BACKUP) == names.index(BLOCK) + 1,
          f"the backup copy does not follow the original: {names}")

    # The workbook as Calc saved it, imported by each backend into a drawing of its own.
    importers = [("stand-in", case)]
    if office.backend_built():
        importers.append(("calc", twin_of(case, root, "calc-editor-calc", office.calc_args(soffice.pipe))))
    for who, importer in importers:
        out = importer.import_()
        after = ezdxf.readfile(importer.drawing)
        count = len(failures)
        check(tsi.texts(after, h_edit)["NUMBER"] == "EDITED-IN-CALC", f"the edit did not reach {h_edit}:\n{out}")
        only_changes(before, state_of(after), {h_edit: {"NUMBER": "EDITED-IN-CALC"}})
        check("other rows name the same reference" not in out, f"agreeing copies of a row were named:\n{out}")

        # Now the backup's older values differ from the drawing: only the record, read
        # back from the workbook this backend saved, tells them from edits.
        saved = open(importer.drawing, "rb").read()
        out = importer.import_()
        check(open(importer.drawing, "rb").read() == saved, f"a second import changed the drawing:\n{out}")
        failures[count:] = [f"import with the {who}: {f}" for f in failures[count:]]


def test_calc_as_the_backend(soffice, root):
    case = tsi.Case(root, "calc-backend", spreadsheet_args=office.calc_args(soffice.pipe))
    wb = load_workbook(case.book)
    check(RECORD in wb.sheetnames and wb[RECORD].sheet_state == "hidden",
          f"Calc's export has no hidden record sheet: {[(ws.title, ws.sheet_state) for ws in wb]}")
    check(wb.active.title != RECORD, "the record sheet is the active one")
    ws, tags, props, rows = case.sheet(wb)
    h_moved, h_text = list(rows)[:2]

    doc = ezdxf.readfile(case.drawing)
    moved_to = Vec3(doc.entitydb[h_moved].dxf.insert) + (500, 250, 0)
    doc.entitydb[h_moved].dxf.insert = moved_to
    doc.saveas(case.drawing)
    before = state_of(ezdxf.readfile(case.drawing))

    # An edit in the moved reference's own row, whose X and Y still say where it was,
    # and one in another row.
    ws.cell(rows[h_moved], tags["NUMBER"]).value = "MOVED-AND-EDITED"
    ws.cell(rows[h_text], tags["HARDWARE"]).value = "HW-CALC"
    wb.save(case.book)
    out = case.import_()

    after = ezdxf.readfile(case.drawing)
    check(Vec3(after.entitydb[h_moved].dxf.insert).isclose(moved_to), f"the drawing's move was undone:\n{out}")
    only_changes(before, state_of(after), {h_moved: {"NUMBER": "MOVED-AND-EDITED"}, h_text: {"HARDWARE": "HW-CALC"}})

    # The import brought the record in Calc's workbook up to date: the edited cell
    # changed again in the drawing is the drawing's own change, not a conflict.
    doc = ezdxf.readfile(case.drawing)
    for a in doc.entitydb[h_moved].attribs:
        if a.dxf.tag == "NUMBER":
            a.dxf.text = "LATER"
    doc.saveas(case.drawing)
    out = case.import_()
    check(tsi.texts(ezdxf.readfile(case.drawing), h_moved)["NUMBER"] == "LATER",
          f"the drawing's later change was undone:\n{out}")
    check("the drawing changed too" not in out, f"a cell the import applied is a conflict the next time:\n{out}")


def main():
    if not os.path.exists(tsi.GEN):
        print(f"SKIP: the drawing generator {tsi.GEN} is not beside the project")
        return office.SKIP
    root = tempfile.mkdtemp(prefix="tabro-calc-safe-import-")
    skipped = []
    try:
        cases = [test_calc_as_the_editor]
        if office.backend_built():
            cases.append(test_calc_as_the_backend)
        else:
            skipped.append("test_calc_as_the_backend: the Calc backend is not built in %s" % office.BIN)
        for test in cases:
            with office.Office() as soffice:
                count = len(failures)
                test(soffice, root)
                print(f"{test.__name__}: {'ok' if len(failures) == count else 'FAILED'}")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for s in skipped:
        print("skipped:", s)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
