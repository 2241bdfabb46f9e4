// crvanchor-studio DOC [--screenshot FILE [--select NAME] [--tab N] [--page P]]
//
// The desktop window on a map document. With --screenshot it runs without a screen: opens the
// document, shows the page, selects the element, opens its property sheet on the tab, and
// writes the window and the sheet side by side to a PNG.

#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "support/Activation.h"
#include "commands/BookCommand.h"
#include "support/Edge.h"
#include "standalone/studio/PropertySheet.h"
#include "standalone/studio/StudioWindow.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QTabWidget>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Arguments {
    std::string document;
    std::string screenshot;
    std::string select;
    int tab = 0;
    std::optional<int> page;
};

int Usage(const std::string& why) {
    std::fprintf(stderr,
                 "crvanchor-studio: %s\n"
                 "usage: crvanchor-studio DOC [--screenshot FILE [--select NAME] [--tab N] [--page P]]\n",
                 why.c_str());
    return 2;
}

std::optional<int> Number(const std::string& s) {
    try {
        size_t used = 0;
        const int v = std::stoi(s, &used);
        if (used == s.size()) return v;
    } catch (const std::exception&) {}
    return std::nullopt;
}

// Without a screen the toolkit notes what the offscreen platform cannot do; those notes are not
// the user's concern.
void QuietPlatformNotes(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    if (message.contains(QStringLiteral("XDG_RUNTIME_DIR")) ||
        message.startsWith(QStringLiteral("This plugin does not support"))) {
        return;
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int Screenshot(crv::studio::StudioWindow& window, const Arguments& a) {
    window.resize(820, 900);
    window.show();
    window.ZoomToPage();
    if (a.page) {
        if (*a.page < window.Book().surface.Range().first || *a.page > window.Book().surface.Range().last) {
            return Usage("--page: " + std::to_string(*a.page) + " is not in the map book");
        }
        window.ShowPage(*a.page);
    }
    QImage shot;
    if (!a.select.empty()) {
        if (!window.SelectByName(a.select)) return Usage("--select: no element is named \"" + a.select + "\"");
        auto sheet = window.MakeSheet();
        if (a.tab < 0 || a.tab >= sheet->Tabs()->count()) {
            return Usage("--tab: the sheet has tabs 0 to " + std::to_string(sheet->Tabs()->count() - 1));
        }
        sheet->show();
        sheet->ShowTab(a.tab);
        sheet->adjustSize();
        QApplication::processEvents();
        const QImage main = window.grab().toImage();
        const QImage side = sheet->grab().toImage();
        shot = QImage(main.width() + side.width() + 16, std::max(main.height(), side.height()), QImage::Format_RGB32);
        shot.fill(QColor(60, 60, 60));
        QPainter p(&shot);
        p.drawImage(0, 0, main);
        p.drawImage(main.width() + 16, 0, side);
        p.end();
        sheet->reject();
    } else {
        QApplication::processEvents();
        shot = window.grab().toImage();
    }
    if (!shot.save(QString::fromStdString(a.screenshot), "PNG")) {
        std::fprintf(stderr, "crvanchor-studio: cannot write %s\n", a.screenshot.c_str());
        return 2;
    }
    return 0;
}

int Run(int argc, char** argv) {
    Arguments a;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (s == "--screenshot" || s == "--select" || s == "--tab" || s == "--page") {
            const auto v = value();
            if (!v) return Usage(s + " needs a value");
            if (s == "--screenshot") a.screenshot = *v;
            if (s == "--select") a.select = *v;
            if (s == "--tab" || s == "--page") {
                const auto n = Number(*v);
                if (!n) return Usage(s + ": expected a whole number, found \"" + *v + "\"");
                (s == "--tab" ? a.tab : a.page.emplace()) = *n;
            }
        } else if (a.document.empty() && (s.empty() || s[0] != '-')) {
            a.document = s;
        } else {
            return Usage("unexpected argument \"" + s + "\"");
        }
    }
    if (a.document.empty()) return Usage("no map document given");
    const bool screenshot = !a.screenshot.empty();
    if (screenshot) {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        qInstallMessageHandler(QuietPlatformNotes);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("crvanchor-studio"));

    try {
        crv::support::RequireEngine();
    } catch (const crv::support::ActivationError& e) {
        const std::string text =
            !e.NotRegistered()
                ? std::string(e.what())
                : "The anchoring component is not registered in " + crv::Registry::DefaultPath() +
                      ".\n\nRegister it with:\n    crvinstall build/libCRVAnchor.so\n"
                      "(set CRVANCHOR_REGISTRY to a file of your own first to use a registry of your own).";
        std::fprintf(stderr, "crvanchor-studio: %s\n", text.c_str());
        if (!screenshot)
            QMessageBox::warning(nullptr, QStringLiteral("crvanchor-studio"), QString::fromStdString(text));
        return 2;
    }

    crv::studio::StudioWindow::Options options;
    // Without a screen nobody could close a message box: the reports go to standard error,
    // counted, and the status says whether there were any, as crvanchor's does.
    options.errorsInMessageBoxes = !screenshot;
    crv::StderrErrorSink reports;
    std::optional<crv::ScopedErrorSink> reportsScope;
    if (screenshot) reportsScope.emplace(reports);
    if (screenshot) {
        options.complain = [](const QString& title, const QString& text) {
            std::fprintf(stderr, "crvanchor-studio: %s: %s\n", title.toLocal8Bit().constData(),
                         text.toLocal8Bit().constData());
        };
    }
    crv::studio::StudioWindow window(options);
    if (!window.Open(a.document)) {
        if (screenshot) return 2;
    }
    if (screenshot) {
        const int status = Screenshot(window, a);
        if (status != 0) return status;
        return crv::commands::StatusAfterReports("crvanchor-studio", reports.Count(), status, std::cerr);
    }
    window.show();
    window.ZoomToPage();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    return crv::support::RunAtEdge("crvanchor-studio", std::cerr, [&] { return Run(argc, argv); });
}
