#!/usr/bin/python3
"""End to end: TABRO Options worked from a cadhost script, checked with readers we
did not write or that know nothing of our code:

  * values changed on both pages and OK: user.reg read back with a small reader of
    the regedit export format holds every value (Cancel before it wrote nothing, a
    number out of range kept the dialog open);
  * Reset and OK put every value back to its default in user.reg, but the two the
    reset keeps;
  * the settings menu's save: Python's configparser reads the file, every entry in
    its section and order; saving again over it asks first and replaces the values;
  * a settings file written by configparser is loaded and the next export uses it;
    values the file does not name keep what the page showed;
  * settings that cannot be stored (a home the system refuses to write, a settings
    file in no folder, a user.reg that is a folder) are told of in an error box
    naming the file and the reason, the run exits 1, and OK's choice still applies
    to the rest of the session.
"""
import configparser
import glob
import os
import subprocess
import sys
import tempfile

from openpyxl import load_workbook

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
HERE = os.path.dirname(os.path.abspath(__file__))
DRAWING = os.path.join(HERE, "..", "module", "export", "export_blocks.dxf")
CADHOST = os.path.join(BIN, "cadhost")

EXPORT_KEY = r"HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export"
IMPORT_KEY = r"HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import"
EXPORT_NAMES = ["AddHeader", "AutoConnect", "BlockNames", "XCoord", "YCoord", "ZCoord", "LayerNames", "LayoutNames",
                "OddLine", "Rotation", "Scale", "Sort", "StartRow", "WorkbookSettings", "WorksheetSettings",
                "IncludeConstant", "JTSK", "NoAutofit", "AsText", "FindNextBlankLine", "ExportAttPrompts"]
IMPORT_NAMES = ["ImportSettings", "IgnoreProps", "StartCol", "StartRow", "Preview", "DrawingChangedToo"]
EXPORT_DEFAULTS = dict(AddHeader=0, AutoConnect=0, BlockNames=1, XCoord=1, YCoord=1, ZCoord=1, LayerNames=1,
                       LayoutNames=0, OddLine=0, Rotation=1, Scale=1, Sort=0, StartRow=1, WorkbookSettings=0,
                       WorksheetSettings=0, IncludeConstant=0, JTSK=0, NoAutofit=0, AsText=1, FindNextBlankLine=0,
                       ExportAttPrompts=0)
IMPORT_DEFAULTS = dict(ImportSettings=0, IgnoreProps=1, StartCol=1, StartRow=2, Preview=0, DrawingChangedToo=0)

# The pages as the command line numbers them.
EXPORT_PAGE = {name: n for n, name in enumerate(
    ["BlockNames", "XCoord", "YCoord", "ZCoord", "Rotation", "Scale", "LayerNames", "LayoutNames", "NewWorksheet",
     "ActiveWorksheet", "StartRow", "FindNextBlankLine", "AddHeader", "NewWorkbook", "ActiveWorkbook", "Sort",
     "OddLine", "JTSK", "AsText", "NoAutofit", "IncludeConstant", "ExportAttPrompts", "AutoConnect"], start=1)}
IMPORT_PAGE = {name: n for n, name in enumerate(
    ["ActiveSheet", "AllSheets", "IgnoreProps", "StartCol", "StartRow", "KeepDrawingValue", "TakeSheetValue",
     "Preview"], start=1)}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def read_regedit(path):
    """Keys of a regedit export (version 5.00, UTF-16 with BOM or UTF-8) with their
    values: dword as int, strings as str, hex(N) as bytes."""
    raw = open(path, "rb").read()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8-sig")
    lines = text.splitlines()
    if not lines or lines[0].strip() != "Windows Registry Editor Version 5.00":
        raise ValueError("not a regedit 5.00 file: %r" % lines[:1])
    keys, key, pending = {}, None, ""
    for line in lines[1:]:
        line = pending + line.strip() if pending else line
        if line.endswith("\\") and "=hex" in line:
            pending = line[:-1]
            continue
        pending = ""
        if not line.strip() or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            keys.setdefault(key, {})
            continue
        if key is None:
            raise ValueError("value outside a key: %r" % line)
        if line.startswith("@="):
            name, rest = "", line[2:]
        else:
            if not line.startswith('"'):
                raise ValueError("bad line: %r" % line)
            end = 1
            while line[end] != '"':
                end += 2 if line[end] == "\\" else 1
            name = line[1:end].replace('\\"', '"').replace("\\\\", "\\")
            rest = line[end + 1:]
            if not rest.startswith("="):
                raise ValueError("bad line: %r" % line)
            rest = rest[1:]
        if rest.startswith("dword:"):
            keys[key][name] = int(rest[6:], 16)
        elif rest.startswith('"'):
            keys[key][name] = rest[1:-1].replace('\\"', '"').replace("\\\\", "\\")
        elif rest.startswith("hex"):
            data = rest.split(":", 1)[1].replace(" ", "")
            keys[key][name] = bytes(int(b, 16) for b in data.split(",") if b)
        else:
            raise ValueError("unknown value type: %r" % line)
    return keys


def signed(value):
    return value - (1 << 32) if value >= 1 << 31 else value


def run(work, lines, drawing=None, rc=0, home=None):
    """Runs cadhost on a script in `work` (its home below it, unless given); returns
    the output. `rc` is the exit status the run must end with: 1 when it showed a
    failure box."""
    if home is None:
        home = os.path.join(work, "home")
        os.makedirs(home, exist_ok=True)
    script = os.path.join(work, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    args = [CADHOST, "--script", script] + ([drawing] if drawing else [])
    proc = subprocess.run(args, cwd=work, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=300)
    if proc.returncode != rc:
        failures.append("cadhost %s: rc %d\n%s%s" % (lines, proc.returncode, proc.stdout[-3000:],
                                                   proc.stderr[-2000:]))
    return proc.stdout


def registry_values(work):
    path = os.path.join(work, "home", "user.reg")
    if not os.path.exists(path):
        return None
    keys = read_regedit(path)
    return ({k: signed(v) for k, v in keys.get(EXPORT_KEY, {}).items()},
            {k: signed(v) for k, v in keys.get(IMPORT_KEY, {}).items()})


def edit_both_pages(work):
    os.makedirs(work)
    out = run(work, ["TABRO", "Options", str(EXPORT_PAGE["XCoord"]), "cancel"])
    check(registry_values(work) is None, "Cancel wrote user.reg")
    check("Tablora Options" in out and "[Export]" in out, "the dialog was not listed:\n" + out[-2000:])

    e = EXPORT_PAGE
    i = IMPORT_PAGE
    lines = ["TABRO", "Options",
             str(e["BlockNames"]), str(e["LayerNames"]), str(e["LayoutNames"]),
             str(e["ActiveWorksheet"]), "%d 250" % e["StartRow"], "up %d" % e["StartRow"], str(e["AddHeader"]),
             str(e["ActiveWorkbook"]), str(e["Sort"]), str(e["OddLine"]), str(e["JTSK"]), str(e["AsText"]),
             str(e["NoAutofit"]), str(e["IncludeConstant"]), str(e["ExportAttPrompts"]), str(e["AutoConnect"]),
             "tab about",
             "tab import", str(i["AllSheets"]), str(i["IgnoreProps"]), str(i["TakeSheetValue"]), str(i["Preview"]),
             "%d 300" % i["StartCol"],
             # 300 columns are more than there are: the box, and the dialog stays open.
             "ok",
             "%d 12" % i["StartCol"], "up %d" % i["StartRow"], "ok"]
    # The range message asks for the field to be put right, which it then is: no
    # failure of the command.
    out = run(work, lines)
    check("Please enter an integer between 1 and 256." in out, "no range message for column 300")
    check("1.0.0.0" in out, "the about page shows no version")
    # The import page as first shown, then after the clicks.
    for line in ["        When the drawing changed too:",
                 "     %d (o) Keep the drawing's value" % i["KeepDrawingValue"],
                 "     %d ( ) Take the sheet's value" % i["TakeSheetValue"],
                 "     %d [ ] Show the changes before applying them" % i["Preview"],
                 "     %d ( ) Keep the drawing's value" % i["KeepDrawingValue"],
                 "     %d (o) Take the sheet's value" % i["TakeSheetValue"],
                 "     %d [x] Show the changes before applying them" % i["Preview"]]:
        check(line in out, "the import page lacks %r:\n%s" % (line, out[-3000:]))
    values = registry_values(work)
    if values is None:
        failures.append("OK wrote no user.reg:\n" + out[-3000:])
        return
    export, imported = values
    expected_export = dict(EXPORT_DEFAULTS, BlockNames=0, LayerNames=0, LayoutNames=1, WorksheetSettings=1,
                           StartRow=251, AddHeader=1, WorkbookSettings=1, Sort=1, OddLine=1, JTSK=1, AsText=0,
                           NoAutofit=1, IncludeConstant=1, ExportAttPrompts=1, AutoConnect=1)
    expected_import = dict(IMPORT_DEFAULTS, ImportSettings=1, IgnoreProps=0, StartCol=12, StartRow=3, Preview=1,
                           DrawingChangedToo=1)
    check(export == expected_export, "user.reg Export: %s" % export)
    check(imported == expected_import, "user.reg Import: %s" % imported)
    check("Coords" not in export, "Coords written")

    # Reset, answered Yes on the next line, then OK: the defaults, but for the two
    # export boxes a reset leaves as they are.
    out = run(work, ["TABRO", "Options", "reset", "y", "ok"])
    values = registry_values(work)
    check(values[0] == dict(EXPORT_DEFAULTS, IncludeConstant=1, ExportAttPrompts=1),
          "user.reg Export after reset: %s" % values[0])
    check(values[1] == IMPORT_DEFAULTS, "user.reg Import after reset: %s" % values[1])


def save_settings_file(work):
    os.makedirs(work)
    path = os.path.join(work, "saved.ini")
    e = EXPORT_PAGE
    out = run(work, ["TABRO", "Options", str(e["Rotation"]), str(e["ActiveWorksheet"]), "%d 77" % e["StartRow"],
                     "tab import", "%d 5" % IMPORT_PAGE["StartRow"], str(IMPORT_PAGE["TakeSheetValue"]),
                     "settings", "save", os.path.join(work, "saved"), "cancel"])
    if not os.path.exists(path):
        failures.append("no settings file saved:\n" + out[-3000:])
        return
    parser = configparser.ConfigParser()
    parser.optionxform = str
    parser.read(path)
    check(parser.sections() == ["Export", "Import"], "sections %s" % parser.sections())
    check(list(parser["Export"]) == EXPORT_NAMES, "Export entries %s" % list(parser["Export"]))
    check(list(parser["Import"]) == IMPORT_NAMES, "Import entries %s" % list(parser["Import"]))
    want = dict(EXPORT_DEFAULTS, Rotation=0, WorksheetSettings=1, StartRow=77)
    check({k: int(v) for k, v in parser["Export"].items()} == want, "saved Export %s" % dict(parser["Export"]))
    check({k: int(v) for k, v in parser["Import"].items()} == dict(IMPORT_DEFAULTS, StartRow=5, DrawingChangedToo=1),
          "saved Import %s" % dict(parser["Import"]))
    check(registry_values(work) is None, "a save to file wrote the registry")

    # Over the same file: the replace question is answered on the next line.
    run(work, ["TABRO", "Options", str(e["Sort"]), "settings", "save", path, "y", "cancel"])
    parser = configparser.ConfigParser()
    parser.optionxform = str
    parser.read(path)
    check(parser["Export"].get("Sort") == "1" and parser["Export"].get("StartRow") == "1",
          "second save: %s" % dict(parser["Export"]))


def load_python_file(work):
    os.makedirs(work)
    path = os.path.join(work, "from_python.ini")
    parser = configparser.ConfigParser()  # keys lower-cased and "key = value", as Python writes them
    parser["Export"] = dict(BlockNames="1", XCoord="1", YCoord="0", ZCoord="0", Rotation="1", Scale="0",
                            LayerNames="0", Sort="1", AsText="1")
    # No Preview or DrawingChangedToo, as in a file saved before they existed: the
    # page keeps what it showed.
    parser["Import"] = dict(StartCol="3")
    with open(path, "w") as f:
        parser.write(f)
    out = run(work, ["TABRO", "Options",
                     "tab import", str(IMPORT_PAGE["Preview"]), str(IMPORT_PAGE["TakeSheetValue"]), "tab export",
                     "settings", "load", path, "ok",
                     "TABRO", "Export2", "DOOR"], drawing=os.path.abspath(DRAWING))
    check("X, Y and Z are not all chosen" in out, "no partial point notice on OK from the export page")
    values = registry_values(work)
    if values is None:
        failures.append("loading and OK wrote no user.reg:\n" + out[-3000:])
        return
    check(values[0]["YCoord"] == 0 and values[0]["Sort"] == 1 and values[1]["StartCol"] == 3,
          "registry after load: %s %s" % values)
    check(values[1]["Preview"] == 1 and values[1]["DrawingChangedToo"] == 1,
          "values the file does not hold changed: %s" % values[1])

    # Any number but 1 for the choice reads as keeping the drawing's value.
    with open(path, "w") as f:
        f.write("[Import]\ndrawingchangedtoo = 7\npreview = 0\n")
    run(work, ["TABRO", "Options", "settings", "load", path, "ok"])
    values = registry_values(work)
    check(values[1]["Preview"] == 0 and values[1]["DrawingChangedToo"] == 0,
          "registry after loading 7: %s" % values[1])
    books = sorted(glob.glob(os.path.join(work, "Book*.xlsx")))
    if not books:
        failures.append("the export wrote no workbook:\n" + out[-3000:])
        return
    ws = load_workbook(books[-1])["DOOR"]
    header = [ws.cell(row=1, column=c).value for c in range(1, 6)]
    check(header == ["Block name", "FIRE", "WIDTH", "X", "Rotation"], "export header %s" % header)
    row = [ws.cell(row=2, column=c).value for c in range(1, 6)]
    check(row == ["DOOR", "EI30", "900", "10", "90.00"], "export row %s" % row)


def refused_home():
    """A folder the system refuses to create or write even for root, or None."""
    candidate = "/sys/fs/tablora-e2e-%d" % os.getpid()
    try:
        os.mkdir(candidate)
    except OSError:
        return candidate
    os.rmdir(candidate)
    return None


def unstored_settings(work):
    os.makedirs(work)
    e = EXPORT_PAGE
    home = refused_home()
    if home is None:
        print("skipped: no folder here refuses writing to root; the refused OK is tested in module_tests")
    else:
        out = run(work, ["TABRO", "Options", str(e["Rotation"]), "ok",
                         "TABRO", "Export2", "DOOR"], drawing=os.path.abspath(DRAWING), rc=1, home=home)
        check("The options could not be saved to %s/user.reg: Access is denied.\n"
              "They apply until the program ends." % home in out, "no box for the refused OK:\n" + out[-3000:])
        books = sorted(glob.glob(os.path.join(work, "Book*.xlsx")))
        if not books:
            failures.append("the export after the refused OK wrote no workbook:\n" + out[-3000:])
        else:
            ws = load_workbook(books[-1])["DOOR"]
            header = [ws.cell(row=1, column=c).value for c in range(1, ws.max_column + 1)]
            check("Rotation" not in header, "the refused OK's choice did not apply: %s" % header)

    # A settings file in a "folder" that is a file.
    plain = os.path.join(work, "plain")
    open(plain, "w").close()
    target = os.path.join(plain, "mine.ini")
    out = run(work, ["TABRO", "Options", "settings", "save", target, "cancel"], rc=1)
    check(out.count("The settings could not be saved to %s: The system cannot find the path specified." % target)
          == 1, "no single box for the settings file:\n" + out[-3000:])

    # user.reg a folder: told of once, at the first TABRO, and OK says why.
    home = os.path.join(work, "dirhome")
    os.makedirs(os.path.join(home, "user.reg"))
    out = run(work, ["TABRO", "Options", "ok", "TABRO", "Options", "cancel"], rc=1, home=home)
    reg = os.path.join(home, "user.reg")
    check(out.count("The registry file %s cannot be read: not a regular file." % reg) == 1,
          "user.reg as a folder not told of once:\n" + out[-3000:])
    check("The options could not be saved to %s: not a regular file." % reg in out,
          "no box for OK over a folder:\n" + out[-3000:])
    check(os.path.isdir(reg), "the folder in user.reg's place was replaced")


def main():
    if not os.path.exists(CADHOST):
        print("cadhost not built at %s" % CADHOST)
        return 1
    with tempfile.TemporaryDirectory() as work:
        edit_both_pages(os.path.join(work, "pages"))
        save_settings_file(os.path.join(work, "save"))
        load_python_file(os.path.join(work, "load"))
        unstored_settings(os.path.join(work, "unstored"))
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
