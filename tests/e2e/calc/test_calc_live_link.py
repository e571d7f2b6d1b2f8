#!/usr/bin/python3
"""End to end: the live link with LibreOffice Calc, cells typed by another program.

A generated drawing is exported into Calc. Then, for each case, cadhost opens a copy
of that workbook in the same office, runs TABRO Connect and waits (DELAY); meanwhile
a second UNO client, this test, types into the document in that office as a user
does (select the cell, .uno:EnterString) or pastes a block. cadhost then saves the
drawing and ezdxf checks that every typed text reached its attribute and nothing else
changed.

Cases: one cell; 24 cells typed 60 ms apart, so that typing goes on while the
first imports read the sheet; a typed cell undone once its import ran (the drawing gets the old
text back); a range cleared (Delete); several cells on two sheets (one of them
"0042", which stays text only in a cell formatted "@"); a pasted block of cells;
Connect twice; an X cell typed (the reference moves); typing after Disconnect, and after the module was unloaded while
connected (not applied); Export2 into a new workbook, then Connect in the same
session (the export's own writes are no changes; a cell typed then is one). A single typed cell must start exactly one import. Prints
the latency from the typed cell to the import starting (at most 1.5 s).
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import shutil  # noqa: E402
import statistics  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

import ezdxf  # noqa: E402
from openpyxl import load_workbook  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

import test_live_link as tl  # noqa: E402

LATENCY_TARGET = 1.5
failures = tl.failures
check = tl.check
latencies = []


def cell(row, column):
    return "%s%d" % (get_column_letter(column), row)


def live_case(soffice, work, home, drawing, book, original, name, edit, script_tail=(), expect_applied=True,
              delay_ms=6000, imports=None, timed=True):
    """cadhost connected to a copy of book in the office; edit(doc, session) types
    into the document there and returns (the expected attribute texts, when the first
    edit was made)."""
    live = os.path.join(work, "live-%s.xlsx" % name.replace(" ", "-"))
    shutil.copy(book, live)
    out = os.path.join(work, "out-%s.dxf" % name.replace(" ", "-"))
    lines = ["TABRO", "Connect", *script_tail, "DELAY %d" % int(delay_ms * office.SLOW), "SAVEAS " + out]
    session = tl.Session(work, home, [*office.calc_args(soffice.pipe), "--workbook", live, drawing], lines)
    try:
        if session.wait_for("Delay time in milliseconds", limit=60) is None:
            session.proc.kill()
            session.finish()
            check(False, "%s: cadhost never reached the wait:\n%s" % (name, session.text))
            return
        try:
            doc = soffice.find(live)
            expected, typed = edit(doc, session)
        except Exception as e:  # the office refused the user's edit: the case cannot judge
            check(False, "%s: typing into Calc failed: %s: %s" % (name, type(e).__name__, e))
            session.proc.kill()
            session.finish()
            return
        started = session.wait_for("_import2", limit=delay_ms / 1000.0) if expect_applied else None
    except BaseException:
        session.proc.kill()
        raise
    try:
        code = session.finish()
    except SystemExit as e:  # cadhost hung and was killed: the other cases still run
        check(False, "%s: %s" % (name, e))
        return
    check(code == 0, "%s: cadhost ended with %s:\n%s" % (name, code, session.text))
    check("Unhandled" not in session.text and "COM error" not in session.text,
          "%s: the session reported a problem:\n%s" % (name, session.text))
    runs = session.text.count("_import2")
    if expect_applied:
        check(started is not None, "%s: the typed change never reached the drawing:\n%s" % (name, session.text))
        if started is not None and timed:
            latency = started - typed
            latencies.append(latency)
            print("%s: import started %.3f s after the cell was typed" % (name, latency))
        if imports is not None:
            check(runs == imports, "%s: %d imports ran, expected %d:\n%s" % (name, runs, imports, session.text))
    else:
        check(runs == 0, "%s: imported although the link was off:\n%s" % (name, session.text))
    check(os.path.exists(out), "%s: nothing saved:\n%s" % (name, session.text))
    if os.path.exists(out):
        tl.check_result(name, original, out, expected if expect_applied else {})


def export_then_connect(soffice, work, home, drawing, original):
    """Export2 into a new workbook in Calc, then Connect in the same session: the
    export's own writes must not come back as changes; a cell typed afterwards must."""
    name = "export, then connect"
    books_before = set(n for n in os.listdir(work) if n.startswith("Book"))
    out = os.path.join(work, "out-export-then-connect.dxf")
    session = tl.Session(work, home, [*office.calc_args(soffice.pipe), drawing],
                         ["TABRO", "Export2", "DOOR_TAG", "TABRO", "Connect", "DELAY %d" % int(8000 * office.SLOW),
                          "SAVEAS " + out])
    if not check(session.wait_for("Delay time in milliseconds", limit=90) is not None,
                 "%s: cadhost never reached the wait:\n%s" % (name, session.text)):
        session.proc.kill()
        session.finish()
        return
    new = sorted(set(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx")) - books_before)
    if not check(len(new) == 1, "%s: the export stored %s" % (name, new)):
        session.proc.kill()
        session.finish()
        return
    quiet = session.wait_for("_import2", limit=2.0)
    check(quiet is None, "%s: the export's own writes came back as changes:\n%s" % (name, session.text))
    book = os.path.join(work, new[0])
    tags, rows, (h,) = tl.pick(load_workbook(book)["DOOR_TAG"], 1, None)
    doc = soffice.find(book)
    soffice.type_into(doc, "DOOR_TAG", cell(rows[h], tags["NUMBER"]), "AFTER-EXPORT")
    check(session.wait_for("_import2", limit=5.0) is not None, "%s: the typed cell never reached the drawing:\n%s" % (
        name, session.text))
    try:
        code = session.finish()
    except SystemExit as e:
        check(False, "%s: %s" % (name, e))
        return
    check(code == 0 and session.text.count("_import2") == 1, "%s: status %s, imports %d:\n%s" % (
        name, code, session.text.count("_import2"), session.text))
    if os.path.exists(out):
        tl.check_result(name, original, out, {(h, "NUMBER"): "AFTER-EXPORT"})


def main():
    with office.Office() as soffice, tempfile.TemporaryDirectory(prefix="tabro-calc-link-") as work:
        home = os.path.join(work, "home")
        os.makedirs(home)
        drawing = os.path.join(work, "site.dxf")
        subprocess.run(["/usr/bin/python3", tl.GEN, "60", drawing], check=True, capture_output=True)
        original = ezdxf.readfile(drawing)
        tl.run_script(work, home, [*office.calc_args(soffice.pipe), drawing], ["TABRO", "Export2", ""])
        books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
        if not books:
            print("FAIL: the export into Calc stored no workbook")
            return 1
        book = os.path.join(work, books[0])
        wb = load_workbook(book)
        check("DOOR_TAG" in wb.sheetnames and len(wb.sheetnames) >= 2, "sheets: %s" % wb.sheetnames)
        second = next(s for s in wb.sheetnames if s != "DOOR_TAG" and all(tl.layout_of(wb[s])))
        door_tags, door_rows, door_handles = tl.pick(wb["DOOR_TAG"], 4, None)
        other_tags, other_rows, other_handles = tl.pick(wb[second], 2, None)
        other_tag = next(iter(other_tags))

        def one_cell(doc, session):
            h = door_handles[0]
            soffice.type_into(doc, "DOOR_TAG", cell(door_rows[h], door_tags["NUMBER"]), "LIVE-1")
            return {(h, "NUMBER"): "LIVE-1"}, time.monotonic()

        def two_sheets(doc, session):
            expected, first = {}, None
            texts = ["N-0", "0042", "N-2"]
            for h, text in zip(door_handles, texts):
                soffice.type_into(doc, "DOOR_TAG", cell(door_rows[h], door_tags["NUMBER"]), text)
                first = first or time.monotonic()
                expected[(h, "NUMBER")] = text
            for i, h in enumerate(other_handles):
                text = "S-%d é" % i
                soffice.type_into(doc, second, cell(other_rows[h], other_tags[other_tag]), text)
                expected[(h, other_tag)] = text
            return expected, first

        def pasted_block(doc, session):
            rows = sorted(door_rows[h] for h in door_handles)
            check(rows == list(range(rows[0], rows[0] + len(rows))), "DOOR_TAG rows not consecutive: %s" % rows)
            check(door_tags["WIDTH"] == door_tags["TYPE"] + 1, "TYPE and WIDTH are not side by side")
            by_row = {door_rows[h]: h for h in door_handles}
            block = [["T%d" % r, "W%d" % r] for r in rows]
            soffice.paste_block(doc, "DOOR_TAG", cell(rows[0], door_tags["TYPE"]), block)
            typed = time.monotonic()
            expected = {}
            for r, (t, w) in zip(rows, block):
                expected[(by_row[r], "TYPE")] = t
                expected[(by_row[r], "WIDTH")] = w
            return expected, typed

        def undone(doc, session):
            h = door_handles[1]
            where = cell(door_rows[h], door_tags["NUMBER"])
            before = soffice.cell_text(doc, "DOOR_TAG", where)
            soffice.type_into(doc, "DOOR_TAG", where, "TO-BE-UNDONE")
            typed = time.monotonic()
            check(session.wait_for("_import2", limit=5) is not None, "undo: the typed cell was never imported")
            # The echo comes before the import reads the cell; typing during an
            # import is the burst case's business.
            time.sleep(1.5)
            soffice.dispatcher.executeDispatch(doc.getCurrentController().getFrame(), ".uno:Undo", "", 0, ())
            check(soffice.cell_text(doc, "DOOR_TAG", where) != "TO-BE-UNDONE", "undo: Calc did not undo")
            check(session.wait_for("_import2", count=2, limit=5) is not None,
                  "undo: the undone cell was never imported again")
            # The text written back is the old one; its field length may be new.
            return {(h, "NUMBER"): before}, typed

        def cleared(doc, session):
            first, last = door_handles[2], door_handles[3]
            soffice.select(doc, "DOOR_TAG", "%s:%s" % (cell(door_rows[first], door_tags["TYPE"]),
                                                        cell(door_rows[last], door_tags["WIDTH"])))
            soffice.dispatcher.executeDispatch(doc.getCurrentController().getFrame(), ".uno:ClearContents", "", 0,
                                               (office.prop("Flags", "A"),))
            typed = time.monotonic()
            return {(h, tag): "" for h in (first, last) for tag in ("TYPE", "WIDTH")}, typed

        def burst(doc, session):
            """Typing on while the imports of the first cells run: every cell of
            the door rows' NUMBER, TYPE and WIDTH columns, 60 ms apart."""
            expected, first = {}, None
            _, rows, handles = tl.pick(wb["DOOR_TAG"], 8, None)
            for h in handles:
                for tag in ("NUMBER", "TYPE", "WIDTH"):
                    text = "B-%s-%d" % (tag[0], rows[h])
                    soffice.type_into(doc, "DOOR_TAG", cell(rows[h], door_tags[tag]), text)
                    first = first or time.monotonic()
                    expected[(h, tag)] = text
                    time.sleep(0.06)
            return expected, first

        def x_typed(doc, session):
            """The X cell of a door row typed as a number: the reference moves."""
            ws = wb["DOOR_TAG"]
            _, rows, (h,) = tl.pick(ws, 1, None)
            x = tl.property_columns(ws)["x"]
            new = round(float(ws.cell(rows[h], x).value) + 250.5, 3)
            soffice.type_into(doc, "DOOR_TAG", cell(rows[h], x), "%.3f" % new)
            point = original.entitydb[h].dxf.insert
            return {(h, None): (new, point.y, point.z)}, time.monotonic()

        live_case(soffice, work, home, drawing, book, original, "one cell", one_cell, imports=1)
        # Properties are applied live when the import applies them (IgnoreProps off).
        props_home = os.path.join(work, "home-props")
        os.makedirs(props_home)
        with open(os.path.join(props_home, "user.reg"), "w") as f:
            f.write(tl.PROPERTIES_APPLIED)
        live_case(soffice, work, props_home, drawing, book, original, "a property cell", x_typed, imports=1)
        live_case(soffice, work, home, drawing, book, original, "typing on while imports run", burst)
        live_case(soffice, work, home, drawing, book, original, "typed, then undone", undone, imports=2,
                  timed=False)
        live_case(soffice, work, home, drawing, book, original, "a range cleared", cleared)
        live_case(soffice, work, home, drawing, book, original, "several cells on two sheets", two_sheets)
        live_case(soffice, work, home, drawing, book, original, "a pasted block", pasted_block)
        live_case(soffice, work, home, drawing, book, original, "connect twice", one_cell, ["TABRO", "Connect"],
                  imports=1)
        live_case(soffice, work, home, drawing, book, original, "after disconnect", one_cell,
                  ["TABRO", "Disconnect"], expect_applied=False, delay_ms=3000)
        # The module is gone while the office still knows its subscription: a typed
        # cell must find nobody to call, not code that was unloaded.
        live_case(soffice, work, home, drawing, book, original, "unloaded while connected", one_cell,
                  ["ARXUNLOAD tabro"], expect_applied=False, delay_ms=3000)

        export_then_connect(soffice, work, home, drawing, original)

        if latencies:
            worst = max(latencies)
            print("latency typed cell -> import: median %.3f s, worst %.3f s over %d cases" % (
                statistics.median(latencies), worst, len(latencies)))
            check(statistics.median(latencies) <= LATENCY_TARGET * office.SLOW,
                  "latency %.3f s (median) above %.1f s" % (statistics.median(latencies), LATENCY_TARGET))
        strays = office.office_processes(work)
        check(not strays, "cadhost started offices of its own although one answered: %s" % strays)
        office.kill_pids(strays)
        check(soffice.alive(), "the office cadhost attached to no longer answers")
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
