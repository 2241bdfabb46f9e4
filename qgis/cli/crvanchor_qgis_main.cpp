// crvanchor-qgis: QGIS atlases with anchored items from the command line. See qgis/cli/QgisCli.h.

#include "qgis/cli/QgisCli.h"
#include "support/Edge.h"

#include <qgsapplication.h>

#include <cstdlib>
#include <iostream>
#include <optional>

int main(int argc, char** argv) {
    // Headless: no display is needed to lay out and export pages.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Toolkit warnings are for developers; a user sees the command's own lines only.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << text.toStdString() << "\n";
    });
    std::optional<crv::qgis::QuietStandardError> quiet(std::in_place);
    QgsApplication app(argc, argv, false);
    QgsApplication::initQgis();
    quiet.reset();
    const int status = crv::support::RunAtEdge("crvanchor-qgis", std::cerr, [&] {
        std::vector<std::string> args(argv + 1, argv + argc);
        return crv::qgis::RunCrvAnchorQgis(args, std::cout, std::cerr);
    });
    QgsApplication::exitQgis();
    return status;
}
