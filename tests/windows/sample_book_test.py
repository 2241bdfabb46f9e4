#!/usr/bin/env python3
"""The bundled map book anchored on Windows through real COM calls gives the Linux book's
rectangles. The Linux build writes the standalone host's snapshot of the sample and its book
report; regsvr32 registers the component and the test host; the Windows book reaches both
through COM alone; every element's rectangle on every page must match the Linux report's
(within 1e-9), with the same anchored elements in the same order. Unregistering leaves no key
of either library; with the component gone, a script reaches the host by late binding through
the host's own type library, and a client of another apartment through the proxies the
platform makes from it. The comparison is first shown to catch a rectangle that differs and a book that
anchors nothing. (The snapshots the host refuses: snapshot_refusal_test.py.)

usage: sample_book_test.py WINE_RUN LINUX_BUILD SAMPLE ENGINE_DLL HOST_DLL BOOK_EXE WORK_DIR OTHER_APARTMENT_EXE"""
import copy
import json
import os
import shutil
import sys
import tempfile

from wine_helpers import call, call_script, win_path

wine_run, linux_build, sample, engine_dll, host_dll, book_exe, work, other_apartment_exe = sys.argv[1:9]
source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, source)
from interfaces import model  # noqa: E402


def description():
    return model.load(os.path.join(source, "interfaces", "CRVAnchor.interfaces.json"))


TOLERANCE = 1e-9


def run(args, env=None):
    code, out, err = call(args, env)
    if code != 0:
        sys.exit("FAILED: %s exited %d\n%s%s" % (" ".join(args), code, out, err))


def wine(*args, env=None):
    run([wine_run, *args], env=env)


# ---------------------------------------------------------------------------------------
# The comparison

def com_type(t):
    """An element's type as COM tells it: a text and a picture are alike."""
    return "element" if t in ("text", "picture") else t


def differences(linux, windows, snapshot_rects):
    """What keeps the Windows report from being the Linux one, one line each."""
    out = []
    for key in ("document", "units", "page_size", "series", "anchor_order"):
        if linux.get(key) != windows.get(key):
            out.append("%s: Linux %r, Windows %r" % (key, linux.get(key), windows.get(key)))
    if not windows.get("anchor_order"):
        out.append("the Windows book anchors nothing")
    lpages, wpages = linux["pages"], windows["pages"]
    if [p["page"] for p in lpages] != [p["page"] for p in wpages]:
        out.append("pages: Linux %s, Windows %s" % ([p["page"] for p in lpages], [p["page"] for p in wpages]))
        return out
    moved = False
    for lp, wp in zip(lpages, wpages):
        if len(lp["elements"]) != len(wp["elements"]):
            out.append("page %d: Linux %d elements, Windows %d" % (lp["page"], len(lp["elements"]),
                                                                   len(wp["elements"])))
            continue
        for le, we in zip(lp["elements"], wp["elements"]):
            where = "page %d, %r" % (lp["page"], le["name"])
            for key, lv, wv in (("name", le["name"], we["name"]), ("group", le["group"], we["group"]),
                                ("type", com_type(le["type"]), com_type(we["type"])),
                                ("anchored", le["anchored"], we["anchored"]),
                                ("priority", le["priority"], we["priority"])):
                if lv != wv:
                    out.append("%s: %s Linux %r, Windows %r" % (where, key, lv, wv))
            if any(abs(a - b) > TOLERANCE for a, b in zip(le["rect"], we["rect"])):
                out.append("%s: rect Linux %s, Windows %s" % (where, le["rect"], we["rect"]))
            if le["anchored"] and le["rect"] != snapshot_rects.get(le["name"]):
                moved = True
    # A book in which nothing moves would prove nothing about the placements.
    if not moved:
        out.append("no anchored element of the Linux book leaves its place in the layout")
    return out


def snapshot_rects(snapshot):
    rects = {}

    def walk(elements):
        for e in elements:
            rects.setdefault(e["name"], e["rect"])
            walk(e.get("members", []))
    walk(snapshot["elements"])
    return rects


def check_comparison_catches(linux, rects):
    """The comparison refuses a report with one rectangle off and one of a book that anchors
    nothing, and accepts the Linux report itself."""
    assert differences(linux, linux, rects) == [], differences(linux, linux, rects)[:5]
    off = copy.deepcopy(linux)
    off["pages"][-1]["elements"][-1]["rect"][2] += 1e-6
    assert any("rect" in d for d in differences(linux, off, rects)), "a rectangle off by 1e-6 passes"
    still = copy.deepcopy(linux)
    still["anchor_order"] = []
    for page in still["pages"]:
        for e in page["elements"]:
            e["anchored"], e["priority"] = False, None
            e["rect"] = rects[e["name"]]
    assert differences(linux, still, rects), "a book that anchors nothing passes"


# ---------------------------------------------------------------------------------------
# The registry

def host_classes():
    return {"{%s}" % c.clsid.upper() for c in description().host.classes}


def engine_classes():
    lib = description().component
    return {"{%s}" % c.clsid.upper() for c in lib.classes}, {c.progid.upper() for c in lib.classes}


def registered_keys(clsids, progids):
    """The keys of the given classes and identifiers found under HKEY_CLASSES_ROOT."""
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "classes.reg")
        call([wine_run, "reg", "export", "HKEY_CLASSES_ROOT", win_path(out), "/y"])
        raw = open(out, "rb").read() if os.path.exists(out) else b""
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8", "replace")
    keys = {line.strip("[]").upper() for line in text.splitlines() if line.startswith("[")}
    found = set()
    for key in keys:
        parts = key.split("\\")
        if len(parts) >= 3 and parts[1] == "CLSID" and parts[2] in clsids:
            found.add("CLSID\\" + parts[2])
        if len(parts) >= 2 and parts[1] in progids:
            found.add(parts[1])
    return found


# ---------------------------------------------------------------------------------------

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
snapshot_path = os.path.join(work, "snapshot.json")
linux_path = os.path.join(work, "linux.json")
windows_path = os.path.join(work, "windows.json")

# The Linux side: the component registered in a registry of this run's own.
env = dict(os.environ, CRVANCHOR_REGISTRY=os.path.join(work, "registry.db"), QT_QPA_PLATFORM="offscreen")
for tool in ("crvinstall", "crvanchor", "crvanchor-snapshot"):
    if not os.path.exists(os.path.join(linux_build, tool)):
        sys.exit("FAILED: no %s in the Linux build %s (build it first, or set CRV_LINUX_BUILD)" % (tool, linux_build))
run([os.path.join(linux_build, "crvinstall"), os.path.join(linux_build, "libCRVAnchor.so")], env)
run([os.path.join(linux_build, "crvanchor-snapshot"), sample, snapshot_path], env)
run([os.path.join(linux_build, "crvanchor"), "book", sample, "--report", linux_path], env)
linux = json.load(open(linux_path))
snapshot = json.load(open(snapshot_path))
rects = snapshot_rects(snapshot)
check_comparison_catches(linux, rects)

def owners_of_page_interface():
    """The library the page interface's entry names, in the 64-bit and the 32-bit view of the
    machine's classes (the platform's call writes both); None where there is no entry."""
    page = next(i for c in description().component.classes for i in c.implements)
    owners = []
    for view in ("", "Wow6432Node\\"):
        code, out, _ = call([wine_run, "reg", "query", "HKLM\\Software\\Classes\\%sInterface\\{%s}\\TypeLib" % (
            view, page.iid.upper()), "/ve"])
        found = [w for w in out.split() if w.startswith("{")]
        owners.append(found[0].upper() if code == 0 and found else None)
    return owners


HOST_OWNS_PAGE = ["{%s}" % description().host.libid.upper()] * 2

engine_clsids, engine_progids = engine_classes()
clsids = engine_clsids | host_classes()
progids = engine_progids | {"CRVANCHORTESTHOST." + n for n in (
    "APPLICATION", "PROPERTYBAG", "ENVELOPE", "POLYGON", "GEOMETRYPOINT", "OBJECTCOPIER", "UID",
    "CATEGORYREGISTRAR", "MAPSERIESFRAME", "ACTIVELAYOUTINFO", "SERIESLAYOUTINFO", "SECTIONTEMPLATEINFO")}
failures = []

# The host first, as on a machine where the component is installed into a host: the page
# interface is the host's, which the component's registration must leave to it.
wine("regsvr32", "/s", host_dll)
wine("regsvr32", "/s", engine_dll)
page_owners = owners_of_page_interface()
if page_owners != HOST_OWNS_PAGE:
    failures.append("registering the component took the page interface's entry from the host: %s" % page_owners)
missing = {"CLSID\\" + c for c in clsids} | progids
missing -= registered_keys(clsids, progids)
if missing:
    failures.append("not registered: %s" % sorted(missing))

book_env = dict(os.environ, CRVANCHOR_TEST_LAYOUT=win_path(snapshot_path))
code, out, err = call([wine_run, book_exe, "--document", linux["document"], "--units", linux["units"],
                      win_path(windows_path)], book_env)
if code != 0 or not os.path.exists(windows_path):
    failures.append("the Windows book exited %d\n%s%s" % (code, out, err))
else:
    found = differences(linux, json.load(open(windows_path)), rects)
    failures += found[:20] + (["... and %d more" % (len(found) - 20)] if len(found) > 20 else [])

# A script reaches the host's objects by late binding, through the host's own type library,
# which the host carries and registers: the component is gone by then.
wine("regsvr32", "/u", "/s", engine_dll)
page_owners = owners_of_page_interface()
if page_owners != HOST_OWNS_PAGE:
    failures.append("unregistering the component took the page interface's entry from the host: %s" % page_owners)
script = os.path.join(work, "layout.js")
with open(script, "w") as f:
    f.write('var layout = new ActiveXObject("CRVAnchorTestHost.Application").Document.PageLayout;\n'
            'var names = [];\n'
            'layout.Reset();\n'
            'for (var e = layout.Next(); e != null; e = layout.Next()) names.push(e.Name);\n'
            'WScript.Echo(names.join("|"));\n')
code, out, err = call_script(wine_run, script, book_env)
names = "|".join(e["name"] for e in snapshot["elements"])
if code != 0 or out.strip() != names:
    failures.append("a script through late binding exited %d, saying %r %r; expected %r" % (code, out, err, names))
code, out, err = call([wine_run, other_apartment_exe, win_path(engine_dll)], book_env)
if (code != 0 or "first element through the proxy: %s" % snapshot["elements"][0]["name"] not in out
        or "the page through the proxy: Anchor, priority 1" not in out):
    failures.append("a client of another apartment exited %d, saying %r %r" % (code, out.strip(), err.strip()))
wine("regsvr32", "/u", "/s", host_dll)
left = registered_keys(clsids, progids)
if left:
    failures.append("left in the registry after regsvr32 /u: %s" % sorted(left))

if failures:
    sys.exit("FAILED:\n  " + "\n  ".join(failures))
print("the Windows book matches the Linux book: %d pages, anchored %s" % (len(linux["pages"]),
                                                                       ", ".join(linux["anchor_order"])))
