#include "qgis/host/AtlasAnchoring.h"

#include "book/BookDriver.h"
#include "errors/ComError.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/QgisHost.h"

#include <qgslayout.h>
#include <qgslayoutatlas.h>
#include <qgsprintlayout.h>

#include <stdexcept>

namespace crv::qgis {

namespace {
// Pauses alive; the main thread alone anchors, so a count is enough.
int g_paused = 0;
}  // namespace

AtlasAnchoring::Pause::Pause() { ++g_paused; }
AtlasAnchoring::Pause::~Pause() { --g_paused; }
bool AtlasAnchoring::Paused() { return g_paused > 0; }

AtlasAnchoring::AtlasAnchoring(QgisHost& host, ManagerFactory newManager)
    : host_(host), new_manager_(std::move(newManager)) {}

AtlasAnchoring::~AtlasAnchoring() = default;

void AtlasAnchoring::PlaceFeatureInForce() {
    auto* print = qobject_cast<QgsPrintLayout*>(host_.Layout());
    if (g_paused > 0 || print == nullptr || print->atlas()->currentFeatureNumber() < 0) return;
    int32_t first = 1;
    try {
        first = FirstPageNumber(*print);
    } catch (const std::invalid_argument& e) {
        Raise(hresult::kInvalidArg, "AtlasAnchoring", "The layout " + print->name().toStdString() + ": " + e.what());
    }
    PlacePage(first + print->atlas()->currentFeatureNumber());
}

void AtlasAnchoring::PlacePage(int32_t page) {
    if (g_paused > 0) return;
    host_.MakeCurrent();
    QgsLayout* layout = host_.Layout();
    if (layout == nullptr) return;
    // An atlas step (the designer's preview, its exports) is no edit of the user's: none of its
    // moves goes on the undo history, which would also mark the project modified.
    const HeldUndo held(layout);
    std::string key = host_.SelectionKey();
    if (!driver_ || key != key_) {
        driver_.reset();
        auto* print = qobject_cast<QgsPrintLayout*>(layout);
        // The atlas has moved to the page already: that is why it is anchored.
        surface_ = std::make_unique<AtlasSurface>(host_, *layout, print != nullptr ? print->atlas() : nullptr,
                                                  AtlasSurface::Seek::AlreadyThere);
        // Items QGIS places from data are left where it puts them (the dock says so).
        driver_ = std::make_unique<book::BookDriver>(
            *surface_, new_manager_, std::function<int()>(),
            [this](const ComPtr<LayoutElement>& e) { return host_.WhyMoveDoesNotHold(e); });
        key_ = std::move(key);
        ++selections_;
    }
    driver_->PlacePage(page);
}

}  // namespace crv::qgis
