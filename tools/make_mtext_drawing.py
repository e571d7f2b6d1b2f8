#!/usr/bin/python3
"""Makes the test drawing of multi-line attributes and fields: a DXF R2018 (AC1032)
ASCII file, the same bytes every time, written tag by tag (the standard library
only), laid out as the CAD program lays out its own files.

    make_mtext_drawing.py OUT.dxf

What it holds:

  * a block TITLE with a frame and four attribute definitions: NUMBER and REV on
    one line, NOTES on several (an ATTDEF with an embedded MTEXT object, 101
    "Embedded Object"), DATE on one line;
  * three references of TITLE in model space, with their attributes:
      - A-101: NOTES with format codes (a font, underline, a colour, a stacked
        fraction, %% specials, a no-break space) and paragraph breaks (\\P), its
        own group 1 empty as the CAD program leaves it; DATE "2026-01-15" the value
        of a date field (a TEXT field with a child field);
      - A-102: NOTES longer than 250 bytes, held in group 3 pieces before its group
        1, with two-byte characters near the piece ends; a frame width and defined
        height, a style, another attachment and spacing in the embedded object;
        DATE the value of a field whose child field has a child of its own (a
        formula of an object property, which names the reference with a 331);
      - A-103: NOTES whose own group 1 repeats the whole contents (the other form
        writers use); DATE a plain text, no field;
  * a TEXT in model space whose text is the value of a field with a child;
  * in the OBJECTS section: each field's extension dictionary (ACAD_FIELD), its
    field dictionary (TEXT), the FIELD objects, and the FIELDLIST of the named
    object dictionary (ACAD_FIELDLIST) listing every field.

Group codes are right-aligned in three columns, lines end in LF.
"""
import sys

ACADVER = "AC1032"
PIECE = 250  # bytes of multi-line text one tag holds


class Handles:
    """Handles given in the order asked for, by name, from 0x20 up."""

    def __init__(self):
        self.by_name = {}
        self.next = 0x20

    def __getitem__(self, name):
        if name not in self.by_name:
            self.by_name[name] = "%X" % self.next
            self.next += 1
        return self.by_name[name]


H = Handles()
# The tables and the named object dictionary, as the CAD program numbers them.
FIXED = {"block_records": "1", "layers": "2", "styles": "3", "linetypes": "5", "views": "6",
         "ucs": "7", "vports": "8", "appids": "9", "dimstyles": "A", "root": "C"}
H.by_name.update(FIXED)


class Out:
    def __init__(self):
        self.lines = []

    def tag(self, code, value):
        self.lines.append("%3d" % code)
        self.lines.append(value if isinstance(value, str) else fmt(value))

    def tags(self, *pairs):
        for code, value in pairs:
            self.tag(code, value)

    def text(self):
        return "\n".join(self.lines) + "\n"


def fmt(v):
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, int):
        return "%6d" % v
    raise TypeError(v)


def units(s):
    """The pieces of MText contents no tag may end inside: a character, an escape
    (\\U+XXXX, \\M+NXXXX) or a backslash or caret with the character after it."""
    i = 0
    while i < len(s):
        if s[i] == "\\" and s[i + 1:i + 3] in ("U+", "u+") and len(s) >= i + 7:
            n = 7
        elif s[i] == "\\" and s[i + 1:i + 3] in ("M+", "m+") and len(s) >= i + 8:
            n = 8
        elif s[i] in "\\^" and i + 1 < len(s):
            n = 2
        else:
            n = 1
        yield s[i:i + n]
        i += n


def pieces(contents):
    """Contents in the tags DXF holds them in: group 3 pieces of at most 250 bytes
    (UTF-8), then the last in group 1."""
    out = [""]
    for u in units(contents):
        if len((out[-1] + u).encode("utf-8")) > PIECE:
            out.append("")
        out[-1] += u
    return out


def point(out, code, p):
    out.tags((code, float(p[0])), (code + 10, float(p[1])), (code + 20, 0.0))


def xdict_group(out, xdict):
    if xdict:
        out.tags((102, "{ACAD_XDICTIONARY"), (360, xdict), (102, "}"))


def header(out):
    out.tags((0, "SECTION"), (2, "HEADER"))
    out.tags((9, "$ACADVER"), (1, ACADVER), (9, "$DWGCODEPAGE"), (3, "ANSI_1252"))
    out.tags((9, "$INSBASE"), (10, 0.0), (20, 0.0), (30, 0.0))
    out.tags((9, "$INSUNITS"), (70, 4), (9, "$LUNITS"), (70, 2), (9, "$LUPREC"), (70, 2))
    out.tags((9, "$HANDSEED"), (5, "%X" % 0x200))
    out.tags((0, "ENDSEC"))


def classes(out):
    out.tags((0, "SECTION"), (2, "CLASSES"))
    for name, cpp in (("FIELD", "AcDbField"), ("FIELDLIST", "AcDbFieldList")):
        out.tags((0, "CLASS"), (1, name), (2, cpp), (3, "ObjectDBX Classes"), (90, 1152), (91, 0), (280, 0),
                 (281, 0))
    out.tags((0, "ENDSEC"))


def table(out, name, handle, count, records, subclass=True):
    out.tags((0, "TABLE"), (2, name), (5, handle), (330, "0"), (100, "AcDbSymbolTable"), (70, count))
    if name == "DIMSTYLE":
        out.tags((100, "AcDbDimStyleTable"), (71, 1))
    for r in records:
        r(out)
    out.tags((0, "ENDTAB"))


def tables(out):
    out.tags((0, "SECTION"), (2, "TABLES"))

    def vport(o):
        o.tags((0, "VPORT"), (5, H["vport"]), (330, FIXED["vports"]), (100, "AcDbSymbolTableRecord"),
               (100, "AcDbViewportTableRecord"), (2, "*Active"), (70, 0), (10, 0.0), (20, 0.0), (11, 1.0),
               (21, 1.0), (12, 450.0), (22, 100.0), (13, 0.0), (23, 0.0), (14, 10.0), (24, 10.0), (15, 10.0),
               (25, 10.0), (16, 0.0), (26, 0.0), (36, 1.0), (17, 0.0), (27, 0.0), (37, 0.0), (40, 400.0),
               (41, 2.0), (42, 50.0), (43, 0.0), (44, 0.0), (50, 0.0), (51, 0.0), (71, 0), (72, 1000), (73, 1),
               (74, 3), (75, 0), (76, 0), (77, 0), (78, 0))

    def linetype(name, handle):
        def write(o):
            o.tags((0, "LTYPE"), (5, handle), (330, FIXED["linetypes"]), (100, "AcDbSymbolTableRecord"),
                   (100, "AcDbLinetypeTableRecord"), (2, name), (70, 0), (3, "Solid line" if name == "Continuous"
                                                                           else ""),
                   (72, 65), (73, 0), (40, 0.0))
        return write

    def layer(o):
        o.tags((0, "LAYER"), (5, H["layer0"]), (330, FIXED["layers"]), (100, "AcDbSymbolTableRecord"),
               (100, "AcDbLayerTableRecord"), (2, "0"), (70, 0), (62, 7), (6, "Continuous"), (370, -3))

    def style(o):
        o.tags((0, "STYLE"), (5, H["style"]), (330, FIXED["styles"]), (100, "AcDbSymbolTableRecord"),
               (100, "AcDbTextStyleTableRecord"), (2, "Standard"), (70, 0), (40, 0.0), (41, 1.0), (50, 0.0),
               (71, 0), (42, 2.5), (3, "arial.ttf"), (4, ""))

    def appid(o):
        o.tags((0, "APPID"), (5, H["appid"]), (330, FIXED["appids"]), (100, "AcDbSymbolTableRecord"),
               (100, "AcDbRegAppTableRecord"), (2, "ACAD"), (70, 0))

    def dimstyle(o):
        o.tags((0, "DIMSTYLE"), (105, H["dimstyle"]), (330, FIXED["dimstyles"]), (100, "AcDbSymbolTableRecord"),
               (100, "AcDbDimStyleTableRecord"), (2, "Standard"), (70, 0))

    def block_record(name, key, layout):
        def write(o):
            o.tags((0, "BLOCK_RECORD"), (5, H[key]), (330, FIXED["block_records"]), (100, "AcDbSymbolTableRecord"),
                   (100, "AcDbBlockTableRecord"), (2, name), (340, H[layout] if layout else "0"), (70, 0),
                   (280, 1), (281, 0))
        return write

    table(out, "VPORT", FIXED["vports"], 1, [vport])
    table(out, "LTYPE", FIXED["linetypes"], 3, [linetype("ByBlock", H["lt_byblock"]),
                                                linetype("ByLayer", H["lt_bylayer"]),
                                                linetype("Continuous", H["lt_continuous"])])
    table(out, "LAYER", FIXED["layers"], 1, [layer])
    table(out, "STYLE", FIXED["styles"], 1, [style])
    table(out, "VIEW", FIXED["views"], 0, [])
    table(out, "UCS", FIXED["ucs"], 0, [])
    table(out, "APPID", FIXED["appids"], 1, [appid])
    table(out, "DIMSTYLE", FIXED["dimstyles"], 1, [dimstyle])
    table(out, "BLOCK_RECORD", FIXED["block_records"], 3, [block_record("*Model_Space", "model", "layout_model"),
                                                           block_record("*Paper_Space", "paper", "layout1"),
                                                           block_record("TITLE", "title", None)])
    out.tags((0, "ENDSEC"))


# ---- the block and its attributes

TITLE_DEFS = [
    # tag, prompt, default, insertion point, height
    ("NUMBER", "Drawing number", "A-000", (210.0, 12.0), 5.0),
    ("REV", "Revision", "0", (280.0, 12.0), 5.0),
    ("NOTES", "Notes", "Notes", (5.0, 70.0), 3.5),
    ("DATE", "Date", "----", (210.0, 4.0), 2.5),
]
MULTI_LINE = {"NOTES"}

NOTES_FORMATTED = ("{\\fArial|b1|i0|c0|p34;General notes:}\\PSee \\LDetail 4\\l on sheet %%c12"
                   " {\\H0.7x;\\S1/2;}\\P\\C1;Check\\~all dimensions on site\\P"
                   "Tolerance \\S+0.1^ -0.2; mm, angles %%p0.5%%d")
NOTES_LONG = ("Ausführung gemäß Prüfbericht Nr. 17, Blatt 3. "
              + " ".join("Schritt %d: Maße prüfen, Oberfläche säubern, Kanten entgraten;" % n for n in range(1, 9))
              + "\\PAbnahme durch die Bauleitung.")
NOTES_REPEATED = "Fire door\\PEI 30, self-closing"


def embedded_mtext(out, at, height, contents, width=0.0, defined=0.0, attachment=1, style=None, spacing=None):
    """The embedded MTEXT object of a multi-line attribute or definition."""
    out.tags((101, "Embedded Object"))
    point(out, 10, at)
    out.tags((40, height), (41, width), (46, defined), (71, attachment), (72, 5))
    parts = pieces(contents)
    for p in parts[:-1]:
        out.tag(3, p)
    out.tag(1, parts[-1])
    if style:
        out.tag(7, style)
    style_of_spacing, factor = spacing or (1, 1.0)
    out.tags((73, style_of_spacing), (44, factor))


def attdef(out, owner, tag, prompt, default, at, height):
    out.tags((0, "ATTDEF"), (5, H["attdef " + tag]), (330, owner), (100, "AcDbEntity"), (8, "0"),
             (100, "AcDbText"))
    point(out, 10, at)
    out.tags((40, height), (1, default if tag not in MULTI_LINE else ""))
    if tag in MULTI_LINE:
        point(out, 11, at)
    out.tags((100, "AcDbAttributeDefinition"), (280, 0), (3, prompt), (2, tag), (70, 0))
    if tag in MULTI_LINE:
        out.tags((74, 3), (280, 1), (71, 4), (72, 0))
        point(out, 11, at)
        embedded_mtext(out, at, height, default, width=120.0)


def block_title(out):
    owner = H["title"]
    out.tags((0, "BLOCK"), (5, H["title block"]), (330, owner), (100, "AcDbEntity"), (8, "0"),
             (100, "AcDbBlockBegin"), (2, "TITLE"), (70, 2), (10, 0.0), (20, 0.0), (30, 0.0), (3, "TITLE"),
             (1, ""))
    corners = [(0.0, 0.0), (297.0, 0.0), (297.0, 80.0), (0.0, 80.0)]
    for i in range(4):
        a, b = corners[i], corners[(i + 1) % 4]
        out.tags((0, "LINE"), (5, H["frame %d" % i]), (330, owner), (100, "AcDbEntity"), (8, "0"),
                 (100, "AcDbLine"))
        point(out, 10, a)
        point(out, 11, b)
    for tag, prompt, default, at, height in TITLE_DEFS:
        attdef(out, owner, tag, prompt, default, at, height)
    out.tags((0, "ENDBLK"), (5, H["title end"]), (330, owner), (100, "AcDbEntity"), (8, "0"),
             (100, "AcDbBlockEnd"))


def blocks(out):
    out.tags((0, "SECTION"), (2, "BLOCKS"))
    for name, key in (("*Model_Space", "model"), ("*Paper_Space", "paper")):
        out.tags((0, "BLOCK"), (5, H[key + " block"]), (330, H[key]), (100, "AcDbEntity"))
        if key == "paper":
            out.tags((67, 1))
        out.tags((8, "0"), (100, "AcDbBlockBegin"), (2, name), (70, 0), (10, 0.0), (20, 0.0), (30, 0.0),
                 (3, name), (1, ""))
        out.tags((0, "ENDBLK"), (5, H[key + " end"]), (330, H[key]), (100, "AcDbEntity"))
        if key == "paper":
            out.tags((67, 1))
        out.tags((8, "0"), (100, "AcDbBlockEnd"))
    block_title(out)
    out.tags((0, "ENDSEC"))


# ---- the references

# Each: number, insertion point, attribute texts, the form of NOTES and the DATE field.
REFERENCES = [
    {"name": "A-101", "at": (0.0, 0.0), "REV": "B", "NOTES": NOTES_FORMATTED, "outer": "",
     "DATE": "2026-01-15", "field": "date"},
    {"name": "A-102", "at": (0.0, 100.0), "REV": "C", "NOTES": NOTES_LONG, "outer": "",
     "DATE": "2026-01-15", "field": "formula", "frame": True},
    {"name": "A-103", "at": (0.0, 200.0), "REV": "", "NOTES": NOTES_REPEATED, "outer": NOTES_REPEATED,
     "DATE": "2026-02-01", "field": None},
]


def attrib(out, ref, tag, text, at, height, xdict=None):
    key = ref["name"] + " " + tag
    out.tags((0, "ATTRIB"), (5, H[key]))
    xdict_group(out, xdict)
    out.tags((330, H[ref["name"]]), (100, "AcDbEntity"), (8, "0"), (100, "AcDbText"))
    point(out, 10, at)
    multi = tag in MULTI_LINE
    out.tags((40, height), (1, ref["outer"] if multi else text))
    if multi:
        point(out, 11, at)
    out.tags((100, "AcDbAttribute"), (280, 0), (2, tag), (70, 0))
    if not multi:
        return
    out.tags((74, 3), (280, 1), (71, 2), (72, 0))
    point(out, 11, at)
    if ref.get("frame"):
        embedded_mtext(out, at, height, text, width=150.0, defined=40.0, attachment=4, style="Standard",
                       spacing=(2, 1.25))
    else:
        embedded_mtext(out, at, height, text, width=120.0)


def reference(out, ref):
    ox, oy = ref["at"]
    out.tags((0, "INSERT"), (5, H[ref["name"]]), (330, H["model"]), (100, "AcDbEntity"), (8, "0"),
             (100, "AcDbBlockReference"), (66, 1), (2, "TITLE"))
    point(out, 10, ref["at"])
    texts = {"NUMBER": ref["name"], "REV": ref["REV"], "NOTES": ref["NOTES"], "DATE": ref["DATE"]}
    for tag, _, _, (x, y), height in TITLE_DEFS:
        xdict = H[ref["name"] + " xdict"] if tag == "DATE" and ref["field"] else None
        attrib(out, ref, tag, texts[tag], (ox + x, oy + y), height, xdict)
    out.tags((0, "SEQEND"), (5, H[ref["name"] + " seqend"]), (330, H[ref["name"]]), (100, "AcDbEntity"),
             (8, "0"))


PLOT_TEXT = {"key": "plot text", "text": "2026-01-15", "at": (310.0, 0.0)}


def entities(out):
    out.tags((0, "SECTION"), (2, "ENTITIES"))
    for ref in REFERENCES:
        reference(out, ref)
    out.tags((0, "TEXT"), (5, H[PLOT_TEXT["key"]]))
    xdict_group(out, H["plot text xdict"])
    out.tags((330, H["model"]), (100, "AcDbEntity"), (8, "0"), (100, "AcDbText"))
    point(out, 10, PLOT_TEXT["at"])
    out.tags((40, 2.5), (1, PLOT_TEXT["text"]), (100, "AcDbText"))
    out.tags((0, "ENDSEC"))


# ---- fields

def field(out, handle, owner, evaluator, code, children=(), objects=(), value=None, fmt_string="",
          reactor=True):
    """A FIELD: its evaluator and field code, its child fields (360), the objects its
    code names (331) and its cached value."""
    out.tags((0, "FIELD"), (5, handle))
    if reactor:
        out.tags((102, "{ACAD_REACTORS"), (330, owner), (102, "}"))
    out.tags((330, owner), (100, "AcDbField"), (1, evaluator), (2, code), (90, len(children)))
    for c in children:
        out.tag(360, c)
    out.tag(97, len(objects))
    for o in objects:
        out.tag(331, o)
    out.tags((91, 63), (92, 0), (94, 59 if children else 187), (95, 2), (96, 0), (300, ""))
    if evaluator == "_text":
        out.tags((93, 1), (6, "ACFD_FIELDTEXT_CHECKSUM"), (90, 2), (140, 1234.0))
    else:
        out.tags((93, 0))
    out.tag(7, "ACFD_FIELD_VALUE")
    if value is None:
        out.tags((90, 0), (91, 0))
    else:
        out.tags((90, 4), (1, value))
    out.tags((301, fmt_string), (98, len(fmt_string)))


def field_owner(out, prefix, owner):
    """The extension dictionary of an object with a field and its field dictionary;
    returns the handle of the TEXT field."""
    xdict, fdict = H[prefix + " xdict"], H[prefix + " fdict"]
    out.tags((0, "DICTIONARY"), (5, xdict), (330, owner), (100, "AcDbDictionary"), (280, 1), (281, 1),
             (3, "ACAD_FIELD"), (360, fdict))
    out.tags((0, "DICTIONARY"), (5, fdict), (102, "{ACAD_REACTORS"), (330, xdict), (102, "}"), (330, xdict),
             (100, "AcDbDictionary"), (280, 1), (281, 1), (3, "TEXT"), (360, H[prefix + " field"]))
    return H[prefix + " field"]


def fields(out):
    """Writes every field; returns their handles for the FIELDLIST."""
    listed = []
    date = '\\AcVar Date \\f "yyyy-MM-dd"'
    for ref in REFERENCES:
        if not ref["field"]:
            continue
        prefix = ref["name"]
        root = field_owner(out, prefix, H[prefix + " DATE"])
        child = H[prefix + " child"]
        if ref["field"] == "date":
            field(out, root, H[prefix + " fdict"], "_text", "%<\\_FldIdx 0>%", children=[child])
            field(out, child, root, "AcVar", date, value=ref["DATE"], fmt_string="yyyy-MM-dd", reactor=False)
            listed += [root, child]
        else:
            grandchild = H[prefix + " grandchild"]
            field(out, root, H[prefix + " fdict"], "_text", "%<\\_FldIdx 0>%", children=[child])
            field(out, child, root, "AcExpr", "\\AcExpr (%<\\_FldIdx 0>%)", children=[grandchild],
                  value=ref["DATE"], reactor=False)
            field(out, grandchild, child, "AcObjProp",
                  "\\AcObjProp Object(%<\\_ObjIdx 0>%).InsertionPoint \\f \"%lu2\"", objects=[H[prefix]],
                  value="0,100", reactor=False)
            listed += [root, child, grandchild]
    root = field_owner(out, "plot text", H[PLOT_TEXT["key"]])
    child = H["plot text child"]
    field(out, root, H["plot text fdict"], "_text", "%<\\_FldIdx 0>%", children=[child])
    field(out, child, root, "AcVar", '\\AcVar PlotDate \\f "yyyy-MM-dd"', value=PLOT_TEXT["text"],
          fmt_string="yyyy-MM-dd", reactor=False)
    listed += [root, child]
    return listed


def layout(out, key, name, record, order):
    out.tags((0, "LAYOUT"), (5, H[key]), (102, "{ACAD_REACTORS"), (330, H["layouts"]), (102, "}"),
             (330, H["layouts"]), (100, "AcDbPlotSettings"), (1, ""), (2, "none_device"), (4, ""), (6, ""),
             (40, 0.0), (41, 0.0), (42, 0.0), (43, 0.0), (44, 0.0), (45, 0.0), (46, 0.0), (47, 0.0),
             (48, 0.0), (49, 0.0), (140, 0.0), (141, 0.0), (142, 1.0), (143, 1.0), (70, 1024 if order == 0 else 0),
             (72, 1), (73, 0), (74, 5), (7, ""), (75, 16), (76, 0), (77, 2), (78, 300), (147, 1.0), (148, 0.0),
             (149, 0.0), (100, "AcDbLayout"), (1, name), (70, 1), (71, order), (10, 0.0), (20, 0.0),
             (11, 420.0), (21, 297.0), (12, 0.0), (22, 0.0), (32, 0.0), (14, 0.0), (24, 0.0), (34, 0.0),
             (15, 0.0), (25, 0.0), (35, 0.0), (146, 0.0), (13, 0.0), (23, 0.0), (33, 0.0), (16, 1.0),
             (26, 0.0), (36, 0.0), (17, 0.0), (27, 1.0), (37, 0.0), (76, 0), (330, H[record]))


def objects(out):
    out.tags((0, "SECTION"), (2, "OBJECTS"))
    out.tags((0, "DICTIONARY"), (5, FIXED["root"]), (330, "0"), (100, "AcDbDictionary"), (281, 1),
             (3, "ACAD_FIELDLIST"), (350, H["fieldlist"]), (3, "ACAD_GROUP"), (350, H["groups"]),
             (3, "ACAD_LAYOUT"), (350, H["layouts"]))
    out.tags((0, "DICTIONARY"), (5, H["groups"]), (102, "{ACAD_REACTORS"), (330, FIXED["root"]), (102, "}"),
             (330, FIXED["root"]), (100, "AcDbDictionary"), (281, 1))
    out.tags((0, "DICTIONARY"), (5, H["layouts"]), (102, "{ACAD_REACTORS"), (330, FIXED["root"]), (102, "}"),
             (330, FIXED["root"]), (100, "AcDbDictionary"), (281, 1), (3, "Layout1"), (350, H["layout1"]),
             (3, "Model"), (350, H["layout_model"]))
    layout(out, "layout_model", "Model", "model", 0)
    layout(out, "layout1", "Layout1", "paper", 1)
    listed = fields(out)
    out.tags((0, "FIELDLIST"), (5, H["fieldlist"]), (102, "{ACAD_REACTORS"), (330, FIXED["root"]), (102, "}"),
             (330, FIXED["root"]), (100, "AcDbIdSet"), (90, "%9d" % len(listed)))
    for h in listed:
        out.tag(330, h)
    out.tags((100, "AcDbFieldList"))
    out.tags((0, "ENDSEC"))


def drawing():
    body = Out()
    tables(body)
    blocks(body)
    entities(body)
    objects(body)
    out = Out()
    header(out)
    classes(out)
    return out.text() + body.text() + "  0\nEOF\n"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    text = drawing()
    assert H.next < 0x200, "the handle seed must lie above every handle"
    with open(sys.argv[1], "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
