#!/usr/bin/python3
"""Are two DXF files the same drawing, tag for tag?

    dxf_compare.py [--exact] [--show N] FIRST.dxf SECOND.dxf

Each file may be ASCII (LF or CR LF line ends, with or without a UTF-8 byte-order
mark) or binary (one-byte group codes of R12 and older, two-byte ones of R13 and
later), so a drawing saved in the other form compares too. The same drawing has the
same group codes in the same order with the same values: texts byte for byte, reals
equal as numbers (however written), integers equal, binary data the same bytes.
Bytes after 0/EOF must be the same as well.

Unless --exact is given, SECOND may give a handle (group 5) to an object that has
none in FIRST, and raise $HANDSEED: what a program does when it saves a drawing
without handles with them.

Prints "same" and exits 0, or prints where the files first differ (group code, value,
line or byte, the section and object it is in) and up to N differences after it
(--show, default 5) and exits 1. Exits 2 when a file cannot be read as DXF.
"""
import argparse
import difflib
import math
import struct
import sys

BINARY_SENTINEL = b"AutoCAD Binary DXF\r\n\x1a\x00"


def _in(code, *ranges):
    return any(lo <= code <= hi for lo, hi in ranges)


def kind_of(code):
    """The value type of a group code, as the DXF reference assigns them."""
    if _in(code, (10, 59), (110, 149), (210, 239), (460, 469), (1010, 1059)):
        return "real"
    if _in(code, (60, 79), (170, 179), (270, 289), (370, 389), (400, 409), (1060, 1070)):
        return "int16"
    if _in(code, (90, 99), (420, 429), (440, 459), (1071, 1071)):
        return "int32"
    if _in(code, (160, 169)):
        return "int64"
    if _in(code, (290, 299)):
        return "byte"
    if _in(code, (310, 319), (1004, 1004)):
        return "bytes"
    return "text"


class Unreadable(Exception):
    pass


class Tag:
    """A group code, its value as the file holds it, and where it stands."""
    __slots__ = ("code", "raw", "where", "key")

    def __init__(self, code, raw, where):
        self.code, self.raw, self.where = code, raw, where
        self.key = (code, normal(code, raw))

    def shown(self):
        value = self.raw
        if isinstance(value, bytes):
            value = value.decode("utf-8", "backslashreplace")
            if len(value) > 70:
                value = value[:70] + "..."
        return "%d: %r" % (self.code, value)


def normal(code, raw):
    """The value to compare: a number for numeric codes, hexadecimal digits in capitals
    for binary data, the text's bytes otherwise. A number that does not read as one is
    compared as its text, blanks around it aside."""
    kind = kind_of(code)
    if isinstance(raw, bytes):
        if kind == "real":
            try:
                value = float(raw)
                return ("real", 0.0 if value == 0 else value) if not math.isnan(value) else ("text", raw.strip())
            except ValueError:
                return ("text", raw.strip())
        if kind in ("int16", "int32", "int64", "byte"):
            try:
                return ("int", int(raw))
            except ValueError:
                return ("text", raw.strip())
        if kind == "bytes":
            return ("hex", raw.strip().upper())
        return ("text", raw)
    if kind == "real":
        return ("real", 0.0 if raw == 0 else raw)
    if isinstance(raw, int):
        return ("int", raw)
    return ("hex", raw.hex().upper().encode())


def ascii_tags(data, name):
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    tags, i = [], 0
    while i < len(lines):
        text = lines[i].rstrip(b"\r").strip()
        if not text or text == b"\x1a":  # a blank line or the old end-of-file byte
            i += 1
            continue
        try:
            code = int(text)
        except ValueError:
            raise Unreadable("%s: line %d: %r is no group code" % (name, i + 1, text[:40]))
        if i + 1 >= len(lines):
            raise Unreadable("%s: line %d: group code %d has no value" % (name, i + 1, code))
        tag = Tag(code, lines[i + 1].rstrip(b"\r"), "line %d" % (i + 2))
        tags.append(tag)
        i += 2
        if tag.key == (0, ("text", b"EOF")):
            rest = b"\n".join(lines[i:])
            if rest.strip(b"\r\n\x1a\x00"):
                tags.append(Tag(-1, rest, "line %d" % (i + 1)))  # bytes after the end
            break
    return tags


def binary_tags(data, name):
    pos = len(BINARY_SENTINEL)
    # The first tag is 0/SECTION: a code of two bytes when the byte after the 0 is 0.
    wide = len(data) > pos + 1 and data[pos] == 0 and data[pos + 1] == 0
    tags = []

    def need(n, what):
        if pos + n > len(data):
            raise Unreadable("%s: byte %d: the file ends inside %s" % (name, pos, what))

    while pos < len(data):
        at = pos
        need(1, "a group code")
        if wide:
            need(2, "a group code")
            code = struct.unpack_from("<h", data, pos)[0]
            pos += 2
        else:
            code = data[pos]
            pos += 1
            if code == 255:
                need(2, "a group code")
                code = struct.unpack_from("<h", data, pos)[0]
                pos += 2
        kind = kind_of(code)
        if kind == "text":
            end = data.find(b"\x00", pos)
            if end < 0:
                raise Unreadable("%s: byte %d: the file ends inside the text of group code %d" % (name, pos, code))
            value, pos = data[pos:end], end + 1
        elif kind == "bytes":
            need(1, "binary data")
            n = data[pos]
            need(1 + n, "binary data")
            value, pos = bytearray(data[pos + 1:pos + 1 + n]), pos + 1 + n
        else:
            size, form = {"real": (8, "<d"), "int16": (2, "<h"), "int32": (4, "<i"), "int64": (8, "<q"),
                          "byte": (1, "<B")}[kind]
            need(size, "a number")
            value = struct.unpack_from(form, data, pos)[0]
            pos += size
        tag = Tag(code, value, "byte %d" % at)
        tags.append(tag)
        if tag.key == (0, ("text", b"EOF")):
            if data[pos:]:
                tags.append(Tag(-1, bytes(data[pos:]), "byte %d" % pos))
            break
    return tags


def read_tags(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise Unreadable("%s: %s" % (path, e.strerror))
    if data.startswith(BINARY_SENTINEL[:18]):
        return "binary", binary_tags(data, path)
    return "ASCII", ascii_tags(data, path)


def places(tags):
    """For each tag: the section and the object (type and handle) it stands in, and
    whether that object has a handle of its own."""
    out, handled = [], []
    section, kind, handle, start, pending = "", "", "", 0, None
    for i, t in enumerate(tags):
        if t.code == 0:
            handled.extend([handle != ""] * (i - start))
            start, kind, handle = i, t.key[1][1].decode("latin-1") if t.key[1][0] == "text" else "?", ""
            if kind == "ENDSEC":
                section = ""
            pending = kind == "SECTION"
        elif t.code == 2 and pending:
            section, pending = t.key[1][1].decode("latin-1"), False
        elif t.code == 9 and section == "HEADER":
            kind, handle = t.key[1][1].decode("latin-1") if t.key[1][0] == "text" else "?", ""
        elif t.code in (5, 105) and not handle and section != "HEADER":
            handle = t.key[1][1].decode("latin-1") if t.key[1][0] == "text" else "?"
        out.append((section, kind, handle))
    handled.extend([handle != ""] * (len(tags) - start))
    return out, handled


def hex_value(tag):
    try:
        return int(tag.key[1][1], 16)
    except (TypeError, ValueError):
        return None


def first_difference(a, b, exact):
    """Walks both lists in step; returns (i, j) of the first tags that differ (one of
    them len() where a file ends), or None when the files are the same drawing, and
    the number of handles SECOND added."""
    _, a_handled = places(a)
    i = j = added = 0
    handseed = False
    while i < len(a) and j < len(b):
        ta, tb = a[i], b[j]
        if ta.code == 9:
            handseed = ta.key == (9, ("text", b"$HANDSEED"))
        if ta.key == tb.key:
            i, j = i + 1, j + 1
            continue
        if not exact:
            if handseed and ta.code == tb.code == 5:
                seed_a, seed_b = hex_value(ta), hex_value(tb)
                if seed_a is not None and seed_b is not None and seed_b >= seed_a:
                    i, j = i + 1, j + 1
                    continue
            # A handle of an object that has none in FIRST.
            if tb.code == 5 and ta.code != 5 and j > 0 and b[j - 1].code == 0 and i > 0 and a[i - 1].code == 0 \
                    and not a_handled[i - 1]:
                j, added = j + 1, added + 1
                continue
        return (i, j), added
    if i < len(a) or j < len(b):
        return (i, j), added
    return None, added


def describe(tags, index, where_of, name):
    if index >= len(tags):
        return "%s ends (%d tags)" % (name, len(tags))
    t = tags[index]
    section, kind, handle = where_of[index]
    inside = " in %s" % section if section else ""
    if kind and t.code != 0:
        inside += ", %s" % kind + (" %s" % handle if handle else "")
    if t.code == -1:
        return "%s, %s: %d bytes after 0/EOF" % (name, t.where, len(t.raw))
    return "%s, %s%s: %s" % (name, t.where, inside, t.shown())


def report(a, b, start, show, names):
    """The first difference, then up to show differing stretches from there on, found
    by aligning the tags that follow (so an inserted tag reads as one)."""
    i, j = start
    where_a, _ = places(a)
    where_b, _ = places(b)
    lines = ["differ: %s  vs  %s" % (describe(a, i, where_a, names[0]), describe(b, j, where_b, names[1]))]
    window = 4000
    ka, kb = [t.key for t in a[i:i + window]], [t.key for t in b[j:j + window]]
    opcodes = [op for op in difflib.SequenceMatcher(None, ka, kb, autojunk=False).get_opcodes() if op[0] != "equal"]
    for op, a0, a1, b0, b1 in opcodes[:show]:
        lines.append("  %s:" % {"replace": "changed", "delete": "only in " + names[0],
                                "insert": "only in " + names[1]}[op])
        for k in range(a0, min(a1, a0 + 3)):
            lines.append("    - " + describe(a, i + k, where_a, names[0]))
        if a1 - a0 > 3:
            lines.append("    - ... %d more tags" % (a1 - a0 - 3))
        for k in range(b0, min(b1, b0 + 3)):
            lines.append("    + " + describe(b, j + k, where_b, names[1]))
        if b1 - b0 > 3:
            lines.append("    + ... %d more tags" % (b1 - b0 - 3))
    if len(opcodes) > show:
        lines.append("  ... %d more differing stretches in the %d tags compared" % (len(opcodes) - show, window))
    return lines


def compare(first, second, exact=False, show=5):
    """(same, lines of the report); raises Unreadable."""
    form_a, a = read_tags(first)
    form_b, b = read_tags(second)
    start, added = first_difference(a, b, exact)
    if start is None:
        return True, ["same"]
    names = ("first (%s)" % form_a, "second (%s)" % form_b)
    return False, report(a, b, start, show, names)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("first")
    parser.add_argument("second")
    parser.add_argument("--exact", action="store_true", help="no handle may be added, $HANDSEED must be equal")
    parser.add_argument("--show", type=int, default=5, metavar="N", help="differences to list (default 5)")
    args = parser.parse_args(argv)
    try:
        same, lines = compare(args.first, args.second, args.exact, args.show)
    except Unreadable as e:
        print("unreadable: %s" % e)
        return 2
    print("\n".join(lines))
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
