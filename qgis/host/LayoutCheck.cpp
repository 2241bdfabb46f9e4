#include "qgis/host/LayoutCheck.h"

#include "book/BookDriver.h"
#include "errors/ErrorHandling.h"
#include "qgis/host/AtlasAnchoring.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/QgisHost.h"

#include <qgsfeedback.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgsprintlayout.h>
#include <qgsvaliditycheckcontext.h>

#include <exception>

namespace crv::qgis {

namespace {

QgsValidityCheckResult Warning(const QString& title, const std::string& text) {
    QgsValidityCheckResult r;
    r.type = QgsValidityCheckResult::Warning;
    r.title = title;
    r.detailedDescription = QString::fromStdString(text).toHtmlEscaped();
    return r;
}

bool HasAnchoredItems(QgsLayout& layout) {
    QList<QgsLayoutItem*> items;
    layout.layoutItems(items);
    for (const QgsLayoutItem* item : items) {
        if (!RecordPropertiesOf(*item).empty()) return true;
    }
    return false;
}

}  // namespace

bool AnchorValidityCheck::prepareCheck(const QgsValidityCheckContext* context, QgsFeedback* feedback) {
    results_.clear();
    const auto* layoutContext = dynamic_cast<const QgsLayoutValidityCheckContext*>(context);
    QgsLayout* layout = layoutContext != nullptr ? layoutContext->layout : nullptr;
    if (layout == nullptr || !HasAnchoredItems(*layout)) return false;
    auto* print = qobject_cast<QgsPrintLayout*>(layout);
    QgsLayoutAtlas* atlas = print != nullptr && print->atlas()->enabled() ? print->atlas() : nullptr;
    const int shown = atlas != nullptr ? atlas->currentFeatureNumber() : -1;
    // The check steps the atlas itself, and back: QGIS's refresh of a group on each step, and
    // the check's moves, go into no undo history.
    const HeldUndo held(layout);
    // The engine's reports become warnings here, not message boxes over the export dialog.
    RecordingErrorSink reports;
    try {
        ScopedErrorSink scope(reports);
        const AtlasAnchoring::Pause pause;
        QgisHost host(layout);
        const int32_t first = FirstPageNumber(*layout);
        const int32_t count = atlas != nullptr ? atlas->updateFeatures() : 1;
        if (count < 1) return false;
        AtlasSurface surface(host, *layout, atlas, AtlasSurface::Seek::ToPage);
        book::BookDriver driver(
            surface, new_manager_, [&reports] { return static_cast<int>(reports.reports.size()); },
            [&host](const ComPtr<LayoutElement>& e) { return host.WhyMoveDoesNotHold(e); });
        for (const auto& left : driver.Selection().LeftOutElements()) {
            results_.append(Warning(QObject::tr("Anchored item left out"),
                                    "\"" + left.name + "\" is left out of the atlas: " + left.reason));
        }
        for (bool more = driver.Begin(PageList(first, first + count - 1)); more && driver.Next();) {
            if (feedback != nullptr) {
                if (feedback->isCanceled()) break;
                feedback->setProgress(100.0 * static_cast<double>(driver.PagesDone()) / count);
            }
        }
        driver.End();
        for (const std::string& line : driver.Checks().Lines())
            results_.append(Warning(QObject::tr("Anchored item off the page"), line));
    } catch (const std::exception& e) {
        results_.append(Warning(QObject::tr("Anchoring could not be checked"), e.what()));
    }
    for (const auto& report : reports.reports)
        results_.append(Warning(QObject::tr("Anchoring reported an error"), report.text));
    if (atlas != nullptr && shown >= 0) atlas->seekTo(shown);
    return true;
}

}  // namespace crv::qgis
