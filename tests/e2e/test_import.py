#!/usr/bin/python3
"""End to end: the import round trip, checked with tools we did not write.

A generated drawing is exported with cadhost (TABRO Export2, every block), the
workbook is edited with openpyxl as a user would in any spreadsheet program, the
edits are imported with cadhost (TABRO Import, every sheet, properties on) and the
drawing is saved. ezdxf then reads the original and the saved drawing:

  * edited attribute texts (one of them emptied) hold exactly the cell texts;
  * the moved, scaled and rotated references carry their new values, and their
    attributes stand where the definitions put them under the new transform;
  * the re-layered reference is on its new layer;
  * a row whose handle names nothing and a column whose tag no block has change
    nothing;
  * every other entity of the drawing is unchanged.
"""
import math
import os
import shutil
import subprocess
import sys
import tempfile

import ezdxf
from ezdxf.math import Vec3
from openpyxl import load_workbook
from openpyxl.comments import Comment
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ooxml  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
GEN = shared_data.MAKE_DRAWING

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


def graphic_entities(doc):
    """Every entity of every layout and block definition, attributes included,
    by handle; and the reference each attribute belongs to."""
    out, parent = {}, {}
    for block in doc.blocks:
        for e in block:
            out[e.dxf.handle] = e
            if e.dxftype() == "INSERT":
                for a in e.attribs:
                    out[a.dxf.handle] = a
                    parent[a.dxf.handle] = e.dxf.handle
    return out, parent


def attribs_of(doc, handle):
    return list(doc.entitydb[handle].attribs)


def same_attribs(a, b, skip=()):
    da = {k: v for k, v in a.dxfattribs().items() if k not in skip}
    db = {k: v for k, v in b.dxfattribs().items() if k not in skip}
    if da.keys() != db.keys():
        return False
    for k, v in da.items():
        w = db[k]
        if isinstance(v, (tuple, Vec3)) or isinstance(w, (tuple, Vec3)):
            if not Vec3(v).isclose(Vec3(w), abs_tol=1e-9):
                return False
        elif isinstance(v, float) or isinstance(w, float):
            if not math.isclose(v, w, rel_tol=1e-12, abs_tol=1e-12):
                return False
        elif v != w:
            return False
    return True


def property_columns(ws):
    """Header cells that carry a comment are the property columns; export writes
    them in the order X, Y, Z, rotation, scale X, Y, Z, layer."""
    cols = [c.column for c in ws[1] if c.comment is not None and c.comment.text.startswith("Tablora property")]
    names = ["x", "y", "z", "rotation", "sx", "sy", "sz", "layer"]
    return dict(zip(names, cols))


def tag_columns(ws, props):
    prop_cols = set(props.values())
    return {c.value: c.column for c in ws[1][1:]
            if c.value and c.column not in prop_cols}


def row_of_handle(ws):
    rows = {}
    for r in range(2, ws.max_row + 1):
        comment = ws.cell(r, 1).comment
        if comment is not None:
            rows[comment.text.strip()] = r
    return rows


def edit_and_import(work, spreadsheet_args=()):
    """Exports a generated drawing, edits the workbook, imports it back and saves,
    with the spreadsheet application the arguments choose; checks the saved drawing
    into failures. Returns (saved drawing, import output)."""
    home = os.path.join(work, "home")
    os.makedirs(home)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(REGISTRY)
    drawing = os.path.join(work, "site.dxf")
    subprocess.run(["/usr/bin/python3", GEN, "60", drawing], check=True,
                   capture_output=True)
    original = ezdxf.readfile(drawing)

    # 1. Export every block into a new workbook (Book1.xlsx in the working folder).
    run_cadhost(work, home, [*spreadsheet_args, drawing], ["TABRO", "Export2", ""])
    books = sorted(n for n in os.listdir(work) if n.startswith("Book") and n.endswith(".xlsx"))
    if not books:
        sys.exit("export wrote no workbook")
    book = os.path.join(work, books[0])
    # Judged as the stand-in wrote it (from here on openpyxl writes it; with Calc,
    # the office wrote it).
    if not spreadsheet_args:
        ooxml.validate_written(work, failures, "export before the edit")

    # 2. Edit it as a user would.
    wb = load_workbook(book)
    ws = wb["DOOR_TAG"]
    props = property_columns(ws)
    tags = tag_columns(ws, props)
    rows = row_of_handle(ws)
    check(len(props) == 8, f"DOOR_TAG property columns: {props}")
    # References whose attributes are exactly the definition's, in order.
    full = [h for h, r in sorted(rows.items(), key=lambda kv: kv[1])
            if [a.dxf.tag for a in attribs_of(original, h)] ==
            ["NUMBER", "TYPE", "WIDTH", "HEIGHT", "FIRE_RATING", "HARDWARE"]]
    check(len(full) >= 8, f"too few in-sync DOOR_TAG references: {len(full)}")
    h_text, h_empty, h_move, h_scale, h_layer, h_rot, h_none = full[:7]
    expected_text = {}  # (handle, tag) -> text

    r = rows[h_text]
    ws.cell(r, tags["NUMBER"]).value = "D-EDITED-1"
    ws.cell(r, tags["HARDWARE"]).value = "HW-9 Ü"
    expected_text[(h_text, "NUMBER")] = "D-EDITED-1"
    expected_text[(h_text, "HARDWARE")] = "HW-9 Ü"

    r = rows[h_empty]
    ws.cell(r, tags["FIRE_RATING"]).value = None
    expected_text[(h_empty, "FIRE_RATING")] = ""

    ins = original.entitydb[h_move]
    new_pos = Vec3(ins.dxf.insert) + Vec3(1000.5, -500.25, 0)
    r = rows[h_move]
    ws.cell(r, props["x"]).value = f"{new_pos.x:.4f}"
    ws.cell(r, props["y"]).value = f"{new_pos.y:.4f}"

    r = rows[h_scale]
    ws.cell(r, props["sx"]).value = "2"
    ws.cell(r, props["sy"]).value = "3"
    ws.cell(r, props["sz"]).value = "1"

    old_layer = original.entitydb[h_layer].dxf.layer
    new_layer = "A-GLAZ" if old_layer != "A-GLAZ" else "P-VALV"
    ws.cell(rows[h_layer], props["layer"]).value = new_layer

    old_rot = original.entitydb[h_rot].dxf.rotation
    new_rot = 37.5 if not math.isclose(old_rot, 37.5) else 12.0
    ws.cell(rows[h_rot], props["rotation"]).value = f"{new_rot}"

    # A row whose handle names nothing: its edits must go nowhere.
    r = rows[h_none]
    ws.cell(r, 1).comment = Comment("FFFFFFF", "tester")
    ws.cell(r, tags["NUMBER"]).value = "NOBODY"
    ws.cell(r, props["x"]).value = "-99999"

    # A column whose tag no block carries.
    extra = ws.max_column + 1
    ws.cell(1, extra).value = "NO_SUCH_TAG"
    for r in rows.values():
        ws.cell(r, extra).value = "stray"
    wb.save(book)

    # 3. Import every sheet with properties, and save.
    out = run_cadhost(work, home, [*spreadsheet_args, "--workbook", book, drawing], ["TABRO", "Import", "SAVE"])
    result = ezdxf.readfile(drawing)

    # 4. What changed is exactly what was edited.
    for (h, tag), text in expected_text.items():
        got = [a.dxf.text for a in attribs_of(result, h) if a.dxf.tag == tag]
        check(got == [text], f"{h} {tag}: {got!r}, expected {text!r}")

    moved = result.entitydb[h_move]
    check(Vec3(moved.dxf.insert).isclose(new_pos, abs_tol=1e-9),
          f"{h_move} at {moved.dxf.insert}, expected {new_pos}")
    scaled = result.entitydb[h_scale]
    check((scaled.dxf.xscale, scaled.dxf.yscale, scaled.dxf.zscale) == (2.0, 3.0, 1.0),
          f"{h_scale} scale {scaled.dxf.xscale}, {scaled.dxf.yscale}, {scaled.dxf.zscale}")
    check(result.entitydb[h_layer].dxf.layer == new_layer,
          f"{h_layer} on {result.entitydb[h_layer].dxf.layer}, expected {new_layer}")
    rotated = result.entitydb[h_rot]
    check(math.isclose(rotated.dxf.rotation, new_rot, abs_tol=1e-9),
          f"{h_rot} rotation {rotated.dxf.rotation}, expected {new_rot}")

    # Attributes follow their reference: each stands where its definition,
    # under the reference's new transform, puts it; texts are kept.
    block = result.blocks.get("DOOR_TAG")
    defs = {d.dxf.tag: d for d in block.query("ATTDEF")}
    for h in (h_move, h_scale, h_rot):
        ref = result.entitydb[h]
        m = ref.matrix44()
        for a, before in zip(ref.attribs, attribs_of(original, h)):
            want = m.transform(defs[a.dxf.tag].dxf.insert)
            check(Vec3(a.dxf.insert).isclose(want, abs_tol=1e-6),
                  f"{h} {a.dxf.tag} at {a.dxf.insert}, expected {want}")
            check(a.dxf.text == before.dxf.text, f"{h} {a.dxf.tag} text changed")

    # Everything else is as it was.
    changed_refs = {h_move, h_scale, h_rot, h_layer}
    changed_props = {"insert", "xscale", "yscale", "zscale", "rotation", "layer"}
    (before, parent), (after, _) = graphic_entities(original), graphic_entities(result)
    check(before.keys() == after.keys(), "entities added or removed")
    for h, e in before.items():
        if h not in after:
            continue
        f = after[h]
        owner = parent.get(h)
        if h in changed_refs:
            check(same_attribs(e, f, skip=changed_props), f"{h}: more than its properties changed")
            continue
        if e.dxftype() == "ATTRIB":
            # Only an edited text is written, with its field length; every other
            # attribute stays exactly as it was.
            skip = set()
            if owner in changed_refs:
                continue  # re-placed, checked above
            key = (owner, e.dxf.tag)
            if key in expected_text:
                skip |= {"text", "field_length"}
            check(same_attribs(e, f, skip=skip), f"{h} ({e.dxftype()} of {owner}) changed")
        else:
            check(same_attribs(e, f), f"{h} ({e.dxftype()}) changed")
    # The row without a live handle moved nothing to -99999.
    check(all(not math.isclose(Vec3(e.dxf.insert).x, -99999.0)
              for e in after.values() if e.dxftype() == "INSERT"), "a reference went to x=-99999")
    check(all(a.dxf.text != "NOBODY" for a in after.values() if a.dxftype() == "ATTRIB"),
          "the unnamed row's text reached an attribute")
    return drawing, out


def main():
    if not os.path.exists(CADHOST):
        sys.exit(f"{CADHOST} not built")
    work = tempfile.mkdtemp(prefix="tabro-import-e2e-")
    try:
        _, out = edit_and_import(work)
        if failures:
            print("cadhost output:\n" + out)
            for f in failures:
                print("FAIL:", f)
            sys.exit(1)
        print("import round trip: ok")
    finally:
        if os.environ.get("TABLORA_KEEP_E2E"):
            print("kept", work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
