#pragma once
// What the commands of crvanchor-qgis share: their arguments, and the project a command opens
// with every check the book makes before anything is written (the project's path, layers over
// pipes or devices, layouts sharing a name, a layout without pages, record keys too deep, items
// sharing an id), so that book, show, anchor, bake and unbake refuse alike, in the same words.

#include "qgis/host/QgisHost.h"
#include "support/Errors.h"
#include "support/FileLock.h"

#include <QMetaObject>

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QgsLayoutAtlas;
class QgsPrintLayout;
class QgsProject;

namespace crv::qgis {

// A bad command line or project: one line, status 2.
struct UsageError : support::CommandError {
    using CommandError::CommandError;
};

struct CommandArgs {
    std::string command = "book";  // book, show, anchor, bake, unbake
    std::filesystem::path project;
    std::optional<std::string> layout, pages;  // layout: none for the project's only one
    std::optional<std::filesystem::path> pdf, png, report, save;
    std::vector<std::string> rest;  // anchor: the item and its KEY=VALUEs
    std::optional<double> dpi;  // none: the layout's export resolution
    bool timing = false;
    bool check_overlap = false;
    bool strict = false;  // findings of the layout checks make the exit status 1
    bool outline = false;  // the PNG pages show each anchored item's rectangle and rule
    bool allow_missing = false;  // export with layers that cannot be read and pictures not found

    // Whether the command writes the project it reads (and so holds it from the read to the save).
    bool WritesProject() const { return command == "anchor" || command == "bake" || command == "unbake" || save; }
};

// QGIS takes paths as text: bytes that are not UTF-8 would be changed on the way, and the file
// read or written would be another one. `option` leads the message ("--pdf "), `why` says who
// takes the path ("QGIS writes a PDF to").
void RequireUtf8Path(const std::string& option, const std::filesystem::path& path, const std::string& why);

// The files the project's layers read, with the layer's name.
std::vector<std::pair<std::string, std::filesystem::path>> LayerFiles(const QgsProject& project);

// QGIS's warnings (a layer it cannot read, a picture it cannot find, a font it lacks) are the
// user's to read: each is passed on to standard error once, after "QGIS: ". They are kept until
// the command writes its own lines, since standard error is quieted while QGIS reads a project.
class QgisWarnings {
public:
    QgisWarnings();
    ~QgisWarnings();
    QgisWarnings(const QgisWarnings&) = delete;
    QgisWarnings& operator=(const QgisWarnings&) = delete;

    void Tell(std::ostream& err);

private:
    QMetaObject::Connection connection_;
    std::mutex mutex_;
    std::set<std::string> said_;
    std::vector<std::string> waiting_;
};

// The open project and its layout, with the component loaded and the host registered, checked
// before anything is placed or written. A project that is read to be changed and saved again
// is locked from the read to the save. The layout's undo commands are held back while it
// lives: the command's moves and atlas steps are no edit of a user's, and a history would grow
// with the pages.
struct Session {
    std::ostream& err;
    QgisWarnings warnings;  // before the project, so that its warnings are caught
    std::unique_ptr<support::FileLock> lock;
    std::unique_ptr<QgsProject> read_;  // the project read from the file, unless it was open already
    QgsProject& project;
    QgsPrintLayout* layout = nullptr;
    std::unique_ptr<QgisHost> host;
    std::optional<HeldUndo> held;

    // A layout QGIS has open already (a Processing algorithm's), as it stands in memory.
    Session(QgsPrintLayout& open, const CommandArgs& a, std::ostream& errors);
    // Names the layout in `a` when the project's only one was taken.
    Session(CommandArgs& a, std::ostream& errors);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The project file read once more, as it is on disk: for a command that writes back its own
    // change alone, whatever its run did to the project it worked on. Only while the lock is held.
    std::unique_ptr<QgsProject> ReadAgain(const CommandArgs& a);

    // Writes the project, records included, replacing `path` whole or not at all.
    void Save(const std::filesystem::path& path);

private:
    // Records that could never be read back are refused; items sharing an id are named.
    void CheckItems(const CommandArgs& a);
};

// The page number of the layout's first atlas page, refused in one line naming the layout.
int32_t FirstPageOfLayout(const CommandArgs& a, const QgsPrintLayout& layout);

// The pages of the layout's atlas (enabled), refused in one line when its coverage layer is gone
// or cannot be read, or has no features.
int32_t AtlasPageCount(const CommandArgs& a, QgsLayoutAtlas& atlas);

}  // namespace crv::qgis
