#!/usr/bin/env bash
# Runs a Python test against the plugin as a user installs it: into a QGIS profile of its own,
# without root, which the test loads as QGIS does.
# Usage: qgis_installed_plugin_test.sh BUILD_DIR SOURCE_DIR WORK_DIR TEST.py [ARG ...]
# The test runs as: TEST.py PLUGIN_FOLDER SOURCE_DIR WORK_DIR [ARG ...]
set -euo pipefail
build=$1 src=$2 work=$3 test=$4
shift 4
rm -rf "$work" && mkdir -p "$work/home"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen
mkdir -m 700 "$XDG_RUNTIME_DIR"
cmake --install "$build" --component qgis_user --prefix "$HOME/.local" >/dev/null
exec "${PYTHON:-/usr/bin/python3}" "$test" "$HOME/.local/share/QGIS/QGIS3/profiles/default/python/plugins" "$src" \
  "$work" "$@"
