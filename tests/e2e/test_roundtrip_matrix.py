#!/usr/bin/python3
"""End to end: every export imports back exactly.

Each drawing of the corpus, and two generated ones, is exported with cadhost
(TABRO Export2, every block, into a new workbook) and imported unedited (TABRO
Import, every sheet, properties on, the export settings of the run in the registry
too) and saved; dxf_same must then find the saved drawing tag for tag the original
(a binary drawing, which dxf_same does not read, must come back byte for byte).
Every run also checks that import read as many rows as export wrote and reported no
value it could not apply. Drawings cadhost refuses to open and drawings without a
block to export are reported as skipped.

Settings. Nine options are turned against a base (a sheet per block, block names
and every property column on, nothing else): the active sheet with a header
(WorksheetSettings 1, AddHeader 1, new workbook), OddLine, ExportAttPrompts, Sort,
IncludeConstant, BlockNames off, every property column off, JTSK, LayoutNames. All
512 combinations on every drawing would take a quarter of an hour, so each drawing
gets a covering set:
  * the base, and each option on by itself: a fault of one option;
  * six rows in which every pair of options meets in all four on/off combinations:
    a fault that needs two options together;
  * everything on, and everything on but one of the three options that reshape the
    sheet most (active sheet, property columns off, block names off).
The generated drawing with many references gets all 512 combinations: it has every
feature the generator makes (constant attributes, prompts, paper space, nested and
out-of-sync references, Z other than 0, negative coordinates).

Each part is a ctest test of its own (--list names them): the unedited base round
trip of every drawing of the corpus, the covering set on the two generated drawings,
the edit cases of each drawing below and the two-block case run by default; the
covering set on each drawing of the corpus and the 512 combinations (in four parts)
are slow tests (TABLORA_SLOW_TESTS), as they take minutes. The parts that need the
shared corpus of drawings are skipped where it is absent.

Edit cases, on a few drawings with attributes (binary ones among them), judged with
ezdxf by handle over every entity of every block and layout, attributes included:
  * the workbook only opened and saved by openpyxl: the drawing is the same;
  * one attribute cell edited: that attribute's text changes (its field length
    may), nothing else does;
  * cells import cannot apply (an error value and a formula without a result in
    attribute cells, a word in X, 1e999 in Y, an emptied X): the drawing is the
    same, and import counts them and names each cell;
  * JTSK with a negative Y: unedited the drawing is the same; the magnitude in the
    Y cell raised by 10 puts the reference at -(magnitude + 10);
  * two blocks in one sheet, the second one's tags in another order: unedited the
    drawing is the same; a cell of the second block changes that attribute alone.
"""
import filecmp
import glob
import itertools
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

import ezdxf
from ezdxf.math import Vec3
from openpyxl import load_workbook
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import cases as cases_module  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
CORPUS = shared_data.shared_path("corpus/dxf")
GEN = shared_data.MAKE_DRAWING
PYTHON = "/usr/bin/python3"
KEEP = bool(os.environ.get("TABLORA_KEEP_E2E"))

EXPORT_BASE = dict(WorkbookSettings=0, WorksheetSettings=0, StartRow=1, AddHeader=0, BlockNames=1,
                   XCoord=1, YCoord=1, ZCoord=1, OddLine=0, Rotation=1, LayerNames=1, AutoConnect=0,
                   IncludeConstant=0, Scale=1, Sort=0, LayoutNames=0, NoAutofit=0, JTSK=0, AsText=1,
                   FindNextBlankLine=0, ExportAttPrompts=0)
IMPORT_SETTINGS = dict(ImportSettings=1, IgnoreProps=0, StartCol=1, StartRow=2)

# What each option of the matrix sets when it is on.
OPTIONS = [
    ("ActiveSheet", dict(WorksheetSettings=1, AddHeader=1, WorkbookSettings=0)),
    ("OddLine", dict(OddLine=1)),
    ("ExportAttPrompts", dict(ExportAttPrompts=1)),
    ("Sort", dict(Sort=1)),
    ("IncludeConstant", dict(IncludeConstant=1)),
    ("NoBlockNames", dict(BlockNames=0)),
    ("NoProps", dict(XCoord=0, YCoord=0, ZCoord=0, Rotation=0, Scale=0, LayerNames=0)),
    ("JTSK", dict(JTSK=1)),
    ("LayoutNames", dict(LayoutNames=1)),
]
OPTION_NAMES = [name for name, _ in OPTIONS]

MARKERS = {"Tablora property: insertion point X": "x", "Tablora property: insertion point Y": "y",
           "Tablora property: insertion point Z": "z"}
NOT_APPLIED = re.compile(r"(\d+) values? could not be applied")
CELL_LINE = re.compile(r"^  (.+)!([A-Z]{1,3}[1-9][0-9]*): (.+)$")

# Generated drawings: (file name, generator arguments, gets the full cross product).
GENERATED = [("generated-120.dxf", ["120"], True), ("generated-cz-40.dxf", ["40", "--cz"], False)]
# Drawings of the edit cases: attributes on several blocks, negative coordinates,
# paper space, a code page other than the default.
EDIT_DRAWINGS = ["generated-120.dxf", "dxfjson_A_000217.dxf", "hanochhu_Drawing1.dxf", "bjnortier_floorplan.dxf",
                 "acadsharp_sample_AC1018_binary.dxf", "acadsharp_sample_AC1009_binary.dxf"]
# The one of the corpus that the default run edits, binary (the generated drawing
# is the ASCII one).
DEFAULT_EDIT_DRAWINGS = ["acadsharp_sample_AC1018_binary.dxf"]


# Extra cadhost arguments choosing the spreadsheet application; empty for the
# registered stand-in (the Calc tests run these same cases with their own).
SPREADSHEET_ARGS = []
# Whether that application calculates the formulas of the workbooks it opens (the
# stand-in keeps a formula saved without its result as it is).
FORMULAS_CALCULATED = False


class Skip(Exception):
    pass


class Findings:
    """Failures and skips of one task; tasks run in worker processes."""

    def __init__(self):
        self.failures, self.skips = [], []

    def check(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition


# --- settings ----------------------------------------------------------------------

def settings_of(combo):
    values = dict(EXPORT_BASE)
    for name, change in OPTIONS:
        if name in combo:
            values.update(change)
    return values


def label(combo):
    return "+".join(n for n in OPTION_NAMES if n in combo) or "base"


def pairwise_rows():
    """Six rows in which every two options take all four on/off pairs. Each option
    is a column of six bits, 0 in the first row and three 1s in the other five: row 0
    gives 00; two different columns with as many 1s give 01 and 10; and three 1s each
    among five rows must share a row, which gives 11."""
    columns = list(itertools.combinations(range(1, 6), 3))
    assert len(OPTIONS) <= len(columns), "six rows cover at most ten options"
    return [frozenset(OPTION_NAMES[j] for j, c in enumerate(columns[:len(OPTIONS)]) if row in c)
            for row in range(6)]


def covering_set():
    everything = frozenset(OPTION_NAMES)
    combos = [frozenset()] + [frozenset([n]) for n in OPTION_NAMES] + pairwise_rows()
    combos += [everything] + [everything - {n} for n in ("ActiveSheet", "NoProps", "NoBlockNames")]
    return list(dict.fromkeys(combos))


def full_set():
    return [frozenset(c) for k in range(len(OPTION_NAMES) + 1) for c in itertools.combinations(OPTION_NAMES, k)]


def registry(export):
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]"]
    lines += ['"%s"=dword:%08x' % (k, v & 0xFFFFFFFF) for k, v in export.items()]
    lines += ["", r"[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]"]
    lines += ['"%s"=dword:%08x' % (k, v) for k, v in IMPORT_SETTINGS.items()]
    return "\n".join(lines) + "\n"


# --- cadhost -----------------------------------------------------------------------

def new_folder(work, settings, prefix):
    folder = tempfile.mkdtemp(dir=work, prefix=prefix)
    home = os.path.join(folder, "home")
    os.makedirs(home)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(registry(settings))
    return folder


def cadhost(folder, args, lines, name):
    script = os.path.join(folder, name + ".scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=os.path.join(folder, "home"))
    try:
        return subprocess.run([CADHOST, "--script", script, *SPREADSHEET_ARGS, *args], cwd=folder, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              errors="replace", timeout=300)
    except subprocess.TimeoutExpired as e:
        return subprocess.CompletedProcess(e.cmd, -9, str(e.stdout or ""), "timed out")


def said(out):
    """cadhost's output without prompts and echoes, on one line."""
    keep = [l.strip() for l in out.splitlines()
            if l.strip() and not l.startswith(("Command:", "Tablora [", "tabro.so loaded", "Block names to export"))]
    text = " | ".join(keep)
    return text if len(text) <= 400 else text[:400] + " ..."


def references_in(path):
    try:
        return sum(len(b.query("INSERT")) for b in ezdxf.readfile(path).blocks)
    except Exception as e:  # ezdxf cannot judge it: let the export failure stand
        return "unknown (%s)" % e


def export(folder, source, blocks=""):
    """Copies the drawing in and exports; returns (drawing, workbook, exported count)."""
    drawing = os.path.join(folder, "drawing.dxf")
    shutil.copyfile(source, drawing)
    proc = cadhost(folder, [drawing], ["TABRO", "Export2", blocks, "QUIT"], "export")
    if proc.returncode != 0 and "tabro.so loaded" not in proc.stdout:
        raise Skip("cadhost refuses it: " + (proc.stderr.strip().splitlines() or ["?"])[0])
    books = sorted(glob.glob(os.path.join(folder, "Book*.xlsx")))
    if proc.returncode == 0 and not books and not references_in(source):
        raise Skip("no block to export")
    if proc.returncode != 0 or len(books) != 1:
        raise AssertionError("export: rc %d, workbooks %s: %s %s" % (proc.returncode, [os.path.basename(b) for b in books],
                                                                   said(proc.stdout), proc.stderr[-300:]))
    m = re.search(r"(\d+) references? exported", proc.stdout)
    return drawing, books[0], int(m.group(1)) if m else None


def import_and_save(folder, drawing, book):
    proc = cadhost(folder, ["--workbook", book, drawing], ["TABRO", "Import", "SAVE"], "import")
    if proc.returncode != 0 or "Saved" not in proc.stdout:
        raise AssertionError("import: rc %d: %s %s" % (proc.returncode, said(proc.stdout), proc.stderr[-300:]))
    return proc.stdout


def without_handle_variables(path, out):
    """The file without its $HANDLING and $HANDSEED variables: a drawing saved without
    handles gets them (with handles on its entities, which the comparator allows)."""
    data = open(path, "rb").read().replace(b"\r\n", b"\n").split(b"\n")
    kept, i = [], 0
    while i + 1 < len(data):
        if data[i].strip() == b"9" and data[i + 1].strip() in (b"$HANDLING", b"$HANDSEED"):
            i += 4
            continue
        kept += data[i:i + 2]
        i += 2
    open(out, "wb").write(b"\n".join(kept) + b"\n")


def dxf_same(original, saved):
    """"same" when saved is the drawing original, else what differs. A binary drawing
    must come back byte for byte (the comparison tag for tag only says where it
    does not)."""
    # A file written back byte for byte needs no tag comparison; on the larger
    # drawings the comparison takes most of a run's time.
    if filecmp.cmp(original, saved, shallow=False):
        return "same"
    if open(original, "rb").read(18) == b"AutoCAD Binary DXF":
        same, said = shared_data.dxf_compare(original, saved, "--exact")
        return "a binary drawing not written back byte for byte: " + (
            "tag for tag the same" if same else said.splitlines()[0])
    same, said = shared_data.dxf_compare(original, saved)
    if not same:
        # Handles added to a drawing that had none come with $HANDLING and $HANDSEED.
        a, b = saved + ".original-tags", saved + ".saved-tags"
        without_handle_variables(original, a)
        without_handle_variables(saved, b)
        same, said = shared_data.dxf_compare(a, b)
    return "same" if same else said


def imported_rows(out):
    m = re.search(r"Imported (\d+) rows?", out)
    return int(m.group(1)) if m else None


# --- the matrix --------------------------------------------------------------------

def roundtrip(work, name, source, combo):
    """One unedited round trip of the drawing with the settings of combo."""
    found = Findings()
    where = "%s [%s]" % (name, label(combo))
    folder = new_folder(work, settings_of(combo), "rt-")
    try:
        drawing, book, exported = export(folder, source)
        out = import_and_save(folder, drawing, book)
        same = dxf_same(source, drawing)
        found.check(same == "same", "%s: %s; import said: %s" % (where, same, said(out)))
        found.check(exported is not None and imported_rows(out) == exported,
                    "%s: %s references exported, import read %s rows: %s" % (where, exported, imported_rows(out), said(out)))
        found.check("could not be applied" not in out, "%s: unedited import reports values not applied: %s" % (where, said(out)))
        # The stand-in's own workbooks (Calc writes its own): every drawing's with the
        # base settings, and the covering set's layouts of one drawing (a second
        # apiece; the full set of every combination would take minutes).
        if not SPREADSHEET_ARGS and (not combo or (name == GENERATED[0][0] and combo in covering_set())):
            ooxml.validate_written(folder, found.failures, where)
    except Skip as e:
        found.skips.append("%s: %s" % (name, e))
    except AssertionError as e:
        found.failures.append("%s: %s" % (where, e))
    if KEEP and found.failures:
        found.failures.append("kept " + folder)
    else:
        shutil.rmtree(folder, ignore_errors=True)
    return found


# --- ezdxf as the judge ------------------------------------------------------------

def snapshot(path):
    """Every entity of every layout and block definition, attributes included, by
    handle: (type, owning reference of an attribute, its DXF attributes)."""
    doc = ezdxf.readfile(path)
    out = {}
    for block in doc.blocks:
        for e in block:
            out[e.dxf.handle] = (e.dxftype(), None, e.dxfattribs())
            if e.dxftype() == "INSERT":
                for a in e.attribs:
                    out[a.dxf.handle] = ("ATTRIB", e.dxf.handle, a.dxfattribs())
    return out


def same_value(v, w):
    if isinstance(v, (tuple, Vec3)) or isinstance(w, (tuple, Vec3)):
        try:
            return Vec3(v).isclose(Vec3(w), abs_tol=1e-9)
        except (TypeError, ValueError):
            return False
    if isinstance(v, float) or isinstance(w, float):
        return isinstance(v, (int, float)) and isinstance(w, (int, float)) and math.isclose(v, w, rel_tol=1e-12, abs_tol=1e-12)
    return v == w


def compare(found, what, before, after, expect, may=None):
    """What changed from before to after is exactly expect ({handle: {key: new}}),
    plus the keys may ({handle: keys}) allows."""
    may = may or {}
    found.check(before.keys() == after.keys(), "%s: entities added %s, removed %s" % (
        what, sorted(after.keys() - before.keys())[:5], sorted(before.keys() - after.keys())[:5]))
    missed, extra = [], []
    for h in sorted(before.keys() & after.keys()):
        kind, owner, a = before[h]
        b = after[h][2]
        for key, value in expect.get(h, {}).items():
            if not same_value(b.get(key), value):
                missed.append("%s %s %s is %r, expected %r" % (kind, h, key, b.get(key), value))
        for key in sorted(a.keys() | b.keys()):
            if key in expect.get(h, {}) or key in may.get(h, ()):
                continue
            if not same_value(a.get(key), b.get(key)):
                extra.append("%s %s%s %s %r -> %r" % (kind, h, " of %s" % owner if owner else "", key,
                                                       a.get(key), b.get(key)))
    found.check(not missed, "%s: %s" % (what, "; ".join(missed)))
    found.check(not extra, "%s: %d other differences, first %s" % (what, len(extra), "; ".join(extra[:3])))


# --- the workbook as a user sees it -----------------------------------------------

def sections(ws):
    """The sheet's blocks of rows: (header row, [data rows]). A header is a row with
    text but without a handle comment that starts the sheet or follows a data row;
    the prompt row under a header is not one."""
    out, last_was_data = [], True
    for r in range(1, ws.max_row + 1):
        first = ws.cell(r, 1).comment
        if first is not None and not first.text.startswith("Tablora"):
            if out:
                out[-1][1].append(r)
            last_was_data = True
        elif any(c.value not in (None, "") for c in ws[r]):
            if last_was_data:
                out.append((r, []))
            last_was_data = False
    return out


def columns_of(ws, header):
    """Tag columns {tag: column} and coordinate columns {"x": column} of a header row."""
    tags, coords = {}, {}
    for c in ws[header]:
        if c.comment is not None:
            if c.comment.text.strip() in MARKERS:
                coords[MARKERS[c.comment.text.strip()]] = c.column
        elif c.value and c.column > 1:
            tags.setdefault(c.value, c.column)
    return tags, coords


def handle_of(ws, r):
    return ws.cell(r, 1).comment.text.strip()


def attrib_index(before):
    """{(reference, tag in capitals): [attribute handles]} of a snapshot."""
    index = {}
    for h, (kind, owner, a) in before.items():
        if owner:
            index.setdefault((owner, a.get("tag", "").upper()), []).append(h)
    return index


def attrib_with_tag(index, ref, tag):
    """The one attribute of reference ref whose tag is tag (ignoring case, as import
    matches them), or None when it has none or several."""
    hits = index.get((ref, str(tag).upper()), [])
    return hits[0] if len(hits) == 1 else None


class EditRun:
    """One export whose workbook is edited in copies, each imported and saved."""

    def __init__(self, work, name, source, settings, blocks=""):
        self.work, self.name, self.source, self.settings = work, name, source, settings
        self.folder = new_folder(work, settings, "edit-")
        self.drawing, self.book, self.exported = export(self.folder, source, blocks)

    def workbook(self):
        return load_workbook(self.book)

    def run(self, edit):
        """Copies drawing and workbook, applies edit(workbook) (None: leave the file
        untouched), imports and saves; returns (saved drawing, import output)."""
        folder = new_folder(self.work, self.settings, "case-")
        drawing = os.path.join(folder, "drawing.dxf")
        book = os.path.join(folder, "Book1.xlsx")
        shutil.copyfile(self.source, drawing)
        shutil.copyfile(self.book, book)
        if edit is not None:
            wb = load_workbook(book)
            edit(wb)
            wb.save(book)
        return drawing, import_and_save(folder, drawing, book)


def edit_cases(work, name, source):
    found = Findings()
    try:
        before = snapshot(source)
        index = attrib_index(before)
        base = EditRun(work, name, source, settings_of(frozenset()))
        wb = base.workbook()
        attributed = []  # (sheet, tag, column, [(row, attribute handle)]) for every usable tag column
        for ws in wb.worksheets:
            for header, rows in sections(ws):
                tags, coords = columns_of(ws, header)
                for tag, col in tags.items():
                    hits = [(r, attrib_with_tag(index, handle_of(ws, r), tag)) for r in rows]
                    hits = [(r, a) for r, a in hits if a]
                    if hits and {"x", "y"} <= coords.keys():
                        attributed.append((ws.title, tag, col, coords, hits))
        if not attributed:
            raise Skip("no attribute column to edit")
        attributed.sort(key=lambda t: -len(t[4]))
        sheet, tag, col, coords, hits = attributed[0]

        # The workbook only rewritten by openpyxl.
        saved, out = base.run(lambda wb: None)
        same = dxf_same(source, saved)
        found.check(same == "same", "%s openpyxl save, no edit: %s; import said: %s" % (name, same, said(out)))

        # One attribute cell.
        r, attrib = hits[-1]
        old = before[attrib][2].get("text", "")
        new = "EDITED " + old[:20] + " 42"

        def one_cell(wb):
            wb[sheet].cell(r, col).value = new
        saved, out = base.run(one_cell)
        compare(found, "%s edit %s!%s (%s)" % (name, sheet, wb[sheet].cell(r, col).coordinate, tag),
                before, snapshot(saved), {attrib: {"text": new}}, {attrib: {"field_length"}})
        found.check("could not be applied" not in out, "%s one edit: values not applied: %s" % (name, said(out)))

        # Cells import cannot apply, one to a row where the sheet has rows enough.
        rows = [r for r, _ in hits]
        if len(rows) < 2:
            found.skips.append("%s: values not applied: fewer than two rows" % name)
        else:
            spots = rows[:5] if len(rows) >= 5 else [rows[0], rows[1], rows[0], rows[1], rows[1]]
            bad = [(spots[0], col, "error"), (spots[1], col, "formula"), (spots[2], coords["x"], "n/a"),
                   (spots[3], coords["y"], "1e999"), (spots[4], coords["x"], None)]

            def bad_cells(wb):
                ws = wb[sheet]
                for r, c, value in bad:
                    cell = ws.cell(r, c)
                    if value == "error":
                        cell.value = "#DIV/0!"
                        cell.data_type = "e"
                    elif value == "formula":
                        cell.value = "=1+1"
                    else:
                        cell.value = value
            saved, out = base.run(bad_cells)
            # A spreadsheet that calculates the workbooks it opens gives the formula
            # its result, which import applies as it would a typed text.
            unapplied, computed = bad, {}
            if FORMULAS_CALCULATED:
                unapplied = [b for b in bad if b[2] != "formula"]
                computed = {dict(hits)[spots[1]]: {"text": "2"}}
            if computed:
                compare(found, "%s cells not applied, the formula calculated" % name, before, snapshot(saved),
                        computed, {a: {"field_length"} for a in computed})
            else:
                same = dxf_same(source, saved)
                found.check(same == "same", "%s cells not applied: drawing changed: %s" % (name, same))
            m = NOT_APPLIED.search(out)
            found.check(m and int(m.group(1)) == len(unapplied), "%s cells not applied: %s, expected %d: %s" % (
                name, m.group(0) if m else "no count", len(unapplied), said(out)))
            named = {(m.group(1), m.group(2)) for m in map(CELL_LINE.match, out.splitlines()) if m}
            want = {(sheet, wb[sheet].cell(r, c).coordinate) for r, c, _ in unapplied}
            found.check(named == want, "%s cells not applied: cells named %s, expected %s" % (
                name, sorted(named), sorted(want)))

        jtsk_case(found, work, name, source, before)
        second_block_case(found, work, name, source, before)
    except Skip as e:
        found.skips.append("%s edit cases: %s" % (name, e))
    except AssertionError as e:
        found.failures.append("%s edit cases: %s" % (name, e))
    return found


def jtsk_case(found, work, name, source, before):
    """A reference at a negative Y, one without attributes where there is one. Only
    Y is edited, so X and Z must keep the drawing's values, not the rounded texts;
    a reference whose texts give its point back exactly is taken first."""
    run = EditRun(work, name, source, settings_of(frozenset(["JTSK"])))
    wb = run.workbook()
    owners = {owner for owner, _ in attrib_index(before)}
    choice = None
    for ws in wb.worksheets:
        for header, rows in sections(ws):
            _, coords = columns_of(ws, header)
            if {"x", "y", "z"} - coords.keys():
                continue
            for r in rows:
                h = handle_of(ws, r)
                if h not in before or before[h][0] != "INSERT":
                    continue
                point = Vec3(before[h][2]["insert"])
                try:
                    texts = [float(ws.cell(r, coords[k]).value) for k in ("x", "y", "z")]
                except (TypeError, ValueError):
                    continue
                if point.y < 0:
                    rank = (h in owners,
                            texts != [abs(point.x), abs(point.y), abs(point.z)])
                    if choice is None or rank < choice[0]:
                        choice = (rank, ws.title, r, coords["y"], h)
    if choice is None:
        found.skips.append("%s JTSK: no reference at a negative Y" % name)
        return
    saved, out = run.run(None)
    same = dxf_same(source, saved)
    found.check(same == "same", "%s JTSK unedited: %s; import said: %s" % (name, same, said(out)))
    _, sheet, r, col, h = choice
    magnitude = float(wb[sheet].cell(r, col).value)
    point = Vec3(before[h][2]["insert"])

    def raise_y(wb):
        wb[sheet].cell(r, col).value = repr(magnitude + 10)
    saved, out = run.run(raise_y)
    # The reference's attributes follow it; where they end up is the import test's
    # business, here only that nothing but their placement changes.
    placement = {a for a, (_, owner, _) in before.items() if owner == h}
    compare(found, "%s JTSK Y %s -> %s at %s!%s" % (name, magnitude, magnitude + 10, sheet, wb[sheet].cell(r, col).coordinate),
            before, snapshot(saved), {h: {"insert": Vec3(point.x, -(magnitude + 10), point.z)}},
            {a: {"insert", "align_point", "field_length"} for a in placement})


def second_block_case(found, work, name, source, before):
    """Two blocks into the active sheet, one header each; the second's tags stand in
    other columns than in the first header."""
    pair = SECOND_BLOCK.get(name)
    if pair is None:
        return
    blocks, tag = pair
    settings = settings_of(frozenset(["ActiveSheet"]))
    run = EditRun(work, name, source, settings, ",".join(blocks))
    wb = run.workbook()
    ws = wb.active
    parts = sections(ws)
    if not found.check(len(parts) == 2 and all(rows for _, rows in parts),
                       "%s two blocks in one sheet: sections %s" % (name, [(h, len(r)) for h, r in parts])):
        return
    first_tags, _ = columns_of(ws, parts[0][0])
    header, rows = parts[1]
    tags, _ = columns_of(ws, header)
    found.check(first_tags.get(tag) != tags.get(tag), "%s: %s stands in the same column for both blocks" % (name, tag))
    saved, out = run.run(None)
    same = dxf_same(source, saved)
    found.check(same == "same", "%s two blocks unedited: %s; import said: %s" % (name, same, said(out)))
    index = attrib_index(before)
    hits = [(r, attrib_with_tag(index, handle_of(ws, r), tag)) for r in rows]
    hits = [(r, a) for r, a in hits if a]
    if not found.check(hits, "%s: no reference of the second block has %s" % (name, tag)):
        return
    r, attrib = hits[len(hits) // 2]
    new = "SECOND BLOCK EDIT"

    def edit(wb):
        wb.active.cell(r, tags[tag]).value = new
    saved, out = run.run(edit)
    compare(found, "%s two blocks, edit %s!%s (%s)" % (name, ws.title, ws.cell(r, tags[tag]).coordinate, tag),
            before, snapshot(saved), {attrib: {"text": new}}, {attrib: {"field_length"}})


def two_blocks_drawing(path):
    """Blocks PANEL and LABEL with the same three tags in other orders."""
    doc = ezdxf.new("R2000")
    msp = doc.modelspace()
    for name, tags in (("PANEL", ["REF", "SIZE", "NOTE"]), ("LABEL", ["NOTE", "REF", "SIZE"])):
        blk = doc.blocks.new(name)
        blk.add_lwpolyline([(0, 0), (100, 0), (100, 40), (0, 40)], close=True)
        for k, tag in enumerate(tags):
            blk.add_attdef(tag, (5, 30 - 10 * k), dxfattribs={"height": 5})
        for i in range(3):
            ref = msp.add_blockref(name, (200.0 * i, 100.0 if name == "LABEL" else 0.0))
            ref.add_auto_attribs({tag: "%s-%s-%d" % (name, tag, i) for tag in tags})
    doc.saveas(path)


# Drawing -> (blocks exported into one sheet, a tag both carry).
SECOND_BLOCK = {"two-blocks.dxf": (["PANEL", "LABEL"], "REF"),
                "generated-120.dxf": (["DOOR_TAG", "WINDOW"], "WIDTH")}


def two_block_cases(work, source):
    found = Findings()
    try:
        second_block_case(found, work, "two-blocks.dxf", source, snapshot(source))
    except (Skip, AssertionError) as e:
        found.failures.append("two-blocks.dxf: %s" % e)
    return found


# --- cases -------------------------------------------------------------------------

def corpus_names():
    return sorted(n for n in os.listdir(CORPUS) if n.endswith(".dxf")) if os.path.isdir(CORPUS) else []


def prepare(work, name):
    """The drawing called name in work: a copy of the corpus' file, or a generated one."""
    path = os.path.join(work, name)
    if name == "two-blocks.dxf":
        two_blocks_drawing(path)
        return path
    for generated, args, _ in GENERATED:
        if name == generated:
            return shared_data.make_drawing(args[0], path, *args[1:])
    shutil.copyfile(os.path.join(shared_data.require_shared("corpus/dxf"), name), path)
    return path


def finish(found, started):
    for s in sorted(set(found.skips)):
        print("skipped:", s)
    for f in found.failures:
        print("FAIL:", f)
    print("%d failures (%.0f s)" % (len(found.failures), time.monotonic() - started))
    return 1 if found.failures else 0


def run_tasks(names, tasks):
    """Runs tasks(work, name, path) over the drawings called names, one after the
    other; returns the exit code. ctest runs the cases side by side, so none of them
    starts processes of its own beyond cadhost."""
    if not os.path.exists(CADHOST):
        print("cadhost not built at %s" % CADHOST)
        return 1
    started = time.monotonic()
    found = Findings()
    work = tempfile.mkdtemp(prefix="tabro-matrix-")
    try:
        for name in names:
            for task in tasks(work, name, prepare(work, name)):
                try:
                    done = task()
                except Exception as e:  # a fault of the test itself, or input it did not foresee
                    found.failures.append("%s: a task raised %s: %s" % (name, type(e).__name__, e))
                    continue
                found.failures += done.failures
                found.skips += done.skips
        # As cadhost wrote them (each round trip judges its own as it ends); the
        # edited copies (case-*) were last written by openpyxl.
        ooxml.validate_written(work, found.failures, "round-trip matrix", pattern="edit-*/*.xlsx")
    finally:
        if KEEP:
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    return finish(found, started)


def combos_of(combos):
    """Tasks: the base run first, since a drawing skipped there is skipped for every
    setting; then each other combination."""
    def tasks(work, name, path):
        base = roundtrip(work, name, path, frozenset())
        yield lambda: base
        if not base.skips:
            for combo in combos:
                if combo:
                    yield lambda combo=combo: roundtrip(work, name, path, combo)
    return tasks


def base_only(work, name, path):
    yield lambda: roundtrip(work, name, path, frozenset())


def edits(work, name, path):
    yield lambda: edit_cases(work, name, path)


def two_blocks(work, name, path):
    yield lambda: two_block_cases(work, path)


def corpus_case(tasks, names=None):
    def run():
        shared_data.require_shared("corpus/dxf")
        return run_tasks(corpus_names() if names is None else names, tasks)
    return run


def chunk(items, index, count):
    return [c for i, c in enumerate(items) if i % count == index]


# The full cross product of the generated drawing, in parts that ctest runs side by
# side (about 25 s each on a machine of two cores); the default cases that take
# longest, in two.
FULL_PARTS = 4
DEFAULT_PARTS = 2


def cases():
    """The default tests keep the run short and still reach every path once: the
    covering set on the small generated drawing (Czech code page), the edit cases on
    the large generated drawing and on one binary drawing of the corpus, and two
    blocks sharing a sheet. Slow (CI): the covering set on the large generated
    drawing, every corpus drawing's unedited round trip, the other edit cases,
    the covering set on every corpus drawing and the whole cross product on the
    generated one (the matrix proper, minutes). One case per drawing of the corpus
    found where the shared folder is (else one case that says it is missing)."""
    out = {}
    generated = [name for name, _, _ in GENERATED]
    for name in generated:
        # The one with many references in two halves, each with the base run first.
        parts = DEFAULT_PARTS if name == generated[0] else 1
        for index in range(parts):
            combos = chunk(covering_set(), index, parts)
            slow = "slow-" if parts > 1 else ""
            out["%scovering-%s%s" % (slow, name[:-4], "-%dof%d" % (index + 1, parts) if parts > 1 else "")] = \
                lambda name=name, combos=combos: run_tasks([name], combos_of(combos))
    for index in range(DEFAULT_PARTS):
        out["slow-base-corpus-%dof%d" % (index + 1, DEFAULT_PARTS)] = \
            lambda index=index: corpus_case(base_only, chunk(corpus_names(), index, DEFAULT_PARTS))()
    for name in EDIT_DRAWINGS:
        if name in generated:
            out["edit-" + name[:-4]] = lambda name=name: run_tasks([name], edits)
        else:
            slow = "" if name in DEFAULT_EDIT_DRAWINGS else "slow-"
            out[slow + "edit-" + name[:-4]] = corpus_case(edits, [name])
    out["two-blocks"] = lambda: run_tasks(["two-blocks.dxf"], two_blocks)
    for index in range(FULL_PARTS):
        combos = chunk(full_set(), index, FULL_PARTS)
        out["slow-full-%s-%dof%d" % (generated[0][:-4], index + 1, FULL_PARTS)] = \
            lambda combos=combos: run_tasks([generated[0]], combos_of(combos))
    names = corpus_names()
    for name in names:
        out["slow-covering-" + name[:-4]] = corpus_case(combos_of(covering_set()), [name])
    if not names:
        out["slow-covering-corpus"] = corpus_case(combos_of(covering_set()))
    return out


if __name__ == "__main__":
    sys.exit(cases_module.run(cases()))
