#!/usr/bin/python3
"""End to end: LibreOffice Calc as the user's editor rearranges an exported sheet, and
the import reads it as the user sees it.

The stand-in exports; a headless office opens the workbook and, with its own
commands, inserts a title row above the table (bold), a spacer column in the middle,
types a date into an attribute cell formatted as General (so that the office makes it
a date), types an edit after the spacer, types an edit into a cell and then merges it
under its left neighbour (Calc keeps a covered cell's content, out of sight, and
writes it to the file), merges two unedited cells, and saves as .xlsx. The stand-in
imports it; ezdxf reads the drawing: exactly the date (as the cell shows it) and the
edit after the spacer arrive, the hidden edit does not, and the summary names the
covered cell and nothing about the title row or the spacer.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs(backend=False)

import shutil  # noqa: E402
import tempfile  # noqa: E402

import uno  # noqa: E402

import test_import_what_user_sees as sees  # noqa: E402

BLOCK = sees.BLOCK
failures = sees.failures
check = sees.check
letter = sees.letter


def open_as_user(soffice, path):
    doc = soffice.desktop.loadComponentFromURL(uno.systemPathToFileUrl(path), "_blank", 0,
                                               (office.prop("Hidden", True),))
    if doc is None:
        sys.exit(f"the office did not open {path}")
    return doc


def command(soffice, doc, name, *props):
    soffice.dispatcher.executeDispatch(doc.getCurrentController().getFrame(), name, "", 0, tuple(props))


def test_calc_editor(soffice, root):
    case = sees.Case(root, "calc-editor-sees")
    h1, h2, h3, h4 = case.handles[:4]
    doc = open_as_user(soffice, case.book)
    try:
        ws = doc.getSheets().getByName(BLOCK)
        # Insert > Rows Above on row 1, a bold title typed into it.
        soffice.select(doc, BLOCK, "A1")
        command(soffice, doc, ".uno:InsertRowsBefore")
        marker = ws.getCellRangeByName("A2").getAnnotation().getString()
        if not marker.startswith(sees.MARKER):
            sys.exit(f"Insert Rows Above left the header row behind (A2's note: {marker!r})")
        soffice.type_into(doc, BLOCK, "A1", "Door schedule, level 2")
        soffice.select(doc, BLOCK, "A1")
        command(soffice, doc, ".uno:Bold", office.prop("Bold", True))
        row = {h: r + 1 for h, r in case.row.items()}

        # Insert > Columns Before on WIDTH: an empty spacer.
        col = dict(case.col)
        spacer = col["WIDTH"]
        soffice.select(doc, BLOCK, f"{letter(spacer)}{row[h1]}")
        command(soffice, doc, ".uno:InsertColumnsBefore")
        col = {t: c + 1 if c >= spacer else c for t, c in col.items()}
        if ws.getCellRangeByName(f"{letter(col['WIDTH'])}2").getString() != "WIDTH":
            sys.exit("Insert Columns Before did not move WIDTH to the right")

        # A date typed into a cell formatted as General: the office makes it a date.
        date_cell = f"{letter(col['NUMBER'])}{row[h1]}"
        soffice.select(doc, BLOCK, date_cell)
        command(soffice, doc, ".uno:NumberFormatStandard")
        soffice.type_into(doc, BLOCK, date_cell, "2024-06-01")
        typed = ws.getCellRangeByName(date_cell)
        if typed.getType().value != "VALUE":
            sys.exit(f"the office kept the typed date as {typed.getType().value}: {typed.getString()!r}")

        soffice.type_into(doc, BLOCK, f"{letter(col['HARDWARE'])}{row[h2]}", "HW-AFTER-SPACER")

        # An edit typed and then merged out of sight, and a merge of unedited cells.
        f, hw = col["FIRE_RATING"], col["HARDWARE"]
        soffice.type_into(doc, BLOCK, f"{letter(hw)}{row[h3]}", "HIDDEN-EDIT")
        hidden = f"{letter(f)}{row[h3]}:{letter(hw)}{row[h3]}"
        ws.getCellRangeByName(hidden).merge(True)
        plain = f"{letter(f)}{row[h4]}:{letter(hw)}{row[h4]}"
        ws.getCellRangeByName(plain).merge(True)
        if not ws.getCellRangeByName(hidden).getIsMerged():
            sys.exit(f"the office did not merge {hidden}")

        doc.storeToURL(uno.systemPathToFileUrl(case.book), (office.prop("FilterName", "Calc Office Open XML"),))
    finally:
        doc.close(True)

    lines = case.import_()
    sees.expect_changes(case, {(h1, "@NUMBER"): "2024-06-01", (h2, "@HARDWARE"): "HW-AFTER-SPACER"}, lines)
    sees.expect_summary(case, lines, "; 2 references changed.",
                        f"{BLOCK}!{letter(hw)}{row[h3]}: the cell is covered by the merged cells {hidden}")
    sees.expect_not_said(case, lines, f"{BLOCK}!A1:", "header cell is empty", sees.NOT_IMPORTED)


def main():
    if not os.path.exists(sees.GEN):
        print(f"SKIP: the drawing generator {sees.GEN} is not beside the project")
        return office.SKIP
    root = tempfile.mkdtemp(prefix="tabro-calc-editor-sees-")
    try:
        with office.Office() as soffice:
            test_calc_editor(soffice, root)
            print(f"test_calc_editor: {'ok' if not failures else 'FAILED'}")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for name, lines in sees.summaries:
        print(f"--- {name}:")
        for line in lines:
            print("   ", line)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
