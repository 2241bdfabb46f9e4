// crvanchor-pagecapture OUTDIR: renders each tab of a filled anchor page to a PNG file, so
// that the page can be reviewed on a machine without a screen.
// crvanchor-pagecapture --states DOC OUT.json: what the page's controls show when it opens for
// each anchored element of a map document, for comparing another host's form with this one.

#include "anchor/GeneralFunctions.h"
#include "propertypage/AnchorPropertyPage.h"
#include "propertypage/FormState.h"
#include "standalone/document/Document.h"
#include "standalone/host/HostSurface.h"
#include "standalone/tools/PageSample.h"
#include "support/AtomicFile.h"
#include "support/FileIdentity.h"
#include "support/Edge.h"

#include <nlohmann/json.hpp>

#include <QApplication>
#include <QBuffer>
#include <QTabWidget>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

// The page opened over each anchored element of the document, in layout order.
int States(const char* documentPath, const std::filesystem::path& out) {
    crv::standalone::StandaloneHost host;
    crv::standalone::Document document(host);
    document.Load(documentPath);
    nlohmann::ordered_json elements = nlohmann::ordered_json::array();
    crv::standalone::WalkElements(host.State().elements, [&](const crv::ComPtr<crv::LayoutElement>& e, const std::string&) {
        if (!crv::GeneralFunctions::HasAnchorProperties(e)) return;
        auto page = crv::ComPtr<crv::AnchorPropertyPage>(new crv::AnchorPropertyPage());
        page->SetPageSite(crv::MakeCom<crv::PropertyPageSite, crv::objects::PageSiteImpl>());
        page->SetObjects(host.Selection({crv::ComPtr<crv::Unknown>(e)}));
        page->Activate();
        page->Show();
        elements.push_back({{"element", e->Name()},
                            {"state", nlohmann::ordered_json::parse(crv::controls::FormStateJson(page->Form().View().Controls()))}});
        page->Deactivate();
    });
    const std::string text = nlohmann::ordered_json{{"document", documentPath}, {"elements", elements}}.dump(1) + "\n";
    crv::support::WriteFileAtomically(out, text, "PageCapture");
    return 0;
}

int Capture(int argc, char** argv) {
    const char* usage = "usage: crvanchor-pagecapture OUTDIR\n       crvanchor-pagecapture --states DOC OUT.json\n";
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    const bool states = argc == 4 && first == "--states";
    // An option it does not know is no folder to write into.
    if ((argc != 2 && !states) || (!states && first.rfind('-', 0) == 0)) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (states) return States(argv[2], argv[3]);
    const std::filesystem::path outdir = argv[1];
    crv::support::MakeOutputFolder("", outdir);

    crv::standalone::StandaloneHost host;
    const crv::ComPtr<crv::LayoutElement> title = crv::tools::AddSamplePage(host);

    auto page = crv::ComPtr<crv::AnchorPropertyPage>(new crv::AnchorPropertyPage());
    page->SetPageSite(crv::MakeCom<crv::PropertyPageSite, crv::objects::PageSiteImpl>());
    page->SetObjects(host.Selection({crv::ComPtr<crv::Unknown>(title)}));
    page->Activate();
    page->Show();

    QWidget* window = page->Form().Window();
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("sstabAnchorProperties"));
    const char* names[] = {"anchored-to", "primary-anchor", "alternate-anchor", "options"};
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        char name[64];
        std::snprintf(name, sizeof name, "anchor-page-tab%d-%s.png", i, names[i]);
        const std::filesystem::path file = outdir / name;
        // Encoded in memory, then replaced whole: a full disk leaves the former picture as it was.
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!window->grab().save(&buffer, "PNG")) {
            throw crv::support::FileWriteError(file.string() + ": cannot encode the tab as PNG");
        }
        crv::support::WriteFileAtomically(file, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                                          "PageCapture");
        std::printf("%s\n", file.c_str());
    }
    page->Deactivate();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return crv::support::RunAtEdge("crvanchor-pagecapture", std::cerr, [&] { return Capture(argc, argv); });
}
