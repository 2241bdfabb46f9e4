#pragma once
// The map document as the book driver sees it: its series' page put in force, its elements
// measured, its page and report head, and the page drawn by whatever the command draws with.

#include "book/BookDriver.h"
#include "standalone/mapbook/Book.h"

#include <functional>
#include <string>

namespace crv::standalone {

class DocumentSurface final : public book::BookSurface {
public:
    // The document must outlive the surface.
    DocumentSurface(Document& document, BookRange range) : document_(document), range_(std::move(range)) {}

    const BookRange& Range() const { return range_; }
    // The document as the report names it.
    void SetDocumentName(std::string name) { document_name_ = std::move(name); }
    // Draws each page the book steps to, once it is placed.
    void SetDrawing(std::function<void(int32_t)> draw) { draw_ = std::move(draw); }

    // The map series' current page and the series layout's, when one is in force.
    bool PutPageInForce(int32_t page) override;
    std::vector<book::Placement> Measure(const book::AnchorSelection& selection) const override;
    std::pair<double, double> PageSize() const override;
    book::ReportHead Head() const override;
    void DrawPage(int32_t page) override {
        if (draw_) draw_(page);
    }

private:
    Document& document_;
    BookRange range_;
    std::string document_name_;
    std::function<void(int32_t)> draw_;
};

}  // namespace crv::standalone
