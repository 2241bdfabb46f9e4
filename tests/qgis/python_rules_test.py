#!/usr/bin/env python3
"""The plugin's Python keeps to what serves every QGIS from 3.22 to 4.x: Qt reached through
qgis.PyQt alone (never PyQt5 or PyQt6 by name), every Qt and QGIS enum by its scoped name
(Class.Enum.Member: QGIS 4's Qt 6 bindings have no other), and exec() rather than exec_().
An enum member named through its class alone is found by asking this QGIS's own bindings what
each Class.Name the code uses is.

    python_rules_test.py PACKAGE_DIR
"""
import ast
import os
import sys

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import qgis.core  # noqa: E402
import qgis.gui  # noqa: E402
from qgis.PyQt import QtCore, QtGui, QtWidgets  # noqa: E402

MODULES = (qgis.core, qgis.gui, QtCore, QtGui, QtWidgets)


def owner(name):
    for module in MODULES:
        if hasattr(module, name):
            return getattr(module, name)
    return None


def is_enum_member(value):
    """A value of a sip enum (an int of an enum type), not a class, function or plain number."""
    kind = type(value)
    return isinstance(value, int) and kind is not int and kind is not bool and "enum" in type(kind).__name__.lower()


def check(path):
    problems = []
    tree = ast.parse(open(path, encoding="utf-8").read(), path)
    for node in ast.walk(tree):
        where = "%s:%d" % (os.path.basename(path), getattr(node, "lineno", 0))
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            names = [node.module or ""] if isinstance(node, ast.ImportFrom) else [a.name for a in node.names]
            for name in names:
                if name.split(".")[0] in ("PyQt5", "PyQt6", "sip"):
                    problems.append("%s: imports %s; Qt is qgis.PyQt's" % (where, name))
        if isinstance(node, ast.Attribute) and node.attr == "exec_":
            problems.append("%s: exec_() is gone from Qt 6; call exec()" % where)
        if isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name):
            cls = owner(node.value.id)
            # A member read from its own enum (QtMsgType.QtCriticalMsg) is scoped already.
            if (cls is not None and isinstance(cls, type) and is_enum_member(getattr(cls, node.attr, None))
                    and type(getattr(cls, node.attr)) is not cls):
                enum = type(getattr(cls, node.attr)).__name__
                problems.append("%s: %s.%s is unscoped; write %s.%s.%s" % (where, node.value.id, node.attr,
                                                                          node.value.id, enum, node.attr))
    return problems


package = sys.argv[1]
problems = []
checked = 0
for name in sorted(os.listdir(package)):
    if name.endswith(".py"):
        problems += check(os.path.join(package, name))
        checked += 1
# The check itself must see what it looks for.
probe = os.path.join(os.environ.get("TMPDIR", "/tmp"), "crvanchor_rules_probe.py")
with open(probe, "w") as f:
    f.write("from PyQt5 import QtCore\nfrom qgis.core import Qgis\nx = Qgis.Critical\ny = Qgis.MessageLevel.Critical\n"
            "z = QtMsgType.QtFatalMsg\n"
            "app.exec_()\n")
seen = check(probe)
os.remove(probe)
if len(seen) != 3:
    sys.exit("FAILED: the check saw %r in its probe, expected three problems" % seen)
if problems:
    sys.exit("FAILED:\n  " + "\n  ".join(problems))
print("%d files keep to qgis.PyQt, scoped enums and exec()" % checked)
