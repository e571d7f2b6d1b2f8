#!/usr/bin/python3
"""End to end: the offices cadhost starts for Calc, and what it leaves behind.

  * no office on the pipe: cadhost starts one (headless, its profile under
    $CADHOST_HOME), exports into it, and the office is gone once cadhost has ended;
  * cadhost killed with SIGKILL while its office runs: the office goes too, shortly
    after, and no soffice.bin of that profile is left;
  * a stale lock file beside a workbook, as a crashed office leaves it: cadhost still
    opens the workbook, writes into it and stores it, with the same result the
    stand-in gives;
  * the office cadhost attached to dies between two commands: the next export
    starts an office again and succeeds, and that office ends with cadhost;
  * the office hangs (stopped with SIGSTOP) under a command: the command fails
    instead of waiting for ever, and cadhost ends.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import getpass  # noqa: E402
import shutil  # noqa: E402
import signal  # noqa: E402
import subprocess  # noqa: E402
import tempfile  # noqa: E402
import time  # noqa: E402

from openpyxl import load_workbook  # noqa: E402

import test_export as tx  # noqa: E402
import test_live_link as tl  # noqa: E402
import workbooks  # noqa: E402

FIXTURE = tx.FIXTURE
# An office cadhost started ends with it; the reaper of a killed cadhost gets a few
# seconds.
GONE_WITHIN = 10.0
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def folder_with_home(work, prefix, **settings):
    folder = tempfile.mkdtemp(dir=work, prefix=prefix)
    home = os.path.join(folder, "home")
    os.makedirs(home)
    values = dict(tx.EXPORT_DEFAULTS, **tx.PROPS_OFF)
    values.update(settings)
    with open(os.path.join(home, "user.reg"), "w") as f:
        f.write(tx.registry(values))
    return folder, home


def headless_env(home):
    return dict({k: v for k, v in os.environ.items() if k != "DISPLAY"}, CADHOST_HOME=home)


def run(folder, home, args, lines, timeout=180):
    script = os.path.join(folder, "run.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    return subprocess.run([office.CADHOST, "--script", script, *args], cwd=folder, env=headless_env(home),
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace",
                          timeout=timeout * office.SLOW)


def offices_of(home, pipe):
    return sorted(set(office.office_processes(home)) | set(office.office_processes(pipe)))


def wait_gone(home, pipe, limit):
    deadline = time.monotonic() + limit * office.SLOW
    while offices_of(home, pipe) and time.monotonic() < deadline:
        time.sleep(0.1)
    return offices_of(home, pipe)


def started_and_ended(work):
    folder, home = folder_with_home(work, "own-")
    pipe = office.unique_pipe()
    # CADHOST_HOME as a user may give it, relative to the working folder: the office's
    # profile still goes under it.
    proc = run(folder, os.path.relpath(home, folder), [*office.calc_args(pipe), FIXTURE], ["TABRO", "Export2", "DOOR"])
    check(proc.returncode == 0, "own office: cadhost ended with %d:\n%s%s" % (proc.returncode, proc.stdout, proc.stderr))
    book = os.path.join(folder, "Book1.xlsx")
    if check(os.path.exists(book), "own office: no Book1.xlsx stored:\n%s" % proc.stdout):
        ws = load_workbook(book)["DOOR"]
        check(ws["A2"].comment is not None and ws["A2"].comment.text == "50", "own office: DOOR row 2 is not 50")
    profiles = [d for d, _, files in os.walk(home) if "registrymodifications.xcu" in files]
    check(profiles, "own office: no office profile under CADHOST_HOME (%s)" % os.listdir(home))
    left = wait_gone(home, pipe, GONE_WITHIN)
    check(not left, "own office: still running %.0f s after cadhost ended: %s" % (GONE_WITHIN, left))
    office.kill_pids(left)


def killed(work):
    folder, home = folder_with_home(work, "killed-")
    pipe = office.unique_pipe()
    session = tl.Session(folder, home, [*office.calc_args(pipe), FIXTURE],
                         ["TABRO", "Export2", "DOOR", "DELAY %d" % int(120000 * office.SLOW)])
    try:
        reached = session.wait_for("Delay time in milliseconds", limit=90)
        check(reached is not None, "killed: cadhost never reached the wait:\n%s" % session.text)
        running = offices_of(home, pipe)
        check(running, "killed: no office of cadhost's profile or pipe is running")
        session.proc.send_signal(signal.SIGKILL)
        session.proc.wait(timeout=10)
        left = wait_gone(home, pipe, GONE_WITHIN)
        check(not left, "killed: office processes %s still running %.0f s after cadhost was killed" % (
            left, GONE_WITHIN))
        print("killed: offices %s before the kill, %s after" % (running, left))
    finally:
        if session.proc.poll() is None:
            session.proc.kill()
        office.kill_pids(offices_of(home, pipe))


def stale_lock(work, soffice):
    """A stale lock beside the workbook: the active-sheet export writes VALVE under
    the DOOR rows of an open workbook; Calc's result must be the stand-in's."""
    source, home = folder_with_home(work, "lock-source-")
    proc = run(source, home, [FIXTURE], ["TABRO", "Export2", "DOOR"])
    if not check(proc.returncode == 0, "stale lock: stand-in export failed:\n%s" % proc.stdout):
        return
    settings = dict(WorkbookSettings=1, WorksheetSettings=1, AddHeader=1, StartRow=12)
    results = {}
    for who, args in (("stand-in", []), ("calc", office.calc_args(soffice.pipe))):
        folder, home = folder_with_home(work, "lock-%s-" % who, **settings)
        book = os.path.join(folder, "Book1.xlsx")
        shutil.copy(os.path.join(source, "Book1.xlsx"), book)
        with open(os.path.join(folder, ".~lock.Book1.xlsx#"), "w") as f:
            f.write(",%s,%s,01.01.2026 10:00,file:///tmp/gone-profile;" % (getpass.getuser(), os.uname().nodename))
        proc = run(folder, home, [*args, "--workbook", book, FIXTURE], ["TABRO", "Export2", "VALVE"])
        check(proc.returncode == 0, "stale lock (%s): cadhost ended with %d:\n%s%s" % (
            who, proc.returncode, proc.stdout[-2000:], proc.stderr[-2000:]))
        results[who] = load_workbook(book)
        others = sorted(n for n in os.listdir(folder) if n.endswith(".xlsx") and n != "Book1.xlsx")
        check(not others, "stale lock (%s): stored elsewhere: %s" % (who, others))
    diff = workbooks.differences(results["stand-in"], results["calc"])
    check(not diff, "stale lock: Calc's workbook differs from the stand-in's:\n    " + "\n    ".join(diff))
    ws = results["calc"].active
    check(any(c.value == "VALVE" for c in ws["A"]), "stale lock: the VALVE rows did not reach Book1.xlsx")


def office_died(work):
    folder, home = folder_with_home(work, "died-")
    soffice = office.Office()
    pipe = soffice.pipe
    try:
        session = tl.Session(folder, home, [*office.calc_args(pipe), FIXTURE],
                             ["TABRO", "Export2", "DOOR", "DELAY %d" % int(4000 * office.SLOW),
                              "TABRO", "Export2", "VALVE"])
        if not check(session.wait_for("Delay time in milliseconds", limit=90) is not None,
                     "office died: cadhost never reached the wait:\n%s" % session.text):
            session.proc.kill()
            return
        soffice.crash()
        code = session.finish()
    finally:
        soffice.close()
    check(code == 0, "office died: cadhost ended with %s:\n%s" % (code, session.text))
    sheets = {}
    for name in sorted(os.listdir(folder)):
        if name.startswith("Book") and name.endswith(".xlsx"):
            sheets[name] = load_workbook(os.path.join(folder, name)).sheetnames
    check(any("VALVE" in s for s in sheets.values()),
          "office died: the export after the office's death stored no VALVE sheet (workbooks: %s):\n%s" % (
              sheets, session.text))
    left = wait_gone(home, pipe, GONE_WITHIN)
    check(not left, "office died: the office cadhost started again is still running: %s" % left)
    office.kill_pids(left)


def office_hung(work):
    folder, home = folder_with_home(work, "hung-")
    soffice = office.Office()
    stopped = []
    try:
        session = tl.Session(folder, home, [*office.calc_args(soffice.pipe), FIXTURE],
                             ["TABRO", "Export2", "DOOR", "DELAY %d" % int(3000 * office.SLOW),
                              "TABRO", "Export2", "VALVE"])
        if not check(session.wait_for("Delay time in milliseconds", limit=90) is not None,
                     "office hung: cadhost never reached the wait:\n%s" % session.text):
            session.proc.kill()
            return
        for pid in soffice.office_pids():
            os.kill(pid, signal.SIGSTOP)
            stopped.append(pid)
        started = time.monotonic()
        try:
            code = session.proc.wait(timeout=120 * office.SLOW)
        except subprocess.TimeoutExpired:
            session.proc.kill()
            code = None
        session.finish()
        waited = time.monotonic() - started
        check(code is not None, "office hung: cadhost still waiting on the office after 120 s:\n%s" % session.text)
        if code is not None:
            print("office hung: cadhost ended with %d, %.1f s after the office stopped" % (code, waited))
            check(not any(s in session.text for s in ("Segmentation", "terminate called", "Aborted")),
                  "office hung: cadhost crashed:\n%s" % session.text)
    finally:
        for pid in stopped:
            try:
                os.kill(pid, signal.SIGCONT)
            except OSError:
                pass
        soffice.crash()
        soffice.close()


def main():
    # Without a display cadhost starts the office headless, as on a build machine.
    os.environ.pop("DISPLAY", None)
    with tempfile.TemporaryDirectory(prefix="tabro-calc-life-") as work:
        started_and_ended(work)
        killed(work)
        with office.Office() as soffice:
            stale_lock(work, soffice)
        office_died(work)
        office_hung(work)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
