#!/usr/bin/python3
"""Makes test drawings: DXF R2000 (AC1015) files with any number of attributed block
references, the same bytes for the same arguments.

    make_drawing.py N OUT.dxf [--seed S] [--arch] [--cz] [--weights W,W,W,W,W] [--binary]

Needs Debian's python3-ezdxf (run it with /usr/bin/python3). What a drawing holds:

  * layers 0, A-DOOR, A-GLAZ, M-EQPM, A-AREA-IDEN, P-VALV; layouts Model, Layout1 and
    Sheet-02;
  * five attributed blocks, DOOR_TAG, WINDOW, an equipment tag whose name is longer
    than 31 characters and holds '[' and ']' (no worksheet may be named so),
    ROOM_LABEL and VALVE: 3 to 12 attribute definitions each, with prompts and
    default texts, a constant attribute in two of them, a tag in mixed case and two
    tags that differ only in case (NOTE, Note);
  * N references of those blocks, chosen by the weights (default 30, 25, 10, 20,
    15 per cent): every 33rd in paper space (the two paper layouts in turn), about
    one in twenty at a Z other than 0, rotations at right angles and not, scales
    uniform, non-uniform and mirrored, on every layer;
  * references out of step with their block: from the fifth DOOR_TAG on, every 89th
    carries an attribute its block does not define (OLD_NOTE); from the fifth
    equipment tag on, every 97th lacks the last one;
  * KEY_PLAN, a block without attribute definitions that holds attributed
    references of ROOM_LABEL and WINDOW; NORTH_ARROW, a block of lines; an anonymous
    block (*U); references of the three, some at negative coordinates, in model and
    paper space;
  * attribute texts as a spreadsheet would like to convert them now and then: "007",
    "3E5", "=SUM(A1)", "TRUE", "2024-01-05", "#N/A", texts with blanks around ...;
    the numbers of DOOR_TAG are of one form, "NU-000012".

--arch:    architectural units ($LUNITS 4, $INSUNITS inches, $LUPREC 4, i.e. 1/16"),
           points in inches, half of them on the 1/16" grid.
--cz:      Czech texts, a Czech block name (POPIS_MÍSTNOSTI for ROOM_LABEL) and layer
           (Místnosti), saved as $DWGCODEPAGE ANSI_1250; a few texts hold characters
           that code page lacks (written as \\U+XXXX).
--weights: how often each of the five attributed blocks is chosen, in the order
           above.
--binary:  binary DXF instead of ASCII.
"""
import argparse
import random
import sys

import ezdxf

# No time stamps or GUIDs: the same arguments make the same file.
ezdxf.options.write_fixed_meta_data_for_testing = True

LAYERS = ["0", "A-DOOR", "A-GLAZ", "M-EQPM", "A-AREA-IDEN", "P-VALV"]
PAPER_LAYOUTS = ["Layout1", "Sheet-02"]

# Each attribute definition: (tag, prompt, default text, kind of value). A kind of
# None makes the attribute constant: it has no ATTRIB in the references.
CATALOGUE = [
    ("DOOR_TAG", [
        ("NUMBER", "Door number", "NU-000000", "number"),
        ("TYPE", "Door type", "A", "words"),
        ("WIDTH", "Clear width", "900", "length"),
        ("HEIGHT", "Clear height", "2100", "length"),
        ("FIRE_RATING", "Fire rating", "EI30", "words"),
        ("HARDWARE", "Hardware set", "HW-1", "words"),
        ("CATEGORY", "", "DOOR", None),
    ]),
    ("WINDOW", [
        ("MARK", "Window mark", "MA-000000", "number"),
        ("WIDTH", "Width", "1200", "length"),
        ("SILL", "Sill height", "900", "length"),
    ]),
    ("EQUIPMENT_TAG_[MECH]_LONG_NAME_V2", [
        ("TAG", "Equipment tag", "TA-000000", "number"),
        ("DESCRIPTION", "Description", "", "words"),
        ("MANUFACTURER", "Manufacturer", "", "words"),
        ("MODEL", "Model", "", "words"),
        ("SERIAL_NO", "Serial number", "", "words"),
        ("POWER_KW", "Power [kW]", "0", "decimal"),
        ("VOLTAGE", "Voltage", "400", "length"),
        ("PHASE", "Phases", "3", "words"),
        ("WEIGHT_KG", "Weight [kg]", "", "length"),
        ("INSTALL_DATE", "Installation date", "", "date"),
        ("WARRANTY", "Warranty", "2 years", "words"),
        ("NOTES", "Notes", "", "words"),
        ("DISCIPLINE", "", "M", None),
    ]),
    ("ROOM_LABEL", [
        ("NAME", "Room name", "ROOM", "words"),
        ("NUMBER", "Room number", "000", "number"),
        ("AREA", "Area [m2]", "0.00", "decimal"),
        ("FLOOR_FINISH", "Floor finish", "", "words"),
        ("CEILING_HEIGHT", "Ceiling height", "2700", "length"),
        ("Department", "Department", "", "words"),
        ("NOTE", "Note", "", "words"),
        ("Note", "Second note", "", "words"),
    ]),
    ("VALVE", [
        ("ID", "Valve id", "ID-000000", "number"),
        ("SIZE", "Nominal size", "DN50", "words"),
        ("PRESSURE", "Pressure class", "PN16", "words"),
        ("MATERIAL", "Material", "", "words"),
        ("SYSTEM", "System", "", "words"),
    ]),
]
DEFAULT_WEIGHTS = [30, 25, 10, 20, 15]
DOOR, EQUIPMENT, ROOM = 0, 2, 3

WORDS = ["steel", "oak", "glass", "fan coil", "pump", "AHU", "corridor", "office", "stair", "lobby",
         "store", "plant room", "riser", "toilet", "kitchen"]
# \u0394 and \u2264 are not in cp1250: the file holds them as \U+0394 and \U+2264.
WORDS_CZ = ["Dveře", "Okno", "Příčka", "Čerpadlo", "Šroub", "Ústřední topení", "měděné potrubí",
            "Žluťoučký kůň", "chodba", "kancelář", "schodiště", "strojovna", "kuchyňka",
            "úklidová místnost", "ocel", "dřevo", "\u0394p \u2264 50 kPa"]
# Texts a spreadsheet would take for numbers, dates, truth values, formulas or errors.
LOOKALIKES = ["007", "1/2", "3E5", "=SUM(A1)", "TRUE", "2024-01-05", "  padded  ", "", "1,5", "12'-6\"",
              "%%c100", "+420", "-0", "0x1F", "1.10", "#N/A"]


class Maker:
    def __init__(self, seed, arch, cz, weights):
        self.rng = random.Random(seed)
        self.arch, self.cz, self.weights = arch, cz, weights
        self.words = WORDS_CZ if cz else WORDS

    # --- texts and places ------------------------------------------------------------

    def text(self, tag, kind, serial):
        rng = self.rng
        if rng.random() < 0.04:
            return rng.choice(LOOKALIKES)
        if kind == "number":
            return "%s-%06d" % (tag.upper()[:2], serial)
        if kind == "length":
            return str(rng.randrange(300, 3000, 10))
        if kind == "decimal":
            return "%.2f" % rng.uniform(0.5, 250)
        if kind == "date":
            return "%d-%02d-%02d" % (rng.randrange(2015, 2025), rng.randrange(1, 13), rng.randrange(1, 29))
        return " ".join(rng.choice(self.words) for _ in range(rng.randrange(1, 4)))

    def point(self):
        rng = self.rng
        if self.arch:
            x, y = rng.uniform(0, 4000), rng.uniform(0, 2400)
            if rng.random() < 0.5:
                x, y = round(x * 16) / 16, round(y * 16) / 16
        else:
            x, y = round(rng.uniform(0, 100000), 3), round(rng.uniform(0, 60000), 3)
        z = round(rng.uniform(-500, 500), 2) if rng.random() < 0.05 else 0.0
        return x, y, z

    def rotation(self):
        if self.rng.random() < 0.7:
            return self.rng.choice([0.0, 90.0, 180.0, 270.0])
        return round(self.rng.uniform(0, 360), 4)

    def scale(self):
        r = self.rng.random()
        if r < 0.75:
            return 1.0, 1.0, 1.0
        if r < 0.85:
            s = self.rng.choice([0.5, 1.25, 2.0])
            return s, s, s
        return (1.0, 1.5, 1.0) if r < 0.95 else (-1.0, 1.0, 1.0)

    # --- the drawing ---------------------------------------------------------------

    def header(self, doc):
        if self.arch:
            values = {"$LUNITS": 4, "$LUPREC": 4, "$INSUNITS": 1, "$MEASUREMENT": 0}
        else:
            values = {"$LUNITS": 2, "$INSUNITS": 4, "$MEASUREMENT": 1}
        for name, value in values.items():
            doc.header[name] = value

    def define_blocks(self, doc):
        """The attributed blocks as (block, [(tag, kind)] of the attributes references
        carry); then NORTH_ARROW and the anonymous block, whose name is returned."""
        blocks = []
        for name, attdefs in CATALOGUE:
            if self.cz and name == "ROOM_LABEL":
                name = "POPIS_MÍSTNOSTI"
            block = doc.blocks.new(name)
            block.add_lwpolyline([(0, 0), (400, 0), (400, 250), (0, 250)], close=True)
            carried = []
            for k, (tag, prompt, default, kind) in enumerate(attdefs):
                attdef = block.add_attdef(tag, (20, 200 - 30 * k), dxfattribs={"prompt": prompt, "height": 25,
                                                                               "layer": "0"})
                attdef.dxf.text = default
                if kind is None:
                    attdef.dxf.flags = ezdxf.const.ATTRIB_CONST
                else:
                    carried.append((tag, kind))
            blocks.append((block, carried))
        arrow = doc.blocks.new("NORTH_ARROW")
        for start in ((0, -200), (-100, -100), (100, -100)):
            arrow.add_line(start, (0, 200))
        anonymous = doc.blocks.new_anonymous_block("U")
        anonymous.add_circle((0, 0), 150)
        anonymous.add_line((-150, 0), (150, 0))
        return blocks, anonymous.name

    def reference(self, space, block, carried, serial, where, layer, rotation=0.0, scale=(1.0, 1.0, 1.0),
                  leave_out_last=False, extra=None):
        """An INSERT of block with an ATTRIB for each attribute it carries (as CAD
        programs write them: none for constant attributes), placed where the
        definition's ATTDEF stands, moved, turned and scaled with the reference."""
        insert = space.add_blockref(block.name, where, dxfattribs={
            "layer": layer, "rotation": rotation, "xscale": scale[0], "yscale": scale[1], "zscale": scale[2]})
        attdefs = {a.dxf.tag: a for a in block.attdefs()}
        if leave_out_last:
            carried = carried[:-1]
        matrix = insert.matrix44()
        for tag, kind in carried:
            attdef = attdefs[tag]
            keep = attdef.dxfattribs(drop={"handle", "owner", "prompt", "tag", "text", "insert", "flags"})
            attrib = insert.add_attrib(tag, self.text(tag, kind, serial), attdef.dxf.insert, dxfattribs=keep)
            attrib.transform(matrix)
        if extra:
            insert.add_attrib(extra[0], extra[1], where)
        return insert

    def build(self, n):
        doc = ezdxf.new("R2000", setup=False)
        if self.cz:
            doc.encoding = "cp1250"  # saved as $DWGCODEPAGE ANSI_1250
        self.header(doc)
        layers = LAYERS + (["Místnosti"] if self.cz else [])
        for colour, name in enumerate(layers[1:], start=1):
            doc.layers.add(name, color=colour)
        blocks, anonymous = self.define_blocks(doc)
        model = doc.modelspace()
        papers = [doc.layouts.get(PAPER_LAYOUTS[0]), doc.layouts.new(PAPER_LAYOUTS[1])]

        # A block without attribute definitions whose content is attributed references.
        key_plan = doc.blocks.new("KEY_PLAN")
        key_plan.add_lwpolyline([(0, 0), (3000, 0), (3000, 2000), (0, 2000)], close=True)
        for k, which in enumerate([ROOM, ROOM, ROOM, 1, 1]):
            block, carried = blocks[which]
            self.reference(key_plan, block, carried, 900000 + k, (300 + 500 * k, 800), "0")

        serials = [0] * len(blocks)
        for i in range(n):
            which = self.rng.choices(range(len(blocks)), self.weights)[0]
            block, carried = blocks[which]
            serials[which] += 1
            serial = serials[which]
            where, rotation, scale = self.point(), self.rotation(), self.scale()
            layer = self.rng.choice(layers)
            space = model
            if i % 33 == 32:  # paper space, sized for a sheet
                space = papers[(i // 33) % 2]
                where = (round(where[0] / 100, 3), round(where[1] / 100, 3), 0.0)
            lacking = which == EQUIPMENT and serial % 97 == 5
            extra = ("OLD_NOTE", "stale value") if which == DOOR and serial % 89 == 5 else None
            self.reference(space, block, carried, serial, where, layer, rotation, scale, lacking, extra)

        # References without attributes, at negative Y among others.
        for k in range(max(3, n // 2000)):
            model.add_blockref("KEY_PLAN", (5000.0 * k, -5000.0), dxfattribs={"layer": "0"})
            model.add_blockref("NORTH_ARROW", (5000.0 * k, -8000.0), dxfattribs={"rotation": 15.0 * k})
            model.add_blockref(anonymous, (5000.0 * k, -10000.0))
        papers[0].add_blockref("KEY_PLAN", (20, 20), dxfattribs={"xscale": 0.01, "yscale": 0.01, "zscale": 0.01})
        papers[0].add_blockref("NORTH_ARROW", (380, 260), dxfattribs={"xscale": 0.05, "yscale": 0.05})
        return doc


def weights(text):
    values = [float(w) for w in text.split(",")]
    if len(values) != len(CATALOGUE) or min(values) < 0 or not sum(values):
        raise argparse.ArgumentTypeError("%d weights, none negative, not all 0" % len(CATALOGUE))
    return values


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("n", type=int, help="attributed block references in model and paper space")
    parser.add_argument("out", help="the DXF file to write")
    parser.add_argument("--seed", type=int, default=20240501)
    parser.add_argument("--arch", action="store_true", help="architectural units, inches")
    parser.add_argument("--cz", action="store_true", help="Czech texts, code page ANSI_1250")
    parser.add_argument("--weights", type=weights, default=DEFAULT_WEIGHTS,
                        help="how often each attributed block is chosen (five numbers, comma-separated)")
    parser.add_argument("--binary", action="store_true", help="write binary DXF")
    args = parser.parse_args(argv)
    if args.n < 0:
        parser.error("N must not be negative")
    doc = Maker(args.seed, args.arch, args.cz, args.weights).build(args.n)
    doc.saveas(args.out, fmt="bin" if args.binary else "asc")
    print("%s: %d attributed references, %s, $LUNITS %s" % (args.out, args.n, doc.header["$DWGCODEPAGE"],
                                                            doc.header["$LUNITS"]), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
