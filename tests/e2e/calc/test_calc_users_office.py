#!/usr/bin/python3
"""End to end: LibreOffice Calc as the user's own office. cadhost attaches to an
office where the user works (python-uno plays the user: documents opened and typed
into, changes left unsaved) and must leave the user's work as the user left it.

  * the user's documents: an export into a new workbook, an import and an export
    into the user's active document store nothing of the user's; the office still
    holds the unsaved change and calls the document modified; the new workbook is
    shown under its file's name and location;
  * a workbook cadhost opens (--workbook) that the user changed in the office: it is
    not stored without the user's Yes (a script answers No), and keeps its change;
  * read-only: a workbook file of mode 0444 is refused with one plain line and left
    as it was, with the stand-in and with Calc; a document the user opened read-only
    gets the same line and no sheet is added to it.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import hashlib  # noqa: E402
import stat  # noqa: E402
import subprocess  # noqa: E402

import uno  # noqa: E402

import cases  # noqa: E402
import test_export as tx  # noqa: E402

FIXTURE = tx.FIXTURE
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def home_with(folder, **settings):
    home = os.path.join(folder, "home")
    os.makedirs(home, exist_ok=True)
    values = dict(tx.EXPORT_DEFAULTS, **tx.PROPS_OFF)
    values.update(settings)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(tx.registry(values))
    return home


def cadhost(folder, home, args, lines):
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, CADHOST_HOME=home)
    return subprocess.run([office.CADHOST, "--script", script, *args], cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                          timeout=300 * office.SLOW)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def users_workbook(soffice, path, text):
    """A workbook the user saved at path, then changed in the office (unsaved)."""
    doc = soffice.new_document()
    soffice.type_into(doc, doc.getSheets().getByIndex(0).getName(), "A1", "saved by the user")
    doc.storeAsURL(uno.systemPathToFileUrl(path), (office.prop("FilterName", "Calc MS Excel 2007 XML"),))
    soffice.type_into(doc, doc.getSheets().getByIndex(0).getName(), "B2", text)
    return doc


def users_documents(work):
    with office.Office() as soffice:
        mine = os.path.join(work, "mine.xlsx")
        doc = users_workbook(soffice, mine, "not saved yet")
        sheet = doc.getSheets().getByIndex(0).getName()
        before = digest(mine)
        untitled = soffice.new_document()
        soffice.type_into(untitled, untitled.getSheets().getByIndex(0).getName(), "C3", "scratch")

        def untouched(when):
            check(digest(mine) == before, f"{when}: the user's mine.xlsx was stored")
            check(doc.isModified(), f"{when}: the user's document is no longer marked modified")
            check(soffice.cell_text(doc, sheet, "B2") == "not saved yet", f"{when}: the user's unsaved cell is gone")
            check(untitled.isModified() and not untitled.hasLocation(),
                  f"{when}: the user's untitled document was stored or marked saved")

        folder = os.path.join(work, "new")
        os.makedirs(folder)
        proc = cadhost(folder, home_with(folder), [*office.calc_args(soffice.pipe), FIXTURE],
                       ["TABRO", "Export2", "DOOR"])
        check(proc.returncode == 0, f"export: cadhost ended with {proc.returncode}:\n{proc.stdout}{proc.stderr}")
        check(os.path.exists(os.path.join(folder, "Book1.xlsx")), "export: no Book1.xlsx")
        untouched("an export into a new workbook")

        proc = cadhost(folder, home_with(folder), [*office.calc_args(soffice.pipe), FIXTURE], ["TABRO", "Import"])
        untouched("an import")

        # The new workbook carries its file's name in the office while cadhost has it.
        folder = os.path.join(work, "title")
        os.makedirs(folder)
        env = dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, CADHOST_HOME=home_with(folder))
        # Interactive: cadhost waits at its prompt after the script's lines, with the
        # workbook still open in the office.
        session = subprocess.Popen([office.CADHOST, *office.calc_args(soffice.pipe), FIXTURE], cwd=folder, env=env,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            session.stdin.write("TABRO\nExport2\nDOOR\n")
            session.stdin.flush()
            try:
                book = soffice.find(os.path.join(folder, "Book1.xlsx"), timeout=60)
                check(book.getTitle() == "Book1.xlsx", f"the new workbook shows as {book.getTitle()!r} in the office")
            except LookupError as e:
                check(False, f"the new workbook has no file in the office: {e}")
            session.stdin.write("QUIT\n")
            session.stdin.flush()
            session.communicate(timeout=120 * office.SLOW)
        finally:
            if session.poll() is None:
                session.kill()

        # Exported into the user's active document (WorkbookSettings 1): the cells
        # change in the office, for the user to save or not.
        untitled.close(True)
        soffice.select(doc, sheet, "A1")
        folder = os.path.join(work, "active")
        os.makedirs(folder)
        proc = cadhost(folder, home_with(folder, WorkbookSettings=1), [*office.calc_args(soffice.pipe), FIXTURE],
                       ["TABRO", "Export2", "DOOR"])
        check(proc.returncode == 0, f"export into the active document: cadhost ended with {proc.returncode}:\n"
                                    f"{proc.stdout}{proc.stderr}")
        check(doc.getSheets().hasByName("DOOR"), "export into the active document: no DOOR sheet in it")
        check(digest(mine) == before, "export into the active document: the user's mine.xlsx was stored")
        check(doc.isModified(), "export into the active document: the document is no longer marked modified")


def opened_workbook_the_user_changed(work):
    with office.Office() as soffice:
        folder = os.path.join(work, "opened")
        os.makedirs(folder)
        book = os.path.join(folder, "register.xlsx")
        doc = users_workbook(soffice, book, "typed in the office")
        sheet = doc.getSheets().getByIndex(0).getName()
        before = digest(book)
        proc = cadhost(folder, home_with(folder, WorkbookSettings=1),
                       [*office.calc_args(soffice.pipe), "--workbook", book, FIXTURE], ["TABRO", "Export2", "DOOR"])
        out = proc.stdout + proc.stderr
        check("has changes that are not saved. Save it with the export? [Yes/No] <No>: No" in out,
              f"cadhost did not ask before storing the user's changes:\n{out}")
        check(digest(book) == before, "the workbook was stored without the user's Yes")
        check(doc.isModified() and soffice.cell_text(doc, sheet, "B2") == "typed in the office",
              "the user's change is no longer in the office, or no longer marked unsaved")

        # Saved by the user, given to cadhost again: it stays open after cadhost ends.
        doc.store()
        cadhost(folder, home_with(folder), [*office.calc_args(soffice.pipe), "--workbook", book, FIXTURE],
                ["TABRO", "Import"])
        check(any(d.getURL() == doc.getURL() for d in soffice.documents()),
              "cadhost closed a document the user had open")


def read_only(work):
    # The stand-in: a file the user made read-only is not replaced.
    for name, args in (("stand-in", []),):
        folder = os.path.join(work, "ro-" + name)
        os.makedirs(folder)
        book = os.path.join(folder, "locked.xlsx")
        proc = cadhost(folder, home_with(folder), [FIXTURE], ["TABRO", "Export2", "DOOR"])
        os.rename(os.path.join(folder, "Book1.xlsx"), book)
        os.chmod(book, 0o444)
        before = digest(book)
        proc = cadhost(folder, home_with(folder, WorkbookSettings=1), [*args, "--workbook", book, FIXTURE],
                       ["TABRO", "Export2", "DOOR"])
        out = proc.stdout + proc.stderr
        check(f"{book} is read-only; the workbook was not saved" in out,
              f"{name}: a read-only workbook file is not named so:\n{out}")
        check(proc.returncode != 0, f"{name}: cadhost ended with 0 although the workbook was not saved")
        check(digest(book) == before and stat.S_IMODE(os.stat(book).st_mode) == 0o444,
              f"{name}: the read-only file was replaced or its mode changed")

    # Calc: a document the user opened read-only.
    with office.Office() as soffice:
        folder = os.path.join(work, "ro-calc")
        os.makedirs(folder)
        book = os.path.join(folder, "shown.xlsx")
        users_workbook(soffice, book, "x").close(True)
        doc = soffice.desktop.loadComponentFromURL(uno.systemPathToFileUrl(book), "_blank", 0,
                                                   (office.prop("Hidden", True), office.prop("ReadOnly", True)))
        sheets = doc.getSheets().getCount()
        proc = cadhost(folder, home_with(folder, WorkbookSettings=1), [*office.calc_args(soffice.pipe), FIXTURE],
                       ["TABRO", "Export2", "DOOR"])
        out = proc.stdout + proc.stderr
        check(f"{book} is read-only; the workbook was not saved" in out,
              f"calc: a read-only document is not named so:\n{out}")
        check(".cxx" not in out, f"calc: the office's source location reached the user:\n{out}")
        check(doc.getSheets().getCount() == sheets, "calc: a sheet was added to the read-only document")


def main():
    os.environ.pop("DISPLAY", None)
    return cases.run({
        "users_documents": lambda: cases.in_work_folder("tabro-calc-users-", failures, "users_documents",
                                                        users_documents),
        "opened_workbook_the_user_changed": lambda: cases.in_work_folder(
            "tabro-calc-users-", failures, "opened_workbook_the_user_changed", opened_workbook_the_user_changed),
        "read_only": lambda: cases.in_work_folder("tabro-calc-users-", failures, "read_only", read_only),
    })


if __name__ == "__main__":
    sys.exit(main())
