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
    // instead of being reported again on every page.
    explicit DocumentBook(Document& document, std::function<int()> reportsShown = {});

    DocumentSurface surface;
    BookDriver driver;
};

}  // namespace crv::standalone
