#pragma once
// Drawing the pages of a map book: a multi-page PDF and one PNG per page, with the drawing
// toolkit's GUI module only (no widgets, an offscreen platform when none is set).

#include "standalone/Book.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

namespace crv::standalone {

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Makes sure the GUI application object exists; picks the offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
void EnsureGuiApplication();

class BookRenderer {
public:
    BookRenderer(const Document& document, const MapBook& book);
    ~BookRenderer();

    // Every page passed to AddPage until Finish goes into one PDF.
    void StartPdf(const std::filesystem::path& path);
    // Draws the page as it stands now: into the PDF when one is started, and as
    // DIR/page-NNN.png when a PNG folder is given.
    void AddPage(int32_t page);
    void SetPngFolder(const std::filesystem::path& folder, double dotsPerInch = 100);
    void Finish();

    // The PNG file of a page.
    std::filesystem::path PngPath(int32_t page) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace crv::standalone
