#!/usr/bin/python3
"""End to end: import reads the sheet as the user sees it after rearranging it.

A generated drawing is exported with cadhost into a new workbook, which openpyxl then
edits the way a user rearranges a sheet; the edits are imported back and ezdxf reads
the saved drawing. Each case checks that exactly the expected attributes or
properties changed, nothing else in the drawing, and what the import's summary says:

  * a bold title row above the table and a bold "Subtotal" row among the data: the
    title heads nothing, the subtotal is named, the edits around both are applied;
  * a spacer column and an untitled notes column in the middle: the titled columns
    after them are still applied, the notes go nowhere and nobody is blamed;
  * a header merged over two columns: an edit under the covered title is named;
  * a user's column titled like a tag: neither column of the tag is applied, each
    header cell is named once;
  * column A deleted: every row is named, nothing changes;
  * a column inserted before A: the handles are found where they moved;
  * the header row sorted into the middle: the rows above it are named;
  * a date, a time and TRUE typed into attribute cells arrive as the cells show them;
  * merged data cells: a covered cell is named, not emptied;
  * a row whose every cell was cleared is not applied and is named;
  * edits in the Layout and block-name columns are said once a column; a block-name
    cell naming another block of the drawing refuses its row;
  * more than 20 named cells: the rest is counted, the whole list goes to a file.

openpyxl moves a cell's comment with the cell when rows or columns are inserted or
deleted (checked below before the cases rely on it), as a spreadsheet program does;
the sort is done by hand and moves value, comment and font together, as a
spreadsheet program's sort does.
"""
import copy
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile

import ezdxf
from openpyxl import load_workbook
from openpyxl.styles import Font
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_safe_import import CADHOST, GEN, run_cadhost  # noqa: E402  (one way to run cadhost)
import cases  # noqa: E402

BLOCK = "DOOR_TAG"
MARKER = "Tablora header row"

REGISTRY = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]
"JTSK"=dword:00000000
"BlockNames"=dword:00000001
"LayoutNames"=dword:{layouts}

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"ImportSettings"=dword:00000001
"IgnoreProps"=dword:00000000
"StartCol"=dword:00000001
"StartRow"=dword:00000002
"Preview"=dword:00000000
"""

failures = []
# Every case's summary, printed at the end: what the import said is part of the result.
summaries = []


def check(condition, what):
    if not condition:
        failures.append(what)


class Case:
    """A fresh drawing exported into a fresh workbook in its own folder; the DOOR_TAG
    sheet's columns and rows as export wrote them, before any edit."""

    def __init__(self, root, name, n=40, layouts=False):
        self.name = name
        self.work = os.path.join(root, name)
        self.home = os.path.join(self.work, "home")
        os.makedirs(self.home)
        with open(os.path.join(self.home, "user.reg"), "w") as f:
            f.write(REGISTRY.replace("{layouts}", f"{int(layouts):08x}"))
        self.drawing = os.path.join(self.work, "site.dxf")
        subprocess.run(["/usr/bin/python3", GEN, str(n), self.drawing, "--seed", "20240501"], check=True,
                       capture_output=True)
        run_cadhost(self.work, self.home, [self.drawing], ["TABRO", "Export2", ""])
        books = sorted(b for b in os.listdir(self.work) if b.startswith("Book") and b.endswith(".xlsx"))
        if not books:
            sys.exit("export wrote no workbook")
        self.book = os.path.join(self.work, books[0])
        self.before = snapshot(ezdxf.readfile(self.drawing))
        wb = load_workbook(self.book)
        ws = wb[BLOCK]
        first = ws.cell(1, 1).comment
        if first is None or not first.text.startswith(MARKER):
            sys.exit(f"export wrote no header-row marker on {BLOCK}!A1")
        # Titles as export wrote them: tags, "Block name", "X", ..., "Layer", "Layout".
        self.col = {c.value: c.column for c in ws[1] if c.value}
        self.row = {ws.cell(r, 1).comment.text.strip(): r for r in range(2, ws.max_row + 1)
                    if ws.cell(r, 1).comment is not None}
        self.handles = list(self.row)
        self.last_column = ws.max_column

    def open(self):
        wb = load_workbook(self.book)
        return wb, wb[BLOCK]

    def import_(self):
        # An import that ends in an error is this case's failure, not the end of the run.
        out = run_cadhost(self.work, self.home, ["--workbook", self.book, self.drawing], ["TABRO", "Import", "SAVE"],
                          ok_codes=(0, 1))
        lines = summary_lines(self.name, out)
        summaries.append((self.name, lines))
        return lines

    def changes(self):
        return diff(self.before, snapshot(ezdxf.readfile(self.drawing)))

    def value(self, handle, key):
        """A property's value, or an attribute's text by "@TAG", before the import."""
        ref = self.before[handle]
        if key in ref:
            return ref[key]
        return next(v for k, v in ref.items() if k.startswith(key + "#"))


def snapshot(doc):
    """What an import may change, for every block reference of every layout, by handle."""
    refs = {}
    for layout in doc.layouts:
        for ins in layout.query("INSERT"):
            s = {"block": ins.dxf.name, "layout": layout.name, "layer": ins.dxf.layer,
                 "x": ins.dxf.insert.x, "y": ins.dxf.insert.y, "z": ins.dxf.insert.z,
                 "rotation": ins.dxf.rotation, "sx": ins.dxf.xscale, "sy": ins.dxf.yscale, "sz": ins.dxf.zscale}
            for i, a in enumerate(ins.attribs):
                s[f"@{a.dxf.tag}#{i}"] = a.dxf.text
            refs[ins.dxf.handle] = s
    return refs


def same(x, y):
    if isinstance(x, float) and isinstance(y, float):
        return abs(x - y) <= 1e-9 * max(1.0, abs(x))
    return x == y


def diff(before, after):
    """{(handle, key): new value} of every difference; an attribute's key is "@TAG"."""
    out = {}
    for handle in before.keys() | after.keys():
        a, b = before.get(handle, {}), after.get(handle, {})
        for key in a.keys() | b.keys():
            if not same(a.get(key), b.get(key)):
                out[(handle, re.sub(r"#\d+$", "", key))] = b.get(key)
    return out


def summary_lines(name, out):
    """The lines cadhost printed from the import's summary to the next command."""
    lines = out.splitlines()
    start = next((i for i, line in enumerate(lines) if line.startswith("Imported ")), None)
    if start is None:
        failures.append(f"{name}: the import printed no summary:\n" + "\n".join(x for x in lines if x.strip()))
        return []
    end = next((i for i in range(start, len(lines)) if lines[i].startswith("Command:")), len(lines))
    return [line.rstrip() for line in lines[start:end] if line.strip()]


def has(lines, text):
    return any(text in line for line in lines)


def count(lines, text):
    return sum(text in line for line in lines)


def expect_changes(case, expected, lines):
    got = case.changes()
    check(got.keys() == expected.keys() and all(same(got[k], v) for k, v in expected.items()), f"{case.name}: the drawing changed {got}, expected {expected}\n" + "\n".join(lines))


def expect_summary(case, lines, *texts):
    for text in texts:
        check(has(lines, text), f"{case.name}: the summary does not say {text!r}:\n" + "\n".join(lines))


def expect_not_said(case, lines, *texts):
    for text in texts:
        check(not has(lines, text), f"{case.name}: the summary says {text!r}:\n" + "\n".join(lines))


def letter(column):
    s = ""
    while column:
        column, rest = divmod(column - 1, 26)
        s = chr(65 + rest) + s
    return s


NO_HANDLE = "the row holds values but no handle (the comment of its first cell): it is not imported"
NOT_APPLIED = "could not be applied"
NOT_IMPORTED = "holding values w"


def test_openpyxl_moves_comments(root):
    # The cases below insert and delete rows and columns with openpyxl and count on
    # the handles travelling with their cells, as in a spreadsheet program.
    case = Case(root, "comments-move")
    wb, ws = case.open()
    ws.insert_rows(1)
    ws.insert_cols(1)
    ws.insert_cols(4)
    ws.delete_cols(6)
    wb.save(case.book)
    ws = load_workbook(case.book)[BLOCK]
    check(ws.cell(2, 2).comment is not None and ws.cell(2, 2).comment.text.startswith(MARKER),
          "openpyxl left the header-row marker behind when inserting a row and columns")
    moved = {ws.cell(r, 2).comment.text.strip() for r in range(3, ws.max_row + 1) if ws.cell(r, 2).comment}
    check(moved == set(case.handles), "openpyxl left handles behind when inserting a row and columns")


def test_title_and_subtotal(root):
    case = Case(root, "title-subtotal")
    wb, ws = case.open()
    h1, h5 = case.handles[0], case.handles[4]
    h_last = case.handles[-1]
    ws.cell(case.row[h1], case.col["NUMBER"]).value = "TITLED-1"
    ws.cell(case.row[h_last], case.col["TYPE"]).value = "AFTER-SUBTOTAL"
    ws.insert_rows(1)
    ws.cell(1, 1).value = "Door schedule, level 2"
    ws.cell(1, 1).font = Font(bold=True)
    subtotal = case.row[h5] + 2  # after h5, which the title moved down by one
    ws.insert_rows(subtotal)
    ws.cell(subtotal, 1).value = "Subtotal"
    ws.cell(subtotal, 1).font = Font(bold=True)
    ws.cell(subtotal, case.col["WIDTH"]).value = 10450
    ws.cell(subtotal, case.col["WIDTH"]).font = Font(bold=True)
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@NUMBER"): "TITLED-1", (h_last, "@TYPE"): "AFTER-SUBTOTAL"}, lines)
    expect_summary(case, lines, "; 2 references changed.", "1 row holding values was not imported.",
                   f"{BLOCK}!A{subtotal}: {NO_HANDLE}")
    expect_not_said(case, lines, f"{BLOCK}!A1:", NOT_APPLIED, "under no header")


def test_spacer_and_notes_columns(root):
    case = Case(root, "spacer-notes")
    wb, ws = case.open()
    h1, h2, h3 = case.handles[:3]
    ws.cell(case.row[h1], case.col["WIDTH"]).value = "1234"
    ws.cell(case.row[h2], case.col["HARDWARE"]).value = "HW-SPACED"
    ws.cell(case.row[h3], case.col["Rotation"]).value = "45"
    # An empty spacer before WIDTH, an untitled notes column before FIRE_RATING.
    ws.insert_cols(case.col["WIDTH"])
    notes = case.col["FIRE_RATING"] + 1
    ws.insert_cols(notes)
    for i, h in enumerate(case.handles[:6]):
        ws.cell(case.row[h], notes).value = f"note {i}: check on site"
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@WIDTH"): "1234", (h2, "@HARDWARE"): "HW-SPACED", (h3, "rotation"): 45.0}, lines)
    expect_summary(case, lines, "; 3 references changed.")
    expect_not_said(case, lines, NOT_APPLIED, NOT_IMPORTED, "header cell is empty")


def test_merged_header(root):
    case = Case(root, "merged-header")
    wb, ws = case.open()
    h1, h2 = case.handles[:2]
    t, w = case.col["TYPE"], case.col["WIDTH"]
    ws.cell(case.row[h1], t).value = "UNDER-MERGED-TITLE"
    ws.cell(case.row[h2], w).value = "4321"
    # The merge drops WIDTH's title, as a spreadsheet program asks to.
    ws.merge_cells(start_row=1, start_column=t, end_row=1, end_column=w)
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@TYPE"): "UNDER-MERGED-TITLE"}, lines)
    expect_summary(case, lines, "; 1 reference changed.", "1 value could not be applied",
                   f"{BLOCK}!{letter(w)}{case.row[h2]}: the column's header cell is empty (export titled it WIDTH)")
    # The other rows' WIDTH cells say what export wrote: nothing to name.
    check(count(lines, "header cell is empty") == 1, f"{case.name}: unedited cells named:\n" + "\n".join(lines))


def test_column_titled_like_a_tag(root):
    case = Case(root, "same-title")
    wb, ws = case.open()
    h1, h2 = case.handles[:2]
    n = case.col["NUMBER"]
    ws.cell(case.row[h1], n).value = "NEW-NUMBER"
    ws.cell(case.row[h2], case.col["TYPE"]).value = "TYPE-EDIT"
    # The user keeps the old numbers beside the table, under the same title.
    old = case.last_column + 1
    ws.cell(1, old).value = "NUMBER"
    for h in case.handles:
        ws.cell(case.row[h], old).value = "OLD-" + case.value(h, "@NUMBER")
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h2, "@TYPE"): "TYPE-EDIT"}, lines)
    both = f"B1, {letter(old)}1"
    expect_summary(case, lines, "; 1 reference changed.", f"{BLOCK}!{letter(n)}1: NUMBER titles {both}",
                   f"{BLOCK}!{letter(old)}1: NUMBER titles {both}")
    check(count(lines, "NUMBER titles") == 2, f"{case.name}: a header cell named more than once:\n" + "\n".join(lines))


def test_column_a_deleted(root):
    case = Case(root, "a-deleted")
    wb, ws = case.open()
    h1 = case.handles[0]
    ws.cell(case.row[h1], case.col["NUMBER"]).value = "LOST-HANDLE"
    ws.delete_cols(1)
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {}, lines)
    n = len(case.handles)
    expect_summary(case, lines, "; 0 references changed.", f"{n} rows holding values were not imported.")
    for h in case.handles[:20]:
        expect_summary(case, lines, f"{BLOCK}!A{case.row[h]}: {NO_HANDLE}")


def test_column_before_a(root):
    case = Case(root, "before-a")
    wb, ws = case.open()
    h1, h2 = case.handles[:2]
    ws.cell(case.row[h1], case.col["NUMBER"]).value = "SHIFTED-RIGHT"
    ws.cell(case.row[h2], case.col["Rotation"]).value = "30"
    ws.insert_cols(1)
    ws.cell(1, 1).value = "Checked"
    ws.cell(1, 1).font = Font(bold=True)
    for h in case.handles:
        ws.cell(case.row[h], 1).value = "yes"
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@NUMBER"): "SHIFTED-RIGHT", (h2, "rotation"): 30.0}, lines)
    expect_summary(case, lines, "; 2 references changed.")
    expect_not_said(case, lines, NOT_APPLIED, NOT_IMPORTED, "under no header")


def test_header_sorted_into_the_middle(root):
    case = Case(root, "sorted")
    wb, ws = case.open()
    # The whole used range, header included, sorted by HARDWARE as a spreadsheet
    # program sorts (case-insensitive; value, comment and format move together).
    key = case.col["HARDWARE"]
    cells = [[(c.value, c.data_type, c.comment, copy.copy(c.font)) for c in row]
             for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column)]
    order = sorted(range(len(cells)), key=lambda i: str(cells[i][key - 1][0]).casefold())
    for r, i in enumerate(order, start=1):
        for c, (value, data_type, comment, font) in enumerate(cells[i], start=1):
            cell = ws.cell(r, c)
            cell.value = value
            cell.data_type = data_type  # "=SUM(A1)" and "#N/A" stay texts
            cell.comment = None if comment is None else comment.__copy__()
            cell.font = font
    header = order.index(0) + 1
    if not 2 < header < len(order):
        sys.exit(f"{case.name}: the sort put the header row at {header}, not in the middle")
    row = {h: order.index(r - 1) + 1 for h, r in case.row.items()}
    above = sorted((h for h in case.handles if row[h] < header), key=row.get)
    below = [h for h in case.handles if row[h] > header]
    ws.cell(row[above[-1]], case.col["NUMBER"]).value = "ABOVE-HEADER"
    ws.cell(row[below[0]], case.col["NUMBER"]).value = "BELOW-HEADER"
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(below[0], "@NUMBER"): "BELOW-HEADER"}, lines)
    expect_summary(case, lines, "; 1 reference changed.", "1 row holding values was not imported.",
                   f"{BLOCK}!A1: the row is above row 2, where import starts reading")
    no_header = [h for h in above if row[h] >= 2]
    if no_header:
        many = "1 row stands" if len(no_header) == 1 else f"{len(no_header)} rows stand"
        expect_summary(case, lines, f"{many} under no header row")
    for h in no_header:
        expect_summary(case, lines, f"{BLOCK}!A{row[h]}: no header row stands above this row")


def test_typed_date_time_boolean(root):
    case = Case(root, "typed")
    wb, ws = case.open()
    h1, h2, h3 = case.handles[:3]
    ws.cell(case.row[h1], case.col["NUMBER"]).value = datetime.date(2024, 6, 1)
    ws.cell(case.row[h2], case.col["TYPE"]).value = datetime.time(12, 30)
    ws.cell(case.row[h3], case.col["FIRE_RATING"]).value = True
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@NUMBER"): "2024-06-01", (h2, "@TYPE"): "12:30:00", (h3, "@FIRE_RATING"): "TRUE"},
                   lines)
    expect_summary(case, lines, "; 3 references changed.")
    expect_not_said(case, lines, NOT_APPLIED)


def test_merged_data_cells(root):
    case = Case(root, "merged-data")
    wb, ws = case.open()
    h1, h2, h3 = case.handles[:3]
    t, w, f = case.col["TYPE"], case.col["WIDTH"], case.col["FIRE_RATING"]
    ws.cell(case.row[h1], t).value = "MERGED-TYPE"
    # Across two columns of one row, and down two rows of one column: the covered
    # cells lose their values, as in a spreadsheet program.
    ws.merge_cells(start_row=case.row[h1], start_column=t, end_row=case.row[h1], end_column=w)
    ws.merge_cells(start_row=case.row[h2], start_column=f, end_row=case.row[h3], end_column=f)
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h1, "@TYPE"): "MERGED-TYPE"}, lines)
    across = f"{letter(t)}{case.row[h1]}:{letter(w)}{case.row[h1]}"
    down = f"{letter(f)}{case.row[h2]}:{letter(f)}{case.row[h3]}"
    expect_summary(case, lines, "; 1 reference changed.", "2 values could not be applied",
                   f"{BLOCK}!{letter(w)}{case.row[h1]}: the cell is covered by the merged cells {across}",
                   f"{BLOCK}!{letter(f)}{case.row[h3]}: the cell is covered by the merged cells {down}")


def test_cleared_row(root):
    case = Case(root, "cleared")
    wb, ws = case.open()
    h1, h2 = case.handles[:2]
    for c in range(1, case.last_column + 1):
        ws.cell(case.row[h1], c).value = None
    ws.cell(case.row[h2], case.col["NUMBER"]).value = "NEXT-ROW"
    wb.save(case.book)
    check(ws.cell(case.row[h1], 1).comment is not None, "clearing the row dropped its handle")
    lines = case.import_()
    expect_changes(case, {(h2, "@NUMBER"): "NEXT-ROW"}, lines)
    expect_summary(case, lines, "; 1 reference changed.",
                   f"{BLOCK}!A{case.row[h1]}: every cell of the row was cleared")
    expect_not_said(case, lines, NOT_APPLIED)


def test_layout_and_block_name_columns(root):
    case = Case(root, "layout-block", layouts=True)
    wb, ws = case.open()
    h1, h2, h3, h4, h5, h6 = case.handles[:6]
    lay, name = case.col["Layout"], case.col["Block name"]
    others = [n for n in ezdxf.readfile(case.drawing).layout_names() if n != case.value(h1, "layout")]
    ws.cell(case.row[h1], lay).value = others[0]
    ws.cell(case.row[h2], lay).value = others[-1]
    # Names of no block: edits of the block-name cell, which the rest of the row survives.
    ws.cell(case.row[h3], name).value = "DOOR_TAG_NEW"
    ws.cell(case.row[h3], case.col["NUMBER"]).value = "SAME-ROW-AS-BLOCK-EDIT"
    ws.cell(case.row[h4], name).value = "DOOR TAG"
    # Another block of the drawing: a row pasted from that block's sheet, refused whole.
    ws.cell(case.row[h5], name).value = "WINDOW"
    ws.cell(case.row[h5], case.col["NUMBER"]).value = "ROW-OF-ANOTHER-BLOCK"
    ws.cell(case.row[h6], case.col["TYPE"]).value = "UNRELATED"
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {(h3, "@NUMBER"): "SAME-ROW-AS-BLOCK-EDIT", (h6, "@TYPE"): "UNRELATED"}, lines)
    expect_summary(case, lines, "; 2 references changed.",
                   f"{BLOCK}!{letter(lay)}1: 2 edits in this column are not applied: a reference moves to another layout",
                   f"{BLOCK}!{letter(name)}1: 2 edits in this column are not applied: a reference's block cannot",
                   f"{BLOCK}!{letter(name)}{case.row[h5]}: the row is of block WINDOW")
    check(count(lines, "in this column") == 2, f"{case.name}: a column's edits said more than once:\n"
          + "\n".join(lines))


def test_long_list_goes_to_a_file(root):
    case = Case(root, "long-list", n=120)
    if len(case.handles) <= 20:
        sys.exit(f"{case.name}: only {len(case.handles)} rows, too few to name more than 20 cells")
    wb, ws = case.open()
    w = case.col["WIDTH"]
    ws.cell(1, w).value = None  # the title cleared; every row's width edited under it
    for i, h in enumerate(case.handles):
        ws.cell(case.row[h], w).value = f"W-{i}"
    wb.save(case.book)
    lines = case.import_()
    expect_changes(case, {}, lines)
    n = len(case.handles)
    path = os.path.splitext(case.book)[0] + ".import-report.txt"
    named = [line for line in lines if line.startswith(f"  {BLOCK}!")]
    check(len(named) == 20, f"{case.name}: {len(named)} cells printed, not 20:\n" + "\n".join(lines))
    expect_summary(case, lines, f"{n} values could not be applied", f"... and {n - 20} more.",
                   f"The whole list ({n} cells) is in ")
    check(has(lines, os.path.basename(path)), f"{case.name}: the summary does not name {path}:\n" + "\n".join(lines))
    if not os.path.exists(path):
        failures.append(f"{case.name}: no list beside the workbook at {path}")
        return
    listed = open(path, encoding="utf-8").read()
    for h in case.handles:
        where = f"{BLOCK}!{letter(w)}{case.row[h]}: the column's header cell is empty (export titled it WIDTH)"
        check(where in listed, f"{case.name}: the list lacks {where}")


TESTS = (test_openpyxl_moves_comments, test_title_and_subtotal, test_spacer_and_notes_columns, test_merged_header,
         test_column_titled_like_a_tag, test_column_a_deleted, test_column_before_a,
         test_header_sorted_into_the_middle, test_typed_date_time_boolean, test_merged_data_cells, test_cleared_row,
         test_layout_and_block_name_columns, test_long_list_goes_to_a_file)


def case(test):
    """One test in a folder of its own; its import summaries are printed with its
    failures, since what the import said is part of the result."""
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"no cadhost at {CADHOST}")
        failed, said = len(failures), len(summaries)
        root = tempfile.mkdtemp(prefix="tabro-user-sees-")
        try:
            test(root)
        finally:
            shutil.rmtree(root, ignore_errors=True)
        for name, lines in summaries[said:]:
            print(f"--- {name}:")
            for line in lines:
                print("   ", line)
        for f in failures[failed:]:
            print("FAIL:", f)
        print(f"{test.__name__}: {'ok' if len(failures) == failed else 'FAILED'}")
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    sys.exit(cases.run({t.__name__[len("test_"):].replace("_", "-"): case(t) for t in TESTS}))
