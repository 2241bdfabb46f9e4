"""The plugin as QGIS loads it, told what it cannot do in one line in QGIS's terms:

- a copy whose anchoring core is missing, is another platform's only, or is not a library for
  this one, says so in one line in QGIS's log and in its Processing algorithm, without a Python
  traceback, and loads no Qt 6 library into QGIS's Qt 5 process;
- its Processing algorithm runs a project whose file is named like a command of crvanchor-qgis
  (show, anchor), and refuses a resolution crvanchor-qgis would refuse, naming the dialog's
  parameter rather than the command's option.

Usage: plugin_refusals_test.py PLUGIN_FOLDER SOURCE_DIR WORK_DIR
       plugin_refusals_test.py --load PLUGIN_FOLDER   (one load, in a process of its own)
"""

import json
import os
import shutil
import subprocess
import sys

from qgis.core import Qgis, QgsApplication, QgsProject

failures = []


def start_qgis():
    app = QgsApplication([], False)
    app.initQgis()
    return app


def load_plugin(plugins):
    """Loads the plugin as QGIS does from a profile; qgis.utils and processing, imported."""
    import qgis.utils

    qgis.utils.plugin_paths = [plugins]
    sys.path.insert(0, plugins)
    qgis.utils.updateAvailablePlugins()
    loaded = qgis.utils.loadPlugin("crvanchor") and qgis.utils.startProcessingPlugin("crvanchor")
    sys.path.append("/usr/share/qgis/python/plugins")
    from processing.core.Processing import Processing

    Processing.initialize()
    return loaded


def load_alone(plugins):
    """One load of a plugin copy: what QGIS's log and the algorithm say, as JSON on standard output."""
    app = start_qgis()
    said = []
    QgsApplication.messageLog().messageReceived[str, str, Qgis.MessageLevel].connect(
        lambda message, tag, level: said.append([tag, message, level >= Qgis.MessageLevel.Warning]))
    loaded = load_plugin(plugins)
    import processing
    from qgis.core import QgsProcessingException

    try:
        processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas"})
        algorithm = ""
    except QgsProcessingException as e:
        algorithm = str(e)
    with open("/proc/self/maps") as f:
        qt6 = "libQt6" in f.read()
    print(json.dumps({"loaded": bool(loaded), "said": said, "algorithm": algorithm, "qt6": qt6}))
    app.exitQgis()


def broken_copies(plugin, work):
    """A copy of the plugin with its core missing or replaced, each loaded in a process of its
    own: one line in the log, the same from the algorithm, no traceback."""
    here = "linux-x86_64"
    cases = [
        # (case, the core's replacement (a file, or the folder it goes to), what the line says)
        ("no core", None, "The anchoring core is not installed: "),
        ("the Windows core only", "windows-x86_64/crvanchor_core.dll",
         "libcrvanchor_core.so is missing (this platform: linux-x86_64)"),
        ("not a library", b"MZ not an ELF library", "cannot be loaded on this platform (linux-x86_64): "),
    ]
    for case, replacement, expected in cases:
        folder = os.path.join(work, case.replace(" ", "-"))
        libs = os.path.join(folder, "crvanchor", "libs")
        shutil.copytree(plugin, os.path.join(folder, "crvanchor"))
        core = os.path.join(libs, here, "libcrvanchor_core.so")
        if isinstance(replacement, bytes):
            with open(core, "wb") as f:
                f.write(replacement)
        elif replacement:
            os.makedirs(os.path.dirname(os.path.join(libs, replacement)))
            shutil.move(core, os.path.join(libs, replacement))
        else:
            os.remove(core)
        done = subprocess.run([sys.executable, __file__, "--load", folder], capture_output=True, text=True)
        try:
            result = json.loads(done.stdout.strip().splitlines()[-1])
        except (ValueError, IndexError):
            failures.append("%s: no result, status %d: %s" % (case, done.returncode, done.stderr[-2000:]))
            continue
        ours = [message for tag, message, warning in result["said"] if tag == "CRVAnchor" and warning]
        others = [message for tag, message, warning in result["said"] if "Traceback" in message]
        if len(ours) != 1 or expected not in ours[0] or "\n" in ours[0]:
            failures.append("%s: QGIS's log says %r, expected one line with %r" % (case, ours, expected))
        if others or "Traceback" in done.stderr:
            failures.append("%s: a traceback: %s" % (case, (others or [done.stderr])[0][-2000:]))
        if not ours or result["algorithm"] != ours[0]:
            failures.append("%s: the algorithm says %r" % (case, result["algorithm"]))
        if result["qt6"]:
            failures.append("%s: Qt 6 was loaded into QGIS's Qt 5 process" % case)


def processing_runs(src, work):
    """The algorithm over projects named like the command's words, and its resolution's range."""
    import processing
    from qgis.core import QgsProcessingException

    project = QgsProject.instance()
    for name in ("show", "anchor", "bake"):
        folder = os.path.join(work, "named-" + name)
        os.makedirs(folder)
        for data in ("sheets.gpkg", "north_arrow.xpm"):
            shutil.copy(os.path.join(src, "samples", data), folder)
        # A project file of that name, opened by a relative path as qgis_process and the
        # desktop's recent projects may give it.
        assert project.read(os.path.join(src, "samples", "lakes_atlas.qgz"))
        assert project.write(os.path.join(folder, name))
        os.chdir(folder)
        assert project.read(name), name
        try:
            processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas", "PAGES": "2", "REPORT": "report.json"})
            if not os.path.exists("report.json"):
                failures.append("a project named %s: no report" % name)
        except QgsProcessingException as e:
            failures.append("a project named %s: %s" % (name, e))
        os.chdir(work)
    assert project.read(os.path.join(src, "samples", "lakes_atlas.qgz"))
    # (resolution, refused): the pictures' resolutions are the command's, 10 to 1200 dpi.
    for dpi, refused in ((9.5, True), (1200.5, True), (2400, True), (10, False)):
        png = os.path.join(work, "png-%s" % dpi)
        try:
            processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas", "PAGES": "1", "PNG": png, "DPI": dpi})
            said = ""
        except QgsProcessingException as e:
            said = str(e)
        if refused and ("DPI" not in said or "--dpi" in said):
            failures.append("resolution %s: %r, expected QGIS's refusal of the parameter" % (dpi, said))
        if not refused and (said or not os.path.exists(os.path.join(png, "page-001.png"))):
            failures.append("resolution %s: refused: %r" % (dpi, said))
    project.clear()


def main():
    if sys.argv[1] == "--load":
        load_alone(sys.argv[2])
        return 0
    plugins, src, work = (os.path.abspath(a) for a in sys.argv[1:4])
    broken_copies(os.path.join(plugins, "crvanchor"), work)
    app = start_qgis()
    if not load_plugin(plugins):
        failures.append("the installed plugin does not load")
    else:
        processing_runs(src, work)
    for f in failures:
        print(f, file=sys.stderr)
    app.exitQgis()
    if failures:
        return 1
    print("refused in one line each; the algorithm runs projects of any name")
    return 0


if __name__ == "__main__":
    sys.exit(main())
