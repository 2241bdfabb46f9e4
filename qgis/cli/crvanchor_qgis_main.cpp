// crvanchor-qgis: QGIS atlases with anchored items from the command line. See qgis/cli/QgisCli.h.

#include "qgis/cli/QgisCli.h"
#include "support/Edge.h"

#include <qgsapplication.h>

#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include <link.h>

namespace {

// QGIS finds its data (the SVG library, the `inbuilt:` layers) and its providers under the
// folder it is installed in, which it takes from QGIS_PREFIX_PATH or else from where the program
// lies: for this program that would be our own folder. Without the variable, QGIS's folder is
// the one above its core library's that holds QGIS's data.
std::optional<QString> QgisPrefix() {
    if (const QString given = qEnvironmentVariable("QGIS_PREFIX_PATH"); !given.isEmpty()) return given;
    std::string library;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("/libqgis_core.so") == std::string::npos) return 0;
            *static_cast<std::string*>(found) = name;
            return 1;
        },
        &library);
    if (library.empty()) return std::nullopt;
    QDir dir = QFileInfo(QFileInfo(QString::fromStdString(library)).canonicalFilePath()).dir();
    while (dir.cdUp()) {
        if (QFileInfo(dir.filePath(QStringLiteral("share/qgis/resources"))).isDir()) return dir.absolutePath();
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // Headless: no display is needed to lay out and export pages.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Toolkit warnings are for developers; a user sees the command's own lines only.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) std::cerr << text.toStdString() << "\n";
    });
    std::optional<crv::qgis::QuietStandardError> quiet(std::in_place);
    QgsApplication app(argc, argv, false);
    if (const auto prefix = QgisPrefix()) QgsApplication::setPrefixPath(*prefix, true);
    QgsApplication::initQgis();
    quiet.reset();
    const int status = crv::support::RunAtEdge("crvanchor-qgis", std::cerr, [&] {
        std::vector<std::string> args(argv + 1, argv + argc);
        return crv::qgis::RunCrvAnchorQgis(args, std::cout, std::cerr);
    });
    QgsApplication::exitQgis();
    return status;
}
