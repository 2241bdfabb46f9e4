#!/usr/bin/env python3
"""regsvr32 registers the library for the machine and, through DllInstall, for one user; the
keys it writes are the classes, their identifiers and the type library (with the platform's
entries for the type library's interfaces), and unregistering removes exactly them.
CategoryInstall enters the property page in the host's category through the platform's
category manager, and a category listing shows it, also after the library is registered again,
until it is removed.

usage: registration_test.py WINE_RUN DLL CRVCATEGORIES_EXE DESCRIPTION"""
import os
import subprocess
import sys
import tempfile

from wine_helpers import call, win_path

wine_run, dll, categories_exe, description = sys.argv[1:5]
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(description))))
from interfaces import model  # noqa: E402

library = model.load(description).component
desc = {"name": library.name, "libid": "{%s}" % library.libid.upper(),
        "classes": [{"name": c.name, "clsid": "{%s}" % c.clsid.upper()} for c in library.classes]}
# The library's interfaces, and the copies it carries of those its classes implement besides.
INTERFACES = {"{%s}" % i.iid.upper() for i in library.interfaces} | {
    "{%s}" % i.iid.upper() for c in library.classes for i in c.implements}
PAGE_CATEGORY = "{092238A5-8A0F-5816-B2F1-8CAEB7D63736}"
failures = []


def run(*args, check=True):
    code, out, err = call([wine_run, *args])
    if check and code != 0:
        sys.exit("FAILED: %s exited %d\n%s%s" % (" ".join(args), code, out, err))
    return subprocess.CompletedProcess(args, code, out, err)


CONTAINERS = ("", "\\CLSID", "\\TYPELIB", "\\INTERFACE")


def export(root):
    """Every key and value under root, as a set of (key, name, value) lines."""
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, "x.reg")
        run("reg", "export", root, win_path(out), "/y", check=False)
        if not os.path.exists(out):
            return set()
        raw = open(out, "rb").read()
        text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("utf-8", "replace")
    entries, key = set(), None
    top = None
    for line in text.splitlines():
        if line.startswith("["):
            key = line.strip("[]").upper()
            top = top or key
            # The containers every registration shares are the platform's, made once.
            if not any(key == top + c for c in CONTAINERS):
                entries.add((key, "", ""))
        elif key and "=" in line:
            name, value = line.split("=", 1)
            entries.add((key, name, value))
    return entries


def expect(cond, what):
    if not cond:
        failures.append(what)


def classes_keys(prefix, path):
    """The keys and values the library's classes and type library must have."""
    want = set()
    for c in desc["classes"]:
        clsid = c["clsid"].upper()
        progid = "%s.%s" % (desc["name"], c["name"])
        base = "%s\\CLSID\\%s" % (prefix, clsid)
        want |= {(base, "@", '"%s"' % progid),
                 (base + "\\INPROCSERVER32", "@", '"%s"' % path.replace("\\", "\\\\")),
                 (base + "\\INPROCSERVER32", '"ThreadingModel"', '"Apartment"'),
                 (base + "\\PROGID", "@", '"%s"' % progid),
                 (base + "\\TYPELIB", "@", '"%s"' % desc["libid"].upper()),
                 ("%s\\%s\\CLSID" % (prefix, progid.upper()), "@", '"%s"' % clsid)}
    want.add(("%s\\TYPELIB\\%s\\1.0\\0\\WIN64" % (prefix, desc["libid"].upper()), "@",
              '"%s"' % path.replace("\\", "\\\\")))
    return want


def ours(entries):
    ids = INTERFACES | {c["clsid"].upper() for c in desc["classes"]} | {desc["libid"].upper()} | {
        ("%s.%s" % (desc["name"], c["name"])).upper() for c in desc["classes"]}
    return {e for e in entries if any(i in e[0] for i in ids)}


def check_registration(root, prefix, options):
    before = export(root)
    expect(not ours(before), "%s holds the library's keys before it was registered: %s" % (root, sorted(ours(before))[:5]))
    run("regsvr32", "/s", *options, dll)
    during = export(root)
    added = during - before
    want = classes_keys(prefix, win_path(dll))
    missing = {w for w in want if (w[0], w[1], w[2].upper()) not in
               {(a[0], a[1], a[2].upper()) for a in added}}
    expect(not missing, "%s: keys missing after regsvr32 %s: %s" % (root, " ".join(options), sorted(missing)))
    # Nothing but the classes, their identifiers, the type library and its interfaces.
    stray = {a[0] for a in added - ours(added)}
    expect(not stray, "%s: regsvr32 wrote keys that are not the library's: %s" % (root, sorted(stray)))
    run("regsvr32", "/s", "/u", *options, dll)
    after = export(root)
    expect(ours(after) == ours(before), "%s: regsvr32 /u left %s and took %s" % (root, sorted(ours(after))[:10],
                                                                     sorted(ours(before))[:10]))
    # What was written, below the root and but for the view the platform keeps of the machine's
    # classes for 32-bit processes, to compare the user's entries with the machine's.
    return {(k.split("\\", 3)[3] if k.count("\\") >= 3 else "", n, v.upper()) for k, n, v in ours(added)
            if "\\WOW6432NODE\\" not in k}


def listing():
    return run(categories_exe, PAGE_CATEGORY).stdout


# The script host registers its own engine on first use: done before anything is compared.
with tempfile.TemporaryDirectory() as d:
    open(os.path.join(d, "warm.vbs"), "w").write("WScript.Echo 1\n")
    run("cscript", "//nologo", win_path(os.path.join(d, "warm.vbs")))

# Per machine, then per user through DllInstall.
machine = check_registration("HKLM\\Software\\Classes", "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES", [])
user = check_registration("HKCU\\Software\\Classes", "HKEY_CURRENT_USER\\SOFTWARE\\CLASSES", ["/n", "/i:user"])
# For one user the same entries as for the machine, under the user's classes.
expect(machine == user, "the user's entries differ from the machine's: only the machine's %s; only the user's %s"
       % (sorted(machine - user)[:6], sorted(user - machine)[:6]))

# Registered for a user and for the machine at once: each registration and removal keeps to its
# own classes, whatever the merged view shows.
run("regsvr32", "/s", "/n", "/i:user", dll)
expect(not ours(export("HKLM\\Software\\Classes")), "registering for the user wrote the machine's classes")
user_only = ours(export("HKCU\\Software\\Classes"))
run("regsvr32", "/s", dll)
run("regsvr32", "/s", "/u", dll)
expect(ours(export("HKCU\\Software\\Classes")) == user_only,
       "registering and unregistering for the machine changed the user's registration")
expect(not ours(export("HKLM\\Software\\Classes")), "unregistering for the machine left its keys")
run("regsvr32", "/s", "/u", "/n", "/i:user", dll)
expect(not ours(export("HKCU\\Software\\Classes")), "unregistering for the user left its keys")

# The page in the host's category, entered and removed by CategoryInstall from a script.
run("regsvr32", "/s", dll)
page = [c for c in desc["classes"] if c["name"] == "AnchorPropertyPage"][0]["clsid"].upper()
expect(page not in listing().upper(), "the page is listed before it was installed")
with tempfile.TemporaryDirectory() as d:
    script = os.path.join(d, "install.vbs")
    open(script, "w").write('Set c = CreateObject("CRVAnchor.CategoryInstall")\n'
                            'WScript.Echo "install " & c.Install(WScript.Arguments(0) = "1") & " " & c.ErrorMessage\n')
    out = run("cscript", "//nologo", win_path(script), "1").stdout.strip()
    expect(out == "install 0", "CategoryInstall.Install(True) said %r" % out)
    shown = listing()
    expect(page in shown.upper() and "CRVAnchor.AnchorPropertyPage" in shown,
           "the category listing lacks the page after CategoryInstall: %r" % shown)
    # A repair or an upgrade registers again: the page stays in the category.
    run("regsvr32", "/s", dll)
    expect(page in listing().upper(), "registering again took the page out of the host's category")
    out = run("cscript", "//nologo", win_path(script), "0").stdout.strip()
    expect(out == "install 0", "CategoryInstall.Install(False) said %r" % out)
    expect(page not in listing().upper(), "the page is still listed after CategoryInstall removed it")
run("regsvr32", "/s", "/u", dll)
machine_after = export("HKLM\\Software\\Classes")
expect(not ours(machine_after), "install, category and uninstall left %s" % sorted(ours(machine_after))[:10])

if failures:
    sys.exit("FAILED:\n  " + "\n  ".join(failures))
print("registration: machine and user keys, category install and removal all as expected")
