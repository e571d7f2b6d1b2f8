#!/usr/bin/python3
"""The project's own test tools, which other tests trust:

  * tools/make_drawing.py: the same arguments make the same bytes; the drawing holds
    what the tests rely on (the five attributed blocks with their constant, prompted
    and case-twin tags, references in model space and both paper layouts, Z other
    than 0, negative coordinates, nested, anonymous, out-of-step references, the
    Czech code page), read back by ezdxf;
  * tools/make_mtext_drawing.py: it makes tests/fixtures/dxf/mtext_fields.dxf byte for
    byte, which ezdxf reads and audits without a fault: the multi-line attributes
    with their embedded MTEXT (one held in group 3 pieces, one repeating its text
    in its own group 1), the fields of two DATE attributes and a TEXT, each linked
    through ACAD_FIELD, and the FIELDLIST naming every FIELD;
  * tools/make_dynamic_drawing.py: it makes tests/fixtures/dxf/dynamic_blocks.dxf
    byte for byte, which ezdxf reads and audits without a fault, with the dynamic
    block VALVE and the anonymous blocks made from it naming it;
  * tools/dxf_compare.py: a drawing is the same as itself in ASCII, CR LF and binary
    form; a changed text, a changed real, a missing tag, a handle changed or added to
    an object that had one are each found and named by line; a handle added where
    the object had none, and a raised $HANDSEED, pass unless --exact.
"""
import os
import shutil
import subprocess
import sys
import tempfile

import ezdxf

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import shared_data  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def generator(work):
    a, b = os.path.join(work, "a.dxf"), os.path.join(work, "b.dxf")
    shared_data.make_drawing(300, a)
    shared_data.make_drawing(300, b)
    check(open(a, "rb").read() == open(b, "rb").read(), "the same arguments made different files")
    doc = ezdxf.readfile(a)
    blocks = {"DOOR_TAG", "WINDOW", "EQUIPMENT_TAG_[MECH]_LONG_NAME_V2", "ROOM_LABEL", "VALVE", "KEY_PLAN",
              "NORTH_ARROW"}
    check(blocks <= {b.name for b in doc.blocks}, "blocks missing: %s" % (blocks - {b.name for b in doc.blocks}))
    check(any(b.name.startswith("*U") for b in doc.blocks), "no anonymous block")
    door = doc.blocks.get("DOOR_TAG")
    constant = [a.dxf.tag for a in door.attdefs() if a.is_const]
    check(constant == ["CATEGORY"], "DOOR_TAG constant attributes: %s" % constant)
    check(all(a.dxf.prompt for a in door.attdefs() if not a.is_const), "DOOR_TAG attributes without a prompt")
    room = [a.dxf.tag for a in doc.blocks.get("ROOM_LABEL").attdefs()]
    check("NOTE" in room and "Note" in room and "Department" in room, "ROOM_LABEL tags: %s" % room)
    inserts = {name: [e for e in doc.layouts.get(name) if e.dxftype() == "INSERT"]
               for name in ("Model", "Layout1", "Sheet-02")}
    attributed = [e for refs in inserts.values() for e in refs if e.attribs]
    check(len(attributed) == 300, "%d attributed references, not 300" % len(attributed))
    check(inserts["Layout1"] and inserts["Sheet-02"], "a paper layout without references")
    check(any(e.dxf.insert.z != 0 for e in attributed), "no reference at a Z other than 0")
    check(any(e.dxf.insert.y < 0 for refs in inserts.values() for e in refs), "no reference at a negative Y")
    check(any(e.dxf.xscale < 0 for e in attributed), "no mirrored reference")
    check(any(a.dxf.tag == "OLD_NOTE" for e in attributed for a in e.attribs), "no reference with an extra attribute")
    equipment = [e for e in attributed if e.dxf.name.startswith("EQUIPMENT")]
    check(any(len(e.attribs) < 12 for e in equipment), "no equipment tag lacking its last attribute")
    check(any(e.dxftype() == "INSERT" and e.attribs for e in doc.blocks.get("KEY_PLAN")), "KEY_PLAN holds no "
          "attributed reference")
    numbers = [a.dxf.text for e in attributed if e.dxf.name == "DOOR_TAG" for a in e.attribs if a.dxf.tag == "NUMBER"]
    check(sum(n.startswith("NU-") and len(n) == 9 for n in numbers) > len(numbers) // 2,
          "door numbers: %s" % numbers[:5])
    cz = shared_data.make_drawing(40, os.path.join(work, "cz.dxf"), "--cz")
    doc = ezdxf.readfile(cz)
    check(doc.header["$DWGCODEPAGE"] == "ANSI_1250", "--cz code page %s" % doc.header["$DWGCODEPAGE"])
    check("POPIS_MÍSTNOSTI" in {b.name for b in doc.blocks}, "--cz: no Czech block name")


def compared(work, first, second, *options):
    proc = subprocess.run([shared_data.PYTHON, shared_data.DXF_COMPARE, *options, first, second], capture_output=True,
                          text=True)
    return proc.returncode, proc.stdout


def edited(work, source, name, change):
    """A copy of the ASCII file source with change(lines) applied to its lines."""
    lines = open(source, "rb").read().split(b"\n")
    change(lines)
    path = os.path.join(work, name)
    open(path, "wb").write(b"\n".join(lines))
    return path


def line_of(lines, value, after=0):
    return next(i for i in range(after, len(lines)) if lines[i].rstrip(b"\r") == value)


def comparator(work):
    ascii_ = shared_data.make_drawing(60, os.path.join(work, "a.dxf"))
    binary = shared_data.make_drawing(60, os.path.join(work, "b.dxf"), "--binary")
    crlf = os.path.join(work, "crlf.dxf")
    open(crlf, "wb").write(open(ascii_, "rb").read().replace(b"\n", b"\r\n"))
    for other in (ascii_, binary, crlf):
        code, out = compared(work, ascii_, other, "--exact")
        check(code == 0 and out.strip() == "same", "%s is not the same as itself: %s" % (other, out))
    code, out = compared(work, binary, ascii_)
    check(code == 0, "binary against ASCII: %s" % out)

    lines = open(ascii_, "rb").read().split(b"\n")
    number = line_of(lines, b"NU-000003")

    def text(ls):
        ls[number] = b"NU-000004"

    def real(ls):
        at = next(i for i in range(number, 0, -1) if ls[i].strip() == b"10")
        ls[at + 1] = b"%r" % (float(ls[at + 1]) + 1e-6)

    def drop(ls):
        del ls[number - 1:number + 1]

    def handle(ls):
        at = next(i for i in range(number, 0, -1) if ls[i].strip() == b"5")
        ls[at + 1] = b"FFFFF"

    for name, change, where in (("text", text, number + 1), ("real", real, None), ("missing", drop, None),
                                ("handle", handle, None)):
        path = edited(work, ascii_, name + ".dxf", change)
        code, out = compared(work, ascii_, path)
        check(code == 1 and out.startswith("differ:"), "%s change not found: %s" % (name, out[:300]))
        if where:
            check("line %d " % where in out.splitlines()[0], "%s change: line %d not named: %s" % (
                name, where, out.splitlines()[0]))

    # Equal reals written otherwise are the same.
    def rewritten(ls):
        at = next(i for i in range(number, 0, -1) if ls[i].strip() == b"40")
        ls[at + 1] = b" %s0 " % ls[at + 1].strip()
    code, out = compared(work, ascii_, edited(work, ascii_, "reals.dxf", rewritten))
    check(code == 0, "a real written with another zero differs: %s" % out)

    # Handles added: to an object without one it passes (not with --exact), to an
    # object with one it does not.
    def without_handle(ls):
        at = line_of(ls, b"ATTRIB", number - 40)
        assert ls[at + 1].strip() == b"5"
        del ls[at + 1:at + 3]
    bare = edited(work, ascii_, "bare.dxf", without_handle)
    code, out = compared(work, bare, ascii_)
    check(code == 0, "a handle added to an object without one: %s" % out)
    code, out = compared(work, bare, ascii_, "--exact")
    check(code == 1, "--exact let an added handle pass")
    code, out = compared(work, ascii_, bare)
    check(code == 1, "a handle lost passed: %s" % out)

    def twice(ls):
        at = line_of(ls, b"ATTRIB", number - 40)
        ls[at + 1:at + 1] = [b"  5", b"FFFF0"]
    code, out = compared(work, ascii_, edited(work, ascii_, "twice.dxf", twice))
    check(code == 1, "a second handle on an object passed: %s" % out)

    def seed(ls):
        at = line_of(ls, b"$HANDSEED")
        ls[at + 2] = b"FFFFFF"
    raised = edited(work, ascii_, "seed.dxf", seed)
    check(compared(work, ascii_, raised)[0] == 0, "a raised $HANDSEED did not pass")
    check(compared(work, raised, ascii_)[0] == 1, "a lowered $HANDSEED passed")
    check(compared(work, ascii_, raised, "--exact")[0] == 1, "--exact let a raised $HANDSEED pass")

    tail = os.path.join(work, "tail.dxf")
    open(tail, "wb").write(open(ascii_, "rb").read() + b"kept after the end\n")
    check(compared(work, ascii_, tail)[0] == 1, "bytes after 0/EOF were not compared")
    code, out = compared(work, ascii_, os.path.join(work, "absent.dxf"))
    check(code == 2, "an absent file: exit %d, %s" % (code, out))


def regenerated(work, tool, fixture_name):
    """Runs a fixture's generator into work, checks that it makes the committed
    fixture byte for byte and that ezdxf audits it clean; the drawing ezdxf read."""
    made = os.path.join(work, fixture_name)
    subprocess.run([shared_data.PYTHON, os.path.join(shared_data.TOOLS, tool), made], check=True)
    fixture = os.path.join(shared_data.ROOT, "tests", "fixtures", "dxf", fixture_name)
    check(open(made, "rb").read() == open(fixture, "rb").read(),
          "%s no longer makes the committed fixture; run it again into %s" % (tool, fixture))
    doc = ezdxf.readfile(made)
    auditor = doc.audit()
    check(not auditor.errors and not auditor.fixes,
          "ezdxf's audit: %s" % [e.message for e in auditor.errors + auditor.fixes])
    return doc


def dynamic_generator(work):
    doc = regenerated(work, "make_dynamic_drawing.py", "dynamic_blocks.dxf")
    valve = doc.blocks.get("VALVE").block_record
    check("ACAD_ENHANCEDBLOCK" in valve.get_extension_dict(), "VALVE has no evaluation graph")
    named = sorted(br.dxf.name for br in doc.block_records
                   if br.has_xdata("AcDbBlockRepBTag")
                   and any(t.code == 1005 and t.value == valve.dxf.handle for t in br.get_xdata("AcDbBlockRepBTag")))
    check(named == ["*U1", "*U2", "*U3"], "the anonymous blocks naming VALVE are %s" % named)


def mtext_generator(work):
    doc = regenerated(work, "make_mtext_drawing.py", "mtext_fields.dxf")
    made = os.path.join(work, "mtext_fields.dxf")
    defs = {a.dxf.tag: a for a in doc.blocks.get("TITLE").attdefs()}
    check(sorted(defs) == ["DATE", "NOTES", "NUMBER", "REV"], "TITLE defines %s" % sorted(defs))
    check([t for t, a in sorted(defs.items()) if a.has_embedded_mtext_entity] == ["NOTES"],
          "the multi-line definitions are not NOTES alone")
    refs = {}
    for insert in doc.modelspace().query("INSERT"):
        attribs = {a.dxf.tag: a for a in insert.attribs}
        refs[attribs["NUMBER"].dxf.text] = attribs
    if not check(sorted(refs) == ["A-101", "A-102", "A-103"], "references %s" % sorted(refs)):
        return
    notes = {n: refs[n]["NOTES"] for n in refs}
    check(all(a.has_embedded_mtext_entity for a in notes.values()), "a NOTES without its embedded MTEXT")
    formatted = notes["A-101"].virtual_mtext_entity().text
    check("\\P" in formatted and "\\S1/2;" in formatted and "%%c" in formatted, "A-101's NOTES: %r" % formatted)
    check(len(notes["A-102"].virtual_mtext_entity().text.encode("utf-8")) > 500,
          "A-102's NOTES is too short for group 3 pieces")
    check(notes["A-101"].dxf.text == "" and notes["A-103"].dxf.text == notes["A-103"].virtual_mtext_entity().text,
          "the attributes' own group 1 is not empty on A-101 and the contents on A-103")
    fields = {f.dxf.handle for f in doc.objects.query("FIELD")}
    # The FIELDLIST names its fields in AcDbIdSet, as the DXF reference and the CAD
    # program's files have them (ezdxf 0.18 looks for them after AcDbFieldList).
    lines = open(made, encoding="utf-8").read().split("\n")
    tags = [(int(lines[i]), lines[i + 1]) for i in range(0, len(lines) - 1, 2)]
    start = tags.index((0, "FIELDLIST"))
    end = next(i for i in range(start + 1, len(tags)) if tags[i][0] == 0)
    first_marker = next(i for i in range(start, end) if tags[i][0] == 100)
    listed = [v for c, v in tags[first_marker:end] if c == 330]
    check(len(fields) == 7 and sorted(listed) == sorted(fields), "fields %s, listed %s" % (fields, listed))
    texts = list(doc.modelspace().query("TEXT"))
    linked = [refs["A-101"]["DATE"], refs["A-102"]["DATE"]] + texts
    for e in linked:
        ok = e.has_extension_dict and "ACAD_FIELD" in e.get_extension_dict()
        check(ok, "%s %s has no ACAD_FIELD" % (e.dxftype(), e.dxf.handle))
    check(not refs["A-103"]["DATE"].has_extension_dict, "A-103's DATE has a field")


def case(part):
    def run():
        failed = len(failures)
        work = tempfile.mkdtemp(prefix="tabro-tools-")
        try:
            part(work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        for f in failures[failed:]:
            print("FAIL:", f)
        return 1 if len(failures) > failed else 0
    return run


if __name__ == "__main__":
    sys.exit(cases.run({"make-drawing": case(generator), "make-mtext-drawing": case(mtext_generator),
                        "make-dynamic-drawing": case(dynamic_generator),
                        "dxf-compare": case(comparator)}))
