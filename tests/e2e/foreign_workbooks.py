"""Exporting into workbooks another program wrote: each workbook of the shared xlsx
corpus is opened in cadhost as the active workbook, the example drawing is exported
into it and the session ends (which saves it). Then, with judges we did not write:

  * the Office Open XML validator still says the file is valid (when it was before);
  * openpyxl still opens it, and every sheet, cell value, comment, defined name,
    merged range and cell style the user had is still there and unchanged, and a
    sheet the user had hidden (or very hidden) is still so;
  * the export's rows are there (a new sheet per block, or on the user's active
    sheet below everything it holds: the two ways alternate over the corpus).

A workbook that the stand-in cannot write back whole must be left byte for byte as
it was, with the export refused with a message. LibreOffice, where installed, reads
a few of the exported workbooks as a third judge: every sheet converts, and the
export's rows are in one of them. Used by test_foreign_workbooks (a
sample) and slow/test_foreign_workbooks_all (every file).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import warnings
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import ooxml  # noqa: E402
import shared_data  # noqa: E402

from openpyxl import load_workbook  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CORPUS = shared_data.shared_path("corpus/xlsx/xlsxwriter")
CADHOST = os.path.join(BIN, "cadhost")
DRAWING = os.path.join(HERE, "..", "..", "examples", "site.dxf")

EXPORT = dict(WorkbookSettings=1, WorksheetSettings=0, StartRow=1, AddHeader=1, BlockNames=1, XCoord=1, YCoord=1,
              ZCoord=1, OddLine=0, Rotation=1, LayerNames=1, AutoConnect=0, IncludeConstant=0, Scale=1, Sort=0,
              LayoutNames=0, NoAutofit=0, JTSK=0, AsText=1, FindNextBlankLine=0, ExportAttPrompts=0)


def registry(values):
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]"]
    lines += ['"%s"=dword:%08x' % (k, v & 0xFFFFFFFF) for k, v in values.items()]
    return "\n".join(lines) + "\n"


def _color(c):
    if c is None:
        return None
    return (c.type, c.rgb if c.type == "rgb" else c.indexed if c.type == "indexed" else c.theme, c.tint)


def _style(cell):
    f, fill, b, a, p = cell.font, cell.fill, cell.border, cell.alignment, cell.protection
    return (cell.number_format,
            (f.name, f.sz, f.b, f.i, f.u, f.strike, f.vertAlign, _color(f.color)),
            (getattr(fill, "patternType", None), _color(getattr(fill, "fgColor", None)),
             _color(getattr(fill, "bgColor", None)), getattr(fill, "type", None)),
            tuple((s.style, _color(s.color)) if s is not None else None
                  for s in (b.left, b.right, b.top, b.bottom, b.diagonal)),
            (a.horizontal, a.vertical, a.wrap_text, a.shrink_to_fit, a.indent, a.text_rotation),
            (p.locked, p.hidden))


def _names(wb):
    out = set()
    names = wb.defined_names
    items = getattr(names, "definedName", None)
    if items is None:
        items = list(names.values())
    titles = wb.sheetnames
    for d in items:
        # A local name is known by its sheet's title: new sheets shift the indices.
        local = d.localSheetId
        if local is not None and 0 <= int(local) < len(titles):
            local = titles[int(local)]
        out.add((d.name, d.attr_text, local))
    for ws in wb.worksheets:
        local = getattr(ws, "defined_names", None)
        if local and hasattr(local, "values"):
            for d in local.values():
                out.add((d.name, d.attr_text, ws.title))
    return out


def snapshot(path):
    """What a user had in a workbook, as openpyxl reads it."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        wb = load_workbook(path)
    sheets = {}
    for ws in wb.worksheets:
        cells = {}
        # The cells the file holds, not every place of the used range: a sheet with
        # a format on a far cell would make millions of empty ones.
        for c in list(ws._cells.values()):
            if c.value is None and c.comment is None and not c.has_style:
                continue
            cells[c.coordinate] = (c.value, c.comment.text if c.comment else None, _style(c))
        sheets[ws.title] = (cells, sorted(str(r) for r in ws.merged_cells.ranges), ws.sheet_state)
    # The active sheet may be a chart sheet, which has no rows.
    return wb.sheetnames, sheets, _names(wb), getattr(wb.active, "max_row", 0) or 0


_ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def _same_value(was, now):
    """openpyxl undoes the file format's _xHHHH_ escapes in shared strings (more
    than once where one escape spells another) but not in inline ones, which the
    stand-in keeps as shared strings: texts that differ only in how often their
    escapes were undone are the same text. Only texts holding escapes are compared
    that way."""
    if was == now:
        return True
    if not (isinstance(was, str) and isinstance(now, str)):
        return False

    def undone(text):
        while True:
            done = _ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), text)
            if done == text:
                return text
            text = done
    return undone(was) == undone(now)


def compare(before, after):
    """Differences that lose what the user had; new sheets and cells added where the
    user had nothing are the export's own."""
    problems = []
    names_b, sheets_b, defined_b, _ = before
    names_a, sheets_a, defined_a, _ = after
    # New sheets go before the active one, as the spreadsheet program puts them.
    if [n for n in names_a if n in names_b] != names_b:
        problems.append("sheets were %s, now %s" % (names_b, names_a))
    for title, (cells_b, merged_b, state_b) in sheets_b.items():
        if title not in sheets_a:
            problems.append("sheet %r is gone" % title)
            continue
        cells_a, merged_a, state_a = sheets_a[title]
        if state_a != state_b:
            problems.append("sheet %r was %s, now %s" % (title, state_b, state_a))
        for ref, was in cells_b.items():
            now = cells_a.get(ref)
            if now is None or not (_same_value(was[0], now[0]) and was[1:] == now[1:]):
                problems.append("%s!%s was %r, now %r" % (title, ref, was, now))
                if len(problems) > 8:
                    return problems
        if merged_a != merged_b:
            problems.append("%s: merged ranges were %s, now %s" % (title, merged_b, merged_a))
    if defined_b - defined_a:
        problems.append("defined names lost: %s" % sorted(defined_b - defined_a, key=str))
    return problems


def exported_rows(after, before):
    """Rows of the export found in the workbook: cells holding the example's block
    names ("TREE", "LAMP", ...) in a new sheet or below the user's rows."""
    sheets_b, sheets_a = before[1], after[1]
    found = 0
    for title, (cells, _, _) in sheets_a.items():
        old = sheets_b.get(title, ({}, [], None))[0]
        for ref, (value, _, _) in cells.items():
            if ref.startswith("A") and ref not in old and isinstance(value, str) and value == "TREE":
                found += 1
    return found


def run_one(work, index, path, validator):
    """Returns (status, message): status is 'ok', 'refused' (left untouched, with a
    message), 'skipped' (invalid or unreadable before) or 'failed'."""
    name = os.path.basename(path)
    folder = os.path.join(work, "%04d" % index)
    os.makedirs(os.path.join(folder, "home"))
    book = os.path.join(folder, name)
    shutil.copyfile(path, book)
    original = open(book, "rb").read()
    try:
        before = snapshot(book)
    except Exception as e:  # noqa: BLE001 - any reader failure means openpyxl cannot judge it
        return "skipped", "%s: openpyxl cannot read it before the export (%s)" % (name, e)
    settings = dict(EXPORT)
    # Every other file: into the user's own active sheet, below everything it holds.
    settings["WorksheetSettings"] = index % 2
    settings["StartRow"] = before[3] + 2
    if settings["StartRow"] > 1048576 - 200:  # the sheet is used to its last rows: a new sheet
        settings["WorksheetSettings"], settings["StartRow"] = 0, 1
    with open(os.path.join(folder, "home", "user.reg"), "w") as f:
        f.write(registry(settings))
    with open(os.path.join(folder, "run.scr"), "w") as f:
        f.write("tabro\nExport2\n\n")
    env = dict(os.environ, CADHOST_HOME=os.path.join(folder, "home"))
    proc = subprocess.run([CADHOST, "--script", "run.scr", "--workbook", name, DRAWING], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    output = proc.stdout[-1500:] + proc.stderr[-1500:]
    now = open(book, "rb").read()
    if now == original:
        # Left as it was: acceptable only when the export failed with a message.
        lines = output.splitlines()
        said = [line[len("Description = "):] for line in lines if line.startswith("Description = ")]
        said += [lines[i + 1] for i, line in enumerate(lines[:-1]) if line.endswith(("(Error)", "(Warning)"))]
        if proc.returncode != 0 and said:
            return "refused", "%s: left unchanged: %s" % (name, said[0])
        return "failed", "%s: the workbook was not written, rc %d\n%s" % (name, proc.returncode, output)
    if proc.returncode != 0:
        return "failed", "%s: rc %d but the workbook was written\n%s" % (name, proc.returncode, output)
    problems = []
    if validator:
        # Errors the file already had before the export are not ours; any other is.
        errors = ooxml.validate(validator, book)
        if errors:
            had = set(ooxml.validate(validator, path))
            problems += ["invalid: " + e for e in errors if e not in had][:5]
    try:
        after = snapshot(book)
    except Exception as e:  # noqa: BLE001
        return "failed", "%s: openpyxl cannot open it after the export: %s" % (name, e)
    problems += compare(before, after)
    if exported_rows(after, before) == 0:
        problems.append("no exported TREE row found")
    if problems:
        return "failed", "%s (WorksheetSettings %d):\n  %s" % (name, index % 2, "\n  ".join(problems[:10]))
    return "ok", name


def libreoffice_reads(work, book, sheets):
    """Problems LibreOffice has with an exported workbook (converted to CSV, one
    file a sheet); None when it is not installed."""
    soffice = shutil.which("soffice")
    if not soffice:
        return None
    out = tempfile.mkdtemp(dir=work)
    profile = "file://" + os.path.join(out, "profile")
    # 76: UTF-8; the last token, -1, writes every sheet to a file of its own.
    csv = "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"
    proc = subprocess.run([soffice, "-env:UserInstallation=" + profile, "--headless", "--convert-to", csv,
                           "--outdir", out, book], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=300)
    files = [f for f in os.listdir(out) if f.endswith(".csv")]
    problems = []
    if len(files) != len(sheets):
        problems.append("LibreOffice wrote %d sheets of %d (rc %d): %s" % (len(files), len(sheets), proc.returncode,
                                                                         (proc.stderr or proc.stdout)[-300:]))
    rows = 0
    for f in files:
        with open(os.path.join(out, f), encoding="utf-8", errors="replace") as text:
            rows += sum(1 for line in text if line.startswith("TREE,"))
    if rows == 0:
        problems.append("LibreOffice finds no exported TREE row")
    return problems


def run(step, offset=0, libreoffice_sample=1, always=(), part=0, parts=1, workers=4):
    """Exports into every step-th workbook of the corpus from offset on, and into
    those named in always wherever they fall; of those, into the part-th of every
    parts (counted from 0), workers at a time. Skipped (77) without the corpus."""
    failures = []
    if not os.path.isdir(CORPUS):
        print(shared_data.missing("corpus/xlsx/xlsxwriter"))
        return shared_data.SKIPPED
    validator = ooxml.find_validator()
    if not validator:
        if ooxml.required():
            print("FAILED: the OOXML validator is required (TABLORA_REQUIRE_VALIDATOR) but not found")
            return 1
        print("OOXML validator not installed: workbooks checked with openpyxl only")
    files = sorted(f for f in os.listdir(CORPUS) if f.endswith(".xlsx"))
    chosen = [os.path.join(CORPUS, f) for i, f in enumerate(files) if i % step == offset % step or f in always]
    mine = [(index, path) for index, path in enumerate(chosen) if index % parts == part]
    work = tempfile.mkdtemp(prefix="tabro-foreign-")
    counts = {"ok": 0, "refused": 0, "skipped": 0, "failed": 0}
    whole = []
    try:
        with ThreadPoolExecutor(max_workers=max(1, min(workers, os.cpu_count() or 1))) as pool:
            for status, message in pool.map(lambda a: run_one(work, a[0], a[1], validator), mine):
                counts[status] += 1
                if status == "failed":
                    failures.append(message)
                elif status != "ok":
                    print(message)
                else:
                    whole.append(message)
        # The third reader, on an even spread of the workbooks found whole.
        read_by_libreoffice = 0
        for name in whole[::max(1, len(whole) // libreoffice_sample)][:libreoffice_sample] if libreoffice_sample else []:
            index = chosen.index(os.path.join(CORPUS, name))
            book = os.path.join(work, "%04d" % index, name)
            problems = libreoffice_reads(work, book, snapshot(book)[0])
            if problems is None:
                print("LibreOffice not installed: not asked to read the workbooks")
                break
            read_by_libreoffice += 1
            failures += ["%s: %s" % (name, p) for p in problems]
        if read_by_libreoffice:
            print("LibreOffice read %d of the exported workbooks" % read_by_libreoffice)
    finally:
        if failures:
            print("work folder kept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    print("foreign workbooks: %d run, %d valid and whole, %d refused untouched, %d skipped, %d failed"
          % (len(mine), counts["ok"], counts["refused"], counts["skipped"], counts["failed"]))
    for f in failures:
        print("FAILED: " + f)
    return 1 if failures else 0
