#!/usr/bin/python3
"""Writes export_blocks.dxf, the drawing the export tests start from (ezdxf, R2000,
fixed meta data so that the file is the same on every run).

    /usr/bin/python3 make_export_fixture.py export_blocks.dxf

Blocks, in block table order:
  DOOR     attribute definitions WIDTH, FIRE (prompts "Clear width", "Fire rating")
           references, each found by its WIDTH text:
             900   model space at (10, 0, 0), rotated 90 degrees, FIRE EI30
             1000  model space at (-1200.5, -830.25, 0), scale (2, 3, 4), layer A-DOOR
             700   model space, attributes stored FIRE then WIDTH (out of step)
             600   on the paper space layout "Layout1"
  VALVE    definitions b, A (constant, text GATE), c; one reference with b=1, c=3
           in model space, one nested in KEY with b=N1, c=N3
  NORTH    no attribute definitions; one reference
  KEY      no attribute definitions; holds the nested VALVE; one reference
  EQUIP[1] one attribute definition TAG; a name no worksheet may carry
  an anonymous block *U1 with one reference
"""
import math
import sys

import ezdxf

ezdxf.options.write_fixed_meta_data_for_testing = True


def attribs(ins, block, pairs):
    m = ins.matrix44()
    defs = {d.dxf.tag: d for d in block.query("ATTDEF")}
    for tag, text in pairs:
        a = ins.add_attrib(tag, text, defs[tag].dxf.insert, dxfattribs={"height": 2.5})
        a.transform(m)


def main(out):
    doc = ezdxf.new("R2000", setup=False)
    doc.layers.add("A-DOOR", color=1)
    door = doc.blocks.new("DOOR")
    door.add_lwpolyline([(0, 0), (40, 0), (40, 20), (0, 20)], close=True)
    door.add_attdef("WIDTH", (0, 10), "800", dxfattribs={"height": 2.5, "prompt": "Clear width"})
    door.add_attdef("FIRE", (0, 0), "EI15", dxfattribs={"height": 2.5, "prompt": "Fire rating"})
    valve = doc.blocks.new("VALVE")
    valve.add_attdef("b", (0, 0), "b0", dxfattribs={"height": 2, "prompt": "pb"})
    valve.add_attdef("A", (0, -3), "GATE", dxfattribs={"height": 2, "prompt": "pA", "flags": 2})
    valve.add_attdef("c", (0, -6), "c0", dxfattribs={"height": 2, "prompt": "pc"})
    north = doc.blocks.new("NORTH")
    north.add_line((0, 0), (0, 10))
    key = doc.blocks.new("KEY")
    key.add_circle((0, 0), 5)
    nested = key.add_blockref("VALVE", (1, 1, 0))
    attribs(nested, valve, [("b", "N1"), ("c", "N3")])
    equip = doc.blocks.new("EQUIP[1]")
    equip.add_attdef("TAG", (0, 0), "E-0", dxfattribs={"height": 2})
    anon = doc.blocks.new_anonymous_block()
    anon.add_line((0, 0), (1, 1))

    msp = doc.modelspace()
    d = msp.add_blockref("DOOR", (10, 0, 0), dxfattribs={"rotation": 90})
    attribs(d, door, [("WIDTH", "900"), ("FIRE", "EI30")])
    d = msp.add_blockref("DOOR", (-1200.5, -830.25, 0), dxfattribs={
        "xscale": 2, "yscale": 3, "zscale": 4, "layer": "A-DOOR"})
    attribs(d, door, [("WIDTH", "1000"), ("FIRE", "EI60")])
    d = msp.add_blockref("DOOR", (50, 0, 0))
    attribs(d, door, [("FIRE", "EI90"), ("WIDTH", "700")])
    v = msp.add_blockref("VALVE", (0, 50, 0))
    attribs(v, valve, [("b", "1"), ("c", "3")])
    msp.add_blockref("NORTH", (0, 100, 0))
    msp.add_blockref("KEY", (0, 150, 0))
    e = msp.add_blockref("EQUIP[1]", (0, 200, 0))
    attribs(e, equip, [("TAG", "E-1")])
    msp.add_blockref(anon.name, (0, 250, 0))

    layout = doc.layouts.get("Layout1")
    d = layout.add_blockref("DOOR", (5, 5, 0))
    attribs(d, door, [("WIDTH", "600"), ("FIRE", "EI0")])
    doc.saveas(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "export_blocks.dxf")
