// crvanchor-pagecapture OUTDIR: renders each tab of a filled anchor page to a PNG file, so
// that the page can be reviewed on a machine without a screen.

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "propertypage/AnchorPropertyPage.h"
#include "standalone/host/StandaloneHost.h"
#include "support/AtomicFile.h"
#include "support/CommandLine.h"
#include "support/Edge.h"

#include <QApplication>
#include <QBuffer>
#include <QTabWidget>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

using crv::objects::SeriesData;
using crv::standalone::ElementKind;
using crv::standalone::StandaloneHost;

SeriesData AtlasSeries() {
    SeriesData data;
    data.name = "Atlas Pages";
    data.fields = {{"PageName", crv::fieldtype::kString},
                   {"XOffset", crv::fieldtype::kDouble},
                   {"Created", crv::fieldtype::kDate},
                   {"YOffset", crv::fieldtype::kSmallInteger},
                   {"OBJECTID", crv::fieldtype::kObjectId}};
    data.features = {{crv::Variant("North"), crv::Variant(0.5), crv::Variant::Null(), crv::Variant(int16_t{1}),
                      crv::Variant(int32_t{1})},
                     {crv::Variant("South"), crv::Variant(-0.5), crv::Variant::Null(), crv::Variant(int16_t{2}),
                      crv::Variant(int32_t{2})}};
    return data;
}

int Capture(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crvanchor-pagecapture OUTDIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path outdir = argv[1];
    crv::support::MakeOutputFolder("", outdir);

    StandaloneHost host;
    auto title = host.AddText("Title", {1, 9.5, 7.5, 10.5}, "Northern Region");
    host.AddText("Legend", {6, 1, 8, 4});
    auto map = host.AddMapFrame("Main Map", {0.5, 0.5, 8, 9}, 0.05);
    host.AttachSeries(map, AtlasSeries());
    host.AddGroup("Scale and North Arrow", ElementKind::Group,
                  {host.Make(ElementKind::Text, "Scale Bar", {1, 1, 3, 1.4}),
                   host.Make(ElementKind::Picture, "North Arrow", {3.5, 1, 4, 1.8})});
    host.AddText("CRVAdjacentPageListing West", {0, 5, 0.4, 6});

    crv::ComPtr<crv::PropertyBag> record = crv::GeneralFunctions::NewAnchorProperties();
    record->SetProperty(crv::key::AnchorElement, true);
    record->SetProperty(crv::key::AnchorType, "NamedElement");
    record->SetProperty(crv::key::ElementName, "Main Map");
    record->SetProperty(crv::key::UseAltAnchoring, true);
    record->SetProperty(crv::key::AltAnchorType, crv::kAltPageRange);
    record->SetProperty(crv::key::AltAnchorPageRange, "1,3,5-12");
    record->SetProperty(crv::key::AnchorFromAll, int16_t{7});
    record->SetProperty(crv::key::AnchorToAll, int16_t{1});
    record->SetProperty(crv::key::HDistanceAll, 0.25);
    record->SetProperty(crv::key::VDistanceAll, "0.5");
    record->SetProperty(crv::key::HFromFieldAll, true);
    record->SetProperty(crv::key::HFieldNameAll, "XOffset");
    record->SetProperty(crv::key::AnchorFromAlt, int16_t{6});
    record->SetProperty(crv::key::AnchorToAlt, int16_t{2});
    record->SetProperty(crv::key::HDistanceAlt, -0.25);
    record->SetProperty(crv::key::VFieldNameAlt, "YOffset");
    record->SetProperty(crv::key::AnchorPriority, crv::kPriorityLow);
    crv::GeneralFunctions::SetAnchorProperties(title, record);

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
