#!/usr/bin/python3
"""Live link benchmark, through cadhost as a user runs it.

  bench/bench_link.py [BIN_DIR] [WORK_DIR]

1. Latency: cadhost connected and waiting; a changed workbook is moved into place
   (one rename, so the moment it lands is known) and the time until the import that
   it causes has ended is measured, ten times.
2. Idle cost: CPU time of a connected cadhost that waits for a minute.
3. Burst: 10,000 cells of the workbook changed at once, drained by one Import2; the
   time of that command, and a check with ezdxf that every edit arrived once.

BIN_DIR defaults to build/bin (a Release build); WORK_DIR to /tmp/tabro-bench-link.
"""
import os
import queue
import shutil
import subprocess
import sys
import threading
import time

from openpyxl import load_workbook

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
BIN = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "bin")
WORK = sys.argv[2] if len(sys.argv) > 2 else "/tmp/tabro-bench-link"
CADHOST = os.path.join(BIN, "cadhost")
GEN = os.path.join(root, "tools", "make_drawing.py")
TICKS = os.sysconf("SC_CLK_TCK")


class Session:
    """cadhost with a script, or (lines None) reading what send() writes to it."""

    def __init__(self, args, lines):
        if lines is not None:
            with open("live.scr", "w") as f:
                f.write("\n".join(lines) + "\n")
            args = ["--script", "live.scr", *args]
        self.proc = subprocess.Popen([CADHOST, *args],
                                     stdin=subprocess.DEVNULL if lines is not None else subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     env=dict(os.environ, CADHOST_HOME=os.path.join(WORK, "home")))
        self.text = ""
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        # Raw reads: a prompt is not followed by a line break until it is answered.
        while chunk := os.read(self.proc.stdout.fileno(), 65536):
            self.lines.put(chunk.decode("utf-8", "replace"))
        self.lines.put(None)

    def wait_for(self, needle, count=1, limit=120.0):
        deadline = time.monotonic() + limit
        while self.text.count(needle) < count:
            try:
                chunk = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if chunk is None:
                return None
            self.text += chunk
        return time.monotonic()

    def send(self, line):
        self.proc.stdin.write((line + "\n").encode())
        self.proc.stdin.flush()

    def cpu_seconds(self):
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICKS

    def finish(self):
        self.proc.wait(timeout=600)
        self.wait_for("\0", limit=2)


def edited_copy(source, target, cells):
    """cells: [(sheet, row, column, text)]"""
    wb = load_workbook(source)
    for sheet, r, c, text in cells:
        wb[sheet].cell(r, c).value = text
    wb.save(target)


def layout(path, sheet="DOOR_TAG"):
    ws = load_workbook(path)[sheet]
    tags = {c.value: c.column for c in ws[1][1:] if c.comment is None and c.value}
    rows = [(r, ws.cell(r, 1).comment.text.strip()) for r in range(2, ws.max_row + 1)
            if ws.cell(r, 1).comment is not None]
    return tags, rows


def prepare(n):
    folder = os.path.join(WORK, str(n))
    os.makedirs(folder, exist_ok=True)
    os.chdir(folder)
    if not os.path.exists("site.dxf"):
        subprocess.run(["/usr/bin/python3", GEN, str(n), "site.dxf"], check=True, capture_output=True)
    if not os.path.exists("export.xlsx"):
        for name in os.listdir("."):
            if name.startswith("Book") and name.endswith(".xlsx"):
                os.remove(name)
        with open("export.scr", "w") as f:
            f.write("TABRO\nExport2\n\n")
        subprocess.run([CADHOST, "--script", "export.scr", "site.dxf"], check=True, capture_output=True,
                       env=dict(os.environ, CADHOST_HOME=os.path.join(WORK, "home")))
        book = sorted(n for n in os.listdir(".") if n.startswith("Book") and n.endswith(".xlsx"))[0]
        os.rename(book, "export.xlsx")


def latency():
    prepare(200)
    tags, rows = layout("export.xlsx")
    variants = []
    for i in range(10):
        name = f"variant{i}.xlsx"
        edited_copy("export.xlsx", name, [("DOOR_TAG", rows[i][0], tags["NUMBER"], f"L-{i}")])
        variants.append(name)
    shutil.copy("export.xlsx", "live.xlsx")
    s = Session(["--workbook", "live.xlsx", "site.dxf"], ["TABRO", "Connect", "DELAY 30000", "QUIT"])
    s.wait_for("Delay time in milliseconds")
    figures = []
    for i, name in enumerate(variants):
        time.sleep(0.1 + 0.137 * i)  # land at different points of the timers' periods
        shutil.copy(name, "landing.xlsx")
        landed = time.monotonic()
        os.replace("landing.xlsx", "live.xlsx")
        # The import of one cell takes milliseconds (see the burst); its start is
        # what the output shows.
        done = s.wait_for("_import2", count=i + 1, limit=10)
        if done is None:
            print(f"  change {i} never arrived; cadhost said:\n{s.text}")
            break
        figures.append(done - landed)
    s.proc.kill()
    figures.sort()
    print(f"latency, workbook on disk to the import starting: median {figures[len(figures) // 2]:.3f} s, "
          f"worst {figures[-1]:.3f} s over {len(figures)} changes")


def idle_cpu(seconds=60):
    prepare(200)
    shutil.copy("export.xlsx", "live.xlsx")
    s = Session(["--workbook", "live.xlsx", "site.dxf"], ["TABRO", "Connect", f"DELAY {seconds * 1000 + 5000}"])
    s.wait_for("Delay time in milliseconds")
    time.sleep(2)
    start_cpu, start = s.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    used, spent = s.cpu_seconds() - start_cpu, time.monotonic() - start
    s.proc.kill()
    print(f"idle, connected: {used:.2f} s CPU in {spent:.0f} s = {100 * used / spent:.2f}% of a core")


def burst(count=10000):
    prepare(count * 7 // 2)  # about two references in seven are door tags
    tags, rows = layout("export.xlsx")
    cells = [("DOOR_TAG", r, tags["NUMBER"], f"B-{r}") for r, _ in rows[:count]]
    if len(cells) < count:
        print(f"burst: only {len(cells)} DOOR_TAG rows")
    if not os.path.exists("burst.xlsx"):
        edited_copy("export.xlsx", "burst.xlsx", cells)
    shutil.copy("export.xlsx", "live.xlsx")
    # Piped input: a line written while the import runs is read when it has ended.
    s = Session(["--workbook", "live.xlsx", "site.dxf"], None)
    s.send("TABRO")
    s.send("Connect")
    s.wait_for("Connect")
    time.sleep(0.5)
    shutil.copy("burst.xlsx", "landing.xlsx")
    landed = time.monotonic()
    os.replace("landing.xlsx", "live.xlsx")
    started = s.wait_for("_import2", limit=60)
    s.send("SAVEAS burst-out.dxf")
    ended = s.wait_for("Save drawing as", limit=120)
    s.send("QUIT")
    s.finish()
    imports = s.text.count("_import2")
    import ezdxf
    doc = ezdxf.readfile("burst-out.dxf")
    wrong = 0
    for r, handle in rows[:count]:
        got = [a.dxf.text for a in doc.entitydb[handle].attribs if a.dxf.tag == "NUMBER"]
        if got != [f"B-{r}"]:
            wrong += 1
    print(f"burst of {len(cells)} cells: first import {started - landed:.2f} s after landing, "
          f"drained by {imports} Import2 in {ended - started:.2f} s; {wrong} edits missing or wrong")


def main():
    if not os.path.exists(CADHOST):
        sys.exit(f"{CADHOST} not built")
    os.makedirs(os.path.join(WORK, "home"), exist_ok=True)
    what = os.environ.get("BENCH_LINK", "latency,idle,burst").split(",")
    if "latency" in what:
        latency()
    if "idle" in what:
        idle_cpu()
    if "burst" in what:
        burst()


if __name__ == "__main__":
    main()
