#!/usr/bin/python3
"""End to end: exports a worksheet or a workbook cannot hold fail plainly, and what
they leave imports back without changing the drawing. cadhost runs a script; its exit
status, its transcript, the workbook (openpyxl) and the drawing (ezdxf, and byte for
byte) are checked:

  * an attribute longer than a cell holds: that reference gets no row at all (a row
    with its handle and no values would import as emptied attributes), the box names
    it, cadhost ends with status 1; the untouched workbook imports back and, saved,
    the drawing is what it was;
  * an R2010 drawing with invalid UTF-8 in an attribute comes back byte for byte
    from an untouched export, import and SAVE;
  * a start row no sheet has, a workbook open read-only, more sheets than a
    workbook holds: refused before anything is written, status 1, a plain message;
  * a live-linked workbook whose file another program leaves unreadable is told
    once, and the session still ends with status 0.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")

KEY = r"HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings"
CELL_MOST = 32767
NOT_EXPORTED = "block reference was not exported"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def registry(export=None, imp=None):
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in (("Export", export or {}), ("Import", imp or {})):
        lines.append("[%s\\%s]" % (KEY, key))
        lines += ['"%s"=dword:%08x' % (k, v & 0xFFFFFFFF) for k, v in values.items()]
        lines.append("")
    return "\n".join(lines)


EXPORT = dict(WorkbookSettings=0, WorksheetSettings=0, XCoord=0, YCoord=0, ZCoord=0, Rotation=0,
              Scale=0, LayerNames=0, AsText=1)
IMPORT = dict(ImportSettings=1, IgnoreProps=0, StartCol=1, StartRow=2)


def cadhost(folder, lines, args, export=None, timeout=120):
    """Runs cadhost in `folder` with a settings hive of its own; (status, transcript)."""
    home = os.path.join(folder, "home")
    os.makedirs(home, exist_ok=True)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(registry(export if export is not None else EXPORT, IMPORT))
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    proc = subprocess.run([CADHOST, "--script", script, *args], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, errors="replace", timeout=timeout)
    return proc.returncode, proc.stdout + proc.stderr


def attribute_texts(path):
    doc = ezdxf.readfile(path)
    return {(e.dxf.handle, a.dxf.tag): a.dxf.text for e in doc.modelspace().query("INSERT") for a in e.attribs}


def handles_of(ws):
    return [ws.cell(row=r, column=1).comment.text.strip() for r in range(2, ws.max_row + 1)
            if ws.cell(row=r, column=1).comment]


def long_attribute(work):
    folder = tempfile.mkdtemp(dir=work)
    doc = ezdxf.new("R2000", setup=False)
    block = doc.blocks.new("LONG")
    block.add_attdef("A", (0, 0))
    block.add_attdef("B", (0, 5))
    handles = []
    for i, text in enumerate(["whole", "x" * (CELL_MOST + 1), "y" * CELL_MOST]):
        ref = doc.modelspace().add_blockref("LONG", (10 * i, 0))
        ref.add_attrib("A", "a%d" % i, (10 * i, 0))
        ref.add_attrib("B", text, (10 * i, 5))
        handles.append(ref.dxf.handle)
    drawing = os.path.join(folder, "long.dxf")
    doc.saveas(drawing)
    original = os.path.join(folder, "original.dxf")
    shutil.copy(drawing, original)

    status, out = cadhost(folder, ["TABRO", "Export2", "LONG"], [drawing])
    check(status == 1, "an export that left a reference out ended with status %d" % status)
    check("1 " + NOT_EXPORTED in out and "LONG, handle %s:" % handles[1] in out and "32768 characters" in out,
          "the box does not name the reference left out:\n" + out[-1500:])
    books = glob.glob(os.path.join(folder, "Book*.xlsx"))
    if not books:
        failures.append("no workbook:\n" + out[-1500:])
        return
    ws = load_workbook(books[0])["LONG"]
    check(handles_of(ws) == [handles[0], handles[2]], "rows of handles %s" % handles_of(ws))
    check(len(ws.cell(row=3, column=3).value or "") == CELL_MOST, "the longest text a cell holds is cut")

    status, out = cadhost(folder, ["TABRO", "Import", "SAVE"], ["--workbook", books[0], drawing])
    check(status == 0, "the untouched import ended with status %d:\n%s" % (status, out[-1500:]))
    check("0 references changed" in out, "the untouched import changed something:\n" + out[-1500:])
    check(attribute_texts(drawing) == attribute_texts(original), "the attributes changed in the drawing")
    with open(drawing, "rb") as a, open(original, "rb") as b:
        check(a.read() == b.read(), "the saved drawing differs from the original")


def invalid_utf8(work):
    folder = tempfile.mkdtemp(dir=work)
    doc = ezdxf.new("R2010", setup=False)
    block = doc.blocks.new("TAG")
    block.add_attdef("A", (0, 0))
    block.add_attdef("B", (0, 5))
    for i, (a, b) in enumerate([("MARKER-ONE", "fine"), ("plain", "MARKER-TWO")]):
        ref = doc.modelspace().add_blockref("TAG", (10 * i, 0))
        ref.add_attrib("A", a, (10 * i, 0))
        ref.add_attrib("B", b, (10 * i, 5))
    drawing = os.path.join(folder, "utf8.dxf")
    doc.saveas(drawing)
    with open(drawing, "rb") as f:
        data = f.read()
    data = data.replace(b"MARKER-ONE", b"bad\xff\xfe\xc3(x").replace(b"MARKER-TWO", b"cut \xe2\x82")
    with open(drawing, "wb") as f:
        f.write(data)

    status, out = cadhost(folder, ["TABRO", "Export2", "TAG"], [drawing])
    check(status == 0, "export of the R2010 drawing ended with status %d:\n%s" % (status, out[-1500:]))
    books = glob.glob(os.path.join(folder, "Book*.xlsx"))
    if not books:
        failures.append("no workbook:\n" + out[-1500:])
        return
    status, out = cadhost(folder, ["TABRO", "Import", "SAVE"], ["--workbook", books[0], drawing])
    check(status == 0 and "0 references changed" in out, "the untouched import changed something:\n" + out[-1500:])
    with open(drawing, "rb") as f:
        check(f.read() == data, "text that is not UTF-8 was rewritten by an untouched import")


def refused_before_writing(work):
    doc = ezdxf.new("R2000", setup=False)
    doc.blocks.new("DOOR").add_attdef("W", (0, 0))
    doc.modelspace().add_blockref("DOOR", (0, 0)).add_attrib("W", "900", (0, 0))

    # A start row no sheet has, as the registry may hold it.
    for row in (0x7FFFFFFF, -3):
        folder = tempfile.mkdtemp(dir=work)
        drawing = os.path.join(folder, "door.dxf")
        doc.saveas(drawing)
        status, out = cadhost(folder, ["TABRO", "Export2", "DOOR"], [drawing],
                              export=dict(EXPORT, WorksheetSettings=1, StartRow=row))
        check(status == 1, "start row %d: status %d" % (row, status))
        check("start at row %d, which no worksheet has" % row in out,
              "start row %d: no plain message:\n%s" % (row, out[-1500:]))
        check("COM error" not in out, "start row %d: a bare automation error:\n%s" % (row, out[-1500:]))
        check(not glob.glob(os.path.join(folder, "Book*.xlsx")), "start row %d: a workbook was made" % row)

    # More blocks than a workbook holds sheets: refused at once, nothing started.
    folder = tempfile.mkdtemp(dir=work)
    drawing = os.path.join(folder, "blocks.dxf")
    with open(drawing, "w") as f:
        f.write(many_blocks_dxf(4096))
    started = time.monotonic()
    status, out = cadhost(folder, ["TABRO", "Export2", ""], [drawing])
    check(status == 1 and "more than the 4096 a workbook holds" in out,
          "4096 blocks: status %d\n%s" % (status, out[-1500:]))
    check(time.monotonic() - started < 30, "the refusal came after the work")
    check(not glob.glob(os.path.join(folder, "Book*.xlsx")), "4096 blocks: a workbook was made")

    # A workbook open read-only (a chart sheet cannot be written back).
    folder = tempfile.mkdtemp(dir=work)
    drawing = os.path.join(folder, "door.dxf")
    doc.saveas(drawing)
    from openpyxl import Workbook
    from openpyxl.chart import BarChart, Reference
    wb = Workbook()
    wb.active["A1"] = 1
    chart = BarChart()
    chart.add_data(Reference(wb.active, min_col=1, min_row=1, max_row=1))
    wb.create_chartsheet("Chart").add_chart(chart)
    book = os.path.join(folder, "charted.xlsx")
    wb.save(book)
    with open(book, "rb") as f:
        before = f.read()
    status, out = cadhost(folder, ["TABRO", "Export2", "DOOR"], ["--workbook", book, drawing],
                          export=dict(EXPORT, WorkbookSettings=1))
    check(status == 1 and "is open read-only, so an export could not be kept in it" in out,
          "read-only workbook: status %d\n%s" % (status, out[-1500:]))
    with open(book, "rb") as f:
        check(f.read() == before, "the read-only workbook changed")


def many_blocks_dxf(n):
    """A plain DXF of n blocks with one attributed reference each."""
    parts = ["0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1015\n0\nENDSEC\n",
             "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nBLOCK_RECORD\n0\nBLOCK_RECORD\n5\n10\n2\n*Model_Space\n"]
    handle = 0x100
    for i in range(n):
        parts.append("0\nBLOCK_RECORD\n5\n%X\n2\nB%d\n" % (handle, i))
        handle += 1
    parts.append("0\nENDTAB\n0\nENDSEC\n0\nSECTION\n2\nBLOCKS\n"
                 "0\nBLOCK\n5\n20\n2\n*Model_Space\n0\nENDBLK\n5\n21\n")
    for i in range(n):
        parts.append("0\nBLOCK\n5\n%X\n8\n0\n2\nB%d\n70\n2\n10\n0\n20\n0\n30\n0\n"
                     "0\nATTDEF\n5\n%X\n8\n0\n10\n0\n20\n0\n30\n0\n40\n1\n1\n\n3\nT\n2\nT\n70\n0\n"
                     "0\nENDBLK\n5\n%X\n" % (handle, i, handle + 1, handle + 2))
        handle += 3
    parts.append("0\nENDSEC\n0\nSECTION\n2\nENTITIES\n")
    for i in range(n):
        parts.append("0\nINSERT\n5\n%X\n8\n0\n2\nB%d\n66\n1\n10\n0\n20\n0\n30\n0\n"
                     "0\nATTRIB\n5\n%X\n8\n0\n10\n0\n20\n0\n30\n0\n40\n1\n1\nv%d\n2\nT\n70\n0\n"
                     "0\nSEQEND\n5\n%X\n" % (handle, i, handle + 1, i, handle + 2))
        handle += 3
    parts.append("0\nENDSEC\n0\nEOF\n")
    return "".join(parts)


def unreadable_linked_workbook(work):
    folder = tempfile.mkdtemp(dir=work)
    doc = ezdxf.new("R2000", setup=False)
    doc.blocks.new("DOOR").add_attdef("W", (0, 0))
    doc.modelspace().add_blockref("DOOR", (0, 0)).add_attrib("W", "900", (0, 0))
    drawing = os.path.join(folder, "door.dxf")
    doc.saveas(drawing)
    status, out = cadhost(folder, ["TABRO", "Export2", "DOOR"], [drawing])
    books = glob.glob(os.path.join(folder, "Book*.xlsx"))
    if status != 0 or not books:
        failures.append("link: the export failed:\n" + out[-1500:])
        return

    # The file is spoiled once the session waits with the link on.
    home = os.path.join(folder, "home")
    script = os.path.join(folder, "link.scr")
    with open(script, "w") as f:
        f.write("TABRO\nConnect\nDELAY 1500\nDELAY 1500\n")
    env = dict(os.environ, CADHOST_HOME=home, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    proc = subprocess.Popen([CADHOST, "--script", script, "--workbook", books[0], drawing], cwd=folder, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    seen = b""
    while b"DELAY 1500" not in seen:
        chunk = proc.stdout.read1(4096)
        if not chunk:
            break
        seen += chunk
    with open(books[0], "wb") as f:
        f.write(b"no workbook here")
    rest, _ = proc.communicate(timeout=120)
    out = (seen + rest).decode(errors="replace")
    status = proc.returncode
    told = out.count("changed on disk but cannot be read")
    check(told == 1, "the unreadable workbook was told %d times:\n%s" % (told, out[-1500:]))
    check(status == 0, "the live link session ended with status %d" % status)


def case(part):
    def run():
        if not os.path.exists(CADHOST):
            print("cadhost not built at %s" % CADHOST)
            return 1
        failed = len(failures)
        with tempfile.TemporaryDirectory() as work:
            part(work)
        for f in failures[failed:]:
            print("FAIL:", f)
        print("%d failures" % (len(failures) - failed))
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    sys.exit(cases.run({part.__name__.replace("_", "-"): case(part)
                        for part in (long_attribute, invalid_utf8, refused_before_writing,
                                     unreadable_linked_workbook)}))
