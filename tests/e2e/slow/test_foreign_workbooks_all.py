#!/usr/bin/python3
"""Exporting into every workbook of the shared xlsx corpus (see foreign_workbooks)."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import foreign_workbooks  # noqa: E402

if __name__ == "__main__":
    sys.exit(foreign_workbooks.run(step=1, libreoffice_sample=20))
