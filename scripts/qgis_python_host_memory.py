#!/usr/bin/env python3
"""What the plugin's anchoring holds as an atlas grows: the atlas stepped through PAGES pages by
QGIS (no drawing, so that QGIS's own export caches do not hide it), once with nothing anchoring
and once with the layout's session following, each in a process of its own; the growth of the
process's resident memory over the steps, and the anchoring's share (anchored minus plain).

    CRVANCHOR_CORE_LIBRARY=build-rel/libcrvanchor_core.so \\
        python3 scripts/qgis_python_host_memory.py PROJECT.qgz LAYOUT PAGES [PAGES ...]

Needs PyQGIS and no screen. The figures go into docs/performance.md."""
import subprocess
import sys


def one_run(project_path, layout_name, pages, anchored):
    from qgis_anchored_layout import open_anchored, resident_kb

    app, layout, anchoring, session = open_anchored(project_path, layout_name)
    if not anchored:
        session.stop_following()
    atlas = layout.atlas()
    atlas.beginRender()
    atlas.seekTo(0)  # the first page's work (the description, QGIS's first refresh) is not growth
    start = resident_kb()
    for feature in range(1, min(pages, atlas.count())):
        atlas.seekTo(feature)
    grown = resident_kb() - start
    atlas.endRender()
    if session.errors:
        sys.exit("anchoring failed: %s" % session.errors[0])
    print(grown)
    anchoring.close()
    app.exitQgis()


def main():
    if sys.argv[1] == "--one":
        one_run(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5] == "anchored")
        return
    project_path, layout_name = sys.argv[1:3]
    print("pages  plain growth  anchored growth  the anchoring's share")
    for pages in [int(p) for p in sys.argv[3:]]:
        grown = {}
        for mode in ("plain", "anchored"):
            out = subprocess.run([sys.executable, __file__, "--one", project_path, layout_name, str(pages), mode],
                                 capture_output=True, text=True, check=True).stdout
            grown[mode] = int(out.strip().splitlines()[-1])
        print("%5d  %9.1f MB  %12.1f MB  %+16.1f MB" % (pages, grown["plain"] / 1024.0, grown["anchored"] / 1024.0,
                                                       (grown["anchored"] - grown["plain"]) / 1024.0))


main()
