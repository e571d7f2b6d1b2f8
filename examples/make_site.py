#!/usr/bin/env python3
"""Writes examples/site.dxf: a small site plan (a street with a parking bay, trees,
street lamps and manholes as attributed blocks, a plot boundary, and a title block
on the paper space layout) as an R2000 ASCII DXF. Standard library only; run it
again after changing it and commit both files."""

import math
import os
import sys


class Handles:
    """Hands out consecutive hexadecimal entity handles."""

    def __init__(self, start=0x20):
        self.next = start

    def __call__(self):
        value = self.next
        self.next += 1
        return format(value, "X")


class Dxf:
    """Collects group code / value pairs and writes them in the DXF text form."""

    def __init__(self):
        self.pairs = []

    def add(self, code, value):
        if isinstance(value, float):
            value = format(value, ".6f").rstrip("0").rstrip(".") if value != int(value) else "%.1f" % value
        self.pairs.append((code, str(value)))

    def tags(self, *pairs):
        for code, value in pairs:
            self.add(code, value)

    def text(self):
        return "".join("%3d\n%s\n" % (code, value) for code, value in self.pairs)


h = Handles()

# Fixed handles of the objects others point at.
ROOT_DICT = h()
GROUP_DICT = h()
LAYOUT_DICT = h()
PLOTSTYLE_DICT = h()
PLOTSTYLE_NORMAL = h()

TABLE = {name: h() for name in
         ("VPORT", "LTYPE", "LAYER", "STYLE", "VIEW", "UCS", "APPID", "DIMSTYLE", "BLOCK_RECORD")}

LAYERS = [  # name, colour
    ("0", 7), ("BOUNDARY", 1), ("ROADS", 8), ("TREES", 3), ("LIGHTING", 2),
    ("DRAINAGE", 5), ("TITLE", 7),
]

BLOCK_NAMES = ["*Model_Space", "*Paper_Space", "TREE", "LAMP", "MANHOLE", "TITLE"]
BLOCK_RECORD = {name: h() for name in BLOCK_NAMES}
LAYOUT_MODEL = h()
LAYOUT_PAPER = h()
LTYPE = {name: h() for name in ("ByBlock", "ByLayer", "Continuous")}

# Attribute definitions: tag, prompt, default, height, x, y, flags (8 = preset).
ATTDEFS = {
    "TREE": [("SPECIES", "Tree species", "Tilia cordata", 0.35, 0.0, -1.8, 0),
             ("HEIGHT", "Height (m)", "8", 0.35, 0.0, -2.3, 0),
             ("PLANTED", "Year planted", "2019", 0.35, 0.0, -2.8, 0)],
    "LAMP": [("ID", "Lamp number", "L-00", 0.3, 0.6, 0.3, 0),
             ("POWER", "Power (W)", "70", 0.3, 0.6, -0.2, 0),
             ("TYPE", "Luminaire type", "LED street", 0.3, 0.6, -0.7, 0)],
    "MANHOLE": [("ID", "Manhole number", "MH-00", 0.3, 0.8, 0.3, 0),
                ("DEPTH", "Depth (m)", "1.50", 0.3, 0.8, -0.2, 0),
                ("COVER", "Cover class", "D400", 0.3, 0.8, -0.7, 0)],
    "TITLE": [("PROJECT", "Project name", "Linden Court", 4.0, 5.0, 26.0, 0),
              ("DRAWN", "Drawn by", "", 2.5, 5.0, 19.0, 0),
              ("DATE", "Date", "", 2.5, 5.0, 13.0, 0),
              ("SHEET", "Sheet number", "1/1", 2.5, 5.0, 7.0, 0)],
}

# Geometry of each block definition, as (kind, data) items drawn on layer 0.
BLOCK_GEOMETRY = {
    "TREE": [("circle", (0.0, 0.0, 1.5)), ("circle", (0.0, 0.0, 0.15)),
             ("line", (-1.0, 0.0, 1.0, 0.0)), ("line", (0.0, -1.0, 0.0, 1.0))],
    "LAMP": [("circle", (0.0, 0.0, 0.25)), ("line", (-0.35, -0.35, 0.35, 0.35)),
             ("line", (-0.35, 0.35, 0.35, -0.35))],
    "MANHOLE": [("circle", (0.0, 0.0, 0.6)), ("circle", (0.0, 0.0, 0.45))],
    "TITLE": [("line", (0.0, 0.0, 180.0, 0.0)), ("line", (180.0, 0.0, 180.0, 35.0)),
              ("line", (180.0, 35.0, 0.0, 35.0)), ("line", (0.0, 35.0, 0.0, 0.0)),
              ("line", (0.0, 22.0, 180.0, 22.0))],
}

TREES = [  # x, y, species, height, planted
    (8.0, 14.0, "Tilia cordata", "9", "2015"),
    (20.0, 14.0, "Tilia cordata", "8", "2015"),
    (32.0, 14.0, "Acer platanoides", "11", "2009"),
    (44.0, 14.0, "Acer platanoides", "10", "2009"),
    (56.0, 14.0, "Carpinus betulus", "6", "2021"),
    (14.0, 34.0, "Quercus robur", "17", "1978"),
    (47.5, 38.0, "Betula pendula", "12", "1996"),
]
LAMPS = [  # x, y, id, power, type, rotation in degrees
    (4.0, 2.5, "L-01", "70", "LED street", 90.0),
    (24.0, 2.5, "L-02", "70", "LED street", 90.0),
    (44.0, 2.5, "L-03", "70", "LED street", 90.0),
    (64.0, 2.5, "L-04", "100", "LED street", 90.0),
    (30.0, 24.0, "L-05", "35", "Bollard", 0.0),
]
MANHOLES = [  # x, y, id, depth, cover
    (10.0, -3.5, "MH-01", "1.85", "D400"),
    (35.0, -3.5, "MH-02", "2.10", "D400"),
    (60.0, -3.5, "MH-03", "2.45", "D400"),
    (52.0, 26.0, "MH-04", "1.20", "B125"),
]


def header(d):
    d.tags((0, "SECTION"), (2, "HEADER"))
    d.tags((9, "$ACADVER"), (1, "AC1015"))
    d.tags((9, "$ACADMAINTVER"), (70, 20))
    d.tags((9, "$DWGCODEPAGE"), (3, "ANSI_1252"))
    d.tags((9, "$INSBASE"), (10, 0.0), (20, 0.0), (30, 0.0))
    d.tags((9, "$EXTMIN"), (10, -2.0), (20, -8.0), (30, 0.0))
    d.tags((9, "$EXTMAX"), (10, 70.0), (20, 45.0), (30, 0.0))
    d.tags((9, "$LIMMIN"), (10, 0.0), (20, 0.0))
    d.tags((9, "$LIMMAX"), (10, 420.0), (20, 297.0))
    d.tags((9, "$LUNITS"), (70, 2), (9, "$LUPREC"), (70, 2))
    d.tags((9, "$AUNITS"), (70, 0), (9, "$AUPREC"), (70, 1))
    d.tags((9, "$INSUNITS"), (70, 6))
    d.tags((9, "$MEASUREMENT"), (70, 1))
    d.tags((9, "$TILEMODE"), (70, 1))
    d.tags((9, "$CLAYER"), (8, "0"))
    d.tags((9, "$HANDSEED"), (5, "FFFF"))  # patched after everything is numbered
    d.tags((0, "ENDSEC"))


def table(d, name, entries):
    d.tags((0, "TABLE"), (2, name), (5, TABLE[name]), (330, 0), (100, "AcDbSymbolTable"), (70, len(entries)))
    if name == "DIMSTYLE":
        d.tags((100, "AcDbDimStyleTable"), (71, 0))
    for write in entries:
        write()
    d.tags((0, "ENDTAB"))


def record(d, kind, handle, table_name, subclass, name, flags=0):
    handle_code = 105 if kind == "DIMSTYLE" else 5
    d.tags((0, kind), (handle_code, handle), (330, TABLE[table_name]), (100, "AcDbSymbolTableRecord"),
           (100, subclass), (2, name), (70, flags))


def tables(d):
    d.tags((0, "SECTION"), (2, "TABLES"))

    def vport():
        record(d, "VPORT", h(), "VPORT", "AcDbViewportTableRecord", "*Active")
        d.tags((10, 0.0), (20, 0.0), (11, 1.0), (21, 1.0), (12, 34.0), (22, 18.0), (13, 0.0), (23, 0.0),
               (14, 1.0), (24, 1.0), (15, 0.0), (25, 0.0), (16, 0.0), (26, 0.0), (36, 1.0), (17, 0.0),
               (27, 0.0), (37, 0.0), (40, 60.0), (41, 1.8), (42, 50.0), (43, 0.0), (44, 0.0), (50, 0.0),
               (51, 0.0), (71, 0), (72, 100), (73, 1), (74, 3), (75, 0), (76, 0), (77, 0), (78, 0))
    table(d, "VPORT", [vport])

    def ltype(name):
        def write():
            record(d, "LTYPE", LTYPE[name], "LTYPE", "AcDbLinetypeTableRecord", name)
            d.tags((3, "Solid line" if name == "Continuous" else ""), (72, 65), (73, 0), (40, 0.0))
        return write
    table(d, "LTYPE", [ltype(n) for n in ("ByBlock", "ByLayer", "Continuous")])

    def layer(name, colour):
        def write():
            record(d, "LAYER", h(), "LAYER", "AcDbLayerTableRecord", name)
            d.tags((62, colour), (6, "Continuous"), (370, -3), (390, PLOTSTYLE_NORMAL))
        return write
    table(d, "LAYER", [layer(n, c) for n, c in LAYERS])

    def style():
        record(d, "STYLE", h(), "STYLE", "AcDbTextStyleTableRecord", "Standard")
        d.tags((40, 0.0), (41, 1.0), (50, 0.0), (71, 0), (42, 2.5), (3, "txt"), (4, ""))
    table(d, "STYLE", [style])
    table(d, "VIEW", [])
    table(d, "UCS", [])

    def appid():
        record(d, "APPID", h(), "APPID", "AcDbRegAppTableRecord", "ACAD")
    table(d, "APPID", [appid])

    def dimstyle():
        record(d, "DIMSTYLE", h(), "DIMSTYLE", "AcDbDimStyleTableRecord", "Standard")
    table(d, "DIMSTYLE", [dimstyle])

    def block_record(name):
        def write():
            record(d, "BLOCK_RECORD", BLOCK_RECORD[name], "BLOCK_RECORD", "AcDbBlockTableRecord", name)
            layout = {"*Model_Space": LAYOUT_MODEL, "*Paper_Space": LAYOUT_PAPER}.get(name, 0)
            d.tags((340, layout))
        return write
    table(d, "BLOCK_RECORD", [block_record(n) for n in BLOCK_NAMES])
    d.tags((0, "ENDSEC"))


def entity(d, kind, owner, layer, paper=False):
    handle = h()
    d.tags((0, kind), (5, handle), (330, owner), (100, "AcDbEntity"))
    if paper:
        d.tags((67, 1))
    d.tags((8, layer))
    return handle


def line(d, owner, layer, x1, y1, x2, y2, paper=False):
    entity(d, "LINE", owner, layer, paper)
    d.tags((100, "AcDbLine"), (10, x1), (20, y1), (30, 0.0), (11, x2), (21, y2), (31, 0.0))


def circle(d, owner, layer, x, y, r):
    entity(d, "CIRCLE", owner, layer)
    d.tags((100, "AcDbCircle"), (10, x), (20, y), (30, 0.0), (40, r))


def polyline(d, owner, layer, points, closed):
    entity(d, "LWPOLYLINE", owner, layer)
    d.tags((100, "AcDbPolyline"), (90, len(points)), (70, 1 if closed else 0), (43, 0.0))
    for x, y in points:
        d.tags((10, x), (20, y))


def text(d, owner, layer, x, y, height, value, paper=False):
    entity(d, "TEXT", owner, layer, paper)
    d.tags((100, "AcDbText"), (10, x), (20, y), (30, 0.0), (40, height), (1, value), (100, "AcDbText"))


def blocks(d):
    d.tags((0, "SECTION"), (2, "BLOCKS"))
    for name in BLOCK_NAMES:
        owner = BLOCK_RECORD[name]
        has_attributes = name in ATTDEFS
        paper = name == "*Paper_Space"
        d.tags((0, "BLOCK"), (5, h()), (330, owner), (100, "AcDbEntity"))
        if paper:
            d.tags((67, 1))
        d.tags((8, "0"), (100, "AcDbBlockBegin"), (2, name), (70, 2 if has_attributes else 0),
               (10, 0.0), (20, 0.0), (30, 0.0), (3, name), (1, ""))
        for kind, data in BLOCK_GEOMETRY.get(name, []):
            if kind == "circle":
                circle(d, owner, "0", *data)
            else:
                line(d, owner, "0", *data)
        for tag, prompt, default, height, x, y, flags in ATTDEFS.get(name, []):
            entity(d, "ATTDEF", owner, "0")
            d.tags((100, "AcDbText"), (10, x), (20, y), (30, 0.0), (40, height), (1, default),
                   (100, "AcDbAttributeDefinition"), (3, prompt), (2, tag), (70, flags))
        d.tags((0, "ENDBLK"), (5, h()), (330, owner), (100, "AcDbEntity"))
        if paper:
            d.tags((67, 1))
        d.tags((8, "0"), (100, "AcDbBlockEnd"))
    d.tags((0, "ENDSEC"))


def insert(d, owner, layer, name, x, y, values, rotation=0.0, scale=1.0, paper=False):
    ref = entity(d, "INSERT", owner, layer, paper)
    d.tags((100, "AcDbBlockReference"), (66, 1), (2, name), (10, x), (20, y), (30, 0.0))
    if scale != 1.0:
        d.tags((41, scale), (42, scale), (43, scale))
    if rotation:
        d.tags((50, rotation))
    angle = math.radians(rotation)
    for (tag, _prompt, _default, height, ax, ay, _flags), value in zip(ATTDEFS[name], values):
        px = x + scale * (ax * math.cos(angle) - ay * math.sin(angle))
        py = y + scale * (ax * math.sin(angle) + ay * math.cos(angle))
        entity(d, "ATTRIB", ref, layer, paper)
        d.tags((100, "AcDbText"), (10, round(px, 4)), (20, round(py, 4)), (30, 0.0), (40, height * scale),
               (1, value))
        if rotation:
            d.tags((50, rotation))
        d.tags((100, "AcDbAttribute"), (2, tag), (70, 0))
    entity(d, "SEQEND", ref, layer, paper)


def entities(d):
    d.tags((0, "SECTION"), (2, "ENTITIES"))
    model = BLOCK_RECORD["*Model_Space"]
    paper = BLOCK_RECORD["*Paper_Space"]
    # The street: two kerb lines, a centre line and a parking bay.
    line(d, model, "ROADS", -2.0, 0.0, 70.0, 0.0)
    line(d, model, "ROADS", -2.0, -7.0, 70.0, -7.0)
    line(d, model, "ROADS", -2.0, -3.5, 70.0, -3.5)
    polyline(d, model, "ROADS", [(26.0, 0.0), (26.0, 5.0), (40.0, 5.0), (40.0, 0.0)], False)
    # The plot and a footpath across it.
    polyline(d, model, "BOUNDARY", [(0.0, 10.0), (64.0, 10.0), (64.0, 44.0), (0.0, 44.0)], True)
    polyline(d, model, "ROADS", [(28.0, 10.0), (28.0, 30.0), (50.0, 30.0)], False)
    text(d, model, "BOUNDARY", 2.0, 41.5, 1.2, "PLOT 14/3")
    for x, y, species, height, planted in TREES:
        insert(d, model, "TREES", "TREE", x, y, [species, height, planted])
    for x, y, number, power, kind, rotation in LAMPS:
        insert(d, model, "LIGHTING", "LAMP", x, y, [number, power, kind], rotation=rotation)
    for x, y, number, depth, cover in MANHOLES:
        insert(d, model, "DRAINAGE", "MANHOLE", x, y, [number, depth, cover])
    # Paper space: the sheet frame and the title block.
    polyline_paper = [(10.0, 10.0), (410.0, 10.0), (410.0, 287.0), (10.0, 287.0)]
    entity(d, "LWPOLYLINE", paper, "TITLE", True)
    d.tags((100, "AcDbPolyline"), (90, 4), (70, 1), (43, 0.0))
    for x, y in polyline_paper:
        d.tags((10, x), (20, y))
    insert(d, paper, "TITLE", "TITLE", 225.0, 15.0, ["Linden Court, site plan", "R. Holm", "2024-05-14", "1/1"],
           paper=True)
    d.tags((0, "ENDSEC"))


def layout(d, handle, name, block_record, order):
    d.tags((0, "LAYOUT"), (5, handle), (102, "{ACAD_REACTORS"), (330, LAYOUT_DICT), (102, "}"),
           (330, LAYOUT_DICT), (100, "AcDbPlotSettings"), (1, ""), (2, "none_device"), (4, ""), (6, ""),
           (40, 0.0), (41, 0.0), (42, 0.0), (43, 0.0), (44, 0.0), (45, 0.0), (46, 0.0), (47, 0.0), (48, 0.0),
           (49, 0.0), (140, 0.0), (141, 0.0), (142, 1.0), (143, 1.0), (70, 688), (72, 1), (73, 0), (74, 5),
           (7, ""), (75, 16), (147, 1.0), (148, 0.0), (149, 0.0),
           (100, "AcDbLayout"), (1, name), (70, 1), (71, order), (10, 0.0), (20, 0.0), (11, 420.0), (21, 297.0),
           (12, 0.0), (22, 0.0), (32, 0.0), (14, 0.0), (24, 0.0), (34, 0.0), (15, 420.0), (25, 297.0),
           (35, 0.0), (146, 0.0), (13, 0.0), (23, 0.0), (33, 0.0), (16, 1.0), (26, 0.0), (36, 0.0),
           (17, 0.0), (27, 1.0), (37, 0.0), (76, 0), (330, block_record))


def objects(d):
    d.tags((0, "SECTION"), (2, "OBJECTS"))
    d.tags((0, "DICTIONARY"), (5, ROOT_DICT), (330, 0), (100, "AcDbDictionary"), (281, 1),
           (3, "ACAD_GROUP"), (350, GROUP_DICT), (3, "ACAD_LAYOUT"), (350, LAYOUT_DICT),
           (3, "ACAD_PLOTSTYLENAME"), (350, PLOTSTYLE_DICT))
    d.tags((0, "DICTIONARY"), (5, GROUP_DICT), (102, "{ACAD_REACTORS"), (330, ROOT_DICT), (102, "}"),
           (330, ROOT_DICT), (100, "AcDbDictionary"), (281, 1))
    d.tags((0, "DICTIONARY"), (5, LAYOUT_DICT), (102, "{ACAD_REACTORS"), (330, ROOT_DICT), (102, "}"),
           (330, ROOT_DICT), (100, "AcDbDictionary"), (281, 1),
           (3, "Layout1"), (350, LAYOUT_PAPER), (3, "Model"), (350, LAYOUT_MODEL))
    d.tags((0, "ACDBDICTIONARYWDFLT"), (5, PLOTSTYLE_DICT), (102, "{ACAD_REACTORS"), (330, ROOT_DICT),
           (102, "}"), (330, ROOT_DICT), (100, "AcDbDictionary"), (281, 1), (3, "Normal"),
           (350, PLOTSTYLE_NORMAL), (100, "AcDbDictionaryWithDefault"), (340, PLOTSTYLE_NORMAL))
    d.tags((0, "ACDBPLACEHOLDER"), (5, PLOTSTYLE_NORMAL), (102, "{ACAD_REACTORS"), (330, PLOTSTYLE_DICT),
           (102, "}"), (330, PLOTSTYLE_DICT))
    layout(d, LAYOUT_MODEL, "Model", BLOCK_RECORD["*Model_Space"], 0)
    layout(d, LAYOUT_PAPER, "Layout1", BLOCK_RECORD["*Paper_Space"], 1)
    d.tags((0, "ENDSEC"))


def main():
    d = Dxf()
    header(d)
    d.tags((0, "SECTION"), (2, "CLASSES"), (0, "ENDSEC"))
    tables(d)
    blocks(d)
    entities(d)
    objects(d)
    d.tags((0, "EOF"))
    seed = format(h.next, "X")
    d.pairs = [(c, seed if (c == 5 and v == "FFFF") else v) for c, v in d.pairs]
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "site.dxf")
    if len(sys.argv) > 1:
        out = sys.argv[1]
    with open(out, "w", newline="\r\n", encoding="ascii") as f:
        f.write(d.text())
    print("wrote", out)


if __name__ == "__main__":
    main()
