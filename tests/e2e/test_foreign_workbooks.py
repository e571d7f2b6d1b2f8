#!/usr/bin/python3
"""Exporting into a fixed sample of the shared xlsx corpus (every fiftieth
workbook, so that a failure repeats); TABLORA_FOREIGN_STEP chooses another step.
The workbooks with hidden and very hidden sheets, and the one whose tab bar starts
past its first sheet, are always among them: their sheets must stay hidden and the
views valid. The whole corpus runs in slow/test_foreign_workbooks_all."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import foreign_workbooks  # noqa: E402

if __name__ == "__main__":
    sys.exit(foreign_workbooks.run(step=int(os.environ.get("TABLORA_FOREIGN_STEP", "50")),
                                   always=("hide01.xlsx", "hide02.xlsx", "firstsheet01.xlsx")))
