#!/usr/bin/python3
"""Writes import_blocks.dxf, the drawing the import tests start from (ezdxf, R2000,
fixed meta data so that the file is the same on every run).

    /usr/bin/python3 make_fixture.py import_blocks.dxf

Model space holds, each found by its NUMBER (or NAME) attribute text:
  D-1   DOOR at (10, 20, 0), attributes NUMBER, WIDTH, FIRE in definition order
  D-2   DOOR at (100, 0, 0), rotated 90 degrees, scaled 2, on layer A-DOOR
  D-3   DOOR out of step with its block: NUMBER, WIDTH and an extra OLD, no FIRE
  R-1   ROOM, whose block has the tags NAME, NOTE and Note (one tag twice, by case)
  a LINE on layer A-DOOR (an entity that is no block reference)
The DOOR definition holds a frame and its attribute definitions; FIRE's definition
stands at (0, -10, 0) relative to the block origin.
"""
import sys

import ezdxf

ezdxf.options.write_fixed_meta_data_for_testing = True


def door_attribs(ins, block, values, tags=None):
    m = ins.matrix44()
    defs = {d.dxf.tag: d for d in block.query("ATTDEF")}
    for tag, text in zip(tags or ["NUMBER", "WIDTH", "FIRE"], values):
        d = defs.get(tag)
        pos = d.dxf.insert if d else (0, -30, 0)
        a = ins.add_attrib(tag, text, pos, dxfattribs={"height": 2.5})
        a.transform(m)


def main(out):
    doc = ezdxf.new("R2000", setup=False)
    doc.layers.add("A-DOOR", color=1)
    doc.layers.add("A-GLAZ", color=2)
    door = doc.blocks.new("DOOR")
    door.add_lwpolyline([(0, 0), (40, 0), (40, 20), (0, 20)], close=True)
    for k, tag in enumerate(["NUMBER", "WIDTH", "FIRE"]):
        door.add_attdef(tag, (0, 10 - 10 * k), dxfattribs={"height": 2.5, "prompt": tag.title()})
    room = doc.blocks.new("ROOM")
    for k, tag in enumerate(["NAME", "NOTE", "Note"]):
        room.add_attdef(tag, (0, -5 * k), dxfattribs={"height": 2.5})
    msp = doc.modelspace()

    d1 = msp.add_blockref("DOOR", (10, 20, 0))
    door_attribs(d1, door, ["D-1", "900", "EI30"])
    d2 = msp.add_blockref("DOOR", (100, 0, 0), dxfattribs={
        "rotation": 90, "xscale": 2, "yscale": 2, "zscale": 2, "layer": "A-DOOR"})
    door_attribs(d2, door, ["D-2", "1200", "EI60"])
    d3 = msp.add_blockref("DOOR", (200, 0, 0))
    door_attribs(d3, door, ["D-3", "800", "stale"], tags=["NUMBER", "WIDTH", "OLD"])
    r1 = msp.add_blockref("ROOM", (300, 0, 0))
    m = r1.matrix44()
    for k, (tag, text) in enumerate([("NAME", "R-1"), ("NOTE", "first"), ("Note", "second")]):
        a = r1.add_attrib(tag, text, (0, -5 * k), dxfattribs={"height": 2.5})
        a.transform(m)
    msp.add_line((0, 0), (50, 50), dxfattribs={"layer": "A-DOOR"})
    doc.saveas(out)


if __name__ == "__main__":
    main(sys.argv[1])
