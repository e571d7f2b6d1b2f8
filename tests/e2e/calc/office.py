"""A LibreOffice office for the Calc tests, and a user at its keyboard.

Office() starts a headless office of its own: a unique pipe, a throw-away profile,
its own process group, started without a shell. The tests point cadhost at that
pipe (--calc-pipe), so cadhost attaches to it and leaves it running, and a second
connection from here plays the user: it selects a cell and dispatches
.uno:EnterString, the path a typed cell takes through the office, so the office
raises the same change events as for a person typing (writes through the API
raise none).

Office.attach(pipe) plays the user at an office some cadhost started: closing it only
lets go of the connection.

The office is ended on every way out: close() terminates it politely and then kills
its process group; it runs from try/finally, from atexit and on SIGTERM, so neither
a failed check nor ctest's timeout leaves an office behind.

needs() ends the test with SKIP (77) when LibreOffice, python3-uno or the Calc
backend is missing; once they are present every failure is a real one.
"""
import atexit
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import uuid

SKIP = 77
BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
CADHOST = os.path.join(BIN, "cadhost")
# Sanitizer builds and busy machines run slower; waits scale with them.
SLOW = float(os.environ.get("TABLORA_TIME_SCALE", "1"))
PIPE_PREFIX = "tablora_test_"

try:
    import uno
    # The uno module hooks import: a later import that fails on purpose (pathlib
    # probing for Windows modules, as ezdxf's import does) is retried as a UNO type,
    # which raises SystemError instead of ImportError unless the runtime is up. So it
    # comes up here, and pathlib is loaded before any test imports ezdxf.
    uno.getComponentContext()
    import pathlib  # noqa: F401  (loaded for what it does on import)
    from com.sun.star.beans import PropertyValue
    from com.sun.star.connection import NoConnectException
    HAVE_UNO = True
except ImportError:
    HAVE_UNO = False


def soffice_path():
    """The office program the tests start: TABLORA_SOFFICE, else soffice on PATH,
    else Debian's place for it."""
    explicit = os.environ.get("TABLORA_SOFFICE")
    if explicit:
        return explicit if os.access(explicit, os.X_OK) else None
    found = shutil.which("soffice")
    if found:
        return found
    debian = "/usr/lib/libreoffice/program/soffice"
    return debian if os.access(debian, os.X_OK) else None


def backend_built():
    """The Calc server library beside cadhost: the build leaves it out where the
    LibreOffice SDK is missing."""
    return bool(glob.glob(os.path.join(BIN, "*calc*.so*")))


def needs(backend=True, office=True):
    """Skips the test (exit 77) when something it needs is not installed or built."""
    missing = []
    if not os.path.exists(CADHOST):
        missing.append("cadhost is not built in %s" % BIN)
    if backend and not backend_built():
        missing.append("the Calc backend is not built in %s" % BIN)
    if office and soffice_path() is None:
        missing.append("LibreOffice (soffice) is not installed")
    if office and not HAVE_UNO:
        missing.append("python3-uno is not installed")
    if missing:
        print("SKIP: " + "; ".join(missing))
        sys.exit(SKIP)


def unique_pipe():
    return PIPE_PREFIX + "%d_%s" % (os.getpid(), uuid.uuid4().hex[:8])


def calc_args(pipe):
    return ["--spreadsheet", "calc", "--calc-pipe", pipe]


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


def office_processes(marker):
    """Pids of running soffice.bin/oosplash processes whose command line holds marker
    (a profile folder or a pipe name): the offices one run started."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv = f.read().split(b"\0")
            with open("/proc/%s/stat" % entry) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state == "Z" or not argv or not argv[0]:
            continue
        program = os.path.basename(argv[0].decode("utf-8", "replace"))
        if program in ("soffice.bin", "oosplash", "soffice") and any(marker.encode() in a for a in argv):
            pids.append(int(entry))
    return pids


def kill_pids(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


_live = []


def _close_all():
    for office in list(_live):
        office.close()


def _on_term(signum, frame):
    _close_all()
    sys.exit(128 + signum)


atexit.register(_close_all)
signal.signal(signal.SIGTERM, _on_term)


class Office:
    """A headless office started for one test run, and the connection to it."""

    def __init__(self, pipe=None, timeout=60.0):
        self.pipe = pipe or unique_pipe()
        self.profile = tempfile.mkdtemp(prefix="tabro-calc-profile-")
        self.proc = None
        self.ctx = None
        self.desktop = None
        program = soffice_path()
        if program is None:
            raise RuntimeError("no soffice to start")
        argv = [program, "-env:UserInstallation=" + uno.systemPathToFileUrl(self.profile),
                "--headless", "--invisible", "--norestore", "--nologo", "--nodefault", "--nolockcheck",
                "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe]
        # A process group of its own: oosplash spawns soffice.bin, and killing the
        # group reaches both even when the polite end does not.
        self.proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True,
                                     env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))
        _live.append(self)
        try:
            self.ctx = connect(self.pipe, timeout * SLOW)
        except Exception:
            self.close()
            raise
        smgr = self.ctx.ServiceManager
        self.desktop = smgr.createInstanceWithContext("com.sun.star.frame.Desktop", self.ctx)
        self.dispatcher = smgr.createInstanceWithContext("com.sun.star.frame.DispatchHelper", self.ctx)
        # Pasting over filled cells asks "replace the contents?", and a headless office
        # answers No: the profile's user has turned that question off.
        self.configure("/org.openoffice.Office.Calc/Input", ReplaceCellsWarning=False)

    @classmethod
    def attach(cls, pipe, timeout=30.0):
        """The office another program started on pipe, with a user at its keyboard:
        close() only lets go of it, and its processes are found by the pipe."""
        self = cls.__new__(cls)
        self.pipe, self.profile, self.proc, self.is_attached = pipe, None, None, True
        self.ctx = connect(pipe, timeout * SLOW)
        smgr = self.ctx.ServiceManager
        self.desktop = smgr.createInstanceWithContext("com.sun.star.frame.Desktop", self.ctx)
        self.dispatcher = smgr.createInstanceWithContext("com.sun.star.frame.DispatchHelper", self.ctx)
        self.configure("/org.openoffice.Office.Calc/Input", ReplaceCellsWarning=False)
        return self

    def configure(self, node, **values):
        provider = self.ctx.ServiceManager.createInstanceWithContext(
            "com.sun.star.configuration.ConfigurationProvider", self.ctx)
        access = provider.createInstanceWithArguments("com.sun.star.configuration.ConfigurationUpdateAccess",
                                                      (prop("nodepath", node),))
        for name, value in values.items():
            access.setPropertyValue(name, value)
        access.commitChanges()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def alive(self):
        """The office still answers over its pipe."""
        try:
            self.desktop.getComponents()
            return True
        except Exception:
            return False

    # --- documents --------------------------------------------------------------

    def documents(self):
        out = []
        components = self.desktop.getComponents().createEnumeration()
        while components.hasMoreElements():
            doc = components.nextElement()
            if doc.supportsService("com.sun.star.sheet.SpreadsheetDocument"):
                out.append(doc)
        return out

    def find(self, name, timeout=20.0):
        """The spreadsheet document whose file is name (a whole path, or the end of
        one) or whose title is name; waits for it to appear (cadhost opens it on its own time)."""
        deadline = time.monotonic() + timeout * SLOW
        wanted = os.path.realpath(name) if os.path.isabs(name) else None
        while True:
            for doc in self.documents():
                url = doc.getURL()
                path = os.path.realpath(uno.fileUrlToSystemPath(url)) if url.startswith("file:") else ""
                if doc.getTitle() == name or (path == wanted if wanted else path.endswith(os.sep + name)):
                    return doc
            if time.monotonic() > deadline:
                titles = [d.getTitle() for d in self.documents()]
                raise LookupError("no document %s in the office (open: %s)" % (name, titles))
            time.sleep(0.1)

    def new_document(self):
        return self.desktop.loadComponentFromURL("private:factory/scalc", "_blank", 0, (prop("Hidden", True),))

    # --- a user at the keyboard -------------------------------------------------

    def _frame(self, doc):
        return doc.getCurrentController().getFrame()

    def select(self, doc, sheet, cell):
        """Makes sheet active and selects cell ("B3") or range ("B3:C6"), as clicking does."""
        controller = doc.getCurrentController()
        ws = doc.getSheets().getByName(sheet)
        controller.setActiveSheet(ws)
        controller.select(ws.getCellRangeByName(cell))

    def type_into(self, doc, sheet, cell, text):
        """Types text into the cell and presses Enter."""
        self.select(doc, sheet, cell)
        self.dispatcher.executeDispatch(self._frame(doc), ".uno:EnterString", "", 0, (prop("StringName", text),))

    def paste_block(self, doc, sheet, top_left, rows):
        """Pastes a block of texts (a list of rows) with its top left corner at the
        cell: copied from a scratch document, so that no write through the API ever
        touches the target document."""
        scratch = self.new_document()
        try:
            ws = scratch.getSheets().getByIndex(0)
            width = max(len(r) for r in rows)
            block = ws.getCellRangeByPosition(0, 0, width - 1, len(rows) - 1)
            block.setDataArray(tuple(tuple(r) + ("",) * (width - len(r)) for r in rows))
            scratch.getCurrentController().select(block)
            self.dispatcher.executeDispatch(self._frame(scratch), ".uno:Copy", "", 0, ())
            self.select(doc, sheet, top_left)
            self.dispatcher.executeDispatch(self._frame(doc), ".uno:Paste", "", 0, ())
        finally:
            scratch.close(True)

    def cell_text(self, doc, sheet, cell):
        return doc.getSheets().getByName(sheet).getCellRangeByName(cell).getString()

    def office_pids(self):
        return office_processes(self.profile or self.pipe)

    def crash(self):
        """Kills the office at once, as a crash ends it: no goodbye over the pipe."""
        self.desktop = None
        if self.proc is not None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except OSError:
                pass
        kill_pids(self.office_pids())

    # --- the end ----------------------------------------------------------------

    def close(self):
        """Terminates the office; kills its process group and whatever of its profile
        still runs. Safe to call twice and from any way out."""
        if self in _live:
            _live.remove(self)
        if getattr(self, "is_attached", False):
            self.desktop = self.ctx = None
            return
        if self.desktop is not None:
            try:
                self.desktop.terminate()
            except Exception:
                pass  # a bridge that died first: the kill below ends it
            self.desktop = None
        self.ctx = None
        if self.proc is not None:
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except OSError:
                pass
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            self.proc = None
        kill_pids(office_processes(self.profile))
        shutil.rmtree(self.profile, ignore_errors=True)


def connect(pipe, timeout):
    """The office's component context over the pipe; the pipe appears about a second
    after the office starts, so refused connections are retried until timeout."""
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
    url = "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % pipe
    deadline = time.monotonic() + timeout
    while True:
        try:
            return resolver.resolve(url)
        except NoConnectException:
            if time.monotonic() > deadline:
                raise TimeoutError("no office answered on pipe %s within %.0f s" % (pipe, timeout))
            time.sleep(0.1)
