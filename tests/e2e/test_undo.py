#!/usr/bin/python3
"""End to end: U, UNDO and REDO in cadhost after the module changed the drawing.

A generated drawing is exported (TABRO Export2) and the workbook edited with
openpyxl (attribute texts, a move, a scale, a rotation, a layer). Then one cadhost
session saves the drawing, imports the workbook (TABRO Import), saves, undoes (U),
saves, redoes (REDO), saves, undoes with UNDO and a count, saves. The drawing saved
after each undo must be the one saved before the import, byte for byte, and after
the redo the one saved after it; tools/dxf_compare.py (a reader of its own, apart
from cadhost's) must find the undone drawing tag for tag the one before, and ezdxf
must read it back with the original texts. The same runs on a binary DXF of the drawing (ezdxf writes it).

Then the live link: TABRO Connect, a cell changed on disk while DELAY waits (the
link's timer sends "tabro / _import2"), U and a save: the drawing is the one saved
before the edit arrived.
"""
import filecmp
import os
import queue
import shutil
import subprocess
import sys
import uuid
import threading
import time

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
GEN = shared_data.MAKE_DRAWING
PYTHON = "/usr/bin/python3"
# Sanitizer builds run several times slower; the waits scale with them.
SLOW = float(os.environ.get("TABLORA_TIME_SCALE", "1"))

REGISTRY = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"ImportSettings"=dword:00000001
"IgnoreProps"=dword:00000000
"StartCol"=dword:00000001
"StartRow"=dword:00000002
"""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run_cadhost(work, home, args, lines):
    script = os.path.join(work, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    proc = subprocess.run([CADHOST, "--script", script, *args], cwd=work, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    if proc.returncode != 0:
        sys.exit(f"cadhost {' '.join(args)} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc.stdout


def same_bytes(a, b):
    return os.path.exists(a) and os.path.exists(b) and filecmp.cmp(a, b, shallow=False)


def dxf_compare(a, b):
    return shared_data.dxf_compare(a, b)


def handle_rows(ws):
    """Row of each reference's handle (the comment of the row's first cell), and
    the column of each header."""
    rows = {ws.cell(r, 1).comment.text.strip(): r
            for r in range(2, ws.max_row + 1) if ws.cell(r, 1).comment is not None}
    cols = {c.value: c.column for c in ws[1] if c.value}
    return rows, cols


def edit_workbook(book):
    """Edits DOOR_TAG as a user would; returns the handles whose NUMBER changed."""
    wb = load_workbook(book)
    ws = wb["DOOR_TAG"]
    rows, cols = handle_rows(ws)
    handles = [h for h, _ in sorted(rows.items(), key=lambda kv: kv[1])][:6]
    for i, h in enumerate(handles):
        ws.cell(rows[h], cols["NUMBER"]).value = f"UNDO-ME-{i}"
    # Properties: the columns carrying a comment, in the export's order
    # X, Y, Z, rotation, scale X, Y, Z, layer.
    props = [c.column for c in ws[1] if c.comment is not None and c.comment.text.startswith("Tablora property")]
    if len(props) == 8:
        x, _, _, rot, sx, _, _, layer = props
        ws.cell(rows[handles[0]], x).value = "12345.5"
        ws.cell(rows[handles[1]], rot).value = "33"
        ws.cell(rows[handles[2]], sx).value = "2"
        ws.cell(rows[handles[3]], layer).value = "A-GLAZ"
    else:
        check(False, f"DOOR_TAG has {len(props)} property columns")
    wb.save(book)
    return handles


def numbers(path, handles):
    doc = ezdxf.readfile(path)
    return [next((a.dxf.text for a in doc.entitydb[h].attribs if a.dxf.tag == "NUMBER"), None) for h in handles]


def import_and_undo(work, home, drawing, book, handles, label):
    """One session: save, import, save, U, save, REDO, save, UNDO 3, save."""
    names = {s: os.path.join(work, f"{label}-{s}.dxf") for s in ("before", "after", "undone", "redone", "undone2")}
    out = run_cadhost(work, home, ["--workbook", book, drawing], [
        f"SAVEAS {names['before']}", "TABRO", "Import", f"SAVEAS {names['after']}",
        "U", f"SAVEAS {names['undone']}", "REDO", f"SAVEAS {names['redone']}",
        "UNDO", "3", f"SAVEAS {names['undone2']}", "REDO", "REDO"])
    check("references changed" in out, f"{label}: the import changed nothing:\n{out}")
    check("\nCommand: U\nTABRO\n" in out, f"{label}: U did not name TABRO:\n{out}")
    check("\nCommand: REDO\nTABRO\n" in out, f"{label}: REDO did not name TABRO:\n{out}")
    check("<1>: 3\nTABRO\nEverything has been undone" in out, f"{label}: UNDO 3:\n{out}")
    check(out.count("Nothing to redo.") == 1, f"{label}: the second REDO after UNDO found something:\n{out}")
    check(not same_bytes(names["before"], names["after"]), f"{label}: the import left the file as it was")
    check(same_bytes(names["before"], names["undone"]), f"{label}: U did not give back the drawing saved before")
    check(same_bytes(names["after"], names["redone"]), f"{label}: REDO did not give back the drawing saved after")
    check(same_bytes(names["before"], names["undone2"]), f"{label}: UNDO 3 did not give back the drawing")
    return names


def live_link_undo(work, home, drawing, book):
    live = os.path.join(work, "live.xlsx")
    shutil.copy(book, live)
    before, undone = os.path.join(work, "live-before.dxf"), os.path.join(work, "live-undone.dxf")
    delay_ms = int(4000 * SLOW)
    script = os.path.join(work, "live.scr")
    with open(script, "w") as f:
        f.write("\n".join([f"SAVEAS {before}", "TABRO", "Connect", f"DELAY {delay_ms}", "U",
                           f"SAVEAS {undone}"]) + "\n")
    proc = subprocess.Popen([CADHOST, "--script", script, "--workbook", live, drawing], cwd=work,
                            env=dict(os.environ, CADHOST_HOME=home), stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    chunks = queue.Queue()

    def read():
        # Raw reads: a prompt is not followed by a line break until it is answered.
        while chunk := os.read(proc.stdout.fileno(), 65536):
            chunks.put(chunk.decode("utf-8", "replace"))
        chunks.put(None)

    threading.Thread(target=read, daemon=True).start()
    text = ""
    deadline = time.monotonic() + 60 * SLOW
    while "Delay time in milliseconds" not in text and time.monotonic() < deadline:
        try:
            chunk = chunks.get(timeout=1)
        except queue.Empty:
            continue
        if chunk is None:
            break
        text += chunk
    if "Delay time in milliseconds" in text:
        wb = load_workbook(live)
        ws = wb["DOOR_TAG"]
        rows, cols = handle_rows(ws)
        first = min(rows, key=rows.get)
        ws.cell(rows[first], cols["NUMBER"]).value = "LIVE-UNDO"
        wb.save(live)
    try:
        proc.wait(timeout=120 * SLOW)
    except subprocess.TimeoutExpired:
        proc.kill()
        sys.exit(f"live link: cadhost did not end:\n{text}")
    while (chunk := chunks.get(timeout=10)) is not None:
        text += chunk
    check(proc.returncode == 0, f"live link: cadhost ended with {proc.returncode}:\n{text}")
    check("_import2" in text, f"live link: the edit never reached the drawing:\n{text}")
    check("\nCommand: U\nTABRO\n" in text, f"live link: U did not undo the link's TABRO:\n{text}")
    check(same_bytes(before, undone), "live link: U did not give back the drawing saved before the edit")


class Setup:
    """A generated drawing (with a binary copy) exported into a workbook, in a folder
    of its own."""

    def __init__(self, work):
        self.work = work
        self.home = os.path.join(work, "home")
        os.makedirs(self.home)
        with open(os.path.join(self.home, "user.reg"), "w") as f:
            f.write(REGISTRY)
        self.drawing = os.path.join(work, "site.dxf")
        subprocess.run([PYTHON, GEN, "60", self.drawing], check=True, capture_output=True)
        # A fingerprint of its own (the generator writes zeros, which name no
        # drawing): the copies saved under other names below are the same drawing,
        # and import takes the workbook for theirs without asking.
        doc = ezdxf.readfile(self.drawing)
        doc.header["$FINGERPRINTGUID"] = "{%s}" % str(uuid.uuid4()).upper()
        doc.saveas(self.drawing)
        self.binary = os.path.join(work, "site-bin.dxf")
        ezdxf.readfile(self.drawing).saveas(self.binary, fmt="bin")
        run_cadhost(work, self.home, [self.drawing], ["TABRO", "Export2", ""])
        books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
        if not books:
            sys.exit("export wrote no workbook")
        self.pristine = os.path.join(work, books[0])

    def edited(self, name):
        """A copy of the exported workbook, edited; and the handles whose NUMBER changed."""
        book = os.path.join(self.work, name)
        shutil.copy(self.pristine, book)
        return book, edit_workbook(book)


def ascii_drawing(s):
    book, handles = s.edited("ascii.xlsx")
    original = numbers(s.drawing, handles)
    ascii_run = import_and_undo(s.work, s.home, s.drawing, book, handles, "ascii")
    same, said = dxf_compare(ascii_run["before"], ascii_run["undone"])
    check(same, f"dxf_compare: the undone drawing differs from the one before: {said}")
    check(numbers(ascii_run["undone"], handles) == original, "ezdxf: undone texts are not the original ones")
    check(numbers(ascii_run["redone"], handles) == [f"UNDO-ME-{i}" for i in range(len(handles))],
          "ezdxf: redone texts are not the imported ones")


def binary_drawing(s):
    book, handles = s.edited("binary.xlsx")
    original = numbers(s.drawing, handles)
    binary_run = import_and_undo(s.work, s.home, s.binary, book, handles, "binary")
    check(numbers(binary_run["undone"], handles) == original, "ezdxf: undone binary texts are not the original")


def live_link(s):
    live_link_undo(s.work, s.home, s.drawing, s.pristine)


def case(part):
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"{CADHOST} not built")
        return cases.in_work_folder("tabro-undo-e2e-", failures, f"undo and redo, {part.__name__}",
                                    lambda work: part(Setup(work)))
    return run


if __name__ == "__main__":
    sys.exit(cases.run({part.__name__.replace("_", "-"): case(part)
                        for part in (ascii_drawing, binary_drawing, live_link)}))
