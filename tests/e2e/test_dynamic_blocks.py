#!/usr/bin/python3
"""End to end: drawings as current CAD programs make them, judged with tools we did
not write (ezdxf reads the drawings, openpyxl the workbooks).

  * dynamic blocks: a reference whose parameters differ from the block's defaults
    points at an anonymous block made for it; its row still goes to its block's
    sheet under the block's name, with the parameters in read-only columns, and an
    edit of its attribute lands on that reference only;
  * multi-line attributes: the cell shows the text a reader sees, on lines of its
    own, wrapped; an edited cell becomes the attribute's text, frame kept;
  * fields: an imported text replaces an attribute's field, and the import says so;
  * nothing edited, nothing changed: the drawing comes back byte for byte.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import ezdxf
from openpyxl import load_workbook

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import ooxml  # noqa: E402
import shared_data  # noqa: E402

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
FIXTURES = os.path.join(shared_data.ROOT, "tests", "fixtures", "dxf")
PARAMETER_MARKER = "Tablora dynamic block parameter"
READ_ONLY = "dynamic parameters are read-only"

REGISTRY = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Export]
"BlockNames"=dword:00000001
"XCoord"=dword:00000001

[HKEY_CURRENT_USER\SOFTWARE\Morvik\Tablora\Settings\Import]
"ImportSettings"=dword:00000001
"StartCol"=dword:00000001
"StartRow"=dword:00000002
"Preview"=dword:00000000
"""

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Case:
    """One drawing copied into its own folder and exported with every block."""

    def __init__(self, root, name, source):
        self.work = os.path.join(root, name)
        self.home = os.path.join(self.work, "home")
        os.makedirs(self.home)
        with open(os.path.join(self.home, "user.reg"), "w") as f:
            f.write(REGISTRY)
        self.drawing = os.path.join(self.work, os.path.basename(source))
        shutil.copyfile(source, self.drawing)
        self.original = open(source, "rb").read()
        self.exported = self.run([self.drawing], ["TABRO", "Export2", ""])
        books = sorted(n for n in os.listdir(self.work) if n.startswith("Book") and n.endswith(".xlsx"))
        if not books:
            sys.exit("export wrote no workbook")
        self.book = os.path.join(self.work, books[0])

    def run(self, args, lines):
        script = os.path.join(self.work, "run.scr")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        proc = subprocess.run([CADHOST, "--script", script, *args], cwd=self.work,
                              env=dict(os.environ, CADHOST_HOME=self.home), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=600)
        if proc.returncode != 0:
            sys.exit(f"cadhost {' '.join(args)} failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
        return proc.stdout

    def import_(self, *after):
        return self.run(["--workbook", self.book, self.drawing], ["TABRO", "Import", *after, "SAVE"])

    def unchanged(self):
        return open(self.drawing, "rb").read() == self.original


def columns(ws):
    """Header titles -> columns, attributes and parameters apart; rows by handle."""
    attributes, parameters = {}, {}
    for c in ws[1]:
        if c.value is None:
            continue
        if c.comment is not None and c.comment.text.startswith(PARAMETER_MARKER):
            parameters[c.value] = c.column
        elif c.comment is None or c.column == 1:
            attributes[c.value] = c.column
    rows = {}
    for r in range(2, ws.max_row + 1):
        comment = ws.cell(r, 1).comment
        if comment is not None:
            rows[comment.text.strip().upper()] = r
    return attributes, parameters, rows


def texts(doc, handle):
    return {a.dxf.tag: a.dxf.text for a in doc.entitydb[handle].attribs}


def references_of(doc, block_name):
    """Handles of the references belonging to a dynamic block, through its anonymous
    blocks too, as ezdxf finds them: the anonymous record's AcDbBlockRepBTag."""
    record = doc.blocks.get(block_name).block_record
    anonymous = set()
    for br in doc.block_records:
        if br.has_xdata("AcDbBlockRepBTag"):
            tags = br.get_xdata("AcDbBlockRepBTag")
            if any(t.code == 1005 and t.value.upper() == record.dxf.handle.upper() for t in tags):
                anonymous.add(br.dxf.name)
    out = []
    for layout in doc.layouts:
        for ins in layout.query("INSERT"):
            if ins.dxf.name == block_name or ins.dxf.name in anonymous:
                out.append(ins.dxf.handle.upper())
    return out, anonymous


def test_corpus_dynamic_block(root):
    source = shared_data.shared_path("corpus/dxf/dxfparser_api-cw750-details.dxf")
    if not os.path.exists(source):
        print(shared_data.missing("corpus/dxf"))
        return cases.SKIPPED
    case = Case(root, "cw750", source)
    doc = ezdxf.readfile(source)
    handles, anonymous = references_of(doc, "Section Callout")
    via_anonymous = [h for h in handles if doc.entitydb[h].dxf.name in anonymous]
    check(len(via_anonymous) >= 12, f"the drawing has {len(via_anonymous)} anonymous callouts, not 12")

    wb = load_workbook(case.book)
    if not check("Section Callout" in wb.sheetnames, f"no sheet for the dynamic block: {wb.sheetnames}"):
        return
    check(not any(n.startswith("*U") or n.startswith("U3") for n in wb.sheetnames),
          f"an anonymous block got a sheet: {wb.sheetnames}")
    ws = wb["Section Callout"]
    attributes, parameters, rows = columns(ws)
    missing = [h for h in handles if h not in rows]
    check(not missing, f"references of the dynamic block missing from its sheet: {missing}")
    check(all(ws.cell(rows[h], 1).value == "Section Callout" for h in handles if h in rows),
          "a block-name cell does not name the dynamic block")
    check("Angle" in parameters, f"the rotation parameter has no column (titled by its label): {parameters}")
    check("Rotation" not in parameters, "a parameter column is titled with its element's name")
    if "Angle" in parameters and "2204" in rows:
        angle = str(ws.cell(rows["2204"], parameters["Angle"]).value)
        check(angle.startswith("315"), f"reference 2204 shows the angle {angle!r}, not 315")
    ooxml.validate_written(case.work, failures, "a dynamic block's export")

    # Nothing edited: the drawing comes back byte for byte.
    case.import_()
    check(case.unchanged(), "an unedited import of a drawing with dynamic blocks changed it")

    # One attribute of a reference sharing its anonymous block with others, and a
    # parameter cell: the attribute lands on that reference only, the parameter is
    # named and not applied.
    target = "2204"
    shared = [h for h in via_anonymous if h != target and doc.entitydb[h].dxf.name == doc.entitydb[target].dxf.name]
    check(shared, "no other reference shares the anonymous block of 2204")
    ws.cell(rows[target], attributes["DETNO"]).value = "99"
    if "Angle" in parameters:
        ws.cell(rows[shared[0]], parameters["Angle"]).value = "12"
    wb.save(case.book)
    out = case.import_()
    after = ezdxf.readfile(case.drawing)
    check(texts(after, target)["DETNO"] == "99", "the edited attribute of an anonymous reference did not land")
    for h in handles:
        if h != target:
            check(texts(after, h) == texts(doc, h), f"reference {h} changed though its row was not edited")
    check(READ_ONLY in out, f"the parameter edit is not named:\n{out}")
    check(after.entitydb[shared[0]].dxf.name == doc.entitydb[shared[0]].dxf.name,
          "a parameter edit changed the reference")


def test_fixture_dynamic_blocks(root):
    source = os.path.join(FIXTURES, "dynamic_blocks.dxf")
    case = Case(root, "fixture", source)
    doc = ezdxf.readfile(source)
    handles, anonymous = references_of(doc, "VALVE")
    wb = load_workbook(case.book)
    ws = wb["VALVE"]
    attributes, parameters, rows = columns(ws)
    # The labels, never the elements' names, in the order of the block's graph.
    check([p for p in parameters] == ["State", "Length", "Mirror", "Reach", "Turn", "Size Table"],
          f"the parameter columns are not the labels in the block's order: {list(parameters)}")
    property_columns = [c.column for c in ws[1] if c.comment is not None and c.column > 1
                        and not c.comment.text.startswith(PARAMETER_MARKER)]
    check(all(p > max(property_columns) for p in parameters.values()),
          "the parameter columns do not follow the property columns")
    # The reference whose own data names another block than its anonymous block
    # does is named, not exported under either.
    odd = [h for h in handles if texts(doc, h).get("TAG") == "V-106"]
    listed = [h for h in handles if h in rows]
    check(set(listed) == set(handles) - set(odd), f"references of VALVE missing: {set(handles) - set(rows)}")
    check(all(ws.cell(rows[h], 1).value == "VALVE" for h in listed), "a VALVE row names another block")
    check(all(f"Reference {h} came with an anonymous block of VALVE" in case.exported for h in odd),
          f"the reference left out is not named:\n{case.exported}")
    states = {ws.cell(rows[h], parameters["State"]).value for h in listed}
    check({"Open", "Closed"} <= states, f"the visibility states shown are {states}")
    mirrors = {str(ws.cell(rows[h], parameters["Mirror"]).value) for h in listed}
    check(mirrors <= {"0", "1"} and "1" in mirrors, f"the flip states shown are {mirrors}")
    case.import_()
    check(case.unchanged(), "an unedited import of the dynamic fixture changed it")

    # A parameter cell the only edit of the workbook: still named, nothing written.
    wb = load_workbook(case.book)
    ws = wb["VALVE"]
    row = rows[listed[0]]
    ws.cell(row, parameters["State"]).value = "Closed" if ws.cell(row, parameters["State"]).value == "Open" else "Open"
    wb.save(case.book)
    out = case.import_()
    check(READ_ONLY in out, f"the only edit, a parameter cell, is not named:\n{out}")
    check(case.unchanged(), "a parameter edit changed the dynamic fixture")


def test_dynamic_block_of_an_older_release(root):
    """R2000 and R2004 files keep a dynamic block as an anonymous block with its name
    in extended data: it is offered and exported under that name all the same."""
    for name in ("acadsharp_sample_AC1015_ascii.dxf", "acadsharp_sample_AC1018_binary.dxf"):
        source = shared_data.shared_path("corpus/dxf/" + name)
        if not os.path.exists(source):
            print(shared_data.missing("corpus/dxf"))
            return cases.SKIPPED
        case = Case(root, name[:-4], source)
        doc = ezdxf.readfile(source)
        wb = load_workbook(case.book)
        if not check("my-dynamic-block" in wb.sheetnames, f"{name}: no sheet for the block: {wb.sheetnames}"):
            continue
        check(not any(n.startswith("*U") or n.startswith("U1") for n in wb.sheetnames),
              f"{name}: an anonymous block got a sheet: {wb.sheetnames}")
        ws = wb["my-dynamic-block"]
        _, parameters, rows = columns(ws)
        check(set(rows) == {"ABA", "AC5"}, f"{name}: the block's rows are {sorted(rows)}")
        check(list(parameters) == ["dynamic-diameter", "custom_visibility"], f"{name}: parameters {list(parameters)}")
        if "dynamic-diameter" in parameters and "AC5" in rows:
            value = float(ws.cell(rows["AC5"], parameters["dynamic-diameter"]).value)
            check(abs(value - 14.7) < 1e-3, f"{name}: the diameter of AC5 reads {value}")
        check(all(ws.cell(r, 1).value == "my-dynamic-block" for r in rows.values()),
              f"{name}: a block-name cell does not say the block's name")
        check(doc.entitydb["ABA"].dxf.name == "*U18", "the sample changed")
        case.import_()
        check(case.unchanged(), f"{name}: an unedited import changed the drawing")


def mtext_of(attrib):
    return attrib.virtual_mtext_entity() if attrib.has_embedded_mtext_entity else None


def same_reading(cell, mtext):
    """Whether a cell shows what ezdxf reads of an MText. ezdxf's plain text keeps a
    stacked tolerance's caret (\\S+0.1^-0.2; reads "+0.1^-0.2", a reader sees one
    over the other, which a cell says "+0.1/-0.2") and makes a non-breaking space a
    plain one: both sides are compared with those read alike."""
    theirs = mtext.plain_text(split=False, fast=False).replace("\r\n", "\n").replace("^", "/")
    ours = (cell or "").replace("\u00a0", " ")
    return ours == theirs



def test_multiline_attributes_and_fields(root):
    source = os.path.join(FIXTURES, "mtext_fields.dxf")
    case = Case(root, "mtext", source)
    doc = ezdxf.readfile(source)
    wb = load_workbook(case.book)
    ws = wb["TITLE"]
    attributes, _, rows = columns(ws)
    multi = [(h, a) for h in rows for a in doc.entitydb[h].attribs if a.has_embedded_mtext_entity]
    check(multi, "the fixture has no multi-line attribute")
    for h, a in multi:
        cell = ws.cell(rows[h], attributes[a.dxf.tag])
        check(same_reading(cell.value, mtext_of(a)),
              f"{h}: the cell shows {cell.value!r}, ezdxf reads {mtext_of(a).plain_text(split=False)!r}")
        if "\n" in (cell.value or ""):
            check(cell.alignment.wrap_text, f"{h}: a cell of several lines does not wrap")
    ooxml.validate_written(case.work, failures, "multi-line attributes")
    case.import_()
    check(case.unchanged(), "an unedited import of multi-line attributes and fields changed the drawing")

    h, a = multi[0]
    frame = mtext_of(a).dxf.width if mtext_of(a).dxf.hasattr("width") else None
    ws.cell(rows[h], attributes[a.dxf.tag]).value = "Line one {braced}\nLine two \\ back"
    fielded = [(fh, fa) for fh in rows for fa in doc.entitydb[fh].attribs
               if fa.has_extension_dict and "ACAD_FIELD" in fa.get_extension_dict()]
    check(fielded, "the fixture has no attribute with a field")
    for fh, fa in fielded:
        ws.cell(rows[fh], attributes[fa.dxf.tag]).value = "typed over"
    wb.save(case.book)
    out = case.import_()
    after = ezdxf.readfile(case.drawing)
    check(not after.audit().has_errors, "the saved drawing has errors ezdxf's audit finds")
    edited = next(x for x in after.entitydb[h].attribs if x.dxf.tag == a.dxf.tag)
    check(edited.has_embedded_mtext_entity, "the multi-line attribute lost its multi-line text")
    if edited.has_embedded_mtext_entity:
        m = mtext_of(edited)
        check(m.plain_text(split=False, fast=False).replace("\r\n", "\n") == "Line one {braced}\nLine two \\ back",
              f"the edited multi-line text reads {m.plain_text(split=False)!r}")
        check("\\P" in m.text, f"the line break is not written as a paragraph break: {m.text!r}")
        if frame is not None:
            check(abs(m.dxf.width - frame) < 1e-9, "the multi-line text's frame width changed")
    for fh, fa in fielded:
        x = next(x for x in after.entitydb[fh].attribs if x.dxf.tag == fa.dxf.tag)
        check(x.dxf.text == "typed over", f"{fh}: the field attribute holds {x.dxf.text!r}")
        check(not (x.has_extension_dict and "ACAD_FIELD" in x.get_extension_dict()),
              f"{fh}: the attribute still has its field, which would put its value back")
    n = len(fielded)
    said = (f"{n} attribute held a field; its field was replaced by the imported text" if n == 1 else
            f"{n} attributes held fields; their fields were replaced by the imported text")
    check(said in out, f"the import does not say the fields were replaced:\n{out}")


TESTS = (test_corpus_dynamic_block, test_fixture_dynamic_blocks, test_dynamic_block_of_an_older_release,
         test_multiline_attributes_and_fields)


def case(test):
    def run():
        if not os.path.exists(CADHOST):
            sys.exit(f"no cadhost at {CADHOST}")
        failed = len(failures)
        root = tempfile.mkdtemp(prefix="tabro-dynamic-")
        try:
            code = test(root)
        finally:
            if len(failures) > failed or os.environ.get("TABLORA_KEEP_E2E"):
                print(f"work folder kept: {root}")
            else:
                shutil.rmtree(root, ignore_errors=True)
        for f in failures[failed:]:
            print("FAIL:", f)
        if code == cases.SKIPPED:
            return code
        print(f"{test.__name__}: {'ok' if len(failures) == failed else 'FAILED'}")
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    sys.exit(cases.run({t.__name__[len("test_"):].replace("_", "-"): case(t) for t in TESTS}))
