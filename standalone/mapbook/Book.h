#pragma once
// A map book over a map document: the document as the book driver's surface, and the driver
// that chooses the anchored elements once and places, checks, reports and draws the pages.
// Callers ask the two directly: the page range of the surface, the selection and pages of the
// driver.

#include "book/BookDriver.h"
#include "standalone/mapbook/Surface.h"

#include <functional>

namespace crv::standalone {

// The map book is the shared book over map documents.
using namespace crv::book;

struct DocumentBook {
    // The document must stay loaded while the book lives. Creates the engine by its
    // programmatic identifier, so it must be creatable.
    //
    // The engine tells its caller nothing, only the user; `reportsShown`, when given, counts
    // the reports shown so far, so that an element whose selection was reported is left out
    // instead of being reported again on every page. `beforeAnchoring`, when given, is shown
    // the book's pages once the surface has them and before the engine is made: a command
    // refuses an empty book or bad options there, before the component could show a report.
    using PagesCheck = std::function<void(const BookRange&)>;
    explicit DocumentBook(Document& document, std::function<int()> reportsShown = {},
                          const PagesCheck& beforeAnchoring = {});

    DocumentSurface surface;
    BookDriver driver;
};

}  // namespace crv::standalone
