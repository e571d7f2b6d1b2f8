#!/usr/bin/python3
"""Exporting into a fixed sample of the shared xlsx corpus (every fiftieth
workbook, so that a failure repeats); TABLORA_FOREIGN_STEP chooses another step.
The workbooks with hidden and very hidden sheets, and the one whose tab bar starts
past its first sheet, are always among them: their sheets must stay hidden and the
views valid. The sample runs as four cases (ctest runs them side by side), the first
of which also has LibreOffice read one of its workbooks; skipped where the corpus is
absent. The whole corpus runs in slow/test_foreign_workbooks_all."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import foreign_workbooks  # noqa: E402

PARTS = 4


def part(index):
    def run():
        return foreign_workbooks.run(step=int(os.environ.get("TABLORA_FOREIGN_STEP", "50")),
                                     always=("hide01.xlsx", "hide02.xlsx", "firstsheet01.xlsx"),
                                     part=index, parts=PARTS, workers=1, libreoffice_sample=1 if index == 0 else 0)
    return run


if __name__ == "__main__":
    sys.exit(cases.run({"part-%dof%d" % (i + 1, PARTS): part(i) for i in range(PARTS)}))
