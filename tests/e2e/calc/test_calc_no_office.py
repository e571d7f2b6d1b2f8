#!/usr/bin/python3
"""End to end: `cadhost --spreadsheet calc` where no office can be had says so in one
line and ends with a failure status, without hanging, and leaves nothing running:

  * no LibreOffice at all (PATH without soffice, TABLORA_SOFFICE naming nothing),
    with the office needed at start (--workbook) and first needed by TABRO Export2:
    a script whose export could not run must not end as if it had;
  * an office program that fails at once (exit status 1);
  * an office program that starts but never answers on the pipe.

Needs only cadhost and the Calc backend, not LibreOffice.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs(office=False)

import signal  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

from openpyxl import Workbook  # noqa: E402

FIXTURE = os.path.join(HERE, "..", "..", "module", "export", "export_blocks.dxf")
# A start that never answers is given up after the backend's start timeout; well
# within this, or cadhost hangs.
NO_ANSWER_LIMIT = 90.0
failures = []
CRASH_SIGNS = ("terminate called", "Segmentation", "Aborted", "core dumped", "AddressSanitizer", "Traceback")


def check(condition, what):
    if not condition:
        failures.append(what)


def fake_office(folder, body):
    """An executable standing in for soffice; it notes its pid where the test finds it."""
    path = os.path.join(folder, "soffice")
    with open(path, "w") as f:
        f.write("#!/bin/sh\necho $$ > '%s/fake.pid'\n%s\n" % (folder, body))
    os.chmod(path, 0o755)
    return path


def running(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def case(work, name, soffice, limit, workbook=False):
    folder = tempfile.mkdtemp(dir=work, prefix="case-")
    home = os.path.join(folder, "home")
    empty = os.path.join(folder, "nothing-here")
    os.makedirs(home)
    os.makedirs(empty)
    if soffice is None:
        program = os.path.join(empty, "soffice")
    else:
        program = fake_office(folder, soffice)
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("TABRO\nExport2\nDOOR\nQUIT\n")
    pipe = office.unique_pipe()
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env.update(CADHOST_HOME=home, TABLORA_SOFFICE=program)
    if soffice is None:
        env["PATH"] = empty
    started = time.monotonic()
    book = []
    if workbook:
        book = ["--workbook", os.path.join(folder, "Book1.xlsx")]
        Workbook().save(book[1])
    proc = subprocess.Popen([office.CADHOST, "--script", script, *office.calc_args(pipe), *book, FIXTURE], cwd=folder,
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True, errors="replace", start_new_session=True)
    try:
        out, err = proc.communicate(timeout=limit * office.SLOW)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, err = proc.communicate()
        check(False, "%s: cadhost still running after %.0f s:\n%s%s" % (name, limit, out[-1500:], err[-1500:]))
        return
    finally:
        pid_file = os.path.join(folder, "fake.pid")
        fake = int(open(pid_file).read()) if os.path.exists(pid_file) else None
    elapsed = time.monotonic() - started
    said = [line for line in (out + err).splitlines() if line.strip()]
    print("%s: status %d after %.1f s: %s" % (name, proc.returncode, elapsed, said[-1:] or "(nothing)"))
    check(proc.returncode > 0, "%s: status %d, expected a failure status:\n%s%s" % (name, proc.returncode, out, err))
    check(not any(sign in out + err for sign in CRASH_SIGNS), "%s: cadhost crashed:\n%s%s" % (name, out, err))
    errors = [line for line in err.splitlines() if line.strip()]
    check(len(errors) == 1, "%s: %d lines on stderr, expected one:\n%s" % (name, len(errors), err))
    check(any(w in err.lower() for w in ("libreoffice", "office", "soffice", "calc")),
          "%s: the message does not say the office is the trouble: %r" % (name, err))
    given = {"Book1.xlsx"} if workbook else set()
    check(not [n for n in os.listdir(folder) if n.endswith(".xlsx") and n not in given],
          "%s: a workbook was written without an office: %s" % (name, os.listdir(folder)))
    if soffice is not None:
        check(fake is not None, "%s: the office program named by TABLORA_SOFFICE was not started" % name)
    if fake is not None:
        # What cadhost started, it ends.
        deadline = time.monotonic() + 5 * office.SLOW
        while running(fake) and time.monotonic() < deadline:
            time.sleep(0.1)
        if running(fake):
            check(False, "%s: the office program cadhost started (pid %d) is still running" % (name, fake))
            office.kill_pids([fake])
    return elapsed


def main():
    with tempfile.TemporaryDirectory(prefix="tabro-calc-none-") as work:
        case(work, "no LibreOffice, at start", None, 15, workbook=True)
        case(work, "no LibreOffice, first needed by a command", None, 15)
        case(work, "office program fails", "exit 1", 15)
        case(work, "office never answers", "exec /bin/sleep 600", NO_ANSWER_LIMIT)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
