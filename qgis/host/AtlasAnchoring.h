#pragma once
// The anchoring of one layout as its atlas moves from feature to feature (a designer's preview,
// its exports). The anchored items are chosen and ordered once, and again only when what that
// choice depends on has changed, so that a page costs its placements alone and a report about
// a record is shown once, not on every page.

#include "com/Unknown.h"

#include <functional>
#include <memory>
#include <string>

namespace crv {
class _CRVAnchorManager;
namespace book {
class BookDriver;
}  // namespace book
}  // namespace crv

namespace crv::qgis {

class AtlasSurface;
class QgisHost;

class AtlasAnchoring {
public:
    using ManagerFactory = std::function<ComPtr<_CRVAnchorManager>()>;

    AtlasAnchoring(QgisHost& host, ManagerFactory newManager);
    ~AtlasAnchoring();
    AtlasAnchoring(const AtlasAnchoring&) = delete;
    AtlasAnchoring& operator=(const AtlasAnchoring&) = delete;

    // Places every anchored item for the atlas page numbered `page` (FirstPageNumber counted),
    // which the atlas must show; makes the host current first.
    void PlacePage(int32_t page);
    // PlacePage for the feature the atlas shows. Throws ComError when the layout's first page
    // number cannot be read.
    void PlaceFeatureInForce();

    // How many times the anchored items have been chosen so far.
    int Selections() const { return selections_; }

    // While one lives, PlacePage does nothing anywhere in the process: a run that steps an atlas
    // with its own host (a book, QGIS's checks before an export) must not have the layout
    // anchored again, through another host, at every step.
    class Pause {
    public:
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;
    };
    static bool Paused();

private:
    QgisHost& host_;
    ManagerFactory new_manager_;
    std::unique_ptr<AtlasSurface> surface_;
    std::unique_ptr<book::BookDriver> driver_;
    std::string key_;
    int selections_ = 0;
};

}  // namespace crv::qgis
