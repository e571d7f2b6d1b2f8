#!/usr/bin/python3
"""End to end, slow: a block with more than 65,535 references, so that a row count
or loop held to 16 bits would show, is exported to its last row and imported to its
last row.

The generator picks each reference's block by fixed weights (DOOR_TAG 30 %), so
66,000 references of one block would take a drawing of 220,000 references, six
minutes of generating on a two-core machine before anything is tested. The test
runs the generator with the weights leaning on DOOR_TAG instead (the other blocks
keep a few references each), 70,000 references in all.

  * TABRO Export2 DOOR_TAG (property columns on): the sheet, read by openpyxl in
    read-only mode, has one row per reference, with each reference's NUMBER;
  * one attribute cell in the last row (past 65,535) is edited. openpyxl takes 40 s
    and 1 GB here to load and write the whole workbook (67,000 rows, as many
    comments); rewriting the one cell inside the sheet's XML as an inline string,
    the rest of the package copied as it is, takes under 2 s;
  * TABRO Import and SAVE: the summary counts every row, and ezdxf finds that one
    attribute's text changed (its field length may) and nothing else in the drawing.
The two drawings are read by ezdxf in worker processes, the original while cadhost
and openpyxl work.
"""
import collections
import concurrent.futures
import glob
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET
import zipfile
from xml.sax.saxutils import escape

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
PYTHON = "/usr/bin/python3"

REFERENCES = 70000
WEIGHTS = [96, 1, 1, 1, 1]  # DOOR_TAG, WINDOW, equipment tag, ROOM_LABEL, VALVE
BLOCK = "DOOR_TAG"
ROWS_16_BIT = 65535
NEW_TEXT = "PAST THE OLD LAST ROW"

REGISTRY = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]
"WorksheetSettings"=dword:00000000
"WorkbookSettings"=dword:00000000
"BlockNames"=dword:00000001
"XCoord"=dword:00000001
"YCoord"=dword:00000001
"ZCoord"=dword:00000001
"Rotation"=dword:00000001
"Scale"=dword:00000001
"LayerNames"=dword:00000001
"AsText"=dword:00000001

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"ImportSettings"=dword:00000001
"IgnoreProps"=dword:00000000
"StartCol"=dword:00000001
"StartRow"=dword:00000002
"""

NS = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
REL_NS = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def generate(path):
    shared_data.make_drawing(REFERENCES, path, "--weights", ",".join(map(str, WEIGHTS)), timeout=1800)


def normal(value):
    return tuple(value) if hasattr(value, "__iter__") and not isinstance(value, str) else value


def digest(path):
    """Every entity of every layout and block definition, attributes included, by
    handle: its type, the reference an attribute belongs to, its block name or tag,
    its text, its field length, and the rest of its DXF attributes (as one value:
    the writer keeps numbers exactly, so unchanged means equal)."""
    doc = ezdxf.readfile(path)
    out = {}

    def add(e, owner):
        attribs = e.dxfattribs()
        text, length = attribs.pop("text", None), attribs.pop("field_length", None)
        rest = repr(sorted((k, normal(v)) for k, v in attribs.items())).encode()
        name = attribs.get("tag") if e.dxftype() == "ATTRIB" else attribs.get("name")
        out[e.dxf.handle] = (e.dxftype(), owner, name, text, length, hashlib.blake2b(rest, digest_size=16).digest())

    for block in doc.blocks:
        for e in block:
            add(e, None)
            if e.dxftype() == "INSERT":
                for a in e.attribs:
                    add(a, e.dxf.handle)
    return out


def run_cadhost(work, args, lines):
    script = os.path.join(work, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=os.path.join(work, "home"))
    proc = subprocess.run([CADHOST, "--script", script, *args], cwd=work, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace", timeout=600)
    if proc.returncode != 0:
        sys.exit("cadhost %s failed (%d):\n%s\n%s" % (" ".join(args), proc.returncode, proc.stdout[-3000:], proc.stderr[-3000:]))
    return proc.stdout


def sheet_part(book, title):
    """The package path of the worksheet with that title."""
    with zipfile.ZipFile(book) as z:
        workbook = ET.fromstring(z.read("xl/workbook.xml"))
        rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
    rid = next(s.get(REL_NS + "id") for s in workbook.iter(NS + "sheet") if s.get("name") == title)
    target = next(r.get("Target") for r in rels if r.get("Id") == rid)
    return target.lstrip("/") if target.startswith("/") else "xl/" + target


def set_cell_text(book, part, ref, text):
    """Rewrites one cell of a worksheet part as an inline string, keeping its style;
    every other part is copied unchanged."""
    with zipfile.ZipFile(book) as z:
        xml = z.read(part).decode("utf-8")
        items = [(i, z.read(i.filename)) for i in z.infolist() if i.filename != part]
    cell = re.compile(r'<c r="%s"(?P<attrs>[^>]*?)(?:/>|>.*?</c>)' % ref, re.S)
    m = cell.search(xml)
    if not m:
        sys.exit("cell %s not found in %s" % (ref, part))
    style = re.search(r'\ss="\d+"', m.group("attrs"))
    new = '<c r="%s"%s t="inlineStr"><is><t xml:space="preserve">%s</t></is></c>' % (
        ref, style.group(0) if style else "", escape(text))
    xml = xml[:m.start()] + new + xml[m.end():]
    temp = book + ".tmp"
    with zipfile.ZipFile(temp, "w", zipfile.ZIP_DEFLATED) as z:
        for info, data in items:
            z.writestr(info, data)
        z.writestr(part, xml.encode("utf-8"))
    os.replace(temp, book)


def column_letter(n):
    s = ""
    while n:
        n, r = divmod(n - 1, 26)
        s = chr(65 + r) + s
    return s


def scenario(work, started):
    os.makedirs(os.path.join(work, "home"))
    with open(os.path.join(work, "home", "user.reg"), "w") as f:
        f.write(REGISTRY)
    original = os.path.join(work, "original.dxf")
    drawing = os.path.join(work, "drawing.dxf")
    generate(original)
    shutil.copyfile(original, drawing)
    print("generated in %.0f s" % (time.monotonic() - started))

    with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
        before_job = pool.submit(digest, original)

        run_cadhost(work, [drawing], ["TABRO", "Export2", BLOCK, "QUIT"])
        books = sorted(glob.glob(os.path.join(work, "Book*.xlsx")))
        if not check(books, "export wrote no workbook"):
            return
        book = books[0]

        # One row per reference: the NUMBER column holds every reference's NUMBER.
        wb = load_workbook(book, read_only=True)
        rows = wb[BLOCK].iter_rows(values_only=True)
        header = list(next(rows))
        number_col, type_col = header.index("NUMBER"), header.index("TYPE")
        numbers = collections.Counter()
        count, last = 0, None
        for count, values in enumerate(rows, start=1):
            numbers[values[number_col] or ""] += 1  # an empty text is an empty cell
            last = values
        wb.close()
        print("exported and read at %.0f s" % (time.monotonic() - started))

        before = before_job.result()
        refs = {h for h, e in before.items() if e[0] == "INSERT" and e[2] == BLOCK}
        ref_numbers = collections.Counter(e[3] for e in before.values()
                                          if e[0] == "ATTRIB" and e[1] in refs and e[2] == "NUMBER")
        if not check(len(refs) > ROWS_16_BIT, "only %d %s references generated" % (len(refs), BLOCK)):
            return
        check(count == len(refs), "%d rows for %d references" % (count, len(refs)))
        check(numbers == ref_numbers, "NUMBER column and the references' NUMBERs differ in %d" % (
            sum(((numbers - ref_numbers) + (ref_numbers - numbers)).values())))

        # The last row, found by its NUMBER (unique there), gets a new TYPE.
        row = count + 1
        owner = [e[1] for e in before.values()
                 if e[0] == "ATTRIB" and e[1] in refs and e[2] == "NUMBER" and e[3] == (last[number_col] or "")]
        if not check(row > ROWS_16_BIT and len(owner) == 1 and numbers[last[number_col] or ""] == 1,
                     "row %d: NUMBER %r names %d references" % (row, last[number_col], len(owner))):
            return
        edited = [h for h, e in before.items() if e[0] == "ATTRIB" and e[1] == owner[0] and e[2] == "TYPE"]
        if not check(len(edited) == 1 and before[edited[0]][3] == (last[type_col] or ""),
                     "row %d's TYPE %r is not reference %s's" % (row, last[type_col], owner[0])):
            return
        cell = "%s%d" % (column_letter(type_col + 1), row)
        set_cell_text(book, sheet_part(book, BLOCK), cell, NEW_TEXT)

        out = run_cadhost(work, ["--workbook", book, drawing], ["TABRO", "Import", "SAVE"])
        print("imported at %.0f s" % (time.monotonic() - started))
        summary = [l for l in out.splitlines() if l.startswith("Imported")][-1:]
        m = re.match(r"Imported (\d+) rows?", summary[0]) if summary else None
        check(m and int(m.group(1)) == len(refs), "import summary %r, expected %d rows" % (summary, len(refs)))
        after = pool.submit(digest, drawing).result()

    check(before.keys() == after.keys(), "entities added or removed: %d before, %d after" % (len(before), len(after)))
    changed = []
    for h, e in before.items():
        f = after.get(h)
        if f is None:
            continue
        if h == edited[0]:
            check(f[3] == NEW_TEXT, "attribute %s of %s (cell %s) holds %r" % (h, owner[0], cell, f[3]))
            check(f[:3] + f[5:] == e[:3] + e[5:], "attribute %s: more than its text changed" % h)
        elif f != e:
            changed.append("%s %s%s" % (e[0], h, " of %s" % e[1] if e[1] else ""))
    check(not changed, "%d other entities changed, first %s" % (len(changed), changed[:5]))
    if failures:
        print("cadhost import said:\n" + "\n".join(out.splitlines()[-20:]))


def main():
    if not os.path.exists(CADHOST):
        sys.exit("%s not built" % CADHOST)
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="tabro-many-rows-")
    try:
        scenario(work, started)
    finally:
        if os.environ.get("TABLORA_KEEP_E2E"):
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print("%d failures (%.0f s)" % (len(failures), time.monotonic() - started))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
