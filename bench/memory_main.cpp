// Long runs whose peak memory must not grow with their length:
//   crv_memory anchor N           N AnchorElement calls on one selected element
//   crv_memory page N             N property-page cycles: open, edit, apply, close
//   crv_memory book DOC [OPT...]  `crvanchor book DOC OPT...` in this process
//   crv_memory load DOC           the document opened, nothing more: what its series holds
// Prints the run's peak resident memory in KiB. The book runs need the component registered
// (CRVANCHOR_REGISTRY).

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "propertypage/AnchorPropertyPage.h"
#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"
#include "standalone/host/StandaloneHost.h"

#include <QApplication>
#include <QLineEdit>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace crv;
using standalone::StandaloneHost;

namespace {

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ComPtr<LayoutElement> AnchoredArrow(StandaloneHost& host) {
    auto frame = host.AddMapFrame("Map", {1, 1, 7, 9});
    objects::SeriesData data;
    data.fields = {{"Dx", fieldtype::kDouble}};
    for (int i = 0; i < 100; ++i) data.features.push_back({i % 7 == 0 ? Variant::Null() : Variant(-0.01 * i)});
    host.AttachSeries(frame, data);
    auto element = host.AddText("Arrow", {0, 0, 1, 1});
    ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
    ComPtr<PropertyBag> r = m->MakeAnchorProperties();
    r->SetProperty(key::AnchorElement, true);
    r->SetProperty(key::AnchorType, "NamedElement");
    r->SetProperty(key::ElementName, "Map");
    r->SetProperty(key::HFromFieldAll, true);
    r->SetProperty(key::HFieldNameAll, "Dx");
    r->SetProperty(key::UseAltAnchoring, true);
    r->SetProperty(key::AltAnchorType, kAltPageRange);
    r->SetProperty(key::AltAnchorPageRange, "1-3, 7, 10-40");
    m->AddAnchorProperties(element, r);
    return element;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "book") == 0) {
        std::vector<std::string> args(argv + 1, argv + argc);
        const int status = standalone::RunCrvAnchor(args, std::cout, std::cerr);
        if (status != 0) return status;
        std::printf("book %s: peak %ld KiB\n", argv[2], PeakKiB());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "load") == 0) {
        StandaloneHost host;
        standalone::Document doc(host);
        doc.Load(argv[2]);
        std::printf("load %s: peak %ld KiB\n", argv[2], PeakKiB());
        return 0;
    }
    if (argc != 3 || (std::strcmp(argv[1], "anchor") != 0 && std::strcmp(argv[1], "page") != 0)) {
        std::fprintf(stderr,
                     "usage: crv_memory anchor|page COUNT, crv_memory book DOC [OPTION...], crv_memory load DOC\n");
        return 2;
    }
    const long count = std::strtol(argv[2], nullptr, 10);
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    StandaloneHost host;
    auto element = AnchoredArrow(host);
    if (std::strcmp(argv[1], "anchor") == 0) {
        ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
        m->SetAnchorElement(element);
        for (long i = 0; i < count; ++i) {
            m->AnchorElement(static_cast<int32_t>(i % 100 + 1));
            // The host's own record of events is its business, not the engine's memory.
            if (host.State().events.size() > 4096) host.State().events.clear();
        }
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        auto site = MakeCom<PropertyPageSite, objects::PageSiteImpl>();
        for (long i = 0; i < count; ++i) {
            ComPtr<AnchorPropertyPage> page(new AnchorPropertyPage());
            page->SetPageSite(site);
            page->SetObjects(host.Selection({ComPtr<Unknown>(element)}));
            page->Activate();
            page->Show();
            if (auto* box = page->Form().Window()->findChild<QLineEdit*>("txtVDistanceAll")) {
                box->setText(QString::number(static_cast<double>(i % 10) / 4.0));
            }
            page->Apply();
            page->Deactivate();
            if (host.State().events.size() > 4096) host.State().events.clear();
            QCoreApplication::processEvents();
        }
    }
    if (!sink.reports.empty()) {
        std::fprintf(stderr, "%zu error reports; the first:\n%s\n", sink.reports.size(), sink.reports[0].text.c_str());
        return 1;
    }
    std::printf("%s %ld: peak %ld KiB\n", argv[1], count, PeakKiB());
    return 0;
}
