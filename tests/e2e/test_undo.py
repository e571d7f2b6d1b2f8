#!/usr/bin/python3
"""End to end: U, UNDO and REDO in cadhost after the module changed the drawing.

A generated drawing is exported (TABRO Export2) and the workbook edited with
openpyxl (attribute texts, a move, a scale, a rotation, a layer). Then one cadhost
session saves the drawing, imports the workbook (TABRO Import), saves, undoes (U),
saves, redoes (REDO), saves, undoes with UNDO and a count, saves. The drawing saved
after each undo must be the one saved before the import, byte for byte, and after
the redo the one saved after it; dxf_same (a comparator we did not write) must find
the undone drawing tag for tag the one before, and ezdxf must read it back with the
original texts. The same runs on a binary DXF of the drawing (ezdxf writes it).

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
import tempfile
import uuid
import threading
import time

import ezdxf
from openpyxl import load_workbook

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
SHARED = os.environ.get("TABLORA_SHARED_DIR",
                        os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared"))
CADHOST = os.path.join(BIN, "cadhost")
GEN = os.path.join(SHARED, "peers", "gen_drawing.py")
DXF_SAME = os.path.join(SHARED, "tools", "dxf_same.py")
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


def dxf_same(a, b):
    proc = subprocess.run([PYTHON, DXF_SAME, a, b], capture_output=True, text=True, errors="replace")
    return proc.returncode == 0, (proc.stdout.strip() or proc.stderr.strip())


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


def main():
    # The drawing generator and the tag comparator stand in the shared folder.
    if not os.path.exists(GEN) or not os.path.exists(DXF_SAME):
        print("shared folder (peers/gen_drawing.py, tools/dxf_same.py) not found at %s: skipped" % SHARED)
        return 77
    if not os.path.exists(CADHOST):
        sys.exit(f"{CADHOST} not built")
    work = tempfile.mkdtemp(prefix="tabro-undo-e2e-")
    try:
        home = os.path.join(work, "home")
        os.makedirs(home)
        with open(os.path.join(home, "user.reg"), "w") as f:
            f.write(REGISTRY)
        drawing = os.path.join(work, "site.dxf")
        subprocess.run([PYTHON, GEN, "60", drawing], check=True, capture_output=True)
        # A fingerprint of its own (the generator writes zeros, which name no
        # drawing): the copies saved under other names below are the same drawing,
        # and import takes the workbook for theirs without asking.
        doc = ezdxf.readfile(drawing)
        doc.header["$FINGERPRINTGUID"] = "{%s}" % str(uuid.uuid4()).upper()
        doc.saveas(drawing)
        binary = os.path.join(work, "site-bin.dxf")
        ezdxf.readfile(drawing).saveas(binary, fmt="bin")
        run_cadhost(work, home, [drawing], ["TABRO", "Export2", ""])
        books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
        if not books:
            sys.exit("export wrote no workbook")
        book = os.path.join(work, books[0])
        pristine = os.path.join(work, "pristine.xlsx")
        shutil.copy(book, pristine)
        handles = edit_workbook(book)

        ascii_run = import_and_undo(work, home, drawing, book, handles, "ascii")
        same, said = dxf_same(ascii_run["before"], ascii_run["undone"])
        check(same, f"dxf_same: the undone drawing differs from the one before: {said}")
        original = numbers(drawing, handles)
        check(numbers(ascii_run["undone"], handles) == original, "ezdxf: undone texts are not the original ones")
        check(numbers(ascii_run["redone"], handles) == [f"UNDO-ME-{i}" for i in range(len(handles))],
              "ezdxf: redone texts are not the imported ones")

        # The binary copy gets a workbook of its own: the one imported above has its
        # record brought up to date with the ASCII drawing's new texts, and the same
        # cells would now read as unedited.
        book_bin = os.path.join(work, "binary.xlsx")
        shutil.copy(pristine, book_bin)
        edit_workbook(book_bin)
        binary_run = import_and_undo(work, home, binary, book_bin, handles, "binary")
        check(numbers(binary_run["undone"], handles) == original, "ezdxf: undone binary texts are not the original")

        live_link_undo(work, home, drawing, pristine)
    finally:
        if failures or os.environ.get("TABLORA_KEEP_E2E"):
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print("undo and redo: all cases passed")


if __name__ == "__main__":
    sys.exit(main())
