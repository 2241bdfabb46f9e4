#!/usr/bin/env bash
# The build stops on an include that breaks the arrows between folders, however it is written,
# and on a reach into the standalone host's own element objects from outside it, and passes the
# tree as it is. Each case plants one line in a copy of the sources.
# Usage: folder_rules_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
folders=(errors com host anchor propertypage registration support objects book commands drawing standalone qgis core)
copy() {
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  for f in "${folders[@]}"; do cp -r "$src/$f" "$work/tree/"; done
}
check() { cmake -DSOURCE_DIR="$work/tree" -DSTAMP="$work/stamp" -P "$src/cmake/FolderRules.cmake" >"$work/out.txt" 2>&1; }
failed=0
copy
check || { echo "the tree as it is was refused:" >&2; cat "$work/out.txt" >&2; failed=1; }
while IFS='|' read -r file line; do
  copy
  printf '%s\n' "$line" >>"$work/tree/$file"
  if check; then
    echo "not refused: $line in $file" >&2
    failed=1
  elif ! grep -qF "$file" "$work/out.txt"; then
    echo "refused without naming $file:" >&2 && cat "$work/out.txt" >&2
    failed=1
  fi
done <<'CASES'
standalone/host/Layout.cpp|#include "qgis/host/QgisHost.h"
standalone/host/Layout.cpp|#  include "qgis/host/QgisHost.h"
standalone/host/Layout.cpp|#include <qgis/host/QgisHost.h>
standalone/host/Layout.cpp|#include "../../qgis/host/QgisHost.h"
book/Order.cpp|#include "standalone/mapbook/Book.h"
book/Order.cpp|#include "CRVAnchorTypeLib.h"
anchor/CRVAnchorManager.cpp|#include "book/Order.h"
support/AtomicFile.cpp|#include "objects/GenericObjects.h"
standalone/host/Layout.cpp|#include "standalone/cli/Cli.h"
standalone/document/Document.cpp|#include "standalone/mapbook/Book.h"
standalone/cli/Cli.cpp|#include "windows/boundary/Marshal.h"
standalone/windows/TestHost.cpp|#include "standalone/document/Document.h"
core/Core.cpp|#include "standalone/mapbook/Book.h"
core/Core.cpp|#include "qgis/host/QgisHost.h"
core/Core.cpp|#include "propertypage/QtControls.h"
core/Form.cpp|#include <QWidget>
core/Form.cpp|#include <QtWidgets/QWidget>
book/Order.cpp|#include "core/crvanchor_core.h"
book/Order.cpp|#include "commands/RecordEdit.h"
commands/Show.cpp|#include "standalone/host/StandaloneHost.h"
core/Core.cpp|static int page = crv::standalone::StandaloneHost::ElementOf(e).layout_page;
commands/AnchorCommand.cpp|auto& impl = StandaloneHost::ElementOf (element);
CASES
exit $failed
