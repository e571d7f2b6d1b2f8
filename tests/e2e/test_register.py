#!/usr/bin/python3
"""End to end: a register, one workbook for a folder of drawings, through tablora.
ezdxf judges what each drawing holds, openpyxl what the workbook shows.

  * register: generated drawings (sharing their handles; one in a folder named with
    blanks and a letter outside ASCII, given by its absolute path), one whose WINDOW
    has other attributes and, where the shared corpus is there, real ones read where
    they lie, exported into one workbook: one sheet a block, its header written
    again only where the columns change; every row names its drawing by its path
    relative to the workbook (".." included), in the marked column after the block
    name, stands under the titles of its reference's attributes and is that
    reference's; a hidden record sheet a drawing. openpyxl then edits rows of
    several drawings, one at a handle another drawing has too, one under the other
    WINDOW header; an import given one drawing changes that one only, an import
    given all changes the others and leaves the first, already done, alone; each
    drawing ends exactly as its rows were edited, a changed one with its original
    as .bak, the others neither rewritten nor given a .bak;
  * failures: a drawing missing and one damaged are named while the others are
    exported; the register moved alone names every drawing and writes nothing;
    then one read-only, one gone and one damaged since the export are each
    named while the last is imported, and the run exits 1; a read-only register is
    named and left while the drawings are changed, and once writable it finds
    nothing more to apply;
  * preview and output folder: a register written into a folder of its own names
    the drawings from there; --preview lists the change and writes nothing
    (drawings and workbook byte for byte); -o FOLDER leaves the originals and
    writes the changed drawings there; two changed drawings of one name in two
    folders do not end as one file there;
  * what is exported: --blocks takes the chosen blocks of every drawing, one that has
    none of them included; --settings FILE.ini decides the columns, whatever the
    registry says, run after run; a file that is not there or holds no number is a
    usage error; the export refuses to replace the register without --force; one
    drawing alone gets no Drawing column;
  * import settings: a settings file absent or holding no number is a usage error
    that writes nothing; with [Import] IgnoreProps=1 from the file an edited X is left
    while an attribute is applied; the registry's IgnoreProps=0 then moves it;
  * slow-register: the register case's checks over 30 drawings in three folders,
    rows of every third drawing edited (TABLORA_SLOW_TESTS).
"""
import os
import re
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
SETTINGS_REG = os.path.join(shared_data.ROOT, "bench", "settings.reg")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def make_set(work, count=3, refs=40, per_folder=None):
    """Generated drawings set/d1.dxf ... (the last in a folder whose name has blanks
    and a letter outside ASCII, or with per_folder
    that many a folder), their paths as the register names them."""
    names = []
    for i in range(1, count + 1):
        if per_folder:
            name = "set/f%d/d%d.dxf" % ((i - 1) // per_folder, i)
        else:
            name = "set/Stavba č. 2/d%d.dxf" % i if i == count else "set/d%d.dxf" % i
        os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
        shared_data.make_drawing(refs, os.path.join(work, name), "--seed", str(i))
        names.append(name)
    return names


def make_other_drawing(path, block, tags, count):
    """A drawing of count references of block, whose attribute definitions are tags
    (in that order), each reference's texts its own."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    doc = ezdxf.new("R2000")
    definition = doc.blocks.new(block)
    for i, tag in enumerate(tags):
        definition.add_attdef(tag, (0, -3 * i), dxfattribs={"height": 2.5})
    for n in range(count):
        doc.modelspace().add_blockref(block, (10 * n, 0)).add_auto_attribs(
            {tag: "%s-%d" % (tag.lower(), n) for tag in tags})
    doc.saveas(path)


def corpus_drawings(work):
    """The real drawings, read where they lie (never copied), by the path a register
    in work names them with; none, said in one line, where the corpus is absent."""
    if not shared_data.has_shared("corpus/dxf"):
        print(shared_data.missing("corpus/dxf"))
        return []
    folder = shared_data.shared_path("corpus/dxf")
    return [os.path.relpath(os.path.join(folder, n), work).replace(os.sep, "/") for n in CORPUS
            if os.path.exists(os.path.join(folder, n))]


def references(path):
    """{handle: {tag: text}} of every block reference with attributes, in the
    drawing's layouts and in its blocks' definitions."""
    return {h: a for h, (_, a) in blocks_and_attributes(path).items()}


def blocks_and_attributes(path):
    """{handle: (block name, {tag: text})} of every block reference with attributes,
    in the drawing's layouts and in its blocks' definitions."""
    doc = ezdxf.readfile(path)
    out = {}
    for block in doc.blocks:  # the layouts' own blocks included
        for insert in block.query("INSERT"):
            if insert.attribs:
                out[insert.dxf.handle.upper()] = (insert.dxf.name, {a.dxf.tag: a.dxf.text for a in insert.attribs})
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


def check_layout(book, drawings, header_counts):
    """One sheet a block; each header row has the block name, then the marked Drawing
    column, and is written again only where the columns change ({block: header rows}
    in header_counts); a hidden record sheet for each drawing."""
    wb = load_workbook(book)
    sheets_of = {}
    hidden = [s.title for s in wb.worksheets if s.sheet_state != "visible"]
    check(len(hidden) == drawings, f"{len(hidden)} hidden record sheets for {drawings} drawings: {hidden}")
    for sheet in wb.worksheets:
        if sheet.sheet_state != "visible":
            continue
        headers, blocks = [], set()
        for cells in sheet.iter_rows():
            if cells[0].value == "Block name":
                headers.append(tuple(c.value for c in cells if c.value is not None))
                check(len(cells) > 1 and cells[1].value == "Drawing" and cells[1].comment is not None,
                      f"{sheet.title}: header {headers[-1][:3]} lacks the marked Drawing column after the block name")
            elif cells[0].comment:
                blocks.add(cells[0].value)
        if not check(sheet.max_row < 2 or (sheet.cell(1, 1).value == "Block name"),
                     f"{sheet.title}: row 1 is no header"):
            continue
        check(all(a != b for a, b in zip(headers, headers[1:])), f"{sheet.title}: a header row repeats its columns")
        check(len(blocks) <= 1, f"{sheet.title}: rows of several blocks {sorted(map(str, blocks))}")
        for block in blocks:
            sheets_of.setdefault(block, []).append(sheet.title)
            if block in header_counts:
                check(len(headers) == header_counts[block],
                      f"{sheet.title}: {len(headers)} header rows, wanted {header_counts[block]}")
    for block, titles in sheets_of.items():
        check(len(titles) == 1, f"block {block} on sheets {titles}")
    return sheets_of


def check_rows(book, before):
    """Every reference of every drawing has exactly one row, naming its drawing, its
    block, and its attributes' texts under their titles."""
    seen = set()
    for sheet, r, drawing, handle, values in register_rows(book):
        if not check(drawing in before, f"{sheet}!{r} names {drawing!r}, not one of {sorted(before)}"):
            continue
        check((drawing, handle) not in seen, f"{drawing} {handle} has two rows")
        seen.add((drawing, handle))
        if handle not in before[drawing]:
            continue  # a reference without attributes: a row all the same
        block, attributes = before[drawing][handle]
        if not block.startswith("*"):  # a dynamic block's references name it, not their anonymous block
            check(values.get("Block name") == block, f"{sheet}!{r} ({drawing} {handle}): block "
                  f"{values.get('Block name')!r}, drawing {block!r}")
        for tag, text in attributes.items():
            if tag in values:
                shown = "" if values[tag] is None else str(values[tag])
                check(shown == text, f"{sheet}!{r} ({drawing} {handle}) {tag}: {shown!r}, drawing {text!r}")
    for name, refs in before.items():
        missing = [h for h in refs if (name, h) not in seen]
        check(not missing, f"{name}: references without a row: {missing[:5]}")


def edit_text(drawing, handle):
    """What an edit writes: the row's drawing and handle, in characters every code
    page of a drawing holds as they are."""
    return "EDITED %s %s" % (re.sub(r"[^ -~]", "_", drawing), handle)


def edit_rows(book, before, wanted):
    """Writes edit_text(drawing, handle) into the first attribute cell of each
    (drawing, handle) row in wanted; returns {(drawing, handle): tag}."""
    wb = load_workbook(book)
    edits = {}
    for sheet in wb.worksheets:
        if sheet.sheet_state != "visible":
            continue
        header = None
        for r in range(1, sheet.max_row + 1):
            cell = sheet.cell(r, 1)
            if cell.value == "Block name":
                header = [c.value for c in sheet[r]]
                continue
            if header is None or not cell.comment or "Drawing" not in header:
                continue
            key = (sheet.cell(r, header.index("Drawing") + 1).value, cell.comment.text.strip().upper())
            if key not in wanted:
                continue
            tag = next(t for t in before[key[0]][key[1]][1] if t in header)
            sheet.cell(r, header.index(tag) + 1).value = edit_text(*key)
            edits[key] = tag
    wb.save(book)
    check(set(edits) == set(wanted), f"rows edited {sorted(edits)}, wanted {sorted(wanted)}")
    return edits


def stamp(path):
    """The file's bytes and what a rewrite, even of the same bytes, changes."""
    st = os.stat(path)
    return open(path, "rb").read(), st.st_ino, st.st_mtime_ns


def snapshot(work, names):
    return {n: open(os.path.join(work, n), "rb").read() for n in names}


def bak(name):
    return os.path.splitext(name)[0] + ".bak"


def check_drawings(work, before, stamps, edits, applied):
    """Each drawing holds its attributes as before, but for the edits of the drawings
    in applied; an applied drawing that changed has its original as .bak, any other
    is the same file as before, without a .bak."""
    for name in before:
        path = os.path.join(work, name)
        now = references(path)
        expected = {h: dict(a) for h, (_, a) in before[name].items()}
        for (drawing, handle), tag in edits.items():
            if drawing == name and drawing in applied:
                expected[handle][tag] = edit_text(drawing, handle)
        check(now == expected, f"{name}: attributes differ from the edits: " + str(
            [(h, a, now.get(h)) for h, a in expected.items() if now.get(h) != a][:3]))
        changed = name in applied and any(d == name for d, _ in edits)
        backup = os.path.join(work, bak(name))
        if changed:
            check(os.path.exists(backup) and open(backup, "rb").read() == stamps[name][0],
                  f"{name}: .bak missing or not the original")
        else:
            check(not os.path.exists(backup), f"{name}: a .bak made for an unchanged drawing")
            check(stamp(path) == stamps[name], f"{name}, unchanged, was rewritten")


def register_round_trip(work, names, uniform, edited, shared_pairs, header_counts, explicit):
    """Exports names (relative to work) into register.xlsx and checks its layout and
    rows; edits two rows of each drawing in edited and, for each of shared_pairs, the
    first drawing's row at a handle the second has too; imports into the first
    edited drawing alone, then into all (given them when explicit, which the drawings
    outside work never are) and checks every drawing each time. uniform are the
    generated drawings, which share their definitions: one header a block for them,
    but for the blocks in header_counts."""
    local = [n for n in names if not n.startswith("..")]
    before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names}
    stamps = {n: stamp(os.path.join(work, n)) for n in names}
    # One drawing given by its absolute path: the row still names it relative to the workbook.
    args = [os.path.join(work, n) if n == uniform[-1] else n for n in names]
    proc = tablora(work, "export", *args)
    check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
    check(f"{len(names)} drawings: {len(names)} exported, 0 failed" in proc.stdout, f"summary: {proc.stdout!r}")
    book = os.path.join(work, "register.xlsx")
    others = {b for n in names if n not in uniform for b, _ in before[n].values()}
    counts = {b: 1 for n in uniform for b, _ in before[n].values() if b not in others}
    check_layout(book, len(names), dict(counts, **header_counts))
    check_rows(book, before)
    check(all(stamp(os.path.join(work, n)) == stamps[n] for n in names), "the export rewrote a drawing")

    wanted = set()
    for first, second in shared_pairs:
        shared = sorted(h for h in before[first] if h in before[second])
        if check(shared, f"{first} and {second} share no handle"):
            wanted.add((first, shared[0]))
    for name in edited:
        handles = sorted(before[name])
        wanted |= {(name, handles[0]), (name, handles[len(handles) // 2])}
    edits = edit_rows(book, before, wanted)
    changed = sorted({d for d, _ in edits})

    # Given one drawing, the import leaves the others' rows where they are.
    proc = tablora(work, "import", "register.xlsx", changed[0])
    check(proc.returncode == 0, f"import {changed[0]}: exit {proc.returncode}: {proc.stderr}")
    check_drawings(work, before, stamps, edits, {changed[0]})
    first = stamp(os.path.join(work, changed[0]))
    proc = tablora(work, "import", "register.xlsx", *(local if explicit else []))
    check(proc.returncode == 0, f"import: exit {proc.returncode}: {proc.stderr}")
    check(f" {len(changed) - 1} changed" in proc.stdout,
          f"import of {len(changed) - 1} changed drawings: {proc.stdout!r}")
    check_drawings(work, before, stamps, edits, set(changed))
    check(stamp(os.path.join(work, changed[0])) == first, f"{changed[0]}, imported already, was rewritten")


def register():
    def body(work):
        uniform = make_set(work)
        # WINDOW with other attributes, in their own order: its rows get a header of
        # their own between d1's and d2's, and an edit under it lands in its column.
        other = "set/other/windows.dxf"
        make_other_drawing(os.path.join(work, other), "WINDOW", ["GLAZING", "MARK"], 3)
        # The real drawings stay where they lie; the import is given the others only,
        # so that nothing could ever write beside them.
        names = uniform[:1] + [other] + uniform[1:] + corpus_drawings(work)
        register_round_trip(work, names, uniform, edited=[other, uniform[-1]], shared_pairs=[tuple(uniform[:2])],
                            header_counts={"WINDOW": 3}, explicit=True)
    return cases.in_work_folder("register-", failures, "register", body)


def slow_register():
    def body(work):
        names = make_set(work, count=30, refs=400, per_folder=10)
        register_round_trip(work, names, names, edited=names[2::3], shared_pairs=[(names[0], names[1])],
                            header_counts={}, explicit=False)
    return cases.in_work_folder("register-slow-", failures, "slow-register", body)


def failed_drawings():
    def body(work):
        names = make_set(work, count=4, refs=20)
        good, read_only, gone, damaged = names[3], names[0], names[1], names[2]
        with open(os.path.join(work, "set/damaged.dxf"), "w") as f:
            f.write("  0\nSECTION\n  2\nENTITIES\n  0\nINSERT\n  5\n")  # cut inside an entity
        proc = tablora(work, "export", read_only, "set/missing.dxf", gone, "set/damaged.dxf", damaged, good)
        check(proc.returncode == 1, f"export: exit {proc.returncode}, wanted 1")
        for bad in ("missing.dxf", "damaged.dxf"):
            check(bad in proc.stderr, f"export: {bad} not named on stderr: {proc.stderr!r}")
        check("6 drawings: 4 exported, 2 failed" in proc.stdout, f"export summary: {proc.stdout!r}")
        drawings = {d for _, _, d, _, _ in register_rows(os.path.join(work, "register.xlsx"))}
        check(drawings == set(names), f"rows name {sorted(drawings)}")

        # Every drawing's first row edited; then one made read-only, one removed and
        # one cut short, the good one last of the run.
        book = os.path.join(work, "register.xlsx")
        before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names}
        edits = edit_rows(book, before, {(n, sorted(before[n])[0]) for n in names})
        before_book = open(book, "rb").read()
        path = {n: os.path.join(work, n) for n in names}
        # The register moved alone: its rows name drawings that are not beside it.
        # Each is named, and nothing is written, the moved register included.
        os.makedirs(os.path.join(work, "moved"))
        moved = os.path.join(work, "moved", "register.xlsx")
        shutil.copy(book, moved)
        stamps = {n: stamp(path[n]) for n in names}
        proc = tablora(work, "import", "moved/register.xlsx")
        check(proc.returncode == 1, f"import of the register moved alone: exit {proc.returncode}, wanted 1")
        for n in names:
            check(os.path.basename(n) in proc.stderr, f"moved register: {n} not named on stderr: {proc.stderr!r}")
        check(open(moved, "rb").read() == before_book, "the moved register was written")
        check(all(stamp(path[n]) == stamps[n] for n in names), "a drawing was written by the moved register")
        os.chmod(path[read_only], stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        os.remove(path[gone])
        text = open(path[damaged], "rb").read()
        with open(path[damaged], "wb") as f:
            f.write(text[:len(text) // 2])
        kept = {n: stamp(path[n]) for n in (read_only, damaged)}
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 1, f"import: exit {proc.returncode}, wanted 1")
        for bad in (read_only, gone, damaged):
            check(os.path.basename(bad) in proc.stderr, f"import: {bad} not named on stderr: {proc.stderr!r}")
        check(os.path.basename(good) not in proc.stderr, f"import: {good} named on stderr: {proc.stderr!r}")
        check("3 failed" in proc.stdout, f"import summary: {proc.stdout!r}")
        handle = sorted(before[good])[0]
        check(references(path[good])[handle].get(edits[(good, handle)]) == edit_text(good, handle),
              f"{good} did not get its edit")
        check(os.path.exists(os.path.join(work, bak(good))), f"{good} has no .bak")
        for bad in (read_only, damaged):
            check(stamp(path[bad]) == kept[bad], f"{bad} was written over")
            check(not os.path.exists(os.path.join(work, bak(bad))), f"{bad} got a .bak")
        # The workbook's record must keep saying what the unsaved drawings hold.
        check(open(book, "rb").read() == before_book, "the workbook was saved although drawings were not")
    return cases.in_work_folder("register-failed-", failures, "failed-drawings", body)


def read_only_register():
    def body(work):
        names = make_set(work, count=2, refs=20)
        proc = tablora(work, "export", *names)
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        book = os.path.join(work, "register.xlsx")
        before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names}
        edited = names[0]
        edits = edit_rows(book, before, {(edited, sorted(before[edited])[0])})
        stamps = {n: stamp(os.path.join(work, n)) for n in names}
        os.chmod(book, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        kept = stamp(book)
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 1 and "register.xlsx" in proc.stderr,
              f"import into drawings from a read-only register: exit {proc.returncode}, {proc.stderr!r}")
        check(stamp(book) == kept, "the read-only register was written over")
        check_drawings(work, before, stamps, edits, {edited})
        # Once writable, the register is imported again: the edit, in the drawing
        # already, is not applied a second time.
        os.chmod(book, stat.S_IRUSR | stat.S_IWUSR | stat.S_IRGRP | stat.S_IROTH)
        done = stamp(os.path.join(work, edited))
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 0 and "0 changed" in proc.stdout,
              f"the import once the register is writable: exit {proc.returncode}, {proc.stdout!r} {proc.stderr!r}")
        check_drawings(work, before, stamps, edits, {edited})
        check(stamp(os.path.join(work, edited)) == done, f"{edited} was saved again")
    return cases.in_work_folder("register-read-only-", failures, "read-only-register", body)


def preview_and_folder():
    def body(work):
        names = make_set(work, count=2, refs=20)
        # The register in a folder of its own: its rows name the drawings from there,
        # and the imports, run from elsewhere, find them so.
        os.mkdir(os.path.join(work, "books"))
        proc = tablora(work, "export", *names, "-o", "books/register.xlsx")
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        book = os.path.join(work, "books", "register.xlsx")
        named = {d for _, _, d, _, _ in register_rows(book)}
        check(named == {"../" + n for n in names}, f"a register in books/ names {sorted(map(str, named))}")
        before = {"../" + n: blocks_and_attributes(os.path.join(work, n)) for n in names}
        edited = names[1]
        edit_rows(book, before, {("../" + edited, sorted(before["../" + edited])[0])})
        files = snapshot(work, names + ["books/register.xlsx"])
        proc = tablora(work, "import", "books/register.xlsx", "--preview")
        check(proc.returncode == 0, f"preview: exit {proc.returncode}: {proc.stderr}")
        check("EDITED" in proc.stdout and os.path.basename(edited) in proc.stdout,
              f"preview does not list the change in {edited}: {proc.stdout!r}")
        check(snapshot(work, names + ["books/register.xlsx"]) == files, "--preview wrote something")
        check(not any(os.path.exists(os.path.join(work, bak(n))) for n in names), "--preview made a .bak")

        os.mkdir(os.path.join(work, "out"))
        proc = tablora(work, "import", "books/register.xlsx", "-o", "out")
        check(proc.returncode == 0, f"import -o: exit {proc.returncode}: {proc.stderr}")
        check(snapshot(work, names) == {n: files[n] for n in names}, "-o FOLDER changed an original")
        check(not any(os.path.exists(os.path.join(work, bak(n))) for n in names), "-o FOLDER made a .bak")
        written = os.path.join(work, "out", os.path.basename(edited))
        if check(os.path.exists(written), f"{written} not written"):
            texts = [t for a in references(written).values() for t in a.values()]
            check(sum(t.startswith("EDITED") for t in texts) == 1, f"{written} lacks the edit")
        check(sorted(os.listdir(os.path.join(work, "out"))) == [os.path.basename(edited)],
              f"the folder holds {sorted(os.listdir(os.path.join(work, 'out')))}")
        proc = tablora(work, "import", "books/register.xlsx", "-o", "no-such-folder")
        check(proc.returncode == 2, f"-o into a missing folder: exit {proc.returncode}, wanted 2")
    return cases.in_work_folder("register-preview-", failures, "preview-and-folder", body)


def folder_same_names():
    """Two changed drawings of one name in two folders, imported into one output
    folder: neither edit may be lost. Written apart, each keeps its edit; refused,
    the drawing that could not be written is named and the run exits 1."""
    def body(work):
        names = ["set/a/plan.dxf", "set/b/plan.dxf"]
        for seed, name in enumerate(names, start=1):
            os.makedirs(os.path.dirname(os.path.join(work, name)))
            shared_data.make_drawing(10, os.path.join(work, name), "--seed", str(seed))
        proc = tablora(work, "export", *names)
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names}
        edits = edit_rows(os.path.join(work, "register.xlsx"), before, {(n, sorted(before[n])[0]) for n in names})
        os.mkdir(os.path.join(work, "out"))
        proc = tablora(work, "import", "register.xlsx", "-o", "out")
        holding = {}  # edit text: the written drawings that hold it
        for folder, _, files in os.walk(os.path.join(work, "out")):
            for f in files:
                if f.endswith(".dxf"):
                    texts = {t for a in references(os.path.join(folder, f)).values() for t in a.values()}
                    for key in edits:
                        if edit_text(*key) in texts:
                            holding.setdefault("%s %s" % key, []).append(os.path.relpath(os.path.join(folder, f), work))
        kept = sorted(holding)
        if proc.returncode == 0:
            check(len(kept) == 2 and all(len(v) == 1 for v in holding.values())
                  and holding[kept[0]] != holding[kept[1]],
                  f"import -o out: exit 0, but the edits of {names} are in {holding}: one drawing written over "
                  f"the other; stdout {proc.stdout!r}")
        else:
            check(proc.returncode == 1 and len(kept) == 1, f"import -o out: exit {proc.returncode}, edits in {holding}")
            lost = [n for n in names if not any(k.startswith(n + " ") for k in kept)]
            check(all(n in proc.stderr for n in lost), f"import -o out: {lost} not named: {proc.stderr!r}")
    return cases.in_work_folder("register-same-names-", failures, "folder-same-names", body)


def what_is_exported():
    def body(work):
        names = make_set(work, count=2, refs=30)
        pumps = "set/pumps.dxf"  # has neither chosen block
        make_other_drawing(os.path.join(work, pumps), "PUMP", ["TAG", "FLOW"], 2)
        before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names + [pumps]}
        # The registry asks for every property column.
        os.makedirs(os.path.join(work, "home"), exist_ok=True)
        shutil.copy(SETTINGS_REG, os.path.join(work, "home", "user.reg"))

        chosen = {"WINDOW", "EQUIPMENT_TAG_[MECH]_LONG_NAME_V2"}
        proc = tablora(work, "export", *names, pumps, "--blocks", ",".join(sorted(chosen)))
        check(proc.returncode == 0, f"export --blocks: exit {proc.returncode}: {proc.stderr}")
        rows = register_rows(os.path.join(work, "register.xlsx"))
        shown = {(d, h) for _, _, d, h, _ in rows}
        wanted = {(n, h) for n in before for h, (b, _) in before[n].items() if b in chosen}
        check(shown == wanted, f"--blocks: {len(shown - wanted)} rows not of the chosen blocks, "
              f"{len(wanted - shown)} references of them without a row")
        titles = {t for _, _, _, _, values in rows for t in values}
        check({"Drawing", "Layer", "X", "Y", "Z"} <= titles, f"the registry's settings: columns {sorted(titles)}")

        kept = stamp(os.path.join(work, "register.xlsx"))
        proc = tablora(work, "export", *names)
        check(proc.returncode == 1 and stamp(os.path.join(work, "register.xlsx")) == kept,
              f"export over register.xlsx without --force: exit {proc.returncode}, or it was replaced")
        proc = tablora(work, "export", names[0])
        alone = os.path.splitext(os.path.join(work, names[0]))[0] + ".xlsx"
        if check(proc.returncode == 0 and os.path.exists(alone), f"export of one drawing: exit {proc.returncode}, "
                 f"{alone} {'made' if os.path.exists(alone) else 'not made'}: {proc.stderr}"):
            titles = {t for _, _, _, _, values in register_rows(alone) for t in values}
            check("Drawing" not in titles and "Block name" in titles, f"one drawing: columns {sorted(titles)}")

        ini = os.path.join(work, "register.ini")
        with open(ini, "w") as f:
            f.write("[Export]\nLayerNames=0\nXCoord=0\nYCoord=0\nZCoord=0\n[Import]\nIgnoreProps=1\n")
        for run in (1, 2):
            proc = tablora(work, "export", *names, "--settings", "register.ini", "--force")
            check(proc.returncode == 0, f"export {run}: exit {proc.returncode}: {proc.stderr}")
            rows = register_rows(os.path.join(work, "register.xlsx"))
            titles = {t for _, _, _, _, values in rows for t in values}
            check("Drawing" in titles and not titles & {"Layer", "X", "Y", "Z"},
                  f"export {run} with LayerNames=0 and no coordinates: columns {sorted(titles)}")
            missing = {(n, h) for n in names for h in before[n]} - {(d, h) for _, _, d, h, _ in rows}
            check(not missing, f"export {run}: references without a row: {sorted(missing)[:5]}")
        for text in ("[Export]\nXCoord=yes\n", None):
            if text is None:
                os.remove(ini)
            else:
                with open(ini, "w") as f:
                    f.write(text)
            proc = tablora(work, "export", *names, "--settings", "register.ini", "--force")
            check(proc.returncode == 2 and "register.ini" in proc.stderr,
                  f"settings {text!r}: exit {proc.returncode}, {proc.stderr!r}")
    return cases.in_work_folder("register-settings-", failures, "what-is-exported", body)


def import_settings():
    def body(work):
        names = make_set(work, count=2, refs=20)
        os.makedirs(os.path.join(work, "home"), exist_ok=True)
        shutil.copy(SETTINGS_REG, os.path.join(work, "home", "user.reg"))  # IgnoreProps=0
        proc = tablora(work, "export", *names)
        check(proc.returncode == 0, f"export: exit {proc.returncode}: {proc.stderr}")
        book = os.path.join(work, "register.xlsx")
        before = {n: blocks_and_attributes(os.path.join(work, n)) for n in names}
        # d1's X moved, d2's attribute edited, in their rows of one sheet.
        moved, edited = names[0], names[1]
        wb = load_workbook(book)
        sheet = wb["WINDOW"]
        header = [c.value for c in sheet[1]]
        targets = {}
        for r in range(2, sheet.max_row + 1):
            drawing = sheet.cell(r, header.index("Drawing") + 1).value
            handle = sheet.cell(r, 1).comment.text.strip().upper() if sheet.cell(r, 1).comment else None
            if drawing in (moved, edited) and drawing not in targets and handle in before[drawing]:
                targets[drawing] = handle
                column, value = ("X", "4321.5") if drawing == moved else ("MARK", "EDITED")
                sheet.cell(r, header.index(column) + 1).value = value
        wb.save(book)
        check(len(targets) == 2, f"rows edited: {targets}")
        ini = os.path.join(work, "attributes-only.ini")
        with open(ini, "w") as f:
            f.write("[Import]\nIgnoreProps=1\n")

        def x_of(name):
            return ezdxf.readfile(os.path.join(work, name)).entitydb[targets[name]].dxf.insert.x

        x = x_of(moved)
        # A settings file that cannot be used is a usage error before anything is
        # read or written: drawings and register stay byte for byte.
        with open(os.path.join(work, "bad.ini"), "w") as f:
            f.write("[Import]\nIgnoreProps=yes\n")
        kept = {n: stamp(os.path.join(work, n)) for n in [*names, "register.xlsx"]}
        for bad in ("bad.ini", "absent.ini"):
            proc = tablora(work, "import", "register.xlsx", "--settings", bad)
            check(proc.returncode == 2 and bad in proc.stderr,
                  f"import --settings {bad}: exit {proc.returncode}, {proc.stderr!r}")
            check(all(stamp(os.path.join(work, n)) == kept[n] for n in kept), f"import --settings {bad} wrote a file")
        proc = tablora(work, "import", "register.xlsx", "--settings", "attributes-only.ini")
        check(proc.returncode == 0, f"import with IgnoreProps=1: exit {proc.returncode}: {proc.stderr}")
        check(x_of(moved) == x, f"IgnoreProps=1 moved {moved}'s reference to X {x_of(moved)}")
        check(references(os.path.join(work, edited))[targets[edited]]["MARK"] == "EDITED",
              f"IgnoreProps=1: {edited} did not get its attribute")
        check(not os.path.exists(os.path.join(work, bak(moved))), f"IgnoreProps=1: {moved} was saved")
        proc = tablora(work, "import", "register.xlsx")
        check(proc.returncode == 0, f"import with the registry's IgnoreProps=0: exit {proc.returncode}: {proc.stderr}")
        check(abs(x_of(moved) - 4321.5) < 1e-9, f"IgnoreProps=0 left {moved}'s reference at X {x_of(moved)}")
    return cases.in_work_folder("register-import-settings-", failures, "import-settings", body)


def needs_tablora(case):
    """The case, skipped with a line where tablora is not built; the cases are listed
    all the same, so that a build tree configured before tablora was built registers
    each of them."""
    def run():
        if not os.path.exists(TABLORA):
            print(f"skipped: no {TABLORA} (build the tablora target)")
            return cases.SKIPPED
        return case()
    return run


def main():
    return cases.run({name: needs_tablora(case) for name, case in {
        "register": register,
        "failed-drawings": failed_drawings,
        "read-only-register": read_only_register,
        "preview-and-folder": preview_and_folder,
        "folder-same-names": folder_same_names,
        "what-is-exported": what_is_exported,
        "import-settings": import_settings,
        "slow-register": slow_register,
    }.items()})


if __name__ == "__main__":
    sys.exit(main())
