"""Where the end-to-end tests find what they use besides cadhost: the project's own
tools (tools/make_drawing.py, tools/dxf_compare.py) and the shared corpus of real
drawings and workbooks, which the project does not hold.

The shared folder is TABLORA_SHARED_DIR when set; else the one CMake was configured
with (ctest passes it as TABLORA_CONFIGURED_SHARED_DIR); else ../shared beside the
checkout. A test that needs the corpus calls require_shared(), which ends it as
skipped (exit code 77) with one line saying what is missing and how to point at it.
"""
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
TOOLS = os.path.join(ROOT, "tools")
PYTHON = "/usr/bin/python3"
MAKE_DRAWING = os.path.join(TOOLS, "make_drawing.py")
DXF_COMPARE = os.path.join(TOOLS, "dxf_compare.py")
SKIPPED = 77  # what ctest is told a skipped test exits with


def shared_dir():
    for name in ("TABLORA_SHARED_DIR", "TABLORA_CONFIGURED_SHARED_DIR"):
        if os.environ.get(name):
            return os.environ[name]
    return os.path.join(ROOT, "..", "shared")


def shared_path(part):
    """The shared folder's part ("corpus/dxf", "corpus/xlsx/xlsxwriter"), there or not."""
    return os.path.join(shared_dir(), *part.split("/"))


def has_shared(part):
    return os.path.isdir(shared_path(part))


def missing(part):
    return "skipped: needs the shared corpus %s, not found at %s (set TABLORA_SHARED_DIR to the folder holding " \
           "corpus/)" % (part, os.path.normpath(shared_path(part)))


def require_shared(part):
    """The part's path; ends the test as skipped where it is absent."""
    if not has_shared(part):
        print(missing(part))
        sys.exit(SKIPPED)
    return shared_path(part)


def make_drawing(n, out, *options, timeout=600):
    """Writes a generated drawing of n attributed references (see tools/make_drawing.py)."""
    subprocess.run([PYTHON, MAKE_DRAWING, str(n), out, *options], check=True, capture_output=True, timeout=timeout)
    return out


def dxf_compare(first, second, *options):
    """(True, "same") when the two files are the same drawing tag for tag, else
    (False, the comparator's report of where they differ)."""
    proc = subprocess.run([PYTHON, DXF_COMPARE, *options, first, second], capture_output=True, text=True,
                          errors="replace")
    said = (proc.stdout.strip() or proc.stderr.strip() or "no answer (exit code %d)" % proc.returncode)
    return proc.returncode == 0 and said == "same", said
