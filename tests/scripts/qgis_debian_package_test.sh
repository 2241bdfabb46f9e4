#!/usr/bin/env bash
# The Debian package made with CPack: the plugin in QGIS's own Python plugin folder and nothing
# in the system's library folder; installed with dpkg into a scratch root, QGIS loads it from
# there headless and its Processing algorithm exports a page.
# Usage: qgis_debian_package_test.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
deb=$(ls "$work"/package/qgis-plugin-crvanchor_*.deb)
dpkg-deb -f "$deb" Package Version Depends
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
folder=./usr/share/qgis/python/plugins/crvanchor
for f in metadata.txt __init__.py icon.svg help/index.html libs/linux-x86_64/libcrvanchor_core.so; do
  grep -qx "$folder/$f" <<<"$listing" || { echo "not in the package: $folder/$f" >&2; exit 1; }
done
stray=$(grep -v -e "^$folder/" -e '/$' <<<"$listing" || true)
[ -z "$stray" ] || { echo "the package installs outside the plugin's folder: $stray" >&2; exit 1; }

# dpkg -i into a root of its own (QGIS itself is the machine's, so its dependency is not there).
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --force-not-root --force-depends --force-script-chrootless --root="$root" -i "$deb" >/dev/null 2>&1
dpkg --force-not-root --root="$root" -s qgis-plugin-crvanchor | grep -q '^Status: install ok installed$'

"${PYTHON:-/usr/bin/python3}" - "$root/usr/share/qgis/python/plugins" "$src" "$work" <<'PY'
import os, sys
from qgis.core import QgsApplication, QgsProject
plugins, src, work = sys.argv[1:4]
app = QgsApplication([], False)
app.initQgis()
import qgis.utils
qgis.utils.plugin_paths = [plugins]  # what QGIS sets up from the profile
sys.path.insert(0, plugins)
qgis.utils.updateAvailablePlugins()
assert qgis.utils.loadPlugin("crvanchor") and qgis.utils.startProcessingPlugin("crvanchor")
sys.path.append("/usr/share/qgis/python/plugins")
from processing.core.Processing import Processing
import processing
Processing.initialize()
assert QgsProject.instance().read(os.path.join(src, "samples", "lakes_atlas.qgz"))
processing.run("crvanchor:exportatlas", {"LAYOUT": "Lakes Atlas", "PAGES": "2", "PDF": os.path.join(work, "p2.pdf")})
assert os.path.getsize(os.path.join(work, "p2.pdf")) > 0
QgsProject.instance().clear()
print("the packaged plugin exports page 2")
PY
dpkg --force-not-root --root="$root" -r qgis-plugin-crvanchor >/dev/null
[ ! -e "$root/usr/share/qgis/python/plugins/crvanchor/libs" ] || { echo "dpkg -r left the plugin's libraries" >&2; exit 1; }
