#!/usr/bin/python3
"""Makes tests/fixtures/dxf/dynamic_blocks.dxf: a small R2018 (AC1032) ASCII drawing
with a dynamic block, laid out tag for tag as the writers of real drawings lay out
dynamic blocks, the same bytes every time.

    make_dynamic_drawing.py [OUT.dxf]

Needs nothing beyond Python's own modules. What the drawing holds:

  * VALVE, a dynamic block with attribute definitions TAG and SIZE and an evaluation
    graph whose nodes are, in this order: a visibility parameter (label "State",
    states Open, Closed, Hidden), its grip, a linear parameter ("Length"), a flip
    parameter ("Mirror"), its grip, a polar parameter ("Reach"), an XY parameter
    ("Offset", no property of the kinds a reference reports), a flip action, a
    rotation parameter ("Turn"), a lookup parameter ("Size Table"). Every element's
    own name (group 300) differs from its label, and the elements' handles do not
    follow the graph's order.
  * PUMP, a plain block with attributes.
  * *U1, *U2 and *U3, anonymous blocks made from VALVE (AcDbBlockRepBTag names it).
  * In model space: VALVE placed twice directly (the second scaled 2, 1, 1, and
    carrying values in its extension dictionary that a direct reference does not
    use); *U1 twice (the second mirrored, X scale -1), state Closed, flipped, length
    12.5, reach 7, turned 90 degrees, size DN50; *U2 once, scaled 2 uniformly, state
    Hidden, length 8, reach 3, turned 30 degrees, size DN80; *U3 once, whose
    representation data names PUMP rather than VALVE; PUMP twice. Every reference
    has its attributes and SEQEND.
"""
import math
import sys
from pathlib import Path

DEFAULT_OUT = Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "dxf" / "dynamic_blocks.dxf"


# ---------------------------------------------------------------- tag formatting

def _is_real(code):
    return (10 <= code <= 59 or 110 <= code <= 149 or 210 <= code <= 239 or 460 <= code <= 469
            or 1010 <= code <= 1059)


def _is_int(code):
    return (60 <= code <= 99 or 160 <= code <= 179 or 270 <= code <= 289 or 370 <= code <= 389
            or 400 <= code <= 409 or 420 <= code <= 429 or 440 <= code <= 459 or 1060 <= code <= 1071)


def real(v):
    """A real as the writers of these files put it: shortest form, never an exponent."""
    v = round(float(v), 12) + 0.0  # no -0.0
    text = repr(v)
    if "e" in text or "E" in text:
        text = f"{v:.16f}".rstrip("0")
        if text.endswith("."):
            text += "0"
    return text


def tag(code, value):
    if _is_real(code):
        value = real(value)
    elif _is_int(code):
        width = 9 if (90 <= code <= 99 or 420 <= code <= 429 or 440 <= code <= 459 or code == 1071) else 6
        value = f"{int(value):>{width}d}"
    return f"{code:>3d}\n{value}\n"


class Handles:
    """Handles given out by name, in the order first asked for."""

    def __init__(self, first=0x20):
        self.next = first
        self.by_name = {}

    def __call__(self, name):
        if name not in self.by_name:
            self.by_name[name] = f"{self.next:X}"
            self.next += 1
        return self.by_name[name]


H = Handles()


def point(code, p):
    return [(code, p[0]), (code + 10, p[1]), (code + 20, p[2] if len(p) > 2 else 0.0)]


# ---------------------------------------------------------------- the drawing's data

ELEMENT_MAJOR, ELEMENT_MINOR = 33, 29

# Per reference of VALVE's anonymous blocks: the values kept in its extension dictionary.
U1_VALUES = dict(state="Closed", flip=1, length=12.5, reach=7.0, turn=90.0, size="DN50")
U2_VALUES = dict(state="Hidden", flip=0, length=8.0, reach=3.0, turn=30.0, size="DN80")
U3_VALUES = dict(state="Closed", flip=1, length=5.0, reach=2.0, turn=180.0, size="DN25")
DIRECT_VALUES = dict(state="Hidden", flip=1, length=99.0, reach=42.0, turn=270.0, size="DN99")

# The parameters' definitions (block units).
VIS_POINT = (2.0, 6.0, 0.0)
LIN_BASE, LIN_END = (0.0, 0.0, 0.0), (10.0, 0.0, 0.0)
FLIP_BASE, FLIP_END = (5.0, -2.0, 0.0), (5.0, 2.0, 0.0)
POLAR_BASE, POLAR_END = (0.0, 0.0, 0.0), (3.0, 4.0, 0.0)
XY_BASE, XY_END = (0.0, 0.0, 0.0), (1.0, 1.0, 0.0)
ROT_BASE, ROT_END, ROT_BASE_ANGLE = (5.0, 0.0, 0.0), (5.0, 4.0, 0.0), (8.0, 3.0, 0.0)
LOOKUP_POINT = (9.0, 5.0, 0.0)

# The graph's nodes in graph order: (node id, element key). Node ids are the keys of
# a reference's data; they are not the nodes' indices.
NODES = [
    (3, "vis"),
    (4, "visgrip"),
    (7, "lin"),
    (12, "flip"),
    (13, "flipgrip"),
    (20, "polar"),
    (21, "xy"),
    (25, "flipaction"),
    (30, "rot"),
    (41, "lookup"),
]
NODE_ID = {key: nid for nid, key in NODES}

# Handles: the elements are given theirs in another order than the graph's.
for key in ["lookup", "rot", "flipaction", "xy", "polar", "flipgrip", "flip", "lin", "visgrip", "vis"]:
    H("el:" + key)


# ---------------------------------------------------------------- sections

def header(seed):
    tags = [(0, "SECTION"), (2, "HEADER"),
            (9, "$ACADVER"), (1, "AC1032"),
            (9, "$ACADMAINTVER"), (90, 105),
            (9, "$DWGCODEPAGE"), (3, "ANSI_1252"),
            (9, "$INSBASE"), *point(10, (0, 0, 0)),
            (9, "$EXTMIN"), *point(10, (-20.0, -20.0, 0.0)),
            (9, "$EXTMAX"), *point(10, (120.0, 60.0, 0.0)),
            (9, "$LUNITS"), (70, 2),
            (9, "$LUPREC"), (70, 4),
            (9, "$AUNITS"), (70, 0),
            (9, "$AUPREC"), (70, 0),
            (9, "$CLAYER"), (8, "0"),
            (9, "$HANDSEED"), (5, seed),
            (9, "$INSUNITS"), (70, 0),
            (0, "ENDSEC")]
    return tags


CLASSES = [
    ("ACDB_BLOCKREPRESENTATION_DATA", "AcDbBlockRepresentationData", 6),
    ("ACDB_DYNAMICBLOCKPURGEPREVENTER_VERSION", "AcDbDynamicBlockPurgePreventer", 1),
    ("ACAD_EVALUATION_GRAPH", "AcDbEvalGraph", 1),
    ("BLOCKVISIBILITYPARAMETER", "AcDbBlockVisibilityParameter", 1),
    ("BLOCKVISIBILITYGRIP", "AcDbBlockVisibilityGrip", 1),
    ("BLOCKLINEARPARAMETER", "AcDbBlockLinearParameter", 1),
    ("BLOCKFLIPPARAMETER", "AcDbBlockFlipParameter", 1),
    ("BLOCKFLIPGRIP", "AcDbBlockFlipGrip", 1),
    ("BLOCKFLIPACTION", "AcDbBlockFlipAction", 1),
    ("BLOCKPOLARPARAMETER", "AcDbBlockPolarParameter", 1),
    ("BLOCKXYPARAMETER", "AcDbBlockXYParameter", 1),
    ("BLOCKROTATIONPARAMETER", "AcDbBlockRotationParameter", 1),
    ("BLOCKLOOKUPPARAMETER", "AcDbBlockLookupParameter", 1),
]


def classes():
    tags = [(0, "SECTION"), (2, "CLASSES")]
    for dxf_name, cpp_name, count in CLASSES:
        tags += [(0, "CLASS"), (1, dxf_name), (2, cpp_name), (3, "ObjectDBX Classes"),
                 (90, 1153), (91, count), (280, 0), (281, 0)]
    return tags + [(0, "ENDSEC")]


APPIDS = ["ACAD", "AcDbBlockRepBTag", "AcDbBlockRepETag", "AcDbDynamicBlockGUID", "AcDbDynamicBlockTrueName"]
LAYERS = [("0", 7), ("PIPING", 5)]
BLOCK_RECORDS = ["*Model_Space", "*Paper_Space", "VALVE", "PUMP", "*U1", "*U2", "*U3"]
# References of each anonymous block (their keys), listed by its record.
ANONYMOUS_REFS = {"*U1": ["ref:u1a", "ref:u1b"], "*U2": ["ref:u2"], "*U3": ["ref:u3"]}


def table(name, entries, owner="0"):
    h = H("table:" + name)
    tags = [(0, "TABLE"), (2, name), (5, h), (330, owner), (100, "AcDbSymbolTable"), (70, len(entries))]
    if name == "DIMSTYLE":
        tags += [(100, "AcDbDimStyleTable"), (71, 0)]
    for e in entries:
        tags += e(h)
    return tags + [(0, "ENDTAB")]


def ltype(name, description):
    def make(owner):
        return [(0, "LTYPE"), (5, H("ltype:" + name)), (330, owner), (100, "AcDbSymbolTableRecord"),
                (100, "AcDbLinetypeTableRecord"), (2, name), (70, 0), (3, description), (72, 65), (73, 0),
                (40, 0.0)]
    return make


def layer(name, color):
    def make(owner):
        return [(0, "LAYER"), (5, H("layer:" + name)), (330, owner), (100, "AcDbSymbolTableRecord"),
                (100, "AcDbLayerTableRecord"), (2, name), (70, 0), (62, color), (6, "Continuous"), (370, -3),
                (390, H("placeholder:normal")), (347, H("material:global")), (348, "0")]
    return make


def style(owner):
    return [(0, "STYLE"), (5, H("style:Standard")), (330, owner), (100, "AcDbSymbolTableRecord"),
            (100, "AcDbTextStyleTableRecord"), (2, "Standard"), (70, 0), (40, 0.0), (41, 1.0), (50, 0.0),
            (71, 0), (42, 2.5), (3, "txt"), (4, "")]


def appid(name):
    def make(owner):
        return [(0, "APPID"), (5, H("appid:" + name)), (330, owner), (100, "AcDbSymbolTableRecord"),
                (100, "AcDbRegAppTableRecord"), (2, name), (70, 0)]
    return make


def vport(owner):
    return [(0, "VPORT"), (5, H("vport:*Active")), (330, owner), (100, "AcDbSymbolTableRecord"),
            (100, "AcDbViewportTableRecord"), (2, "*Active"), (70, 0), (10, 0.0), (20, 0.0), (11, 1.0),
            (21, 1.0), (12, 50.0), (22, 20.0), (13, 0.0), (23, 0.0), (14, 10.0), (24, 10.0), (15, 10.0),
            (25, 10.0), (16, 0.0), (26, 0.0), (36, 1.0), (17, 0.0), (27, 0.0), (37, 0.0), (40, 100.0),
            (41, 2.0), (42, 50.0), (43, 0.0), (44, 0.0), (50, 0.0), (51, 0.0), (71, 0), (72, 1000),
            (73, 1), (74, 3), (75, 0), (76, 0), (77, 0), (78, 0), (281, 0), (65, 1), (110, 0.0),
            (120, 0.0), (130, 0.0), (111, 1.0), (121, 0.0), (131, 0.0), (112, 0.0), (122, 1.0),
            (132, 0.0), (79, 0), (146, 0.0)]


def dimstyle(owner):
    return [(0, "DIMSTYLE"), (105, H("dimstyle:Standard")), (330, owner), (100, "AcDbSymbolTableRecord"),
            (100, "AcDbDimStyleTableRecord"), (2, "Standard"), (70, 0)]


def block_record(name):
    def make(owner):
        h = H("record:" + name)
        tags = [(0, "BLOCK_RECORD"), (5, h)]
        if name in ("VALVE",) or name in ANONYMOUS_REFS:
            tags += [(102, "{ACAD_XDICTIONARY"), (360, H("xdict:" + name)), (102, "}")]
        tags += [(330, owner), (100, "AcDbSymbolTableRecord"), (100, "AcDbBlockTableRecord"), (2, name)]
        layout = {"*Model_Space": "layout:Model", "*Paper_Space": "layout:Layout1"}.get(name)
        tags += [(340, H(layout) if layout else "0")]
        if name in ANONYMOUS_REFS:
            tags += [(102, "{BLKREFS")] + [(331, H(r)) for r in ANONYMOUS_REFS[name]] + [(102, "}")]
        tags += [(70, 0), (280, 1), (281, 0 if name in ("VALVE", "PUMP") else 1)]
        if name == "VALVE":
            tags += [(1001, "AcDbBlockRepETag"), (1070, 1), (1071, 3),
                     (1001, "AcDbDynamicBlockTrueName"), (1000, "VALVE"),
                     (1001, "AcDbDynamicBlockGUID"), (1000, "{6A1D2E90-3C4B-4F27-9E51-0B7D4C2A8F13}")]
        elif name in ANONYMOUS_REFS:
            tags += [(1001, "AcDbBlockRepBTag"), (1070, 1), (1005, H("record:VALVE"))]
        return tags
    return make


def tables():
    tags = [(0, "SECTION"), (2, "TABLES")]
    tags += table("VPORT", [vport])
    tags += table("LTYPE", [ltype("ByBlock", ""), ltype("ByLayer", ""), ltype("Continuous", "Solid line")])
    tags += table("LAYER", [layer(n, c) for n, c in LAYERS])
    tags += table("STYLE", [style])
    tags += table("VIEW", [])
    tags += table("UCS", [])
    tags += table("APPID", [appid(n) for n in APPIDS])
    tags += table("DIMSTYLE", [dimstyle])
    tags += table("BLOCK_RECORD", [block_record(n) for n in BLOCK_RECORDS])
    return tags + [(0, "ENDSEC")]


# ---------------------------------------------------------------- entities

def entity_head(kind, key, owner, layer_name="0", extra=()):
    return [(0, kind), (5, H(key)), *extra, (330, owner), (100, "AcDbEntity"), (8, layer_name)]


def rep_etag(source):
    """The link of an anonymous block's entity to the dynamic block's one it copies."""
    return [(1001, "AcDbBlockRepETag"), (1070, 1), (1071, 0), (1005, H(source))]


def line(key, owner, a, b, etag=None):
    tags = entity_head("LINE", key, owner) + [(100, "AcDbLine"), *point(10, a), *point(11, b)]
    return tags + (rep_etag(etag) if etag else [])


def circle(key, owner, c, r, etag=None):
    tags = entity_head("CIRCLE", key, owner) + [(100, "AcDbCircle"), *point(10, c), (40, r)]
    return tags + (rep_etag(etag) if etag else [])


def attdef(key, owner, tag_name, prompt, default, at):
    return entity_head("ATTDEF", key, owner) + [
        (100, "AcDbText"), *point(10, at), (40, 0.5), (1, default), (7, "Standard"),
        (100, "AcDbAttributeDefinition"), (280, 0), (3, prompt), (2, tag_name), (70, 0), (280, 1)]


def attrib(key, owner, tag_name, text, at):
    return entity_head("ATTRIB", key, owner) + [
        (100, "AcDbText"), *point(10, at), (40, 0.5), (1, text), (7, "Standard"),
        (100, "AcDbAttribute"), (280, 0), (2, tag_name), (70, 0), (280, 1)]


def block(name, entities, base=(0.0, 0.0, 0.0)):
    record = H("record:" + name)
    flags = 1 if name.startswith("*U") else 0
    tags = entity_head("BLOCK", "block:" + name, record) + [
        (100, "AcDbBlockBegin"), (2, name), (70, flags), *point(10, base), (3, name), (1, "")]
    if name == "VALVE":
        tags += [(4, "Gate valve, dynamic")]
    for e in entities:
        tags += e
    tags += entity_head("ENDBLK", "endblk:" + name, record) + [(100, "AcDbBlockEnd")]
    return tags


def valve_geometry(prefix, owner, etag=False, length=10.0):
    """VALVE's lines and circle; an anonymous copy links each to VALVE's own."""
    src = (lambda k: "valve:" + k) if etag else (lambda k: None)
    return [
        line(prefix + "body1", owner, (0, -1), (length, -1), src("body1")),
        line(prefix + "body2", owner, (0, 1), (length, 1), src("body2")),
        line(prefix + "stem", owner, (5, 1), (5, 4), src("stem")),
        circle(prefix + "wheel", owner, (5, 4.5), 0.5, src("wheel")),
    ]


def valve_attdefs(prefix, owner):
    return [attdef(prefix + "tag", owner, "TAG", "Valve tag", "V-000", (0.0, -2.5)),
            attdef(prefix + "size", owner, "SIZE", "Nominal size", "DN25", (0.0, -3.5))]


def blocks():
    model = H("record:*Model_Space")
    paper = H("record:*Paper_Space")
    tags = [(0, "SECTION"), (2, "BLOCKS")]
    tags += block("*Model_Space", [])
    tags += entity_head("BLOCK", "block:*Paper_Space", paper) + [
        (100, "AcDbBlockBegin"), (2, "*Paper_Space"), (70, 0), *point(10, (0, 0, 0)), (3, "*Paper_Space"), (1, "")]
    tags += entity_head("ENDBLK", "endblk:*Paper_Space", paper) + [(100, "AcDbBlockEnd")]
    valve = H("record:VALVE")
    tags += block("VALVE", valve_geometry("valve:", valve) + valve_attdefs("valve:att", valve))
    pump = H("record:PUMP")
    tags += block("PUMP", [
        circle("pump:casing", pump, (0, 0), 3.0),
        line("pump:outlet", pump, (3, 0), (6, 0)),
        attdef("pump:attno", pump, "NUMBER", "Pump number", "P-00", (-3.0, -4.0)),
        attdef("pump:attflow", pump, "FLOW", "Flow [m3/h]", "0", (-3.0, -5.0)),
    ])
    for name, values in (("*U1", U1_VALUES), ("*U2", U2_VALUES), ("*U3", U3_VALUES)):
        rec = H("record:" + name)
        p = name[1:].lower() + ":"
        tags += block(name, valve_geometry(p, rec, etag=True, length=values["length"]) + valve_attdefs(p + "att", rec))
    return tags + [(0, "ENDSEC")]


def insert(key, block_name, at, attribs, scale=(1.0, 1.0, 1.0), rotation=0.0, layer_name="PIPING", xdict=None):
    owner = H("record:*Model_Space")
    extra = [(102, "{ACAD_XDICTIONARY"), (360, H(xdict)), (102, "}")] if xdict else []
    tags = entity_head("INSERT", key, owner, layer_name, extra) + [
        (100, "AcDbBlockReference"), (66, 1), (2, block_name), *point(10, at)]
    if scale != (1.0, 1.0, 1.0):
        tags += [(41, scale[0]), (42, scale[1]), (43, scale[2])]
    if rotation:
        tags += [(50, rotation)]
    for i, (tag_name, text, offset) in enumerate(attribs):
        pos = (at[0] + offset[0] * scale[0], at[1] + offset[1] * scale[1], 0.0)
        tags += attrib(f"{key}:att{i}", H(key), tag_name, text, pos)
    tags += entity_head("SEQEND", key + ":seqend", H(key), layer_name)
    return tags


def valve_attribs(tag_text, size_text):
    return [("TAG", tag_text, (0.0, -2.5)), ("SIZE", size_text, (0.0, -3.5))]


# Each reference of VALVE or its anonymous blocks: (key, block, position, attributes,
# scale, values in its extension dictionary or None for none).
VALVE_REFS = [
    ("ref:direct1", "VALVE", (0.0, 0.0, 0.0), valve_attribs("V-101", "DN25"), (1.0, 1.0, 1.0), None),
    ("ref:direct2", "VALVE", (20.0, 0.0, 0.0), valve_attribs("V-102", "DN25"), (2.0, 1.0, 1.0), DIRECT_VALUES),
    ("ref:u1a", "*U1", (40.0, 0.0, 0.0), valve_attribs("V-103", "DN50"), (1.0, 1.0, 1.0), U1_VALUES),
    ("ref:u1b", "*U1", (60.0, 0.0, 0.0), valve_attribs("V-104", "DN50 spare"), (-1.0, 1.0, 1.0), U1_VALUES),
    ("ref:u2", "*U2", (0.0, 30.0, 0.0), valve_attribs("V-105", "DN80"), (2.0, 2.0, 2.0), U2_VALUES),
    ("ref:u3", "*U3", (40.0, 30.0, 0.0), valve_attribs("V-106", "DN25"), (1.0, 1.0, 1.0), U3_VALUES),
]


def entities():
    tags = [(0, "SECTION"), (2, "ENTITIES")]
    for key, name, at, attribs, scale, values in VALVE_REFS:
        tags += insert(key, name, at, attribs, scale, xdict=("xdict:" + key) if values else None)
    tags += insert("ref:pump1", "PUMP", (80.0, 0.0, 0.0), [("NUMBER", "P-01", (-3.0, -4.0)), ("FLOW", "12", (-3.0, -5.0))])
    tags += insert("ref:pump2", "PUMP", (80.0, 30.0, 0.0), [("NUMBER", "P-02", (-3.0, -4.0)), ("FLOW", "18", (-3.0, -5.0))],
                   rotation=90.0)
    return tags + [(0, "ENDSEC")]


# ---------------------------------------------------------------- objects

def dictionary(key, owner, entries, hard=True, reactors=False, cloning=1):
    """A DICTIONARY: entries (name, handle key) owned (360) or not (350)."""
    h = H(key)
    tags = [(0, "DICTIONARY"), (5, h)]
    if reactors:
        tags += [(102, "{ACAD_REACTORS"), (330, H(owner)), (102, "}")]
    tags += [(330, H(owner) if owner != "0" else "0"), (100, "AcDbDictionary")]
    if cloning is not None:
        tags += [(280, cloning)]
    tags += [(281, 1)]
    for name, target in entries:
        tags += [(3, name), (360 if hard else 350, H(target))]
    return tags


def element_head(kind, key, element_name):
    """The tags every element of an evaluation graph begins with."""
    return [(0, kind), (5, H("el:" + key)), (330, H("graph")),
            (100, "AcDbEvalExpr"), (90, NODE_ID[key]), (98, ELEMENT_MAJOR), (99, ELEMENT_MINOR),
            (100, "AcDbBlockElement"), (300, element_name), (98, ELEMENT_MAJOR), (99, ELEMENT_MINOR),
            (1071, 0)]


def parameter_head(kind, key, element_name, show=1):
    return element_head(kind, key, element_name) + [(100, "AcDbBlockParameter"), (280, show), (281, 0)]


def one_point(p):
    return [(100, "AcDbBlock1PtParameter"), *point(1010, p), (93, 0), (170, 0), (171, 0)]


def two_points(base, end, connections=()):
    tags = [(100, "AcDbBlock2PtParameter"), *point(1010, base), *point(1011, end),
            (170, 4), (91, 0), (91, 0), (91, 0), (91, 0)]
    names = ["UpdatedBaseX", "UpdatedBaseY", "UpdatedEndX", "UpdatedEndY"]
    for i in range(4):
        linked = [c for c in connections if c[0] == i]
        tags += [(171 + i, len(linked))]
        for _, node in linked:
            tags += [(92 + i, node), (301 + i, names[i])]
    return tags + [(177, 0)]


def value_set(desc_code, flag_code, real_code, count_code):
    return [(desc_code, ""), (flag_code, 0), (real_code, 0.0), (real_code + 1, 0.0), (real_code + 2, 0.0),
            (count_code, 0)]


VALVE_ENTITY_KEYS = ["valve:body1", "valve:body2", "valve:stem", "valve:wheel", "valve:atttag", "valve:attsize"]


def elements():
    objs = {}
    # Visibility: states Open (everything), Closed (no wheel), Hidden (nothing but the tags).
    states = [("Open", VALVE_ENTITY_KEYS),
              ("Closed", [k for k in VALVE_ENTITY_KEYS if k != "valve:wheel"]),
              ("Hidden", ["valve:atttag", "valve:attsize"])]
    params = ["el:vis", "el:visgrip", "el:lin", "el:flip", "el:flipgrip"]
    vis = parameter_head("BLOCKVISIBILITYPARAMETER", "vis", "Visibility1") + one_point(VIS_POINT) + [
        (100, "AcDbBlockVisibilityParameter"), (281, 1), (301, "State"), (302, "Whether the valve shows open"),
        (91, 0), (93, len(VALVE_ENTITY_KEYS))]
    vis += [(331, H(k)) for k in VALVE_ENTITY_KEYS]
    vis += [(92, len(states))]
    for name, shown in states:
        vis += [(303, name), (94, len(shown))] + [(332, H(k)) for k in shown]
        vis += [(95, len(params))] + [(333, H(p)) for p in params]
    objs["vis"] = vis
    objs["visgrip"] = element_head("BLOCKVISIBILITYGRIP", "visgrip", "Grip") + [
        (100, "AcDbBlockGrip"), (91, NODE_ID["vis"]), (92, NODE_ID["vis"]), *point(1010, VIS_POINT), (280, 0),
        (93, -1), (100, "AcDbBlockVisibilityGrip")]
    objs["lin"] = parameter_head("BLOCKLINEARPARAMETER", "lin", "Linear") + two_points(LIN_BASE, LIN_END) + [
        (100, "AcDbBlockLinearParameter"), (305, "Length"), (306, "Face to face"), (140, 0.0),
        *value_set(307, 96, 141, 175)]
    objs["flip"] = parameter_head("BLOCKFLIPPARAMETER", "flip", "Flip state1") + two_points(FLIP_BASE, FLIP_END) + [
        (100, "AcDbBlockFlipParameter"), (305, "Mirror"), (306, "Which way the stem points"),
        (307, "Not flipped"), (308, "Flipped"), *point(1012, (5.5, 0.0)), (96, 0), (309, "")]
    objs["flipgrip"] = element_head("BLOCKFLIPGRIP", "flipgrip", "Grip") + [
        (100, "AcDbBlockGrip"), (91, NODE_ID["flip"]), (92, NODE_ID["flip"]), *point(1010, (5.5, 0.0)),
        (280, 0), (93, -1), (100, "AcDbBlockFlipGrip"), (140, 1.0), (141, 0.0), (142, 0.0), (93, 0)]
    # Polar: the distance's label first, the angle's after it.
    objs["polar"] = parameter_head("BLOCKPOLARPARAMETER", "polar", "Polar") + two_points(POLAR_BASE, POLAR_END) + [
        (100, "AcDbBlockPolarParameter"), (305, "Reach"), (306, "How far the handle reaches"),
        (307, "Reach angle"), (308, "Which way the handle points"), (140, 0.0),
        *value_set(410, 96, 142, 175), *value_set(309, 97, 146, 176)]
    objs["xy"] = parameter_head("BLOCKXYPARAMETER", "xy", "XY") + two_points(XY_BASE, XY_END) + [
        (100, "AcDbBlockXYParameter"), (305, "Offset"), (306, ""), (307, "Offset Y"), (308, ""),
        (142, 1.0), (141, 1.0)]
    objs["flipaction"] = element_head("BLOCKFLIPACTION", "flipaction", "Flip") + [
        (100, "AcDbBlockAction"), (70, 0), (71, 2), (330, H("valve:stem")), (330, H("valve:wheel")),
        *point(1010, (6.0, 0.0)), (100, "AcDbBlockFlipAction"),
        (92, NODE_ID["flip"]), (93, NODE_ID["flip"]), (94, NODE_ID["flip"]), (95, NODE_ID["flip"]),
        (301, "Flip"), (302, "UpdatedFlip"), (303, "UpdatedBase"), (304, "UpdatedEnd")]
    objs["rot"] = parameter_head("BLOCKROTATIONPARAMETER", "rot", "Rotation", show=0) + two_points(ROT_BASE, ROT_END) + [
        (100, "AcDbBlockRotationParameter"), (305, "Turn"), (306, "Handle angle"),
        *point(1011, ROT_BASE_ANGLE), (140, 0.0), *value_set(307, 96, 141, 175)]
    objs["lookup"] = parameter_head("BLOCKLOOKUPPARAMETER", "lookup", "Lookup1") + one_point(LOOKUP_POINT) + [
        # The object's marker spells "LookUp", the class's C++ name (CLASSES) "Lookup".
        (100, "AcDbBlockLookUpParameter"), (303, "Size Table"), (304, "Nominal size"), (94, 0)]
    return objs


def graph():
    # An edge from each parameter to the grips and actions that follow it.
    edges = [("vis", "visgrip"), ("flip", "flipgrip"), ("flip", "flipaction"), ("lin", "flipaction")]
    index = {key: i for i, (_, key) in enumerate(NODES)}
    max_id = max(nid for nid, _ in NODES)
    tags = [(0, "ACAD_EVALUATION_GRAPH"), (5, H("graph")), (102, "{ACAD_REACTORS"), (330, H("xdict:VALVE")),
            (102, "}"), (330, H("xdict:VALVE")), (100, "AcDbEvalGraph"), (96, max_id), (97, max_id)]
    for i, (nid, key) in enumerate(NODES):
        out = [e for e, (a, _) in enumerate(edges) if a == key]
        into = [e for e, (_, b) in enumerate(edges) if b == key]
        tags += [(91, i), (93, 32), (95, nid), (360, H("el:" + key)),
                 (92, into[0] if into else -1), (92, into[-1] if into else -1),
                 (92, out[0] if out else -1), (92, out[-1] if out else -1)]
    for e, (a, b) in enumerate(edges):
        tags += [(92, e), (93, 0), (94, 1), (91, index[a]), (91, index[b]),
                 (92, -1), (92, -1), (92, -1), (92, -1), (92, -1)]
    return tags


def xrecord(key, owner, data):
    return [(0, "XRECORD"), (5, H(key)), (102, "{ACAD_REACTORS"), (330, H(owner)), (102, "}"), (330, H(owner)),
            (100, "AcDbXrecord"), (280, 1)] + data


def rotated(base, radius, degrees):
    a = math.radians(degrees)
    return (base[0] + radius * math.cos(a), base[1] + radius * math.sin(a), 0.0)


def reference_data(key, values):
    """A reference's extension dictionary down to its parameters' values."""
    rep, appdata, data = f"rep:{key}", f"appdata:{key}", f"data:{key}"
    repdata = f"repdata:{key}"
    # *U3's reference names PUMP as the block it represents; its record says VALVE.
    represented = "record:PUMP" if key == "ref:u3" else "record:VALVE"
    objs = [dictionary("xdict:" + key, key, [("AcDbBlockRepresentation", rep)]),
            dictionary(rep, "xdict:" + key, [("AcDbRepData", repdata), ("AppDataCache", appdata)], reactors=True),
            [(0, "ACDB_BLOCKREPRESENTATION_DATA"), (5, H(repdata)), (102, "{ACAD_REACTORS"), (330, H(rep)),
             (102, "}"), (330, H(rep)), (100, "AcDbBlockRepresentationData"), (70, 1), (340, H(represented))],
            dictionary(appdata, rep, [("ACAD_ENHANCEDBLOCKDATA", data),
                                      ("ACAD_ENHANCEDBLOCKHDATA", f"hdata:{key}"),
                                      ("ACAD_ENHANCEDBLOCKHISTORY", f"history:{key}")], reactors=True)]
    # The base angle of the rotation as VALVE defines it (45 degrees); the handle's
    # end turned `turn` degrees from there.
    base_angle = math.degrees(math.atan2(ROT_BASE_ANGLE[1] - ROT_BASE[1], ROT_BASE_ANGLE[0] - ROT_BASE[0]))
    head = lambda a, b: [(1071, a), (1071, b), (70, 25), (70, 104)]
    records = {
        "vis": head(135625452, 184556386) + point(10, VIS_POINT) + [(1, values["state"])],
        "lin": head(18597260, 25303744) + point(10, LIN_BASE) + point(10, (values["length"], 0.0))
        + point(10, (0.0, 0.0, -1.0)),
        "flip": head(3611842, 4886413) + point(10, FLIP_BASE) + point(10, FLIP_END) + [(70, values["flip"])],
        "polar": head(27746501, 37536378) + point(10, POLAR_BASE)
        + point(10, (values["reach"] * 0.6, values["reach"] * 0.8)) + point(10, (0.0, 0.0, -1.0)),
        "flipaction": head(4195796, 5656503) + point(10, (0.0, 0.0)),
        "rot": head(50242585, 68333042) + point(10, ROT_BASE) + point(10, rotated(ROT_BASE, 4.0, base_angle + values["turn"]))
        + point(10, (0.0, 0.0, -1.0)) + point(10, ROT_BASE_ANGLE),
        "lookup": head(94120367, 127330251) + point(10, LOOKUP_POINT) + [(1, values["size"])],
    }
    entries = [(str(NODE_ID[k]), f"xrec:{key}:{k}") for _, k in NODES if k in records]
    objs.append(dictionary(data, appdata, entries, reactors=True))
    for _, k in NODES:
        if k in records:
            objs.append(xrecord(f"xrec:{key}:{k}", data, records[k]))
    objs.append(dictionary(f"hdata:{key}", appdata, [], reactors=True, cloning=None))
    objs.append(xrecord(f"history:{key}", appdata, [(1070, 3)]))
    return objs


def layout(name, record, tab):
    return [(0, "LAYOUT"), (5, H("layout:" + name)), (102, "{ACAD_REACTORS"), (330, H("dict:layouts")),
            (102, "}"), (330, H("dict:layouts")), (100, "AcDbPlotSettings"), (1, ""), (2, "none_device"),
            (4, ""), (6, ""), (40, 0.0), (41, 0.0), (42, 0.0), (43, 0.0), (44, 0.0), (45, 0.0), (46, 0.0),
            (47, 0.0), (48, 0.0), (49, 0.0), (140, 0.0), (141, 0.0), (142, 1.0), (143, 1.0), (70, 1024 if tab == 0 else 0),
            (72, 0), (73, 0), (74, 0), (7, ""), (75, 0), (147, 1.0), (76, 0), (77, 2), (78, 300),
            (148, 0.0), (149, 0.0), (100, "AcDbLayout"), (1, name), (70, 1), (71, tab),
            (10, 0.0), (20, 0.0), (11, 420.0), (21, 297.0), (12, 0.0), (22, 0.0), (32, 0.0),
            (14, 0.0), (24, 0.0), (34, 0.0), (15, 0.0), (25, 0.0), (35, 0.0), (146, 0.0),
            (13, 0.0), (23, 0.0), (33, 0.0), (16, 1.0), (26, 0.0), (36, 0.0), (17, 0.0), (27, 1.0),
            (37, 0.0), (76, 0), (330, H("record:" + record))]


def objects():
    tags = [(0, "SECTION"), (2, "OBJECTS")]
    root = [(0, "DICTIONARY"), (5, H("dict:root")), (330, "0"), (100, "AcDbDictionary"), (281, 1),
            (3, "ACAD_GROUP"), (350, H("dict:groups")), (3, "ACAD_LAYOUT"), (350, H("dict:layouts")),
            (3, "ACAD_MATERIAL"), (350, H("dict:materials")), (3, "ACAD_PLOTSTYLENAME"),
            (350, H("dict:plotstyles"))]
    tags += root
    tags += [(0, "DICTIONARY"), (5, H("dict:groups")), (102, "{ACAD_REACTORS"), (330, H("dict:root")), (102, "}"),
             (330, H("dict:root")), (100, "AcDbDictionary"), (281, 1)]
    tags += [(0, "DICTIONARY"), (5, H("dict:layouts")), (102, "{ACAD_REACTORS"), (330, H("dict:root")), (102, "}"),
             (330, H("dict:root")), (100, "AcDbDictionary"), (281, 1),
             (3, "Layout1"), (350, H("layout:Layout1")), (3, "Model"), (350, H("layout:Model"))]
    tags += [(0, "DICTIONARY"), (5, H("dict:materials")), (102, "{ACAD_REACTORS"), (330, H("dict:root")),
             (102, "}"), (330, H("dict:root")), (100, "AcDbDictionary"), (281, 1),
             (3, "Global"), (350, H("material:global"))]
    tags += [(0, "ACDBDICTIONARYWDFLT"), (5, H("dict:plotstyles")), (102, "{ACAD_REACTORS"), (330, H("dict:root")),
             (102, "}"), (330, H("dict:root")), (100, "AcDbDictionary"), (281, 1),
             (3, "Normal"), (350, H("placeholder:normal")), (100, "AcDbDictionaryWithDefault"),
             (340, H("placeholder:normal"))]
    tags += [(0, "ACDBPLACEHOLDER"), (5, H("placeholder:normal")), (102, "{ACAD_REACTORS"),
             (330, H("dict:plotstyles")), (102, "}"), (330, H("dict:plotstyles"))]
    tags += [(0, "MATERIAL"), (5, H("material:global")), (102, "{ACAD_REACTORS"), (330, H("dict:materials")),
             (102, "}"), (330, H("dict:materials")), (100, "AcDbMaterial"), (1, "Global")]
    tags += layout("Model", "*Model_Space", 0)
    tags += layout("Layout1", "*Paper_Space", 1)
    # VALVE's extension dictionary: its evaluation graph and what keeps the block's
    # data when it is saved to a release without dynamic blocks.
    tags += dictionary("xdict:VALVE", "record:VALVE", [("ACAD_ENHANCEDBLOCK", "graph"),
                                                       ("AcDbDynamicBlockRoundTripPurgePreventer", "purge")])
    tags += graph()
    objs = elements()
    for key in sorted(objs, key=lambda k: int(H("el:" + k), 16)):
        tags += objs[key]
    tags += [(0, "ACDB_DYNAMICBLOCKPURGEPREVENTER_VERSION"), (5, H("purge")), (102, "{ACAD_REACTORS"),
             (330, H("xdict:VALVE")), (102, "}"), (330, H("xdict:VALVE")),
             (100, "AcDbDynamicBlockPurgePreventer"), (70, 1)]
    # The anonymous blocks' extension dictionaries, empty as the writers leave them.
    for name in ANONYMOUS_REFS:
        tags += dictionary("xdict:" + name, "record:" + name, [])
    for key, _, _, _, _, values in VALVE_REFS:
        if values:
            for obj in reference_data(key, values):
                tags += obj
    return tags + [(0, "ENDSEC")]


# ---------------------------------------------------------------- the file

def drawing():
    # Handles first, in a fixed order: tables, blocks, entities, objects.
    sections = [tables(), blocks(), entities(), objects()]
    head = [header(f"{H.next:X}"), classes()]
    text = "".join(tag(c, v) for section in head + sections for c, v in section)
    return text + tag(0, "EOF")


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUT
    out.write_bytes(drawing().encode("cp1252"))


if __name__ == "__main__":
    main()
