#pragma once
// A QGIS print layout as the book driver sees it: the atlas's page put in force (with the items
// QGIS fits to the page's feature refreshed, before anything is anchored or measured), the items
// measured as the report gives them, the page's size and the report's head, and each page
// drawn to what the caller writes page by page (QGIS's own exporter draws a PDF itself).

#include "book/BookDriver.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

class QgsLayoutAtlas;
class QgsLayout;

namespace crv::qgis {

class QgisHost;

class AtlasSurface final : public book::BookSurface {
public:
    // How a page is put in force: the atlas is moved to it (a run of pages), or it is already
    // there (a designer anchoring the feature its atlas has just moved to).
    enum class Seek { ToPage, AlreadyThere };
    // `atlas` is null for a layout without an enabled atlas: one page. `draw`, when given,
    // draws each page placed.
    AtlasSurface(QgisHost& host, QgsLayout& layout, QgsLayoutAtlas* atlas, Seek seek, book::ReportHead head = {},
                 std::function<void(int32_t)> draw = {});

    bool PutPageInForce(int32_t page) override;
    std::vector<book::Placement> Measure(const book::AnchorSelection& selection) const override;
    std::pair<double, double> PageSize() const override;
    book::ReportHead Head() const override { return head_; }
    void DrawPage(int32_t page) override;

private:
    QgisHost& host_;
    QgsLayout& layout_;
    QgsLayoutAtlas* atlas_;
    Seek seek_;
    book::ReportHead head_;
    std::function<void(int32_t)> draw_;
};

}  // namespace crv::qgis
