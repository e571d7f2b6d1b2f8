#!/usr/bin/python3
"""End to end: two cadhosts on one pipe share one office, and neither ends it under
the other.

  * last-one-ends: cadhost A starts the office (nothing accepts on the pipe yet),
    cadhost B attaches with a workbook of its own and connects the live link; A
    quits, saying in one line that the office keeps running for B; the office is
    still there with B's workbook open, and a cell typed into that workbook reaches
    B's drawing; then B quits, and the office is gone with nothing of its users'
    folder left;
  * killed-while-shared: A is killed with SIGKILL while B is attached: once A's
    reaper has decided, the office still runs and B exports into it without
    noticing anything; B, the last one, ends it when it quits;
  * went-away: the office of a cadhost with a workbook open is killed between two
    commands: the next command says in one line that a new office was started and
    the workbook reopened, imports from that workbook's active sheet (the command
    that failed with an invalid pointer when the workbook was not reopened), and the
    export after it goes into the same workbook.

cadhost reads its commands from a pipe here, so that each is sent when the other
cadhost has got where the case needs it.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]
import office  # noqa: E402
office.needs()

import queue  # noqa: E402
import shutil  # noqa: E402
import signal  # noqa: E402
import subprocess  # noqa: E402
import threading  # noqa: E402
import time  # noqa: E402

import ezdxf  # noqa: E402
from openpyxl import Workbook, load_workbook  # noqa: E402
from openpyxl.utils import get_column_letter  # noqa: E402

import cases  # noqa: E402
import test_calc_lifecycle as life  # noqa: E402
import test_live_link as tl  # noqa: E402

FIXTURE = life.FIXTURE
GONE_WITHIN = life.GONE_WITHIN
# The live-link helpers report into their own list: one list for the case.
failures = tl.failures


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Piped(tl.Session):
    """A cadhost reading its commands from a pipe: sent one by one, ended by closing it."""

    def __init__(self, folder, home, args):
        self.proc = subprocess.Popen([office.CADHOST, *args], cwd=folder, env=life.headless_env(home),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.text = ""
        self.chunks = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def run(self, *lines, shows=None, limit=90):
        """Sends the lines and waits for the prompt after them (the command ended,
        its workbooks stored); True when it came and the output since shows `shows`."""
        # The first prompt says cadhost is ready (its workbooks open); each command
        # ends at one more.
        if not self.text.count("Command:") and self.wait_for("Command:", limit=limit) is None:
            return False
        count = self.text.count("Command:") + 1
        start = len(self.text)
        self.proc.stdin.write(("\n".join(lines) + "\n").encode())
        self.proc.stdin.flush()
        came = self.wait_for("Command:", count=count, limit=limit) is not None
        return came and (shows is None or shows in self.text[start:])

    def quit(self):
        self.proc.stdin.close()
        return self.finish()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=10)


def users_folder(pipe):
    """Where cadhosts keep who uses the office on the pipe."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if runtime and runtime.startswith("/"):
        return os.path.join(runtime, "tablora-office-" + pipe)
    return "/tmp/tablora-office-%d-%s" % (os.geteuid(), pipe)


def check_tidy(pipe):
    """Nothing is left of the users' folder once its last user is gone."""
    folder = users_folder(pipe)
    check(not os.path.exists(folder), "the users' folder was left: %s %s" % (
        folder, os.listdir(folder) if os.path.isdir(folder) else ""))


def reapers_of(pid):
    """Running reapers started by the cadhost of that pid (their argument names its entry)."""
    found = []
    entry = ("user.%d" % pid).encode()
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % name, "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if argv and os.path.basename(argv[0]) == b"tabcalc-reaper" and entry in argv:
            found.append(int(name))
    return found


def first_started(work, pipe):
    """cadhost A in a folder of its own, having started the office with an export;
    the workbook it stored."""
    folder, home = life.folder_with_home(work, "a-")
    a = Piped(folder, home, [*office.calc_args(pipe), FIXTURE])
    if not check(a.run("TABRO", "Export2", "DOOR", shows="references exported"),
                 "A: the export that starts the office did not end:\n%s" % a.text):
        a.kill()
        return None, None
    check(life.offices_of(home, pipe), "A: no office runs after its export")
    return a, os.path.join(folder, "Book1.xlsx")


def second_attached(work, pipe, book):
    """cadhost B with a copy of A's workbook, attached to A's office, its live link on."""
    folder, home = life.folder_with_home(work, "b-")
    mine = os.path.join(folder, "b.xlsx")
    shutil.copy(book, mine)
    b = Piped(folder, home, [*office.calc_args(pipe), "--workbook", mine, FIXTURE])
    if not check(b.run("TABRO", "Connect", limit=60), "B: never got to its command line:\n%s" % b.text):
        b.kill()
        return None, None, None
    return b, folder, mine


def last_one_ends(work):
    pipe = office.unique_pipe()
    a = b = user = None
    try:
        a, book = first_started(work, pipe)
        if not a:
            return
        b, folder, mine = second_attached(work, pipe, book)
        if not b:
            return
        code = a.quit()
        check(code == 0, "A ended with %s:\n%s" % (code, a.text))
        said = "LibreOffice keeps running: another cadhost (pid %d) uses it" % b.proc.pid
        check(a.text.count(said) == 1, "A did not say once that the office keeps running for B:\n%s" % a.text)
        running = life.offices_of(folder, pipe)
        if not check(running, "the office ended with A although B uses it"):
            return
        user = office.Office.attach(pipe)
        try:
            doc = user.find(mine, timeout=5)
        except LookupError as e:
            check(False, "A's leaving took B's workbook out of the office: %s" % e)
            return
        tags, rows, (handle,) = tl.pick(load_workbook(mine)["DOOR"], 1, None)
        cell = "%s%d" % (get_column_letter(tags["WIDTH"]), rows[handle])
        user.type_into(doc, "DOOR", cell, "1234")
        check(b.wait_for("_import2", limit=15) is not None, "B: the typed cell never reached the drawing:\n%s" % b.text)
        out = os.path.join(folder, "out.dxf")
        check(b.run("SAVEAS " + out), "B: SAVEAS did not end:\n%s" % b.text)
        code = b.quit()
        check(code == 0, "B ended with %s:\n%s" % (code, b.text))
        check("went away" not in b.text and "COM error" not in b.text, "B noticed something:\n%s" % b.text)
        if check(os.path.exists(out), "B saved no drawing"):
            tl.check_result("B's drawing", ezdxf.readfile(FIXTURE), out, {(handle, "WIDTH"): "1234"})
        left = life.wait_gone(folder, pipe, GONE_WITHIN)
        check(not left, "the office still runs %.0f s after B, its last user, quit: %s" % (GONE_WITHIN, left))
        check_tidy(pipe)
    finally:
        for session in (a, b):
            if session:
                session.kill()
        if user:
            user.close()
        office.kill_pids(office.office_processes(pipe))


def killed_while_shared(work):
    pipe = office.unique_pipe()
    a = b = None
    try:
        a, book = first_started(work, pipe)
        if not a:
            return
        b, folder, mine = second_attached(work, pipe, book)
        if not b:
            return
        before = life.offices_of(folder, pipe)
        a.proc.send_signal(signal.SIGKILL)
        a.proc.wait(timeout=10)
        deadline = time.monotonic() + 10 * office.SLOW
        while reapers_of(a.proc.pid) and time.monotonic() < deadline:
            time.sleep(0.05)
        check(not reapers_of(a.proc.pid), "A's reaper still waits 10 s after A was killed")
        after = life.offices_of(folder, pipe)
        check(after and set(after) == set(before), "A's death took the office with it: %s before, %s after" % (
            before, after))
        check(b.run("TABRO", "Export2", "VALVE", shows="references exported"),
              "B: no export after A died:\n%s" % b.text)
        check(set(life.offices_of(folder, pipe)) == set(before), "B's export did not go into the same office")
        code = b.quit()
        check(code == 0 and "went away" not in b.text, "B ended with %s:\n%s" % (code, b.text))
        stored = os.path.join(folder, "Book1.xlsx")
        check(os.path.exists(stored) and "VALVE" in load_workbook(stored).sheetnames,
              "B's export stored no VALVE sheet in Book1.xlsx: %s" % os.listdir(folder))
        left = life.wait_gone(folder, pipe, GONE_WITHIN)
        check(not left, "the office still runs %.0f s after B, its last user, quit: %s" % (GONE_WITHIN, left))
        check_tidy(pipe)
    finally:
        for session in (a, b):
            if session:
                session.kill()
        office.kill_pids(office.office_processes(pipe))


def went_away(work):
    pipe = office.unique_pipe()
    folder, home = life.folder_with_home(work, "gone-", WorkbookSettings=1)
    data = os.path.join(folder, "data.xlsx")
    wb = Workbook()
    wb.active.title = "Notes"
    wb.active["A1"] = "kept"
    wb.save(data)
    c = Piped(folder, home, [*office.calc_args(pipe), "--workbook", data, FIXTURE])
    try:
        if not check(c.run("TABRO", "Export2", "DOOR", shows="references exported"),
                     "the export into data.xlsx did not end:\n%s" % c.text):
            return
        first = life.offices_of(home, pipe)
        office.kill_pids(first)
        if not check(not life.wait_gone(home, pipe, GONE_WITHIN), "the killed office still runs"):
            return
        check(c.run("TABRO", "Import"), "no import after the office went away:\n%s" % c.text)
        said = "LibreOffice went away; a new one was started and data.xlsx was reopened"
        check(c.text.count(said) == 1, "cadhost did not say once that the office went away:\n%s" % c.text)
        check("Imported 4 rows from 1 sheet" in c.text, "the import did not read data.xlsx's DOOR sheet:\n%s" % c.text)
        check(c.run("TABRO", "Export2", "VALVE", shows="references exported"),
              "no export after the import:\n%s" % c.text)
        code = c.quit()
        check(code == 0 and "COM error" not in c.text, "cadhost ended with %s:\n%s" % (code, c.text))
        check(c.text.count("went away") == 1, "the office went away once, not as often as said:\n%s" % c.text)
        names = load_workbook(data).sheetnames
        check({"Notes", "DOOR", "VALVE"} <= set(names), "data.xlsx holds the sheets %s" % names)
        left = life.wait_gone(home, pipe, GONE_WITHIN)
        check(not left, "the office started again still runs after cadhost quit: %s" % left)
        check_tidy(pipe)
    finally:
        c.kill()
        office.kill_pids(office.office_processes(pipe))


def case(part):
    def run():
        # Without a display cadhost starts the office headless, as on a build machine.
        os.environ.pop("DISPLAY", None)
        return cases.in_work_folder("tabro-calc-shared-", failures, part.__name__.replace("_", "-"), part)
    return run


CASES = {part.__name__.replace("_", "-"): case(part) for part in (last_one_ends, killed_while_shared, went_away)}

if __name__ == "__main__":
    sys.exit(cases.run(CASES))
