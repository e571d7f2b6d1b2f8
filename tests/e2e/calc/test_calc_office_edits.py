#!/usr/bin/python3
"""End to end: edits made with the office's own tools reach the drawing, once each.

LibreOffice tells typed, pasted and cleared cells one by one, but Fill Down, Fill
Right and Replace All only as "the document was modified", and a cut not at all for
the cells it empties. With the live link connected, a second UNO client (this test,
the user at the keyboard) dispatches those commands on the document cadhost has
open in the same office; cadhost saves the drawing when its wait ends, and ezdxf
checks that every changed cell reached its attribute and nothing else changed.

Exactly once: each edit must start one import (cadhost echoes "_import2" for each),
and no further import may follow it: a cell told twice, or the module's own writes
(the record it updates after an import, the cells an export wrote) coming back as
changes, would start another.

Cases:
  each-edit      in a workbook cadhost opened for the drawing (--workbook), one
                 after the other: Fill Down over three rows (below two inserted
                 rows, which, like their removal, must bring no import), a sheet
                 removed and another renamed (no import either), Fill Right along
                 a row, Replace All changing several cells at once, and a cell cut
                 and pasted into another row (both rows reach the drawing, the one
                 emptied too).
  after-export   Export2 into a new workbook and Connect in one session: the
                 export's own writes are not applied back; a fill then is.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
import cases  # noqa: E402

import shutil  # noqa: E402
import subprocess  # noqa: E402
import time  # noqa: E402

import ezdxf  # noqa: E402
from openpyxl import load_workbook  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

import test_live_link as tl  # noqa: E402

failures = tl.failures


def check(condition, what):
    """Notes a failure; returns whether the condition held."""
    tl.check(condition, what)
    return bool(condition)

# After an edit's import started, a second one would come within the link's
# one-second tick and the backend's quarter-second look: this much quiet says none comes.
QUIET = 2.5
# Replace All's search, whole text or within a cell's text, on the active sheet only.
REPLACE_ALL = 3


def cell(row, column):
    return "%s%d" % (get_column_letter(column), row)


def dispatch(soffice, doc, command, *args):
    soffice.dispatcher.executeDispatch(doc.getCurrentController().getFrame(), command, "", 0, tuple(args))


def replace_all(soffice, doc, sheet, search, replace):
    """Edit > Find & Replace, Replace All, on the sheet: the search item's fields as
    the dialog hands them over."""
    soffice.select(doc, sheet, "A1")
    p = office.prop
    dispatch(soffice, doc, ".uno:ExecuteSearch",
             p("SearchItem.StyleFamily", 2), p("SearchItem.CellType", 0), p("SearchItem.RowDirection", True),
             p("SearchItem.AllTables", False), p("SearchItem.Backward", False), p("SearchItem.Pattern", False),
             p("SearchItem.Content", False), p("SearchItem.AsianOptions", False),
             p("SearchItem.AlgorithmType", 0), p("SearchItem.SearchFlags", 0),
             p("SearchItem.SearchString", search), p("SearchItem.ReplaceString", replace),
             p("SearchItem.Locale", 255), p("SearchItem.ChangedChars", 2), p("SearchItem.DeletedChars", 2),
             p("SearchItem.InsertedChars", 2), p("SearchItem.TransliterateFlags", 1280),
             p("SearchItem.Command", REPLACE_ALL), p("SearchItem.SearchFormatted", False),
             p("SearchItem.AlgorithmType2", 1), p("Quiet", True))


def door_rows(book):
    """DOOR_TAG's tag columns, its rows by handle, and the handles in row order."""
    ws = load_workbook(book)["DOOR_TAG"]
    tags, rows = tl.layout_of(ws)
    handles = [h for h, _ in sorted(rows.items(), key=lambda kv: kv[1])]
    return ws, tags, rows, handles


def consecutive(rows, handles, count):
    """The first `count` handles on consecutive rows."""
    for i in range(len(handles) - count + 1):
        run = handles[i:i + count]
        if [rows[h] for h in run] == list(range(rows[run[0]], rows[run[0]] + count)):
            return run
    raise AssertionError("no %d DOOR_TAG rows in a row" % count)


def applied_once(session, name, before, edited_at):
    """The edit started exactly one import; returns whether it did."""
    started = session.wait_for("_import2", count=before + 1, limit=8.0)
    if not check(started is not None, "%s: the edit never reached the drawing:\n%s" % (name, session.text)):
        return False
    print("%s: import started %.3f s after the edit" % (name, started - edited_at))
    again = session.wait_for("_import2", count=before + 2, limit=QUIET)
    return check(again is None, "%s: a second import followed the edit:\n%s" % (name, session.text))


class Live:
    """cadhost connected to the workbook, waiting (DELAY) while the test edits it."""

    running = []  # sessions a failed case leaves behind are ended with it

    def __init__(self, soffice, work, home, drawing, name, script, workbook=None):
        self.name = name
        self.out = os.path.join(work, "out-%s.dxf" % name)
        args = [*office.calc_args(soffice.pipe)] + (["--workbook", workbook] if workbook else []) + [drawing]
        self.session = tl.Session(work, home, args, [*script, "SAVEAS " + self.out])
        Live.running.append(self.session)

    def wait(self):
        if self.session.wait_for("Delay time in milliseconds", limit=90) is None:
            self.session.proc.kill()
            self.session.finish()
            check(False, "%s: cadhost never reached the wait:\n%s" % (self.name, self.session.text))
            return False
        return True

    def imports(self):
        return self.session.text.count("_import2")

    def finish(self, original, expected, imports):
        try:
            code = self.session.finish()
        except SystemExit as e:  # cadhost hung and was killed
            check(False, "%s: %s" % (self.name, e))
            return
        text = self.session.text
        check(code == 0, "%s: cadhost ended with %s:\n%s" % (self.name, code, text))
        check("Unhandled" not in text and "COM error" not in text,
              "%s: the session reported a problem:\n%s" % (self.name, text))
        check(self.imports() == imports, "%s: %d imports ran, expected %d:\n%s" % (
            self.name, self.imports(), imports, text))
        if check(os.path.exists(self.out), "%s: nothing saved:\n%s" % (self.name, text)):
            tl.check_result(self.name, original, self.out, expected)


def with_office(name, body):
    """A case: an office of its own, a generated drawing, and body(soffice, work,
    home, drawing, original)."""
    def run():
        def in_folder(work):
            with office.Office() as soffice:
                home = os.path.join(work, "home")
                os.makedirs(home)
                drawing = os.path.join(work, "site.dxf")
                subprocess.run(["/usr/bin/python3", tl.GEN, "60", drawing], check=True, capture_output=True)
                try:
                    body(soffice, work, home, drawing, ezdxf.readfile(drawing))
                except Exception as e:  # the office refused an edit or a look: the case cannot judge
                    check(False, "%s: %s: %s" % (name, type(e).__name__, e))
                finally:
                    for session in Live.running:
                        if session.proc.poll() is None:
                            session.proc.kill()
                            session.proc.wait()
                strays = office.office_processes(work)
                check(not strays, "%s: cadhost started offices of its own although one answered: %s" % (
                    name, strays))
                office.kill_pids(strays)

        return cases.in_work_folder("tabro-calc-edits-", failures, name, in_folder)
    return run


def exported(soffice, work, home, drawing):
    """The drawing exported into Calc by a cadhost of its own: the workbook's copy
    for the case to open."""
    tl.run_script(work, home, [*office.calc_args(soffice.pipe), drawing], ["TABRO", "Export2", ""])
    books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
    if not books:
        raise AssertionError("the export into Calc stored no workbook")
    live = os.path.join(work, "live.xlsx")
    shutil.copy(os.path.join(work, books[0]), live)
    return live


def wait_script(seconds):
    return ["TABRO", "Connect", "DELAY %d" % int(seconds * 1000 * office.SLOW)]


def told_changes(doc):
    """A listener on the document for this connection: the operations the office
    tells of (its ChangesEvents' accessors), so that a case knows it tests an edit
    the office does not tell cell by cell."""
    import unohelper
    from com.sun.star.util import XChangesListener

    class Told(unohelper.Base, XChangesListener):
        def __init__(self):
            self.accessors = []

        def changesOccurred(self, event):
            self.accessors += [c.Accessor for c in event.Changes]

        def disposing(self, source):
            pass

    told = Told()
    doc.addChangesListener(told)
    return told


def each_edit(soffice, work, home, drawing, original):
    """One after the other in one session, each waited for: rows inserted, Fill
    Down, the rows removed, sheets removed and renamed, Fill Right, Replace All,
    Cut and Paste."""
    book = exported(soffice, work, home, drawing)
    _, tags, rows, handles = door_rows(book)
    # Each edit: its import, then the quiet that says no second one comes.
    live = Live(soffice, work, home, drawing, "each-edit", wait_script(4 * (3 + QUIET) + 3 * QUIET), book)
    if not live.wait():
        return
    doc = soffice.find(book)
    told = told_changes(doc)
    number, kind = tags["NUMBER"], tags["TYPE"]
    expected = {}

    def text_at(h, column):
        return soffice.cell_text(doc, "DOOR_TAG", cell(rows[h], column))

    def edit(name, act, done, changed):
        """act() edits the sheet and gives what the office told of it."""
        before = live.imports()
        told.accessors.clear()
        edited = time.monotonic()
        check("cell-change" not in act(), "%s: the office told a changed cell: %s" % (name, told.accessors))
        if check(done(), "%s: Calc did not do it" % name):
            applied_once(live.session, name, before, edited)
        expected.update(changed)

    def dispatched(command, selection):
        soffice.select(doc, "DOOR_TAG", selection)
        dispatch(soffice, doc, command)
        return list(told.accessors)

    # Two rows inserted above the references move every row but change no value:
    # nothing to import. Fill Down then, at the moved rows: the first of three
    # rows' NUMBER into the two below. The two rows removed again: nothing.
    first, second, third = consecutive(rows, handles, 3)
    top = text_at(first, number)
    moved_by = 2

    def shifted(what, command):
        before = live.imports()
        dispatched(command, "A%d:A%d" % (rows[handles[0]], rows[handles[0]] + moved_by - 1))
        check(live.session.wait_for("_import2", count=before + 1, limit=QUIET) is None,
              "%s: moved rows came back as changes:\n%s" % (what, live.session.text))

    shifted("rows inserted", ".uno:InsertRowsBefore")
    check(told.accessors == ["insert-rows"], "rows inserted: the office told %s" % told.accessors)
    down = {h: r + moved_by for h, r in rows.items()}
    edit("fill down", lambda: dispatched(".uno:FillDown", "%s:%s" % (cell(down[first], number),
                                                                       cell(down[third], number))),
         lambda: soffice.cell_text(doc, "DOOR_TAG", cell(down[third], number)) == top,
         {(second, "NUMBER"): top, (third, "NUMBER"): top})
    shifted("rows removed", ".uno:DeleteRows")

    # The sheet before DOOR_TAG removed and another renamed: the kept values of the
    # removed one must not be compared with the sheet that takes its place, and
    # DOOR_TAG is found where it moved. Nothing to import.
    names = list(doc.getSheets().getElementNames())
    at = names.index("DOOR_TAG")
    others = [n for n in names if n not in ("DOOR_TAG", "Tablora record")]
    check(at > 0 and names[at - 1] in others and len(others) >= 2, "sheets: %s" % names)
    gone = names[at - 1]
    renamed = next(n for n in others if n != gone)
    before = live.imports()
    doc.getSheets().removeByName(gone)
    doc.getSheets().getByName(renamed).setName(renamed + " 2")
    check(live.session.wait_for("_import2", count=before + 1, limit=QUIET) is None,
          "sheets removed and renamed: told as changes:\n%s" % live.session.text)

    # Fill Right: a row's TYPE into its WIDTH and HEIGHT.
    last = handles[-1]
    check(tags["WIDTH"] == kind + 1 and tags["HEIGHT"] == kind + 2, "TYPE, WIDTH and HEIGHT are not side by side")
    text = text_at(last, kind)
    edit("fill right", lambda: dispatched(".uno:FillRight", "%s:%s" % (cell(rows[last], kind),
                                                                         cell(rows[last], tags["HEIGHT"]))),
         lambda: text_at(last, tags["HEIGHT"]) == text, {(last, "WIDTH"): text, (last, "HEIGHT"): text})

    # Replace All: every NUMBER below ten holds "NU-00000" (the filled ones too);
    # nothing else on the sheet does.
    replaced = {}
    for h in handles:
        value = text_at(h, number)
        if "NU-00000" in value:
            replaced[(h, "NUMBER")] = value.replace("NU-00000", "NR-")
    check(len(replaced) >= 4, "replace all: only %d cells to replace" % len(replaced))

    def replace():
        replace_all(soffice, doc, "DOOR_TAG", "NU-00000", "NR-")
        return list(told.accessors)

    edit("replace all", replace, lambda: all(text_at(h, number) == v for (h, _), v in replaced.items()), replaced)

    # Cut and Paste: one row's TYPE moved into another row's. The paste is told;
    # the cut, which empties its cell, is not.
    source, target = handles[3], handles[6]
    moved = text_at(source, kind)

    def cut_and_paste():
        cut = dispatched(".uno:Cut", cell(rows[source], kind))
        dispatched(".uno:Paste", cell(rows[target], kind))
        return cut

    edit("cut and paste", cut_and_paste, lambda: text_at(source, kind) == "" and text_at(target, kind) == moved,
         {(source, "TYPE"): "", (target, "TYPE"): moved})

    doc.removeChangesListener(told)
    live.finish(original, expected, 4)


def after_export(soffice, work, home, drawing, original):
    before = set(os.listdir(work))
    live = Live(soffice, work, home, drawing, "after-export", ["TABRO", "Export2", "DOOR_TAG"] + wait_script(10))
    if not live.wait():
        return
    new = sorted(n for n in set(os.listdir(work)) - before if n.startswith("Book") and n.endswith(".xlsx"))
    if not check(len(new) == 1, "after export: the export stored %s" % new):
        live.session.proc.kill()
        live.session.finish()
        return
    book = os.path.join(work, new[0])
    check(live.session.wait_for("_import2", limit=QUIET) is None,
          "after export: the export's own writes came back as changes:\n%s" % live.session.text)
    ws, tags, rows, handles = door_rows(book)
    # A workbook the backend made is stored to its file but keeps no URL in the
    # office: it is the office's one document, which has the exported sheet.
    docs = [d for d in soffice.documents() if d.getSheets().hasByName("DOOR_TAG")]
    if not check(len(docs) == 1, "after export: %d documents have DOOR_TAG" % len(docs)):
        live.session.proc.kill()
        live.session.finish()
        return
    doc = docs[0]
    first, second = consecutive(rows, handles, 2)
    column = tags["TYPE"]
    soffice.select(doc, "DOOR_TAG", "%s:%s" % (cell(rows[first], column), cell(rows[second], column)))
    dispatch(soffice, doc, ".uno:FillDown")
    top = ws.cell(rows[first], column).value
    applied_once(live.session, "after export", 0, time.monotonic())
    live.finish(original, {(second, "TYPE"): top}, 1)


CASES = {
    "each-edit": with_office("each-edit", each_edit),
    "after-export": with_office("after-export", after_export),
}

if __name__ == "__main__":
    if "--list" not in sys.argv:
        office.needs()
    sys.exit(cases.run(CASES))
