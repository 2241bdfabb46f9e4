#include "qgis/host/AtlasAnchoring.h"

#include "qgis/host/QgisHost.h"
#include "book/Placement.h"

namespace crv::qgis {

AtlasAnchoring::AtlasAnchoring(QgisHost& host, ManagerFactory newManager)
    : host_(host), new_manager_(std::move(newManager)) {}

AtlasAnchoring::~AtlasAnchoring() = default;

void AtlasAnchoring::PlacePage(int32_t page) {
    host_.MakeCurrent();
    std::string key = host_.SelectionKey();
    if (!selection_ || key != key_) {
        selection_.reset();
        // Items QGIS places from data are left where it puts them (the dock says so).
        selection_ = std::make_unique<book::AnchorSelection>(
            new_manager_, std::function<int()>(),
            [this](const ComPtr<LayoutElement>& e) { return host_.WhyMoveDoesNotHold(e); });
        key_ = std::move(key);
        ++selections_;
    }
    selection_->PlacePage(page);
}

}  // namespace crv::qgis
