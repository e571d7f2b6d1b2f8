#!/usr/bin/python3
"""Checks the include edges between the project's layers.

    check-includes.py [ROOT]

platform/ includes nothing of the project but itself; host/ includes the platform and
itself (the programs, cadhost and tablora, may start the spreadsheet or load the
Calc backend), except host/bytes/, a drawing file's bytes under the drawing database, which
includes only the platform and itself; automation/, the front that answers the
spreadsheet's dispatch ids, includes the platform and itself; each spreadsheet
backend behind it, sheet/ (the stand-in) and calc/ (LibreOffice Calc), includes the
platform, the front's backend interface (every front header but its objects' own,
automation/Objects.h) and its own folder, never the other backend; the module
includes the platform and the host's programming interface only (its Ac*, acad,
ads, AutoLISP and editor headers, and the drawing database's Ac* headers), never a
spreadsheet, which it reaches by class name; the resource module sees only the
platform's resource table.

Inside the module, folders stand in floors, and a file includes its own folder and
the floors below its own, never a folder beside it or above it:

    entry        module/*  (LinkApp, ModuleState, ModuleExports)
    cmd          the TABRO command and its keywords
    ui           the dialogs and the help
    export import
    link         the live link, which both exports and imports drive
    layout       how a reference's row is laid out on a sheet
    drawing spreadsheet settings
    base         resource strings and scope, version, errors, application base

Prints every forbidden edge and exits 1 if any.
"""
import os
import re
import sys

ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# The programs on top of the host (and what they share) start the spreadsheet and
# may load the Calc backend.
PROGRAMS = ("host/cadhost/", "host/tablora/", "host/program/")
HOST_INTERFACE = re.compile(r"^host/(Ac\w*|Ads|AutoLisp|Editor)\.h$|^host/db/Ac\w*\.h$")


BACKENDS = ("sheet", "calc")
# The front's objects among themselves; no backend reaches into them.
FRONT_INTERNAL = {"automation/Objects.h"}


MODULE_FLOORS = [
    {"base"},
    {"drawing", "spreadsheet", "settings"},
    {"layout"},
    {"link"},
    {"export", "import"},
    {"ui"},
    {"cmd"},
    {"entry"},
]


def module_folder(path):
    """The module folder of a path under module/: its first folder, or entry."""
    parts = path.split("/")
    return parts[1] if len(parts) > 2 else "entry"


def floor(folder):
    for level, folders in enumerate(MODULE_FLOORS):
        if folder in folders:
            return level
    return None


def allowed(source, header):
    layer = source.split("/", 1)[0]
    target = header.split("/", 1)[0]
    if "/" not in header:
        return True  # a header beside the file
    if source.startswith("module/") and floor(module_folder(source)) is None:
        return False  # a module folder that stands on no floor
    if layer == "platform":
        return target == "platform"
    if layer == "host":
        if source.startswith("host/bytes/"):
            return target == "platform" or header.startswith("host/bytes/")
        if source.startswith(PROGRAMS) and target == "sheet":
            return header == "sheet/Spreadsheet.h"
        if source.startswith(PROGRAMS) and target == "calc":
            return header == "calc/CalcBackend.h"
        return target in ("host", "platform")
    if layer == "automation":
        return target in ("automation", "platform")
    if layer in BACKENDS:
        # A backend implements the front's interface (its headers are the front's
        # vocabulary: dispatch ids, argument readers and errors, cell references,
        # names), and knows nothing of the other backend.
        return target in (layer, "platform") or (target == "automation" and header not in FRONT_INTERNAL)
    if layer == "module":
        if target == "platform":
            return True
        if target == "module":
            own, other = module_folder(source), module_folder(header)
            if own == other:
                return True
            own_floor, other_floor = floor(own), floor(other)
            return own_floor is not None and other_floor is not None and other_floor < own_floor
        return target == "host" and bool(HOST_INTERFACE.match(header))
    if layer == "resources":
        return header == "platform/Resources.h"
    return True


def main():
    bad = []
    for layer in ("platform", "automation", "host", "sheet", "calc", "module", "resources"):
        for folder, _, files in os.walk(os.path.join(ROOT, layer)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(folder, name)
                source = os.path.relpath(path, ROOT)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for header in INCLUDE.findall(text):
                    if not allowed(source, header):
                        bad.append(f"{source}: includes {header}")
    for line in bad:
        print(line)
    if bad:
        print(f"{len(bad)} forbidden include edge(s)")
        return 1
    print("include edges: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
