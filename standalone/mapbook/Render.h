#pragma once
// Drawing the pages of a map book: a multi-page PDF and one PNG per page, with the drawing
// toolkit's GUI module only (no widgets, an offscreen platform when none is set).

#include "standalone/mapbook/Book.h"
#include "support/Errors.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

class QPainter;

namespace crv::standalone {

class RenderError : public CommandError {
public:
    using CommandError::CommandError;
};

// Makes sure the GUI application object exists; picks the offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
void EnsureGuiApplication();

// Draws the page as it stands now onto any painter, the page's top left at the painter's
// origin, `pixelsPerUnit` device pixels to a page unit. The one drawing code of the PDF, the
// PNG pages and the desktop window.
void DrawPage(QPainter& painter, const Document& document, const DocumentBook& book, int32_t page, double pixelsPerUnit);

// Draws over a page drawn by DrawPage, in magenta: each anchored element's rectangle, and an
// arrow from the element's own point that its rule moves to the point of the page or of the
// target element it is anchored to; the arrow's length is the rule's distances, a ring marks
// the point when they are nought. The arrow is dashed when the alternate rule applies.
void DrawOutlines(QPainter& painter, const Document& document, const DocumentBook& book, int32_t page, double pixelsPerUnit);

class BookRenderer {
public:
    BookRenderer(const Document& document, const DocumentBook& book);
    ~BookRenderer();

    // Every page passed to AddPage until Finish goes into one PDF.
    void StartPdf(const std::filesystem::path& path);
    // Draws the page as it stands now: into the PDF when one is started, and as
    // DIR/page-NNN.png when a PNG folder is given.
    void AddPage(int32_t page);
    // With `outline`, each PNG page also shows every anchored element's rectangle and an arrow
    // from its own point to the point it is anchored to (see DrawOutlines).
    void SetPngFolder(const std::filesystem::path& folder, double dotsPerInch = 100, bool outline = false);
    void Finish();

    // The PNG file of a page.
    std::filesystem::path PngPath(int32_t page) const;

private:
    // The PDF being written and the PNG folder's settings.
    struct Outputs;
    std::unique_ptr<Outputs> outputs_;
};

}  // namespace crv::standalone
