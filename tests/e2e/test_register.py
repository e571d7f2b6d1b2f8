#!/usr/bin/python3
"""End to end: a register, one workbook for a folder of drawings, through tablora.
ezdxf judges what each drawing holds, openpyxl what the workbook shows.

  * register: generated drawings (one in a subfolder; they share their handles) and,
    where the shared corpus is there, real ones exported into one workbook: every row
    names its drawing by its path relative to the workbook, stands under the titles
    of its reference's attributes and is that reference's; openpyxl then edits rows
    of two drawings, one of them at a handle another drawing has too; the import
    changes each drawing exactly where its rows were edited, keeps a .bak of each
    changed drawing and leaves the others byte for byte, without a .bak;
  * failures: a drawing missing, one read-only and one damaged are each named while
    the others are exported and imported, and the run exits 1;
  * preview and output folder: --preview writes nothing (drawings and workbook byte
    for byte); -o FOLDER leaves the originals and writes the changed drawings there;
  * settings: --settings FILE.ini decides the columns, whatever the registry says; a
    file that is not there or holds no number is a usage error.
"""
import os
import shutil
import stat
import sys

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import shared_data  # noqa: E402

from test_tablora_cli import TABLORA, tablora  # noqa: E402

CORPUS = ["dxfparser_api-cw750-details.dxf", "ezdxf_align_attributes.dxf"]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def make_set(work, count=3, refs=40):
    """Generated drawings set/d1.dxf ... (the last in set/sub/), their paths as the
    register names them."""
    names = []
    for i in range(1, count + 1):
        name = "set/sub/d%d.dxf" % i if i == count else "set/d%d.dxf" % i
        os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
        shared_data.make_drawing(refs, os.path.join(work, name), "--seed", str(i))
        names.append(name)
    return names


def references(path):
    """{handle: {tag: text}} of every block reference with attributes in the
    drawing's layouts."""
    doc = ezdxf.readfile(path)
    out = {}
    for layout in doc.layouts:
        for insert in layout.query("INSERT"):
            if insert.attribs:
                out[insert.dxf.handle.upper()] = {a.dxf.tag: a.dxf.text for a in insert.attribs}
    return out


def register_rows(book):
    """(sheet, row, drawing, handle, {title: value}) of every row with a handle."""
    rows = []
    for sheet in load_workbook(book).worksheets:
        if sheet.sheet_state != "visible":
            continue
        header = None
        for r, cells in enumerate(sheet.iter_rows(), start=1):
            comment = cells[0].comment.text.strip() if cells and cells[0].comment else ""
            if cells and cells[0].value == "Block name":
                header = [c.value for c in cells]
                continue
            if not comment or header is None:
                continue
            values = {t: c.value for t, c in zip(header, cells) if t}
            rows.append((sheet.title, r, values.get("Drawing"), comment.upper(), values))
    return rows


def attribute_column(wb):
    """The first sheet with an attribute column (a title without a marker comment),
    and that column."""
    for sheet in wb.worksheets:
        if sheet.sheet_state != "visible" or sheet.max_row < 2:
            continue
        for c in sheet[1][2:]:
            if c.value and not c.comment:
                return sheet, c.column
    raise AssertionError("no attribute column in the register")


def snapshot(work, names):
    return {n: open(os.path.join(work, n), "rb").read() for n in names}


def bak(name):
    return os.path.splitext(name)[0] + ".bak"


def register():
    def body(work):
        names = make_set(work)
        if shared_data.has_shared("corpus/dxf"):
            for name in CORPUS:
                shutil.copy(os.path.join(shared_data.shared_path("corpus/dxf"), name), os.path.join(work, "set", name))
                names.append("set/" + name)
        else:
            print(shared_data.missing("corpus/dxf"))
        before = {n: references(os.path.join(work, n)) for n in names}
        files = snapshot(work, names)
        proc = tablora(work, "export", *names)
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        check(f"{len(names)} drawings: {len(names)} exported, 0 failed" in proc.stdout, f"summary: {proc.stdout!r}")
        book = os.path.join(work, "register.xlsx")
        rows = register_rows(book)
        seen = set()
        for sheet, r, drawing, handle, values in rows:
            check(drawing in before, f"{sheet}!{r} names {drawing!r}")
            if drawing not in before:
                continue
            check((drawing, handle) not in seen, f"{drawing} {handle} has two rows")
            seen.add((drawing, handle))
            attributes = before[drawing].get(handle)
            if attributes is None:
                continue  # a reference without attributes: a row all the same
            for tag, text in attributes.items():
                if tag in values:
                    shown = "" if values[tag] is None else str(values[tag])
                    check(shown == text, f"{sheet}!{r} ({drawing} {handle}) {tag}: {shown!r}, drawing {text!r}")
        for name, refs in before.items():
            missing = [h for h in refs if (name, h) not in seen]
            check(not missing, f"{name}: references without a row: {missing[:5]}")

        # Edits: a row of d1 at a handle d2 has too, a row of the subfolder's drawing.
        shared = next((h for h in before["set/d1.dxf"] if h in before["set/d2.dxf"]), None)
        check(shared is not None, "the generated drawings share no handle")
        wb = load_workbook(book)
        wanted = {("set/d1.dxf", shared), (names[2], sorted(before[names[2]])[0])}
        edits = {}
        for sheet in wb.worksheets:
            if sheet.sheet_state != "visible" or sheet.max_row < 2:
                continue
            header = [c.value for c in sheet[1]]
            if "Drawing" not in header:
                continue
            for r in range(2, sheet.max_row + 1):
                cell = sheet.cell(r, 1)
                key = (sheet.cell(r, header.index("Drawing") + 1).value, cell.comment.text.strip().upper()
                       if cell.comment else "")
                if key not in wanted:
                    continue
                tag = next(t for t in before[key[0]][key[1]] if t in header)
                sheet.cell(r, header.index(tag) + 1).value = "EDITED " + key[0]
                edits[key] = tag
        wb.save(book)
        check(len(edits) == 2, f"edited rows: {edits}")
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 0, f"import: exit {proc.returncode}: {proc.stderr}")
        for name in names:
            now = references(os.path.join(work, name))
            expected = {h: dict(a) for h, a in before[name].items()}
            for (drawing, handle), tag in edits.items():
                if drawing == name:
                    expected[handle][tag] = "EDITED " + drawing
            check(now == expected, f"{name}: attributes differ from the edits: " + str(
                [(h, a, now.get(h)) for h, a in expected.items() if now.get(h) != a][:3]))
            changed = any(d == name for d, _ in edits)
            check(os.path.exists(os.path.join(work, bak(name))) == changed,
                  f"{name}: .bak {'missing' if changed else 'made for an unchanged drawing'}")
            if not changed:
                check(open(os.path.join(work, name), "rb").read() == files[name], f"{name} was rewritten")
    return cases.in_work_folder("register-", failures, "register", body)


def failed_drawings():
    def body(work):
        names = make_set(work, count=3, refs=20)
        with open(os.path.join(work, "set/damaged.dxf"), "w") as f:
            f.write("  0\nSECTION\n  2\nENTITIES\n  0\nINSERT\n  5\n")  # cut inside an entity
        proc = tablora(work, "export", names[0], "set/missing.dxf", "set/damaged.dxf", names[1], names[2])
        check(proc.returncode == 1, f"export: exit {proc.returncode}, wanted 1")
        for bad in ("missing.dxf", "damaged.dxf"):
            check(bad in proc.stderr, f"export: {bad} not named on stderr: {proc.stderr!r}")
        check("5 drawings: 3 exported, 2 failed" in proc.stdout, f"export summary: {proc.stdout!r}")
        drawings = {d for _, _, d, _, _ in register_rows(os.path.join(work, "register.xlsx"))}
        check(drawings == set(names), f"rows name {sorted(drawings)}")

        # Every drawing's first row edited; d2 read-only, d3 gone.
        book = os.path.join(work, "register.xlsx")
        wb = load_workbook(book)
        sheet, column = attribute_column(wb)
        header = [c.value for c in sheet[1]]
        done = set()
        for r in range(2, sheet.max_row + 1):
            drawing = sheet.cell(r, header.index("Drawing") + 1).value
            if drawing not in done:
                sheet.cell(r, column).value = "EDITED"
                done.add(drawing)
        wb.save(book)
        before_book = open(book, "rb").read()
        os.chmod(os.path.join(work, names[1]), stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        os.remove(os.path.join(work, names[2]))
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 1, f"import: exit {proc.returncode}, wanted 1")
        check(os.path.basename(names[1]) in proc.stderr and os.path.basename(names[2]) in proc.stderr,
              f"import: the read-only and the missing drawing not named: {proc.stderr!r}")
        check("EDITED" in [t for a in references(os.path.join(work, names[0])).values() for t in a.values()],
              f"{names[0]} did not get its edit")
        check(os.path.exists(os.path.join(work, bak(names[0]))), f"{names[0]} has no .bak")
        check(not os.path.exists(os.path.join(work, bak(names[1]))), f"{names[1]}, read-only, was replaced")
        # The workbook's record must keep saying what the unsaved drawing holds.
        check(open(book, "rb").read() == before_book, "the workbook was saved although a drawing was not")
    return cases.in_work_folder("register-failed-", failures, "failed-drawings", body)


def preview_and_folder():
    def body(work):
        names = make_set(work, count=2, refs=20)
        proc = tablora(work, "export", *names)
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        book = os.path.join(work, "register.xlsx")
        wb = load_workbook(book)
        sheet, column = attribute_column(wb)
        header = [c.value for c in sheet[1]]
        sheet.cell(2, column).value = "PREVIEWED"
        edited = sheet.cell(2, header.index("Drawing") + 1).value
        wb.save(book)
        files = snapshot(work, names + ["register.xlsx"])
        proc = tablora(work, "import", "register.xlsx", "--preview")
        check(proc.returncode == 0, f"preview: exit {proc.returncode}: {proc.stderr}")
        check("PREVIEWED" in proc.stdout, f"preview does not list the change: {proc.stdout!r}")
        check(snapshot(work, names + ["register.xlsx"]) == files, "--preview wrote something")
        check(not any(os.path.exists(os.path.join(work, bak(n))) for n in names), "--preview made a .bak")

        os.mkdir(os.path.join(work, "out"))
        proc = tablora(work, "import", "register.xlsx", "-o", "out")
        check(proc.returncode == 0, f"import -o: exit {proc.returncode}: {proc.stderr}")
        check(snapshot(work, names) == {n: files[n] for n in names}, "-o FOLDER changed an original")
        written = os.path.join(work, "out", os.path.basename(edited))
        check(os.path.exists(written), f"{written} not written")
        if os.path.exists(written):
            texts = [t for a in references(written).values() for t in a.values()]
            check("PREVIEWED" in texts, f"{written} lacks the edit")
        others = [n for n in names if n != edited]
        check(not any(os.path.exists(os.path.join(work, "out", os.path.basename(n))) for n in others),
              "an unchanged drawing was written into the folder")
        proc = tablora(work, "import", "register.xlsx", "-o", "no-such-folder")
        check(proc.returncode == 2, f"-o into a missing folder: exit {proc.returncode}, wanted 2")
    return cases.in_work_folder("register-preview-", failures, "preview-and-folder", body)


def settings_file():
    def body(work):
        names = make_set(work, count=2, refs=10)
        ini = os.path.join(work, "register.ini")
        with open(ini, "w") as f:
            f.write("[Export]\nLayerNames=0\nCoords=0\n[Import]\nIgnoreProps=1\n")
        for run in (1, 2):
            proc = tablora(work, "export", *names, "--settings", "register.ini", "--force")
            check(proc.returncode == 0, f"export {run}: exit {proc.returncode}: {proc.stderr}")
            titles = {t for _, _, _, _, values in register_rows(os.path.join(work, "register.xlsx")) for t in values}
            check("Drawing" in titles and not titles & {"Layer", "X", "Y", "Z"},
                  f"export {run} with LayerNames=0, Coords=0: columns {sorted(titles)}")
        for text in ("[Export]\nXCoord=yes\n", None):
            if text is None:
                os.remove(ini)
            else:
                with open(ini, "w") as f:
                    f.write(text)
            proc = tablora(work, "export", *names, "--settings", "register.ini", "--force")
            check(proc.returncode == 2 and "register.ini" in proc.stderr,
                  f"settings {text!r}: exit {proc.returncode}, {proc.stderr!r}")
    return cases.in_work_folder("register-settings-", failures, "settings-file", body)


def main():
    if not os.path.exists(TABLORA):
        print(f"skipped: no {TABLORA} (build the tablora target)")
        return cases.SKIPPED
    return cases.run({
        "register": register,
        "failed-drawings": failed_drawings,
        "preview-and-folder": preview_and_folder,
        "settings-file": settings_file,
    })


if __name__ == "__main__":
    sys.exit(main())
