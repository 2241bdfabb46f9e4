#pragma once
// The standalone host's map documents on disk: a versioned JSON file holding the page, the
// elements with their custom properties, the map series on map frames and the companions'
// multi-page layouts. The format is described in docs/document-format.md.
//
// Loading builds everything aside and only then replaces what the host held, so a bad
// document changes nothing. Saving replaces the file atomically. Whatever a document holds
// that this version does not use is kept and written back.

#include "commands/OutputCheck.h"
#include "support/Errors.h"
#include "standalone/document/JsonPositions.h"
#include "standalone/host/ReadLimits.h"
#include "standalone/host/StandaloneHost.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace crv::standalone {

inline constexpr int kDocumentFormatVersion = 1;
inline constexpr const char* kDocumentFormatName = "crvanchor-document";

// Limits that keep a hostile or broken file from exhausting memory or the stack.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{64} << 20;
inline constexpr int kMaxJsonNesting = 512;  // arrays and objects inside one another
// Groups and property bags: standalone/host/ReadLimits.h.
// Page sides and element coordinates, in inches; the same lengths apply in the other units.
inline constexpr double kMinPageSideInches = 0.01;
inline constexpr double kMaxPageSideInches = 400;
inline constexpr double kMaxCoordinateInches = 4000;
inline constexpr double kMaxFontSizePoints = 10000;

// One line: "FILE:LINE:COLUMN: what was expected", or "FILE: what went wrong" when no place
// in the text is to blame.
class DocumentError : public CommandError {
public:
    using CommandError::CommandError;
};

// Where a map frame's series comes from.
struct SeriesOrigin {
    std::filesystem::path dataset;  // resolved against the document's folder
    std::string layer;
    std::string order_field;  // empty: feature order
    int32_t first_page = 1;
    bool enabled = true;
};

// What drawing an element needs beyond what the host keeps.
struct ElementStyle {
    double font_size = 0;  // points; 0 fits the text to its rectangle
    std::string align = "center";  // text across its rectangle: "left", "center", "right"
    std::filesystem::path picture;  // resolved against the document's folder
    std::string label_field;  // map frames: the index layer field that names a page
};

class Document {
public:
    explicit Document(StandaloneHost& host);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // Throws DocumentError; the host and this document are unchanged then.
    void Load(const std::filesystem::path& path);
    // Load for a change and a save: holds a lock on the file until this document is destroyed
    // or loads another, and waits for another program's. A second `crvanchor anchor` on the same
    // document so makes its change on top of the first one's instead of replacing it. Reading
    // alone needs no lock: a save replaces the file whole.
    void LoadForUpdate(const std::filesystem::path& path);
    // The same from text; `path` names the document in messages and anchors relative paths.
    void LoadText(const std::string& text, const std::filesystem::path& path);

    // Writes a temporary file beside `path`, flushes it to disk and renames it over `path`.
    // Throws DocumentError and leaves any former file untouched on failure. The document
    // is then known under `path`.
    void Save(const std::filesystem::path& path);
    // The document's text, with relative paths as seen from `folder`.
    std::string Text(const std::filesystem::path& folder) const;
    // What the host holds, whole and without the document's styles and sources: every element
    // with its rectangle, frame border, members and custom property, each map series with its
    // fields and every page's values, the companions' layouts. A host is rebuilt from it where
    // neither the file's datasets nor its libraries are at hand (the Windows test host, whose
    // reader in standalone/windows/ is its other half). Throws DocumentError.
    std::string Snapshot() const;

    const std::filesystem::path& Path() const;
    const std::string& Units() const;
    // Empty when the element came from no document (defaults apply).
    const ElementStyle& StyleOf(const ComPtr<LayoutElement>& element) const;
    const SeriesOrigin* SeriesOriginOf(const ComPtr<LayoutElement>& element) const;

    // Every file the document reads: itself (which a save may replace), its map series
    // datasets and its pictures; what a command's outputs are checked against.
    std::vector<commands::BookFiles::File> InputFiles() const;

    StandaloneHost& Host() const { return host_; }

    // What the document keeps beyond the host's objects: the file's tree, styles, series origins,
    // the lock. Opaque outside standalone/document/.
    struct Contents;

private:
    // The text, or a DocumentError naming `destination` when the document cannot be written.
    std::string Write(const std::filesystem::path& folder, const std::filesystem::path& destination) const;

    StandaloneHost& host_;
    std::unique_ptr<Contents> contents_;
};

}  // namespace crv::standalone
