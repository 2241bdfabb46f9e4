#!/usr/bin/env python3
"""The test host refuses a snapshot it cannot hold, and says why to whoever creates it: a script
(through the script host's WScript.CreateObject, which passes the class factory's result and the
platform's error object on) sees the result and the reason and goes on; a C++ client
(crvanchor-book) prints the reason. Groups and property bags nest as deep as a map document may
hold them, and no deeper: the deepest that the Linux reader accepts reads here. The component
and the test host are registered by the scripting fixture.

usage: snapshot_refusal_test.py WINE_RUN LINUX_BUILD SAMPLE BOOK_EXE WORK_DIR"""
import concurrent.futures
import copy
import json
import os
import shutil
import sys

from wine_helpers import call, call_script, win_path

wine_run, linux_build, sample, book_exe, work = sys.argv[1:6]

INVALID_DATA = 0x8007000D  # the platform's "The data is invalid."
OPEN_FAILED = 0x8007006E  # "The system cannot open the device or file specified."
NO_VARIABLE = 0x800700CB  # the platform's "The system could not find the environment option"
DEEP = 20000

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)


def linux_snapshot(document_path, name):
    """The snapshot crvanchor-snapshot writes of a document, as text."""
    snapshot = os.path.join(work, name + ".snapshot.json")
    code, out, err = call([os.path.join(linux_build, "crvanchor-snapshot"), document_path, snapshot])
    if code != 0:
        sys.exit("FAILED: crvanchor-snapshot refused %s: %s%s" % (name, out, err))
    return open(snapshot).read()


def document(element, name):
    """A map document of one element, written for crvanchor-snapshot to read."""
    path = os.path.join(work, name + ".document.json")
    with open(path, "w") as f:
        f.write('{"format": "crvanchor-document", "version": 1, "page": {"width": 8.5, "height": 11},\n'
                ' "elements": [%s]}' % element)
    return path


def nested(n, open_part, close_part, inner):
    """`inner` inside n levels, built without recursion: a snapshot 20,000 deep is too deep
    for Python's own JSON writer."""
    return open_part * n + inner + close_part * n


SAMPLE = json.loads(linux_snapshot(sample, "sample"))


def changed(change):
    """The sample's snapshot with one change made to its tree, as text."""
    tree = copy.deepcopy(SAMPLE)
    change(tree)
    return json.dumps(tree)


def with_element(element_text):
    """The sample's snapshot with one more element, given as text, at /elements/6."""
    tree = copy.deepcopy(SAMPLE)
    tree["elements"].append("@element@")
    return json.dumps(tree).replace('"@element@"', element_text)


def snapshot_element(kind, extra=""):
    return ('{"kind": "%s", "name": "", "rect": [0, 0, 1, 1], "border": 0, "text": "", '
            '"custom": {"kind": "empty"}%s' % (kind, extra))


def setter(*path_and_value):
    *path, key, value = path_and_value

    def change(tree):
        for step in path:
            tree = tree[step]
        tree[key] = value
    return change


def bags(n):
    """A value of n property bags, each the one entry of the one around it, the innermost
    holding a 16-bit value: the same text in a document and in a snapshot."""
    return ('{"kind": "bag", "entries": [' +
            nested(n - 1, '{"key": "k", "kind": "bag", "entries": [', "]}",
                   '{"key": "k", "kind": "int16", "value": 7}') + "]}")


GROUP = snapshot_element("group", ', "members": [')
LEAF = snapshot_element("text") + "}"
SCALE = ("elements", 0, "series", "pages", 0)  # the sample's first page, whose SCALE is an int16
UNSET = "no variable"
NO_FILE = "no file"

# name, CRVANCHOR_TEST_LAYOUT (a snapshot's text, UNSET or NO_FILE), result, reason (None: it reads)
CASES = [
    ("groups nested 20,000 deep", with_element(nested(DEEP, GROUP, "]}", LEAF)), INVALID_DATA,
     "/elements/6" + "/members/0" * 64 + ": groups nested more than 64 deep"),
    ("property bags nested 20,000 deep",
     with_element('{"kind": "text", "name": "", "rect": [0, 0, 1, 1], "border": 0, "text": "", "custom": %s}'
                  % bags(DEEP)),
     INVALID_DATA, "/elements/6/custom" + "/entries/0" * 65 + ": property bags nested too deeply"),
    ("members under a text, 20,000 deep",
     with_element(snapshot_element("text", ', "members": [') + nested(DEEP, GROUP, "]}", LEAF) + "]}"),
     INVALID_DATA, "/elements/6/members: only a group has members"),
    ("a 16-bit value of 70000", changed(setter(*SCALE, 4, "value", 70000)), INVALID_DATA,
     "/elements/0/series/pages/0/4/value: expected a whole number from -32768 to 32767, found 70000"),
    ("a 16-bit value of 2.5", changed(setter(*SCALE, 4, "value", 2.5)), INVALID_DATA,
     "/elements/0/series/pages/0/4/value: expected a whole number from -32768 to 32767, found a number"),
    ("a 32-bit value of 2^32", changed(setter(*SCALE, 0, "value", 2 ** 32)), INVALID_DATA,
     "/elements/0/series/pages/0/0/value: expected a whole number from -2147483648 to 2147483647, "
     "found 4294967296"),
    ("a first page beyond 32 bits", changed(setter("elements", 0, "series", "first_page", -2 ** 40)),
     INVALID_DATA, "/elements/0/series/first_page: expected a whole number from -2147483648 to 2147483647, "
                   "found -1099511627776"),
    ("a rectangle of three numbers", changed(setter("elements", 3, "rect", [0, 0, 1])), INVALID_DATA,
     "/elements/3/rect: expected an array of four numbers [xmin, ymin, xmax, ymax]"),
    ("a name that is a number", changed(setter("elements", 2, "name", 7)), INVALID_DATA,
     "/elements/2/name: expected a string, found a number"),
    ("an element without its rectangle", changed(lambda t: t["elements"][1].pop("rect")), INVALID_DATA,
     "/elements/1: missing \"rect\""),
    ("a map document", open(sample).read(), INVALID_DATA,
     "/format: expected \"crvanchor-snapshot\", found \"crvanchor-document\""),
    ("no JSON", '{"format": ', INVALID_DATA, "does not read: parse error at line 1, column 12: "),
    ("no file", NO_FILE, OPEN_FAILED, "missing.json cannot be read."),
    ("no snapshot named", UNSET, NO_VARIABLE, "No layout to host: CRVANCHOR_TEST_LAYOUT names no snapshot"),
    # What a map document may hold reads: its deepest groups and bags, as the Linux side writes them.
    ("the sample", json.dumps(SAMPLE), 0, None),
    ("64 groups", linux_snapshot(document(nested(64, '{"type": "group", "members": [', "]}",
                                                 '{"type": "text", "rect": [0, 0, 1, 1]}'), "groups"), "groups"),
     0, None),
    ("64 property bags",
     linux_snapshot(document('{"type": "text", "rect": [0, 0, 1, 1], "custom": %s}' % bags(64), "bags"), "bags"),
     0, None),
]

# The result, source and reason the script host passes on, then whether the layout's elements
# are there; the script must go on after a refusal.
script = os.path.join(work, "create.vbs")
with open(script, "w") as f:
    f.write('On Error Resume Next\n'
            'Set app = WScript.CreateObject("CRVAnchorTestHost.Application")\n'
            'WScript.Echo Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description\n'
            'Err.Clear\n'
            'n = 0\n'
            'Set layout = app.Document.PageLayout\n'
            'If Err.Number = 0 Then\n'
            '    layout.Reset\n'
            '    Set e = layout.Next\n'
            '    Do Until e Is Nothing\n'
            '        n = n + 1\n'
            '        Set e = layout.Next\n'
            '    Loop\n'
            'End If\n'
            'WScript.Echo n & " elements; the script went on"\n')



def check(i, name, text, result, reason):
    """What is wrong with case i: nothing when the script and the book saw what they should."""
    env = {k: v for k, v in os.environ.items() if k != "CRVANCHOR_TEST_LAYOUT"}
    if text is not UNSET:
        path = os.path.join(work, "missing.json" if text is NO_FILE else "case%d.json" % i)
        if text is not NO_FILE:
            with open(path, "w") as f:
                f.write(text)
        env["CRVANCHOR_TEST_LAYOUT"] = win_path(path)
    code, out, err = call_script(wine_run, script, env)
    lines = out.replace("\r", "").splitlines()
    said = lines[0].split("|", 2) if lines else []
    went_on = len(lines) == 2 and lines[1].endswith("elements; the script went on")
    if reason is None:
        if said != ["0", "", ""] or not went_on or lines[1].startswith("0 "):
            return ["%s: the script saw %r (status %d) %r" % (name, lines, code, err[-300:])]
        return []
    found = []
    if (len(said) != 3 or said[0] != "%X" % result or said[1] != "CRVAnchorTestHost" or reason not in said[2]
            or not went_on):
        found.append("%s: the script saw %r (status %d) %r, expected %X and ...%s" %
                     (name, [line[:400] for line in lines], code, err[-300:], result, reason[-200:]))
    code, out, err = call([wine_run, book_exe, win_path(os.path.join(work, "book%d.json" % i))], env)
    if code == 0 or reason not in err:
        found.append("%s: the book exited %d, saying %r" % (name, code, (out + err)[-400:]))
    return found


# The cases are independent programs: two at a time, as most of each one's time is Wine's
# starting it or reading a deep snapshot, and the script host is known to fail to start under
# more load than that.
with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
    failures = sum(pool.map(lambda case: check(case[0], *case[1]), enumerate(CASES)), [])

if failures:
    sys.exit("FAILED:\n  " + "\n  ".join(failures))
print("%d snapshots: each refused with its reason, or read" % len(CASES))
