#pragma once
// The component's host inside QGIS: the host interfaces over a print layout. Elements are the
// layout's items (groups walked and indexed over their items; pages are not elements), in
// ascending stacking order, a group's members too; rectangles in the layout's units with y growing up from the lower
// left corner of the page the item stands on (a group member: its outermost group's), which is
// also the page an element is anchored to; each item's custom value kept in its custom properties
// (objects/StoredProperties.h); the map series is the layout's atlas.

#include "com/Unknown.h"
#include "host/Layout.h"

#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QgsLayout;
class QgsLayoutItem;

namespace crv {
class _CRVAnchorManager;
}  // namespace crv

namespace crv::qgis {

// Loads the Qt 5 build of the component and registers its classes in this process, so that
// nothing is ever looked up in the registry (which names the Qt 6 build). Once per process;
// later calls do nothing. Throws std::runtime_error with a one-line message.
void LoadComponent(const std::string& libraryPath);
// libCRVAnchorQt5.so next to the running program, else in the install's library folder.
std::string DefaultComponentPath();
// A new engine of the loaded component, by its programmatic identifier.
ComPtr<_CRVAnchorManager> NewAnchorManager();

// The item's custom properties that hold its record ("crvanchor" and "crvanchor/...").
std::map<std::string, std::string> RecordPropertiesOf(const QgsLayoutItem& item);

// Why QGIS would not keep a move of the item, in a few words ("QGIS sets its position from data
// (data-defined X), so a move would not hold"); empty when it would. QGIS computes a data-defined
// X or Y again on every refresh, of the item or, for a group, of any item inside it. A
// data-defined size does not undo a move (the atlas applies it before the item is measured),
// nor does a data-defined page (QGIS 3.22 moves no item by it).
std::string WhyMoveDoesNotHold(const QgsLayoutItem& item);

// The layout's custom property that gives the page number of its atlas's first page, so that a
// cover or front matter can come before it ("3"); without it the atlas starts at page 1. Odd
// and even pages, page lists and the book's pages all count from it.
inline constexpr const char* kFirstPageProperty = "crvanchor/first_page";
// The page number of the layout's first atlas page. Throws std::invalid_argument ("its custom
// property crvanchor/first_page is "x", not a whole number from -32768 to 32767").
int32_t FirstPageNumber(const QgsLayout& layout);

struct HostOptions {
    // Each move an undoable command of the layout (the dock's Apply); otherwise the host's moves
    // go into no history, so that a run's memory does not grow with its pages.
    bool undoable = false;
};

// While it lives, the layout's undo commands are held back: none of the moves made meanwhile
// goes into its history, nor marks its project modified. Only around the anchoring's own moves
// and atlas steps: the user's edits between them are the user's to undo (holds nest).
class HeldUndo {
public:
    explicit HeldUndo(QgsLayout* layout);
    ~HeldUndo();
    HeldUndo(const HeldUndo&) = delete;
    HeldUndo& operator=(const HeldUndo&) = delete;

private:
    QPointer<QgsLayout> layout_;
};

// Registers the host classes for one layout while it lives; the newest host, or the one made
// current last, is the running application the component sees.
class QgisHost {
public:
    explicit QgisHost(QgsLayout* layout, HostOptions options = {});
    ~QgisHost();
    QgisHost(const QgisHost&) = delete;
    QgisHost& operator=(const QgisHost&) = delete;

    // Makes this host the running application again, after hosts made since (another layout
    // designer open beside this one); when it goes, the one before is back in force.
    void MakeCurrent();

    // The layout the host offers; null once QGIS has deleted it.
    QgsLayout* Layout() const;

    // The element of an item, the same object for the same item while the host lives; null
    // for page items.
    ComPtr<LayoutElement> ElementFor(QgsLayoutItem* item);
    // The item of an element of this host; null for another object or an item deleted since.
    QgsLayoutItem* ItemOf(const ComPtr<LayoutElement>& element);

    // The page of the layout an element stands on (from 0), on which it is measured, with that
    // page's width and height in layout units; none for an object that is not a live element.
    struct ElementPage {
        int index;
        double width;
        double height;
    };
    std::optional<ElementPage> PageOf(const ComPtr<LayoutElement>& element);

    // The top-level elements in container order.
    std::vector<ComPtr<LayoutElement>> TopLevel();

    // What the choice and order of the anchored elements depend on, as one text: the items with
    // their ids, groups, stacking order, records, data-defined positions and (maps) whether the
    // atlas drives them, and the atlas's coverage layer and fields.
    // Equal texts, equal choices; positions and sizes are left out.
    std::string SelectionKey();

    // WhyMoveDoesNotHold for the element's item; empty for an object that is not one of its
    // live elements. What AnchorSelection asks of the host.
    std::string WhyMoveDoesNotHold(const ComPtr<LayoutElement>& element);

    // Writes every record changed in place (the engine and the property page change a record
    // inside the custom value they were handed) into its item's custom properties. Done on
    // every container update and when the host goes; call it before saving otherwise.
    void StoreRecords();

    struct Core;

private:
    void Register();

    std::shared_ptr<Core> core_;
};

}  // namespace crv::qgis
