#pragma once
// The layout designer's "Anchor" dock: the component's anchor property page for the items
// selected in the layout, with Apply and Cancel, following the selection as it changes.

#include "host/Layout.h"
#include "host/PropertyPage.h"

#include <QDockWidget>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

class QgsLayout;
class QgsLayoutItem;
class QLabel;
class QPushButton;
class QScrollArea;

namespace crv::qgis {

class DockSite;

class AnchorDock : public QDockWidget {
    Q_OBJECT
public:
    // How the dock reaches a layout item as the component sees it; null when it cannot.
    using ElementSource = std::function<ComPtr<LayoutElement>(QgsLayoutItem*)>;

    AnchorDock(QgsLayout* layout, ElementSource elements, QWidget* parent = nullptr);
    ~AnchorDock() override;

    // What the dock says it shows: the selected items' names, or that nothing is selected.
    QString Subject() const;
    // Why there is no page for the selection (no record, or the component failed), or that a
    // shown item has a data-defined position or is in a cycle of anchors (a line each); else
    // empty.
    QString Note() const;
    // What the page's words mean in this layout: elements are items, the layout's units, the
    // atlas as the map series and the map items it drives.
    QString Terms() const;
    // The page's window while the dock shows one.
    QWidget* PageWindow() const { return page_window_; }
    QPushButton* ApplyButton() const { return apply_; }
    QPushButton* CancelButton() const { return cancel_; }
    // Shown while none of the selected items has an anchor record: gives each one a new
    // record, switched off, and opens the page on them.
    QPushButton* GiveRecordButton() const { return give_record_; }

    // Shows the page for the layout's current selection.
    void FollowSelection();
    // Called before the dock works through the component, so that it works on this dock's
    // layout when another designer's is open too.
    void SetActivation(std::function<void()> activate) { activate_ = std::move(activate); }

private:
    void ShowItems(const std::vector<QgsLayoutItem*>& items);
    void ClosePage();
    void PageChanged();
    void Apply();
    void Cancel();
    void GiveRecord();
    // The page opened again on the items it shows, from the records as stored, on the tab
    // it showed.
    void Reopen();
    void UpdateTerms();

    QPointer<QgsLayout> layout_;
    ElementSource elements_;
    std::function<void()> activate_;
    QLabel* subject_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* terms_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* give_record_ = nullptr;
    std::vector<QPointer<QgsLayoutItem>> shown_;
    ComPtr<IComPropertyPage> page_;
    ComPtr<DockSite> site_;
    QWidget* page_window_ = nullptr;
};

// The name the dock gives an item: its id, else what the designer calls it.
QString ItemName(QgsLayoutItem* item);

}  // namespace crv::qgis
