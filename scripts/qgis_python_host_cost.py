#!/usr/bin/env python3
"""What the plugin's anchoring costs inside QGIS's own atlas export: the same anchored atlas
exported to PDF by QgsLayoutExporter with and without the layout's session following the atlas
(the session the plugin's project anchoring makes), in one process, ROUNDS rounds taken in
turn; CPU time (time.process_time) of each export, medians, and the anchoring's own CPU time
measured around its steps, with the memory the process holds after each export.

    CRVANCHOR_CORE_LIBRARY=build-rel/libcrvanchor_core.so \\
        python3 scripts/qgis_python_host_cost.py PROJECT.qgz LAYOUT [ROUNDS]

Needs PyQGIS (Debian package python3-qgis) and no screen. The figures go into
docs/performance.md."""
import os
import statistics
import sys
import tempfile
import time

from qgis_anchored_layout import open_anchored, resident_kb
from qgis.core import QgsLayoutExporter


def resident_mb():
    return resident_kb() / 1024.0


def main():
    project_path, layout_name = sys.argv[1:3]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    app, layout, anchoring, session = open_anchored(project_path, layout_name)
    session.stop_following()
    spent = [0.0]
    place = session.place

    def timed_place(*args, **kwargs):
        start = time.process_time()
        try:
            return place(*args, **kwargs)
        finally:
            spent[0] += time.process_time() - start
    session.place = timed_place

    out = os.path.join(tempfile.mkdtemp(), "atlas.pdf")
    plain, anchored, own, memory, plain_memory = [], [], [], [], []
    for r in range(rounds):
        # QGIS's export holds on to memory from one export to the next, and a later export is
        # slower for it: the order alternates so that neither run always comes second.
        for follow in ((False, True) if r % 2 == 0 else (True, False)):
            if follow:
                session.follow_atlas()
            spent[0] = 0.0
            start = time.process_time()
            result, error = QgsLayoutExporter.exportToPdf(layout.atlas(), out, QgsLayoutExporter.PdfExportSettings())
            cpu = time.process_time() - start
            if result != QgsLayoutExporter.ExportResult.Success:
                sys.exit("the export failed: %s" % error)
            if follow:
                session.stop_following()
                anchored.append(cpu)
                own.append(spent[0])
                memory.append(resident_mb())
            else:
                plain.append(cpu)
                plain_memory.append(resident_mb())
    if session.errors:
        sys.exit("anchoring failed: %s" % session.errors[0])
    pages = layout.atlas().count()
    p, a, o = statistics.median(plain), statistics.median(anchored), statistics.median(own)
    print("pages %d, rounds %d" % (pages, rounds))
    print("QGIS's export, nothing anchored: %.2f s" % p)
    print("QGIS's export, the session following: %.2f s (%+.1f %%)" % (a, 100 * (a - p) / p))
    print("anchoring's own steps: %.3f s (%.2f %% of QGIS's export; %.0f us a page)"
          % (o, 100 * o / p, 1e6 * o / max(1, pages)))
    print("memory held after each export (QGIS's own grows by each), anchored: %s MB; plain: %s MB"
          % (", ".join("%.0f" % m for m in memory), ", ".join("%.0f" % m for m in plain_memory)))
    anchoring.close()
    app.exitQgis()


main()
