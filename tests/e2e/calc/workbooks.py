"""What a user sees of a workbook, read with openpyxl, to tell two backends' workbooks
apart: the sheets in order and, for every cell holding a value or a comment, its
value, comment text, number format and boldness. Column widths, fonts and styles of
empty cells are each application's own business and are not compared."""
import math


def content(wb):
    sheets = []
    for ws in wb.worksheets:
        cells = {}
        for row in ws.iter_rows():
            for c in row:
                value = c.value
                note = c.comment.text if c.comment is not None else None
                if value in (None, "") and note is None:
                    continue
                has_value = value not in (None, "")
                cells[c.coordinate] = (
                    "" if value is None else value,
                    note,
                    c.number_format if has_value else None,
                    bool(c.font.b) if has_value else None,
                )
        sheets.append((ws.title, cells))
    return sheets


def _same(v, w):
    if isinstance(v, (int, float)) and isinstance(w, (int, float)) and not isinstance(v, bool):
        return math.isclose(v, w, rel_tol=1e-12, abs_tol=1e-12)
    return v == w


def differences(expected, got, limit=8):
    """Differences of got from expected (openpyxl workbooks), as readable lines."""
    a, b = content(expected), content(got)
    names_a, names_b = [n for n, _ in a], [n for n, _ in b]
    if names_a != names_b:
        return ["sheets %s, expected %s" % (names_b, names_a)]
    out = []
    fields = ("value", "comment", "number format", "bold")
    for (name, ca), (_, cb) in zip(a, b):
        for coord in sorted(ca.keys() | cb.keys(), key=lambda k: (len(k), k)):
            x, y = ca.get(coord), cb.get(coord)
            if x is None or y is None:
                out.append("%s!%s is %r, expected %r" % (name, coord, y, x))
                continue
            for field, v, w in zip(fields, x, y):
                if not _same(v, w):
                    out.append("%s!%s %s is %r, expected %r" % (name, coord, field, w, v))
    if len(out) > limit:
        out = out[:limit] + ["... %d more" % (len(out) - limit)]
    return out
