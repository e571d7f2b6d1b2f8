"""A script of several end-to-end cases, each a test of its own for ctest:

    test_x.py --list        the names of its cases, one a line
    test_x.py --case NAME   runs that case alone
    test_x.py               runs every case, one after the other

tests/CMakeLists.txt registers a script that lists cases as one test per case
(e2e.test_x.NAME), so that a failure names its case and ctest spreads the cases over
the cores. A case returns 0 (passed), 1 (failed) or 77 (skipped).
"""
import argparse
import os
import shutil
import tempfile

SKIPPED = 77


def run(cases, argv=None):
    """cases: {name: function taking no arguments and returning an exit code}.
    Returns the exit code of the run."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true", help="print the names of the cases")
    parser.add_argument("--case", choices=list(cases), help="run this case alone")
    args = parser.parse_args(argv)
    if args.list:
        print("\n".join(cases))
        return 0
    if args.case:
        return cases[args.case]() or 0
    codes = {}
    for name, case in cases.items():
        print("=== %s" % name, flush=True)
        try:
            codes[name] = case() or 0
        except SystemExit as e:  # a case that ends itself, skipped mostly
            codes[name] = e.code if isinstance(e.code, int) else 1
    failed = [name for name, code in codes.items() if code not in (0, SKIPPED)]
    if failed:
        print("failed: %s" % ", ".join(failed))
        return 1
    return SKIPPED if codes and all(code == SKIPPED for code in codes.values()) else 0


def in_work_folder(prefix, failures, what, body):
    """Runs body(work) in a fresh temporary folder and returns the case's exit code.
    The folder is kept, and named, when the body added to `failures` or
    TABLORA_KEEP_E2E is set; removed otherwise. Prints the case's new failures, or
    "<what>: passed"."""
    failed = len(failures)
    work = tempfile.mkdtemp(prefix=prefix)
    try:
        body(work)
    finally:
        if len(failures) > failed or os.environ.get("TABLORA_KEEP_E2E"):
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    if len(failures) > failed:
        print("\n".join(failures[failed:]))
        return 1
    print(f"{what}: passed")
    return 0
