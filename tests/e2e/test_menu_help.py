#!/usr/bin/python3
"""End to end: the menu, the toolbar and the help, checked with tools we did not write.

  * chmls (fp-utils) and enum_chmLib (chmlib) list the built tabro.chm: every page
    the help project names is in it, and chmls's default topic is the project's;
  * one cadhost session opens three drawings: while the menu group TABRO is loaded,
    a second drawing does not load it again (MENUS lists it once); CMDECHO is the
    user's after each load (1, then 0 after MENUUNLOAD and another drawing, which
    loads it again);
  * a menu item's macro runs its command: "Show toolbar" shows the toolbar, and its
    Help button runs TABRO Help;
  * TABRO Help prints the default topic's text, compared with index.html as
    Python's own HTML parser reads it.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

BIN = os.environ.get("TABLORA_BIN_DIR", os.path.join(os.getcwd(), "bin"))
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
HELP_SOURCES = os.path.join(ROOT, "resources", "help")
CADHOST = os.path.join(BIN, "cadhost")
CHM = os.path.join(BIN, "tabro.chm")
MENU = os.path.join(BIN, "tbmenu.mnu")
DRAWINGS = [os.path.join(ROOT, "examples", "site.dxf"),
            os.path.join(ROOT, "tests", "fixtures", "dxf", "tagged_r2000.dxf"),
            os.path.join(ROOT, "tests", "fixtures", "dxf", "nohandles_r12.dxf")]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def project_pages():
    """The pages the help project lists under [FILES]."""
    pages, in_files = [], False
    with open(os.path.join(HELP_SOURCES, "tabro.hhp")) as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                in_files = line == "[FILES]"
            elif in_files and line:
                pages.append(line)
    return pages


def listed_chm():
    pages = project_pages()
    check(len(pages) >= 6, "the help project lists %d pages" % len(pages))
    for tool in (["chmls", "list", CHM], ["enum_chmLib", CHM]):
        proc = subprocess.run(tool, capture_output=True, text=True, timeout=60)
        check(proc.returncode == 0, "%s failed: %s" % (tool[0], proc.stderr))
        names = set(re.findall(r"(/[^\s]+)\s*$", proc.stdout, re.M))
        for page in pages + ["toc.hhc"]:
            check("/" + page in names, "%s does not list /%s" % (tool[0], page))
    proc = subprocess.run(["chmls", "printsystem", CHM], capture_output=True, text=True, timeout=60)
    topic = re.search(r"Default topic from \[options\]\s*:\s*(\S+)", proc.stdout)
    name = topic.group(1).strip("\0") if topic else None
    check(name == "index.html", "chmls: default topic %r" % name)


class PageText(HTMLParser):
    """The text of a page's paragraphs, whitespace collapsed."""

    def __init__(self):
        super().__init__()
        self.paragraphs, self.current = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "p":
            self.current = []

    def handle_endtag(self, tag):
        if tag == "p" and self.current is not None:
            self.paragraphs.append(" ".join("".join(self.current).split()))
            self.current = None

    def handle_data(self, data):
        if self.current is not None:
            self.current.append(data)


def menu_numbers():
    """(number of the "Show toolbar" item in MENUS, number of the toolbar's Help button),
    counted from the shipped menu file."""
    items, buttons, section = [], [], None
    with open(MENU) as f:
        for line in f:
            line = line.strip()
            if line.startswith("***"):
                section = line[3:]
                continue
            label = re.search(r"\[([^\]]*)\]", line)
            if not label or line.startswith("**") or label.group(1) == "--":
                continue
            if section == "POP1":
                items.append(label.group(1).replace("&", ""))
            elif section == "TOOLBARS" and label.group(1).startswith("_Button"):
                buttons.append(re.search(r'"([^"]*)"', label.group(1)).group(1))
    items = items[1:]  # the first is the menu's title
    return (next(i for i, t in enumerate(items, 1) if "toolbar" in t.lower()),
            next(i for i, t in enumerate(buttons, 1) if t == "Help"))


def session(work, has_help):
    show_toolbar, help_button = menu_numbers()
    home = os.path.join(work, "home")
    os.makedirs(home)
    lines = ["MENUS", "",
             "OPEN " + DRAWINGS[1],
             "MENUS", "",
             "SETVAR CMDECHO", "",
             "MENUUNLOAD TABRO",
             "SETVAR CMDECHO 0",
             "OPEN " + DRAWINGS[2],
             "SETVAR CMDECHO", "",
             "MENUS", str(show_toolbar), str(help_button),
             "tabro", "Help",
             "QUIT"]
    script = os.path.join(work, "menu.scr")
    with open(script, "w") as f:
        f.write("\n".join(lines) + "\n")
    env = dict(os.environ, CADHOST_HOME=home)
    # No desktop: the help comes as text on stdout, not in a browser.
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    proc = subprocess.run([CADHOST, "--script", script, DRAWINGS[0]], cwd=work, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=300)
    out = proc.stdout
    check(proc.returncode == 0, "cadhost exited %d:\n%s\n%s" % (proc.returncode, out, proc.stderr))

    listings = out.count("Menu group TABRO (")
    check(listings == 3, "MENUS listed the group %d times in 3 listings:\n%s" % (listings, out))
    check("already loaded" not in out, "the second drawing tried to load the menu again:\n" + out)
    check("Cannot find menu file" not in out and "Error in menu file" not in out, "menu file problem:\n" + out)
    first, second = out.find("Enter new value for CMDECHO <1>"), out.find("Enter new value for CMDECHO <0>")
    check(first >= 0, "CMDECHO was not the user's 1 after the menu loaded:\n" + out)
    check(second > first, "CMDECHO was not the user's 0 after the menu loaded again:\n" + out)
    check("Command: _tabro" in out and "_toolbar" in out, "the menu item's macro did not run:\n" + out)
    check("Tablora toolbar (TABRO.TB_TABRO):" in out, "the toolbar was not shown:\n" + out)
    check(not has_help or proc.stderr.strip() == "", "stderr: " + proc.stderr)

    if not has_help:
        return
    parser = PageText()
    with open(os.path.join(HELP_SOURCES, "index.html")) as f:
        parser.feed(f.read())
    flat = " ".join(out.split())
    check(parser.paragraphs, "index.html has no paragraph")
    for paragraph in parser.paragraphs:
        shown = flat.count(paragraph)
        check(shown == 2, "the default topic's paragraph was printed %d times, not twice (toolbar button and "
                          "TABRO Help): %r\n%s" % (shown, paragraph[:60], out))


def main():
    # Without the help compiler the build skips the help file (and says so); the
    # menu is checked all the same.
    has_help = shutil.which("chmcmd") is not None
    for path in (CADHOST, MENU) + ((CHM,) if has_help else ()):
        if not os.path.exists(path):
            print("not built: %s" % path)
            return 1
    if has_help:
        listed_chm()
    else:
        print("chmcmd is not installed: the help file is not checked")
    with tempfile.TemporaryDirectory() as work:
        session(work, has_help)
    for f in failures:
        print("FAIL:", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
