#!/usr/bin/python3
"""End to end: the live link, with the workbook changed by a program we did not write.

A generated drawing is exported (TABRO Export2). Then cadhost opens the drawing with
the workbook, runs TABRO Connect and waits (DELAY); meanwhile openpyxl changes the
workbook file on disk. The spreadsheet stand-in reloads it and raises a change event
per changed cell, the link queues them, and the timer sends "tabro / _import2" to
the idle drawing, which is saved at the end of the script. ezdxf then checks that
every edited attribute holds the new text and that nothing else changed.

Cases: one cell; several cells on two sheets; a block of cells; edits after
Disconnect (not applied); Connect twice (each edit applied once); unloading the
module while connected (the session still ends normally, nothing applied); an X
cell typed as a number with properties applied (the reference moves, its attributes
with it).
Prints the latency from the file landing on disk to the import starting.
"""
import os
import queue
import shutil
import subprocess
import sys
import threading
import time

import ezdxf
from ezdxf.math import Vec3
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_import import property_columns, same_attribs  # noqa: E402  (one definition of "unchanged")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import cases  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
GEN = shared_data.MAKE_DRAWING
# Sanitizer builds run several times slower; the waits scale with them.
SLOW = float(os.environ.get("TABLORA_TIME_SCALE", "1"))

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run_script(work, home, args, lines, timeout=600):
    script = os.path.join(work, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    proc = subprocess.run([CADHOST, "--script", script, *args], cwd=work, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    if proc.returncode != 0:
        sys.exit(f"cadhost {' '.join(args)} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc.stdout


class Session:
    """A cadhost running a script, its output read as it comes."""

    def __init__(self, work, home, args, lines):
        script = os.path.join(work, "live.scr")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        env = dict(os.environ, CADHOST_HOME=home)
        self.proc = subprocess.Popen([CADHOST, "--script", script, *args], cwd=work, env=env,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self.text = ""
        self.chunks = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        # Raw reads: a prompt is not followed by a line break until it is answered.
        while chunk := os.read(self.proc.stdout.fileno(), 65536):
            self.chunks.put(chunk.decode("utf-8", "replace"))
        self.chunks.put(None)

    def wait_for(self, needle, count=1, limit=30.0):
        """Until the output holds needle `count` times; the time it appeared."""
        deadline = time.monotonic() + limit * SLOW
        while self.text.count(needle) < count:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                chunk = self.chunks.get(timeout=left)
            except queue.Empty:
                return None
            if chunk is None:
                return None
            self.text += chunk
        return time.monotonic()

    def finish(self):
        try:
            code = self.proc.wait(timeout=120 * SLOW)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            sys.exit(f"cadhost did not end:\n{self.text}")
        self.wait_for("\0", limit=5)  # drain what is left
        return code


def layout_of(ws):
    """Tag columns (header cells without a comment) and the rows by handle."""
    tags = {c.value: c.column for c in ws[1][1:]
            if c.value and (c.comment is None or not c.comment.text.startswith("Tablora property"))}
    rows = {}
    for r in range(2, ws.max_row + 1):
        comment = ws.cell(r, 1).comment
        if comment is not None:
            rows[comment.text.strip()] = r
    return tags, rows


def entities(doc):
    out = {}
    for block in doc.blocks:
        for e in block:
            out[e.dxf.handle] = e
            if e.dxftype() == "INSERT":
                for a in e.attribs:
                    out[a.dxf.handle] = a
    return out


# The import settings of a case that applies properties: an Export key of its own
# keeps the export settings at their defaults (every property column).
PROPERTIES_APPLIED = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"IgnoreProps"=dword:00000000
"""


def check_moved(case, before, moved, insert, edited):
    """The reference `moved` stands at `insert` and is otherwise as `before` was; its
    attributes keep their texts and moved with it."""
    h = before.dxf.handle
    check(Vec3(moved.dxf.insert).isclose(Vec3(insert), abs_tol=1e-9),
          f"{case}: {h} stands at {tuple(moved.dxf.insert)}, expected {tuple(insert)}")
    check(same_attribs(before, moved, skip=("insert",)), f"{case}: {h} changed beyond its insertion point")
    shift = Vec3(moved.dxf.insert) - Vec3(before.dxf.insert)
    was, now = list(before.attribs), list(moved.attribs)
    check(len(was) == len(now), f"{case}: {h} has {len(now)} attributes, had {len(was)}")
    for a, b in zip(was, now):
        check(a.dxf.text == b.dxf.text, f"{case}: {h} {a.dxf.tag} = {b.dxf.text!r}, was {a.dxf.text!r}")
        check(Vec3(b.dxf.insert).isclose(Vec3(a.dxf.insert) + shift, abs_tol=1e-6),
              f"{case}: {h} {a.dxf.tag} at {tuple(b.dxf.insert)}, did not move with its reference")
        edited.add(b.dxf.handle)
    edited.add(h)


def check_result(case, original, saved_path, expected):
    """expected: {(reference handle, tag): text}, and {(reference handle, None): the
    insertion point} for a reference moved. Every other entity unchanged."""
    saved = ezdxf.readfile(saved_path)
    before, after = entities(original), entities(saved)
    check(before.keys() == after.keys(), f"{case}: entities added or lost")
    edited = set()
    for (h, tag), text in expected.items():
        if tag is None:
            check_moved(case, before[h], saved.entitydb[h], text, edited)
            continue
        got = [a for a in saved.entitydb[h].attribs if a.dxf.tag == tag]
        check([a.dxf.text for a in got] == [text], f"{case}: {h} {tag} = {[a.dxf.text for a in got]!r}, expected {text!r}")
        edited.update(a.dxf.handle for a in got)
    for h, e in before.items():
        if h in after and h not in edited and not same_attribs(e, after[h]):
            check(False, f"{case}: {h} ({e.dxftype()}) changed although nobody edited it")


def pick(ws, count, tag):
    tags, rows = layout_of(ws)
    handles = [h for h, _ in sorted(rows.items(), key=lambda kv: kv[1])]
    return tags, rows, handles[:count]


def live_case(work, home, drawing, book, original, name, edit, script_tail=None, expect_applied=True,
              delay_ms=4000):
    """Runs cadhost connected; edit(path) changes the workbook on disk and returns the
    expected attribute texts."""
    shutil.copy(book, os.path.join(work, "live.xlsx"))
    live = os.path.join(work, "live.xlsx")
    out = os.path.join(work, "out-" + name.replace(" ", "-") + ".dxf")
    lines = ["TABRO", "Connect"] + (script_tail or []) + [f"DELAY {int(delay_ms * SLOW)}", f"SAVEAS {out}"]
    session = Session(work, home, ["--workbook", live, drawing], lines)
    if session.wait_for("Delay time in milliseconds") is None:
        session.finish()
        sys.exit(f"{name}: cadhost never reached the wait:\n{session.text}")
    expected = edit(live)
    landed = time.monotonic()
    started = session.wait_for("_import2", limit=delay_ms / 1000.0) if expect_applied else None
    code = session.finish()
    check(code == 0, f"{name}: cadhost ended with {code}:\n{session.text}")
    check("Unhandled" not in session.text and "COM error" not in session.text,
          f"{name}: the session reported a problem:\n{session.text}")
    if expect_applied:
        check(started is not None, f"{name}: the change never reached the drawing:\n{session.text}")
        if started is not None:
            print(f"{name}: import started {started - landed:.3f} s after the workbook landed")
    else:
        check("_import2" not in session.text, f"{name}: imported although it should not:\n{session.text}")
    check(os.path.exists(out), f"{name}: nothing saved")
    if os.path.exists(out):
        check_result(name, original, out, expected if expect_applied else {})


def one_cell(path):
    wb = load_workbook(path)
    tags, rows, (h,) = pick(wb["DOOR_TAG"], 1, "NUMBER")
    wb["DOOR_TAG"].cell(rows[h], tags["NUMBER"]).value = "LIVE-1"
    wb.save(path)
    return {(h, "NUMBER"): "LIVE-1"}


def two_sheets(path):
    wb = load_workbook(path)
    second = next(s for s in wb.sheetnames if s != "DOOR_TAG" and layout_of(wb[s])[0] and layout_of(wb[s])[1])
    expected = {}
    tags, rows, handles = pick(wb["DOOR_TAG"], 3, "NUMBER")
    for i, h in enumerate(handles):
        wb["DOOR_TAG"].cell(rows[h], tags["NUMBER"]).value = f"N-{i}"
        expected[(h, "NUMBER")] = f"N-{i}"
    ws = wb[second]
    tags, rows, handles = pick(ws, 2, None)
    tag = next(iter(tags))
    for i, h in enumerate(handles):
        ws.cell(rows[h], tags[tag]).value = f"S-{i} é"
        expected[(h, tag)] = f"S-{i} é"
    wb.save(path)
    return expected


def block(path):
    wb = load_workbook(path)
    ws = wb["DOOR_TAG"]
    tags, rows, handles = pick(ws, 4, "NUMBER")
    expected = {}
    for h in handles:
        for tag in ("TYPE", "WIDTH"):
            text = f"{tag[0]}{rows[h]}"
            ws.cell(rows[h], tags[tag]).value = text
            expected[(h, tag)] = text
    wb.save(path)
    return expected


def x_cell(path):
    """The X cell of the first DOOR_TAG row, typed as a number."""
    wb = load_workbook(path)
    ws = wb["DOOR_TAG"]
    _, rows, (h,) = pick(ws, 1, None)
    x = property_columns(ws)["x"]
    old = ws.cell(rows[h], x).value
    new = float(old) + 250.5
    ws.cell(rows[h], x).value = new
    wb.save(path)
    point = ezdxf.readfile(os.path.join(os.path.dirname(path), "site.dxf")).entitydb[h].dxf.insert
    return {(h, None): (new, point.y, point.z)}


# Each case: (name, the edit, script lines after Connect, applied?, delay in ms, and
# optionally the user's registry).
LIVE_CASES = [
    ("one cell", one_cell, None, True, 4000),
    ("several cells on two sheets", two_sheets, None, True, 4000),
    ("a block of cells", block, None, True, 4000),
    ("connect twice", one_cell, ["TABRO", "Connect"], True, 4000),
    ("after disconnect", one_cell, ["TABRO", "Disconnect"], False, 2500),
    ("unloaded while connected", one_cell, ["ARXUNLOAD tabro"], False, 2500),
    ("a property cell", x_cell, None, True, 4000, PROPERTIES_APPLIED),
]


def case(name, edit, script_tail, expect_applied, delay_ms, registry=None):
    """A generated drawing exported, then one live case on it."""
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"{CADHOST} not built")

        def body(work):
            home = os.path.join(work, "home")
            os.makedirs(home)
            if registry:
                with open(os.path.join(home, "user.reg"), "w") as f:
                    f.write(registry)
            drawing = os.path.join(work, "site.dxf")
            subprocess.run(["/usr/bin/python3", GEN, "60", drawing], check=True, capture_output=True)
            original = ezdxf.readfile(drawing)
            run_script(work, home, [drawing], ["TABRO", "Export2", ""])
            books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
            if not books:
                sys.exit("export wrote no workbook")
            book = os.path.join(work, books[0])
            sheets = load_workbook(book).sheetnames
            check("DOOR_TAG" in sheets and len(sheets) >= 2, f"sheets: {sheets}")
            live_case(work, home, drawing, book, original, name, edit, script_tail, expect_applied, delay_ms)
            # live.xlsx is written by openpyxl, standing in for the user's program.
            ooxml.validate_written(work, failures, "live link", pattern="Book*.xlsx")

        return cases.in_work_folder("tabro-link-e2e-", failures, f"live link, {name}", body)
    return run


if __name__ == "__main__":
    sys.exit(cases.run({c[0].replace(" ", "-"): case(*c) for c in LIVE_CASES}))
